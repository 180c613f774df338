#pragma once
// Drives a word processor through the bridge with the exchange the word-processor exporter
// makes: header paragraphs, a table with a caption row, text and picture cells, footer
// paragraphs, protection, save, close, quit.

#include "platform/automation/automation.h"
#include "tests/support/ooxml_schema_check.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

struct TestCell {
    TestCell() = default;
    TestCell(std::string text, bool picture = false) : Text(std::move(text)), Picture(picture) {}
    std::string Text;          // for a picture cell: the picture file
    bool Picture = false;
    int Align = 0;             // 0 left, 1 centre, 2 right
    bool Bold = false, Italic = false, Underline = false;
    int ColorIndex = 0, Highlight = 0;
    std::string Font;          // empty: not set
};

struct TestExport {
    std::vector<std::string> Header, Footer;
    std::vector<int> HeaderAlign;                 // per header line, default 0
    std::vector<std::vector<TestCell>> Rows;      // the first one holds the captions
    bool ColLines = true, RowLines = true;
    std::vector<int> ColWidths;                   // points per column, 0 = not set
    float TableWidth = 0;
    float TopMargin = 0, LeftMargin = 0;
    int Orientation = -1;                         // -1 default, 0 portrait, 1 landscape
    std::string OpenFile;                         // Documents.Open instead of Add
    std::string Password;
    bool AutoFit = false;
};

inline void RunTestExport(const TestExport& e, const std::string& fileName)
{
    AutomationValue app = CreateAutomationObject("Word.Application");
    app.Put("Visible", false);
    app.Put("ScreenUpdating", false);
    app.Call("Options").Put("CheckSpellingAsYouType", false);
    app.Call("Options").Put("CheckGrammarAsYouType", false);
    if (e.OpenFile.empty()) app.Call("Documents").Call("Add");
    else app.Call("Documents").Call("Open", {e.OpenFile});
    AutomationValue doc = app.Call("ActiveDocument");
    if (e.TopMargin > 0) doc.Call("PageSetup").Put("TopMargin", e.TopMargin);
    if (e.LeftMargin > 0) doc.Call("PageSetup").Put("LeftMargin", e.LeftMargin);
    if (e.Orientation >= 0) doc.Call("PageSetup").Put("Orientation", e.Orientation);

    auto line = [&](const std::string& text, int align) {
        doc.Call("Range").Call("ParagraphFormat").Put("Alignment", align);
        AutomationValue t = text;
        doc.Call("Range").Call("InsertAfter", {ByRef(t)});
        doc.Call("Range").Call("InsertParagraphAfter");
    };
    for (std::size_t i = 0; i < e.Header.size(); ++i) line(e.Header[i], i < e.HeaderAlign.size() ? e.HeaderAlign[i] : 0);

    int cols = e.Rows.empty() ? 0 : static_cast<int>(e.Rows[0].size());
    AutomationValue table;
    if (cols > 0) {
        int start = doc.Call("Content").Call("End").ToInteger() - 1;
        int finish = doc.Call("Content").Call("End").ToInteger() - 1;
        AutomationValue where = doc.Call("Range", {start, finish});
        table = doc.Call("Range").Call("Tables").Call(
            "Add", {Named("Range", where), Named("NumRows", 1), Named("NumColumns", cols)});
        for (int i : {-2, -4, -6}) table.Call("Borders").Call("Item", {i}).Put("LineStyle", e.ColLines ? 1 : 0);
        for (int i : {-1, -3, -5}) table.Call("Borders").Call("Item", {i}).Put("LineStyle", e.RowLines ? 1 : 0);
        if (e.TableWidth != 0) table.Call("Columns").Put("Width", e.TableWidth);
        std::vector<int> widths = e.ColWidths;
        widths.resize(static_cast<std::size_t>(cols), 0);
        int sum = 0;
        for (int w : widths) sum += w;
        int avail = table.Call("Columns").Call("Width").ToInteger();
        if (sum != 0 && avail < sum)
            for (int& w : widths) w = static_cast<int>(static_cast<double>(w) * avail / sum);
        for (int k = 0; k < cols; ++k)
            if (widths[static_cast<std::size_t>(k)] != 0)
                table.Call("Columns").Call("Item", {k + 1}).Call("SetWidth", {widths[static_cast<std::size_t>(k)], 0});
    }
    for (std::size_t r = 0; r < e.Rows.size(); ++r) {
        table.Call("Rows").Call("Add");
        for (int c = 0; c < cols; ++c) {
            const TestCell& cell = e.Rows[r][static_cast<std::size_t>(c)];
            if (cell.Text.empty()) continue;
            AutomationValue row = static_cast<int>(r + 1);
            if (cell.Picture) {
                AutomationValue where = table.Call("Cell", {ByRef(row), c + 1}).Call("Range");
                AutomationValue name = cell.Text;
                doc.Call("InlineShapes").Call("AddPicture", {Named("FileName", ByRef(name)), Named("LinkToFile", false),
                                                             Named("SaveWithDocument", true), Named("Range", where)});
                continue;
            }
            AutomationValue range = table.Call("Cell", {ByRef(row), c + 1}).Call("Range");
            if (cell.Bold) range.Put("Bold", 1);
            if (cell.Italic) range.Put("Italic", 1);
            if (cell.Underline) range.Put("Underline", 1);
            AutomationValue idx = cell.ColorIndex;
            if (cell.ColorIndex) range.Call("Font").Put("ColorIndex", idx);
            if (!cell.Font.empty() && !(range.Call("Font").Call("Name") == cell.Font))
                range.Call("Font").Put("Name", cell.Font);
            if (cell.Highlight) range.Put("HighlightColorIndex", cell.Highlight);
            if (!(range.Call("ParagraphFormat").Call("Alignment") == cell.Align))
                range.Call("ParagraphFormat").Put("Alignment", cell.Align);
            AutomationValue text = cell.Text;
            range.Call("InsertAfter", {ByRef(text)});
        }
    }
    if (!table.IsEmpty() && e.AutoFit) table.Call("Columns").Call("AutoFit");
    for (const auto& f : e.Footer) line(f, 0);
    if (!e.Password.empty()) doc.Call("Protect", {Named("Password", e.Password)});
    AutomationValue name = fileName;
    doc.Call("SaveAs", {ByRef(name)});
    doc.Call("Close");
    app.Put("ScreenUpdating", true);
    app.Call("Quit");
    std::string ext = std::filesystem::path(fileName).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".docx") {
        EXPECT_EQ(OoxmlSchemaFaults(fileName), "") << fileName;
    }
}

// A fresh temporary folder per test.
class WordTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FDir.isValid()); }
    std::string Path(const std::string& name) const { return FDir.filePath(QString::fromStdString(name)).toStdString(); }
    std::vector<std::string> Files() const
    {
        std::vector<std::string> r;
        for (const auto& e : std::filesystem::directory_iterator(FDir.path().toStdString()))
            r.push_back(e.path().filename().string());
        return r;
    }
    QTemporaryDir FDir{QDir::tempPath() + "/tabrix-word-test-XXXXXX"};
};

inline std::string BmpSuite() { return TABRIX_BMPSUITE; }
