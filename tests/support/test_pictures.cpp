#include "tests/support/test_pictures.h"

#include <QColor>
#include <QImage>

#include <algorithm>

#include <fstream>
#include <sstream>
#include <stdexcept>

void WriteTestPicture(const std::string& fileName, int w, int h, int seed, int bits)
{
    QImage image(w, h, bits == 32 ? QImage::Format_ARGB32 : QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < w; ++x) {
            int r = (x * 255 / std::max(w - 1, 1) + seed * 37) & 255;
            int g = (y * 255 / std::max(h - 1, 1) + seed * 11) & 255;
            int b = ((x / 16 + y / 16) % 2 ? 200 : 40) ^ (seed & 255);
            if (bits == 32) {
                reinterpret_cast<QRgb*>(line)[x] = qRgba(r, g, b, 255);
            } else {
                line[x * 3] = static_cast<uchar>(r);
                line[x * 3 + 1] = static_cast<uchar>(g);
                line[x * 3 + 2] = static_cast<uchar>(b);
            }
        }
    }
    if (bits == 8) image = image.convertToFormat(QImage::Format_Indexed8);
    if (!image.save(QString::fromStdString(fileName)))
        throw std::runtime_error("Cannot write the test picture " + fileName);
}

std::string ReadWholeFile(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteWholeFile(const std::string& fileName, const std::string& bytes)
{
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("Cannot write " + fileName);
}
