#pragma once
// The compact document model behind the native word processor.
//
// A document is a list of blocks: paragraphs and tables, and for a document opened from a
// file, one block that stands for the file's existing content (kept as it is and written
// back unchanged). The last block is always a paragraph: the final paragraph mark.
//
// Positions count characters the way the word processor does: a paragraph is its text, one
// character per inline picture and one for its mark; a table is, per row, each cell's text
// and end-of-cell mark plus one end-of-row mark. Content.End is the total.
//
// Character formatting and alignment belong to a paragraph (a table cell holds one
// paragraph) as a whole: formatting set on a range applies to the paragraph at the range's
// end, the one that InsertAfter writes into.

#include "platform/automation/word/word_paragraph.h"
#include "platform/automation/word/word_pictures.h"
#include "platform/automation/word/word_table_rows.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum WordBorderEdge { wbTop, wbLeft, wbBottom, wbRight, wbHorizontal, wbVertical };

struct WordTable {
    explicit WordTable(int columns) : Columns(columns), Rows(columns) {}

    const int Columns;
    WordTableRows Rows;
    std::vector<double> ColumnWidthsPt;
    std::array<int, 6> Borders{1, 1, 1, 1, 1, 1}; // line style per WordBorderEdge, 0 = none
    bool AutoFit = false;
    std::size_t Length = 0; // in positions, kept up to date
    int PictureCount = 0;   // inline pictures in all cells

    int RowCount() const { return Rows.Count(); }
    WordParagraph& Cell(int row, int col) { return Rows.Cell(row, col); }
    double WidthPt() const;
    // The space left and right of the text in every cell: the usual 5.4 points, or,
    // when a column is narrower than four times that (a table of some forty columns
    // across a page), a tenth of the narrowest column, so that text still shows.
    double CellMarginPt() const;
};

// Page setup in points.
struct WordPageSetup {
    double PageWidth = 612, PageHeight = 792; // Letter, portrait
    double TopMargin = 72, BottomMargin = 72, LeftMargin = 72, RightMargin = 72;
    int Orientation = 0; // 0 portrait, 1 landscape
    bool Changed = false; // set through the object model (an opened document keeps its own otherwise)

    double TextWidth() const;
    double TextHeight() const;
};

class WordSourceDocument; // the content of an opened file

struct WordBlock {
    enum Kind { Paragraph, Table, Existing } BlockKind = Paragraph;
    WordParagraph Para;
    std::shared_ptr<WordTable> Tbl;
    std::size_t ExistingLength = 0;
};

class WordDocumentModel {
public:
    WordDocumentModel();
    ~WordDocumentModel();

    // ---- structure
    std::vector<WordBlock>& Blocks() { return FBlocks; }
    const std::vector<WordBlock>& Blocks() const { return FBlocks; }
    std::size_t ContentEnd() const;

    // Where a position lies: a block, and for a paragraph the character offset in it.
    struct Location {
        std::size_t Block = 0;
        std::size_t Offset = 0; // characters into the paragraph
    };
    // Raises Exception for a position outside the document, inside a table or inside the
    // existing content of an opened file.
    Location Locate(std::size_t position) const;
    WordParagraph& ParagraphAt(std::size_t position);
    WordParagraph& LastParagraph() { return FBlocks.back().Para; }

    // Inserts text into the paragraph that holds `position`, at that position.
    void InsertText(std::size_t position, const std::string& text);
    // Inserts a paragraph mark at `position`; the new paragraph takes over the formatting.
    void InsertParagraph(std::size_t position);
    // Inserts text at the end of a table cell.
    void InsertCellText(WordTable& table, WordParagraph& cell, const std::string& text);
    // A new table at `position`: before its paragraph when the position starts it, else the
    // paragraph is split there. The table's columns share the page's text width.
    std::shared_ptr<WordTable> AddTable(std::size_t position, int rows, int columns);
    void AddTableRow(WordTable& table);
    // Adds a picture at the end of `paragraph`, scaled down to fit `maxWidthPt` (> 0, the
    // column or the text width) and the page's text height. `table` is the table holding
    // the paragraph (or null).
    WordInlinePicture& AddPicture(WordParagraph& paragraph, WordTable* table, const std::string& fileName,
                                  double maxWidthPt);
    // Widths that fit each column's content, within the page's text width.
    void AutoFitTable(WordTable& table);

    // ---- formatting
    const WordCharFormat& Format(uint32_t index) const { return FFormats[index]; }
    const std::vector<WordCharFormat>& Formats() const { return FFormats; }
    uint32_t Intern(const WordCharFormat& format);
    static const char* DefaultFontName() { return "Times New Roman"; }

    WordPageSetup& PageSetup() { return FPage; }
    const WordPageSetup& PageSetup() const { return FPage; }
    WordPictureStore& Pictures() { return FPictures; }

    std::string ProtectionPassword; // empty = unprotected
    bool Protected = false;

    // The opened file, if any.
    std::shared_ptr<WordSourceDocument> Source;
    // Replaces the content by an opened file's: its content first, then an empty paragraph
    // for new text.
    void AttachSource(std::shared_ptr<WordSourceDocument> source, std::size_t existingLength);

private:
    std::size_t BlockLength(const WordBlock& block) const;
    std::vector<WordBlock> FBlocks;
    std::vector<WordCharFormat> FFormats;
    WordPageSetup FPage;
    WordPictureStore FPictures;
};

// The displayed size of a picture of w x h pixels (96 pixels per inch), scaled down
// proportionally when wider than maxWidthPt or taller than maxHeightPt (each when > 0).
void WordPictureDisplaySize(int w, int h, double maxWidthPt, double maxHeightPt, double& widthPt, double& heightPt);

// Cell padding left + right, in points: what a picture in a cell may not use.
inline constexpr double WordCellPaddingPt = 10.8;
