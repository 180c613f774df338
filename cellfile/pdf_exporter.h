#pragma once
// PDF on the cell-file pipeline (.PDF), drawn with Qt's PDF writer: a table over as many
// pages as it needs, written page by page, so memory does not grow with the rows.
//
//   - The page comes from PageSetup: A4 unless it names another size; portrait unless
//     the columns need landscape (their values do not fit portrait without breaking
//     words, or fit landscape on one line and portrait not); margins in millimetres.
//   - Column widths come from what the columns hold: the caption and the values of the
//     first rows (up to HeldRows rows, held until then and drawn once the widths are
//     known) are measured: each column gets at least its widest number (a text column
//     eight characters) and, room permitting, its widest word and its longest line; the
//     widths fill the width between the margins. A type's default width plays no part.
//   - Every cell is drawn in its font, colour, background and alignment. A text wraps at
//     word boundaries (inside a word only when the word is wider than its column) and
//     at its own line breaks. A number, date or time is never broken: a later value
//     wider than its column is drawn in a smaller size.
//   - A row higher than the room left on its page starts on the next one; a row higher
//     than a page goes on over as many pages as it needs, every line of every cell
//     drawn, the caption rows at the top of each.
//   - Pictures (bitmaps, and PNG or JPEG bytes) are scaled into their cell, keeping
//     their proportions, at most a quarter of the page high; one that cannot be
//     decoded leaves its cell empty and is counted.
//   - The caption row (and the blank row after it) is drawn again at the top of every
//     page while the caption rows take at most half a page; header lines are
//     paragraphs above the table, footer lines below it; every page has its number at
//     the bottom. Grid lines (soColLines or soRowLines) are drawn once a page, edges
//     that meet joined into one line.
//   - Text is drawn as text, with the fonts embedded as subsets (only the glyphs used),
//     so it can be searched and copied. A character the cell's font lacks is taken from
//     another installed font that has it (fontconfig's fallback: fonts-noto-cjk covers
//     Chinese, Japanese and Korean); values holding characters no installed font has
//     are counted in a warning, as they are drawn as empty boxes. Qt's writer maps no
//     text to characters beyond U+FFFF (emoji): they are drawn, and values holding them
//     are counted too.
//   - The end of the file (fonts, their glyph-to-text maps, the cross-reference table)
//     is held and mended before it is written: a glyph-to-text map of more than a
//     hundred ranges, which Qt (6.4) garbles from the second block on, so that much CJK
//     text could not be copied or extracted, is written again; where a font draws two
//     characters with one glyph (a CJK ideograph and its Kangxi radical), the map names
//     the one the table held; a font embedded as a subset carries its subset tag in its
//     font dictionaries too, so readers (pdffonts) see it as one.
//   - The columnar and tabular layouts are written; the reversed one is refused.
//   - Files are written beside the target and renamed when whole, as text files are.
//
// Qt Gui is used here and in the clipboard target only: a program that writes PDF needs
// a QGuiApplication (the offscreen platform does without a display).

#include "cellfile/pdf_text_maps.h"
#include "cellfile/text_exporter.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPageSize>
#include <QRawFont>
#include <QRectF>

#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

class QFontMetricsF;
class QPainter;
class QPdfWriter;
class QIODevice;

enum TKVEPdfOrientation : std::uint8_t { poAuto, poPortrait, poLandscape };

struct TKVEPdfPageSetup {
    QPageSize::PageSizeId PageSize = QPageSize::A4;
    TKVEPdfOrientation Orientation = poAuto;
    double TopMargin = 15, BottomMargin = 15, LeftMargin = 12, RightMargin = 12; // millimetres
};

class TKVExportToPDF : public TKVExportToText {
    Q_OBJECT
public:
    explicit TKVExportToPDF(QObject* AOwner = nullptr);
    ~TKVExportToPDF() override;

    TKVEPdfPageSetup PageSetup;

    // The rows measured for the column widths: held until they are all there (or the
    // table ends), then drawn.
    static constexpr int HeldRows = 1000;

    std::string Extension() override { return ".PDF"; }
    void WriteFileBegin() override;
    void WriteFileEnd() override;
    void WriteDataBegin() override;
    void WriteDataEnd() override;
    void WriteRowStart(bool IsTitle) override;
    void WriteRowEnd(bool IsTitle) override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;

private:
    struct TCell {
        int Col = 0;
        QString Text;
        bool IsPicture = false;
        bool Whole = false;  // a number, date or time: never broken over lines
        double Width = -1;   // the text on one line, device units; -1 when it holds line breaks
        QImage Image;        // a picture cell's picture, decoded
        QFont Font;
        QColor TextColor;
        QColor Background;
        int Alignment = 0;   // Qt::Alignment
    };
    using TRow = std::vector<TCell>;
    enum TRowKind : std::uint8_t { rkLine, rkCaption, rkData };
    struct THeldRow {
        TRowKind Kind;
        TRow Row;
    };
    // What one column's cells ask for, device units, padding included: Least it must
    // have (its widest number; eight characters of text), Word to break no word,
    // Natural to break no line.
    struct TColumnNeed {
        double Whole = 0; // the widest number, date or time
        double Least = 0, Word = 0, Natural = 0;
    };

    void OpenWriter();
    // Decides the column widths and the page from the held rows and draws them.
    void ReleaseHeld();
    void BeginDocument();
    void EndDocument();
    void NewPage();
    void DrawPageNumber();
    void Draw(TRowKind Kind, const TRow& Row, std::size_t Count);
    // Draws the first Count cells of Row below the last row: on a new page when they do
    // not fit but would fit on one, over as many pages as they need when they are higher
    // than a page. A Repeat row is drawn where it is (it begins a page); a Line is one
    // cell across the page, without grid. Returns the height drawn, infinite when the
    // row went over more than one page.
    double DrawRow(const TRow& Row, std::size_t Count, bool Repeat, bool Line);
    // A cell's background, and its box for the grid.
    void DrawBox(const TCell& Cell, const QRectF& Box, bool Grid);
    // A picture, or a text on one line, in Inner.
    void DrawPiece(const TCell& Cell, const QRectF& Inner);
    // The grid of the cells drawn on this page.
    void DrawGrid();
    void MeasureNeeds(const TCell& Cell);
    // Column widths filling Available: each gets its Least and, as far as room goes,
    // its Word and its Natural; the Leasts are scaled down only when they alone do not fit.
    std::vector<double> FitWidths(double Available) const;
    double PictureHeight(const TCell& Cell, double Inner) const;
    void CheckCharacters(const TCell& Cell, int ACol);
    bool Drawable(const QFont& Font, char32_t Code);
    const QFontMetricsF& Metrics(const QFont& Font);
    QFont ToQFont(const TFont* Font);

    std::unique_ptr<QIODevice> FDevice;
    std::unique_ptr<QPdfWriter> FWriter;
    std::unique_ptr<QPainter> FPainter;
    std::vector<double> FColX;      // left edge of each column, device units
    std::vector<double> FColWidth;  // device units
    std::vector<TColumnNeed> FNeeds;
    TRow FRow;
    std::size_t FCellsInRow = 0;    // FRow's first cells in use (the rest keep their memory)
    std::vector<THeldRow> FHeld;    // rows waiting for the column widths
    int FHeldData = 0;
    std::size_t FHeldBytes = 0;
    std::vector<TRow> FRepeat;      // caption rows, drawn again on every page
    double FRepeatHeight = 0;
    bool FRepeatDone = false;       // a data row came: the caption rows are complete
    double FY = 0, FTop = 0, FBottom = 0, FLeft = 0, FRight = 0, FUnit = 1;
    int FPage = 0;
    bool FRowsOnPage = false;
    bool FGrid = true;
    std::vector<QRectF> FGridBoxes; // the cells drawn on this page, for its grid
    // Which characters of the Basic Multilingual Plane the table held, and whether each
    // character is drawn by some installed font, by font.
    std::vector<bool> FHeldChars;
    std::map<QString, std::unordered_map<char32_t, bool>> FDrawable;
    // The glyphs the held characters are drawn with, by font: where a font draws two
    // characters with one glyph, the file's text names the one the table held.
    std::vector<TGlyphs> FGlyphs;
    QFont FDrawableFont;
    std::unordered_map<char32_t, bool>* FDrawableNow = nullptr;
    std::unique_ptr<QFontMetricsF> FMetrics; // of FMetricsFont, on the PDF writer
    QFont FMetricsFont;
    // The last font asked for, and its Qt form.
    std::unique_ptr<TFont> FLastFont;
    QFont FLastQFont;
};
