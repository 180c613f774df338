#pragma once
// The engine that reads a dataset through the suite's data grid: the grid's columns
// become the export columns, and with SelectedRecord the walk visits the grid's
// selected rows. Part of the engine widgets library, which also fills the core's
// DBGridAccess table.

#include "engine/db_data_engine.h"
#include "framework/db_grid.h"

#include <QPointer>

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
