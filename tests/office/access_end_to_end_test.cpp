// The database-table exporter through the native engine into real databases (an SQLite
// file and the tests' private PostgreSQL server), read back with each database's own
// command-line client.

#include "office/access_exporter.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/format_settings.h"
#include "framework/sql_data_set.h"
#include "framework/string_list.h"
#include "framework/ui_services.h"
#include "platform/automation/automation.h"

#include <gtest/gtest.h>

#include "tests/common/temp_folder.h"
#include "tests/support/test_databases.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

#ifndef TABRIX_POSTGRES_STATE
#define TABRIX_POSTGRES_STATE ""
#endif

namespace {

std::string Shell(const std::string& Command)
{
    std::string out;
    FILE* p = popen(Command.c_str(), "r");
    if (!p)
        return "<popen failed>";
    std::array<char, 4096> buf;
    while (std::size_t n = fread(buf.data(), 1, buf.size(), p))
        out.append(buf.data(), n);
    pclose(p);
    return out;
}

std::string ShellQuote(const std::string& S)
{
    std::string q = "'";
    for (char c : S)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::map<std::string, std::string> PostgresSettings()
{
    std::map<std::string, std::string> out;
    std::ifstream in(std::string(TABRIX_POSTGRES_STATE) + "/connection");
    std::string line;
    while (std::getline(in, line))
        if (auto eq = line.find('='); eq != std::string::npos)
            out[line.substr(0, eq)] = line.substr(eq + 1);
    return out;
}

enum class Target { Sqlite, Postgres };

class AccessEndToEndTest : public ::testing::TestWithParam<Target> {
protected:
    void SetUp() override
    {
        ui.ForceHasGui = 0;
        if (GetParam() == Target::Sqlite) {
            database = folder / "orders.mdb";
        } else {
            const auto pg = PostgresSettings();
            if (!pg.count("host"))
                GTEST_SKIP() << "the private PostgreSQL server is not running (ctest starts it)";
            const std::string schema = "s" + std::to_string(getpid()) + "_" + std::to_string(counter++);
            base = "postgresql://" + pg.at("user") + "@/" + pg.at("dbname") + "?host=" + pg.at("host")
                + "&port=" + pg.at("port");
            Shell("psql -q " + ShellQuote(base) + " -c 'CREATE SCHEMA " + schema + "' 2>&1");
            database = base + "&options=-csearch_path%3D" + schema;
        }
        exporter.AnimatedStatus = false;
        exporter.Options.Exclude(soShowMessage);
        exporter.ColumnSource = csDataSet;
        exporter.SetDataSet(&data);
        exporter.SetFileName(database);
        exporter.TableName = "Orders";
        // Values go through text in German notation and are read back by the engine.
        exporter.DataFormats().DecimalSeparator = ",";
        exporter.DataFormats().ThousandSeparator = ".";
        exporter.DataFormats().DateSeparator = ".";
        exporter.DataFormats().DateOrder = doDMY;
        exporter.DataFormats().FourDigitYear = true;
        exporter.DataFormats().LeadingZerosInDate = true;
        exporter.DataFormats().CurrencyString = "EUR";
        data.AddField("ID", ftInteger, 0, true);
        data.AddField("NAME", ftString, 20);
        data.AddField("PRICE", ftCurrency);
        data.AddField("WHEN", ftDateTime);
        data.AddField("OK", ftBoolean);
        data.AddField("BIG", ftLargeint);
        data.AddField("RATE", ftFloat);
        data.AddField("DATA", ftBlob);
        data.AddField("NOTES", ftMemo);
        const char* titles[] = {"Id", "select", "a \"quoted\" name", "with blank", "Ok", "Big", "Rate", "Data", "Notes"};
        for (int i = 0; i < data.FieldCount(); ++i) {
            TKVEColumn* c = exporter.Columns().Add();
            c->FieldName = data.Fields(i)->FieldName();
            c->Title().Caption = titles[i];
        }
    }

    void AddRows()
    {
        data.AppendRecord({1, "Grüße €", 1234567.5, EncodeDate(2024, 5, 3) + EncodeTime(10, 20, 30), true,
                           Variant(static_cast<std::int64_t>(9007199254740993LL)), 0.125,
                           std::string("\x00\x01\xff", 3), "line1\nline2"});
        data.AppendRecord({2, "", Variant::Null(), Variant::Null(), false, Variant::Null(), Variant::Null(),
                           Variant::Null(), Variant::Null()});
    }

    // One column per field named, titled with the name, in place of the columns there were.
    void UseColumns(std::initializer_list<const char*> Names)
    {
        exporter.Columns().Clear();
        for (const char* name : Names) {
            TKVEColumn* c = exporter.Columns().Add();
            c->FieldName = name;
            c->Title().Caption = name;
        }
    }

    // The rows of the table, one line each, columns separated by '|'; blobs in hex.
    std::string Select(const std::string& Sql)
    {
        if (GetParam() == Target::Sqlite)
            return Shell("sqlite3 -separator '|' " + ShellQuote(database) + " " + ShellQuote(Sql) + " 2>&1");
        return Shell("psql -qAt -F '|' " + ShellQuote(database) + " -c " + ShellQuote(Sql) + " 2>&1");
    }
    std::string Hex(const std::string& Column)
    {
        return GetParam() == Target::Sqlite ? "lower(hex(" + Column + "))" : "encode(" + Column + ", 'hex')";
    }
    bool Pg() const { return GetParam() == Target::Postgres; }

    static inline int counter = 0;
    TempDir folder;
    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    std::string base, database;
    TMemoryDataSet data;
    TKVExportToAccess exporter;
};

TEST_P(AccessEndToEndTest, TypesValuesAndOddNamesReadBack)
{
    AddRows();
    exporter.Options.Include(soShowMessage);
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted) << ui.Boxes.at(0).Text;
    EXPECT_EQ(Select("SELECT \"Id\", \"select\", \"a \"\"quoted\"\" name\", \"with blank\", \"Ok\", \"Big\", \"Rate\", "
                     + Hex("\"Data\"") + ", \"Notes\" IS NULL FROM \"Orders\" ORDER BY \"Id\""),
              Pg() ? "1|Grüße €|1234567.5000|2024-05-03 10:20:30|t|9007199254740993|0.125|0001ff|f\n"
                     "2||||f||||t\n"
                   : "1|Grüße €|1234567.5|2024-05-03 10:20:30|1|9007199254740993|0.125|0001ff|0\n"
                     "2||||0||||1\n");
    // A memo is a text column holding text; an empty text stays empty, not null.
    EXPECT_EQ(Select("SELECT \"Notes\" FROM \"Orders\" WHERE \"Notes\" = 'line1\nline2'"), "line1\nline2\n");
    EXPECT_EQ(Select("SELECT count(*) FROM \"Orders\" WHERE \"select\" = ''"), "1\n");
    const std::string types = Pg() ? Select("SELECT format_type(atttypid, atttypmod) || ' ' || attnotnull FROM "
                                            "pg_attribute WHERE attrelid = '\"Orders\"'::regclass AND attnum > 0 "
                                            "ORDER BY attnum")
                                   : Select("SELECT type || ' ' || \"notnull\" FROM pragma_table_info('Orders')");
    EXPECT_EQ(types, Pg() ? "integer true\ncharacter varying(20) false\nnumeric(19,4) false\n"
                            "timestamp without time zone false\nboolean false\nbigint false\n"
                            "double precision false\nbytea false\ntext false\n"
                          : "INTEGER 1\nVARCHAR(20) 0\nNUMERIC(19,4) 0\nDATETIME 0\nBOOLEAN 0\nBIGINT 0\n"
                            "DOUBLE PRECISION 0\nBLOB 0\nLONGTEXT 0\n");
}

TEST_P(AccessEndToEndTest, FailedExportLeavesTheOldTableAndRows)
{
    AddRows();
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    const std::string before = Select("SELECT * FROM \"Orders\" ORDER BY 1");

    // A failure in the middle of the rows: the old table comes back whole.
    data.AppendRecord({3, "third"});
    int calls = 0;
    exporter.OnAfterRecord = [&calls](TPersistent*, bool&) {
        if (++calls == 2)
            throw Exception("source failed");
    };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_EQ(Select("SELECT * FROM \"Orders\" ORDER BY 1"), before);

    // A text that does not convert fails with a message naming the field.
    exporter.OnAfterRecord = nullptr;
    TKVEColumn* bad = exporter.Columns().Add();
    bad->ColumnKind = ckConstant;
    bad->DataType = ctDate;
    bad->FieldName = "31.02.2024";
    bad->Title().Caption = "Due";
    exporter.Options.Include(soShowMessage);
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_NE(ui.Boxes[0].Text.find("type conversion"), std::string::npos) << ui.Boxes[0].Text;
    EXPECT_NE(ui.Boxes[0].Text.find("Orders.Due"), std::string::npos) << ui.Boxes[0].Text;
    EXPECT_EQ(Select("SELECT * FROM \"Orders\" ORDER BY 1"), before);
}

TEST_P(AccessEndToEndTest, RowRefusedByTheDatabaseLateInABigMergeLeavesTheTableAlone)
{
    // The database itself refuses a row long after the first ones went in (rows are
    // stored in batches): the export fails with the database's message and no row stays.
    Select("CREATE TABLE \"Keys\" (\"ID\" INTEGER UNIQUE, \"NAME\" VARCHAR(20)); "
           "INSERT INTO \"Keys\" VALUES (-1, 'old')");
    TMemoryDataSet keys;
    keys.AddField("ID", ftInteger);
    keys.AddField("NAME", ftString, 20);
    for (int i = 0; i < 5000; ++i)
        keys.AppendRecord({i == 4321 ? 7 : i, "row " + std::to_string(i)});
    UseColumns({"ID", "NAME"});
    exporter.SetDataSet(&keys);
    exporter.TableName = "Keys";
    exporter.Options.Include(soMergeData);
    exporter.Options.Include(soShowMessage);
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    std::string message = ui.Boxes[0].Text;
    std::transform(message.begin(), message.end(), message.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_NE(message.find("unique"), std::string::npos) << message;
    EXPECT_EQ(Select("SELECT * FROM \"Keys\""), "-1|old\n");

    // Without the duplicate every row arrives.
    keys.EmptyDataSet();
    for (int i = 0; i < 5000; ++i)
        keys.AppendRecord({i, "row " + std::to_string(i)});
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(Select("SELECT count(*), sum(\"ID\") FROM \"Keys\""), "5001|12497499\n");
}

TEST_P(AccessEndToEndTest, MergeAddsRowsAndCancelKeepsWhatWasWritten)
{
    AddRows();
    exporter.Execute();
    exporter.TableName = "ORDERS";
    exporter.Options.Include(soMergeData);
    exporter.OnAfterRecord = [](TPersistent*, bool& abort) { abort = true; };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCanceled);
    EXPECT_EQ(exporter.TableName, "Orders");
    EXPECT_EQ(Select("SELECT \"Id\" FROM \"Orders\" ORDER BY 1"), "1\n1\n2\n");

    TStringList names;
    GetTableNames(&names, database);
    ASSERT_EQ(names.Count(), 1);
    EXPECT_EQ(names[0], "Orders");
}

// Rows read on a second thread arrive in order across its batches; a row the source
// cannot give fails the run, and a cancel keeps the rows up to the one under way.
TEST_P(AccessEndToEndTest, RowsReadAheadArriveInOrderAndStopWhereTheSourceDoes)
{
    {
        QSqlDatabase db = OpenSqliteDatabase(folder / "rows.db", "rows_ahead");
        ExecSql(db, {"CREATE TABLE t (id INTEGER, j TEXT, d DATE)",
                     "WITH RECURSIVE n(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM n WHERE x < 1499) INSERT INTO t "
                     "SELECT x, CASE x WHEN 1200 THEN '{broken' ELSE '{}' END, date('2024-01-01', '+' || x || ' days') "
                     "FROM n"});
        TSQLDataSet rows;
        rows.SetDatabase(db);
        rows.SetSQL("SELECT id, d, json_extract(j, '$.a') AS a FROM t");
        rows.Open();
        UseColumns({"id", "d"});
        exporter.SetDataSet(&rows);
        exporter.ReadAhead = true;
        exporter.Execute();
        EXPECT_EQ(exporter.Statistic().Result, erFailed);
        TStringList names;
        GetTableNames(&names, database);
        EXPECT_EQ(names.Count(), 0);

        rows.SetSQL("SELECT id, d FROM t");
        rows.Open();
        exporter.OnProgress = [](TPersistent*, int Row, int, bool& Abort) { Abort = Row == 700; };
        exporter.Execute();
        EXPECT_EQ(exporter.Statistic().Result, erCanceled);
        EXPECT_EQ(Select("SELECT count(*), sum(\"id\"), min(\"d\"), max(\"d\") FROM \"Orders\""),
                  "701|245350|2024-01-01 00:00:00|2025-12-01 00:00:00\n");
        exporter.SetDataSet(nullptr);
    }
    DropConnection("rows_ahead");
}

// Every value keeps its digits and its kind: floats that read back as the same double,
// 64-bit limits, amounts with four decimals, years before 100 with milliseconds, empty
// text beside null, long memo text and bytes with NUL.
TEST_P(AccessEndToEndTest, ValuesKeepEveryDigit)
{
    const std::string memo(100000, 'm');
    const double amount = -999999999999.9999;
    data.AppendRecord({3, "", Variant::FromCurrency(amount), ComposeDateTime(EncodeDate(50, 3, 1), EncodeTime(6, 0, 0, 250)),
                       true, Variant(static_cast<long long>(INT64_MIN)), 12025.666666666666,
                       std::string("\0x\0", 3), memo});
    data.AppendRecord({4, Variant::Null(), Variant::FromScaledCurrency(9223372036854770000LL), Variant::Null(), false,
                       Variant(static_cast<long long>(INT64_MAX)), -1.7976931348623157e308, Variant::Null(), ""});
    exporter.ReadAhead = true; // the values are the same read on the second thread
    exporter.Options.Include(soShowMessage);
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted) << ui.Boxes.at(0).Text;
    const std::string when = Pg() ? "'0050-03-01 06:00:00.25'::timestamp" : "'0050-03-01 06:00:00.250'";
    const std::string price = "-999999999999.9999";
    for (const std::string& condition :
         {"\"Id\" = 3 AND \"select\" = '' AND \"Big\" = -9223372036854775808 AND \"Rate\" = 12025.666666666666 AND "
          "\"with blank\" = " + when + " AND \"a \"\"quoted\"\" name\" = " + price + " AND length(\"Notes\") = 100000 AND " +
              Hex("\"Data\"") + " = '007800'",
          std::string("\"Id\" = 4 AND \"select\" IS NULL AND \"Big\" = 9223372036854775807 AND \"Rate\" = "
                      "-1.7976931348623157e308 AND \"Notes\" = '' AND \"Data\" IS NULL AND \"with blank\" IS NULL") +
              " AND \"a \"\"quoted\"\" name\" = 922337203685477"})
        EXPECT_EQ(Select("SELECT count(*) FROM \"Orders\" WHERE " + condition), "1\n") << condition;
}

// A merge leaves the columns it does not fill to their defaults, and a row that breaks
// a foreign key fails the export and leaves the table as it was.
TEST_P(AccessEndToEndTest, MergeLeavesDefaultsAndKeepsForeignKeys)
{
    const std::string setup =
        Pg() ? "CREATE TABLE parent (id integer PRIMARY KEY); INSERT INTO parent VALUES (1), (2); "
               "CREATE TABLE \"Orders\" (\"Id\" integer REFERENCES parent (id), \"select\" varchar(20), "
               "created timestamp NOT NULL DEFAULT now(), n serial)"
             : "CREATE TABLE parent (id INTEGER PRIMARY KEY); INSERT INTO parent VALUES (1), (2); "
               "CREATE TABLE \"Orders\" (\"Id\" INTEGER REFERENCES parent (id), \"select\" VARCHAR(20), "
               "created DATETIME NOT NULL DEFAULT CURRENT_TIMESTAMP, n INTEGER DEFAULT 7)";
    Select(setup);
    for (int i = 2; i < exporter.Columns().Count(); ++i)
        exporter.Columns()[i]->Visible = false;
    exporter.Options.Include(soMergeData);
    AddRows();
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(Select("SELECT \"Id\", created IS NOT NULL, n IS NOT NULL FROM \"Orders\" ORDER BY 1"),
              Pg() ? "1|t|t\n2|t|t\n" : "1|1|1\n2|1|1\n");
    data.AppendRecord({99, "orphan"});
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_EQ(Select("SELECT count(*) FROM \"Orders\""), "2\n");
}

// PostgreSQL names: a table differing only in letter case is never touched, and a name
// the server would cut is refused, naming the limit.
TEST_P(AccessEndToEndTest, PostgresNamesAreMatchedAsTheServerMatchesThem)
{
    if (!Pg())
        GTEST_SKIP() << "SQLite has no two tables differing only in case";
    Select("CREATE TABLE \"Orders\" (a integer); INSERT INTO \"Orders\" VALUES (1); CREATE TABLE orders (b integer)");
    AddRows();
    exporter.TableName = "orders";
    exporter.Execute();
    ASSERT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(Select("SELECT a FROM \"Orders\"; SELECT count(*) FROM orders"), "1\n2\n");
    exporter.TableName = std::string(64, 't');
    exporter.Options.Include(soShowMessage);
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_NE(ui.Boxes.back().Text.find("at most 63 bytes"), std::string::npos) << ui.Boxes.back().Text;
}

// A PostgreSQL database that does not exist yet is created for a new table.
TEST_P(AccessEndToEndTest, MissingPostgresDatabaseIsCreated)
{
    if (!Pg())
        GTEST_SKIP() << "an SQLite file is created by opening it";
    const std::string name = "tabrix_new_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    const std::string uri = base.substr(0, base.find("@/") + 2) + name + base.substr(base.find('?'));
    exporter.SetFileName(uri);
    AddRows();
    exporter.Options.Include(soShowMessage);
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted) << (ui.Boxes.empty() ? "" : ui.Boxes.back().Text);
    EXPECT_EQ(Shell("psql -qAt " + ShellQuote(uri) + " -c 'SELECT count(*) FROM \"Orders\"' 2>&1"), "2\n");
    Shell("psql -q " + ShellQuote(base) + " -c 'DROP DATABASE " + name + "' 2>&1");
}

// Targets that cannot be opened are reported by their own cause; a run that fails into a
// database file it created leaves no file; a name is used as given.
TEST(AccessTargetTest, MessagesNameTheCauseAndAFailedRunLeavesNoNewFile)
{
    TempDir folder;
    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    ui.ForceHasGui = 0;
    TMemoryDataSet data;
    data.AddField("ID", ftInteger);
    data.AppendRecord({1});
    data.AppendRecord({2});
    auto run = [&](const std::string& Target, bool FailAtSecondRow = false) {
        TKVExportToAccess exporter;
        exporter.AnimatedStatus = false;
        exporter.ColumnSource = csDataSet;
        exporter.SetDataSet(&data);
        exporter.SetFileName(Target);
        exporter.TableName = "t";
        if (FailAtSecondRow)
            exporter.OnAfterRecord = [](TPersistent*, bool&) { throw Exception("the source failed"); };
        exporter.Execute();
        return exporter.Statistic().Result == erFailed ? ui.Boxes.back().Text : std::string("completed");
    };
    std::ofstream(folder / "notes.txt") << "not a database";
    std::filesystem::create_directory(folder / "folder");
    struct Case {
        std::string Target;
        const char* Expected;
    } cases[] = {
        {folder / "notes.txt", "file is not a database"},
        {folder / "folder", "is not a database file"},
    };
    for (const Case& c : cases)
        EXPECT_NE(run(c.Target).find(c.Expected), std::string::npos) << c.Target << ": " << ui.Boxes.back().Text;
    EXPECT_NE(run(folder / "new.db", true).find("the source failed"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder / "new.db"));
    EXPECT_EQ(run(folder / "plain"), "completed");
    EXPECT_TRUE(std::filesystem::exists(folder / "plain"));
    EXPECT_FALSE(std::filesystem::exists(folder / "plain.MDB"));
}

INSTANTIATE_TEST_SUITE_P(Databases, AccessEndToEndTest, ::testing::Values(Target::Sqlite, Target::Postgres),
                         [](const auto& info) { return info.param == Target::Sqlite ? "Sqlite" : "Postgres"; });

} // namespace
