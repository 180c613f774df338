#pragma once
// The native spreadsheet application, registered as "Excel.Application". It answers the
// members the spreadsheet exporter uses (see excel_server.cpp) on an in-process workbook
// model that streams its rows (excel_workbook.h, where the value-reading rules are) and
// saves .xlsx packages and .xls workbooks.
//
// What Workbook.SaveAs(FileName[, FileFormat]) writes:
//   FileFormat        written as
//   none or 0         by the extension: .xlsx Office Open XML; .xls / .xlt BIFF8; else refused
//   51                Office Open XML workbook (.xlsx)
//   56, -4143         BIFF8 workbook in a compound file (.xls)
//   16, 27, 29, 33    BIFF8 as well: the old single-sheet formats (Excel 2, 2 Far East,
//                     3, 4) are read by no current program, and every program that reads
//                     them reads BIFF8
//   39, 43            BIFF8 as well (Excel 5/95, 95/97): BIFF8 is what these codes'
//                     readers open without a warning
//   anything else     refused with a message
// .xls limits: 65,536 rows, 256 columns, 32,767 characters a cell, 4,035 cell formats;
// pictures are not written to .xls (the save is refused with a message naming them).

#include "platform/automation/automation_value.h"

#include <memory>

std::shared_ptr<AutomationObject> CreateExcelApplication();
