#pragma once
// SPSS system files (.SAV) on the cell-file pipeline, through ReadStat's writer, in the
// compressed (bytecode) form.
//
//   - One variable a visible column, named from it: ASCII letters, digits and "_", at
//     most 64 characters, starting with a letter, no reserved word, unique regardless of
//     letter case; the column's caption is the variable's label.
//   - Numbers are numeric variables (F formats: whole numbers F20.0, floats F40.16,
//     money F20.4, Booleans F1.0), dates DATE11, date-times DATETIME23.3, times
//     TIME12.3, all other values strings of the declared size (at most 32767 bytes, 255
//     when none is declared). A whole number beyond 2^53 has no exact double and is
//     rounded to the nearest one: counted in a warning.
//   - A null number or date is the system-missing value; a null text is written empty
//     (SPSS strings have no missing value of their own), counted in a warning; the
//     lowest double is SPSS's missing value itself and reads back as missing (counted).
//   - A text longer than its variable, or a date before 1582-10-14 (where SPSS's clock
//     starts), is refused with a message naming the variable: nothing is cut, and no
//     file is left. No titles, header or footer lines.

#include "cellfile/record_file_exporter.h"

#include <memory>

class TKVExportToSPSS : public TKVExportToRecordFile {
    Q_OBJECT
public:
    explicit TKVExportToSPSS(QObject* AOwner = nullptr);
    ~TKVExportToSPSS() override;

    std::string Extension() override { return ".SAV"; }

protected:
    void BeginTable(const std::vector<TRecordField>& Fields) override;
    void WriteRecord(int ARow, const std::vector<Variant>& Values) override;
    void EndTable() override;
    void CloseTable() override;

private:
    enum TKind { kNumber, kDate, kText };
    void Check(int Result, int Field) const;
    // Puts the number of cases written into the file's header.
    void MendCaseCount(int Cases);

    struct TWriter;
    std::unique_ptr<TWriter> FWriter;
    std::vector<TKind> FKinds;
    std::vector<int> FWidths;
};
