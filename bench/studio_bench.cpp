// tabrix-studio on a table of a million rows: how soon the first rows show, the memory
// the window holds while scrolling through to the end, and an export of the whole grid
// timed against tabrix-export writing the same table in the same run.
//
//   bench_studio_bench [ROWS] [FOLDER]     (defaults: 1000000, a fresh temporary folder)
//
// Memory is the process's resident set (VmRSS, and its peak VmHWM) from
// /proc/self/status; "held by the grid" is the growth since just before the database
// was opened, so the libraries' own pages do not count.

#include "framework/db_grid.h"
#include "framework/ui_services.h"
#include "studio/studio_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

double StatusMegabytes(const char* Key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(Key, 0) == 0)
            return std::stod(line.substr(std::string(Key).size())) / 1024.0;
    return 0;
}

void MakeTable(const QString& File, int Rows)
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bench-make");
    db.setDatabaseName(File);
    db.open();
    QSqlQuery q(db);
    q.exec("CREATE TABLE orders (id INTEGER PRIMARY KEY, customer TEXT, total REAL, placed DATE, note VARCHAR(40))");
    q.exec(QString("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < %1) "
                   "INSERT INTO orders SELECT x, 'customer ' || (x % 977), (x % 100000) / 100.0, "
                   "date('2024-01-01', '+' || (x % 700) || ' days'), 'note, \"quoted\" ' || x FROM c")
               .arg(Rows));
    q.finish();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("bench-make");
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
    QTemporaryDir temp;
    const QString folder = argc > 2 ? QString(argv[2]) : temp.path();
    QDir().mkpath(folder);
    const QString db = folder + "/bench.db";
    if (!QFile::exists(db))
        MakeTable(db, rows);

    TRecordingUIServices boxes; // the closing message is recorded, not waited for
    TUIServicesScope scope(&boxes);
    TfrmStudio window;
    window.resize(1200, 800);
    window.show();
    QApplication::processEvents();
    const double before = StatusMegabytes("VmRSS:");

    QElapsedTimer clock;
    clock.start();
    window.OpenSource(db.toStdString());
    window.ShowTable("orders");
    window.grab(); // paints the first rows: they are read now
    const double firstRows = clock.elapsed();
    const double afterOpen = StatusMegabytes("VmRSS:");
    const double peakOpen = StatusMegabytes("VmHWM:");

    clock.restart();
    TDBGrid* grid = window.Grid();
    QScrollBar* bar = grid->verticalScrollBar();
    for (int step = 1; step <= 100; ++step) {
        bar->setValue(static_cast<int>(static_cast<long long>(bar->maximum()) * step / 100));
        window.grab();
    }
    const double scrolling = clock.elapsed();
    const double afterScroll = StatusMegabytes("VmRSS:");
    const double peakScroll = StatusMegabytes("VmHWM:");

    const std::string fromGrid = (folder + "/grid.csv").toStdString();
    TKVExportBaseComponent& settings = window.Export().Settings();
    settings.SetFileName(fromGrid);
    settings.FieldDelimiter = std::string(1, ',');
    clock.restart();
    window.Export().Run(*grid);
    const double gridExport = clock.elapsed();
    const double peakExport = StatusMegabytes("VmHWM:");

    const QString fromCli = folder + "/cli.csv";
    clock.restart();
    const int cli = QProcess::execute(TABRIX_EXPORT_PROGRAM, {db, "--table", "orders", "-o", fromCli});
    const double cliExport = clock.elapsed();
    QFile a(QString::fromStdString(fromGrid)), b(fromCli);
    a.open(QIODevice::ReadOnly);
    b.open(QIODevice::ReadOnly);
    const bool same = a.readAll() == b.readAll();

    std::printf("rows                         %d\n", grid->model()->rowCount());
    std::printf("first rows shown             %.0f ms\n", firstRows);
    std::printf("scrolled to the end          %.0f ms (100 jumps, each painted)\n", scrolling);
    std::printf("resident before opening      %.1f MB\n", before);
    std::printf("held by the grid, opened     %.1f MB (peak resident so far %.1f MB)\n", afterOpen - before, peakOpen);
    std::printf("held by the grid, at the end %.1f MB (resident %.1f MB, peak so far %.1f MB)\n", afterScroll - before,
                afterScroll, peakScroll);
    std::printf("export from the grid         %.0f ms (%s)\n", gridExport,
                window.Export().LastResult() == erCompleted ? "completed" : "did not complete");
    std::printf("peak resident after export   %.1f MB\n", peakExport);
    std::printf("tabrix-export, same table    %.0f ms (exit %d)\n", cliExport, cli);
    std::printf("the two files are            %s\n", same ? "identical" : "DIFFERENT");
    return 0;
}
