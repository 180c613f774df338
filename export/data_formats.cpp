#include "data_formats.h"

#include "export/message_table.h"
#include "framework/exceptions.h"

namespace {

// A separator as FormatSettings() holds it: a lone NUL byte (as a decoded
// specification file gives it) is "no separator", which is the empty text there.
std::string NormalizedSeparator(const std::string& C)
{
    if (C.size() == 1 && C[0] == '\0')
        return std::string();
    return C;
}

// ASCII letters only, so that multi-byte UTF-8 characters pass unchanged.
std::string AsciiUpperCase(std::string Text)
{
    for (char& c : Text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return Text;
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

// ---------------------------------------------------------------------------------
// TKVEDataFormats

TKVEDataFormats::TKVEDataFormats()
{
    LoadRegionalSettings();
    BooleanTrue = strTrue;
    BooleanFalse = strFalse;
}

void TKVEDataFormats::Assign(const TPersistent* Source)
{
    const auto* other = dynamic_cast<const TKVEDataFormats*>(Source);
    if (!other) {
        TPersistent::Assign(Source);
        return;
    }
    if (other == this)
        return;
    DateOrder = other->DateOrder;
    DateSeparator = other->DateSeparator;
    TimeSeparator = other->TimeSeparator;
    FourDigitYear = other->FourDigitYear;
    LeadingZerosInDate = other->LeadingZerosInDate;
    ThousandSeparator = other->ThousandSeparator;
    DecimalSeparator = other->DecimalSeparator;
    CurrencyString = other->CurrencyString;
    CustomDateTimeFormat = other->CustomDateTimeFormat;
    BooleanTrue = other->BooleanTrue;
    BooleanFalse = other->BooleanFalse;
    UseRegionalSettings = other->UseRegionalSettings;
}

void TKVEDataFormats::LoadRegionalSettings()
{
    const TFormatSettings& system = FormatSettings();
    DateOrder = doMDY;
    DateSeparator = system.DateSeparator;
    TimeSeparator = system.TimeSeparator;
    DecimalSeparator = system.DecimalSeparator;
    ThousandSeparator = system.ThousandSeparator;
    CurrencyString = system.CurrencyString;
    FourDigitYear = system.ShortDateFormat.find("yyyy") != std::string::npos;
    LeadingZerosInDate = system.ShortDateFormat.find("dd") != std::string::npos;
    CustomDateTimeFormat.clear();
}

std::string TKVEDataFormats::GetDTSeparator(const std::string& C)
{
    return NormalizedSeparator(C);
}

std::string TKVEDataFormats::GetDateFormat() const
{
    if (!CustomDateTimeFormat.empty())
        return AsciiUpperCase(CustomDateTimeFormat);

    auto part = [this](char letter) {
        std::string s(LeadingZerosInDate ? 2 : 1, letter);
        if (letter == 'Y' && FourDigitYear)
            s.resize(4, 'Y');
        return s;
    };
    const std::string d = part('D');
    const std::string m = part('M');
    const std::string y = part('Y');
    const std::string sep = GetDTSeparator(DateSeparator);

    switch (DateOrder) {
    case doMDY: return m + sep + d + sep + y;
    case doDMY: return d + sep + m + sep + y;
    case doYMD: return y + sep + m + sep + d;
    case doYDM: return y + sep + d + sep + m;
    case doDYM: return d + sep + y + sep + m;
    case doMYD: return m + sep + y + sep + d;
    }
    throw Exception("Invalid date order " + std::to_string(static_cast<int>(DateOrder)));
}

std::string TKVEDataFormats::GetTimeFormat() const
{
    const std::string sep = GetDTSeparator(TimeSeparator);
    return "HH" + sep + "NN" + sep + "SS";
}

std::string TKVEDataFormats::GetDateTimeFormat() const
{
    return GetDateFormat() + " " + GetTimeFormat();
}

// ---------------------------------------------------------------------------------
// TKVExportStyle

void TKVExportStyle::SetStyle(TKVEStyle Value)
{
    const int ordinal = static_cast<int>(Value);
    if (ordinal < 0 || ordinal >= StyleCount)
        throw Exception("Invalid colour style " + std::to_string(ordinal) + " (0.." +
                        std::to_string(StyleCount - 1) + ")");
    if (Value == FStyle)
        return;
    FStyle = Value;
    OddColor = arrStyleColor[static_cast<std::size_t>(ordinal)][0];
    EvenColor = arrStyleColor[static_cast<std::size_t>(ordinal)][1];
}

void TKVExportStyle::Assign(const TPersistent* Source)
{
    const auto* other = dynamic_cast<const TKVExportStyle*>(Source);
    if (!other) {
        TPersistent::Assign(Source);
        return;
    }
    SetStyle(other->Style());
    OddColor = other->OddColor;
    EvenColor = other->EvenColor;
}

void AssignStyleColor(const TKVExportStyle& Style, int Row, TColor& Color)
{
    if (Style.Style() == esNormal)
        return;
    // C++ '%' keeps the sign of the dividend, so -1 % 2 == -1: negative rows are even.
    Color = (Row % 2 == 1) ? Style.OddColor : Style.EvenColor;
}

// ---------------------------------------------------------------------------------
// Hexadecimal text form

std::string Translate(const std::string& Value, bool Encode)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string result;
    if (Encode) {
        result.reserve(Value.size() * 2);
        for (char c : Value) {
            const auto byte = static_cast<unsigned char>(c);
            result += Digits[byte >> 4];
            result += Digits[byte & 0x0F];
        }
        return result;
    }
    result.reserve(Value.size() / 2);
    for (std::size_t i = 0; i + 1 < Value.size(); i += 2) {
        const int high = HexDigitValue(Value[i]);
        const int low = HexDigitValue(Value[i + 1]);
        if (high < 0 || low < 0)
            throw EConvertError("'$" + Value.substr(i, 2) + "' is not a valid integer value");
        result += static_cast<char>(high * 16 + low);
    }
    return result;
}

// ---------------------------------------------------------------------------------
// TFormatSettingsSwap

TFormatSettingsSwap::~TFormatSettingsSwap()
{
    Restore();
}

void TFormatSettingsSwap::Install(const TKVEDataFormats& Formats)
{
    TFormatSettings& settings = FormatSettings();
    if (!FInstalled) {
        FSaved.DecimalSeparator = settings.DecimalSeparator;
        FSaved.DateSeparator = settings.DateSeparator;
        FSaved.TimeSeparator = settings.TimeSeparator;
        FSaved.ThousandSeparator = settings.ThousandSeparator;
        FSaved.CurrencyString = settings.CurrencyString;
        FInstalled = true;
    }
    settings.DecimalSeparator = NormalizedSeparator(Formats.DecimalSeparator);
    settings.DateSeparator = NormalizedSeparator(Formats.DateSeparator);
    settings.TimeSeparator = NormalizedSeparator(Formats.TimeSeparator);
    settings.ThousandSeparator = NormalizedSeparator(Formats.ThousandSeparator);
    settings.CurrencyString = Formats.CurrencyString;
}

void TFormatSettingsSwap::Restore()
{
    if (!FInstalled)
        return;
    TFormatSettings& settings = FormatSettings();
    settings.DecimalSeparator = FSaved.DecimalSeparator;
    settings.DateSeparator = FSaved.DateSeparator;
    settings.TimeSeparator = FSaved.TimeSeparator;
    settings.ThousandSeparator = FSaved.ThousandSeparator;
    settings.CurrencyString = FSaved.CurrencyString;
    FInstalled = false;
}
