#include "cellfile/xml_exporter.h"

#include "cellfile/markup_text.h"
#include "cellfile/value_text.h"
#include "engine/data_engine.h"
#include "export/message_table.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"

#include <QByteArray>

#include <set>

namespace {

const std::string ReplacedWhat =
    "values held characters XML 1.0 cannot hold (control characters or bytes that are not UTF-8); they became U+FFFD";


bool XmlCharacter(char32_t C)
{
    return C == 0x9 || C == 0xA || C == 0xD || (C >= 0x20 && C <= 0xD7FF) || (C >= 0xE000 && C <= 0xFFFD)
        || (C >= 0x10000 && C <= 0x10FFFF);
}

const char* TypeName(TFieldType Type)
{
    switch (Type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: return "integer";
    case ftFloat: return "float";
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd: return "currency";
    case ftBoolean: return "boolean";
    case ftDate: return "date";
    case ftTime: return "time";
    case ftDateTime:
    case ftTimeStamp: return "datetime";
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob: return "memo";
    case ftGraphic: return "picture";
    default: return IsBlobFieldType(Type) || Type == ftBytes || Type == ftVarBytes ? "binary" : "string";
    }
}

} // namespace

TKVExportToXML::TKVExportToXML(QObject* AOwner) : TKVExportToText(AOwner)
{
    SetTableType(teXML);
}

std::string TKVExportToXML::XmlText(const std::string& Text, long long& Replaced)
{
    return Transcribe(Text, Replaced, [](char32_t C, bool Valid, std::string_view Bytes, std::string& Out) {
        switch (C) {
        case '&': Out += "&amp;"; return true;
        case '<': Out += "&lt;"; return true;
        case '>': Out += "&gt;"; return true;
        case '"': Out += "&quot;"; return true;
        case '\t': Out += "&#9;"; return true;
        case '\n': Out += "&#10;"; return true;
        case '\r': Out += "&#13;"; return true;
        default:
            if (Valid && XmlCharacter(C)) {
                Out += Bytes;
                return true;
            }
            Out += "\xEF\xBF\xBD";
            return false;
        }
    });
}

std::string TKVExportToXML::XmlName(const std::string& Text)
{
    std::string name;
    for (std::size_t i = 0; i < Text.size();) {
        bool valid = true;
        const char32_t c = NextCharacter(Text, i, valid);
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        name += letter || other ? static_cast<char>(c) : '_';
    }
    const bool start = !name.empty() && ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z') || name[0] == '_');
    std::string prefix = name.substr(0, 3);
    for (char& c : prefix)
        c = static_cast<char>(c | 0x20);
    if (name.empty())
        return "field";
    return start && prefix != "xml" ? name : "_" + name;
}

void TKVExportToXML::WriteFileBegin()
{
    if (CharacterSet == csASCII_MSDOS)
        throw Exception("XML is written in UTF-8: the DOS character set does not apply to it");
    TKVExportToText::WriteFileBegin();
    FHeaderLines = FFooterLines = 0;
    FReplaced = 0;
    FPastData = false;
    FNames.clear();
    long long ignored = 0;
    const std::string name = !TableName.empty() ? TableName
        : FileName().empty()                     ? std::string()
                                                 : ChangeFileExt(ExtractFileName(FileName()), "");
    WriteString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<table"
                + (name.empty() ? std::string() : " name=\"" + XmlText(name, ignored) + "\"") + " generator=\""
                + GeneratorVer + "\">\n");
}

void TKVExportToXML::WriteDataBegin()
{
    RequireRecordLayout("XML", false);
    if (FHeaderLines > 0)
        WriteString("</header>\n");
    TKVExportToText::WriteDataBegin();
    FPastData = true;
    FNames.clear();
    std::set<std::string> taken;
    std::string columns = "<columns>\n";
    for (TKVEColumn* column : VisibleColumns()) {
        const std::string caption = CaptionOf(column);
        FNames.push_back(UniqueName(XmlName(caption), taken, false));
        const TFieldType type = SourceEngine() ? SourceEngine()->DataTypeByColumn(column) : ftString;
        columns += "<column name=\"" + FNames.back() + "\" caption=\"" + XmlText(caption, FReplaced) + "\" type=\""
            + TypeName(type) + "\"/>\n";
    }
    WriteString(columns + "</columns>\n<rows>\n");
}

void TKVExportToXML::WriteDataEnd()
{
    WriteString("</rows>\n");
    TKVExportToCellFile::WriteDataEnd();
}

void TKVExportToXML::WriteRowStart(bool IsTitle)
{
    TKVExportToCellFile::WriteRowStart(IsTitle);
    FRow = FDataStarted ? "<row>" : "";
}

void TKVExportToXML::WriteData(TField* Field, TCellType CellType, int, int ACol, const std::string& Text,
                               TAlignment, TFont*, TColor)
{
    if (!FDataStarted) {
        // A header line before the table, a footer line after it.
        if (!FPastData && FHeaderLines++ == 0)
            FRow += "<header>\n";
        else if (FPastData && FFooterLines++ == 0)
            FRow += "<footer>\n";
        const long long replaced = FReplaced;
        FRow += "<line>" + XmlText(Text, FReplaced) + "</line>\n";
        if (FReplaced != replaced)
            CountChange(ReplacedWhat, -1);
        return;
    }
    const std::string name = ACol >= 0 && static_cast<std::size_t>(ACol) < FNames.size()
        ? FNames[static_cast<std::size_t>(ACol)]
        : "field" + std::to_string(ACol);
    if (Field && Field->IsNull()) {
        FRow += "<" + name + " null=\"true\"/>";
        return;
    }
    const TFieldType type = Field ? Field->DataType() : ftUnknown;
    const bool binary = IsPictureCell(Field, CellType)
        || (Field && (Field->IsBlob() || type == ftBytes || type == ftVarBytes) && std::string(TypeName(type)) != "memo");
    std::string value;
    if (binary) {
        FRow += "<" + name + " encoding=\"base64\">"
            + QByteArray(Text.data(), static_cast<qsizetype>(Text.size())).toBase64().toStdString() + "</" + name + ">";
        return;
    }
    if (Field && (IsNumericFieldType(type) || IsDateTimeFieldType(type))) {
        value = LiteralFieldText(Field);
        if (type == ftDateTime || type == ftTimeStamp)
            if (const auto blank = value.find(' '); blank != std::string::npos)
                value[blank] = 'T';
    } else if (Field && type == ftBoolean) {
        value = Field->AsBoolean() ? "true" : "false";
    } else {
        const long long replaced = FReplaced;
        value = XmlText(Text, FReplaced);
        if (FReplaced != replaced)
            CountChange(ReplacedWhat, ACol);
    }
    FRow += "<" + name + ">" + value + "</" + name + ">";
}

void TKVExportToXML::WriteRowEnd(bool IsTitle)
{
    if (FDataStarted)
        FRow += "</row>\n";
    WriteString(FRow);
    FRow.clear();
    TKVExportToCellFile::WriteRowEnd(IsTitle);
}

void TKVExportToXML::WriteFileEnd()
{
    WriteString(FFooterLines > 0 ? "</footer>\n</table>\n" : "</table>\n");
    // Captions count here: they are no value of a column.
    Warn(FReplaced - FChanges.Total(ReplacedWhat), "captions held characters XML 1.0 cannot hold; they became U+FFFD");
    TKVExportToText::WriteFileEnd();
}
