#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/format_settings.h"

#include <QVariant>
#include <gtest/gtest.h>

namespace {

// Fixed separators for the duration of a test, restored afterwards.
class DataSetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSaved = FormatSettings();
        TFormatSettings& fs = FormatSettings();
        fs.DecimalSeparator = ".";
        fs.ThousandSeparator = ",";
        fs.DateSeparator = "/";
        fs.TimeSeparator = ":";
        fs.CurrencyString = "$";
        fs.ShortDateFormat = "M/d/yyyy";
        fs.LongTimeFormat = "h:nn:ss";
        fs.CurrencyDecimals = 2;
    }
    void TearDown() override { FormatSettings() = FSaved; }

    // Three records: (1, "one"), (2, "two"), (3, "three").
    void FillNumbers(TMemoryDataSet& ds)
    {
        ds.AddField("ID", ftInteger);
        ds.AddField("Name", ftString, 10);
        ds.AppendRecord({1, "one"});
        ds.AppendRecord({2, "two"});
        ds.AppendRecord({3, "three"});
    }

    std::vector<long long> WalkIds(TDataSet& ds)
    {
        std::vector<long long> ids;
        for (ds.First(); !ds.Eof(); ds.Next())
            ids.push_back(ds.Fields(0)->AsInteger());
        return ids;
    }

private:
    TFormatSettings FSaved;
};

TEST_F(DataSetTest, WalkForwardAndBackwardWithBofEofFlags)
{
    TMemoryDataSet ds;
    FillNumbers(ds);
    EXPECT_EQ(ds.RecordCount(), 3);
    EXPECT_EQ(WalkIds(ds), (std::vector<long long>{1, 2, 3}));
    // Next on the last record sets Eof and stays there.
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.RecNo(), 3);
    EXPECT_EQ(ds.FieldByName("name")->AsString(), "three");

    ds.First();
    EXPECT_TRUE(ds.Bof());
    EXPECT_FALSE(ds.Eof());
    ds.Prior();
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(ds.RecNo(), 1);

    ds.Last();
    EXPECT_TRUE(ds.Eof());
    std::vector<long long> back;
    for (; !ds.Bof(); ds.Prior())
        back.push_back(ds.Fields(0)->AsInteger());
    EXPECT_EQ(back, (std::vector<long long>{3, 2, 1}));
}

TEST_F(DataSetTest, EmptyAndClosedDatasets)
{
    TMemoryDataSet ds;
    ds.AddField("A", ftInteger);
    ds.First();
    EXPECT_TRUE(ds.Eof());
    EXPECT_TRUE(ds.Bof());
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_TRUE(ds.Fields(0)->IsNull());
    EXPECT_TRUE(ds.GetBookmark().empty());
    EXPECT_NO_THROW(ds.GotoBookmark(TBookmark())); // an empty bookmark moves nowhere
    EXPECT_THROW(ds.Delete(), Exception);
    EXPECT_THROW(ds.Fields(0)->SetValue(1), Exception);

    ds.AppendRecord({7});
    ds.Close();
    EXPECT_FALSE(ds.Active());
    EXPECT_TRUE(ds.Eof());
    EXPECT_THROW(ds.First(), Exception);
    EXPECT_THROW(ds.RecordCount(), Exception);
    EXPECT_THROW(ds.Fields(0)->Value(), Exception);
    EXPECT_THROW(ds.GetBookmark(), Exception);
    // Records survive closing; reopening puts the cursor on the first record.
    ds.Open();
    EXPECT_EQ(ds.RecordCount(), 1);
    EXPECT_EQ(ds.Fields(0)->AsInteger(), 7);
}

TEST_F(DataSetTest, BookmarksReturnToTheSameRecordAndDetectDeletedOnes)
{
    TMemoryDataSet ds;
    FillNumbers(ds);
    ds.First();
    ds.Next();
    const TBookmark second = ds.GetBookmark();
    ds.Next();
    const TBookmark third = ds.GetBookmark();
    EXPECT_NE(second, third);

    ds.First();
    EXPECT_TRUE(ds.BookmarkValid(second));
    ds.GotoBookmark(second);
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
    EXPECT_FALSE(ds.Eof());
    EXPECT_FALSE(ds.Bof());

    // Deleting the second record leaves the third one's bookmark pointing at it.
    ds.Delete();
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 3);
    EXPECT_FALSE(ds.BookmarkValid(second));
    EXPECT_THROW(ds.GotoBookmark(second), Exception);
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 3); // a failed move moves nothing
    ds.First();
    ds.GotoBookmark(third);
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 3);
    EXPECT_EQ(ds.RecNo(), 2);

    EXPECT_FALSE(ds.BookmarkValid("garbage"));
    EXPECT_THROW(ds.GotoBookmark("garbage"), Exception);

    // Deleting the last record leaves the cursor on the new last one, at the end.
    ds.Last();
    ds.Delete();
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 1);
    EXPECT_TRUE(ds.Eof());
}

TEST_F(DataSetTest, NullValuesAndTheirConversions)
{
    TMemoryDataSet ds;
    ds.AddField("S", ftString);
    ds.AddField("I", ftInteger);
    ds.AddField("F", ftFloat);
    ds.AddField("D", ftDateTime);
    ds.AddField("B", ftBoolean);
    ds.AddField("M", ftMemo);
    ds.AppendRecord({Variant::Null(), Variant::Null(), Variant(), Variant::Null()}); // B, M missing: null
    for (int i = 0; i < ds.FieldCount(); ++i) {
        TField* f = ds.Fields(i);
        SCOPED_TRACE(f->FieldName());
        EXPECT_TRUE(f->IsNull());
        EXPECT_TRUE(f->Value().IsNull()); // unassigned is stored as null
        EXPECT_EQ(f->AsString(), "");
        EXPECT_EQ(f->DisplayText(), "");
        EXPECT_EQ(f->AsFloat(), 0.0);
        EXPECT_FALSE(f->AsBoolean());
    }
    // A required field refuses a null and the record is not appended.
    TMemoryDataSet req;
    req.AddField("K", ftInteger, 0, /*Required=*/true);
    req.AddField("V", ftString);
    try {
        req.AppendRecord({Variant::Null(), "x"});
        FAIL() << "a null in a required field was accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Field 'K' must have a value");
    }
    EXPECT_EQ(req.RecordCount(), 0);
}

TEST_F(DataSetTest, TextWithNulBytesIsKeptWhole)
{
    const std::string picture("BM\0\0\x01\x02\0tail", 10);
    const std::string text("a\0b", 3);
    TMemoryDataSet ds;
    ds.AddField("Pic", ftGraphic);
    ds.AddField("Txt", ftString, 2); // the declared size does not cut the value
    ds.AppendRecord({picture, text});
    EXPECT_EQ(ds.Fields(0)->AsString(), picture);
    EXPECT_EQ(ds.Fields(0)->AsString().size(), 10u);
    EXPECT_EQ(ds.Fields(0)->DisplayText(), picture);
    EXPECT_EQ(ds.Fields(1)->AsString(), text);

    ds.Fields(1)->SetValue(std::string("x\0\0y", 4));
    EXPECT_EQ(ds.Fields(1)->Value().StringRef(), std::string("x\0\0y", 4));
}

TEST_F(DataSetTest, FieldLookupIgnoresLetterCase)
{
    TMemoryDataSet ds;
    ds.AddField("CustName", ftString);
    EXPECT_EQ(ds.FindField("custname"), ds.Fields(0));
    EXPECT_EQ(ds.FindField("CUSTNAME"), ds.Fields(0));
    EXPECT_EQ(ds.FieldByName("cUsTnAmE"), ds.Fields(0));
    EXPECT_EQ(ds.FindField("CustName "), nullptr);
    EXPECT_EQ(ds.FindField(""), nullptr);
    try {
        ds.FieldByName("Missing");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Field 'Missing' not found");
    }
    EXPECT_THROW(ds.AddField("CUSTNAME", ftInteger), Exception); // duplicates differ only in case
    EXPECT_THROW(ds.AddField("", ftInteger), Exception);
    EXPECT_THROW(ds.Fields(1), EListError);
    EXPECT_THROW(ds.Fields(-1), EListError);
    EXPECT_EQ(ds.FieldCount(), 1);
}

TEST_F(DataSetTest, ValuesAreConvertedToTheFieldTypeOrRefused)
{
    TMemoryDataSet ds;
    ds.AddField("I", ftInteger);
    ds.AddField("W", ftWord);
    ds.AddField("B", ftBoolean);
    ds.AddField("D", ftDate);
    ds.AddField("S", ftString);
    ds.AppendRecord({"12", 7, Variant(1), Variant::FromDateTime(45000.75), 3.5});
    EXPECT_EQ(ds.Fields(0)->Value().VarType(), varInteger);
    EXPECT_EQ(ds.Fields(0)->AsInteger(), 12);
    EXPECT_TRUE(ds.Fields(2)->AsBoolean());
    EXPECT_EQ(ds.Fields(2)->AsString(), "True");
    EXPECT_EQ(ds.Fields(3)->AsDateTime(), 45000.0); // a date field keeps the date only
    EXPECT_EQ(ds.Fields(4)->AsString(), "3.5");

    EXPECT_THROW(ds.AppendRecord({"abc"}), EConvertError);
    EXPECT_THROW(ds.AppendRecord({1, 70000}), EConvertError); // out of a word's range
    EXPECT_THROW(ds.AppendRecord({1, 2, true, 0.0, "x", "too many"}), Exception);
    EXPECT_EQ(ds.RecordCount(), 1);

    TField* ro = ds.AddField("RO", ftInteger, 0, false, /*ReadOnly=*/true);
    EXPECT_THROW(ro->SetValue(5), Exception);
    EXPECT_TRUE(ro->IsNull()); // the new field is null in the existing record
}

TEST_F(DataSetTest, PlainAndDisplayTextByFieldType)
{
    TMemoryDataSet ds;
    TField* f = ds.AddField("F", ftFloat);
    TField* c = ds.AddField("C", ftCurrency);
    TField* d = ds.AddField("D", ftDate);
    TField* t = ds.AddField("T", ftTime);
    TField* dt = ds.AddField("DT", ftDateTime);
    TField* b = ds.AddField("B", ftBoolean);
    TField* i = ds.AddField("I", ftInteger);
    const double when = EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9);
    ds.AppendRecord({1234.5, 1234.5, when, when, when, false, -1234567});

    EXPECT_EQ(f->AsString(), "1234.5");
    EXPECT_EQ(f->DisplayText(), "1234.5");
    EXPECT_EQ(c->AsString(), "1234.5");       // the plain value has no currency string
    EXPECT_EQ(c->DisplayText(), "1,234.50 $"); // the display carries it
    EXPECT_EQ(d->AsString(), "3/5/2024");
    EXPECT_EQ(t->AsString(), "14:07:09");
    EXPECT_EQ(dt->AsString(), "3/5/2024 14:07:09");
    EXPECT_EQ(b->AsString(), "False");
    EXPECT_EQ(b->DisplayText(), "False");
    EXPECT_EQ(i->DisplayText(), "-1234567");

    f->SetDisplayFormat("#,##0.00");
    c->SetDisplayFormat("0.0");
    d->SetDisplayFormat("yyyy-mm-dd");
    dt->SetDisplayFormat("dd.mm.yy hh:nn");
    i->SetDisplayFormat("#,##0");
    EXPECT_EQ(f->DisplayText(), "1,234.50");
    EXPECT_EQ(f->AsString(), "1234.5"); // the display format never touches the plain value
    EXPECT_EQ(c->DisplayText(), "1234.5");
    EXPECT_EQ(d->DisplayText(), "2024-03-05");
    EXPECT_EQ(dt->DisplayText(), "05.03.24 14:07");
    EXPECT_EQ(i->DisplayText(), "-1,234,567");

    FormatSettings().DecimalSeparator = ",";
    FormatSettings().ThousandSeparator = ".";
    EXPECT_EQ(f->DisplayText(), "1.234,50");
}

TEST(FormatFloatTest, PatternsSectionsRoundingAndExponents)
{
    TFormatSettings saved = FormatSettings();
    FormatSettings().DecimalSeparator = ".";
    FormatSettings().ThousandSeparator = ",";
    struct Case {
        const char* Pattern;
        double Value;
        const char* Expected;
    } cases[] = {
        {"0.00", 1, "1.00"},
        {"0.00", 2.675, "2.68"}, // halves round away from zero on the decimal value
        {"0.00", -2.675, "-2.68"},
        {"0.##", 1, "1"},
        {"0.##", 1.5, "1.5"},
        {"#.##", 0.25, ".25"},
        {"#", 0, ""},
        {"000", 7, "007"},
        {"0", 999.5, "1000"},
        {"#,##0", 1234567.89, "1,234,568"},
        {"#,##0.00", 999.999, "1,000.00"},
        {"0.00", -0.001, "0.00"}, // no minus on a value that shows as zero
        {"0.0;(0.0)", -3.25, "(3.3)"},
        {"0.0;(0.0);'zero'", 0, "zero"},
        {"0.00E+00", 12345, "1.23E+04"},
        {"0.0E-0", 0.00123, "1.2E-3"},
        {"0.0E-0", 1230, "1.2E3"},
        {"'No. '0", 5, "No. 5"},
        {"0 \"pcs\"", 12, "12 pcs"},
        {"", 1.5, "1.5"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatFloat(c.Pattern, c.Value), c.Expected) << c.Pattern << " / " << c.Value;
    FormatSettings() = saved;
}

TEST_F(DataSetTest, FieldDescriptionDefaults)
{
    TMemoryDataSet ds;
    TField* s = ds.AddField("S", ftString);
    TField* f = ds.AddField("F", ftFloat);
    TField* n = ds.AddField("N", ftInteger);
    TField* g = ds.AddField("G", ftGraphic);
    TField* m = ds.AddField("M", ftMemo);
    TField* ob = ds.AddField("OB", ftOraBlob);
    EXPECT_EQ(s->Size(), 20);
    EXPECT_EQ(s->DisplayWidth(), 20);
    EXPECT_EQ(s->DisplayLabel(), "S");
    s->SetDisplayLabel("Customer");
    EXPECT_EQ(s->DisplayLabel(), "Customer");
    EXPECT_EQ(f->Precision(), 15);
    EXPECT_EQ(n->Precision(), 0);
    EXPECT_EQ(n->Alignment(), taRightJustify);
    EXPECT_EQ(s->Alignment(), taLeftJustify);
    EXPECT_TRUE(f->IsFloatField());
    EXPECT_FALSE(n->IsFloatField());
    EXPECT_TRUE(g->IsBlob());
    EXPECT_EQ(g->BlobType(), ftGraphic);
    EXPECT_TRUE(m->IsBlob());
    EXPECT_EQ(m->BlobType(), ftMemo);
    EXPECT_TRUE(ob->IsBlob());
    EXPECT_FALSE(s->IsBlob());
    EXPECT_EQ(s->BlobType(), ftUnknown);
    EXPECT_TRUE(s->Visible());
    EXPECT_EQ(g->Index(), 3);
    EXPECT_EQ(g->DataSet(), &ds);
    int blobTypes = 0;
    for (int t = 0; t < FieldTypeCount; ++t)
        blobTypes += IsBlobFieldType(static_cast<TFieldType>(t));
    EXPECT_EQ(blobTypes, 9);
}

TEST_F(DataSetTest, ControlsSuspensionIsCountedAndDefersChangeSignals)
{
    TMemoryDataSet ds;
    ds.AddField("A", ftInteger);
    int changes = 0, moves = 0;
    QObject::connect(&ds, &TDataSet::DataSetChanged, [&] { ++changes; });
    QObject::connect(&ds, &TDataSet::RecordMoved, [&] { ++moves; });

    ds.DisableControls();
    ds.DisableControls();
    EXPECT_TRUE(ds.ControlsDisabled());
    ds.AppendRecord({1});
    ds.AppendRecord({2});
    ds.First();
    ds.Next();
    ds.EnableControls();
    EXPECT_TRUE(ds.ControlsDisabled());
    EXPECT_EQ(changes + moves, 0);
    ds.EnableControls();
    EXPECT_FALSE(ds.ControlsDisabled());
    EXPECT_EQ(changes, 1); // one notice for everything that happened meanwhile
    EXPECT_EQ(moves, 0);
    ds.EnableControls(); // an extra call does not go below zero
    ds.DisableControls();
    EXPECT_TRUE(ds.ControlsDisabled());
    ds.EnableControls();
    ds.Prior();
    EXPECT_EQ(moves, 1);
}

TEST_F(DataSetTest, TableNameIsAQtProperty)
{
    TMemoryDataSet ds;
    ds.SetTableName("sales");
    EXPECT_EQ(ds.property("TableName").toString(), QString("sales"));
    EXPECT_TRUE(ds.setProperty("TableName", QString("orders")));
    EXPECT_EQ(ds.TableName(), "orders");
    EXPECT_FALSE(ds.property("SQL").isValid());
}

} // namespace
