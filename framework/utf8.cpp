#include "framework/utf8.h"

#include <array>

namespace {

// The code points of the Windows-1252 bytes 0x80..0x9F.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

std::size_t Utf8SequenceLength(std::string_view Text, std::size_t At)
{
    const auto b0 = static_cast<unsigned char>(Text[At]);
    if (b0 < 0x80)
        return 1;
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF)
        n = 2;
    else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        if (b0 == 0xE0)
            lo = 0xA0; // no overlong forms
        if (b0 == 0xED)
            hi = 0x9F; // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        if (b0 == 0xF0)
            lo = 0x90;
        if (b0 == 0xF4)
            hi = 0x8F; // nothing above U+10FFFF
    } else
        return 0;
    if (At + n > Text.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(Text[At + k]);
        if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF))
            return 0;
    }
    return n;
}

bool IsValidUtf8(std::string_view Text)
{
    for (std::size_t i = 0; i < Text.size();) {
        const std::size_t n = Utf8SequenceLength(Text, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

void AppendUtf8(char32_t CodePoint, std::string& Out)
{
    if (CodePoint < 0x80) {
        Out += static_cast<char>(CodePoint);
    } else if (CodePoint < 0x800) {
        Out += static_cast<char>(0xC0 | (CodePoint >> 6));
        Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
    } else if (CodePoint < 0x10000) {
        Out += static_cast<char>(0xE0 | (CodePoint >> 12));
        Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (CodePoint >> 18));
        Out += static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
    }
}

std::string Utf8OrWindows1252(std::string_view Text)
{
    if (IsValidUtf8(Text))
        return std::string(Text);
    std::string out;
    out.reserve(Text.size() + Text.size() / 4);
    for (std::size_t i = 0; i < Text.size();) {
        if (const std::size_t n = Utf8SequenceLength(Text, i)) {
            out.append(Text.substr(i, n));
            i += n;
            continue;
        }
        const auto byte = static_cast<unsigned char>(Text[i++]);
        AppendUtf8(byte >= 0x80 && byte <= 0x9F ? Cp1252High[byte - 0x80] : byte, out);
    }
    return out;
}
