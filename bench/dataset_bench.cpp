// A SQLite table of N rows x 8 columns (integers, floats, text, dates) exported through
// the SQL dataset, the dataset engine and the cell-file pipeline into a raw text file,
// against `sqlite3 -csv db 'select * from t' > out.csv` on the same table in the same
// run. Prints both times, their ratio and this process's peak resident memory.
//
//   build/bench/bench_dataset_bench [rows] [folder]     (default 1000000, /tmp)
//
// Run it once per row count: the peak memory is the process's own.

#include "cellfile/cell_file_exporter.h"
#include "framework/exceptions.h"
#include "framework/sql_data_set.h"
#include "framework/streams.h"
#include "framework/ui_services.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Every cell's text and a comma, a line per row.
class TRawTextExporter : public TKVExportToCellFile {
public:
    using TKVExportToCellFile::TKVExportToCellFile;
    void WriteData(TField*, TCellType, int, int ACol, const std::string& Text, TAlignment, TFont*, TColor) override
    {
        if (ACol > 0)
            WriteString(",");
        WriteString(Text);
    }
    void WriteRowEnd(bool) override { WriteString("\n"); }
};

long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Processor seconds (user + system) of this process or of its finished children.
double CpuSeconds(int Who)
{
    rusage u{};
    getrusage(Who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Seconds(std::chrono::steady_clock::time_point Since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Since).count();
}

void Exec(QSqlDatabase& Db, const QString& Sql)
{
    QSqlQuery q(Db);
    if (!q.exec(Sql)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(Sql), qPrintable(q.lastError().text()));
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const std::string db = folder + "/tabrix_bench_" + std::to_string(rows) + ".db";
    const std::string ours = folder + "/tabrix_bench_ours.txt";
    const std::string peer = folder + "/tabrix_bench_peer.csv";
    std::remove(db.c_str());

    TRecordingUIServices ui;
    TUIServicesScope scope(&ui);
    {
        QSqlDatabase conn = QSqlDatabase::addDatabase("QSQLITE", "bench");
        conn.setDatabaseName(QString::fromStdString(db));
        if (!conn.open())
            return 1;
        Exec(conn, "CREATE TABLE t (id INTEGER PRIMARY KEY, qty INTEGER, price REAL, ratio DOUBLE, name VARCHAR(30), "
                   "note TEXT, day DATE, stamp TIMESTAMP)");
        Exec(conn, QString("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < %1) "
                           "INSERT INTO t SELECT x, x * 7 % 1000, x / 8.0, x / 3.0, 'name ' || x, "
                           "'a longer note for row ' || x, date('2000-01-01', '+' || (x % 9000) || ' days'), "
                           "datetime('2000-01-01 08:00:00', '+' || x || ' minutes') FROM c")
                       .arg(rows));

        TSQLDataSet ds;
        ds.SetDatabase(conn);
        ds.SetTableName("t");
        TRawTextExporter exporter;
        exporter.AnimatedStatus = false;
        exporter.Options.Exclude(soShowMessage);
        exporter.ColumnSource = csDataSet;
        exporter.SetDataSet(&ds);
        exporter.SetFileName(ours);

        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds(RUSAGE_SELF);
        ds.Open();
        exporter.Execute();
        const double oursSeconds = Seconds(start);
        const double oursCpu = CpuSeconds(RUSAGE_SELF) - cpuStart;
        if (exporter.Statistic().Result != erCompleted) {
            std::fprintf(stderr, "export failed: %s\n", ui.Boxes.empty() ? "" : ui.Boxes.back().Text.c_str());
            return 1;
        }
        ds.Close();

        const std::string command = "sqlite3 -csv '" + db + "' 'select * from t' > '" + peer + "'";
        const auto peerStart = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0)
            return 1;
        const double peerSeconds = Seconds(peerStart);
        const double peerCpu = CpuSeconds(RUSAGE_CHILDREN);

        std::printf("rows %ld  wall: ours %.2f s, sqlite3 -csv %.2f s, ratio %.2f  cpu: ours %.2f s, sqlite3 %.2f s, "
                    "ratio %.2f  peak RSS %ld KB\n",
                    rows, oursSeconds, peerSeconds, oursSeconds / peerSeconds, oursCpu, peerCpu, oursCpu / peerCpu,
                    PeakRssKb());
    }
    QSqlDatabase::removeDatabase("bench");
    std::remove(db.c_str());
    std::remove(ours.c_str());
    std::remove(peer.c_str());
    return 0;
}
