#pragma once
// PDF on the cell-file pipeline (.PDF), drawn with Qt's PDF writer: a table over as many
// pages as it needs, written page by page, so memory does not grow with the rows.
//
//   - The page comes from PageSetup: A4 unless it names another size; portrait unless
//     the columns' natural widths (Width characters each, 10 where a column has none)
//     do not fit its width, then landscape; margins in millimetres.
//   - The column widths are scaled so that the table fills the width between the
//     margins. Every cell is drawn in its font, colour, background and alignment; a
//     text wraps at word boundaries (inside a word when the word is wider than its
//     column) and at its own line breaks. A row higher than a page is cut at the page's
//     end and counted in a warning.
//   - Pictures (bitmaps, and PNG or JPEG bytes) are scaled into their cell, keeping
//     their proportions, at most a quarter of the page high; one that cannot be
//     decoded leaves its cell empty and is counted.
//   - The caption row (and the blank row after it) is drawn again at the top of every
//     page; header lines are paragraphs above the table, footer lines below it; every
//     page has its number at the bottom. Grid lines are drawn with soColLines or
//     soRowLines.
//   - Text is drawn as text with the fonts embedded, so it can be searched and copied;
//     Qt's writer maps no text to characters beyond U+FFFF (emoji): they are drawn,
//     and values holding them are counted in a warning.
//   - The columnar and tabular layouts are written; the reversed one is refused.
//   - Files are written beside the target and renamed when whole, as text files are.
//
// Qt Gui is used here and in the clipboard target only: a program that writes PDF needs
// a QGuiApplication (the offscreen platform does without a display).

#include "cellfile/text_exporter.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPageSize>

#include <memory>
#include <vector>

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
        QImage Image; // a picture cell's picture, decoded
        QFont Font;
        QColor TextColor;
        QColor Background;
        int Alignment = 0; // Qt::Alignment
    };
    using TRow = std::vector<TCell>;

    void BeginDocument();
    void EndDocument();
    void NewPage();
    void DrawPageNumber();
    // Draws the first Count cells of Row below the last row, on a new page when they do
    // not fit (a Repeat row is drawn where it is: it begins a page).
    void DrawRow(const TRow& Row, std::size_t Count, bool Repeat);
    void DrawRow(const TRow& Row, bool Repeat) { DrawRow(Row, Row.size(), Repeat); }
    // A header or footer line: across the page, without grid.
    void DrawLine(const TCell& Cell);
    double CellHeight(const TCell& Cell, double Width);
    void DrawCell(const TCell& Cell, const QRectF& Box, bool Grid);
    QFont ToQFont(const TFont* Font);

    std::unique_ptr<QIODevice> FDevice;
    std::unique_ptr<QPdfWriter> FWriter;
    std::unique_ptr<QPainter> FPainter;
    std::vector<double> FColX;      // left edge of each column, device units
    std::vector<double> FColWidth;  // device units
    TRow FRow;
    std::size_t FCellsInRow = 0;    // FRow's first cells in use (the rest keep their memory)
    std::vector<TRow> FRepeat;      // caption rows, drawn again on every page
    bool FRepeatDone = false;       // a data row came: the caption rows are complete
    double FY = 0, FTop = 0, FBottom = 0, FLeft = 0, FRight = 0, FUnit = 1;
    int FPage = 0;
    bool FRowsOnPage = false;
    bool FGrid = true;
    long long FCutRows = 0, FBadPictures = 0, FUncopyable = 0;
    // The last font asked for, and its Qt form.
    std::unique_ptr<TFont> FLastFont;
    QFont FLastQFont;
};
