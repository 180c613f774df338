#pragma once
// The native spreadsheet application, registered as "Excel.Application". It answers the
// members the spreadsheet exporter uses (see excel_server.cpp) on an in-process workbook
// model that streams its rows (excel_workbook.h, where the value-reading rules are) and
// saves .xlsx packages.

#include "platform/automation/automation_value.h"

#include <memory>

std::shared_ptr<AutomationObject> CreateExcelApplication();
