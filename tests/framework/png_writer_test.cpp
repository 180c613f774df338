#include "framework/exceptions.h"
#include "framework/png_writer.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstring>
#include <random>
#include <vector>

namespace {

// Decodes Png with Qt's reader (libpng checks every chunk's CRC) and compares every
// pixel with the rows it was made from.
void ExpectPixelExact(const std::string& Png, const std::vector<std::uint8_t>& Rows, int Width, int Height,
                      std::size_t Stride, TPngColorType Color)
{
    QImage Image;
    ASSERT_TRUE(Image.loadFromData(reinterpret_cast<const uchar*>(Png.data()), static_cast<int>(Png.size()), "png"));
    ASSERT_EQ(Image.width(), Width);
    ASSERT_EQ(Image.height(), Height);
    const QImage::Format Format = Color == pctGray  ? QImage::Format_Grayscale8
                                  : Color == pctRGB ? QImage::Format_RGB888
                                                    : QImage::Format_RGBA8888;
    Image = Image.convertToFormat(Format);
    const std::size_t RowBytes = static_cast<std::size_t>(Width) * static_cast<std::size_t>(PngChannels(Color));
    for (int Y = 0; Y < Height; ++Y)
        ASSERT_EQ(std::memcmp(Image.constScanLine(Y), Rows.data() + static_cast<std::size_t>(Y) * Stride, RowBytes), 0)
            << "row " << Y;
}

} // namespace

// Every colour type and filter, odd sizes, padded rows, noise and flat colour: the
// decoded picture is the one encoded, byte for byte.
TEST(PngWriterTest, EveryColourTypeAndFilterIsPixelExact)
{
    std::mt19937 Random(7);
    for (TPngColorType Color : {pctGray, pctRGB, pctRGBA})
        for (TPngFilter Filter : {pfNone, pfSub, pfUp})
            for (auto [Width, Height, Padding, Noisy] :
                 std::vector<std::tuple<int, int, int, bool>>{{1, 1, 0, true}, {3, 5, 3, true}, {257, 33, 1, true},
                                                              {64, 64, 0, false}}) {
                SCOPED_TRACE(testing::Message() << "colour " << int(Color) << " filter " << int(Filter) << " "
                                                << Width << "x" << Height);
                const std::size_t Stride =
                    static_cast<std::size_t>(Width) * static_cast<std::size_t>(PngChannels(Color)) +
                    static_cast<std::size_t>(Padding);
                std::vector<std::uint8_t> Rows(Stride * static_cast<std::size_t>(Height));
                for (std::size_t I = 0; I < Rows.size(); ++I)
                    Rows[I] = Noisy ? static_cast<std::uint8_t>(Random()) : static_cast<std::uint8_t>(I / Stride);
                ExpectPixelExact(EncodePng(Rows.data(), Width, Height, Stride, Color, {Filter}), Rows, Width, Height,
                                 Stride, Color);
            }
}

TEST(PngWriterTest, RefusesSizesPngCannotHold)
{
    const std::uint8_t Pixel[4] = {};
    EXPECT_THROW(EncodePng(Pixel, 0, 1, 3, pctRGB), Exception);
    EXPECT_THROW(EncodePng(Pixel, 1, -1, 3, pctRGB), Exception);
    EXPECT_THROW(EncodePng(Pixel, 2, 1, 3, pctRGB), Exception); // rows would overlap
    EXPECT_THROW(EncodePng(Pixel, 70000, 70000, 210000, pctRGB), Exception);
}
