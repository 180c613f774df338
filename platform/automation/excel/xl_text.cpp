#include "platform/automation/excel/xl_text.h"

#include "platform/automation/word/word_text.h"

#include <cstdio>

std::size_t XlDecodeChar(const unsigned char* p, std::size_t n, std::size_t i, char32_t& c)
{
    const unsigned char b = p[i];
    if (b < 0x80) {
        c = b;
        return i + 1;
    }
    std::size_t len = 0;
    char32_t v = 0, min = 0;
    if (b >= 0xC2 && b <= 0xDF) len = 2, v = b & 0x1F, min = 0x80;
    else if (b >= 0xE0 && b <= 0xEF) len = 3, v = b & 0x0F, min = 0x800;
    else if (b >= 0xF0 && b <= 0xF4) len = 4, v = b & 0x07, min = 0x10000;
    bool ok = len != 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) ok = false;
        else v = (v << 6) | (p[i + k] & 0x3F);
    }
    if (ok && (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))) ok = false;
    if (ok) {
        c = v;
        return i + len;
    }
    c = Cp1252ToUnicode(b);
    if (c == 0xFFFD) c = b; // unassigned in Windows-1252: the C1 control of that number
    return i + 1;
}

std::size_t XlTextLength(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t units = 0;
    char32_t c;
    for (std::size_t i = 0; i < bytes.size();) {
        if (p[i] < 0x80) ++i;
        else i = XlDecodeChar(p, bytes.size(), i, c), units += c >= 0x10000;
        ++units;
    }
    return units;
}

namespace {

bool IsHex(char ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
}

// "_xHHHH_" at `at`: something a reader would decode as an escape.
bool LooksEscaped(std::string_view t, std::size_t at)
{
    if (at + 7 > t.size() || t[at + 1] != 'x' || t[at + 6] != '_') return false;
    for (std::size_t k = 2; k < 6; ++k)
        if (!IsHex(t[at + k])) return false;
    return true;
}

void AppendEscape(std::string& out, unsigned code)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "_x%04X_", code);
    out += buf;
}

} // namespace

namespace {

template <bool Entities>
void AppendXString(std::string& out, std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    while (i < bytes.size()) {
        // Runs of printable ASCII go at once.
        std::size_t run = i;
        while (run < bytes.size() && p[run] >= 0x20 && p[run] < 0x7F && p[run] != '_'
               && !(Entities && (p[run] == '<' || p[run] == '>' || p[run] == '&' || p[run] == '"')))
            ++run;
        out.append(bytes.data() + i, run - i);
        if (run == bytes.size()) break;
        char32_t c;
        const std::size_t at = run;
        i = XlDecodeChar(p, bytes.size(), run, c);
        if (c == '_') {
            if (LooksEscaped(bytes, at)) AppendEscape(out, '_');
            else out += '_';
        } else if ((c < 0x20 && c != '\t' && c != '\n') || c == 0xFFFE || c == 0xFFFF) {
            AppendEscape(out, static_cast<unsigned>(c));
        } else if (Entities) {
            AppendXmlChar(out, c);
        } else {
            AppendUtf8(out, c);
        }
    }
}

} // namespace

void XlAppendXmlText(std::string& out, std::string_view bytes)
{
    AppendXString<true>(out, bytes);
}

std::string XlXString(std::string_view bytes)
{
    std::string out;
    AppendXString<false>(out, bytes);
    return out;
}
