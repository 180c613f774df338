#pragma once
// tabrix-export's rows per workbook file: a dataset walked in windows.

#include "engine/db_data_engine.h"

// A dataset's rows in windows of Size rows, one window per export run: each run's
// First continues where the run before stopped, so a workbook exporter that walks
// all it is given writes one window. The walk only goes forward: positions are not
// saved and restored around a run.
class TRowWindowEngine : public TKVEDatasetDataEngine {
public:
    explicit TRowWindowEngine(int Size) : FSize(Size) {}
    // Whether the dataset has no rows left for another window.
    bool Exhausted() { return TKVEDatasetDataEngine::Eof(); }

    void First() override;
    void Next() override;
    bool Eof() override;
    int RecordCount() override;
    void SavePosition() override {}
    void RestorePosition() override {}

private:
    int FSize;
    int FTaken = 0;  // rows of the current window walked past
    int FBefore = 0; // rows of the earlier windows
    bool FStarted = false;
};
