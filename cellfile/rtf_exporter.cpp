// The steps follow the word-processor exporter's conversation with the word processor, so
// that both give the same document: a header line sets the last paragraph's alignment,
// takes its text and a new paragraph mark; the table is added at the end of the content
// with one row and gains a row at the first cell of every table row; a cell's formatting
// goes bold, italic, underline, colour, font name, highlight, then its alignment and text.

#include "cellfile/rtf_exporter.h"

#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/picture.h"
#include "framework/utf8.h"
#include "platform/automation/word/word_document.h"
#include "platform/automation/word/word_save.h"
#include "platform/automation/word/word_source.h"

#include <QString>

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

TKVExportToRTF::TKVExportToRTF(QObject* AOwner) : TKVExportToCellFile(AOwner)
{
    SetTableType(teRTF);
}

TKVExportToRTF::~TKVExportToRTF() = default;

void TKVExportToRTF::Assign(const TPersistent* Source)
{
    TKVExportToCellFile::Assign(Source);
    if (auto* source = dynamic_cast<const TKVExportToRTF*>(Source)) {
        TemplateFile = source->TemplateFile;
        AutoFitColumns = source->AutoFitColumns;
        Password = source->Password;
    }
}

void TKVExportToRTF::CountReplaced(const std::string& Text, const std::string& Place)
{
    if (const std::size_t n = CharactersReplacedInDocument(Text)) {
        if (FReplaced == 0)
            FFirstReplaced = Place;
        FReplaced += n;
    }
}

void TKVExportToRTF::InternalFileCreate(const std::string& FileName)
{
    FModel = std::make_unique<WordDocumentModel>();
    if (Options.Contains(soMergeData) && FileExists(this->FileName()))
        OpenWordSource(*FModel, this->FileName());
    else if (!TemplateFile.empty())
        OpenWordSource(*FModel, TemplateFile);
    FSaveFileName = FileName;
    FTable.reset();
    FTableRows = 0;
}

void TKVExportToRTF::WriteDimensions(int ARowCount, int AColCount)
{
    TKVExportToCellFile::WriteDimensions(ARowCount, AColCount);
    FColWidths.assign(static_cast<std::size_t>(std::max(AColCount, 0)), 0);
    FRowCount = ARowCount;
    FColCount = AColCount;
}

void TKVExportToRTF::WriteColWidth(int ACol, int AWidth)
{
    if (AWidth >= 1 && ACol >= 0 && ACol <= MaxTableColumns && static_cast<std::size_t>(ACol) < FColWidths.size())
        FColWidths[static_cast<std::size_t>(ACol)] = AWidth * 4;
}

int TKVExportToRTF::TableColumnCount() const
{
    // Columnar: one column per visible column. Reversed: the caption column and one
    // per record. Tabular form: caption, [blank], value.
    return Layout == elTabularForm ? FColCount : FColCount - 1;
}

void TKVExportToRTF::WriteDataBegin()
{
    TKVExportToCellFile::WriteDataBegin();
    FFirstDataRow = -1;
    const int columns = TableColumnCount();
    if (FRowCount < 1 || columns < 1)
        return;
    if (columns > MaxTableColumns)
        throw Exception("A word-processor table holds at most " + std::to_string(MaxTableColumns)
                        + " columns; this export needs " + std::to_string(columns)
                        + (Layout == elReversedColumnar ? " (one per record in the reversed layout)" : ""));
    FTable = FModel->AddTable(FModel->ContentEnd() - 1, 1, columns);
    FTableRows = 1;
    // Edges: top, left, bottom, right, between rows, between columns.
    const int columnLines = Options.Contains(soColLines) ? 1 : 0;
    const int rowLines = Options.Contains(soRowLines) ? 1 : 0;
    FTable->Borders = {rowLines, columnLines, rowLines, columnLines, rowLines, columnLines};

    // Every width but the last (there is one more than the table has columns), or all
    // of them in tabular form, scaled down to what the table's width allows.
    const std::size_t used = std::min<std::size_t>(static_cast<std::size_t>(columns), FColWidths.size());
    long long sum = 0;
    for (std::size_t k = 0; k < used; ++k)
        sum += FColWidths[k];
    const int available = static_cast<int>(std::nearbyint(static_cast<float>(FTable->WidthPt())));
    if (sum != 0 && available < sum)
        for (std::size_t k = 0; k < used; ++k)
            FColWidths[k] = static_cast<int>(static_cast<double>(FColWidths[k]) * available / sum);
    for (std::size_t k = 0; k < used; ++k) {
        const int width = FColWidths[k];
        if (width == 0)
            continue;
        if (width < 1 || width > 1584)
            throw Exception("Value out of range: a column width must be 1 to 1584 points");
        FTable->ColumnWidthsPt[k] = width;
        FTable->AutoFit = false;
    }
}

void TKVExportToRTF::WriteParagraph(const std::string& Text, TAlignment Alignment, int Row)
{
    static const std::uint8_t AlignMap[] = {0, 2, 1}; // left, right, centre
    CountReplaced(Text, "line " + std::to_string(Row + 1) + " above the table");
    FModel->LastParagraph().Alignment = AlignMap[Alignment];
    FModel->InsertText(FModel->ContentEnd() - 1, Text);
    FModel->InsertParagraph(FModel->ContentEnd() - 1);
}

void TKVExportToRTF::WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                               TAlignment Alignment, TFont* Font, TColor Color)
{
    if (!FDataStarted) {
        WriteParagraph(Text, Alignment, ARow);
        return;
    }
    if (!FTable)
        throw Exception("There is no table to write the cell into");
    int row = 0;
    int col = ACol + 1;
    if (Layout == elReversedColumnar) {
        row = ARow + 1;
        col = ACol - Header().Count() + 1;
    } else {
        // Rows count from the first data row of this document: in tabular form the
        // pipeline's row numbers run on across the files of a split export.
        if (FFirstDataRow < 0)
            FFirstDataRow = Layout == elTabularForm ? ARow : Header().Count();
        if (ACol <= 0) {
            FModel->AddTableRow(*FTable);
            ++FTableRows;
        }
        row = ARow - FFirstDataRow + 1;
    }
    // Cells beyond the table's last possible column are left out; the table itself
    // refuses to be made wider.
    if (col > MaxTableColumns || Text.empty())
        return;
    // Rows the pipeline skipped (records an OnBeforeRecord handler rejected, the gap rows
    // of the tabular form, the rows of the reversed layout) are added as empty rows.
    while (FTableRows < row) {
        FModel->AddTableRow(*FTable);
        ++FTableRows;
    }
    if (row < 1 || col < 1 || col > FTable->Columns)
        throw Exception("The requested member of the collection does not exist.");
    if ((Field && Field->IsBlob() && !Field->IsNull() && Field->BlobType() == ftGraphic) || CellType == ctGraphic) {
        InsertPicture(Field, Text, row, col);
        return;
    }
    CountReplaced(Text, "row " + std::to_string(row) + ", column " + std::to_string(col) + " of the table");
    WriteCell(row, col, Text, Alignment, Font, Color);
}

void TKVExportToRTF::WriteCell(int Row, int Col, const std::string& Text, TAlignment Alignment, TFont* Font,
                               TColor Color)
{
    static const std::uint8_t AlignMap[] = {0, 2, 1}; // left, right, centre
    WordParagraph& cell = FTable->Cell(Row - 1, Col - 1);
    // Each property is its own step, as each call to the word processor is.
    const auto change = [&](auto&& f) {
        WordCharFormat format = FModel->Format(cell.Format);
        f(format);
        cell.Format = FModel->Intern(format);
    };
    if (Options.Contains(soColorsFonts) && Font) {
        if (Font->HasStyle(fsBold))
            change([](WordCharFormat& f) { f.Bold = true; });
        if (Font->HasStyle(fsItalic))
            change([](WordCharFormat& f) { f.Italic = true; });
        if (Font->HasStyle(fsUnderline))
            change([](WordCharFormat& f) { f.Underline = true; });
        if (const int index = WordColorIndex(Font->Color))
            change([&](WordCharFormat& f) { f.ColorIndex = index; });
        const std::string& current = FModel->Format(cell.Format).FontName;
        if ((current.empty() ? std::string(WordDocumentModel::DefaultFontName()) : current) != Font->Name)
            change([&](WordCharFormat& f) {
                const bool standard = QString::fromStdString(Font->Name)
                                          .compare(QString::fromLatin1(WordDocumentModel::DefaultFontName()),
                                                   Qt::CaseInsensitive)
                    == 0;
                f.FontName = standard ? std::string() : Font->Name;
            });
        if (const int index = WordColorIndex(Color))
            change([&](WordCharFormat& f) { f.HighlightIndex = index; });
    }
    cell.Alignment = AlignMap[Alignment];
    FModel->InsertCellText(*FTable, cell, Text);
}

void TKVExportToRTF::InsertPicture(TField* Field, const std::string& Text, int Row, int Col)
{
    TPicture picture;
    if (Field)
        picture.LoadFromGraphicField(Field->AsString());
    else
        picture.LoadBitmapFromBytes(Text);
    // The document reads the picture by its content, through the name of an open file
    // that has no name in any folder: nothing of it outlives the process.
    struct Closer {
        int Handle;
        ~Closer() { ::close(Handle); }
    } file{CreateAnonymousFileWith(picture.Bytes())};
    picture.Clear();
    const double maxWidth =
        std::max(FTable->ColumnWidthsPt[static_cast<std::size_t>(Col - 1)] - WordCellPaddingPt, 1.0);
    FModel->AddPicture(FTable->Cell(Row - 1, Col - 1), FTable.get(), HandleFileName(file.Handle), maxWidth);
}

void TKVExportToRTF::CloseFileStream()
{
    // With a caller's stream the inherited close has written the footer already.
    const bool footerWritten = FStream != nullptr;
    TKVExportToCellFile::CloseFileStream();
    if (!FModel)
        return;
    const auto discard = [this] {
        FTable.reset();
        FModel.reset();
        FReplaced = 0;
    };
    // After a failure nothing is saved: an existing file keeps its old content.
    if (FExportFailed) {
        discard();
        return;
    }
    try {
        if (FTable && AutoFitColumns)
            FModel->AutoFitTable(*FTable);
        if (!footerWritten)
            WriteFooter();
        if (!Password.empty()) {
            FModel->ProtectionPassword = Password;
            FModel->Protected = true;
        }
        SaveWordDocument(*FModel, FSaveFileName);
        if (FReplaced > 0)
            Statistic().Warnings.push_back(
                FSaveFileName + ": " + std::to_string(FReplaced) + " character" + (FReplaced == 1 ? "" : "s")
                + " a document cannot hold (control characters, U+FFFE, U+FFFF, bytes that are not UTF-8) "
                  "were replaced, the first in " + FFirstReplaced);
    } catch (...) {
        discard();
        throw;
    }
    discard();
}
