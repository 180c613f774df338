#include "cellfile/json_exporter.h"

#include "cellfile/markup_text.h"

#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/utf8.h"

#include <cstdio>
#include <set>


TKVExportToJSON::TKVExportToJSON(QObject* AOwner) : TKVExportToText(AOwner)
{
}

std::string TKVExportToJSON::JsonString(const std::string& Text, long long& Replaced)
{
    std::string out = "\"";
    out.reserve(Text.size() + 2);
    for (std::size_t i = 0; i < Text.size();) {
        const unsigned char c = static_cast<unsigned char>(Text[i]);
        switch (c) {
        case '"': out += "\\\""; ++i; continue;
        case '\\': out += "\\\\"; ++i; continue;
        case '\n': out += "\\n"; ++i; continue;
        case '\r': out += "\\r"; ++i; continue;
        case '\t': out += "\\t"; ++i; continue;
        default: break;
        }
        if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++i;
            continue;
        }
        const std::size_t n = Utf8SequenceLength(Text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++Replaced;
            ++i;
            continue;
        }
        out.append(Text, i, n);
        i += n;
    }
    return out + "\"";
}

bool TKVExportToJSON::IsJsonNumber(const std::string& Text)
{
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < Text.size() && Text[i] >= '0' && Text[i] <= '9')
            ++i;
        return i - start;
    };
    if (i < Text.size() && Text[i] == '-')
        ++i;
    const std::size_t first = i;
    const std::size_t whole = digits();
    if (whole == 0 || (whole > 1 && Text[first] == '0'))
        return false;
    if (i < Text.size() && Text[i] == '.') {
        ++i;
        if (digits() == 0)
            return false;
    }
    if (i < Text.size() && (Text[i] == 'e' || Text[i] == 'E')) {
        ++i;
        if (i < Text.size() && (Text[i] == '+' || Text[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == Text.size();
}

void TKVExportToJSON::WriteFileBegin()
{
    TKVExportToText::WriteFileBegin();
    FRecords = FReplaced = FLinesLeftOut = 0;
    if (!Lines)
        WriteString("[");
}

void TKVExportToJSON::WriteDataBegin()
{
    RequireRecordLayout("JSON", false);
    TKVExportToText::WriteDataBegin();
    FKeys.clear();
    std::set<std::string> used;
    long long ignored = 0;
    for (TKVEColumn* column : VisibleColumns())
        FKeys.push_back(JsonString(UniqueName(CaptionOf(column), used, false), ignored));
}

void TKVExportToJSON::WriteRowStart(bool IsTitle)
{
    if (IsTitle || !FDataStarted)
        return;
    FObject = Lines ? "{" : (FRecords == 0 ? "\n{" : ",\n{");
    FValues = 0;
}

void TKVExportToJSON::WriteData(TField* Field, TCellType CellType, int, int ACol, const std::string& Text,
                                TAlignment, TFont*, TColor)
{
    if (!FDataStarted) {
        ++FLinesLeftOut;
        return;
    }
    if (FValues > 0)
        FObject += ',';
    if (ACol >= 0 && static_cast<std::size_t>(ACol) < FKeys.size())
        FObject += FKeys[static_cast<std::size_t>(ACol)];
    else
        FObject += "\"" + std::to_string(ACol) + "\"";
    FObject += ':';
    ++FValues;
    if (IsPictureCell(Field, CellType)) {
        if (!Text.empty())
            CountChange("picture cells cannot be held by JSON and were written as null", ACol);
        FObject += "null";
        return;
    }
    if (Field ? Field->IsNull() : false) {
        FObject += "null";
        return;
    }
    // A Boolean is a JSON Boolean unless a handler gave it a text of its own.
    if (Field && Field->DataType() == ftBoolean && Text == Field->AsString()) {
        FObject += Field->AsBoolean() ? "true" : "false";
        return;
    }
    const bool numeric = Field && Field->DataType() != ftVariant
        ? IsNumericFieldType(Field->DataType())
        : (CellType == ctInteger || CellType == ctDouble || CellType == ctCurrency);
    if (numeric && IsJsonNumber(Text)) {
        FObject += Text;
        return;
    }
    // An infinity, a NaN or a number formatted for people keeps its text, as a string.
    if (numeric && !Text.empty())
        CountChange("numbers have no JSON number form (infinite, not a number, or formatted) and were written as "
                    "strings", ACol);
    const long long replaced = FReplaced;
    FObject += JsonString(Text, FReplaced);
    if (FReplaced != replaced)
        CountChange("texts held bytes that are not UTF-8; they became U+FFFD, which JSON text must be", ACol);
}

void TKVExportToJSON::WriteRowEnd(bool IsTitle)
{
    if (!IsTitle && FDataStarted) {
        FObject += Lines ? "}\n" : "}";
        WriteString(FObject);
        ++FRecords;
    }
    TKVExportToCellFile::WriteRowEnd(IsTitle);
}

void TKVExportToJSON::WriteFileEnd()
{
    if (!Lines)
        WriteString(FRecords > 0 ? "\n]\n" : "]\n");
    const auto tell = [this](long long Count, const std::string& What) {
        if (Count > 0)
            Statistic().Warnings.push_back(std::to_string(Count) + " " + What);
    };
    tell(FLinesLeftOut, "header and footer lines have no place in JSON and were left out");
    TKVExportToText::WriteFileEnd();
}
