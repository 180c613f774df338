#pragma once
// SYLK, the symbolic link format of spreadsheet programs, on the cell-file pipeline
// (.SLK), as LibreOffice Calc reads it:
//
//   ID;PTabrix;N;E                     the file's start
//   P;PGeneral / P;Pyyyy\-mm\-dd ...   the number formats (P0 .. P3)
//   C;Y1;X1;K"text"                    a text cell: ";" doubled, a line break ESC " :"
//   C;Y2;X1;K12.5                      a number cell, "." and every digit
//   F;P1;FG0G;Y2;X2  C;Y2;X2;K-366     a date: its serial (days since 1899-12-30) with
//                                      the date, time or date-time format
//   E                                  the end
//
//   - Header lines, the caption row, the records and footer lines are rows 1, 2, ...
//     in that order, each cell in the next column; a null has no cell at all, an empty
//     text an empty one.
//   - Numbers come from the field's value. Spreadsheet programs keep 15 significant
//     digits: a whole number with more is written as text so no digit is lost, a
//     fraction that needs more is written whole; both are counted in a warning.
//   - The file is UTF-8, which LibreOffice reads. What SYLK cannot hold is replaced and
//     counted: a CR becomes a line break, other control characters and bytes that are
//     not UTF-8 become U+FFFD. Picture cells are left out and counted.
//   - The columnar and tabular layouts are written; files are written beside the
//     target and renamed when whole.

#include "cellfile/text_exporter.h"

class TKVExportToSYLK : public TKVExportToText {
    Q_OBJECT
public:
    explicit TKVExportToSYLK(QObject* AOwner = nullptr);

    std::string Extension() override { return ".SLK"; }
    void WriteFileBegin() override;
    void WriteFileEnd() override;
    void WriteDataBegin() override;
    void WriteRowStart(bool IsTitle) override;
    void WriteRowEnd(bool IsTitle) override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;

    // Text as the value of a K field, quotes included; Replaced counts the values with
    // characters SYLK cannot hold.
    static std::string SylkString(const std::string& Text, long long& Replaced);

private:
    int FY = 0; // the row being written, from 1
    int FX = 0; // cells written in it
    std::string FRow;
    long long FReplaced = 0;
};
