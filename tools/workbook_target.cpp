#include "tools/workbook_target.h"

#include "framework/data_set.h"
#include "framework/files.h"
#include "framework/format_settings.h"

#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

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
std::string ShortestText(double Value, std::chars_format Format = std::chars_format::general)
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

// A number's text as the workbook reads it: the process's decimal separator of the
// moment (the run's own), no grouping.
std::string NumberText(double Value)
{
    std::string text = ShortestText(Value);
    if (const auto point = text.find('.'); point != std::string::npos)
        text.replace(point, 1, FormatSettings().DecimalSeparator);
    return text;
}

// A date-time in ISO form, for a value no workbook date can hold.
std::string IsoText(double Serial, bool WithTime)
{
    int year, month, day, hour, minute, second, millisecond;
    DecodeDateTime(Serial, year, month, day, hour, minute, second, millisecond);
    char text[48];
    if (WithTime)
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
    else
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return text;
}

} // namespace

TCommandLineWorkbook::TCommandLineWorkbook(QObject* AOwner) : TKVExportToExcel(AOwner)
{
    OnGetCellParams = [this](TPersistent*, TField* Field, std::string& Text, TFont*, TAlignment&, TColor&,
                             TCellType&) {
        // Display texts (soFieldMask) go as the user formatted them, under no format.
        if (Field && !Text.empty() && !Options.Contains(soFieldMask))
            TypeCell(Field, Text);
    };
}

std::string TCommandLineWorkbook::GetFormat(TFieldType FieldType)
{
    switch (FieldType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
        return "0";
    case ftFloat:
    case ftBCD:
    case ftFMTBcd:
        return "General";
    case ftCurrency:
        return "#,##0.00##";
    case ftDate:
        return "yyyy-mm-dd";
    case ftTime:
        return "hh:mm:ss";
    case ftDateTime:
    case ftTimeStamp:
        return "yyyy-mm-dd hh:mm:ss";
    default:
        return "@";
    }
}

void TCommandLineWorkbook::TypeCell(TField* Field, std::string& Text)
{
    switch (Field->DataType()) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: {
        const std::int64_t value = Field->AsInteger();
        // Beyond 2^53 a double no longer holds every whole number.
        if (value > (std::int64_t(1) << 53) || value < -(std::int64_t(1) << 53))
            ++FChanged[Field->FieldName()].Rounded;
        Text = std::to_string(value);
        break;
    }
    case ftFloat: {
        const double value = Field->AsFloat();
        if (!std::isfinite(value)) {
            ++FChanged[Field->FieldName()].NotNumbers;
            Text = ShortestText(value);
            break;
        }
        Text = NumberText(value);
        break;
    }
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd: {
        const Variant value = Field->Value();
        std::string exact;
        switch (value.VarType()) {
        case varCurrency: exact = ScaledText(value.AsScaledCurrency()); break;
        case varInteger: exact = std::to_string(value.AsInteger()); break;
        case varDouble: exact = ShortestText(value.AsDouble()); break;
        default: exact = value.AsString(); break;
        }
        const double number = std::strtod(exact.c_str(), nullptr);
        if (!std::isfinite(number)) {
            ++FChanged[Field->FieldName()].NotNumbers;
            Text = exact;
            break;
        }
        if (DecimalKey(exact) != DecimalKey(ShortestText(number, std::chars_format::scientific)))
            ++FChanged[Field->FieldName()].Rounded;
        Text = NumberText(number);
        break;
    }
    case ftDate:
    case ftDateTime:
    case ftTimeStamp: {
        const double serial = Field->AsDateTime();
        // The workbook's day 1 is 1900-01-01 and it counts a 29 February 1900 that never
        // was: from 1900-03-01 on the serials agree, before that they are one apart,
        // and before 1900 there is no workbook date at all.
        if (serial >= 61)
            Text = NumberText(serial);
        else if (serial >= 2)
            Text = NumberText(serial - 1);
        else {
            ++FChanged[Field->FieldName()].EarlyDates;
            Text = IsoText(serial, Field->DataType() != ftDate);
        }
        break;
    }
    case ftTime:
        Text = NumberText(std::fabs(Field->AsDateTime() - std::trunc(Field->AsDateTime())));
        break;
    default:
        break;
    }
}

int TCommandLineWorkbook::FindOrAddSheet()
{
    const int used = ActivateSheet();
    // Rows added below earlier ones leave the sheet's panes as they are.
    FreezeFixed = FreezeCaptions && used == 0;
    // Header lines and captions are texts, whatever the formats of the columns below
    // them: a caption "2024" stays the text it is.
    const int lines = Header().Count() + (AddTitle ? 1 : 0);
    for (int row = used + 1; row <= used + lines; ++row)
        FExcelApp.Call("ActiveSheet").Get("Rows", {row}).Put("NumberFormat", "@");
    return used;
}

int TCommandLineWorkbook::ActivateSheet()
{
    AutomationValue sheets = FWorkbook.Call("Sheets");
    const int count = sheets.Call("Count").ToInteger();
    const QString wanted = QString::fromStdString(SheetName);
    for (int i = 1; i <= count; ++i) {
        AutomationValue sheet = sheets.Get("Item", {i});
        if (wanted.compare(QString::fromStdString(sheet.Call("Name").ToString()), Qt::CaseInsensitive) == 0) {
            sheet.Call("Activate");
            return FExcelApp.Call("ActiveSheet").Call("UsedRange").Call("Rows").Call("Count").ToInteger();
        }
    }
    // A new workbook's own empty sheet takes the rows; an opened one or a template gets
    // a sheet more.
    const bool fresh = TemplateFile.empty() && !(Options.Contains(soMergeData) && FileExists(FileName()));
    AutomationValue sheet = fresh && count == 1 ? sheets.Get("Item", {1}) : sheets.Call("Add");
    sheet.Put("Name", SheetName);
    sheet.Call("Activate");
    return 0;
}

std::string WorkbookSheetName(const std::string& Name)
{
    QString name = QString::fromStdString(Name);
    for (QChar& c : name)
        if (QStringLiteral(":\\/?*[]").contains(c))
            c = u'_';
    while (name.startsWith(u'\''))
        name.remove(0, 1);
    name.truncate(31);
    while (name.endsWith(u'\''))
        name.chop(1);
    // A character outside the basic plane is two units: never cut between them.
    if (!name.isEmpty() && name.back().isHighSurrogate())
        name.chop(1);
    return name.isEmpty() ? std::string("Sheet1") : name.toStdString();
}

std::string SheetNameProblem(const std::string& Name)
{
    const QString name = QString::fromStdString(Name);
    if (name.isEmpty() || name.size() > 31)
        return "a sheet name has 1 to 31 characters";
    for (QChar c : name)
        if (QStringLiteral(":\\/?*[]").contains(c))
            return "a sheet name holds none of : \\ / ? * [ ]";
    if (name.startsWith(u'\'') || name.endsWith(u'\''))
        return "a sheet name neither starts nor ends with an apostrophe";
    return {};
}

void TRowWindowEngine::First()
{
    if (!FStarted)
        TKVEDatasetDataEngine::First();
    FStarted = true;
    FBefore += FTaken;
    FTaken = 0;
}

void TRowWindowEngine::Next()
{
    TKVEDatasetDataEngine::Next();
    ++FTaken;
}

bool TRowWindowEngine::Eof()
{
    return FTaken >= FSize || TKVEDatasetDataEngine::Eof();
}

int TRowWindowEngine::RecordCount()
{
    // Between runs (a window walked to its end) the count is the next window's.
    const int start = FBefore + (FTaken >= FSize ? FTaken : 0);
    return std::clamp(TKVEDatasetDataEngine::RecordCount() - start, 0, FSize);
}
