#pragma once
// Engines that read a dataset: directly (TKVEDatasetDataEngine) or through the data grid
// that shows it (TKVEDBGridDataEngine). Their base walks the dataset's records, takes
// values from its fields, keeps the dataset's position around the walk and describes
// one export column per field.

#include "engine/data_engine.h"
#include "framework/data_set.h"
#include "framework/db_grid.h"

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

class TKVEDBGridDataEngine : public TKVECustomDBDataEngine {
    Q_OBJECT
public:
    explicit TKVEDBGridDataEngine(QObject* AOwner = nullptr);

    TDBGrid* GetDBGrid() const { return FDBGrid; }
    void SetDBGrid(TDBGrid* Value);
    // The dataset of the grid's data source, when the grid, the source and its
    // dataset all exist.
    TDataSet* GetDataset() override;

    bool SelectedRecordIsSupported() override;
    // Columns from the grid's column settings; OnFillColumns is not raised.
    void FillColumns(TKVEColumns* Columns, bool RightToLeft) override;
    // With FSelectedRecord the walk visits the grid's selected rows in selection order.
    bool Eof() override;
    void First() override;
    void Next() override;
    int RecordCount() override;
    int CountRecords() override;

private:
    int SelectedCount() const;
    int FSelectedIndex = 0;
    QPointer<TDBGrid> FDBGrid;
};
