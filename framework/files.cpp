#include "files.h"

#include "exceptions.h"
#include "streams.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A name is handed to the system as a C string; one with a NUL byte inside would
// name a different file, so it names none.
bool UsableName(const std::string& Name)
{
    return !Name.empty() && Name.find('\0') == std::string::npos;
}

bool StatName(const std::string& Name, struct stat& St)
{
    return UsableName(Name) && ::stat(Name.c_str(), &St) == 0;
}

// Index of the last "/", "\" or ":" in Name, npos when there is none.
std::size_t LastDelimiter(const std::string& Name)
{
    return Name.find_last_of("/\\:");
}

std::uint64_t RandomBits()
{
    std::uint64_t Value = 0;
    if (::getrandom(&Value, sizeof Value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof Value))
        return Value;
    static thread_local std::mt19937_64 Engine{std::random_device{}()};
    return Engine();
}

} // namespace

bool FileExists(const std::string& FileName)
{
    struct stat St {};
    return StatName(FileName, St) && !S_ISDIR(St.st_mode);
}

bool DirectoryExists(const std::string& Name)
{
    struct stat St {};
    return StatName(Name, St) && S_ISDIR(St.st_mode);
}

bool DeleteFile(const std::string& FileName)
{
    return UsableName(FileName) && ::unlink(FileName.c_str()) == 0;
}

long long FileSizeOf(const std::string& FileName)
{
    struct stat St {};
    return StatName(FileName, St) ? static_cast<long long>(St.st_size) : -1;
}

std::string ExtractFilePath(const std::string& FileName)
{
    const std::size_t I = LastDelimiter(FileName);
    return I == std::string::npos ? std::string() : FileName.substr(0, I + 1);
}

std::string ExtractFileName(const std::string& FileName)
{
    const std::size_t I = LastDelimiter(FileName);
    return I == std::string::npos ? FileName : FileName.substr(I + 1);
}

std::string ExtractFileExt(const std::string& FileName)
{
    const std::size_t I = FileName.find_last_of(".:/\\");
    if (I == std::string::npos || FileName[I] != '.')
        return {};
    return FileName.substr(I);
}

std::string ChangeFileExt(const std::string& FileName, const std::string& Extension)
{
    const std::size_t I = FileName.find_last_of(".:/\\");
    if (I == std::string::npos || FileName[I] != '.')
        return FileName + Extension;
    return FileName.substr(0, I) + Extension;
}

std::string IncludeTrailingPathDelimiter(const std::string& Path)
{
    if (Path.empty() || IsPathDelimiter(Path.back()))
        return Path;
    const bool Backslashes = Path.find('\\') != std::string::npos && Path.find('/') == std::string::npos;
    return Path + (Backslashes ? '\\' : '/');
}

std::string ExcludeTrailingPathDelimiter(const std::string& Path)
{
    std::string Result = Path;
    while (Result.size() > 1 && IsPathDelimiter(Result.back()))
        Result.pop_back();
    return Result;
}

std::string GetTempFolder()
{
    const char* Env = std::getenv("TMPDIR");
    if (Env != nullptr && *Env != '\0' && DirectoryExists(Env))
        return IncludeTrailingPathDelimiter(Env);
    return "/tmp/";
}

std::string CreateTempFileName(const std::string& Prefix, const std::string& Folder)
{
    const std::string Dir = IncludeTrailingPathDelimiter(Folder.empty() ? GetTempFolder() : Folder);
    // Sixteen hexadecimal digits: eight from a process-wide counter, so that names of
    // one process never repeat, and eight random ones, so that they cannot be guessed
    // and processes do not collide. O_EXCL settles any collision that remains.
    static std::atomic<std::uint32_t> Counter{static_cast<std::uint32_t>(RandomBits())};
    int LastError = EEXIST;
    for (int Attempt = 0; Attempt < 100; ++Attempt) {
        char Digits[17];
        std::snprintf(Digits, sizeof Digits, "%08X%08X", static_cast<unsigned>(RandomBits() & 0xFFFFFFFFu),
                      static_cast<unsigned>(Counter.fetch_add(1)));
        const std::string Name = Dir + Prefix + Digits + ".tmp";
        if (!UsableName(Name))
            throw EFCreateError::CannotCreate(Name, "Invalid file name");
        const int Fd = ::open(Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (Fd >= 0) {
            ::close(Fd);
            return Name;
        }
        LastError = errno;
        if (LastError != EEXIST && LastError != EINTR)
            break;
    }
    throw EFCreateError::CannotCreate(Dir + Prefix + "*.tmp", std::strerror(LastError));
}

std::string ReadFileToString(const std::string& FileName)
{
    TFileStream File(FileName, fmOpenRead | fmShareDenyWrite);
    return File.ReadToEnd();
}

void WriteStringToFile(const std::string& FileName, const std::string& Bytes)
{
    TFileStream File(FileName, fmCreate);
    try {
        File.WriteString(Bytes);
        File.Close();
    } catch (...) {
        DeleteFile(FileName);
        throw;
    }
}
