// The whole spreadsheet exporter on the native spreadsheet application: COUNT rows of 8
// columns (2 integers, 2 reals, 2 texts, a date and a date-time) from the virtual engine
// to .xlsx, or to .xls when the file is named so (at most 65,535 rows and the caption).
// Prints wall time and peak resident memory; one case per process so the peaks are
// separate. The peer, libxlsxwriter in constant-memory mode writing the same cells:
//
//   build-bench/bench/bench_excel_exporter_bench 1000000 /tmp/rows.xlsx
//   build-bench/bench/bench_xlsxwriter_cells 1000000 /tmp/peer.xlsx
//   build-bench/bench/bench_excel_exporter_bench 60000 /tmp/rows.xls
//
// With "merge" after the file name the rows are appended to the existing workbook (its
// sheet of the suite's name, streamed through); time and peak are those of the merge:
//
//   build-bench/bench/bench_excel_exporter_bench 1000000 /tmp/rows.xlsx
//   build-bench/bench/bench_excel_exporter_bench 2 /tmp/rows.xlsx merge

#include "office/excel_exporter.h"
#include "framework/ui_services.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s COUNT FILE.xlsx|FILE.xls [merge]\n", argv[0]);
        return 2;
    }
    TRecordingUIServices ui;
    ui.ForceHasGui = 0;
    TUIServicesScope scope{&ui};
    const int count = std::atoi(argv[1]);
    TKVEVirtualDataEngine engine;
    TKVExportToExcel exporter;
    exporter.AnimatedStatus = false;
    const bool merge = argc > 3 && std::string(argv[3]) == "merge";
    exporter.Options = merge ? TKVOptions{soMergeData} : TKVOptions{};
    exporter.ColumnSource = csDataEngine;
    exporter.SetDataEngine(&engine);
    exporter.SetFileName(argv[2]);
    exporter.AddTitle = true;
    int row = 0;
    engine.OnCount = [&](TPersistent*, int& c) { c = count; };
    engine.OnFirst = [&](TPersistent*) { row = 0; };
    engine.OnNext = [&](TPersistent*, bool&) { ++row; };
    engine.OnFillColumns = [](TPersistent* sender) {
        auto* columns = static_cast<TKVEColumns*>(sender);
        const std::pair<const char*, TCellType> fields[] = {{"i1", ctInteger}, {"i2", ctInteger}, {"f1", ctDouble},
                                                            {"f2", ctDouble},  {"t1", ctString},  {"t2", ctString},
                                                            {"d1", ctDate},    {"d2", ctDateTime}};
        for (const auto& [name, type] : fields) {
            TKVEColumn* column = columns->Add();
            column->FieldName = name;
            column->Title().Caption = name;
            column->DataType = type;
            column->Width = 12;
        }
    };
    engine.OnGetValue = [&](TPersistent*, TKVEColumn* column, Variant& value) {
        switch (column->FieldName[0]) {
        case 'i': value = Variant(row); break;
        case 'f': value = Variant(row * 0.25); break;
        case 't': value = Variant("text " + std::to_string(row)); break;
        default: value = Variant::FromDateTime(40000 + row % 3000 + (column->FieldName[1] == '2' ? 0.5 : 0)); break;
        }
    };
    const auto start = std::chrono::steady_clock::now();
    exporter.Execute();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("excel exporter: %s%d rows x 8, %.2f s, peak %ld KB, result %d\n", merge ? "merged " : "", count, seconds,
                usage.ru_maxrss, static_cast<int>(exporter.Statistic().Result));
    return exporter.Statistic().Result == erCompleted ? 0 : 1;
}
