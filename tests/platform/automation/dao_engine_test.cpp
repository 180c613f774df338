// The native database engine: conversion of put values, and the object model's own
// refusals, on SQLite files.

#include "platform/automation/automation.h"
#include "platform/automation/dao/dao_types.h"
#include "framework/exceptions.h"
#include "framework/format_settings.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/common/temp_folder.h"

#include <cstdlib>
#include <fstream>

namespace {

// Swaps the process-wide format settings for one test.
struct SettingsScope {
    explicit SettingsScope(const TFormatSettings& S) : Saved(FormatSettings()) { FormatSettings() = S; }
    ~SettingsScope() { FormatSettings() = Saved; }
    TFormatSettings Saved;
};

TFormatSettings German()
{
    TFormatSettings s;
    s.DecimalSeparator = ",";
    s.ThousandSeparator = " ";
    s.DateSeparator = ".";
    s.ShortDateFormat = "dd.mm.yyyy";
    s.CurrencyString = "EUR";
    return s;
}

TEST(DaoConversion, TextsConvertUnderTheCurrentSettings)
{
    struct Case {
        DaoType Type;
        int Size;
        const char* Text;
        const char* Stored; // text of the stored value, or nullptr when refused
    };
    const Case cases[] = {
        {DaoType::Currency, 0, "1 234,50", "1234.5000"},
        {DaoType::Currency, 0, "-0,00005", "0.0000"}, // half to even at 4 decimals
        {DaoType::Currency, 0, "0,00015", "0.0002"},
        {DaoType::Currency, 0, "12,5 EUR", "12.5000"},
        {DaoType::Currency, 0, "922337203685477,5807", "922337203685477.5807"},
        {DaoType::Currency, 0, "922337203685477,5808", nullptr}, // overflow
        {DaoType::Currency, 0, "1.5", "1.5000"},
        {DaoType::Currency, 0, "1,5.5", nullptr},
        {DaoType::Date, 0, "03.05.2024", "2024-05-03 00:00:00"},
        {DaoType::Date, 0, "3.5.24 14:05", "2024-05-03 14:05:00"},
        {DaoType::Date, 0, "2024-05-03 01:02:03", "2024-05-03 01:02:03"},
        {DaoType::Date, 0, "2:30:15 PM", "1899-12-30 14:30:15"},
        {DaoType::Date, 0, "29.02.2023", nullptr},
        {DaoType::Date, 0, "05/03/2024", nullptr},
        {DaoType::Long, 0, "2 147 483 647", "2147483647"},
        {DaoType::Long, 0, "2147483648", nullptr},
        {DaoType::Long, 0, "2,5", "2"},
        {DaoType::Long, 0, "3,5", "4"},
        {DaoType::Integer, 0, "-32769", nullptr},
        {DaoType::BigInt, 0, "-9223372036854775808", "-9223372036854775808"},
        {DaoType::BigInt, 0, "0x10", nullptr},
        {DaoType::Double, 0, "1,5e3", "1500"},
        {DaoType::Double, 0, "nan", nullptr},
        {DaoType::Boolean, 0, "yes", "1"},
        {DaoType::Boolean, 0, "0", "0"},
        {DaoType::Boolean, 0, "maybe", nullptr},
        {DaoType::Guid, 0, "6f9619ff-8b86-d011-b42d-00c04fc964ff", "{6F9619FF-8B86-D011-B42D-00C04FC964FF}"},
        {DaoType::Guid, 0, "{6f9619ff}", nullptr},
        {DaoType::Text, 3, "äöü", "äöü"},
        {DaoType::Text, 3, "abcd", nullptr},
        {DaoType::Binary, 2, "abc", nullptr},
    };
    SettingsScope scope(German());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        DaoFieldDef field{"F", c.Type, c.Size, false, 0};
        if (!c.Stored) {
            EXPECT_THROW(ConvertDaoValue(field, "T", AutomationValue(c.Text)), Exception);
            continue;
        }
        const DaoValue v = ConvertDaoValue(field, "T", AutomationValue(c.Text));
        char amount[48];
        std::snprintf(amount, sizeof amount, "%.4f", v.Dbl); // an amount that goes as its double
        const std::string stored = v.Kind == DaoValue::Integer ? std::to_string(v.Int)
            : v.Kind == DaoValue::Real ? (c.Type == DaoType::Currency ? amount : FloatToStr(v.Dbl, TFormatSettings()))
                                       : v.Str;
        EXPECT_EQ(stored, c.Stored);
    }
}

TEST(DaoConversion, RefusalsNameTheFieldAndNullsFollowRequired)
{
    DaoFieldDef amount{"Amount", DaoType::Currency, 0, true, 0};
    try {
        ConvertDaoValue(amount, "Orders", AutomationValue("abc"));
        FAIL();
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("type conversion"), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("Orders.Amount"), std::string::npos) << e.Message();
    }
    EXPECT_THROW(ConvertDaoValue(amount, "Orders", AutomationValue::Null()), Exception);
    amount.Required = false;
    EXPECT_EQ(ConvertDaoValue(amount, "Orders", AutomationValue::Null()).Kind, DaoValue::Null);
    // Bytes keep NULs in binary fields.
    DaoFieldDef blob{"B", DaoType::LongBinary, 0, false, 0};
    EXPECT_EQ(ConvertDaoValue(blob, "T", AutomationValue::ByteArray(std::string("a\0b", 3))).Str, std::string("a\0b", 3));
    EXPECT_THROW(QuoteIdentifier(std::string("a\0b", 3)), Exception);
    EXPECT_EQ(QuoteIdentifier("a\"b"), "\"a\"\"b\"");
}

TEST(DaoEngine, RefusesWhatTheDatabaseEngineRefuses)
{
    TempDir folder;
    AutomationValue engine = CreateAutomationObject("DAO.DBEngine.36");
    const std::string file = folder / "t.mdb";
    EXPECT_THROW(engine.Call("OpenDatabase", {AutomationValue(file)}), Exception); // missing
    {
        std::ofstream(folder / "text.mdb") << "not a database at all, just some text that is long enough";
    }
    EXPECT_THROW(engine.Call("OpenDatabase", {AutomationValue(folder / "text.mdb")}), Exception);

    AutomationValue locale(";LANGID=0x0409;CP=1252;COUNTRY=0");
    AutomationValue db = engine.Call("CreateDatabase", {AutomationValue(file), ByRef(locale), 0});
    EXPECT_THROW(engine.Call("CreateDatabase", {AutomationValue(file), ByRef(locale), 0}), Exception); // exists
    try {
        db.Call("Frobnicate");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("Frobnicate"), std::string::npos);
    }
    AutomationValue table = db.Call("CreateTableDef", {AutomationValue("T"), 0, "", ""});
    EXPECT_THROW(db.Call("TableDefs").Call("Append", {table}), Exception); // no fields
    AutomationValue name("x");
    AutomationValue field = table.Call("CreateField", {ByRef(name), 4, 0});
    field.Put("Required", true);
    table.Call("Fields").Call("Append", {ByRef(field)});
    AutomationValue twin = table.Call("CreateField", {ByRef(name), 10, 5});
    EXPECT_THROW(table.Call("Fields").Call("Append", {ByRef(twin)}), Exception); // duplicate name
    EXPECT_THROW(table.Call("CreateField", {ByRef(name), 2, 0}), Exception);     // no such type
    db.Call("TableDefs").Call("Append", {table});

    AutomationValue rs = db.Call("OpenRecordset", {AutomationValue("t"), 1, 0, 2});
    AutomationValue k(0);
    EXPECT_THROW(rs.Get("Fields", {ByRef(k)}).Put("Value", "1"), Exception); // without AddNew
    rs.Call("AddNew");
    EXPECT_THROW(rs.Call("Update", {1, false}), Exception);                 // required field left null
    EXPECT_THROW(rs.Get("Fields", {AutomationValue(1)}), Exception);        // no such ordinal
    rs.Get("Fields", {ByRef(k)}).Put("Value", "7");
    rs.Call("Update", {1, false});
    rs.Call("Close");

    db.Call("Close");
    EXPECT_THROW(db.Call("TableDefs"), Exception); // closed

    // An AUTOINCREMENT table makes SQLite's own bookkeeping table: a system object.
    ASSERT_EQ(std::system(("sqlite3 '" + file + "' 'CREATE TABLE a (id INTEGER PRIMARY KEY AUTOINCREMENT)'").c_str()), 0);
    AutomationValue again = engine.Call("OpenDatabase", {AutomationValue(file)});
    AutomationValue tables = again.Call("TableDefs");
    ASSERT_EQ(tables.Call("Count").ToInteger(), 3);
    EXPECT_EQ(tables.Get("Item", {0}).Call("Attributes").ToInteger(), 0);
    EXPECT_EQ(tables.Get("Item", {0}).Call("Fields").Call("Count").ToInteger(), 1);
    EXPECT_EQ(tables.Get("Item", {2}).Call("Name").ToString(), "sqlite_sequence");
    EXPECT_EQ(tables.Get("Item", {2}).Call("Attributes").ToInteger(), static_cast<int>(0x80000002u));
    EXPECT_THROW(tables.Call("Delete", {AutomationValue("SQLITE_SEQUENCE")}), Exception);
    again.Call("Close");
}

TEST(DaoEngine, RowsHeldBackArriveWholeAndInOrder)
{
    // Inside a transaction rows are stored in batches on other threads: two recordsets
    // written in turn, a look at the tables between rows, a row too large to batch and a
    // commit without closing the recordsets lose nothing. Outside a transaction a row is
    // in the file when Update returns.
    TempDir folder;
    const std::string file = folder / "t.db";
    ASSERT_EQ(std::system(("sqlite3 '" + file + "' 'CREATE TABLE t (n INTEGER, s TEXT); CREATE TABLE u (n INTEGER, s TEXT)'").c_str()), 0);
    auto select = [&file](const std::string& Sql) {
        std::string out;
        if (FILE* p = popen(("sqlite3 '" + file + "' '" + Sql + "'").c_str(), "r")) {
            char line[256];
            while (fgets(line, sizeof line, p))
                out += line;
            pclose(p);
        }
        return out;
    };
    AutomationValue engine = CreateAutomationObject("DAO.DBEngine.36");
    AutomationValue db = engine.Call("OpenDatabase", {AutomationValue(file)});
    engine.Call("BeginTrans");
    AutomationValue t = db.Call("OpenRecordset", {AutomationValue("t"), 1, 0, 2});
    AutomationValue u = db.Call("OpenRecordset", {AutomationValue("u"), 1, 0, 2});
    auto add = [](AutomationValue& rs, int n, std::string s) {
        rs.Call("AddNew");
        rs.Get("Fields", {0}).Put("Value", n);
        rs.Get("Fields", {1}).Put("Value", std::move(s));
        rs.Call("Update", {1, false});
    };
    for (int i = 0; i < 5000; ++i) {
        add(t, i, i == 1000 ? std::string(3 << 20, 'x') : std::to_string(i));
        add(u, i, "u");
        if (i == 4500) {
            EXPECT_EQ(db.Call("TableDefs").Call("Count").ToInteger(), 2);
        }
    }
    engine.Call("CommitTrans");
    EXPECT_EQ(select("SELECT count(*), sum(n = rowid - 1), max(length(s)) FROM t UNION ALL "
                     "SELECT count(*), sum(n = rowid - 1), max(length(s)) FROM u"),
              "5000|5000|3145728\n5000|5000|1\n");
    add(u, 5000, "at once");
    EXPECT_EQ(select("SELECT s FROM u WHERE n = 5000"), "at once\n");
    db.Call("Close");
}

TEST(DaoEngine, CloseInsideATransactionRollsBack)
{
    TempDir folder;
    const std::string file = folder / "t.db";
    AutomationValue engine = CreateAutomationObject("DAO.DBEngine.35");
    AutomationValue locale(";LANGID=0x0409;CP=1252;COUNTRY=0");
    AutomationValue db = engine.Call("CreateDatabase", {AutomationValue(file), ByRef(locale), 0});
    engine.Call("BeginTrans");
    AutomationValue table = db.Call("CreateTableDef", {AutomationValue("T"), 0, "", ""});
    AutomationValue name("x");
    AutomationValue field = table.Call("CreateField", {ByRef(name), 10, 10});
    table.Call("Fields").Call("Append", {ByRef(field)});
    db.Call("TableDefs").Call("Append", {table});
    db.Call("Close");
    AutomationValue again = engine.Call("OpenDatabase", {AutomationValue(file)});
    EXPECT_EQ(again.Call("TableDefs").Call("Count").ToInteger(), 0);
}

} // namespace
