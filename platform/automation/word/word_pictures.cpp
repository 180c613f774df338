#include "platform/automation/word/word_pictures.h"

#include "framework/bitmap_reader.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/picture.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <cerrno>
#include <cstring>
#include <unistd.h>

WordPictureStore::WordPictureStore() = default;

WordPictureStore::~WordPictureStore()
{
    if (FSpool >= 0) ::close(FSpool);
}

int WordPictureStore::Add(const std::string& fileName)
{
    // One read: the bytes are hashed and decoded from memory. Only this one picture is held.
    std::string bytes;
    try {
        bytes = ReadRegularFile(fileName, MaxFileSize);
    } catch (const EStreamError& e) {
        throw Exception("The picture file '" + fileName + "' cannot be read: " + e.Message());
    }
    const QByteArray raw = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    std::string key = QCryptographicHash::hash(raw, QCryptographicHash::Blake2b_256).toStdString();
    if (auto it = FByHash.find(key); it != FByHash.end()) return it->second;

    QImage image;
    QByteArray png;
    if (TPicture::DetectKind(bytes) == gkBitmap) {
        image = BitmapToImage(ReadBitmap(bytes, fileName));
    } else {
        QBuffer source;
        source.setData(raw);
        source.open(QIODevice::ReadOnly);
        QImageReader reader(&source);
        reader.setAutoTransform(false);
        QSize size = reader.size();
        if (!reader.canRead())
            throw Exception("The file '" + fileName + "' is not a picture this word processor can read");
        if (size.isValid() && static_cast<int64_t>(size.width()) * size.height() > MaxPixels)
            throw Exception("The picture '" + fileName + "' is too large (" + std::to_string(size.width()) + " x " +
                            std::to_string(size.height()) + " pixels; the largest accepted is " +
                            std::to_string(MaxPixels) + " pixels)");
        const bool isPng = reader.format() == "png";
        image = reader.read();
        if (image.isNull())
            throw Exception("The picture '" + fileName + "' cannot be decoded: " + reader.errorString().toStdString());
        if (isPng) png = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())); // keep the file's own bytes
    }
    bytes.clear();
    bytes.shrink_to_fit();
    if (png.isEmpty()) {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        writer.setQuality(70); // a quick zlib level: the package stores PNGs as they are
        if (!writer.write(image))
            throw Exception("The picture '" + fileName + "' cannot be encoded: " + writer.errorString().toStdString());
    }

    if (FSpool < 0) {
        try {
            FSpool = CreateAnonymousFile();
        } catch (const Exception& e) {
            throw Exception("Cannot create a temporary file for pictures: " + e.Message());
        }
    }
    WordPicture picture;
    picture.PixelWidth = image.width();
    picture.PixelHeight = image.height();
    picture.Offset = FSpoolSize;
    picture.Size = png.size();
    int64_t done = 0;
    while (done < picture.Size) {
        ssize_t n = ::pwrite(FSpool, png.constData() + done, static_cast<std::size_t>(picture.Size - done),
                             picture.Offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            throw Exception(std::string("Cannot write the temporary picture file: ") +
                            std::strerror(n < 0 ? errno : ENOSPC));
        done += n;
    }
    FSpoolSize += picture.Size;
    FPictures.push_back(picture);
    int index = static_cast<int>(FPictures.size()) - 1;
    FByHash.emplace(std::move(key), index);
    return index;
}

std::string WordPictureStore::SpoolFileName()
{
    if (FSpool < 0) return {};
    return HandleFileName(FSpool);
}

void WordPictureStore::ReadRange(int64_t offset, char* buffer, int64_t size)
{
    int64_t done = 0;
    while (done < size) {
        ssize_t n = FSpool < 0 ? -1 : ::pread(FSpool, buffer + done, static_cast<std::size_t>(size - done), offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw Exception("Cannot read the temporary picture file");
        done += n;
    }
}
