#pragma once
// Engines that read a dataset: directly (TKVEDatasetDataEngine) or through the data grid
// that shows it (TKVEDBGridDataEngine, in engine/db_grid_engine.h). Their base walks the dataset's records, takes
// values from its fields, keeps the dataset's position around the walk and describes
// one export column per field.

#include "engine/data_engine.h"
#include "framework/data_set.h"

#include <QPointer>

class TKVECustomDBDataEngine : public TKVECustomDataEngine {
    Q_OBJECT
public:
    explicit TKVECustomDBDataEngine(QObject* AOwner = nullptr);

    // The dataset to read, or none.
    virtual TDataSet* GetDataset();

    void EnableControls() override;
    void DisableControls() override;
    void SavePosition() override;
    void RestorePosition() override;
    // Raises OnFillColumns, then appends one column per dataset field: hidden fields
    // give hidden columns, titles are bold and silver, cells white.
    void FillColumns(TKVEColumns* Columns, bool RightToLeft) override;
    bool Eof() override;
    void First() override;
    void Next() override;
    int RecordCount() override;
    int CountRecords() override;
    Variant GetFieldValue(TKVEColumn* Column) override;
    bool RequiredByColumn(TKVEColumn* Column) override;
    bool ReadOnlyByColumn(TKVEColumn* Column) override;
    // The dataset's field named by Column's FieldName, letter case ignored.
    TField* FindFieldByColumn(TKVEColumn* Column) override;

protected:
    // The dataset, raising a clear error when there is none: the walk and the
    // position operations cannot go on without one.
    TDataSet* RequireDataset();
    // One column from a dataset field, as FillColumns makes it.
    static void ColumnFromField(TKVEColumn* C, TField* F);

    TBookmark FBookmark;
};

class TKVEDatasetDataEngine : public TKVECustomDBDataEngine {
    Q_OBJECT
public:
    explicit TKVEDatasetDataEngine(QObject* AOwner = nullptr);

    TDataSet* GetDataset() override;
    void SetDataset(TDataSet* Value);

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    TDataSet* FDataset = nullptr;
};

// The suite's data grid (TDBGrid, framework/db_grid.h) is a widget, and so is the engine
// that reads it (TKVEDBGridDataEngine, engine/db_grid_engine.h): the core reaches them
// only through this table, which the engine widgets library fills when it is loaded.
// Without it no object is the suite's grid.
struct TDBGridAccess {
    bool (*IsDBGrid)(QObject* Grid) = nullptr;
    // A new engine over Grid, owned by Owner.
    TKVECustomDBDataEngine* (*CreateEngine)(QObject* Grid, QObject* Owner) = nullptr;
    int (*SelectedCount)(QObject* Grid) = nullptr;
    const TBookmark* (*SelectedRow)(QObject* Grid, int Index) = nullptr;
};
TDBGridAccess& DBGridAccess();
