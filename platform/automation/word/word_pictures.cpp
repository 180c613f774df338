#include "platform/automation/word/word_pictures.h"

#include "framework/bitmap_reader.h"
#include "framework/exceptions.h"
#include "framework/png_writer.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <functional>
#include <thread>

namespace {

QString ToQString(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Pictures in flight at once: enough to keep every core busy while the caller decodes the
// next one, and never more decoded pixels than this many bytes (but always one picture).
std::size_t MaxPendingJobs()
{
    return std::max(2u, std::thread::hardware_concurrency());
}
constexpr std::size_t MaxPendingBytes = std::size_t(48) << 20;

bool IsBitmapFile(const QByteArray& bytes)
{
    return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

} // namespace

WordPictureStore::WordPictureStore() = default;

WordPictureStore::~WordPictureStore()
{
    // Futures of std::async wait for their job when destroyed; nothing else is needed, but
    // waiting here keeps the order of destruction plain.
    for (Pending& p : FPending)
        if (p.Png.valid()) p.Png.wait();
}

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

    WordPicture picture;
    std::function<std::string()> encode;
    std::size_t held = 0;
    if (IsBitmapFile(bytes)) {
        // Bitmaps go through the strict reader: a damaged file fails here, whole.
        auto pixels = std::make_shared<TBitmapPixels>(
            ReadBitmap(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), fileName));
        bytes.clear();
        picture.PixelWidth = pixels->Width;
        picture.PixelHeight = pixels->Height;
        held = pixels->Data.size();
        encode = [pixels] {
            return EncodePng(pixels->Data.data(), pixels->Width, pixels->Height, pixels->Stride(),
                             pixels->Channels == 4 ? pctRGBA : pctRGB);
        };
    } else {
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
        picture.PixelWidth = image.width();
        picture.PixelHeight = image.height();
        if (format == "png") {
            // Already PNG: keep the file's own bytes.
            auto png = std::make_shared<std::string>(bytes.constData(), static_cast<std::size_t>(bytes.size()));
            held = png->size();
            encode = [png] { return std::move(*png); };
        } else {
            bytes.clear();
            auto rows = std::make_shared<QImage>(image.hasAlphaChannel() ? image.convertToFormat(QImage::Format_RGBA8888)
                                                                         : image.convertToFormat(QImage::Format_RGB888));
            held = static_cast<std::size_t>(rows->sizeInBytes());
            encode = [rows] {
                return EncodePng(rows->constBits(), rows->width(), rows->height(),
                                 static_cast<std::size_t>(rows->bytesPerLine()),
                                 rows->format() == QImage::Format_RGBA8888 ? pctRGBA : pctRGB);
            };
        }
    }

    // Make room first: a failure of an earlier picture surfaces here, before this one counts.
    while (!FPending.empty() &&
           (FPending.size() >= MaxPendingJobs() || FPendingBytes + held > MaxPendingBytes))
        SpoolFront();

    FPictures.push_back(picture);
    const int index = static_cast<int>(FPictures.size()) - 1;
    Pending job;
    job.Index = index;
    job.Bytes = held;
    try {
        job.Png = std::async(std::launch::async, std::move(encode));
    } catch (const std::system_error&) {
        // No thread to be had: encode here.
        std::promise<std::string> done;
        done.set_value(encode());
        job.Png = done.get_future();
    }
    FPending.push_back(std::move(job));
    FPendingBytes += held;
    FByHash.emplace(std::move(key), index);
    return index;
}

void WordPictureStore::SpoolFront()
{
    Pending job = std::move(FPending.front());
    FPending.pop_front();
    FPendingBytes -= job.Bytes;
    Spool(job.Index, job.Png.get());
}

void WordPictureStore::Finish()
{
    while (!FPending.empty())
        SpoolFront();
}

void WordPictureStore::Spool(int index, const std::string& png)
{
    if (!FSpool) {
        FSpool = std::make_unique<QTemporaryFile>(QDir::tempPath() + "/tabrix-pictures-XXXXXX.spool");
        if (!FSpool->open())
            throw Exception("Cannot create a temporary file for pictures: " + FSpool->errorString().toStdString());
    }
    WordPicture& picture = FPictures.at(static_cast<std::size_t>(index));
    picture.Offset = FSpool->size();
    picture.Size = static_cast<int64_t>(png.size());
    if (!FSpool->seek(picture.Offset) ||
        FSpool->write(png.data(), static_cast<qint64>(png.size())) != static_cast<qint64>(png.size()))
        throw Exception("Cannot write the temporary picture file: " + FSpool->errorString().toStdString());
}

std::string WordPictureStore::SpoolFileName()
{
    Finish();
    if (!FSpool) return {};
    FSpool->flush();
    return FSpool->fileName().toStdString();
}

void WordPictureStore::ReadRange(int64_t offset, char* buffer, int64_t size)
{
    if (!FSpool || !FSpool->seek(offset) || FSpool->read(buffer, size) != size)
        throw Exception("Cannot read the temporary picture file");
}
