#include "platform/automation/word/word_table_rows.h"

#include "framework/exceptions.h"
#include "framework/files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Bytes of spilled rows gathered before they are written, and read at once when rows are
// read back in order.
constexpr std::size_t WriteChunk = std::size_t(1) << 20;
constexpr std::size_t ReadChunk = std::size_t(1) << 20;

template <class T>
void Put(std::string& out, T value)
{
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

class Reader {
public:
    Reader(const char* data, std::size_t size) : FData(data), FEnd(data + size) {}
    template <class T>
    T Get()
    {
        T value;
        Need(sizeof value);
        std::memcpy(&value, FData, sizeof value);
        FData += sizeof value;
        return value;
    }
    std::string Bytes(std::size_t n)
    {
        Need(n);
        std::string s(FData, n);
        FData += n;
        return s;
    }

private:
    void Need(std::size_t n) const
    {
        if (static_cast<std::size_t>(FEnd - FData) < n) throw Exception("The table's row spool is damaged");
    }
    const char* FData;
    const char* FEnd;
};

bool IsEmpty(const WordParagraph& p)
{
    return p.Text.empty() && p.PictureCount() == 0 && p.Format == 0 && p.Alignment == 0;
}

// Reads exactly `size` bytes at `offset`.
void ReadAt(int fd, char* buffer, std::size_t size, int64_t offset)
{
    while (size > 0) {
        ssize_t n = pread(fd, buffer, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw EStreamError("Cannot read the table's row spool: " + std::string(n < 0 ? std::strerror(errno) : "it ends early"));
        buffer += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
}

} // namespace

WordTableRows::WordTableRows(int columns) : FColumns(columns) {}

WordTableRows::~WordTableRows()
{
    if (FSpool >= 0) close(FSpool);
}

void WordTableRows::Add(int rows)
{
    for (int i = 0; i < rows; ++i) {
        const int row = Count();
        FSpilled.push_back(-1);
        FResident.emplace(row, Row(static_cast<std::size_t>(FColumns)));
        Evict(row);
    }
}

WordParagraph& WordTableRows::Cell(int row, int col)
{
    if (row < 0 || row >= Count() || col < 0 || col >= FColumns)
        throw Exception("The requested member of the collection does not exist");
    return Fetch(row)[static_cast<std::size_t>(col)];
}

WordTableRows::Row& WordTableRows::Fetch(int row)
{
    auto it = FResident.find(row);
    if (it != FResident.end()) return it->second;
    Row cells;
    ReadBack(row, cells);
    // The resident copy is the row now; the old spool copy is left unused.
    FSpilled[static_cast<std::size_t>(row)] = -1;
    Row& placed = FResident.emplace(row, std::move(cells)).first->second;
    Evict(row);
    return placed;
}

void WordTableRows::Evict(int keep)
{
    if (FColumns <= 0) return;
    const std::size_t limit = std::max<std::size_t>(ResidentCells / static_cast<std::size_t>(FColumns), 2);
    auto it = FResident.begin();
    while (FResident.size() > limit && it != FResident.end()) {
        if (it->first == keep) {
            ++it;
            continue;
        }
        Spill(it->first, it->second);
        it = FResident.erase(it);
    }
}

void WordTableRows::Spill(int row, const Row& cells)
{
    bool empty = true;
    for (const WordParagraph& p : cells) empty = empty && IsEmpty(p);
    if (empty) {
        FSpilled[static_cast<std::size_t>(row)] = -1;
        return;
    }
    const std::size_t start = FWriteBuffer.size();
    Put<uint32_t>(FWriteBuffer, 0); // the record's length, filled in below
    for (const WordParagraph& p : cells) {
        Put<uint32_t>(FWriteBuffer, static_cast<uint32_t>(p.Text.size()));
        FWriteBuffer += p.Text;
        Put<uint32_t>(FWriteBuffer, p.Format);
        Put<uint8_t>(FWriteBuffer, p.Alignment);
        Put<uint32_t>(FWriteBuffer, static_cast<uint32_t>(p.PictureCount()));
        if (p.Pictures)
            for (const WordInlinePicture& pic : *p.Pictures) {
                Put<int32_t>(FWriteBuffer, pic.Picture);
                Put<uint64_t>(FWriteBuffer, pic.TextOffset);
                Put<double>(FWriteBuffer, pic.WidthPt);
                Put<double>(FWriteBuffer, pic.HeightPt);
            }
    }
    const uint32_t length = static_cast<uint32_t>(FWriteBuffer.size() - start - sizeof(uint32_t));
    std::memcpy(&FWriteBuffer[start], &length, sizeof length);
    FSpilled[static_cast<std::size_t>(row)] = FSpoolEnd;
    FSpoolEnd += static_cast<int64_t>(FWriteBuffer.size() - start);
    if (FWriteBuffer.size() >= WriteChunk) FlushWrites();
}

void WordTableRows::FlushWrites()
{
    if (FWriteBuffer.empty()) return;
    if (FSpool < 0) FSpool = CreateAnonymousFile();
    const char* data = FWriteBuffer.data();
    std::size_t left = FWriteBuffer.size();
    while (left > 0) {
        ssize_t n = pwrite(FSpool, data, left, FWrittenEnd);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw EStreamError("Cannot write the table's row spool: " + std::string(std::strerror(errno)));
        data += n;
        left -= static_cast<std::size_t>(n);
        FWrittenEnd += n;
    }
    FWriteBuffer.clear();
}

void WordTableRows::ReadBack(int row, Row& cells) const
{
    cells.clear();
    cells.resize(static_cast<std::size_t>(FColumns));
    const int64_t at = FSpilled[static_cast<std::size_t>(row)];
    if (at < 0) return; // an empty row
    // Rows still in the write buffer are read from there; others through a read-ahead
    // window, so that reading every row in order costs one read a megabyte.
    const char* record = nullptr;
    uint32_t length = 0;
    if (at >= FWrittenEnd) {
        const std::size_t off = static_cast<std::size_t>(at - FWrittenEnd);
        std::memcpy(&length, FWriteBuffer.data() + off, sizeof length);
        record = FWriteBuffer.data() + off + sizeof length;
    } else {
        if (at < FReadStart || at + 4 > FReadStart + static_cast<int64_t>(FReadBuffer.size())) {
            FReadBuffer.resize(static_cast<std::size_t>(std::min<int64_t>(ReadChunk, FWrittenEnd - at)));
            ReadAt(FSpool, FReadBuffer.data(), FReadBuffer.size(), at);
            FReadStart = at;
        }
        std::memcpy(&length, FReadBuffer.data() + (at - FReadStart), sizeof length);
        if (at + 4 + length > FReadStart + static_cast<int64_t>(FReadBuffer.size())) {
            FReadBuffer.resize(std::max<std::size_t>(ReadChunk, length + 4));
            FReadBuffer.resize(static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(FReadBuffer.size()), FWrittenEnd - at)));
            ReadAt(FSpool, FReadBuffer.data(), FReadBuffer.size(), at);
            FReadStart = at;
        }
        record = FReadBuffer.data() + (at - FReadStart) + sizeof length;
        if (at + 4 + length > FReadStart + static_cast<int64_t>(FReadBuffer.size()))
            throw Exception("The table's row spool is damaged");
    }
    Reader in(record, length);
    for (WordParagraph& p : cells) {
        p.Text = in.Bytes(in.Get<uint32_t>());
        p.Format = in.Get<uint32_t>();
        p.Alignment = in.Get<uint8_t>();
        const uint32_t pictures = in.Get<uint32_t>();
        if (pictures > 0) {
            p.Pictures = std::make_unique<std::vector<WordInlinePicture>>(pictures);
            for (WordInlinePicture& pic : *p.Pictures) {
                pic.Picture = in.Get<int32_t>();
                pic.TextOffset = static_cast<std::size_t>(in.Get<uint64_t>());
                pic.WidthPt = in.Get<double>();
                pic.HeightPt = in.Get<double>();
            }
        }
    }
}
