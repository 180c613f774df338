// The exporters that draw with Qt Gui (PDF) or hand their text to the desktop (the
// clipboard) join the factory when their library is loaded: linked into a program with
// the Gui library, or brought by the Gui module into one that links the core alone.

#include "cellfile/clipboard_exporter.h"
#include "cellfile/pdf_exporter.h"
#include "office/exporter_factory.h"

namespace {

bool RegisterGuiExporters()
{
    RegisterExporter(tePDF, {".pdf"}, [] { return std::make_unique<TKVExportToPDF>(); });
    RegisterExporter(teClipboard, {}, [] { return std::make_unique<TKVExportToClipboard>(); });
    return true;
}

const bool gRegistered = RegisterGuiExporters();

} // namespace

// Referenced by the users of the library so that a static link keeps this file.
extern "C" const bool tabrix_gui_exporters_linked = gRegistered;
