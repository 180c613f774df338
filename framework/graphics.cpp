#include "graphics.h"

namespace {
// Classic Windows scheme, indexes 0..30, as 0x00BBGGRR.
constexpr TColor SystemColors[] = {
    0xC8C8C8, // 0 scroll bar
    0x000000, // 1 desktop
    0xD1B499, // 2 active caption
    0xDBCDBF, // 3 inactive caption
    0xF0F0F0, // 4 menu
    0xFFFFFF, // 5 window
    0x646464, // 6 window frame
    0x000000, // 7 menu text
    0x000000, // 8 window text
    0x000000, // 9 caption text
    0xB4B4B4, // 10 active border
    0xFCF7F4, // 11 inactive border
    0xABABAB, // 12 application workspace
    0xFF9933, // 13 highlight
    0xFFFFFF, // 14 highlight text
    0xF0F0F0, // 15 button face
    0xA0A0A0, // 16 button shadow
    0x6D6D6D, // 17 grey text
    0x000000, // 18 button text
    0x544E43, // 19 inactive caption text
    0xFFFFFF, // 20 button highlight
    0x696969, // 21 3D dark shadow
    0xE3E3E3, // 22 3D light
    0x000000, // 23 tooltip text
    0xE1FFFF, // 24 tooltip background
    0x000000, // 25 (unused)
    0xCC6600, // 26 hot light
    0xEAD1B9, // 27 gradient active caption
    0xF2E4D7, // 28 gradient inactive caption
    0xFF9933, // 29 menu highlight
    0xF0F0F0, // 30 menu bar
};
} // namespace

TColor ColorToRGB(TColor Color)
{
    if ((Color & clSystemColor) == 0)
        return Color & 0x00FFFFFF;
    unsigned index = Color & 0xFF;
    if (index < sizeof(SystemColors) / sizeof(SystemColors[0]))
        return SystemColors[index];
    return clBlack;
}

bool TFont::operator==(const TFont& Other) const
{
    return Name == Other.Name && Size == Other.Size && Color == Other.Color && Style == Other.Style
        && Charset == Other.Charset;
}

void TFont::Assign(const TPersistent* Source)
{
    if (auto* source = dynamic_cast<const TFont*>(Source)) {
        Assign(*source);
        return;
    }
    TPersistent::Assign(Source);
}

void TFont::Assign(const TFont& Source)
{
    Name = Source.Name;
    Size = Source.Size;
    Color = Source.Color;
    Style = Source.Style;
    Charset = Source.Charset;
}
