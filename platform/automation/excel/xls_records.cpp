#include "platform/automation/excel/xls_records.h"

#include "platform/automation/excel/xl_text.h"
#include "platform/automation/word/word_text.h"

#include <map>

namespace Biff {

std::u16string Utf16(std::string_view bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    XlForEachChar(bytes, [&](char32_t c) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else out += static_cast<char16_t>(c);
    });
    return out;
}

std::string Utf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
        AppendUtf8(out, c);
    }
    return out;
}

void PutString(std::string& out, std::u16string_view text, bool wideCount)
{
    bool wide = false;
    for (char16_t c : text) wide = wide || c > 0xFF;
    if (wideCount) U16(out, static_cast<unsigned>(text.size()));
    else U8(out, static_cast<unsigned>(text.size()));
    U8(out, wide ? 1 : 0);
    for (char16_t c : text) wide ? U16(out, c) : U8(out, c);
}

const std::uint32_t DefaultPalette[56] = {
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, 0x800000, 0x008000, 0x000080,
    0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080, 0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080,
    0x0066CC, 0xCCCCFF, 0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF, 0x00CCFF,
    0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99, 0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00,
    0xFF9900, 0xFF6600, 0x666699, 0x969696, 0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399,
    0x333333,
};

namespace {

// The built-in formats; 14, 21 and 22 under the names the workbook model uses for them.
const std::map<int, std::string>& Builtins()
{
    static const std::map<int, std::string> codes = {
        {0, ""},
        {1, "0"},
        {2, "0.00"},
        {3, "#,##0"},
        {4, "#,##0.00"},
        {9, "0%"},
        {10, "0.00%"},
        {11, "0.00E+00"},
        {12, "# ?/?"},
        {13, "# ?\?/?\?"},
        {14, "m/d/yyyy"},
        {15, "d-mmm-yy"},
        {16, "d-mmm"},
        {17, "mmm-yy"},
        {18, "h:mm AM/PM"},
        {19, "h:mm:ss AM/PM"},
        {20, "h:mm"},
        {21, "h:mm:ss"},
        {22, "m/d/yyyy h:mm"},
        {37, "#,##0 ;(#,##0)"},
        {38, "#,##0 ;[Red](#,##0)"},
        {39, "#,##0.00;(#,##0.00)"},
        {40, "#,##0.00;[Red](#,##0.00)"},
        {45, "mm:ss"},
        {46, "[h]:mm:ss"},
        {47, "mmss.0"},
        {48, "##0.0E+0"},
        {49, "@"},
    };
    return codes;
}

} // namespace

std::string BuiltinFormatCode(int index)
{
    auto it = Builtins().find(index);
    return it == Builtins().end() ? std::string() : it->second;
}

int BuiltinFormatIndex(const std::string& code)
{
    if (code.empty() || code == "General") return 0;
    for (const auto& [index, c] : Builtins())
        if (c == code) return index;
    return -1;
}

} // namespace Biff
