#include "db_grid.h"

#include "exceptions.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <map>

// ---------------------------------------------------------------------------
// Columns

std::string TColumnTitle::Caption() const
{
    if (!FCaption.empty())
        return FCaption;
    if (TField* f = FColumn ? FColumn->Field() : nullptr)
        return f->DisplayLabel();
    return FColumn ? FColumn->FieldName : std::string();
}

void TColumnTitle::Assign(const TPersistent* Source)
{
    auto* source = dynamic_cast<const TColumnTitle*>(Source);
    if (!source) {
        TPersistent::Assign(Source);
        return;
    }
    FCaption = source->FCaption;
    Alignment = source->Alignment;
    Color = source->Color;
    FFont.Assign(&source->FFont);
}

TColumn::TColumn(TCollection* Collection)
    : TCollectionItem(Collection)
    , FTitle(this)
{
}

TDBGrid* TColumn::Grid() const
{
    auto* columns = dynamic_cast<TDBGridColumns*>(Collection());
    return columns ? columns->Grid() : nullptr;
}

TField* TColumn::Field() const
{
    TDBGrid* grid = Grid();
    TDataSet* ds = grid ? grid->DataSet() : nullptr;
    if (!ds || !ds->Active() || FieldName.empty())
        return nullptr;
    return ds->FindField(FieldName);
}

TAlignment TColumn::Alignment() const
{
    if (FAlignment >= 0)
        return static_cast<TAlignment>(FAlignment);
    if (TField* f = Field())
        return f->Alignment();
    return taLeftJustify;
}

void TColumn::SetVisible(bool Value)
{
    if (Value == FVisible)
        return;
    FVisible = Value;
    // Inside an update bracket the grid hears of it when the bracket closes.
    if (TDBGrid* grid = Grid(); grid && Collection()->UpdateCount() == 0)
        grid->ColumnsChanged();
}

void TColumn::Assign(const TPersistent* Source)
{
    auto* source = dynamic_cast<const TColumn*>(Source);
    if (!source) {
        TPersistent::Assign(Source);
        return;
    }
    FieldName = source->FieldName;
    FAlignment = source->FAlignment;
    Color = source->Color;
    FFont.Assign(&source->FFont);
    FTitle.Assign(&source->FTitle);
    SetVisible(source->FVisible);
}

TDBGridColumns::TDBGridColumns(TDBGrid* Grid)
    : TCollection([](TCollection* c) { return new TColumn(c); })
    , FGrid(Grid)
{
}

void TDBGridColumns::Changed()
{
    if (FGrid)
        FGrid->ColumnsChanged();
}

// ---------------------------------------------------------------------------
// TBookmarkList

const TBookmark& TBookmarkList::Items(int Index) const
{
    if (Index < 0 || Index >= Count())
        throw EListError::OutOfBounds(Index);
    return FItems[static_cast<std::size_t>(Index)];
}

int TBookmarkList::IndexOf(const TBookmark& Bookmark) const
{
    for (int i = 0; i < Count(); ++i)
        if (FItems[static_cast<std::size_t>(i)] == Bookmark)
            return i;
    return -1;
}

bool TBookmarkList::CurrentRowSelected() const
{
    TDataSet* ds = FGrid->DataSet();
    if (!ds || !ds->Active() || ds->RecNo() <= 0)
        return false;
    return IndexOf(ds->GetBookmark()) >= 0;
}

void TBookmarkList::SetCurrentRowSelected(bool Value)
{
    TDataSet* ds = FGrid->DataSet();
    if (!ds || !ds->Active() || ds->RecNo() <= 0)
        return;
    FGrid->SelectRow(ds->RecNo() - 1, Value);
}

void TBookmarkList::Clear()
{
    if (FGrid->selectionModel())
        FGrid->selectionModel()->clearSelection();
    FItems.clear();
}

// ---------------------------------------------------------------------------
// The grid's model: rows are the dataset's records, columns the visible grid columns.

class TDBGridModel : public QAbstractTableModel {
public:
    explicit TDBGridModel(TDBGrid* Grid)
        : QAbstractTableModel(Grid)
        , FGrid(Grid)
    {
    }

    int rowCount(const QModelIndex& Parent) const override { return Parent.isValid() ? 0 : FRows; }
    int columnCount(const QModelIndex& Parent) const override
    {
        return Parent.isValid() ? 0 : static_cast<int>(FVisible.size());
    }

    QVariant data(const QModelIndex& Index, int Role) const override
    {
        TColumn* column = ColumnAt(Index.column());
        if (!column)
            return {};
        switch (Role) {
        case Qt::DisplayRole: {
            TField* f = column->Field();
            if (!f || !ReadRow(Index.row()))
                return {};
            if (f->DataType() == ftMemo && FGrid->ShowMemoText())
                return MemoLine(f->Index());
            if (f->IsBlob())
                return f->DataType() == ftGraphic ? QStringLiteral("(GRAPHIC)")
                       : f->DataType() == ftMemo  ? QStringLiteral("(MEMO)")
                                                  : QStringLiteral("(BLOB)");
            try {
                return QString::fromStdString(FRow->Values[static_cast<std::size_t>(f->Index())].AsString());
            } catch (const Exception&) {
                return {};
            }
        }
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(AlignmentFlags(column->Alignment()));
        case Qt::BackgroundRole:
            return ToQColor(column->Color);
        case Qt::ForegroundRole:
            return ToQColor(column->Font().Color);
        default:
            return {};
        }
    }

    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override
    {
        if (Orientation != Qt::Horizontal)
            return QAbstractTableModel::headerData(Section, Orientation, Role);
        TColumn* column = ColumnAt(Section);
        if (!column)
            return {};
        if (Role == Qt::DisplayRole)
            return QString::fromStdString(column->Title().Caption());
        if (Role == Qt::TextAlignmentRole)
            return QVariant::fromValue(AlignmentFlags(column->Title().Alignment));
        return {};
    }

    // Takes the dataset's and the columns' current state. The model is reset only
    // when its shape changed (so a selection survives a plain refresh); returns
    // whether it was.
    bool Refresh()
    {
        std::vector<int> visible;
        for (int i = 0; i < FGrid->Columns().Count(); ++i)
            if (FGrid->Columns()[i]->Visible())
                visible.push_back(i);
        TDataSet* ds = FGrid->DataSet();
        int rows = 0;
        if (ds && ds->Active()) {
            try {
                rows = ds->RecordCount();
            } catch (const Exception&) {
                rows = 0;
            }
        }
        FRowCache.clear();
        FRow = nullptr;
        if (visible == FVisible && rows == FRows) {
            if (FRows > 0 && !FVisible.empty())
                emit dataChanged(index(0, 0), index(FRows - 1, static_cast<int>(FVisible.size()) - 1));
            emit headerDataChanged(Qt::Horizontal, 0, static_cast<int>(FVisible.size()) - 1);
            return false;
        }
        beginResetModel();
        FVisible = std::move(visible);
        FRows = rows;
        endResetModel();
        return true;
    }

    // A memo's text on one line: line breaks shown as a return sign, at most
    // MaxMemoText characters.
    QVariant MemoLine(int Field) const
    {
        const Variant& v = FRow->Values[static_cast<std::size_t>(Field)];
        if (v.IsNull())
            return {};
        QString text;
        try {
            text = QString::fromStdString(v.AsString());
        } catch (const Exception&) {
            return {};
        }
        if (text.size() > MaxMemoText)
            text = text.left(MaxMemoText) + QChar(0x2026);
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.replace(QChar('\n'), QChar(0x23CE));
        return text;
    }

    // The bookmark of the record in Row; empty when it cannot be read.
    TBookmark BookmarkOf(int Row) const { return ReadRow(Row) ? FRow->Bookmark : TBookmark(); }

private:
    TColumn* ColumnAt(int Section) const
    {
        if (Section < 0 || Section >= static_cast<int>(FVisible.size()))
            return nullptr;
        const int i = FVisible[static_cast<std::size_t>(Section)];
        return i < FGrid->Columns().Count() ? FGrid->Columns()[i] : nullptr;
    }

    // Makes FRow the record in Row. Rows read lately are kept (a bounded number), and
    // while the dataset's controls are off (an export walking it) only those are
    // shown: reading others would disturb the walk.
    bool ReadRow(int Row) const
    {
        if (auto it = FRowCache.find(Row); it != FRowCache.end()) {
            FRow = &it->second;
            return true;
        }
        TDataSet* ds = FGrid->DataSet();
        if (!ds || !ds->Active() || ds->ControlsDisabled())
            return false;
        TCachedRow row;
        try {
            ds->GetRecordAt(Row, row.Values, row.Bookmark);
        } catch (const Exception&) {
            return false;
        }
        if (FRowCache.size() >= MaxCachedRows)
            FRowCache.clear();
        FRow = &FRowCache.emplace(Row, std::move(row)).first->second;
        return true;
    }

    static Qt::Alignment AlignmentFlags(TAlignment A)
    {
        const Qt::Alignment h = A == taRightJustify ? Qt::AlignRight : A == taCenter ? Qt::AlignHCenter : Qt::AlignLeft;
        return h | Qt::AlignVCenter;
    }

    static QColor ToQColor(TColor C)
    {
        const TColor rgb = ColorToRGB(C);
        return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
    }

    struct TCachedRow {
        std::vector<Variant> Values;
        TBookmark Bookmark;
    };
    static constexpr std::size_t MaxCachedRows = 512;
    static constexpr int MaxMemoText = 1000;

    TDBGrid* FGrid;
    std::vector<int> FVisible;
    int FRows = 0;
    mutable std::map<int, TCachedRow> FRowCache;
    mutable const TCachedRow* FRow = nullptr;
};

// ---------------------------------------------------------------------------
// TDBGrid

TDBGrid::TDBGrid(QWidget* Parent)
    : QTableView(Parent)
    , FColumns(std::make_unique<TDBGridColumns>(this))
{
    FModel = new TDBGridModel(this);
    setModel(FModel);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &TDBGrid::SelectionChanged);
}

TDBGrid::~TDBGrid()
{
    QObject::disconnect(FSourceChanged);
    // The columns go first, without telling a grid that is being torn down.
    FMakingColumns = true;
    FColumns.reset();
}

void TDBGrid::SetDataSource(TDataSource* Value)
{
    if (Value == FDataSource.data())
        return;
    QObject::disconnect(FSourceChanged);
    FDataSource = Value;
    if (Value)
        FSourceChanged = connect(Value, &TDataSource::DataChanged, this, &TDBGrid::DataChanged);
    DataChanged();
}

TDataSet* TDBGrid::DataSet() const
{
    return FDataSource ? FDataSource->DataSet() : nullptr;
}

void TDBGrid::SetShowMemoText(bool Value)
{
    FShowMemoText = Value;
    viewport()->update();
}

QModelIndex TDBGrid::RowIndex(int Index) const
{
    return FModel->index(Index, 0);
}

void TDBGrid::DataChanged()
{
    if (FDefaultColumns && !FMakingColumns) {
        // Default columns follow the dataset's fields.
        TDataSet* ds = DataSet();
        FMakingColumns = true;
        FColumns->BeginUpdate();
        FColumns->Clear();
        if (ds && ds->Active()) {
            for (int i = 0; i < ds->FieldCount(); ++i) {
                TColumn* c = FColumns->Add();
                c->FieldName = ds->Fields(i)->FieldName();
                c->SetVisible(ds->Fields(i)->Visible());
            }
        }
        FDefaultCount = FColumns->Count();
        FColumns->EndUpdate();
        FMakingColumns = false;
    }
    if (FModel->Refresh())
        FSelectedRows.FItems.clear();
}

void TDBGrid::ColumnsChanged()
{
    if (FMakingColumns || !FColumns)
        return;
    // Columns the host adds replace the default ones; clearing them brings those back.
    if (FColumns->Count() == 0) {
        FDefaultColumns = true;
        DataChanged();
        return;
    }
    if (FDefaultColumns) {
        FDefaultColumns = false;
        if (FColumns->Count() > FDefaultCount) {
            FMakingColumns = true;
            FColumns->BeginUpdate();
            for (int i = 0; i < FDefaultCount; ++i)
                FColumns->Delete(0);
            FColumns->EndUpdate();
            FMakingColumns = false;
        }
    }
    if (FModel->Refresh())
        FSelectedRows.FItems.clear();
}

void TDBGrid::SelectionChanged(const QItemSelection& Selected, const QItemSelection& Deselected)
{
    for (const QItemSelectionRange& r : Deselected)
        for (int row = r.top(); row <= r.bottom(); ++row) {
            if (selectionModel()->isRowSelected(row, QModelIndex()))
                continue;
            const int at = FSelectedRows.IndexOf(FModel->BookmarkOf(row));
            if (at >= 0)
                FSelectedRows.FItems.erase(FSelectedRows.FItems.begin() + at);
        }
    for (const QItemSelectionRange& r : Selected)
        for (int row = r.top(); row <= r.bottom(); ++row) {
            const TBookmark b = FModel->BookmarkOf(row);
            if (!b.empty() && FSelectedRows.IndexOf(b) < 0)
                FSelectedRows.FItems.push_back(b);
        }
}

void TDBGrid::SelectRow(int Row, bool Select)
{
    const QModelIndex index = FModel->index(Row, 0);
    if (!index.isValid())
        return;
    selectionModel()->select(index, (Select ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                         QItemSelectionModel::Rows);
}
