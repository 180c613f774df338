// The spreadsheet exporter's exact exchange with the spreadsheet application, recorded.

#include "office/excel_exporter.h"
#include "platform/automation/recording_server.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/streams.h"
#include "framework/ui_services.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef TABRIX_TEST_DATA
#define TABRIX_TEST_DATA "tests/data"
#endif

namespace {

class ExcelConformanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui.ForceHasGui = 0;
        guard = server.Register("Excel.Application");
        server.Answer("Sheets.Count", AutomationValue(1));
        server.Answer("Item.Name", AutomationValue("Sheet1"));
        exporter.AnimatedStatus = false;
        exporter.Options = TKVOptions{soColLines, soRowLines};
        exporter.ColumnSource = csDataEngine;
        exporter.SetDataEngine(&engine);
        exporter.SetFileName("/tmp/tabrix-conformance/out.xls");
        engine.OnCount = [this](TPersistent*, int& count) { count = rows; };
        engine.OnFirst = [this](TPersistent*) { row = 0; };
        engine.OnNext = [this](TPersistent*, bool&) { ++row; };
        engine.OnFillColumns = [this](TPersistent* sender) {
            auto* columns = static_cast<TKVEColumns*>(sender);
            for (const auto& [name, type, width] : fields) {
                TKVEColumn* column = columns->Add();
                column->FieldName = name;
                column->Title().Caption = "T" + name;
                column->DataType = type;
                column->Width = width;
            }
        };
        engine.OnGetValue = [this](TPersistent*, TKVEColumn* column, Variant& value) {
            value = Variant(column->FieldName + std::to_string(row));
        };
    }

    std::string Log() const { return server.LogText(); }

    struct Field {
        std::string Name;
        TCellType Type;
        int Width;
    };
    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    RecordingAutomationServer server;
    std::unique_ptr<ScopedAutomationServer> guard;
    TKVEVirtualDataEngine engine;
    TKVExportToExcel exporter;
    std::vector<Field> fields{{"a", ctInteger, 60}, {"b", ctString, 0}};
    int rows = 2;
    int row = 0;
};

TEST_F(ExcelConformanceTest, NewSheetWithTitlesFreezeProtectAndPageSetup)
{
    exporter.AddTitle = true;
    exporter.FreezeFixed = true;
    exporter.Password = "pw";
    exporter.ExcelVersion = evExcel5;
    exporter.Header().SetText("Head\r\n");
    exporter.Footer().SetText("Foot\r\n");
    exporter.PageSetup().UseDefault = false;
    exporter.PageSetup().LeftMargin = 10.5f;
    exporter.PageSetup().Orientation = emLandscape;
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    // Width 60 is capped at 50; width 0 is set and then unhidden; the first data row is
    // selected for freezing so that the header and caption rows stay in view.
    EXPECT_EQ(Log(),
              "create Excel.Application\n"
              "call Excel.Application.WorkBooks()\n"
              "call WorkBooks.Add()\n"
              "call Add.Sheets()\n"
              "call Sheets.Count()\n"
              "call Add.Sheets()\n"
              "get Sheets.Item(1)\n"
              "call Item.Name()\n"
              "call Add.Sheets()\n"
              "call Sheets.Add()\n"
              "put Add.Name = \"Tabrix 4.61\"\n"
              "call Excel.Application.ActiveSheet()\n"
              "call ActiveSheet.PageSetup()\n"
              "put PageSetup.LeftMargin = 10.5f\n"
              "put PageSetup.RightMargin = 0.0f\n"
              "put PageSetup.TopMargin = 0.0f\n"
              "put PageSetup.BottomMargin = 0.0f\n"
              "call Excel.Application.ActiveSheet()\n"
              "call ActiveSheet.PageSetup()\n"
              "put PageSetup.Orientation = 2\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Columns(1)\n"
              "put Columns.NumberFormat = \"0\"\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Columns(1)\n"
              "put Columns.ColumnWidth = 50&\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Columns(1)\n"
              "put Columns.HorizontalAlignment = -4131&\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Columns(1)\n"
              "call Columns.Borders()\n"
              "get Borders.Item(7)\n"
              "put Item.LineStyle = 1\n"
              "call Columns.Borders()\n"
              "get Borders.Item(10)\n"
              "put Item.LineStyle = 1\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Columns(2)\n"
              "put Columns.NumberFormat = \"@\"\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Columns(2)\n"
              "put Columns.ColumnWidth = 0&\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Columns(2)\n"
              "put Columns.HorizontalAlignment = -4131&\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Columns(2)\n"
              "call Columns.Borders()\n"
              "get Borders.Item(7)\n"
              "put Item.LineStyle = 1\n"
              "call Columns.Borders()\n"
              "get Borders.Item(10)\n"
              "put Item.LineStyle = 1\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Cells(1, 1)\n"
              "put Cells.Value = \"Head\"&\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Cells(2, 1)\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Cells(2, 1)\n"
              "put Cells.Value = \"Ta\"\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Cells(2, 2)\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Cells(2, 2)\n"
              "put Cells.Value = \"Tb\"\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Rows(2)\n"
              "call Rows.Borders()\n"
              "get Borders.Item(8)\n"
              "put Item.LineStyle = 1\n"
              "call Rows.Borders()\n"
              "get Borders.Item(9)\n"
              "put Item.LineStyle = 1\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Range(\"A3\", \"B3\")\n"
              "put Range.Value = {{\"a0\", \"b0\"}}&\n"
              "call Range.Borders()\n"
              "get Borders.Item(8)\n"
              "put Item.LineStyle = 1\n"
              "call Range.Borders()\n"
              "get Borders.Item(9)\n"
              "put Item.LineStyle = 1\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Range(\"A4\", \"B4\")\n"
              "put Range.Value = {{\"a1\", \"b1\"}}&\n"
              "call Range.Borders()\n"
              "get Borders.Item(8)\n"
              "put Item.LineStyle = 1\n"
              "call Range.Borders()\n"
              "get Borders.Item(9)\n"
              "put Item.LineStyle = 1\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Cells(5&, 1)\n"
              "put Cells.Value = \"Foot\"&\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Columns(1)\n"
              "put Columns.Hidden = 0\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Columns(2)\n"
              "put Columns.Hidden = 0\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Rows(3)\n"
              "call Rows.Select()\n"
              "call Excel.Application.ActiveWindow()\n"
              "put ActiveWindow.FreezePanes = -1\n"
              "call Excel.Application.ActiveSheet()\n"
              "call ActiveSheet.Protect(Password:=\"pw\")\n"
              "put Excel.Application.DisplayAlerts = 0\n"
              "call Add.SaveAs(\"/tmp/tabrix-conformance/out.xls\", 39)\n"
              "call Add.Close()\n"
              "call Excel.Application.Quit()\n");
}

TEST_F(ExcelConformanceTest, FoundSheetMergedFileNoFormatsAndNumericCells)
{
    std::filesystem::create_directories("/tmp/tabrix-conformance");
    WriteStringToFile("/tmp/tabrix-conformance/out.xls", "old");
    int names = 0;
    server.Answer("Item.Name", [&](RecordedCall&) { return AutomationValue(++names == 2 ? "Tabrix 4.61" : "Other"); });
    server.Answer("Sheets.Count", AutomationValue(2));
    server.Answer("Rows.Count", AutomationValue(7));
    exporter.Options = TKVOptions{soFieldMask, soMergeData};
    exporter.ExcelVersion = evExcel7;
    fields = {{"a", ctDouble, 5}};
    rows = 3;
    exporter.OnBeforeRecord = [this](TPersistent*, bool& accept) { accept = row != 1; };
    exporter.OnGetCellParams = [](TPersistent*, TField*, std::string& text, TFont*, TAlignment&, TColor&,
                                  TCellType& type) {
        text = "1,5";
        type = ctDouble;
    };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(exporter.Statistic().TotalCount, 2);
    // Appended below the found sheet's used range; the rejected second record leaves
    // row 9 empty.
    EXPECT_EQ(Log(),
              "create Excel.Application\n"
              "call Excel.Application.WorkBooks()\n"
              "call WorkBooks.Open(\"/tmp/tabrix-conformance/out.xls\")\n"
              "call Open.Sheets()\n"
              "call Sheets.Count()\n"
              "call Open.Sheets()\n"
              "get Sheets.Item(1)\n"
              "call Item.Name()\n"
              "call Open.Sheets()\n"
              "get Sheets.Item(2)\n"
              "call Item.Name()\n"
              "call Open.Sheets()\n"
              "get Sheets.Item(2)\n"
              "call Item.Activate()\n"
              "call Excel.Application.ActiveSheet()\n"
              "call ActiveSheet.UsedRange()\n"
              "call UsedRange.Rows()\n"
              "call Rows.Count()\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Columns(1)\n"
              "put Columns.ColumnWidth = 5&\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Columns(1)\n"
              "put Columns.HorizontalAlignment = -4131&\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Range(\"A8\", \"A8\")\n"
              "put Range.Value = {{\"1.5\"}}&\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Range(\"A10\", \"A10\")\n"
              "put Range.Value = {{\"1.5\"}}&\n"
              "call Excel.Application.ActiveSheet()\n"
              "get ActiveSheet.Columns(1)\n"
              "put Columns.Hidden = 0\n"
              "put Excel.Application.DisplayAlerts = 0\n"
              "call Open.SaveAs(\"/tmp/tabrix-conformance/out.xls\", 39)\n"
              "call Open.Close()\n"
              "call Excel.Application.Quit()\n");
}

TEST_F(ExcelConformanceTest, FailuresQuitWithoutClosingAndLeaveNoPictureFile)
{
    // A failed save ends the export: the application this export started quits, the
    // workbook is not closed first.
    server.Fail("SaveAs", "disk full");
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_TRUE(Log().ends_with("call Add.SaveAs(\"/tmp/tabrix-conformance/out.xls\")\n"
                                "call Excel.Application.Quit()\n"))
        << Log();

    // A picture that cannot be placed leaves no temporary file behind: it reaches the
    // server through a file that has no name in any folder, not even while it is read.
    server.ClearLog();
    std::string pictureFile, target;
    server.Answer("Insert", [&](RecordedCall& call) -> AutomationValue {
        pictureFile = call.Args[0].Value().ToString();
        EXPECT_EQ(ReadFileToString(pictureFile), ReadFileToString(TABRIX_TEST_DATA "/red_16x8.bmp"));
        target = std::filesystem::read_symlink(pictureFile).string();
        throw Exception("no room for pictures");
    });
    server.Answer("SaveAs", AutomationValue());
    fields = {{"p", ctGraphic, 10}};
    const std::string bitmap = ReadFileToString(TABRIX_TEST_DATA "/red_16x8.bmp");
    engine.OnGetValue = [&](TPersistent*, TKVEColumn*, Variant& value) { value = Variant(bitmap); };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_TRUE(target.ends_with(" (deleted)")) << pictureFile << " is " << target;
}

TEST_F(ExcelConformanceTest, NoVisibleColumnWritesEmptyRecordRows)
{
    engine.OnFillColumns = [](TPersistent* sender) {
        static_cast<TKVEColumns*>(sender)->Add()->Visible = false;
    };
    exporter.Footer().Add("end");
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(Log().find("Range"), std::string::npos) << Log();
    EXPECT_NE(Log().find("get ActiveSheet.Cells(3&, 1)\nput Cells.Value = \"end\"&"), std::string::npos) << Log();
}

TEST(ExcelColumnNameTest, LettersCountInBase26WithoutZero)
{
    const std::pair<int, const char*> cases[] = {{0, ""}, {1, "A"}, {26, "Z"}, {27, "AA"}, {52, "AZ"},
                                                 {53, "BA"}, {702, "ZZ"}, {703, "AAA"}, {16384, "XFD"}};
    for (const auto& [n, letters] : cases)
        EXPECT_EQ(ExcelColumnName(n), letters) << n;
}

} // namespace
