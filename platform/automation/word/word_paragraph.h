#pragma once
// A paragraph of the native word processor's document model: its text, its inline
// pictures, and the character formatting and alignment that apply to it as a whole.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct WordCharFormat {
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    int ColorIndex = 0;     // 0 = automatic, 1..16 the word processor's colour indexes
    int HighlightIndex = 0; // 0 = none
    std::string FontName;   // empty = the document's default font

    bool operator==(const WordCharFormat&) const = default;
};

struct WordInlinePicture {
    int Picture = 0;         // index in the document's picture store
    std::size_t TextOffset;  // bytes of the paragraph's text before the picture
    double WidthPt = 0;      // displayed size
    double HeightPt = 0;
};

struct WordParagraph {
    std::string Text; // bytes
    std::unique_ptr<std::vector<WordInlinePicture>> Pictures;
    uint32_t Format = 0; // index into the document's formats
    uint8_t Alignment = 0; // 0 left, 1 centre, 2 right, 3 justified

    std::size_t PictureCount() const { return Pictures ? Pictures->size() : 0; }
};
