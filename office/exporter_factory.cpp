#include "office/exporter_factory.h"

#include "cellfile/clipboard_exporter.h"
#include "cellfile/json_exporter.h"
#include "cellfile/ldif_exporter.h"
#include "cellfile/pdf_exporter.h"
#include "cellfile/text_exporter.h"
#include "framework/files.h"
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

} // namespace

std::unique_ptr<TKVExportBaseComponent> CreateExporter(TTableTypeExport TableType)
{
    std::unique_ptr<TKVExportBaseComponent> exporter;
    switch (TableType) {
    case teText: exporter = std::make_unique<TKVExportToText>(); break;
    case teWord: exporter = std::make_unique<TKVExportToWord>(); break;
    case teXLS:
    case teExcel: exporter = std::make_unique<TKVExportToExcel>(); break;
    case teAccess: exporter = std::make_unique<TKVExportToAccess>(); break;
    case teLDIF: exporter = std::make_unique<TKVExportToLDIF>(); break;
    case tePDF: exporter = std::make_unique<TKVExportToPDF>(); break;
    case teClipboard: exporter = std::make_unique<TKVExportToClipboard>(); break;
    default: return nullptr;
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
        {".ldif", teLDIF}, {".pdf", tePDF},
    };
    const std::string ext = LowerExtension(FileName);
    for (const auto& k : known)
        if (ext == k.Extension) {
            TableType = k.Type;
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
    if (!TableTypeOfFileName(FileName, type))
        return nullptr;
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
