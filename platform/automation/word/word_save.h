#pragma once
// Saving a document model. The name's extension chooses the format: ".docx" (also ".docm",
// ".dotx") writes an Office Open XML package, ".rtf" RTF; any other name (".doc" included)
// keeps the format of the file the document was opened from, and RTF for a new document.
// A document opened from one format cannot be saved as the other (its existing content
// is kept as it is, not converted).
//
// The file is written through a TFileReplacement (framework/files.h): under a temporary
// name in the target's folder, renamed over the target only when it is complete; a failed
// save leaves an existing file as it was. A target that exists and is not a regular file
// (a folder, a pipe, a device) is refused.

#include "platform/automation/word/word_document.h"

#include <cstdio>
#include <string>
#include <string_view>

enum class WordFileFormat { Docx, Rtf };

WordFileFormat WordFormatForName(const WordDocumentModel& model, const std::string& fileName);
void SaveWordDocument(WordDocumentModel& model, const std::string& fileName);

void WriteDocx(WordDocumentModel& model, const std::string& fileName);
void WriteRtf(WordDocumentModel& model, const std::string& fileName);

// A buffered output file; Close() reports a failed write.
class DeflatedPart;

class WordOutFile {
public:
    // Writes through (a duplicate of) `handle`; `name` names it in messages.
    WordOutFile(int handle, const std::string& name);
    // Writes into a package part that is compressed while it is written.
    explicit WordOutFile(DeflatedPart& part);
    ~WordOutFile();
    WordOutFile(const WordOutFile&) = delete;
    WordOutFile& operator=(const WordOutFile&) = delete;

    std::string& Buffer() { return FBuffer; }
    void Write(std::string_view s)
    {
        FBuffer.append(s);
        if (FBuffer.size() >= (1u << 20)) Flush();
    }
    void MaybeFlush()
    {
        if (FBuffer.size() >= (1u << 20)) Flush();
    }
    void Flush();
    void Close();

private:
    std::string FName;
    std::FILE* FFile = nullptr;
    DeflatedPart* FPart = nullptr;
    std::string FBuffer;
};
