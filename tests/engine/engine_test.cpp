// Columns, cell types and the virtual engine's walk.

#include "engine/columns.h"
#include "engine/data_engine.h"
#include "framework/exceptions.h"

#include <gtest/gtest.h>

namespace {

TEST(ColumnTest, NewColumnDefaults)
{
    TKVEColumns columns(nullptr);
    TKVEColumn* c = columns.Add();
    EXPECT_TRUE(c->Visible);
    EXPECT_EQ(c->ColumnKind, ckField);
    EXPECT_EQ(c->Color, 16777215u);
    EXPECT_EQ(c->Width, 0);
    EXPECT_EQ(c->Precision, 0);
    EXPECT_EQ(c->DataType, ctString);
    EXPECT_EQ(c->Alignment, taLeftJustify);
    EXPECT_EQ(c->Title().Color, 12632256u);
    EXPECT_EQ(c->Title().Alignment, taLeftJustify);
    EXPECT_EQ(c->Title().Caption, "");
}

TEST(ColumnTest, AssignCopiesTitleAndFontsByValue)
{
    TKVEColumns columns(nullptr);
    TKVEColumn* src = columns.Add();
    src->FieldName = "Name";
    src->Width = 20;
    src->DataType = ctGraphic;
    src->ColumnKind = ckConstant;
    src->Font().Name = "Courier New";
    src->Title().Caption = "Caption";
    src->Title().Font().Style = fsBold;
    TKVEColumn* dst = columns.Add();
    dst->Assign(src);
    src->Font().Name = "Changed";
    src->Title().Font().Style = 0;
    src->Title().Caption = "Other";
    EXPECT_EQ(dst->FieldName, "Name");
    EXPECT_EQ(dst->Width, 20);
    EXPECT_EQ(dst->DataType, ctGraphic);
    EXPECT_EQ(dst->ColumnKind, ckConstant);
    EXPECT_EQ(dst->Font().Name, "Courier New");
    EXPECT_EQ(dst->Title().Caption, "Caption");
    EXPECT_EQ(dst->Title().Font().Style, fsBold);
    EXPECT_EQ(columns.UpdateCount(), 0);

    TKVEColumnTitle title;
    EXPECT_THROW(dst->Assign(&title), EConvertError);
    EXPECT_EQ(dst->FieldName, "Name");
    EXPECT_EQ(columns.UpdateCount(), 0);
}

TEST(ColumnTest, CollectionCopyIndexAndLookup)
{
    TKVEColumns columns(nullptr);
    columns.Add()->FieldName = "Graphic";
    columns.Add()->FieldName = "FileName";
    columns.Add()->FieldName = "FileName";
    EXPECT_EQ(columns.ColumnByFieldName("FileName"), 1);
    EXPECT_EQ(columns.ColumnByFieldName("filename"), -1);
    EXPECT_EQ(columns.ColumnByFieldName(""), -1);
    EXPECT_THROW(columns.GetColumn(3), EListError);
    EXPECT_THROW(columns.SetColumn(-1, *columns[0]), EListError);

    TKVEColumns copy(nullptr);
    copy.Assign(&columns);
    ASSERT_EQ(copy.Count(), 3);
    EXPECT_EQ(copy[0]->FieldName, "Graphic");
    EXPECT_NE(copy[0], columns[0]);
    copy.SetColumn(0, *columns[1]);
    EXPECT_EQ(copy[0]->FieldName, "FileName");
    TKVEColumns empty(nullptr);
    EXPECT_EQ(empty.ColumnByFieldName("x"), -1);
}

TEST(CellTypeTest, BlankTestWithBlankIfZero)
{
    EXPECT_EQ(GetValueType(ftInteger, Variant(5), true), ctString);
    EXPECT_EQ(GetValueType(ftInteger, Variant(0), true), ctBlank);
    EXPECT_EQ(GetValueType(ftInteger, Variant("0"), true), ctBlank);
    EXPECT_EQ(GetValueType(ftInteger, Variant::Null(), true), ctBlank);
    EXPECT_EQ(GetValueType(ftInteger, Variant(), true), ctBlank);
    EXPECT_EQ(GetValueType(ftInteger, Variant::Null(), false), ctInteger);
    EXPECT_EQ(GetValueType(ftFloat, Variant("0.00"), true), ctString);
    EXPECT_EQ(GetValueType(ftFloat, Variant(0.0), true), ctBlank);
    EXPECT_EQ(GetValueType(ftCurrency, Variant::FromCurrency(0), true), ctBlank);
    EXPECT_EQ(GetValueType(ftDateTime, Variant::FromDateTime(0), true), ctBlank);
    EXPECT_EQ(GetValueType(ftDateTime, Variant::FromDateTime(2.5), true), ctString);
    EXPECT_EQ(GetValueType(ftDate, Variant(" 0"), true), ctString);
    EXPECT_EQ(GetValueType(ftMemo, Variant::Null(), true), ctMEMO);
    EXPECT_EQ(GetValueType(ftGraphic, Variant::Null(), true), ctGraphic);
    for (TFieldType t : {ftBoolean, ftTimeStamp}) {
        for (bool blank : {false, true}) {
            EXPECT_EQ(GetValueType(t, Variant(0), blank), ctString);
            EXPECT_EQ(GetValueType(t, Variant::Null(), blank), ctString);
        }
    }
    EXPECT_EQ(GetValueType(static_cast<TFieldType>(200), Variant(0), true), ctString);
}

TEST(CellTypeTest, CaseTableWithoutBlankIfZero)
{
    EXPECT_EQ(GetValueType(ftSmallint, Variant(1), false), ctInteger);
    EXPECT_EQ(GetValueType(ftLargeint, Variant(1), false), ctInteger);
    EXPECT_EQ(GetValueType(ftFMTBcd, Variant(1), false), ctDouble);
    EXPECT_EQ(GetValueType(ftBCD, Variant(1), false), ctDouble);
    EXPECT_EQ(GetValueType(ftCurrency, Variant(1), false), ctCurrency);
    EXPECT_EQ(GetValueType(ftDate, Variant(1), false), ctDate);
    EXPECT_EQ(GetValueType(ftTime, Variant(1), false), ctTime);
    EXPECT_EQ(GetValueType(ftTypedBinary, Variant(1), false), ctMEMO);
    EXPECT_EQ(GetValueType(ftWideString, Variant(1), false), ctString);
    EXPECT_EQ(GetValueType(ftUnknown, Variant(1), false), ctString);
}

TEST(CellTypeTest, RoundTripThroughFieldTypes)
{
    for (int t = ctBlank; t <= ctGraphic; ++t) {
        auto cell = static_cast<TCellType>(t);
        TCellType back = GetValueType(CellType2FieldType(cell), Variant(1), false);
        EXPECT_EQ(back, cell == ctBlank ? ctString : cell) << t;
    }
    EXPECT_EQ(CellType2FieldType(ctBlank), ftString);
    EXPECT_EQ(CellType2FieldType(static_cast<TCellType>(99)), ftString);
}

struct WalkLog {
    int counts = 0, firsts = 0, nexts = 0, before = 0, after = 0;
};

TEST(VirtualEngineTest, WalkAsksTheCountAtEveryEndTest)
{
    TKVEVirtualDataEngine engine;
    WalkLog log;
    engine.OnCount = [&](TPersistent* sender, int& count) {
        EXPECT_EQ(sender, &engine);
        ++log.counts;
        count = 3;
    };
    engine.OnFirst = [&](TPersistent*) { ++log.firsts; };
    engine.OnNext = [&](TPersistent*, bool& abort) {
        ++log.nexts;
        abort = true; // kept, but the walk goes on
    };
    std::vector<int> rows;
    int row = 0;
    engine.OnGetValue = [&](TPersistent*, TKVEColumn*, Variant& value) { value = Variant(row); };
    engine.First();
    int read = 0;
    while (!engine.Eof()) {
        rows.push_back(static_cast<int>(engine.GetFieldValue(nullptr).AsInteger()));
        ++row;
        engine.Next();
        ++read;
        ASSERT_LT(read, 10);
    }
    EXPECT_EQ(read, 3);
    EXPECT_EQ(log.firsts, 1);
    EXPECT_EQ(log.nexts, 3);
    EXPECT_GE(log.counts, 4);
    EXPECT_EQ(rows, (std::vector<int>{0, 1, 2}));
}

TEST(VirtualEngineTest, NoHandlersAtAll)
{
    TKVEVirtualDataEngine engine;
    EXPECT_EQ(engine.RecordCount(), 0);
    engine.First();
    EXPECT_TRUE(engine.Eof());
    EXPECT_TRUE(engine.GetFieldValue(nullptr).IsNull());
    engine.SavePosition();
    engine.RestorePosition();
    TKVEColumns columns(nullptr);
    columns.Add();
    engine.FillColumns(&columns, false);
    EXPECT_EQ(columns.Count(), 0);
    EXPECT_FALSE(engine.SelectedRecordIsSupported());
    EXPECT_EQ(engine.FindFieldByColumn(nullptr), nullptr);
}

TEST(VirtualEngineTest, CountChangedDuringTheWalkAndIgnoredColumns)
{
    TKVEVirtualDataEngine engine;
    int total = 2;
    engine.OnCount = [&](TPersistent*, int& count) { count = total; };
    engine.OnNext = [&](TPersistent*, bool&) { total = 4; };
    TKVEColumns columns(nullptr);
    TKVEColumn* known = columns.Add();
    known->FieldName = "A";
    TKVEColumn* other = columns.Add();
    other->FieldName = "B";
    engine.OnGetValue = [&](TPersistent*, TKVEColumn* column, Variant& value) {
        if (column->FieldName == "A")
            value = Variant("a");
    };
    engine.First();
    int read = 0;
    while (!engine.Eof()) {
        EXPECT_EQ(engine.GetFieldValue(known).AsString(), "a");
        EXPECT_TRUE(engine.GetFieldValue(other).IsNull());
        engine.Next();
        ++read;
    }
    EXPECT_EQ(read, 4);
}

TEST(VirtualEngineTest, FillColumnsEventGetsTheClearedCollection)
{
    TKVEVirtualDataEngine engine;
    TKVEColumns columns(nullptr);
    columns.Add()->FieldName = "old";
    TPersistent* seen = nullptr;
    int countSeen = -1;
    engine.OnFillColumns = [&](TPersistent* sender) {
        seen = sender;
        countSeen = static_cast<TKVEColumns*>(sender)->Count();
        static_cast<TKVEColumns*>(sender)->Add()->FieldName = "new";
    };
    int before = 0, after = 0;
    engine.OnBeforeExecute = [&](TPersistent*) { ++before; };
    engine.OnAfterExecute = [&](TPersistent*) { ++after; };
    engine.FillColumns(&columns, true);
    EXPECT_EQ(seen, &columns);
    EXPECT_EQ(countSeen, 0);
    ASSERT_EQ(columns.Count(), 1);
    EXPECT_EQ(columns[0]->FieldName, "new");
    EXPECT_EQ(before + after, 0);
    engine.SavePosition();
    engine.RestorePosition();
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);

    TKVEColumn* graphic = columns.Add();
    graphic->DataType = ctGraphic;
    EXPECT_EQ(engine.DataTypeByColumn(graphic), ftGraphic);
    graphic->DataType = ctBlank;
    EXPECT_EQ(engine.DataTypeByColumn(graphic), ftString);
}

} // namespace
