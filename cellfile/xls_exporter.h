#pragma once
// The .xls workbook written straight from the cell-file pipeline (teXLS): the native
// spreadsheet's own workbook model (platform/automation/excel) is filled by C++ calls and
// saved by its BIFF8 writer, with no automation bridge between them. The workbook is the
// one the spreadsheet exporter makes of a plain table through the bridge, with the
// program's typed cells:
//
//   - one sheet (SheetName); header lines, the caption row and footer lines are texts in
//     column A / the caption row, under the text format;
//   - columns as the spreadsheet exporter formats them: width (at most 50 characters),
//     alignment, number format by the field's type, and with soColorsFonts the column's
//     font and fill, each cell's own font, fill and alignment where the pipeline changed
//     them; soColLines / soRowLines draw thin lines;
//   - values from the field, not from its display text: whole numbers, floats, money and
//     decimals are numbers, dates and times serials of the workbook's date system (a new
//     workbook's is the 1900 system), Booleans
//     logical values; an empty text is a text of no characters and a null an empty
//     cell. What a workbook number or date cannot hold (a 64-bit integer beyond
//     2^53, a decimal with more than a double's digits, an infinite float, a date before
//     the workbook's first day) is written as near as it can be and counted in the run's
//     warnings;
//   - the caption rows frozen with FreezeCaptions, the sheet protected with Password.
//
// An .xls sheet holds 65,536 rows and 256 columns, and this writer stores no pictures:
// an export that needs more fails before the target is touched. The file goes through
// the workbook's writer, which writes beside the target and renames when whole. Only the
// columnar layout is written (a sheet's rows are streamed in order).

#include "cellfile/cell_file_exporter.h"
#include "export/message_table.h"
#include "framework/value_contract.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class XlWorkbook;
class XlSheet;

// What a workbook cell holds for a field's value: a number (or a date-time serial), a
// logical value, or a text when the value has no workbook number.
struct TWorkbookValue {
    enum TKind : std::uint8_t { wkText, wkNumber, wkBoolean };
    enum TChange : std::uint8_t { wcNone, wcRounded, wcNotNumber, wcEarlyDate, wcBinary, wcNotUtf8, wcEarlyDate1904 };
    TKind Kind = wkText;
    double Number = 0; // the number, or 1 for TRUE and 0 for FALSE
    std::string Text;  // the number's shortest exact text, TRUE or FALSE, or the text
    TChange Change = wcNone;
};
// The workbook value of a field's current value, by the field's type; false for types
// that are written as their text (strings, blobs). The field must not be null. Dates
// are serials of DateSystem, the workbook's: epLotus1900 (the 1900 system, day 1 is
// 1900-01-01) or epMac1904 (the 1904 system, day 0 is 1904-01-01); a date before the
// system's first day is its ISO text (wcEarlyDate, wcEarlyDate1904).
bool WorkbookValueOf(TField* Field, TWorkbookValue& Value, TDateEpoch DateSystem = epLotus1900);
// What a text cell changes of a field's value that is not null: bytes that are not UTF-8
// (read as Windows-1252).
TWorkbookValue::TChange WorkbookTextChange(const std::string& Text);
// Whether a cell whose text is Text holds an empty text rather than nothing: Text is
// empty and the field's value is a text of no characters, not a null nor a value a
// handler or BlankIfZero blanked.
bool WorkbookEmptyText(TField* Field, const std::string& Text);
// Values a workbook could not hold as they left, by kind, for one column.
struct TWorkbookChanges {
    // By kind (TWorkbookValue::TChange): how many values, and the first one's record
    // (counted from 1).
    long long Counts[8] = {};
    long long First[8] = {};
    void Count(TWorkbookValue::TChange Change, long long Record);
};
// One sentence per column and kind of change, naming the first record.
std::vector<std::string> WorkbookChangeWarnings(const std::map<std::string, TWorkbookChanges>& Changed);
// The number format of a column of FieldType in a typed workbook: "0" for whole numbers,
// "General" for floats, decimals and Booleans, a money, date, time or date-time format,
// "@" (text) for the rest.
std::string WorkbookFormat(TFieldType FieldType);

class TKVExportToXLS : public TKVExportToCellFile {
    Q_OBJECT
public:
    explicit TKVExportToXLS(QObject* AOwner = nullptr);
    ~TKVExportToXLS() override;

    // The sheet the rows go to.
    std::string SheetName = GeneratorVer;
    // Freezes the header and caption rows (with AddTitle).
    bool FreezeCaptions = false;
    // Fits every column to its longest text before saving.
    bool AutoFitColumns = false;
    // Protects the sheet with this password when not empty.
    std::string Password;

    std::string Extension() override { return ".XLS"; }
    std::string GetFieldStr(TField* Field) override;
    void InternalFileCreate(const std::string& FileName) override;
    void WriteDimensions(int ARowCount, int AColCount) override;
    void WriteColWidth(int ACol, int AWidth) override;
    void WriteDataBegin() override;
    void WriteRowStart(bool IsTitle) override;
    void WriteRowEnd(bool IsTitle) override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;
    void CloseFileStream() override;

    void Assign(const TPersistent* Source) override;

private:
    void FormatColumns();
    void WriteCaption(int Row, int Col, const std::string& Text, TAlignment Alignment, TFont* Font, TColor Color);
    void WriteCell(TField* Field, int Row, int Col, const std::string& Text, TAlignment Alignment, TFont* Font,
                   TColor Color);
    void PutValue(TField* Field, int Row, int Col, const std::string& Text);
    // Row and column of the sheet (from 1) checked against the .xls sheet's size.
    void CheckPlace(int Row, int Col) const;
    void Save();

    std::unique_ptr<XlWorkbook> FBook;
    XlSheet* FSheet = nullptr;
    std::string FSaveFileName;
    std::vector<TKVEColumn*> FVisible;
    int FWritingRow = 0;       // the sheet row of the data row being written, 0 outside one
    int FRowCells = 0;         // cells of that row, for its lines
    int FFirstDataRow = 0;
    int FRecordsWritten = 0;   // records of this file so far
    std::string FLastFieldText; // what GetFieldStr gave last: the text of an unchanged cell
    std::map<std::string, TWorkbookChanges> FChanged;
};
