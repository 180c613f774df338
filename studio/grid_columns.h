#pragma once
// What a person changes on the grid's header, carried into the grid's column
// collection. The header lets columns be dragged to another place and resized; the
// collection is what an export reads (its order, its visible flags), so a moved column
// is moved in the collection too, and the widths, which belong to the header, are kept
// by field name across the changes that rebuild it.

#include <map>
#include <string>

class TDBGrid;

// The header's column widths in pixels, by field name.
std::map<std::string, int> GridColumnWidths(const TDBGrid& Grid);
// Gives the columns named in Widths those widths; other columns keep theirs.
void SetGridColumnWidths(TDBGrid& Grid, const std::map<std::string, int>& Widths);

// Puts the collection's visible columns in the order the header shows them (hidden
// columns keep their places among them) and the header back to its plain order, with
// every width kept.
void TakeHeaderOrder(TDBGrid& Grid);

// Shows or hides the collection's column Index, keeping the header's order and widths.
void SetGridColumnVisible(TDBGrid& Grid, int Index, bool Visible);
