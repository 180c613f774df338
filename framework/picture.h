#pragma once
// Pictures: a bitmap, metafile or icon held as the bytes of its file. The bytes are
// kept once and saved unchanged, so nothing of the picture is lost on the way through;
// a bitmap is checked in full when it is loaded (to prove it valid and learn its
// size) without keeping its pixels.

#include "framework/bitmap_reader.h"

#include <cstdint>
#include <string>

class QImage;
class TStream;

enum TGraphicKind : std::uint8_t { gkNone, gkBitmap, gkMetafile, gkIcon };

class TPicture {
public:
    TPicture() = default;

    TGraphicKind Kind() const { return FKind; }
    // For a metafile: true for an enhanced metafile (EMF), false for a Windows
    // metafile (WMF). False for every other kind.
    bool Enhanced() const { return FEnhanced; }
    bool Empty() const { return FKind == gkNone; }
    // Size in pixels; 0 when the picture is empty or its size is not recorded (a WMF
    // without a placeable header).
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    const std::string& Bytes() const { return FData; }

    // Takes Bytes as a Windows bitmap file ("BM" ...). Raises EInvalidGraphic
    // ("Bitmap image is not valid", with the reason) when they are not a bitmap that
    // decodes; the picture is then left as it was.
    void LoadBitmapFromBytes(std::string Bytes);
    // A bitmap from Stream's position to its end.
    void LoadBitmapFromStream(TStream& Stream);
    // Takes Bytes as a bitmap, metafile or icon, told apart by their signatures.
    // Raises EInvalidGraphic ("Unknown picture file format") for anything else.
    void LoadFromBytes(std::string Bytes);
    // The content of a graphic field: a bitmap, possibly preceded by the 8-byte
    // header that some desktop databases put in front of it (count 1, type 0x0100,
    // size of what follows), which is dropped.
    void LoadFromGraphicField(std::string Bytes);
    // A picture file of at most MaxFileSize bytes; a damaged bitmap is refused with
    // the file's name in the message.
    void LoadFromFile(const std::string& FileName);
    static constexpr long long MaxFileSize = 1LL << 30;

    // Writes the picture's bytes unchanged to a new file (replacing one of that
    // name). Raises EInvalidGraphic for an empty picture, EFCreateError /
    // EStreamError when the file cannot be written (a partial file is removed).
    void SaveToFile(const std::string& FileName) const;
    void SaveToStream(TStream& Stream) const;

    // Decodes the picture into pixels: bitmaps (with the strict bitmap reader) and
    // icons. Raises EInvalidGraphic for
    // other kinds and for an empty picture.
    QImage ToImage() const;

    void Clear();

    // The kind of picture Bytes hold, judged by signature alone; Enhanced reports an
    // enhanced metafile.
    static TGraphicKind DetectKind(const std::string& Bytes, bool* Enhanced = nullptr);

private:
    std::string FData;
    TGraphicKind FKind = gkNone;
    bool FEnhanced = false;
    int FWidth = 0;
    int FHeight = 0;
};

// An image over decoded bitmap rows, without copying them: RGB888 or RGBA8888. ToImage
// and this live in the Gui library (tabrix_framework_gui).
QImage BitmapToImage(TBitmapPixels&& Pixels);

// A picture of a format the suite has no reader of its own for (PNG, JPEG, GIF, ...):
// its size and, unless it is a PNG (whose bytes are kept as they are), its pixels as
// packed RGB or RGBA rows.
struct TForeignPicture {
    int Width = 0;
    int Height = 0;
    bool IsPng = false;
    TBitmapPixels Pixels;
};
// Decodes Bytes (Name only for messages), raising Exception with the reason when they
// are no picture, are larger than MaxPixels pixels or cannot be decoded.
using TForeignPictureDecoder = TForeignPicture (*)(const std::string& Bytes, const std::string& Name,
                                                   std::int64_t MaxPixels);
// The decoder is Qt's image reader, which needs Qt Gui: the Gui library installs it when
// it is loaded (linked into the program, or loaded as the Gui module, see gui_module.h).
void SetForeignPictureDecoder(TForeignPictureDecoder Decoder);
// Decodes through the installed decoder, loading the Gui module first when none is
// installed; without either, raises Exception saying so.
TForeignPicture DecodeForeignPicture(const std::string& Bytes, const std::string& Name, std::int64_t MaxPixels);
