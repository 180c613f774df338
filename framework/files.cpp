#include "files.h"

#include "exceptions.h"
#include "streams.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <mutex>
#include <sys/file.h>
#include <vector>
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

// Index of the last delimiter in Name, npos when there is none.
std::size_t LastDelimiter(const std::string& Name)
{
    return Name.find_last_of(PathDelimiters);
}

// Index of the last delimiter or dot in Name, npos when there is none.
std::size_t LastDelimiterOrDot(const std::string& Name)
{
    return Name.find_last_of(std::string(".") + PathDelimiters);
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
    const std::size_t I = LastDelimiterOrDot(FileName);
    if (I == std::string::npos || FileName[I] != '.')
        return {};
    return FileName.substr(I);
}

std::string ChangeFileExt(const std::string& FileName, const std::string& Extension)
{
    const std::size_t I = LastDelimiterOrDot(FileName);
    if (I == std::string::npos || FileName[I] != '.')
        return FileName + Extension;
    return FileName.substr(0, I) + Extension;
}

std::string IncludeTrailingPathDelimiter(const std::string& Path)
{
    if (Path.empty() || IsPathDelimiter(Path.back()))
        return Path;
#ifdef _WIN32
#ifdef _WIN32
    const bool Backslashes = Path.find('\\') != std::string::npos && Path.find('/') == std::string::npos;
    return Path + (Backslashes ? '\\' : '/');
#else
    return Path + '/';
#endif
#else
    return Path + '/';
#endif
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

namespace {

// FileName opened for reading without waiting (a named pipe swapped in for a file does
// not wait for a writer). Raises EFOpenError.
int OpenWithoutWaiting(const std::string& FileName)
{
    if (!UsableName(FileName))
        throw EFOpenError::CannotOpen(FileName, "Invalid file name");
    int Fd;
    do {
        Fd = ::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (Fd < 0 && errno == EINTR);
    if (Fd < 0)
        throw EFOpenError::CannotOpen(FileName, std::strerror(errno));
    return Fd;
}

} // namespace

std::string ReadRegularFile(const std::string& FileName, long long MaxSize)
{
    const int Fd = OpenWithoutWaiting(FileName);
    struct Closer {
        int Fd;
        ~Closer() { ::close(Fd); }
    } Close{Fd};
    struct stat St {};
    if (::fstat(Fd, &St) != 0)
        throw EFOpenError::CannotOpen(FileName, std::strerror(errno));
    if (!S_ISREG(St.st_mode))
        throw EFOpenError::CannotOpen(FileName, S_ISDIR(St.st_mode) ? "It is a folder" : "It is not a regular file");
    if (St.st_size > MaxSize)
        throw EFOpenError::CannotOpen(FileName, "It is larger than " + std::to_string(MaxSize) + " bytes");
    if (::flock(Fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        throw EFOpenError::CannotOpen(FileName, "The file is in use by another program");

    std::string Bytes(static_cast<std::size_t>(St.st_size), '\0');
    std::size_t Done = 0;
    for (;;) {
        if (Done == Bytes.size()) {
            // One byte more than fstat promised means the file grew while it was read.
            char Extra;
            const ssize_t N = ::read(Fd, &Extra, 1);
            if (N == 0)
                return Bytes;
            if (N < 0 && errno == EINTR)
                continue;
            throw EStreamError("Cannot read the file " + FileName + ": it changed while it was read");
        }
        const ssize_t N = ::read(Fd, Bytes.data() + Done, Bytes.size() - Done);
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0)
            throw EStreamError("Cannot read the file " + FileName + ": " + std::strerror(errno));
        if (N == 0)
            throw EStreamError("Cannot read the file " + FileName + ": it changed while it was read");
        Done += static_cast<std::size_t>(N);
    }
}


namespace {
// Writes all of Bytes to Fd; 0, or the error that stopped it (ENOSPC for a write that
// took nothing).
int WriteAll(int Fd, const std::string& Bytes)
{
    std::size_t Done = 0;
    while (Done < Bytes.size()) {
        const ssize_t N = ::write(Fd, Bytes.data() + Done, Bytes.size() - Done);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            return N < 0 ? errno : ENOSPC;
        Done += static_cast<std::size_t>(N);
    }
    return 0;
}
} // namespace

void ReplaceFileWith(const std::string& FileName, const std::string& Bytes)
{
    TFileReplacement Target(FileName);
    if (const int Error = WriteAll(Target.Handle(), Bytes); Error != 0)
        throw EStreamError("Stream write error on file \"" + FileName + "\". " + std::strerror(Error));
    Target.Commit();
}

void WriteStringToNewFile(const std::string& FileName, const std::string& Bytes)
{
    if (!UsableName(FileName))
        throw EFCreateError::CannotCreate(FileName, "Invalid file name");
    int Fd;
    do {
        Fd = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (Fd < 0 && errno == EINTR);
    if (Fd < 0)
        throw EFCreateError::CannotCreate(FileName, std::strerror(errno));
    int Error = WriteAll(Fd, Bytes);
    if (::close(Fd) != 0 && Error == 0)
        Error = errno;
    if (Error != 0) {
        ::unlink(FileName.c_str());
        throw EStreamError("Stream write error on file \"" + FileName + "\". " + std::strerror(Error));
    }
}

int CreateAnonymousFile(const std::string& Folder)
{
    const std::string Dir = ExcludeTrailingPathDelimiter(Folder.empty() ? GetTempFolder() : Folder);
    int Fd = ::open(Dir.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    if (Fd >= 0)
        return Fd;
    // A file system without unnamed files: a named one, unlinked at once.
    std::string Name = IncludeTrailingPathDelimiter(Dir) + ".tabrix-XXXXXX";
    Fd = ::mkostemp(Name.data(), O_CLOEXEC);
    if (Fd < 0)
        throw EFCreateError::CannotCreate(Name, std::strerror(errno));
    ::unlink(Name.c_str());
    return Fd;
}

int CreateAnonymousFileWith(const std::string& Bytes)
{
    const int Fd = CreateAnonymousFile();
    if (const int Error = WriteAll(Fd, Bytes); Error != 0) {
        ::close(Fd);
        throw EStreamError("Cannot write a temporary file: " + std::string(std::strerror(Error)));
    }
    return Fd;
}

std::string HandleFileName(int Handle)
{
    return "/proc/self/fd/" + std::to_string(Handle);
}

TAnonymousFile::~TAnonymousFile()
{
    ::close(FHandle);
}

namespace {

volatile std::sig_atomic_t InterruptedBy = 0;
std::atomic<void (*)()> InterruptAction{nullptr};

extern "C" void RecordInterrupt(int Signal)
{
    InterruptedBy = Signal;
    RunInterruptAction();
}

struct TListedFile {
    std::string Name;
    dev_t Device;
    ino_t Inode;
};

std::mutex ListedLock;
std::vector<TListedFile>& Listed()
{
    static std::vector<TListedFile> Files;
    return Files;
}

} // namespace

void InstallInterruptHandler()
{
    struct sigaction Action {};
    Action.sa_handler = RecordInterrupt;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_RESTART;
    for (int Signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(Signal, &Action, nullptr);
}

void SetInterruptAction(void (*Action)())
{
    InterruptAction.store(Action);
}

void RunInterruptAction()
{
    if (void (*Action)() = InterruptAction.load())
        Action();
}

int InterruptSignal()
{
    return InterruptedBy;
}

void ClearInterrupt()
{
    InterruptedBy = 0;
}

void CheckInterrupt()
{
    if (InterruptRequested())
        throw Exception("The run was interrupted");
}

void RegisterTemporaryFile(const std::string& FileName)
{
    struct stat St {};
    if (!UsableName(FileName) || ::lstat(FileName.c_str(), &St) != 0)
        return;
    std::lock_guard<std::mutex> Guard(ListedLock);
    auto& Files = Listed();
    // Entries whose file has gone (renamed into place or removed) are dropped, so the
    // list stays as short as the files that still exist.
    Files.erase(std::remove_if(Files.begin(), Files.end(),
                               [](const TListedFile& F) {
                                   struct stat Now {};
                                   return ::lstat(F.Name.c_str(), &Now) != 0 || Now.st_ino != F.Inode ||
                                          Now.st_dev != F.Device;
                               }),
                Files.end());
    Files.push_back({FileName, St.st_dev, St.st_ino});
}

void ForgetTemporaryFile(const std::string& FileName)
{
    std::lock_guard<std::mutex> Guard(ListedLock);
    auto& Files = Listed();
    Files.erase(std::remove_if(Files.begin(), Files.end(), [&](const TListedFile& F) { return F.Name == FileName; }),
                Files.end());
}

void RemoveTemporaryFiles()
{
    std::lock_guard<std::mutex> Guard(ListedLock);
    for (const TListedFile& F : Listed()) {
        struct stat St {};
        if (::lstat(F.Name.c_str(), &St) == 0 && St.st_dev == F.Device && St.st_ino == F.Inode)
            ::unlink(F.Name.c_str());
    }
    Listed().clear();
}

void ExitAfterInterrupt()
{
    const int Signal = InterruptSignal() != 0 ? InterruptSignal() : SIGTERM;
    RemoveTemporaryFiles();
    std::signal(Signal, SIG_DFL);
    std::raise(Signal);
    std::_Exit(128 + Signal);
}

// ---- a file merged into

TMergedFile::TMergedFile(const std::string& FileName, bool Lock) : FFileName(FileName)
{
    // Opened, locked, then checked to be still the file under the name: a run that
    // replaced it between the open and the lock has left the old file unlinked, and the
    // new one is opened instead.
    for (int Attempt = 0; Attempt < 5; ++Attempt) {
        const int Fd = OpenWithoutWaiting(FileName);
        struct stat Opened {}, Named {};
        if (::fstat(Fd, &Opened) != 0 || !S_ISREG(Opened.st_mode)) {
            ::close(Fd);
            throw EFOpenError::CannotOpen(FileName, S_ISDIR(Opened.st_mode) ? "It is a folder" : "It is not a regular file");
        }
        if (Lock && ::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
            const int Error = errno;
            ::close(Fd);
            if (Error == EWOULDBLOCK)
                throw Exception("The file '" + FileName +
                                "' is being merged into by another run; it is left unchanged, try again when that run has ended");
            throw EFOpenError::CannotOpen(FileName, std::strerror(Error));
        }
        if (::stat(FileName.c_str(), &Named) == 0 && Named.st_dev == Opened.st_dev && Named.st_ino == Opened.st_ino) {
            FHandle = Fd;
            FSize = static_cast<long long>(Opened.st_size);
            FModifiedSec = static_cast<long long>(Opened.st_mtim.tv_sec);
            FModifiedNsec = static_cast<long long>(Opened.st_mtim.tv_nsec);
            return;
        }
        ::close(Fd);
    }
    throw EFOpenError::CannotOpen(FileName, "it is being replaced by another program");
}

TMergedFile::~TMergedFile()
{
    ::close(FHandle); // also releases the lock
}

void TMergedFile::CheckUnchanged() const
{
    struct stat Opened {}, Named {};
    const bool Same = ::fstat(FHandle, &Opened) == 0 && ::stat(FFileName.c_str(), &Named) == 0 &&
                      Named.st_dev == Opened.st_dev && Named.st_ino == Opened.st_ino &&
                      static_cast<long long>(Opened.st_size) == FSize &&
                      static_cast<long long>(Opened.st_mtim.tv_sec) == FModifiedSec &&
                      static_cast<long long>(Opened.st_mtim.tv_nsec) == FModifiedNsec;
    if (!Same)
        throw EStreamError("The file '" + FFileName + "' changed while it was open; it cannot be merged");
}

std::size_t TMergedFile::ReadAt(long long Offset, char* Data, std::size_t Length) const
{
    std::size_t Done = 0;
    while (Done < Length) {
        const ssize_t Got = ::pread(FHandle, Data + Done, Length - Done, static_cast<off_t>(Offset) + static_cast<off_t>(Done));
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got < 0)
            throw EStreamError("Cannot read the file '" + FFileName + "': " + std::strerror(errno));
        if (Got == 0)
            break;
        Done += static_cast<std::size_t>(Got);
    }
    return Done;
}

// ---- replacing a target

void (*TFileReplacement::CreatedHook)(const std::string& TempName) = nullptr;

TFileReplacement::TFileReplacement(const std::string& Target) : FTarget(Target)
{
    if (!UsableName(Target))
        throw EFCreateError::CannotCreate(Target, "Invalid file name");
    const std::string Name = ExtractFileName(Target);
    if (Name.empty() || Name == "." || Name == "..")
        throw EFCreateError::CannotCreate(Target, "it is a folder");
    const std::string Folder = ExtractFilePath(Target);
    const std::string Dir = Folder.empty() ? std::string(".") : Folder;
    if (!DirectoryExists(Dir))
        throw EFCreateError::CannotCreate(Target, "the folder '" + Dir + "' does not exist");
    struct stat Old {};
    const bool Exists = ::lstat(Target.c_str(), &Old) == 0;
    if (Exists && !S_ISREG(Old.st_mode) && !S_ISLNK(Old.st_mode))
        throw EFCreateError::CannotCreate(Target, S_ISDIR(Old.st_mode) ? "It is a folder" : "It is not a regular file");

    // "." + name + ".tabrix-" + 8 digits must fit the folder's name limit: a long name is
    // shortened, at a character boundary.
    const std::string Suffix = ".tabrix-";
    constexpr std::size_t Digits = 8;
    long Limit = ::pathconf(Dir.c_str(), _PC_NAME_MAX);
    if (Limit <= 0)
        Limit = 255;
    std::string Stem = Name;
    const std::size_t Room = static_cast<std::size_t>(Limit) - 1 - Suffix.size() - Digits;
    if (Stem.size() > Room) {
        std::size_t Cut = Room;
        while (Cut > 0 && (static_cast<unsigned char>(Stem[Cut]) & 0xC0) == 0x80)
            --Cut;
        Stem.resize(Cut);
    }
    FNamePrefix = Folder + "." + Stem + Suffix;
    // 0666: the umask decides a new file's mode. A file without a name is linked into the
    // folder when it is whole, through its /proc/self/fd name; without /proc, or where
    // the file system has no unnamed files, it gets its temporary name at once.
    if (::access("/proc/self/fd", X_OK) == 0) {
        do {
            FHandle = ::open(Dir.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0666);
        } while (FHandle < 0 && errno == EINTR);
    }
    if (FHandle < 0) {
        FHandle = CreateNamed(Target);
        RegisterTemporaryFile(FTempName);
    }
    // A replaced file keeps its owner and group where this process may give them (the
    // group alone where only that is allowed), then its mode: after the owner, as a
    // change of owner clears the set-id bits. The descriptor stays writable whatever
    // the mode says.
    if (Exists && S_ISREG(Old.st_mode)) {
        if (::fchown(FHandle, Old.st_uid, Old.st_gid) != 0 &&
            ::fchown(FHandle, static_cast<uid_t>(-1), Old.st_gid) != 0) {
            // not allowed: the file stays ours
        }
        ::fchmod(FHandle, Old.st_mode & 07777);
    }
    if (!FTempName.empty())
        CallCreatedHook();
}

int TFileReplacement::CreateNamed(const std::string& Target)
{
    int LastError = EEXIST;
    for (int Attempt = 0; Attempt < 100; ++Attempt) {
        char Random[9];
        std::snprintf(Random, sizeof Random, "%08X", static_cast<unsigned>(RandomBits() & 0xFFFFFFFFu));
        const std::string Candidate = FNamePrefix + Random;
        int Fd;
        if (FHandle < 0)
            Fd = ::open(Candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        else // the unnamed file gets its name; linkat never replaces one
            Fd = ::linkat(AT_FDCWD, HandleFileName(FHandle).c_str(), AT_FDCWD, Candidate.c_str(), AT_SYMLINK_FOLLOW) == 0
                     ? FHandle
                     : -1;
        if (Fd >= 0) {
            FTempName = Candidate;
            return Fd;
        }
        if ((LastError = errno) != EEXIST && LastError != EINTR)
            break;
    }
    throw EFCreateError::CannotCreate(Target, std::strerror(LastError));
}

void TFileReplacement::CallCreatedHook()
{
    if (!CreatedHook)
        return;
    try {
        CreatedHook(FTempName);
    } catch (...) {
        RemoveName();
        throw;
    }
}

void TFileReplacement::RemoveName()
{
    if (FTempName.empty())
        return;
    if (StillOurs())
        ::unlink(FTempName.c_str());
    ForgetTemporaryFile(FTempName);
    FTempName.clear();
}

bool TFileReplacement::StillOurs() const
{
    struct stat Mine {}, Named {};
    return ::fstat(FHandle, &Mine) == 0 && ::lstat(FTempName.c_str(), &Named) == 0 && Mine.st_dev == Named.st_dev &&
           Mine.st_ino == Named.st_ino;
}

TFileReplacement::~TFileReplacement()
{
    if (!FCommitted)
        RemoveName();
    ::close(FHandle);
}

void TFileReplacement::Commit(const TMergedFile* Merged)
{
    // On disk before it takes the target's place: a crash leaves the old file or the
    // new one, never an empty one.
    if (::fsync(FHandle) != 0 && errno != EINVAL)
        throw EStreamError("Cannot write the file '" + TempName() + "': " + std::strerror(errno));
    if (FTempName.empty()) {
        // Named only now, for the moment between the link and the rename.
        CreateNamed(FTarget);
        RegisterTemporaryFile(FTempName);
        CallCreatedHook();
    }
    try {
        // As late as can be: the merged file is checked after everything else is done.
        if (Merged)
            Merged->CheckUnchanged();
        if (!StillOurs())
            throw EFCreateError::CannotCreate(FTarget, "its temporary file '" + FTempName + "' was replaced by another");
        if (::rename(FTempName.c_str(), FTarget.c_str()) != 0)
            throw EFCreateError::CannotCreate(FTarget, std::strerror(errno));
    } catch (...) {
        RemoveName();
        throw;
    }
    FCommitted = true;
    ForgetTemporaryFile(FTempName);
}
