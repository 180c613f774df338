#pragma once
// Grids of other libraries, known only by their published properties (Qt meta-object
// properties, looked up by name at run time).
//
// A grid is a widget that publishes a DataSource object property. Its kind follows from
// its further properties: a Columns collection whose item class publishes FieldName
// makes a plain data grid (TKVEDBGridDataEngine); a Selected string list the ww kind
// (TKVEwwDBGridDataEngine); a Fields collection the AdvStringGrid kind
// (TKVEDBAdvStringGridDataEngine).
//
// Property kinds: an object property is one whose type is a pointer (to a QObject, to a
// class described by Q_GADGET, or to a framework object such as TFont or TStringList);
// ordinal properties are integers, enumerations and Booleans; string properties are
// QString or QByteArray. A collection is a pointer to a class derived from TCollection
// and described by Q_GADGET; its item class is what TCollection::ItemClass reports.
// Collection and item classes derive from TCollection / TCollectionItem alone (no
// second base class), so that their pointers are the framework's own.

#include "engine/db_data_engine.h"

#include <QPointer>

class TCollection;
class TStringList;

// The dataset of C's published DataSource, or none.
TDataSet* GetPropAsDataSet(QObject* C);
// Whether C is a usable grid; the flags tell its kind (both false for a plain grid).
// Columns is tested first, then Selected, then Fields; errors while reading Columns
// give false.
bool PropIsDBGrid(QObject* C, bool& IsWWGrid, bool& IsAdvStringGrid);
// C's published Selected string list, when C also publishes DataSource; else none.
TStringList* GetPropAsSelected(QObject* C);
// C's published Columns collection (Fields when C has no Columns), when C also
// publishes DataSource; else none.
TCollection* GetPropAsColumns(QObject* C);
// Adds the names of the usable grids among AOwner's children, depth first, to AList;
// a grid on a frame is listed as "Frame.Grid".
void FillGridList(QObject* AOwner, TStringList* AList);

class TKVEwwDBGridDataEngine : public TKVECustomDBDataEngine {
    Q_OBJECT
public:
    explicit TKVEwwDBGridDataEngine(QObject* AOwner = nullptr);

    QObject* GetDBGrid() const { return FDBGrid; }
    // Raises "Property <name> is not specified." for a control that is not a ww-kind
    // grid; the engine keeps its grid then.
    void SetDBGrid(QObject* Value);
    // Makes the last row a non-data row: its cells are read as plain values.
    bool ExportFooters = false;

    TDataSet* GetDataset() override;
    bool SelectedRecordIsSupported() override;
    bool IsDataRow(int Index) override;
    // One column per entry of the grid's Selected list ("field TAB width TAB title"),
    // described by the field; an empty list is first filled with the visible fields.
    void FillColumns(TKVEColumns* Columns, bool RightToLeft) override;

private:
    QPointer<QObject> FDBGrid;
};

class TKVEDBAdvStringGridDataEngine : public TKVECustomDBDataEngine {
    Q_OBJECT
public:
    explicit TKVEDBAdvStringGridDataEngine(QObject* AOwner = nullptr);

    QObject* GetDBGrid() const { return FDBGrid; }
    // As for the ww engine, for AdvStringGrid-kind grids.
    void SetDBGrid(QObject* Value);

    TDataSet* GetDataset() override;
    // One column per item of the grid's Columns / Fields collection, from the
    // properties its item class publishes; with no items, the dataset's fields.
    void FillColumns(TKVEColumns* Columns, bool RightToLeft) override;

private:
    QPointer<QObject> FDBGrid;
};
