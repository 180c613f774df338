#include "studio/grid_columns.h"

#include "framework/db_grid.h"

#include <QHeaderView>
#include <QSignalBlocker>
#include <vector>

namespace {

// The collection index of each header section (logical index), in section order.
std::vector<int> VisibleColumns(const TDBGrid& Grid)
{
    std::vector<int> visible;
    for (int i = 0; i < Grid.Columns().Count(); ++i)
        if (Grid.Columns()[i]->Visible())
            visible.push_back(i);
    return visible;
}

} // namespace

std::map<std::string, int> GridColumnWidths(const TDBGrid& Grid)
{
    std::map<std::string, int> widths;
    const QHeaderView* header = Grid.horizontalHeader();
    const std::vector<int> visible = VisibleColumns(Grid);
    for (std::size_t section = 0; section < visible.size() && static_cast<int>(section) < header->count(); ++section)
        widths[Grid.Columns()[visible[section]]->FieldName] = header->sectionSize(static_cast<int>(section));
    return widths;
}

void SetGridColumnWidths(TDBGrid& Grid, const std::map<std::string, int>& Widths)
{
    QHeaderView* header = Grid.horizontalHeader();
    const std::vector<int> visible = VisibleColumns(Grid);
    for (std::size_t section = 0; section < visible.size() && static_cast<int>(section) < header->count(); ++section)
        if (auto it = Widths.find(Grid.Columns()[visible[section]]->FieldName); it != Widths.end())
            header->resizeSection(static_cast<int>(section), it->second);
}

void TakeHeaderOrder(TDBGrid& Grid)
{
    QHeaderView* header = Grid.horizontalHeader();
    const std::vector<int> visible = VisibleColumns(Grid);
    bool moved = false;
    for (int v = 0; v < header->count(); ++v)
        moved = moved || header->logicalIndex(v) != v;
    if (!moved || static_cast<int>(visible.size()) != header->count())
        return;
    const std::map<std::string, int> widths = GridColumnWidths(Grid);

    // The slots of visible columns take them in header order; hidden ones stay put.
    TDBGridColumns& columns = Grid.Columns();
    const int n = columns.Count();
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int i = 0, next = 0; i < n; ++i)
        order[static_cast<std::size_t>(i)] =
            columns[i]->Visible() ? visible[static_cast<std::size_t>(header->logicalIndex(next++))] : i;

    columns.BeginUpdate();
    for (int i : order)
        columns.Add()->Assign(columns[i]);
    for (int i = 0; i < n; ++i)
        columns.Delete(0);
    {
        const QSignalBlocker quiet(header);
        for (int section = 0; section < header->count(); ++section)
            header->moveSection(header->visualIndex(section), section);
    }
    columns.EndUpdate();
    SetGridColumnWidths(Grid, widths);
}

void SetGridColumnVisible(TDBGrid& Grid, int Index, bool Visible)
{
    TakeHeaderOrder(Grid);
    std::map<std::string, int> widths = GridColumnWidths(Grid);
    Grid.Columns()[Index]->SetVisible(Visible);
    SetGridColumnWidths(Grid, widths);
}
