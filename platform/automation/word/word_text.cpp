#include "platform/automation/word/word_text.h"

#include <cstdint>
#include <cstdio>

char32_t Cp1252ToUnicode(unsigned char b)
{
    static const char16_t high[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    if (b >= 0x80 && b < 0xA0) return high[b - 0x80];
    return b;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendXmlChar(std::string& out, char32_t c)
{
    switch (c) {
    case '<': out += "&lt;"; break;
    case '>': out += "&gt;"; break;
    case '&': out += "&amp;"; break;
    case '"': out += "&quot;"; break;
    default: AppendUtf8(out, c);
    }
}

void AppendXmlAttrText(std::string& out, std::string_view bytes)
{
    ForEachWordChar(bytes, [&](char32_t c) {
        if (c == WordTab || c == WordLineBreak) out += ' ';
        else AppendXmlChar(out, c);
    });
}

// The Windows-1252 byte of `c`, or 0 when the code page has none.
unsigned char UnicodeToCp1252(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
    for (unsigned b = 0x80; b < 0xA0; ++b)
        if (Cp1252ToUnicode(static_cast<unsigned char>(b)) == c && c != 0xFFFD) return static_cast<unsigned char>(b);
    return 0;
}

void AppendRtfChar(std::string& out, char32_t c)
{
    if (c == '\\' || c == '{' || c == '}') {
        out += '\\';
        out += static_cast<char>(c);
    } else if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        // \uN with a one-byte fallback for readers without Unicode (\uc1): the code-page
        // byte as a hex escape, which every reader skips as one character.
        unsigned char fallback = UnicodeToCp1252(c);
        if (!fallback) fallback = '?';
        auto unit = [&](unsigned v, unsigned char b) {
            char buf[24];
            std::snprintf(buf, sizeof buf, "\\u%d\\'%02x", static_cast<int>(static_cast<int16_t>(v)), b);
            out += buf;
        };
        if (c < 0x10000) {
            unit(static_cast<unsigned>(c), fallback);
        } else {
            char32_t v = c - 0x10000;
            unit(0xD800 + (v >> 10), '?');
            unit(0xDC00 + (v & 0x3FF), '?');
        }
    }
}

std::size_t WordTextLength(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = 0, i = 0;
    char32_t c;
    while (i < bytes.size()) {
        // Printable ASCII is one character a byte; anything else is decoded.
        if (p[i] >= 0x20 && p[i] < 0x7F) ++i;
        else i = DecodeWordChar(p, bytes.size(), i, c);
        ++n;
    }
    return n;
}

std::size_t WordByteOffset(std::string_view bytes, std::size_t chars)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    char32_t c;
    while (chars > 0 && i < bytes.size()) {
        i = DecodeWordChar(p, bytes.size(), i, c);
        --chars;
    }
    return i;
}
