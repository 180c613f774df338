#pragma once
// DIF, the data interchange format of spreadsheet programs, on the cell-file pipeline
// (.DIF), as LibreOffice Calc reads it. Lines end in CR LF:
//
//   TABLE 0,1 ""  VECTORS 0,<columns> ""  TUPLES 0,<rows> ""  DATA 0,0 ""
//   -1,0 BOT                 a tuple (a row) begins
//   0,12.5 V                 a number, "." and every digit
//   1,0 "say ""hi"""         a text, '"' doubled; a line feed kept inside the quotes
//   -1,0 EOD                 the end
//
//   - Header lines, the caption row, the records and footer lines are tuples in that
//     order. The counts in the header are those of the file, so the data is held
//     until the file ends.
//   - Numbers come from the field's value, with the 15-digit rule of SYLK (a longer
//     whole number is text; both kinds counted). DIF has no formats: dates and times
//     are texts in ISO form (1899-12-30 13:45:00). DIF has no null a reader keeps
//     either: a null is an empty text, counted in a warning.
//   - The file is in the Windows-1252 code page, which LibreOffice reads DIF in.
//     Characters it has no place for become "?", a CR a line break; both counted, as
//     are picture cells, which are left empty.
//   - The columnar and tabular layouts are written; files are written beside the
//     target and renamed when whole.

#include "cellfile/text_exporter.h"

class TKVExportToDIF : public TKVExportToText {
    Q_OBJECT
public:
    explicit TKVExportToDIF(QObject* AOwner = nullptr);

    std::string Extension() override { return ".DIF"; }
    void WriteFileBegin() override;
    void WriteFileEnd() override;
    void WriteDataBegin() override;
    void WriteRowStart(bool IsTitle) override;
    void WriteRowEnd(bool IsTitle) override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;

    // Text as a DIF string in Windows-1252, quotes included; Replaced counts the values
    // with characters that code page cannot hold.
    static std::string DifString(const std::string& Text, long long& Replaced);

private:
    std::string FBody; // the tuples, until the counts are known
    int FTuples = 0;
    int FVectors = 0;
    int FCells = 0;    // of the tuple being written
    long long FReplaced = 0;
};
