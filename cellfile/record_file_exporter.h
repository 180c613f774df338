#pragma once
// The base of the targets that hold a table of typed records (dBase, SPSS, Paradox,
// and the worksheets): the pipeline's cells are gathered into one record of values,
// each typed as its source field is, and handed over a record at a time.
//
//   - The table's fields are the visible columns, declared when the data section
//     begins: named from the column's FieldName (its caption where that is empty),
//     typed from the source field (from the column's DataType when there is no field),
//     with the caption kept for targets that hold a label.
//   - A value comes from the source field as it is (a 64-bit integer stays one, a
//     float keeps every bit, a null stays null); without a field the cell's text is
//     read in the declared type (an empty text is null).
//   - Picture cells cannot be held: they become null and are counted in a warning.
//     Header and footer lines go to WriteLine, which by default leaves them out and
//     counts them. Only the columnar layout is written.
//   - The file is written beside the target and renamed when whole, as text files are;
//     a failed or refused export leaves no file and the target as it was.
//
// Targets refuse what they cannot hold through Refuse, which names the field and the
// record; a refusal ends the run.

#include "cellfile/text_exporter.h"
#include "cellfile/value_text.h"
#include "framework/value_contract.h"
#include "framework/variant.h"

#include <set>
#include <vector>

// One field of the table a record target writes.
struct TRecordField {
    std::string Name;    // the column's field name, or its caption
    std::string Caption; // the column's caption
    TFieldType DataType = ftString;
    int Size = 0;        // the source field's declared size (characters, or decimals)
    int Width = 0;       // the column's width in characters, 0 when none is set
};

class TKVExportToRecordFile : public TKVExportToText {
    Q_OBJECT
public:
    explicit TKVExportToRecordFile(QObject* AOwner = nullptr);

    bool TitleIsSupported() override { return false; }
    // Binary values are taken from the field and written as base64 text by the table.
    bool KeepsBinary() override { return true; }
    void InternalFileCreate(const std::string& FileName) override;
    void WriteFileBegin() override;
    void WriteFileEnd() override;
    void WriteDataBegin() override;
    void WriteRowStart(bool IsTitle) override;
    void WriteRowEnd(bool IsTitle) override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;

    // Name made valid for a target: characters other than ASCII letters, digits and
    // "_" become "_", a name that does not start with a letter gets Prefix in front, it
    // is cut to MaxLength bytes, and one already in Used (letter case ignored) gets
    // "_2", "_3", ... within the same length. The result is added to Used.
    static std::string ValidName(const std::string& Wanted, std::size_t MaxLength, const std::string& Prefix,
                                 std::set<std::string>& Used);
    // The shortest text that reads back to Value exactly ("0.30000000000000004").
    static std::string ExactDouble(double Value);

protected:
    // Whether each value gets a cell of its own kind (a worksheet), so that a column typed
    // value by value keeps its numbers; a table of typed fields holds them as text.
    virtual bool TypesEachValue() const { return false; }
    // The table begins; Fields are the visible columns in order.
    virtual void BeginTable(const std::vector<TRecordField>& Fields) = 0;
    // One record, a value a field; ARow is the record's row in the pipeline's terms.
    virtual void WriteRecord(int ARow, const std::vector<Variant>& Values) = 0;
    // The table is whole (not called for a failed export).
    virtual void EndTable() = 0;
    // Frees what BeginTable set up, whole or not; called once a file.
    virtual void CloseTable() {}
    // A header, footer or caption cell. Left out and counted unless overridden.
    virtual void WriteLine(int ARow, int ACol, const std::string& Text, TAlignment Alignment);

    // Raises an Exception: "TARGET: field NAME, record N: WHAT".
    [[noreturn]] void Refuse(int Field, const std::string& What) const;
    // Counts one value of a kind the target could not hold as it was, for a warning
    // given when the file ends ("N WHAT (the first at field NAME, record N)").
    void Count(const std::string& What, int Field);

    const std::vector<TRecordField>& Fields() const { return FFields; }
    // The alignment of each value of the record being handed over.
    const std::vector<TAlignment>& Alignments() const { return FAlignments; }
    const std::string& TargetName() const { return FTarget; }
    long long RecordNumber() const { return FRecords + 1; }
    bool FTableOpen = false;

private:
    Variant CellValue(TField* Field, TCellType CellType, const std::string& Text, int Col);

    std::vector<TRecordField> FFields;
    std::vector<Variant> FValues;
    std::vector<TAlignment> FAlignments;
    bool FTitleRow = false;
    long long FRecords = 0;
    std::string FTarget;
};
