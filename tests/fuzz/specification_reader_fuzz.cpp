// Feeds arbitrary bytes to the specification reader. Whatever it makes of them must
// be written again without trouble, and what the writer produces must read back
// without an error to the same settings (saving them again gives the same text) and
// pass the strict check of front ends. A text that passes the check must read without
// an error.

#include "export/export_component.h"
#include "export/specification_file.h"
#include "framework/exceptions.h"
#include "framework/streams.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
std::string RoundTrip(const std::string& Text, bool MayFail)
{
    TKVExportBaseComponent component;
    TStringStream in(Text);
    try {
        component.LoadSpecificationFromStream(in);
    } catch (const EConvertError&) {
        if (!MayFail)
            std::abort();
    }
    TStringStream out;
    component.SaveSpecificationToStream(out, "fuzz");
    return out.DataString();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    const std::string input(reinterpret_cast<const char*>(Data), Size);
    const std::string first = RoundTrip(input, SpecificationTextProblem(input).empty() ? false : true);
    if (!SpecificationTextProblem(first).empty())
        std::abort();
    if (RoundTrip(first, false) != first)
        std::abort();
    return 0;
}
