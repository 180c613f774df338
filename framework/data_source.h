#pragma once
// TDataSource links controls (data grids, a form's edit boxes) to a dataset and tells them
// when its records, fields or open state change. Part of the headless core: hosts and
// engines reach a grid's dataset through it without any widgets code.

#include "component.h"
#include "data_set.h"

#include <QPointer>

class TDataSource : public TComponent {
    Q_OBJECT
    Q_PROPERTY(TDataSet* DataSet READ DataSet WRITE SetDataSet)
public:
    explicit TDataSource(QObject* AOwner = nullptr);

    TDataSet* DataSet() const { return FDataSet; }
    void SetDataSet(TDataSet* Value);

signals:
    // The dataset was replaced, or its records, fields or open state changed.
    void DataChanged();
    void RecordMoved();

private:
    QPointer<TDataSet> FDataSet;
    QMetaObject::Connection FChanged, FMoved;
};
