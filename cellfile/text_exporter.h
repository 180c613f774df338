#pragma once
// Delimited and fixed-width text on the cell-file pipeline (.TXT, and .csv / .tsv as
// its common spellings). Every output row is one record ended by RecordSeparator.
//
// Delimited (Fixed false):
//   - cells are joined by FieldDelimiter (any text: a Tab, ";", ",", a blank, ...);
//   - with a TextQualifier a value is qualified when it holds the delimiter, the
//     qualifier, a CR or an LF, or is an empty text (not a null); the qualifier is
//     doubled inside it. With '"' and ',' this is RFC 4180. A null is written as
//     nothing, an empty text as two qualifiers, so a reader can tell them apart;
//   - without a qualifier a value holding the delimiter or a line break is written as
//     it is and counted in a warning: a reader will split it.
// Fixed (Fixed true): no delimiter and no qualifier; one blank between columns, every
// cell padded with blanks to its column's width in characters (right-aligned cells on
// the left, centred on both sides). A column is as wide as its Width (10 without one),
// and a column of numbers, dates, times or Booleans at least as wide as the longest
// text of its type (LargestValueWidth). A longer text is cut and a line break becomes
// a blank, both counted in a warning; a number, date, time or Boolean is never cut (a
// cut number reads as another): one that still does not fit fails the export, naming
// its column and row.
//
// Header and footer lines are rows of their own, under the same rules as one cell
// (not padded when Fixed). Picture cells cannot be held by text: they stay empty and
// are counted. Characters are counted as UTF-8 characters, or as bytes with
// csASCII_MSDOS, whose conversion the pipeline has already made. Text is written as
// the pipeline hands it over: UTF-8 for csANSI_WINDOWS (the system's text on this
// platform; no byte-order mark), the DOS code page for csASCII_MSDOS.
//
// Each file is written beside its target under a temporary name and renamed over it
// when whole (a replaced file keeps its mode); a failed export leaves the target as it
// was.
//
// elReversedColumnar holds the table until its data section ends (a row of the
// output needs every record); the other layouts write each row when it ends.

#include "cellfile/cell_file_exporter.h"
#include "framework/files.h"

#include <array>
#include <map>
#include <memory>

class TKVExportToText : public TKVExportToCellFile {
    Q_OBJECT
public:
    explicit TKVExportToText(QObject* AOwner = nullptr);

    std::string Extension() override { return ".TXT"; }
    void InternalFileCreate(const std::string& FileName) override;
    void WriteFileBegin() override;
    void WriteFileEnd() override;
    void WriteColWidth(int ACol, int AWidth) override;
    void WriteDataEnd() override;
    void WriteRowStart(bool IsTitle) override;
    void WriteRowEnd(bool IsTitle) override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;
    void CloseFileStream() override;

    // The width a column without one takes in fixed-width text.
    static constexpr int DefaultFixedWidth = 10;
    // The most characters the exact text of a value of Type takes (value_text.h): the
    // shortest text of a double 24 ("-2.2250738585072014e-308"), a 64-bit integer 20, a
    // date-time 26 ("2024-06-30 12:00:00.123456"), a time 15, a date 10 (years 0 to
    // 9999), a Boolean 5; 0 for types without a largest text (texts, decimals of any
    // precision).
    static int LargestValueWidth(TFieldType Type);
    // Whether fixed-width text keeps values of Type whole rather than cut: numbers, dates,
    // times and Booleans.
    static bool KeepsWhole(TFieldType Type);

protected:
    // Raises unless Layout is elColumnar, or elTabularForm when Tabular: a format that
    // writes a record as it comes (Format names it) cannot turn the table, and one that
    // names its values by column cannot hold a row per field either.
    void RequireRecordLayout(const std::string& Format, bool Tabular);
    // One line of the run's warnings about this file: "<file>: <Count> <What>", when
    // Count is above 0.
    void Warn(long long Count, const std::string& What);
    // The text of one cell as it goes into a row: qualified or padded.
    std::string CellText(const std::string& Text, bool Null, TAlignment Alignment, int Position, bool Line);
    // The same, appended to Out.
    void AppendCell(std::string& Out, const std::string& Text, bool Null, TAlignment Alignment, int Position, bool Line);
    // The file being written ("the output" for a caller's stream), for messages.
    const std::string& TargetName() const { return FTargetName; }
    // The widths WriteColWidth was given, by position in the row.
    const std::vector<int>& ColumnWidths() const { return FWidths; }

private:
    // LargestValueWidth of the type of column ACol of the output: of its visible column
    // in the columnar layout, of the widest visible column where a column of the output
    // holds all of them (the reversed and tabular layouts).
    int LargestValueWidthAt(int ACol);
    // The fixed width of the cell at Position in the row.
    std::size_t FixedWidth(int Position) const;
    void DiscardTemporary();
    void CommitTemporary();

    // Values of one kind the file could not hold as they were, with the first place.
    struct TTally {
        long long Count = 0;
        std::string First;
    };
    void Tell(TTally& Tally, const std::string& What);

    std::string FLine;           // the row being assembled
    int FCellsInLine = 0;
    int FLinesWritten = 0;       // of this file
    std::vector<int> FWidths;    // by position in the row
    std::map<int, std::map<int, std::string>> FHeld; // reversed layout: row -> column -> cell
    std::string FTargetName;     // the file being written (also for the warnings)
    std::unique_ptr<TFileReplacement> FReplacement; // where it is written until it is whole
    TTally FCut, FLineBreaks, FSplit, FPictures;
    // The bytes that decide a cell's form (line breaks, the delimiter, the qualifier), for
    // the one-byte delimiter and qualifier it was made for.
    std::array<bool, 256> FSpecial{};
    char FSpecialFor[2] = {0, 0};
};
