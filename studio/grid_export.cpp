// One export from the grid, in the order the setup dialog's caller owes it:
//   1. propose the last settings, with the file named after what the grid shows;
//   2. the setup dialog; for a database table, ask before an existing one is replaced;
//   3. an exporter of the chosen type from the factory, holding the settings and the
//      choices, reading the grid (its visible columns, the selected rows when asked);
//   4. the suite's run; what a format could not hold as it was is told afterwards;
//   5. the exporter becomes the settings of the next export.
#include "studio/grid_export.h"

#include "cellfile/xls_exporter.h"

#include "export/export_dialog.h"
#include "cellfile/value_text.h"
#include "cellfile/xls_exporter.h"
#include "framework/db_grid.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/string_list.h"
#include "framework/ui_services.h"
#include "office/access_exporter.h"
#include "office/exporter_factory.h"
#include "office/typed_workbook.h"

#include <QDir>
#include <QStandardPaths>
#include <QString>

namespace {

// The name a file gets for SourceName: letters, digits, '-', '_' and '.' kept, the
// rest '_'.
std::string FileStem(const std::string& SourceName)
{
    std::string stem;
    for (unsigned char c : SourceName)
        stem += std::isalnum(c) || c == '-' || c == '_' || c == '.' || c >= 0x80 ? static_cast<char>(c) : '_';
    return stem.empty() ? std::string("export") : stem;
}

// The setup dialog proposes a format's extension in capitals; here names are spelled
// the way the platform spells them, so an extension just as proposed goes to lower case.
std::string PlatformExtension(const std::string& FileName, TTableTypeExport TableType)
{
    const std::string proposed = TKVExportBaseComponent::GetDefExt(TableType);
    if (proposed.empty() || ExtractFileExt(FileName) != proposed)
        return FileName;
    return ChangeFileExt(FileName, QString::fromStdString(proposed).toLower().toStdString());
}

bool HasTable(const std::string& Database, const std::string& Table)
{
    TStringList names;
    GetTableNames(&names, Database);
    for (int i = 0; i < names.Count(); ++i)
        if (QString::fromStdString(names[i]).compare(QString::fromStdString(Table), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// A loaded specification's columns apply to a grid that shows their fields; for any
// other grid they are dropped, and the person is told, so the grid's own columns go.
void DropUnknownColumns(TKVExportBaseComponent& Exporter, TDBGrid& Grid)
{
    TDataSet* ds = Grid.DataSet();
    std::string missing;
    for (int i = 0; i < Exporter.Columns().Count(); ++i) {
        const std::string& name = Exporter.Columns()[i]->FieldName;
        if (!name.empty() && (!ds || !ds->FindField(name)))
            missing += (missing.empty() ? "" : ", ") + name;
    }
    if (missing.empty())
        return;
    Exporter.Columns().Clear();
    UIServices().MessageBox("The specification names columns this grid does not show (" + missing
                                + "); the grid's visible columns are exported instead.",
                            mkInformation);
}

constexpr int ProgressStep = 1000;

} // namespace

TGridExport::TGridExport()
    : FSettings(CreateExporter(teText))
{
    // What a person exporting a table expects: column titles, and a delimited text
    // that quotes a value holding the delimiter instead of losing it.
    FSettings->AddTitle = true;
    FSettings->TextQualifier = "\"";
    FSettings->SetFileName(
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath("export.txt").toStdString());
}

TGridExport::~TGridExport() = default;

TExportFormatTypes TGridExport::OfferedFormats()
{
    TExportFormatTypes formats = 0;
    for (int t = 0; t <= teLDIF; ++t)
        if (CreateExporter(static_cast<TTableTypeExport>(t)))
            formats |= 1u << t;
    return formats;
}

std::unique_ptr<TKVExportBaseComponent> TGridExport::ExporterFor(TTableTypeExport TableType) const
{
    // Workbooks get typed cells with every digit, as tabrix-export writes them: through
    // the spreadsheet server (Excel) or straight from the rows (XLS, the same file).
    std::unique_ptr<TKVExportBaseComponent> exporter =
        TableType == teExcel ? std::make_unique<TTypedWorkbook>() : CreateExporter(TableType);
    if (!exporter)
        throw Exception("No exporter writes the format " + std::to_string(TableType));
    // The settings are copied, the handlers are not: the old exporter's would act on
    // it, and the new one keeps its own (a workbook types its cells in one).
    const TGetCellParamsEvent own = exporter->OnGetCellParams;
    exporter->Assign(FSettings.get());
    exporter->OnGetCellParams = own;
    exporter->SetTableType(TableType);
    exporter->SetFileName(FSettings->FileName());
    return exporter;
}

bool TGridExport::Execute(TDBGrid& Grid, const std::string& SourceName)
{
    const TKVExportBaseComponent& s = *FSettings;
    std::string fileName = s.FileName();
    const std::string folder = ExtractFilePath(fileName);
    fileName = folder + FileStem(SourceName)
        + QString::fromStdString(TKVExportBaseComponent::GetDefExt(s.TableType())).toLower().toStdString();
    std::string tableName = s.TableName.empty() ? FileStem(SourceName) : s.TableName;
    TTableTypeExport tableType = s.TableType();
    TCharacterSet characterSet = s.CharacterSet;
    char separator = s.FieldDelimiter.empty() ? '\0' : s.FieldDelimiter[0];
    bool addTitle = s.AddTitle, fixed = s.Fixed, blankIfZero = s.BlankIfZero;
    int selected = Grid.SelectedRows().Count() > 1 ? 1 : 0;

    if (!SetExportParam(FSettings.get(), fileName, tableName, tableType, characterSet, separator, addTitle, fixed,
                        blankIfZero, selected, OfferedFormats()))
        return false;
    if (tableType == teAccess && HasTable(fileName, tableName)
        && !UIServices().AskYesNo("The table " + tableName + " exists already in " + fileName
                                      + ". Do you want to replace it?",
                                  mkWarning))
        return false;

    std::unique_ptr<TKVExportBaseComponent> exporter = ExporterFor(tableType);
    exporter->SetFileName(PlatformExtension(fileName, tableType));
    exporter->TableName = tableName;
    exporter->CharacterSet = characterSet;
    exporter->FieldDelimiter = separator ? std::string(1, separator) : std::string();
    exporter->AddTitle = addTitle;
    exporter->Fixed = fixed;
    exporter->BlankIfZero = blankIfZero;
    exporter->SelectedRecord = selected == 1;
    FSettings = std::move(exporter);
    Run(Grid, SourceName);
    return true;
}

void TGridExport::Run(TDBGrid& Grid, const std::string& SourceName)
{
    TKVExportBaseComponent& exporter = *FSettings;
    auto* workbook = dynamic_cast<TTypedWorkbook*>(&exporter);
    if (workbook)
        workbook->SheetName = WorkbookSheetName(SourceName);
    if (auto* sheet = dynamic_cast<TKVExportToXLS*>(&exporter)) {
        sheet->SheetName = WorkbookSheetName(SourceName);
        sheet->FreezeCaptions = true;
    }
    exporter.ColumnSource = csDBGrid;
    exporter.SetDBGrid(&Grid);
    DropUnknownColumns(exporter, Grid);
    exporter.Options.Include(soShowMessage);
    exporter.Statistic().Warnings.clear();
    // The progress window is brought up to date every ProgressStep rows, not after
    // every row: painting it costs far more than writing a row, and at a few hundred
    // thousand rows a second it still answers Cancel within milliseconds.
    exporter.Statistic().UpdateStep = ProgressStep;
    // A text is read back by programs: every value whole (numbers with all their
    // digits, dates in ISO form), and lines end as the system's text files do, except
    // in a .csv, whose records end with CR LF.
    if (exporter.TableType() == teText) {
        UseExactValueTexts(exporter);
        exporter.RecordSeparator =
            QString::fromStdString(ExtractFileExt(exporter.FileName())).compare(".csv", Qt::CaseInsensitive) == 0
            ? "\r\n"
            : "\n";
    }
    FRunning = &exporter;
    try {
        exporter.Execute();
    } catch (...) {
        FRunning = nullptr;
        exporter.SetDBGrid(nullptr);
        throw;
    }
    FRunning = nullptr;
    exporter.SetDBGrid(nullptr);
    FLastResult = exporter.Statistic().Result;
    std::vector<std::string> warnings = exporter.Statistic().Warnings;
    if (workbook)
        for (const std::string& w : workbook->ChangedWarnings())
            warnings.push_back(w);
    if (FLastResult != erFailed && !warnings.empty()) {
        std::string text = "Some values could not be written as they were:";
        for (const std::string& w : warnings)
            text += "\n" + w;
        UIServices().MessageBox(text, mkWarning);
    }
}

bool TGridExport::LoadSpecification(const std::string& FileName)
{
    std::unique_ptr<TKVExportBaseComponent> loaded = ExporterFor(FSettings->TableType());
    bool changed = false;
    loaded->OnAfterLoadSpecification = [&changed](TPersistent*, std::string&) { changed = true; };
    loaded->LoadSpecification(FileName);
    if (!changed)
        return false;
    loaded->OnAfterLoadSpecification = nullptr;
    // The specification may name another format: its exporter takes the settings.
    if (loaded->TableType() != FSettings->TableType()) {
        FSettings = std::move(loaded);
        FSettings = ExporterFor(FSettings->TableType());
    } else {
        FSettings = std::move(loaded);
    }
    return true;
}

void TGridExport::SaveSpecification()
{
    FSettings->SaveSpecification("", "", true);
}
