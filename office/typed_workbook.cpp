#include "office/typed_workbook.h"
#include "cellfile/value_text.h"

#include "framework/data_set.h"
#include "framework/files.h"
#include "framework/format_settings.h"

#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>


TTypedWorkbook::TTypedWorkbook(QObject* AOwner) : TKVExportToExcel(AOwner)
{
    OnGetCellParams = [this](TPersistent*, TField* Field, std::string& Text, TFont*, TAlignment&, TColor&,
                             TCellType&) {
        // Display texts (soFieldMask) go as the user formatted them, under no format.
        if (Field && !Text.empty() && !Options.Contains(soFieldMask))
            TypeCell(Field, Text);
    };
}

std::string TTypedWorkbook::GetFormat(TFieldType FieldType)
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

void TTypedWorkbook::TypeCell(TField* Field, std::string& Text)
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
        const std::string exact = ExactDecimalText(Field->Value());
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

int TTypedWorkbook::FindOrAddSheet()
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

int TTypedWorkbook::ActivateSheet()
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

std::vector<std::string> TTypedWorkbook::ChangedWarnings() const
{
    std::vector<std::string> warnings;
    for (const auto& [column, changed] : FChanged) {
        if (changed.Rounded > 0)
            warnings.push_back("column " + column + ": " + std::to_string(changed.Rounded)
                               + " values have more digits than a workbook number holds (about 15) and were rounded");
        if (changed.NotNumbers > 0)
            warnings.push_back("column " + column + ": " + std::to_string(changed.NotNumbers)
                               + " values are infinite or not a number, which a workbook cannot hold; they were "
                                 "written as text");
        if (changed.EarlyDates > 0)
            warnings.push_back("column " + column + ": " + std::to_string(changed.EarlyDates)
                               + " dates lie before 1900-01-01, where workbook dates begin; they were written as text");
    }
    return warnings;
}
