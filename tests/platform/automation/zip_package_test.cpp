// The zip package writer: parts deflated while they are written come back byte for byte
// beside ordinary parts, whatever the sizes of the pieces they were written in, also when
// a renderer makes their text on the worker and when a head and a tail are joined to them.

#include "platform/automation/zip_package.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <zip.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::string ReadEntry(zip_t* archive, const char* name)
{
    zip_stat_t st;
    if (zip_stat(archive, name, 0, &st) != 0)
        return "<missing>";
    zip_file_t* file = zip_fopen(archive, name, 0);
    std::string data(st.size, '\0');
    const zip_int64_t got = zip_fread(file, data.data(), st.size);
    char extra = 0;
    // Reading past the end checks the entry's CRC.
    const zip_int64_t end = zip_fread(file, &extra, 1);
    zip_fclose(file);
    return got == static_cast<zip_int64_t>(st.size) && end == 0 ? data : "<damaged>";
}

TEST(ZipPackageTest, DeflatedPartsComeBackWhole)
{
    QTemporaryDir dir;
    // Piece sizes around the compressing thread's buffer size, empty pieces, and a part
    // made of nothing at all.
    const std::vector<std::vector<std::size_t>> shapes = {
        {}, {0}, {1}, {100, 0, 7}, {1 << 18}, {(1 << 18) - 1, 2}, {1 << 20, 3, 1 << 19}, {5000, 5000, 5000, 5000}};
    const std::string file = dir.path().toStdString() + "/p.zip";
    std::vector<std::string> expected;
    {
        ZipPackage package(file);
        package.AddText("before.xml", "<a/>");
        unsigned seed = 1;
        for (std::size_t k = 0; k < 2 * shapes.size(); ++k) {
            // The second round: every byte rendered twice, and a head, a tail or both.
            const bool second = k >= shapes.size();
            const std::string head = second && k % 3 != 1 ? "<?xml?><head n=\"" + std::to_string(k) + "\">" : "";
            const std::string tail = second && k % 3 != 2 ? "</head>" : "";
            DeflatedPart::Renderer twice;
            if (second)
                twice = [](std::string_view in, std::string& out) {
                    for (char c : in) out.append(2, c);
                };
            auto part = std::make_unique<DeflatedPart>(twice);
            std::string whole;
            bool byBuffer = false;
            for (std::size_t size : shapes[k % shapes.size()]) {
                std::string piece(size, '\0');
                for (char& c : piece) {
                    seed = seed * 1103515245u + 12345u;
                    c = static_cast<char>("<row r=\"1\">0123456789</row>\n\xC3\xA9"[(seed >> 16) % 28]);
                }
                for (char c : piece) whole.append(second ? 2 : 1, c);
                // Both ways of appending: the buffer taken over, or the text copied.
                if ((byBuffer = !byBuffer))
                    part->Append(piece);
                else
                    part->Append(std::string_view(piece));
            }
            expected.push_back(head + whole + tail);
            part->Finish(head, tail);
            package.AddDeflated("part" + std::to_string(k) + ".xml", std::move(part));
        }
        package.AddText("after.xml", "<b/>");
        package.Close();
    }
    int error = 0;
    zip_t* archive = zip_open(file.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    ASSERT_NE(archive, nullptr) << error;
    EXPECT_EQ(ReadEntry(archive, "before.xml"), "<a/>");
    EXPECT_EQ(ReadEntry(archive, "after.xml"), "<b/>");
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const std::string got = ReadEntry(archive, ("part" + std::to_string(k) + ".xml").c_str());
        EXPECT_TRUE(got == expected[k]) << "part " << k << ": " << got.size() << " bytes of " << expected[k].size();
    }
    zip_close(archive);
}

TEST(ZipPackageTest, FinishedPartRefusesMoreText)
{
    DeflatedPart part;
    part.Append(std::string_view("abc"));
    part.Finish();
    EXPECT_EQ(part.Size(), 3u);
    EXPECT_THROW(part.Append(std::string_view("d")), std::exception);
}

} // namespace
