#pragma once
// Exports into a word-processor document by driving the word processor through the
// automation bridge: header lines become paragraphs, the caption row and the data rows
// one table, picture cells inline pictures in their table cells, and footer lines
// paragraphs after the table.

#include "cellfile/document_table.h"
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

class TKVExportToWord : public TKVExportToDocumentTable {
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
    void WriteDataBegin() override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;
    void CloseFileStream() override;

    // Points for a measure in the page setup's unit.
    float GetMeasureMargin(TKVEMeasure Measure, float Value);
    // The word processor's colour index of a colour (system colours resolved first);
    // 0 when the colour has none.
    static int GetColorIndex(TColor Color);

    void Assign(const TPersistent* Source) override;

protected:
    bool FCreatedInstance = false;
    std::string FSaveFileName;
    AutomationValue FWordApp;
    AutomationValue FDocument;
    AutomationValue FTable;

private:
    // Adds table rows until the table has at least Row rows.
    void EnsureTableRows(int Row);
    void InsertPicture(TField* Field, const std::string& Text, int Row, int Col);
    void DiscardDocument();

    std::unique_ptr<TKVEPageSetup> FPageSetup;
};
