// The cell-file pipeline over a virtual engine into a target whose hooks do nothing.
// Prints nanoseconds per cell for the whole pipeline and for the engine's value event
// alone, and the peak resident memory, for 1,000,000 and 2,000,000 cells.
//
//   build/bench/bench_cellfile_bench [cells]

#include "cellfile/cell_file_exporter.h"
#include "framework/ui_services.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

class TNullTarget : public TKVExportToCellFile {
public:
    using TKVExportToCellFile::TKVExportToCellFile;
    long long Cells = 0;
    void InternalFileCreate(const std::string&) override {}
    void WriteData(TField*, TCellType, int, int, const std::string&, TAlignment, TFont*, TColor) override { ++Cells; }
};

long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

constexpr int Columns = 5;

struct Source {
    TKVEVirtualDataEngine Engine;
    int Rows = 0;
    int Row = 0;
    Source()
    {
        Engine.OnCount = [this](TPersistent*, int& count) { count = Rows; };
        Engine.OnFirst = [this](TPersistent*) { Row = 0; };
        Engine.OnNext = [this](TPersistent*, bool&) { ++Row; };
        Engine.OnGetValue = [this](TPersistent*, TKVEColumn* column, Variant& value) {
            // numbers and short texts, as a typical table holds them
            if (column->DataType == ctInteger)
                value = Variant(Row);
            else
                value = Variant("text value");
        };
    }
};

double RunPipeline(int rows, long long& cells)
{
    Source source;
    source.Rows = rows;
    TNullTarget target;
    target.AnimatedStatus = false;
    target.Options.Exclude(soShowMessage);
    target.ColumnSource = csDataEngine;
    target.SetDataEngine(&source.Engine);
    target.SetFileName("/dev/null");
    target.AddTitle = true;
    for (int c = 0; c < Columns; ++c) {
        TKVEColumn* column = target.Columns().Add();
        column->FieldName = std::to_string(c);
        column->FieldName.insert(0, 1, 'C');
        column->DataType = c % 2 ? ctInteger : ctString;
    }
    auto start = std::chrono::steady_clock::now();
    target.Execute();
    auto end = std::chrono::steady_clock::now();
    if (target.Statistic().Result != erCompleted) {
        std::fprintf(stderr, "export failed\n");
        std::exit(1);
    }
    cells = target.Cells;
    return std::chrono::duration<double, std::nano>(end - start).count();
}

double RunEngineOnly(int rows)
{
    Source source;
    source.Rows = rows;
    TKVEColumns columns(nullptr);
    for (int c = 0; c < Columns; ++c)
        columns.Add()->DataType = c % 2 ? ctInteger : ctString;
    auto start = std::chrono::steady_clock::now();
    long long sink = 0;
    source.Engine.First();
    while (!source.Engine.Eof()) {
        for (int c = 0; c < Columns; ++c) {
            Variant v = source.Engine.GetFieldValue(columns[c]);
            sink += static_cast<long long>(v.VarType());
        }
        source.Engine.Next();
    }
    auto end = std::chrono::steady_clock::now();
    if (sink == 42)
        std::puts("");
    return std::chrono::duration<double, std::nano>(end - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    TRecordingUIServices quiet;
    quiet.ForceHasGui = 0;
    TUIServicesScope scope(&quiet);
    long long cellsWanted = argc > 1 ? std::atoll(argv[1]) : 1000000;
    for (long long total : {cellsWanted, cellsWanted * 2}) {
        int rows = static_cast<int>(total / Columns);
        long long cells = 0;
        double pipeline = RunPipeline(rows, cells);
        double engine = RunEngineOnly(rows);
        std::printf("%lld data cells: pipeline %.1f ns/cell, engine event alone %.1f ns/cell, "
                    "pipeline beyond the event %.1f ns/cell, peak RSS %ld KiB\n",
                    cells, pipeline / cells, engine / cells, (pipeline - engine) / cells, PeakRssKb());
    }
    return 0;
}
