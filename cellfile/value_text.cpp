#include "cellfile/value_text.h"

#include "export/export_component.h"

#include "framework/data_set.h"
#include "framework/format_settings.h"
#include "framework/value_contract.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

// A decimal number's sign and significant digits, and the power of ten of its first
// digit: "-0012.50" and "-1.25e1" both give ("-125", 1); zero gives ("0", 0).
std::pair<std::string, int> DecimalKey(std::string_view Text)
{
    std::size_t i = 0;
    const bool negative = !Text.empty() && Text[0] == '-';
    if (!Text.empty() && (Text[0] == '-' || Text[0] == '+'))
        ++i;
    std::string all;
    std::size_t point = std::string::npos;
    for (; i < Text.size(); ++i) {
        if (Text[i] >= '0' && Text[i] <= '9')
            all += Text[i];
        else if (Text[i] == '.' && point == std::string::npos)
            point = all.size();
        else
            break;
    }
    if (point == std::string::npos)
        point = all.size();
    int exponent = 0;
    if (i < Text.size() && (Text[i] == 'e' || Text[i] == 'E')) {
        const char* begin = Text.data() + i + 1 + (i + 1 < Text.size() && Text[i + 1] == '+');
        std::from_chars(begin, Text.data() + Text.size(), exponent);
    }
    const std::size_t first = all.find_first_not_of('0');
    if (first == std::string::npos)
        return {"0", 0};
    const std::size_t last = all.find_last_not_of('0');
    return {(negative ? "-" : "") + all.substr(first, last - first + 1),
            static_cast<int>(point) - static_cast<int>(first) - 1 + exponent};
}

// The shortest text that reads back as Value, with "." as the decimal point.
std::string ShortestText(double Value, std::chars_format Format)
{
    char buffer[40];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, Value, Format).ptr);
}

// The exact decimal text of a money amount scaled by 10,000.
std::string ScaledText(std::int64_t Scaled)
{
    const bool negative = Scaled < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(Scaled) : static_cast<std::uint64_t>(Scaled);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, "%04u", static_cast<unsigned>(magnitude % 10000));
    return (negative ? "-" : "") + std::to_string(magnitude / 10000) + "." + fraction;
}

// A number's text as a reader of the target reads it: the process's decimal separator of the
// moment (the run's own), no grouping.
std::string NumberText(double Value)
{
    std::string text = ShortestText(Value);
    if (const auto point = text.find('.'); point != std::string::npos)
        text.replace(point, 1, FormatSettings().DecimalSeparator);
    return text;
}

std::string IsoText(double Serial, bool WithTime)
{
    const TDateTimeParts parts = DateTimeParts(Serial);
    return WithTime ? IsoDateTimeText(parts) : IsoDateText(parts);
}


std::string ExactDecimalText(const Variant& Value)
{
    switch (Value.VarType()) {
    case varCurrency: return ScaledText(Value.AsScaledCurrency());
    case varInteger: return std::to_string(Value.AsInteger());
    case varDouble: return ShortestText(Value.AsDouble());
    default: return Value.AsString();
    }
}

namespace {

// A decimal text ("12.3400") with the declared scale of its column where the digits
// beyond it are zeros ("12.34" for a scale of 2); other digits stay.
void KeepScale(std::string& Text, int Scale)
{
    const std::size_t point = Text.find('.');
    if (point == std::string::npos || Scale < 0)
        return;
    std::size_t end = Text.size();
    while (end > point + 1 + static_cast<std::size_t>(Scale) && Text[end - 1] == '0')
        --end;
    if (end == point + 1)
        --end;
    Text.resize(end);
}

} // namespace

std::string ExactValueText(const Variant& Value)
{
    switch (Value.VarType()) {
    case varString: return Value.StringRef();
    case varDate: return IsoText(Value.AsDateTime(), true);
    case varBoolean: return Value.AsBoolean() ? "True" : "False";
    default: return ExactDecimalText(Value);
    }
}

namespace {

// The exact text of Value, Field's current value, into Text: written from the value at
// hand, with no text in between for the kinds of most cells.
// The type a value is written as: the field's, or for a field typed value by value the
// value's own kind.
TFieldType ValueFieldType(TField* Field, const Variant& Value)
{
    if (Field->DataType() != ftVariant)
        return Field->DataType();
    switch (Value.VarType()) {
    case varInteger: return ftLargeint;
    case varDouble: return ftFloat;
    case varCurrency: return ftCurrency;
    case varDate: return ftDateTime;
    case varBoolean: return ftBoolean;
    default: return ftMemo;
    }
}

void AssignExactText(TField* Field, const Variant& Value, std::string& Text)
{
    char buffer[48];
    switch (ValueFieldType(Field, Value)) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
        Text.assign(buffer, std::to_chars(buffer, buffer + sizeof buffer, Value.AsInteger()).ptr);
        return;
    case ftFloat: {
        char* end = std::to_chars(buffer, buffer + sizeof buffer, Value.AsDouble(), std::chars_format::general).ptr;
        const std::string& separator = FormatSettings().DecimalSeparator;
        char* point = std::find(buffer, end, '.');
        if (point == end || separator == ".") {
            Text.assign(buffer, end);
        } else {
            Text.assign(buffer, point);
            Text += separator;
            Text.append(point + 1, end);
        }
        return;
    }
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
        if (Value.VarType() != varCurrency && Value.VarType() != varInteger && Value.VarType() != varDouble) {
            Text = Value.AsString();
        } else {
            Text = ExactDecimalText(Value);
            if (Value.VarType() == varCurrency && Field->DataType() == ftBCD)
                KeepScale(Text, Field->Size());
            if (const auto point = Text.find('.'); point != std::string::npos)
                Text.replace(point, 1, FormatSettings().DecimalSeparator);
        }
        return;
    case ftDate:
        Text = IsoText(Value.AsDateTime(), false);
        return;
    case ftDateTime:
    case ftTimeStamp:
        Text = IsoText(Value.AsDateTime(), true);
        return;
    case ftTime:
        Text = IsoTimeText(DateTimeParts(Value.AsDateTime()));
        return;
    case ftBoolean:
        Text = Value.AsBoolean() ? "True" : "False";
        return;
    default:
        if (Value.VarType() == varString)
            Text.assign(Value.StringRef());
        else
            Text = Value.AsString();
        return;
    }
}

} // namespace

std::string ExactFieldText(TField* Field)
{
    Variant holder;
    std::string text;
    AssignExactText(Field, Field->CurrentValue(holder), text);
    return text;
}

std::string LiteralFieldText(TField* Field)
{
    Variant holder;
    switch (ValueFieldType(Field, Field->CurrentValue(holder))) {
    case ftFloat:
        return ShortestText(Field->AsFloat());
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
        if (const Variant value = Field->Value();
            value.VarType() == varCurrency || value.VarType() == varInteger || value.VarType() == varDouble) {
            std::string text = ExactDecimalText(value);
            if (value.VarType() == varCurrency && Field->DataType() == ftBCD)
                KeepScale(text, Field->Size());
            return text;
        }
        return Field->AsString();
    default:
        return ExactFieldText(Field);
    }
}


void UseExactValueTexts(TKVExportBaseComponent& Exporter)
{
    // Asked only without display formats (soFieldMask), before blank-if-zero applies.
    Exporter.OnGetFieldText = [](TPersistent*, TField* Field, std::string& Text, bool& Handled) {
        Variant holder;
        const Variant& value = Field->CurrentValue(holder);
        Handled = !value.IsNull() && !Field->IsBlob();
        if (Handled)
            AssignExactText(Field, value, Text);
    };
}
