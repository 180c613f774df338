#include "data_engine.h"

TKVECustomDataEngine::TKVECustomDataEngine(QObject* AOwner)
    : TComponent(AOwner)
{
}

bool TKVECustomDataEngine::SelectedRecordIsSupported()
{
    return false;
}

void TKVECustomDataEngine::EnableControls()
{
}

void TKVECustomDataEngine::DisableControls()
{
}

void TKVECustomDataEngine::SavePosition()
{
    if (OnBeforeExecute)
        OnBeforeExecute(this);
}

void TKVECustomDataEngine::RestorePosition()
{
    if (OnAfterExecute)
        OnAfterExecute(this);
}

void TKVECustomDataEngine::FillColumns(TKVEColumns* Columns, bool /*RightToLeft*/)
{
    Columns->Clear();
    if (OnFillColumns)
        OnFillColumns(Columns);
}

int TKVECustomDataEngine::CountRecords()
{
    return RecordCount();
}

TKVEEngineWalk::TKVEEngineWalk(TKVECustomDataEngine* Engine)
    : FEngine(Engine)
{
    FEngine->DisableControls();
    try {
        FEngine->SavePosition();
        FPositionSaved = true;
    } catch (...) {
        FEngine->EnableControls();
        FEngine = nullptr;
        throw;
    }
}

TKVEEngineWalk::~TKVEEngineWalk()
{
    if (!FEngine)
        return;
    try {
        FEngine->RestorePosition();
    } catch (...) {
    }
    try {
        FEngine->EnableControls();
    } catch (...) {
    }
}

void TKVEEngineWalk::Finish()
{
    TKVECustomDataEngine* engine = FEngine;
    FEngine = nullptr;
    if (!engine)
        return;
    try {
        engine->RestorePosition();
    } catch (...) {
        engine->EnableControls();
        throw;
    }
    engine->EnableControls();
}

bool TKVECustomDataEngine::IsDataRow(int)
{
    return true;
}

bool TKVECustomDataEngine::Eof()
{
    return true;
}

void TKVECustomDataEngine::First()
{
    if (OnFirst)
        OnFirst(this);
}

void TKVECustomDataEngine::Next()
{
    if (OnNext)
        OnNext(this, FAbort);
}

Variant TKVECustomDataEngine::GetFieldValue(TKVEColumn*)
{
    return Variant::Null();
}

void TKVECustomDataEngine::ApplyCellColors(int, int, TAlignment&, TFont&, TColor&)
{
}

int TKVECustomDataEngine::RecordCount()
{
    int count = 0;
    if (OnCount)
        OnCount(this, count);
    return count;
}

TFieldType TKVECustomDataEngine::DataTypeByColumn(TKVEColumn* Column)
{
    return CellType2FieldType(Column ? Column->DataType : ctString);
}

bool TKVECustomDataEngine::RequiredByColumn(TKVEColumn*)
{
    return false;
}

bool TKVECustomDataEngine::ReadOnlyByColumn(TKVEColumn*)
{
    return false;
}

TField* TKVECustomDataEngine::FindFieldByColumn(TKVEColumn*)
{
    return nullptr;
}

TKVEVirtualDataEngine::TKVEVirtualDataEngine(QObject* AOwner)
    : TKVECustomDataEngine(AOwner)
{
}

void TKVEVirtualDataEngine::First()
{
    TKVECustomDataEngine::First();
    FRecNo = 0;
}

void TKVEVirtualDataEngine::Next()
{
    TKVECustomDataEngine::Next();
    ++FRecNo;
}

bool TKVEVirtualDataEngine::Eof()
{
    return RecordCount() <= FRecNo;
}

Variant TKVEVirtualDataEngine::GetFieldValue(TKVEColumn* Column)
{
    Variant value = Variant::Null();
    if (OnGetValue)
        OnGetValue(this, Column, value);
    return value;
}
