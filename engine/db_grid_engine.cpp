#include "engine/db_grid_engine.h"

#include "framework/db_grid.h"
#include "framework/exceptions.h"

namespace {

TDBGrid* AsDBGrid(QObject* Grid)
{
    return qobject_cast<TDBGrid*>(Grid);
}

// Runs when the library is loaded; the linker keeps this file through the symbol below,
// which the library's users are made to reference (see engine/CMakeLists.txt).
bool Register()
{
    TDBGridAccess& access = DBGridAccess();
    access.IsDBGrid = [](QObject* Grid) { return AsDBGrid(Grid) != nullptr; };
    access.CreateEngine = [](QObject* Grid, QObject* Owner) -> TKVECustomDBDataEngine* {
        auto* engine = new TKVEDBGridDataEngine(Owner);
        engine->SetDBGrid(AsDBGrid(Grid));
        return engine;
    };
    access.SelectedCount = [](QObject* Grid) { return AsDBGrid(Grid)->SelectedRows().Count(); };
    access.SelectedRow = [](QObject* Grid, int Index) { return &AsDBGrid(Grid)->SelectedRows()[Index]; };
    return true;
}

const bool gRegistered = Register();

} // namespace

extern "C" const bool tabrix_grid_engine_linked = gRegistered;

TKVEDBGridDataEngine::TKVEDBGridDataEngine(QObject* AOwner)
    : TKVECustomDBDataEngine(AOwner)
{
}

void TKVEDBGridDataEngine::SetDBGrid(TDBGrid* Value)
{
    // The grid is a widget, not a component: the guarded pointer is its removal
    // notification.
    FDBGrid = Value;
}

TDataSet* TKVEDBGridDataEngine::GetDataset()
{
    return FDBGrid ? FDBGrid->DataSet() : nullptr;
}

bool TKVEDBGridDataEngine::SelectedRecordIsSupported()
{
    return true;
}

int TKVEDBGridDataEngine::SelectedCount() const
{
    return FDBGrid ? FDBGrid->SelectedRows().Count() : 0;
}

void TKVEDBGridDataEngine::FillColumns(TKVEColumns* Columns, bool RightToLeft)
{
    Columns->Clear();
    if (!FDBGrid)
        return;
    const TDBGridColumns& grid = FDBGrid->Columns();
    const int n = grid.Count();
    for (int k = 0; k < n; ++k) {
        TColumn* g = grid[RightToLeft ? n - 1 - k : k];
        TKVEColumn* c = Columns->Add();
        c->FieldName = g->FieldName;
        c->Alignment = g->Alignment();
        TField* f = g->Field();
        c->Width = f ? f->DisplayWidth() : 10;
        if (f && f->IsFloatField())
            c->Precision = f->Precision();
        if (f)
            c->DataType = GetValueType(f->DataType(), Variant::Null(), false);
        c->Color = g->Color;
        c->SetFont(g->Font());
        c->Visible = g->Visible();
        c->Title().Caption = g->Title().Caption();
        c->Title().Alignment = g->Title().Alignment;
        c->Title().SetFont(g->Title().Font());
        c->Title().Color = g->Title().Color;
    }
}

bool TKVEDBGridDataEngine::Eof()
{
    const bool eof = TKVECustomDBDataEngine::Eof();
    if (FSelectedRecord)
        return FSelectedIndex > SelectedCount() - 1;
    return eof;
}

void TKVEDBGridDataEngine::First()
{
    if (!FSelectedRecord) {
        TKVECustomDBDataEngine::First();
        return;
    }
    TDataSet* ds = RequireDataset();
    FSelectedIndex = 0;
    if (SelectedCount() > 0)
        ds->GotoBookmark(FDBGrid->SelectedRows()[0]);
}

void TKVEDBGridDataEngine::Next()
{
    if (!FSelectedRecord) {
        TKVECustomDBDataEngine::Next();
        return;
    }
    ++FSelectedIndex;
    if (!Eof())
        RequireDataset()->GotoBookmark(FDBGrid->SelectedRows()[FSelectedIndex]);
}

int TKVEDBGridDataEngine::RecordCount()
{
    if (FSelectedRecord)
        return SelectedCount();
    return TKVECustomDBDataEngine::RecordCount();
}

int TKVEDBGridDataEngine::CountRecords()
{
    if (FSelectedRecord)
        return SelectedCount();
    return TKVECustomDBDataEngine::CountRecords();
}
