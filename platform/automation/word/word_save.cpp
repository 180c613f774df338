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

WordOutFile::WordOutFile(const std::string& fileName) : FName(fileName)
{
    FFile = std::fopen(fileName.c_str(), "wb");
    if (!FFile) throw EFCreateError::CannotCreate(fileName, std::strerror(errno));
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

std::string WordTempNameNear(const std::string& target)
{
    std::filesystem::path t(target);
    std::filesystem::path dir = t.parent_path();
    if (dir.empty()) dir = ".";
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        throw EFCreateError::CannotCreate(target, "the folder '" + dir.string() + "' does not exist");
    // "." + name + ".tabrix-XXXXXX" must fit the folder's name limit, with room for the
    // ".XXXXXX" the zip library adds to the name it writes through: a long name is
    // shortened, at a character boundary.
    const std::string suffix = ".tabrix-XXXXXX";
    long limit = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    if (limit <= 0) limit = 255;
    std::string name = t.filename().string();
    const std::size_t room = static_cast<std::size_t>(limit) - 1 - suffix.size() - 7;
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
    }
    std::string buf = (dir / ("." + name + suffix)).string();
    int fd = mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) throw EFCreateError::CannotCreate(target, std::strerror(errno));
    // The finished file replaces the target: it keeps the target's permission bits
    // (and its owner and group where this process may give them), or gets the mode a
    // new file gets.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        if (::fchown(fd, st.st_uid, st.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
            // not allowed: the file stays ours
        }
        // The owner keeps the right to write it until it is complete.
        ::fchmod(fd, (st.st_mode & 07777) | S_IRUSR | S_IWUSR);
    } else {
        mode_t mask = umask(0);
        umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    close(fd);
    RegisterTemporaryFile(buf);
    return buf;
}
