#include "framework/bitmap_reader.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/picture.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <dirent.h>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

std::string Suite(const std::string& Sub, const std::string& Name)
{
    return std::string(TABRIX_BMPSUITE) + "/" + Sub + "/" + Name + ".bmp";
}

std::vector<std::string> SuiteNames(const std::string& Sub)
{
    std::vector<std::string> Names;
    if (DIR* D = opendir((std::string(TABRIX_BMPSUITE) + "/" + Sub).c_str())) {
        while (dirent* E = readdir(D)) {
            const std::string Name = E->d_name;
            if (ExtractFileExt(Name) == ".bmp")
                Names.push_back(ChangeFileExt(Name, ""));
        }
        closedir(D);
    }
    return Names;
}

// The message of the refusal, or "" when the bytes decode.
std::string Refusal(const std::string& Bytes, const std::string& Name = {})
{
    try {
        ReadBitmap(Bytes, Name);
        return {};
    } catch (const EInvalidGraphic& E) {
        return E.Message();
    }
}

QImage Rgba(const std::string& File)
{
    return BitmapToImage(ReadBitmap(ReadFileToString(File), File)).convertToFormat(QImage::Format_RGBA8888);
}

void Put16(std::string& B, std::size_t At, unsigned V)
{
    B[At] = static_cast<char>(V & 0xFF);
    B[At + 1] = static_cast<char>((V >> 8) & 0xFF);
}

void Put32(std::string& B, std::size_t At, std::uint32_t V)
{
    Put16(B, At, V & 0xFFFF);
    Put16(B, At + 2, V >> 16);
}

// A bottom-up bitmap with a 40-byte header: Palette (4 bytes an entry) then Data.
std::string Bitmap(int W, int H, int Bpp, int Compression, const std::string& Palette, const std::string& Data)
{
    std::string B(54, '\0');
    B[0] = 'B';
    B[1] = 'M';
    Put32(B, 10, static_cast<std::uint32_t>(54 + Palette.size()));
    Put32(B, 14, 40);
    Put32(B, 18, static_cast<std::uint32_t>(W));
    Put32(B, 22, static_cast<std::uint32_t>(H));
    Put16(B, 26, 1);
    Put16(B, 28, static_cast<unsigned>(Bpp));
    Put32(B, 30, static_cast<std::uint32_t>(Compression));
    Put32(B, 46, static_cast<std::uint32_t>(Palette.size() / 4));
    B += Palette + Data;
    Put32(B, 2, static_cast<std::uint32_t>(B.size()));
    return B;
}

// Two colours: 0 black, 1 white.
const std::string TwoColours("\0\0\0\0\xFF\xFF\xFF\0", 8);

// 4 x 2 pixels, 8 bits, RLE: a run of 4, end of row, 2 literal pixels 1 0 and a run of
// 2, end of picture.
std::string Rle8(const std::string& Stream) { return Bitmap(4, 2, 8, 1, TwoColours, Stream); }
const std::string GoodRle("\x04\x01\x00\x00\x00\x03\x01\x00\x00\x00\x01\x01\x00\x01", 14);

} // namespace

TEST(BitmapReader, GoodSuiteFilesDecodePixelExact)
{
    // Files that store the same picture in different ways decode to the same pixels.
    const std::vector<std::vector<std::string>> Groups = {
        {"pal8", "pal8-0", "pal8rle", "pal8topdown", "pal8os2", "pal8v4", "pal8v5"},
        {"rgb24", "rgb24pal", "rgb32", "rgb32bfdef", "rgb32bf"},
        {"pal4", "pal4rle"},
        {"rgb16", "rgb16bfdef"},
        {"rgb16-565", "rgb16-565pal"},
    };
    for (const auto& Group : Groups) {
        const QImage First = Rgba(Suite("g", Group[0]));
        for (std::size_t I = 1; I < Group.size(); ++I)
            EXPECT_TRUE(Rgba(Suite("g", Group[I])) == First) << Group[I] << " differs from " << Group[0];
    }
    // Palette and 24/32-bit pixels have one right reading, which Qt's reader also gives;
    // every good file decodes, is opaque and survives PNG encoding unchanged.
    const std::set<std::string> OwnScaling = {"rgb16", "rgb16bfdef", "rgb16-565", "rgb16-565pal"};
    const auto Names = SuiteNames("g");
    ASSERT_EQ(Names.size(), 27u);
    for (const std::string& Name : Names) {
        const QImage Ours = Rgba(Suite("g", Name));
        EXPECT_FALSE(Ours.hasAlphaChannel() && Ours.pixelColor(0, 0).alpha() != 255) << Name;
        if (!OwnScaling.count(Name)) {
            QImage Qt(QString::fromStdString(Suite("g", Name)), "bmp");
            EXPECT_TRUE(Qt.convertToFormat(QImage::Format_RGBA8888) == Ours) << Name;
        }
        QByteArray Png;
        QBuffer Out(&Png);
        Out.open(QIODevice::WriteOnly);
        ASSERT_TRUE(Ours.save(&Out, "png")) << Name;
        EXPECT_TRUE(QImage::fromData(Png, "png").convertToFormat(QImage::Format_RGBA8888) == Ours) << Name;
    }
}

TEST(BitmapReader, FewerBitsScaleToTheFullRange)
{
    // 16 bits, 5-6-5: white, pure mid-green, black, a 1-step red.
    std::string Masks(12, '\0');
    Put32(Masks, 0, 0xF800);
    Put32(Masks, 4, 0x07E0);
    Put32(Masks, 8, 0x001F);
    std::string Data(8, '\0');
    Put16(Data, 0, 0xFFFF);
    Put16(Data, 2, 0x0400);
    Put16(Data, 6, 0x0800);
    const TBitmapPixels P = ReadBitmap(Bitmap(4, 1, 16, 3, Masks, Data));
    ASSERT_EQ(P.Channels, 3);
    const std::vector<std::uint8_t> Expected = {255, 255, 255, 0, 130, 0, 0, 0, 0, 8, 0, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(P.Data.begin(), P.Data.end()), Expected);
}

TEST(BitmapReader, SuiteFilesAreReadOrRefusedAsDecided)
{
    // Refused: damaged pixel data or structure, and encodings that are not read.
    const std::vector<std::pair<std::string, std::string>> Refused = {
        {"b/badbitcount", "30000 bits per pixel"},
        {"b/badheadersize", "unknown header size 66"},
        {"b/badpalettesize", "palette of 305402420 colours does not fit"},
        {"b/badplanes", "planes is 30000"},
        {"b/badrle", "RLE"},
        {"b/badrle4", "RLE"},
        {"b/badrle4bis", "RLE"},
        {"b/badrle4ter", "RLE"},
        {"b/badrlebis", "RLE"},
        {"b/badrleter", "RLE"},
        {"b/badwidth", "width is -127"},
        {"b/pal8badindex", "palette index"},
        {"b/reallybig", "more than the 100000000 pixels accepted"},
        {"b/rgb16-880", "blue mask is empty"},
        {"b/rletopdown", "top-down"},
        {"b/shortfile", "cut short"},
        {"q/pal1huffmsb", "Huffman"},
        {"q/rgb24jpeg", "JPEG"},
        {"q/rgb24png", "PNG"},
        {"q/rgb24rle24", "RLE24"},
        {"q/rgba64", "64 bits per pixel"},
    };
    std::set<std::string> Seen;
    for (const auto& [Name, Cause] : Refused) {
        const std::string File = std::string(TABRIX_BMPSUITE) + "/" + Name + ".bmp";
        const std::string Message = Refusal(ReadFileToString(File), File);
        EXPECT_EQ(Message.rfind("Bitmap image is not valid: " + File + ": ", 0), 0u) << Name << " " << Message;
        EXPECT_NE(Message.find(Cause), std::string::npos) << Message;
        EXPECT_THROW(CheckBitmap(ReadFileToString(File)), EInvalidGraphic) << Name;
        Seen.insert(Name);
    }
    // Every other file is read: metadata faults no decoder needs (density, file size,
    // image size) and the unusual but well-formed files of q/.
    for (const char* Sub : {"b", "q"})
        for (const std::string& Name : SuiteNames(Sub)) {
            if (Seen.count(std::string(Sub) + "/" + Name))
                continue;
            const std::string Bytes = ReadFileToString(Suite(Sub, Name));
            EXPECT_EQ(Refusal(Bytes), "") << Sub << "/" << Name;
            EXPECT_EQ(CheckBitmap(Bytes).Width, 127) << Name;
        }
}

TEST(BitmapReader, DamagedFilesAreRefusedWithTheirCause)
{
    const std::string Pal8Row("\x00\x01\x01\x00", 4);
    const std::string Pal8 = Bitmap(4, 2, 8, 0, TwoColours, Pal8Row + Pal8Row);
    ASSERT_EQ(Refusal(Pal8), "");
    ASSERT_EQ(Refusal(Rle8(GoodRle)), "");
    const std::string Rgb24 = Bitmap(8, 8, 24, 0, "", std::string(8 * 24, '\x40'));
    ASSERT_EQ(Refusal(Rgb24), "");

    struct Case {
        const char* What;
        std::string Bytes;
        const char* Cause;
    };
    std::string Planes = Pal8;
    Put16(Planes, 26, 2);
    std::string Offset = Pal8;
    Put32(Offset, 10, static_cast<std::uint32_t>(Pal8.size()));
    std::string Huge = Rle8(GoodRle);
    Put32(Huge, 18, 20000);
    Put32(Huge, 22, 5001);
    const std::vector<Case> Cases = {
        {"truncated rows", Rgb24.substr(0, 100), "the pixel data is cut short: 46 of 192 bytes"},
        {"header cut", Rgb24.substr(0, 40), "the file ends inside its header"},
        {"index beyond palette", Bitmap(4, 2, 8, 0, TwoColours, Pal8Row + std::string("\x00\x02\x00\x00", 4)),
         "the palette index 2 at pixel (1, 0) is beyond the palette of 2 colours"},
        {"RLE without end", Rle8(GoodRle.substr(0, 12)), "ends without an end-of-picture marker"},
        {"RLE literal cut", Rle8(std::string("\x00\x03\x01", 3)), "ends inside a run of literal pixels"},
        {"RLE4 below the picture", Bitmap(4, 1, 4, 2, TwoColours, std::string("\x04\x11\x00\x00\x02\x11\x00\x01", 8)),
         "past the last row"},
        {"RLE below the picture", Rle8(std::string("\x00\x00\x00\x00\x01\x01\x00\x01", 8)), "past the last row"},
        {"RLE move outside", Rle8(std::string("\x00\x02\x05\x00\x00\x01", 6)), "move leaves the picture"},
        {"offset past end", Offset, "past the end of the file"},
        {"planes", Planes, "the number of planes is 2, not 1"},
        {"size limit", Huge, "the picture is 20000 x 5001 pixels, more than the 100000000 pixels accepted"},
    };
    for (const Case& C : Cases) {
        const std::string Message = Refusal(C.Bytes, "pic.bmp");
        EXPECT_EQ(Message.rfind("Bitmap image is not valid: pic.bmp: ", 0), 0u) << C.What << ": " << Message;
        EXPECT_NE(Message.find(C.Cause), std::string::npos) << C.What << ": " << Message;
        EXPECT_THROW(CheckBitmap(C.Bytes), EInvalidGraphic) << C.What;
    }
    EXPECT_EQ(Refusal("GIF89a"), "Bitmap image is not valid: the data is not a Windows bitmap");
}

TEST(BitmapReader, RleSkippedPixelsTakeTheFirstColour)
{
    // Row 0 (the bottom): 2 white pixels, then the row ends early; row 1 untouched.
    const TBitmapPixels P = ReadBitmap(Rle8(std::string("\x02\x01\x00\x01", 4)));
    std::vector<std::uint8_t> Expected(24, 0);
    std::fill(Expected.begin() + 12, Expected.begin() + 18, 255);
    EXPECT_EQ(P.Data, Expected);
}

TEST(BitmapReader, RlePixelsPastTheEndOfARowAreDropped)
{
    // 3 x 2 pixels whose rows' last runs go past the row's end, as common writers pad
    // widths that are not a multiple of 4: a repeated run (bottom), then literal pixels
    // (top). The excess is neither drawn nor wrapped into the next row.
    struct Case {
        int Bpp;
        std::string Stream;
    };
    const std::vector<Case> Cases = {
        {8, std::string("\x04\x01\x00\x00" "\x00\x04\x00\x01\x00\x01\x00\x00" "\x00\x01", 14)},
        {4, std::string("\x04\x11\x00\x00" "\x00\x06\x01\x01\x11\x00\x00\x00" "\x00\x01", 14)},
    };
    // Top row 0 1 0, bottom row 1 1 1 (index 1 is white).
    std::vector<std::uint8_t> Expected(18, 255);
    std::fill(Expected.begin(), Expected.begin() + 3, 0);
    std::fill(Expected.begin() + 6, Expected.begin() + 9, 0);
    for (const Case& C : Cases) {
        const std::string File = Bitmap(3, 2, C.Bpp, C.Bpp == 8 ? 1 : 2, TwoColours, C.Stream);
        EXPECT_EQ(ReadBitmap(File).Data, Expected) << C.Bpp;
        EXPECT_EQ(CheckBitmap(File).Width, 3) << C.Bpp;
    }
}

TEST(BitmapReader, AlphaIsKeptOnlyWhereTheFileHasIt)
{
    EXPECT_EQ(ReadBitmap(ReadFileToString(Suite("q", "rgba32-1"))).Channels, 4);
    EXPECT_EQ(ReadBitmap(ReadFileToString(Suite("q", "rgb32fakealpha"))).Channels, 3);
    // An alpha channel that is zero everywhere is read as opaque.
    std::string Masks(16, '\0');
    Put32(Masks, 0, 0xFF0000);
    Put32(Masks, 4, 0xFF00);
    Put32(Masks, 8, 0xFF);
    Put32(Masks, 12, 0xFF000000);
    const TBitmapPixels P = ReadBitmap(Bitmap(1, 1, 32, 6, Masks, std::string("\x01\x02\x03\x00", 4)));
    EXPECT_EQ(P.Data, (std::vector<std::uint8_t>{3, 2, 1, 255}));
}
