// Each output row is drawn when it ends: its height is the tallest of its cells (text
// laid out in its column's width, or a picture scaled into it); a row that does not
// fit below the last one starts a new page, which gets its number at the bottom and
// the caption rows at the top. The painter, the PDF writer and the device under it are
// made when the first row ends (the column widths are known by then) and finished
// when the file ends; nothing of a page is kept once the next one begins.

#include "cellfile/pdf_exporter.h"

#include "export/message_table.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/picture.h"

#include <QFontMetricsF>
#include <QImage>
#include <QIODevice>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>

#include <algorithm>

namespace {

constexpr int Resolution = 720; // device units per inch: ten per point
constexpr double PadX = 2, PadY = 1.5, NumberArea = 14; // points

// The pipeline's stream as a device for the PDF writer. A failed write is kept and
// reported once the writer is done, instead of being thrown through Qt.
class TStreamDevice : public QIODevice {
public:
    explicit TStreamDevice(TStream* Stream) : FStream(Stream) {}
    std::string Error;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* Data, qint64 Count) override
    {
        if (!Error.empty())
            return -1;
        try {
            FStream->WriteBuffer(Data, Count);
            return Count;
        } catch (const Exception& e) {
            Error = e.Message();
            return -1;
        }
    }

private:
    TStream* FStream;
};

QColor ToQColor(TColor Color)
{
    const TColor rgb = ColorToRGB(Color);
    return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF), static_cast<int>((rgb >> 16) & 0xFF));
}

int ToQtAlignment(TAlignment Alignment)
{
    switch (Alignment) {
    case taRightJustify: return Qt::AlignRight;
    case taCenter: return Qt::AlignHCenter;
    default: return Qt::AlignLeft;
    }
}

// Text with its line breaks as the line separators a text layout breaks at.
QString WithLineSeparators(const std::string& Text)
{
    QString text = QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size()));
    if (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))) {
        text.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
        text.replace(QLatin1Char('\r'), QChar::LineSeparator);
        text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    }
    return text;
}

// Lays Text out in Width; returns its height.
double LayOut(QTextLayout& Layout, double Width, int Alignment)
{
    QTextOption option(static_cast<Qt::Alignment>(Alignment));
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Layout.setTextOption(option);
    Layout.beginLayout();
    double y = 0;
    for (QTextLine line = Layout.createLine(); line.isValid(); line = Layout.createLine()) {
        line.setLineWidth(Width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    Layout.endLayout();
    return y;
}

} // namespace

TKVExportToPDF::TKVExportToPDF(QObject* AOwner) : TKVExportToText(AOwner)
{
    SetTableType(tePDF);
}

TKVExportToPDF::~TKVExportToPDF()
{
    if (FPainter && FPainter->isActive())
        FPainter->end();
}

void TKVExportToPDF::WriteFileBegin()
{
    if (CharacterSet == csASCII_MSDOS)
        throw Exception("PDF text is Unicode: it cannot be written in the DOS character set");
    TKVExportToText::WriteFileBegin();
    FRepeat.clear();
    FRepeatDone = false;
    FCellsInRow = 0;
    FCutRows = FBadPictures = FUncopyable = 0;
    FPage = 0;
    FGrid = Options.Contains(soColLines) || Options.Contains(soRowLines);
}

void TKVExportToPDF::WriteDataBegin()
{
    if (Layout == elReversedColumnar)
        throw Exception("PDF draws one row a record: the reversed layout cannot be written");
    TKVExportToText::WriteDataBegin();
}

void TKVExportToPDF::WriteDataEnd()
{
    TKVExportToCellFile::WriteDataEnd();
}

QFont TKVExportToPDF::ToQFont(const TFont* Font)
{
    static const TFont standard;
    const TFont& font = Font ? *Font : standard;
    if (FLastFont && *FLastFont == font)
        return FLastQFont;
    if (!FLastFont)
        FLastFont = std::make_unique<TFont>();
    FLastFont->Assign(&font);
    QFont q(QString::fromStdString(font.Name));
    q.setPointSizeF(font.Size > 0 ? font.Size : 10);
    q.setBold(font.HasStyle(fsBold));
    q.setItalic(font.HasStyle(fsItalic));
    q.setUnderline(font.HasStyle(fsUnderline));
    q.setStrikeOut(font.HasStyle(fsStrikeOut));
    FLastQFont = q;
    return q;
}

void TKVExportToPDF::BeginDocument()
{
    if (!FStream)
        return;
    FDevice = std::make_unique<TStreamDevice>(FStream);
    FDevice->open(QIODevice::WriteOnly);
    FWriter = std::make_unique<QPdfWriter>(FDevice.get());
    FWriter->setResolution(Resolution);
    FWriter->setCreator(QString::fromLatin1(GeneratorVer));
    FWriter->setTitle(QString::fromStdString(ExtractFileName(TargetName())));
    FUnit = Resolution / 72.0;
    std::vector<int> widths = ColumnWidths();
    if (widths.empty())
        widths.push_back(DefaultFixedWidth);

    // Natural widths in points: the characters a column asks for in the standard font.
    const double average = QFontMetricsF(ToQFont(nullptr), FWriter.get()).averageCharWidth() / FUnit;
    std::vector<double> natural;
    double total = 0;
    for (int chars : widths) {
        natural.push_back(chars * average + 2 * PadX);
        total += natural.back();
    }
    const QPageSize size(PageSetup.PageSize);
    const QMarginsF margins(PageSetup.LeftMargin, PageSetup.TopMargin, PageSetup.RightMargin, PageSetup.BottomMargin);
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    if (PageSetup.Orientation == poLandscape
        || (PageSetup.Orientation == poAuto
            && total * 25.4 / 72 > size.size(QPageSize::Millimeter).width() - margins.left() - margins.right()))
        orientation = QPageLayout::Landscape;
    FWriter->setPageLayout(QPageLayout(size, orientation, margins, QPageLayout::Millimeter));

    FPainter = std::make_unique<QPainter>();
    if (!FPainter->begin(FWriter.get()))
        throw Exception("cannot start writing the PDF file " + TargetName());
    FLeft = 0;
    FRight = FWriter->width();
    FTop = 0;
    FBottom = FWriter->height() - NumberArea * FUnit;
    const double scale = (FRight - FLeft) / (total * FUnit);
    FColX.clear();
    FColWidth.clear();
    double x = FLeft;
    for (double w : natural) {
        FColX.push_back(x);
        FColWidth.push_back(w * FUnit * scale);
        x += FColWidth.back();
    }
    FY = FTop;
    FPage = 1;
    FRowsOnPage = false;
}

void TKVExportToPDF::DrawPageNumber()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8);
    FPainter->setFont(font);
    FPainter->setPen(QColor(96, 96, 96));
    FPainter->drawText(QRectF(FLeft, FBottom + 4 * FUnit, FRight - FLeft, 10 * FUnit), Qt::AlignHCenter | Qt::AlignTop,
                       QStringLiteral("Page %1").arg(FPage));
}

void TKVExportToPDF::NewPage()
{
    DrawPageNumber();
    FWriter->newPage();
    ++FPage;
    FY = FTop;
    FRowsOnPage = false;
    for (const TRow& row : FRepeat)
        DrawRow(row, true);
}

double TKVExportToPDF::CellHeight(const TCell& Cell, double Width)
{
    const double inner = std::max(Width - 2 * PadX * FUnit, FUnit);
    double height;
    if (Cell.IsPicture) {
        height = 0;
        if (!Cell.Image.isNull()) {
            // Its size at 96 pixels an inch, made smaller to fit, never larger.
            const double w = Cell.Image.width() * 0.75 * FUnit, h = Cell.Image.height() * 0.75 * FUnit;
            const double scale = std::min({1.0, inner / w, (FBottom - FTop) / 4 / h});
            height = h * scale;
        }
        height = std::max(height, QFontMetricsF(Cell.Font, FWriter.get()).height());
    } else if (!Cell.Text.contains(QChar::LineSeparator)
               && QFontMetricsF(Cell.Font, FWriter.get()).horizontalAdvance(Cell.Text) <= inner) {
        height = QFontMetricsF(Cell.Font, FWriter.get()).height();
    } else {
        QTextLayout layout(Cell.Text, Cell.Font, FWriter.get());
        height = LayOut(layout, inner, Cell.Alignment);
    }
    return height + 2 * PadY * FUnit;
}

void TKVExportToPDF::DrawCell(const TCell& Cell, const QRectF& Box, bool Grid)
{
    if (Cell.Background != Qt::white)
        FPainter->fillRect(Box, Cell.Background);
    if (Grid) {
        FPainter->setPen(QPen(QColor(128, 128, 128), 0.5 * FUnit));
        FPainter->setBrush(Qt::NoBrush);
        FPainter->drawRect(Box);
    }
    const QRectF inner = Box.adjusted(PadX * FUnit, PadY * FUnit, -PadX * FUnit, -PadY * FUnit);
    if (Cell.IsPicture) {
        if (Cell.Image.isNull())
            return;
        const double w = Cell.Image.width() * 0.75 * FUnit, h = Cell.Image.height() * 0.75 * FUnit;
        const double scale = std::min({1.0, inner.width() / w, inner.height() / h});
        QRectF target(inner.topLeft(), QSizeF(w * scale, h * scale));
        if (Cell.Alignment == Qt::AlignRight)
            target.moveRight(inner.right());
        else if (Cell.Alignment == Qt::AlignHCenter)
            target.moveLeft(inner.left() + (inner.width() - target.width()) / 2);
        FPainter->drawImage(target, Cell.Image);
        return;
    }
    if (Cell.Text.isEmpty())
        return;
    FPainter->setFont(Cell.Font);
    FPainter->setPen(Cell.TextColor);
    if (!Cell.Text.contains(QChar::LineSeparator)
        && QFontMetricsF(Cell.Font, FWriter.get()).horizontalAdvance(Cell.Text) <= inner.width()) {
        FPainter->drawText(inner, Cell.Alignment | Qt::AlignTop | Qt::TextSingleLine, Cell.Text);
        return;
    }
    QTextLayout layout(Cell.Text, Cell.Font, FWriter.get());
    const double height = LayOut(layout, inner.width(), Cell.Alignment);
    const bool cut = height > inner.height() + 0.5;
    if (cut) {
        FPainter->save();
        FPainter->setClipRect(Box);
    }
    layout.draw(FPainter.get(), inner.topLeft());
    if (cut)
        FPainter->restore();
}

void TKVExportToPDF::DrawRow(const TRow& Row, std::size_t Count, bool Repeat)
{
    double height = 0;
    for (std::size_t i = 0; i < Count; ++i) {
        const TCell& cell = Row[i];
        const std::size_t col = std::min<std::size_t>(static_cast<std::size_t>(std::max(cell.Col, 0)), FColX.size() - 1);
        height = std::max(height, CellHeight(cell, FColWidth[col]));
    }
    if (!Repeat && FRowsOnPage && FY + height > FBottom)
        NewPage();
    if (FY + height > FBottom) {
        height = FBottom - FY;
        ++FCutRows;
    }
    for (std::size_t i = 0; i < Count; ++i) {
        const TCell& cell = Row[i];
        const std::size_t col = std::min<std::size_t>(static_cast<std::size_t>(std::max(cell.Col, 0)), FColX.size() - 1);
        DrawCell(cell, QRectF(FColX[col], FY, FColWidth[col], height), FGrid);
    }
    FY += height;
    if (!Repeat)
        FRowsOnPage = true;
}

void TKVExportToPDF::DrawLine(const TCell& Cell)
{
    const double width = FRight - FLeft;
    double height = CellHeight(Cell, width);
    if (FRowsOnPage && FY + height > FBottom)
        NewPage();
    if (FY + height > FBottom) {
        height = FBottom - FY;
        ++FCutRows;
    }
    DrawCell(Cell, QRectF(FLeft, FY, width, height), false);
    FY += height;
    FRowsOnPage = true;
}

void TKVExportToPDF::WriteRowStart(bool IsTitle)
{
    TKVExportToCellFile::WriteRowStart(IsTitle);
    FCellsInRow = 0;
}

void TKVExportToPDF::WriteData(TField* Field, TCellType CellType, int, int ACol, const std::string& Text,
                               TAlignment Alignment, TFont* Font, TColor Color)
{
    if (FCellsInRow == FRow.size())
        FRow.emplace_back();
    TCell& cell = FRow[FCellsInRow++];
    cell.Col = ACol;
    cell.IsPicture = CellType == ctGraphic || (Field && Field->IsBlob() && Field->BlobType() == ftGraphic);
    cell.Font = ToQFont(Font);
    cell.TextColor = ToQColor(Font ? Font->Color : clWindowText);
    cell.Background = ToQColor(Color);
    cell.Alignment = ToQtAlignment(Alignment);
    cell.Image = QImage();
    cell.Text.clear();
    if (!cell.IsPicture) {
        cell.Text = WithLineSeparators(Text);
        if (std::any_of(cell.Text.begin(), cell.Text.end(), [](QChar c) { return c.isHighSurrogate(); }))
            ++FUncopyable;
    } else if (!Text.empty()) {
        try {
            TPicture picture;
            picture.LoadFromGraphicField(Text);
            cell.Image = picture.ToImage();
        } catch (const Exception&) {
            cell.Image = QImage::fromData(reinterpret_cast<const uchar*>(Text.data()), static_cast<int>(Text.size()));
        }
        if (cell.Image.isNull())
            ++FBadPictures;
    }
}

void TKVExportToPDF::WriteRowEnd(bool IsTitle)
{
    if (!FPainter)
        BeginDocument();
    if (FPainter) {
        if (!FDataStarted) {
            for (std::size_t i = 0; i < FCellsInRow; ++i)
                DrawLine(FRow[i]);
        } else if (IsTitle && !FRepeatDone) {
            FRepeat.emplace_back(FRow.begin(), FRow.begin() + static_cast<std::ptrdiff_t>(FCellsInRow));
            DrawRow(FRow, FCellsInRow, false);
        } else {
            FRepeatDone = true;
            DrawRow(FRow, FCellsInRow, false);
        }
    }
    FCellsInRow = 0;
    TKVExportToCellFile::WriteRowEnd(IsTitle);
}

void TKVExportToPDF::EndDocument()
{
    if (!FPainter)
        return;
    DrawPageNumber();
    FPainter->end();
    FPainter.reset();
    FWriter.reset();
    const std::string error = static_cast<TStreamDevice*>(FDevice.get())->Error;
    FDevice.reset();
    if (!error.empty())
        throw EStreamError(error);
}

void TKVExportToPDF::WriteFileEnd()
{
    if (!FPainter && !FExportFailed)
        BeginDocument();
    EndDocument();
    const auto tell = [this](long long Count, const std::string& What) {
        if (Count > 0)
            Statistic().Warnings.push_back(TargetName() + ": " + std::to_string(Count) + " " + What);
    };
    tell(FCutRows, "rows were higher than a page and were cut at its end");
    tell(FUncopyable, "values hold characters beyond U+FFFF (such as emoji): they are drawn, but Qt's PDF writer "
                      "maps no text to them, so a reader cannot copy or search them");
    tell(FBadPictures, "pictures could not be decoded and their cells were left empty");
    TKVExportToCellFile::WriteFileEnd();
}
