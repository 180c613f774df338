// The table files (dBase, SPSS, Lotus and Quattro worksheets, Paradox), each read back by
// a reader nobody here wrote: the same awkward values arrive as they left or the run
// says why not, names are made valid, and what a format cannot hold is refused with no
// file left behind.

#include "cellfile/dbase_exporter.h"
#include "cellfile/lotus_exporter.h"
#include "cellfile/paradox_exporter.h"
#include "cellfile/quattro_exporter.h"
#include "cellfile/spss_exporter.h"
#include "framework/data_set.h"
#include "framework/files.h"
#include "framework/format_settings.h"
#include "framework/ui_services.h"
#include "tests/common/qt_application.h"
#include "tests/common/shell.h"
#include "tests/common/temp_folder.h"


#include <gtest/gtest.h>
extern "C" {
#include <paradox.h>
}

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

namespace {

class TableFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui.ForceHasGui = 0;
        ds.AddField("Id", ftLargeint);
        ds.AddField("Amount", ftFloat);
        ds.AddField("Name", ftString, 40);
        ds.AddField("Born", ftDate);
        ds.AddField("Flag", ftBoolean);
        ds.AppendRecord({Variant(9223372036854775807LL), Variant(0.1 + 0.2), Variant("Zoë Ünïcödé €"),
                         Variant::FromDateTime(EncodeDate(1850, 3, 1)), Variant(true)});
        ds.AppendRecord({Variant(-9223372036854775807LL - 1), Variant(-1.7976931348623157e308), Variant("plain"),
                         Variant::FromDateTime(EncodeDate(2026, 12, 7)), Variant(false)});
        ds.AppendRecord({Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null()});
        ds.First();
    }

    // Runs Exporter over the dataset into File; returns the run's result.
    TKVEResult Run(TKVExportBaseComponent& Exporter, const std::string& File, TMemoryDataSet* Source = nullptr)
    {
        Exporter.AnimatedStatus = false;
        if (ShowMessages)
            Exporter.Options.Include(soShowMessage); // the failure's message is a box
        else
            Exporter.Options.Exclude(soShowMessage);
        Exporter.ColumnSource = csDataSet;
        Exporter.SetDataSet(Source ? Source : &ds);
        Exporter.SetFileName(File);
        Exporter.Execute();
        return Exporter.Statistic().Result;
    }

    std::string Python(const std::string& Script, const std::string& File)
    {
        std::ofstream(dir / "read.py") << Script;
        return Shell("/usr/bin/python3 '" + dir / "read.py" + "' '" + File + "'");
    }

    // The rows LibreOffice reads from File, one repr() of a tuple a line (of a list of
    // the values that are neither texts nor empty with NumbersOnly): the file is opened
    // with InFilter (when given) and saved as a workbook that openpyxl reads.
    std::string LibreOffice(const std::string& File, const std::string& InFilter, bool NumbersOnly = false)
    {
        const std::string out = dir / "lo";
        Shell("timeout 180 soffice -env:UserInstallation=file://" + dir / "profile" + " --headless"
              + (InFilter.empty() ? std::string() : " --infilter='" + InFilter + "'") + " --convert-to xlsx --outdir '"
              + out + "' '" + File + "'");
        return Python(std::string("import sys, openpyxl\n"
                                  "for r in openpyxl.load_workbook(sys.argv[1]).active.iter_rows(values_only=True):\n")
                          + (NumbersOnly ? "    print([v for v in r if v is not None and not isinstance(v, str)])\n"
                                         : "    print(repr(r))\n"),
                      out + "/" + ChangeFileExt(ExtractFileName(File), ".xlsx"));
    }

    QApplication& app = EnsureQtApplication();
    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    TempDir dir{"tabrix_table"};
    TMemoryDataSet ds;
    bool ShowMessages = false;
};

// Every record of a Paradox table as pxlib reads it: "NAME TYPE:VALUE" a field, "null"
// for a blank, one record a line.
std::string ReadParadox(const std::string& File)
{
    pxdoc_t* doc = PX_new();
    if (PX_open_file(doc, File.c_str()) < 0) {
        PX_delete(doc);
        return "pxlib cannot open " + File;
    }
    std::string out;
    pxfield_t* fields = PX_get_fields(doc);
    std::vector<char> record(static_cast<std::size_t>(PX_get_recordsize(doc)));
    for (int r = 0; r < PX_get_num_records(doc); ++r) {
        PX_get_record(doc, r, record.data());
        char* data = record.data();
        for (int i = 0; i < PX_get_num_fields(doc); ++i) {
            const pxfield_t& f = fields[i];
            std::string value = "null";
            char* text = nullptr;
            double number;
            long whole;
            short little;
            char byte;
            switch (f.px_ftype) {
            case pxfAlpha:
                if (PX_get_data_alpha(doc, data, f.px_flen, &text) > 0)
                    value = text;
                break;
            case pxfShort:
                if (PX_get_data_short(doc, data, f.px_flen, &little) > 0)
                    value = std::to_string(little);
                break;
            case pxfLong:
            case pxfDate:
                // All bytes zero, which pxlib reads as the lowest 32-bit value, is
                // Paradox's blank.
                if (PX_get_data_long(doc, data, f.px_flen, &whole) > 0 && whole != -2147483648L) {
                    value = std::to_string(whole);
                    if (f.px_ftype == pxfDate) {
                        int y, m, d;
                        PX_SdnToGregorian(whole + 1721425, &y, &m, &d);
                        value = std::to_string(y) + "-" + std::to_string(m) + "-" + std::to_string(d);
                    }
                }
                break;
            case pxfNumber:
            case pxfCurrency:
            case pxfTimestamp:
                if (PX_get_data_double(doc, data, 8, &number) > 0)
                    value = TKVExportToRecordFile::ExactDouble(number);
                break;
            case pxfLogical:
                if (PX_get_data_byte(doc, data, 1, &byte) > 0)
                    value = byte ? "true" : "false";
                break;
            default: value = "?";
            }
            if (text)
                doc->free(doc, text);
            out += std::string(i ? " " : "") + f.px_fname + " " + std::to_string(f.px_ftype) + ":" + value;
            data += f.px_flen;
        }
        out += "\n";
    }
    PX_close(doc);
    PX_delete(doc);
    return out;
}

using TMake = std::function<std::unique_ptr<TKVExportBaseComponent>()>;
const TMake MakeDBase = [] { return std::make_unique<TKVExportToDBase>(); };
const TMake MakeSpss = [] { return std::make_unique<TKVExportToSPSS>(); };
const TMake MakeLotus = [] { return std::make_unique<TKVExportToWKS>(); };
const TMake MakeQuattro = [] { return std::make_unique<TKVExportToQuattro>(); };
const TMake MakeParadox = [] { return std::make_unique<TKVExportToParadox>(); };

TEST_F(TableFileTest, DBaseValuesArriveThroughDbfreadAndLibreOffice)
{
    TKVExportToDBase dbase;
    ASSERT_EQ(Run(dbase, dir / "out.dbf"), erCompleted) << dbase.Statistic().Warnings.size();
    EXPECT_EQ(ReadFileToString(dir / "out.cpg"), "UTF-8\n");
    EXPECT_EQ(Python("import sys, dbfread\n"
                     "t = dbfread.DBF(sys.argv[1], encoding='utf-8')\n"
                     "print([(f.name, f.type, f.length, f.decimal_count) for f in t.fields])\n"
                     "for r in t: print(repr(list(r.values())))\n",
                     dir / "out.dbf"),
              "[('Id', 'N', 20, 0), ('Amount', 'F', 24, 0), ('Name', 'C', 160, 0), ('Born', 'D', 8, 0), "
              "('Flag', 'L', 1, 0)]\n"
              "[9223372036854775807, 0.30000000000000004, 'Zoë Ünïcödé €', datetime.date(1850, 3, 1), True]\n"
              "[-9223372036854775808, -1.7976931348623157e+308, 'plain', datetime.date(2026, 12, 7), False]\n"
              "[None, None, '', None, None]\n");
    EXPECT_EQ(dbase.Statistic().Warnings,
              std::vector<std::string>{dir / "out.dbf" + ": 1 null texts were written as empty texts, which dBase cannot "
                                                         "tell apart (the first at field Name, record 3)"});
    // A spreadsheet holds 64-bit integers as doubles, and LibreOffice's dBase driver
    // reads numbers to 15 digits: its limits, not the file's.
    EXPECT_EQ(LibreOffice(dir / "out.dbf", "dBase:76"),
              "('Id,N,20,0', 'Amount,N,24,0', 'Name,C,160', 'Born,D', 'Flag,L')\n"
              "(9.22337203685478e+18, 0.3, 'Zoë Ünïcödé €', datetime.datetime(1850, 3, 1, 0, 0), True)\n"
              "(-9.22337203685478e+18, -1.7976931348623157e+308, 'plain', datetime.datetime(2026, 12, 7, 0, 0), False)\n");
}

TEST_F(TableFileTest, SpssValuesArriveThroughPspp)
{
    ds.FieldByName("Name")->SetDisplayLabel("Full name");
    TKVExportToSPSS spss;
    ASSERT_EQ(Run(spss, dir / "out.sav"), erCompleted);
    std::ofstream(dir / "dict.sps") << "GET FILE='" + dir / "out.sav" + "'.\nDISPLAY DICTIONARY.\n";
    EXPECT_EQ(Shell("pspp -O format=csv '" + dir / "dict.sps" + "' | sed -n 3,7p | cut -d, -f1,3,8"),
              "Id,Id,F20.0\nAmount,Amount,F40.16\nName,Full name,A160\nBorn,Born,DATE11\nFlag,Flag,F1.0\n");
    // A double cannot hold the largest 64-bit integers, and the lowest double is SPSS's
    // missing value: both said in warnings.
    EXPECT_EQ(Shell("pspp-convert '" + dir / "out.sav" + "' '" + dir / "out.csv" + "' && cat '" + dir / "out.csv" + "'"),
              "Id,Amount,Name,Born,Flag\n"
              "9.223372036854776e+18,0.30000000000000004,Zoë Ünïcödé €,03/01/1850,1\n"
              "-9.223372036854776e+18, ,plain,12/07/2026,0\n"
              " , ,, , \n");
    const std::string file = dir / "out.sav";
    EXPECT_EQ(spss.Statistic().Warnings,
              (std::vector<std::string>{
                  file + ": 1 whole numbers have no exact double and were rounded to the nearest (the first at field "
                         "Id, record 1)",
                  file + ": 1 numbers were the lowest double, which SPSS keeps for its missing value; they read back as "
                         "missing (the first at field Amount, record 2)",
                  file + ": 1 null texts were written as empty texts, which SPSS cannot tell apart (the first at field "
                         "Name, record 3)"}));
    // Fewer records than the source counted: the file says how many it holds.
    spss.OnBeforeRecord = [this](TPersistent*, bool& Accept) { Accept = !ds.FieldByName("Id")->IsNull(); };
    ASSERT_EQ(Run(spss, dir / "two.sav"), erCompleted);
    EXPECT_EQ(Shell("pspp-convert '" + dir / "two.sav" + "' '" + dir / "two.csv" + "' && wc -l < '" + dir / "two.csv" + "'"),
              "3\n");
}

TEST_F(TableFileTest, WorksheetValuesArriveThroughGnumericAndLibreOffice)
{
    // Gnumeric reads WK1 with every digit; LibreOffice reads both, its Lotus and
    // Quattro filters to 7 significant digits, and its Quattro filter (libwps) drops
    // the first two characters of every label, so only numbers and dates are compared
    // there.
    const std::string lotusRows = "(None, 'Report', None, None, None)\n('Id', 'Amount', 'Name', 'Born', 'Flag')\n"
                                  "(9.223372e+18, 0.3, 'Zoë Ünïcödé ?', '1850-03-01', 1)\n"
                                  "(-9.223372e+18, -1.7976931e+308, 'plain', datetime.datetime(2026, 12, 7, 0, 0), 0)\n";
    const std::string quattroNumbers = "[]\n[]\n[9.223372e+18, 0.3, 1]\n"
                                       "[-9.223372e+18, -1.7976931e+308, datetime.datetime(2026, 12, 7, 0, 0), 0]\n";
    struct TCase {
        TMake Make;
        std::string File, Gnumeric, LibreOffice;
    };
    for (const TCase& c : {TCase{MakeLotus, "out.wk1",
                                 ",Report,,,\nId,Amount,Name,Born,Flag\n"
                                 "9223372036854775808,0.3000000000000000444,\"Zoë Ünïcödé ?\",1850-03-01,1\n"
                                 "-9223372036854775808,-1.7976931348623157081E+308,plain,2026/12/07,0\n",
                                 lotusRows},
                           TCase{MakeQuattro, "out.wq1", "", quattroNumbers}}) {
        SCOPED_TRACE(c.File);
        auto sheet = c.Make();
        sheet->Header().Add("Report");
        sheet->AddTitle = true;
        ASSERT_EQ(Run(*sheet, dir / c.File), erCompleted);
        if (!c.Gnumeric.empty()) {
            EXPECT_EQ(Shell("ssconvert '" + dir / c.File + "' '" + dir / "gnumeric.csv" + "' && cat '" + dir / "gnumeric.csv" + "'"),
                      c.Gnumeric);
        }
        EXPECT_EQ(LibreOffice(dir / c.File, "", c.Gnumeric.empty()), c.LibreOffice);
        const std::string file = dir / c.File;
        EXPECT_EQ(sheet->Statistic().Warnings,
                  (std::vector<std::string>{
                      file + ": 1 whole numbers have no exact double and were rounded to the nearest (the first at field "
                             "Id, record 1)",
                      file + ": 1 texts held characters code page 437 has no form for; they became \"?\" (the first at "
                             "field Name, record 1)",
                      file + ": 1 dates before 1900-03-01 have no worksheet serial every reader agrees on and were "
                             "written as text (the first at "
                             "field Born, record 1)"}));
    }
}

// A table of some ten megabytes, more than the writer keeps in memory, reads back whole:
// the part written out to the temporary file and the part held at the end meet.
TEST_F(TableFileTest, ParadoxTableLargerThanItsMemoryWindowReadsBackWhole)
{
    TMemoryDataSet big;
    big.AddField("Line", ftString, 250);
    const auto line = [](int I) { return std::to_string(I) + std::string(240, 'x'); };
    for (int i = 0; i < 40000; ++i)
        big.AppendRecord({Variant(line(i))});
    big.First();
    TKVExportToParadox paradox;
    ASSERT_EQ(Run(paradox, dir / "big.db", &big), erCompleted);
    const std::string all = ReadParadox(dir / "big.db");
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 40000);
    for (const int i : {0, 20000, 39999})
        EXPECT_NE(all.find("Line 1:" + line(i) + "\n"), std::string::npos) << i;
}

// The header counts a table's blocks in 16 bits: the record past the last block is
// refused and leaves no file, rather than wrapping the count over records no reader
// finds. Blocks are 32 KB, 131 records of 250 bytes; the limit is lowered to two blocks
// so as not to write 2 GB.
TEST_F(TableFileTest, ParadoxTableEndsAtItsLastBlock)
{
    struct TTwoBlocks : TKVExportToParadox {
        TTwoBlocks() { FMaxBlocks = 2; }
    };
    TMemoryDataSet rows;
    rows.AddField("Line", ftString, 250);
    for (int i = 1; i <= 263; ++i)
        rows.AppendRecord({Variant(std::to_string(i))});
    ShowMessages = true;
    struct TCase {
        int Rows, RowsPerFile;
        std::string Result; // per file: its records, its last, the header's block count and block size
    };
    const std::string refused = "t.db: record 263: a Paradox table holds at most 2 blocks (262 records of 250 bytes); "
                                "this record does not fit";
    for (const TCase& c : {TCase{262, 0, "t.db 262 Line 1:262 2 32\n"}, TCase{263, 0, refused},
                           TCase{263, 300, refused + " (a RowsPerFile of at most 262 splits the rows into tables that "
                                                     "hold them)"},
                           TCase{263, 262, "t.db 262 Line 1:262 2 32\nt001.db 1 Line 1:263 1 32\n"}}) {
        SCOPED_TRACE(std::to_string(c.Rows) + " rows, " + std::to_string(c.RowsPerFile) + " a file");
        const std::string out = dir / ("rows" + std::to_string(c.Rows) + "_" + std::to_string(c.RowsPerFile) + "/");
        std::filesystem::create_directory(out);
        TTwoBlocks paradox;
        paradox.RowsPerFile = c.RowsPerFile;
        paradox.OnBeforeRecord = [&](TPersistent*, bool& Accept) {
            Accept = rows.FieldByName("Line")->AsInteger() <= c.Rows;
        };
        if (c.Result.find(": record ") != std::string::npos) {
            EXPECT_EQ(Run(paradox, out + "t.db", &rows), erFailed);
            ASSERT_FALSE(ui.Boxes.empty());
            EXPECT_NE(ui.Boxes.back().Text.find(out + c.Result), std::string::npos) << ui.Boxes.back().Text;
            EXPECT_EQ(FolderEntries(out), (std::set<std::string>{".", ".."}));
            continue;
        }
        ASSERT_EQ(Run(paradox, out + "t.db", &rows), erCompleted);
        std::string result;
        for (const std::string file : {"t.db", "t001.db"}) {
            if (!std::filesystem::exists(out + file))
                continue;
            const std::string all = ReadParadox(out + file), h = ReadFileToString(out + file);
            const std::size_t last = all.rfind('\n', all.size() - 2) + 1; // 0 for a single record
            result += file + " " + std::to_string(std::count(all.begin(), all.end(), '\n')) + " "
                + all.substr(last, all.size() - last - 1) + " "
                + std::to_string(static_cast<unsigned char>(h[0x0C]) | static_cast<unsigned char>(h[0x0D]) << 8) + " "
                + std::to_string(h[5]) + "\n";
        }
        EXPECT_EQ(result, c.Result);
    }
}

TEST_F(TableFileTest, ParadoxValuesArriveThroughPxlibAndTheHeaderSaysWhatTheTableIs)
{
    TKVExportToParadox paradox;
    ASSERT_EQ(Run(paradox, dir / "out.db"), erCompleted);
    // Windows 1252 has the euro sign; a double cannot hold the largest 64-bit integers.
    EXPECT_EQ(ReadParadox(dir / "out.db"),
              "Id 6:9223372036854775808 Amount 6:0.30000000000000004 Name 1:Zo\xEB \xDCn\xEF" "c\xF6" "d\xE9 \x80 "
              "Born 2:1850-3-1 Flag 9:true\n"
              "Id 6:-9223372036854775808 Amount 6:-1.7976931348623157e+308 Name 1:plain Born 2:2026-12-7 Flag 9:false\n"
              "Id 6:null Amount 6:null Name 1:null Born 2:null Flag 9:null\n");
    // The header, read from the published layout: record size, file type 2 (not
    // indexed), record and field counts, no key fields, the code page, and each field's
    // type and size.
    const std::string h = ReadFileToString(dir / "out.db");
    ASSERT_GT(h.size(), 0x80u);
    const auto u16 = [&h](std::size_t At) { return static_cast<unsigned char>(h[At]) | static_cast<unsigned char>(h[At + 1]) << 8; };
    std::string fields;
    for (int i = 0; i < u16(0x21); ++i)
        fields += std::to_string(static_cast<unsigned char>(h[0x78 + 2 * i])) + "/" + std::to_string(static_cast<unsigned char>(h[0x79 + 2 * i])) + " ";
    EXPECT_EQ(std::to_string(u16(0)) + " " + std::to_string(h[4]) + " " + std::to_string(u16(6)) + " " + std::to_string(u16(0x21))
                  + " " + std::to_string(u16(0x23)) + " " + std::to_string(u16(0x6A)) + " | " + fields,
              "61 2 3 5 0 1252 | 6/8 6/8 1/40 2/4 9/1 ");
    EXPECT_EQ(paradox.Statistic().Warnings,
              std::vector<std::string>{dir / "out.db" + ": 1 whole numbers have no exact double and were rounded to the "
                                                        "nearest (the first at field Id, record 1)"});
}

TEST_F(TableFileTest, WhatAFormatCannotHoldIsRefusedAndNoFileIsLeft)
{
    TMemoryDataSet rows, wide;
    rows.AddField("N", ftInteger);
    for (int i = 0; i < 8192; ++i)
        rows.AppendRecord({Variant(i)});
    for (int i = 0; i < 257; ++i)
        wide.AddField("C" + std::to_string(i), ftInteger);
    wide.AppendRecord({Variant(1)});
    ds.AppendRecord({Variant(1), Variant(1.0), Variant(std::string(241, 'x'))});
    ShowMessages = true;
    struct TCase {
        TMake Make;
        std::string File;
        TMemoryDataSet* Source;
        std::string Message;
    };
    for (const TCase& c : {
             TCase{MakeDBase, "t.dbf", nullptr, "t.dbf: field Name, record 4: the text of 241 bytes does not fit the field's 160"},
             TCase{MakeParadox, "t.db", nullptr, "t.db: field Name, record 4: the text of 241 bytes does not fit the field's 40"},
             TCase{MakeSpss, "t.sav", nullptr, "t.sav: field Name, record 4: the text of 241 bytes does not fit the variable's 160"},
             TCase{MakeLotus, "t.wk1", nullptr, "t.wk1: field Name, record 4: a label of a Lotus 1-2-3 worksheet holds at most "
                                                "240 bytes; this text has 241"},
             TCase{MakeLotus, "t.wk1", &rows, "t.wk1: a Lotus 1-2-3 worksheet holds at most 8192 rows; this export needs 8193 "
                                              "(split it into files of fewer rows)"},
             TCase{MakeQuattro, "t.wq1", &wide, "t.wq1: a Quattro Pro worksheet holds at most 256 columns; 257 are visible"}}) {
        SCOPED_TRACE(c.Message);
        const std::string out = dir / "refused/";
        std::filesystem::create_directory(out);
        auto exporter = c.Make();
        exporter->AddTitle = true;
        Run(*exporter, out + c.File, c.Source);
        EXPECT_EQ(exporter->Statistic().Result, erFailed);
        ASSERT_FALSE(ui.Boxes.empty());
        EXPECT_NE(ui.Boxes.back().Text.find(out + c.Message), std::string::npos) << ui.Boxes.back().Text;
        EXPECT_EQ(FolderEntries(out), (std::set<std::string>{".", ".."}));
    }
}

TEST_F(TableFileTest, FieldNamesAreMadeValidAndUnique)
{
    TMemoryDataSet names;
    for (const char* name : {"order date", "Ünï", "12abc", "a_very_long_field_name_1", "a_very_long_field_name_2", "x-y",
                             "X_Y", "and"})
        names.AddField(name, ftInteger);
    names.AppendRecord({Variant(1)});
    TKVExportToDBase dbase;
    ASSERT_EQ(Run(dbase, dir / "names.dbf", &names), erCompleted);
    EXPECT_EQ(Python("import sys, dbfread\nprint(dbfread.DBF(sys.argv[1]).field_names)\n", dir / "names.dbf"),
              "['order_date', 'F_n_', 'F12abc', 'a_very_lon', 'a_very_l_2', 'x_y', 'X_Y_2', 'and']\n");
    TKVExportToSPSS spss;
    ASSERT_EQ(Run(spss, dir / "names.sav", &names), erCompleted);
    std::ofstream(dir / "dict.sps") << "GET FILE='" + dir / "names.sav" + "'.\nDISPLAY DICTIONARY.\n";
    EXPECT_EQ(Shell("pspp -O format=csv '" + dir / "dict.sps" + "' | sed -n 3,10p | cut -d, -f1,3"),
              "order_date,order date\nV_n_,Ünï\nV12abc,12abc\na_very_long_field_name_1,a_very_long_field_name_1\n"
              "a_very_long_field_name_2,a_very_long_field_name_2\nx_y,x-y\nX_Y_2,X_Y\nand_2,and\n");
    TKVExportToParadox paradox;
    ASSERT_EQ(Run(paradox, dir / "names.db", &names), erCompleted);
    EXPECT_EQ(ReadParadox(dir / "names.db"), "order_date 4:1 F_n_ 4:null F12abc 4:null a_very_long_field_name_1 4:null "
                                              "a_very_long_field_name_2 4:null x_y 4:null X_Y_2 4:null and 4:null\n");
}

} // namespace
