#pragma once
// The native word processor: an automation server with the object model the
// word-processor exporter drives (application, documents, document, ranges, paragraph
// format, fonts, tables, rows, columns, cells, borders, inline pictures, page setup,
// protection, save, close, quit), backed by WordDocumentModel.
//
// Registered under "Word.Application" by RegisterNativeServers().

#include "platform/automation/automation_value.h"

#include <memory>

std::shared_ptr<AutomationObject> CreateWordApplication();
