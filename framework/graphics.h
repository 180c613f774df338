#pragma once
// Colours, fonts and text alignment.

#include "persistent.h"

#include <cstdint>
#include <string>

// 0x00BBGGRR, or a system colour: top bit set, low byte the system colour index.
using TColor = std::uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

constexpr TColor clSystemColor = 0x80000000;
constexpr TColor clScrollBar = clSystemColor | 0;
constexpr TColor clBackground = clSystemColor | 1;
constexpr TColor clActiveCaption = clSystemColor | 2;
constexpr TColor clInactiveCaption = clSystemColor | 3;
constexpr TColor clMenu = clSystemColor | 4;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowFrame = clSystemColor | 6;
constexpr TColor clMenuText = clSystemColor | 7;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clCaptionText = clSystemColor | 9;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clGrayText = clSystemColor | 17;
constexpr TColor clBtnText = clSystemColor | 18;
constexpr TColor clBtnHighlight = clSystemColor | 20;
constexpr TColor cl3DDkShadow = clSystemColor | 21;
constexpr TColor cl3DLight = clSystemColor | 22;
constexpr TColor clInfoText = clSystemColor | 23;
constexpr TColor clInfoBk = clSystemColor | 24;

// The RGB value (0x00BBGGRR) of a colour; system colours come from a fixed table of
// the classic desktop scheme, so results do not depend on the machine.
TColor ColorToRGB(TColor Color);

enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };

enum TFontStyle : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = std::uint8_t; // a set of TFontStyle bits

constexpr int DEFAULT_CHARSET = 1;

class TFont : public TPersistent {
public:
    // A new font: Arial, 10 points, the window-text colour, no style, default charset.
    TFont() = default;

    std::string Name = "Arial";
    int Size = 10;
    TColor Color = clWindowText;
    TFontStyles Style = 0;
    int Charset = DEFAULT_CHARSET;

    bool HasStyle(TFontStyle S) const { return (Style & S) != 0; }
    bool operator==(const TFont& Other) const;

    void Assign(const TPersistent* Source) override;
    // The same from a font known as one, without the type test (once a cell).
    void Assign(const TFont& Source);
};
