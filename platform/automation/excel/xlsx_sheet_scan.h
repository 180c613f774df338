#pragma once
// Reads a worksheet part of an .xlsx package in pieces, so that a sheet of any size can be
// merged into with little memory: the part is split at its sheetData element into a head
// (everything up to and with the start tag <sheetData ...>), the rows, and a tail (from the
// end tag </sheetData> on). Head and tail are the sheet's settings, which the merge
// changes as XML; the rows are only counted when the package is opened and copied as
// they are when it is saved. A self-closing <sheetData/> comes out as a start and an end
// tag. Markup is recognised with its comments, CDATA sections, processing instructions
// and quoted attribute values; the sheetData element is the one of the SpreadsheetML
// namespace, under whatever prefix the part binds that namespace to (<sheetData> or
// <x:sheetData>), and its rows and cells are those under the same prefix.

#include "platform/automation/zip_package.h"

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct XlsxSheetScan {
    std::string Head, Tail; // only when asked for
    int LastRow = 0, LastCol = 0;
};

// The most bytes of a part that are held in memory at once: a part read whole, or the
// head and the tail of a sheet together.
constexpr std::size_t XlsxHeldPartLimit = HeldPartLimit;

// Scans part `name` of `zip` (package file `package`, for messages). With `keepHeadTail`
// the head and tail are kept (raising when they exceed XlsxHeldPartLimit together); with
// `countRows` the last row number and last column of the rows are found; `rows`, when set,
// receives the rows' bytes in order, in pieces. Raises Exception when the part is missing,
// cannot be read or has no sheetData element.
XlsxSheetScan ScanXlsxSheet(zip_t* zip, const std::string& name, const std::string& package, bool keepHeadTail,
                            bool countRows, const std::function<void(std::string_view)>& rows = {});
