#include "platform/automation/word/word_pictures.h"

#include "framework/exceptions.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

namespace {

QString ToQString(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace

WordPictureStore::WordPictureStore() = default;
WordPictureStore::~WordPictureStore() = default;

int WordPictureStore::Add(const std::string& fileName)
{
    QFile file(ToQString(fileName));
    if (!file.open(QIODevice::ReadOnly))
        throw Exception("The picture file '" + fileName + "' cannot be opened: " + file.errorString().toStdString());

    // One read: the bytes are hashed and decoded from memory. Only this one picture is held.
    if (file.size() > (int64_t(1) << 31))
        throw Exception("The picture file '" + fileName + "' is too large");
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Exception("The picture file '" + fileName + "' cannot be read: " + file.errorString().toStdString());
    file.close();
    std::string key = QCryptographicHash::hash(bytes, QCryptographicHash::Blake2b_256).toStdString();
    if (auto it = FByHash.find(key); it != FByHash.end()) return it->second;

    QBuffer source(&bytes);
    source.open(QIODevice::ReadOnly);
    QImageReader reader(&source);
    reader.setAutoTransform(false);
    QSize size = reader.size();
    if (!reader.canRead())
        throw Exception("The file '" + fileName + "' is not a picture this word processor can read");
    if (size.isValid() && static_cast<int64_t>(size.width()) * size.height() > MaxPixels)
        throw Exception("The picture '" + fileName + "' is too large (" + std::to_string(size.width()) + " x " +
                        std::to_string(size.height()) + " pixels)");
    QByteArray format = reader.format();
    QImage image = reader.read();
    if (image.isNull())
        throw Exception("The picture '" + fileName + "' cannot be decoded: " + reader.errorString().toStdString());

    QByteArray png;
    if (format == "png") {
        png = std::move(bytes); // already PNG: keep the file's own bytes
    } else {
        bytes.clear();
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        writer.setQuality(70); // a quick zlib level: the package stores PNGs as they are
        if (!writer.write(image))
            throw Exception("The picture '" + fileName + "' cannot be encoded: " + writer.errorString().toStdString());
    }

    if (!FSpool) {
        FSpool = std::make_unique<QTemporaryFile>(QDir::tempPath() + "/tabrix-pictures-XXXXXX.spool");
        if (!FSpool->open())
            throw Exception("Cannot create a temporary file for pictures: " + FSpool->errorString().toStdString());
    }
    WordPicture picture;
    picture.PixelWidth = image.width();
    picture.PixelHeight = image.height();
    picture.Offset = FSpool->size();
    picture.Size = png.size();
    if (!FSpool->seek(picture.Offset) || FSpool->write(png) != png.size())
        throw Exception("Cannot write the temporary picture file: " + FSpool->errorString().toStdString());
    FPictures.push_back(picture);
    int index = static_cast<int>(FPictures.size()) - 1;
    FByHash.emplace(std::move(key), index);
    return index;
}

std::string WordPictureStore::SpoolFileName()
{
    if (!FSpool) return {};
    FSpool->flush();
    return FSpool->fileName().toStdString();
}

void WordPictureStore::ReadRange(int64_t offset, char* buffer, int64_t size)
{
    if (!FSpool || !FSpool->seek(offset) || FSpool->read(buffer, size) != size)
        throw Exception("Cannot read the temporary picture file");
}
