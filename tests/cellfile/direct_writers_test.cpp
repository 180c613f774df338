// The direct .xls and RTF writers: values arrive as they left through readers nobody here
// wrote (xlrd and LibreOffice for the workbook, LibreOffice and pandoc for the document),
// and each writes byte for byte the file its bridged twin makes of the same table.

#include "cellfile/rtf_exporter.h"
#include "cellfile/value_text.h"
#include "cellfile/xls_exporter.h"
#include "framework/data_set.h"
#include "framework/files.h"
#include "framework/format_settings.h"
#include "framework/ui_services.h"
#include "office/typed_workbook.h"
#include "office/word_exporter.h"
#include "tests/common/qt_application.h"
#include "tests/common/shell.h"
#include "tests/common/temp_folder.h"
#include "tests/support/libreoffice_reader.h"


#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace {

class DirectWritersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui.ForceHasGui = 0;
        ds.AddField("Id", ftLargeint);
        ds.AddField("Amount", ftFloat);
        ds.AddField("Name", ftString, 40);
        ds.AddField("Born", ftDate);
        ds.AddField("At", ftDateTime);
        ds.AppendRecord({Variant(9007199254740992LL), Variant(0.1 + 0.2), Variant("Zoë Ünïcödé € 日本 🎉"),
                         Variant::FromDateTime(EncodeDate(1900, 3, 1)), Variant::FromDateTime(EncodeDate(2024, 2, 29) + 0.5)});
        ds.AppendRecord({Variant(-7LL), Variant(-1.7976931348623157e308), Variant("plain"),
                         Variant::FromDateTime(EncodeDate(1900, 2, 28)), Variant::FromDateTime(EncodeDate(2026, 12, 7))});
        ds.AppendRecord({Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null()});
        ds.First();
    }

    void Run(TKVExportBaseComponent& Exporter, const std::string& File, TMemoryDataSet* Source = nullptr)
    {
        TMemoryDataSet& source = Source ? *Source : ds;
        Exporter.AnimatedStatus = false;
        Exporter.AddTitle = true;
        Exporter.Options.Exclude(soShowMessage);
        Exporter.ColumnSource = csDataSet;
        Exporter.SetDataSet(&source);
        Exporter.SetFileName(File);
        Exporter.Execute();
        source.First();
        ASSERT_EQ(Exporter.Statistic().Result, erCompleted) << File;
    }

    std::string Python(const std::string& Script, const std::string& File)
    {
        std::ofstream(dir / "read.py") << Script;
        return Shell("/usr/bin/python3 '" + dir / "read.py" + "' '" + File + "'");
    }

    QApplication& app = EnsureQtApplication();
    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    TempDir dir{"tabrix_direct"};
    TMemoryDataSet ds;
};

// Numbers with every digit, dates as dates of the 1900 system (its serials before
// 1900-03-01 one less than a plain day count), texts whole, nulls as empty cells.
TEST_F(DirectWritersTest, XlsValuesArriveThroughXlrdAndLibreOffice)
{
    TKVExportToXLS xls;
    Run(xls, dir / "out.xls");
    const std::string rows = "('Id', 'Amount', 'Name', 'Born', 'At')\n"
                             "(9007199254740992.0, 0.30000000000000004, 'Zoë Ünïcödé € 日本 🎉', "
                             "'1900-03-01 00:00:00', '2024-02-29 12:00:00')\n"
                             "(-7.0, -1.7976931348623157e+308, 'plain', '1900-02-28 00:00:00', '2026-12-07 00:00:00')\n"
                             "(None, None, None, None, None)\n";
    EXPECT_EQ(Python("import sys, xlrd\n"
                     "b = xlrd.open_workbook(sys.argv[1])\n"
                     "s = b.sheet_by_index(0)\n"
                     "def v(c):\n"
                     "    if c.ctype == xlrd.XL_CELL_DATE:\n"
                     "        return str(xlrd.xldate.xldate_as_datetime(c.value, b.datemode))\n"
                     "    return None if c.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK) else c.value\n"
                     "print(s.name)\n"
                     "for r in range(4):\n"
                     "    print(repr(tuple(v(s.cell(r, c)) if r < s.nrows else None for c in range(5))))\n",
                     dir / "out.xls"),
              std::string(GeneratorVer) + "\n" + rows);
    // LibreOffice keeps 15 significant digits on its way out.
    const std::string xlsx = ConvertWithLibreOffice(dir / "out.xls", "xlsx", dir / "lo");
    EXPECT_EQ(Python("import sys, openpyxl, datetime\n"
                     "def v(x):\n"
                     "    if isinstance(x, datetime.datetime):\n"
                     "        return str(x)\n"
                     "    return float(x) if isinstance(x, int) else x\n"
                     "for r in openpyxl.load_workbook(sys.argv[1]).active.iter_rows(values_only=True):\n"
                     "    print(repr(tuple(v(x) for x in r)))\n",
                     xlsx),
              "('Id', 'Amount', 'Name', 'Born', 'At')\n"
              "(9007199254740990.0, 0.3, 'Zoë Ünïcödé € 日本 🎉', '1900-03-01 00:00:00', '2024-02-29 12:00:00')\n"
              "(-7.0, -1.7976931348623157e+308, 'plain', '1900-02-28 00:00:00', '2026-12-07 00:00:00')\n"
              "(None, None, None, None, None)\n");
    EXPECT_TRUE(xls.Statistic().Warnings.empty());
}

// Texts whole in the table's cells, numbers with every digit, dates in ISO form, a null
// an empty cell.
TEST_F(DirectWritersTest, RtfTextsArriveThroughLibreOfficeAndPandoc)
{
    TKVExportToRTF rtf;
    UseExactValueTexts(rtf);
    rtf.Header().Add("Über den Tabellen");
    rtf.Footer().Add("Ende");
    Run(rtf, dir / "out.rtf");
    const std::vector<std::vector<std::string>> cells = {
        {"Id", "Amount", "Name", "Born", "At"},
        {"9007199254740992", "0.30000000000000004", "Zoë Ünïcödé € 日本 🎉", "1900-03-01", "2024-02-29 12:00:00"},
        {"-7", "-1.7976931348623157e+308", "plain", "1900-02-28", "2026-12-07 00:00:00"},
        {"", "", "", "", ""}};
    const LoDocument doc = ReadWithLibreOffice(dir / "out.rtf");
    ASSERT_EQ(doc.Tables.size(), 1u);
    for (std::size_t r = 0; r < cells.size(); ++r)
        for (std::size_t c = 0; c < cells[r].size(); ++c)
            EXPECT_EQ(doc.Tables[0].Cell(r, c), cells[r][c]) << r << "," << c;
    ASSERT_FALSE(doc.Paragraphs.empty());
    EXPECT_EQ(doc.Paragraphs.front().Text, "Über den Tabellen");
    // pandoc's own RTF reader: the header line, every cell text in order, the footer.
    std::string expected = "Über den Tabellen\n";
    for (const auto& row : cells)
        for (const std::string& cell : row)
            if (!cell.empty())
                expected += cell + "\n";
    expected += "Ende\n";
    // pandoc's reader does not join the two halves of a character beyond U+FFFF.
    expected.replace(expected.find("🎉"), std::string("🎉").size(), "\uFFFD\uFFFD");
    EXPECT_EQ(Shell("pandoc -f rtf -t json '" + dir / "out.rtf"
                    + "' | /usr/bin/python3 -c 'import sys, json\n"
                      "def walk(x, out):\n"
                      "    if isinstance(x, dict):\n"
                      "        if x.get(\"t\") in (\"Plain\", \"Para\"): out.append(\"\".join(i[\"c\"] if i[\"t\"] == \"Str\" else \" \" "
                      "for i in x[\"c\"]))\n"
                      "        else: [walk(v, out) for v in x.values()]\n"
                      "    elif isinstance(x, list): [walk(v, out) for v in x]\n"
                      "out = []\nwalk(json.load(sys.stdin)[\"blocks\"], out)\nprint(\"\\n\".join(out))'"),
              expected);
}

// The direct writer and its bridged twin, set up alike, write the same bytes: with
// header and footer lines, fonts, colours and lines, and in a document pictures.
TEST_F(DirectWritersTest, DirectFileEqualsTheBridgedOne)
{
    TMemoryDataSet pictures;
    pictures.AddField("Name", ftString, 20);
    pictures.AddField("Picture", ftGraphic);
    pictures.AppendRecord({Variant("red"), Variant(ReadFileToString(TABRIX_TEST_DATA "/red_16x8.bmp"))});
    pictures.AppendRecord({Variant("gradient"), Variant(ReadFileToString(TABRIX_TEST_DATA "/gradient_40x30.bmp"))});
    pictures.First();
    struct TCase {
        std::string Extension;
        TMemoryDataSet* Source;
        std::function<std::unique_ptr<TKVExportBaseComponent>(bool Direct)> Make;
    };
    const TCase cases[] = {
        {".xls", &ds,
         [](bool Direct) -> std::unique_ptr<TKVExportBaseComponent> {
             if (Direct) {
                 auto xls = std::make_unique<TKVExportToXLS>();
                 xls->SheetName = "Orders";
                 xls->FreezeCaptions = true;
                 return xls;
             }
             auto typed = std::make_unique<TTypedWorkbook>();
             typed->SheetName = "Orders";
             return typed;
         }},
        {".rtf", &ds,
         [](bool Direct) -> std::unique_ptr<TKVExportBaseComponent> {
             if (Direct)
                 return std::make_unique<TKVExportToRTF>();
             return std::make_unique<TKVExportToWord>();
         }},
        {".doc", &pictures,
         [](bool Direct) -> std::unique_ptr<TKVExportBaseComponent> {
             if (Direct)
                 return std::make_unique<TKVExportToRTF>();
             return std::make_unique<TKVExportToWord>();
         }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Extension);
        for (const bool direct : {false, true}) {
            auto exporter = c.Make(direct);
            exporter->Options.Include(soColorsFonts);
            exporter->Header().Add("Orders of 2026");
            exporter->Header().Add("by day");
            exporter->Footer().Add("End");
            exporter->ExportStyle().SetStyle(esWheat);
            Run(*exporter, dir / ((direct ? "direct" : "bridged") + c.Extension), c.Source);
        }
        EXPECT_EQ(Shell("cmp '" + dir / ("bridged" + c.Extension) + "' '" + dir / ("direct" + c.Extension)
                        + "' && echo same"),
                  "same\n");
    }
}

} // namespace
