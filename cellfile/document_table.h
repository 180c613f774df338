#pragma once
// What the word-processor exporters share, the bridged one (office/word_exporter.h) and
// the direct RTF writer (cellfile/rtf_exporter.h): a document of header paragraphs, one
// table and footer paragraphs, laid out the same way whoever builds it.
//
//   - The table has a column per visible column (columnar), the caption column and one per
//     record (reversed), or caption, [blank,] value (tabular form); at most 63 columns.
//   - Column widths come from the columns' widths, four points a character, scaled down
//     to what the table's width allows.
//   - The table starts with one row and gains a row at the first cell of every table row;
//     rows the pipeline skipped are added empty, so every address is inside the table.
//   - Characters a document cannot hold are counted, with the place of the first, for
//     the run's warning.

#include "cellfile/cell_file_exporter.h"
#include "framework/files.h"

#include <string>
#include <vector>

// The word processor's colour index of a colour (system colours resolved first); 0 when
// the colour has none.
int WordColorIndex(TColor Color);
// The characters of a text that a document cannot hold as they are, so the word processor
// puts something else: control characters other than tab, line feed and carriage return,
// U+FFFE and U+FFFF, and bytes that are not UTF-8.
std::size_t CharactersReplacedInDocument(const std::string& Text);

// The picture of a cell (a graphic field's content, or the bitmap bytes of its text) in a
// file that has no name in any folder, held open while this object lives: a document
// reads it by Name(), and nothing of it outlives the process, even one that is killed.
class TCellPictureFile {
public:
    TCellPictureFile(TField* Field, const std::string& Text);
    std::string Name() const { return FFile.Name(); }

private:
    TAnonymousFile FFile;
};

class TKVExportToDocumentTable : public TKVExportToCellFile {
    Q_OBJECT
public:
    using TKVExportToCellFile::TKVExportToCellFile;

    // The most columns a table of the word processor holds.
    static constexpr int MaxTableColumns = 63;

    void WriteDimensions(int ARowCount, int AColCount) override;
    void WriteColWidth(int ACol, int AWidth) override;
    void WriteDataBegin() override;

protected:
    // Whether a cell goes into the document as a picture.
    static bool IsDocumentPicture(TField* Field, TCellType CellType);
    // Columns of the table for the current layout; raises when there are more than a
    // table holds. 0 when the export has no table.
    int TableColumns() const;
    // The width in points of each of the table's first Columns columns, scaled down
    // proportionally when they add up to more than Available; 0 leaves a column as it is.
    std::vector<int> ColumnWidths(int Columns, int Available) const;
    // The table row and column (from 1) of a cell the pipeline writes at (ARow, ACol);
    // NewRow tells that the cell begins a table row.
    void TableAddress(int ARow, int ACol, int& Row, int& Col, bool& NewRow);
    // Counts the characters of Text a document cannot hold; Place() names where the
    // first of them was, asked only then (this runs for every cell).
    template <class TPlace>
    void CountReplaced(const std::string& Text, TPlace&& Place)
    {
        if (const std::size_t n = CharactersReplacedInDocument(Text)) {
            if (FReplaced == 0)
                FFirstReplaced = Place();
            FReplaced += n;
        }
    }
    // The warning about the replaced characters of the document saved as FileName, when
    // there were any; the count starts again.
    void TellReplaced(const std::string& FileName);
    void ForgetReplaced() { FReplaced = 0; }

    int FRowCount = 0;
    int FColCount = 0;
    int FTableRows = 0;

private:
    std::vector<int> FColWidths;
    // The pipeline's row number of this document's first table row; -1 until the
    // first data cell arrives.
    int FFirstDataRow = -1;
    std::size_t FReplaced = 0;
    std::string FFirstReplaced;
};
