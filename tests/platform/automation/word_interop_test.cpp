// What LibreOffice reads from the documents the native word processor writes.

#include "tests/platform/automation/word_test_util.h"
#include "tests/support/libreoffice_reader.h"
#include "tests/support/test_pictures.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// The body's outline without a final empty paragraph, which RTF readers drop.
std::vector<std::string> Outline(const LoDocument& doc)
{
    std::vector<std::string> r = doc.Outline;
    if (!r.empty() && r.back() == "p:") r.pop_back();
    return r;
}

class WordInterop : public WordTest, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override
    {
        WordTest::SetUp();
        if (!LibreOfficeAvailable()) GTEST_SKIP() << "LibreOffice is not installed";
    }

    // The application's export: three header lines, captions, one row per picture with its
    // name and the picture, formatted text cells, footer lines.
    TestExport PictureExport()
    {
        WriteTestPicture(Path("small.bmp"), 64, 48, 1);
        WriteTestPicture(Path("wide.bmp"), 640, 480, 2);
        WriteTestPicture(Path("pal.bmp"), 30, 20, 3, 8);
        TestExport e;
        e.Header = {"Tabrix 4.61", "Pictures & <names>", ""};
        e.HeaderAlign = {1, 0, 0};
        TestCell c1{"Picture filename"}, c2{"Picture"};
        c1.Bold = c2.Bold = true;
        c1.Align = c2.Align = 1;
        e.Rows.push_back({c1, c2});
        for (const char* f : {"small.bmp", "wide.bmp", "pal.bmp"}) {
            TestCell name{f};
            name.Font = "Courier New";
            name.ColorIndex = 6;
            name.Italic = true;
            TestCell pic{Path(f), true};
            e.Rows.push_back({name, pic});
        }
        TestCell right{"right \xC3\xA9\xE2\x82\xAC"};
        right.Align = 2;
        right.Underline = true;
        right.Highlight = 7;
        e.Rows.push_back({right, TestCell{"tab\tand\nline"}});
        e.ColWidths = {150, 0};
        e.Footer = {"Footer one", "Footer two"};
        return e;
    }
};

TEST_P(WordInterop, PictureExportReadsBack)
{
    std::string file = Path("export." + GetParam());
    RunTestExport(PictureExport(), file);
    LoDocument doc = ReadWithLibreOffice(file);

    ASSERT_EQ(doc.Tables.size(), 1u);
    const LoTable& t = doc.Tables[0];
    ASSERT_EQ(t.Rows.size(), 6u); // captions, three pictures, one text row, the empty last row
    for (const auto& row : t.Rows) ASSERT_EQ(row.size(), 2u);
    EXPECT_EQ(t.Cell(0, 0), "Picture filename");
    EXPECT_EQ(t.Cell(0, 1), "Picture");
    EXPECT_TRUE(t.Rows[0][0].Bold);
    EXPECT_EQ(t.Cell(1, 0), "small.bmp");
    EXPECT_EQ(t.Cell(2, 0), "wide.bmp");
    EXPECT_EQ(t.Cell(3, 0), "pal.bmp");
    EXPECT_EQ(t.Rows[1][0].FontName, "Courier New");
    EXPECT_EQ(t.Rows[1][0].Color, "#ff0000");
    EXPECT_TRUE(t.Rows[1][0].Italic);
    EXPECT_EQ(t.Cell(4, 0), "right \xC3\xA9\xE2\x82\xAC");
    EXPECT_TRUE(t.Rows[4][0].Underline);
    EXPECT_EQ(t.Rows[4][0].Background, "#ffff00");
    EXPECT_TRUE(t.Rows[4][0].Align == "end" || t.Rows[4][0].Align == "right") << t.Rows[4][0].Align;
    EXPECT_EQ(t.Cell(4, 1), "tab\tand\nline");
    EXPECT_EQ(t.Cell(5, 0), "");
    for (int r = 1; r <= 3; ++r) EXPECT_EQ(t.Rows[static_cast<std::size_t>(r)][1].Pictures, 1);
    ASSERT_EQ(t.ColumnWidthsPt.size(), 2u);
    EXPECT_NEAR(t.ColumnWidthsPt[0], 150, 1.5);
    EXPECT_NEAR(t.ColumnWidthsPt[1], 234, 1.5); // SetWidth(w, 0) leaves the other columns as they are

    ASSERT_EQ(doc.Pictures.size(), 3u);
    EXPECT_EQ(doc.Pictures[0].PixelWidth, 64);
    EXPECT_EQ(doc.Pictures[0].PixelHeight, 48);
    EXPECT_NEAR(doc.Pictures[0].WidthPt, 48, 0.5);
    EXPECT_NEAR(doc.Pictures[0].HeightPt, 36, 0.5);
    EXPECT_EQ(doc.Pictures[1].PixelWidth, 640);
    EXPECT_NEAR(doc.Pictures[1].WidthPt, 234 - 10.8, 0.5); // scaled to the cell
    EXPECT_NEAR(doc.Pictures[1].HeightPt, (234 - 10.8) * 0.75, 0.5);
    EXPECT_EQ(doc.Pictures[2].PixelWidth, 30);

    // header lines, the table, footer lines, the final empty paragraph
    std::vector<std::string> outline = {"p:Tabrix 4.61", "p:Pictures & <names>", "p:", "table:0",
                                        "p:Footer one", "p:Footer two"};
    EXPECT_EQ(Outline(doc), outline);
    EXPECT_EQ(doc.Paragraphs[0].Align, "center");
    EXPECT_NEAR(doc.PageWidthPt, 612, 0.5);
    EXPECT_NEAR(doc.MarginLeftPt, 72, 0.5);
}

TEST_P(WordInterop, PageSetupAndBorders)
{
    TestExport e;
    e.Header = {"Landscape"};
    e.Rows = {{TestCell{"a"}, TestCell{"b"}}};
    e.TopMargin = 36;
    e.LeftMargin = 90;
    e.Orientation = 1;
    e.ColLines = false;
    std::string file = Path("page." + GetParam());
    RunTestExport(e, file);
    LoDocument doc = ReadWithLibreOffice(file);
    EXPECT_NEAR(doc.PageWidthPt, 792, 0.5);
    EXPECT_NEAR(doc.PageHeightPt, 612, 0.5);
    EXPECT_NEAR(doc.MarginTopPt, 36, 0.5);
    EXPECT_NEAR(doc.MarginLeftPt, 90, 0.5);
    ASSERT_EQ(doc.Tables.size(), 1u);
    EXPECT_EQ(doc.Tables[0].Cell(0, 0), "a");
    // row lines only: horizontal borders, no vertical ones
    EXPECT_NE(doc.Xml.find("fo:border-top=\"0.5pt solid"), std::string::npos);
    EXPECT_EQ(doc.Xml.find("fo:border-left=\"0.5pt solid"), std::string::npos);
}

TEST_P(WordInterop, MergeKeepsTheExistingContent)
{
    std::string file = Path("merge." + GetParam());
    TestExport first;
    first.Header = {"Existing line"};
    first.Rows = {{TestCell{"old a"}, TestCell{"old b"}}};
    RunTestExport(first, file);
    TestExport second;
    second.Header = {"New line"};
    second.Rows = {{TestCell{"new a"}, TestCell{"new b"}}};
    second.OpenFile = file;
    RunTestExport(second, file);
    LoDocument doc = ReadWithLibreOffice(file);
    ASSERT_EQ(doc.Tables.size(), 2u);
    EXPECT_EQ(doc.Tables[0].Cell(0, 0), "old a");
    EXPECT_EQ(doc.Tables[1].Cell(0, 1), "new b");
    ASSERT_GE(doc.Paragraphs.size(), 2u);
    EXPECT_EQ(doc.Paragraphs[0].Text, "Existing line");
    // the new text goes into the existing document's empty last paragraph
    std::vector<std::string> outline = {"p:Existing line", "table:0", "p:New line", "table:1"};
    EXPECT_EQ(Outline(doc), outline);
}

// A merge without header lines: the new table must not join the document's last table.
// The new page setup replaces the document's own.
TEST_P(WordInterop, MergeWithoutHeaderLinesKeepsTwoTablesAndTheNewPage)
{
    std::string file = Path("merge." + GetParam());
    TestExport first;
    first.Header = {"Existing line"};
    first.Rows = {{TestCell{"old a"}, TestCell{"old b"}}};
    RunTestExport(first, file);
    TestExport second;
    second.Rows = {{TestCell{"new a"}, TestCell{"new b"}}};
    second.OpenFile = file;
    second.Orientation = 1;
    second.TopMargin = 30;
    RunTestExport(second, file);
    LoDocument doc = ReadWithLibreOffice(file);
    ASSERT_EQ(doc.Tables.size(), 2u);
    EXPECT_EQ(doc.Tables[0].Rows.size(), 2u);
    EXPECT_EQ(doc.Tables[1].Cell(0, 0), "new a");
    EXPECT_NEAR(doc.PageWidthPt, 792, 0.5);
    EXPECT_NEAR(doc.PageHeightPt, 612, 0.5);
    EXPECT_NEAR(doc.MarginTopPt, 30, 0.5);
}

TEST_P(WordInterop, DifficultTextStaysReadable)
{
    // "\u8249\'8b\u252\'fc>" is what RTF readers without Unicode would get wrong with a '?' fallback
    std::string text = std::string("a\0b", 3) + "<&>\x01\xff{}\\" + "\xF0\x9F\x98\x80" +
                       "\xE2\x80\xB9\xC3\xBC> \xD0\x9F\xD1\x80\xD0\xB8 \xE6\x97\xA5";
    TestExport e;
    e.Header = {text};
    e.Rows = {{TestCell{text}, TestCell{"x"}}};
    std::string file = Path("text." + GetParam());
    RunTestExport(e, file);
    LoDocument doc = ReadWithLibreOffice(file);
    std::string expected = "a\xE2\x90\x80" "b<&>\xE2\x90\x81\xC3\xBF{}\\\xF0\x9F\x98\x80"
                           "\xE2\x80\xB9\xC3\xBC> \xD0\x9F\xD1\x80\xD0\xB8 \xE6\x97\xA5";
    ASSERT_FALSE(doc.Paragraphs.empty());
    EXPECT_EQ(doc.Paragraphs[0].Text, expected);
    ASSERT_EQ(doc.Tables.size(), 1u);
    EXPECT_EQ(doc.Tables[0].Cell(0, 0), expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, WordInterop, ::testing::Values("docx", "doc"));

// An RTF template as word processors write it: header groups, then the document's page and
// protection words, then a first section with page words of its own. A new page setup and
// protection replace them all, after the header groups.
TEST_F(WordTest, RtfTemplateTakesTheNewPageSetup)
{
    if (!LibreOfficeAvailable()) GTEST_SKIP() << "LibreOffice is not installed";
    std::string templ = Path("letter.rtf");
    WriteWholeFile(templ, "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\froman Times New Roman;}}"
                          "{\\colortbl;\\red0\\green0\\blue0;}\n{\\stylesheet{\\s0\\snext0 Normal;}}"
                          "{\\info{\\title Letter}}\n\\paperw12240\\paperh15840\\margl1800\\margr1800\\margt1440"
                          "\\margb1440\\enforceprot0\\protlevel1\n\\sectd\\pgwsxn12240\\pghsxn15840\\marglsxn1800"
                          "\\margrsxn1800\\margtsxn1440\\margbsxn1440\n\\pard\\plain Letter\\par\n}\n");
    TestExport e;
    e.OpenFile = templ;
    e.Header = {"Report"};
    e.Rows = {{TestCell{"a"}, TestCell{"b"}}};
    e.Orientation = 1;
    e.TopMargin = 30;
    e.Password = "pw";
    std::string file = Path("out.rtf");
    RunTestExport(e, file);
    std::string rtf = ReadWholeFile(file);
    for (const char* gone : {"\\margt1440", "\\margtsxn1440", "\\pgwsxn", "\\enforceprot0", "\\protlevel1"})
        EXPECT_EQ(rtf.find(gone), std::string::npos) << gone;
    std::size_t page = rtf.find("\\paperw15840");
    EXPECT_GT(page, rtf.find("{\\info"));
    EXPECT_LT(page, rtf.find("\\sectd"));
    EXPECT_NE(rtf.find("\\enforceprot1\\protlevel3"), std::string::npos);

    LoDocument doc = ReadWithLibreOffice(file);
    EXPECT_NEAR(doc.PageWidthPt, 792, 0.5);
    EXPECT_NEAR(doc.PageHeightPt, 612, 0.5);
    EXPECT_NEAR(doc.MarginTopPt, 30, 0.5);
    EXPECT_NEAR(doc.MarginLeftPt, 90, 0.5); // the template's own
    EXPECT_EQ(doc.Paragraphs.at(0).Text, "Letter");
    EXPECT_EQ(doc.Tables.size(), 1u);
}

} // namespace

namespace {

// A document another program made (python-docx, from Word's own template): merging keeps
// its content, styles and parts.
TEST_F(WordTest, MergeIntoAForeignDocx)
{
    if (!LibreOfficeAvailable()) GTEST_SKIP() << "LibreOffice is not installed";
    if (std::system("/usr/bin/python3 -c 'import docx' 2>/dev/null") != 0) GTEST_SKIP() << "python-docx is missing";
    std::string file = Path("foreign.docx");
    WriteTestPicture(Path("p.png"), 32, 16, 4);
    std::string script = "import docx\n"
                         "d = docx.Document()\n"
                         "d.add_heading('Foreign heading', 1)\n"
                         "d.add_paragraph('Foreign text')\n"
                         "t = d.add_table(rows=1, cols=2)\n"
                         "t.cell(0, 0).text = 'f1'\n"
                         "t.cell(0, 1).paragraphs[0].add_run().add_picture('" + Path("p.png") + "')\n"
                         "d.add_paragraph('Foreign last')\n"
                         "from docx.oxml.ns import qn\n" // its template's zoom lacks the required percent
                         "z = d.settings.element.find(qn('w:zoom'))\n"
                         "if z is not None: z.set(qn('w:percent'), '100')\n"
                         "d.save('" + file + "')\n";
    WriteWholeFile(Path("make.py"), script);
    ASSERT_EQ(std::system(("/usr/bin/python3 " + Path("make.py")).c_str()), 0);
    WriteTestPicture(Path("q.bmp"), 50, 40, 5);
    TestExport e;
    e.OpenFile = file;
    e.Header = {"Appended"};
    e.Rows = {{TestCell{"n1"}, TestCell{Path("q.bmp"), true}}};
    e.Password = "x";
    RunTestExport(e, file);

    LoDocument doc = ReadWithLibreOffice(file);
    // a last paragraph with text is kept whole; the new content starts a paragraph of its own
    std::vector<std::string> outline = {"p:Foreign heading", "p:Foreign text", "table:0", "p:Foreign last",
                                        "p:Appended", "table:1", "p:"};
    EXPECT_EQ(doc.Outline, outline);
    ASSERT_EQ(doc.Tables.size(), 2u);
    EXPECT_EQ(doc.Tables[0].Cell(0, 0), "f1");
    EXPECT_EQ(doc.Tables[1].Cell(0, 0), "n1");
    ASSERT_EQ(doc.Pictures.size(), 2u);
    EXPECT_EQ(doc.Pictures[0].PixelWidth, 32);
    EXPECT_EQ(doc.Pictures[1].PixelWidth, 50);
}

} // namespace
