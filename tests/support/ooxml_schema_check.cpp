#include "tests/support/ooxml_schema_check.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <pugixml.hpp>
#include <zip.h>

#include <algorithm>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <vector>

namespace {

const char* const McNs = "http://schemas.openxmlformats.org/markup-compatibility/2006";

std::string Prefix(const char* name)
{
    std::string n = name;
    auto colon = n.find(':');
    return colon == std::string::npos ? "" : n.substr(0, colon);
}

// The schema file for a part by its root element's namespace; "" for a namespace that is not
// checked, "missing:<file>" for one whose schema is not in the folder yet.
std::string SchemaFor(const std::string& ns)
{
    static const std::map<std::string, std::string> schemas = {
        {"http://schemas.openxmlformats.org/wordprocessingml/2006/main", "wml.xsd"},
        {"http://schemas.openxmlformats.org/spreadsheetml/2006/main", "sml.xsd"},
        {"http://schemas.openxmlformats.org/drawingml/2006/main", "dml-main.xsd"},
        {"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties",
         "shared-documentPropertiesExtended.xsd"},
        {"http://schemas.openxmlformats.org/package/2006/content-types", "opc/opc-contentTypes.xsd"},
        {"http://schemas.openxmlformats.org/package/2006/relationships", "opc/opc-relationships.xsd"},
    };
    auto it = schemas.find(ns);
    if (it == schemas.end()) return {};
    std::string path = std::string(TABRIX_OOXML_SCHEMAS) + "/" + it->second;
    return QFile::exists(QString::fromStdString(path)) ? path : "missing:" + it->second;
}

// Removes what a consumer may ignore: elements and attributes of the ignorable namespaces,
// mc: attributes, and mc:AlternateContent (replaced by its fallback content).
class Stripper {
public:
    explicit Stripper(pugi::xml_document& doc)
    {
        CollectBindings(doc.document_element());
        for (const auto& [prefix, uri] : FBindings)
            if (uri == McNs) FMcPrefixes.insert(prefix);
    }

    void Run(pugi::xml_node root)
    {
        CollectIgnorable(root);
        Strip(root);
    }

    std::string Namespace(pugi::xml_node n) const
    {
        auto it = FBindings.find(Prefix(n.name()));
        return it == FBindings.end() ? std::string() : it->second;
    }

private:
    void CollectBindings(pugi::xml_node n)
    {
        for (pugi::xml_attribute a : n.attributes()) {
            std::string name = a.name();
            if (name == "xmlns") FBindings.emplace("", a.value());
            else if (name.rfind("xmlns:", 0) == 0) FBindings.emplace(name.substr(6), a.value());
        }
        for (pugi::xml_node c : n.children())
            if (c.type() == pugi::node_element) CollectBindings(c);
    }

    void CollectIgnorable(pugi::xml_node n)
    {
        for (const std::string& mc : FMcPrefixes) {
            std::istringstream list(n.attribute((mc + ":Ignorable").c_str()).value());
            for (std::string p; list >> p;)
                if (auto it = FBindings.find(p); it != FBindings.end()) FIgnorable.insert(it->second);
        }
        for (pugi::xml_node c : n.children())
            if (c.type() == pugi::node_element) CollectIgnorable(c);
    }

    bool IsIgnorable(const char* name) const
    {
        auto it = FBindings.find(Prefix(name));
        return it != FBindings.end() && (FIgnorable.count(it->second) || it->second == McNs);
    }

    void Strip(pugi::xml_node n)
    {
        for (pugi::xml_attribute a = n.first_attribute(); a;) {
            pugi::xml_attribute next = a.next_attribute();
            std::string name = a.name();
            if (name.rfind("xmlns", 0) != 0 && IsIgnorable(a.name())) n.remove_attribute(a);
            a = next;
        }
        for (pugi::xml_node c = n.first_child(); c;) {
            pugi::xml_node next = c.next_sibling();
            if (c.type() == pugi::node_element && IsIgnorable(c.name())) {
                auto it = FBindings.find(Prefix(c.name()));
                std::string local = std::string(c.name()).substr(Prefix(c.name()).size() + 1);
                if (it->second == McNs && local == "AlternateContent") {
                    for (pugi::xml_node alt : c.children()) {
                        std::string an = alt.name();
                        if (an.size() < 8 || an.substr(an.size() - 8) != "Fallback") continue;
                        for (pugi::xml_node f : alt.children()) {
                            pugi::xml_node copy = n.insert_copy_before(f, c);
                            if (copy.type() == pugi::node_element) Strip(copy);
                        }
                    }
                }
                n.remove_child(c);
            } else if (c.type() == pugi::node_element) {
                Strip(c);
            }
            c = next;
        }
    }

    std::map<std::string, std::string> FBindings; // prefix -> namespace (first binding)
    std::set<std::string> FMcPrefixes;
    std::set<std::string> FIgnorable; // namespaces
};

// "/w:document/w:body/w:p[3]" for every line of the indented part that starts an element.
std::vector<std::string> PathsByLine(const std::string& xml)
{
    std::vector<std::string> byLine;
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size())) return byLine;
    std::vector<std::size_t> lineStarts{0};
    for (std::size_t i = 0; i < xml.size(); ++i)
        if (xml[i] == '\n') lineStarts.push_back(i + 1);
    byLine.resize(lineStarts.size() + 1);
    struct Walker : pugi::xml_tree_walker {
        std::vector<std::size_t>* Starts;
        std::vector<std::string>* ByLine;
        bool for_each(pugi::xml_node& n) override
        {
            if (n.type() != pugi::node_element) return true;
            std::string path;
            for (pugi::xml_node p = n; p && p.type() == pugi::node_element; p = p.parent()) {
                int index = 0, same = 0;
                for (pugi::xml_node s = p.parent().first_child(); s; s = s.next_sibling()) {
                    if (std::string(s.name()) != p.name()) continue;
                    ++same;
                    if (s == p) index = same;
                }
                std::string step = "/" + std::string(p.name());
                if (same > 1) step += "[" + std::to_string(index) + "]";
                path = step + path;
            }
            auto at = static_cast<std::size_t>(n.offset_debug());
            std::size_t line = static_cast<std::size_t>(
                std::upper_bound(Starts->begin(), Starts->end(), at) - Starts->begin()); // 1-based
            if (line < ByLine->size() && (*ByLine)[line].empty()) (*ByLine)[line] = path;
            return true;
        }
    } walker;
    walker.Starts = &lineStarts;
    walker.ByLine = &byLine;
    doc.traverse(walker);
    return byLine;
}

struct Part {
    std::string Name;
    std::string File;                 // the stripped, indented copy
    std::vector<std::string> Paths;   // element path per line of File
};

std::string ReadEntry(zip_t* z, zip_uint64_t index, std::string& error)
{
    zip_stat_t st;
    if (zip_stat_index(z, index, 0, &st) != 0) {
        error = zip_strerror(z);
        return {};
    }
    std::string data(static_cast<std::size_t>(st.size), '\0');
    zip_file_t* f = zip_fopen_index(z, index, 0);
    zip_int64_t n = f ? (data.empty() ? 0 : zip_fread(f, data.data(), data.size())) : -1;
    if (f) zip_fclose(f);
    if (n != static_cast<zip_int64_t>(data.size())) error = "cannot be read";
    return data;
}

} // namespace

std::string OoxmlSchemaFaults(const std::string& package)
{
    std::string xmllint = QStandardPaths::findExecutable("xmllint").toStdString();
    if (xmllint.empty()) return "xmllint is not installed (Debian package libxml2-utils)\n";
    int err = 0;
    std::unique_ptr<zip_t, decltype(&zip_discard)> z(zip_open(package.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err),
                                                      &zip_discard);
    if (!z) return package + ": not a readable zip package\n";
    QTemporaryDir dir(QDir::tempPath() + "/tabrix-schema-XXXXXX");
    if (!dir.isValid()) return "cannot create a temporary folder\n";

    std::string faults;
    std::map<std::string, std::vector<Part>> bySchema;
    zip_int64_t count = zip_get_num_entries(z.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        std::string name = zip_get_name(z.get(), static_cast<zip_uint64_t>(i), 0);
        if (!name.ends_with(".xml") && !name.ends_with(".rels")) continue;
        std::string error;
        std::string data = ReadEntry(z.get(), static_cast<zip_uint64_t>(i), error);
        if (!error.empty()) {
            faults += name + ": " + error + "\n";
            continue;
        }
        pugi::xml_document doc;
        pugi::xml_parse_result r = doc.load_buffer(data.data(), data.size(), pugi::parse_default | pugi::parse_ws_pcdata);
        if (!r) {
            faults += name + ": not well-formed XML: " + r.description() + "\n";
            continue;
        }
        Stripper stripper(doc);
        std::string schema = SchemaFor(stripper.Namespace(doc.document_element()));
        if (schema.empty()) continue;
        if (schema.rfind("missing:", 0) == 0) {
            faults += name + ": its schema " + schema.substr(8) + " is not in " + TABRIX_OOXML_SCHEMAS + "\n";
            continue;
        }
        stripper.Run(doc.document_element());
        std::ostringstream os;
        doc.save(os, "  ", pugi::format_indent);
        Part part;
        part.Name = name;
        part.File = dir.filePath(QString::number(i) + ".xml").toStdString();
        part.Paths = PathsByLine(os.str());
        QFile out(QString::fromStdString(part.File));
        if (!out.open(QIODevice::WriteOnly) || out.write(os.str().data(), static_cast<qint64>(os.str().size())) < 0)
            return "cannot write " + part.File + "\n";
        bySchema[schema].push_back(std::move(part));
    }

    static const std::regex located(R"(^(.*?):(\d+): (.*)$)");
    for (const auto& [schema, parts] : bySchema) {
        QStringList args{"--noout", "--nonet", "--schema", QString::fromStdString(schema)};
        std::map<std::string, const Part*> byFile;
        for (const Part& p : parts) {
            args << QString::fromStdString(p.File);
            byFile[p.File] = &p;
        }
        QProcess lint;
        lint.setProcessChannelMode(QProcess::MergedChannels);
        lint.start(QString::fromStdString(xmllint), args);
        if (!lint.waitForStarted() || !lint.waitForFinished(120000)) return "xmllint did not run\n";
        std::istringstream out(lint.readAll().toStdString());
        for (std::string line; std::getline(out, line);) {
            if (line.ends_with(" validates")) continue;
            if (line.find(" fails to validate") != std::string::npos) continue;
            std::smatch m;
            if (std::regex_match(line, m, located) && byFile.count(m[1].str())) {
                const Part& p = *byFile[m[1].str()];
                std::size_t n = std::stoul(m[2].str());
                std::string path = n < p.Paths.size() ? p.Paths[n] : std::string();
                faults += p.Name + " " + path + ": " + m[3].str() + "\n";
            } else if (line.find_first_not_of(" ^") != std::string::npos) {
                faults += line + "\n"; // a schema that does not load, or context lines
            }
        }
        if (lint.exitCode() != 0 && faults.empty())
            faults += "xmllint failed with exit code " + std::to_string(lint.exitCode()) + "\n";
    }
    return faults;
}
