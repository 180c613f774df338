// Grids recognised by their published properties, and the engines of the two foreign
// kinds, on grid classes the suite does not know.

#include "engine/foreign_grid_engine.h"
#include "framework/exceptions.h"
#include "tests/common/qt_application.h"
#include "tests/support/foreign_grids.h"

#include <gtest/gtest.h>

namespace {

// Items that do not publish FieldName.
class TPlainItem : public TCollectionItem {
    Q_GADGET
    Q_PROPERTY(int Width MEMBER Width)
public:
    using TCollectionItem::TCollectionItem;
    int Width = 0;
};

class TPlainItems : public TCollection {
    Q_GADGET
public:
    TPlainItems() : TCollection([](TCollection* c) { return new TPlainItem(c); }) {}
    const QMetaObject* ItemClass() const override { return &TPlainItem::staticMetaObject; }
};

class TNoSourceGrid : public QWidget {
    Q_OBJECT
    Q_PROPERTY(TStringList* Selected READ SelectedPointer)
public:
    TStringList Selected;
    TStringList* SelectedPointer() { return &Selected; }
};

class TSourceObject : public QObject {
    Q_OBJECT
    Q_PROPERTY(TDataSource* DataSource MEMBER DataSource)
    Q_PROPERTY(TStringList* Selected READ SelectedPointer)
public:
    TDataSource* DataSource = nullptr;
    TStringList Selected;
    TStringList* SelectedPointer() { return &Selected; }
};

class TBothKindsGrid : public TForeignSelectGrid {
    Q_OBJECT
    Q_PROPERTY(TForeignFields* Fields READ FieldsPointer)
public:
    TForeignFields Fields;
    TForeignFields* FieldsPointer() { return &Fields; }
};

class TPlainColumnsGrid : public TForeignSelectGrid {
    Q_OBJECT
    Q_PROPERTY(TPlainItems* Columns READ ColumnsPointer)
public:
    TPlainItems Columns;
    TPlainItems* ColumnsPointer() { return &Columns; }
};

class TListColumnsGrid : public TForeignSelectGrid {
    Q_OBJECT
    Q_PROPERTY(TStringList* Columns READ ColumnsPointer)
    Q_PROPERTY(TForeignFields* Fields READ FieldsPointer)
public:
    TStringList Columns;
    TForeignFields Fields;
    TStringList* ColumnsPointer() { return &Columns; }
    TForeignFields* FieldsPointer() { return &Fields; }
};

class TFailingColumnsGrid : public TForeignSelectGrid {
    Q_OBJECT
    Q_PROPERTY(TPlainItems* Columns READ ColumnsPointer)
public:
    TPlainItems* ColumnsPointer() { throw Exception("cannot read the columns"); }
};

class ForeignGridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ds.AddField("A", ftInteger)->SetDisplayLabel("Label A");
        ds.AddField("B", ftString, 8)->SetVisible(false);
        ds.AddField("C", ftFloat);
        for (int i = 0; i < 5; ++i)
            ds.AppendRecord({i, "b", i / 2.0});
        source.SetDataSet(&ds);
        selectGrid.DataSource = &source;
        fieldsGrid.DataSource = &source;
        selectGrid.setObjectName("SelectGrid");
    }

    QApplication& app = EnsureQtApplication();
    TMemoryDataSet ds;
    TDataSource source;
    TForeignSelectGrid selectGrid;
    TForeignFieldsGrid fieldsGrid;
};

TEST_F(ForeignGridTest, RecognisesKindsInTheirOrder)
{
    TDBGrid plain;
    TBothKindsGrid both;
    TPlainColumnsGrid plainColumns;
    TListColumnsGrid listColumns;
    TFailingColumnsGrid failing;
    TNoSourceGrid noSource;
    TSourceObject notAControl;
    const struct {
        const char* What;
        QObject* Control;
        bool Result, WW, Adv;
    } cases[] = {
        {"no DataSource", &noSource, false, true, true},
        {"not a control", &notAControl, false, true, true},
        {"our data grid", &plain, true, false, false},
        {"Selected", &selectGrid, true, true, false},
        {"Fields", &fieldsGrid, true, false, true},
        {"Selected and Fields", &both, true, true, false},
        {"Columns without FieldName", &plainColumns, false, false, false},
        {"Columns not a collection", &listColumns, false, true, true},
        {"Columns failing", &failing, false, true, true},
    };
    for (const auto& c : cases) {
        bool ww = true, adv = true;
        EXPECT_EQ(PropIsDBGrid(c.Control, ww, adv), c.Result) << c.What;
        EXPECT_EQ(ww, c.WW) << c.What;
        EXPECT_EQ(adv, c.Adv) << c.What;
    }
    EXPECT_EQ(GetPropAsSelected(&selectGrid), &selectGrid.Selected);
    EXPECT_EQ(GetPropAsSelected(&notAControl), nullptr);
    EXPECT_EQ(GetPropAsColumns(&fieldsGrid), &fieldsGrid.Fields);
    EXPECT_EQ(GetPropAsColumns(&listColumns), nullptr);
    EXPECT_EQ(GetPropAsDataSet(&selectGrid), &ds);
    EXPECT_EQ(GetPropAsDataSet(&noSource), nullptr);
}

TEST_F(ForeignGridTest, SelectedListGivesTheColumns)
{
    TKVEwwDBGridDataEngine engine;
    engine.SetDBGrid(&selectGrid);
    selectGrid.GridFont.Name = "Courier New";
    selectGrid.TitleFont.Style = fsItalic;
    TKVEColumns columns(nullptr);
    engine.FillColumns(&columns, false);
    ASSERT_EQ(columns.Count(), 2);
    EXPECT_EQ(selectGrid.Selected.Count(), 2);
    EXPECT_EQ(columns[0]->FieldName, "A");
    EXPECT_EQ(columns[1]->FieldName, "C");
    EXPECT_EQ(columns[0]->Color, clYellow);
    EXPECT_EQ(columns[0]->Font().Name, "Courier New");
    EXPECT_TRUE(columns[0]->Title().Font().HasStyle(fsItalic));
    EXPECT_EQ(columns[0]->Title().Color, clSilver);
    EXPECT_EQ(columns[1]->DataType, ctString);
    EXPECT_EQ(columns[1]->Precision, 0);

    selectGrid.Selected.Clear();
    selectGrid.Selected.Add("a\t99\tOther title");
    selectGrid.Selected.Add("Missing\t7\tMissing title");
    selectGrid.Selected.Add("B");
    engine.FillColumns(&columns, true);
    ASSERT_EQ(columns.Count(), 3);
    EXPECT_EQ(columns[0]->FieldName, "");
    EXPECT_EQ(columns[1]->Width, 7);
    EXPECT_EQ(columns[1]->Title().Caption, "Missing title");
    const TKVEColumn* a = columns[2];
    EXPECT_EQ(a->FieldName, "a");
    EXPECT_EQ(a->Width, 11);
    EXPECT_EQ(a->Title().Caption, "Label A");
    EXPECT_EQ(a->Alignment, taRightJustify);
}

TEST_F(ForeignGridTest, FootersMakeTheLastRowPlain)
{
    TKVEwwDBGridDataEngine engine;
    engine.SetDBGrid(&selectGrid);
    engine.ExportFooters = true;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(engine.IsDataRow(i), i < 4) << i;
    EXPECT_EQ(engine.RecordCount(), 5);
    EXPECT_TRUE(engine.SelectedRecordIsSupported());
}

TEST_F(ForeignGridTest, FieldsCollectionGivesTheColumns)
{
    TKVEDBAdvStringGridDataEngine engine;
    engine.SetDBGrid(&fieldsGrid);
    int raised = 0;
    engine.OnFillColumns = [&](TPersistent*) { ++raised; };
    TKVEColumns columns(nullptr);
    engine.FillColumns(&columns, false);
    EXPECT_EQ(raised, 1);
    ASSERT_EQ(columns.Count(), 3);
    EXPECT_TRUE(columns[2]->Title().Font().HasStyle(fsBold));
    EXPECT_EQ(columns[2]->Title().Color, clSilver);

    TForeignField* c = fieldsGrid.Fields.Add();
    c->FieldName = "c";
    c->Title = "Title C";
    c->Visible = false;
    fieldsGrid.Fields.Add()->FieldName = "Unknown";
    engine.FillColumns(&columns, true);
    EXPECT_EQ(raised, 1);
    ASSERT_EQ(columns.Count(), 2);
    EXPECT_EQ(columns[0]->Width, 10);
    const TKVEColumn* col = columns[1];
    EXPECT_EQ(col->FieldName, "c");
    EXPECT_EQ(col->Width, 10);
    EXPECT_EQ(col->Alignment, taCenter);
    EXPECT_EQ(col->Color, clAqua);
    EXPECT_FALSE(col->Visible);
    EXPECT_EQ(col->Title().Caption, "Title C");
    EXPECT_EQ(col->DataType, ctString);
}

TEST_F(ForeignGridTest, WrongKindIsRefusedAndTheGridKept)
{
    TKVEwwDBGridDataEngine ww;
    ww.SetDBGrid(&selectGrid);
    fieldsGrid.setObjectName("FieldsGrid");
    try {
        ww.SetDBGrid(&fieldsGrid);
        FAIL() << "accepted a grid of the other kind";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Property FieldsGrid is not specified.");
    }
    EXPECT_EQ(ww.GetDBGrid(), &selectGrid);
    TKVEDBAdvStringGridDataEngine adv;
    EXPECT_THROW(adv.SetDBGrid(&selectGrid), Exception);
    EXPECT_EQ(adv.GetDBGrid(), nullptr);
}

TEST_F(ForeignGridTest, GridListNamesGridsOnFramesAfterTheFrame)
{
    QWidget form;
    form.setObjectName("Form1");
    auto* frame = new TFrame(&form);
    frame->setObjectName("Frame1");
    auto* inner = new TForeignFieldsGrid(frame);
    inner->setObjectName("Inner");
    auto* outer = new TDBGrid(&form);
    outer->setObjectName("Outer");
    (new QWidget(&form))->setObjectName("NotAGrid");
    TStringList list;
    FillGridList(&form, &list);
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"Frame1.Inner", "Outer"}));
}

} // namespace

#include "foreign_grid_engine_test.moc"
