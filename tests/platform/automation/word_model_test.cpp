// The native word processor's object model, driven through the bridge.

#include "framework/exceptions.h"
#include "platform/automation/automation.h"
#include "platform/automation/word/word_table_rows.h"
#include "tests/platform/automation/word_test_util.h"
#include "tests/support/test_pictures.h"

#include <gtest/gtest.h>

namespace {

class WordModel : public WordTest {
protected:
    void SetUp() override
    {
        WordTest::SetUp();
        App = CreateAutomationObject("Word.Application");
        Doc = App.Call("Documents").Call("Add");
    }
    void TearDown() override
    {
        if (!App.Object()->HasQuit()) App.Call("Quit");
    }
    void Line(const std::string& text)
    {
        AutomationValue t = text;
        Doc.Call("Range").Call("InsertAfter", {ByRef(t)});
        Doc.Call("Range").Call("InsertParagraphAfter");
    }
    int End() { return Doc.Call("Content").Call("End").ToInteger(); }
    AutomationValue AddTable(int rows, int cols)
    {
        AutomationValue where = Doc.Call("Range", {End() - 1, End() - 1});
        return Doc.Call("Range").Call("Tables").Call("Add", {Named("Range", where), Named("NumRows", rows),
                                                              Named("NumColumns", cols)});
    }
    std::string Message(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const Exception& e) {
            return e.Message();
        }
        return "(no exception)";
    }

    AutomationValue App, Doc;
};

TEST_F(WordModel, TextGoesToTheEndAndPositionsCountCharacters)
{
    EXPECT_EQ(End(), 1); // a new document is its final paragraph mark
    Line("abc");
    EXPECT_EQ(End(), 5);
    Line("\xC3\xA9t\xC3\xA9"); // "été": three characters, five bytes
    EXPECT_EQ(End(), 9);
    EXPECT_EQ(Doc.Call("Range").Call("Text").ToString(), "abc\r\xC3\xA9t\xC3\xA9\r\r");
    EXPECT_EQ(Doc.Call("Range", {0, 3}).Call("Text").ToString(), "abc\r");
    EXPECT_TRUE(App.Call("ActiveDocument") == App.Call("ActiveDocument") ||
                App.Call("ActiveDocument").Object()->TypeName() == "Document");
}

TEST_F(WordModel, TableGoesBeforeTheFinalParagraphMark)
{
    Line("Header");
    AutomationValue table = AddTable(1, 2);
    EXPECT_EQ(Doc.Call("Tables").Call("Count").ToInteger(), 1);
    EXPECT_EQ(table.Call("Rows").Call("Count").ToInteger(), 1);
    table.Call("Rows").Call("Add");
    AutomationValue t = "x";
    table.Call("Cell", {2, 2}).Call("Range").Call("InsertAfter", {ByRef(t)});
    EXPECT_EQ(table.Call("Cell", {2, 2}).Call("Range").Call("Text").ToString(), "x");
    Line("Footer");
    // header paragraph, the table, then the footer in the final paragraph
    EXPECT_EQ(Doc.Call("Range").Call("Text").ToString(), "Header\rFooter\r\r");
    // positions: "Header" + mark (7), two rows of two cells + row marks (3 + 4), "Footer" + mark, final mark
    EXPECT_EQ(End(), 7 + 3 + 4 + 7 + 1);
}

TEST_F(WordModel, TableInsideAParagraphSplitsIt)
{
    AutomationValue t = "abcdef";
    Doc.Call("Range").Call("InsertAfter", {ByRef(t)});
    AutomationValue where = Doc.Call("Range", {3, 3});
    Doc.Call("Tables").Call("Add", {Named("Range", where), Named("NumRows", 1), Named("NumColumns", 1)});
    EXPECT_EQ(Doc.Call("Range").Call("Text").ToString(), "abc\rdef\r");
}

TEST_F(WordModel, CellsAreAddressedFromOne)
{
    AutomationValue table = AddTable(2, 3);
    EXPECT_NO_THROW(table.Call("Cell", {1, 1}));
    EXPECT_NO_THROW(table.Call("Cell", {2, 3}));
    const std::string missing = "The requested member of the collection does not exist.";
    EXPECT_EQ(Message([&] { table.Call("Cell", {0, 1}); }), missing);
    EXPECT_EQ(Message([&] { table.Call("Cell", {3, 1}); }), missing);
    EXPECT_EQ(Message([&] { table.Call("Cell", {1, 4}); }), missing);
    EXPECT_EQ(Message([&] { table.Call("Columns").Call("Item", {0}); }), missing);
    EXPECT_EQ(Message([&] { table.Call("Borders").Call("Item", {-7}); }), missing);
    EXPECT_EQ(Message([&] { table.Call("Borders").Call("Item", {1}); }), missing);
    AutomationValue row = 2; // the row goes by reference
    EXPECT_NO_THROW(table.Call("Cell", {ByRef(row), 3}).Call("Range"));
    EXPECT_EQ(row.ToInteger(), 2);
}

TEST_F(WordModel, ColumnWidthsFollowThePage)
{
    AutomationValue table = AddTable(1, 3);
    EXPECT_EQ(table.Call("Columns").Call("Width").ToInteger(), 468); // Letter, 1in margins
    EXPECT_NEAR(table.Call("Columns").Call("Item", {1}).Call("Width").ToReal(), 156, 0.01);
    table.Call("Columns").Call("Item", {2}).Call("SetWidth", {100, 0});
    EXPECT_EQ(table.Call("Columns").Call("Width").ToInteger(), 156 + 100 + 156);
    table.Call("Columns").Put("Width", 206.0f);
    EXPECT_NEAR(table.Call("Columns").Call("Width").ToReal(), 206, 0.01);

    Doc.Call("PageSetup").Put("LeftMargin", 36.0f);
    Doc.Call("PageSetup").Put("Orientation", 1);
    AutomationValue wide = AddTable(1, 2);
    EXPECT_EQ(wide.Call("Columns").Call("Width").ToInteger(), 792 - 36 - 72);
    EXPECT_EQ(Doc.Call("PageSetup").Call("Orientation").ToInteger(), 1);
    EXPECT_THROW(Doc.Call("PageSetup").Put("TopMargin", 5000), Exception);
    EXPECT_THROW(Doc.Call("PageSetup").Put("Orientation", 2), Exception);
}

TEST_F(WordModel, CellFormattingIsReadBack)
{
    AutomationValue table = AddTable(1, 1);
    AutomationValue r = table.Call("Cell", {1, 1}).Call("Range");
    EXPECT_EQ(r.Call("Font").Call("Name").ToString(), "Times New Roman");
    EXPECT_TRUE(r.Call("ParagraphFormat").Call("Alignment") == 0);
    r.Put("Bold", 1);
    r.Put("Italic", true);
    AutomationValue idx = 6;
    r.Call("Font").Put("ColorIndex", idx);
    r.Call("Font").Put("Name", "Arial");
    r.Put("HighlightColorIndex", 7);
    r.Call("ParagraphFormat").Put("Alignment", 2);
    AutomationValue again = table.Call("Cell", {1, 1}).Call("Range");
    EXPECT_EQ(again.Call("Bold").ToInteger(), -1);
    EXPECT_EQ(again.Call("Italic").ToInteger(), -1);
    EXPECT_EQ(again.Call("Underline").ToInteger(), 0);
    EXPECT_EQ(again.Call("Font").Call("ColorIndex").ToInteger(), 6);
    EXPECT_EQ(again.Call("Font").Call("Name").ToString(), "Arial");
    EXPECT_EQ(again.Call("HighlightColorIndex").ToInteger(), 7);
    EXPECT_EQ(again.Call("ParagraphFormat").Call("Alignment").ToInteger(), 2);
    EXPECT_THROW(r.Put("HighlightColorIndex", 17), Exception);
    EXPECT_THROW(r.Call("ParagraphFormat").Put("Alignment", 4), Exception);
}

TEST_F(WordModel, WholeDocumentAlignmentFormatsTheParagraphBeingWritten)
{
    Doc.Call("Range").Call("ParagraphFormat").Put("Alignment", 1);
    Line("centred");
    Doc.Call("Range").Call("ParagraphFormat").Put("Alignment", 2);
    Line("right");
    // the new final paragraph took over the last alignment; the first kept its own
    EXPECT_EQ(Doc.Call("Range", {0, 0}).Call("ParagraphFormat").Call("Alignment").ToInteger(), 1);
    EXPECT_EQ(Doc.Call("Range", {8, 8}).Call("ParagraphFormat").Call("Alignment").ToInteger(), 2);
}

TEST_F(WordModel, PicturesSitInTheirCellScaledToFit)
{
    std::string small = Path("small.bmp"), big = Path("big.bmp");
    WriteTestPicture(small, 64, 48, 1);
    WriteTestPicture(big, 800, 600, 2);
    AutomationValue table = AddTable(1, 2);
    auto add = [&](const std::string& file, int col) {
        AutomationValue where = table.Call("Cell", {1, col}).Call("Range");
        AutomationValue name = file;
        return Doc.Call("InlineShapes").Call("AddPicture", {Named("FileName", ByRef(name)), Named("LinkToFile", false),
                                                             Named("SaveWithDocument", true), Named("Range", where)});
    };
    AutomationValue s = add(small, 1);
    EXPECT_NEAR(s.Call("Width").ToReal(), 48, 0.01); // 64 px at 96 dpi
    EXPECT_NEAR(s.Call("Height").ToReal(), 36, 0.01);
    AutomationValue b = add(big, 2);
    EXPECT_NEAR(b.Call("Width").ToReal(), 234 - 10.8, 0.01); // the cell's width less its padding
    EXPECT_NEAR(b.Call("Height").ToReal(), (234 - 10.8) * 0.75, 0.01);
    // a tall picture fits the text height of the page (792 - 2 x 72) as well
    WriteTestPicture(Path("tall.bmp"), 20, 900, 3);
    AutomationValue t = add(Path("tall.bmp"), 1);
    EXPECT_NEAR(t.Call("Height").ToReal(), 648, 0.01);
    EXPECT_NEAR(t.Call("Width").ToReal(), 648.0 * 20 / 900, 0.01);
    EXPECT_EQ(Doc.Call("InlineShapes").Call("Count").ToInteger(), 3);
    EXPECT_THROW(add(Path("missing.bmp"), 1), Exception);
    WriteWholeFile(Path("junk.bmp"), "BM not a bitmap");
    EXPECT_THROW(add(Path("junk.bmp"), 1), Exception);
}

TEST_F(WordModel, ErrorsNameTheMember)
{
    EXPECT_EQ(Message([&] { Doc.Call("Foo"); }), "Unknown member 'Foo' of Document");
    EXPECT_EQ(Message([&] { Doc.Call("Range").Call("Bar"); }), "Unknown member 'Bar' of Range");
    EXPECT_NE(Message([&] { Doc.Call("Tables").Call("Add", {Named("Rnge", 1)}); }).find("Rnge"), std::string::npos);
    EXPECT_NE(Message([&] { Doc.Call("Tables").Call("Add", {Named("NumRows", 1)}); }).find("Range"), std::string::npos);
    EXPECT_NE(Message([&] { Doc.Call("Range", {0, 99}); }).find("out of range"), std::string::npos);
    EXPECT_NO_THROW(Doc.Call("range").Call("INSERTAFTER", {"case does not matter"}));
}

TEST_F(WordModel, ApplicationMembers)
{
    EXPECT_TRUE(App.Call("Visible") == true);
    App.Put("Visible", false);
    EXPECT_TRUE(App.Call("Visible") == false);
    AutomationValue picas = 2.0f;
    EXPECT_NEAR(App.Call("PicasToPoints", {ByRef(picas)}).ToReal(), 24, 1e-6);
    App.Call("Options").Put("CheckSpellingAsYouType", false);
    EXPECT_TRUE(App.Call("Options").Call("CheckSpellingAsYouType") == false);
    EXPECT_EQ(App.Call("Documents").Call("Count").ToInteger(), 1);
    Doc.Call("Close");
    EXPECT_THROW(Doc.Call("Range"), Exception);
    EXPECT_THROW(App.Call("ActiveDocument"), Exception);
    App.Call("Quit");
    EXPECT_THROW(App.Call("Documents"), Exception);
}

TEST_F(WordModel, GetActiveFindsTheRunningInstance)
{
    AutomationValue active = GetActiveAutomationObject("Word.Application");
    EXPECT_TRUE(active == App);
    App.Call("Quit");
    ForgetRunningAutomationObjects();
    EXPECT_THROW(GetActiveAutomationObject("Word.Application"), Exception);
}

} // namespace

// A table far larger than the rows kept in memory: every cell, picture and format comes
// back as written, also for old rows changed after they were spilled.
TEST(WordTableRowsTest, SpilledRowsComeBackWhole)
{
    const int columns = 3;
    const int rows = static_cast<int>(WordTableRows::ResidentCells / columns) * 4;
    WordTableRows table(columns);
    auto text = [](int r, int c, int version) {
        return "row " + std::to_string(r) + " cell " + std::to_string(c) + (version ? " changed" : "");
    };
    for (int r = 0; r < rows; ++r) {
        table.Add(1);
        for (int c = 0; c < columns; ++c)
            if ((r + c) % 7 != 0) table.Cell(r, c).Text = text(r, c, 0); // some cells stay empty
        if (r % 1000 == 1) {
            WordParagraph& p = table.Cell(r, 1);
            p.Format = 5;
            p.Alignment = 2;
            p.Pictures = std::make_unique<std::vector<WordInlinePicture>>(1);
            (*p.Pictures)[0] = WordInlinePicture{r, 3, 12.5, 7.25};
        }
    }
    for (int r : {0, 2, rows / 2}) table.Cell(r, 2).Text = text(r, 2, 1);

    int seen = 0;
    table.ForEach([&](int r, const std::vector<WordParagraph>& cells) {
        ASSERT_EQ(r, seen++);
        ASSERT_EQ(cells.size(), static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            const bool changed = c == 2 && (r == 0 || r == 2 || r == rows / 2);
            const std::string want = changed ? text(r, c, 1) : (r + c) % 7 != 0 ? text(r, c, 0) : "";
            ASSERT_EQ(cells[static_cast<std::size_t>(c)].Text, want) << r << "," << c;
        }
        const WordParagraph& p = cells[1];
        if (r % 1000 == 1) {
            ASSERT_EQ(p.PictureCount(), 1u);
            EXPECT_EQ((*p.Pictures)[0].Picture, r);
            EXPECT_EQ((*p.Pictures)[0].TextOffset, 3u);
            EXPECT_EQ((*p.Pictures)[0].HeightPt, 7.25);
            EXPECT_EQ(p.Format, 5u);
            EXPECT_EQ(p.Alignment, 2);
        } else {
            ASSERT_EQ(p.PictureCount(), 0u);
        }
    });
    EXPECT_EQ(seen, rows);
    EXPECT_THROW(table.Cell(rows, 0), Exception);
}
