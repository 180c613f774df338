#pragma once
// The SpreadsheetML parts of a package (workbook, worksheets, styles) as pugixml trees,
// whatever prefix a part binds the namespaces to: programs write <worksheet xmlns="...">
// as well as <x:worksheet xmlns:x="...">. Elements and attributes are found by their
// namespace and local name; an element added gets the prefix of its parent.

#include <pugixml.hpp>

#include <string>
#include <string_view>

namespace XlXml {

inline constexpr const char* MainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr const char* RelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string_view LocalName(std::string_view qualified);
// The namespace that node `at` (an element) binds to `prefix` ("" for the default one);
// empty when it binds none.
std::string_view NamespaceOf(pugi::xml_node at, std::string_view prefix);
// Whether `n` is the element `local` of namespace `ns`.
bool Is(pugi::xml_node n, const char* local, const char* ns = MainNs);
// The first child element `local` of namespace `ns`; null when there is none.
pugi::xml_node Child(pugi::xml_node parent, const char* local, const char* ns = MainNs);
// The next sibling of `n` of the same namespace and local name.
pugi::xml_node Next(pugi::xml_node n);
// The qualified name for a new child `local` of `parent`, of the parent's namespace.
std::string NewName(pugi::xml_node parent, const char* local);
// The attribute `local` of namespace `ns` (r:id and the like); null when there is none.
pugi::xml_attribute Attribute(pugi::xml_node n, const char* local, const char* ns);
// The prefix `n` binds to `ns` (with its ":"), declared on `n` as `wanted` (or
// `wanted` with a number) when nothing binds it yet.
std::string PrefixFor(pugi::xml_node n, const char* ns, const char* wanted);

// Calls f(node) for each child element `local` of namespace MainNs.
template <class F> void ForChildren(pugi::xml_node parent, const char* local, F&& f)
{
    for (pugi::xml_node n = Child(parent, local); n;) {
        const pugi::xml_node next = Next(n);
        f(n);
        n = next;
    }
}

} // namespace XlXml
