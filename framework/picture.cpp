#include "picture.h"

#include "bitmap_reader.h"
#include "exceptions.h"
#include "files.h"
#include "gui_module.h"
#include "streams.h"

#include <cstring>

namespace {

std::uint16_t U16(const std::string& B, std::size_t At)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(B[At]) |
                                      (static_cast<unsigned char>(B[At + 1]) << 8));
}

std::uint32_t U32(const std::string& B, std::size_t At)
{
    return static_cast<std::uint32_t>(U16(B, At)) | (static_cast<std::uint32_t>(U16(B, At + 2)) << 16);
}

std::int32_t I32(const std::string& B, std::size_t At)
{
    return static_cast<std::int32_t>(U32(B, At));
}

std::int16_t I16(const std::string& B, std::size_t At)
{
    return static_cast<std::int16_t>(U16(B, At));
}

constexpr std::uint32_t EmfSignature = 0x464D4520; // " EMF"
constexpr std::uint32_t PlaceableKey = 0x9AC6CDD7;
constexpr std::size_t BitmapFileHeaderSize = 14;

bool IsEmf(const std::string& B)
{
    return B.size() >= 88 && U32(B, 0) == 1 && U32(B, 40) == EmfSignature;
}

bool IsPlaceableWmf(const std::string& B)
{
    return B.size() >= 22 + 18 && U32(B, 0) == PlaceableKey;
}

bool IsStandardWmf(const std::string& B)
{
    if (B.size() < 18)
        return false;
    const std::uint16_t Type = U16(B, 0);
    const std::uint16_t HeaderWords = U16(B, 2);
    const std::uint16_t Version = U16(B, 4);
    return (Type == 1 || Type == 2) && HeaderWords == 9 && (Version == 0x0100 || Version == 0x0300);
}

bool IsIcon(const std::string& B)
{
    return B.size() >= 6 + 16 && U16(B, 0) == 0 && U16(B, 2) == 1 && U16(B, 4) >= 1 &&
           B.size() >= 6 + 16 * static_cast<std::size_t>(U16(B, 4));
}

bool IsBitmap(const std::string& B)
{
    return B.size() >= BitmapFileHeaderSize + 12 && B[0] == 'B' && B[1] == 'M';
}

} // namespace

TGraphicKind TPicture::DetectKind(const std::string& Bytes, bool* Enhanced)
{
    if (Enhanced != nullptr)
        *Enhanced = false;
    if (IsBitmap(Bytes))
        return gkBitmap;
    if (IsEmf(Bytes)) {
        if (Enhanced != nullptr)
            *Enhanced = true;
        return gkMetafile;
    }
    if (IsPlaceableWmf(Bytes) || IsStandardWmf(Bytes))
        return gkMetafile;
    if (IsIcon(Bytes))
        return gkIcon;
    return gkNone;
}

void TPicture::Clear()
{
    FData.clear();
    FData.shrink_to_fit();
    FKind = gkNone;
    FEnhanced = false;
    FWidth = 0;
    FHeight = 0;
}

void TPicture::LoadBitmapFromBytes(std::string Bytes)
{
    const TBitmapSize Size = CheckBitmap(Bytes);
    FWidth = Size.Width;
    FHeight = Size.Height;
    FData = std::move(Bytes);
    FKind = gkBitmap;
    FEnhanced = false;
}

void TPicture::LoadBitmapFromStream(TStream& Stream)
{
    LoadBitmapFromBytes(Stream.ReadToEnd());
}

void TPicture::LoadFromBytes(std::string Bytes)
{
    bool IsEnhanced = false;
    switch (DetectKind(Bytes, &IsEnhanced)) {
    case gkBitmap:
        LoadBitmapFromBytes(std::move(Bytes));
        return;
    case gkMetafile: {
        int W = 0;
        int H = 0;
        if (IsEnhanced) {
            // The bounds rectangle, in device pixels, both edges included.
            const long long Left = I32(Bytes, 8), Top = I32(Bytes, 12);
            const long long Right = I32(Bytes, 16), Bottom = I32(Bytes, 20);
            if (Right >= Left && Bottom >= Top && Right - Left < (1 << 30) && Bottom - Top < (1 << 30)) {
                W = static_cast<int>(Right - Left + 1);
                H = static_cast<int>(Bottom - Top + 1);
            }
        } else if (IsPlaceableWmf(Bytes)) {
            // The bounding box in metafile units, Inch of them to the inch; shown
            // at 96 pixels to the inch.
            const long long Inch = U16(Bytes, 14);
            const long long DX = static_cast<long long>(I16(Bytes, 10)) - I16(Bytes, 6);
            const long long DY = static_cast<long long>(I16(Bytes, 12)) - I16(Bytes, 8);
            if (Inch > 0) {
                W = static_cast<int>((DX < 0 ? -DX : DX) * 96 / Inch);
                H = static_cast<int>((DY < 0 ? -DY : DY) * 96 / Inch);
            }
        }
        FData = std::move(Bytes);
        FKind = gkMetafile;
        FEnhanced = IsEnhanced;
        FWidth = W;
        FHeight = H;
        return;
    }
    case gkIcon: {
        // The first image of the directory; a size byte of 0 means 256.
        const int W = static_cast<unsigned char>(Bytes[6]);
        const int H = static_cast<unsigned char>(Bytes[7]);
        FData = std::move(Bytes);
        FKind = gkIcon;
        FEnhanced = false;
        FWidth = W == 0 ? 256 : W;
        FHeight = H == 0 ? 256 : H;
        return;
    }
    case gkNone:
        break;
    }
    throw EInvalidGraphic("Unknown picture file format");
}

void TPicture::LoadFromGraphicField(std::string Bytes)
{
    constexpr std::size_t HeaderSize = 8;
    if (Bytes.size() > HeaderSize && U16(Bytes, 0) == 1 && U16(Bytes, 2) == 0x0100 &&
        U32(Bytes, 4) == Bytes.size() - HeaderSize)
        Bytes.erase(0, HeaderSize);
    LoadBitmapFromBytes(std::move(Bytes));
}

void TPicture::LoadFromFile(const std::string& FileName)
{
    // A picture file is read without waiting on a pipe or device named like it.
    std::string Bytes = ReadRegularFile(FileName, MaxFileSize);
    if (DetectKind(Bytes) == gkBitmap) {
        // A bitmap is checked here, where its file is known, so that a refusal names it.
        CheckBitmap(Bytes, FileName);
    }
    LoadFromBytes(std::move(Bytes));
}

void TPicture::SaveToFile(const std::string& FileName) const
{
    if (Empty())
        throw EInvalidGraphic("Cannot save an empty picture");
    WriteStringToFile(FileName, FData);
}

void TPicture::SaveToStream(TStream& Stream) const
{
    Stream.WriteString(FData);
}

namespace {
TForeignPictureDecoder gForeignDecoder = nullptr;
} // namespace

void SetForeignPictureDecoder(TForeignPictureDecoder Decoder)
{
    gForeignDecoder = Decoder;
}

TForeignPicture DecodeForeignPicture(const std::string& Bytes, const std::string& Name, std::int64_t MaxPixels)
{
    if (!gForeignDecoder) {
        std::string why;
        if (!LoadGuiModule(why))
            throw Exception("The picture '" + Name + "' is not a bitmap, and pictures of other formats need Qt Gui: " +
                            why);
    }
    if (!gForeignDecoder)
        throw Exception("The picture '" + Name + "' is not a bitmap, and the Gui module installed no picture reader");
    return gForeignDecoder(Bytes, Name, MaxPixels);
}
