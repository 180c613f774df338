#pragma once
// Documents opened from a file (a merged export or a template). The opened file's content
// is kept as it is; new content goes after it.
//
//   - Office Open XML (.docx and anything else that is a zip package): every part is kept;
//     the main document part is parsed so that new body content can go before its w:sectPr.
//   - RTF: the font and colour tables are read so that new content can use them (merged);
//     the rest of the file is copied byte for byte up to its final closing brace, where the
//     new content goes.
// Anything else (a binary .doc, a damaged package, a missing file) raises an Exception and
// leaves the file untouched.

#include "framework/files.h"
#include "platform/automation/word/word_document.h"

#include <pugixml.hpp>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

class WordSourceDocument {
public:
    enum class Format { Docx, Rtf };
    explicit WordSourceDocument(Format format) : SourceFormat(format) {}
    virtual ~WordSourceDocument() = default;
    Format SourceFormat;
    std::string FileName;
    // The opened file, held open (and locked, unless it is a template) while the document
    // is: its content is read through it, and a save checks that it did not change.
    std::shared_ptr<TMergedFile> File;
};

class DocxSourceDocument : public WordSourceDocument {
public:
    DocxSourceDocument() : WordSourceDocument(Format::Docx) {}
    std::string MainPart;      // "word/document.xml"
    std::string MainRelsPart;  // "word/_rels/document.xml.rels"
    std::string SettingsPart;  // empty when the package has none
    pugi::xml_document Document;
    pugi::xml_document Rels;   // empty document when the part is missing
    pugi::xml_document ContentTypes;
    std::set<std::string> Entries; // every entry name of the package
    std::set<std::string> RelIds;
    unsigned MaxDrawingId = 0;
};

struct RtfFont {
    int Number = 0;
    std::string Name; // UTF-8
};

class RtfSourceDocument : public WordSourceDocument {
public:
    RtfSourceDocument() : WordSourceDocument(Format::Rtf) {}
    std::vector<RtfFont> Fonts;
    int ColorCount = 0;          // entries of the colour table (the first one is "auto")
    int DefaultFont = 0;         // \deffN
    // Byte ranges of the groups in the file ([begin, end), end past the closing brace);
    // begin == end == InsertAt when the file has none.
    int64_t FontTableBegin = -1, FontTableEnd = -1;
    int64_t ColorTableBegin = -1, ColorTableEnd = -1;
    int64_t HeaderInsertAt = 0;  // just after "{\rtf1"; where missing tables go
    // Where document formatting goes: after the header's groups (style sheet, list tables,
    // information, ...), before the first section.
    int64_t DocFormatAt = 0;
    // Byte ranges [begin, end) of the control words that set the page (of the document and
    // of its first section), and of the protection words and password groups: what a new
    // page setup or protection replaces.
    std::vector<std::pair<int64_t, int64_t>> PageWords, ProtectionWords;
    int64_t FinalBrace = 0;      // offset of the closing brace of the outermost group
    int64_t FileSize = 0;
    bool EndsWithParagraph = true; // the last content is a paragraph end
    bool EndsWithRow = false;      // ... and that is a table row's end
};

// Reads `fileName` and attaches its content to `model` (also its page setup). A template
// (`lock` false) is read without taking the file's lock.
void OpenWordSource(WordDocumentModel& model, const std::string& fileName, bool lock = true);
