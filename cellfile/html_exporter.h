#pragma once
// HTML on the cell-file pipeline (.HTM): one HTML5 document a file, UTF-8.
//
//   <!DOCTYPE html>
//   <html><head><meta charset="utf-8"><title>name</title><style>...</style></head>
//   <body>
//   <p>header line</p> ...
//   <table>
//   <thead><tr><th>caption</th>...</tr></thead>
//   <tbody><tr><td>value</td>...</tr> ...</tbody>
//   </table>
//   <p>footer line</p> ...
//   </body></html>
//
//   - Every cell, caption and line carries what differs from the page's own look
//     (Arial 10 pt, black on white, left) as an inline style: font name, size,
//     colour, bold, italic, underline, strike-out, background, alignment.
//   - Text is escaped (& < > "); a line feed is a <br>; white space is kept as it is
//     (white-space: pre-wrap). What HTML cannot hold is replaced and counted in a
//     warning: a CR becomes a line break (HTML reads CR LF and CR as one), control
//     characters and bytes that are not UTF-8 become U+FFFD.
//   - A null is an empty cell of class "null", an empty text an empty cell.
//   - Picture cells are left empty and counted.
//   - The columnar and tabular layouts are written; each RowsPerFile part is a whole
//     document of its own. Files are written beside the target and renamed when whole,
//     as text files are.

#include "cellfile/text_exporter.h"

class TKVExportToHTML : public TKVExportToText {
    Q_OBJECT
public:
    explicit TKVExportToHTML(QObject* AOwner = nullptr);

    std::string Extension() override { return ".HTM"; }
    void WriteFileBegin() override;
    void WriteFileEnd() override;
    void WriteDataBegin() override;
    void WriteDataEnd() override;
    void WriteRowStart(bool IsTitle) override;
    void WriteRowEnd(bool IsTitle) override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;

    // Text escaped for HTML content; Replaced counts what HTML cannot hold (above).
    static std::string HtmlText(const std::string& Text, long long& Replaced);

private:
    // The inline style of a cell: what differs from the page's look.
    static std::string CellStyle(TAlignment Alignment, const TFont* Font, TColor Color);

    enum class TSection { None, Head, Body };
    TSection FSection = TSection::None;
    std::string FRow;
    long long FReplaced = 0;
};
