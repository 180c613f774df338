#pragma once
// Exports into a word-processor document by driving the word processor through the
// automation bridge: header lines become paragraphs, the caption row and the data rows
// one table, picture cells inline pictures in their table cells, and footer lines
// paragraphs after the table.

#include "cellfile/cell_file_exporter.h"
#include "platform/automation/automation.h"

enum TKVEMeasure : std::uint8_t { emPoint, emInch, emCentimeters, emPicas };
enum TKVEOrientation : std::uint8_t { emDefault, emPortrait, emLandscape };

class TKVEPageSetup : public TPersistent {
public:
    TKVEMeasure Measure = emPoint;
    bool UseDefault = true;
    float TopMargin = 0;
    float BottomMargin = 0;
    float LeftMargin = 0;
    float RightMargin = 0;
    float TableWidth = 0;
    TKVEOrientation Orientation = emDefault;

    void Assign(const TPersistent* Source) override;
};

class TKVExportToWord : public TKVExportToCellFile {
    Q_OBJECT
public:
    explicit TKVExportToWord(QObject* AOwner = nullptr);
    ~TKVExportToWord() override;

    // Attach to a word processor that is already running instead of starting one.
    bool UseCurrentInstance = false;
    // A document to start from instead of an empty one.
    std::string TemplateFile;
    bool AutoFitColumns = false;
    // Protects the saved document with this password when not empty.
    std::string Password;

    TKVEPageSetup& PageSetup() { return *FPageSetup; }
    const TKVEPageSetup& PageSetup() const { return *FPageSetup; }
    void SetPageSetup(const TKVEPageSetup& Value) { FPageSetup->Assign(&Value); }

    std::string Extension() override { return ".DOC"; }
    void InternalFileCreate(const std::string& FileName) override;
    void WriteDimensions(int ARowCount, int AColCount) override;
    void WriteColWidth(int ACol, int AWidth) override;
    void WriteDataBegin() override;
    void WriteRowStart(bool IsTitle) override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;
    void CloseFileStream() override;

    // Points for a measure in the page setup's unit.
    float GetMeasureMargin(TKVEMeasure Measure, float Value);
    // The word processor's colour index of a colour (system colours resolved first);
    // 0 when the colour has none.
    static int GetColorIndex(TColor Color);

    // The most columns a table of the word processor holds.
    static constexpr int MaxTableColumns = 63;

    void Assign(const TPersistent* Source) override;

protected:
    bool FCreatedInstance = false;
    std::string FSaveFileName;
    AutomationValue FColWidths;
    int FRowCount = 0;
    int FColCount = 0;
    AutomationValue FWordApp;
    AutomationValue FDocument;
    AutomationValue FTable;

private:
    // Characters of this document's texts that it cannot hold (and where the first was).
    std::size_t FReplaced = 0;
    std::string FFirstReplaced;
    void CountReplaced(const std::string& Text, const std::string& Place);

    // Columns of the table for the current layout.
    int TableColumnCount() const;
    // Adds table rows until the table has at least Row rows.
    void EnsureTableRows(int Row);
    void InsertPicture(TField* Field, const std::string& Text, int Row, int Col);
    void DiscardDocument();

    std::unique_ptr<TKVEPageSetup> FPageSetup;
    int FTableRows = 0;
    // The pipeline's row number of this document's first table row; -1 until the
    // first data cell arrives.
    int FFirstDataRow = -1;
};
