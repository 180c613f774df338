// The word-processor exporter's exact exchange with the word processor, recorded.

#include "office/word_exporter.h"
#include "platform/automation/recording_server.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/streams.h"
#include "framework/ui_services.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#ifndef TABRIX_TEST_DATA
#define TABRIX_TEST_DATA "tests/data"
#endif

namespace {

class WordConformanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui.ForceHasGui = 0;
        guard = server.Register("Word.Application");
        server.Answer("Content.End", AutomationValue(1));
        server.Answer("Columns.Width", AutomationValue(468));
        server.Answer("Font.Name", AutomationValue("Arial"));
        server.Answer("ParagraphFormat.Alignment", AutomationValue(0));
        server.Answer("PicasToPoints", AutomationValue(12.0));
        exporter.AnimatedStatus = false;
        exporter.Options.Exclude(soShowMessage);
        exporter.ColumnSource = csDataEngine;
        exporter.SetDataEngine(&engine);
        exporter.SetFileName("/tmp/tabrix-conformance/out.doc");
        engine.OnCount = [this](TPersistent*, int& count) { count = rows; };
        engine.OnFirst = [this](TPersistent*) { row = 0; };
        engine.OnNext = [this](TPersistent*, bool&) { ++row; };
    }

    std::string Log() const { return server.LogText(); }

    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    RecordingAutomationServer server;
    std::unique_ptr<ScopedAutomationServer> guard;
    TKVEVirtualDataEngine engine;
    TKVExportToWord exporter;
    int rows = 1;
    int row = 0;
};

TEST_F(WordConformanceTest, PictureProgramShape)
{
    const std::string bitmap = ReadFileToString(TABRIX_TEST_DATA "/red_16x8.bmp");
    exporter.AddTitle = true;
    exporter.Header().SetText("Tabrix suite: https://tabrix.example.org\r\nPicture exporting\r\n\r\n");
    engine.OnFillColumns = [](TPersistent* sender) {
        auto* columns = static_cast<TKVEColumns*>(sender);
        TKVEColumn* name = columns->Add();
        name->FieldName = "FileName";
        name->Title().Caption = "Picture filename";
        name->Alignment = taCenter;
        name->Width = 20;
        TKVEColumn* graphic = columns->Add();
        graphic->FieldName = "Graphic";
        graphic->Title().Caption = "Picture";
        graphic->DataType = ctGraphic;
        graphic->Width = 30;
    };
    std::string pictureFile;
    server.Answer("AddPicture", [&](RecordedCall& call) {
        const AutomationArg* file = call.Args.Find(99, "FileName");
        pictureFile = file->Value().ToString();
        struct stat st {};
        EXPECT_EQ(::stat(pictureFile.c_str(), &st), 0);
        EXPECT_EQ(st.st_nlink, 0u); // in no folder: nothing is left when the process dies
        return AutomationValue();
    });
    engine.OnGetValue = [&](TPersistent*, TKVEColumn* column, Variant& value) {
        value = column->FieldName == "FileName" ? Variant("red_16x8.bmp") : Variant(bitmap);
    };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    std::string log = Log();
    // the temporary picture name differs from run to run
    size_t at = log.find(pictureFile);
    ASSERT_NE(at, std::string::npos);
    log.replace(at, pictureFile.size(), "<picture>");
    EXPECT_EQ(log,
              "create Word.Application\n"
              "put Word.Application.Visible = 0\n"
              "put Word.Application.ScreenUpdating = 0\n"
              "call Word.Application.Options()\n"
              "put Options.CheckSpellingAsYouType = 0\n"
              "call Word.Application.Options()\n"
              "put Options.CheckGrammarAsYouType = 0\n"
              "call Word.Application.Documents()\n"
              "call Documents.Add()\n"
              "call Word.Application.ActiveDocument()\n"
              "call ActiveDocument.Range()\n"
              "call Range.ParagraphFormat()\n"
              "put ParagraphFormat.Alignment = 0\n"
              "call ActiveDocument.Range()\n"
              "call Range.InsertAfter(\"Tabrix suite: https://tabrix.example.org\"&)\n"
              "call ActiveDocument.Range()\n"
              "call Range.InsertParagraphAfter()\n"
              "call ActiveDocument.Range()\n"
              "call Range.ParagraphFormat()\n"
              "put ParagraphFormat.Alignment = 0\n"
              "call ActiveDocument.Range()\n"
              "call Range.InsertAfter(\"Picture exporting\"&)\n"
              "call ActiveDocument.Range()\n"
              "call Range.InsertParagraphAfter()\n"
              "call ActiveDocument.Range()\n"
              "call Range.ParagraphFormat()\n"
              "put ParagraphFormat.Alignment = 0\n"
              "call ActiveDocument.Range()\n"
              "call Range.InsertAfter(\"\"&)\n"
              "call ActiveDocument.Range()\n"
              "call Range.InsertParagraphAfter()\n"
              "call ActiveDocument.Content()\n"
              "call Content.End()\n"
              "call ActiveDocument.Content()\n"
              "call Content.End()\n"
              "call ActiveDocument.Range(0, 0)\n"
              "call ActiveDocument.Range()\n"
              "call Range.Tables()\n"
              "call Tables.Add(Range:=<Range>, NumRows:=1, NumColumns:=2)\n"
              "call Add.Borders()\n"
              "call Borders.Item(-2)\n"
              "put Item.LineStyle = 1\n"
              "call Add.Borders()\n"
              "call Borders.Item(-4)\n"
              "put Item.LineStyle = 1\n"
              "call Add.Borders()\n"
              "call Borders.Item(-6)\n"
              "put Item.LineStyle = 1\n"
              "call Add.Borders()\n"
              "call Borders.Item(-1)\n"
              "put Item.LineStyle = 1\n"
              "call Add.Borders()\n"
              "call Borders.Item(-3)\n"
              "put Item.LineStyle = 1\n"
              "call Add.Borders()\n"
              "call Borders.Item(-5)\n"
              "put Item.LineStyle = 1\n"
              "call Add.Columns()\n"
              "call Columns.Width()\n"
              "call Add.Columns()\n"
              "call Columns.Item(1)\n"
              "call Item.SetWidth(80, 0)\n"
              "call Add.Columns()\n"
              "call Columns.Item(2)\n"
              "call Item.SetWidth(120, 0)\n"
              "call Add.Rows()\n"
              "call Rows.Add()\n"
              "call Add.Cell(1&, 1)\n"
              "call Cell.Range()\n"
              "call Range.ParagraphFormat()\n"
              "call ParagraphFormat.Alignment()\n"
              "call Range.InsertAfter(\"Picture filename\"&)\n"
              "call Add.Cell(1&, 2)\n"
              "call Cell.Range()\n"
              "call Range.ParagraphFormat()\n"
              "call ParagraphFormat.Alignment()\n"
              "call Range.InsertAfter(\"Picture\"&)\n"
              "call Add.Rows()\n"
              "call Rows.Add()\n"
              "call Add.Cell(2&, 1)\n"
              "call Cell.Range()\n"
              "call Range.ParagraphFormat()\n"
              "call ParagraphFormat.Alignment()\n"
              "call Range.ParagraphFormat()\n"
              "put ParagraphFormat.Alignment = 1&\n"
              "call Range.InsertAfter(\"red_16x8.bmp\"&)\n"
              "call Add.Cell(2&, 2)\n"
              "call Cell.Range()\n"
              "call ActiveDocument.InlineShapes()\n"
              "call InlineShapes.AddPicture(FileName:=\"<picture>\"&, LinkToFile:=0, SaveWithDocument:=-1, "
              "Range:=<Range>)\n"
              "call ActiveDocument.SaveAs(\"/tmp/tabrix-conformance/out.doc\"&)\n"
              "call ActiveDocument.Close()\n"
              "put Word.Application.ScreenUpdating = -1\n"
              "call Word.Application.Quit()\n");
}


// Lines of the log that contain all of the given parts, in order.
std::vector<std::string> Lines(const std::string& log, const std::string& part)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        std::string line = log.substr(start, end - start);
        if (line.find(part) != std::string::npos)
            out.push_back(line);
        start = end + 1;
    }
    return out;
}

class WordSmallExportTest : public WordConformanceTest {
protected:
    void SetUp() override
    {
        WordConformanceTest::SetUp();
        engine.OnFillColumns = [](TPersistent* sender) {
            auto* columns = static_cast<TKVEColumns*>(sender);
            TKVEColumn* a = columns->Add();
            a->FieldName = "A";
            a->Width = 100;
            TKVEColumn* b = columns->Add();
            b->FieldName = "B";
            b->Width = 50;
        };
        engine.OnGetValue = [this](TPersistent*, TKVEColumn* column, Variant& value) {
            value = Variant(column->FieldName + std::to_string(row));
        };
    }
};

TEST_F(WordSmallExportTest, BordersFollowTheLineOptions)
{
    exporter.Options.Exclude(soColLines).Exclude(soRowLines);
    exporter.Execute();
    auto puts = Lines(Log(), "LineStyle");
    EXPECT_EQ(puts, std::vector<std::string>(6, "put Item.LineStyle = 0"));
    server.ClearLog();
    exporter.Options.Include(soColLines);
    exporter.Execute();
    std::string log = Log();
    auto items = Lines(log, "Borders.Item");
    EXPECT_EQ(items, (std::vector<std::string>{"call Borders.Item(-2)", "call Borders.Item(-4)", "call Borders.Item(-6)",
                                               "call Borders.Item(-1)", "call Borders.Item(-3)",
                                               "call Borders.Item(-5)"}));
    puts = Lines(log, "LineStyle");
    EXPECT_EQ(puts, (std::vector<std::string>{"put Item.LineStyle = 1", "put Item.LineStyle = 1",
                                              "put Item.LineStyle = 1", "put Item.LineStyle = 0",
                                              "put Item.LineStyle = 0", "put Item.LineStyle = 0"}));
}

TEST_F(WordSmallExportTest, WidthsScaledToTheAvailableWidth)
{
    // 100 and 50 characters are 400 and 200 points; the table offers 468.
    exporter.Execute();
    EXPECT_EQ(Lines(Log(), "SetWidth"),
              (std::vector<std::string>{"call Item.SetWidth(312, 0)", "call Item.SetWidth(156, 0)"}));
}

TEST_F(WordSmallExportTest, PageSetupInInchesCentimetresAndPicas)
{
    TKVEPageSetup page;
    page.UseDefault = false;
    page.Measure = emInch;
    page.TopMargin = 1;
    page.LeftMargin = 0; // not set at all
    page.BottomMargin = -2;
    page.RightMargin = 0.5f;
    page.TableWidth = 6;
    page.Orientation = emLandscape;
    exporter.SetPageSetup(page);
    page.TopMargin = 99; // the exporter keeps its own copy
    exporter.Execute();
    std::string log = Log();
    EXPECT_EQ(Lines(log, "put PageSetup."),
              (std::vector<std::string>{"put PageSetup.TopMargin = 72.0f", "put PageSetup.RightMargin = 36.0f",
                                        "put PageSetup.Orientation = 1"}));
    EXPECT_EQ(Lines(log, "put Columns.Width"), (std::vector<std::string>{"put Columns.Width = 432.0f"}));

    server.ClearLog();
    page.Measure = emCentimeters;
    page.TopMargin = 2;
    page.RightMargin = 0;
    page.TableWidth = 0;
    page.Orientation = emPortrait;
    exporter.SetPageSetup(page);
    exporter.Execute();
    log = Log();
    EXPECT_EQ(Lines(log, "put PageSetup."),
              (std::vector<std::string>{"put PageSetup.TopMargin = 56.7f", "put PageSetup.Orientation = 0"}));

    server.ClearLog();
    page.Measure = emPicas;
    page.TopMargin = 1;
    exporter.SetPageSetup(page);
    exporter.Execute();
    log = Log();
    EXPECT_EQ(Lines(log, "PicasToPoints"), (std::vector<std::string>{"call Word.Application.PicasToPoints(1.0f&)"}));
    EXPECT_EQ(Lines(log, "TopMargin"), (std::vector<std::string>{"put PageSetup.TopMargin = 12.0f"}));
}

TEST_F(WordSmallExportTest, FontsAndColoursWithColorsFonts)
{
    exporter.Options.Include(soColorsFonts);
    exporter.OnGetCellParams = [](TPersistent*, TField*, std::string& text, TFont* font, TAlignment&,
                                  TColor& background, TCellType&) {
        if (text == "A0") {
            font->Style = fsBold | fsItalic | fsUnderline;
            font->Color = clRed;
            font->Name = "Courier New";
            background = clYellow;
        } else {
            font->Color = 0x123456; // not in the table: nothing is set
            background = 0x654321;
        }
    };
    exporter.Execute();
    std::string log = Log();
    EXPECT_EQ(Lines(log, "put Range."),
              (std::vector<std::string>{"put Range.Bold = 1", "put Range.Italic = 1", "put Range.Underline = 1",
                                        "put Range.HighlightColorIndex = 7&"}));
    EXPECT_EQ(Lines(log, "put Font."),
              (std::vector<std::string>{"put Font.ColorIndex = 6&", "put Font.Name = \"Courier New\""}));
    EXPECT_EQ(TKVExportToWord::GetColorIndex(clWindow), 8);
    EXPECT_EQ(TKVExportToWord::GetColorIndex(clWindowText), 1);
    EXPECT_EQ(TKVExportToWord::GetColorIndex(clSilver), 16);
    EXPECT_EQ(TKVExportToWord::GetColorIndex(0x010203), 0);
}

TEST_F(WordSmallExportTest, CurrentInstanceIsUsedHiddenAndLeftRunning)
{
    exporter.UseCurrentInstance = true;
    exporter.Execute();
    std::string log = Log();
    // nothing running: one is started and told to quit
    EXPECT_EQ(Lines(log, "create "), (std::vector<std::string>{"create Word.Application"}));
    EXPECT_EQ(Lines(log, "Quit"), (std::vector<std::string>{"call Word.Application.Quit()"}));

    AutomationValue running = CreateAutomationObject("Word.Application");
    server.ClearLog();
    exporter.Execute();
    log = Log();
    EXPECT_TRUE(Lines(log, "create ").empty());
    EXPECT_TRUE(Lines(log, "Quit").empty());
    EXPECT_EQ(Lines(log, "Visible"), (std::vector<std::string>{"put Word.Application.Visible = 0"}));
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
}

TEST_F(WordSmallExportTest, FailuresQuitTheWordProcessorItStarted)
{
    ForgetRunningAutomationObjects();
    const std::function<void()> arms[] = {
        // before the document exists
        [this] {
            exporter.TemplateFile = "/no/such/template.doc";
            server.Fail("Documents.Open", "The template cannot be opened.");
        },
        // while the finished document is saved
        [this] {
            exporter.TemplateFile.clear();
            server.Fail("SaveAs", "The disk is full.");
        },
    };
    for (const auto& arm : arms) {
        arm();
        server.ClearLog();
        exporter.Execute();
        EXPECT_EQ(exporter.Statistic().Result, erFailed);
        EXPECT_EQ(Lines(Log(), "Quit"), (std::vector<std::string>{"call Word.Application.Quit()"}));
        EXPECT_THROW(GetActiveAutomationObject("Word.Application"), Exception);
    }
}

TEST_F(WordSmallExportTest, SplitExportOfAGrowingSourceGivesEveryFileItsTable)
{
    // The count taken when the export starts is 1; three records arrive.
    engine.OnCount = [this](TPersistent*, int& count) { count = row < 1 ? 1 : 3; };
    exporter.RowsPerFile = 1;
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(Lines(Log(), "call Tables.Add").size(), 3u);
    EXPECT_EQ(Lines(Log(), "InsertAfter(\"A2\"").size(), 1u);
}

TEST_F(WordSmallExportTest, CallerStreamGetsTheFooterOnce)
{
    exporter.Footer().Add("Foot");
    TMemoryStream stream;
    exporter.SaveToStream(&stream);
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(Lines(Log(), "InsertAfter(\"Foot\"").size(), 1u);
}

TEST_F(WordSmallExportTest, ServerErrorFailsTheRunWithItsMessage)
{
    exporter.Options.Include(soShowMessage);
    server.Fail("SaveAs", "The disk is full.");
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Text, "Error of data export.: The disk is full.");
}

TEST_F(WordSmallExportTest, FailedExportDiscardsTheDocumentInsteadOfSavingIt)
{
    engine.OnGetValue = [this](TPersistent*, TKVEColumn*, Variant& value) {
        if (row == 1)
            throw Exception("cannot read");
        value = Variant("x");
    };
    rows = 3;
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    std::string log = Log();
    EXPECT_TRUE(Lines(log, "SaveAs").empty());
    EXPECT_EQ(Lines(log, "Close"), (std::vector<std::string>{"call ActiveDocument.Close(SaveChanges:=0)"}));
    EXPECT_EQ(Lines(log, "Quit"), (std::vector<std::string>{"call Word.Application.Quit()"}));

    // the next export on the same exporter starts outside the table again
    server.ClearLog();
    exporter.Header().Add("Header after a failure");
    engine.OnGetValue = [](TPersistent*, TKVEColumn*, Variant& value) { value = Variant("y"); };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(Lines(Log(), "InsertAfter").front(), "call Range.InsertAfter(\"Header after a failure\"&)");
}

TEST_F(WordSmallExportTest, RejectedRecordsLeaveEmptyRowsInsteadOfFailing)
{
    rows = 5;
    int record = 0;
    exporter.OnBeforeRecord = [&](TPersistent*, bool& accept) {
        ++record;
        accept = record != 2 && record != 3;
    };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(Lines(Log(), ".Cell("),
              (std::vector<std::string>{"call Add.Cell(1&, 1)", "call Add.Cell(1&, 2)", "call Add.Cell(4&, 1)",
                                        "call Add.Cell(4&, 2)", "call Add.Cell(5&, 1)", "call Add.Cell(5&, 2)"}));
    // one row per written row, and one more for the gap of the two rejected records:
    // 1 + 4 rows, the last one holding record 5
    EXPECT_EQ(Lines(Log(), "call Rows.Add()").size(), 4u);
}

TEST_F(WordSmallExportTest, PictureThatIsNotABitmapFailsClearlyAndLeavesNoFile)
{
    engine.OnFillColumns = [](TPersistent* sender) {
        TKVEColumn* c = static_cast<TKVEColumns*>(sender)->Add();
        c->FieldName = "P";
        c->DataType = ctGraphic;
    };
    engine.OnGetValue = [](TPersistent*, TKVEColumn*, Variant& value) { value = Variant("plain text"); };
    exporter.Options.Include(soShowMessage);
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_NE(ui.Boxes[0].Text.find("Bitmap"), std::string::npos) << ui.Boxes[0].Text;
}

TEST_F(WordSmallExportTest, TemporaryPictureIsDeletedWhenInsertingItFails)
{
    const std::string bitmap = ReadFileToString(TABRIX_TEST_DATA "/red_16x8.bmp");
    engine.OnFillColumns = [](TPersistent* sender) {
        TKVEColumn* c = static_cast<TKVEColumns*>(sender)->Add();
        c->FieldName = "P";
        c->DataType = ctGraphic;
    };
    engine.OnGetValue = [&](TPersistent*, TKVEColumn*, Variant& value) { value = Variant(bitmap); };
    std::string pictureFile;
    struct stat st {};
    server.Answer("AddPicture", [&](RecordedCall& call) -> AutomationValue {
        pictureFile = call.Args.Find(99, "FileName")->Value().ToString();
        ::stat(pictureFile.c_str(), &st);
        EXPECT_EQ(ReadFileToString(pictureFile), bitmap);
        throw Exception("The picture cannot be inserted.");
    });
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    ASSERT_FALSE(pictureFile.empty());
    EXPECT_EQ(st.st_nlink, 0u); // in no folder
    EXPECT_EQ(st.st_mode & 07777, 0600u); // a regular file only its owner may read
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(WordSmallExportTest, MoreColumnsThanATableHoldsFailClearly)
{
    engine.OnFillColumns = [](TPersistent* sender) {
        for (int i = 0; i < 64; ++i)
            static_cast<TKVEColumns*>(sender)->Add()->FieldName = "C" + std::to_string(i);
    };
    exporter.Options.Include(soShowMessage);
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_NE(ui.Boxes[0].Text.find("at most 63 columns"), std::string::npos);

    engine.OnFillColumns = [](TPersistent* sender) {
        for (int i = 0; i < 63; ++i)
            static_cast<TKVEColumns*>(sender)->Add()->FieldName = "C" + std::to_string(i);
    };
    server.ClearLog();
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(Lines(Log(), "NumColumns:=63").size(), 1u);
    EXPECT_EQ(Lines(Log(), ", 63)").size(), 1u); // the 63rd column is written
}

TEST_F(WordSmallExportTest, TabularFormGetsACaptionAndValueTable)
{
    exporter.Layout = elTabularForm;
    exporter.AddTitle = true;
    engine.OnFillColumns = [](TPersistent* sender) {
        auto* columns = static_cast<TKVEColumns*>(sender);
        columns->Add()->FieldName = "A";
        columns->Add()->FieldName = "B";
        (*columns)[0]->Title().Caption = "First";
        (*columns)[1]->Title().Caption = "Second";
    };
    rows = 2;
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    std::string log = Log();
    EXPECT_EQ(Lines(log, "NumColumns"), (std::vector<std::string>{"call Tables.Add(Range:=<Range>, NumRows:=1, NumColumns:=2)"}));
    EXPECT_EQ(Lines(log, "InsertAfter"),
              (std::vector<std::string>{"call Range.InsertAfter(\"First\"&)", "call Range.InsertAfter(\"A0\"&)",
                                        "call Range.InsertAfter(\"Second\"&)", "call Range.InsertAfter(\"B0\"&)",
                                        "call Range.InsertAfter(\"First\"&)", "call Range.InsertAfter(\"A1\"&)",
                                        "call Range.InsertAfter(\"Second\"&)", "call Range.InsertAfter(\"B1\"&)"}));
    EXPECT_EQ(Lines(log, ".Cell(").front(), "call Add.Cell(1&, 1)");
    EXPECT_EQ(Lines(log, ".Cell(").back(), "call Add.Cell(5&, 2)");

    // without captions the values still get a one-column table
    server.ClearLog();
    exporter.AddTitle = false;
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(Lines(Log(), "NumColumns"),
              (std::vector<std::string>{"call Tables.Add(Range:=<Range>, NumRows:=1, NumColumns:=1)"}));
}

TEST_F(WordSmallExportTest, ReversedLayoutBehindHeaderLinesKeepsEveryRecord)
{
    exporter.Layout = elReversedColumnar;
    exporter.AddTitle = true;
    exporter.Header().SetText("1\r\n2\r\n3\r\n");
    // captions and 61 or 62 records: 62 or 63 table columns, the most a table holds
    for (int records : {61, 62}) {
        rows = records;
        server.ClearLog();
        exporter.Execute();
        EXPECT_EQ(exporter.Statistic().Result, erCompleted);
        const std::string columns = std::to_string(records + 1);
        const std::string log = Log();
        EXPECT_EQ(Lines(log, "NumColumns:=" + columns + ")").size(), 1u);
        EXPECT_EQ(Lines(log, ".Cell(").back(), "call Add.Cell(2&, " + columns + ")");
        EXPECT_EQ(Lines(log, "InsertAfter(\"B" + std::to_string(records - 1) + "\"").size(), 1u);
    }
}

TEST_F(WordSmallExportTest, ReversedColumnarGetsOneColumnPerRecord)
{
    exporter.Layout = elReversedColumnar;
    exporter.AddTitle = true;
    exporter.Options.Include(soUseFieldNameAsCaption);
    exporter.Header().Add("H");
    rows = 2;
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    std::string log = Log();
    EXPECT_EQ(Lines(log, "NumColumns"),
              (std::vector<std::string>{"call Tables.Add(Range:=<Range>, NumRows:=1, NumColumns:=3)"}));
    EXPECT_EQ(Lines(log, ".Cell("),
              (std::vector<std::string>{"call Add.Cell(1&, 1)", "call Add.Cell(2&, 1)", "call Add.Cell(1&, 2)",
                                        "call Add.Cell(2&, 2)", "call Add.Cell(1&, 3)", "call Add.Cell(2&, 3)"}));
}

} // namespace
