#pragma once
// A strict reader for Windows bitmap files (".bmp"). It accepts the OS/2 1.x core
// header, the OS/2 2.x header and the Windows INFO, V2 to V5 headers; 1, 2, 4, 8, 16,
// 24 and 32 bits per pixel; uncompressed, RLE8, RLE4, BITFIELDS and ALPHABITFIELDS
// pixel data; rows stored bottom-up or top-down. Anything it cannot read exactly is
// refused with EInvalidGraphic: pixel data shorter than the header promises, an RLE
// stream that ends without its end marker or writes outside the picture, a palette
// index beyond the palette, offsets past the end of the file, planes other than 1, or
// a picture larger than BitmapMaxPixels. What it returns holds no byte it did not
// write itself.
//
// Messages read "Bitmap image is not valid: NAME: cause", or "Bitmap image is not
// valid: cause" when no name is given.
//
// Fields that no decoder needs are not checked: the file-size field, the image-size
// field of uncompressed data, pixel density, important colours, colour-space data.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The largest picture read, in pixels (width x height): 100 million, 400 MB as
// RGBA rows.
inline constexpr std::int64_t BitmapMaxPixels = 100'000'000;

// Decoded pixels: Height rows from the top down, each Width * Channels bytes with no
// padding between rows; 3 channels (red, green, blue) or 4 (red, green, blue and
// straight, not premultiplied, alpha). Ready to be handed to a PNG encoder as they are.
struct TBitmapPixels {
    int Width = 0;
    int Height = 0;
    int Channels = 3;
    std::vector<std::uint8_t> Data;

    std::size_t Stride() const { return static_cast<std::size_t>(Width) * static_cast<std::size_t>(Channels); }
    const std::uint8_t* Row(int Y) const { return Data.data() + Stride() * static_cast<std::size_t>(Y); }
};

struct TBitmapSize {
    int Width = 0;
    int Height = 0;
};

// Decodes a whole bitmap file held in Bytes. Name is only used in messages.
TBitmapPixels ReadBitmap(std::string_view Bytes, const std::string& Name = {});
// Proves that Bytes decode as ReadBitmap would decode them, without keeping the
// pixels (memory does not grow with the picture), and returns the picture's size.
TBitmapSize CheckBitmap(std::string_view Bytes, const std::string& Name = {});
