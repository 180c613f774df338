#pragma once
// The pictures of one document: each distinct picture file is decoded once, encoded as PNG
// and spooled to a temporary file. Only the sizes and the place of each PNG in the spool
// stay in memory, so memory does not grow with the size or the number of pictures. The
// spool has no name in any folder, so nothing of it outlives the process, even a killed one.
//
// Encoding runs on worker threads while the caller goes on: Add reads, hashes and decodes
// the file at once (so a damaged picture fails the call that adds it, and the file may be
// deleted as soon as Add returns), then hands the pixels to a worker. A bounded number of
// pictures is in flight; their PNGs reach the spool in the order they were added.

#include <cstdint>
#include <deque>
#include <future>
#include <map>
#include <string>
#include <vector>

struct WordPicture {
    int PixelWidth = 0;
    int PixelHeight = 0;
    int64_t Offset = 0; // of the PNG bytes in the spool file, once spooled
    int64_t Size = 0;
};

class WordPictureStore {
public:
    WordPictureStore();
    ~WordPictureStore();
    WordPictureStore(const WordPictureStore&) = delete;
    WordPictureStore& operator=(const WordPictureStore&) = delete;

    // Adds the picture file `fileName` and returns its index: a Windows bitmap (read by
    // the strict bitmap reader), a PNG (kept as it is) or any other format QImage reads.
    // A file whose bytes equal an earlier one's returns the earlier index.
    // Raises Exception when the file cannot be read or is not a picture (the message
    // names the file), and for a failed encoding of an earlier picture.
    int Add(const std::string& fileName);

    int Count() const { return static_cast<int>(FPictures.size()); }
    // The size is known when Add returns; Offset and Size once Finish has run.
    const WordPicture& Picture(int index) const { return FPictures.at(static_cast<std::size_t>(index)); }
    // Waits for every picture in flight and writes it to the spool. Raises the first
    // encoding failure.
    void Finish();
    // A name under which the spool that holds the PNG bytes can be opened while this
    // store exists (finished first).
    std::string SpoolFileName();
    // Reads `picture`'s PNG bytes in chunks of at most `chunk` bytes and hands each to `sink`.
    template <class Sink>
    void ReadPng(const WordPicture& picture, Sink&& sink, std::size_t chunk = 1 << 16);

    // The largest picture accepted, in pixels (width x height).
    static constexpr int64_t MaxPixels = 100'000'000;
    // The largest picture file accepted, in bytes.
    static constexpr int64_t MaxFileSize = int64_t(1) << 30;

private:
    struct Pending {
        int Index = 0;
        std::size_t Bytes = 0; // decoded pixels held by the job
        std::future<std::string> Png;
    };
    void SpoolFront();
    void Spool(int index, const std::string& png);
    void ReadRange(int64_t offset, char* buffer, int64_t size);
    int FSpool = -1;
    int64_t FSpoolSize = 0;
    std::vector<WordPicture> FPictures;
    std::map<std::string, int> FByHash;
    std::deque<Pending> FPending;
    std::size_t FPendingBytes = 0;
};

template <class Sink>
void WordPictureStore::ReadPng(const WordPicture& picture, Sink&& sink, std::size_t chunk)
{
    Finish();
    std::string buffer(chunk, '\0');
    int64_t done = 0;
    while (done < picture.Size) {
        int64_t n = std::min<int64_t>(static_cast<int64_t>(chunk), picture.Size - done);
        ReadRange(picture.Offset + done, buffer.data(), n);
        sink(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        done += n;
    }
}
