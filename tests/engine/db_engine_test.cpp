// The dataset and data-grid engines over an in-memory dataset and our data grid.

#include "engine/db_grid_engine.h"
#include "framework/db_grid.h"
#include "framework/exceptions.h"
#include "tests/common/qt_application.h"

#include <gtest/gtest.h>

namespace {

class DBEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ds.AddField("Id", ftInteger, 0, true);
        ds.AddField("Price", ftFloat)->SetVisible(false);
        ds.AddField("Name", ftString, 12, false, true);
        for (int i = 1; i <= 5; ++i)
            ds.AppendRecord({i, i * 1.5, "row " + std::to_string(i)});
        ds.First();
        source.SetDataSet(&ds);
        grid.SetDataSource(&source);
    }
    // The names the engine's walk visits, between SavePosition and RestorePosition.
    std::vector<std::string> Walk(TKVECustomDataEngine& engine)
    {
        TKVEColumns columns(nullptr);
        TKVEColumn* name = columns.Add();
        name->FieldName = "NAME";
        std::vector<std::string> seen;
        engine.SavePosition();
        for (engine.First(); !engine.Eof(); engine.Next())
            seen.push_back(engine.GetFieldValue(name).AsString());
        engine.RestorePosition();
        return seen;
    }

    QApplication& app = EnsureQtApplication();
    TMemoryDataSet ds;
    TDataSource source;
    TDBGrid grid;
};

TEST_F(DBEngineTest, DatasetColumnsFollowTheFields)
{
    TKVEDatasetDataEngine engine;
    engine.SetDataset(&ds);
    std::vector<int> countAtEvent;
    engine.OnFillColumns = [&](TPersistent* sender) {
        auto* columns = static_cast<TKVEColumns*>(sender);
        countAtEvent.push_back(columns->Count());
        columns->Add()->FieldName = "Extra";
    };
    TKVEColumns columns(nullptr);
    columns.Add();
    engine.FillColumns(&columns, true);
    EXPECT_EQ(countAtEvent, std::vector<int>{0});
    ASSERT_EQ(columns.Count(), 4);
    EXPECT_EQ(columns[0]->FieldName, "Extra");
    const struct {
        const char* Name;
        bool Visible;
        int Precision;
        TCellType Type;
        TAlignment Align;
        int Width;
    } expected[] = {{"Name", true, 0, ctString, taLeftJustify, 12},
                    {"Price", false, 15, ctDouble, taRightJustify, 10},
                    {"Id", true, 0, ctInteger, taRightJustify, 11}};
    for (int i = 0; i < 3; ++i) {
        const TKVEColumn* c = columns[i + 1];
        EXPECT_EQ(c->FieldName, expected[i].Name);
        EXPECT_EQ(c->Visible, expected[i].Visible) << c->FieldName;
        EXPECT_EQ(c->Precision, expected[i].Precision) << c->FieldName;
        EXPECT_EQ(c->DataType, expected[i].Type) << c->FieldName;
        EXPECT_EQ(c->Alignment, expected[i].Align) << c->FieldName;
        EXPECT_EQ(c->Width, expected[i].Width) << c->FieldName;
        EXPECT_EQ(c->Color, clWhite);
        EXPECT_EQ(c->Title().Caption, expected[i].Name);
        EXPECT_EQ(c->Title().Color, clSilver);
        EXPECT_TRUE(c->Title().Font().HasStyle(fsBold));
        EXPECT_FALSE(c->Font().HasStyle(fsBold));
    }
}

TEST_F(DBEngineTest, ValuesAndFlagsByColumnIgnoreLetterCase)
{
    TKVEDatasetDataEngine engine;
    engine.SetDataset(&ds);
    TKVEColumns columns(nullptr);
    TKVEColumn* id = columns.Add();
    id->FieldName = "iD";
    TKVEColumn* name = columns.Add();
    name->FieldName = "name";
    TKVEColumn* missing = columns.Add();
    missing->FieldName = "Nope";
    EXPECT_EQ(engine.FindFieldByColumn(id), ds.Fields(0));
    EXPECT_EQ(engine.GetFieldValue(id), Variant(1));
    EXPECT_TRUE(engine.GetFieldValue(missing).IsNull());
    EXPECT_TRUE(engine.RequiredByColumn(id));
    EXPECT_FALSE(engine.RequiredByColumn(missing));
    EXPECT_TRUE(engine.ReadOnlyByColumn(name));
    EXPECT_EQ(engine.RecordCount(), 5);
    EXPECT_EQ(Walk(engine).size(), 5u);
}

TEST_F(DBEngineTest, EngineWithoutDatasetFailsClearly)
{
    TKVEDatasetDataEngine engine;
    TKVEColumns columns(nullptr);
    engine.FillColumns(&columns, false);
    EXPECT_EQ(columns.Count(), 0);
    EXPECT_THROW(engine.First(), Exception);
    EXPECT_THROW(engine.RecordCount(), Exception);
    TKVEDBGridDataEngine gridEngine;
    TDBGrid unbound;
    gridEngine.SetDBGrid(&unbound);
    EXPECT_THROW(gridEngine.SavePosition(), Exception);
}

TEST_F(DBEngineTest, DatasetGoneClearsTheReference)
{
    TKVEDatasetDataEngine engine;
    {
        TMemoryDataSet temporary;
        engine.SetDataset(&temporary);
    }
    EXPECT_EQ(engine.GetDataset(), nullptr);
    TKVEDBGridDataEngine gridEngine;
    {
        TDBGrid temporary;
        gridEngine.SetDBGrid(&temporary);
    }
    EXPECT_EQ(gridEngine.GetDBGrid(), nullptr);
}

TEST_F(DBEngineTest, SelectedRowsAreWalkedInSelectionOrderAndThePositionRestored)
{
    TKVEDBGridDataEngine engine;
    engine.SetDBGrid(&grid);
    engine.FSelectedRecord = true;
    EXPECT_TRUE(Walk(engine).empty());
    EXPECT_EQ(engine.RecordCount(), 0);

    for (int recNo : {4, 2}) {
        ds.First();
        while (ds.RecNo() != recNo)
            ds.Next();
        grid.SelectedRows().SetCurrentRowSelected(true);
    }
    ds.First();
    ds.Next(); // the record current before the export
    int firsts = 0;
    engine.OnFirst = [&](TPersistent*) { ++firsts; };
    EXPECT_EQ(engine.RecordCount(), 2);
    EXPECT_EQ(Walk(engine), (std::vector<std::string>{"row 4", "row 2"}));
    EXPECT_EQ(ds.RecNo(), 2);
    EXPECT_EQ(firsts, 0);

    engine.FSelectedRecord = false;
    EXPECT_EQ(Walk(engine).size(), 5u);
    EXPECT_EQ(firsts, 1);
}

TEST_F(DBEngineTest, GridColumnsGiveTheExportColumns)
{
    grid.Columns().Clear();
    TColumn* name = grid.Columns().Add();
    name->FieldName = "NAME";
    name->Color = clAqua;
    name->Font().Name = "Courier New";
    name->Title().SetCaption("The name");
    name->Title().Color = clYellow;
    name->Title().Alignment = taCenter;
    TColumn* unbound = grid.Columns().Add();
    unbound->FieldName = "Comment";
    TColumn* price = grid.Columns().Add();
    price->FieldName = "Price";
    price->SetVisible(false);

    TKVEDBGridDataEngine engine;
    engine.SetDBGrid(&grid);
    bool raised = false;
    engine.OnFillColumns = [&](TPersistent*) { raised = true; };
    TKVEColumns columns(nullptr);
    engine.FillColumns(&columns, true);
    EXPECT_FALSE(raised);
    ASSERT_EQ(columns.Count(), 3);
    const TKVEColumn* p = columns[0];
    EXPECT_EQ(p->FieldName, "Price");
    EXPECT_FALSE(p->Visible);
    EXPECT_EQ(p->Precision, 15);
    EXPECT_EQ(p->DataType, ctDouble);
    const TKVEColumn* u = columns[1];
    EXPECT_EQ(u->Width, 10);
    EXPECT_EQ(u->DataType, ctString);
    EXPECT_EQ(u->Title().Caption, "Comment");
    const TKVEColumn* n = columns[2];
    EXPECT_EQ(n->Width, 12);
    EXPECT_EQ(n->Color, clAqua);
    EXPECT_EQ(n->Font().Name, "Courier New");
    EXPECT_EQ(n->Title().Caption, "The name");
    EXPECT_EQ(n->Title().Color, clYellow);
    EXPECT_EQ(n->Title().Alignment, taCenter);
}

} // namespace
