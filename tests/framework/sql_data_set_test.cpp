// The SQL dataset on SQLite files and on the private PostgreSQL server: field
// descriptions, values, the walk, bookmarks and display reads.

#include "framework/exceptions.h"
#include "framework/format_settings.h"
#include "framework/sql_data_set.h"
#include "tests/common/temp_folder.h"
#include "tests/support/test_databases.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

namespace {

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "sql-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app =
        QCoreApplication::instance() ? QCoreApplication::instance() : new QCoreApplication(argc, argv);
    return *app;
}

TEST(FieldTypeFromSqlTypeTest, DeclaredTypes)
{
    struct Case {
        const char* Declared;
        TFieldType Type;
        int Size;
        int Precision;
    };
    const Case cases[] = {
        {"INTEGER", ftInteger, 0, -1},        {"int8", ftLargeint, 0, -1},       {"SMALLINT", ftSmallint, 0, -1},
        {"bigserial", ftLargeint, 0, -1},     {"VARCHAR(40)", ftString, 40, -1}, {"character(3)", ftFixedChar, 3, -1},
        {"CHARACTER VARYING(9)", ftString, 9, -1}, {"TEXT", ftMemo, 0, -1},    {"BLOB", ftBlob, 0, -1},
        {"bytea", ftBlob, 0, -1},             {"NUMERIC(10,2)", ftBCD, 2, -1},   {"DECIMAL(30,8)", ftFMTBcd, 8, -1},
        {"NUMERIC", ftFMTBcd, 0, -1},          {"REAL", ftFloat, 0, -1},          {"FLOAT4", ftFloat, 0, 7},
        {"double precision", ftFloat, 0, -1}, {"MONEY", ftCurrency, 0, -1},     {"DATE", ftDate, 0, -1},
        {"TIME", ftTime, 0, -1},              {"DATETIME", ftDateTime, 0, -1},   {"timestamp with time zone", ftDateTime, 0, -1},
        {"BOOLEAN", ftBoolean, 0, -1},        {"uuid", ftGuid, 38, -1},          {"interval", ftString, 64, -1},
        {"VARCHAR", ftMemo, 0, -1},           {"", ftUnknown, 0, -1},               {"geometry", ftUnknown, 0, -1},
    };
    for (const Case& c : cases) {
        int size = -5, precision = -5;
        EXPECT_EQ(FieldTypeFromSqlType(c.Declared, size, precision), c.Type) << c.Declared;
        EXPECT_EQ(size, c.Size) << c.Declared;
        EXPECT_EQ(precision, c.Precision) << c.Declared;
    }
}

class SqlDataSetTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        App();
        const std::string kind = GetParam();
        pg = kind == "postgres";
        std::string why;
        if (pg && !PostgresAvailable(&why))
            GTEST_SKIP() << why;
        db = pg ? OpenPostgresDatabase(connection) : OpenSqliteDatabase(dir / "test.db", connection);
        ExecSql(db, {pg ? "CREATE TABLE items (id SERIAL PRIMARY KEY, name VARCHAR(30) NOT NULL, price NUMERIC(10,2), "
                          "ratio DOUBLE PRECISION, born DATE, at TIMESTAMP, flag BOOLEAN, note TEXT, photo BYTEA)"
                        : "CREATE TABLE items (id INTEGER PRIMARY KEY, name VARCHAR(30) NOT NULL, price NUMERIC(10,2), "
                          "ratio REAL, born DATE, at TIMESTAMP, flag BOOLEAN, note TEXT, photo BLOB)"});
        Insert(1, "Alpha", QVariant(12.5), 0.25, QDate(2024, 1, 31), QDateTime(QDate(2024, 1, 31), QTime(12, 30)), true,
               "a note", QByteArray("\x00\x01\x02", 3));
        Insert(2, "Zo\xC3\xAB", QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant());
        Insert(3, "Gamma", QVariant(-7.05), -1.5, QDate(1899, 12, 30), QDateTime(QDate(2000, 2, 29), QTime(6, 0)), false,
               "", QByteArray());
        ds.SetDatabase(db);
    }
    void TearDown() override
    {
        ds.Close();
        db = QSqlDatabase();
        DropConnection(connection);
    }
    void Insert(int id, const char* name, QVariant price, QVariant ratio, QVariant born, QVariant at, QVariant flag,
                QVariant note, QVariant photo)
    {
        QSqlQuery q(db);
        ASSERT_TRUE(q.prepare("INSERT INTO items VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const QVariant& v : {QVariant(id), QVariant(QString::fromUtf8(name)), price, ratio, born, at, flag, note,
                                  photo})
            q.addBindValue(v);
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }
    std::string Name() { return ds.FieldByName("NAME")->AsString(); }

    TempDir dir;
    QString connection = "sql_data_set_test";
    bool pg = false;
    QSqlDatabase db;
    TSQLDataSet ds;
};

TEST_P(SqlDataSetTest, DescribesTheColumns)
{
    ds.SetTableName("items");
    ds.SetFieldType("PHOTO", ftGraphic);
    ds.Open();
    const std::vector<std::pair<std::string, TFieldType>> expected = {
        {"id", pg ? ftAutoInc : ftLargeint}, {"name", ftString}, {"price", ftBCD}, {"ratio", ftFloat},    {"born", ftDate},
        {"at", ftDateTime}, {"flag", ftBoolean}, {"note", ftMemo}, {"photo", ftGraphic}};
    ASSERT_EQ(ds.FieldCount(), static_cast<int>(expected.size()));
    for (int i = 0; i < ds.FieldCount(); ++i) {
        EXPECT_EQ(ds.Fields(i)->FieldName(), expected[i].first);
        EXPECT_EQ(ds.Fields(i)->DataType(), expected[i].second) << expected[i].first;
    }
    EXPECT_EQ(ds.FieldByName("name")->Size(), 30);
    EXPECT_EQ(ds.FieldByName("name")->DisplayWidth(), 30);
    EXPECT_TRUE(ds.FieldByName("name")->Required());
    EXPECT_FALSE(ds.FieldByName("price")->Required());
    EXPECT_TRUE(ds.FieldByName("id")->ReadOnly());
    EXPECT_EQ(ds.FieldByName("price")->Size(), 2);
    EXPECT_EQ(ds.FieldByName("ratio")->Precision(), 15);
}

TEST_P(SqlDataSetTest, ReadsValuesAndNulls)
{
    ds.SetTableName("items");
    ds.Open();
    EXPECT_EQ(ds.FieldByName("id")->Value(), Variant(1));
    EXPECT_EQ(Name(), "Alpha");
    EXPECT_EQ(ds.FieldByName("price")->Value().VarType(), varCurrency);
    EXPECT_EQ(ds.FieldByName("price")->Value().AsScaledCurrency(), 125000);
    EXPECT_DOUBLE_EQ(ds.FieldByName("ratio")->AsFloat(), 0.25);
    EXPECT_DOUBLE_EQ(ds.FieldByName("born")->AsDateTime(), 45322.0);
    EXPECT_DOUBLE_EQ(ds.FieldByName("at")->AsDateTime(), 45322.0 + 12.5 / 24);
    EXPECT_TRUE(ds.FieldByName("flag")->AsBoolean());
    EXPECT_EQ(ds.FieldByName("photo")->AsString(), std::string("\x00\x01\x02", 3));
    ds.Next();
    EXPECT_EQ(Name(), "Zo\xC3\xAB");
    for (const char* f : {"price", "ratio", "born", "at", "flag", "note", "photo"})
        EXPECT_TRUE(ds.FieldByName(f)->IsNull()) << f;
    ds.Next();
    EXPECT_EQ(ds.FieldByName("price")->Value().AsScaledCurrency(), -70500);
    EXPECT_DOUBLE_EQ(ds.FieldByName("born")->AsDateTime(), 0.0);
    EXPECT_FALSE(ds.FieldByName("flag")->AsBoolean());
}

TEST_P(SqlDataSetTest, WalksForwardAndCounts)
{
    ds.SetSQL("SELECT name FROM items ORDER BY id -- in key order");
    ds.Open();
    EXPECT_EQ(ds.RecordCount(), 3);
    std::vector<std::string> names;
    for (int pass = 0; pass < 2; ++pass) {
        names.clear();
        for (ds.First(); !ds.Eof(); ds.Next())
            names.push_back(Name());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Zo\xC3\xAB", "Gamma"}));
    // Past the end the last record stays current.
    EXPECT_EQ(ds.RecNo(), 3);
    EXPECT_EQ(Name(), "Gamma");
    ds.Prior();
    EXPECT_EQ(Name(), "Zo\xC3\xAB");

    ds.SetSQL("SELECT name FROM items WHERE id > 99");
    ds.Open();
    ds.First();
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.RecordCount(), 0);
    EXPECT_EQ(ds.GetBookmark(), "");
}

TEST_P(SqlDataSetTest, KeyedBookmarksFindTheirRecord)
{
    ds.SetTableName("items");
    ds.Open();
    ds.Next();
    const TBookmark second = ds.GetBookmark();
    while (!ds.Eof())
        ds.Next();
    ds.GotoBookmark(second);
    EXPECT_EQ(Name(), "Zo\xC3\xAB");
    EXPECT_EQ(ds.RecNo(), 2);
    EXPECT_EQ(ds.GetBookmark(), second);
    ds.Next();
    EXPECT_EQ(Name(), "Gamma");
    EXPECT_TRUE(ds.BookmarkValid(second));

    ExecSql(db, {"DELETE FROM items WHERE id = 2"});
    EXPECT_FALSE(ds.BookmarkValid(second));
    EXPECT_THROW(ds.GotoBookmark(second), Exception);
    EXPECT_THROW(ds.GotoBookmark("P1"), Exception);
    EXPECT_THROW(ds.GotoBookmark(std::string("\x01\x02", 2)), Exception);
    EXPECT_EQ(Name(), "Gamma");
}

TEST_P(SqlDataSetTest, PositionBookmarksOfAQueryWithoutKeys)
{
    ds.SetSQL("SELECT name FROM items ORDER BY name DESC;\n");
    ds.Open();
    ds.Next();
    const TBookmark second = ds.GetBookmark();
    ds.Next();
    ds.Next();
    ds.GotoBookmark(second);
    EXPECT_EQ(Name(), "Gamma");
    std::vector<Variant> values;
    TBookmark b;
    ds.GetRecordAt(1, values, b);
    EXPECT_EQ(b, second);
    EXPECT_THROW(ds.GotoBookmark("P3"), Exception);
}

TEST_P(SqlDataSetTest, DisplayReadsLeaveTheWalkAlone)
{
    QSqlQuery q(db);
    ASSERT_TRUE(db.transaction());
    ASSERT_TRUE(q.prepare("INSERT INTO items (id, name) VALUES (?, ?)"));
    for (int id = 4; id <= 300; ++id) {
        q.addBindValue(id);
        q.addBindValue(QString("row %1").arg(id));
        ASSERT_TRUE(q.exec());
    }
    ASSERT_TRUE(db.commit());
    ds.SetTableName("items");
    ds.Open();
    ds.Next();
    ds.Next();
    ds.Next(); // on id 4
    std::vector<Variant> values;
    TBookmark b;
    for (int index : {299, 0, 200}) {
        ds.GetRecordAt(index, values, b);
        EXPECT_EQ(values[0], Variant(index + 1));
    }
    EXPECT_EQ(values[1].AsString(), "row 201");
    EXPECT_THROW(ds.GetRecordAt(300, values, b), EListError);
    EXPECT_EQ(Name(), "row 4");
    ds.Next();
    EXPECT_EQ(Name(), "row 5");
    ds.GotoBookmark(b);
    EXPECT_EQ(Name(), "row 201");
}

TEST_P(SqlDataSetTest, TableNamesAsTheDatabaseReadsThem)
{
    ExecSql(db, {"CREATE TABLE \"my items\" (\"select\" INTEGER PRIMARY KEY, \"Name\" VARCHAR(10))",
                 "INSERT INTO \"my items\" VALUES (1, 'one')", "INSERT INTO \"my items\" VALUES (2, 'two')",
                 "CREATE TABLE Staff (Id INTEGER PRIMARY KEY)", "INSERT INTO Staff VALUES (5)"});
    ds.SetTableName("my items");
    ds.Open();
    ds.Next();
    const TBookmark b = ds.GetBookmark();
    ds.First();
    ds.GotoBookmark(b);
    EXPECT_EQ(ds.FieldByName("name")->AsString(), "two");
    ds.SetSQL("SELECT s.Id, t.Id FROM Staff s, Staff t");
    ds.Open();
    ASSERT_EQ(ds.FieldCount(), 2);
    EXPECT_NE(ds.Fields(1)->FieldName(), ds.Fields(0)->FieldName());
    ds.SetSQL("");
    ds.SetTableName("Staff");
    ds.Open();
    EXPECT_EQ(ds.Fields(0)->AsInteger(), 5);
    EXPECT_EQ(ds.Fields(0)->DataType(), pg ? ftInteger : ftLargeint);
}

TEST_P(SqlDataSetTest, FailuresLeaveTheDatasetClosed)
{
    ds.SetSQL("SELECT nothing FROM nowhere");
    EXPECT_THROW(ds.Open(), Exception);
    EXPECT_FALSE(ds.Active());
    ds.SetSQL("");
    EXPECT_THROW(ds.Open(), Exception);
    db.close();
    ds.SetTableName("items");
    try {
        ds.Open();
        FAIL() << "opened on a closed connection";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("is not open"), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(ds.Active());
}

INSTANTIATE_TEST_SUITE_P(Databases, SqlDataSetTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return std::string(info.param); });

TEST(SqliteDataSetTest, ValueOfTheWrongKindNamesTheField)
{
    App();
    TempDir dir;
    {
        QSqlDatabase db = OpenSqliteDatabase(dir / "loose.db", "loose");
        ExecSql(db, {"CREATE TABLE t (qty INTEGER, day DATE)", "INSERT INTO t VALUES ('many', '2024-13-40')",
                     "INSERT INTO t VALUES (5, '2024-02-29 08:00:00')"});
        TSQLDataSet ds;
        ds.SetDatabase(db);
        ds.SetSQL("SELECT * FROM t");
        ds.Open();
        for (const char* f : {"qty", "day"}) {
            try {
                ds.FieldByName(f)->Value();
                ADD_FAILURE() << f << " read without error";
            } catch (const EConvertError& e) {
                EXPECT_NE(e.Message().find(std::string("field '") + f + "'"), std::string::npos) << e.Message();
            }
        }
        ds.Next();
        EXPECT_EQ(ds.FieldByName("qty")->AsInteger(), 5);
        EXPECT_DOUBLE_EQ(ds.FieldByName("day")->AsDateTime(), 45351.0);
    }
    DropConnection("loose");
}

// One row of every kind of value each database holds, read back exactly: the type the
// column gets and the value it gives, or the failure that names the field.
struct TypedCase {
    const char* Column;
    TFieldType Type;
    Variant Expected;  // ignored when Fails
    bool Fails = false; // reading the value raises, naming the field
};

double At(int Y, int M, int D, int H = 0, int N = 0, int S = 0, int Ms = 0)
{
    return ComposeDateTime(EncodeDate(Y, M, D), EncodeTime(H, N, S, Ms));
}

void CheckTypedRow(TSQLDataSet& ds, const std::vector<TypedCase>& cases)
{
    for (const TypedCase& c : cases) {
        SCOPED_TRACE(c.Column);
        TField* f = ds.FieldByName(c.Column);
        EXPECT_EQ(f->DataType(), c.Type);
        if (c.Fails) {
            try {
                f->Value();
                ADD_FAILURE() << "read without error";
            } catch (const EConvertError& e) {
                EXPECT_NE(e.Message().find(std::string("field '") + c.Column + "'"), std::string::npos) << e.Message();
            }
            continue;
        }
        const Variant v = f->Value();
        EXPECT_EQ(v.VarType(), c.Expected.VarType()) << v.AsString();
        if (v.VarType() == varString)
            EXPECT_EQ(v.StringRef(), c.Expected.StringRef());
        else if (v.VarType() == varCurrency)
            EXPECT_EQ(v.AsScaledCurrency(), c.Expected.AsScaledCurrency());
        else if (v.VarType() == varDate)
            EXPECT_NEAR(v.AsDateTime(), c.Expected.AsDateTime(), 1e-9) << DateTimeToStr(v.AsDateTime());
        else if (v.VarType() == varInteger)
            EXPECT_EQ(v.AsInteger(), c.Expected.AsInteger());
        else
            EXPECT_EQ(v, c.Expected);
    }
}

TEST(SqlSourceValuesTest, SqliteValuesArriveExact)
{
    App();
    TempDir dir;
    {
        QSqlDatabase db = OpenSqliteDatabase(dir / "typed.db", "typed");
        ExecSql(db, {"CREATE TABLE t (i INTEGER, big INTEGER, small SMALLINT, r REAL, n NUMERIC(10,2), wide DECIMAL(30,8), "
                     "cur MONEY, d DATE, dt DATETIME, ux DATETIME, jd DATETIME, tiny DATE, v VARCHAR, txt TEXT, e TEXT, "
                     "nul TEXT, b BLOB)",
                     "INSERT INTO t VALUES (1, 9223372036854775807, 3000000000, 12025.666666666666, 12.5, "
                     "9007199254740993, 922337203685477.5807, '1800-01-01', '1800-01-01 06:00:00.250', 1700000000, "
                     "2460000.5, '0050-03-01', '" + std::string(300, 'x') + "', 'caf\xC3\xA9', '', NULL, x'00ff00')"});
        TSQLDataSet ds;
        ds.SetDatabase(db);
        ds.SetSQL("SELECT *, count(*) OVER () AS cnt, i * 1.5 AS half, v || 'y' AS joined, b AS raw FROM t");
        ds.Open();
        CheckTypedRow(ds, {
            {"i", ftLargeint, Variant(1)},
            {"big", ftLargeint, Variant(static_cast<long long>(INT64_MAX))},
            {"small", ftLargeint, Variant(3000000000LL)},
            {"r", ftFloat, Variant(12025.666666666666)},
            {"n", ftBCD, Variant::FromScaledCurrency(125000)},
            {"wide", ftFMTBcd, Variant(9007199254740993LL)},
            {"cur", ftCurrency, Variant(), true},
            {"d", ftDate, Variant::FromDateTime(EncodeDate(1800, 1, 1))},
            {"dt", ftDateTime, Variant::FromDateTime(At(1800, 1, 1, 6, 0, 0, 250))},
            {"ux", ftDateTime, Variant::FromDateTime(At(2023, 11, 14, 22, 13, 20))},
            {"jd", ftDateTime, Variant::FromDateTime(At(2023, 2, 25))},
            {"tiny", ftDate, Variant::FromDateTime(EncodeDate(50, 3, 1))},
            {"v", ftMemo, Variant(std::string(300, 'x'))},
            {"txt", ftMemo, Variant("caf\xC3\xA9")},
            {"e", ftMemo, Variant("")},
            {"nul", ftMemo, Variant::Null()},
            {"b", ftBlob, Variant(std::string("\x00\xff\x00", 3))},
            {"cnt", ftLargeint, Variant(1)},
            {"half", ftFloat, Variant(1.5)},
            {"joined", ftMemo, Variant(std::string(300, 'x') + "y")},
            {"raw", ftBlob, Variant(std::string("\x00\xff\x00", 3))},
        });
        EXPECT_EQ(ds.FieldByName("wide")->AsString(), "9007199254740993");
    }
    DropConnection("typed");
}

TEST(SqlSourceValuesTest, PostgresValuesArriveExact)
{
    App();
    std::string why;
    if (!PostgresAvailable(&why))
        GTEST_SKIP() << why;
    {
        QSqlDatabase db = OpenPostgresDatabase("typed_pg");
        ExecSql(db, {"SET TIME ZONE 'UTC'",
                     "CREATE TABLE t (s serial, i int4, big int8, r float8, n18 numeric(18,4), n20 numeric(20,6), "
                     "nu numeric, m money, d date, bc date, ts timestamp, tstz timestamptz, tt timetz, t time, "
                     "inf timestamp, arr int[], j jsonb, v varchar, e text, nul text, b bytea)",
                     "INSERT INTO t (i, big, r, n18, n20, nu, m, d, bc, ts, tstz, tt, t, inf, arr, j, v, e, nul, b) "
                     "VALUES (-2147483648, -9223372036854775808, -1.7976931348623157e308, 99999999999999.9999, "
                     "12345678901234.567891, 123456789012345678901234.5, 1234.56, '0050-03-01', '0044-03-15 BC', "
                     "'1800-01-01 06:00:00.123456', '2024-01-31 12:30:00.5+00', '12:30:00+02', '23:59:59.999', "
                     "'infinity', '{1,2}', '{\"a\": 1}', 'caf\xC3\xA9', '', NULL, '\\x00ff00')"});
        TSQLDataSet ds;
        ds.SetDatabase(db);
        ds.SetSQL("SELECT *, n18 * 2 AS twice FROM t");
        ds.Open();
        const QDateTime local = QDateTime::fromSecsSinceEpoch(1706704200, Qt::LocalTime);
        const double stamp = At(local.date().year(), local.date().month(), local.date().day(), local.time().hour(),
                                local.time().minute(), local.time().second(), 500);
        CheckTypedRow(ds, {
            {"s", ftAutoInc, Variant(1)},
            {"i", ftInteger, Variant(-2147483648LL)},
            {"big", ftLargeint, Variant(static_cast<long long>(INT64_MIN))},
            {"r", ftFloat, Variant(-1.7976931348623157e308)},
            {"n18", ftBCD, Variant::FromScaledCurrency(999999999999999999LL)},
            {"n20", ftFMTBcd, Variant("12345678901234.567891")},
            {"nu", ftFMTBcd, Variant("123456789012345678901234.5")},
            {"m", ftCurrency, Variant::FromScaledCurrency(12345600)},
            {"d", ftDate, Variant::FromDateTime(EncodeDate(50, 3, 1))},
            {"bc", ftDate, Variant::FromDateTime(EncodeDate(-43, 3, 15))},
            {"ts", ftDateTime, Variant::FromDateTime(At(1800, 1, 1, 6, 0, 0) - 0.123456 / 86400)},
            {"tstz", ftDateTime, Variant::FromDateTime(stamp)},
            {"tt", ftTime, Variant::FromDateTime(At(1899, 12, 30, 12, 30))},
            {"t", ftTime, Variant::FromDateTime(At(1899, 12, 30, 23, 59, 59, 999))},
            {"inf", ftDateTime, Variant(), true},
            {"arr", ftMemo, Variant("{1,2}")},
            {"j", ftMemo, Variant("{\"a\": 1}")},
            {"v", ftMemo, Variant("caf\xC3\xA9")},
            {"e", ftMemo, Variant("")},
            {"nul", ftMemo, Variant::Null()},
            {"b", ftBlob, Variant(std::string("\x00\xff\x00", 3))},
            {"twice", ftFMTBcd, Variant("199999999999999.9998")},
        });
    }
    DropConnection("typed_pg");
}

// A database failure at any row fails the walk; it is never taken for the end.
TEST(SqlSourceValuesTest, AFailingRowFailsTheWalk)
{
    App();
    TempDir dir;
    {
        QSqlDatabase db = OpenSqliteDatabase(dir / "bad.db", "bad");
        ExecSql(db, {"CREATE TABLE t (id INTEGER, j TEXT)",
                     "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 1000) "
                     "INSERT INTO t SELECT x, CASE x WHEN 600 THEN '{broken' ELSE '{\"a\": 1}' END FROM n"});
        TSQLDataSet ds;
        ds.SetDatabase(db);
        ds.SetSQL("SELECT id, json_extract(j, '$.a') FROM t");
        ds.Open();
        int rows = 0;
        try {
            for (; !ds.Eof(); ds.Next())
                ++rows;
            ADD_FAILURE() << "the walk ended after " << rows << " rows";
        } catch (const Exception& e) {
            EXPECT_EQ(rows, 599);
            EXPECT_NE(e.Message().find("record 600"), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find("malformed JSON"), std::string::npos) << e.Message();
        }
    }
    DropConnection("bad");
}

// Other statements on the connection of a PostgreSQL walk leave the walk whole.
TEST(SqlSourceValuesTest, OtherStatementsOnTheConnectionLeaveTheWalkWhole)
{
    App();
    std::string why;
    if (!PostgresAvailable(&why))
        GTEST_SKIP() << why;
    {
        QSqlDatabase db = OpenPostgresDatabase("busy_pg");
        ExecSql(db, {"CREATE TABLE t AS SELECT g AS id FROM generate_series(1, 5000) g"});
        TSQLDataSet ds, lookup;
        ds.SetDatabase(db);
        ds.SetSQL("SELECT id FROM t ORDER BY id");
        ds.Open();
        EXPECT_EQ(ds.KnownRecordCount(), -1);
        long long sum = 0;
        int rows = 0;
        for (; !ds.Eof(); ds.Next()) {
            sum += ds.Fields(0)->AsInteger();
            if (++rows == 10) {
                QSqlQuery q(db);
                ASSERT_TRUE(q.exec("SELECT count(*) FROM t"));
                lookup.SetDatabase(db);
                lookup.SetSQL("SELECT id FROM t WHERE id < 3");
                lookup.Open();
            }
        }
        EXPECT_EQ(rows, 5000);
        EXPECT_EQ(sum, 5000LL * 5001 / 2);
        EXPECT_EQ(ds.KnownRecordCount(), 5000);
        lookup.Close();
    }
    DropConnection("busy_pg");
}

// A position bookmark of a statement without keys names its record, not its place.
TEST(SqlSourceValuesTest, APositionBookmarkNoticesAChangedRecord)
{
    App();
    TempDir dir;
    {
        QSqlDatabase db = OpenSqliteDatabase(dir / "pos.db", "pos");
        ExecSql(db, {"CREATE TABLE t (id INTEGER)",
                     "INSERT INTO t VALUES (1), (2), (3), (4), (5), (6), (7), (8), (9)"});
        TSQLDataSet ds;
        ds.SetDatabase(db);
        ds.SetSQL("SELECT id FROM t ORDER BY id");
        ds.Open();
        std::vector<Variant> values;
        TBookmark second, seventh;
        ds.GetRecordAt(1, values, second);
        ds.GetRecordAt(6, values, seventh);
        ds.GotoBookmark(seventh);
        EXPECT_EQ(ds.Fields(0)->AsInteger(), 7);
        ExecSql(db, {"DELETE FROM t WHERE id = 3"});
        ds.GotoBookmark(second);
        EXPECT_EQ(ds.Fields(0)->AsInteger(), 2);
        ds.GotoBookmark(seventh);
        EXPECT_THROW(ds.Fields(0)->AsInteger(), Exception);
    }
    DropConnection("pos");
}

} // namespace
