#pragma once
// Byte streams: an abstract stream, a buffered file stream and an in-memory stream.
// Every operation is byte-exact: text travels as std::string bytes and NUL bytes are
// data like any other.

#include <cstdint>
#include <string>

// Where Seek counts from.
enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Reads up to Count bytes into Buffer; returns how many were read (0 at the end).
    virtual std::int64_t Read(void* Buffer, std::int64_t Count) = 0;
    // Writes Count bytes from Buffer; returns how many were written.
    virtual std::int64_t Write(const void* Buffer, std::int64_t Count) = 0;
    // Moves the position; returns the new position from the beginning.
    virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;
    // Cuts or extends the stream to NewSize bytes (extension is zero-filled).
    virtual void SetSize(std::int64_t NewSize) = 0;

    std::int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(std::int64_t Value) { Seek(Value, soBeginning); }
    virtual std::int64_t Size();

    // Like Read / Write, but anything short of Count bytes raises EStreamError
    // ("Stream read error" / "Stream write error").
    void ReadBuffer(void* Buffer, std::int64_t Count);
    void WriteBuffer(const void* Buffer, std::int64_t Count);

    // Writes the bytes of S, without a terminator.
    void WriteString(const std::string& S) { WriteBuffer(S.data(), static_cast<std::int64_t>(S.size())); }
    // Reads from the position to the end.
    std::string ReadToEnd();
    // Reads exactly Count bytes (EStreamError when the stream ends first).
    std::string ReadString(std::int64_t Count);

    // Copies Count bytes from Source's position into this stream; Count 0 copies the
    // whole of Source from its beginning. Returns the number of bytes copied.
    std::int64_t CopyFrom(TStream& Source, std::int64_t Count);
};

// Open modes of a file stream: one access mode, or'ed with at most one share mode.
enum : unsigned {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    // Create the file anew (replacing an existing one) and open it for reading and
    // writing; may be combined with a share mode.
    fmCreate = 0xFF00,
};

// A file opened by name. Writes are collected in a 64 KiB buffer and reach the file
// when the buffer is full, before any read, seek or size query, on Flush, and on
// Close / destruction.
//
// Share modes are kept with advisory locks (flock) among all programs that take them,
// this suite included; a program that takes no lock is not stopped:
//   fmShareExclusive, fmShareDenyRead  exclusive lock
//   fmShareDenyWrite                   shared lock (other readers that deny writing
//                                      may share the file; writers are refused)
//   fmShareDenyNone                    no lock
//   fmShareCompat (none given)         exclusive lock when the file is opened for
//                                      writing (fmCreate, fmOpenWrite,
//                                      fmOpenReadWrite), none when only read
// A lock that cannot be had fails the open at once; fmCreate then leaves the existing
// file untouched (it is emptied only after the lock is held).
class TFileStream : public TStream {
public:
    // Raises EFCreateError ("Cannot create file ...") for fmCreate and EFOpenError
    // ("Cannot open file ...") otherwise, with the system's reason.
    TFileStream(const std::string& FileName, unsigned Mode);
    // A stream over a copy of an open descriptor (a file made by TFileReplacement),
    // read and written from its start; FileName names it in messages.
    TFileStream(int Handle, const std::string& FileName);
    // Flushes and closes; a failure here cannot be reported, so callers that must
    // know call Close first.
    ~TFileStream() override;

    std::int64_t Read(void* Buffer, std::int64_t Count) override;
    std::int64_t Write(const void* Buffer, std::int64_t Count) override;
    std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
    void SetSize(std::int64_t NewSize) override;
    std::int64_t Size() override;

    // Hands the buffered bytes to the operating system.
    void Flush();
    // Flush, then has the operating system write the file's data to the disk
    // (fdatasync).
    void FlushToDisk();
    // Flush, then has the operating system start writing the file's data to the disk
    // without waiting for it (sync_file_range); a failure shows at Close or FlushToDisk.
    void StartWriteBack();
    // Flushes and closes the file, raising EStreamError when the last bytes cannot be
    // written. Afterwards every operation raises EStreamError.
    void Close();

    const std::string& FileName() const { return FFileName; }
    int Handle() const { return FHandle; }

    static constexpr std::size_t BufferSize = 64 * 1024;

private:
    void CheckOpen() const;
    [[noreturn]] void RaiseWriteError(int Error) const;

    std::string FFileName;
    int FHandle = -1;
    bool FReadable = false;
    bool FWritable = false;
    std::string FBuffer;     // bytes written but not yet handed to the system
    std::int64_t FPosition = 0; // logical position, buffered bytes included
};

// A stream over bytes held in memory. The position may be set past the end; a write
// there fills the gap with zero bytes.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string Bytes) : FData(std::move(Bytes)) {}

    std::int64_t Read(void* Buffer, std::int64_t Count) override;
    std::int64_t Write(const void* Buffer, std::int64_t Count) override;
    std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
    void SetSize(std::int64_t NewSize) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }

    void Clear();
    const std::string& Bytes() const { return FData; }
    // Moves the bytes out; the stream is empty afterwards.
    std::string TakeBytes();

    // Replaces the content with the whole file (EFOpenError when it cannot be read).
    void LoadFromFile(const std::string& FileName);
    // Writes the whole content to a new file (EFCreateError / EStreamError).
    void SaveToFile(const std::string& FileName) const;

private:
    std::string FData;
    std::int64_t FPosition = 0;
};

// A memory stream built from text, whose content is read back as text.
class TStringStream : public TMemoryStream {
public:
    explicit TStringStream(std::string Text = {}) : TMemoryStream(std::move(Text)) {}
    const std::string& DataString() const { return Bytes(); }
};
