#pragma once
// Lossless PNG encoding made for speed: 8-bit samples, one cheap filter for every row and
// a fast deflate (ISA-L's igzip). Pictures are the hot path of the picture export, so the
// encoder takes the decoded rows as they lie in memory and writes the PNG in one pass.

#include <cstddef>
#include <cstdint>
#include <string>

enum TPngColorType : std::uint8_t {
    pctGray = 0,  // one byte a pixel
    pctRGB = 2,   // red, green, blue
    pctRGBA = 6,  // red, green, blue, alpha (not premultiplied)
};

// The row filter applied to every row. None costs nothing; Sub and Up cost one pass and
// pay off on photographs and drawn pictures alike (a quarter to half the size at the same
// speed); Sub does not depend on the row above, which suits pictures whose rows differ.
enum TPngFilter : std::uint8_t { pfNone = 0, pfSub = 1, pfUp = 2 };

struct TPngOptions {
    TPngFilter Filter = pfSub;
};

// Bytes a pixel for a colour type.
int PngChannels(TPngColorType Color);

// Encodes Height rows of Width pixels; row y starts at Pixels + y * Stride and holds
// Width * PngChannels(Color) bytes. Raises Exception for a size PNG cannot hold or a
// compression failure. Safe to call from several threads at once.
std::string EncodePng(const std::uint8_t* Pixels, int Width, int Height, std::size_t Stride, TPngColorType Color,
                      const TPngOptions& Options = {});
