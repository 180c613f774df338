// The layout both word-processor exporters give a table; see the header.

#include "cellfile/document_table.h"

#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/picture.h"
#include "framework/utf8.h"

#include <algorithm>
#include <cmath>
#include <unistd.h>

int WordColorIndex(TColor Color)
{
    switch (ColorToRGB(Color)) {
    case clBlack: return 1;
    case clBlue: return 2;
    case clAqua: return 3;
    case clLime: return 4;
    case clFuchsia: return 5;
    case clRed: return 6;
    case clYellow: return 7;
    case clWhite: return 8;
    case clNavy: return 9;
    case clTeal: return 10;
    case clGreen: return 11;
    case clPurple: return 12;
    case clMaroon: return 13;
    case clOlive: return 14;
    case clGray: return 15;
    case clSilver: return 16;
    default: return 0;
    }
}

std::size_t CharactersReplacedInDocument(const std::string& Text)
{
    // Vertical tab and form feed become line breaks, the other control characters their
    // visible pictures; bytes that are not UTF-8 are read as Windows-1252.
    std::size_t count = 0;
    for (std::size_t i = 0; i < Text.size();) {
        const unsigned char b = static_cast<unsigned char>(Text[i]);
        const std::size_t len = Utf8SequenceLength(Text, i);
        if (len == 0)
            ++count;
        else if (len == 1 && ((b < 0x20 && b != '\t' && b != '\n' && b != '\r') || b == 0x7F))
            ++count;
        else if (len == 3 && b == 0xEF && static_cast<unsigned char>(Text[i + 1]) == 0xBF
                 && static_cast<unsigned char>(Text[i + 2]) >= 0xBE) // U+FFFE, U+FFFF
            ++count;
        i += len == 0 ? 1 : len;
    }
    return count;
}

namespace {

// A cell's picture, checked to be one, in an anonymous file.
TAnonymousFile CellPictureFile(TField* Field, const std::string& Text)
{
    TPicture picture;
    if (Field)
        picture.LoadFromGraphicField(Field->AsString());
    else
        picture.LoadBitmapFromBytes(Text);
    return TAnonymousFile(picture.Bytes());
}

} // namespace

TCellPictureFile::TCellPictureFile(TField* Field, const std::string& Text)
    : FFile(CellPictureFile(Field, Text))
{
}

bool TKVExportToDocumentTable::IsDocumentPicture(TField* Field, TCellType CellType)
{
    return (Field && Field->IsBlob() && !Field->IsNull() && Field->BlobType() == ftGraphic) || CellType == ctGraphic;
}

void TKVExportToDocumentTable::WriteDimensions(int ARowCount, int AColCount)
{
    TKVExportToCellFile::WriteDimensions(ARowCount, AColCount);
    FColWidths.assign(static_cast<std::size_t>(std::max(AColCount, 0)), 0);
    FRowCount = ARowCount;
    FColCount = AColCount;
}

void TKVExportToDocumentTable::WriteColWidth(int ACol, int AWidth)
{
    if (AWidth >= 1 && ACol >= 0 && ACol <= MaxTableColumns && static_cast<std::size_t>(ACol) < FColWidths.size())
        FColWidths[static_cast<std::size_t>(ACol)] = AWidth * 4;
}

void TKVExportToDocumentTable::WriteDataBegin()
{
    TKVExportToCellFile::WriteDataBegin();
    FFirstDataRow = -1;
}

int TKVExportToDocumentTable::TableColumns() const
{
    // Columnar: one column per visible column. Reversed: the caption column and one
    // per record. Tabular form: caption, [blank], value.
    const int columns = Layout == elTabularForm ? FColCount : FColCount - 1;
    if (FRowCount < 1 || columns < 1)
        return 0;
    if (columns > MaxTableColumns)
        throw Exception("A word-processor table holds at most " + std::to_string(MaxTableColumns)
                        + " columns; this export needs " + std::to_string(columns)
                        + (Layout == elReversedColumnar ? " (one per record in the reversed layout)" : ""));
    return columns;
}

std::vector<int> TKVExportToDocumentTable::ColumnWidths(int Columns, int Available) const
{
    // Every width but the last (there is one more than the table has columns), or all
    // of them in tabular form.
    std::vector<int> widths(FColWidths.begin(),
                            FColWidths.begin() + std::min<std::ptrdiff_t>(Columns, std::ssize(FColWidths)));
    long long sum = 0;
    for (const int w : widths)
        sum += w;
    if (sum != 0 && Available < sum)
        for (int& w : widths)
            w = static_cast<int>(static_cast<double>(w) * Available / sum);
    return widths;
}

void TKVExportToDocumentTable::TableAddress(int ARow, int ACol, int& Row, int& Col, bool& NewRow)
{
    NewRow = false;
    Col = ACol + 1;
    if (Layout == elReversedColumnar) {
        Row = ARow + 1;
        Col = ACol - Header().Count() + 1;
        return;
    }
    // Rows count from the first data row of this document: in tabular form the
    // pipeline's row numbers run on across the files of a split export.
    if (FFirstDataRow < 0)
        FFirstDataRow = Layout == elTabularForm ? ARow : Header().Count();
    NewRow = ACol <= 0;
    Row = ARow - FFirstDataRow + 1;
}

void TKVExportToDocumentTable::TellReplaced(const std::string& FileName)
{
    for (std::string& line : FChanges.TakeLines(FileName, FChangeNames))
        Statistic().Warnings.push_back(std::move(line));
    if (FReplaced > 0)
        Statistic().Warnings.push_back(FileName + ": " + std::to_string(FReplaced) + " character"
                                       + (FReplaced == 1 ? "" : "s")
                                       + " a document cannot hold (control characters, U+FFFE, U+FFFF, bytes that "
                                         "are not UTF-8) were replaced, the first in "
                                       + FFirstReplaced);
    FReplaced = 0;
}
