#pragma once
// Lotus 1-2-3 worksheets (.WK1) on the cell-file pipeline: our own writer of the WK1
// record layout (each record a 16-bit opcode, a 16-bit length and its data, little
// endian): BOF, RANGE (the used area, mended when the table is whole), one COLW1 a
// column with a width, the cells, EOF.
//
//   - Numbers are numbers: a whole number that fits 16 bits is an INTEGER cell, every
//     other number a NUMBER cell holding the double exactly (a 64-bit integer beyond
//     2^53 is rounded to the nearest double, counted in a warning). Booleans are 1 and
//     0. Dates and date-times are serials in a date format (the same serials as the
//     spreadsheet's, 1900-03-01 and later); an earlier date has no serial and is
//     written as an ISO text, counted.
//   - Texts, captions, header and footer lines are LABEL cells with the alignment
//     prefix (' left, " right, ^ centred), in CodePage: the IBM PC's 437 by default, as
//     the programs of the format read it, or 0 for UTF-8. A character the code page
//     has no form for becomes "?", counted in a warning. A null is no cell.
//   - The format's limits are refused with a clear message: 8,192 rows and 256 columns
//     before anything is written (when the source can count its records), labels of
//     240 bytes when one arrives. A refused export leaves no file.

#include "cellfile/record_file_exporter.h"

class TKVExportToWKS : public TKVExportToRecordFile {
    Q_OBJECT
public:
    explicit TKVExportToWKS(QObject* AOwner = nullptr);

    // The code page of labels: a DOS code page, or 0 for UTF-8.
    int CodePage = 437;

    std::string Extension() override { return ".WK1"; }
    bool TitleIsSupported() override { return true; }
    bool TypesEachValue() const override { return true; }
    void WriteDimensions(int ARowCount, int AColCount) override;
    void WriteColWidth(int ACol, int AWidth) override;

    static constexpr int MaxRows = 8192;
    static constexpr int MaxColumns = 256;
    static constexpr int MaxLabelBytes = 240;

protected:
    // The BOF record's version: 0x0406 for Lotus 1-2-3 release 2.
    virtual int FileVersion() const { return 0x0406; }
    // The name of the format in messages.
    virtual std::string FormatName() const { return "a Lotus 1-2-3 worksheet"; }

    void BeginTable(const std::vector<TRecordField>& Fields) override;
    void WriteRecord(int ARow, const std::vector<Variant>& Values) override;
    void EndTable() override;
    void WriteLine(int ARow, int ACol, const std::string& Text, TAlignment Alignment) override;

private:
    void Record(int Opcode, const std::string& Data);
    void Cell(int ARow, int ACol, int Field, const Variant& Value, TAlignment Alignment);
    void Label(int ARow, int ACol, int Field, const std::string& Text, TAlignment Alignment);
    void CheckPlace(int ARow, int ACol, int Field);

    bool FStarted = false;       // BOF and RANGE are written
    std::int64_t FRangeAt = 0;   // where the RANGE record's data begins
    int FLastRow = 0, FLastCol = 0;
};
