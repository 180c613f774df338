// The steps follow the word-processor exporter's conversation with the word processor, so
// that both give the same document: a header line sets the last paragraph's alignment,
// takes its text and a new paragraph mark; the table is added at the end of the content
// with one row and gains a row at the first cell of every table row; a cell's formatting
// goes bold, italic, underline, colour, font name, highlight, then its alignment and text.

#include "cellfile/rtf_exporter.h"

#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "platform/automation/word/word_document.h"
#include "platform/automation/word/word_save.h"
#include "platform/automation/word/word_source.h"

#include <QString>

#include <algorithm>
#include <cmath>

TKVExportToRTF::TKVExportToRTF(QObject* AOwner) : TKVExportToDocumentTable(AOwner)
{
    SetTableType(teRTF);
}

TKVExportToRTF::~TKVExportToRTF() = default;

void TKVExportToRTF::Assign(const TPersistent* Source)
{
    TKVExportToDocumentTable::Assign(Source);
    if (auto* source = dynamic_cast<const TKVExportToRTF*>(Source)) {
        TemplateFile = source->TemplateFile;
        AutoFitColumns = source->AutoFitColumns;
        Password = source->Password;
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

void TKVExportToRTF::WriteDataBegin()
{
    TKVExportToDocumentTable::WriteDataBegin();
    const int columns = TableColumns();
    if (columns == 0)
        return;
    FTable = FModel->AddTable(FModel->ContentEnd() - 1, 1, columns);
    FTableRows = 1;
    // Edges: top, left, bottom, right, between rows, between columns.
    const int columnLines = Options.Contains(soColLines) ? 1 : 0;
    const int rowLines = Options.Contains(soRowLines) ? 1 : 0;
    FTable->Borders = {rowLines, columnLines, rowLines, columnLines, rowLines, columnLines};
    const std::vector<int> widths =
        ColumnWidths(columns, static_cast<int>(std::nearbyint(static_cast<float>(FTable->WidthPt()))));
    for (std::size_t k = 0; k < widths.size(); ++k) {
        if (widths[k] == 0)
            continue;
        if (widths[k] < 1 || widths[k] > 1584)
            throw Exception("Value out of range: a column width must be 1 to 1584 points");
        FTable->ColumnWidthsPt[k] = widths[k];
        FTable->AutoFit = false;
    }
}

void TKVExportToRTF::WriteParagraph(const std::string& Text, TAlignment Alignment, int Row)
{
    static const std::uint8_t AlignMap[] = {0, 2, 1}; // left, right, centre
    CountReplaced(Text, [&] { return "line " + std::to_string(Row + 1) + " above the table"; });
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
    int col = 0;
    bool newRow = false;
    TableAddress(ARow, ACol, row, col, newRow);
    if (newRow) {
        FModel->AddTableRow(*FTable);
        ++FTableRows;
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
    if (IsDocumentPicture(Field, CellType)) {
        InsertPicture(Field, Text, row, col);
        return;
    }
    CountReplaced(Text,
                  [&] { return "row " + std::to_string(row) + ", column " + std::to_string(col) + " of the table"; });
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
    const TCellPictureFile file(Field, Text);
    const double maxWidth =
        std::max(FTable->ColumnWidthsPt[static_cast<std::size_t>(Col - 1)] - WordCellPaddingPt, 1.0);
    FModel->AddPicture(FTable->Cell(Row - 1, Col - 1), FTable.get(), file.Name(), maxWidth);
}

void TKVExportToRTF::CloseFileStream()
{
    // With a caller's stream the inherited close has written the footer already.
    const bool footerWritten = FStream != nullptr;
    TKVExportToDocumentTable::CloseFileStream();
    if (!FModel)
        return;
    const auto discard = [this] {
        FTable.reset();
        FModel.reset();
        ForgetReplaced();
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
        TellReplaced(FSaveFileName);
    } catch (...) {
        discard();
        throw;
    }
    discard();
}
