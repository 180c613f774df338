#include "platform/automation/word/word_pictures.h"

#include "framework/bitmap_reader.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/picture.h"
#include "framework/png_writer.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

// Pictures in flight at once: enough to keep every core busy while the caller decodes the
// next one, and never more decoded pixels than MaxPendingBytes (but always one picture).
std::size_t MaxPendingJobs()
{
    return std::max(2u, std::thread::hardware_concurrency());
}
constexpr std::size_t MaxPendingBytes = std::size_t(48) << 20;

} // namespace

WordPictureStore::WordPictureStore() = default;

WordPictureStore::~WordPictureStore()
{
    for (Pending& p : FPending)
        if (p.Png.valid()) p.Png.wait();
    if (FSpool >= 0) ::close(FSpool);
}

int WordPictureStore::Add(const std::string& fileName)
{
    // One read: the bytes are hashed and decoded from memory. Only this one picture is held.
    std::string bytes;
    try {
        bytes = ReadRegularFile(fileName, MaxFileSize);
    } catch (const EStreamError& e) {
        throw Exception("The picture file '" + fileName + "' cannot be read: " + e.Message());
    }
    const QByteArray raw = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    std::string key = QCryptographicHash::hash(raw, QCryptographicHash::Blake2b_256).toStdString();
    if (auto it = FByHash.find(key); it != FByHash.end()) return it->second;

    WordPicture picture;
    std::function<std::string()> encode;
    std::size_t held = 0;
    if (TPicture::DetectKind(bytes) == gkBitmap) {
        // Bitmaps go through the strict reader: a damaged file fails here, whole.
        auto pixels = std::make_shared<TBitmapPixels>(ReadBitmap(bytes, fileName));
        picture.PixelWidth = pixels->Width;
        picture.PixelHeight = pixels->Height;
        held = pixels->Data.size();
        encode = [pixels] {
            return EncodePng(pixels->Data.data(), pixels->Width, pixels->Height, pixels->Stride(),
                             pixels->Channels == 4 ? pctRGBA : pctRGB);
        };
    } else {
        // Any other format through the Gui library's reader.
        TForeignPicture decoded = DecodeForeignPicture(bytes, fileName, MaxPixels);
        picture.PixelWidth = decoded.Width;
        picture.PixelHeight = decoded.Height;
        if (decoded.IsPng) {
            // Already PNG: keep the file's own bytes.
            auto png = std::make_shared<std::string>(std::move(bytes));
            held = png->size();
            encode = [png] { return std::move(*png); };
        } else {
            auto rows = std::make_shared<TBitmapPixels>(std::move(decoded.Pixels));
            held = rows->Data.size();
            encode = [rows] {
                return EncodePng(rows->Data.data(), rows->Width, rows->Height, rows->Stride(),
                                 rows->Channels == 4 ? pctRGBA : pctRGB);
            };
        }
    }
    bytes.clear();
    bytes.shrink_to_fit();

    // Make room first: a failure of an earlier picture surfaces here, before this one counts.
    while (!FPending.empty() && (FPending.size() >= MaxPendingJobs() || FPendingBytes + held > MaxPendingBytes))
        SpoolFront();

    FPictures.push_back(picture);
    const int index = static_cast<int>(FPictures.size()) - 1;
    Pending job;
    job.Index = index;
    job.Bytes = held;
    try {
        job.Png = std::async(std::launch::async, encode);
    } catch (const std::system_error&) {
        // No thread to be had: encode here.
        std::promise<std::string> done;
        done.set_value(encode());
        job.Png = done.get_future();
    }
    FPending.push_back(std::move(job));
    FPendingBytes += held;
    FByHash.emplace(std::move(key), index);
    return index;
}

void WordPictureStore::SpoolFront()
{
    Pending job = std::move(FPending.front());
    FPending.pop_front();
    FPendingBytes -= job.Bytes;
    Spool(job.Index, job.Png.get());
}

void WordPictureStore::Finish()
{
    while (!FPending.empty())
        SpoolFront();
}

void WordPictureStore::Spool(int index, const std::string& png)
{
    if (FSpool < 0) {
        try {
            FSpool = CreateAnonymousFile();
        } catch (const Exception& e) {
            throw Exception("Cannot create a temporary file for pictures: " + e.Message());
        }
    }
    WordPicture& picture = FPictures.at(static_cast<std::size_t>(index));
    picture.Offset = FSpoolSize;
    picture.Size = static_cast<int64_t>(png.size());
    int64_t done = 0;
    while (done < picture.Size) {
        ssize_t n = ::pwrite(FSpool, png.data() + done, static_cast<std::size_t>(picture.Size - done),
                             picture.Offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            throw Exception(std::string("Cannot write the temporary picture file: ") +
                            std::strerror(n < 0 ? errno : ENOSPC));
        done += n;
    }
    FSpoolSize += picture.Size;
}

std::string WordPictureStore::SpoolFileName()
{
    Finish();
    if (FSpool < 0) return {};
    return HandleFileName(FSpool);
}

void WordPictureStore::ReadRange(int64_t offset, char* buffer, int64_t size)
{
    int64_t done = 0;
    while (done < size) {
        ssize_t n = FSpool < 0 ? -1 : ::pread(FSpool, buffer + done, static_cast<std::size_t>(size - done), offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw Exception("Cannot read the temporary picture file");
        done += n;
    }
}
