// The native spreadsheet application: how it reads the texts put into cells, and the
// limits of its streamed rows.

#include "platform/automation/automation.h"
#include "framework/files.h"
#include "framework/format_settings.h"
#include "platform/automation/excel/excel_workbook.h"
#include "platform/automation/excel/xlsx_sheet_scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <zip.h>

namespace {

class ExcelServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = FormatSettings();
        FormatSettings().DecimalSeparator = ",";
        FormatSettings().ThousandSeparator = ".";
        FormatSettings().DateSeparator = ".";
        FormatSettings().ShortDateFormat = "dd.mm.yyyy";
        app = CreateAutomationObject("Excel.Application");
        app.Call("WorkBooks").Call("Add");
    }
    void TearDown() override
    {
        app.Call("Quit");
        FormatSettings() = saved;
    }
    AutomationValue Sheet() { return app.Call("ActiveSheet"); }

    TFormatSettings saved;
    AutomationValue app;
};

TEST_F(ExcelServerTest, TextsAreReadAsNumbersAndDatesUnlessTheCellIsText)
{
    struct Case {
        AutomationValue Text;
        const char* Format;
        AutomationValue Expected;
        const char* ShownAs = nullptr; // the cell's number format afterwards, where it matters
    };
    const Case cases[] = {
        {"12", "", 12.0, "General"},
        {" 7 ", "0", 7.0},
        {"007", "", 7.0},
        {"007", "@", "007"},
        {"1,5", "@", "1,5"},
        {"1.234,5", "", 1234.5},
        {"1.234.567", "", 1234567.0},
        {"1.5", "", 1.5},          // the automation form of a number
        {"1.23", "", 1.23},        // not a group of three: the automation form again
        {"-3e2", "", -300.0},
        {"+,5", "", 0.5},
        {"01.02.2024", "", 45323.0, "m/d/yyyy"},
        {"1.2.24", "", 45323.0},
        {"31.02.2024", "", "31.02.2024"},
        // The 1900 date system counts a 29 February 1900: days before March are one less.
        {"01.01.1900", "", 1.0},
        {"28.02.1900", "", 59.0},
        {"29.02.1900", "", 60.0, "m/d/yyyy"},
        {"01.03.1900", "", 61.0},
        {"31.12.1899", "", "31.12.1899"},
        {"29.02.1901", "", "29.02.1901"},
        {"13:30", "", 0.5625, "h:mm:ss"},
        {"01.02.2024 12:00", "", 45323.5, "m/d/yyyy h:mm"},
        {"12%", "", "12%"},
        {"TRUE", "", "TRUE"},
        {"1,2,3", "", "1,2,3"},
        {"", "", AutomationValue()},
        // A logical value stays one, also under the text format; the bytes of a text stay
        // that text, an empty one too.
        {true, "@", true, "General"},
        {false, "", false},
        {AutomationValue::ByteArray("007"), "", "007"},
        {AutomationValue::ByteArray(""), "", std::string()},
    };
    int row = 1;
    for (const Case& c : cases) {
        AutomationValue cell = Sheet().Get("Cells", {row, 1});
        if (*c.Format) cell.Put("NumberFormat", c.Format);
        cell.Put("Value", c.Text);
        const std::string text = c.Text.StringRef();
        EXPECT_EQ(Sheet().Get("Cells", {row, 1}).Get("Value"), c.Expected) << text << " under '" << c.Format << "'";
        EXPECT_EQ(Sheet().Get("Cells", {row, 1}).Get("Value").GetKind(), c.Expected.GetKind()) << row;
        if (c.ShownAs) {
            EXPECT_EQ(Sheet().Get("Cells", {row, 1}).Get("NumberFormat").ToString(), c.ShownAs) << row;
        }
        ++row;
    }
}

TEST_F(ExcelServerTest, SheetNamesHoldThirtyOneCharacters)
{
    std::string name;
    for (int i = 0; i < 31; ++i) name += "\xC3\xBC"; // ü
    Sheet().Put("Name", name);
    EXPECT_EQ(Sheet().Get("Name").ToString(), name);
    EXPECT_THROW(Sheet().Put("Name", name + "x"), Exception);
    EXPECT_THROW(Sheet().Put("Name", std::string(30, 'a') + "\xF0\x9F\x98\x80"), Exception); // 32 UTF-16 units
    EXPECT_THROW(Sheet().Put("Name", "tab\there"), Exception);
    const std::string file = (std::filesystem::temp_directory_path() / ("tabrix-sheet-name-" + std::to_string(::getpid()) + ".xls")).string();
    app.Call("ActiveWorkbook").Call("SaveAs", {file});
    std::filesystem::remove(file);
}

TEST_F(ExcelServerTest, RowsAreWrittenInOrderWithinTheSheetLimits)
{
    Sheet().Get("Range", {"A10", "B10"}).Put("Value", AutomationValue::ArrayOf({AutomationValue::ArrayOf({"a", "b"})}));
    Sheet().Get("Cells", {11, 1}).Put("Value", "next");
    // Within a row the cells come in any order; a line along the row reaches every cell.
    Sheet().Get("Cells", {11, 4}).Put("Value", "d");
    Sheet().Get("Cells", {11, 2}).Put("Value", "b");
    Sheet().Get("Range", {"A11", "E11"}).Call("Borders").Get("Item", {9}).Put("LineStyle", 1);
    const AutomationValue row11[] = {"next", "b", AutomationValue(), "d", AutomationValue()};
    for (int c = 1; c <= 5; ++c) {
        AutomationValue cell = Sheet().Get("Cells", {11, c});
        EXPECT_EQ(cell.Get("Value"), row11[c - 1]) << c;
        EXPECT_EQ(cell.Call("Borders").Get("Item", {9}).Get("LineStyle").ToInteger(), 1) << c;
    }
    EXPECT_THROW(Sheet().Get("Cells", {10, 1}).Put("Value", "back"), Exception);
    EXPECT_THROW(Sheet().Get("Cells", {1048577, 1}), Exception);
    EXPECT_THROW(Sheet().Get("Columns", {16385}), Exception);
    EXPECT_THROW(Sheet().Get("Cells", {12, 1}).Put("Value", std::string(32768, 'x')), Exception);
    EXPECT_THROW(Sheet().Get("Range", {"A", "B1"}), Exception);
    try {
        Sheet().Call("Charts");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("Charts"), std::string::npos) << e.Message();
    }
}

// SaveAs: what each file-format code writes, told by the file's first bytes.
TEST_F(ExcelServerTest, FileFormatCodesChooseTheWriter)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tabrix-xl-codes-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    Sheet().Get("Cells", {1, 1}).Put("Value", "x");
    const std::string zip = "PK\x03\x04", compound = "\xD0\xCF\x11\xE0";
    const struct {
        const char* Name;
        int Code;
        std::string Magic; // empty: refused
    } cases[] = {
        {"a.xlsx", 0, zip},      {"a.XLS", 0, compound},   {"a.xlt", 0, compound}, {"a.xls", 51, zip},
        {"a.xlsx", 56, compound}, {"a.xls", -4143, compound}, {"a.xls", 16, compound}, {"a.xls", 27, compound},
        {"a.xls", 29, compound}, {"a.xls", 33, compound},    {"a.xls", 39, compound}, {"a.xls", 43, compound},
        {"a.txt", 0, ""},        {"a.xls", 6, ""},
    };
    AutomationValue book = app.Call("ActiveWorkbook");
    for (const auto& c : cases) {
        const std::string file = (dir / c.Name).string();
        std::filesystem::remove(file);
        const auto save = [&] { c.Code ? book.Call("SaveAs", {file, c.Code}) : book.Call("SaveAs", {file}); };
        if (c.Magic.empty()) {
            EXPECT_THROW(save(), Exception) << c.Name << " " << c.Code;
            EXPECT_FALSE(std::filesystem::exists(file));
            continue;
        }
        save();
        EXPECT_EQ(ReadFileToString(file).substr(0, 4), c.Magic) << c.Name << " " << c.Code;
    }
    std::filesystem::remove_all(dir);
}

// The rows of a new sheet are made into the .xlsx part while they arrive, and that part's
// thread writes the spool: every save holds every row, also a save as .xls while the part
// is under way, a save after more rows and one as .xls, as openpyxl and xlrd read them.
TEST_F(ExcelServerTest, EverySaveHoldsEveryRow)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tabrix-xl-saves-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    AutomationValue book = app.Call("ActiveWorkbook");
    const auto put = [&](int from, int to) {
        for (int r = from; r <= to; ++r)
            Sheet().Get("Range", {"A" + std::to_string(r), "B" + std::to_string(r)})
                .Put("Value", AutomationValue::ArrayOf({AutomationValue::ArrayOf({"row " + std::to_string(r), r})}));
    };
    const char* const script = "import sys\n"
                               "if sys.argv[1].endswith('.xls'):\n"
                               "    import xlrd; ws = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
                               "    rows = [ws.row_values(r) for r in range(ws.nrows)]\n"
                               "else:\n"
                               "    import openpyxl; rows = list(openpyxl.load_workbook(sys.argv[1]).active.values)\n"
                               "ok = all(r[0] == 'row %d' % (i + 1) and r[1] == i + 1 for i, r in enumerate(rows))\n"
                               "print(len(rows), ok)\n";
    WriteStringToFile((dir / "read.py").string(), script);
    const auto read = [&](const std::string& name) {
        std::string out;
        FILE* pipe = ::popen(("/usr/bin/python3 " + (dir / "read.py").string() + " " + (dir / name).string() + " 2>&1").c_str(), "r");
        char buf[256];
        while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
        ::pclose(pipe);
        return out;
    };
    put(1, 5000); // more than the spool's buffer: the part is under way before the save
    book.Call("SaveAs", {(dir / "first.xls").string()});
    book.Call("SaveAs", {(dir / "a.xlsx").string()});
    put(5001, 5010);
    book.Call("SaveAs", {(dir / "b.xlsx").string()});
    book.Call("SaveAs", {(dir / "c.xls").string()});
    EXPECT_EQ(read("first.xls"), "5000 True\n");
    EXPECT_EQ(read("a.xlsx"), "5000 True\n");
    EXPECT_EQ(read("b.xlsx"), "5010 True\n");
    EXPECT_EQ(read("c.xls"), "5010 True\n");
    std::filesystem::remove_all(dir);
}

// An .xls sheet holds 65,536 rows and 256 columns: a larger one is refused by name of the
// limit, and the existing file is left as it was.
TEST_F(ExcelServerTest, XlsLimitsRefuseBeforeTheTargetIsTouched)
{
    const std::string file = (std::filesystem::temp_directory_path() / ("tabrix-xl-limit-" + std::to_string(::getpid()) + ".xls")).string();
    WriteStringToFile(file, "old");
    for (const auto& [row, col] : {std::pair{65537, 1}, {1, 257}}) {
        app.Call("WorkBooks").Call("Add");
        Sheet().Get("Cells", {row, col}).Put("Value", "1");
        try {
            app.Call("ActiveWorkbook").Call("SaveAs", {file});
            ADD_FAILURE() << row << "," << col;
        } catch (const Exception& e) {
            EXPECT_NE(e.Message().find("65,536 rows and 256 columns"), std::string::npos) << e.Message();
        }
        EXPECT_EQ(ReadFileToString(file), "old");
    }
    std::filesystem::remove(file);
}

TEST(XlsPasswordHashTest, MatchesTheLegacySheetProtectionHash)
{
    EXPECT_EQ(XlLegacyPasswordHash("secret"), 0xDAA7);
    EXPECT_EQ(XlLegacyPasswordHash(""), 0xCE4B);
}

// Damaged .xls files: opening either works or fails with the server's message; never a
// crash or a read outside the file's records.
TEST_F(ExcelServerTest, DamagedXlsFilesFailCleanly)
{
    const std::string file = (std::filesystem::temp_directory_path() / ("tabrix-xl-damaged-" + std::to_string(::getpid()) + ".xls")).string();
    for (int r = 1; r <= 40; ++r) {
        Sheet().Get("Cells", {r, 1}).Put("Value", "text " + std::to_string(r) + std::string(static_cast<std::size_t>(r) * 20, 'x'));
        Sheet().Get("Cells", {r, 2}).Put("Value", std::to_string(r * 1.5));
    }
    app.Call("ActiveWorkbook").Call("SaveAs", {file});
    const std::string good = ReadFileToString(file);
    std::uint32_t seed = 12345;
    const auto random = [&] { return seed = seed * 1103515245 + 12345, (seed >> 8) % good.size(); };
    int opened = 0;
    for (int i = 0; i < 300; ++i) {
        std::string bad = good;
        if (i % 3 == 0) bad.resize(random());
        else
            for (int k = 0; k < 4; ++k) bad[random()] = static_cast<char>(seed >> 3);
        WriteStringToFile(file, bad);
        try {
            // Closed again: an open workbook holds its file locked.
            app.Call("WorkBooks").Call("Open", {file}).Call("Close");
            ++opened;
        } catch (const Exception&) {
        }
    }
    EXPECT_GT(opened, 0);
    std::filesystem::remove(file);
}

} // namespace

namespace {

// A package in memory holding `xml` as its part "sheet.xml".
std::unique_ptr<zip_t, decltype(&zip_discard)> SheetPackage(const std::string& xml, std::string& storage)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* out = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_source_keep(out);
    zip_t* zip = zip_open_from_source(out, ZIP_TRUNCATE, &error);
    zip_file_add(zip, "sheet.xml", zip_source_buffer(zip, xml.data(), xml.size(), 0), 0);
    zip_close(zip);
    zip_source_open(out);
    zip_source_seek(out, 0, SEEK_END);
    storage.resize(static_cast<std::size_t>(zip_source_tell(out)));
    zip_source_seek(out, 0, SEEK_SET);
    zip_source_read(out, storage.data(), storage.size());
    zip_source_close(out);
    zip_source_free(out);
    zip_source_t* in = zip_source_buffer_create(storage.data(), storage.size(), 0, &error);
    return {zip_open_from_source(in, ZIP_RDONLY, &error), &zip_discard};
}

} // namespace

// A worksheet part is split at its rows, whatever markup surrounds them, and read in
// pieces: the rows come out as they are, with the last row and column counted.
TEST(XlsxSheetScanTest, SplitsAtTheRowsAndCountsThem)
{
    struct Case {
        std::string Xml, Head, Rows, Tail;
        int LastRow, LastCol;
    };
    std::string many;
    for (int r = 1; r <= 20000; ++r) many += "<row r=\"" + std::to_string(r) + "\"><c r=\"C" + std::to_string(r) + "\"><v>1</v></c></row>";
    // The sheetData element is found by its namespace, whatever the prefix; one of
    // another namespace is not it.
    const std::string ws = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
    const Case cases[] = {
        {ws + "<sheetData/><x/></worksheet>", ws + "<sheetData>", "", "</sheetData><x/></worksheet>", 0, 0},
        {"<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><o:sheetData xmlns:o=\"other\"/>"
         "<x:sheetData ><x:row r=\"3\"><x:c r=\"ab3\"/><c r=\"AZ3\"/></x:row></x:sheetData></x:worksheet>",
         "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><o:sheetData xmlns:o=\"other\"/>"
         "<x:sheetData >",
         "<x:row r=\"3\"><x:c r=\"ab3\"/><c r=\"AZ3\"/></x:row>", "</x:sheetData></x:worksheet>", 3, 28},
        {"<?xml version=\"1.0\"?>" + ws + "<!-- <sheetData> --><sheetData><row x='a>b' r=\"2\"><c r=\"B2\"><is><t>"
         "<![CDATA[</sheetData>]]></t></is></c></row><!-- </sheetData> --><row><c/></row></sheetData><z/></worksheet>",
         "<?xml version=\"1.0\"?>" + ws + "<!-- <sheetData> --><sheetData>",
         "<row x='a>b' r=\"2\"><c r=\"B2\"><is><t><![CDATA[</sheetData>]]></t></is></c></row><!-- </sheetData> --><row><c/></row>",
         "</sheetData><z/></worksheet>", 3, 2},
        {ws + "<sheetData>" + many + "</sheetData></worksheet>", ws + "<sheetData>", many, "</sheetData></worksheet>", 20000, 3},
    };
    for (const Case& c : cases) {
        std::string storage, rows;
        auto zip = SheetPackage(c.Xml, storage);
        ASSERT_TRUE(zip);
        const XlsxSheetScan scan = ScanXlsxSheet(zip.get(), "sheet.xml", "book.xlsx", true, true,
                                                 [&](std::string_view piece) { rows += piece; });
        EXPECT_EQ(scan.Head, c.Head);
        EXPECT_TRUE(rows == c.Rows) << c.Xml.substr(0, 80);
        EXPECT_EQ(scan.Tail, c.Tail);
        EXPECT_EQ(scan.LastRow, c.LastRow) << c.Xml.substr(0, 80);
        EXPECT_EQ(scan.LastCol, c.LastCol) << c.Xml.substr(0, 80);
    }
    for (const std::string& broken : {ws + "<rows/></worksheet>", ws + "<sheetData><row r=\"1\">", ws + "<sheetData",
                                      std::string("<worksheet><sheetData/></worksheet>")}) {
        std::string storage;
        auto zip = SheetPackage(broken, storage);
        EXPECT_THROW(ScanXlsxSheet(zip.get(), "sheet.xml", "book.xlsx", true, true), Exception) << broken;
    }
}
