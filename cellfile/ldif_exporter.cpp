#include "cellfile/ldif_exporter.h"

#include "framework/data_set.h"
#include "framework/exceptions.h"

#include <QByteArray>

#include <algorithm>
#include <cctype>
#include <set>

namespace {

constexpr std::size_t LineWidth = 76;

bool IsAsciiLetter(char C)
{
    return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z');
}

std::string LowerAscii(std::string Text)
{
    for (char& c : Text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return Text;
}

// Whether Value may follow "attribute: " as it is: RFC 2849 SAFE-STRING, narrowed to
// what readers keep. Readers strip white space around a value (a Tab, VT or FF as well
// as a blank), so a value that begins or ends with one, or holds any control character,
// is base64 too.
bool IsSafeString(const std::string& Value)
{
    if (Value.empty())
        return true;
    const auto blank = [](unsigned char u) { return u == ' ' || (u >= '\t' && u <= '\r'); };
    const unsigned char first = static_cast<unsigned char>(Value.front());
    if (blank(first) || first == ':' || first == '<' || blank(static_cast<unsigned char>(Value.back())))
        return false;
    return std::none_of(Value.begin(), Value.end(), [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return u < 0x20 || u >= 0x7F;
    });
}

// Line folded at LineWidth characters; continuation lines begin with one blank.
std::string Folded(const std::string& Line)
{
    if (Line.size() <= LineWidth)
        return Line + "\n";
    std::string out = Line.substr(0, LineWidth) + "\n";
    for (std::size_t at = LineWidth; at < Line.size(); at += LineWidth - 1)
        out += " " + Line.substr(at, LineWidth - 1) + "\n";
    return out;
}

} // namespace

TKVExportToLDIF::TKVExportToLDIF(QObject* AOwner) : TKVExportToText(AOwner)
{
    SetTableType(teLDIF);
}

std::string TKVExportToLDIF::AttributeDescription(const std::string& Name)
{
    std::string out;
    for (const char c : Name)
        out += IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '-' ? c : '-';
    if (out.empty() || !IsAsciiLetter(out.front()))
        out = "x-" + out;
    return out;
}

std::string TKVExportToLDIF::EscapeDnValue(const std::string& Value)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < Value.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(Value[i]);
        const bool edge = (i == 0 && (c == ' ' || c == '#')) || (i + 1 == Value.size() && c == ' ');
        if (c < 0x20 || c == 0x7F) {
            out += '\\';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else if (edge || c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' || c == ';'
                   || c == '=') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string TKVExportToLDIF::ValueLine(const std::string& Attribute, const std::string& Value)
{
    if (IsSafeString(Value))
        return Folded(Value.empty() ? Attribute + ":" : Attribute + ": " + Value);
    const QByteArray encoded = QByteArray(Value.data(), static_cast<qsizetype>(Value.size())).toBase64();
    return Folded(Attribute + ":: " + encoded.toStdString());
}

void TKVExportToLDIF::WriteFileBegin()
{
    if (CharacterSet == csASCII_MSDOS)
        throw Exception("LDIF text is UTF-8: it cannot be written in the DOS character set");
    TKVExportToText::WriteFileBegin();
    FRecords = 0;
    WriteString("version: 1\n");
}

void TKVExportToLDIF::WriteDataBegin()
{
    if (Layout != elColumnar)
        throw Exception("LDIF holds one entry a record: only the columnar layout can be written");
    TKVExportToText::WriteDataBegin();
    FAttributes.clear();
    std::set<std::string> used = {"dn", "changetype"};
    std::string changed;
    int changedCount = 0;
    for (TKVEColumn* column : VisibleColumns()) {
        const std::string caption = CaptionOf(column);
        const std::string base = AttributeDescription(caption);
        std::string name = base;
        for (int n = 2; !used.insert(LowerAscii(name)).second; ++n)
            name = base + "-" + std::to_string(n);
        if (name != caption && changedCount++ == 0)
            changed = "\"" + caption + "\" is " + name;
        FAttributes.push_back(name);
    }
    if (changedCount > 0)
        Statistic().Warnings.push_back(std::to_string(changedCount)
                                       + " captions are no valid LDAP attribute names and were changed (the first: "
                                       + changed + ")");
}

void TKVExportToLDIF::WriteRowStart(bool IsTitle)
{
    if (!FDataStarted) {
        TKVExportToText::WriteRowStart(IsTitle);
        return;
    }
    FEntry.clear();
    FDn.clear();
    FNamed = false;
}

void TKVExportToLDIF::WriteData(TField* Field, TCellType, int, int ACol, const std::string& Text, TAlignment, TFont*,
                                TColor)
{
    if (!FDataStarted) {
        // A header or footer line: a comment line per line of its text.
        std::string lines;
        std::size_t start = 0;
        for (std::size_t end; (end = Text.find_first_of("\r\n", start)) != std::string::npos;) {
            lines += Folded("# " + Text.substr(start, end - start));
            start = end + (Text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        }
        WriteString(lines + Folded("# " + Text.substr(start)));
        return;
    }
    const std::string& attribute = ACol >= 0 && static_cast<std::size_t>(ACol) < FAttributes.size()
        ? FAttributes[static_cast<std::size_t>(ACol)]
        : "x-column-" + std::to_string(ACol);
    const bool null = Field && Field->IsNull();
    if (ACol == 0) {
        if (null || Text.empty())
            throw Exception("record " + std::to_string(FRecords + 1) + " has no value in " + attribute
                            + ", the column that names its LDIF entry (dn)");
        std::string dn = attribute + "=" + EscapeDnValue(Text);
        if (!TableName.empty())
            dn += "," + TableName;
        FDn = ValueLine("dn", dn);
        FNamed = true;
    }
    // A picture keeps its bytes, base64-encoded like any value that is not text.
    if (!null)
        FEntry += ValueLine(attribute, Text);
}

void TKVExportToLDIF::WriteRowEnd(bool IsTitle)
{
    if (FDataStarted && !IsTitle) {
        if (!FNamed)
            throw Exception("record " + std::to_string(FRecords + 1) + " has no column to name its LDIF entry (dn)");
        WriteString("\n" + FDn + FEntry);
        ++FRecords;
    }
    TKVExportToCellFile::WriteRowEnd(IsTitle);
}
