#include "tests/support/libreoffice_reader.h"

#include "tests/support/ooxml_schema_check.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <pugixml.hpp>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace {

std::string Soffice()
{
    QString path = QStandardPaths::findExecutable("soffice");
    if (path.isEmpty()) path = QStandardPaths::findExecutable("libreoffice");
    return path.toStdString();
}

struct Props {
    int Bold = -1, Italic = -1, Underline = -1; // -1 = not set here
    std::string FontName, Color, Background, Align;
    std::string Parent;

    void Over(const Props& o) // o wins where it sets something
    {
        if (o.Bold >= 0) Bold = o.Bold;
        if (o.Italic >= 0) Italic = o.Italic;
        if (o.Underline >= 0) Underline = o.Underline;
        if (!o.FontName.empty()) FontName = o.FontName;
        if (!o.Color.empty()) Color = o.Color;
        if (!o.Background.empty()) Background = o.Background;
        if (!o.Align.empty()) Align = o.Align;
    }
};

class Parser {
public:
    LoDocument Doc;

    void Run(pugi::xml_node root)
    {
        for (pugi::xml_node f : root.child("office:font-face-decls").children("style:font-face")) {
            std::string family = f.attribute("svg:font-family").value();
            if (family.size() >= 2 && (family.front() == '\'' || family.front() == '"'))
                family = family.substr(1, family.size() - 2);
            FFaces[f.attribute("style:name").value()] = family;
        }
        ReadStyles(root.child("office:styles"));
        ReadStyles(root.child("office:automatic-styles"));
        ReadPage(root);
        pugi::xml_node text = root.child("office:body").child("office:text");
        Body(text);
    }

private:
    void ReadStyles(pugi::xml_node styles)
    {
        for (pugi::xml_node s : styles.children("style:style")) {
            Props p;
            p.Parent = s.attribute("style:parent-style-name").value();
            if (pugi::xml_node t = s.child("style:text-properties")) {
                std::string w = t.attribute("fo:font-weight").value();
                if (!w.empty()) p.Bold = w == "bold" || w == "700" || w == "800" || w == "900";
                std::string i = t.attribute("fo:font-style").value();
                if (!i.empty()) p.Italic = i == "italic" || i == "oblique";
                std::string u = t.attribute("style:text-underline-style").value();
                if (!u.empty()) p.Underline = u != "none";
                std::string face = t.attribute("style:font-name").value();
                if (!face.empty()) p.FontName = FFaces.count(face) ? FFaces[face] : face;
                p.Color = t.attribute("fo:color").value();
                std::string bg = t.attribute("fo:background-color").value();
                if (bg != "transparent") p.Background = bg;
            }
            if (pugi::xml_node pp = s.child("style:paragraph-properties")) p.Align = pp.attribute("fo:text-align").value();
            FStyles[s.attribute("style:name").value()] = p;
        }
        for (pugi::xml_node s : styles.children("style:page-layout")) FLayouts[s.attribute("style:name").value()] = s;
        for (pugi::xml_node s : styles.children("style:style"))
            if (std::string(s.attribute("style:family").value()) == "table-column")
                if (pugi::xml_node c = s.child("style:table-column-properties"))
                    FColumnWidths[s.attribute("style:name").value()] = LoLengthToPoints(c.attribute("style:column-width").value());
    }

    Props Resolve(const std::string& name, int depth = 0)
    {
        Props r;
        auto it = FStyles.find(name);
        if (it == FStyles.end() || depth > 20) return r;
        if (!it->second.Parent.empty()) r = Resolve(it->second.Parent, depth + 1);
        r.Over(it->second);
        return r;
    }

    void ReadPage(pugi::xml_node root)
    {
        pugi::xml_node master = root.child("office:master-styles").child("style:master-page");
        auto it = FLayouts.find(master.attribute("style:page-layout-name").value());
        if (it == FLayouts.end()) return;
        pugi::xml_node p = it->second.child("style:page-layout-properties");
        Doc.PageWidthPt = LoLengthToPoints(p.attribute("fo:page-width").value());
        Doc.PageHeightPt = LoLengthToPoints(p.attribute("fo:page-height").value());
        Doc.MarginTopPt = LoLengthToPoints(p.attribute("fo:margin-top").value());
        Doc.MarginBottomPt = LoLengthToPoints(p.attribute("fo:margin-bottom").value());
        Doc.MarginLeftPt = LoLengthToPoints(p.attribute("fo:margin-left").value());
        Doc.MarginRightPt = LoLengthToPoints(p.attribute("fo:margin-right").value());
        Doc.PrintOrientation = p.attribute("style:print-orientation").value();
    }

    void Body(pugi::xml_node parent)
    {
        for (pugi::xml_node n : parent.children()) {
            std::string name = n.name();
            if (name == "text:p" || name == "text:h") {
                LoText t = Paragraph(n);
                Doc.Outline.push_back("p:" + t.Text);
                Doc.Paragraphs.push_back(std::move(t));
            } else if (name == "table:table") {
                LoTable t;
                Table(n, t);
                Doc.Outline.push_back("table:" + std::to_string(Doc.Tables.size()));
                Doc.Tables.push_back(std::move(t));
            } else if (name == "text:section" || name == "text:list" || name == "text:list-item") {
                Body(n);
            }
        }
    }

    void Table(pugi::xml_node table, LoTable& t)
    {
        for (pugi::xml_node n : table.children()) {
            std::string name = n.name();
            if (name == "table:table-column") {
                int repeat = std::max(1, n.attribute("table:number-columns-repeated").as_int(1));
                double w = FColumnWidths.count(n.attribute("table:style-name").value())
                               ? FColumnWidths[n.attribute("table:style-name").value()] : 0;
                for (int i = 0; i < repeat; ++i) t.ColumnWidthsPt.push_back(w);
            } else if (name == "table:table-row") {
                std::vector<LoText> row;
                for (pugi::xml_node c : n.children()) {
                    std::string cn = c.name();
                    if (cn != "table:table-cell" && cn != "table:covered-table-cell") continue;
                    LoText cell;
                    bool first = true;
                    for (pugi::xml_node p : c.children()) {
                        std::string pn = p.name();
                        if (pn != "text:p" && pn != "text:h") continue;
                        LoText pt = Paragraph(p);
                        if (first) {
                            cell = pt;
                        } else {
                            cell.Text += "\n" + pt.Text;
                            cell.Pictures += pt.Pictures;
                        }
                        first = false;
                    }
                    row.push_back(std::move(cell));
                }
                t.Rows.push_back(std::move(row));
            } else if (name == "table:table-header-rows" || name == "table:table-rows" || name == "table:table-row-group") {
                Table(n, t);
            }
        }
    }

    LoText Paragraph(pugi::xml_node p)
    {
        LoText t;
        Props base = Resolve(p.attribute("text:style-name").value());
        Props spanProps;
        bool haveSpan = false;
        Inline(p, t, base, spanProps, haveSpan);
        Props r = base;
        if (haveSpan) r = spanProps;
        t.Bold = r.Bold > 0;
        t.Italic = r.Italic > 0;
        t.Underline = r.Underline > 0;
        t.FontName = r.FontName;
        t.Color = r.Color;
        t.Background = r.Background;
        t.Align = base.Align;
        return t;
    }

    void Inline(pugi::xml_node parent, LoText& t, const Props& current, Props& firstSpan, bool& haveSpan)
    {
        for (pugi::xml_node n : parent.children()) {
            if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
                std::string v = n.value();
                t.Text += v;
                if (!haveSpan && v.find_first_not_of(" ") != std::string::npos) {
                    firstSpan = current;
                    haveSpan = true;
                }
                continue;
            }
            std::string name = n.name();
            if (name == "text:span" || name == "text:a") {
                Props p = current;
                p.Over(Resolve(n.attribute("text:style-name").value()));
                Inline(n, t, p, firstSpan, haveSpan);
            } else if (name == "text:s") {
                t.Text.append(static_cast<std::size_t>(std::max(1, n.attribute("text:c").as_int(1))), ' ');
            } else if (name == "text:tab") {
                t.Text += '\t';
            } else if (name == "text:line-break") {
                t.Text += '\n';
            } else if (name == "draw:frame") {
                if (pugi::xml_node image = n.child("draw:image")) {
                    LoPicture pic;
                    pic.WidthPt = LoLengthToPoints(n.attribute("svg:width").value());
                    pic.HeightPt = LoLengthToPoints(n.attribute("svg:height").value());
                    std::string b64 = image.child_value("office:binary-data");
                    if (!b64.empty()) {
                        QImage img;
                        if (img.loadFromData(QByteArray::fromBase64(QByteArray(b64.data(), static_cast<qsizetype>(b64.size()))))) {
                            pic.PixelWidth = img.width();
                            pic.PixelHeight = img.height();
                        }
                    }
                    Doc.Pictures.push_back(pic);
                    ++t.Pictures;
                }
            } else if (name == "text:bookmark" || name == "text:bookmark-start" || name == "text:bookmark-end" ||
                       name == "text:soft-page-break") {
            } else {
                Inline(n, t, current, firstSpan, haveSpan);
            }
        }
    }

    std::map<std::string, std::string> FFaces;
    std::map<std::string, Props> FStyles;
    std::map<std::string, pugi::xml_node> FLayouts;
    std::map<std::string, double> FColumnWidths;
};

} // namespace

double LoLengthToPoints(const std::string& length)
{
    if (length.empty()) return 0;
    std::size_t used = 0;
    double v = 0;
    try {
        v = std::stod(length, &used);
    } catch (...) {
        return 0;
    }
    std::string unit = length.substr(used);
    if (unit == "in") return v * 72;
    if (unit == "cm") return v * 72 / 2.54;
    if (unit == "mm") return v * 72 / 25.4;
    if (unit == "pc") return v * 12;
    return v; // pt
}

bool LibreOfficeAvailable() { return !Soffice().empty(); }

std::string ConvertWithLibreOffice(const std::string& file, const std::string& format, const std::string& outDir,
                                   int timeoutSeconds)
{
    std::string soffice = Soffice();
    if (soffice.empty()) throw std::runtime_error("LibreOffice (soffice) is not installed");
    static std::atomic<int> counter{0};
    std::string profile = "/tmp/tabrix-lo-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + "-" +
                          std::to_string(reinterpret_cast<std::uintptr_t>(&file) & 0xFFFF);
    QStringList args{"--headless", "--norestore", "--nologo", "--nodefault", "--nolockcheck",
                     QString::fromStdString("-env:UserInstallation=file://" + profile),
                     "--convert-to", QString::fromStdString(format), "--outdir", QString::fromStdString(outDir),
                     QString::fromStdString(file)};
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QString::fromStdString(soffice), args);
    bool finished = process.waitForStarted(30000) && process.waitForFinished(timeoutSeconds * 1000);
    std::string output = process.readAll().toStdString();
    if (!finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    QDir(QString::fromStdString(profile)).removeRecursively();
    if (!finished)
        throw std::runtime_error("LibreOffice did not convert '" + file + "' within " + std::to_string(timeoutSeconds) +
                                 " s: " + output);
    std::string base = QFileInfo(QString::fromStdString(file)).completeBaseName().toStdString();
    std::string result = outDir + "/" + base + "." + format.substr(0, format.find(':'));
    if (!QFileInfo::exists(QString::fromStdString(result)))
        throw std::runtime_error("LibreOffice could not convert '" + file + "' to " + format + " (exit code " +
                                 std::to_string(process.exitCode()) + "): " + output);
    return result;
}

LoDocument ParseFlatOdt(const std::string& xml)
{
    pugi::xml_document doc;
    pugi::xml_parse_result r = doc.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_ws_pcdata);
    if (!r) throw std::runtime_error(std::string("LibreOffice's flat ODF output is not well-formed: ") + r.description());
    Parser p;
    p.Run(doc.document_element());
    p.Doc.Xml = xml;
    return std::move(p.Doc);
}

LoDocument ReadWithLibreOffice(const std::string& file, int timeoutSeconds)
{
    // A package read back is also checked against the schemas: LibreOffice forgives what
    // other readers reject.
    std::string ext = QFileInfo(QString::fromStdString(file)).suffix().toLower().toStdString();
    if (ext == "docx" || ext == "xlsx")
        if (std::string faults = OoxmlSchemaFaults(file); !faults.empty())
            throw std::runtime_error("'" + file + "' does not match the Office Open XML schemas:\n" + faults);
    QTemporaryDir dir(QDir::tempPath() + "/tabrix-lo-out-XXXXXX");
    if (!dir.isValid()) throw std::runtime_error("Cannot create a temporary folder");
    std::string out = ConvertWithLibreOffice(file, "fodt", dir.path().toStdString(), timeoutSeconds);
    std::ifstream in(out, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ParseFlatOdt(ss.str());
}
