#include "office/exporter_factory.h"

#include "cellfile/dbase_exporter.h"
#include "cellfile/dif_exporter.h"
#include "cellfile/html_exporter.h"
#include "cellfile/json_exporter.h"
#include "cellfile/ldif_exporter.h"
#include "cellfile/paradox_exporter.h"
#include "cellfile/quattro_exporter.h"
#include "cellfile/rtf_exporter.h"
#include "cellfile/spss_exporter.h"
#include "cellfile/sql_exporter.h"
#include "cellfile/sylk_exporter.h"
#include "cellfile/text_exporter.h"
#include "cellfile/xml_exporter.h"
#include "cellfile/xls_exporter.h"
#include "framework/files.h"
#include "framework/gui_module.h"
#include "office/access_exporter.h"
#include "office/excel_exporter.h"
#include "office/word_exporter.h"

#include <algorithm>
#include <cctype>

namespace {

std::string LowerExtension(const std::string& FileName)
{
    std::string ext = ExtractFileExt(FileName);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

struct TRegistered {
    TTableTypeExport TableType;
    std::vector<std::string> Extensions;
    TExporterMaker Maker;
};

std::vector<TRegistered>& Registered()
{
    static std::vector<TRegistered> registered;
    return registered;
}

const TRegistered* FindRegistered(TTableTypeExport TableType)
{
    for (const TRegistered& r : Registered())
        if (r.TableType == TableType)
            return &r;
    return nullptr;
}

const TRegistered* FindRegistered(const std::string& Extension)
{
    for (const TRegistered& r : Registered())
        if (std::find(r.Extensions.begin(), r.Extensions.end(), Extension) != r.Extensions.end())
            return &r;
    return nullptr;
}

// The Gui module may bring the exporter asked for; a failure to load it only means it
// does not.
void LoadExportersOfGuiModule()
{
    std::string ignored;
    LoadGuiModule(ignored);
}

} // namespace

void RegisterExporter(TTableTypeExport TableType, std::vector<std::string> Extensions, TExporterMaker Maker)
{
    for (std::string& e : Extensions)
        std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return std::tolower(c); });
    std::vector<TRegistered>& registered = Registered();
    registered.erase(std::remove_if(registered.begin(), registered.end(),
                                    [&](const TRegistered& r) { return r.TableType == TableType; }),
                     registered.end());
    registered.push_back({TableType, std::move(Extensions), std::move(Maker)});
}

std::unique_ptr<TKVExportBaseComponent> CreateExporter(TTableTypeExport TableType)
{
    std::unique_ptr<TKVExportBaseComponent> exporter;
    switch (TableType) {
    case teText: exporter = std::make_unique<TKVExportToText>(); break;
    case teWord: exporter = std::make_unique<TKVExportToWord>(); break;
    case teXLS: exporter = std::make_unique<TKVExportToXLS>(); break;
    case teExcel: exporter = std::make_unique<TKVExportToExcel>(); break;
    case teRTF: exporter = std::make_unique<TKVExportToRTF>(); break;
    case teAccess: exporter = std::make_unique<TKVExportToAccess>(); break;
    case teHTML: exporter = std::make_unique<TKVExportToHTML>(); break;
    case teXML: exporter = std::make_unique<TKVExportToXML>(); break;
    case teSQL: exporter = std::make_unique<TKVExportToSQL>(); break;
    case teSYLK: exporter = std::make_unique<TKVExportToSYLK>(); break;
    case teDIF: exporter = std::make_unique<TKVExportToDIF>(); break;
    case teDBase: exporter = std::make_unique<TKVExportToDBase>(); break;
    case teSPSS: exporter = std::make_unique<TKVExportToSPSS>(); break;
    case teWKS: exporter = std::make_unique<TKVExportToWKS>(); break;
    case teQuattro: exporter = std::make_unique<TKVExportToQuattro>(); break;
    case teParadox: exporter = std::make_unique<TKVExportToParadox>(); break;
    case teLDIF: exporter = std::make_unique<TKVExportToLDIF>(); break;
    default: {
        const TRegistered* r = FindRegistered(TableType);
        if (!r) {
            LoadExportersOfGuiModule();
            r = FindRegistered(TableType);
        }
        if (!r || !(exporter = r->Maker()))
            return nullptr;
    }
    }
    exporter->SetTableType(TableType);
    return exporter;
}

bool TableTypeOfFileName(const std::string& FileName, TTableTypeExport& TableType)
{
    static const struct {
        const char* Extension;
        TTableTypeExport Type;
    } known[] = {
        {".txt", teText}, {".csv", teText},  {".tsv", teText},  {".doc", teWord},    {".docx", teWord},
        {".rtf", teWord}, {".xls", teExcel}, {".xlsx", teExcel}, {".mdb", teAccess}, {".accdb", teAccess},
        {".htm", teHTML}, {".html", teHTML}, {".xml", teXML}, {".sql", teSQL}, {".slk", teSYLK}, {".dif", teDIF},
        {".dbf", teDBase}, {".sav", teSPSS}, {".wk1", teWKS}, {".wq1", teQuattro}, {".ldif", teLDIF},
    };
    const std::string ext = LowerExtension(FileName);
    for (const auto& k : known)
        if (ext == k.Extension) {
            TableType = k.Type;
            return true;
        }
    if (const TRegistered* r = FindRegistered(ext)) {
        TableType = r->TableType;
        return true;
    }
    return false;
}

std::unique_ptr<TKVExportBaseComponent> CreateExporterForFile(const std::string& FileName)
{
    const std::string ext = LowerExtension(FileName);
    if (ext == ".json" || ext == ".jsonl") {
        auto json = std::make_unique<TKVExportToJSON>();
        json->Lines = ext == ".jsonl";
        json->SetFileName(FileName);
        return json;
    }
    TTableTypeExport type;
    if (!TableTypeOfFileName(FileName, type)) {
        LoadExportersOfGuiModule();
        if (!TableTypeOfFileName(FileName, type))
            return nullptr;
    }
    std::unique_ptr<TKVExportBaseComponent> exporter = CreateExporter(type);
    if (!exporter)
        return nullptr;
    exporter->SetFileName(FileName);
    if (ext == ".csv" || ext == ".tsv") {
        exporter->FieldDelimiter = ext == ".csv" ? "," : "\t";
        exporter->TextQualifier = "\"";
    }
    return exporter;
}

std::unique_ptr<TKVExportBaseComponent> CreateExporterForChoice(const TExportChoice& Choice)
{
    std::unique_ptr<TKVExportBaseComponent> exporter = CreateExporter(Choice.TableType);
    if (!exporter)
        return nullptr;
    if (Choice.TableType != teClipboard)
        exporter->SetFileName(Choice.FileName);
    exporter->TableName = Choice.TableName;
    exporter->CharacterSet = Choice.CharacterSet;
    exporter->FieldDelimiter = Choice.Separator == '\0' ? std::string() : std::string(1, Choice.Separator);
    exporter->AddTitle = Choice.AddTitle;
    exporter->Fixed = Choice.Fixed && Choice.TableType == teText;
    exporter->BlankIfZero = Choice.BlankIfZero;
    exporter->SelectedRecord = Choice.SelectedRecord == 1;
    return exporter;
}
