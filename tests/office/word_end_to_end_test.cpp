// The word-processor exporter on the native word processor, read back by LibreOffice.

#include "office/word_exporter.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/ui_services.h"
#include "tests/support/libreoffice_reader.h"

#include <QImage>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

class WordEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!LibreOfficeAvailable())
            GTEST_SKIP() << "LibreOffice is not installed";
        dir = fs::temp_directory_path()
            / ("tabrix-word-e2e-" + std::to_string(::getpid()) + "-"
               + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        ui.ForceHasGui = 0;
        pictures = {ReadFileToString(TABRIX_TEST_DATA "/red_16x8.bmp"),
                    ReadFileToString(TABRIX_TEST_DATA "/black_nul_10x10.bmp"),
                    ReadFileToString(TABRIX_TEST_DATA "/gradient_40x30.bmp")};
        exporter.AnimatedStatus = false;
        exporter.Options.Exclude(soShowMessage);
        exporter.ColumnSource = csDataEngine;
        exporter.SetDataEngine(&engine);
        exporter.AddTitle = true;
        exporter.Header().SetText("First header\r\nSecond header\r\n");
        exporter.Footer().Add("The footer");
        engine.OnCount = [this](TPersistent*, int& count) { count = rows; };
        engine.OnFirst = [this](TPersistent*) { row = 0; };
        engine.OnNext = [this](TPersistent*, bool&) { ++row; };
        engine.OnFillColumns = [](TPersistent* sender) {
            auto* columns = static_cast<TKVEColumns*>(sender);
            TKVEColumn* name = columns->Add();
            name->FieldName = "Name";
            name->Title().Caption = "Picture filename";
            name->Width = 20;
            TKVEColumn* picture = columns->Add();
            picture->FieldName = "Picture";
            picture->Title().Caption = "Picture";
            picture->DataType = ctGraphic;
            picture->Width = 30;
        };
        engine.OnGetValue = [this](TPersistent*, TKVEColumn* column, Variant& value) {
            if (column->FieldName == "Name")
                value = Variant("row " + std::to_string(row));
            else
                value = Variant(pictures[static_cast<size_t>(row) % pictures.size()]);
        };
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Path(const std::string& name) const { return (dir / name).string(); }

    fs::path dir;
    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    TKVEVirtualDataEngine engine;
    TKVExportToWord exporter;
    std::vector<std::string> pictures;
    int rows = 3;
    int row = 0;
};

void ExpectDocumentShape(const LoDocument& doc, int rows)
{
    ASSERT_GE(doc.Paragraphs.size(), 3u);
    EXPECT_EQ(doc.Paragraphs[0].Text, "First header");
    EXPECT_EQ(doc.Paragraphs[1].Text, "Second header");
    ASSERT_EQ(doc.Tables.size(), 1u);
    const LoTable& table = doc.Tables[0];
    // captions, one row per record, and the final empty row
    ASSERT_EQ(table.Rows.size(), static_cast<size_t>(rows) + 2);
    EXPECT_EQ(table.Cell(0, 0), "Picture filename");
    EXPECT_EQ(table.Cell(0, 1), "Picture");
    for (int r = 0; r < rows; ++r) {
        EXPECT_EQ(table.Cell(static_cast<size_t>(r) + 1, 0), "row " + std::to_string(r));
        EXPECT_EQ(table.Rows[static_cast<size_t>(r) + 1][1].Pictures, 1);
    }
    EXPECT_EQ(table.Cell(static_cast<size_t>(rows) + 1, 0), "");
    bool footerAfterTable = false;
    for (size_t i = 0; i < doc.Outline.size(); ++i)
        if (doc.Outline[i] == "table:0")
            for (size_t j = i + 1; j < doc.Outline.size(); ++j)
                if (doc.Outline[j] == "p:The footer")
                    footerAfterTable = true;
    EXPECT_TRUE(footerAfterTable);
    ASSERT_EQ(doc.Pictures.size(), static_cast<size_t>(rows));
    const int widths[] = {16, 10, 40};
    const int heights[] = {8, 10, 30};
    for (int r = 0; r < rows; ++r) {
        EXPECT_EQ(doc.Pictures[static_cast<size_t>(r)].PixelWidth, widths[r % 3]);
        EXPECT_EQ(doc.Pictures[static_cast<size_t>(r)].PixelHeight, heights[r % 3]);
    }
}

TEST_F(WordEndToEndTest, DocxAndRtfDocumentsReadBack)
{
    for (const char* name : {"out.docx", "out.doc"}) {
        exporter.SetFileName(Path(name));
        exporter.Execute();
        ASSERT_EQ(exporter.Statistic().Result, erCompleted) << name;
        LoDocument doc = ReadWithLibreOffice(Path(name));
        SCOPED_TRACE(name);
        ExpectDocumentShape(doc, rows);
    }
}

TEST_F(WordEndToEndTest, PictureWithNulBytesArrivesWhole)
{
    rows = 2;
    exporter.SetFileName(Path("nul.docx"));
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    LoDocument doc = ReadWithLibreOffice(Path("nul.docx"));
    ASSERT_EQ(doc.Pictures.size(), 2u);
    EXPECT_EQ(doc.Pictures[1].PixelWidth, 10);
    EXPECT_EQ(doc.Pictures[1].PixelHeight, 10);
}

TEST_F(WordEndToEndTest, MergeKeepsTheExistingDocumentAndAppends)
{
    rows = 1;
    exporter.SetFileName(Path("merge.docx"));
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    exporter.Options.Include(soMergeData);
    exporter.Header().SetText("Appended header\r\n");
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    LoDocument doc = ReadWithLibreOffice(Path("merge.docx"));
    ASSERT_EQ(doc.Tables.size(), 2u);
    EXPECT_EQ(doc.Paragraphs[0].Text, "First header");
    bool appended = false;
    for (auto& p : doc.Paragraphs)
        appended = appended || p.Text == "Appended header";
    EXPECT_TRUE(appended);
    EXPECT_EQ(doc.Pictures.size(), 2u);
}

TEST_F(WordEndToEndTest, TemplateStartsTheDocument)
{
    rows = 1;
    exporter.Header().SetText("From the template\r\n");
    exporter.SetFileName(Path("template.docx"));
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    exporter.TemplateFile = Path("template.docx");
    exporter.Header().SetText("Own header\r\n");
    exporter.SetFileName(Path("from-template.docx"));
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    LoDocument doc = ReadWithLibreOffice(Path("from-template.docx"));
    EXPECT_EQ(doc.Paragraphs[0].Text, "From the template");
    EXPECT_EQ(doc.Tables.size(), 2u);
    LoDocument original = ReadWithLibreOffice(Path("template.docx"));
    EXPECT_EQ(original.Tables.size(), 1u); // the template itself is not changed
}

TEST_F(WordEndToEndTest, PageSetupAndOrientation)
{
    rows = 1;
    TKVEPageSetup page;
    page.UseDefault = false;
    page.Measure = emInch;
    page.TopMargin = 1.5f;
    page.LeftMargin = 0.5f;
    page.Orientation = emLandscape;
    exporter.SetPageSetup(page);
    exporter.SetFileName(Path("page.docx"));
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    LoDocument doc = ReadWithLibreOffice(Path("page.docx"));
    EXPECT_NEAR(doc.MarginTopPt, 108, 1);
    EXPECT_NEAR(doc.MarginLeftPt, 36, 1);
    EXPECT_GT(doc.PageWidthPt, doc.PageHeightPt);
}

TEST_F(WordEndToEndTest, RowsPerFileGivesNumberedCompleteDocuments)
{
    rows = 5;
    exporter.RowsPerFile = 2;
    const size_t expectedRows[] = {2, 2, 1};
    for (TKVELayout layout : {elColumnar, elTabularForm}) {
        exporter.Layout = layout;
        const std::string first = Path(layout == elColumnar ? "split.docx" : "tabular.docx");
        exporter.SetFileName(first);
        exporter.Execute();
        ASSERT_EQ(exporter.Statistic().Result, erCompleted);
        for (int i = 0; i < 3; ++i) {
            const std::string name = TKVExportToCellFile::NumberedFileName(first, i);
            SCOPED_TRACE(name);
            LoDocument doc = ReadWithLibreOffice(name);
            ASSERT_EQ(doc.Tables.size(), 1u);
            EXPECT_EQ(doc.Paragraphs[0].Text, "First header");
            // every document's table starts at its top, with its own first record
            const LoTable& table = doc.Tables[0];
            EXPECT_EQ(table.Cell(0, 0), "Picture filename");
            const std::string record = "row " + std::to_string(2 * i);
            if (layout == elColumnar) {
                EXPECT_EQ(table.Rows.size(), expectedRows[i] + 2);
                EXPECT_EQ(table.Cell(1, 0), record);
            } else {
                EXPECT_EQ(table.Cell(0, 1), record);
            }
            EXPECT_EQ(doc.Pictures.size(), expectedRows[i]);
        }
    }
}

TEST_F(WordEndToEndTest, FailedExportLeavesTheOldDocumentInPlace)
{
    rows = 1;
    exporter.SetFileName(Path("keep.docx"));
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    const std::string before = ReadFileToString(Path("keep.docx"));
    rows = 3;
    engine.OnGetValue = [this](TPersistent*, TKVEColumn* column, Variant& value) {
        if (row == 2)
            throw EFOpenError("Cannot open file \"gone.bmp\"");
        value = column->FieldName == "Name" ? Variant("x") : Variant(pictures[0]);
    };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_EQ(ReadFileToString(Path("keep.docx")), before);
}

} // namespace
