// tabrix-studio [SOURCE] [--table NAME | --query SQL]: the desktop export program.
#include "studio/studio_window.h"

#include "framework/file_dialog.h"

#include <QApplication>
#include <QCommandLineParser>

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
    parser.addOption(table);
    parser.addOption(query);
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
    return app.exec();
}
