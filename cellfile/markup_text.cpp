#include "cellfile/markup_text.h"

#include "cellfile/json_exporter.h"
#include "cellfile/value_text.h"
#include "framework/data_set.h"
#include "framework/utf8.h"

#include <algorithm>

char32_t NextCharacter(std::string_view Text, std::size_t& At, bool& Valid)
{
    const std::size_t n = Utf8SequenceLength(Text, At);
    Valid = n > 0;
    if (!Valid) {
        ++At;
        return 0xFFFD;
    }
    const auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(Text[At + i])); };
    char32_t c = n == 1 ? byte(0) : n == 2 ? byte(0) & 0x1F : n == 3 ? byte(0) & 0x0F : byte(0) & 0x07;
    for (std::size_t i = 1; i < n; ++i)
        c = (c << 6) | (byte(i) & 0x3F);
    At += n;
    return c;
}

std::string UniqueName(const std::string& Name, std::set<std::string>& Taken, bool IgnoreCase, std::size_t MaxBytes)
{
    const auto key = [IgnoreCase](std::string Text) {
        if (IgnoreCase)
            for (char& c : Text)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c + 32);
        return Text;
    };
    std::string name = Name;
    for (int n = 2; !Taken.insert(key(name)).second; ++n) {
        const std::string suffix = "_" + std::to_string(n);
        std::size_t room = MaxBytes == std::string::npos ? Name.size() : std::min(Name.size(), MaxBytes - suffix.size());
        while (room > 0 && room < Name.size() && (static_cast<unsigned char>(Name[room]) & 0xC0) == 0x80)
            --room;
        name = Name.substr(0, room) + suffix;
    }
    return name;
}

std::string LineFeedsOnly(const std::string& Text, long long& Changed)
{
    if (Text.find('\r') == std::string::npos)
        return Text;
    ++Changed;
    std::string out;
    out.reserve(Text.size());
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] != '\r')
            out += Text[i];
        else if (i + 1 >= Text.size() || Text[i + 1] != '\n')
            out += '\n';
    }
    return out;
}

TSpreadsheetNumber SpreadsheetNumber(TField* Field, TCellType CellType, const std::string& Text)
{
    TSpreadsheetNumber number;
    std::string text;
    if (Field && !Field->IsNull() && IsNumericFieldType(Field->DataType()))
        text = LiteralFieldText(Field);
    else if (!Field && (CellType == ctInteger || CellType == ctDouble || CellType == ctCurrency))
        text = Text;
    if (!TKVExportToJSON::IsJsonNumber(text))
        return number;
    const auto [digits, power] = DecimalKey(text);
    const std::size_t significant = digits.size() - (digits[0] == '-');
    const bool whole = text.find_first_of(".eE") == std::string::npos;
    if (whole && significant > 15) {
        number.TooLong = true;
        return number;
    }
    number.Rounded = significant > 15;
    number.Text = text;
    return number;
}
