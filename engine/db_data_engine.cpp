#include "db_data_engine.h"

#include "framework/exceptions.h"

// ---------------------------------------------------------------------------
// TKVECustomDBDataEngine

TKVECustomDBDataEngine::TKVECustomDBDataEngine(QObject* AOwner)
    : TKVECustomDataEngine(AOwner)
{
}

TDataSet* TKVECustomDBDataEngine::GetDataset()
{
    return nullptr;
}

TDataSet* TKVECustomDBDataEngine::RequireDataset()
{
    TDataSet* ds = GetDataset();
    if (!ds)
        throw Exception("There is no dataset to export: " +
                        (Name().empty() ? std::string("the data engine") : "data engine " + Name()) +
                        " has no dataset");
    return ds;
}

void TKVECustomDBDataEngine::EnableControls()
{
    TKVECustomDataEngine::EnableControls();
    if (TDataSet* ds = GetDataset())
        ds->EnableControls();
}

void TKVECustomDBDataEngine::DisableControls()
{
    TKVECustomDataEngine::DisableControls();
    if (TDataSet* ds = GetDataset())
        ds->DisableControls();
}

void TKVECustomDBDataEngine::SavePosition()
{
    TKVECustomDataEngine::SavePosition();
    FBookmark = RequireDataset()->GetBookmark();
}

void TKVECustomDBDataEngine::RestorePosition()
{
    TKVECustomDataEngine::RestorePosition();
    TBookmark b;
    b.swap(FBookmark);
    RequireDataset()->GotoBookmark(b);
}

void TKVECustomDBDataEngine::ColumnFromField(TKVEColumn* C, TField* F)
{
    C->Alignment = F->Alignment();
    C->FieldName = F->FieldName();
    C->Color = clWhite;
    C->Width = F->DisplayWidth();
    C->Visible = F->Visible();
    if (F->IsFloatField())
        C->Precision = F->Precision();
    // Judged by the field type alone: a null value gives the type's cell type.
    C->DataType = GetValueType(F->DataType(), Variant::Null(), false);
    C->Title().Caption = F->DisplayLabel();
    C->Title().Alignment = F->Alignment();
    C->Title().Font().Style |= fsBold;
    C->Title().Color = clSilver;
}

void TKVECustomDBDataEngine::FillColumns(TKVEColumns* Columns, bool RightToLeft)
{
    TKVECustomDataEngine::FillColumns(Columns, RightToLeft);
    TDataSet* ds = GetDataset();
    if (!ds)
        return;
    const int n = ds->FieldCount();
    for (int k = 0; k < n; ++k)
        ColumnFromField(Columns->Add(), ds->Fields(RightToLeft ? n - 1 - k : k));
}

bool TKVECustomDBDataEngine::Eof()
{
    return RequireDataset()->Eof();
}

void TKVECustomDBDataEngine::First()
{
    TKVECustomDataEngine::First();
    RequireDataset()->First();
}

void TKVECustomDBDataEngine::Next()
{
    TKVECustomDataEngine::Next();
    RequireDataset()->Next();
}

int TKVECustomDBDataEngine::RecordCount()
{
    // A statement's rows are not counted by running it twice.
    return RequireDataset()->KnownRecordCount();
}

int TKVECustomDBDataEngine::CountRecords()
{
    return RequireDataset()->RecordCount();
}

Variant TKVECustomDBDataEngine::GetFieldValue(TKVEColumn* Column)
{
    TField* f = FindFieldByColumn(Column);
    return f ? f->Value() : Variant::Null();
}

bool TKVECustomDBDataEngine::RequiredByColumn(TKVEColumn* Column)
{
    TField* f = FindFieldByColumn(Column);
    return f && f->Required();
}

bool TKVECustomDBDataEngine::ReadOnlyByColumn(TKVEColumn* Column)
{
    TField* f = FindFieldByColumn(Column);
    return f && f->ReadOnly();
}

TField* TKVECustomDBDataEngine::FindFieldByColumn(TKVEColumn* Column)
{
    if (!Column)
        return nullptr;
    TDataSet* ds = GetDataset();
    return ds ? ds->FindField(Column->FieldName) : nullptr;
}

// ---------------------------------------------------------------------------
// TKVEDatasetDataEngine

TKVEDatasetDataEngine::TKVEDatasetDataEngine(QObject* AOwner)
    : TKVECustomDBDataEngine(AOwner)
{
}

TDataSet* TKVEDatasetDataEngine::GetDataset()
{
    return FDataset;
}

void TKVEDatasetDataEngine::SetDataset(TDataSet* Value)
{
    FDataset = Value;
    if (Value)
        FreeNotification(Value);
}

void TKVEDatasetDataEngine::Notification(TComponent* AComponent, TOperation Operation)
{
    TKVECustomDBDataEngine::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FDataset)
        FDataset = nullptr;
}

TDBGridAccess& DBGridAccess()
{
    static TDBGridAccess access;
    return access;
}
