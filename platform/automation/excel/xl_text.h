#pragma once
// How the native spreadsheet reads the bytes of a text, and how its two file formats hold
// the characters. Both formats hold every character a cell can have, so a text arrives
// as it left:
//   - valid UTF-8 is read as such, also control characters, NUL, a lone CR and the
//     noncharacters U+FFFE and U+FFFF; CR LF stays two characters;
//   - a byte that does not start a valid UTF-8 sequence (also overlong forms and encoded
//     surrogates) is read as a Windows-1252 character; the five values that code page
//     leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) as the C1 control of the same
//     number, as the system's code-page conversion reads them.
// .xls (BIFF8) stores the characters as UTF-16, as they are. In .xlsx a character XML 1.0
// cannot carry (C0 controls but TAB and LF, U+FFFE, U+FFFF), and CR, which an XML reader
// would turn into LF, is written as the escape _xHHHH_ of its UTF-16 code; an "_" that
// starts something that reads as such an escape is itself written as _x005F_, so
// readers that decode the escapes get the text back.

#include <cstddef>
#include <string>
#include <string_view>

// Decodes the character at byte i of p[0..n) into c and returns the index of the next one.
std::size_t XlDecodeChar(const unsigned char* p, std::size_t n, std::size_t i, char32_t& c);

template <class F>
void XlForEachChar(std::string_view bytes, F&& f)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    char32_t c;
    for (std::size_t i = 0; i < bytes.size();) {
        i = XlDecodeChar(p, bytes.size(), i, c);
        f(c);
    }
}

// The length of a text in the UTF-16 code units a cell counts (32,767 at most).
std::size_t XlTextLength(std::string_view bytes);

// The text as XML character data of a SpreadsheetML string (cell, header, footer).
void XlAppendXmlText(std::string& out, std::string_view bytes);
// The same as a string for an XML library to escape: with the _xHHHH_ escapes only.
std::string XlXString(std::string_view bytes);
