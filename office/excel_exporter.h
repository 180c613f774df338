#pragma once
// Exports into a spreadsheet workbook by driving the spreadsheet application through the
// automation bridge. Whole columns are formatted first; then the header lines, the caption
// row, one worksheet row per record (all cells of a row in one assignment) and the footer
// lines are written into the sheet named after the suite, and the workbook is saved in the
// file format the version asks for.

#include "export/export_component.h"
#include "office/word_exporter.h"
#include "platform/automation/automation.h"

#include <cstdint>
#include <string>

enum TMSExcelVersion : std::uint8_t {
    evExcelAuto, evExcel2, evExcel2FarEast, evExcel3, evExcel4, evExcel5, evExcel7, evExcel9597
};

// The constructor's value for ExcelVersion.
extern TMSExcelVersion DefaultExcelVersion;
// When true, a non-empty Header / Footer also becomes the printed page's left header /
// footer (the lines are written as cells in any case).
extern bool DefaultExportAsRealHeaderFooter;

// The letters of spreadsheet column n (1 -> "A", 26 -> "Z", 27 -> "AA"); empty for 0 or less.
std::string ExcelColumnName(int n);
// The file-format argument of SaveAs for a version; 0 for evExcelAuto (saved without one).
int ExcelFileFormat(TMSExcelVersion Version);
// The spreadsheet's horizontal-alignment value of an alignment.
int ExcelAlignment(TAlignment Alignment);

class TKVExportToExcel : public TKVExportBaseComponent {
    Q_OBJECT
public:
    explicit TKVExportToExcel(QObject* AOwner = nullptr);
    ~TKVExportToExcel() override;

    TMSExcelVersion ExcelVersion = evExcelAuto;
    // A workbook to start from instead of an empty one (left unchanged).
    std::string TemplateFile;
    // Fits every column to its content before saving.
    bool AutoFitColumns = false;
    // Attach to a spreadsheet application that is already running instead of starting one.
    bool UseCurrentInstance = false;
    // Keeps the header and caption rows in view (with AddTitle).
    bool FreezeFixed = false;
    // Protects the sheet with this password when not empty.
    std::string Password;

    TKVEPageSetup& PageSetup() { return *FPageSetup; }
    const TKVEPageSetup& PageSetup() const { return *FPageSetup; }
    void SetPageSetup(const TKVEPageSetup& Value) { FPageSetup->Assign(&Value); }

    // Whether ExcelVersion belongs in a form's stored data (it differs from the default).
    bool IsVersionStore() const { return ExcelVersion != DefaultExcelVersion; }

    std::string Extension() override { return ".XLS"; }
    void Prepare() override;
    // The number format of a column holding values of FieldType: "0" for whole numbers,
    // empty for dates and times, "@" (text) for everything else.
    virtual std::string GetFormat(TFieldType FieldType);

    void Assign(const TPersistent* Source) override;

protected:
    // Makes the sheet the export goes to the active one and returns the last used row
    // on it, the rows below which the export starts (0 for a new sheet). By default it
    // is the sheet named after the suite, added when the workbook has none.
    virtual int FindOrAddSheet();
    // Makes Entry, the row buffer's value of a data cell of Field (none for other columns),
    // the cell's final Text.
    virtual void SetRowEntry(AutomationValue& Entry, TField* Field, const std::string& Text);

    bool FCreatedInstance = false;
    AutomationValue FExcelApp;
    AutomationValue FWorkbook;

private:
    AutomationValue Sheet() const;
    void OpenWorkbook();
    void WritePageSetup();
    int FormatColumns();
    void WriteTextLines(const TStringList& Lines, int FirstRow, TFont& Font);
    void WriteCaptions(int Row);
    // Writes one accepted record into sheet row Row; the cells go through RowBuffer.
    void WriteRecord(AutomationValue& Row, AutomationValue& RowBuffer, int VisibleCount, TFont& Font);
    // Raises when Text is longer than a cell holds, naming the cell.
    static void CheckCellText(const std::string& Text, int Row, int Col);
    void InsertPicture(TField* Field, const std::string& Text, AutomationValue& Row, int Col);
    void PutFont(const AutomationValue& Cell, const TFont& Font, bool ResolveColor);
    void ColumnLines(const AutomationValue& Range);
    void RowLines(const AutomationValue& Range);
    void Release();

    std::unique_ptr<TKVEPageSetup> FPageSetup;
    // During the walk: the letters of the last visible column.
    std::string FLastColumnName;
};
