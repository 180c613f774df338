#pragma once
// Reads a document back the way LibreOffice sees it: the file is converted headless to flat
// ODF (.fodt) and the result parsed. For interoperability tests of what the suite writes.
//
//   LoDocument doc = ReadWithLibreOffice("/tmp/x.docx");
//   doc.Paragraphs[0].Text, doc.Tables[0].Rows[1][0].Text, doc.Pictures[0].PixelWidth
//
// Each conversion uses its own LibreOffice profile folder, so tests may run in parallel.
// Failures (LibreOffice missing, a timeout, nothing converted) raise std::runtime_error
// with the command's output. A .docx or .xlsx is first checked against the Office Open XML
// schemas (ooxml_schema_check.h); a fault raises std::runtime_error naming part and element.

#include <stdexcept>
#include <string>
#include <vector>

struct LoText {
    std::string Text;        // UTF-8; a line break is '\n', a tab '\t'
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    std::string FontName;    // empty when not set
    std::string Color;       // "#rrggbb", empty when not set
    std::string Background;  // highlight, "#rrggbb", empty when not set
    std::string Align;       // "start"/"left", "center", "end"/"right", "justify"; empty when not set
    int Pictures = 0;        // pictures inside
};

struct LoPicture {
    int PixelWidth = 0;      // of the embedded image, 0 when it could not be decoded
    int PixelHeight = 0;
    double WidthPt = 0;      // displayed size
    double HeightPt = 0;
};

struct LoTable {
    std::vector<std::vector<LoText>> Rows;
    std::vector<double> ColumnWidthsPt;
    const std::string& Cell(std::size_t row, std::size_t col) const { return Rows.at(row).at(col).Text; }
};

struct LoDocument {
    std::vector<LoText> Paragraphs; // body paragraphs outside tables, in order
    std::vector<LoTable> Tables;
    std::vector<LoPicture> Pictures; // all pictures, in document order
    // The body in order: "p:<text>" for a paragraph, "table:<index>" for a table.
    std::vector<std::string> Outline;
    double PageWidthPt = 0, PageHeightPt = 0;
    double MarginTopPt = 0, MarginBottomPt = 0, MarginLeftPt = 0, MarginRightPt = 0;
    std::string PrintOrientation; // "portrait" / "landscape" / ""
    std::string Xml;              // the converted document itself, for further checks
};

// True when soffice can be started.
bool LibreOfficeAvailable();
// Converts `file` to `format` ("fodt", "html", "docx", ...; filter options may follow a
// colon, as in "csv:Text - txt - csv (StarCalc):44,34,76") into `outDir`; returns the new file.
std::string ConvertWithLibreOffice(const std::string& file, const std::string& format, const std::string& outDir,
                                   int timeoutSeconds = 180);
LoDocument ReadWithLibreOffice(const std::string& file, int timeoutSeconds = 180);
// Parses a flat ODF text document.
LoDocument ParseFlatOdt(const std::string& xml);
// Converts a length such as "2.54cm", "1in", "72pt", "25.4mm" to points.
double LoLengthToPoints(const std::string& length);
