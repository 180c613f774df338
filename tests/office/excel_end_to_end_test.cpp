// The spreadsheet exporter on the native spreadsheet application: the saved workbook read
// back by openpyxl and by LibreOffice, and every XML part checked against the schemas.

#include "office/excel_exporter.h"
#include "framework/exceptions.h"
#include "platform/automation/automation.h"
#include "framework/files.h"
#include "framework/format_settings.h"
#include "framework/ui_services.h"
#include "tests/support/libreoffice_reader.h"
#include "tests/support/ooxml_schema_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string Shell(const std::string& command)
{
    std::string out;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return "cannot run " + command;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
    ::pclose(pipe);
    return out;
}

const char* const ReadScript = R"(
import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
print('sheets', '|'.join(wb.sheetnames))
ws = wb['Tabrix 4.61']
for row in ws.iter_rows():
    for c in row:
        if c.value is not None:
            print('cell', c.coordinate, type(c.value).__name__, repr(c.value), c.number_format)
for k, d in sorted(ws.column_dimensions.items()):
    print('width', k, d.width, int(bool(d.hidden)))
print('freeze', ws.freeze_panes)
print('protected', int(ws.protection.sheet), int(bool(ws.protection.hashValue)))
print('orientation', ws.page_setup.orientation)
print('margin', ws.page_margins.left)
print('images', len(ws._images))
)";

// The same through xlrd for .xls: type, value and format of each cell, widths in 1/256
// of a character, fonts and fills of the data cells.
const char* const XlsReadScript = R"(
import sys, xlrd
wb = xlrd.open_workbook(sys.argv[1], formatting_info=True)
print('sheets', '|'.join(wb.sheet_names()))
ws = wb.sheet_by_name('Tabrix 4.61')
kinds = {1: 'text', 2: 'number', 3: 'date'}
for r in range(ws.nrows):
    for c in range(ws.ncols):
        cell = ws.cell(r, c)
        if cell.ctype in kinds:
            xf = wb.xf_list[cell.xf_index]
            font = wb.font_list[xf.font_index]
            extra = ''
            if font.bold or font.colour_index != 0x7FFF:
                extra = ' font %s %d bold=%d rgb=%s' % (font.name, font.height // 20, font.bold, wb.colour_map.get(font.colour_index))
            if xf.background.fill_pattern:
                extra += ' fill=%s' % (wb.colour_map.get(xf.background.pattern_colour_index),)
            b = xf.border
            if b.left_line_style or b.top_line_style or b.bottom_line_style or b.right_line_style:
                extra += ' lines=%d%d%d%d' % (b.left_line_style, b.top_line_style, b.bottom_line_style, b.right_line_style)
            if xf.alignment.hor_align:
                extra += ' align=%d' % xf.alignment.hor_align
            print('cell', xlrd.cellname(r, c), kinds[cell.ctype], repr(cell.value), wb.format_map[xf.format_key].format_str + extra)
for c, info in sorted(ws.colinfo_map.items()):
    print('width', xlrd.colname(c), info.width, info.hidden)
print('freeze', int(ws.panes_are_frozen), ws.horz_split_pos, ws.vert_split_pos)
)";

class ExcelEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (Shell("/usr/bin/python3 -c 'import openpyxl' && echo ok").find("ok") == std::string::npos)
            GTEST_SKIP() << "openpyxl is not installed";
        dir = fs::temp_directory_path()
            / ("tabrix-excel-e2e-" + std::to_string(::getpid()) + "-"
               + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        ui.ForceHasGui = 0;
        exporter.AnimatedStatus = false;
        exporter.Options = TKVOptions{soColLines, soRowLines};
        exporter.ColumnSource = csDataEngine;
        exporter.SetDataEngine(&engine);
        exporter.SetFileName((dir / "out.xlsx").string());
        exporter.DataFormats().DecimalSeparator = ",";
        exporter.DataFormats().ThousandSeparator = ".";
        exporter.DataFormats().DateSeparator = ".";
        exporter.DataFormats().DateOrder = doDMY;
        exporter.DataFormats().FourDigitYear = true;
        exporter.DataFormats().LeadingZerosInDate = true;
        engine.OnCount = [this](TPersistent*, int& count) { count = rows; };
        engine.OnFirst = [this](TPersistent*) { row = 0; };
        engine.OnNext = [this](TPersistent*, bool&) { ++row; };
        engine.OnFillColumns = [](TPersistent* sender) {
            auto* columns = static_cast<TKVEColumns*>(sender);
            const std::tuple<const char*, TCellType, int> fields[] = {
                {"Int", ctInteger, 8}, {"Real", ctDouble, 70}, {"Day", ctDate, 12}, {"Text", ctString, 0}};
            for (const auto& [name, type, width] : fields) {
                TKVEColumn* column = columns->Add();
                column->FieldName = name;
                column->Title().Caption = name;
                column->DataType = type;
                column->Width = width;
            }
        };
        engine.OnGetValue = [this](TPersistent*, TKVEColumn* column, Variant& value) {
            if (column->FieldName == "Int") value = Variant(row * 100000);  // 200000: whole numbers are written in plain digits
            else if (column->FieldName == "Real") value = Variant(row + 0.5);
            else if (column->FieldName == "Day") value = Variant::FromDateTime(EncodeDate(2024, 2, row + 1));
            else value = Variant(" 0" + std::to_string(row) + " text");
        };
    }

    // A failed case keeps its files for a look.
    void TearDown() override
    {
        if (!HasFailure()) fs::remove_all(dir);
    }

    std::string ReadBack(const fs::path& file)
    {
        const bool xls = file.extension() == ".xls";
        std::ofstream(dir / "read.py") << (xls ? XlsReadScript : ReadScript);
        return Shell("/usr/bin/python3 '" + (dir / "read.py").string() + "' '" + file.string() + "'");
    }

    // The message of a failed run.
    std::string Failure() const { return ui.Boxes.empty() ? std::string() : ui.Boxes.back().Text; }

    fs::path dir;
    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    TKVEVirtualDataEngine engine;
    TKVExportToExcel exporter;
    int rows = 3;
    int row = 0;
};

TEST_F(ExcelEndToEndTest, ValuesFormatsAndSheetSettingsReadBack)
{
    exporter.AddTitle = true;
    exporter.FreezeFixed = true;
    exporter.Password = "secret";
    exporter.Header().Add("Report");
    exporter.Footer().Add("The end");
    exporter.PageSetup().UseDefault = false;
    exporter.PageSetup().LeftMargin = 36;
    exporter.PageSetup().Orientation = emLandscape;
    exporter.OnBeforeRecord = [this](TPersistent*, bool& accept) { accept = row != 1; };
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(exporter.Statistic().TotalCount, 2);

    EXPECT_EQ(OoxmlSchemaFaults((dir / "out.xlsx").string()), "");
    // Integers are numbers under "0"; the real column is formatted as text, so its
    // values stay as written; dates become date serials; text stays text, blanks and
    // leading zero and all. The rejected second record leaves row 4 empty. Header and
    // footer cells take their column's format; the column of width 0 is shown again
    // with the standard width.
    EXPECT_EQ(ReadBack(dir / "out.xlsx"),
              "sheets Tabrix 4.61|Sheet1\n"
              "cell A1 str 'Report' 0\n"
              "cell A2 str 'Int' 0\n"
              "cell B2 str 'Real' @\n"
              "cell C2 str 'Day' General\n"
              "cell D2 str 'Text' @\n"
              "cell A3 int 0 0\n"
              "cell B3 str '0,5' @\n"
              "cell C3 datetime datetime.datetime(2024, 2, 1, 0, 0) mm-dd-yy\n"
              "cell D3 str ' 00 text' @\n"
              "cell A5 int 200000 0\n"
              "cell B5 str '2,5' @\n"
              "cell C5 datetime datetime.datetime(2024, 2, 3, 0, 0) mm-dd-yy\n"
              "cell D5 str ' 02 text' @\n"
              "cell A6 str 'The end' 0\n"
              "width A 8.0 0\n"
              "width B 50.0 0\n"
              "width C 12.0 0\n"
              "width D 8.43 0\n"
              "freeze A3\n"
              "protected 1 1\n"
              "orientation landscape\n"
              "margin 0.5\n"
              "images 0\n");

    if (!LibreOfficeAvailable())
        GTEST_SKIP() << "LibreOffice is not installed";
    const std::string csv = ReadFileToString(ConvertWithLibreOffice((dir / "out.xlsx").string(), "csv", dir.string()));
    EXPECT_NE(csv.find("0,\"0,5\",02/01/2024, 00 text\n,,,\n200000,"), std::string::npos) << csv;
}

// A real page header and footer of several lines keep their lines, as openpyxl reads them
// (it shows the header code's "&&" for "&"), in a new workbook and in one merged into.
TEST_F(ExcelEndToEndTest, RealHeaderAndFooterKeepTheirLines)
{
    std::ofstream(dir / "hf.py") << "import sys, openpyxl\n"
                                    "ws = openpyxl.load_workbook(sys.argv[1])['Tabrix 4.61']\n"
                                    "print(ascii(ws.oddHeader.left.text), ascii(ws.oddFooter.left.text))\n";
    const auto read = [&] { return Shell("/usr/bin/python3 '" + (dir / "hf.py").string() + "' '" + (dir / "out.xlsx").string() + "'"); };
    DefaultExportAsRealHeaderFooter = true;
    exporter.Header().Add("Report & more");
    exporter.Header().Add("second line");
    exporter.Footer().Add("The end");
    exporter.Footer().Add("page");
    rows = 1;
    exporter.Execute();
    const std::string fresh = read();
    exporter.Options = TKVOptions{soMergeData};
    exporter.Footer().Clear();
    exporter.Footer().Add("merged");
    exporter.Footer().Add("footer");
    exporter.Execute();
    DefaultExportAsRealHeaderFooter = false;
    ASSERT_EQ(exporter.Statistic().Result, erCompleted) << Failure();
    EXPECT_EQ(fresh, "'Report && more\\nsecond line' 'The end\\npage'\n");
    EXPECT_EQ(read(), "'Report && more\\nsecond line' 'merged\\nfooter'\n");
    EXPECT_EQ(OoxmlSchemaFaults((dir / "out.xlsx").string()), "");
}

TEST_F(ExcelEndToEndTest, FailedSaveLeavesTheOldFileAlone)
{
    const std::string old = "not a workbook";
    {
        std::ofstream(dir / "out.xlsx") << old;
    }
    rows = 1;
    engine.OnFillColumns = [](TPersistent* sender) {
        static_cast<TKVEColumns*>(sender)->Add()->FieldName = "a";
    };
    // One character more than a cell holds: the emoji counts two, as in UTF-16.
    engine.OnGetValue = [](TPersistent*, TKVEColumn*, Variant& value) {
        value = Variant("\xF0\x9F\x98\x80" + std::string(32766, 'x'));
    };
    exporter.Options = TKVOptions{soShowMessage};
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_NE(Failure().find("the text for A1 has 32768"), std::string::npos) << Failure();
    EXPECT_EQ(ReadFileToString((dir / "out.xlsx").string()), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(ExcelEndToEndTest, PicturesBecomeDrawingsAtTheirCells)
{
    if (!LibreOfficeAvailable())
        GTEST_SKIP() << "LibreOffice is not installed";
    rows = 2;
    const std::string bitmap = ReadFileToString(TABRIX_TEST_DATA "/red_16x8.bmp");
    engine.OnFillColumns = [](TPersistent* sender) {
        auto* columns = static_cast<TKVEColumns*>(sender);
        columns->Add()->FieldName = "Name";
        TKVEColumn* picture = columns->Add();
        picture->FieldName = "Picture";
        picture->DataType = ctGraphic;
    };
    engine.OnGetValue = [&](TPersistent*, TKVEColumn* column, Variant& value) {
        value = column->FieldName == "Name" ? Variant("row " + std::to_string(row)) : Variant(bitmap);
    };
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(OoxmlSchemaFaults((dir / "out.xlsx").string()), "");
    // One picture part for the two equal pictures; each drawn once, 16 x 8 pixels.
    EXPECT_EQ(Shell("unzip -Z1 '" + (dir / "out.xlsx").string() + "' | grep -c '^xl/media/'"), "1\n");
    const std::string fods = ReadFileToString(ConvertWithLibreOffice((dir / "out.xlsx").string(), "fods", dir.string()));
    std::size_t frames = 0;
    for (std::size_t at = fods.find("<draw:frame"); at != std::string::npos; at = fods.find("<draw:frame", at + 1)) {
        ++frames;
        EXPECT_NE(fods.find("svg:width=\"0.1661in\" svg:height=\"0.0831in\"", at), std::string::npos);
    }
    EXPECT_EQ(frames, 2u);
}

// A workbook as another program writes it: a sheet to keep, and the suite's sheet with
// two rows and a wide column.
const char* const MakeScript = R"(
import sys, openpyxl
wb = openpyxl.Workbook()
keep = wb.active
keep.title = 'Keep'
keep['A1'] = 'kept'
if len(sys.argv) < 4:
    keep['B1'] = '=1+2'
keep.column_dimensions['A'].width = 30
for col, colour, bold in (('C', 'FF0000', True), ('D', '0000FF', False), ('E', '008000', True)):
    keep[col + '1'] = colour
    keep[col + '1'].font = openpyxl.styles.Font(name='Arial', color=colour, bold=bold)
if sys.argv[2] == 'with':
    ws = wb.create_sheet('Tabrix 4.61')
    ws['A1'] = 'old 1'
    ws['A2'] = 'old 2'
    ws['B2'] = 7
wb.save(sys.argv[1])
)";

TEST_F(ExcelEndToEndTest, MergeAppendsBelowTheFoundSheetAndTemplatesStayUnchanged)
{
    std::ofstream(dir / "make.py") << MakeScript;
    const fs::path merged = dir / "out.xlsx", templ = dir / "template.xlsx";
    ASSERT_EQ(Shell("/usr/bin/python3 '" + (dir / "make.py").string() + "' '" + merged.string() + "' with"), "");
    ASSERT_EQ(Shell("/usr/bin/python3 '" + (dir / "make.py").string() + "' '" + templ.string() + "' without"), "");
    const std::string keptBefore = Shell("unzip -p '" + merged.string() + "' xl/worksheets/sheet1.xml");
    const std::string templateBefore = ReadFileToString(templ.string());
    rows = 1;
    exporter.Options = TKVOptions{soMergeData};
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(Shell("unzip -p '" + merged.string() + "' xl/worksheets/sheet1.xml"), keptBefore);
    EXPECT_EQ(OoxmlSchemaFaults(merged.string()), "");
    const std::string merge = ReadBack(merged);
    EXPECT_NE(merge.find("sheets Keep|Tabrix 4.61\n"
                         "cell A1 str 'old 1' General\n"
                         "cell A2 str 'old 2' General\n"
                         "cell B2 int 7 General\n"
                         "cell A3 int 0 0\n"
                         "cell B3 str '0,5' @\n"),
              std::string::npos)
        << merge;

    exporter.Options = TKVOptions{};
    exporter.TemplateFile = templ.string();
    exporter.SetFileName((dir / "from_template.xlsx").string());
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(ReadFileToString(templ.string()), templateBefore);
    EXPECT_EQ(OoxmlSchemaFaults((dir / "from_template.xlsx").string()), "");
    const std::string fromTemplate = ReadBack(dir / "from_template.xlsx");
    EXPECT_NE(fromTemplate.find("sheets Keep|Tabrix 4.61\ncell A1 int 0 0\n"), std::string::npos) << fromTemplate;

    // A workbook in the old binary format is refused and left as it was.
    const std::string binary = std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(504, '\0');
    WriteStringToFile((dir / "old.xlsx").string(), binary);
    exporter.TemplateFile.clear();
    exporter.Options = TKVOptions{soMergeData};
    exporter.SetFileName((dir / "old.xlsx").string());
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_EQ(ReadFileToString((dir / "old.xlsx").string()), binary);
}

// Days on both sides of 1900-03-01 (where the 1900 date system counts its 29 February),
// and a workbook that counts from 1904, as openpyxl and xlrd read them back.
TEST_F(ExcelEndToEndTest, DatesReadBackAsTheDaysTheyWere)
{
    static const int days[][3] = {{1900, 1, 1}, {1900, 2, 28}, {1900, 3, 1}, {2024, 2, 1}};
    engine.OnFillColumns = [](TPersistent* sender) {
        TKVEColumn* day = static_cast<TKVEColumns*>(sender)->Add();
        day->FieldName = "Day";
        day->DataType = ctDate;
    };
    int first = 0;
    engine.OnGetValue = [&](TPersistent*, TKVEColumn*, Variant& value) {
        const int* d = days[std::min(first + row, 3)];
        value = Variant::FromDateTime(EncodeDate(d[0], d[1], d[2]));
    };
    std::ofstream(dir / "days.py") << R"(
import sys
f = sys.argv[1]
if f.endswith('.xls'):
    import xlrd
    b = xlrd.open_workbook(f)
    s = b.sheet_by_name('Tabrix 4.61')
    def day(v):
        try:
            return '%04d-%02d-%02d' % xlrd.xldate_as_tuple(v, b.datemode)[:3]
        except xlrd.xldate.XLDateAmbiguous:
            return 'ambiguous'
    print(' '.join('%g=%s' % (s.cell_value(r, 0), day(s.cell_value(r, 0))) for r in range(s.nrows)))
else:
    import openpyxl
    s = openpyxl.load_workbook(f)['Tabrix 4.61']
    print(' '.join(str(r[0].value.date()) for r in s.iter_rows()))
)";
    const auto read = [&](const fs::path& file) {
        return Shell("/usr/bin/python3 '" + (dir / "days.py").string() + "' '" + file.string() + "'");
    };
    rows = 4;
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted) << Failure();
    EXPECT_EQ(read(dir / "out.xlsx"), "1900-01-01 1900-02-28 1900-03-01 2024-02-01\n");
    exporter.SetFileName((dir / "out.xls").string());
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted) << Failure();
    // xlrd gives no day for serials before 1900-03-01, as the 1900 system's 29 February
    // makes them ambiguous to it; the serials are the system's.
    EXPECT_EQ(read(dir / "out.xls"), "1=ambiguous 59=ambiguous 61=1900-03-01 45323=2024-02-01\n");

    // Rows merged into a workbook of the 1904 system (.xlsx, and .xls as LibreOffice
    // writes it) get serials of that system.
    const fs::path mac = dir / "mac.xlsx";
    ASSERT_EQ(Shell("/usr/bin/python3 -c \"import openpyxl, datetime; from openpyxl.utils.datetime import CALENDAR_MAC_1904;"
                    " wb = openpyxl.Workbook(); wb.epoch = CALENDAR_MAC_1904; wb.active.title = 'Tabrix 4.61';"
                    " wb.active['A1'] = datetime.date(2000, 1, 1); wb.save('" + mac.string() + "')\""),
              "");
    const bool office = LibreOfficeAvailable();
    if (office) ConvertWithLibreOffice(mac.string(), "xls", dir.string());
    rows = 1;
    first = 3;
    exporter.Options = TKVOptions{soMergeData, soShowMessage};
    for (const fs::path& file : {mac, dir / "mac.xls"}) {
        if (file.extension() == ".xls" && !office) continue;
        exporter.SetFileName(file.string());
        exporter.Execute();
        ASSERT_EQ(exporter.Statistic().Result, erCompleted) << Failure();
    }
    EXPECT_EQ(read(mac), "2000-01-01 2024-02-01\n");
    if (office) {
        EXPECT_EQ(read(dir / "mac.xls"), "35064=2000-01-01 43861=2024-02-01\n");
    }
}

// .xls: values with their types, formats, fonts and colours, widths, frozen panes,
// several sheets, read by xlrd and by LibreOffice.
TEST_F(ExcelEndToEndTest, XlsWorkbookReadsBackWithXlrdAndLibreOffice)
{
    exporter.SetFileName((dir / "out.xls").string());
    exporter.AddTitle = true;
    exporter.FreezeFixed = true;
    exporter.Password = "secret";
    exporter.Options = TKVOptions{soColLines, soRowLines, soColorsFonts, soShowMessage};
    exporter.Header().Add("Zürich Ωmega");
    exporter.PageSetup().UseDefault = false;
    exporter.PageSetup().LeftMargin = 36;
    exporter.PageSetup().Orientation = emLandscape;
    exporter.OnGetCellParams = [](TPersistent*, TField*, std::string& text, TFont* font, TAlignment&, TColor& color,
                                  TCellType&) {
        if (text == "Int") {
            font->Style = fsBold;
            font->Color = 0x0000FF; // red
            color = 0x123456;       // not in the default palette
        }
    };
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted) << Failure();
    EXPECT_EQ(ReadFileToString((dir / "out.xls").string()).substr(0, 4), "\xD0\xCF\x11\xE0");
    const std::string read = ReadBack(dir / "out.xls");
    EXPECT_NE(read.find("sheets Tabrix 4.61|Sheet1\n"
                        "cell A1 text 'Zürich Ωmega' 0 font Arial 10 bold=0 rgb=(0, 0, 0) lines=1001 align=1\n"
                        "cell A2 text 'Int' 0 font Arial 10 bold=1 rgb=(255, 0, 0) fill=(86, 52, 18) lines=1111 align=1\n"
                        "cell B2 text 'Real' @ font Arial 10 bold=0 rgb=(8, 0, 0) fill=(192, 192, 192) lines=1111 align=1\n"),
              std::string::npos)
        << read;
    // Data cells: the column's font (black) and format; dates as date serials.
    EXPECT_NE(read.find("cell A3 number 0.0 0 font Arial 10 bold=0 rgb=(0, 0, 0) lines=1111 align=1\n"
                        "cell B3 text '0,5' @ font Arial 10 bold=0 rgb=(0, 0, 0) lines=1111 align=1\n"
                        "cell C3 date 45323.0 m/d/yy font Arial 10 bold=0 rgb=(0, 0, 0) lines=1111 align=1\n"
                        "cell D3 text ' 00 text' @ font Arial 10 bold=0 rgb=(0, 0, 0) lines=1111 align=1\n"),
              std::string::npos)
        << read;
    EXPECT_NE(read.find("cell A5 number 200000.0 0 "), std::string::npos) << read;
    EXPECT_NE(read.find("width A 2230 0\nwidth B 12982 0\nwidth C 3254 0\nwidth D 2340 0\n"
                        "freeze 1 2 0\n"),
              std::string::npos)
        << read;

    if (!LibreOfficeAvailable())
        GTEST_SKIP() << "LibreOffice is not installed";
    const std::string csv = ReadFileToString(
        ConvertWithLibreOffice((dir / "out.xls").string(), "csv:Text - txt - csv (StarCalc):44,34,76", dir.string()));
    EXPECT_NE(csv.find("Zürich Ωmega,,,\nInt,Real,Day,Text\n0,\"0,5\",2/1/2024, 00 text\n"), std::string::npos) << csv;
    // Page setup and protection as LibreOffice reads them.
    fs::create_directories(dir / "lo");
    const std::string sheet = Shell("unzip -p '" + ConvertWithLibreOffice((dir / "out.xls").string(), "xlsx", (dir / "lo").string())
                                    + "' xl/worksheets/sheet1.xml");
    for (const char* part : {"orientation=\"landscape\"", "password=\"daa7\"", "<pageMargins left=\"0.5\"", "state=\"frozen\""})
        EXPECT_NE(sheet.find(part), std::string::npos) << part;
}

// Merging into .xls: the suite's own workbook and one LibreOffice wrote get the new rows
// below the found sheet and keep their other sheets, values, formats and widths; a
// workbook with content the server cannot keep is refused and left byte-identical.
TEST_F(ExcelEndToEndTest, XlsMergeAppendsOrRefusesLeavingTheFileAlone)
{
    if (!LibreOfficeAvailable())
        GTEST_SKIP() << "LibreOffice is not installed";
    rows = 1;
    const fs::path own = dir / "own.xls";
    exporter.SetFileName(own.string());
    exporter.AddTitle = true;
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted) << Failure();
    exporter.Options = TKVOptions{soMergeData, soShowMessage};
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted) << Failure();
    std::string read = ReadBack(own);
    // The appended rows keep the column lines of the columns' formats; row lines were not
    // asked for this time.
    EXPECT_NE(read.find("sheets Tabrix 4.61|Sheet1\n"
                        "cell A1 text 'Int' 0 lines=1111 align=1\n"
                        "cell B1 text 'Real' @ lines=1111 align=1\n"
                        "cell C1 text 'Day' General lines=1111 align=1\n"
                        "cell D1 text 'Text' @ lines=1111 align=1\n"
                        "cell A2 number 0.0 0 lines=1111 align=1\n"
                        "cell B2 text '0,5' @ lines=1111 align=1\n"
                        "cell C2 date 45323.0 m/d/yy lines=1111 align=1\n"
                        "cell D2 text ' 00 text' @ lines=1111 align=1\n"
                        "cell A3 text 'Int' 0 lines=1001 align=1\n"
                        "cell B3 text 'Real' @ lines=1001 align=1\n"),
              std::string::npos)
        << read;
    EXPECT_NE(read.find("cell D4 text ' 00 text' @ lines=1001 align=1\nwidth A 2230 0\nwidth B 12982 0\n"), std::string::npos) << read;

    // Opened and saved as .xlsx, it keeps its cells and formats.
    AutomationValue app = CreateAutomationObject("Excel.Application");
    app.Call("WorkBooks").Call("Open", {own.string()}).Call("SaveAs", {(dir / "own.xlsx").string()});
    app.Call("Quit");
    EXPECT_EQ(OoxmlSchemaFaults((dir / "own.xlsx").string()), "");
    read = ReadBack(dir / "own.xlsx");
    EXPECT_NE(read.find("cell A2 int 0 0\ncell B2 str '0,5' @\ncell C2 datetime datetime.datetime(2024, 2, 1, 0, 0) mm-dd-yy\n"),
              std::string::npos)
        << read;

    // The same workbook as a template: it stays as it was, the new one gets its sheets.
    const std::string templateBefore = ReadFileToString(own.string());
    exporter.TemplateFile = own.string();
    exporter.Options = TKVOptions{soShowMessage};
    exporter.SetFileName((dir / "from_template.xls").string());
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted) << Failure();
    EXPECT_EQ(ReadFileToString(own.string()), templateBefore);
    read = ReadBack(dir / "from_template.xls");
    EXPECT_NE(read.find("cell D4 text ' 00 text' @ lines=1001 align=1\ncell A5 text 'Int' 0 lines=1001 align=1\n"), std::string::npos) << read;
    exporter.TemplateFile.clear();
    exporter.Options = TKVOptions{soMergeData, soShowMessage};

    // Workbooks written by LibreOffice, from .xlsx files made by openpyxl.
    std::ofstream(dir / "make.py") << MakeScript;
    for (const char* kind : {"plain", "formula"}) {
        const fs::path made = dir / (std::string(kind) + ".xlsx");
        ASSERT_EQ(Shell("/usr/bin/python3 '" + (dir / "make.py").string() + "' '" + made.string() + "' with "
                        + (std::string(kind) == "plain" ? "plain" : "")),
                  "");
        ConvertWithLibreOffice(made.string(), "xls", dir.string());
    }
    const std::string formulaBefore = ReadFileToString((dir / "formula.xls").string());
    exporter.SetFileName((dir / "formula.xls").string());
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_NE(Failure().find("holds formulas"), std::string::npos) << Failure();
    EXPECT_EQ(ReadFileToString((dir / "formula.xls").string()), formulaBefore);

    // The other sheet keeps its value, widths, row heights, fonts and font colours as
    // LibreOffice wrote them.
    const auto keep = [&] {
        return Shell("/usr/bin/python3 -c \"import xlrd; b = xlrd.open_workbook('" + (dir / "plain.xls").string()
                     + "', formatting_info=True); s = b.sheet_by_name('Keep'); f = lambda c: b.font_list[b.xf_list[s.cell_xf_index(0, c)].font_index];"
                       " print(s.cell_value(0, 0), s.colinfo_map[0].width, f(0).name, f(0).height, s.default_row_height, s.rowinfo_map[0].height,"
                       " *[(f(c).name, f(c).weight, b.colour_map[f(c).colour_index]) for c in (2, 3, 4)])\"");
    };
    const std::string keepBefore = keep();
    EXPECT_NE(keepBefore.find("kept 7"), std::string::npos) << keepBefore;
    EXPECT_NE(keepBefore.find("('Arial', 700, (255, 0, 0)) ('Arial', 400, (0, 0, 255)) ('Arial', 700, (0, 128, 0))"), std::string::npos)
        << keepBefore;
    exporter.SetFileName((dir / "plain.xls").string());
    exporter.AddTitle = false;
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted) << Failure();
    EXPECT_EQ(keep(), keepBefore);
    read = ReadBack(dir / "plain.xls");
    EXPECT_NE(read.find("sheets Keep|Tabrix 4.61\n"
                        "cell A1 text 'old 1' General font Calibri 11 bold=0 rgb=(0, 0, 0)\n"
                        "cell A2 text 'old 2' General font Calibri 11 bold=0 rgb=(0, 0, 0)\n"
                        "cell B2 number 7.0 General font Calibri 11 bold=0 rgb=(0, 0, 0)\n"
                        "cell A3 number 0.0 0 font Calibri 11 bold=0 rgb=(0, 0, 0) align=1\n"
                        "cell B3 text '0,5' @ font Calibri 11 bold=0 rgb=(0, 0, 0) align=1\n"),
              std::string::npos)
        << read;
}

// Long texts cross the shared-string record boundaries, in one-byte and in UTF-16 form;
// they come through xlrd and through a round trip of the server's own reader unchanged.
TEST_F(ExcelEndToEndTest, XlsLongTextsSurviveRecordBoundaries)
{
    std::string ascii, wide;
    for (int i = 0; i < 3000; ++i) ascii += "abc" + std::to_string(i % 10);
    for (int i = 0; i < 3000; ++i) wide += i % 7 ? "Ω" : "x";
    const std::vector<std::string> texts = {ascii, wide, ascii + "Ω", "é" + ascii, "short"};
    AutomationValue app = CreateAutomationObject("Excel.Application");
    app.Call("WorkBooks").Call("Add");
    for (int r = 0; r < 3; ++r)
        for (std::size_t c = 0; c < texts.size(); ++c)
            app.Call("ActiveSheet").Get("Cells", {r + 1, static_cast<int>(c) + 1}).Put("Value", texts[c]);
    const std::string first = (dir / "long.xls").string(), second = (dir / "again.xls").string();
    app.Call("ActiveWorkbook").Call("SaveAs", {first});
    app.Call("WorkBooks").Call("Open", {first}).Call("SaveAs", {second});
    app.Call("Quit");
    std::string want;
    for (int r = 0; r < 3; ++r)
        for (const std::string& t : texts) want += t + "\n";
    std::ofstream(dir / "texts.py") << "import sys, xlrd\ns = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
                                       "for r in range(s.nrows):\n    for v in s.row_values(r):\n        print(v)\n";
    for (const std::string& file : {first, second}) {
        const std::string out = Shell("/usr/bin/python3 '" + (dir / "texts.py").string() + "' '" + file + "'");
        EXPECT_TRUE(out == want) << file << ": " << out.substr(0, 300);
    }
}

// Texts that readers and writers often change: every control character, CR LF, a lone
// CR, texts that look like the .xlsx escapes, noncharacters, and (first in the shared
// strings, so at known places of the .xls record boundary) an emoji at every offset
// around the end of the first record. Each workbook is read back by two readers per
// format; openpyxl leaves the .xlsx escapes as they are, so its own unescape is applied,
// and LibreOffice reads every line break as LF and a NUL of .xls as '?'.
TEST_F(ExcelEndToEndTest, AwkwardTextsArriveAsTheyLeft)
{
    std::string controls = "<";
    for (char c = 0; c < 0x20; ++c) controls += c;
    controls += "\x7F>";
    std::vector<std::string> texts = {std::string(), controls, "line 1\r\nline 2", "cr\ronly", "a\tb\nc",
                                      "_x0041_", "_x005F_x0041_ and _x00", "\xEF\xBF\xBE\xEF\xBF\xBF", "\xF0\x9F\x98\x80"};
    std::string hex;
    const auto files = [&](const char* ext) {
        std::vector<std::string> names;
        // 4,106 two-byte characters fill the first record after the table's and the text's
        // heads: the emoji's pair ends before, at or after the boundary.
        for (int shift = -2; shift <= 3; ++shift) {
            texts[0].clear();
            for (int i = 0; i < 4106 + shift - 1; ++i) texts[0] += "Ω";
            texts[0] += "\xF0\x9F\x98\x80ΩΩΩ";
            AutomationValue app = CreateAutomationObject("Excel.Application");
            app.Call("WorkBooks").Call("Add");
            for (std::size_t r = 0; r < texts.size(); ++r)
                app.Call("ActiveSheet").Get("Cells", {static_cast<int>(r) + 1, 1}).Put("Value", texts[r]);
            names.push_back((dir / ("awkward" + std::to_string(shift + 2) + ext)).string());
            app.Call("ActiveWorkbook").Call("SaveAs", {names.back()});
            app.Call("Quit");
        }
        return names;
    };
    std::ofstream(dir / "awkward.py") << R"(
import sys, csv
reader, files = sys.argv[1], sys.argv[2:]
def want(f):
    return [bytes.fromhex(h).decode('utf-8') for h in open(f + '.want').read().split()]
for f in files:
    if reader == 'openpyxl':
        import openpyxl
        from openpyxl.utils.escape import unescape
        got = [unescape(r[0].value or '') for r in openpyxl.load_workbook(f).worksheets[0].iter_rows()]
    elif reader == 'xlrd':
        import xlrd
        got = xlrd.open_workbook(f).sheet_by_index(0).col_values(0)
    else:
        with open(f.rsplit('.', 1)[0] + '.csv', newline='', encoding='utf-8') as c:
            got = [row[0] for row in csv.reader(c)]
    w = want(f)
    if reader == 'libreoffice':
        # LibreOffice's own reading: a line break is one LF, and NUL in .xls is '?'.
        lines = lambda t: t.replace('\r\n', '\n').replace('\r', '\n')
        w = [lines(t.replace('\0', '?') if f.endswith('.xls') else t) for t in w]
        got = [lines(t) for t in got]
    bad = [i for i in range(max(len(w), len(got))) if i >= len(w) or i >= len(got) or w[i] != got[i]]
    print(f.rsplit('/', 1)[1], 'ok' if not bad else ' '.join('%d: %s, not %s' % (i, ascii(got[i][-20:]) if i < len(got) else '-', ascii(w[i][-20:]) if i < len(w) else '-') for i in bad))
)";
    for (const char* ext : {".xlsx", ".xls"}) {
        const std::vector<std::string> names = files(ext);
        std::string all, want;
        for (int shift = -2; shift <= 3; ++shift) {
            std::string line;
            for (std::size_t r = 0; r < texts.size(); ++r) {
                std::string t = texts[r];
                if (r == 0) {
                    t.clear();
                    for (int i = 0; i < 4106 + shift - 1; ++i) t += "Ω";
                    t += "\xF0\x9F\x98\x80ΩΩΩ";
                }
                static const char digits[] = "0123456789abcdef";
                for (unsigned char b : t) line += std::string{digits[b >> 4], digits[b & 15]};
                line += ' ';
            }
            std::ofstream(names[static_cast<std::size_t>(shift + 2)] + ".want") << line;
            all += " '" + names[static_cast<std::size_t>(shift + 2)] + "'";
            want += fs::path(names[static_cast<std::size_t>(shift + 2)]).filename().string() + " ok\n";
        }
        const std::string script = "/usr/bin/python3 '" + (dir / "awkward.py").string() + "' ";
        EXPECT_EQ(Shell(script + (std::string(ext) == ".xls" ? "xlrd" : "openpyxl") + all), want) << ext;
        if (!LibreOfficeAvailable()) continue;
        Shell("cd '" + dir.string() + "' && soffice --headless --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76' " + all);
        EXPECT_EQ(Shell(script + "libreoffice" + all), want) << ext;
    }
}

// Pictures are not written to .xls, and a sheet wider than 256 columns does not fit: both
// runs fail with their reason and leave the existing file as it was.
TEST_F(ExcelEndToEndTest, XlsRefusesPicturesAndTooManyColumns)
{
    const fs::path file = dir / "out.xls";
    WriteStringToFile(file.string(), "old");
    exporter.SetFileName(file.string());
    exporter.Options = TKVOptions{soShowMessage};
    rows = 1;
    const std::string bitmap = ReadFileToString(TABRIX_TEST_DATA "/red_16x8.bmp");
    engine.OnFillColumns = [](TPersistent* sender) {
        TKVEColumn* picture = static_cast<TKVEColumns*>(sender)->Add();
        picture->FieldName = "Picture";
        picture->DataType = ctGraphic;
    };
    engine.OnGetValue = [&](TPersistent*, TKVEColumn*, Variant& value) { value = Variant(bitmap); };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_NE(Failure().find("pictures"), std::string::npos) << Failure();
    EXPECT_EQ(ReadFileToString(file.string()), "old");

    engine.OnFillColumns = [](TPersistent* sender) {
        for (int i = 0; i < 257; ++i) static_cast<TKVEColumns*>(sender)->Add()->FieldName = "c" + std::to_string(i);
    };
    engine.OnGetValue = [](TPersistent*, TKVEColumn*, Variant& value) { value = Variant(1); };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_NE(Failure().find("at most 65,536 rows and 256 columns"), std::string::npos) << Failure();
    EXPECT_EQ(ReadFileToString(file.string()), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

} // namespace
