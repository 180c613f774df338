#pragma once
// The data grid (data sources, which link it to a dataset, are in data_source.h).
//
// TDBGrid is a table view over the dataset of
// its data source: one grid column per entry of its Columns collection (made from the
// dataset's fields while the collection holds no columns of the host's), and a list of
// selected rows kept as bookmarks in the order the rows were selected, so that an
// export can take exactly the rows a person picked with the mouse (click, Ctrl+click,
// Shift+click).
//
// The grid publishes DataSource, Columns and SelectedRows as properties; the column
// and title classes describe their settings as properties too, so that code that knows
// the grid only by its published properties can read it.

#include "collection.h"
#include "component.h"
#include "data_set.h"
#include "data_source.h"
#include "graphics.h"

#include <QFrame>
#include <QPointer>
#include <QTableView>
#include <vector>

class TDBGrid;
class TDBGridModel;

class TColumnTitle : public TPersistent {
    Q_GADGET
    Q_PROPERTY(QString Caption READ QCaption)
    Q_PROPERTY(int Alignment READ QAlignment)
    Q_PROPERTY(TFont* Font READ FontPointer)
    Q_PROPERTY(uint Color READ QColorValue)
public:
    explicit TColumnTitle(class TColumn* Column) : FColumn(Column) {}

    // The caption set, else the field's display label, else the field name.
    std::string Caption() const;
    void SetCaption(const std::string& Value) { FCaption = Value; }
    TAlignment Alignment = taLeftJustify;
    TColor Color = clBtnFace;
    TFont& Font() { return FFont; }
    const TFont& Font() const { return FFont; }

    void Assign(const TPersistent* Source) override;

private:
    QString QCaption() const { return QString::fromStdString(Caption()); }
    int QAlignment() const { return Alignment; }
    uint QColorValue() const { return Color; }
    TFont* FontPointer() { return &FFont; }

    class TColumn* FColumn;
    std::string FCaption;
    TFont FFont;
};

class TColumn : public TCollectionItem {
    Q_GADGET
    Q_PROPERTY(QString FieldName READ QFieldName)
    Q_PROPERTY(int Alignment READ QAlignment)
    Q_PROPERTY(uint Color READ QColorValue)
    Q_PROPERTY(TFont* Font READ FontPointer)
    Q_PROPERTY(bool Visible READ Visible)
    Q_PROPERTY(TColumnTitle* Title READ TitlePointer)
public:
    explicit TColumn(TCollection* Collection);

    std::string FieldName;
    // The field of the grid's dataset this column shows (letter case ignored), or none.
    TField* Field() const;
    // The alignment set, else the field's, else left.
    TAlignment Alignment() const;
    void SetAlignment(TAlignment Value) { FAlignment = Value; }
    TColor Color = clWindow;
    bool Visible() const { return FVisible; }
    void SetVisible(bool Value);
    TFont& Font() { return FFont; }
    const TFont& Font() const { return FFont; }
    TColumnTitle& Title() { return FTitle; }
    const TColumnTitle& Title() const { return FTitle; }

    TDBGrid* Grid() const;
    void Assign(const TPersistent* Source) override;

private:
    QString QFieldName() const { return QString::fromStdString(FieldName); }
    int QAlignment() const { return Alignment(); }
    uint QColorValue() const { return Color; }
    TFont* FontPointer() { return &FFont; }
    TColumnTitle* TitlePointer() { return &FTitle; }

    int FAlignment = -1; // -1: from the field
    bool FVisible = true;
    TFont FFont;
    TColumnTitle FTitle;
};

class TDBGridColumns : public TCollection {
    Q_GADGET
public:
    explicit TDBGridColumns(TDBGrid* Grid);

    TDBGrid* Grid() const { return FGrid; }
    TColumn* Add() { return static_cast<TColumn*>(TCollection::Add()); }
    TColumn* operator[](int Index) const { return static_cast<TColumn*>(Items(Index)); }
    const QMetaObject* ItemClass() const override { return &TColumn::staticMetaObject; }

protected:
    void Changed() override;

private:
    TDBGrid* FGrid;
};

// The grid's selected rows: bookmarks in the order the rows were selected.
class TBookmarkList {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    // Raises EListError outside 0..Count-1.
    const TBookmark& Items(int Index) const;
    const TBookmark& operator[](int Index) const { return Items(Index); }
    int IndexOf(const TBookmark& Bookmark) const;
    // Whether the dataset's current record is selected; setting selects or unselects
    // its row in the grid.
    bool CurrentRowSelected() const;
    void SetCurrentRowSelected(bool Value);
    // Unselects every row.
    void Clear();

private:
    friend class TDBGrid;
    explicit TBookmarkList(TDBGrid* Grid) : FGrid(Grid) {}
    TDBGrid* FGrid;
    std::vector<TBookmark> FItems;
};

class TDBGrid : public QTableView {
    Q_OBJECT
    Q_PROPERTY(TDataSource* DataSource READ DataSource WRITE SetDataSource)
    Q_PROPERTY(TDBGridColumns* Columns READ ColumnsPointer)
public:
    explicit TDBGrid(QWidget* Parent = nullptr);
    ~TDBGrid() override;

    TDataSource* DataSource() const { return FDataSource; }
    void SetDataSource(TDataSource* Value);
    // The dataset of the data source, or none.
    TDataSet* DataSet() const;

    TDBGridColumns& Columns() { return *FColumns; }
    const TDBGridColumns& Columns() const { return *FColumns; }
    TBookmarkList& SelectedRows() { return FSelectedRows; }
    const TBookmarkList& SelectedRows() const { return FSelectedRows; }

    // Whether memo fields show their text (on one line, cut after 1,000 characters)
    // instead of "(MEMO)". Off by default.
    bool ShowMemoText() const { return FShowMemoText; }
    void SetShowMemoText(bool Value);

    // The grid row (model row) showing the record at zero-based Index.
    QModelIndex RowIndex(int Index) const;

private:
    friend class TDBGridColumns;
    friend class TBookmarkList;
    friend class TColumn;
    TDBGridColumns* ColumnsPointer() { return FColumns.get(); }
    void DataChanged();
    void ColumnsChanged();
    void SelectionChanged(const QItemSelection& Selected, const QItemSelection& Deselected);
    void SelectRow(int Row, bool Select);

    QPointer<TDataSource> FDataSource;
    QMetaObject::Connection FSourceChanged;
    std::unique_ptr<TDBGridColumns> FColumns;
    bool FDefaultColumns = true; // the columns were made from the fields
    int FDefaultCount = 0;       // how many, while they stand
    bool FMakingColumns = false;
    TBookmarkList FSelectedRows{this};
    bool FShowMemoText = false;
    TDBGridModel* FModel = nullptr;
};

// A container of controls made once and placed on several forms; the controls it
// holds are named after it (FillGridList lists a grid on a frame as "Frame.Grid").
class TFrame : public QFrame {
    Q_OBJECT
public:
    using QFrame::QFrame;
};
