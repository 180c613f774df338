#include "platform/automation/word/word_save.h"
#include "platform/automation/zip_package.h"

#include "framework/exceptions.h"
#include "framework/files.h"
#include "platform/automation/word/word_source.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string LowerExtension(const std::string& fileName)
{
    std::string ext = std::filesystem::path(fileName).extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return ext;
}

} // namespace

WordFileFormat WordFormatForName(const WordDocumentModel& model, const std::string& fileName)
{
    std::string ext = LowerExtension(fileName);
    const WordSourceDocument* src = model.Source.get();
    WordFileFormat format;
    if (ext == ".docx" || ext == ".docm" || ext == ".dotx")
        format = WordFileFormat::Docx;
    else if (ext == ".rtf")
        format = WordFileFormat::Rtf;
    else if (src)
        format = src->SourceFormat == WordSourceDocument::Format::Docx ? WordFileFormat::Docx : WordFileFormat::Rtf;
    else
        format = WordFileFormat::Rtf;
    if (src) {
        bool srcDocx = src->SourceFormat == WordSourceDocument::Format::Docx;
        if (srcDocx != (format == WordFileFormat::Docx))
            throw Exception("The document opened from '" + src->FileName + "' cannot be saved as '" + fileName +
                            "': its content can only be saved in its own format (" + (srcDocx ? ".docx" : ".rtf") + ")");
    }
    return format;
}

void SaveWordDocument(WordDocumentModel& model, const std::string& fileName)
{
    if (fileName.empty()) throw Exception("No file name given to save the document under");
    if (fileName.find('\0') != std::string::npos) throw Exception("The file name contains a NUL character");
    // Only a regular file is replaced: a folder, a named pipe or a device named like a
    // document is refused before anything is written.
    struct stat st {};
    if (::stat(fileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw EFCreateError::CannotCreate(fileName, S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file");
    if (WordFormatForName(model, fileName) == WordFileFormat::Docx)
        WriteDocx(model, fileName);
    else
        WriteRtf(model, fileName);
}

WordOutFile::WordOutFile(int handle, const std::string& name) : FName(name)
{
    const int copy = ::fcntl(handle, F_DUPFD_CLOEXEC, 0);
    FFile = copy < 0 ? nullptr : ::fdopen(copy, "wb");
    if (!FFile) {
        const std::string why = std::strerror(errno);
        if (copy >= 0) ::close(copy);
        throw EFCreateError::CannotCreate(name, why);
    }
    FBuffer.reserve(1u << 21);
}

WordOutFile::WordOutFile(DeflatedPart& part) : FName("the document part"), FPart(&part)
{
    FBuffer.reserve(1u << 21);
}

WordOutFile::~WordOutFile()
{
    if (FFile) std::fclose(FFile);
}

void WordOutFile::Flush()
{
    CheckInterrupt();
    if (FPart) {
        FPart->Append(FBuffer);
        return;
    }
    if (!FBuffer.empty()) {
        if (!FFile || std::fwrite(FBuffer.data(), 1, FBuffer.size(), FFile) != FBuffer.size())
            throw EStreamError("Cannot write the file '" + FName + "': " + std::strerror(errno));
        FBuffer.clear();
    }
}

void WordOutFile::Close()
{
    Flush();
    if (FPart) FPart->Finish();
    if (FFile) {
        bool failed = std::fflush(FFile) != 0;
        failed = std::fclose(FFile) != 0 || failed;
        FFile = nullptr;
        if (failed) throw EStreamError("Cannot write the file '" + FName + "': " + std::strerror(errno));
    }
}
