#pragma once
// How the word processor reads the bytes of a text.
//
// Texts are bytes; valid UTF-8 is read as such. The rule for everything else, shared by the
// .docx and the RTF writer, so that a text never silently loses a character:
//   - a byte that does not start a valid UTF-8 sequence (also overlong forms and encoded
//     surrogates) is read as a Windows-1252 character; its five unassigned values
//     (0x81, 0x8D, 0x8F, 0x90, 0x9D) become U+FFFD;
//   - TAB is a tab; CR LF, CR, LF, VT and FF are line breaks (CR LF is one break);
//   - NUL, the other C0 control characters and DEL become their visible control pictures
//     (U+2400 + code, DEL U+2421), since XML cannot carry them;
//   - U+FFFE and U+FFFF, which XML cannot carry either, become U+FFFD.

#include <string>
#include <string_view>

inline constexpr char32_t WordTab = U'\t';
inline constexpr char32_t WordLineBreak = U'\n';

// Calls f(char32_t) for every character of `bytes` under the rule above; a tab and a line
// break arrive as WordTab / WordLineBreak.
template <class F>
void ForEachWordChar(std::string_view bytes, F&& f);

void AppendUtf8(std::string& out, char32_t c);
// Appends `c` (not a tab or break) escaped for XML character data / attribute values.
void AppendXmlChar(std::string& out, char32_t c);
// Appends the whole text escaped for an XML attribute value (tabs and breaks as spaces).
void AppendXmlAttrText(std::string& out, std::string_view bytes);
// Appends `c` as RTF text: \\, \{, \}; beyond ASCII \uN followed by the Windows-1252 byte
// as \'hh (\'3f where the code page has none), for a document that declares \uc1.
void AppendRtfChar(std::string& out, char32_t c);
// Number of characters of `bytes` under the rule above (a text's length in a document).
std::size_t WordTextLength(std::string_view bytes);
// The byte index where character `chars` of `bytes` starts (bytes.size() past the end).
std::size_t WordByteOffset(std::string_view bytes, std::size_t chars);
char32_t Cp1252ToUnicode(unsigned char b);
unsigned char UnicodeToCp1252(char32_t c); // 0 when Windows-1252 has no byte for c


// Decodes the character at byte i of p[0..n) under the rule above into c and returns the
// index of the next character.
inline std::size_t DecodeWordChar(const unsigned char* p, std::size_t n, std::size_t i, char32_t& c)
{
    unsigned char b = p[i];
    if (b < 0x80) {
        ++i;
        if (b == '\t') c = WordTab;
        else if (b == '\r') {
            if (i < n && p[i] == '\n') ++i;
            c = WordLineBreak;
        } else if (b == '\n' || b == 0x0B || b == 0x0C) c = WordLineBreak;
        else if (b < 0x20) c = static_cast<char32_t>(0x2400 + b);
        else if (b == 0x7F) c = U'\u2421';
        else c = static_cast<char32_t>(b);
        return i;
    }
    std::size_t len = 0;
    char32_t v = 0, min = 0;
    if (b >= 0xC2 && b <= 0xDF) { len = 2; v = b & 0x1F; min = 0x80; }
    else if (b >= 0xE0 && b <= 0xEF) { len = 3; v = b & 0x0F; min = 0x800; }
    else if (b >= 0xF0 && b <= 0xF4) { len = 4; v = b & 0x07; min = 0x10000; }
    bool ok = len != 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) ok = false;
        else v = (v << 6) | (p[i + k] & 0x3F);
    }
    if (ok && (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))) ok = false;
    if (!ok) {
        c = Cp1252ToUnicode(b);
        return i + 1;
    }
    c = (v == 0xFFFE || v == 0xFFFF) ? char32_t(0xFFFD) : v;
    return i + len;
}

template <class F>
void ForEachWordChar(std::string_view bytes, F&& f)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size(), i = 0;
    char32_t c;
    while (i < n) {
        i = DecodeWordChar(p, n, i, c);
        f(c);
    }
}
