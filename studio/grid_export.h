#pragma once
// Exporting what the grid shows: its visible columns in its order, all records or only
// the rows the person selected, in any format the exporter factory knows. The setup
// dialog asks for format, file and options; the run is the suite's own (progress
// window with Cancel, closing message, opening or mailing the file afterwards). The
// settings of the last export, or of a loaded specification file, are kept and
// proposed for the next one.

#include "export/delivery.h"
#include "export/export_component.h"

#include <functional>
#include <memory>
#include <string>

class TDBGrid;

class TGridExport {
public:
    TGridExport();
    ~TGridExport();

    // The settings the next export starts from.
    TKVExportBaseComponent& Settings() { return *FSettings; }
    // Every table type the factory makes an exporter for.
    static TExportFormatTypes OfferedFormats();

    // Shows the setup dialog for Grid's rows (SourceName proposes the file's name) and
    // exports on OK. False when the dialog was cancelled; otherwise the run's result
    // is in LastResult.
    bool Execute(TDBGrid& Grid, const std::string& SourceName);
    // Exports Grid's rows with the current settings, without asking; SourceName names
    // a workbook's sheet.
    void Run(TDBGrid& Grid, const std::string& SourceName = {});
    TKVEResult LastResult() const { return FLastResult; }
    // The exporter of the run under way, for a host that wants to follow it; none
    // between runs.
    TKVExportBaseComponent* Running() const { return FRunning; }

    // Loads a specification file (asks for one when FileName is empty) into the
    // settings; false when nothing was loaded. A file that is not a specification
    // raises Exception.
    bool LoadSpecification(const std::string& FileName = {});
    // Asks for a name and a file through the suite's dialog and saves the settings.
    void SaveSpecification();

private:
    // Makes an exporter of TableType holding the current settings.
    std::unique_ptr<TKVExportBaseComponent> ExporterFor(TTableTypeExport TableType) const;

    std::unique_ptr<TKVExportBaseComponent> FSettings;
    TKVExportBaseComponent* FRunning = nullptr;
    TKVEResult FLastResult = erInProgress;
};
