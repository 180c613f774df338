// The order of the writes follows the spreadsheet exporter's conversation with the
// spreadsheet server, so that both give the same workbook: the header and caption rows
// get the text format first, then the columns their formats, widths and fonts; each cell
// is styled before its value is put; a row's lines come after its cells; the columns are
// shown again, the panes frozen and the sheet protected just before the save.

#include "cellfile/xls_exporter.h"

#include "cellfile/value_text.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/utf8.h"
#include "platform/automation/excel/excel_workbook.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// The spreadsheet's horizontal-alignment values.
int SheetAlignment(TAlignment Alignment)
{
    switch (Alignment) {
    case taRightJustify: return -4152;
    case taCenter: return -4108;
    default: return -4131;
    }
}

// Border bits of a style: the thin line on the left, top, bottom and right.
constexpr std::uint8_t LeftLine = 1, TopLine = 2, BottomLine = 4, RightLine = 8;

// A font as the spreadsheet exporter sends it, one property at a time through Restyle
// (each step may make a style of its own, as each call to the server does): name, size,
// colour (a cell's only when it differs from what the cell shows, and an automatic
// colour shows black), then the style flags that are set.
template <class R>
void PutFont(R&& Restyle, const TFont& Font, bool ResolveColor, bool WholeColumn)
{
    Restyle([&](XlStyle& s) { s.Font.Name = Font.Name; });
    Restyle([&](XlStyle& s) { s.Font.Size = Font.Size; });
    const int color = static_cast<int>(ResolveColor ? ColorToRGB(Font.Color) : Font.Color) & 0xFFFFFF;
    Restyle([&](XlStyle& s) {
        if (WholeColumn || (s.Font.Color < 0 ? 0 : s.Font.Color) != color)
            s.Font.Color = color;
    });
    if (Font.HasStyle(fsBold))
        Restyle([](XlStyle& s) { s.Font.Bold = true; });
    if (Font.HasStyle(fsItalic))
        Restyle([](XlStyle& s) { s.Font.Italic = true; });
    if (Font.HasStyle(fsUnderline))
        Restyle([](XlStyle& s) { s.Font.Underline = true; });
}

} // namespace

TWorkbookValue::TChange WorkbookTextChange(const std::string& Text)
{
    return IsValidUtf8(Text) ? TWorkbookValue::wcNone : TWorkbookValue::wcNotUtf8;
}

bool WorkbookEmptyText(TField* Field, const std::string& Text)
{
    // A number or date blanked for a zero, or a value a handler blanked, has a text of
    // its own; an empty text has none.
    return Field && Text.empty() && !Field->IsNull() && Field->AsString().empty();
}

void TWorkbookChanges::Count(TWorkbookValue::TChange Change, long long Record)
{
    if (Change == TWorkbookValue::wcNone)
        return;
    if (Counts[Change]++ == 0)
        First[Change] = Record;
}

std::vector<std::string> WorkbookChangeWarnings(const std::map<std::string, TWorkbookChanges>& Changed)
{
    static const std::pair<TWorkbookValue::TChange, const char*> kinds[] = {
        {TWorkbookValue::wcRounded, "values have more digits than a workbook number holds (about 15) and were rounded"},
        {TWorkbookValue::wcNotNumber,
         "values are infinite or not a number, which a workbook cannot hold; they were written as text"},
        {TWorkbookValue::wcEarlyDate, "dates lie before 1900-01-01, where workbook dates begin; they were written as text"},
        {TWorkbookValue::wcEarlyDate1904,
         "dates lie before 1904-01-01, where the dates of this workbook (of the 1904 date system) begin; they were "
         "written as text"},
        {TWorkbookValue::wcBinary, "binary values have no form in a workbook and were written as base64 text"},
        {TWorkbookValue::wcNotUtf8, "texts held bytes that are not UTF-8; they were read as Windows-1252 characters"},
    };
    std::vector<std::string> warnings;
    for (const auto& [column, changed] : Changed)
        for (const auto& [kind, what] : kinds)
            if (changed.Counts[kind] > 0)
                warnings.push_back("column " + column + ": " + std::to_string(changed.Counts[kind]) + " " + what
                                   + " (the first at record " + std::to_string(changed.First[kind]) + ")");
    return warnings;
}

std::string WorkbookFormat(TFieldType FieldType)
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
    case ftBoolean:
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

bool WorkbookValueOf(TField* Field, TWorkbookValue& Value, TDateEpoch DateSystem)
{
    Value = TWorkbookValue();
    TFieldType type = Field->DataType();
    if (type == ftVariant) {
        // A field typed value by value: numbers go as numbers, the rest as text.
        Variant holder;
        const Variant& value = Field->CurrentValue(holder);
        type = value.VarType() == varInteger ? ftLargeint : value.VarType() == varDouble ? ftFloat : ftUnknown;
    }
    switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: {
        const std::int64_t value = Field->AsInteger();
        if (!DoubleHoldsInteger(value))
            Value.Change = TWorkbookValue::wcRounded;
        Value.Kind = TWorkbookValue::wkNumber;
        Value.Number = static_cast<double>(value);
        Value.Text = std::to_string(value);
        return true;
    }
    case ftFloat: {
        const double value = Field->AsFloat();
        if (std::isfinite(value))
            Value.Kind = TWorkbookValue::wkNumber;
        else
            Value.Change = TWorkbookValue::wcNotNumber;
        Value.Number = value;
        Value.Text = ShortestText(value);
        return true;
    }
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd: {
        const std::string exact = ExactDecimalText(Field->Value());
        const double number = std::strtod(exact.c_str(), nullptr);
        Value.Number = number;
        const bool finite = std::isfinite(number);
        Value.Kind = finite ? TWorkbookValue::wkNumber : TWorkbookValue::wkText;
        Value.Text = finite ? ShortestText(number) : exact;
        if (!finite)
            Value.Change = TWorkbookValue::wcNotNumber;
        else if (DecimalKey(exact) != DecimalKey(ShortestText(number, std::chars_format::scientific)))
            Value.Change = TWorkbookValue::wcRounded;
        return true;
    }
    case ftDate:
    case ftDateTime:
    case ftTimeStamp: {
        const double serial = Field->AsDateTime();
        // The 1900 system's day 1 is 1900-01-01 and it counts a 29 February 1900 that
        // never was: from 1900-03-01 on the serials agree, before that they are one
        // apart. The 1904 system counts from day 0, 1904-01-01. Before its first day a
        // system has no date at all.
        const bool mac = DateSystem == epMac1904;
        if (const TDayAndTime t = DayAndTime(serial, mac ? epMac1904 : epLotus1900); t.Day >= (mac ? 0 : 1)) {
            Value.Kind = TWorkbookValue::wkNumber;
            Value.Number = static_cast<double>(t.Day) + t.Fraction();
            Value.Text = ShortestText(Value.Number);
        } else {
            Value.Change = mac ? TWorkbookValue::wcEarlyDate1904 : TWorkbookValue::wcEarlyDate;
            Value.Text = IsoText(serial, Field->DataType() != ftDate);
        }
        return true;
    }
    case ftTime:
        Value.Kind = TWorkbookValue::wkNumber;
        Value.Number = TimeOfDay(Field->AsDateTime());
        Value.Text = ShortestText(Value.Number);
        return true;
    case ftBoolean:
        Value.Kind = TWorkbookValue::wkBoolean;
        Value.Number = Field->AsBoolean() ? 1 : 0;
        Value.Text = Value.Number != 0 ? "TRUE" : "FALSE";
        return true;
    default:
        return false;
    }
}

TKVExportToXLS::TKVExportToXLS(QObject* AOwner) : TKVExportToCellFile(AOwner)
{
    SetTableType(teXLS);
}

TKVExportToXLS::~TKVExportToXLS() = default;

void TKVExportToXLS::Assign(const TPersistent* Source)
{
    TKVExportToCellFile::Assign(Source);
    if (auto* source = dynamic_cast<const TKVExportToXLS*>(Source)) {
        SheetName = source->SheetName;
        FreezeCaptions = source->FreezeCaptions;
        AutoFitColumns = source->AutoFitColumns;
        Password = source->Password;
    }
}

std::string TKVExportToXLS::GetFieldStr(TField* Field)
{
    FLastFieldText = TKVExportToCellFile::GetFieldStr(Field);
    return FLastFieldText;
}

void TKVExportToXLS::InternalFileCreate(const std::string& FileName)
{
    if (Layout != elColumnar)
        throw Exception("An .xls sheet is written a row per record: the "
                        + std::string(Layout == elReversedColumnar ? "reversed columnar" : "tabular")
                        + " layout cannot be written");
    // Rows added to a workbook on disk need the spreadsheet application, which reads it.
    if (Options.Contains(soMergeData) && FileExists(FileName))
        throw Exception("The .xls file is written anew here and cannot take rows added to " + FileName
                        + "; nothing was changed");
    FBook = std::make_unique<XlWorkbook>();
    FSheet = &FBook->AddSheet();
    FSheet->Name = SheetName;
    FSaveFileName = FileName;
    FVisible = VisibleColumns();
    FWritingRow = 0;
    FFirstDataRow = 0;
    FRecordsWritten = 0;
    FChanged.clear();
}

void TKVExportToXLS::CheckPlace(int Row, int Col) const
{
    if (Row > XlsMaxRows || Col > XlsMaxColumns)
        throw Exception("The .xls file format holds at most 65,536 rows and 256 columns a sheet; sheet '"
                        + FSheet->Name + "' needs " + (Row > XlsMaxRows ? "row " + std::to_string(Row)
                                                                          : "column " + std::to_string(Col))
                        + ". Save it as .xlsx; nothing was saved");
}

void TKVExportToXLS::WriteDimensions(int ARowCount, int AColCount)
{
    TKVExportToCellFile::WriteDimensions(ARowCount, AColCount);
    CheckPlace(Header().Count() + ARowCount + Footer().Count(), AColCount - 1);
    // Header lines and captions are texts, whatever the formats of the columns below
    // them: a caption "2024" stays the text it is.
    const int lines = Header().Count() + (AddTitle ? 1 : 0);
    // From the last row up: touching a later row would write the earlier ones out.
    for (int row = lines; row >= 1; --row)
        FSheet->RestyleRow(row, [](XlStyle& s) { s.NumberFormat = "@"; });
    FormatColumns();
}

void TKVExportToXLS::FormatColumns()
{
    TKVECustomDataEngine* engine = SourceEngine();
    for (std::size_t k = 0; k < FVisible.size(); ++k) {
        TKVEColumn* column = FVisible[k];
        const int c = static_cast<int>(k) + 1;
        if (Options.Contains(soColorsFonts)) {
            const int color = static_cast<int>(ColorToRGB(column->Color)) & 0xFFFFFF;
            if (color != 0xFFFFFF)
                FSheet->RestyleColumn(c, [&](XlStyle& s) { s.Fill = color; });
            PutFont([&](auto f) { FSheet->RestyleColumn(c, f); }, column->Font(), true, true);
        }
        if (!Options.Contains(soFieldMask)) {
            std::string format = WorkbookFormat(engine->DataTypeByColumn(column));
            if (format == "General")
                format.clear();
            FSheet->RestyleColumn(c, [&](XlStyle& s) { s.NumberFormat = format; });
        }
        FSheet->RestyleColumn(c, [&](XlStyle& s) { s.HAlign = SheetAlignment(column->Alignment); });
        if (Options.Contains(soColLines)) {
            FSheet->RestyleColumn(c, [](XlStyle& s) { s.Borders |= LeftLine; });
            FSheet->RestyleColumn(c, [](XlStyle& s) { s.Borders |= RightLine; });
        }
    }
}

void TKVExportToXLS::WriteColWidth(int ACol, int AWidth)
{
    // Widths of at most 50 characters; a column of no width gets the standard one.
    if (ACol >= 0 && static_cast<std::size_t>(ACol) < FVisible.size())
        FSheet->Column(ACol + 1).Width = AWidth > 0 ? std::min(AWidth, 50) : -1;
}

void TKVExportToXLS::WriteDataBegin()
{
    TKVExportToCellFile::WriteDataBegin();
    FFirstDataRow = FCurrentRow + 1;
}

void TKVExportToXLS::WriteRowStart(bool IsTitle)
{
    TKVExportToCellFile::WriteRowStart(IsTitle);
    FRowCells = 0;
    FRecordsWritten += !IsTitle;
}

void TKVExportToXLS::WriteRowEnd(bool IsTitle)
{
    // Lines along a caption row go over the whole row, along a data row over its cells.
    if (FWritingRow > 0 && Options.Contains(soRowLines)) {
        if (IsTitle) {
            FSheet->RestyleRow(FWritingRow, [](XlStyle& s) { s.Borders |= TopLine; });
            FSheet->RestyleRow(FWritingRow, [](XlStyle& s) { s.Borders |= BottomLine; });
        } else {
            for (const std::uint8_t bit : {TopLine, BottomLine})
                for (int c = 1; c <= FRowCells; ++c) {
                    XlCell& cell = FSheet->Cell(FWritingRow, c);
                    cell.Style = FBook->Styles.WithBorder(cell.Style, bit, true);
                }
        }
    }
    FWritingRow = 0;
    TKVExportToCellFile::WriteRowEnd(IsTitle);
}

void TKVExportToXLS::WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                               TAlignment Alignment, TFont* Font, TColor Color)
{
    if (!FDataStarted) {
        // A header or footer line: a text in column A.
        CheckPlace(ARow + 1, 1);
        FSheet->PutText(ARow + 1, 1, Text);
        return;
    }
    const int row = ARow + 1;
    const int col = ACol + 1;
    CheckPlace(row, col);
    if (static_cast<std::size_t>(ACol) >= FVisible.size())
        return;
    if (IsPictureCell(Field, CellType) && !Text.empty())
        throw Exception("The .xls file format written here holds no pictures; the cell "
                        + std::string(1, static_cast<char>('A' + ACol % 26)) + std::to_string(row)
                        + " has one. Save it as .xlsx or .docx; nothing was saved");
    // The blank row after the captions stays empty.
    if (row < FFirstDataRow && CellType == ctBlank)
        return;
    FWritingRow = row;
    FRowCells = std::max(FRowCells, col);
    if (row < FFirstDataRow) {
        WriteCaption(row, col, Text, Alignment, Font, Color);
        return;
    }
    WriteCell(Field, row, col, Text, Alignment, Font, Color);
}

void TKVExportToXLS::WriteCaption(int Row, int Col, const std::string& Text, TAlignment Alignment, TFont* Font,
                                  TColor Color)
{
    if (Options.Contains(soColorsFonts)) {
        const TKVEColumnTitle& title = FVisible[static_cast<std::size_t>(Col - 1)]->Title();
        // The spreadsheet exporter gives captions no export-style colour.
        TColor styled = title.Color;
        AssignStyle(Header().Count() + 1, styled);
        if (Color == styled)
            Color = title.Color;
        XlCell& cell = FSheet->Cell(Row, Col);
        const int rgb = static_cast<int>(ColorToRGB(Color)) & 0xFFFFFF;
        const int columnFill = FBook->Styles.Get(FSheet->Column(Col).Style).Fill;
        if (Color != title.Color || rgb != (columnFill < 0 ? 0xFFFFFF : columnFill))
            FSheet->Restyle(cell, [&](XlStyle& s) { s.Fill = rgb; });
        if (Alignment != title.Alignment)
            FSheet->Restyle(cell, [&](XlStyle& s) { s.HAlign = SheetAlignment(Alignment); });
        if (Font)
            PutFont([&](auto f) { FSheet->Restyle(cell, f); }, *Font, false, false);
    }
    FSheet->PutText(Row, Col, Text);
}

void TKVExportToXLS::WriteCell(TField* Field, int Row, int Col, const std::string& Text, TAlignment Alignment,
                               TFont* Font, TColor Color)
{
    if (Options.Contains(soColorsFonts)) {
        TKVEColumn* column = FVisible[static_cast<std::size_t>(Col - 1)];
        // The spreadsheet exporter counts the export style's odd and even rows from the
        // first record, the pipeline from the first line of the sheet.
        TColor styled = column->Color;
        AssignStyle(Header().Count() + FTitleRows + FRecordsWritten, styled);
        if (Color == styled) {
            Color = column->Color;
            AssignStyle(FRecordsWritten, Color);
        }
        XlCell& cell = FSheet->Cell(Row, Col);
        if (Color != column->Color)
            FSheet->Restyle(cell, [&](XlStyle& s) { s.Fill = static_cast<int>(ColorToRGB(Color)) & 0xFFFFFF; });
        if (Alignment != column->Alignment)
            FSheet->Restyle(cell, [&](XlStyle& s) { s.HAlign = SheetAlignment(Alignment); });
        if (Font)
            PutFont([&](auto f) { FSheet->Restyle(cell, f); }, *Font, true, false);
    }
    PutValue(Field, Row, Col, Text);
}

void TKVExportToXLS::PutValue(TField* Field, int Row, int Col, const std::string& Text)
{
    // The field's own value, unless a handler changed the cell's text or the user's
    // display formats (soFieldMask) are to be kept.
    TWorkbookValue value;
    if (Field && !Text.empty() && Text == FLastFieldText && !Options.Contains(soFieldMask) && !Field->IsNull()
        && WorkbookValueOf(Field, value, FBook->Date1904 ? epMac1904 : epLotus1900)) {
        if (value.Change != TWorkbookValue::wcNone)
            FChanged[Field->FieldName()].Count(value.Change, FRecordNumber);
        switch (value.Kind) {
        case TWorkbookValue::wkNumber: FSheet->PutNumber(Row, Col, value.Number); break;
        case TWorkbookValue::wkBoolean: FSheet->PutBoolean(Row, Col, value.Number != 0); break;
        case TWorkbookValue::wkText: FSheet->PutText(Row, Col, value.Text); break;
        }
        return;
    }
    if (Field && !Field->IsNull() && !BlankIfZero && FDataStarted)
        if (const TWorkbookValue::TChange change = WorkbookTextChange(Text); change != TWorkbookValue::wcNone)
            FChanged[Field->FieldName()].Count(change, FRecordNumber);
    if (WorkbookEmptyText(Field, Text))
        FSheet->PutTextAsIs(Row, Col, Text);
    else
        FSheet->PutText(Row, Col, Text);
}

void TKVExportToXLS::Save()
{
    for (int c = 1; c <= Columns().Count(); ++c) {
        XlColumn& column = FSheet->Column(c);
        column.Hidden = false;
        if (column.Width == 0)
            column.Width = -1;
    }
    if (AutoFitColumns)
        for (auto& [c, column] : FSheet->Columns())
            if (column.MaxChars > 0)
                column.Width = std::min(255.0, static_cast<double>(column.MaxChars) + 1.5);
    if (FreezeCaptions && AddTitle && FFirstDataRow > 0) {
        // The first data row is selected, so the header and caption rows stay in view.
        FSheet->SelRow = FFirstDataRow;
        FSheet->SelCol = 0;
        FSheet->FreezeRows = FFirstDataRow - 1;
        FSheet->FreezeCols = 0;
    }
    if (!Password.empty()) {
        FSheet->Protected = true;
        FSheet->PasswordHash = XlLegacyPasswordHash(Password);
    }
    FBook->SaveXls(FSaveFileName);
    for (std::string& warning : WorkbookChangeWarnings(FChanged))
        Statistic().Warnings.push_back(std::move(warning));
    for (std::string& line : FChanges.TakeLines(FSaveFileName, FChangeNames))
        Statistic().Warnings.push_back(std::move(line));
}

void TKVExportToXLS::CloseFileStream()
{
    // With a caller's stream the inherited close writes the footer into the sheet.
    const bool footerWritten = FStream != nullptr;
    TKVExportToCellFile::CloseFileStream();
    if (!FBook)
        return;
    // A failed export saves nothing: an existing target keeps its content.
    try {
        if (!FExportFailed) {
            if (!footerWritten)
                WriteFooter();
            Save();
        }
    } catch (...) {
        FBook.reset();
        FSheet = nullptr;
        throw;
    }
    FBook.reset();
    FSheet = nullptr;
}
