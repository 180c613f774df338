#pragma once
// What Qt's PDF writer leaves at the end of a file (the fonts, their glyph-to-text maps,
// the cross-reference table), mended before the file is written out:
//   - each glyph-to-text map is read past the stray bytes Qt (6.4) leaves in a map of more
//     than a hundred ranges and written again, in blocks of a hundred ranges, naming the
//     characters the table held where a font draws two characters with one glyph;
//   - a font embedded as a subset is named with its subset tag in its font dictionaries
//     too, not only in its descriptor, so that readers see it as a subset.
// The objects after a change that alters a length move, and the cross-reference table
// with them. A tail in another form is left as it is.

#include <QRawFont>

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// A font, and the held characters drawn with its glyphs.
using TGlyphs = std::pair<QRawFont, std::unordered_map<quint32, char16_t>>;

// Mends Tail, the end of the file from file offset Start; Held tells which characters
// (below U+10000) the table held.
void MendTail(std::string& Tail, long long Start, const std::vector<bool>& Held, const std::vector<TGlyphs>& Glyphs);
