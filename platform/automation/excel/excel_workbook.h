#pragma once
// The native spreadsheet's workbook model and its writers (.xlsx, .xls).
//
// Rows are streamed: a sheet holds in memory only the rows from the most recently
// touched one on; touching a later row writes every earlier held row to the sheet's spool
// file in a compact form of its own, which the writer of the format chosen at save time
// reads back row by row. So memory stays flat however many rows a sheet gets, as long as
// rows arrive in order; touching a row that was already written raises an error.
// Column settings (width, hidden, column formats) and sheet settings (frozen panes,
// protection, page setup, pictures) are kept until the workbook is saved.
//
// How a text put into a cell is read (the way the spreadsheet application reads typing):
//   1. An empty text clears the cell's value (its format stays); PutTextAsIs keeps an
//      empty text as one (a cell holding a text of no characters).
//   2. A cell whose number format is "@" keeps the text exactly as it is.
//   3. Otherwise a text that reads as a number becomes that number: blanks around it,
//      an optional sign, digits, optionally grouped in threes by the current thousand
//      separator, an optional current decimal separator with digits, an optional
//      exponent (e or E, optional sign, digits). The same form with "." as the decimal
//      separator and no grouping is read too (that is how numbers cross the automation
//      boundary when the current decimal separator is another one).
//   4. Otherwise a text that reads as a date, a time or both becomes a date-time serial
//      of the workbook's date system (XlDateSerial): a date is day, month and year in the order of the current
//      short date format, separated by the current date separator (a two-digit year is
//      19xx from 30 on, else 20xx); a time is hours and minutes, optionally seconds,
//      separated by the current time separator (or ":"); a date and a time are separated
//      by one blank. A cell of the general format then gets the built-in date (14),
//      date-time (22) or time (21) format, so readers show it as a date.
//   5. Anything else stays text as it is (also "TRUE", "12%", and texts starting with an
//      apostrophe; nothing is dropped).
// A logical value is put as one (PutBoolean). A cell formatted as text takes the General
// format with it: some readers show a logical value under the text format as 1 or 0.
// "Current" means the process-wide format settings at the moment of the put.

#include "framework/exceptions.h"
#include "framework/files.h"
#include "platform/automation/word/word_pictures.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

// An open read-write file without a name in the temporary folder (it disappears with the
// process, even a killed one). Raises EStreamError.
std::unique_ptr<QFile> XlScratchFile(const std::string& what);

// A number as SpreadsheetML writes it: whole numbers in plain digits, others in the
// shortest form that reads back exactly.
std::string XlNumberText(double v);
void XlAppendNumberText(std::string& out, double v);

constexpr int XlMaxRows = 1048576;
constexpr int XlMaxColumns = 16384;
constexpr std::size_t XlMaxTextLength = 32767;
// The .xls file format's sheet size.
constexpr int XlsMaxRows = 65536;
constexpr int XlsMaxColumns = 256;

struct XlFont {
    std::string Name = "Calibri";
    double Size = 11;
    int Color = -1; // BGR as the application's Color; -1 automatic
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    auto operator<=>(const XlFont&) const = default;
};

struct XlStyle {
    std::string NumberFormat; // empty: General
    XlFont Font;
    int Fill = -1;           // BGR; -1 none
    std::uint8_t Borders = 0; // bit 0 left, 1 top, 2 bottom, 3 right: thin lines
    int HAlign = 0;          // 0 general, else the application's alignment value
    auto operator<=>(const XlStyle&) const = default;
};

// Every distinct style once; index 0 is the default style.
class XlStyles {
public:
    XlStyles();
    int Intern(const XlStyle& style);
    // Style `style` with the thin line of border bit `bit` on or off. Remembered, as lines
    // are drawn along every row of an export.
    int WithBorder(int style, std::uint8_t bit, bool on);
    // Style `style` under the General number format when it has the text format ("@");
    // remembered, as every logical value of a text-formatted column asks for it.
    int WithoutTextFormat(int style);
    const XlStyle& Get(int index) const { return FStyles.at(static_cast<std::size_t>(index)); }
    int Count() const { return static_cast<int>(FStyles.size()); }
    // The styles part: `existing` (a workbook's own styles part, or empty for a new one)
    // with every style but the default appended as one cell format each, in order.
    std::string Xml(const std::string& existing) const;
    // The styles part of an opened package: `existing` with the styles of ours that
    // `used` marks (by index) as cell formats. A style equal to a cell format the part
    // has (number format, font, fill, border and alignment, based on the default cell
    // style) takes that one; the others are appended, with the fonts, fills, borders
    // and number formats they need where the part has no equal one. `xfOf` receives the
    // cell-format index of every style (0 for the default style and unused ones).
    std::string Xml(const std::string& existing, const std::vector<char>& used, std::vector<int>& xfOf) const;
    // The number of cell formats in a styles part; -1 when it cannot be read.
    static int CountXfs(const std::string& stylesXml);

private:
    std::vector<XlStyle> FStyles;
    std::map<XlStyle, int> FIndex;
    std::unordered_map<std::uint64_t, int> FBorderChanges;
    struct RecentBorderChange {
        std::uint64_t Key = ~std::uint64_t(0);
        int Style = 0;
    };
    std::array<RecentBorderChange, 64> FRecentBorderChanges;
    std::unordered_map<int, int> FWithoutTextFormat;
};

// A cell's value: none, a number (also a date-time serial), a text (possibly empty), or
// a logical value (Number 1 for TRUE, 0 for FALSE).
enum class XlKind : std::uint8_t { Blank, Number, Text, Boolean };

struct XlCell {
    XlKind Kind = XlKind::Blank;
    double Number = 0; // a number, or a logical value's 1 or 0
    std::string Text;
    int Style = 0;
};

struct XlRow {
    // The row's cells in column order.
    std::vector<std::pair<int, XlCell>> Cells;
    double Height = 0; // points; 0 default
    int Style = -1;    // -1: none

    // The cell of column c; null when the row has none.
    XlCell* Find(int c)
    {
        if (Cells.empty() || Cells.back().first < c) return nullptr;
        if (Cells.back().first == c) return &Cells.back().second;
        auto it = LowerBound(c);
        return it->first == c ? &it->second : nullptr;
    }
    // The cell of column c, added as a blank one (`added` true) when the row has none.
    XlCell& At(int c, bool& added)
    {
        added = false;
        // Cells mostly arrive from left to right.
        if (Cells.empty() || Cells.back().first < c) {
            added = true;
            return Cells.emplace_back(c, XlCell()).second;
        }
        auto it = LowerBound(c);
        if (it->first != c) {
            added = true;
            it = Cells.emplace(it, c, XlCell());
        }
        return it->second;
    }
    XlCell& At(int c)
    {
        bool added = false;
        return At(c, added);
    }

private:
    std::vector<std::pair<int, XlCell>>::iterator LowerBound(int c)
    {
        return std::lower_bound(Cells.begin(), Cells.end(), c,
                                [](const std::pair<int, XlCell>& cell, int col) { return cell.first < col; });
    }
};

struct XlColumn {
    double Width = -1; // characters; -1 default
    bool Hidden = false;
    int Style = 0;            // also the style of the cells made in the column
    std::size_t MaxChars = 0; // longest text written, for AutoFit
    bool Streamed = false;    // a written row holds a cell of this column
    // A column an opened sheet has already (XlSheet::KeepColumns) is saved with the
    // settings it was found with: Width, Hidden and Style then only shape the cells
    // made in it. For an .xlsx sheet the package's own column ranges are kept as they
    // are; an .xls sheet's are these.
    bool Kept = false;
    double KeptWidth = -1;
    bool KeptHidden = false;
    int KeptStyle = 0;
    double SavedWidth() const { return Kept ? KeptWidth : Width; }
    bool SavedHidden() const { return Kept ? KeptHidden : Hidden; }
    int SavedStyle() const { return Kept ? KeptStyle : Style; }
};

// A row read back from a sheet's spool; texts point into the reader's buffer and are
// valid during the call that receives the row.
struct XlSpooledCell {
    int Col = 0;
    XlKind Kind = XlKind::Blank;
    int Style = 0;
    double Number = 0;
    std::string_view Text;
};

struct XlSpooledRow {
    int Row = 0;
    double Height = 0;
    int Style = -1;
    std::vector<XlSpooledCell> Cells;
};

// Reads the row of the spooled record `p` (after its byte count); texts point into it.
void XlReadSpooledRow(const char* p, XlSpooledRow& row);
// Appends the SpreadsheetML rows of `records` (whole spooled records, each after its byte
// count) for a workbook whose own cell formats before ours number `xfBase`.
void XlAppendRowsXml(std::string& out, std::string_view records, int xfBase);

struct XlPicture {
    int Index = 0; // in the workbook's picture store
    int Row = 1;
    int Col = 1;
};

class XlWorkbook;
class DeflatedPart;

// The package a workbook was opened from (or started from, for a template). Parts the
// export does not touch are copied from it unchanged.
struct XlSource {
    std::string FileName;
    std::string WorkbookPart; // "xl/workbook.xml"
    std::string StylesPart;   // empty when the package has none
    bool Template = false;    // a template's main part gets the workbook content type
};

class XlSheet {
public:
    XlSheet(XlWorkbook& book, std::string name);
    ~XlSheet();

    XlWorkbook& Book() { return FBook; }
    std::string Name;

    // The row, held in memory; earlier held rows are streamed out. Raises when the row
    // is out of range or was written already.
    XlRow& Row(int r);
    XlColumn& Column(int c);
    // The style a new cell at (r, c) starts with.
    int NewCellStyle(int r, int c);
    XlCell& Cell(int r, int c);
    // Calls f(XlCell&) for the cells c1 to c2 of row r, as Cell gives them.
    template <class F> void ForCells(int r, int c1, int c2, F&& f);
    // Puts a text under the reading rules above.
    void PutText(int r, int c, const std::string& text);
    // Puts a text as it is, not read as a number or a date; an empty one is an empty text,
    // not a cleared cell.
    void PutTextAsIs(int r, int c, std::string_view text);
    void PutNumber(int r, int c, double value);
    void PutBoolean(int r, int c, bool value);
    // Changes the style of a cell / row / column with f(XlStyle&).
    template <class F> void Restyle(XlCell& cell, F&& f);
    template <class F> void RestyleRow(int r, F&& f);
    template <class F> void RestyleColumn(int c, F&& f);

    int LastRow() const { return FLastRow; }
    int LastCol() const { return FLastCol; }
    const std::map<int, XlColumn>& Columns() const { return FColumns; }
    std::map<int, XlColumn>& Columns() { return FColumns; }

    int SelRow = 1, SelCol = 1;
    int FreezeRows = 0, FreezeCols = 0;
    // Sheet protection: SHA-512 hash of the password, base64, with its salt.
    bool Protected = false;
    std::string HashValue, SaltValue;
    int SpinCount = 100000;
    bool HasMargins = false;
    double LeftMargin = 0.7 * 72, RightMargin = 0.7 * 72, TopMargin = 0.75 * 72, BottomMargin = 0.75 * 72;
    int Orientation = 0; // 0 default, 1 portrait, 2 landscape
    std::string LeftHeader, LeftFooter;
    // Header and footer codes as an opened .xls workbook stored them, written again as
    // they are unless LeftHeader / LeftFooter replace them.
    std::string RawHeader, RawFooter;
    // Default row height (points) and column width (characters) of a sheet read from an
    // .xls file, written again to .xls; 0 for the usual ones.
    double DefaultRowHeight = 0;
    int DefaultColumnWidth = 0;
    // The 16-bit password hash of the older file format (0: none), for .xls files and
    // for protection read from them.
    std::uint16_t PasswordHash = 0;
    std::vector<XlPicture> Pictures;

    // For a sheet of an opened package: its part and relationship id, whether it is a
    // worksheet (others, such as chart sheets, are only carried along), and whether the
    // export changed it (an unchanged sheet is copied as it was).
    std::string SourcePart;
    std::string SourceRelId;
    bool IsWorksheet = true;
    bool Modified = false;
    // For a worksheet of an opened package: its XML without the rows (an empty sheetData),
    // which the merge changes; the rows are copied from the package when it is saved.
    std::string SourceSettings;
    // Rows up to lastRow exist in the package already; new rows go below them.
    void ContinueAfter(int lastRow, int lastCol);
    // Columns first to last belong to the opened sheet (its settings describe them, or
    // it holds cells in them): each keeps the width, visibility and format it has now
    // (XlColumn::Kept), whatever a merge sets for the cells it adds there.
    void KeepColumns(int first, int last);

    // A row read from an existing file, written straight to the spool; rows come in
    // ascending order before any other row. The columns stay open for formatting.
    void AddExistingRow(int r, const XlRow& row);

    // Writes every held row to the spool.
    void FinishRows();
    // Calls f(const XlSpooledRow&) for every written row, in order (after FinishRows).
    template <class F> void ForEachRow(F&& f);
    // The rows of a sheet of a new workbook are made into SpreadsheetML and compressed on
    // a second thread as they are written to the spool, so a save as .xlsx only has to
    // join that part to the sheet's beginning and end. After FinishRows: that part, not
    // yet finished, when it holds every row of the sheet (else null, and the rows are read
    // from the spool). Streaming stops once the part is taken.
    std::unique_ptr<DeflatedPart> TakeRowsXml();

private:
    // Cell(r, c), and the column's settings in `column`.
    XlCell& Cell(int r, int c, XlColumn*& column);
    void Flush(int below);
    void WriteRow(int r, const XlRow& row, bool markStreamed);
    void WriteSpool();
    // Writes records to the spool file descriptor at byte `at`; raises EStreamError.
    static void WriteSpoolAt(int spool, std::uint64_t at, std::string_view records, const std::string& name);
    // Waits until every record handed to the rows' XML thread is in the spool.
    void SettleSpool();
    bool ReadSpooled(std::string& record);

    XlWorkbook& FBook;
    std::map<int, XlRow> FHeld;
    std::map<int, XlColumn> FColumns;
    int FWrittenThrough = 0;
    int FLastRow = 0, FLastCol = 0;
    std::unique_ptr<QFile> FSpool; // a file without a name: nothing of it outlives the process
    std::string FBuffer;
    std::unique_ptr<DeflatedPart> FRowsXml;
    int FRowsXmlXfBase = 0;
    XlRow* FCurrentRow = nullptr; // the held row Row gave last
    int FCurrentRowNumber = 0;
    // The node of the row written out last, kept with its cells' room for the next row.
    std::map<int, XlRow>::node_type FSpareRow;
    // The columns by number as far as they have been asked for (null: not yet).
    std::vector<XlColumn*> FColumnAt;
    // The ranges KeepColumns was given, for columns made later.
    std::vector<std::pair<int, int>> FKeptRanges;
};

class XlWorkbook {
public:
    XlWorkbook();
    ~XlWorkbook();

    XlStyles Styles;
    // The workbook's date system (XlDateSerial): false for 1900, true for 1904.
    bool Date1904 = false;
    // Cell formats the workbook had before ours (1 for a new workbook).
    int XfBase = 1;
    // The cell-format index of each style of ours in an opened package, once its save
    // has made the styles part (an equal format of the package's own is reused);
    // empty before that and for a new workbook, whose styles follow its own format in
    // order.
    std::vector<int> CellFormats;
    // The styles that cells, rows and columns of an opened package use, by index
    // (marked as rows are written and when the package is saved).
    std::vector<char> StylesInUse;
    void UseStyle(int style)
    {
        if (style <= 0) return;
        const auto at = static_cast<std::size_t>(style);
        if (at >= StylesInUse.size()) StylesInUse.resize(std::max<std::size_t>(at + 1, 64));
        StylesInUse[at] = 1;
    }
    // The cell-format index that style `style` of ours is written with.
    int XfIndex(int style) const
    {
        if (!CellFormats.empty()) return CellFormats[static_cast<std::size_t>(style)];
        return style == 0 ? 0 : XfBase + style - 1;
    }
    std::vector<std::unique_ptr<XlSheet>> Sheets;
    int Active = 0;
    WordPictureStore& PictureStore();

    XlSheet& ActiveSheet() { return *Sheets.at(static_cast<std::size_t>(Active)); }
    std::unique_ptr<XlSource> Source;
    // The file the workbook was opened from (.xlsx or .xls), held open (and, unless it is
    // a template, locked) until the workbook closes: it is read through that descriptor,
    // and a save checks that it did not change meanwhile.
    std::shared_ptr<TMergedFile> Opened;
    // Reads the existing .xlsx (or .xltx) package Opened: its sheets, their used rows and
    // its styles. Raises Exception with a clear message for anything else.
    void OpenXlsx(bool asTemplate);

    // Adds a sheet before the active one (after the last, in an opened package, so the
    // indexes that the package's names refer to stay valid) and activates it.
    XlSheet& AddSheet();
    std::string UniqueSheetName() const;

    // The file a save under fileName replaces: fileName itself, or, when fileName is a
    // symbolic link to the file the workbook was opened from (a merge through a link),
    // the link's final target, so that the link stays and the file it names gets the
    // merged workbook.
    std::string SaveTarget(const std::string& fileName) const;
    // Writes the workbook as .xlsx: to a temporary name in the target's folder (that of
    // SaveTarget), renamed over the target when complete. A failure leaves an existing
    // target unchanged.
    void SaveXlsx(const std::string& fileName);
    // The same as a BIFF8 workbook in a compound file (.xls). Raises, before the target
    // is touched, when a sheet exceeds the format's 65,536 rows or 256 columns, or the
    // workbook holds pictures (which this writer does not store in .xls).
    void SaveXls(const std::string& fileName);
    // Reads an .xls (or .xlt) workbook into a new model: sheets, cells, formats, column
    // widths, row heights, panes, protection and page setup. Raises with a message naming
    // what the workbook holds when it holds anything the model cannot keep.
    void OpenXls();

private:
    std::unique_ptr<WordPictureStore> FPictures;
};

// The 16-bit sheet-protection password hash of the .xls file format.
std::uint16_t XlLegacyPasswordHash(const std::string& password);

// The header or footer code of a sheet: `left` as its left part (its "&" doubled, as "&"
// starts the codes), or `raw` as it is when `left` is empty.
std::string XlHeaderCode(const std::string& left, const std::string& raw);

// Reads text under the rules above: true with a number, or a date-time serial of the
// given date system and its built-in format id (14 date, 22 date and time, 21 time; 0 for
// a plain number).
bool XlReadNumber(const std::string& text, double& value, int& dateFormat, bool date1904 = false);

// The serial of a day in a workbook's date system, or -1 when the system has no such day.
// The 1900 system (the usual one) starts with serial 1 on 1900-01-01 and counts a
// 29 February 1900, which the calendar does not have, as serial 60: so a day before
// 1900-03-01 is one less than its count of days since 1899-12-30, a later day equal to it,
// and "1900-02-29" is serial 60, as the spreadsheet application reads it. The 1904 system
// counts days since 1904-01-01. Both writers store the workbook's system (DATEMODE,
// workbookPr date1904) and both readers take it from the file, so every serial a cell
// holds is of the workbook's own system; a time alone is a fraction of a day in both.
double XlDateSerial(int year, int month, int day, bool date1904);

template <class F>
void XlSheet::ForEachRow(F&& f)
{
    if (!FSpool) return;
    SettleSpool();
    std::string record;
    XlSpooledRow row;
    FSpool->seek(0);
    while (ReadSpooled(record)) {
        XlReadSpooledRow(record.data(), row);
        f(static_cast<const XlSpooledRow&>(row));
    }
    FSpool->seek(FSpool->size());
}

template <class F>
void XlSheet::Restyle(XlCell& cell, F&& f)
{
    XlStyle style = FBook.Styles.Get(cell.Style);
    f(style);
    cell.Style = FBook.Styles.Intern(style);
}

template <class F>
void XlSheet::RestyleRow(int r, F&& f)
{
    XlRow& row = Row(r);
    XlStyle style = FBook.Styles.Get(row.Style < 0 ? 0 : row.Style);
    f(style);
    row.Style = FBook.Styles.Intern(style);
    for (auto& [c, cell] : row.Cells)
        Restyle(cell, f);
}

template <class F>
void XlSheet::RestyleColumn(int c, F&& f)
{
    XlColumn& column = Column(c);
    if (column.Streamed)
        throw Exception("Column " + std::to_string(c)
                        + " cannot be formatted any more: rows holding it have been written already");
    XlStyle style = FBook.Styles.Get(column.Style);
    f(style);
    column.Style = FBook.Styles.Intern(style);
    for (auto& [r, row] : FHeld)
        if (XlCell* cell = row.Find(c))
            Restyle(*cell, f);
}

template <class F>
void XlSheet::ForCells(int r, int c1, int c2, F&& f)
{
    XlRow& row = Row(r);
    // The cells a row already holds are walked in order; a missing one is made.
    std::size_t i = 0;
    for (int c = c1; c <= c2; ++c) {
        while (i < row.Cells.size() && row.Cells[i].first < c) ++i;
        if (i < row.Cells.size() && row.Cells[i].first == c) f(row.Cells[i].second);
        else f(Cell(r, c));
    }
}
