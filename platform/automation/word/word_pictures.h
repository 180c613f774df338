#pragma once
// The pictures of one document: each distinct picture file is decoded once, encoded as PNG
// and spooled to a temporary file. Only the sizes and the place of each PNG in the spool
// stay in memory, so memory does not grow with the size or the number of pictures.

#include <QTemporaryFile>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct WordPicture {
    int PixelWidth = 0;
    int PixelHeight = 0;
    int64_t Offset = 0; // of the PNG bytes in the spool file
    int64_t Size = 0;
};

class WordPictureStore {
public:
    WordPictureStore();
    ~WordPictureStore();

    // Adds the picture file `fileName` (any format QImage reads) and returns its index.
    // A file whose bytes equal an earlier one's returns the earlier index.
    // Raises Exception when the file cannot be read or is not a picture.
    int Add(const std::string& fileName);

    int Count() const { return static_cast<int>(FPictures.size()); }
    const WordPicture& Picture(int index) const { return FPictures.at(static_cast<std::size_t>(index)); }
    // The spool file that holds the PNG bytes (flushed).
    std::string SpoolFileName();
    // Reads `picture`'s PNG bytes in chunks of at most `chunk` bytes and hands each to `sink`.
    template <class Sink>
    void ReadPng(const WordPicture& picture, Sink&& sink, std::size_t chunk = 1 << 16);

    // The largest picture accepted, in pixels (width x height).
    static constexpr int64_t MaxPixels = 100'000'000;

private:
    void ReadRange(int64_t offset, char* buffer, int64_t size);
    std::unique_ptr<QTemporaryFile> FSpool;
    std::vector<WordPicture> FPictures;
    std::map<std::string, int> FByHash;
};

template <class Sink>
void WordPictureStore::ReadPng(const WordPicture& picture, Sink&& sink, std::size_t chunk)
{
    std::string buffer(chunk, '\0');
    int64_t done = 0;
    while (done < picture.Size) {
        int64_t n = std::min<int64_t>(static_cast<int64_t>(chunk), picture.Size - done);
        ReadRange(picture.Offset + done, buffer.data(), n);
        sink(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        done += n;
    }
}
