// Exports whose rows come from datasets and grids: SQLite and PostgreSQL tables through
// the word exporter read back by LibreOffice, rows picked with the mouse in our grid,
// and the run's choice of engine for each kind of grid.

#include "cellfile/cell_file_exporter.h"
#include "engine/foreign_grid_engine.h"
#include "framework/db_grid.h"
#include "framework/exceptions.h"
#include "framework/sql_data_set.h"
#include "framework/streams.h"
#include "framework/ui_services.h"
#include "office/word_exporter.h"
#include "tests/common/qt_application.h"
#include "tests/common/temp_folder.h"
#include "tests/support/foreign_grids.h"
#include "tests/support/libreoffice_reader.h"
#include "tests/support/test_databases.h"

#include <QMouseEvent>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

// Writes every cell's text followed by "|", one line per row.
class TLineExporter : public TKVExportToCellFile {
public:
    using TKVExportToCellFile::TKVExportToCellFile;
    TMemoryStream Out;
    std::string Engine; // the class of the engine the run read
    void Prepare() override
    {
        Engine = SourceEngine()->metaObject()->className();
        SaveToStream(&Out);
    }
    void WriteData(TField*, TCellType, int, int, const std::string& Text, TAlignment, TFont*, TColor) override
    {
        WriteString(Text + "|");
    }
    void WriteRowEnd(bool) override { WriteString("\n"); }
};

class DatasetExportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui.ForceHasGui = 0;
        for (TKVExportBaseComponent* e : {static_cast<TKVExportBaseComponent*>(&word), static_cast<TKVExportBaseComponent*>(&lines)}) {
            e->AnimatedStatus = false;
            e->Options.Exclude(soShowMessage);
        }
    }

    QApplication& app = EnsureQtApplication();
    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    TempDir dir;
    TKVExportToWord word;
    TLineExporter lines;
};

TEST_F(DatasetExportTest, SqlTablesThroughTheWordExporter)
{
    if (!LibreOfficeAvailable())
        GTEST_SKIP() << "LibreOffice is not installed";
    for (const char* kind : {"sqlite", "postgres"}) {
        SCOPED_TRACE(kind);
        const bool pg = std::string(kind) == "postgres";
        std::string why;
        if (pg && !PostgresAvailable(&why)) {
            ADD_FAILURE() << why;
            continue;
        }
        const QString connection = QString("export_") + kind;
        {
            QSqlDatabase db = pg ? OpenPostgresDatabase(connection) : OpenSqliteDatabase(dir / "t.db", connection);
            ExecSql(db, {"CREATE TABLE staff (id INTEGER PRIMARY KEY, name VARCHAR(20), salary NUMERIC(10,2), "
                         "hired DATE)",
                         "INSERT INTO staff VALUES (1, 'Ann', 1234.5, '2024-01-31')",
                         "INSERT INTO staff VALUES (2, 'Bob', NULL, NULL)"});
            TSQLDataSet ds;
            ds.SetDatabase(db);
            ds.SetTableName("staff");
            ds.Open();
            word.DataFormats().DecimalSeparator = ".";
            word.ColumnSource = csDataSet;
            word.SetDataSet(&ds);
            word.AddTitle = true;
            word.SetFileName(dir / (std::string(kind) + ".docx"));
            word.Execute();
            ASSERT_EQ(word.Statistic().Result, erCompleted);
            EXPECT_EQ(word.Columns().Count(), 0);
        }
        DropConnection(connection);
        const LoDocument doc = ReadWithLibreOffice(dir / (std::string(kind) + ".docx"));
        ASSERT_EQ(doc.Tables.size(), 1u);
        const LoTable& t = doc.Tables[0];
        ASSERT_GE(t.Rows.size(), 3u);
        EXPECT_EQ(t.Cell(0, 1), "name");
        EXPECT_EQ(t.Cell(1, 0), "1");
        EXPECT_EQ(t.Cell(1, 1), "Ann");
        EXPECT_EQ(t.Cell(1, 2), "1234.5");
        EXPECT_NE(t.Cell(1, 3).find("2024"), std::string::npos) << t.Cell(1, 3);
        EXPECT_EQ(t.Cell(2, 1), "Bob");
        EXPECT_EQ(t.Cell(2, 2), "");
    }
}

// A source failure at any row fails the run, and the dataset comes back where it was
// with its controls on, as after a complete run.
TEST_F(DatasetExportTest, AFailingRowFailsTheRunAndTheDatasetComesBack)
{
    {
        QSqlDatabase db = OpenSqliteDatabase(dir / "rows.db", "failing_rows");
        ExecSql(db, {"CREATE TABLE t (id INTEGER, j TEXT)",
                     "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 1000) "
                     "INSERT INTO t SELECT x, CASE x WHEN 600 THEN '{broken' ELSE '{\"a\": 1}' END FROM n"});
        TSQLDataSet ds;
        ds.SetDatabase(db);
        ds.SetSQL("SELECT id, json_extract(j, '$.a') AS a FROM t");
        ds.Open();
        for (int i = 0; i < 4; ++i)
            ds.Next();
        lines.ColumnSource = csDataSet;
        lines.SetDataSet(&ds);
        TMemoryStream failed, whole;
        EXPECT_THROW(lines.SaveToStream(&failed), Exception);
        EXPECT_EQ(lines.Statistic().Result, erFailed);
        EXPECT_FALSE(ds.ControlsDisabled());
        EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 5);
        // The same run over rows that all read completes, and comes back the same way.
        ds.SetSQL("SELECT id FROM t WHERE id < 600");
        ds.Open();
        ds.Next();
        lines.SaveToStream(&whole);
        EXPECT_EQ(lines.Statistic().Result, erCompleted);
        EXPECT_EQ(std::count(whole.Bytes().begin(), whole.Bytes().end(), '\n'), 599);
        EXPECT_FALSE(ds.ControlsDisabled());
        EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 2);
    }
    DropConnection("failing_rows");
}

TEST_F(DatasetExportTest, RowsPickedWithTheMouseAreExportedInThatOrder)
{
    TMemoryDataSet ds;
    ds.AddField("Name", ftString);
    for (int i = 0; i < 6; ++i)
        ds.AppendRecord({"row " + std::to_string(i)});
    TDataSource source;
    source.SetDataSet(&ds);
    TDBGrid grid;
    grid.SetDataSource(&source);
    grid.resize(300, 300);
    grid.show();
    for (auto [row, modifiers] : {std::pair{3, Qt::NoModifier}, {0, Qt::ControlModifier}, {5, Qt::ControlModifier}}) {
        const QPoint at = grid.visualRect(grid.RowIndex(row)).center();
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent e(type, at, grid.viewport()->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, modifiers);
            QApplication::sendEvent(grid.viewport(), &e);
        }
    }
    ds.First();
    ds.Next();
    lines.SetDBGrid(&grid);
    lines.SelectedRecord = true;
    lines.Execute();
    ASSERT_EQ(lines.Statistic().Result, erCompleted);
    EXPECT_EQ(lines.Engine, "TKVEDBGridDataEngine");
    EXPECT_EQ(lines.Out.Bytes(), "row 3|\nrow 0|\nrow 5|\n");
    EXPECT_EQ(ds.RecNo(), 2);
    EXPECT_EQ(lines.GetSelectedCount(), 3);
    EXPECT_EQ(*static_cast<TBookmark*>(lines.GetNextSelected(1)), grid.SelectedRows()[1]);
}

TEST_F(DatasetExportTest, TheRunPicksTheEngineOfTheGridsKind)
{
    TMemoryDataSet ds;
    ds.AddField("A", ftInteger);
    ds.AppendRecord({7});
    TDataSource source;
    source.SetDataSet(&ds);
    TForeignSelectGrid select;
    select.DataSource = &source;
    TForeignFieldsGrid fields;
    fields.DataSource = &source;
    for (auto [grid, engine] : {std::pair<QWidget*, const char*>{&select, "TKVEwwDBGridDataEngine"},
                                {&fields, "TKVEDBAdvStringGridDataEngine"}}) {
        lines.Out.Clear();
        lines.SetDBGrid(grid);
        lines.Execute();
        ASSERT_EQ(lines.Statistic().Result, erCompleted) << engine;
        EXPECT_EQ(lines.Engine, engine);
        EXPECT_EQ(lines.Out.Bytes(), "7|\n");
        EXPECT_EQ(lines.SourceEngine(), nullptr);
    }
    EXPECT_EQ(lines.GetSelectedCount(), 0);

    QWidget notAGrid;
    notAGrid.setObjectName("Panel1");
    try {
        lines.SetDBGrid(&notAGrid);
        FAIL() << "accepted a control that is not a grid";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Assigned DBGrid (Panel1) is not a supported type");
    }
    EXPECT_EQ(lines.DBGrid(), &fields);

    // A grid without a dataset ends the run as failed, with a message saying so.
    fields.DataSource = nullptr;
    lines.Options.Include(soShowMessage);
    lines.Execute();
    EXPECT_EQ(lines.Statistic().Result, erFailed);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_NE(ui.Boxes[0].Text.find("no dataset"), std::string::npos) << ui.Boxes[0].Text;
    fields.DataSource = &source;
    lines.SetDBGrid(nullptr);
}

} // namespace
