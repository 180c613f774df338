// tabrix-studio's window on SQLite files: opening (and refusing) sources, the grid's
// columns and selection carried into an export driven through the setup dialog by
// keys, a run cancelled half-way, and a picture of the window.

#include "studio_fixture.h"

#include "export/export_dialog.h"
#include "export/progress_window.h"
#include "export/save_spec_dialog.h"
#include "framework/file_dialog.h"
#include "office/typed_workbook.h"
#include "framework/sql_data_set.h"
#include "studio/grid_columns.h"
#include "tests/support/test_databases.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QActionGroup>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>

namespace {

class StudioWindowTest : public StudioTest {
protected:
    // people: five rows with values a text file must keep apart; counter: Rows rows.
    std::string MakeDatabase(int Rows = 0)
    {
        const std::string file = Dir / "shop.db";
        {
            QSqlDatabase db = OpenSqliteDatabase(file, "make");
            ExecSql(db, {"CREATE TABLE people (id INTEGER PRIMARY KEY, name TEXT, city TEXT, amount REAL, note TEXT)",
                         "INSERT INTO people VALUES (1, 'Anna, \"the\" first', 'Oslo', 0.1 + 0.2, 'a')",
                         "INSERT INTO people VALUES (2, 'Zoë', NULL, -1e300, '')",
                         "INSERT INTO people VALUES (3, 'line\nbreak', 'Rome', 3, 'c')",
                         "INSERT INTO people VALUES (9007199254740993, 'big', 'Lima', 0, 'd')",
                         "CREATE VIEW rich AS SELECT * FROM people WHERE amount > 1",
                         "CREATE TABLE counter (n INTEGER PRIMARY KEY, label TEXT)"});
            if (Rows > 0)
                ExecSql(db, {"WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < "
                             + std::to_string(Rows) + ") INSERT INTO counter SELECT x, 'row ' || x FROM c"});
        }
        DropConnection("make");
        return file;
    }

    void ClickRow(int Row, Qt::KeyboardModifiers Modifiers)
    {
        TDBGrid* grid = Window->Grid();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Modifiers, grid->visualRect(grid->RowIndex(Row)).center());
    }
};

TEST_F(StudioWindowTest, OpensDatabasesAndSaysWhyNot)
{
    const std::string good = MakeDatabase();
    std::ofstream(Dir / "notes.db") << "this is not a database but a plain text that is long enough\n";
    struct Case {
        std::string Source;
        bool Opens;
        std::string Says; // part of the box on failure
    } cases[] = {
        {good, true, ""},
        {Dir / "notes.db", false, "Choose an SQLite database file"},
        {Dir / "missing.db", false, "does not exist"},
        {Dir.Path, false, "is not a database file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Source);
        Boxes.Boxes.clear();
        // Dropped on the window, as from a file manager.
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(c.Source))});
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        static_cast<QObject*>(Window.get())->event(&drop);
        EXPECT_EQ(Window->Source().Active(), c.Opens);
        if (c.Opens) {
            EXPECT_TRUE(Boxes.Boxes.empty());
            QStringList names;
            for (int i = 0; i < Window->ObjectList()->count(); ++i)
                names << Window->ObjectList()->item(i)->text();
            EXPECT_EQ(names, QStringList({"Tables", "counter", "people", "Views", "rich"}));
            EXPECT_EQ(Window->RecentSources().value(0).toStdString(), c.Source);
        } else {
            ASSERT_EQ(Boxes.Boxes.size(), 1u);
            EXPECT_NE(Boxes.Boxes[0].Text.find(c.Says), std::string::npos) << Boxes.Boxes[0].Text;
        }
    }
    // The source is read-only, and a query that fails says what to do.
    ASSERT_TRUE(Window->OpenSource(good));
    Boxes.Boxes.clear();
    EXPECT_FALSE(Window->RunQuery("DELETE FROM people"));
    EXPECT_FALSE(Window->RunQuery("SELECT nothing FROM nowhere"));
    ASSERT_EQ(Boxes.Boxes.size(), 2u);
    EXPECT_NE(Boxes.Boxes[1].Text.find("Correct the query"), std::string::npos);
    EXPECT_TRUE(Window->RunQuery("SELECT count(*) AS n FROM people"));
    EXPECT_EQ(Window->History()->count(), 3);
    EXPECT_EQ(Window->History()->itemText(0), "SELECT count(*) AS n FROM people");
}

TEST_F(StudioWindowTest, ExportsTheGridAsArrangedThroughTheSetupDialog)
{
    ASSERT_TRUE(Window->OpenSource(MakeDatabase()));
    ASSERT_TRUE(Window->ShowTable("people"));
    TDBGrid* grid = Window->Grid();
    // note dragged to the front, city hidden; rows 4, 2 and 1 picked with Ctrl+click.
    grid->horizontalHeader()->moveSection(4, 0);
    QApplication::processEvents();
    SetGridColumnVisible(*grid, 3, false);
    ASSERT_EQ(grid->Columns()[3]->FieldName, "city");
    ClickRow(3, Qt::NoModifier);
    ClickRow(1, Qt::ControlModifier);
    ClickRow(0, Qt::ControlModifier);
    ASSERT_EQ(grid->SelectedRows().Count(), 3);

    const std::string out = Dir / "people.csv";
    WithDialog<TfrmExportDlg>(
        [&](TfrmExportDlg& dialog) {
            for (int i = 0; i < dialog.rgTableType->Count(); ++i)
                if (dialog.rgTableType->Tag(i) == teText)
                    QTest::keyClick(dialog.rgTableType->Button(i), Qt::Key_Space);
            QTest::keyClick(dialog.rgSeparator->Button(2), Qt::Key_Space); // Comma
            EXPECT_TRUE(dialog.cbSelectedRecord->isChecked()) << "rows are selected";
            EXPECT_TRUE(dialog.cbAddTitle->isChecked());
            QTest::keyClick(dialog.edFileName, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(dialog.edFileName, QString::fromStdString(out));
            QTest::keyClick(&dialog, Qt::Key_Return);
        },
        [&] { Window->actExport->trigger(); });

    EXPECT_EQ(Window->Export().LastResult(), erCompleted);
    EXPECT_EQ(CsvRows(out), "note|id|name|amount\n"
                            "d|9007199254740993|big|0\n"
                            "|2|Zoë|-1e+300\n"
                            "a|1|Anna, \"the\" first|0.30000000000000004\n");
    // The next export starts from these settings.
    EXPECT_EQ(Window->Export().Settings().FileName(), out);
    EXPECT_EQ(Window->Export().Settings().FieldDelimiter, ",");
}

TEST_F(StudioWindowTest, CancelKeepsTheRowsWrittenBefore)
{
    constexpr int total = 200000;
    ASSERT_TRUE(Window->OpenSource(MakeDatabase(total)));
    ASSERT_TRUE(Window->ShowTable("counter"));
    TKVExportBaseComponent& settings = Window->Export().Settings();
    settings.SetFileName(Dir / "counter.csv");
    settings.FieldDelimiter = ",";
    settings.AddTitle = false;
    bool pressed = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        TKVExportBaseComponent* run = Window->Export().Running();
        auto* progress = run ? dynamic_cast<TfrmKVEProcess*>(run->ProgressDlg()) : nullptr;
        if (pressed || !progress || progress->Position() < 1000)
            return;
        pressed = true;
        QTest::mouseClick(progress->btnCancel, Qt::LeftButton);
    });
    poll.start(1);
    Window->Export().Run(*Window->Grid());
    poll.stop();

    ASSERT_TRUE(pressed);
    EXPECT_EQ(Window->Export().LastResult(), erCanceled);
    const std::string rows = CsvRows(Dir / "counter.csv");
    std::string expected;
    const int written = static_cast<int>(std::count(rows.begin(), rows.end(), '\n'));
    for (int n = 1; n <= written; ++n)
        expected += std::to_string(n) + "|row " + std::to_string(n) + "\n";
    EXPECT_EQ(rows, expected);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, total);
}

TEST_F(StudioWindowTest, SpecificationsCarrySettingsToTheNextExport)
{
    ASSERT_TRUE(Window->OpenSource(MakeDatabase()));
    ASSERT_TRUE(Window->ShowTable("people"));
    TKVExportBaseComponent& before = Window->Export().Settings();
    before.AddTitle = false;
    before.BlankIfZero = true;
    Window->grpAfterExport->actions()[1]->setChecked(true); // open the file
    const std::string spec = Dir / "people.kve";
    WithDialog<TfrmKVESaveSpec>(
        [&](TfrmKVESaveSpec& dialog) {
            QTest::keyClicks(dialog.edSpecName, "People");
            dialog.edFileName->clear();
            QTest::keyClicks(dialog.edFileName, QString::fromStdString(spec));
            QTest::keyClick(&dialog, Qt::Key_Return);
        },
        [&] { Window->actSaveSpec->trigger(); });
    // The same settings for a workbook, loaded by a fresh window.
    std::string text;
    {
        std::ifstream in(spec);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_NE(text.find("TableType=Text"), std::string::npos) << text;
    text.replace(text.find("TableType=Text"), 14, "TableType=Excel");
    std::ofstream(spec, std::ios::trunc) << text;

    Window = std::make_unique<TfrmStudio>();
    TScriptedFileDialogService files;
    files.Answers = {spec};
    SetFileDialogService(&files);
    Window->actLoadSpec->trigger();
    SetFileDialogService(nullptr);
    TKVExportBaseComponent& after = Window->Export().Settings();
    ASSERT_NE(dynamic_cast<TTypedWorkbook*>(&after), nullptr);
    EXPECT_FALSE(after.AddTitle);
    EXPECT_TRUE(after.BlankIfZero);
    EXPECT_EQ(Window->grpAfterExport->checkedAction(), Window->grpAfterExport->actions()[1]);
    EXPECT_TRUE(Window->actRepeatExport->isEnabled() || !Window->Grid()->DataSet());

    // Exported as a workbook of typed cells, read back by openpyxl.
    ASSERT_TRUE(Window->OpenSource(Dir / "shop.db"));
    ASSERT_TRUE(Window->RunQuery("SELECT id, amount FROM people WHERE id < 4 ORDER BY id"));
    after.SetFileName(Dir / "people.xlsx");
    after.ActionAfterExport = aeNone;
    Window->Export().Run(*Window->Grid());
    EXPECT_EQ(Window->Export().LastResult(), erCompleted);
    EXPECT_EQ(Shell("/usr/bin/python3 -c 'import openpyxl,sys\n"
                    "for r in openpyxl.load_workbook(sys.argv[1]).active.iter_rows(values_only=True): print(r)' '"
                    + Dir / "people.xlsx" + "'"),
              "(1, 0.30000000000000004)\n(2, -1e+300)\n(3, 3)\n");
}

TEST_F(StudioWindowTest, ScreenshotShowsTheWindowFilled)
{
    ASSERT_TRUE(Window->OpenSource(MakeDatabase(1000)));
    ASSERT_TRUE(Window->ShowTable("counter"));
    QApplication::processEvents();
    const QImage picture = Window->grab().toImage();
    ASSERT_EQ(picture.size(), Window->size() * Window->devicePixelRatio());
    QSet<QRgb> colours;
    for (int y = 0; y < picture.height(); y += 3)
        for (int x = 0; x < picture.width(); x += 3)
            colours.insert(picture.pixel(x, y));
    EXPECT_GT(colours.size(), 20) << "a blank window has a handful of colours";
    EXPECT_EQ(Window->Grid()->model()->index(0, 1).data().toString(), "row 1");
}

} // namespace
