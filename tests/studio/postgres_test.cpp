// tabrix-studio on the private PostgreSQL server: connected through its dialog (the
// server's socket folder as host), the table of a schema listed and exported, the
// password never shown again nor kept in the settings.

#include "studio_fixture.h"

#include "studio/connection_dialog.h"
#include "tests/support/test_databases.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlQuery>
#include <map>
#include <sstream>

namespace {

std::map<std::string, std::string> ServerSettings()
{
    std::map<std::string, std::string> settings;
    std::istringstream in(PostgresConnectionString());
    std::string pair;
    while (in >> pair)
        if (const auto eq = pair.find('='); eq != std::string::npos)
            settings[pair.substr(0, eq)] = pair.substr(eq + 1);
    return settings;
}

TEST_F(StudioTest, ExportsAPostgresTableReachedThroughTheConnectionDialog)
{
    std::string why;
    if (!PostgresAvailable(&why))
        GTEST_SKIP() << why;
    std::string schema;
    {
        QSqlDatabase db = OpenPostgresDatabase("make");
        QSqlQuery current(db);
        ASSERT_TRUE(current.exec("SELECT current_schema()") && current.next());
        schema = current.value(0).toString().toStdString();
        ExecSql(db, {"CREATE TABLE prices (id int8 PRIMARY KEY, item text, price numeric(12,2), at timestamp)",
                     "INSERT INTO prices VALUES (9007199254740993, 'tea, green', 12.30, '1899-12-29 23:59:59'),"
                     " (2, NULL, -0.01, '2024-02-29 13:45:00')"});
    }
    DropConnection("make");
    const auto server = ServerSettings();
    const std::string password = "never-shown-pw";

    WithDialog<TfrmConnect>(
        [&](TfrmConnect& dialog) {
            dialog.edHost->setText(QString::fromStdString(server.at("host")));
            dialog.sePort->setValue(std::stoi(server.at("port")));
            dialog.edDatabase->setText(QString::fromStdString(server.at("dbname")));
            dialog.edUser->setText(QString::fromStdString(server.at("user")));
            QTest::keyClicks(dialog.edPassword, QString::fromStdString(password));
            EXPECT_NE(dialog.edPassword->displayText().toStdString(), password);
            dialog.Buttons->button(QDialogButtonBox::Ok)->click();
        },
        [&] { Window->actConnect->trigger(); });
    ASSERT_TRUE(Window->Source().Active()) << (Boxes.Boxes.empty() ? "" : Boxes.Boxes[0].Text);

    const QString table = QString::fromStdString(schema + ".prices");
    ASSERT_FALSE(Window->ObjectList()->findItems(table, Qt::MatchExactly).isEmpty());
    ASSERT_TRUE(Window->ShowTable(table.toStdString()));
    TKVExportBaseComponent& settings = Window->Export().Settings();
    settings.SetFileName(Dir / "prices.csv");
    settings.FieldDelimiter = ",";
    Window->Export().Run(*Window->Grid());
    EXPECT_EQ(Window->Export().LastResult(), erCompleted);
    EXPECT_EQ(CsvRows(Dir / "prices.csv"), "id|item|price|at\n"
                                           "2||-0.01|2024-02-29 13:45:00\n"
                                           "9007199254740993|tea, green|12.30|1899-12-29 23:59:59\n");

    // Neither the title, nor the recent sources, nor the settings file hold the password.
    Window.reset();
    QFile ini(QString::fromStdString(Dir / "Tabrix/tabrix-studio.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const std::string saved = ini.readAll().toStdString();
    EXPECT_NE(saved.find("postgresql:"), std::string::npos) << saved;
    EXPECT_EQ(saved.find(password), std::string::npos);
}

} // namespace
