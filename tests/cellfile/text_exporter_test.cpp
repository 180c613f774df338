// Delimited and fixed-width text and JSON, read back by Python's csv and json modules
// where a reader exists: awkward values survive every delimiter and qualifier,
// fixed-width columns pad and cut with a warning, and RowsPerFile gives each file its
// own header and captions.

#include "cellfile/json_exporter.h"
#include "cellfile/text_exporter.h"
#include "cellfile/value_text.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/ui_services.h"
#include "tests/common/awkward_texts.h"
#include "tests/common/qt_application.h"
#include "tests/common/shell.h"
#include "tests/common/temp_folder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

class TextExporterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui.ForceHasGui = 0;
        AddAwkwardRecords(ds);
        ExportQuietlyFrom(exporter, ds);
        exporter.AddTitle = true;
        exporter.SetFileName(dir / "out.txt");
    }

    // The rows Python's csv module reads from File, one per line, each field in hex
    // and followed by "|".
    std::string ReadBack(const std::string& File, const std::string& Delimiter, const std::string& Qualifier)
    {
        std::ofstream(dir / "read.py") << "import sys, csv\n"
                                          "d, q = bytes.fromhex(sys.argv[2]).decode(), bytes.fromhex(sys.argv[3]).decode()\n"
                                          "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                          "    for row in csv.reader(f, delimiter=d, quotechar=q):\n"
                                          "        print(''.join(v.encode().hex() + '|' for v in row))\n";
        return Shell("/usr/bin/python3 '" + dir / "read.py" + "' '" + File + "' " + Hex(Delimiter) + " " + Hex(Qualifier));
    }

    QApplication& app = EnsureQtApplication();
    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    TempDir dir{"tabrix_text"};
    TMemoryDataSet ds;
    TKVExportToText exporter;
};

// The rows as ReadBack gives them: the header line, the captions, then every value.
std::string Expected(const std::string& HeaderLine)
{
    std::string rows = Hex(HeaderLine) + "|\n" + Hex("Text") + "|" + Hex("No") + "|\n";
    for (std::size_t i = 0; i < Awkward.size(); ++i)
        rows += Hex(Awkward[i]) + "|" + Hex(std::to_string(i)) + "|\n";
    return rows + "||\n";
}

TEST_F(TextExporterTest, AwkwardValuesSurviveEveryDelimiterAndQualifier)
{
    struct TCase {
        std::string Delimiter, Qualifier, Separator;
    };
    const std::string headerLine = "Report, \"2026\"";
    exporter.Header().Add(headerLine);
    const std::string expected = Expected(headerLine);
    for (const TCase& c : {TCase{",", "\"", "\r\n"}, TCase{"\t", "\"", "\n"}, TCase{";", "'", "\r\n"},
                           TCase{" ", "\"", "\n"}, TCase{"|", "\"", "\r\n"}}) {
        SCOPED_TRACE("delimiter '" + c.Delimiter + "', qualifier " + c.Qualifier);
        exporter.FieldDelimiter = c.Delimiter;
        exporter.TextQualifier = c.Qualifier;
        exporter.RecordSeparator = c.Separator;
        exporter.Execute();
        ASSERT_EQ(exporter.Statistic().Result, erCompleted);
        EXPECT_EQ(ReadBack(dir / "out.txt", c.Delimiter, c.Qualifier), expected);
        EXPECT_TRUE(exporter.Statistic().Warnings.empty());
    }
    // The reader cannot tell them apart, the file does: an empty text is qualified, a
    // null is nothing.
    const std::string text = ReadFileToString(dir / "out.txt");
    EXPECT_NE(text.find("\r\n\"\"|9\r\n|\r\n"), std::string::npos) << text;
}

TEST_F(TextExporterTest, WithoutQualifierSplittingValuesAreCounted)
{
    exporter.FieldDelimiter = ",";
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Warnings.size(), 1u);
    EXPECT_EQ(exporter.Statistic().Warnings[0], dir / "out.txt"
                  + ": 2 values hold the delimiter or a line break and no text qualifier is set; a reader will split "
                    "them (the first at line 3, field 1)");
}

TEST_F(TextExporterTest, FixedWidthPadsByAlignmentAndCountsWhatItCuts)
{
    exporter.Fixed = true;
    exporter.RecordSeparator = "\n";
    exporter.Footer().Add("end of\nlist");
    exporter.OnBeforeRecord = [this](TPersistent*, bool& Accept) {
        const std::string text = ds.FieldByName("Text")->AsString();
        Accept = text == "007" || text == "Zoë Ünïcödé" || text == "🎉 emoji";
    };
    TKVEColumn* text = exporter.Columns().Add();
    text->FieldName = text->Title().Caption = "Text";
    text->Width = 5;
    TKVEColumn* number = exporter.Columns().Add();
    number->FieldName = number->Title().Caption = "No";
    number->Width = 3;
    number->Alignment = taRightJustify;
    const std::string cut = dir / "out.txt" + ": 2 values were longer than their fixed-width column and were cut "
                                              "(the first at line 3, field 1)";
    const std::string breaks = dir / "out.txt" + ": 1 values held line breaks, which fixed-width text cannot hold; "
                                                 "they became blanks (the first at line 5, field 1)";
    struct TCase {
        TCharacterSet Set;
        std::string File;
        std::vector<std::string> Warnings;
    };
    // Text takes 5 characters, No the 11 of a 32-bit integer's text (right-aligned) rather
    // than its 3, a blank between them. In the DOS code page (437 in the C locale) a
    // character is a byte, and the emoji has no form there.
    ::setenv("LC_ALL", "C", 1);
    for (const TCase& c : {TCase{csANSI_WINDOWS,
                                 "Text  No         \n007             4\nZoë Ü           6\n🎉 emo           7\nend of list\n",
                                 {cut, breaks}},
                           TCase{csASCII_MSDOS,
                                 "Text  No         \n007             4\nZo\x89 \x9a           6\n? emo           7\nend of list\n",
                                 {cut, breaks, "1 characters have no form in the DOS code page and became \"?\""}}}) {
        SCOPED_TRACE(c.Set);
        exporter.CharacterSet = c.Set;
        exporter.Execute();
        ASSERT_EQ(exporter.Statistic().Result, erCompleted);
        EXPECT_EQ(ReadFileToString(dir / "out.txt"), c.File);
        EXPECT_EQ(exporter.Statistic().Warnings, c.Warnings);
    }
}

// Fixed-width numbers, dates and times are never cut into other values: a column of
// them is at least as wide as the longest text of its type, whatever width the first
// rows gave it, and a value wider still (a decimal, which no type bounds) fails the
// export naming its column and row. Only texts are cut. One blank between columns.
TEST_F(TextExporterTest, FixedWidthKeepsNumbersDatesAndTimesWhole)
{
    TDateTimeParts when;
    when.Year = 2024, when.Month = 6, when.Day = 30, when.Hour = 12, when.Microsecond = 123456;
    TDateTimeParts time;
    time.Hour = 23, time.Minute = 59, time.Second = 59, time.Microsecond = 999999;
    UseExactValueTexts(exporter);
    exporter.Fixed = true;
    exporter.RecordSeparator = "\n";
    struct TCase {
        std::string Decimal, File, Failure;
    };
    // The decimals are held as money, with four places.
    for (const TCase& c :
         {TCase{"-0.25",
                "                    Real                  Big When                       At              Name     Dec\n"
                " 2.2250738585072014e-308 -9223372036854775808 2024-06-30 12:00:00.123456 23:59:59.999999 abcd  1.0000\n"
                "-2.2250738585072014e-308                    0 0001-01-01 00:00:00        00:00:00        x    -0.2500\n",
                ""},
          TCase{"-12.5", "", "c.txt: column Dec, row 2: -12.5000 does not fit the column's fixed width of 7 characters, "
                              "and a number, date or time is not cut"}}) {
        SCOPED_TRACE(c.Decimal);
        TMemoryDataSet typed;
        for (const auto& [name, type] : {std::pair{"Real", ftFloat}, {"Big", ftLargeint}, {"When", ftDateTime},
                                          {"At", ftTime}, {"Name", ftString}, {"Dec", ftFMTBcd}}) {
            typed.AddField(name, type, type == ftString ? 20 : 0);
            typed.FieldByName(name)->SetDisplayWidth(4); // as the first rows would give it
        }
        typed.FieldByName("Dec")->SetDisplayWidth(7);
        typed.AppendRecord({Variant(2.2250738585072014e-308), Variant(-9223372036854775807LL - 1),
                            Variant::FromDateTime(SerialOfParts(when)), Variant::FromDateTime(SerialOfParts(time)),
                            Variant("abcdef"), Variant("1")});
        typed.AppendRecord({Variant(-2.2250738585072014e-308), Variant(0LL),
                            Variant::FromDateTime(SerialOfParts(TDateTimeParts{1, 1, 1})),
                            Variant::FromDateTime(0.0), Variant("x"), Variant(c.Decimal)});
        typed.First();
        ExportQuietlyFrom(exporter, typed);
        exporter.Options.Include(soShowMessage);
        const std::string file = dir / (c.File.empty() ? "c.txt" : "f.txt");
        exporter.SetFileName(file);
        exporter.Execute();
        if (!c.File.empty()) {
            ASSERT_EQ(exporter.Statistic().Result, erCompleted);
            EXPECT_EQ(ReadFileToString(file), c.File);
            EXPECT_EQ(exporter.Statistic().Warnings,
                      std::vector<std::string>{file + ": 1 values were longer than their fixed-width column and were cut "
                                                      "(the first at line 2, field 5)"});
        } else {
            EXPECT_EQ(exporter.Statistic().Result, erFailed);
            ASSERT_FALSE(ui.Boxes.empty());
            EXPECT_NE(ui.Boxes.back().Text.find(dir / c.Failure), std::string::npos) << ui.Boxes.back().Text;
            EXPECT_FALSE(std::filesystem::exists(file));
        }
    }
}

TEST_F(TextExporterTest, RowsPerFileGivesEachFileItsHeaderAndCaptions)
{
    exporter.FieldDelimiter = ",";
    exporter.TextQualifier = "\"";
    exporter.RecordSeparator = "\n";
    exporter.Header().Add("H");
    exporter.RowsPerFile = 5;
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(ReadFileToString(dir / "out.txt"),
              "H\nText,No\nplain,0\n\"a,b;c\td|e\",1\n\"say \"\"hi\"\" 'there'\",2\n\"line1\nline2\r\nline3\",3\n007,4\n");
    EXPECT_EQ(ReadFileToString(dir / "out001.txt"), "H\nText,No\n=1+1,5\nZoë Ünïcödé,6\n🎉 emoji,7\n padded ,8\n\"\",9\n");
    EXPECT_EQ(ReadFileToString(dir / "out002.txt"), "H\nText,No\n,\n");
}

} // namespace

namespace {

TEST_F(TextExporterTest, FailedExportLeavesTheTargetAsItWasAndNoTemporaryFile)
{
    WriteStringToFile(dir / "out.txt", "old");
    int seen = 0;
    exporter.OnBeforeRecord = [&seen](TPersistent*, bool&) {
        if (++seen == 3)
            throw Exception("source gone");
    };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_EQ(ReadFileToString(dir / "out.txt"), "old");
    EXPECT_EQ(FolderEntries(dir.Path), (std::set<std::string>{".", "..", "out.txt"}));
}

} // namespace

namespace {

// Python's json module reads every record back: texts whole, numbers as numbers, null
// as None; header lines are left out and said so.
TEST_F(TextExporterTest, JsonAndJsonLinesReadBackByPythonJson)
{
    std::ofstream(dir / "read.py")
        << "import sys, json\n"
           "with open(sys.argv[1], encoding='utf-8') as f:\n"
           "    records = json.load(f) if sys.argv[2] == 'array' else [json.loads(l) for l in f]\n"
           "for o in records:\n"
           "    t = o['Text']\n"
           "    print(('null' if t is None else t.encode().hex()) + '|' + type(o['No']).__name__ + ':' + str(o['No']))\n";
    std::string expected;
    for (std::size_t i = 0; i < Awkward.size(); ++i)
        expected += Hex(Awkward[i]) + "|int:" + std::to_string(i) + "\n";
    expected += "null|NoneType:None\n";
    for (const bool lines : {false, true}) {
        SCOPED_TRACE(lines ? "JSON Lines" : "JSON");
        TKVExportToJSON json;
        json.Lines = lines;
        ExportQuietlyFrom(json, ds);
        json.Header().Add("left out");
        json.SetFileName(dir / "out.json");
        json.Execute();
        ASSERT_EQ(json.Statistic().Result, erCompleted);
        EXPECT_EQ(Shell("/usr/bin/python3 '" + dir / "read.py" + "' '" + dir / "out.json" + "' "
                        + (lines ? "lines" : "array")),
                  expected);
        EXPECT_EQ(json.Statistic().Warnings,
                  std::vector<std::string>{"1 header and footer lines have no place in JSON and were left out"});
    }
}

// JSON has no infinity or NaN: such numbers stay strings, the file stays strict JSON, and
// the run counts them.
TEST_F(TextExporterTest, JsonCountsNumbersItCannotHold)
{
    TMemoryDataSet numbers;
    numbers.AddField("Real", ftFloat);
    for (const double value : {1.5, HUGE_VAL, -HUGE_VAL, std::nan("")})
        numbers.AppendRecord({Variant(value)});
    numbers.First();
    TKVExportToJSON json;
    ExportQuietlyFrom(json, numbers);
    json.SetFileName(dir / "out.json");
    json.Execute();
    ASSERT_EQ(json.Statistic().Result, erCompleted);
    EXPECT_EQ(Shell("/usr/bin/python3 -c 'import json, sys\n"
                    "def strict(name): raise ValueError(name)\n"
                    "print(*(type(o[\"Real\"]).__name__ for o in json.load(open(sys.argv[1]), parse_constant=strict)))' '"
                    + dir / "out.json" + "'"),
              "float str str str\n");
    EXPECT_EQ(json.Statistic().Warnings,
              std::vector<std::string>{dir / "out.json" + ": 3 numbers have no JSON number form (infinite, not a number, "
                                                       "or formatted) and were written as strings (the first at field "
                                                       "Real, record 2)"});
}

} // namespace
