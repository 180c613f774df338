#include "tools/workbook_target.h"

void TRowWindowEngine::First()
{
    if (!FStarted)
        TKVEDatasetDataEngine::First();
    FStarted = true;
    FBefore += FTaken;
    FTaken = 0;
}

void TRowWindowEngine::Next()
{
    TKVEDatasetDataEngine::Next();
    ++FTaken;
}

bool TRowWindowEngine::Eof()
{
    return FTaken >= FSize || TKVEDatasetDataEngine::Eof();
}

int TRowWindowEngine::RecordCount()
{
    // Between runs (a window walked to its end) the count is the next window's.
    const int start = FBefore + (FTaken >= FSize ? FTaken : 0);
    const int all = TKVEDatasetDataEngine::RecordCount();
    if (all < 0)
        return -1; // a statement's rows are known when its walk ends
    return std::clamp(all - start, 0, FSize);
}
