#include "cellfile/html_exporter.h"

#include "cellfile/markup_text.h"
#include "export/message_table.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"

#include <cstdio>

namespace {

std::string Rgb(TColor Color)
{
    const TColor rgb = ColorToRGB(Color);
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<unsigned>(rgb & 0xFF),
                  static_cast<unsigned>((rgb >> 8) & 0xFF), static_cast<unsigned>((rgb >> 16) & 0xFF));
    return text;
}

// Characters HTML text may not hold: controls other than white space, and the
// noncharacters.
bool Forbidden(char32_t C)
{
    if (C == '\t' || C == '\n' || C == '\f')
        return false;
    return C < 0x20 || (C >= 0x7F && C <= 0x9F) || (C >= 0xFDD0 && C <= 0xFDEF) || (C & 0xFFFE) == 0xFFFE;
}

} // namespace

TKVExportToHTML::TKVExportToHTML(QObject* AOwner) : TKVExportToText(AOwner)
{
    SetTableType(teHTML);
}

std::string TKVExportToHTML::HtmlText(const std::string& Text, long long& Replaced)
{
    // HTML reads CR LF and a lone CR as one line break.
    bool afterCr = false;
    return Transcribe(Text, Replaced, [&afterCr](char32_t C, bool Valid, std::string_view Bytes, std::string& Out) {
        const bool lf = C == '\n' && afterCr;
        afterCr = C == '\r';
        switch (C) {
        case '&': Out += "&amp;"; return true;
        case '<': Out += "&lt;"; return true;
        case '>': Out += "&gt;"; return true;
        case '"': Out += "&quot;"; return true;
        case '\n':
            if (!lf)
                Out += "<br>";
            return true;
        case '\r': Out += "<br>"; return false;
        default:
            if (Valid && !Forbidden(C)) {
                Out += Bytes;
                return true;
            }
            Out += "\xEF\xBF\xBD";
            return false;
        }
    });
}

std::string TKVExportToHTML::CellStyle(TAlignment Alignment, const TFont* Font, TColor Color)
{
    std::string style;
    if (Font) {
        if (Font->Name != "Arial" && !Font->Name.empty()) {
            std::string name;
            long long ignored = 0;
            for (char c : Font->Name)
                if (c != '\'' && c != '\\' && c != ';')
                    name += c;
            style += "font-family:'" + HtmlText(name, ignored) + "';";
        }
        if (Font->Size > 0 && Font->Size != 10)
            style += "font-size:" + std::to_string(Font->Size) + "pt;";
        if (ColorToRGB(Font->Color) != clBlack)
            style += "color:" + Rgb(Font->Color) + ";";
        if (Font->HasStyle(fsBold))
            style += "font-weight:bold;";
        if (Font->HasStyle(fsItalic))
            style += "font-style:italic;";
        if (Font->HasStyle(fsUnderline) || Font->HasStyle(fsStrikeOut))
            style += std::string("text-decoration:") + (Font->HasStyle(fsUnderline) ? "underline" : "")
                + (Font->HasStyle(fsUnderline) && Font->HasStyle(fsStrikeOut) ? " " : "")
                + (Font->HasStyle(fsStrikeOut) ? "line-through" : "") + ";";
    }
    if (ColorToRGB(Color) != clWhite)
        style += "background-color:" + Rgb(Color) + ";";
    if (Alignment == taRightJustify)
        style += "text-align:right;";
    else if (Alignment == taCenter)
        style += "text-align:center;";
    if (!style.empty())
        style.pop_back();
    return style.empty() ? std::string() : " style=\"" + style + "\"";
}

void TKVExportToHTML::WriteFileBegin()
{
    if (CharacterSet == csASCII_MSDOS)
        throw Exception("HTML is written in UTF-8: the DOS character set does not apply to it");
    TKVExportToText::WriteFileBegin();
    FSection = TSection::None;
    FReplaced = 0;
    long long ignored = 0;
    const std::string title = FileName().empty() ? std::string(GeneratorVer) : ChangeFileExt(ExtractFileName(FileName()), "");
    WriteString("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<meta name=\"generator\" content=\""
                + std::string(GeneratorVer) + "\">\n<title>" + HtmlText(title, ignored)
                + "</title>\n<style>\n"
                  "body { font-family: Arial, sans-serif; font-size: 10pt; color: #000000; background-color: #ffffff; }\n"
                  "table { border-collapse: collapse; }\n"
                  "th, td { border: 1px solid #808080; padding: 2px 4px; text-align: left; vertical-align: top; "
                  "font-weight: normal; }\n"
                  "th, td, p { white-space: pre-wrap; }\n"
                  "</style>\n</head>\n<body>\n");
}

void TKVExportToHTML::WriteDataBegin()
{
    RequireRecordLayout("HTML", true);
    TKVExportToText::WriteDataBegin();
    WriteString("<table>\n");
}

void TKVExportToHTML::WriteDataEnd()
{
    WriteString(FSection == TSection::Head ? "</thead>\n</table>\n" : FSection == TSection::Body ? "</tbody>\n</table>\n"
                                                                                                  : "</table>\n");
    FSection = TSection::None;
    TKVExportToCellFile::WriteDataEnd();
}

void TKVExportToHTML::WriteRowStart(bool IsTitle)
{
    TKVExportToCellFile::WriteRowStart(IsTitle);
    FRow.clear();
    if (!FDataStarted)
        return;
    const TSection section = IsTitle ? TSection::Head : TSection::Body;
    if (section != FSection) {
        if (FSection == TSection::Head)
            FRow += "</thead>\n";
        FRow += IsTitle ? "<thead>\n" : "<tbody>\n";
        FSection = section;
    }
    FRow += "<tr>";
}

void TKVExportToHTML::WriteData(TField* Field, TCellType CellType, int, int ACol, const std::string& Text,
                                TAlignment Alignment, TFont* Font, TColor Color)
{
    const bool picture = IsPictureCell(Field, CellType);
    if (picture && !Text.empty())
        CountChange("picture cells cannot be held by HTML and were left empty", ACol);
    const long long replaced = FReplaced;
    const std::string text = picture ? std::string() : HtmlText(Text, FReplaced);
    if (FReplaced != replaced)
        CountChange("values held characters HTML cannot hold (a CR, a control character or a byte that is not "
                    "UTF-8); they became line breaks or U+FFFD", ACol);
    const std::string style = CellStyle(Alignment, Font, Color);
    if (!FDataStarted) {
        FRow += "<p" + style + ">" + text + "</p>";
        return;
    }
    const char* tag = FSection == TSection::Head ? "th" : "td";
    const bool null = Field && Field->IsNull();
    FRow += std::string("<") + tag + (null ? " class=\"null\"" : "") + style + ">" + text + "</" + tag + ">";
}

void TKVExportToHTML::WriteRowEnd(bool IsTitle)
{
    if (FDataStarted)
        FRow += "</tr>";
    FRow += "\n";
    WriteString(FRow);
    FRow.clear();
    TKVExportToCellFile::WriteRowEnd(IsTitle);
}

void TKVExportToHTML::WriteFileEnd()
{
    WriteString("</body>\n</html>\n");
    TKVExportToText::WriteFileEnd();
}
