#include "streams.h"

#include "exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string SystemMessage(int Error)
{
    return std::strerror(Error);
}

constexpr std::int64_t CopyChunk = 64 * 1024;

} // namespace

// ---------------------------------------------------------------------------------
// TStream

std::int64_t TStream::Size()
{
    const std::int64_t Current = Seek(0, soCurrent);
    const std::int64_t End = Seek(0, soEnd);
    Seek(Current, soBeginning);
    return End;
}

void TStream::ReadBuffer(void* Buffer, std::int64_t Count)
{
    if (Count < 0 || (Count != 0 && Read(Buffer, Count) != Count))
        throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, std::int64_t Count)
{
    if (Count < 0 || (Count != 0 && Write(Buffer, Count) != Count))
        throw EStreamError("Stream write error");
}

std::string TStream::ReadToEnd()
{
    std::string Result;
    const std::int64_t Remaining = Size() - Position();
    if (Remaining > 0)
        Result.reserve(static_cast<std::size_t>(Remaining));
    // Read in chunks until the stream says it has ended, so that a stream whose size
    // is not known in advance (or changes) is still read whole.
    char Chunk[CopyChunk];
    for (;;) {
        const std::int64_t Got = Read(Chunk, CopyChunk);
        if (Got <= 0)
            break;
        Result.append(Chunk, static_cast<std::size_t>(Got));
    }
    return Result;
}

std::string TStream::ReadString(std::int64_t Count)
{
    if (Count < 0)
        throw EStreamError("Stream read error");
    std::string Result(static_cast<std::size_t>(Count), '\0');
    ReadBuffer(Result.data(), Count);
    return Result;
}

std::int64_t TStream::CopyFrom(TStream& Source, std::int64_t Count)
{
    if (Count == 0) {
        Source.SetPosition(0);
        Count = Source.Size();
    }
    if (Count < 0)
        throw EStreamError("Stream read error");
    std::string Chunk(static_cast<std::size_t>(std::min(Count, CopyChunk)), '\0');
    std::int64_t Left = Count;
    while (Left > 0) {
        const std::int64_t N = std::min(Left, CopyChunk);
        Source.ReadBuffer(Chunk.data(), N);
        WriteBuffer(Chunk.data(), N);
        Left -= N;
    }
    return Count;
}

// ---------------------------------------------------------------------------------
// TFileStream

TFileStream::TFileStream(int Handle, const std::string& FileName) : FFileName(FileName)
{
    FHandle = ::fcntl(Handle, F_DUPFD_CLOEXEC, 0);
    if (FHandle < 0)
        throw EFCreateError::CannotCreate(FileName, SystemMessage(errno));
    FReadable = FWritable = true;
}

TFileStream::TFileStream(const std::string& FileName, unsigned Mode) : FFileName(FileName)
{
    const bool Create = (Mode & 0xFF00u) == 0xFF00u;
    const unsigned Access = Mode & 0x000Fu;
    const unsigned Share = Mode & 0x00F0u;
    auto Fail = [&](const std::string& Reason) -> void {
        if (Create)
            throw EFCreateError::CannotCreate(FileName, Reason);
        throw EFOpenError::CannotOpen(FileName, Reason);
    };

    // A name is handed to the system as a C string: an embedded NUL would name a
    // different file.
    if (FileName.empty() || FileName.find('\0') != std::string::npos)
        Fail("Invalid file name");
    if (!Create && Access > fmOpenReadWrite)
        Fail("Invalid file mode");
    if (Share > fmShareDenyNone)
        Fail("Invalid file mode");

    int Flags = O_CLOEXEC;
    if (Create)
        Flags |= O_RDWR | O_CREAT; // emptied once the lock is held
    else if (Access == fmOpenWrite)
        Flags |= O_WRONLY;
    else if (Access == fmOpenReadWrite)
        Flags |= O_RDWR;
    else
        Flags |= O_RDONLY;
    FReadable = Create || Access != fmOpenWrite;
    FWritable = Create || Access != fmOpenRead;

    do {
        FHandle = ::open(FileName.c_str(), Flags, 0666);
    } while (FHandle < 0 && errno == EINTR);
    if (FHandle < 0)
        Fail(SystemMessage(errno));

    auto FailClosing = [&](const std::string& Reason) {
        ::close(FHandle);
        FHandle = -1;
        Fail(Reason);
    };

    struct stat St {};
    if (::fstat(FHandle, &St) != 0)
        FailClosing(SystemMessage(errno));
    if (S_ISDIR(St.st_mode))
        FailClosing(SystemMessage(EISDIR));

    int Lock = 0;
    switch (Share) {
    case fmShareExclusive:
    case fmShareDenyRead:
        Lock = LOCK_EX;
        break;
    case fmShareDenyWrite:
        Lock = LOCK_SH;
        break;
    case fmShareDenyNone:
        break;
    default: // compatibility mode: a writer keeps the file to itself
        Lock = FWritable ? LOCK_EX : 0;
        break;
    }
    if (Lock != 0) {
        int Rc;
        do {
            Rc = ::flock(FHandle, Lock | LOCK_NB);
        } while (Rc != 0 && errno == EINTR);
        if (Rc != 0) {
            if (errno == EWOULDBLOCK)
                FailClosing("The file is in use by another program");
            else if (errno != ENOLCK && errno != EOPNOTSUPP)
                FailClosing(SystemMessage(errno));
            // A file system without locks: carry on without one.
        }
    }

    if (Create && S_ISREG(St.st_mode) && ::ftruncate(FHandle, 0) != 0)
        FailClosing(SystemMessage(errno));
}

TFileStream::~TFileStream()
{
    try {
        Close();
    } catch (...) {
        // Nothing can be reported from a destructor; Close raises for callers that ask.
    }
    if (FHandle >= 0)
        ::close(FHandle);
}

void TFileStream::CheckOpen() const
{
    if (FHandle < 0)
        throw EStreamError("Stream error: the file \"" + FFileName + "\" is closed");
}

void TFileStream::RaiseWriteError(int Error) const
{
    throw EStreamError("Stream write error on file \"" + FFileName + "\". " + SystemMessage(Error));
}

void TFileStream::Flush()
{
    CheckOpen();
    std::size_t Done = 0;
    while (Done < FBuffer.size()) {
        const ssize_t N = ::write(FHandle, FBuffer.data() + Done, FBuffer.size() - Done);
        if (N < 0) {
            if (errno == EINTR)
                continue;
            const int Error = errno;
            // The bytes that did not reach the file are given up: keeping them would
            // only fail again, and the caller learns of the loss now.
            FPosition -= static_cast<std::int64_t>(FBuffer.size() - Done);
            FBuffer.clear();
            RaiseWriteError(Error);
        }
        Done += static_cast<std::size_t>(N);
    }
    FBuffer.clear();
}

void TFileStream::FlushToDisk()
{
    Flush();
    if (::fdatasync(FHandle) != 0 && errno != EINVAL && errno != EROFS)
        RaiseWriteError(errno);
}

void TFileStream::StartWriteBack()
{
    Flush();
    ::sync_file_range(FHandle, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void TFileStream::Close()
{
    if (FHandle < 0)
        return;
    try {
        Flush();
    } catch (...) {
        ::close(FHandle);
        FHandle = -1;
        throw;
    }
    const int Rc = ::close(FHandle);
    const int Error = errno;
    FHandle = -1;
    if (Rc != 0 && Error != EINTR)
        RaiseWriteError(Error);
}

std::int64_t TFileStream::Read(void* Buffer, std::int64_t Count)
{
    CheckOpen();
    if (!FReadable)
        throw EStreamError("Stream read error: the file \"" + FFileName + "\" is open for writing only");
    if (Count <= 0)
        return 0;
    Flush();
    char* Out = static_cast<char*>(Buffer);
    std::int64_t Done = 0;
    while (Done < Count) {
        const std::size_t Want = static_cast<std::size_t>(std::min<std::int64_t>(Count - Done, 1 << 30));
        const ssize_t N = ::read(FHandle, Out + Done, Want);
        if (N < 0) {
            if (errno == EINTR)
                continue;
            throw EStreamError("Stream read error on file \"" + FFileName + "\". " + SystemMessage(errno));
        }
        if (N == 0)
            break;
        Done += N;
    }
    FPosition += Done;
    return Done;
}

std::int64_t TFileStream::Write(const void* Buffer, std::int64_t Count)
{
    CheckOpen();
    if (!FWritable)
        throw EStreamError("Stream write error: the file \"" + FFileName + "\" is open for reading only");
    if (Count <= 0)
        return 0;
    const char* In = static_cast<const char*>(Buffer);
    const std::size_t N = static_cast<std::size_t>(Count);
    if (FBuffer.size() + N <= BufferSize) {
        if (FBuffer.capacity() < BufferSize)
            FBuffer.reserve(BufferSize);
        FBuffer.append(In, N);
        FPosition += Count;
        if (FBuffer.size() == BufferSize)
            Flush();
        return Count;
    }
    // Too big for what is left of the buffer: empty the buffer, then write a large
    // block straight through and buffer a small one.
    Flush();
    if (N >= BufferSize) {
        std::size_t Done = 0;
        while (Done < N) {
            const ssize_t W = ::write(FHandle, In + Done, std::min<std::size_t>(N - Done, 1u << 30));
            if (W < 0) {
                if (errno == EINTR)
                    continue;
                const int Error = errno;
                FPosition += static_cast<std::int64_t>(Done);
                RaiseWriteError(Error);
            }
            Done += static_cast<std::size_t>(W);
        }
        FPosition += Count;
        return Count;
    }
    FBuffer.append(In, N);
    FPosition += Count;
    return Count;
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin)
{
    CheckOpen();
    if (Origin == soCurrent && Offset == 0)
        return FPosition;
    Flush();
    const int Whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t Result = ::lseek(FHandle, static_cast<off_t>(Offset), Whence);
    if (Result < 0)
        throw EStreamError("Stream seek error on file \"" + FFileName + "\". " + SystemMessage(errno));
    FPosition = Result;
    return FPosition;
}

std::int64_t TFileStream::Size()
{
    CheckOpen();
    Flush();
    struct stat St {};
    if (::fstat(FHandle, &St) != 0)
        throw EStreamError("Stream error on file \"" + FFileName + "\". " + SystemMessage(errno));
    return St.st_size;
}

void TFileStream::SetSize(std::int64_t NewSize)
{
    CheckOpen();
    Flush();
    if (NewSize < 0 || ::ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0)
        RaiseWriteError(NewSize < 0 ? EINVAL : errno);
    if (FPosition > NewSize)
        Seek(NewSize, soBeginning);
}

// ---------------------------------------------------------------------------------
// TMemoryStream

std::int64_t TMemoryStream::Read(void* Buffer, std::int64_t Count)
{
    const std::int64_t Available = Size() - FPosition;
    if (Count <= 0 || Available <= 0)
        return 0;
    const std::int64_t N = std::min(Count, Available);
    std::memcpy(Buffer, FData.data() + FPosition, static_cast<std::size_t>(N));
    FPosition += N;
    return N;
}

std::int64_t TMemoryStream::Write(const void* Buffer, std::int64_t Count)
{
    if (Count <= 0)
        return 0;
    const std::int64_t End = FPosition + Count;
    if (End > Size())
        FData.resize(static_cast<std::size_t>(End), '\0');
    std::memcpy(FData.data() + FPosition, Buffer, static_cast<std::size_t>(Count));
    FPosition = End;
    return Count;
}

std::int64_t TMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin)
{
    const std::int64_t Base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : Size();
    const std::int64_t NewPosition = Base + Offset;
    if (NewPosition < 0)
        throw EStreamError("Stream seek error: negative position");
    FPosition = NewPosition;
    return FPosition;
}

void TMemoryStream::SetSize(std::int64_t NewSize)
{
    if (NewSize < 0)
        throw EStreamError("Stream write error: negative size");
    FData.resize(static_cast<std::size_t>(NewSize), '\0');
    if (FPosition > NewSize)
        FPosition = NewSize;
}

void TMemoryStream::Clear()
{
    FData.clear();
    FPosition = 0;
}

std::string TMemoryStream::TakeBytes()
{
    std::string Result = std::move(FData);
    Clear();
    return Result;
}

void TMemoryStream::LoadFromFile(const std::string& FileName)
{
    TFileStream File(FileName, fmOpenRead | fmShareDenyWrite);
    FData = File.ReadToEnd();
    FPosition = 0;
}

void TMemoryStream::SaveToFile(const std::string& FileName) const
{
    TFileStream File(FileName, fmCreate);
    File.WriteBuffer(FData.data(), static_cast<std::int64_t>(FData.size()));
    File.Close();
}
