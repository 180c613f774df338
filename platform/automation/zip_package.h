#pragma once
// A zip package (.docx, .xlsx) being written: parts from memory, from (ranges of) files,
// or copied unchanged from another package. Nothing reaches the file until Close; an
// unclosed package is discarded, so a failure never leaves half a package behind.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct zip;
struct PackageFile;

// Parts of an opened package that are read whole (and parsed into a tree): the most bytes
// of one such part, and the most a part and its parsed tree may take together (estimated
// from its tags and attributes), so that a small package whose part inflates to gigabytes
// is refused before it is read, and a part of countless tiny elements before it is parsed.
constexpr std::size_t HeldPartLimit = 64u << 20;
constexpr std::size_t ParsedPartLimit = 192u << 20;
// The whole of part `name` of `source` (package file `package`, for messages). Raises
// Exception naming the part and the limit when it exceeds one, and when it is missing or
// cannot be read.
std::string ReadHeldPart(zip* source, const std::string& name, const std::string& package);

// A large part (the rows of a sheet or of a document body) deflated while it is being
// written: text appended in order is compressed on a worker thread into an anonymous
// temporary file, so the writer's thread goes on making text while the other core
// compresses, and the package's Close only copies the compressed bytes. Memory stays at a
// few buffers whatever the part's size.
//
// A part may be made from something else than its text: with a renderer, what is appended
// is handed to it on the worker thread, which compresses the text it makes. The caller
// then appends whole units of its own (records it knows how to render) in every call. And
// a part may get its beginning and its end only when it is finished (a header that counts
// what the body holds): those are compressed on their own and joined to the body, which
// then ends on a byte boundary without a final block, so the entry is one deflate stream.
class DeflatedPart {
public:
    // The size of the buffers handed to the worker: a writer that collects its text in a
    // buffer of its own hands it over once it holds this much.
    static constexpr std::size_t ChunkSize = std::size_t(1) << 16;
    using Renderer = std::function<void(std::string_view units, std::string& text)>;

    // Raises EFCreateError when the temporary file cannot be made.
    explicit DeflatedPart(Renderer render = {});
    ~DeflatedPart();
    DeflatedPart(const DeflatedPart&) = delete;
    DeflatedPart& operator=(const DeflatedPart&) = delete;

    // Appends text. The first form takes the buffer's content and leaves it empty with
    // room to fill again. Raises EStreamError when an earlier write failed.
    void Append(std::string& text);
    void Append(std::string_view text);
    // Ends the part, with `head` before and `tail` after what was appended. Raises
    // EStreamError when it could not be written.
    void Finish(std::string_view head = {}, std::string_view tail = {});
    // Hands what was appended so far to the worker and waits until it is done with it.
    // Raises EStreamError when the worker failed.
    void Drain();

    uint64_t Size() const { return FSize; }
    uint64_t CompressedSize() const { return FCompressedSize; }
    uint32_t Crc() const { return FCrc; }
    // Reads compressed bytes from `offset`; returns the count read.
    int64_t ReadCompressed(uint64_t offset, void* data, uint64_t length) const;

private:
    // An emptied buffer the compressing thread is done with (its room kept), or a new one.
    std::string TakeSpare();
    void Hand(std::string&& buffer, bool last);
    void Work();
    void Compress(const std::string& text, bool last);
    void Rethrow();
    // `text` compressed as a deflate stream of its own, ending with a final block or not.
    static std::string DeflateAlone(std::string_view text, bool final);

    int FHandle = -1;
    std::string FPending;
    std::vector<uint8_t> FOut;
    std::unique_ptr<struct isal_zstream> FStream;
    std::vector<uint8_t> FLevelBuffer;
    uint64_t FSize = 0, FCompressedSize = 0;
    uint32_t FCrc = 0;
    bool FFinished = false;
    bool FOpenEnd = false;      // the body ends without a final block (a tail follows)
    Renderer FRender;
    std::string FRendered;      // the worker's text made from the units it was handed
    std::string FHead, FTail;   // compressed

    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<std::pair<std::string, bool>> FQueue; // buffer, last
    std::vector<std::string> FSpare;
    bool FStop = false, FDone = false;
    bool FBusy = false; // the worker holds a buffer it took from the queue
    std::exception_ptr FFailure;
    std::thread FWorker;
};

class ZipPackage {
public:
    // Raises EFCreateError when the file cannot be made.
    explicit ZipPackage(const std::string& fileName);
    // Writes through (a duplicate of) `handle`, a file open for reading and writing;
    // `name` names it in messages.
    ZipPackage(int handle, const std::string& name);
    ~ZipPackage();
    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;

    // Adds a part holding `text` (kept alive until Close), compressed.
    void AddText(const std::string& name, std::string text);
    // Adds a part holding `size` bytes of `file` from `offset` (-1: to its end), compressed
    // or stored as it is (pictures, which are compressed already).
    void AddFile(const std::string& name, const std::string& file, int64_t offset = 0, int64_t size = -1,
                 bool compress = true);
    // Adds a finished part compressed while it was written; kept alive until Close.
    void AddDeflated(const std::string& name, std::unique_ptr<DeflatedPart> part);
    // Copies entry `index` of the open package `source` unchanged (no recompression).
    void CopyFrom(zip* source, uint64_t index, const std::string& name);
    // Writes the package. Raises EStreamError when it cannot be written.
    void Close();

private:
    struct Owned {};
    ZipPackage(int ownedHandle, const std::string& fileName, Owned);
    struct zip_source* Check(const std::string& name, struct zip_source* source);
    int64_t Add(const std::string& name, struct zip_source* source);

    std::string FName;
    std::unique_ptr<PackageFile> FFile;
    zip* FZip = nullptr;
    std::deque<std::string> FTexts;
    std::deque<std::unique_ptr<DeflatedPart>> FParts;
};
