#include "platform/automation/zip_package.h"

#include "framework/exceptions.h"
#include "framework/files.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zip.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <unistd.h>

std::string ReadHeldPart(zip* source, const std::string& name, const std::string& package)
{
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat(source, name.c_str(), 0, &st) != 0)
        throw Exception("The package '" + package + "' has no part '" + name + "'");
    const std::string tooLarge = "The part '" + name + "' of '" + package + "' is larger than this application reads into memory (";
    if (st.size > HeldPartLimit)
        throw Exception(tooLarge + std::to_string(HeldPartLimit >> 20) + " MB)");
    std::string data(static_cast<std::size_t>(st.size), '\0');
    zip_file_t* f = zip_fopen(source, name.c_str(), 0);
    const zip_int64_t n = !f ? -1 : data.empty() ? 0 : zip_fread(f, data.data(), data.size());
    const std::string why = !f ? zip_strerror(source) : n < 0 ? zip_file_strerror(f) : "";
    if (f) zip_fclose(f);
    if (n != static_cast<zip_int64_t>(data.size()))
        throw Exception("The part '" + name + "' of '" + package + "' cannot be read" + (why.empty() ? "" : ": " + why));
    // A parsed element takes about 64 bytes and an attribute 40, and the parser holds a
    // copy of the text.
    std::size_t tags = 0, attributes = 0;
    for (char c : data) {
        tags += c == '<';
        attributes += c == '=';
    }
    if (2 * data.size() + 64 * tags + 40 * attributes > ParsedPartLimit)
        throw Exception(tooLarge + std::to_string(ParsedPartLimit >> 20) + " MB once parsed: " + std::to_string(tags) +
                        " tags)");
    return data;
}

namespace {

// Deflate at the fastest level: the parts are XML, which compresses well at any level, and
// the body of a large document is the hot path of saving it.
constexpr zip_uint32_t CompressionLevel = 1;

// Text is handed to the compressing thread in buffers of DeflatedPart::ChunkSize, at most
// this many at a time: enough to keep both threads busy, little memory.
constexpr std::size_t ChunkSize = DeflatedPart::ChunkSize;
constexpr std::size_t MaxQueued = 3;

// Serves a deflated part's compressed bytes to libzip, which stores them as they are
// because the part's statistics say they are deflated already.
struct DeflatedSource {
    const DeflatedPart* Part;
    uint64_t Offset = 0;
    zip_error_t Error;
};

zip_int64_t ServeDeflated(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto* source = static_cast<DeflatedSource*>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN: source->Offset = 0; return 0;
    case ZIP_SOURCE_READ: {
        const int64_t got = source->Part->ReadCompressed(source->Offset, data, length);
        if (got < 0) {
            zip_error_set(&source->Error, ZIP_ER_READ, errno);
            return -1;
        }
        source->Offset += static_cast<uint64_t>(got);
        return got;
    }
    case ZIP_SOURCE_CLOSE: return 0;
    case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
        st->size = source->Part->Size();
        st->comp_size = source->Part->CompressedSize();
        st->comp_method = ZIP_CM_DEFLATE;
        st->crc = source->Part->Crc();
        return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&source->Error, data, length);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&source->Error);
        delete source;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&source->Error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

// The package file itself, written in place through its handle. libzip's own file target
// would write a temporary file beside it and rename it, and to name that file it starts
// the whole cryptographic library for a few random bytes; the callers write to a
// temporary name of their own already.
struct PackageFile {
    int Handle = -1;
    zip_error_t Error;
};

namespace {

zip_int64_t Failed(PackageFile* file, int code)
{
    zip_error_set(&file->Error, code, errno);
    return -1;
}

zip_int64_t Seek(PackageFile* file, void* data, zip_uint64_t length)
{
    auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &file->Error);
    if (!args) return -1;
    return ::lseek(file->Handle, args->offset, args->whence) < 0 ? Failed(file, ZIP_ER_SEEK) : 0;
}

zip_int64_t ServePackageFile(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto* file = static_cast<PackageFile*>(state);
    switch (command) {
    case ZIP_SOURCE_STAT: {
        // A new, empty package: nothing is read from it.
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE;
        st->size = 0;
        return sizeof(*st);
    }
    case ZIP_SOURCE_OPEN: return ::lseek(file->Handle, 0, SEEK_SET) < 0 ? Failed(file, ZIP_ER_SEEK) : 0;
    case ZIP_SOURCE_READ: {
        const ssize_t n = ::read(file->Handle, data, length);
        return n < 0 ? Failed(file, ZIP_ER_READ) : n;
    }
    case ZIP_SOURCE_CLOSE: return 0;
    case ZIP_SOURCE_SEEK:
    case ZIP_SOURCE_SEEK_WRITE: return Seek(file, data, length);
    case ZIP_SOURCE_TELL:
    case ZIP_SOURCE_TELL_WRITE: {
        const off_t at = ::lseek(file->Handle, 0, SEEK_CUR);
        return at < 0 ? Failed(file, ZIP_ER_TELL) : at;
    }
    case ZIP_SOURCE_BEGIN_WRITE:
        return ::ftruncate(file->Handle, 0) != 0 || ::lseek(file->Handle, 0, SEEK_SET) < 0 ? Failed(file, ZIP_ER_WRITE) : 0;
    case ZIP_SOURCE_WRITE: {
        const auto* bytes = static_cast<const char*>(data);
        for (zip_uint64_t done = 0; done < length;) {
            const ssize_t n = ::write(file->Handle, bytes + done, length - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return Failed(file, ZIP_ER_WRITE);
            done += static_cast<zip_uint64_t>(n);
        }
        return static_cast<zip_int64_t>(length);
    }
    case ZIP_SOURCE_COMMIT_WRITE: return ::fsync(file->Handle) != 0 && errno != EINVAL ? Failed(file, ZIP_ER_WRITE) : 0;
    case ZIP_SOURCE_ROLLBACK_WRITE: return ::ftruncate(file->Handle, 0) != 0 ? Failed(file, ZIP_ER_WRITE) : 0;
    case ZIP_SOURCE_REMOVE: return 0;
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&file->Error, data, length);
    case ZIP_SOURCE_FREE: return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
            ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE,
            ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE,
            ZIP_SOURCE_REMOVE, -1);
    default:
        zip_error_set(&file->Error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

// ---- DeflatedPart

DeflatedPart::DeflatedPart(Renderer render)
    : FOut(ChunkSize), FStream(std::make_unique<isal_zstream>()), FLevelBuffer(ISAL_DEF_LVL1_DEFAULT),
      FRender(std::move(render))
{
    FHandle = CreateAnonymousFile();
    isal_deflate_init(FStream.get());
    FStream->level = 1;
    FStream->level_buf = FLevelBuffer.data();
    FStream->level_buf_size = static_cast<uint32_t>(FLevelBuffer.size());
    FPending.reserve(ChunkSize);
    FWorker = std::thread([this] { Work(); });
}

DeflatedPart::~DeflatedPart()
{
    {
        std::lock_guard<std::mutex> guard(FLock);
        FStop = true;
    }
    FChanged.notify_all();
    FWorker.join();
    if (FHandle >= 0) ::close(FHandle);
}

void DeflatedPart::Rethrow()
{
    if (FFailure) std::rethrow_exception(FFailure);
}

void DeflatedPart::Hand(std::string&& buffer, bool last)
{
    std::unique_lock<std::mutex> guard(FLock);
    FChanged.wait(guard, [this] { return FQueue.size() < MaxQueued || FFailure; });
    Rethrow();
    FQueue.emplace_back(std::move(buffer), last);
    guard.unlock();
    FChanged.notify_all();
}

std::string DeflatedPart::TakeSpare()
{
    std::lock_guard<std::mutex> guard(FLock);
    std::string spare;
    if (!FSpare.empty()) {
        spare = std::move(FSpare.back());
        FSpare.pop_back();
    }
    return spare;
}

void DeflatedPart::Append(std::string& text)
{
    if (FFinished) throw EStreamError("A finished part cannot grow");
    if (FPending.empty() && text.size() >= ChunkSize) {
        // Large enough on its own: the buffer goes as it is and the caller gets a spare.
        std::string spare = TakeSpare();
        spare.swap(text);
        Hand(std::move(spare), false);
        return;
    }
    Append(std::string_view(text));
    text.clear();
}

void DeflatedPart::Append(std::string_view text)
{
    if (FFinished) throw EStreamError("A finished part cannot grow");
    FPending.append(text);
    if (FPending.size() >= ChunkSize) {
        std::string next = TakeSpare();
        next.swap(FPending);
        Hand(std::move(next), false);
    }
}

void DeflatedPart::Finish(std::string_view head, std::string_view tail)
{
    if (FFinished) return;
    FFinished = true;
    FOpenEnd = !tail.empty();
    Hand(std::move(FPending), true);
    {
        std::unique_lock<std::mutex> guard(FLock);
        FChanged.wait(guard, [this] { return FDone || FFailure; });
        Rethrow();
    }
    const auto crcOf = [](std::string_view t) {
        return crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(t.data()), t.size());
    };
    if (!head.empty()) {
        FHead = DeflateAlone(head, false);
        FCrc = static_cast<uint32_t>(crc32_combine(crcOf(head), FCrc, static_cast<z_off_t>(FSize)));
        FSize += head.size();
    }
    if (!tail.empty()) {
        FTail = DeflateAlone(tail, true);
        FCrc = static_cast<uint32_t>(crc32_combine(FCrc, crcOf(tail), static_cast<z_off_t>(tail.size())));
        FSize += tail.size();
    }
    FCompressedSize += FHead.size() + FTail.size();
}

void DeflatedPart::Drain()
{
    if (!FFinished && !FPending.empty())
        Hand(std::exchange(FPending, TakeSpare()), false);
    std::unique_lock<std::mutex> guard(FLock);
    FChanged.wait(guard, [this] { return (FQueue.empty() && !FBusy) || FFailure; });
    Rethrow();
}

std::string DeflatedPart::DeflateAlone(std::string_view text, bool final)
{
    isal_zstream z;
    std::vector<uint8_t> level(ISAL_DEF_LVL1_DEFAULT);
    isal_deflate_init(&z);
    z.level = 1;
    z.level_buf = level.data();
    z.level_buf_size = static_cast<uint32_t>(level.size());
    z.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uint32_t>(text.size());
    z.end_of_stream = final ? 1 : 0;
    z.flush = final ? NO_FLUSH : SYNC_FLUSH;
    std::string out;
    std::vector<uint8_t> buffer(text.size() + 1024);
    do {
        z.next_out = buffer.data();
        z.avail_out = static_cast<uint32_t>(buffer.size());
        if (isal_deflate(&z) != COMP_OK) throw EStreamError("Cannot compress a part of the package");
        out.append(reinterpret_cast<const char*>(buffer.data()), buffer.size() - z.avail_out);
    } while (z.avail_in > 0 || z.avail_out == 0 || (final && z.internal_state.state != ZSTATE_END));
    return out;
}

void DeflatedPart::Work()
{
    std::unique_lock<std::mutex> guard(FLock);
    while (true) {
        FChanged.wait(guard, [this] { return FStop || !FQueue.empty(); });
        if (FQueue.empty()) return; // stopped
        auto [buffer, last] = std::move(FQueue.front());
        FQueue.pop_front();
        FBusy = true;
        guard.unlock();
        FChanged.notify_all();
        std::exception_ptr failure;
        try {
            if (FRender) {
                FRendered.clear();
                FRender(buffer, FRendered);
                Compress(FRendered, last);
            } else {
                Compress(buffer, last);
            }
        } catch (...) {
            failure = std::current_exception();
        }
        buffer.clear();
        guard.lock();
        FBusy = false;
        if (FSpare.size() < MaxQueued) FSpare.push_back(std::move(buffer));
        if (failure) {
            FFailure = failure;
            FQueue.clear();
        }
        if (last && !failure) FDone = true;
        FChanged.notify_all();
        if (failure) return;
    }
}

void DeflatedPart::Compress(const std::string& text, bool last)
{
    FCrc = crc32_gzip_refl(FCrc, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    FSize += text.size();
    isal_zstream& z = *FStream;
    z.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uint32_t>(text.size());
    // The last buffer of a body that a tail follows ends on a byte boundary, not final.
    const bool open = last && FOpenEnd;
    z.end_of_stream = last && !open ? 1 : 0;
    z.flush = open ? SYNC_FLUSH : NO_FLUSH;
    do {
        z.next_out = FOut.data();
        z.avail_out = static_cast<uint32_t>(FOut.size());
        if (isal_deflate(&z) != COMP_OK) throw EStreamError("Cannot compress a part of the package");
        const std::size_t produced = FOut.size() - z.avail_out;
        for (std::size_t done = 0; done < produced;) {
            const ssize_t n = ::write(FHandle, FOut.data() + done, produced - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                throw EStreamError(std::string("Cannot write a part of the package to the temporary folder: ")
                                   + std::strerror(errno));
            done += static_cast<std::size_t>(n);
        }
        FCompressedSize += produced;
    } while (z.avail_in > 0 || z.avail_out == 0 || (last && !open && z.internal_state.state != ZSTATE_END));
}

int64_t DeflatedPart::ReadCompressed(uint64_t offset, void* data, uint64_t length) const
{
    if (offset >= FCompressedSize) return 0;
    length = std::min<uint64_t>(length, FCompressedSize - offset);
    // The compressed head, the body in the file, the compressed tail.
    const uint64_t body = FCompressedSize - FHead.size() - FTail.size();
    const auto fromMemory = [&](const std::string& bytes, uint64_t at) {
        const uint64_t n = std::min<uint64_t>(length, bytes.size() - at);
        std::memcpy(data, bytes.data() + at, n);
        return static_cast<int64_t>(n);
    };
    if (offset < FHead.size()) return fromMemory(FHead, offset);
    offset -= FHead.size();
    if (offset >= body) return fromMemory(FTail, offset - body);
    length = std::min<uint64_t>(length, body - offset);
    while (true) {
        const ssize_t n = ::pread(FHandle, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

// ---- ZipPackage

namespace {

int Opened(int handle, const std::string& fileName)
{
    if (handle < 0) throw EFCreateError::CannotCreate(fileName, std::strerror(errno));
    return handle;
}

} // namespace

ZipPackage::ZipPackage(const std::string& fileName)
    : ZipPackage(Opened(::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666), fileName),
                 fileName, Owned{})
{
}

ZipPackage::ZipPackage(int handle, const std::string& name)
    : ZipPackage(Opened(::fcntl(handle, F_DUPFD_CLOEXEC, 0), name), name, Owned{})
{
}

ZipPackage::ZipPackage(int ownedHandle, const std::string& fileName, Owned)
    : FName(fileName), FFile(std::make_unique<PackageFile>())
{
    zip_error_init(&FFile->Error);
    FFile->Handle = ownedHandle;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_function_create(ServePackageFile, FFile.get(), &error);
    if (source) {
        FZip = zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error);
        if (!FZip) zip_source_free(source);
    }
    if (!FZip) {
        const std::string why = zip_error_strerror(&error);
        zip_error_fini(&error);
        ::close(FFile->Handle);
        zip_error_fini(&FFile->Error);
        throw EFCreateError::CannotCreate(fileName, why);
    }
    zip_error_fini(&error);
}

ZipPackage::~ZipPackage()
{
    if (FZip) zip_discard(FZip);
    ::close(FFile->Handle);
    zip_error_fini(&FFile->Error);
}

zip_source_t* ZipPackage::Check(const std::string& name, zip_source_t* source)
{
    if (!source) throw EStreamError("Cannot add '" + name + "' to '" + FName + "': " + zip_strerror(FZip));
    return source;
}

int64_t ZipPackage::Add(const std::string& name, zip_source_t* source)
{
    zip_int64_t index = zip_file_add(FZip, name.c_str(), Check(name, source), ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    if (index < 0) {
        zip_source_free(source);
        throw EStreamError("Cannot add '" + name + "' to '" + FName + "': " + zip_strerror(FZip));
    }
    return index;
}

void ZipPackage::AddText(const std::string& name, std::string text)
{
    FTexts.push_back(std::move(text));
    const std::string& t = FTexts.back();
    const int64_t index = Add(name, zip_source_buffer(FZip, t.data(), t.size(), 0));
    zip_set_file_compression(FZip, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, CompressionLevel);
}

void ZipPackage::AddFile(const std::string& name, const std::string& file, int64_t offset, int64_t size,
                         bool compress)
{
    const int64_t index = Add(name, zip_source_file(FZip, file.c_str(), static_cast<zip_uint64_t>(offset), size));
    zip_set_file_compression(FZip, static_cast<zip_uint64_t>(index), compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                             compress ? CompressionLevel : 0);
}

void ZipPackage::AddDeflated(const std::string& name, std::unique_ptr<DeflatedPart> part)
{
    part->Finish();
    auto* state = new DeflatedSource{part.get(), 0, {}};
    zip_error_init(&state->Error);
    zip_source_t* source = zip_source_function(FZip, ServeDeflated, state);
    if (!source) {
        zip_error_fini(&state->Error);
        delete state;
    }
    FParts.push_back(std::move(part));
    const int64_t index = Add(name, source);
    // The entry is deflated; as the source's bytes are deflated already they are stored
    // as they are.
    zip_set_file_compression(FZip, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, CompressionLevel);
}

void ZipPackage::CopyFrom(zip_t* source, uint64_t index, const std::string& name)
{
    Add(name, zip_source_zip(FZip, source, index, 0, 0, -1));
}

void ZipPackage::Close()
{
    if (zip_close(FZip) != 0) {
        std::string msg = zip_strerror(FZip);
        throw EStreamError("Cannot write '" + FName + "': " + msg);
    }
    FZip = nullptr;
}
