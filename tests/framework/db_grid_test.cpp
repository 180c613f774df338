// The data grid: columns made from the fields, and the selected rows a person picks
// with the mouse, kept as bookmarks in the order they were picked.

#include "framework/db_grid.h"
#include "framework/exceptions.h"
#include "tests/common/qt_application.h"

#include <QMouseEvent>
#include <gtest/gtest.h>

namespace {

class DBGridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ds.AddField("Id", ftInteger);
        ds.AddField("Secret", ftString)->SetVisible(false);
        ds.AddField("Name", ftString)->SetDisplayLabel("Full name");
        for (int i = 0; i < 6; ++i)
            ds.AppendRecord({i, "s", "name " + std::to_string(i)});
        ds.First();
        source.SetDataSet(&ds);
        grid.SetDataSource(&source);
        grid.resize(400, 300);
        grid.show();
    }
    void Click(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        const QPoint at = grid.visualRect(grid.RowIndex(row)).center();
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent e(type, at, grid.viewport()->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, modifiers);
            QApplication::sendEvent(grid.viewport(), &e);
        }
    }
    // The Id of each selected row, in the list's order.
    std::vector<int> SelectedIds()
    {
        std::vector<int> ids;
        const TBookmark current = ds.GetBookmark();
        for (int i = 0; i < grid.SelectedRows().Count(); ++i) {
            ds.GotoBookmark(grid.SelectedRows()[i]);
            ids.push_back(static_cast<int>(ds.FieldByName("Id")->AsInteger()));
        }
        ds.GotoBookmark(current);
        return ids;
    }

    QApplication& app = EnsureQtApplication();
    TMemoryDataSet ds;
    TDataSource source;
    TDBGrid grid;
};

TEST_F(DBGridTest, DefaultColumnsFollowTheFieldsUntilTheHostSetsItsOwn)
{
    ASSERT_EQ(grid.Columns().Count(), 3);
    EXPECT_FALSE(grid.Columns()[1]->Visible());
    EXPECT_EQ(grid.model()->columnCount(), 2);
    EXPECT_EQ(grid.model()->rowCount(), 6);
    EXPECT_EQ(grid.model()->headerData(1, Qt::Horizontal).toString(), "Full name");
    EXPECT_EQ(grid.model()->index(2, 1).data().toString(), "name 2");

    grid.Columns().Clear();
    grid.Columns().Add()->FieldName = "name";
    EXPECT_EQ(grid.model()->columnCount(), 1);
    EXPECT_EQ(grid.model()->index(3, 0).data().toString(), "name 3");
    ds.AddField("More", ftInteger);
    EXPECT_EQ(grid.Columns().Count(), 1);
    grid.Columns().Clear();
    EXPECT_EQ(grid.Columns().Count(), 4);

    // A dataset destroyed while shown leaves an empty grid.
    {
        TMemoryDataSet temporary;
        temporary.AddField("X", ftInteger);
        temporary.AppendRecord({1});
        source.SetDataSet(&temporary);
        EXPECT_EQ(grid.model()->rowCount(), 1);
    }
    EXPECT_EQ(grid.DataSet(), nullptr);
    EXPECT_EQ(grid.model()->rowCount(), 0);
    EXPECT_EQ(grid.Columns().Count(), 0);
}

TEST_F(DBGridTest, MouseSelectionKeepsTheClickOrder)
{
    Click(1);
    Click(4, Qt::ControlModifier);
    Click(2, Qt::ControlModifier);
    EXPECT_EQ(SelectedIds(), (std::vector<int>{1, 4, 2}));
    Click(4, Qt::ControlModifier);
    EXPECT_EQ(SelectedIds(), (std::vector<int>{1, 2}));
    Click(0);
    EXPECT_EQ(SelectedIds(), std::vector<int>{0});

    ds.First();
    EXPECT_TRUE(grid.SelectedRows().CurrentRowSelected());
    ds.Next();
    grid.SelectedRows().SetCurrentRowSelected(true);
    EXPECT_EQ(SelectedIds(), (std::vector<int>{0, 1}));
    EXPECT_THROW(grid.SelectedRows()[2], EListError);

    // A walk with the controls off leaves the selection as it was; a change in the
    // number of records makes the rows something else and clears it.
    ds.DisableControls();
    for (ds.First(); !ds.Eof(); ds.Next()) {
    }
    ds.EnableControls();
    EXPECT_EQ(grid.SelectedRows().Count(), 2);
    ds.AppendRecord({6, "s", "name 6"});
    EXPECT_EQ(grid.SelectedRows().Count(), 0);
    grid.SelectedRows().Clear();
    EXPECT_TRUE(grid.selectionModel()->selectedRows().isEmpty());
}

} // namespace
