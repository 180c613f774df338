#include "png_writer.h"

#include "exceptions.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The compression level and the work area it needs, kept per thread: the encoder is called
// from several threads at once.
constexpr int DeflateLevel = 2;
constexpr std::size_t LevelBufferSize = ISAL_DEF_LVL2_DEFAULT;

void PutU32(std::string& Out, std::uint32_t V)
{
    const char B[4] = {static_cast<char>(V >> 24), static_cast<char>(V >> 16), static_cast<char>(V >> 8),
                       static_cast<char>(V)};
    Out.append(B, 4);
}

// Appends a chunk: length, type, data, CRC of type and data.
void PutChunk(std::string& Out, const char* Type, const std::uint8_t* Data, std::size_t Size)
{
    PutU32(Out, static_cast<std::uint32_t>(Size));
    const std::size_t TypeAt = Out.size();
    Out.append(Type, 4);
    if (Size > 0)
        Out.append(reinterpret_cast<const char*>(Data), Size);
    const std::uint32_t Crc =
        crc32_gzip_refl(0, reinterpret_cast<const std::uint8_t*>(Out.data()) + TypeAt, Size + 4);
    PutU32(Out, Crc);
}

} // namespace

int PngChannels(TPngColorType Color)
{
    switch (Color) {
    case pctGray: return 1;
    case pctRGB: return 3;
    case pctRGBA: return 4;
    }
    throw Exception("Unknown PNG colour type " + std::to_string(static_cast<int>(Color)));
}

std::string EncodePng(const std::uint8_t* Pixels, int Width, int Height, std::size_t Stride, TPngColorType Color,
                      const TPngOptions& Options)
{
    const int Channels = PngChannels(Color);
    if (Width <= 0 || Height <= 0 || Width > 0x7FFFFFFF / Channels)
        throw Exception("A picture of " + std::to_string(Width) + " x " + std::to_string(Height) +
                        " pixels cannot be written as PNG");
    const std::size_t RowBytes = static_cast<std::size_t>(Width) * static_cast<std::size_t>(Channels);
    const std::size_t Line = RowBytes + 1;
    const std::size_t Total = Line * static_cast<std::size_t>(Height);
    // The compressor takes 32-bit counts; 1 GiB of rows is far beyond any picture accepted.
    if (Total > (std::size_t(1) << 30))
        throw Exception("A picture of " + std::to_string(Width) + " x " + std::to_string(Height) +
                        " pixels is too large to be written as PNG");
    if (Stride < RowBytes)
        throw Exception("PNG rows overlap: stride " + std::to_string(Stride) + " for rows of " +
                        std::to_string(RowBytes) + " bytes");

    // The filtered scanlines, each after its filter-type byte; every byte is written below.
    std::unique_ptr<std::uint8_t[]> Filtered(new std::uint8_t[Total]);
    for (int Y = 0; Y < Height; ++Y) {
        const std::uint8_t* Row = Pixels + static_cast<std::size_t>(Y) * Stride;
        std::uint8_t* Out = Filtered.get() + static_cast<std::size_t>(Y) * Line;
        TPngFilter Filter = Options.Filter;
        if (Filter == pfUp && Y == 0)
            Filter = pfNone; // the row above the first is zero: Up would change nothing
        Out[0] = static_cast<std::uint8_t>(Filter);
        ++Out;
        switch (Filter) {
        case pfNone:
            std::memcpy(Out, Row, RowBytes);
            break;
        case pfSub:
            std::memcpy(Out, Row, static_cast<std::size_t>(Channels));
            for (std::size_t I = static_cast<std::size_t>(Channels); I < RowBytes; ++I)
                Out[I] = static_cast<std::uint8_t>(Row[I] - Row[I - static_cast<std::size_t>(Channels)]);
            break;
        case pfUp: {
            const std::uint8_t* Above = Row - Stride;
            for (std::size_t I = 0; I < RowBytes; ++I)
                Out[I] = static_cast<std::uint8_t>(Row[I] - Above[I]);
            break;
        }
        default:
            throw Exception("Unknown PNG filter " + std::to_string(static_cast<int>(Filter)));
        }
    }

    // The PNG is built in one buffer: signature, header chunk, then the compressor writes
    // the IDAT data straight into place. Deflate output of incompressible rows is at most a
    // few bytes a block larger than its input; the margin covers that with room to spare.
    const std::size_t Bound = Total + Total / 8 + 65536;
    std::string Png;
    Png.reserve(8 + 25 + 8 + Bound + 4 + 12);
    Png.append("\x89PNG\r\n\x1a\n", 8);
    std::uint8_t Header[13];
    const auto Be32 = [](std::uint8_t* P, std::uint32_t V) {
        P[0] = static_cast<std::uint8_t>(V >> 24);
        P[1] = static_cast<std::uint8_t>(V >> 16);
        P[2] = static_cast<std::uint8_t>(V >> 8);
        P[3] = static_cast<std::uint8_t>(V);
    };
    Be32(Header, static_cast<std::uint32_t>(Width));
    Be32(Header + 4, static_cast<std::uint32_t>(Height));
    Header[8] = 8;                                  // bits a sample
    Header[9] = static_cast<std::uint8_t>(Color);   // colour type
    Header[10] = 0;                                 // deflate
    Header[11] = 0;                                 // adaptive filtering
    Header[12] = 0;                                 // not interlaced
    PutChunk(Png, "IHDR", Header, sizeof Header);

    const std::size_t LengthAt = Png.size();
    Png.append("\0\0\0\0IDAT", 8);
    const std::size_t DataAt = Png.size();
    Png.resize(DataAt + Bound);

    thread_local std::vector<std::uint8_t> LevelBuffer(LevelBufferSize);
    // What an earlier picture left in the work area steers the matches the compressor
    // finds; cleared, the same picture gives the same bytes on whichever thread it is made.
    std::fill(LevelBuffer.begin(), LevelBuffer.end(), std::uint8_t{0});
    isal_zstream Stream{};
    isal_deflate_stateless_init(&Stream);
    Stream.level = DeflateLevel;
    Stream.level_buf = LevelBuffer.data();
    Stream.level_buf_size = static_cast<std::uint32_t>(LevelBuffer.size());
    Stream.gzip_flag = IGZIP_ZLIB;
    Stream.end_of_stream = 1;
    Stream.flush = NO_FLUSH;
    Stream.next_in = Filtered.get();
    Stream.avail_in = static_cast<std::uint32_t>(Total);
    Stream.next_out = reinterpret_cast<std::uint8_t*>(Png.data()) + DataAt;
    Stream.avail_out = static_cast<std::uint32_t>(Bound);
    const int Result = isal_deflate_stateless(&Stream);
    if (Result != COMP_OK || Stream.avail_in != 0)
        throw Exception("The picture cannot be compressed as PNG (error " + std::to_string(Result) + ")");
    Filtered.reset();
    const std::size_t Packed = Stream.total_out;
    Png.resize(DataAt + Packed);
    Be32(reinterpret_cast<std::uint8_t*>(Png.data()) + LengthAt, static_cast<std::uint32_t>(Packed));
    PutU32(Png, crc32_gzip_refl(0, reinterpret_cast<const std::uint8_t*>(Png.data()) + LengthAt + 4, Packed + 4));
    PutChunk(Png, "IEND", nullptr, 0);
    return Png;
}
