#include "platform/automation/excel/xl_xml.h"

namespace XlXml {

namespace {

std::string_view PrefixOf(std::string_view qualified)
{
    const std::size_t colon = qualified.find(':');
    return colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon);
}

bool IsElement(pugi::xml_node n, std::string_view local, std::string_view ns)
{
    if (n.type() != pugi::node_element) return false;
    const std::string_view name = n.name();
    return LocalName(name) == local && NamespaceOf(n, PrefixOf(name)) == ns;
}

} // namespace

std::string_view LocalName(std::string_view qualified)
{
    const std::size_t colon = qualified.find(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

std::string_view NamespaceOf(pugi::xml_node at, std::string_view prefix)
{
    if (prefix == "xml") return "http://www.w3.org/XML/1998/namespace";
    const std::string declaration = prefix.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefix);
    for (pugi::xml_node n = at; n && n.type() == pugi::node_element; n = n.parent())
        if (const pugi::xml_attribute a = n.attribute(declaration.c_str())) return a.value();
    return {};
}

bool Is(pugi::xml_node n, const char* local, const char* ns)
{
    return IsElement(n, local, ns);
}

pugi::xml_node Child(pugi::xml_node parent, const char* local, const char* ns)
{
    for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling())
        if (IsElement(n, local, ns)) return n;
    return {};
}

pugi::xml_node Next(pugi::xml_node n)
{
    const std::string_view name = n.name();
    const std::string_view local = LocalName(name);
    const std::string_view ns = NamespaceOf(n, PrefixOf(name));
    for (pugi::xml_node s = n.next_sibling(); s; s = s.next_sibling())
        if (IsElement(s, local, ns)) return s;
    return {};
}

std::string NewName(pugi::xml_node parent, const char* local)
{
    const std::string_view prefix = PrefixOf(parent.name());
    return prefix.empty() ? std::string(local) : std::string(prefix) + ":" + local;
}

pugi::xml_attribute Attribute(pugi::xml_node n, const char* local, const char* ns)
{
    for (pugi::xml_attribute a : n.attributes()) {
        const std::string_view name = a.name();
        const std::string_view prefix = PrefixOf(name);
        // Attributes without a prefix belong to no namespace.
        if (!prefix.empty() && prefix != "xmlns" && LocalName(name) == local && NamespaceOf(n, prefix) == ns) return a;
    }
    return {};
}

std::string PrefixFor(pugi::xml_node n, const char* ns, const char* wanted)
{
    for (pugi::xml_node e = n; e && e.type() == pugi::node_element; e = e.parent())
        for (pugi::xml_attribute a : e.attributes()) {
            const std::string_view name = a.name();
            // A prefix bound to ns here, unless a nearer element binds it to another.
            if (name.starts_with("xmlns:") && ns == std::string_view(a.value())
                && NamespaceOf(n, name.substr(6)) == ns)
                return std::string(name.substr(6)) + ":";
        }
    std::string prefix = wanted;
    for (int k = 1; !NamespaceOf(n, prefix).empty(); ++k) prefix = wanted + std::to_string(k);
    n.append_attribute(("xmlns:" + prefix).c_str()).set_value(ns);
    return prefix + ":";
}

} // namespace XlXml
