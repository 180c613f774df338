#include "platform/automation/word/word_document.h"

#include "framework/exceptions.h"
#include "platform/automation/word/word_source.h"
#include "platform/automation/word/word_text.h"

#include <algorithm>
#include <cmath>

namespace {

std::size_t ParagraphLength(const WordParagraph& p)
{
    return WordTextLength(p.Text) + p.PictureCount() + 1;
}

} // namespace

double WordTable::WidthPt() const
{
    double sum = 0;
    for (double w : ColumnWidthsPt) sum += w;
    return sum;
}

double WordTable::CellMarginPt() const
{
    constexpr double usual = WordCellPaddingPt / 2;
    double narrowest = 4 * usual;
    for (double w : ColumnWidthsPt) narrowest = std::min(narrowest, w);
    return narrowest < 4 * usual ? narrowest / 10 : usual;
}

double WordPageSetup::TextWidth() const
{
    double w = (Orientation == 1 ? std::max(PageWidth, PageHeight) : std::min(PageWidth, PageHeight)) -
               LeftMargin - RightMargin;
    return std::max(w, 36.0);
}

double WordPageSetup::TextHeight() const
{
    double h = (Orientation == 1 ? std::min(PageWidth, PageHeight) : std::max(PageWidth, PageHeight)) -
               TopMargin - BottomMargin;
    return std::max(h, 36.0);
}

void WordPictureDisplaySize(int w, int h, double maxWidthPt, double maxHeightPt, double& widthPt, double& heightPt)
{
    widthPt = w * 0.75; // 96 pixels per inch, 72 points per inch
    heightPt = h * 0.75;
    if (maxWidthPt > 0 && widthPt > maxWidthPt) {
        heightPt = heightPt * maxWidthPt / widthPt;
        widthPt = maxWidthPt;
    }
    if (maxHeightPt > 0 && heightPt > maxHeightPt) {
        widthPt = widthPt * maxHeightPt / heightPt;
        heightPt = maxHeightPt;
    }
}

WordDocumentModel::WordDocumentModel()
{
    FFormats.push_back(WordCharFormat());
    FBlocks.emplace_back(); // the final paragraph mark
}

WordDocumentModel::~WordDocumentModel() = default;

uint32_t WordDocumentModel::Intern(const WordCharFormat& format)
{
    for (std::size_t i = 0; i < FFormats.size(); ++i)
        if (FFormats[i] == format) return static_cast<uint32_t>(i);
    FFormats.push_back(format);
    return static_cast<uint32_t>(FFormats.size() - 1);
}

std::size_t WordDocumentModel::BlockLength(const WordBlock& block) const
{
    switch (block.BlockKind) {
    case WordBlock::Paragraph: return ParagraphLength(block.Para);
    case WordBlock::Table: return block.Tbl->Length;
    case WordBlock::Existing: return block.ExistingLength;
    }
    return 0;
}

std::size_t WordDocumentModel::ContentEnd() const
{
    std::size_t n = 0;
    for (const auto& b : FBlocks) n += BlockLength(b);
    return n;
}

WordDocumentModel::Location WordDocumentModel::Locate(std::size_t position) const
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < FBlocks.size(); ++i) {
        std::size_t len = BlockLength(FBlocks[i]);
        if (position < start + len) {
            if (FBlocks[i].BlockKind == WordBlock::Table)
                throw Exception("The position " + std::to_string(position) +
                                " lies inside a table; address the table's cells instead");
            if (FBlocks[i].BlockKind == WordBlock::Existing)
                throw Exception("The position " + std::to_string(position) +
                                " lies inside the existing content of the opened document, which cannot be changed");
            return {i, std::min(position - start, len - 1)};
        }
        start += len;
    }
    throw Exception("The position " + std::to_string(position) + " lies outside the document (its end is " +
                    std::to_string(start) + ")");
}

WordParagraph& WordDocumentModel::ParagraphAt(std::size_t position)
{
    return FBlocks[Locate(position).Block].Para;
}

void WordDocumentModel::InsertText(std::size_t position, const std::string& text)
{
    Location loc = Locate(position);
    WordParagraph& p = FBlocks[loc.Block].Para;
    std::size_t at = WordByteOffset(p.Text, loc.Offset);
    p.Text.insert(at, text);
    if (p.Pictures)
        for (auto& pic : *p.Pictures)
            if (pic.TextOffset >= at && at < p.Text.size() - text.size()) pic.TextOffset += text.size();
}

void WordDocumentModel::InsertParagraph(std::size_t position)
{
    Location loc = Locate(position);
    WordBlock next;
    WordParagraph& p = FBlocks[loc.Block].Para;
    std::size_t at = WordByteOffset(p.Text, loc.Offset);
    next.Para.Text = p.Text.substr(at);
    next.Para.Format = p.Format;
    next.Para.Alignment = p.Alignment;
    p.Text.erase(at);
    if (p.Pictures) {
        for (auto it = p.Pictures->begin(); it != p.Pictures->end();) {
            if (it->TextOffset > at || (it->TextOffset == at && !next.Para.Text.empty())) {
                if (!next.Para.Pictures) next.Para.Pictures = std::make_unique<std::vector<WordInlinePicture>>();
                WordInlinePicture moved = *it;
                moved.TextOffset -= at;
                next.Para.Pictures->push_back(moved);
                it = p.Pictures->erase(it);
            } else {
                ++it;
            }
        }
    }
    FBlocks.insert(FBlocks.begin() + static_cast<std::ptrdiff_t>(loc.Block) + 1, std::move(next));
}

void WordDocumentModel::InsertCellText(WordTable& table, WordParagraph& cell, const std::string& text)
{
    cell.Text += text;
    table.Length += WordTextLength(text);
}

std::shared_ptr<WordTable> WordDocumentModel::AddTable(std::size_t position, int rows, int columns)
{
    if (rows < 1 || rows > 32767) throw Exception("The number of rows must be between 1 and 32767");
    if (columns < 1 || columns > 63) throw Exception("The number of columns must be between 1 and 63");
    Location loc = Locate(position);
    if (loc.Offset > 0) { // split the paragraph: the table goes between its two halves
        InsertParagraph(position);
        ++loc.Block;
    }
    auto table = std::make_shared<WordTable>(columns);
    table->Rows.Add(rows);
    table->ColumnWidthsPt.assign(static_cast<std::size_t>(columns), FPage.TextWidth() / columns);
    table->Length = static_cast<std::size_t>(rows) * (columns + 1);
    WordBlock block;
    block.BlockKind = WordBlock::Table;
    block.Tbl = table;
    FBlocks.insert(FBlocks.begin() + static_cast<std::ptrdiff_t>(loc.Block), std::move(block));
    return table;
}

void WordDocumentModel::AddTableRow(WordTable& table)
{
    if (table.RowCount() >= 32767 * 64) throw Exception("The table cannot take more rows");
    table.Rows.Add(1);
    table.Length += static_cast<std::size_t>(table.Columns) + 1;
}

WordInlinePicture& WordDocumentModel::AddPicture(WordParagraph& paragraph, WordTable* table,
                                                 const std::string& fileName, double maxWidthPt)
{
    int index = FPictures.Add(fileName);
    const WordPicture& pic = FPictures.Picture(index);
    WordInlinePicture inl;
    inl.Picture = index;
    inl.TextOffset = paragraph.Text.size();
    WordPictureDisplaySize(pic.PixelWidth, pic.PixelHeight, maxWidthPt, FPage.TextHeight(), inl.WidthPt, inl.HeightPt);
    if (!paragraph.Pictures) paragraph.Pictures = std::make_unique<std::vector<WordInlinePicture>>();
    paragraph.Pictures->push_back(inl);
    if (table) {
        table->Length += 1;
        ++table->PictureCount;
    }
    return paragraph.Pictures->back();
}

void WordDocumentModel::AutoFitTable(WordTable& table)
{
    // Width of each column's widest content: text lines at about half an em per character
    // of the default 12-point font, pictures at their displayed width, plus cell padding.
    std::vector<double> need(static_cast<std::size_t>(table.Columns), 0);
    table.Rows.ForEach([&](int, const std::vector<WordParagraph>& cells) {
      for (std::size_t i = 0; i < cells.size(); ++i) {
        const WordParagraph& cell = cells[i];
        double w = 0;
        std::size_t line = 0;
        ForEachWordChar(cell.Text, [&](char32_t c) {
            if (c == WordLineBreak) line = 0;
            else w = std::max(w, ++line * 6.0);
        });
        if (cell.Pictures)
            for (const auto& p : *cell.Pictures) w = std::max(w, p.WidthPt);
        double& n = need[i];
        n = std::max(n, w + WordCellPaddingPt);
      }
    });
    double sum = 0;
    for (double& n : need) sum += (n = std::max(n, 18.0));
    double avail = FPage.TextWidth();
    if (sum > avail)
        for (double& n : need) n = n * avail / sum;
    table.ColumnWidthsPt = need;
    table.AutoFit = true;
}

void WordDocumentModel::AttachSource(std::shared_ptr<WordSourceDocument> source, std::size_t existingLength)
{
    FBlocks.clear();
    WordBlock existing;
    existing.BlockKind = WordBlock::Existing;
    existing.ExistingLength = existingLength;
    FBlocks.push_back(std::move(existing));
    FBlocks.emplace_back();
    Source = std::move(source);
}
