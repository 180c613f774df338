// Rows are held until the column widths are known (the first HeldRows data rows, or the
// whole table when it is shorter), then drawn as they end: a row's height is the
// tallest of its cells (text laid out in its column's width, or a picture scaled into
// it); a row that does not fit below the last one starts a new page, which gets its
// number at the bottom and the caption rows at the top, and a row higher than a page
// is drawn a page at a time, each cell going on where it stopped. The PDF writer is
// made when the file begins (its metrics measure the held rows); the painter when the
// widths are known; both are finished when the file ends, and nothing of a page is
// kept once the next one begins. What Qt writes when the painter ends (the last page,
// the fonts, their glyph-to-text maps, the cross-reference table) is held and mended
// (MendTail, cellfile/pdf_text_maps.h) before it goes to the stream.

#include "cellfile/pdf_exporter.h"
#include "cellfile/pdf_text_maps.h"

#include "export/message_table.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/picture.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QImage>
#include <QIODevice>
#include <QPageLayout>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QPdfWriter>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <cctype>
#include <cstdio>
#include <limits>
#include <optional>
#include <string_view>

namespace {

constexpr int Resolution = 720; // device units per inch: ten per point
constexpr double PadX = 2, PadY = 1.5, NumberArea = 14; // points
// The held rows' texts and pictures, in bytes, beyond which they are drawn at once.
constexpr std::size_t HeldBytesAtMost = std::size_t{32} << 20;

// The pipeline's stream as a device for the PDF writer. A failed write is kept and
// reported once the writer is done, instead of being thrown through Qt. While Held,
// writes are kept in memory until Release.
class TStreamDevice : public QIODevice {
public:
    explicit TStreamDevice(TStream* Stream) : FStream(Stream) {}
    std::string Error;
    bool Holding = false;
    std::string Held;
    long long Written = 0; // bytes that went to the stream

    void Release()
    {
        Holding = false;
        if (!Held.empty())
            Put(Held.data(), static_cast<qint64>(Held.size()));
        std::string().swap(Held);
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* Data, qint64 Count) override
    {
        if (!Error.empty())
            return -1;
        if (Holding) {
            Held.append(Data, static_cast<std::size_t>(Count));
            return Count;
        }
        return Put(Data, Count) ? Count : -1;
    }

private:
    bool Put(const char* Data, qint64 Count)
    {
        try {
            FStream->WriteBuffer(Data, Count);
            Written += Count;
            return true;
        } catch (const Exception& e) {
            Error = e.Message();
            return false;
        }
    }

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

// Values read whole or not at all: a number broken over two lines reads as two.
bool IsWhole(TCellType CellType)
{
    switch (CellType) {
    case ctInteger:
    case ctDouble:
    case ctCurrency:
    case ctDate:
    case ctTime:
    case ctDateTime: return true;
    default: return false;
    }
}

// Characters that have no glyph of their own: controls, format characters (joiners,
// direction marks, the soft hyphen), separators and variation selectors.
bool HasNoGlyph(char32_t Code)
{
    switch (QChar::category(Code)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph: return true;
    default: return (Code >= 0xFE00 && Code <= 0xFE0F) || (Code >= 0xE0100 && Code <= 0xE01EF);
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

// Lays Text out in Width, breaking at word boundaries and inside a word only when it is
// wider than Width; returns its height.
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
    FRepeatHeight = 0;
    FRepeatDone = false;
    FCellsInRow = 0;
    FHeld.clear();
    FHeldData = 0;
    FHeldBytes = 0;
    FNeeds.clear();
    FGridBoxes.clear();
    FHeldChars.assign(0x10000, false);
    FChanges.Clear();
    FPage = 0;
    FGrid = Options.Contains(soColLines) || Options.Contains(soRowLines);
    OpenWriter();
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

const QFontMetricsF& TKVExportToPDF::Metrics(const QFont& Font)
{
    if (!FMetrics || Font != FMetricsFont) {
        FMetricsFont = Font;
        FMetrics = std::make_unique<QFontMetricsF>(Font, FWriter.get());
    }
    return *FMetrics;
}

bool TKVExportToPDF::Drawable(const QFont& Font, char32_t Code)
{
    if (!FDrawableNow || Font != FDrawableFont) {
        FDrawableFont = Font;
        FDrawableNow = &FDrawable[Font.key()];
    }
    const auto [it, added] = FDrawableNow->try_emplace(Code, false);
    if (added) {
        // Laid out as drawing lays it out, falling back on the fonts fontconfig names for
        // its script; a glyph 0 (.notdef) is the empty box drawn where none has it.
        QTextLayout layout(QString::fromUcs4(&Code, 1), Font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        it->second = !runs.isEmpty();
        for (const QGlyphRun& run : runs)
            for (quint32 glyph : run.glyphIndexes())
                if (glyph == 0)
                    it->second = false;
        if (it->second && Code <= 0xFFFF && runs.size() == 1 && runs[0].glyphIndexes().size() == 1) {
            const QRawFont font = runs[0].rawFont();
            auto glyphs = std::find_if(FGlyphs.begin(), FGlyphs.end(), [&font](const auto& G) { return G.first == font; });
            if (glyphs == FGlyphs.end())
                glyphs = FGlyphs.insert(FGlyphs.end(), {font, {}});
            glyphs->second.try_emplace(runs[0].glyphIndexes()[0], static_cast<char16_t>(Code));
        }
    }
    return it->second;
}

void TKVExportToPDF::CheckCharacters(const TCell& Cell, int ACol)
{
    const QString& text = Cell.Text;
    bool missing = false, beyond = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t code = text[i].unicode();
        if (code < 0x80)
            continue;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        } else {
            FHeldChars[code] = true;
        }
        if (HasNoGlyph(code))
            continue;
        if (!Drawable(Cell.Font, code))
            missing = true;
        else if (code > 0xFFFF)
            beyond = true;
    }
    if (missing)
        CountChange("values hold characters that no installed font has: they are drawn as empty boxes", ACol);
    if (beyond)
        CountChange("values hold characters beyond U+FFFF (such as emoji): they are drawn, but Qt's PDF writer maps no "
                    "text to them, so a reader cannot copy or search them",
                    ACol);
}

void TKVExportToPDF::OpenWriter()
{
    FWriter.reset();
    FDevice.reset();
    FMetrics.reset();
    if (!FStream)
        return;
    FDevice = std::make_unique<TStreamDevice>(FStream);
    FDevice->open(QIODevice::WriteOnly);
    FWriter = std::make_unique<QPdfWriter>(FDevice.get());
    FWriter->setResolution(Resolution);
    FWriter->setCreator(QString::fromLatin1(GeneratorVer));
    FWriter->setTitle(QString::fromStdString(ExtractFileName(TargetName())));
    FUnit = Resolution / 72.0;
}

double TKVExportToPDF::PictureHeight(const TCell& Cell, double Inner) const
{
    if (Cell.Image.isNull())
        return 0;
    // Its size at 96 pixels an inch, made smaller to fit, never larger.
    const double w = Cell.Image.width() * 0.75 * FUnit, h = Cell.Image.height() * 0.75 * FUnit;
    return h * std::min({1.0, Inner / w, (FBottom - FTop) / 4 / h});
}

void TKVExportToPDF::MeasureNeeds(const TCell& Cell)
{
    if (Cell.Col < 0)
        return;
    const auto col = static_cast<std::size_t>(Cell.Col);
    if (col >= FNeeds.size())
        FNeeds.resize(col + 1);
    TColumnNeed& need = FNeeds[col];
    const double pad = 2 * PadX * FUnit;
    if (Cell.IsPicture) {
        // Pictures are scaled to their column: they ask for their size, and need an inch.
        if (!Cell.Image.isNull()) {
            const double w = Cell.Image.width() * 0.75 * FUnit;
            need.Word = std::max(need.Word, std::min(w, 72 * FUnit) + pad);
            need.Natural = std::max(need.Natural, w + pad);
        }
        return;
    }
    if (Cell.Text.isEmpty())
        return;
    const QFontMetricsF& metrics = Metrics(Cell.Font);
    double natural = Cell.Width;
    if (natural < 0) {
        natural = 0;
        for (const QString& line : Cell.Text.split(QChar::LineSeparator))
            natural = std::max(natural, metrics.horizontalAdvance(line));
    }
    natural += pad;
    need.Natural = std::max(need.Natural, natural);
    if (Cell.Whole) {
        need.Whole = std::max(need.Whole, natural);
        return;
    }
    if (natural <= need.Word)
        return;
    // The widest stretch between two places where a line may break.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Line, Cell.Text);
    qsizetype from = 0;
    for (qsizetype to = finder.toNextBoundary(); to >= 0; to = finder.toNextBoundary()) {
        const QString piece = Cell.Text.mid(from, to - from).trimmed();
        if (!piece.isEmpty())
            need.Word = std::max(need.Word, metrics.horizontalAdvance(piece) + pad);
        from = to;
    }
}

std::vector<double> TKVExportToPDF::FitWidths(double Available) const
{
    double least = 0, word = 0, natural = 0, numbers = 0; // numbers: the Leasts that numbers set
    for (const TColumnNeed& need : FNeeds) {
        least += need.Least;
        word += need.Word;
        natural += need.Natural;
        if (need.Whole >= need.Least)
            numbers += need.Least;
    }
    // Numbers wider than the page with the texts beside them: they are drawn smaller,
    // the texts keep their eight characters.
    const double numberScale =
        numbers > 0 && least - numbers < Available ? (Available - (least - numbers)) / numbers : 0;
    std::vector<double> widths;
    for (const TColumnNeed& need : FNeeds) {
        if (natural <= Available) // every line fits: the widths grow alike
            widths.push_back(need.Natural * Available / natural);
        else if (word <= Available) // no word breaks: the room above that goes to the longer lines
            widths.push_back(need.Word + (Available - word) * (need.Natural - need.Word) / (natural - word));
        else if (least <= Available) // words break; numbers keep their width
            widths.push_back(need.Least + (Available - least) * (need.Word - need.Least) / (word - least));
        else if (numberScale > 0)
            widths.push_back(need.Whole >= need.Least ? need.Least * numberScale : need.Least);
        else
            widths.push_back(need.Least * Available / least);
    }
    return widths;
}

void TKVExportToPDF::BeginDocument()
{
    if (!FWriter)
        return;
    // Every column asks for its padding and one character at least, and keeps eight
    // characters of its words before numbers elsewhere are drawn smaller.
    FNeeds.resize(std::max<std::size_t>({FNeeds.size(), ColumnWidths().size(), 1}));
    const double pad = 2 * PadX * FUnit;
    const double character = QFontMetricsF(ToQFont(nullptr), FWriter.get()).averageCharWidth();
    for (TColumnNeed& need : FNeeds) {
        need.Natural = std::max(need.Natural, pad + character);
        need.Least = std::max({need.Whole, std::min(need.Natural, pad + 8 * character), pad});
        need.Word = std::max(need.Word, need.Least);
        need.Natural = std::max(need.Natural, need.Word);
    }
    double word = 0, natural = 0;
    for (const TColumnNeed& need : FNeeds) {
        word += need.Word;
        natural += need.Natural;
    }
    const QPageSize size(PageSetup.PageSize);
    const QMarginsF margins(PageSetup.LeftMargin, PageSetup.TopMargin, PageSetup.RightMargin, PageSetup.BottomMargin);
    const auto available = [&](QPageLayout::Orientation Orientation) {
        return QPageLayout(size, Orientation, margins, QPageLayout::Millimeter).paintRect(QPageLayout::Point).width()
               * FUnit;
    };
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    if (PageSetup.Orientation == poLandscape)
        orientation = QPageLayout::Landscape;
    else if (PageSetup.Orientation == poAuto) {
        // Landscape when portrait would break words, or when landscape holds every line
        // and portrait does not.
        const double portrait = available(QPageLayout::Portrait);
        if (word > portrait || (natural > portrait && natural <= available(QPageLayout::Landscape)))
            orientation = QPageLayout::Landscape;
    }
    FWriter->setPageLayout(QPageLayout(size, orientation, margins, QPageLayout::Millimeter));

    FPainter = std::make_unique<QPainter>();
    if (!FPainter->begin(FWriter.get()))
        throw Exception("cannot start writing the PDF file " + TargetName());
    FLeft = 0;
    FRight = FWriter->width();
    FTop = 0;
    FBottom = FWriter->height() - NumberArea * FUnit;
    FColX.clear();
    FColWidth = FitWidths(FRight - FLeft);
    double x = FLeft;
    for (double w : FColWidth) {
        FColX.push_back(x);
        x += w;
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

void TKVExportToPDF::DrawGrid()
{
    if (FGridBoxes.empty())
        return;
    // Each edge once: the edges on one line are joined where they meet or overlap.
    using TSpans = std::vector<std::pair<double, double>>;
    std::map<long long, TSpans> vertical, horizontal;
    const auto key = [](double At) { return std::llround(At * 8); };
    for (const QRectF& box : FGridBoxes) {
        vertical[key(box.left())].emplace_back(box.top(), box.bottom());
        vertical[key(box.right())].emplace_back(box.top(), box.bottom());
        horizontal[key(box.top())].emplace_back(box.left(), box.right());
        horizontal[key(box.bottom())].emplace_back(box.left(), box.right());
    }
    QPainterPath path;
    const auto add = [&path](std::map<long long, TSpans>& Lines, bool Vertical) {
        for (auto& [at, spans] : Lines) {
            const double position = static_cast<double>(at) / 8;
            std::sort(spans.begin(), spans.end());
            for (std::size_t i = 0; i < spans.size();) {
                double from = spans[i].first, to = spans[i].second;
                for (++i; i < spans.size() && spans[i].first <= to + 0.5; ++i)
                    to = std::max(to, spans[i].second);
                path.moveTo(Vertical ? QPointF(position, from) : QPointF(from, position));
                path.lineTo(Vertical ? QPointF(position, to) : QPointF(to, position));
            }
        }
    };
    add(vertical, true);
    add(horizontal, false);
    FPainter->setPen(QPen(QColor(128, 128, 128), 0.5 * FUnit));
    FPainter->setBrush(Qt::NoBrush);
    FPainter->drawPath(path);
    FGridBoxes.clear();
}

void TKVExportToPDF::NewPage()
{
    DrawGrid();
    DrawPageNumber();
    FWriter->newPage();
    ++FPage;
    FY = FTop;
    FRowsOnPage = false;
    // Caption rows higher than half a page are not repeated: they would leave no room.
    if (FRepeatHeight <= (FBottom - FTop) / 2)
        for (const TRow& row : FRepeat)
            DrawRow(row, row.size(), true, false);
}

void TKVExportToPDF::DrawBox(const TCell& Cell, const QRectF& Box, bool Grid)
{
    if (Cell.Background != Qt::white)
        FPainter->fillRect(Box, Cell.Background);
    if (Grid)
        FGridBoxes.push_back(Box);
}

void TKVExportToPDF::DrawPiece(const TCell& Cell, const QRectF& Inner)
{
    if (Cell.IsPicture) {
        if (Cell.Image.isNull())
            return;
        const double w = Cell.Image.width() * 0.75 * FUnit, h = Cell.Image.height() * 0.75 * FUnit;
        const double scale = std::min({1.0, Inner.width() / w, Inner.height() / h});
        if (scale <= 0)
            return;
        QRectF target(Inner.topLeft(), QSizeF(w * scale, h * scale));
        if (Cell.Alignment == Qt::AlignRight)
            target.moveRight(Inner.right());
        else if (Cell.Alignment == Qt::AlignHCenter)
            target.moveLeft(Inner.left() + (Inner.width() - target.width()) / 2);
        FPainter->drawImage(target, Cell.Image);
        return;
    }
    if (Cell.Text.isEmpty())
        return;
    if (Cell.Width > Inner.width() && Cell.Font.pointSizeF() > 0) {
        // A number wider than its column, drawn smaller rather than broken.
        QFont smaller = Cell.Font;
        smaller.setPointSizeF(Cell.Font.pointSizeF() * Inner.width() / Cell.Width * 0.98);
        FPainter->setFont(smaller);
    } else {
        FPainter->setFont(Cell.Font);
    }
    FPainter->setPen(Cell.TextColor);
    FPainter->drawText(Inner, Cell.Alignment | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip, Cell.Text);
}

double TKVExportToPDF::DrawRow(const TRow& Row, std::size_t Count, bool Repeat, bool Line)
{
    if (Count == 0)
        return 0;
    // Each cell is one piece (a picture, or a text on one line) or laid-out lines, of
    // which each page takes those that fit below what the cell drew before.
    struct TFlow {
        double X = 0, Width = 0;
        std::unique_ptr<QTextLayout> Layout;
        int Next = 0, Until = 0;  // laid out: the first line not drawn; the end of this page's
        double Height = 0;        // a piece's height
        bool Done = false;
    };
    const double padX = PadX * FUnit, padY = PadY * FUnit;
    std::vector<TFlow> flows(Count);
    double height = 0;
    for (std::size_t i = 0; i < Count; ++i) {
        const TCell& cell = Row[i];
        TFlow& flow = flows[i];
        if (Line) {
            flow.X = FLeft;
            flow.Width = FRight - FLeft;
        } else {
            const std::size_t col =
                std::min<std::size_t>(static_cast<std::size_t>(std::max(cell.Col, 0)), FColX.size() - 1);
            flow.X = FColX[col];
            flow.Width = FColWidth[col];
        }
        const double inner = std::max(flow.Width - 2 * padX, FUnit);
        if (cell.IsPicture) {
            flow.Height = std::max(PictureHeight(cell, inner), Metrics(cell.Font).height());
        } else if (cell.Width >= 0 && (cell.Whole || cell.Width <= inner)) {
            flow.Height = Metrics(cell.Font).height();
        } else {
            flow.Layout = std::make_unique<QTextLayout>(cell.Text, cell.Font, FWriter.get());
            flow.Height = LayOut(*flow.Layout, inner, cell.Alignment);
            if (flow.Layout->lineCount() == 0) {
                flow.Layout.reset();
                flow.Height = Metrics(cell.Font).height();
            }
        }
        height = std::max(height, flow.Height);
    }
    height += 2 * padY;
    const double pageRoom = FBottom - FTop - (FRepeatHeight <= (FBottom - FTop) / 2 ? FRepeatHeight : 0);
    if (!Repeat && FRowsOnPage && FY + height > FBottom && height <= pageRoom)
        NewPage();

    for (double drawn = 0;;) {
        // A caption row drawn again is drawn whole; so is a line higher than a page, on a
        // page of its own.
        const double room = Repeat ? std::numeric_limits<double>::max() : FBottom - FY - 2 * padY;
        const bool force = Repeat || !FRowsOnPage;
        double used = 0;
        bool took = false, more = false;
        for (std::size_t i = 0; i < Count; ++i) {
            TFlow& flow = flows[i];
            if (flow.Done)
                continue;
            if (!flow.Layout) {
                flow.Until = flow.Height <= room || force ? 1 : 0;
                if (flow.Until) {
                    took = true;
                    used = std::max(used, Row[i].IsPicture ? std::min(flow.Height, std::max(room, 0.0)) : flow.Height);
                } else {
                    more = true;
                }
                continue;
            }
            const int lines = flow.Layout->lineCount();
            const double top = flow.Layout->lineAt(flow.Next).y();
            int until = flow.Next;
            while (until < lines) {
                const QTextLine line = flow.Layout->lineAt(until);
                if (line.y() + line.height() - top > room)
                    break;
                ++until;
            }
            if (until == flow.Next && force)
                ++until;
            flow.Until = until;
            if (until > flow.Next) {
                took = true;
                const QTextLine last = flow.Layout->lineAt(until - 1);
                used = std::max(used, last.y() + last.height() - top);
            }
            if (until < lines)
                more = true;
        }
        if (!took) {
            // Not one line fits below the rows on this page.
            NewPage();
            continue;
        }
        // A row going on to the next page fills this one.
        const double segment = std::max(used + 2 * padY, more ? FBottom - FY : 0.0);
        for (std::size_t i = 0; i < Count; ++i) {
            const TCell& cell = Row[i];
            TFlow& flow = flows[i];
            const QRectF box(flow.X, FY, flow.Width, segment);
            DrawBox(cell, box, FGrid && !Line);
            if (flow.Done)
                continue;
            const QRectF inner = box.adjusted(padX, padY, -padX, -padY);
            if (!flow.Layout) {
                if (flow.Until) {
                    DrawPiece(cell, inner);
                    flow.Done = true;
                }
                continue;
            }
            if (flow.Until > flow.Next) {
                FPainter->setPen(cell.TextColor);
                const double top = flow.Layout->lineAt(flow.Next).y();
                for (int k = flow.Next; k < flow.Until; ++k)
                    flow.Layout->lineAt(k).draw(FPainter.get(), QPointF(inner.left(), inner.top() - top));
                flow.Next = flow.Until;
            }
            flow.Done = flow.Next >= flow.Layout->lineCount();
        }
        FY += segment;
        if (!Repeat)
            FRowsOnPage = true;
        if (!more)
            return drawn == 0 ? segment : std::numeric_limits<double>::infinity();
        drawn += segment;
        NewPage();
    }
}

void TKVExportToPDF::Draw(TRowKind Kind, const TRow& Row, std::size_t Count)
{
    switch (Kind) {
    case rkLine: DrawRow(Row, Count, false, true); break;
    case rkCaption:
        FRepeatHeight += DrawRow(Row, Count, false, false);
        FRepeat.emplace_back(Row.begin(), Row.begin() + static_cast<std::ptrdiff_t>(Count));
        break;
    case rkData: DrawRow(Row, Count, false, false); break;
    }
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
    cell.IsPicture = IsPictureCell(Field, CellType);
    cell.Whole = !cell.IsPicture && IsWhole(CellType);
    cell.Width = -1;
    cell.Font = ToQFont(Font);
    cell.TextColor = ToQColor(Font ? Font->Color : clWindowText);
    cell.Background = ToQColor(Color);
    cell.Alignment = ToQtAlignment(Alignment);
    cell.Image = QImage();
    cell.Text.clear();
    if (!cell.IsPicture) {
        cell.Text = WithLineSeparators(Text);
        CheckCharacters(cell, ACol);
        if (FWriter && !cell.Text.contains(QChar::LineSeparator))
            cell.Width = Metrics(cell.Font).horizontalAdvance(cell.Text);
    } else if (!Text.empty()) {
        try {
            TPicture picture;
            picture.LoadFromGraphicField(Text);
            cell.Image = picture.ToImage();
        } catch (const Exception&) {
            cell.Image = QImage::fromData(reinterpret_cast<const uchar*>(Text.data()), static_cast<int>(Text.size()));
        }
        if (cell.Image.isNull())
            CountChange("pictures could not be decoded and their cells were left empty", ACol);
    }
}

void TKVExportToPDF::WriteRowEnd(bool IsTitle)
{
    if (FWriter) {
        const TRowKind kind = !FDataStarted ? rkLine : IsTitle && !FRepeatDone ? rkCaption : rkData;
        if (kind == rkData)
            FRepeatDone = true;
        if (FPainter) {
            Draw(kind, FRow, FCellsInRow);
        } else {
            THeldRow& held = FHeld.emplace_back();
            held.Kind = kind;
            for (std::size_t i = 0; i < FCellsInRow; ++i) {
                TCell& cell = held.Row.emplace_back(std::move(FRow[i]));
                if (kind != rkLine)
                    MeasureNeeds(cell);
                FHeldBytes += static_cast<std::size_t>(cell.Text.size()) * 2
                              + static_cast<std::size_t>(cell.Image.sizeInBytes());
            }
            if (kind == rkData && ++FHeldData >= HeldRows)
                ReleaseHeld();
            else if (FHeldBytes >= HeldBytesAtMost)
                ReleaseHeld();
        }
    }
    FCellsInRow = 0;
    TKVExportToCellFile::WriteRowEnd(IsTitle);
}

void TKVExportToPDF::ReleaseHeld()
{
    BeginDocument();
    if (FPainter)
        for (const THeldRow& held : FHeld)
            Draw(held.Kind, held.Row, held.Row.size());
    std::vector<THeldRow>().swap(FHeld);
}

void TKVExportToPDF::EndDocument()
{
    auto* device = static_cast<TStreamDevice*>(FDevice.get());
    if (FPainter) {
        DrawGrid();
        DrawPageNumber();
        // The fonts go last: their text maps are mended before they are written.
        device->Holding = true;
        FPainter->end();
        FPainter.reset();
        MendTail(device->Held, device->Written, FHeldChars, FGlyphs);
        device->Release();
    }
    FMetrics.reset();
    FWriter.reset();
    std::string error;
    if (device)
        error = device->Error;
    FDevice.reset();
    if (!error.empty())
        throw EStreamError(error);
}

void TKVExportToPDF::WriteFileEnd()
{
    if (!FPainter && !FExportFailed)
        ReleaseHeld();
    std::vector<THeldRow>().swap(FHeld);
    EndDocument();
    for (std::string& line : FChanges.TakeLines(TargetName(), FChangeNames))
        Statistic().Warnings.push_back(std::move(line));
    TKVExportToCellFile::WriteFileEnd();
}
