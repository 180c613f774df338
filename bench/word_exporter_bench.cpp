// The whole word-processor exporter on the native word processor: pictures of 640 x 480
// (24-bit BMP, made here) in a two-column table, and a table of text rows. Prints wall
// time and peak resident memory; run it with one case per process so the peaks are
// separate:
//
//   build/bench/bench_word_exporter_bench pictures 100 /tmp/out.docx
//   build/bench/bench_word_exporter_bench pictures 200 /tmp/out.docx
//   build/bench/bench_word_exporter_bench rows 100000 /tmp/rows.docx

#include "office/word_exporter.h"
#include "framework/ui_services.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string MakeBitmap(int width, int height, int seed)
{
    const int rowBytes = (width * 3 + 3) & ~3;
    const int dataSize = rowBytes * height;
    std::string bmp(54 + static_cast<size_t>(dataSize), '\0');
    auto put32 = [&](size_t at, std::uint32_t v) { std::memcpy(&bmp[at], &v, 4); };
    auto put16 = [&](size_t at, std::uint16_t v) { std::memcpy(&bmp[at], &v, 2); };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, static_cast<std::uint32_t>(bmp.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    put16(26, 1);
    put16(28, 24);
    put32(34, static_cast<std::uint32_t>(dataSize));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            char* p = &bmp[54 + static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x) * 3];
            p[0] = static_cast<char>((x + seed * 7) & 0xFF);
            p[1] = static_cast<char>((y + seed * 13) & 0xFF);
            p[2] = static_cast<char>((x ^ y ^ seed) & 0xFF);
        }
    return bmp;
}

long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s pictures|rows COUNT FILE\n", argv[0]);
        return 2;
    }
    const bool pictures = std::strcmp(argv[1], "pictures") == 0;
    const int count = std::atoi(argv[2]);
    TRecordingUIServices quiet;
    quiet.ForceHasGui = 0;
    TUIServicesScope scope(&quiet);

    TKVEVirtualDataEngine engine;
    int row = 0;
    engine.OnCount = [&](TPersistent*, int& c) { c = count; };
    engine.OnFirst = [&](TPersistent*) { row = 0; };
    engine.OnNext = [&](TPersistent*, bool&) { ++row; };
    engine.OnGetValue = [&](TPersistent*, TKVEColumn* column, Variant& value) {
        if (column->DataType == ctGraphic)
            value = Variant(MakeBitmap(640, 480, row)); // a new file's bytes, as if read from disk
        else
            value = Variant(column->FieldName + " of row " + std::to_string(row));
    };
    TKVExportToWord exporter;
    exporter.AnimatedStatus = false;
    exporter.Options.Exclude(soShowMessage);
    exporter.ColumnSource = csDataEngine;
    exporter.SetDataEngine(&engine);
    exporter.SetFileName(argv[3]);
    exporter.AddTitle = true;
    exporter.Header().SetText("Tabrix suite\r\nPicture exporting\r\n\r\n");
    if (pictures) {
        TKVEColumn* name = exporter.Columns().Add();
        name->FieldName = "FileName";
        name->Title().Caption = "Picture filename";
        name->Width = 20;
        TKVEColumn* graphic = exporter.Columns().Add();
        graphic->FieldName = "Graphic";
        graphic->Title().Caption = "Picture";
        graphic->DataType = ctGraphic;
        graphic->Width = 30;
    } else {
        for (int c = 0; c < 5; ++c) {
            TKVEColumn* column = exporter.Columns().Add();
            column->FieldName = "Column " + std::to_string(c + 1);
            column->Title().Caption = column->FieldName;
        }
    }
    auto start = std::chrono::steady_clock::now();
    exporter.Execute();
    auto end = std::chrono::steady_clock::now();
    if (exporter.Statistic().Result != erCompleted) {
        std::fprintf(stderr, "export failed: %s\n", quiet.Boxes.empty() ? "" : quiet.Boxes.back().Text.c_str());
        return 1;
    }
    std::printf("%s %d -> %s: %.2f s, peak RSS %ld KiB\n", argv[1], count, argv[3],
                std::chrono::duration<double>(end - start).count(), PeakRssKb());
    return 0;
}
