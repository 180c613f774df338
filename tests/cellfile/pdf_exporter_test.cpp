// PDF read back by poppler: pdftotext finds every cell's words (but an emoji's, which is
// said in a warning) and the captions on every page, and the first page rendered by pdftoppm holds the drawn table and the picture.

#include "cellfile/pdf_exporter.h"
#include "framework/data_set.h"
#include "framework/files.h"
#include "framework/ui_services.h"
#include "tests/common/awkward_texts.h"
#include "tests/common/qt_application.h"
#include "tests/common/temp_folder.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <sstream>

namespace {

// A red picture as the bytes of a bitmap file.
std::string RedBitmap()
{
    QImage image(40, 20, QImage::Format_RGB888);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes.toStdString();
}

// Pixels of a binary PPM (P6) file: how many are not white, and how many are red.
void CountPixels(const std::string& Ppm, long& Inked, long& Red)
{
    std::istringstream in(Ppm);
    std::string magic;
    int width = 0, height = 0, depth = 0;
    in >> magic >> width >> height >> depth;
    in.get();
    Inked = Red = 0;
    for (long i = 0; i < static_cast<long>(width) * height; ++i) {
        const int r = in.get(), g = in.get(), b = in.get();
        Inked += r < 200 || g < 200 || b < 200;
        Red += r > 200 && g < 60 && b < 60;
    }
}

TEST(PdfExporterTest, EveryCellReadBackByPopplerWithCaptionsOnEveryPage)
{
    EnsureQtApplication();
    TRecordingUIServices ui;
    ui.ForceHasGui = 0;
    TUIServicesScope scope{&ui};
    TempDir dir{"tabrix_pdf"};
    TMemoryDataSet ds;
    ds.AddField("Text", ftString, 40);
    ds.AddField("No", ftInteger);
    ds.AddField("Picture", ftGraphic);
    const std::string picture = RedBitmap();
    std::vector<std::string> texts = Awkward;
    texts.push_back("a long text that wraps over more than one line of its column, word after word, "
                    "until it ends here");
    constexpr int Records = 150;
    for (int i = 0; i < Records; ++i)
        ds.AppendRecord({Variant(texts[static_cast<std::size_t>(i) % texts.size()]), Variant(i),
                         i == 0 ? Variant(picture) : Variant::Null()});
    ds.First();

    TKVExportToPDF pdf;
    ExportQuietlyFrom(pdf, ds);
    pdf.AddTitle = true;
    pdf.Header().Add("Report header");
    pdf.Footer().Add("Report footer");
    pdf.SetFileName(dir / "out.pdf");
    pdf.Execute();
    ASSERT_EQ(pdf.Statistic().Result, erCompleted);
    // Qt's writer draws an emoji but gives it no text.
    EXPECT_EQ(pdf.Statistic().Warnings,
              std::vector<std::string>{dir / "out.pdf" + ": 13 values hold characters beyond U+FFFF (such as emoji): "
                                       "they are drawn, but Qt's PDF writer maps no text to them, so a reader cannot "
                                       "copy or search them (the first at field Text, record 8)"});

    const std::string file = dir / "out.pdf";
    const std::string info = Shell("pdfinfo '" + file + "'");
    const std::size_t at = info.find("Pages:");
    ASSERT_NE(at, std::string::npos) << info;
    const int pages = std::stoi(info.substr(at + 6));
    EXPECT_GT(pages, 2);
    std::string all;
    for (int page = 1; page <= pages; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        const std::string text = Shell("pdftotext -layout -f " + std::to_string(page) + " -l "
                                       + std::to_string(page) + " '" + file + "' -");
        EXPECT_NE(text.find("Text"), std::string::npos) << text;
        EXPECT_NE(text.find("Picture"), std::string::npos) << text;
        EXPECT_NE(text.find("Page " + std::to_string(page)), std::string::npos) << text;
        all += text;
    }
    EXPECT_NE(all.find("Report header"), std::string::npos);
    EXPECT_NE(all.find("Report footer"), std::string::npos);
    // Every word of every value, and every number.
    for (const std::string& text : texts) {
        std::istringstream words(text);
        for (std::string word; words >> word;) {
            if (word == "🎉")
                continue;
            EXPECT_NE(all.find(word), std::string::npos) << word;
        }
    }
    for (int i = 0; i < Records; ++i)
        EXPECT_NE(all.find(std::to_string(i)), std::string::npos) << i;

    ASSERT_EQ(Shell("pdftoppm -r 50 -f 1 -l 1 -singlefile '" + file + "' '" + dir / "page" + "'"), "");
    long inked = 0, red = 0;
    CountPixels(ReadFileToString(dir / "page.ppm"), inked, red);
    EXPECT_GT(inked, 2000);
    EXPECT_GT(red, 50);
}

} // namespace
