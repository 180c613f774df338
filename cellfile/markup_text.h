#pragma once
// Small text tools shared by the markup and interchange targets (HTML, XML, SQL, SYLK,
// DIF): walking UTF-8 text character by character with the bytes that are not UTF-8
// told apart, names made unique within a table, and the number a spreadsheet cell
// holds.

#include "engine/columns.h"

#include <set>
#include <string>
#include <string_view>

// The character at Text[At], At moved past it. A byte that starts no valid UTF-8
// sequence is one character of its own: Valid is false and U+FFFD is returned.
char32_t NextCharacter(std::string_view Text, std::size_t& At, bool& Valid);

// Text written character by character: Escape(C, Valid, Bytes, Out) appends the form
// of the character C (Bytes as they stand in Text; Valid false and C U+FFFD for a byte
// that is not UTF-8) to Out, and returns false when the target cannot hold it as it
// is. Replaced counts Text once when any character could not be held.
template <class TEscape>
std::string Transcribe(std::string_view Text, long long& Replaced, TEscape&& Escape)
{
    std::string out;
    out.reserve(Text.size() + 8);
    bool held = true;
    for (std::size_t i = 0; i < Text.size();) {
        const std::size_t start = i;
        bool valid = true;
        const char32_t c = NextCharacter(Text, i, valid);
        held = Escape(c, valid, Text.substr(start, i - start), out) && held;
    }
    Replaced += !held;
    return out;
}

// Name, or Name followed by "_2", "_3", ... , the first not in Taken; it is added to
// Taken. With IgnoreCase names that differ only in ASCII letter case are the same. A
// suffix that would make the name longer than MaxBytes cuts Name (never inside a UTF-8
// character) to make room; Name itself must fit.
std::string UniqueName(const std::string& Name, std::set<std::string>& Taken, bool IgnoreCase,
                       std::size_t MaxBytes = std::string::npos);

// Text with CR LF and a lone CR as LF; Changed is counted up when anything changed.
std::string LineFeedsOnly(const std::string& Text, long long& Changed);

class TField;

// What a spreadsheet interchange file (SYLK, DIF) holds of one cell's number.
struct TSpreadsheetNumber {
    std::string Text;      // the number with "." and every digit; empty: the cell is text
    bool TooLong = false;  // a whole number of more than 15 digits, kept as text
    bool Rounded = false;  // a number needing more than 15 significant digits
};
// The number of a cell: from a numeric field's value, or, without a field, from a text
// that is a plain decimal number in a cell of a numeric type. Spreadsheet programs
// keep 15 significant digits: a longer whole number stays text (TooLong) so that no
// digit is lost; a fraction that needs more is written whole and flagged Rounded.
TSpreadsheetNumber SpreadsheetNumber(TField* Field, TCellType CellType, const std::string& Text);
// What the run says of such numbers.
inline const char* const TooLongWhat =
    "whole numbers have more than the 15 digits a spreadsheet number keeps and were written as text";
inline const char* const RoundedWhat =
    "numbers need more than the 15 significant digits spreadsheet programs keep; they were written whole, and a "
    "reader may round them";
