// Writes an XlWorkbook as an Office Open XML workbook (.xlsx).

#include "platform/automation/excel/excel_workbook.h"
#include "platform/automation/excel/xl_text.h"
#include "platform/automation/excel/xl_xml.h"
#include "platform/automation/excel/xlsx_sheet_scan.h"

#include "framework/files.h"
#include "platform/automation/word/word_text.h"
#include "platform/automation/zip_package.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <zip.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <pugixml.hpp>
#include <set>
#include <sstream>

namespace {

const char* const XmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const char* const MainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char* const RelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const char* const PkgRelNs = "http://schemas.openxmlformats.org/package/2006/relationships";

std::string Letters(int n)
{
    std::string name;
    while (n > 0) {
        name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
        n = (n - 1) / 26;
    }
    return name;
}

void AppendDigits(std::string& b, long long v)
{
    char buf[24];
    b.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// The cell formats' indexes as XlWorkbook::XfIndex gives them for a new workbook, whose
// own formats before ours number `Base`.
struct XfByBase {
    int Base;
    int operator()(int style) const { return style == 0 ? 0 : Base + style - 1; }
};

template <class Xf>
void AppendRowXml(std::string& b, const XlSpooledRow& row, const Xf& xf)
{
    char digits[16];
    const std::string_view rs(digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, row.Row).ptr - digits));
    b += "<row r=\"";
    b += rs;
    b += '"';
    if (row.Height > 0) {
        b += " ht=\"";
        XlAppendNumberText(b, row.Height);
        b += "\" customHeight=\"1\"";
    }
    if (row.Style > 0) {
        b += " s=\"";
        AppendDigits(b, xf(row.Style));
        b += "\" customFormat=\"1\"";
    }
    b += '>';
    for (const XlSpooledCell& cell : row.Cells) {
        b += "<c r=\"";
        char letters[4];
        int k = 4;
        for (int n = cell.Col; n > 0 && k > 0; n = (n - 1) / 26) letters[--k] = static_cast<char>('A' + (n - 1) % 26);
        b.append(letters + k, static_cast<std::size_t>(4 - k));
        b += rs;
        b += '"';
        if (cell.Style) {
            b += " s=\"";
            AppendDigits(b, xf(cell.Style));
            b += '"';
        }
        switch (cell.Kind) {
        case XlKind::Blank: b += "/>"; break;
        case XlKind::Number:
            b += "><v>";
            XlAppendNumberText(b, cell.Number);
            b += "</v></c>";
            break;
        case XlKind::Text:
            // An empty text too: readers take <t></t> for a text of no characters.
            b += " t=\"inlineStr\"><is><t>";
            XlAppendXmlText(b, cell.Text);
            b += "</t></is></c>";
            break;
        case XlKind::Boolean:
            b += cell.Number != 0 ? " t=\"b\"><v>1</v></c>" : " t=\"b\"><v>0</v></c>";
            break;
        }
    }
    b += "</row>";
}

} // namespace

void XlAppendRowsXml(std::string& out, std::string_view records, int xfBase)
{
    XlSpooledRow row;
    for (std::size_t at = 0; at + sizeof(std::uint32_t) <= records.size();) {
        std::uint32_t size = 0;
        std::memcpy(&size, records.data() + at, sizeof size);
        at += sizeof size;
        XlReadSpooledRow(records.data() + at, row);
        AppendRowXml(out, row, XfByBase{xfBase});
        at += size;
    }
}

namespace {

std::string Inches(double points)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4f", points / 72.0);
    return buf;
}

std::string SheetHead(const XlSheet& sheet, bool active, const XlWorkbook& book)
{
    std::string x = XmlHead;
    x += std::string("<worksheet xmlns=\"") + MainNs + "\" xmlns:r=\"" + RelNs + "\">";
    x += "<dimension ref=\"A1";
    if (sheet.LastRow() > 0 && sheet.LastCol() > 0) x += ":" + Letters(sheet.LastCol()) + std::to_string(sheet.LastRow());
    x += "\"/>";
    x += "<sheetViews><sheetView workbookViewId=\"0\"";
    if (active) x += " tabSelected=\"1\"";
    x += ">";
    if (sheet.FreezeRows > 0 || sheet.FreezeCols > 0) {
        const std::string topLeft = Letters(sheet.FreezeCols + 1) + std::to_string(sheet.FreezeRows + 1);
        const char* pane = sheet.FreezeRows > 0 && sheet.FreezeCols > 0 ? "bottomRight"
            : sheet.FreezeRows > 0                                      ? "bottomLeft"
                                                                        : "topRight";
        x += "<pane";
        if (sheet.FreezeCols > 0) x += " xSplit=\"" + std::to_string(sheet.FreezeCols) + "\"";
        if (sheet.FreezeRows > 0) x += " ySplit=\"" + std::to_string(sheet.FreezeRows) + "\"";
        x += " topLeftCell=\"" + topLeft + "\" activePane=\"" + pane + "\" state=\"frozen\"/>";
        x += std::string("<selection pane=\"") + pane + "\" activeCell=\"" + topLeft + "\" sqref=\"" + topLeft
            + "\"/>";
    }
    x += "</sheetView></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
    bool cols = false;
    for (const auto& [c, column] : sheet.Columns()) {
        if (column.Width < 0 && !column.Hidden && column.Style == 0) continue;
        if (!cols) x += "<cols>";
        cols = true;
        x += "<col min=\"" + std::to_string(c) + "\" max=\"" + std::to_string(c) + "\" width=\"";
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.4g", column.Width < 0 ? 8.43 : column.Width);
        x += buf;
        x += "\"";
        if (column.Style) x += " style=\"" + std::to_string(book.XfIndex(column.Style)) + "\"";
        if (column.Hidden) x += " hidden=\"1\"";
        if (column.Width >= 0) x += " customWidth=\"1\"";
        x += "/>";
    }
    if (cols) x += "</cols>";
    x += "<sheetData>";
    return x;
}

std::string SheetTail(const XlSheet& sheet, bool drawing, const std::string& drawingRel)
{
    std::string x = "</sheetData>";
    if (sheet.Protected) {
        x += "<sheetProtection";
        if (!sheet.HashValue.empty())
            x += " algorithmName=\"SHA-512\" hashValue=\"" + sheet.HashValue + "\" saltValue=\"" + sheet.SaltValue
                + "\" spinCount=\"" + std::to_string(sheet.SpinCount) + "\"";
        else if (sheet.PasswordHash) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%04X", sheet.PasswordHash);
            x += std::string(" password=\"") + hex + "\"";
        }
        x += " sheet=\"1\" objects=\"1\" scenarios=\"1\"/>";
    }
    x += "<pageMargins left=\"" + Inches(sheet.LeftMargin) + "\" right=\"" + Inches(sheet.RightMargin) + "\" top=\""
        + Inches(sheet.TopMargin) + "\" bottom=\"" + Inches(sheet.BottomMargin)
        + "\" header=\"0.3\" footer=\"0.3\"/>";
    if (sheet.Orientation)
        x += std::string("<pageSetup orientation=\"") + (sheet.Orientation == 2 ? "landscape" : "portrait") + "\"/>";
    const std::string header = XlHeaderCode(sheet.LeftHeader, sheet.RawHeader);
    const std::string footer = XlHeaderCode(sheet.LeftFooter, sheet.RawFooter);
    if (!header.empty() || !footer.empty()) {
        x += "<headerFooter>";
        if (!header.empty()) {
            x += "<oddHeader>";
            XlAppendXmlText(x, header);
            x += "</oddHeader>";
        }
        if (!footer.empty()) {
            x += "<oddFooter>";
            XlAppendXmlText(x, footer);
            x += "</oddFooter>";
        }
        x += "</headerFooter>";
    }
    if (drawing) x += "<drawing r:id=\"" + drawingRel + "\"/>";
    x += "</worksheet>";
    return x;
}

} // namespace

namespace {

const char* const WorksheetType = "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
const char* const DrawingType = "application/vnd.openxmlformats-officedocument.drawing+xml";
const char* const WorkbookType = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";

std::string ReadEntry(zip_t* zip, const std::string& name, const std::string& package)
{
    return ReadHeldPart(zip, name, package);
}

bool HasEntry(zip_t* zip, const std::string& name)
{
    return zip_name_locate(zip, name.c_str(), 0) >= 0;
}

void Parse(pugi::xml_document& doc, const std::string& xml, const std::string& name)
{
    if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_declaration))
        throw Exception("The part '" + name + "' is not well-formed XML");
}

std::string Save(const pugi::xml_document& doc)
{
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw);
    return out.str();
}

std::string FolderOf(const std::string& part)
{
    const auto slash = part.rfind('/');
    return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

std::string RelsOf(const std::string& part)
{
    return FolderOf(part) + "_rels/" + part.substr(FolderOf(part).size()) + ".rels";
}

// A relationship target relative to the folder of its source part, as a package name.
std::string Resolve(const std::string& folder, std::string target)
{
    if (!target.empty() && target[0] == '/') return target.substr(1);
    std::string path = folder + target;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string piece = path.substr(start, end - start);
        if (piece == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!piece.empty() && piece != ".") parts.push_back(piece);
        start = end + 1;
    }
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : "/") + p;
    return out;
}

bool TypeIs(const pugi::xml_node rel, const char* suffix)
{
    return std::string_view(rel.attribute("Type").value()).ends_with(suffix);
}

const char* const WorksheetOrder[] = {
    "sheetPr", "dimension", "sheetViews", "sheetFormatPr", "cols", "sheetData", "sheetCalcPr", "sheetProtection",
    "protectedRanges", "scenarios", "autoFilter", "sortState", "dataConsolidate", "customSheetViews", "mergeCells",
    "phoneticPr", "conditionalFormatting", "dataValidations", "hyperlinks", "printOptions", "pageMargins", "pageSetup",
    "headerFooter", "rowBreaks", "colBreaks", "customProperties", "cellWatches", "ignoredErrors", "smartTags",
    "drawing", "legacyDrawing", "legacyDrawingHF", "drawingHF", "picture", "oleObjects", "controls",
    "webPublishItems", "tableParts", "extLst"};

// The worksheet's child `name`, made in its place in the schema's order when missing.
pugi::xml_node Ensure(pugi::xml_node ws, const char* name)
{
    if (pugi::xml_node n = XlXml::Child(ws, name)) return n;
    const std::string qualified = XlXml::NewName(ws, name);
    bool after = false;
    for (const char* o : WorksheetOrder) {
        if (after)
            if (pugi::xml_node next = XlXml::Child(ws, o)) return ws.insert_child_before(qualified.c_str(), next);
        if (std::strcmp(o, name) == 0) after = true;
    }
    return ws.append_child(qualified.c_str());
}

// A new first / last child `local` of `parent`, of the parent's namespace.
pugi::xml_node Prepend(pugi::xml_node parent, const char* local)
{
    return parent.prepend_child(XlXml::NewName(parent, local).c_str());
}

pugi::xml_node AppendChild(pugi::xml_node parent, const char* local)
{
    return parent.append_child(XlXml::NewName(parent, local).c_str());
}

void SetAttr(pugi::xml_node n, const char* name, const std::string& value)
{
    (n.attribute(name) ? n.attribute(name) : n.append_attribute(name)).set_value(value.c_str());
}

// The opened sheet's own XML with the export's changes; the rows go where the marker is.
// Columns the sheet had keep their ranges as they are (XlColumn::Kept).
// `rowPrefix` receives the prefix (with its ":") that the sheet's rows take.
std::string MergeSheet(const std::string& xml, const XlSheet& sheet, const XlWorkbook& book, const std::string& drawingRel,
                       std::string& rowPrefix)
{
    pugi::xml_document doc;
    Parse(doc, xml, sheet.SourcePart);
    pugi::xml_node ws = doc.document_element();
    if (!XlXml::Is(ws, "worksheet") || !XlXml::Child(ws, "sheetData"))
        throw Exception("The sheet '" + sheet.Name + "' is written in a form this application cannot change");
    if (pugi::xml_node dim = XlXml::Child(ws, "dimension"); dim && sheet.LastRow() > 0 && sheet.LastCol() > 0)
        SetAttr(dim, "ref", "A1:" + Letters(sheet.LastCol()) + std::to_string(sheet.LastRow()));
    if (sheet.FreezeRows > 0 || sheet.FreezeCols > 0) {
        pugi::xml_node views = Ensure(ws, "sheetViews");
        pugi::xml_node view = XlXml::Child(views, "sheetView");
        if (!view) {
            view = AppendChild(views, "sheetView");
            SetAttr(view, "workbookViewId", "0");
        }
        while (pugi::xml_node old = XlXml::Child(view, "pane")) view.remove_child(old);
        while (pugi::xml_node old = XlXml::Child(view, "selection")) view.remove_child(old);
        const std::string topLeft = Letters(sheet.FreezeCols + 1) + std::to_string(sheet.FreezeRows + 1);
        const char* paneName = sheet.FreezeRows > 0 && sheet.FreezeCols > 0 ? "bottomRight"
            : sheet.FreezeRows > 0                                           ? "bottomLeft"
                                                                             : "topRight";
        pugi::xml_node pane = Prepend(view, "pane");
        if (sheet.FreezeCols > 0) SetAttr(pane, "xSplit", std::to_string(sheet.FreezeCols));
        if (sheet.FreezeRows > 0) SetAttr(pane, "ySplit", std::to_string(sheet.FreezeRows));
        SetAttr(pane, "topLeftCell", topLeft);
        SetAttr(pane, "activePane", paneName);
        SetAttr(pane, "state", "frozen");
        pugi::xml_node sel = view.insert_child_after(XlXml::NewName(view, "selection").c_str(), pane);
        SetAttr(sel, "pane", paneName);
        SetAttr(sel, "activeCell", topLeft);
        SetAttr(sel, "sqref", topLeft);
    }
    const auto written = [](const XlColumn& column) {
        return !column.Kept && (column.Width >= 0 || column.Hidden || column.Style != 0);
    };
    bool anyColumn = false;
    for (const auto& [c, column] : sheet.Columns()) anyColumn = anyColumn || written(column);
    if (anyColumn) {
        // A column that is not kept lies in none of the package's ranges.
        pugi::xml_node cols = Ensure(ws, "cols");
        for (const auto& [c, column] : sheet.Columns()) {
            if (!written(column)) continue;
            pugi::xml_node col = AppendChild(cols, "col");
            SetAttr(col, "min", std::to_string(c));
            SetAttr(col, "max", std::to_string(c));
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.4g", column.Width < 0 ? 8.43 : column.Width);
            SetAttr(col, "width", buf);
            if (column.Style) SetAttr(col, "style", std::to_string(book.XfIndex(column.Style)));
            if (column.Hidden) SetAttr(col, "hidden", "1");
            if (column.Width >= 0) SetAttr(col, "customWidth", "1");
        }
        // Columns in ascending order, as readers expect.
        std::vector<std::pair<int, pugi::xml_node>> order;
        XlXml::ForChildren(cols, "col", [&](pugi::xml_node col) { order.emplace_back(col.attribute("min").as_int(), col); });
        std::stable_sort(order.begin(), order.end(), [](auto& a, auto& b) { return a.first < b.first; });
        for (auto& [min, col] : order) cols.append_move(col);
    }
    if (sheet.Protected) {
        if (pugi::xml_node old = XlXml::Child(ws, "sheetProtection")) ws.remove_child(old);
        pugi::xml_node p = Ensure(ws, "sheetProtection");
        if (!sheet.HashValue.empty()) {
            SetAttr(p, "algorithmName", "SHA-512");
            SetAttr(p, "hashValue", sheet.HashValue);
            SetAttr(p, "saltValue", sheet.SaltValue);
            SetAttr(p, "spinCount", std::to_string(sheet.SpinCount));
        }
        for (const char* a : {"sheet", "objects", "scenarios"}) SetAttr(p, a, "1");
    }
    if (sheet.HasMargins) {
        pugi::xml_node m = XlXml::Child(ws, "pageMargins");
        if (!m) {
            m = Ensure(ws, "pageMargins");
            SetAttr(m, "header", "0.3");
            SetAttr(m, "footer", "0.3");
        }
        SetAttr(m, "left", Inches(sheet.LeftMargin));
        SetAttr(m, "right", Inches(sheet.RightMargin));
        SetAttr(m, "top", Inches(sheet.TopMargin));
        SetAttr(m, "bottom", Inches(sheet.BottomMargin));
    }
    if (sheet.Orientation) {
        if (!XlXml::Child(ws, "pageMargins")) {
            pugi::xml_node m = Ensure(ws, "pageMargins");
            for (const auto& [a, v] : {std::pair{"left", "0.7"}, {"right", "0.7"}, {"top", "0.75"}, {"bottom", "0.75"},
                                       {"header", "0.3"}, {"footer", "0.3"}})
                SetAttr(m, a, v);
        }
        SetAttr(Ensure(ws, "pageSetup"), "orientation", sheet.Orientation == 2 ? "landscape" : "portrait");
    }
    if (!sheet.LeftHeader.empty() || !sheet.LeftFooter.empty()) {
        pugi::xml_node hf = Ensure(ws, "headerFooter");
        const auto set = [&](const char* name, const std::string& text) {
            if (text.empty()) return;
            pugi::xml_node n = XlXml::Child(hf, name);
            if (!n)
                n = std::strcmp(name, "oddHeader") == 0
                    ? Prepend(hf, name)
                    : hf.insert_child_after(XlXml::NewName(hf, name).c_str(), XlXml::Child(hf, "oddHeader"));
            n.text().set(XlXString(XlHeaderCode(text, std::string())).c_str());
        };
        set("oddHeader", sheet.LeftHeader);
        set("oddFooter", sheet.LeftFooter);
    }
    if (!drawingRel.empty()) {
        if (XlXml::Child(ws, "drawing"))
            throw Exception("The sheet '" + sheet.Name
                            + "' has drawings of its own; pictures cannot be added to it. Nothing was saved");
        const std::string r = XlXml::PrefixFor(ws, RelNs, "r");
        SetAttr(Ensure(ws, "drawing"), (r + "id").c_str(), drawingRel);
    }
    pugi::xml_node rows = XlXml::Child(ws, "sheetData");
    rowPrefix = XlXml::NewName(rows, "");
    rows.append_child(pugi::node_comment).set_value("TABRIX-ROWS");
    return Save(doc);
}

// The elements of XML made of tags without a prefix, with `prefix` (and its ":").
std::string WithPrefix(std::string_view xml, std::string_view prefix)
{
    std::string out;
    out.reserve(xml.size() + xml.size() / 8);
    for (std::size_t at = 0; at < xml.size();) {
        const std::size_t lt = xml.find('<', at);
        if (lt == std::string_view::npos) {
            out.append(xml.substr(at));
            break;
        }
        const std::size_t name = lt + 1 + (lt + 1 < xml.size() && xml[lt + 1] == '/');
        out.append(xml.substr(at, name - at));
        out.append(prefix);
        at = name;
    }
    return out;
}

// The columns an opened sheet has (its column ranges, and those up to its last cell),
// which a merge keeps as they are.
void KeepFoundColumns(XlSheet& sheet, int lastCol)
{
    pugi::xml_document doc;
    Parse(doc, sheet.SourceSettings, sheet.SourcePart);
    XlXml::ForChildren(XlXml::Child(doc.document_element(), "cols"), "col", [&](pugi::xml_node col) {
        sheet.KeepColumns(col.attribute("min").as_int(), col.attribute("max").as_int());
    });
    if (lastCol > 0) sheet.KeepColumns(1, lastCol);
}

std::string DrawingXml(XlWorkbook& book, const XlSheet& sheet, std::string& rels, const std::string& mediaPrefix)
{
    std::string dx = std::string(XmlHead)
        + "<xdr:wsDr xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\" "
          "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" xmlns:r=\""
        + RelNs + "\">";
    rels = std::string(XmlHead) + "<Relationships xmlns=\"" + PkgRelNs + "\">";
    int id = 0;
    for (const XlPicture& p : sheet.Pictures) {
        const WordPicture& pic = book.PictureStore().Picture(p.Index);
        const std::string k = std::to_string(++id);
        const std::string cx = std::to_string(int64_t(pic.PixelWidth) * 9525);
        const std::string cy = std::to_string(int64_t(pic.PixelHeight) * 9525);
        dx += "<xdr:oneCellAnchor><xdr:from><xdr:col>" + std::to_string(p.Col - 1)
            + "</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>" + std::to_string(p.Row - 1)
            + "</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:ext cx=\"" + cx + "\" cy=\"" + cy
            + "\"/><xdr:pic><xdr:nvPicPr><xdr:cNvPr id=\"" + std::to_string(id + 1) + "\" name=\"Picture " + k
            + "\"/><xdr:cNvPicPr><a:picLocks noChangeAspect=\"1\"/></xdr:cNvPicPr></xdr:nvPicPr>"
              "<xdr:blipFill><a:blip r:embed=\"rId" + k
            + "\"/><a:stretch><a:fillRect/></a:stretch></xdr:blipFill><xdr:spPr><a:xfrm><a:off x=\"0\" "
              "y=\"0\"/><a:ext cx=\"" + cx + "\" cy=\"" + cy
            + "\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></xdr:spPr></xdr:pic>"
              "<xdr:clientData/></xdr:oneCellAnchor>";
        rels += "<Relationship Id=\"rId" + k + "\" Type=\"" + RelNs + "/image\" Target=\"../media/" + mediaPrefix
            + std::to_string(p.Index + 1) + ".png\"/>";
    }
    rels += "</Relationships>";
    return dx + "</xdr:wsDr>";
}

} // namespace

void XlWorkbook::OpenXlsx(bool asTemplate)
{
    const std::string& fileName = Opened->FileName();
    int error = 0;
    std::unique_ptr<zip_t, decltype(&zip_discard)> zip(zip_open(Opened->OpenedName().c_str(), ZIP_RDONLY, &error),
                                                      &zip_discard);
    if (!zip) throw EFOpenError("Cannot open the workbook '" + fileName + "': it is not an .xlsx workbook");
    auto source = std::make_unique<XlSource>();
    source->FileName = fileName;
    source->Template = asTemplate;
    pugi::xml_document rootRels;
    Parse(rootRels, ReadEntry(zip.get(), "_rels/.rels", fileName), "_rels/.rels");
    for (pugi::xml_node rel : rootRels.child("Relationships").children("Relationship"))
        if (TypeIs(rel, "/officeDocument")) source->WorkbookPart = Resolve("", rel.attribute("Target").value());
    if (source->WorkbookPart.empty()) throw Exception("'" + fileName + "' is not an .xlsx workbook: it has no workbook part");
    pugi::xml_document book, bookRels;
    Parse(book, ReadEntry(zip.get(), source->WorkbookPart, fileName), source->WorkbookPart);
    const std::string relsPart = RelsOf(source->WorkbookPart);
    Parse(bookRels, ReadEntry(zip.get(), relsPart, fileName), relsPart);
    const pugi::xml_node bookRoot = book.document_element();
    if (!XlXml::Is(bookRoot, "workbook")) throw Exception("'" + fileName + "' is not a spreadsheet workbook");
    const std::string folder = FolderOf(source->WorkbookPart);
    std::map<std::string, pugi::xml_node> rels;
    for (pugi::xml_node rel : bookRels.child("Relationships").children("Relationship")) {
        rels[rel.attribute("Id").value()] = rel;
        if (TypeIs(rel, "/styles")) source->StylesPart = Resolve(folder, rel.attribute("Target").value());
    }
    std::vector<std::unique_ptr<XlSheet>> sheets;
    XlXml::ForChildren(XlXml::Child(bookRoot, "sheets"), "sheet", [&](pugi::xml_node s) {
        auto sheet = std::make_unique<XlSheet>(*this, s.attribute("name").value());
        sheet->SourceRelId = XlXml::Attribute(s, "id", RelNs).value();
        auto rel = rels.find(sheet->SourceRelId);
        if (rel == rels.end()) throw Exception("The sheet '" + sheet->Name + "' of '" + fileName + "' has no part");
        sheet->SourcePart = Resolve(folder, rel->second.attribute("Target").value());
        sheet->IsWorksheet = TypeIs(rel->second, "/worksheet");
        if (sheet->IsWorksheet) {
            // Only the last row number and column are kept; the rows stay in the package.
            XlsxSheetScan scan = ScanXlsxSheet(zip.get(), sheet->SourcePart, fileName, true, true);
            sheet->ContinueAfter(scan.LastRow, scan.LastCol);
            sheet->SourceSettings = std::move(scan.Head) + std::move(scan.Tail);
            KeepFoundColumns(*sheet, scan.LastCol);
        }
        sheets.push_back(std::move(sheet));
    });
    if (sheets.empty()) throw Exception("'" + fileName + "' holds no sheet");
    int xfs = 1;
    if (!source->StylesPart.empty()) {
        xfs = XlStyles::CountXfs(ReadEntry(zip.get(), source->StylesPart, fileName));
        if (xfs < 1) throw Exception("The styles of '" + fileName + "' cannot be read");
    }
    const std::string_view date1904 = XlXml::Child(bookRoot, "workbookPr").attribute("date1904").value();
    Date1904 = date1904 == "1" || date1904 == "true";
    Sheets = std::move(sheets);
    Active = std::clamp(XlXml::Child(XlXml::Child(bookRoot, "bookViews"), "workbookView").attribute("activeTab").as_int(0),
                        0, static_cast<int>(Sheets.size()) - 1);
    XfBase = xfs;
    Source = std::move(source);
}

void XlWorkbook::SaveXlsx(const std::string& fileName)
{
    TFileReplacement target(SaveTarget(fileName));

    std::unique_ptr<zip_t, decltype(&zip_discard)> source(nullptr, &zip_discard);
    pugi::xml_document types, book, bookRels;
    std::string bookPart = "xl/workbook.xml";
    std::string stylesPart = "xl/styles.xml";
    std::string stylesXml;
    if (Source) {
        int error = 0;
        source.reset(zip_open(Opened->OpenedName().c_str(), ZIP_RDONLY, &error));
        if (!source) throw EFOpenError("Cannot open the workbook '" + Source->FileName + "' again to save it");
        Parse(types, ReadEntry(source.get(), "[Content_Types].xml", Source->FileName), "[Content_Types].xml");
        bookPart = Source->WorkbookPart;
        Parse(book, ReadEntry(source.get(), bookPart, Source->FileName), bookPart);
        Parse(bookRels, ReadEntry(source.get(), RelsOf(bookPart), Source->FileName), RelsOf(bookPart));
        if (!Source->StylesPart.empty()) {
            stylesPart = Source->StylesPart;
            stylesXml = ReadEntry(source.get(), stylesPart, Source->FileName);
        }
    } else {
        Parse(types,
              std::string(XmlHead)
                  + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                    "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                    "<Override PartName=\"/xl/workbook.xml\" ContentType=\"" + WorkbookType + "\"/></Types>",
              "[Content_Types].xml");
        Parse(book, std::string(XmlHead) + "<workbook xmlns=\"" + MainNs + "\" xmlns:r=\"" + RelNs
                        + "\">" + (Date1904 ? "<workbookPr date1904=\"1\"/>" : "")
                        + "<bookViews><workbookView/></bookViews><sheets/></workbook>",
              bookPart);
        Parse(bookRels, std::string(XmlHead) + "<Relationships xmlns=\"" + PkgRelNs + "\"/>", RelsOf(bookPart));
    }
    pugi::xml_node typesRoot = types.child("Types");
    pugi::xml_node relsRoot = bookRels.child("Relationships");
    pugi::xml_node bookRoot = book.document_element();
    const std::string relId = XlXml::PrefixFor(bookRoot, RelNs, "r") + "id";
    // The cell formats, known before any row is written: an opened package's own are
    // reused where equal, and only the styles in use get one.
    if (Source)
        for (const auto& sheet : Sheets) {
            sheet->FinishRows();
            for (const auto& [c, column] : sheet->Columns())
                if (!column.Kept) UseStyle(column.Style);
        }
    const std::string stylesOut = Source ? Styles.Xml(stylesXml, StylesInUse, CellFormats) : Styles.Xml(stylesXml);
    const auto addOverride = [&](const std::string& part, const char* type) {
        for (pugi::xml_node o : typesRoot.children("Override"))
            if (o.attribute("PartName").value() == "/" + part) {
                SetAttr(o, "ContentType", type);
                return;
            }
        pugi::xml_node o = typesRoot.append_child("Override");
        SetAttr(o, "PartName", "/" + part);
        SetAttr(o, "ContentType", type);
    };
    if (!Source || Source->Template) addOverride(bookPart, WorkbookType);
    bool hasPng = false;
    for (pugi::xml_node d : typesRoot.children("Default"))
        hasPng = hasPng || QString(d.attribute("Extension").value()).compare("png", Qt::CaseInsensitive) == 0;
    if (!hasPng && FPictures && FPictures->Count() > 0) {
        pugi::xml_node d = typesRoot.prepend_child("Default");
        SetAttr(d, "Extension", "png");
        SetAttr(d, "ContentType", "image/png");
    }
    const auto uniqueRelId = [&](const std::string& base) {
        for (int n = 1;; ++n) {
            const std::string id = base + std::to_string(n);
            bool used = false;
            for (pugi::xml_node r : relsRoot.children("Relationship")) used = used || id == r.attribute("Id").value();
            if (!used) return id;
        }
    };
    if (stylesXml.empty()) {
        addOverride(stylesPart, "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml");
        pugi::xml_node r = relsRoot.append_child("Relationship");
        SetAttr(r, "Id", uniqueRelId("rIdStyles"));
        SetAttr(r, "Type", std::string(RelNs) + "/styles");
        SetAttr(r, "Target", Resolve("", stylesPart).substr(FolderOf(bookPart).size()));
    }

    std::set<std::string> written; // parts this save makes anew; everything else is copied
    ZipPackage zip(target.Handle(), target.TempName());
    const std::string mediaPrefix = Source ? "tabrix_image" : "image";
    pugi::xml_node sheetsNode = XlXml::Child(bookRoot, "sheets");
    std::map<std::string, pugi::xml_node> oldSheetNodes;
    int maxSheetId = 0;
    XlXml::ForChildren(sheetsNode, "sheet", [&](pugi::xml_node s) {
        oldSheetNodes[XlXml::Attribute(s, "id", RelNs).value()] = s;
        maxSheetId = std::max(maxSheetId, s.attribute("sheetId").as_int());
    });
    int drawings = 0;
    for (std::size_t i = 0; i < Sheets.size(); ++i) {
        XlSheet& sheet = *Sheets[i];
        pugi::xml_node node;
        if (!sheet.SourceRelId.empty() && oldSheetNodes.count(sheet.SourceRelId)) {
            node = sheetsNode.append_move(oldSheetNodes[sheet.SourceRelId]);
        } else {
            // A new sheet: a part name and relationship of its own.
            int n = static_cast<int>(i) + 1;
            std::string part;
            do part = FolderOf(bookPart) + "worksheets/sheet" + (Source ? "Tabrix" : "") + std::to_string(n++) + ".xml";
            while ((source && HasEntry(source.get(), part)) || written.count(part));
            sheet.SourcePart = part;
            sheet.SourceRelId = uniqueRelId(Source ? "rIdTabrix" : "rId");
            pugi::xml_node r = relsRoot.append_child("Relationship");
            SetAttr(r, "Id", sheet.SourceRelId);
            SetAttr(r, "Type", std::string(RelNs) + "/worksheet");
            SetAttr(r, "Target", part.substr(FolderOf(bookPart).size()));
            addOverride(part, WorksheetType);
            node = AppendChild(sheetsNode, "sheet");
            SetAttr(node, "name", "");
            SetAttr(node, "sheetId", std::to_string(++maxSheetId));
            SetAttr(node, relId.c_str(), sheet.SourceRelId);
            sheet.Modified = true;
        }
        SetAttr(node, "name", sheet.Name);
        if (!sheet.Modified) continue;

        const bool opened = source && HasEntry(source.get(), sheet.SourcePart);
        std::string drawingRel;
        if (!sheet.Pictures.empty()) {
            std::string part;
            do part = "xl/drawings/" + std::string(Source ? "tabrix_drawing" : "drawing") + std::to_string(++drawings) + ".xml";
            while (source && HasEntry(source.get(), part));
            std::string drawingRels;
            zip.AddText(part, DrawingXml(*this, sheet, drawingRels, mediaPrefix));
            zip.AddText(RelsOf(part), drawingRels);
            written.insert(part);
            written.insert(RelsOf(part));
            addOverride(part, DrawingType);
            pugi::xml_document sheetRels;
            const std::string sheetRelsPart = RelsOf(sheet.SourcePart);
            if (opened && HasEntry(source.get(), sheetRelsPart))
                Parse(sheetRels, ReadEntry(source.get(), sheetRelsPart, Source->FileName), sheetRelsPart);
            else
                Parse(sheetRels, std::string(XmlHead) + "<Relationships xmlns=\"" + PkgRelNs + "\"/>", sheetRelsPart);
            pugi::xml_node root = sheetRels.child("Relationships");
            for (int n = 1; drawingRel.empty(); ++n) {
                const std::string id = "rIdDrawing" + std::to_string(n);
                bool used = false;
                for (pugi::xml_node r : root.children("Relationship")) used = used || id == r.attribute("Id").value();
                if (!used) drawingRel = id;
            }
            pugi::xml_node r = root.append_child("Relationship");
            SetAttr(r, "Id", drawingRel);
            SetAttr(r, "Type", std::string(RelNs) + "/drawing");
            SetAttr(r, "Target", "../drawings/" + part.substr(std::string("xl/drawings/").size()));
            zip.AddText(sheetRelsPart, Save(sheetRels));
            written.insert(sheetRelsPart);
        }
        std::string head, tail, rowPrefix;
        if (opened) {
            // The sheet's settings (all but its rows) are changed as XML; the rows are
            // copied from the package below, as they are.
            const std::string merged = MergeSheet(sheet.SourceSettings, sheet, *this, drawingRel, rowPrefix);
            const std::size_t mark = merged.find("<!--TABRIX-ROWS-->");
            head = merged.substr(0, mark);
            tail = merged.substr(mark + std::strlen("<!--TABRIX-ROWS-->"));
        } else {
            head = SheetHead(sheet, static_cast<int>(i) == Active, *this);
            tail = SheetTail(sheet, !drawingRel.empty(), drawingRel);
        }
        sheet.FinishRows();
        std::unique_ptr<DeflatedPart> part = opened ? nullptr : sheet.TakeRowsXml();
        if (part) {
            part->Finish(head, tail);
        } else {
            // The sheet's XML is compressed on a second thread while it is made.
            part = std::make_unique<DeflatedPart>();
            part->Append(std::string_view(head));
            if (opened)
                ScanXlsxSheet(source.get(), sheet.SourcePart, Source->FileName, false, false,
                              [&](std::string_view rows) { part->Append(rows); });
            std::string chunk;
            const auto append = [&] {
                // Rows under a prefixed sheetData get its prefix: every "<" of the rows'
                // XML starts a tag (texts escape it).
                if (!rowPrefix.empty()) chunk = WithPrefix(chunk, rowPrefix);
                part->Append(chunk);
            };
            sheet.ForEachRow([&](const XlSpooledRow& row) {
                AppendRowXml(chunk, row, [this](int style) { return XfIndex(style); });
                if (chunk.size() >= DeflatedPart::ChunkSize) append();
            });
            append();
            part->Append(std::string_view(tail));
        }
        zip.AddDeflated(sheet.SourcePart, std::move(part));
        written.insert(sheet.SourcePart);
    }
    // Sheets of the package that the model no longer holds do not occur: sheets are never
    // deleted here. Their nodes were all moved above.
    if (pugi::xml_node view = XlXml::Child(XlXml::Child(bookRoot, "bookViews"), "workbookView"))
        SetAttr(view, "activeTab", std::to_string(Active));
    if (FPictures) {
        const std::string spool = FPictures->SpoolFileName();
        for (int i = 0; i < FPictures->Count(); ++i) {
            const WordPicture& pic = FPictures->Picture(i);
            const std::string part = "xl/media/" + mediaPrefix + std::to_string(i + 1) + ".png";
            zip.AddFile(part, spool, pic.Offset, pic.Size);
            written.insert(part);
        }
    }
    zip.AddText(stylesPart, stylesOut);
    zip.AddText(bookPart, Save(book));
    zip.AddText(RelsOf(bookPart), Save(bookRels));
    zip.AddText("[Content_Types].xml", Save(types));
    for (const std::string& p : {stylesPart, bookPart, RelsOf(bookPart), std::string("[Content_Types].xml")}) written.insert(p);
    if (!Source) {
        zip.AddText("_rels/.rels", std::string(XmlHead) + "<Relationships xmlns=\"" + PkgRelNs
                                       + "\"><Relationship Id=\"rId1\" Type=\"" + RelNs
                                       + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    } else {
        const zip_int64_t count = zip_get_num_entries(source.get(), 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            const char* name = zip_get_name(source.get(), static_cast<zip_uint64_t>(i), 0);
            if (name && !written.count(name)) zip.CopyFrom(source.get(), static_cast<zip_uint64_t>(i), name);
        }
    }
    zip.Close();
    source.reset();
    target.Commit(Opened.get());
}
