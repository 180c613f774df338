#include "platform/automation/word/word_save.h"

#include "framework/exceptions.h"
#include "platform/automation/word/word_source.h"

#include <cerrno>
#include <cstring>
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
    std::error_code ec;
    if (std::filesystem::is_directory(fileName, ec))
        throw EFCreateError::CannotCreate(fileName, "it is a folder");
    if (WordFormatForName(model, fileName) == WordFileFormat::Docx)
        WriteDocx(model, fileName);
    else
        WriteRtf(model, fileName);
}

WordOutFile::WordOutFile(const std::string& fileName) : FName(fileName)
{
    FFile = std::fopen(fileName.c_str(), "wb");
    if (!FFile) throw EFCreateError::CannotCreate(fileName, std::strerror(errno));
    FBuffer.reserve(1u << 21);
}

WordOutFile::~WordOutFile()
{
    if (FFile) std::fclose(FFile);
}

void WordOutFile::Flush()
{
    if (!FBuffer.empty()) {
        if (!FFile || std::fwrite(FBuffer.data(), 1, FBuffer.size(), FFile) != FBuffer.size())
            throw EStreamError("Cannot write the file '" + FName + "': " + std::strerror(errno));
        FBuffer.clear();
    }
}

void WordOutFile::Close()
{
    Flush();
    if (FFile) {
        bool failed = std::fflush(FFile) != 0;
        failed = std::fclose(FFile) != 0 || failed;
        FFile = nullptr;
        if (failed) throw EStreamError("Cannot write the file '" + FName + "': " + std::strerror(errno));
    }
}

std::string WordTempNameNear(const std::string& target)
{
    std::filesystem::path t(target);
    std::filesystem::path dir = t.parent_path();
    if (dir.empty()) dir = ".";
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        throw EFCreateError::CannotCreate(target, "the folder '" + dir.string() + "' does not exist");
    std::string pattern = (dir / ("." + t.filename().string() + ".tabrix-XXXXXX")).string();
    std::string buf = pattern;
    int fd = mkstemp(buf.data());
    if (fd < 0) throw EFCreateError::CannotCreate(target, std::strerror(errno));
    // the finished file replaces the target: give it the mode a new file gets
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    return buf;
}
