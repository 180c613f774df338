// What pictures need of Qt Gui: turning a picture into a QImage, and the reader of
// picture formats the suite has no reader of its own for. Part of the Gui library; it
// installs the reader when it is loaded (the linker keeps this file through the symbol
// its users are made to reference, see framework/CMakeLists.txt).

#include "framework/picture.h"

#include "framework/bitmap_reader.h"
#include "framework/exceptions.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <cstring>

namespace {

TForeignPicture ReadForeignPicture(const std::string& Bytes, const std::string& Name, std::int64_t MaxPixels)
{
    QBuffer source;
    source.setData(QByteArray::fromRawData(Bytes.data(), static_cast<qsizetype>(Bytes.size())));
    source.open(QIODevice::ReadOnly);
    QImageReader reader(&source);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (!reader.canRead())
        throw Exception("The file '" + Name + "' is not a picture this word processor can read");
    if (size.isValid() && static_cast<std::int64_t>(size.width()) * size.height() > MaxPixels)
        throw Exception("The picture '" + Name + "' is too large (" + std::to_string(size.width()) + " x " +
                        std::to_string(size.height()) + " pixels; the largest accepted is " +
                        std::to_string(MaxPixels) + " pixels)");
    TForeignPicture picture;
    picture.IsPng = reader.format() == "png";
    QImage image = reader.read();
    if (image.isNull())
        throw Exception("The picture '" + Name + "' cannot be decoded: " + reader.errorString().toStdString());
    picture.Width = image.width();
    picture.Height = image.height();
    if (picture.IsPng)
        return picture;
    const bool alpha = image.hasAlphaChannel();
    image = image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    TBitmapPixels& pixels = picture.Pixels;
    pixels.Width = image.width();
    pixels.Height = image.height();
    pixels.Channels = alpha ? 4 : 3;
    pixels.Data.resize(pixels.Stride() * static_cast<std::size_t>(pixels.Height));
    for (int y = 0; y < pixels.Height; ++y)
        std::memcpy(pixels.Data.data() + pixels.Stride() * static_cast<std::size_t>(y), image.constScanLine(y),
                    pixels.Stride());
    return picture;
}

const bool gRegistered = (SetForeignPictureDecoder(&ReadForeignPicture), true);

} // namespace

extern "C" const bool tabrix_picture_reader_linked = gRegistered;

QImage TPicture::ToImage() const
{
    switch (Kind()) {
    case gkBitmap:
        return BitmapToImage(ReadBitmap(Bytes()));
    case gkIcon: {
        const std::string& data = Bytes();
        const QByteArray Raw = QByteArray::fromRawData(data.data(), static_cast<qsizetype>(data.size()));
        QImage Image = QImage::fromData(Raw, "ico");
        if (Image.isNull())
            throw EInvalidGraphic("Icon image is not valid");
        return Image;
    }
    case gkMetafile:
        throw EInvalidGraphic("A metafile cannot be turned into pixels");
    case gkNone:
        break;
    }
    throw EInvalidGraphic("The picture is empty");
}

QImage BitmapToImage(TBitmapPixels&& Pixels)
{
    // The image shares the decoded rows; they are freed with the last copy of it.
    auto* Owned = new TBitmapPixels(std::move(Pixels));
    QImage Image(Owned->Data.data(), Owned->Width, Owned->Height, static_cast<qsizetype>(Owned->Stride()),
                 Owned->Channels == 4 ? QImage::Format_RGBA8888 : QImage::Format_RGB888,
                 [](void* Info) { delete static_cast<TBitmapPixels*>(Info); }, Owned);
    return Image;
}
