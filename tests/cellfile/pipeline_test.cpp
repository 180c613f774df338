// The cell-file pipeline: hook order, cell coordinates of every layout, file splitting,
// per-record events, character-set conversion, caller streams and the failure path.

#include "cellfile/cell_file_exporter.h"
#include "export/message_table.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/format_settings.h"
#include "framework/streams.h"
#include "framework/ui_services.h"
#include "spec/text_utils.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace {

// Logs every hook with its arguments and writes data cells as "text|" lines, so both
// the order of the lifecycle and the file content can be checked.
class TLoggingExporter : public TKVExportToCellFile {
public:
    using TKVExportToCellFile::TKVExportToCellFile;
    std::vector<std::string> Log;
    bool Merge = false;
    bool LogDimensionsOnly = false;

    bool MergeIsSupported() override { return Merge; }
    void InternalFileCreate(const std::string& FileName) override
    {
        Log.push_back("Create " + ExtractFileName(FileName));
        TKVExportToCellFile::InternalFileCreate(FileName);
    }
    void WriteFileBegin() override
    {
        Add("FileBegin");
        TKVExportToCellFile::WriteFileBegin();
    }
    void WriteFileEnd() override { Add("FileEnd"); }
    void WriteDimensions(int r, int c) override { Log.push_back("Dim " + std::to_string(r) + "x" + std::to_string(c)); }
    void WriteColWidth(int k, int w) override { Add("Width " + std::to_string(k) + "=" + std::to_string(w)); }
    void WriteDataBegin() override
    {
        Add("DataBegin");
        TKVExportToCellFile::WriteDataBegin();
    }
    void WriteDataEnd() override
    {
        Add("DataEnd");
        TKVExportToCellFile::WriteDataEnd();
    }
    void WriteRowStart(bool t) override { Add(t ? "Row(T" : "Row(F"); }
    void WriteRowEnd(bool t) override
    {
        Add(t ? "T)" : "F)");
        TKVExportToCellFile::WriteRowEnd(t);
    }
    void WriteData(TField*, TCellType type, int row, int col, const std::string& text, TAlignment, TFont* font,
                   TColor color) override
    {
        std::ostringstream s;
        s << "[" << row << "," << col << "] " << static_cast<int>(type) << " '" << text << "'";
        if (!font)
            s << " nofont";
        (void)color;
        Add(s.str());
        WriteString(text + "|");
    }
    void CloseFileStream() override
    {
        Add("Close");
        TKVExportToCellFile::CloseFileStream();
    }
    int CurrentRow() const { return FCurrentRow; }

private:
    void Add(std::string s)
    {
        if (!LogDimensionsOnly)
            Log.push_back(std::move(s));
    }
};

std::string Join(const std::vector<std::string>& v)
{
    std::string out;
    for (auto& s : v)
        out += s + "\n";
    return out;
}

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = std::filesystem::temp_directory_path() / ("tabrix-pipeline-" + std::to_string(::getpid()) + "-"
                                                        + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        ui.ForceHasGui = 0;
        exporter.AnimatedStatus = false;
        exporter.ColumnSource = csDataEngine;
        exporter.SetDataEngine(&engine);
        exporter.SetFileName((dir / "out.doc").string());
        exporter.Options.Exclude(soShowMessage);
        engine.OnCount = [this](TPersistent*, int& count) { count = rows; };
        engine.OnFirst = [this](TPersistent*) { recNo = 0; };
        engine.OnNext = [this](TPersistent*, bool&) { ++recNo; };
        engine.OnFillColumns = [](TPersistent* sender) {
            auto* columns = static_cast<TKVEColumns*>(sender);
            TKVEColumn* a = columns->Add();
            a->FieldName = "Name";
            a->Title().Caption = "Name";
            a->Width = 10;
            TKVEColumn* b = columns->Add();
            b->FieldName = "Value";
            b->Title().Caption = "Value";
            b->DataType = ctInteger;
            b->Width = 4;
        };
        engine.OnGetValue = [this](TPersistent*, TKVEColumn* column, Variant& value) {
            if (column->FieldName == "Name")
                value = Variant("r" + std::to_string(recNo));
            else if (column->FieldName == "Value")
                value = Variant(recNo * 10);
        };
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string Read(const std::string& name) { return ReadFileToString((dir / name).string()); }

    std::filesystem::path dir;
    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    TKVEVirtualDataEngine engine;
    TLoggingExporter exporter;
    int rows = 2;
    int recNo = 0;
};

TEST_F(PipelineTest, ColumnarLifecycleAndCoordinates)
{
    exporter.Header().Add("Head");
    exporter.Footer().Add("Foot");
    exporter.AddTitle = true;
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(Join(exporter.Log), "Create out.doc\n"
                                  "FileBegin\n"
                                  "Dim 3x3\n"
                                  "Width 0=10\n"
                                  "Width 1=4\n"
                                  "Row(T\n[0,1] 3 'Head'\nT)\n"
                                  "DataBegin\n"
                                  "Row(T\n[1,0] 3 'Name'\n[1,1] 3 'Value'\nT)\n"
                                  "Row(F\n[2,0] 3 'r0'\n[2,1] 1 '0'\nF)\n"
                                  "Row(F\n[3,0] 3 'r1'\n[3,1] 1 '10'\nF)\n"
                                  "Close\n"
                                  "DataEnd\n"
                                  "Row(T\n[4,1] 3 'Foot'\nT)\n"
                                  "FileEnd\n");
    EXPECT_EQ(Read("out.doc"), "Head|Name|Value|r0|0|r1|10|Foot|");
    EXPECT_EQ(exporter.Statistic().TotalCount, 1 + 1 + 2 + 1);
}

TEST_F(PipelineTest, BlankRowAfterCaptionsAndBlankIfZero)
{
    exporter.AddTitle = true;
    exporter.BlankIfZero = true;
    exporter.Options.Include(soBlankRowAfterCaptions);
    exporter.Execute();
    EXPECT_EQ(Join(exporter.Log), "Create out.doc\nFileBegin\nDim 4x3\nWidth 0=10\nWidth 1=4\nDataBegin\n"
                                  "Row(T\n[0,0] 3 'Name'\n[0,1] 3 'Value'\nT)\n"
                                  "Row(T\n[1,0] 0 '' nofont\n[1,1] 0 '' nofont\nT)\n"
                                  "Row(F\n[2,0] 3 'r0'\n[2,1] 0 '0'\nF)\n"
                                  "Row(F\n[3,0] 3 'r1'\n[3,1] 3 '10'\nF)\n"
                                  "Close\nDataEnd\nFileEnd\n");
}

TEST_F(PipelineTest, EmptySourceWithAndWithoutExportIfEmpty)
{
    rows = 0;
    exporter.AddTitle = true;
    exporter.Header().Add("H");
    exporter.Footer().Add("F");
    exporter.Execute();
    EXPECT_EQ(Read("out.doc"), "H|Name|Value|F|");

    std::filesystem::remove(dir / "out.doc");
    exporter.Log.clear();
    exporter.ExportIfEmpty = false;
    int before = 0, after = 0;
    engine.OnBeforeExecute = [&](TPersistent*) { ++before; };
    engine.OnAfterExecute = [&](TPersistent*) { ++after; };
    exporter.Execute();
    EXPECT_EQ(Join(exporter.Log), "Close\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.doc"));
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    // the engine's position is given back also when nothing was written
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
}

TEST_F(PipelineTest, RowsPerFileSplitsIntoNumberedFilesEachComplete)
{
    rows = 7;
    exporter.RowsPerFile = 3;
    exporter.AddTitle = true;
    exporter.Header().Add("H");
    exporter.Footer().Add("F");
    exporter.LogDimensionsOnly = true;
    std::vector<int> numbers;
    exporter.OnGetFileName = [&](TPersistent*, int n, std::string&) { numbers.push_back(n); };
    exporter.Execute();
    EXPECT_EQ(numbers, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(Read("out.doc"), "H|Name|Value|r0|0|r1|10|r2|20|F|");
    EXPECT_EQ(Read("out001.doc"), "H|Name|Value|r3|30|r4|40|r5|50|F|");
    EXPECT_EQ(Read("out002.doc"), "H|Name|Value|r6|60|F|");
    // each file is sized for the rows it holds: its title row and its share of records
    EXPECT_EQ(Join(exporter.Log), "Create out.doc\nDim 4x3\nCreate out001.doc\nDim 4x3\nCreate out002.doc\nDim 2x3\n");
    EXPECT_EQ(TKVExportToCellFile::NumberedFileName("/x/out.doc", 100), "/x/out100.doc");
    EXPECT_EQ(TKVExportToCellFile::NumberedFileName("/x/out.doc", 42), "/x/out042.doc");
    EXPECT_EQ(TKVExportToCellFile::NumberedFileName("/x/out", 5), "/x/out005");
}

TEST_F(PipelineTest, OnGetFileNameRenamesTheFile)
{
    exporter.OnGetFileName = [&](TPersistent*, int, std::string& name) { name = (dir / "renamed.doc").string(); };
    exporter.Execute();
    EXPECT_TRUE(std::filesystem::exists(dir / "renamed.doc"));
    EXPECT_FALSE(std::filesystem::exists(dir / "out.doc"));
}

TEST_F(PipelineTest, RejectedRecordsAdvanceTheRowButNotTheCount)
{
    rows = 4;
    exporter.RowsPerFile = 2;
    int record = 0;
    exporter.OnBeforeRecord = [&](TPersistent*, bool& accept) { accept = (record++ != 1); };
    std::vector<std::pair<int, int>> progress;
    exporter.OnProgress = [&](TPersistent*, int cur, int max, bool&) { progress.emplace_back(cur, max); };
    exporter.Columns().Add()->FieldName = "Name";
    exporter.Execute();
    std::vector<std::string> cells;
    for (auto& l : exporter.Log)
        if (l[0] == '[')
            cells.push_back(l);
    EXPECT_EQ(cells, (std::vector<std::string>{"[0,0] 3 'r0'", "[2,0] 3 'r2'", "[0,0] 3 'r3'"}));
    // progress: accepted rows so far; the closing call gets the source's count
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 4}, {1, 4}, {2, 4}, {4, 4}}));
    EXPECT_EQ(Read("out.doc"), "r0|r2|");
    EXPECT_EQ(Read("out001.doc"), "r3|");
}

TEST_F(PipelineTest, AbortFromProgressStillWritesTheCurrentRecord)
{
    rows = 5;
    exporter.OnProgress = [&](TPersistent*, int cur, int, bool& abort) { abort = (cur == 1); };
    exporter.Execute();
    EXPECT_EQ(Read("out.doc"), "r0|0|r1|10|");
    EXPECT_EQ(exporter.Statistic().Result, erCanceled);

    rows = 5;
    exporter.OnProgress = nullptr;
    exporter.OnAfterRecord = [&](TPersistent*, bool& abort) { abort = true; };
    exporter.Execute();
    EXPECT_EQ(Read("out.doc"), "r0|0|");
    EXPECT_EQ(exporter.Statistic().Result, erCanceled);
}

TEST_F(PipelineTest, ConstantColumnsAndCellParams)
{
    TKVEColumn* constant = exporter.Columns().Add();
    constant->ColumnKind = ckConstant;
    constant->FieldName = "fixed";
    constant->DataType = ctDouble;
    TKVEColumn* name = exporter.Columns().Add();
    name->FieldName = "Name";
    exporter.OnGetCellParams = [](TPersistent*, TField* field, std::string& text, TFont* font, TAlignment&,
                                  TColor& background, TCellType& type) {
        EXPECT_EQ(field, nullptr);
        ASSERT_NE(font, nullptr);
        if (text == "r1") {
            text = "changed";
            type = ctMEMO;
            background = clRed;
        }
    };
    bool engineAskedForConstant = false;
    engine.OnGetValue = [&](TPersistent*, TKVEColumn* column, Variant& value) {
        if (column->ColumnKind == ckConstant)
            engineAskedForConstant = true;
        value = Variant("r" + std::to_string(recNo));
    };
    exporter.Execute();
    EXPECT_FALSE(engineAskedForConstant);
    EXPECT_EQ(Read("out.doc"), "fixed|r0|fixed|changed|");
    EXPECT_NE(Join(exporter.Log).find("[1,0] 2 'fixed'"), std::string::npos);
    EXPECT_NE(Join(exporter.Log).find("[1,1] 8 'changed'"), std::string::npos);
}

TEST_F(PipelineTest, ReversedColumnarSwapsCoordinates)
{
    exporter.Layout = elReversedColumnar;
    exporter.AddTitle = true;
    exporter.Execute();
    std::string log = Join(exporter.Log);
    EXPECT_NE(log.find("Dim 2x4\nWidth 0=10\nWidth 1=10\nWidth 2=10\nWidth 3=10\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[0,0] 3 'Name'\n[1,0] 3 'Value'"), std::string::npos) << log;
    EXPECT_NE(log.find("[0,1] 3 'r0'\n[1,1] 1 '0'"), std::string::npos) << log;
    EXPECT_NE(log.find("[0,2] 3 'r1'\n[1,2] 1 '10'"), std::string::npos) << log;
}

TEST_F(PipelineTest, TabularFormWithTitles)
{
    exporter.Layout = elTabularForm;
    exporter.AddTitle = true;
    exporter.Header().Add("H");
    exporter.Execute();
    EXPECT_EQ(Join(exporter.Log), "Create out.doc\nFileBegin\nDim 6x2\nWidth 0=10\nWidth 1=10\n"
                                  "Row(T\n[0,1] 3 'H'\nT)\nDataBegin\n"
                                  "Row(F\n[1,0] 3 'Name'\n[1,1] 3 'r0'\nF)\n"
                                  "Row(F\n[2,0] 3 'Value'\n[2,1] 1 '0'\nF)\n"
                                  "Row(F\n[4,0] 3 'Name'\n[4,1] 3 'r1'\nF)\n"
                                  "Row(F\n[5,0] 3 'Value'\n[5,1] 1 '10'\nF)\n"
                                  "Close\nDataEnd\nFileEnd\n");
}

TEST_F(PipelineTest, TabularFormWithBlankAndWithoutTitles)
{
    exporter.Layout = elTabularForm;
    exporter.AddTitle = true;
    exporter.Options.Include(soBlankRowAfterCaptions);
    rows = 1;
    exporter.Execute();
    std::string log = Join(exporter.Log);
    EXPECT_NE(log.find("Row(F\n[0,0] 3 'Name'\n[0,1] 0 ''\n[0,2] 3 'r0'\nF)\n"), std::string::npos) << log;

    exporter.Log.clear();
    exporter.AddTitle = false;
    exporter.Execute();
    log = Join(exporter.Log);
    EXPECT_NE(log.find("Dim 2x1\nWidth 0=10\nDataBegin\nRow(F\n[0,0] 3 'r0'\nF)\nRow(F\n[1,0] 1 '0'\nF)\n"),
              std::string::npos)
        << log;
}

TEST_F(PipelineTest, DosCharacterSetConvertsTextButNotTabularCaptionsOrPictures)
{
    const std::string umlaut = "\xC3\xBC"; // ü
    const std::string oem = StrToOem(umlaut);
    ASSERT_EQ(oem.size(), 1u);
    exporter.CharacterSet = csASCII_MSDOS;
    exporter.AddTitle = true;
    exporter.Header().Add("h" + umlaut);
    exporter.Footer().Add("f" + umlaut);
    exporter.Columns().Add()->FieldName = "Name";
    exporter.Columns()[0]->Title().Caption = "c" + umlaut;
    // a picture cell carries the bytes of a picture file: they pass unconverted
    TKVEColumn* picture = exporter.Columns().Add();
    picture->FieldName = "Picture";
    picture->Title().Caption = "p";
    picture->DataType = ctGraphic;
    engine.OnGetValue = [&](TPersistent*, TKVEColumn*, Variant& value) { value = Variant("d" + umlaut); };
    rows = 1;
    exporter.Execute();
    EXPECT_EQ(Read("out.doc"), "h" + oem + "|c" + oem + "|p|d" + oem + "|d" + umlaut + "|f" + oem + "|");

    exporter.Layout = elTabularForm;
    exporter.Header().Clear();
    exporter.Footer().Clear();
    exporter.Execute();
    EXPECT_EQ(Read("out.doc"), "c" + umlaut + "|d" + oem + "|p|d" + umlaut + "|");
}

TEST_F(PipelineTest, CallerStreamIsNeitherReplacedNorFreed)
{
    TMemoryStream stream;
    int names = 0;
    exporter.OnGetFileName = [&](TPersistent*, int n, std::string& name) {
        ++names;
        EXPECT_EQ(n, 0);
        name = (dir / "ignored.doc").string();
    };
    exporter.RowsPerFile = 1;
    exporter.SaveToStream(&stream);
    EXPECT_EQ(names, 1);
    EXPECT_EQ(stream.Bytes(), "r0|0|r1|10|");
    EXPECT_FALSE(std::filesystem::exists(dir / "ignored.doc"));
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(exporter.Columns().Count(), 0);
    stream.WriteString("still usable");
}

TEST_F(PipelineTest, CallerStreamFailureRestoresTheProcessAndPropagates)
{
    const std::function<void()> throws[] = {
        [] { throw EFOpenError("Cannot open file \"x\""); },
        [] { throw std::runtime_error("host failure"); },
    };
    const TFormatSettings saved = FormatSettings();
    FormatSettings().DecimalSeparator = "!";
    exporter.DataFormats().DecimalSeparator = ",";
    for (const auto& doThrow : throws) {
        TMemoryStream stream;
        engine.OnGetValue = [&](TPersistent*, TKVEColumn*, Variant&) { doThrow(); };
        EXPECT_ANY_THROW(exporter.SaveToStream(&stream));
        EXPECT_EQ(exporter.Statistic().Result, erFailed);
        EXPECT_EQ(exporter.Columns().Count(), 0);
        EXPECT_EQ(exporter.SourceEngine(), nullptr);
        EXPECT_EQ(FormatSettings().DecimalSeparator, "!");
    }
    FormatSettings() = saved;
}

TEST_F(PipelineTest, FailureClosesTheFileWithItsFooter)
{
    exporter.Footer().Add("F");
    int after = 0;
    engine.OnAfterExecute = [&](TPersistent*) { ++after; };
    engine.OnGetValue = [this](TPersistent*, TKVEColumn*, Variant& value) {
        if (recNo == 1)
            throw Exception("cannot read row 1");
        value = Variant("v");
    };
    exporter.Options.Include(soShowMessage);
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_EQ(Read("out.doc"), "v|v|F|");
    EXPECT_EQ(after, 1); // the engine gets its position back on this path too
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Text, "Error of data export.: cannot read row 1");
}

TEST_F(PipelineTest, FileThatCannotBeCreatedFailsTheRun)
{
    exporter.SetFileName((dir / "missing-folder" / "out.doc").string());
    exporter.Options.Include(soShowMessage);
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_NE(ui.Boxes[0].Text.find("No such file or directory"), std::string::npos) << ui.Boxes[0].Text;
}

TEST_F(PipelineTest, MergeAppendsToAnExistingFileOrCreatesIt)
{
    exporter.Merge = true;
    exporter.Options.Include(soMergeData);
    WriteStringToFile((dir / "out.doc").string(), "old|");
    exporter.Execute();
    EXPECT_EQ(Read("out.doc"), "old|r0|0|r1|10|");
    std::filesystem::remove(dir / "out.doc");
    exporter.Execute();
    EXPECT_EQ(Read("out.doc"), "r0|0|r1|10|");
    exporter.Merge = false; // a target that cannot merge replaces the file
    exporter.Execute();
    EXPECT_EQ(Read("out.doc"), "r0|0|r1|10|");
}

TEST_F(PipelineTest, ValuesWithNulBytesAndSeparatorsPassUnchanged)
{
    const std::string value("a\0b|\r\n\xC3\xA9", 8);
    engine.OnGetValue = [&](TPersistent*, TKVEColumn*, Variant& v) { v = Variant(value); };
    exporter.Columns().Add()->FieldName = "X";
    rows = 1;
    exporter.Execute();
    EXPECT_EQ(Read("out.doc"), value + "|");
}

} // namespace
