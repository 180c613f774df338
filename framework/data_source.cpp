#include "data_source.h"

TDataSource::TDataSource(QObject* AOwner)
    : TComponent(AOwner)
{
}

void TDataSource::SetDataSet(TDataSet* Value)
{
    if (Value == FDataSet.data())
        return;
    QObject::disconnect(FChanged);
    QObject::disconnect(FMoved);
    FDataSet = Value;
    if (Value) {
        FChanged = connect(Value, &TDataSet::DataSetChanged, this, &TDataSource::DataChanged);
        FMoved = connect(Value, &TDataSet::RecordMoved, this, &TDataSource::RecordMoved);
        // A destroyed dataset changes what the linked controls show.
        connect(Value, &QObject::destroyed, this, &TDataSource::DataChanged, Qt::UniqueConnection);
    }
    emit DataChanged();
}
