#pragma once
// The programs' workbook target: the suite's spreadsheet exporter set up the way a user
// of tabrix-export or tabrix-studio expects, where the library keeps its own documented
// defaults.
//
//   - Cells are typed by the source field: whole numbers, floats, money and decimals
//     are numbers holding every digit a workbook number holds (the shortest text that
//     reads back as the same double); dates and times are date-time serials under a
//     date, date-time or time format; Booleans are logical values (TRUE, FALSE);
//     everything else is text under the text format, so "1.10" and "000" stay what they
//     are. An empty text is a text of no characters, a null an empty cell.
//   - Dates are serials of the workbook's date system: the 1900 system of a new
//     workbook, or the 1904 system of a merged one that counts from 1904.
//   - A value a workbook number cannot hold (a 64-bit integer beyond 2^53, a decimal
//     with more digits than a double keeps, an infinite float, a date before the date
//     system's first day) is written as near as the format allows and counted by
//     column, so the run can say so.
//   - Header lines and captions are texts whatever the columns below them hold.
//   - One sheet named for what it holds: a new workbook's own sheet is renamed; a
//     merged workbook gets the sheet of that name continued, or a new one. Rows added
//     below the rows a sheet has already get no caption row: the sheet has its own.

#include "cellfile/xls_exporter.h"
#include "office/excel_exporter.h"

#include <map>
#include <string>
#include <vector>

class TTypedWorkbook : public TKVExportToExcel {
public:
    explicit TTypedWorkbook(QObject* AOwner = nullptr);

    // The sheet the rows go to.
    std::string SheetName = "Sheet1";
    // Freeze the header and caption rows of a sheet the export starts (FreezeFixed is
    // set from it at every run: a continued sheet keeps its own panes).
    bool FreezeCaptions = true;
    // Values written other than they left, by field name: what the format could not
    // hold, with a count.
    const std::map<std::string, TWorkbookChanges>& Changed() const { return FChanged; }
    // What Changed holds, one sentence per column and kind.
    std::vector<std::string> ChangedWarnings() const { return WorkbookChangeWarnings(FChanged); }

    // Leaves the caption row out when the rows go below those of a sheet that has some.
    void Prepare() override;
    std::string GetFormat(TFieldType FieldType) override;
    // The typed text of a field that has a workbook value, made from the value itself;
    // the inherited text otherwise.
    std::string GetFieldStr(TField* Field) override;

protected:
    int FindOrAddSheet() override;
    // A cell whose typed text nobody changed goes to the sheet as the number or logical
    // value it reads as, an empty text as one (the text's bytes, which the sheet keeps as
    // they are, where an empty string would clear the cell).
    void SetRowEntry(AutomationValue& Entry, TField* Field, const std::string& Text) override;

private:
    // Makes the sheet of SheetName the active one (continued, renamed or added) and
    // returns its last used row.
    int ActivateSheet();
    // The typed text of one data cell (the handler of OnGetCellParams).
    void TypeCell(TField* Field, std::string& Text);
    // Keeps Value as the cell of Field until its row entry is made and returns its text,
    // as the spreadsheet reads it back (Value's text is taken).
    const std::string& Remember(TField* Field, TWorkbookValue& Value);

    std::map<std::string, TWorkbookChanges> FChanged;
    // The date system of the workbook the run writes (FindOrAddSheet asks the workbook).
    TDateEpoch FDateSystem = epLotus1900;
    // The cell GetFieldStr typed last, until its row entry is made.
    struct TTypedCell {
        TField* Field = nullptr;
        TWorkbookValue::TKind Kind = TWorkbookValue::wkText;
        double Number = 0;
        std::string Text;
    } FTyped;
};

// A sheet name the workbook accepts made from Name: the characters : \ / ? * [ ]
// become "_", apostrophes at either end are dropped, and it is cut to 31 characters;
// "Sheet1" when nothing is left.
std::string WorkbookSheetName(const std::string& Name);
// Why Name cannot name a sheet; empty when it can.
std::string SheetNameProblem(const std::string& Name);
