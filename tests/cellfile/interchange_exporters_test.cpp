// HTML, XML, SQL, SYLK and DIF read back value by value by readers nobody here wrote:
// Python's html.parser and HTML Tidy, xmllint with the schema and Python's ElementTree, the sqlite3
// and psql programs running the script, and LibreOffice opening the spreadsheet files.
// The source holds the awkward values; what a format cannot hold arrives as the format
// says and is counted in a warning.

#include "cellfile/dif_exporter.h"
#include "cellfile/html_exporter.h"
#include "cellfile/markup_text.h"
#include "cellfile/sql_exporter.h"
#include "cellfile/sylk_exporter.h"
#include "cellfile/value_text.h"
#include "cellfile/xml_exporter.h"
#include "framework/data_set.h"
#include "framework/files.h"
#include "framework/format_settings.h"
#include "framework/ui_services.h"
#include "tests/common/qt_application.h"
#include "tests/common/shell.h"
#include "tests/common/temp_folder.h"
#include "tests/support/libreoffice_reader.h"
#include "tests/support/test_databases.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QSqlQuery>

#include <cstdint>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <tuple>

namespace {

std::string G17(double Value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", Value);
    return text;
}

// Value as a spreadsheet program keeps it: 15 significant digits.
double Kept(double Value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", Value);
    return std::strtod(text, nullptr);
}

const std::vector<std::string> Texts = {
    "plain", "a,b;c\td|e", "say \"hi\" 'there'", "<b>&amp;</b> ]]>", "line1\nline2", "007", "=1+1",
    "Zoë Ünïcödé", "🎉 emoji", " padded ", "",
};
const std::vector<std::int64_t> Integers = {
    0, 1, -1, std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(),
    123456789012345, 1234567890123456, 42, 7, -7, 100,
};
const std::vector<double> Floats = {0.1, 0.30000000000000004, 1e300, -2.5, 123456.789, 1.0 / 3, 100000, -0.5, 1e-10,
                                    3.14159, 0};
const std::vector<std::string> Days = {"1850-03-04", "1899-12-30", "1900-01-01", "1900-03-01", "2026-12-07",
                                       "1600-02-29", "1999-12-31", "2000-02-29", "1899-12-29", "1066-10-14",
                                       "9999-12-31"};
const std::vector<std::string> Captions = {"No", "Text", "Big number", "Float", "Day", "Big_number"};

class InterchangeExportersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui.ForceHasGui = 0;
        ds.AddField("No", ftInteger);
        ds.AddField("Text", ftString, 100);
        ds.AddField("Big number", ftLargeint);
        ds.AddField("Float", ftFloat);
        ds.AddField("Day", ftDate);
        ds.AddField("Big_number", ftString, 10);
        for (std::size_t i = 0; i < Texts.size(); ++i) {
            const QDate day = QDate::fromString(QString::fromStdString(Days[i]), Qt::ISODate);
            ds.AppendRecord({Variant(static_cast<int>(i)), Variant(Texts[i]), Variant(Integers[i]), Variant(Floats[i]),
                             Variant::FromDateTime(EncodeDate(day.year(), day.month(), day.day())), Variant("x")});
        }
        ds.AppendRecord({Variant(static_cast<int>(Texts.size())), Variant::Null(), Variant::Null(), Variant::Null(),
                         Variant::Null(), Variant::Null()});
        ds.First();
    }

    // The exporter set up as tabrix-export sets up its text targets: exact value texts.
    void Prepare(TKVExportToText& Exporter, const std::string& File, TKVEResult Result = erCompleted)
    {
        Exporter.AnimatedStatus = false;
        Exporter.Options.Exclude(soShowMessage);
        Exporter.ColumnSource = csDataSet;
        Exporter.SetDataSet(&ds);
        Exporter.AddTitle = true;
        Exporter.Header().Add("Report <1> & \"2\"");
        Exporter.SetFileName(dir / File);
        Exporter.OnGetCellParams = [](TPersistent*, TField* Field, std::string& Text, TFont*, TAlignment&, TColor&,
                                      TCellType&) {
            if (Field && !Field->IsNull())
                Text = ExactFieldText(Field);
        };
        Exporter.Execute();
        ASSERT_EQ(Exporter.Statistic().Result, Result);
    }

    // Rows of cells, each cell as Cell(row, column) says, joined by "|" and ended by a
    // line feed; empty cells at a row's end are left off.
    static std::string Rows(const std::function<std::string(std::size_t, int)>& Cell)
    {
        std::string rows;
        for (std::size_t r = 0; r <= Texts.size(); ++r) {
            std::string row;
            std::vector<std::string> cells;
            for (int c = 0; c < 6; ++c)
                cells.push_back(Cell(r, c));
            while (!cells.empty() && cells.back().empty())
                cells.pop_back();
            for (std::size_t c = 0; c < cells.size(); ++c)
                row += (c ? "|" : "") + cells[c];
            rows += row + "\n";
        }
        return rows;
    }

    static bool Null(std::size_t Row) { return Row == Texts.size(); }

    // The value texts the pipeline passes: exact numbers, ISO dates.
    static std::string ExactText(std::size_t Row, int Column)
    {
        switch (Column) {
        case 0: return std::to_string(Row);
        case 1: return Texts[Row];
        case 2: return std::to_string(Integers[Row]);
        case 3: return ShortestText(Floats[Row]);
        case 4: return Days[Row];
        default: return "x";
        }
    }

    // The cells of a spreadsheet program's sheet, typed as SpreadsheetCells prints them.
    static std::string SheetCell(std::size_t Row, int Column, bool Dif)
    {
        if (Null(Row))
            return Column == 0 ? "n" + std::to_string(Row) : "";
        switch (Column) {
        case 0: return "n" + std::to_string(Row);
        case 1: return Texts[Row].empty() ? "" : "s" + Hex(Dif && Row == 8 ? "? emoji" : Texts[Row]);
        case 2: {
            const std::string digits = std::to_string(Integers[Row]);
            return digits.size() - (Integers[Row] < 0) > 15 ? "s" + Hex(digits) : "n" + G17(Kept(Integers[Row]));
        }
        case 3: return "n" + G17(Kept(Floats[Row]));
        case 4: return (Dif ? "s" + Hex(Days[Row]) : "d" + Days[Row]);
        default: return "s" + Hex("x");
        }
    }

    // LibreOffice's sheet of File, a row a line: "n" and the number, "d" and the date,
    // "s" and the text in hex, nothing for an empty cell.
    std::string SpreadsheetCells(const std::string& File)
    {
        const std::string fods = ConvertWithLibreOffice(File, "fods", dir / "lo");
        std::ofstream(dir / "cells.py")
            << "import sys, xml.etree.ElementTree as ET\n"
               "T = '{urn:oasis:names:tc:opendocument:xmlns:table:1.0}'\n"
               "O = '{urn:oasis:names:tc:opendocument:xmlns:office:1.0}'\n"
               "X = '{urn:oasis:names:tc:opendocument:xmlns:text:1.0}'\n"
               "def para(p):\n"
               "    out = p.text or ''\n"
               "    for c in p:\n"
               "        out += {X + 's': ' ' * int(c.get(X + 'c', '1')), X + 'tab': '\\t', X + 'line-break': '\\n'}"
               ".get(c.tag, '') or para(c)\n"
               "        out += c.tail or ''\n"
               "    return out\n"
               "for row in ET.parse(sys.argv[1]).getroot().iter(T + 'table-row'):\n"
               "    cells = []\n"
               "    for c in row.findall(T + 'table-cell'):\n"
               "        t = c.get(O + 'value-type')\n"
               "        v = {'float': lambda: 'n%.17g' % float(c.get(O + 'value')), 'date': lambda: 'd' + c.get(O + "
               "'date-value'),\n"
               "             'string': lambda: 's' + '\\n'.join(para(p) for p in c.findall(X + 'p')).encode().hex()}"
               ".get(t, lambda: '')()\n"
               "        cells += [v] * min(int(c.get(T + 'number-columns-repeated', '1')), 20)\n"
               "    while cells and not cells[-1]: cells.pop()\n"
               "    if cells: print('|'.join(cells))\n";
        return Shell("/usr/bin/python3 '" + dir / "cells.py" + "' '" + fods + "'");
    }

    QApplication& app = EnsureQtApplication();
    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    TempDir dir{"tabrix_interchange"};
    TMemoryDataSet ds;
};

std::string CaptionRow(const std::string& Prefix)
{
    std::string row;
    for (const std::string& caption : Captions)
        row += (row.empty() ? "" : "|") + Prefix + Hex(caption);
    return row + "\n";
}

// What a format cannot hold as it is: changed as its rules say, and counted once a
// value.
TEST(InterchangeTextTest, EachFormatReplacesWhatItCannotHoldAndCountsTheValue)
{
    struct TCase {
        std::string (*Escape)(const std::string&, long long&);
        std::string Text, Written;
        long long Replaced;
    };
    const TCase cases[] = {
        {TKVExportToHTML::HtmlText, "a<&>\"b\nc", "a&lt;&amp;&gt;&quot;b<br>c", 0},
        {TKVExportToHTML::HtmlText, "a\r\nb\rc\x01\xFF", "a<br>b<br>c\uFFFD\uFFFD", 1},
        {TKVExportToXML::XmlText, "a\tb\r\n<&]]>", "a&#9;b&#13;&#10;&lt;&amp;]]&gt;", 0},
        {TKVExportToXML::XmlText, "\x01\xFF\xEF\xBF\xBE", "\uFFFD\uFFFD\uFFFD", 1},
        {TKVExportToSQL::SqlString, "it's\n\\n", "'it''s\n\\n'", 0},
        {TKVExportToSQL::SqlString, "\xFF", "'\uFFFD'", 1},
        {TKVExportToSQL::SqlString, "a\r\nb\rc", "'a\r' || '\nb\rc'", 0},
        {TKVExportToSYLK::SylkString, "a;b\"c\td\ne", "\"a;;b\"c\td\x1B :e\"", 0},
        {TKVExportToSYLK::SylkString, "a\r\nb\x01", "\"a\x1B :b\uFFFD\"", 1},
        {TKVExportToDIF::DifString, "say \"\u20ac\"\n\u00eb", "\"say \"\"\x80\"\"\n\xEB\"", 0},
        {TKVExportToDIF::DifString, "\U0001F389 ?\r\n", "\"? ?\n\"", 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(Hex(c.Text));
        long long replaced = 0;
        EXPECT_EQ(c.Escape(c.Text, replaced), c.Written);
        EXPECT_EQ(replaced, c.Replaced);
    }
}

// Repeated names get a number, within the length a database allows and never cutting
// a character in two.
TEST(InterchangeTextTest, RepeatedNamesBecomeUniqueWithinTheirLength)
{
    const std::string long62 = std::string(60, 'a') + "é"; // 62 bytes
    std::set<std::string> sql, xml;
    const std::pair<std::string, std::string> sqlNames[] = {
        {"Name", "Name"}, {"name", "name_2"}, {"NAME", "NAME_3"}, {long62, long62}, {long62, std::string(60, 'a') + "_2"},
    };
    for (const auto& [name, unique] : sqlNames)
        EXPECT_EQ(UniqueName(name, sql, true, 63), unique);
    EXPECT_EQ(UniqueName("Name", xml, false), "Name");
    EXPECT_EQ(UniqueName("name", xml, false), "name");
    EXPECT_EQ(TKVExportToXML::XmlName("1st Zoë's xmlish"), "_1st_Zo__s_xmlish");
    EXPECT_EQ(TKVExportToXML::XmlName("XMLdata"), "_XMLdata");
    EXPECT_EQ(TKVExportToXML::XmlName(""), "field");
}

// The texts the command line's targets take: every digit, ISO dates, the run's decimal
// point; a null is left to the target.
TEST(ExactValueTexts, EveryKindKeepsItsValue)
{
    const double day = EncodeDate(1850, 3, 4);
    const struct {
        TFieldType Type;
        Variant Value;
        std::string Point, Expected;
    } cases[] = {
        {ftLargeint, Variant(std::numeric_limits<std::int64_t>::min()), ".", "-9223372036854775808"},
        {ftInteger, Variant(7), ",", "7"},
        {ftFloat, Variant(100000.0), ".", "100000"},
        {ftFloat, Variant(0.30000000000000004), ",", "0,30000000000000004"},
        {ftFloat, Variant(1e300), ".", "1e+300"},
        {ftCurrency, Variant::FromScaledCurrency(-12345), ",", "-1,2345"},
        {ftDate, Variant::FromDateTime(day), ".", "1850-03-04"},
        {ftDateTime, Variant::FromDateTime(day - 0.5), ".", "1850-03-04 12:00:00"},
        {ftTime, Variant::FromDateTime(0.75 + 0.001 / 86400), ".", "18:00:00.001"},
        {ftString, Variant("Zoë 🎉"), ".", "Zoë 🎉"},
        {ftString, Variant(""), ".", ""},
        {ftBoolean, Variant(true), ".", "True"},
        {ftString, Variant::Null(), ".", ""},
    };
    const TFormatSettings saved = FormatSettings();
    TKVExportToText exporter;
    UseExactValueTexts(exporter);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Expected);
        TMemoryDataSet data;
        data.AddField("v", c.Type, c.Type == ftString ? 20 : 0);
        data.AppendRecord({c.Value});
        data.First();
        FormatSettings().DecimalSeparator = c.Point;
        std::string text = "stale";
        bool handled = false;
        exporter.OnGetFieldText(&exporter, data.Fields(0), text, handled);
        EXPECT_EQ(handled, !c.Value.IsNull());
        EXPECT_EQ(handled ? text : "", c.Expected);
    }
    FormatSettings() = saved;
}

TEST_F(InterchangeExportersTest, HtmlReadBackByPythonHtmlParser)
{
    TKVExportToHTML html;
    Prepare(html, "out.htm");
    std::ofstream(dir / "read.py")
        << "import sys\n"
           "from html.parser import HTMLParser\n"
           "class Reader(HTMLParser):\n"
           "    text = None\n"
           "    def handle_starttag(self, tag, attrs):\n"
           "        if tag == 'tr': self.row = []\n"
           "        elif tag in ('td', 'th', 'p'): self.text, self.null = '', ('class', 'null') in attrs\n"
           "        elif tag == 'br': self.text += '\\n'\n"
           "    def handle_endtag(self, tag):\n"
           "        if tag == 'tr': print('|'.join(self.row))\n"
           "        elif tag == 'p': print('s' + self.text.encode().hex())\n"
           "        elif tag in ('td', 'th'): self.row.append('~' if self.null else 's' + self.text.encode().hex())\n"
           "    def handle_data(self, data):\n"
           "        if self.text is not None: self.text += data\n"
           "Reader().feed(open(sys.argv[1], encoding='utf-8').read())\n";
    const std::string expected = "s" + Hex("Report <1> & \"2\"") + "\n" + CaptionRow("s")
        + Rows([](std::size_t r, int c) { return Null(r) && c > 0 ? std::string("~") : "s" + Hex(ExactText(r, c)); });
    EXPECT_EQ(Shell("/usr/bin/python3 '" + dir / "read.py" + "' '" + dir / "out.htm" + "'"), expected);
    // HTML Tidy finds neither an error nor a warning.
    EXPECT_EQ(Shell("tidy -q -e '" + dir / "out.htm" + "'"), "");
    const std::string page = ReadFileToString(dir / "out.htm");
    EXPECT_EQ(page.rfind("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">", 0), 0u);
    EXPECT_NE(page.find("<thead>\n<tr><th style=\"font-weight:bold;background-color:#c0c0c0;text-align:right\">No</th>"),
              std::string::npos)
        << page;
    EXPECT_TRUE(html.Statistic().Warnings.empty());
}

TEST_F(InterchangeExportersTest, XmlValidatesAgainstTheSchemaAndReadsBackByElementTree)
{
    TKVExportToXML xml;
    Prepare(xml, "out.xml");
    EXPECT_EQ(Shell("xmllint --noout --schema '" TABRIX_SOURCE_DIR "/cellfile/tabrix-table.xsd' '" + dir / "out.xml" + "'"),
              dir / "out.xml" + " validates\n");
    std::ofstream(dir / "read.py")
        << "import sys, xml.etree.ElementTree as ET\n"
           "table = ET.parse(sys.argv[1]).getroot()\n"
           "print(table.get('name'), ''.join(l.text for l in table.find('header')).encode().hex())\n"
           "print('|'.join(c.get('name') + '=' + c.get('caption').encode().hex() for c in table.find('columns')))\n"
           "for row in table.find('rows'):\n"
           "    print('|'.join('~' if v.get('null') == 'true' else 's' + (v.text or '').encode().hex() for v in row))\n";
    const std::vector<std::string> names = {"No", "Text", "Big_number", "Float", "Day", "Big_number_2"};
    std::string columns;
    for (std::size_t i = 0; i < names.size(); ++i)
        columns += (i ? "|" : "") + names[i] + "=" + Hex(Captions[i]);
    const std::string expected = "out " + Hex("Report <1> & \"2\"") + "\n" + columns + "\n"
        + Rows([](std::size_t r, int c) { return Null(r) && c > 0 ? std::string("~") : "s" + Hex(ExactText(r, c)); });
    EXPECT_EQ(Shell("/usr/bin/python3 '" + dir / "read.py" + "' '" + dir / "out.xml" + "'"), expected);
    EXPECT_TRUE(xml.Statistic().Warnings.empty());
}

// The script runs unchanged in sqlite3 and in psql, and the table each makes holds
// the source's values, typed.
TEST_F(InterchangeExportersTest, SqlScriptRunsInSqlite3AndPsqlAndTheirTablesHoldTheValues)
{
    // Line ends of every kind, which a script's reader must not take for its own.
    const std::string lineEnds = "a\r\nb\rc\n\r";
    ds.AppendRecord({Variant(100), Variant(lineEnds), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null()});
    ds.First();
    TKVExportToSQL sql;
    sql.TableName = "Order \"items\"";
    Prepare(sql, "out.sql");
    EXPECT_TRUE(sql.Statistic().Warnings.empty());
    const auto compare = [&lineEnds](QSqlDatabase Db) {
        QSqlQuery query(Db);
        ASSERT_TRUE(query.exec("SELECT \"No\", \"Text\", \"Big number\", \"Float\", \"Day\", \"Big_number\" FROM "
                               "\"Order \"\"items\"\"\" ORDER BY \"No\""));
        std::size_t r = 0;
        for (; query.next(); ++r) {
            SCOPED_TRACE("row " + std::to_string(r));
            if (query.value(0).toLongLong() == 100) {
                EXPECT_EQ(query.value(1).toString().toStdString(), lineEnds);
                continue;
            }
            ASSERT_LE(r, Texts.size());
            EXPECT_EQ(query.value(0).toLongLong(), static_cast<long long>(r));
            if (Null(r)) {
                for (int c = 1; c < 6; ++c)
                    EXPECT_TRUE(query.value(c).isNull()) << c;
                continue;
            }
            EXPECT_EQ(query.value(1).toString().toStdString(), Texts[r]);
            EXPECT_EQ(query.value(2).toLongLong(), Integers[r]);
            EXPECT_EQ(query.value(3).toDouble(), Floats[r]);
            const QVariant day = query.value(4);
            EXPECT_EQ(day.typeId() == QMetaType::QDate ? day.toDate().toString(Qt::ISODate).toStdString()
                                                       : day.toString().toStdString(),
                      Days[r]);
            EXPECT_EQ(query.value(5).toString().toStdString(), "x");
        }
        EXPECT_EQ(r, Texts.size() + 2);
    };
    {
        SCOPED_TRACE("sqlite3");
        EXPECT_EQ(Shell("sqlite3 '" + dir / "out.db" + "' < '" + dir / "out.sql" + "'"), "");
        compare(OpenSqliteDatabase(dir / "out.db", "sql_sqlite"));
    }
    DropConnection("sql_sqlite");
    {
        SCOPED_TRACE("psql");
        std::string why;
        ASSERT_TRUE(PostgresAvailable(&why)) << why;
        QSqlDatabase db = OpenPostgresDatabase("sql_postgres");
        QSqlQuery schema("SELECT current_schema()", db);
        ASSERT_TRUE(schema.next());
        EXPECT_EQ(Shell("PGOPTIONS='-c search_path=" + schema.value(0).toString().toStdString() + "' psql -X -q -v "
                        "ON_ERROR_STOP=1 '" + PostgresConnectionString() + "' -f '" + dir / "out.sql" + "'"),
                  "");
        compare(db);
    }
    DropConnection("sql_postgres");
}

TEST_F(InterchangeExportersTest, SqlRefusesTextPostgresCannotHold)
{
    TMemoryDataSet nul;
    nul.AddField("Text", ftString, 10);
    nul.AppendRecord({Variant("fine")});
    nul.AppendRecord({Variant(std::string("a\0b", 3))});
    nul.First();
    WriteStringToFile(dir / "out.sql", "old");
    TKVExportToSQL sql;
    sql.AnimatedStatus = false;
    sql.ColumnSource = csDataSet;
    sql.SetDataSet(&nul);
    sql.SetFileName(dir / "out.sql");
    sql.Execute();
    EXPECT_EQ(sql.Statistic().Result, erFailed);
    EXPECT_EQ(ReadFileToString(dir / "out.sql"), "old");
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_NE(ui.Boxes[0].Text.find("the value of column Text in row 2 holds a NUL character, which PostgreSQL text "
                                    "cannot hold"),
              std::string::npos)
        << ui.Boxes[0].Text;
}

// A format written a record at a time cannot turn the table; one that names its values
// by column has no row per field either. A refused layout fails the run and writes
// nothing.
TEST_F(InterchangeExportersTest, LayoutsAFormatCannotWriteFailTheRun)
{
    TKVExportToHTML html;
    TKVExportToXML xml;
    TKVExportToSQL sql;
    TKVExportToDIF dif;
    const std::tuple<TKVExportToText*, TKVELayout, TKVEResult> cases[] = {
        {&html, elTabularForm, erCompleted}, {&html, elReversedColumnar, erFailed}, {&dif, elTabularForm, erCompleted},
        {&dif, elReversedColumnar, erFailed}, {&xml, elTabularForm, erFailed},      {&sql, elReversedColumnar, erFailed},
    };
    for (const auto& [exporter, layout, result] : cases) {
        SCOPED_TRACE(exporter->Extension() + " layout " + std::to_string(layout));
        const std::string file = "layout" + exporter->Extension();
        exporter->Layout = layout;
        Prepare(*exporter, file, result);
        EXPECT_EQ(std::filesystem::exists(dir / file), result == erCompleted);
        std::filesystem::remove(dir / file);
    }
}

// LibreOffice reads numbers as numbers (to the 15 digits it keeps), texts as texts and
// SYLK's dates as dates; what the file cannot hold is counted.
TEST_F(InterchangeExportersTest, SylkAndDifReadBackByLibreOffice)
{
    if (!LibreOfficeAvailable())
        GTEST_SKIP() << "LibreOffice is not installed";
    TKVExportToSYLK sylk;
    TKVExportToDIF dif;
    struct TCase {
        TKVExportToText* Exporter;
        std::string File;
        bool Dif;
        std::vector<std::string> Warnings;
    };
    const std::string digits = " whole numbers have more than the 15 digits a spreadsheet number keeps and were "
                               "written as text";
    const std::string rounded = " numbers need more than the 15 significant digits spreadsheet programs keep; they "
                                "were written whole, and a reader may round them";
    const std::string nulls = " nulls were written as empty texts: DIF has no null a reader keeps (the first at field ";
    for (const TCase& c :
         {TCase{&sylk, "out.slk", false,
                {"2" + rounded + " (the first at field Float, record 2)", "3" + digits + " (the first at field Big number, record 4)"}},
          TCase{&dif, "out.dif", true,
                {"2" + rounded + " (the first at field Float, record 2)", "3" + digits + " (the first at field Big number, record 4)",
                 "1 values held characters the Windows-1252 code page of DIF cannot hold; they became \"?\" (a CR a "
                 "line break) (the first at field Text, record 9)",
                 "1" + nulls + "Text, record 12)", "1" + nulls + "Big number, record 12)", "1" + nulls + "Float, record 12)",
                 "1" + nulls + "Day, record 12)", "1" + nulls + "Big_number, record 12)"}}}) {
        SCOPED_TRACE(c.File);
        Prepare(*c.Exporter, c.File);
        const std::string expected = "s" + Hex("Report <1> & \"2\"") + "\n" + CaptionRow("s")
            + Rows([&c](std::size_t r, int col) { return SheetCell(r, col, c.Dif); });
        EXPECT_EQ(SpreadsheetCells(dir / c.File), expected);
        std::vector<std::string> warnings;
        for (const std::string& w : c.Warnings)
            warnings.push_back(dir / c.File + ": " + w);
        EXPECT_EQ(c.Exporter->Statistic().Warnings, warnings);
    }
}

} // namespace
