#pragma once
// Small text tools shared by the markup and interchange targets (HTML, XML, SQL, SYLK,
// DIF): walking UTF-8 text character by character with the bytes that are not UTF-8
// told apart, and names made unique within a table.

#include <set>
#include <string>
#include <string_view>

// The character at Text[At], At moved past it. A byte that starts no valid UTF-8
// sequence is one character of its own: Valid is false and U+FFFD is returned.
char32_t NextCharacter(std::string_view Text, std::size_t& At, bool& Valid);

// Name, or Name followed by "_2", "_3", ... , the first not in Taken; it is added to
// Taken. With IgnoreCase names that differ only in ASCII letter case are the same.
std::string UniqueName(const std::string& Name, std::set<std::string>& Taken, bool IgnoreCase);

// Text with CR LF and a lone CR as LF; Changed is counted up when anything changed.
std::string LineFeedsOnly(const std::string& Text, long long& Changed);
