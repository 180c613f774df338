#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/picture.h"
#include "framework/streams.h"

#include <gtest/gtest.h>

#include <QImage>

#include <dirent.h>
#include <string>
#include <vector>

namespace {

std::string SuiteFolder()
{
    return TABRIX_BMPSUITE "/";
}

std::vector<std::string> BmpFiles(const std::string& Sub)
{
    std::vector<std::string> Names;
    const std::string Folder = SuiteFolder() + Sub + "/";
    if (DIR* D = opendir(Folder.c_str())) {
        while (dirent* E = readdir(D)) {
            const std::string Name = E->d_name;
            if (ExtractFileExt(Name) == ".bmp")
                Names.push_back(Folder + Name);
        }
        closedir(D);
    }
    return Names;
}

void PutU16(std::string& B, std::size_t At, unsigned V)
{
    B[At] = static_cast<char>(V & 0xFF);
    B[At + 1] = static_cast<char>((V >> 8) & 0xFF);
}

void PutU32(std::string& B, std::size_t At, std::uint32_t V)
{
    PutU16(B, At, V & 0xFFFF);
    PutU16(B, At + 2, V >> 16);
}

// A 2 x 2, 24-bit bottom-up bitmap; its pixel rows are padded with zero bytes.
std::string SmallBitmap()
{
    std::string B(14 + 40 + 16, '\0');
    B[0] = 'B';
    B[1] = 'M';
    PutU32(B, 2, static_cast<std::uint32_t>(B.size()));
    PutU32(B, 10, 54);
    PutU32(B, 14, 40);
    PutU32(B, 18, 2);
    PutU32(B, 22, 2);
    PutU16(B, 26, 1);
    PutU16(B, 28, 24);
    PutU32(B, 34, 16);
    const unsigned char Pixels[16] = {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0};
    B.replace(54, 16, reinterpret_cast<const char*>(Pixels), 16);
    return B;
}

std::string Emf(int Left, int Top, int Right, int Bottom)
{
    std::string B(108, '\0');
    PutU32(B, 0, 1);
    PutU32(B, 4, 108);
    PutU32(B, 8, static_cast<std::uint32_t>(Left));
    PutU32(B, 12, static_cast<std::uint32_t>(Top));
    PutU32(B, 16, static_cast<std::uint32_t>(Right));
    PutU32(B, 20, static_cast<std::uint32_t>(Bottom));
    PutU32(B, 40, 0x464D4520);
    PutU32(B, 44, 0x10000);
    return B;
}

std::string PlaceableWmf()
{
    std::string B(22 + 18, '\0');
    PutU32(B, 0, 0x9AC6CDD7);
    PutU16(B, 10, 1440); // one inch wide
    PutU16(B, 12, 720);  // half an inch high
    PutU16(B, 14, 1440);
    PutU16(B, 22, 1);
    PutU16(B, 24, 9);
    PutU16(B, 26, 0x0300);
    return B;
}

std::string Icon()
{
    std::string B(6 + 16 + 40, '\0');
    PutU16(B, 2, 1);
    PutU16(B, 4, 1);
    B[6] = 32;
    B[7] = 0; // 256
    return B;
}

} // namespace

TEST(Picture, BitmapBytesAreKeptAndSavedUnchanged)
{
    const std::string Bytes = SmallBitmap(); // holds many NUL bytes
    TPicture P;
    EXPECT_TRUE(P.Empty());
    P.LoadBitmapFromBytes(Bytes);
    EXPECT_EQ(P.Kind(), gkBitmap);
    EXPECT_FALSE(P.Enhanced());
    EXPECT_EQ(P.Width(), 2);
    EXPECT_EQ(P.Height(), 2);
    EXPECT_EQ(P.Bytes(), Bytes);
    const QImage Image = P.ToImage();
    EXPECT_EQ(Image.pixel(0, 1) & 0xFFFFFF, 0xFF0000u); // first stored row is the bottom one

    const std::string Name = CreateTempFileName("pic");
    P.SaveToFile(Name);
    EXPECT_EQ(ReadFileToString(Name), Bytes);
    DeleteFile(Name);

    TMemoryStream Out;
    P.SaveToStream(Out);
    EXPECT_EQ(Out.Bytes(), Bytes);

    TMemoryStream In(Bytes);
    TPicture Q;
    Q.LoadBitmapFromStream(In);
    EXPECT_EQ(Q.Bytes(), Bytes);
}

TEST(Picture, NotABitmapRaisesInvalidGraphicAndKeepsThePicture)
{
    TPicture P;
    P.LoadBitmapFromBytes(SmallBitmap());
    const std::vector<std::string> Bad = {
        "",
        "BM",
        "hello world, this is not a picture at all",
        Emf(0, 0, 9, 9),
        SmallBitmap().substr(0, 30),
        std::string("BM") + std::string(60, '\0'),
    };
    for (const std::string& B : Bad) {
        try {
            P.LoadBitmapFromBytes(B);
            ADD_FAILURE() << "accepted " << B.size() << " bytes";
        } catch (const EInvalidGraphic& E) {
            EXPECT_EQ(E.Message().rfind("Bitmap image is not valid", 0), 0u) << E.Message();
        }
        EXPECT_EQ(P.Bytes(), SmallBitmap());
        EXPECT_EQ(P.Kind(), gkBitmap);
    }
}

TEST(Picture, KindsAreToldApartBySignature)
{
    TPicture P;
    P.LoadFromBytes(Emf(10, 20, 109, 69));
    EXPECT_EQ(P.Kind(), gkMetafile);
    EXPECT_TRUE(P.Enhanced());
    EXPECT_EQ(P.Width(), 100);
    EXPECT_EQ(P.Height(), 50);

    P.LoadFromBytes(PlaceableWmf());
    EXPECT_EQ(P.Kind(), gkMetafile);
    EXPECT_FALSE(P.Enhanced());
    EXPECT_EQ(P.Width(), 96);
    EXPECT_EQ(P.Height(), 48);
    EXPECT_THROW(P.ToImage(), EInvalidGraphic);

    P.LoadFromBytes(PlaceableWmf().substr(22)); // the standard header alone
    EXPECT_EQ(P.Kind(), gkMetafile);
    EXPECT_FALSE(P.Enhanced());

    P.LoadFromBytes(Icon());
    EXPECT_EQ(P.Kind(), gkIcon);
    EXPECT_EQ(P.Width(), 32);
    EXPECT_EQ(P.Height(), 256);

    P.LoadFromBytes(SmallBitmap());
    EXPECT_EQ(P.Kind(), gkBitmap);

    EXPECT_THROW(P.LoadFromBytes("GIF89a........................"), EInvalidGraphic);
    EXPECT_EQ(P.Kind(), gkBitmap);
    bool Enhanced = true;
    EXPECT_EQ(TPicture::DetectKind("", &Enhanced), gkNone);
    EXPECT_FALSE(Enhanced);

    P.Clear();
    EXPECT_TRUE(P.Empty());
    EXPECT_THROW(P.SaveToFile(GetTempFolder() + "never.bmp"), EInvalidGraphic);
    EXPECT_FALSE(FileExists(GetTempFolder() + "never.bmp"));
}

TEST(Picture, GraphicFieldHeaderIsDropped)
{
    const std::string Bitmap = SmallBitmap();
    std::string Field(8, '\0');
    PutU16(Field, 0, 1);
    PutU16(Field, 2, 0x0100);
    PutU32(Field, 4, static_cast<std::uint32_t>(Bitmap.size()));
    TPicture P;
    P.LoadFromGraphicField(Field + Bitmap);
    EXPECT_EQ(P.Bytes(), Bitmap);
    P.LoadFromGraphicField(Bitmap);
    EXPECT_EQ(P.Bytes(), Bitmap);
}

TEST(Picture, SaveFailureRaisesAndLeavesNoFile)
{
    TPicture P;
    P.LoadBitmapFromBytes(SmallBitmap());
    EXPECT_THROW(P.SaveToFile(GetTempFolder() + "no-such-folder-h3/x.bmp"), EFCreateError);
    EXPECT_THROW(P.LoadFromFile(GetTempFolder() + "no-such-folder-h3/x.bmp"), EFOpenError);
}

TEST(BitmapSuite, EveryGoodFileDecodes)
{
    const auto Files = BmpFiles("g");
    ASSERT_GE(Files.size(), 20u);
    for (const std::string& F : Files) {
        TPicture P;
        EXPECT_NO_THROW(P.LoadFromFile(F)) << F;
        EXPECT_EQ(P.Kind(), gkBitmap) << F;
        EXPECT_GT(P.Width(), 0) << F;
        EXPECT_GT(P.Height(), 0) << F;
        EXPECT_EQ(P.Bytes(), ReadFileToString(F)) << F;
    }
}
