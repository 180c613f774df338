#pragma once
// Text held as UTF-8 bytes, and bytes that are not UTF-8.
//
// The system's 8-bit text is UTF-8, but bytes from elsewhere need not be: a file
// written by a single-byte Windows program, or a file name on a POSIX system, which
// may hold any byte but "/" and NUL. These helpers tell the two apart sequence by
// sequence, so that one foreign byte never changes how the text around it is read.

#include <string>
#include <string_view>

// The length (1..4) of the valid UTF-8 sequence that starts at Text[At], or 0 when
// none does (a stray continuation byte, an overlong form, a surrogate, a code point
// above U+10FFFF, or a sequence cut short).
std::size_t Utf8SequenceLength(std::string_view Text, std::size_t At);
bool IsValidUtf8(std::string_view Text);
// Appends the code point as UTF-8 (at most U+10FFFF).
void AppendUtf8(char32_t CodePoint, std::string& Out);
// Text as UTF-8: its valid UTF-8 sequences stay as they are, and every byte outside
// them is read as a Windows-1252 character (the five bytes that code page leaves
// unassigned become the control characters of the same number, as Windows maps them).
std::string Utf8OrWindows1252(std::string_view Text);
