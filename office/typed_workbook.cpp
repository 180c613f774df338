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
        if (Field && Field != FTyped.Field && !Text.empty() && !Options.Contains(soFieldMask))
            TypeCell(Field, Text);
    };
}

std::string TTypedWorkbook::GetFieldStr(TField* Field)
{
    FTyped.Field = nullptr;
    // A text of the host's or one blanked for a zero goes the inherited way and is typed
    // when the cell is made, as is a null, which stays an empty cell.
    if (!Field || Options.Contains(soFieldMask) || OnGetFieldText || BlankIfZero || Field->IsNull())
        return TKVExportToExcel::GetFieldStr(Field);
    TWorkbookValue value;
    if (!WorkbookValueOf(Field, value, FDateSystem)) {
        // A text cell: bytes go as base64, and what a reader cannot tell apart is said.
        if (HoldsBinary(Field)) {
            FChanged[Field->FieldName()].Count(TWorkbookValue::wcBinary, Statistic().TotalCount);
            return Base64Text(Field->AsString());
        }
        std::string text = TKVExportToExcel::GetFieldStr(Field);
        if (const TWorkbookValue::TChange change = WorkbookTextChange(text); change != TWorkbookValue::wcNone)
            FChanged[Field->FieldName()].Count(change, Statistic().TotalCount);
        return text;
    }
    if (value.Change != TWorkbookValue::wcNone)
        FChanged[Field->FieldName()].Count(value.Change, Statistic().TotalCount);
    return Remember(Field, value);
}

void TTypedWorkbook::SetRowEntry(AutomationValue& Entry, TField* Field, const std::string& Text)
{
    const bool typed = Field && Field == FTyped.Field && Text == FTyped.Text;
    if (typed && FTyped.Kind == TWorkbookValue::wkNumber)
        Entry.SetReal(FTyped.Number);
    else if (typed && FTyped.Kind == TWorkbookValue::wkBoolean)
        Entry = AutomationValue(FTyped.Number != 0);
    else if (WorkbookEmptyText(Field, Text))
        Entry = AutomationValue::ByteArray(std::string());
    else
        Entry.SetText(Text);
    FTyped.Field = nullptr;
}

std::string TTypedWorkbook::GetFormat(TFieldType FieldType)
{
    return WorkbookFormat(FieldType);
}

void TTypedWorkbook::TypeCell(TField* Field, std::string& Text)
{
    TWorkbookValue value;
    if (!WorkbookValueOf(Field, value, FDateSystem))
        return;
    if (value.Change != TWorkbookValue::wcNone)
        FChanged[Field->FieldName()].Count(value.Change, Statistic().TotalCount);
    Text = Remember(Field, value);
}

const std::string& TTypedWorkbook::Remember(TField* Field, TWorkbookValue& Value)
{
    FTyped.Field = Field;
    // AutoFit measures the texts the cells were given: numbers go as their texts then,
    // which the spreadsheet reads as the same numbers.
    FTyped.Kind = Value.Kind == TWorkbookValue::wkNumber && AutoFitColumns ? TWorkbookValue::wkText : Value.Kind;
    FTyped.Number = Value.Number;
    // Whole numbers keep their own digits; other numbers go with the run's separator,
    // which the spreadsheet reads. A number's text is its shortest exact form already.
    FTyped.Text = std::move(Value.Text);
    if (Value.Kind == TWorkbookValue::wkNumber)
        if (const auto point = FTyped.Text.find('.'); point != std::string::npos)
            FTyped.Text.replace(point, 1, FormatSettings().DecimalSeparator);
    return FTyped.Text;
}

void TTypedWorkbook::Prepare()
{
    // AddTitle is the user's setting: a run that leaves the caption row out gives it back.
    const bool addTitle = AddTitle;
    try {
        TKVExportToExcel::Prepare();
    } catch (...) {
        AddTitle = addTitle;
        throw;
    }
    AddTitle = addTitle;
}

int TTypedWorkbook::FindOrAddSheet()
{
    FDateSystem = FWorkbook.Call("Date1904").ToBoolean() ? epMac1904 : epLotus1900;
    const int used = ActivateSheet();
    // Rows added below earlier ones leave the sheet's panes as they are, and get no
    // second caption row: the rows above have theirs (or none, as their run chose). The
    // rest of the run (the export style's rows among them) counts no caption row then.
    FreezeFixed = FreezeCaptions && used == 0;
    if (used > 0)
        AddTitle = false;
    // Header lines and captions are texts, whatever the formats of the columns below
    // them: a caption "2024" stays the text it is.
    const int lines = Header().Count() + (AddTitle ? 1 : 0);
    // From the last row up: touching a later row would write the earlier ones out.
    for (int row = used + lines; row > used; --row)
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
