// tabrix-studio [SOURCE] [--table NAME | --query SQL] [--screenshot PNG]: the desktop export
// program.
#include "studio/studio_window.h"

#include "framework/db_grid.h"
#include "framework/file_dialog.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QItemSelectionModel>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Tabrix");
    QApplication::setApplicationName("tabrix-studio");
    QApplication::setApplicationDisplayName("Tabrix Studio");
    QApplication::setApplicationVersion(TABRIX_VERSION);
    QApplication::setDesktopFileName("tabrix-studio");

    QCommandLineParser parser;
    parser.setApplicationDescription("Browse a table or a query of a database and export it.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("source", "An SQLite database file or a PostgreSQL URI "
                                           "(postgresql://user@host:port/database), opened read-only.");
    const QCommandLineOption table({"t", "table"}, "Show this table or view.", "name");
    const QCommandLineOption query({"q", "query"}, "Run this query and show its rows.", "sql");
    const QCommandLineOption screenshot("screenshot", "Save a picture of the window once it shows the rows, and quit.",
                                        "png");
    parser.addOption(table);
    parser.addOption(query);
    parser.addOption(screenshot);
    parser.process(app);

    TfrmStudio window;
    window.show();
    const QStringList args = parser.positionalArguments();
    if (!args.isEmpty() && window.OpenSource(FileNameFromQString(args[0]))) {
        if (parser.isSet(table))
            window.ShowTable(parser.value(table).toStdString());
        else if (parser.isSet(query))
            window.RunQuery(parser.value(query).toStdString());
    }
    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        QTimer::singleShot(500, &window, [&window, file] {
            // A few rows picked, as a person preparing an export would.
            if (window.Grid()->model()->rowCount() > 4)
                for (int row : {1, 2, 4})
                    window.Grid()->selectionModel()->select(window.Grid()->RowIndex(row),
                                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
            QCoreApplication::exit(window.grab().save(file) ? 0 : 1);
        });
    }
    return app.exec();
}
