#pragma once
// The settings that turn values into text (separators, date order, boolean texts, a
// custom date-time pattern), the colour schemes for odd and even rows, the hexadecimal
// text form of characters, and the swap of the process-wide format settings that an
// export run makes.
//
// Separators are held like the process-wide FormatSettings(): one character of the
// system's 8-bit text (UTF-8 here, so possibly several bytes); empty means "no
// separator". A text holding a single NUL byte also means "no separator".

#include "framework/format_settings.h"
#include "framework/graphics.h"
#include "framework/persistent.h"

#include <array>
#include <cstdint>
#include <string>

enum TKVEDateOrder : std::uint8_t { doMDY, doDMY, doYMD, doYDM, doDYM, doMYD };

class TKVEDataFormats : public TPersistent {
public:
    // A new object takes the process-wide settings (LoadRegionalSettings) and the
    // boolean texts strTrue and strFalse of the message table as they are now.
    TKVEDataFormats();

    TKVEDateOrder DateOrder = doMDY;
    std::string DateSeparator;
    std::string TimeSeparator;
    bool FourDigitYear = false;
    bool LeadingZerosInDate = false;
    std::string ThousandSeparator;
    std::string DecimalSeparator;
    std::string CurrencyString;
    // When not empty, GetDateFormat returns it (in upper case) instead of a built one.
    std::string CustomDateTimeFormat;
    std::string BooleanTrue;
    std::string BooleanFalse;
    // Reload the process-wide values at the start of every run.
    bool UseRegionalSettings = false;

    // From another TKVEDataFormats copies every field; anything else raises the
    // cannot-assign error.
    void Assign(const TPersistent* Source) override;

    // Takes the separators, currency string and date options from FormatSettings():
    // DateOrder becomes doMDY whatever the system's order, FourDigitYear whether the
    // short date format contains "yyyy", LeadingZerosInDate whether it contains "dd"
    // (both case-sensitive), and CustomDateTimeFormat is cleared. The boolean texts
    // and UseRegionalSettings are left alone.
    void LoadRegionalSettings();

    // The separator as text: empty for "no separator", else the character itself.
    static std::string GetDTSeparator(const std::string& C);

    // Date and time patterns in upper-case letters for targets that need one
    // (DD/MM/YYYY, HH:NN:SS; minutes are "NN"). GetDateFormat raises an Exception
    // when DateOrder holds a value outside doMDY..doMYD.
    std::string GetDateFormat() const;
    std::string GetTimeFormat() const;
    std::string GetDateTimeFormat() const;
};

enum TKVEStyle : std::uint8_t {
    esNormal,
    esPriceList,
    esMSMoney,
    esBrick,
    esDesert,
    esEggplant,
    esLilac,
    esMaple,
    esMarine,
    esRose,
    esSpruce,
    esWheat
};

inline constexpr int StyleCount = esWheat + 1;

// The colour pair of each style: [0] the odd-row colour, [1] the even-row colour.
inline constexpr std::array<std::array<TColor, 2>, StyleCount> arrStyleColor = {{
    {clWindow, clWindow},        // esNormal
    {cl3DLight, clWindow},       // esPriceList
    {0x00FFFBF0, clWindow},      // esMSMoney
    {0x00CFDFDF, 0x00A0BFBF},    // esBrick
    {0x00B8CCD8, 0x00688CA0},    // esDesert
    {0x00A8B090, 0x00788058},    // esEggplant
    {0x00D8A8B0, 0x00B05058},    // esLilac
    {0x00A8D8EB, 0x0048A8C8},    // esMaple
    {0x00B8C088, 0x00889048},    // esMarine
    {0x00B8B0D0, 0x007060A0},    // esRose
    {0x00A8C8A0, 0x00689858},    // esSpruce
    {0x00A0E0E0, 0x0040BCC0},    // esWheat
}};

// A colour scheme for alternate rows. A new one is esNormal with both colours 0; the
// colour table is applied only when the style changes.
class TKVExportStyle : public TPersistent {
public:
    TKVEStyle Style() const { return FStyle; }
    // A different style stores it and loads its two colours from arrStyleColor;
    // setting the current style again keeps custom colours. A value outside
    // esNormal..esWheat (for instance an ordinal read from a file) raises an
    // Exception and changes nothing.
    void SetStyle(TKVEStyle Value);

    TColor OddColor = 0;
    TColor EvenColor = 0;

    // From another TKVExportStyle: SetStyle(its style), then its two colours (so
    // custom colours are copied too); anything else raises the cannot-assign error.
    void Assign(const TPersistent* Source) override;

private:
    TKVEStyle FStyle = esNormal;
};

// The colour of sheet row Row under Style: esNormal leaves Color alone; otherwise odd
// rows (Row mod 2 == 1, the remainder taking the sign of Row, so negative rows are
// never odd) take OddColor and all others EvenColor.
void AssignStyleColor(const TKVExportStyle& Style, int Row, TColor& Color);

// The hexadecimal text form of bytes. Encode: every byte becomes two upper-case hex
// digits ("abc" -> "616263"). Decode: every pair of hex digits (either case) from the
// start becomes one byte; an odd last character is ignored; a pair that is not
// hexadecimal raises EConvertError "'$<pair>' is not a valid integer value".
std::string Translate(const std::string& Value, bool Encode);

// The five process-wide settings a run replaces, in the order it replaces them.
struct TSavedFormatSettings {
    std::string DecimalSeparator;
    std::string DateSeparator;
    std::string TimeSeparator;
    std::string ThousandSeparator;
    std::string CurrencyString;
};

// Installs a TKVEDataFormats's separators and currency string into FormatSettings()
// for the length of a run and puts the previous values back afterwards:
//
//     TFormatSettingsSwap swap;
//     swap.Install(DataFormats);   // decimal, date, time, thousand, currency
//     ...                          // value texts follow DataFormats
//     swap.Restore();              // or let the destructor do it
//
// Installing again while installed keeps the values saved first, so Restore always
// brings back what was there before the first Install. Restore without Install, or
// a second Restore, changes nothing.
class TFormatSettingsSwap {
public:
    TFormatSettingsSwap() = default;
    TFormatSettingsSwap(const TFormatSettingsSwap&) = delete;
    TFormatSettingsSwap& operator=(const TFormatSettingsSwap&) = delete;
    ~TFormatSettingsSwap();

    void Install(const TKVEDataFormats& Formats);
    void Restore();
    bool Installed() const { return FInstalled; }
    const TSavedFormatSettings& Saved() const { return FSaved; }

private:
    bool FInstalled = false;
    TSavedFormatSettings FSaved;
};
