#pragma once
// One place from a table type, or a file name's extension, to the exporter that writes
// it. It lives here, above the cell-file pipeline, because it must see every exporter:
// the cell-file formats (cellfile/) and the office exporters (office/), and only this
// folder and the programs above it can. Host programs and the setup dialog's caller
// turn a choice into a ready exporter in one call.

#include "export/export_component.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// A new exporter for TableType, with that table type set; null for a table type no
// exporter writes yet.
std::unique_ptr<TKVExportBaseComponent> CreateExporter(TTableTypeExport TableType);

// The table type that FileName's extension names, letter case ignored: .txt .csv .tsv
// are teText, .doc .docx .rtf teWord, .xls .xlsx teExcel, .mdb .accdb teAccess;
// .htm .html teHTML, .xml teXML, .sql teSQL, .slk teSYLK, .dif teDIF, .dbf teDBase, .sav
// teSPSS, .wk1 teWKS, .wq1 teQuattro (.db names none: it may be a Paradox table or a
// database; CreateExporter(teParadox) writes the former), .ldif teLDIF, .pdf tePDF.
// False when the extension names none.
bool TableTypeOfFileName(const std::string& FileName, TTableTypeExport& TableType);

// The exporter for FileName's table type with FileName set and the settings its
// extension implies: .csv is "," and .tsv a Tab, both with the '"' qualifier (RFC 4180
// for .csv). .json and .jsonl, which are no table type of the run, give the JSON
// exporter (one array, or one object a line). Null when the extension names nothing an
// exporter writes.
std::unique_ptr<TKVExportBaseComponent> CreateExporterForFile(const std::string& FileName);

// Exporters that live outside the headless core (those that need Qt Gui, such as PDF and
// the clipboard) register here when their library is loaded: linked into the program,
// or brought by the Gui module (framework/gui_module.h), which CreateExporter and
// CreateExporterForFile load when they find no exporter otherwise. Maker gives a new
// exporter; Extensions (".pdf", letter case ignored) make FileName lookups find
// TableType. A later registration for the same table type replaces the earlier one.
using TExporterMaker = std::function<std::unique_ptr<TKVExportBaseComponent>()>;
void RegisterExporter(TTableTypeExport TableType, std::vector<std::string> Extensions, TExporterMaker Maker);

// The setup dialog's result: the values SetExportParam writes back on OK.
struct TExportChoice {
    std::string FileName;
    std::string TableName;
    TTableTypeExport TableType = teText;
    TCharacterSet CharacterSet = csANSI_WINDOWS;
    char Separator = '\t'; // NUL: none
    bool AddTitle = true;
    bool Fixed = false;
    bool BlankIfZero = false;
    int SelectedRecord = 0; // 1: only the selected records
};

// The exporter the setup dialog's choice names, with the choice applied: file (none for
// the clipboard), table name, character set, the separator as the field delimiter,
// titles, fixed width (text only), blank if zero and selected records. Null for a table
// type no exporter writes yet.
std::unique_ptr<TKVExportBaseComponent> CreateExporterForChoice(const TExportChoice& Choice);
