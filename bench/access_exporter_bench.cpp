// The whole database-table exporter on the native engine: rows of 8 columns (two
// integers, two floats, two texts, a date and a date-time) from the virtual engine into
// a new table, against the database's own bulk loader reading the same rows from CSV
// in the same run. Prints both wall times, their ratio and the peak resident memory.
//
//   build/bench/bench_access_exporter_bench sqlite 1000000 /tmp/bench
//   build/bench/bench_access_exporter_bench postgres 100000 /tmp/bench 'postgresql://user@/db?host=/sock'
//
// SQLite is compared with `sqlite3 peer.db ".import --csv rows.csv t"`, PostgreSQL with
// `psql URI -c "\copy t_copy from rows.csv csv"` into a table of the same column types.

#include "office/access_exporter.h"
#include "framework/format_settings.h"
#include "framework/ui_services.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double Seconds(std::chrono::steady_clock::time_point Start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

const char* const Names[] = {"id", "qty", "price", "rate", "name", "city", "day", "stamp"};
const TCellType Types[] = {ctInteger, ctInteger, ctDouble, ctDouble, ctString, ctString, ctDate, ctDateTime};
const double FirstDay = EncodeDate(2020, 1, 1);

Variant Value(int Row, int Col)
{
    switch (Col) {
    case 0: return Variant(Row);
    case 1: return Variant((Row * 7) % 1000);
    case 2: return Variant(Row * 0.25);
    case 3: return Variant(1.0 / (Row + 1));
    case 4: return Variant("name-" + std::to_string(Row));
    case 5: return Variant("city " + std::to_string(Row % 100));
    case 6: return Variant::FromDateTime(FirstDay + Row % 3650);
    default: return Variant::FromDateTime(FirstDay + Row % 3650 + (Row % 86400) / 86400.0);
    }
}

std::string Quote(const std::string& S) { return "'" + S + "'"; }

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4 || (std::string(argv[1]) == "postgres" && argc < 5)) {
        std::fprintf(stderr, "usage: %s sqlite|postgres ROWS DIR [URI]\n", argv[0]);
        return 2;
    }
    const bool pg = std::string(argv[1]) == "postgres";
    const int rows = std::atoi(argv[2]);
    const std::string dir = argv[3];
    const std::string uri = pg ? argv[4] : std::string();
    std::system(("mkdir -p " + Quote(dir) + " && rm -f " + Quote(dir + "/out.db") + " " + Quote(dir + "/peer.db")).c_str());
    TRecordingUIServices ui;
    ui.ForceHasGui = 0;
    TUIServicesScope scope(&ui);

    // The same rows as CSV, in the texts the exporter sends.
    {
        std::ofstream csv(dir + "/rows.csv");
        if (!pg)
            csv << "id,qty,price,rate,name,city,day,stamp\n";
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < 8; ++c) {
                Variant v = Value(r, c);
                std::string text;
                if (c >= 6) {
                    text = FormatDateTime(c == 6 ? "yyyy-mm-dd" : "yyyy-mm-dd hh:nn:ss", v.AsDateTime());
                } else {
                    text = v.AsString();
                }
                csv << text << (c == 7 ? '\n' : ',');
            }
    }

    TKVEVirtualDataEngine engine;
    int row = 0;
    engine.OnFillColumns = [](TPersistent* sender) {
        auto* columns = static_cast<TKVEColumns*>(sender);
        for (int c = 0; c < 8; ++c) {
            TKVEColumn* col = columns->Add();
            col->FieldName = Names[c];
            col->Title().Caption = Names[c];
            col->DataType = Types[c];
        }
    };
    engine.OnCount = [rows](TPersistent*, int& count) { count = rows; };
    engine.OnFirst = [&row](TPersistent*) { row = 0; };
    engine.OnNext = [&row](TPersistent*, bool&) { ++row; };
    engine.OnGetValue = [&row](TPersistent*, TKVEColumn* column, Variant& value) {
        value = Value(row, column->Index());
    };

    TKVExportToAccess exporter;
    exporter.AnimatedStatus = false;
    exporter.Options.Exclude(soShowMessage);
    exporter.Options.Include(soUseFieldNameAsCaption);
    exporter.ColumnSource = csDataEngine;
    exporter.SetDataEngine(&engine);
    exporter.SetFileName(pg ? uri : dir + "/out.db");
    exporter.TableName = "t";
    auto start = std::chrono::steady_clock::now();
    exporter.Execute();
    const double ours = Seconds(start);
    if (exporter.Statistic().Result != erCompleted) {
        std::fprintf(stderr, "export failed: %s\n", ui.Boxes.empty() ? "" : ui.Boxes.back().Text.c_str());
        return 1;
    }
    const long peak = PeakRssKb();

    std::string peer;
    if (pg) {
        std::system(("psql -q " + Quote(uri) + " -c 'DROP TABLE IF EXISTS t_copy; CREATE TABLE t_copy (LIKE t)'").c_str());
        peer = "psql -q " + Quote(uri) + " -c " + Quote("\\copy t_copy from " + dir + "/rows.csv csv");
    } else {
        peer = "sqlite3 " + Quote(dir + "/peer.db") + " " + Quote(".import --csv " + dir + "/rows.csv t");
    }
    start = std::chrono::steady_clock::now();
    const int rc = std::system(peer.c_str());
    const double theirs = Seconds(start);
    std::printf("%s %d rows x 8 columns: exporter %.2f s, %s %.2f s, ratio %.2f; exporter peak RSS %ld KB%s\n",
                pg ? "postgres" : "sqlite", rows, ours, pg ? "psql \\copy" : "sqlite3 .import", theirs, ours / theirs,
                peak, rc ? " (peer failed)" : "");
    return 0;
}
