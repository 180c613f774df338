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
#include <QString>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <set>
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

// Exports DataSet (with its captions) to File; returns the warnings.
std::vector<std::string> ExportPdf(TMemoryDataSet& DataSet, const std::string& File)
{
    DataSet.First();
    TKVExportToPDF pdf;
    ExportQuietlyFrom(pdf, DataSet);
    pdf.AddTitle = true;
    pdf.SetFileName(File);
    pdf.Execute();
    EXPECT_EQ(pdf.Statistic().Result, erCompleted);
    return pdf.Statistic().Warnings;
}

// Text without its white space, page numbers and the lines that are only Caption: what a
// one-column table's values give when joined, in whatever lines they were drawn.
std::string Squeezed(const std::string& Text, const std::string& Caption = "")
{
    std::istringstream lines(Text);
    std::string out;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.front() == '\f') // a new page
            line.erase(0, 1);
        if (line == Caption || line.rfind("Page ", 0) == 0)
            continue;
        for (char c : line)
            if (!std::isspace(static_cast<unsigned char>(c)))
                out += c;
    }
    return out;
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

TEST(PdfExporterTest, RowsHigherThanAPageArriveWholeOverThePagesWithTheirCaptions)
{
    EnsureQtApplication();
    TempDir dir{"tabrix_pdf"};
    std::string words, lines;
    for (int i = 0; words.size() < 60000; ++i)
        words += "word" + std::to_string(i) + (i % 7 ? " " : ", ");
    for (int i = 0; i < 400; ++i)
        lines += "line " + std::to_string(i) + "\n";
    const std::vector<std::string> values = {
        words,                     // wrapped at word boundaries
        std::string(9000, 'x') + "end", // one word wider than the column, broken inside
        lines,                     // its own line breaks
        "after",
    };
    TMemoryDataSet ds;
    ds.AddField("Text", ftMemo);
    for (const std::string& value : values)
        ds.AppendRecord({Variant(value)});
    const std::string file = dir / "tall.pdf";
    EXPECT_TRUE(ExportPdf(ds, file).empty());

    std::string expected;
    for (const std::string& value : values)
        expected += Squeezed(value);
    const std::string drawn = Squeezed(Shell("pdftotext '" + file + "' -"), "Text");
    const std::size_t differ = static_cast<std::size_t>(
        std::mismatch(drawn.begin(), drawn.end(), expected.begin(), expected.end()).first - drawn.begin());
    EXPECT_TRUE(drawn == expected) << drawn.size() << " of " << expected.size() << " characters; from the "
                                   << differ << "th: " << drawn.substr(differ, 60);
    const std::string info = Shell("pdfinfo '" + file + "'");
    const int pages = std::stoi(info.substr(info.find("Pages:") + 6));
    EXPECT_GT(pages, 10);
    for (int page = 1; page <= pages; ++page)
        EXPECT_EQ(Shell("pdftotext -f " + std::to_string(page) + " -l " + std::to_string(page) + " '" + file
                        + "' - | head -1"),
                  "Text\n")
            << "page " << page;
}

TEST(PdfExporterTest, CjkTextArrivesAndCharactersNoFontHasAreCounted)
{
    EnsureQtApplication();
    TempDir dir{"tabrix_pdf"};
    // More than a hundred runs of distinct Hangul syllables: a glyph-to-text map of more
    // than a hundred ranges.
    QString syllables;
    for (char16_t run = 0; run < 150; ++run)
        for (char16_t i = 0; i < 12; ++i)
            syllables += QChar(char16_t(0xAC00 + run * 40 + i));
    const struct {
        std::string Text;
        bool Drawn;
    } cases[] = {
        // Ideographs whose glyphs Kangxi radicals (日 文 工 雨) and other radicals (马 车 长
        // 见 贝 风 飞 鱼 鸟) share.
        {"日本語の文章、工場と雨の日", true},
        {"中文摘要：数据导出工具，马车长见贝风飞鱼鸟", true},
        {"한국어 요약 텍스트입니다", true},
        {syllables.toStdString(), true},
        {"private \xee\x80\x80 use", false}, // U+E000: no font has it
        {"plain", true},
        {"unassigned \xcd\xb8", false},       // U+0378
    };
    TMemoryDataSet ds;
    ds.AddField("Text", ftMemo);
    for (const auto& c : cases)
        ds.AppendRecord({Variant(c.Text)});
    const std::string file = dir / "cjk.pdf";
    EXPECT_EQ(ExportPdf(ds, file),
              std::vector<std::string>{file + ": 2 values hold characters that no installed font has: they are drawn "
                                              "as empty boxes (the first at field Text, record 5)"});
    const std::string text = Squeezed(Shell("pdftotext '" + file + "' -"));
    for (const auto& c : cases) {
        if (!c.Drawn)
            continue;
        EXPECT_NE(text.find(Squeezed(c.Text)), std::string::npos) << c.Text;
    }
}

TEST(PdfExporterTest, NumbersAreNeverBrokenAndColumnsTakeTheWidthOfWhatTheyHold)
{
    EnsureQtApplication();
    TempDir dir{"tabrix_pdf"};
    // Beside a text: the numbers fit. Sixteen of them: wider than the page, drawn smaller.
    // Each table has a wider number after the rows measured for the widths.
    for (const int numbers : {3, 16}) {
        SCOPED_TRACE(std::to_string(numbers) + " number columns");
        TMemoryDataSet ds;
        ds.AddField("Empty", ftInteger);
        ds.AddField("Text", ftString, 200);
        for (int n = 0; n < numbers; ++n)
            ds.AddField("N" + std::to_string(n), ftLargeint);
        std::vector<long long> written;
        for (int r = 0; r <= TKVExportToPDF::HeldRows; ++r) {
            std::vector<Variant> record = {Variant::Null(),
                                           Variant(std::string(static_cast<std::size_t>(r % 9 + 1) * 6, 'w')
                                                   + " some words to wrap beside the numbers")};
            for (int n = 0; n < numbers; ++n) {
                const long long value = r == TKVExportToPDF::HeldRows ? -9123456789012345678LL
                                                                       : 100000000000000LL * (r + 1) + n;
                record.emplace_back(value);
                written.push_back(value);
            }
            ds.AppendRecord(record);
        }
        const std::string file = dir / "numbers.pdf";
        EXPECT_TRUE(ExportPdf(ds, file).empty());

        std::istringstream words(Shell("pdftotext '" + file + "' -"));
        std::set<std::string> drawn{std::istream_iterator<std::string>(words), {}};
        for (long long value : written)
            ASSERT_TRUE(drawn.count(std::to_string(value))) << value;
        // The empty column is as wide as its caption: the next caption begins close by.
        const std::string boxes = Shell("pdftotext -bbox -f 1 -l 1 '" + file + "' -");
        const auto left = [&boxes](const std::string& Word) {
            const std::size_t at = boxes.rfind("xMin=\"", boxes.find(">" + Word + "</word>"));
            return std::stod(boxes.substr(at + 6));
        };
        EXPECT_LT(left("Text") - left("Empty"), 45) << boxes.substr(0, 2000);
    }
}

} // namespace
