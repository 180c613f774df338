#pragma once
// The RTF document written straight from the cell-file pipeline (teRTF): the native word
// processor's document model (platform/automation/word) is filled by C++ calls and saved
// by its RTF writer, with no automation bridge between them. The document is the one the
// word-processor exporter makes through the bridge:
//
//   - header lines are paragraphs with their alignment, then one table: the caption row
//     and a row per record (the three layouts), then the footer lines as paragraphs;
//   - column widths from the columns' widths (four points a character), scaled down to
//     the page's text width; lines between columns with soColLines, between rows with
//     soRowLines; AutoFitColumns fits them to their content;
//   - with soColorsFonts each cell's font name, bold, italic, underline, font colour and
//     background as the word processor's sixteen colour indexes (other colours are left
//     out); every cell's alignment;
//   - picture cells as inline pictures scaled into their column, stored once per content;
//   - a document to merge into (soMergeData) or to start from (TemplateFile) is read and
//     the export appended to it; Password protects the document read-only.
//
// The file goes through the document's writer, which writes beside the target and
// renames when whole; a failed export leaves an existing target as it was. Characters a
// document cannot hold are replaced and counted in the run's warnings.

#include "cellfile/document_table.h"

#include <memory>
#include <string>
#include <vector>

class WordDocumentModel;
struct WordTable;

class TKVExportToRTF : public TKVExportToDocumentTable {
    Q_OBJECT
public:
    explicit TKVExportToRTF(QObject* AOwner = nullptr);
    ~TKVExportToRTF() override;

    // A document to start from instead of an empty one.
    std::string TemplateFile;
    bool AutoFitColumns = false;
    // Protects the saved document with this password when not empty.
    std::string Password;

    std::string Extension() override { return ".RTF"; }
    void InternalFileCreate(const std::string& FileName) override;
    void WriteDataBegin() override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;
    void CloseFileStream() override;

    void Assign(const TPersistent* Source) override;

private:
    void WriteParagraph(const std::string& Text, TAlignment Alignment, int Row);
    void WriteCell(int Row, int Col, const std::string& Text, TAlignment Alignment, TFont* Font, TColor Color);
    void InsertPicture(TField* Field, const std::string& Text, int Row, int Col);

    std::unique_ptr<WordDocumentModel> FModel;
    std::shared_ptr<WordTable> FTable;
    std::string FSaveFileName;
};
