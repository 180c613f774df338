#include "bitmap_reader.h"

#include "exceptions.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::size_t FileHeaderSize = 14;

enum class TCoding { Rgb, Rle8, Rle4, Fields };

struct TChannel {
    std::uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;
};

struct THeader {
    std::int64_t Width = 0;
    std::int64_t Height = 0;
    bool TopDown = false;
    int Bpp = 0;
    TCoding Coding = TCoding::Rgb;
    TChannel Channels[4]; // red, green, blue, alpha (Mask 0: none)
    std::vector<std::uint8_t> Palette; // red, green, blue per entry
    std::size_t PixelOffset = 0;

    int PaletteCount() const { return static_cast<int>(Palette.size() / 3); }
    bool HasAlpha() const { return Channels[3].Mask != 0; }
};

class TReader {
public:
    TReader(std::string_view Bytes, const std::string& Name) : B(Bytes), FName(Name) {}

    [[noreturn]] void Fail(const std::string& Cause) const
    {
        throw EInvalidGraphic("Bitmap image is not valid: " + (FName.empty() ? std::string() : FName + ": ") + Cause);
    }

    std::uint16_t U16(std::size_t At) const
    {
        return static_cast<std::uint16_t>(static_cast<unsigned char>(B[At]) |
                                          (static_cast<unsigned char>(B[At + 1]) << 8));
    }
    std::uint32_t U32(std::size_t At) const
    {
        return static_cast<std::uint32_t>(U16(At)) | (static_cast<std::uint32_t>(U16(At + 2)) << 16);
    }
    std::int32_t I32(std::size_t At) const { return static_cast<std::int32_t>(U32(At)); }

    THeader ParseHeader() const;
    // Decodes into Out (Store) or only walks the data (a check), which allocates
    // nothing for the pixels.
    void Decode(const THeader& H, TBitmapPixels& Out, bool Store) const;

private:
    std::string_view B;
    const std::string& FName;

    void ParseMasks(THeader& H, std::size_t At, int Count) const;
    void DecodeUncompressed(const THeader& H, TBitmapPixels& Out, bool Store) const;
    void DecodeRle(const THeader& H, TBitmapPixels& Out, bool Store) const;
    [[noreturn]] void BadIndex(int Index, std::int64_t X, std::int64_t Y, const THeader& H) const
    {
        Fail("the palette index " + std::to_string(Index) + " at pixel (" + std::to_string(X) + ", " +
             std::to_string(Y) + ") is beyond the palette of " + std::to_string(H.PaletteCount()) + " colours");
    }
};

std::string MaskName(int I)
{
    static const char* const Names[] = {"red", "green", "blue", "alpha"};
    return Names[I];
}

void TReader::ParseMasks(THeader& H, std::size_t At, int Count) const
{
    if (At + 4 * static_cast<std::size_t>(Count) > B.size())
        Fail("the file ends inside its colour masks");
    for (int I = 0; I < Count; ++I)
        H.Channels[I].Mask = U32(At + 4 * static_cast<std::size_t>(I));
}

THeader TReader::ParseHeader() const
{
    if (B.size() < 2 || B[0] != 'B' || B[1] != 'M')
        Fail("the data is not a Windows bitmap");
    if (B.size() < FileHeaderSize + 4)
        Fail("the file is too short (" + std::to_string(B.size()) + " bytes)");
    const std::uint32_t HeaderSize = U32(FileHeaderSize);
    enum { Core, Os2, Windows } Kind;
    if (HeaderSize == 12)
        Kind = Core;
    else if (HeaderSize == 40 || HeaderSize == 52 || HeaderSize == 56 || HeaderSize == 108 || HeaderSize == 124)
        Kind = Windows;
    else if (HeaderSize >= 16 && HeaderSize <= 64 && HeaderSize % 4 == 0)
        Kind = Os2;
    else
        Fail("unknown header size " + std::to_string(HeaderSize));
    if (B.size() < FileHeaderSize + HeaderSize)
        Fail("the file ends inside its header");

    THeader H;
    std::uint32_t Planes = 0, Compression = 0, ColoursUsed = 0;
    std::size_t EntrySize = 4;
    if (Kind == Core) {
        H.Width = U16(18);
        H.Height = U16(20);
        Planes = U16(22);
        H.Bpp = U16(24);
        EntrySize = 3;
    } else {
        H.Width = I32(18);
        H.Height = I32(22);
        Planes = U16(26);
        H.Bpp = U16(28);
        if (HeaderSize >= 20)
            Compression = U32(30);
        if (HeaderSize >= 36)
            ColoursUsed = U32(46);
    }
    if (Planes != 1)
        Fail("the number of planes is " + std::to_string(Planes) + ", not 1");
    if (H.Width <= 0)
        Fail("the width is " + std::to_string(H.Width));
    if (H.Height == 0)
        Fail("the height is 0");
    if (H.Height < 0) {
        H.TopDown = true;
        H.Height = -H.Height;
    }
    if (H.Width * H.Height > BitmapMaxPixels)
        Fail("the picture is " + std::to_string(H.Width) + " x " + std::to_string(H.Height) +
             " pixels, more than the " + std::to_string(BitmapMaxPixels) + " pixels accepted");

    bool AlphaMaskFollows = false;
    switch (Compression) {
    case 0: H.Coding = TCoding::Rgb; break;
    case 1: H.Coding = TCoding::Rle8; break;
    case 2: H.Coding = TCoding::Rle4; break;
    case 3:
        if (Kind == Os2)
            Fail("Huffman-compressed pixel data is not supported");
        H.Coding = TCoding::Fields;
        break;
    case 4:
        Fail(Kind == Os2 ? "RLE24-compressed pixel data is not supported" : "embedded JPEG pixel data is not supported");
    case 5:
        if (Kind == Windows)
            Fail("embedded PNG pixel data is not supported");
        Fail("unknown compression 5");
    case 6:
        if (Kind != Windows)
            Fail("unknown compression 6");
        H.Coding = TCoding::Fields;
        AlphaMaskFollows = true;
        break;
    default:
        Fail("unknown compression " + std::to_string(Compression));
    }

    switch (H.Bpp) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32:
        break;
    default:
        Fail(std::to_string(H.Bpp) + " bits per pixel are not supported");
    }
    if (H.Coding == TCoding::Rle8 && H.Bpp != 8)
        Fail("RLE8 data needs 8 bits per pixel, not " + std::to_string(H.Bpp));
    if (H.Coding == TCoding::Rle4 && H.Bpp != 4)
        Fail("RLE4 data needs 4 bits per pixel, not " + std::to_string(H.Bpp));
    if ((H.Coding == TCoding::Rle8 || H.Coding == TCoding::Rle4) && H.TopDown)
        Fail("RLE data cannot be stored top-down");
    if (H.Coding == TCoding::Fields && H.Bpp != 16 && H.Bpp != 32)
        Fail("colour masks need 16 or 32 bits per pixel, not " + std::to_string(H.Bpp));

    // Colour masks: inside a V2 or later header, else right after a 40-byte header.
    std::size_t PaletteStart = FileHeaderSize + HeaderSize;
    if (H.Coding == TCoding::Fields) {
        if (HeaderSize == 40) {
            ParseMasks(H, PaletteStart, AlphaMaskFollows ? 4 : 3);
            PaletteStart += AlphaMaskFollows ? 16 : 12;
        } else {
            ParseMasks(H, 54, HeaderSize >= 56 ? 4 : 3);
        }
        std::uint32_t Used = 0;
        for (int I = 0; I < 4; ++I) {
            TChannel& C = H.Channels[I];
            if (C.Mask == 0) {
                if (I < 3)
                    Fail("the " + MaskName(I) + " mask is empty");
                continue;
            }
            C.Shift = std::countr_zero(C.Mask);
            C.Bits = std::popcount(C.Mask);
            if ((C.Mask >> C.Shift) != (C.Bits == 32 ? 0xFFFFFFFFu : (1u << C.Bits) - 1))
                Fail("the " + MaskName(I) + " mask is not one run of bits");
            if (H.Bpp == 16 && (C.Mask >> 16) != 0)
                Fail("the " + MaskName(I) + " mask lies outside the 16 bits of a pixel");
            if ((Used & C.Mask) != 0)
                Fail("the colour masks overlap");
            Used |= C.Mask;
        }
    } else if (H.Bpp == 16) {
        H.Channels[0] = {0x7C00, 10, 5};
        H.Channels[1] = {0x03E0, 5, 5};
        H.Channels[2] = {0x001F, 0, 5};
    } else if (H.Bpp == 32) {
        H.Channels[0] = {0xFF0000, 16, 8};
        H.Channels[1] = {0x00FF00, 8, 8};
        H.Channels[2] = {0x0000FF, 0, 8};
    }

    const std::uint32_t Offset = U32(10);
    if (Offset < PaletteStart)
        Fail("the pixel data offset " + std::to_string(Offset) + " points into the header");
    if (Offset >= B.size())
        Fail("the pixel data offset " + std::to_string(Offset) + " is past the end of the file (" +
             std::to_string(B.size()) + " bytes)");
    H.PixelOffset = Offset;

    if (H.Bpp <= 8) {
        const std::uint64_t Room = (Offset - PaletteStart) / EntrySize;
        const std::uint64_t Full = 1u << H.Bpp;
        std::uint64_t Declared;
        if (Kind == Core)
            Declared = std::min(Full, Room); // the core header has no count: the room before the pixels tells
        else
            Declared = ColoursUsed != 0 ? ColoursUsed : Full;
        if (Declared > Room)
            Fail("the palette of " + std::to_string(Declared) + " colours does not fit before the pixel data");
        if (Declared == 0)
            Fail("the palette is empty");
        const std::size_t Count = static_cast<std::size_t>(std::min(Declared, Full));
        H.Palette.resize(Count * 3);
        for (std::size_t I = 0; I < Count; ++I) {
            const std::size_t At = PaletteStart + I * EntrySize;
            H.Palette[I * 3] = static_cast<std::uint8_t>(B[At + 2]);
            H.Palette[I * 3 + 1] = static_cast<std::uint8_t>(B[At + 1]);
            H.Palette[I * 3 + 2] = static_cast<std::uint8_t>(B[At]);
        }
    }
    return H;
}

// A channel value scaled to 8 bits, rounded.
inline std::uint8_t Scale(std::uint32_t Pixel, const TChannel& C)
{
    const std::uint32_t V = (Pixel & C.Mask) >> C.Shift;
    if (C.Bits == 8)
        return static_cast<std::uint8_t>(V);
    const std::uint64_t Max = C.Bits == 32 ? 0xFFFFFFFFull : (1ull << C.Bits) - 1;
    return static_cast<std::uint8_t>((V * 255ull + Max / 2) / Max);
}

void TReader::DecodeUncompressed(const THeader& H, TBitmapPixels& Out, bool Store) const
{
    const std::uint64_t RowBits = static_cast<std::uint64_t>(H.Width) * static_cast<std::uint64_t>(H.Bpp);
    const std::uint64_t InStride = (RowBits + 31) / 32 * 4;
    // The last row need not carry its padding.
    const std::uint64_t Needed = InStride * static_cast<std::uint64_t>(H.Height - 1) + (RowBits + 7) / 8;
    const std::uint64_t Present = B.size() - H.PixelOffset;
    if (Present < Needed)
        Fail("the pixel data is cut short: " + std::to_string(Present) + " of " + std::to_string(Needed) +
             " bytes are present");

    const bool Indexed = H.Bpp <= 8;
    const bool FullPalette = Indexed && H.PaletteCount() == (1 << H.Bpp);
    if (!Store) {
        // A check only has palette indices to look at, and only when the palette is
        // short of what the bits can index.
        if (!Indexed || FullPalette)
            return;
        const int PerByte = 8 / H.Bpp;
        const int Mask = (1 << H.Bpp) - 1;
        for (std::int64_t R = 0; R < H.Height; ++R) {
            const auto* In = reinterpret_cast<const std::uint8_t*>(B.data()) + H.PixelOffset + InStride * static_cast<std::uint64_t>(R);
            for (std::int64_t X = 0; X < H.Width; ++X) {
                const int Index = (In[X / PerByte] >> (8 - H.Bpp * (static_cast<int>(X % PerByte) + 1))) & Mask;
                if (Index >= H.PaletteCount())
                    BadIndex(Index, X, H.TopDown ? R : H.Height - 1 - R, H);
            }
        }
        return;
    }

    const int Channels = Out.Channels;
    const std::uint8_t* Pal = H.Palette.data();
    const int PalCount = H.PaletteCount();
    std::uint32_t AlphaSeen = 0;
    for (std::int64_t R = 0; R < H.Height; ++R) {
        const auto* In = reinterpret_cast<const std::uint8_t*>(B.data()) + H.PixelOffset + InStride * static_cast<std::uint64_t>(R);
        const std::int64_t Y = H.TopDown ? R : H.Height - 1 - R;
        std::uint8_t* O = Out.Data.data() + Out.Stride() * static_cast<std::size_t>(Y);
        if (Indexed) {
            const int PerByte = 8 / H.Bpp;
            const int Mask = (1 << H.Bpp) - 1;
            for (std::int64_t X = 0; X < H.Width; ++X) {
                const int Shift = 8 - H.Bpp * (static_cast<int>(X % PerByte) + 1);
                const int Index = (In[X / PerByte] >> Shift) & Mask;
                if (Index >= PalCount)
                    BadIndex(Index, X, Y, H);
                std::memcpy(O + X * 3, Pal + Index * 3, 3);
            }
        } else if (H.Bpp == 24) {
            for (std::int64_t X = 0; X < H.Width; ++X) {
                O[X * 3] = In[X * 3 + 2];
                O[X * 3 + 1] = In[X * 3 + 1];
                O[X * 3 + 2] = In[X * 3];
            }
        } else {
            const int Size = H.Bpp / 8;
            for (std::int64_t X = 0; X < H.Width; ++X) {
                const std::uint8_t* P = In + X * Size;
                std::uint32_t V = static_cast<std::uint32_t>(P[0]) | (static_cast<std::uint32_t>(P[1]) << 8);
                if (Size == 4)
                    V |= (static_cast<std::uint32_t>(P[2]) << 16) | (static_cast<std::uint32_t>(P[3]) << 24);
                std::uint8_t* D = O + X * Channels;
                D[0] = Scale(V, H.Channels[0]);
                D[1] = Scale(V, H.Channels[1]);
                D[2] = Scale(V, H.Channels[2]);
                if (Channels == 4) {
                    D[3] = Scale(V, H.Channels[3]);
                    AlphaSeen |= D[3];
                }
            }
        }
    }
    // Alpha that is zero everywhere is a channel the writer left unset, not a picture
    // that cannot be seen.
    if (Channels == 4 && AlphaSeen == 0)
        for (std::size_t I = 3; I < Out.Data.size(); I += 4)
            Out.Data[I] = 255;
}

void TReader::DecodeRle(const THeader& H, TBitmapPixels& Out, bool Store) const
{
    const std::uint8_t* Pal = H.Palette.data();
    const int PalCount = H.PaletteCount();
    // Pixels the stream skips (delta moves, early ends of rows or of the picture) take
    // the palette's first colour.
    if (Store)
        for (std::size_t I = 0; I < Out.Data.size(); I += 3)
            std::memcpy(Out.Data.data() + I, Pal, 3);

    const bool Four = H.Coding == TCoding::Rle4;
    const auto* S = reinterpret_cast<const std::uint8_t*>(B.data());
    std::size_t P = H.PixelOffset;
    const std::size_t End = B.size();
    std::int64_t X = 0, Row = 0; // Row counts from the bottom
    // A check walks the stream without writing anything.
    auto Target = [&]() -> std::uint8_t* {
        return Store ? Out.Data.data() + Out.Stride() * static_cast<std::size_t>(H.Height - 1 - Row) : nullptr;
    };
    // Pixels past the end of a row are dropped: writers pad a row's last run to a whole
    // byte or word (ImageMagick does for widths that are not a multiple of 4), and the
    // common readers ignore the excess. Nothing is written outside the picture.
    auto Put = [&](std::uint8_t* O, std::int64_t At, int Index) {
        if (At >= H.Width)
            return;
        if (Index >= PalCount)
            BadIndex(Index, At, H.Height - 1 - Row, H);
        if (O)
            std::memcpy(O + At * 3, Pal + Index * 3, 3);
    };
    auto InsideRows = [&]() {
        if (Row >= H.Height)
            Fail("the RLE data writes past the last row");
    };
    auto Advance = [&](std::int64_t Count) { X = std::min(X + Count, H.Width); };
    for (;;) {
        if (End - P < 2)
            Fail("the RLE data ends without an end-of-picture marker");
        const int N = S[P], C = S[P + 1];
        P += 2;
        if (N > 0) {
            InsideRows();
            std::uint8_t* O = Target();
            for (int I = 0; I < N; ++I)
                Put(O, X + I, Four ? ((I & 1) ? (C & 0x0F) : (C >> 4)) : C);
            Advance(N);
        } else if (C == 0) { // end of row
            if (Row >= H.Height)
                Fail("the RLE data writes past the last row");
            X = 0;
            ++Row;
        } else if (C == 1) { // end of picture
            return;
        } else if (C == 2) { // move right and up
            if (End - P < 2)
                Fail("the RLE data ends inside a move");
            X += S[P];
            Row += S[P + 1];
            P += 2;
            if (X > H.Width || Row > H.Height || (Row == H.Height && X > 0))
                Fail("an RLE move leaves the picture");
        } else { // C literal pixels, padded to an even number of bytes
            const std::size_t Bytes = Four ? (static_cast<std::size_t>(C) + 1) / 2 : static_cast<std::size_t>(C);
            if (End - P < Bytes)
                Fail("the RLE data ends inside a run of literal pixels");
            InsideRows();
            std::uint8_t* O = Target();
            for (int I = 0; I < C; ++I)
                Put(O, X + I, Four ? ((I & 1) ? (S[P + I / 2] & 0x0F) : (S[P + I / 2] >> 4)) : S[P + I]);
            Advance(C);
            P += std::min(End - P, (Bytes + 1) & ~std::size_t{1});
        }
    }
}

void TReader::Decode(const THeader& H, TBitmapPixels& Out, bool Store) const
{
    Out.Width = static_cast<int>(H.Width);
    Out.Height = static_cast<int>(H.Height);
    Out.Channels = H.HasAlpha() ? 4 : 3;
    if (Store)
        Out.Data.assign(Out.Stride() * static_cast<std::size_t>(Out.Height), 0);
    if (H.Coding == TCoding::Rle8 || H.Coding == TCoding::Rle4)
        DecodeRle(H, Out, Store);
    else
        DecodeUncompressed(H, Out, Store);
}

} // namespace

TBitmapPixels ReadBitmap(std::string_view Bytes, const std::string& Name)
{
    const TReader Reader(Bytes, Name);
    const THeader H = Reader.ParseHeader();
    TBitmapPixels Out;
    Reader.Decode(H, Out, true);
    return Out;
}

TBitmapSize CheckBitmap(std::string_view Bytes, const std::string& Name)
{
    const TReader Reader(Bytes, Name);
    const THeader H = Reader.ParseHeader();
    TBitmapPixels Out;
    Reader.Decode(H, Out, false);
    return {Out.Width, Out.Height};
}
