// Office Open XML writer of the word processor.

#include "framework/exceptions.h"
#include "framework/files.h"
#include "platform/automation/zip_package.h"
#include "platform/automation/word/word_save.h"
#include "platform/automation/word/word_source.h"
#include "platform/automation/word/word_text.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QString>

#include <pugixml.hpp>
#include <zip.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <deque>
#include <filesystem>
#include <sstream>

namespace {

const char* const NsW = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
const char* const NsR = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const char* const NsWp = "http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing";
const char* const NsA = "http://schemas.openxmlformats.org/drawingml/2006/main";
const char* const NsPic = "http://schemas.openxmlformats.org/drawingml/2006/picture";
const char* const RelImage = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image";
const char* const RelStyles = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles";
const char* const RelSettings = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/settings";

const char* const ColorHex[17] = {"auto",   "000000", "0000FF", "00FFFF", "00FF00", "FF00FF",
                                  "FF0000", "FFFF00", "FFFFFF", "000080", "008080", "008000",
                                  "800080", "800000", "808000", "808080", "C0C0C0"};
const char* const HighlightName[17] = {"none",     "black",     "blue",        "cyan",    "green",     "magenta",
                                       "red",      "yellow",    "white",       "darkBlue", "darkCyan",  "darkGreen",
                                       "darkMagenta", "darkRed", "darkYellow", "darkGray", "lightGray"};
const char* const BorderName[9] = {"nil",       "single",     "dotted", "dashSmallGap", "dashed",
                                   "dotDash",   "dotDotDash", "double", "triple"};
const char* const AlignName[4] = {"left", "center", "right", "both"};

std::string Twips(double pt) { return std::to_string(static_cast<long long>(std::lround(pt * 20))); }
std::string Emu(double pt) { return std::to_string(static_cast<long long>(std::llround(pt * 12700))); }

struct PackagePicture {
    std::string RelId;
    std::string EntryName; // "word/media/..."
};

class BodyWriter {
public:
    BodyWriter(WordDocumentModel& model, WordOutFile& out, const std::vector<PackagePicture>& pictures,
               unsigned firstDrawingId)
        : FModel(model), FOut(out), FPictures(pictures), FDrawingId(firstDrawingId) {}

    void Blocks()
    {
        for (const WordBlock& b : FModel.Blocks()) {
            if (b.BlockKind == WordBlock::Paragraph) Paragraph(b.Para);
            else if (b.BlockKind == WordBlock::Table) Table(*b.Tbl);
            FOut.MaybeFlush();
        }
    }

private:
    void RunProperties(std::string& s, const WordCharFormat& f)
    {
        if (f == WordCharFormat()) return;
        s += "<w:rPr>";
        if (!f.FontName.empty()) {
            s += "<w:rFonts w:ascii=\"";
            AppendXmlAttrText(s, f.FontName);
            s += "\" w:hAnsi=\"";
            AppendXmlAttrText(s, f.FontName);
            s += "\" w:cs=\"";
            AppendXmlAttrText(s, f.FontName);
            s += "\"/>";
        }
        if (f.Bold) s += "<w:b/>";
        if (f.Italic) s += "<w:i/>";
        if (f.ColorIndex > 0 && f.ColorIndex <= 16) s += std::string("<w:color w:val=\"") + ColorHex[f.ColorIndex] + "\"/>";
        if (f.HighlightIndex > 0 && f.HighlightIndex <= 16)
            s += std::string("<w:highlight w:val=\"") + HighlightName[f.HighlightIndex] + "\"/>";
        if (f.Underline) s += "<w:u w:val=\"single\"/>";
        s += "</w:rPr>";
    }

    // `s` is the output's buffer: a long text goes out as it is escaped, never held
    // escaped whole.
    void TextRun(std::string& s, std::string_view text, const std::string& rPr)
    {
        if (text.empty()) return;
        s += "<w:r>";
        s += rPr;
        bool open = false;
        ForEachWordChar(text, [&](char32_t c) {
            FOut.MaybeFlush();
            if (c == WordTab || c == WordLineBreak) {
                if (open) s += "</w:t>";
                open = false;
                s += c == WordTab ? "<w:tab/>" : "<w:br/>";
                return;
            }
            if (!open) s += "<w:t xml:space=\"preserve\">";
            open = true;
            AppendXmlChar(s, c);
        });
        if (open) s += "</w:t>";
        s += "</w:r>";
    }

    void Drawing(std::string& s, const WordInlinePicture& p, const std::string& rPr)
    {
        const PackagePicture& pp = FPictures.at(static_cast<std::size_t>(p.Picture));
        unsigned id = ++FDrawingId;
        std::string cx = Emu(p.WidthPt), cy = Emu(p.HeightPt), ids = std::to_string(id);
        s += "<w:r>" + rPr + "<w:drawing><wp:inline distT=\"0\" distB=\"0\" distL=\"0\" distR=\"0\" xmlns:wp=\"";
        s += NsWp;
        s += "\"><wp:extent cx=\"" + cx + "\" cy=\"" + cy + "\"/><wp:docPr id=\"" + ids + "\" name=\"Picture " + ids +
             "\"/><wp:cNvGraphicFramePr><a:graphicFrameLocks xmlns:a=\"";
        s += NsA;
        s += "\" noChangeAspect=\"1\"/></wp:cNvGraphicFramePr><a:graphic xmlns:a=\"";
        s += NsA;
        s += "\"><a:graphicData uri=\"";
        s += NsPic;
        s += "\"><pic:pic xmlns:pic=\"";
        s += NsPic;
        s += "\"><pic:nvPicPr><pic:cNvPr id=\"" + ids + "\" name=\"Picture " + ids +
             "\"/><pic:cNvPicPr/></pic:nvPicPr><pic:blipFill><a:blip r:embed=\"" + pp.RelId +
             "\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"" +
             cx + "\" cy=\"" + cy +
             "\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr></pic:pic></a:graphicData>"
             "</a:graphic></wp:inline></w:drawing></w:r>";
    }

    void Paragraph(const WordParagraph& p)
    {
        std::string& s = FOut.Buffer();
        const WordCharFormat& f = FModel.Format(p.Format);
        std::string rPr;
        RunProperties(rPr, f);
        s += "<w:p>";
        if (p.Alignment != 0 || !rPr.empty()) {
            s += "<w:pPr>";
            if (p.Alignment != 0 && p.Alignment < 4) s += std::string("<w:jc w:val=\"") + AlignName[p.Alignment] + "\"/>";
            s += rPr; // the paragraph mark's own formatting
            s += "</w:pPr>";
        }
        std::size_t done = 0;
        if (p.Pictures) {
            for (const WordInlinePicture& pic : *p.Pictures) {
                std::size_t at = std::min(pic.TextOffset, p.Text.size());
                if (at > done) TextRun(s, std::string_view(p.Text).substr(done, at - done), rPr);
                done = std::max(done, at);
                Drawing(s, pic, rPr);
            }
        }
        if (done < p.Text.size()) TextRun(s, std::string_view(p.Text).substr(done), rPr);
        s += "</w:p>";
    }

    void Border(std::string& s, const char* edge, int style)
    {
        s += "<w:";
        s += edge;
        if (style <= 0 || style > 8) s += " w:val=\"nil\"/>";
        else s += std::string(" w:val=\"") + BorderName[style] + "\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>";
    }

    void Table(const WordTable& t)
    {
        std::string& s = FOut.Buffer();
        s += "<w:tbl><w:tblPr>";
        if (t.AutoFit) s += "<w:tblW w:w=\"0\" w:type=\"auto\"/>";
        else s += "<w:tblW w:w=\"" + Twips(t.WidthPt()) + "\" w:type=\"dxa\"/>";
        s += "<w:tblBorders>";
        Border(s, "top", t.Borders[wbTop]);
        Border(s, "left", t.Borders[wbLeft]);
        Border(s, "bottom", t.Borders[wbBottom]);
        Border(s, "right", t.Borders[wbRight]);
        Border(s, "insideH", t.Borders[wbHorizontal]);
        Border(s, "insideV", t.Borders[wbVertical]);
        s += "</w:tblBorders>";
        s += t.AutoFit ? "<w:tblLayout w:type=\"autofit\"/>" : "<w:tblLayout w:type=\"fixed\"/>";
        const std::string margin = Twips(t.CellMarginPt());
        s += "<w:tblCellMar><w:left w:w=\"" + margin + "\" w:type=\"dxa\"/><w:right w:w=\"" + margin
             + "\" w:type=\"dxa\"/></w:tblCellMar>";
        s += "<w:tblLook w:val=\"0000\"/></w:tblPr><w:tblGrid>";
        std::vector<std::string> widths;
        for (double w : t.ColumnWidthsPt) {
            widths.push_back(Twips(w));
            s += "<w:gridCol w:w=\"" + widths.back() + "\"/>";
        }
        s += "</w:tblGrid>";
        t.Rows.ForEach([&](int, const std::vector<WordParagraph>& cells) {
            std::string& out = FOut.Buffer();
            out += "<w:tr>";
            for (std::size_t c = 0; c < cells.size(); ++c) {
                out += "<w:tc><w:tcPr><w:tcW w:w=\"" + widths[c] + "\" w:type=\"dxa\"/></w:tcPr>";
                Paragraph(cells[c]);
                FOut.Buffer() += "</w:tc>";
            }
            FOut.Buffer() += "</w:tr>";
            FOut.MaybeFlush();
        });
        FOut.Buffer() += "</w:tbl>";
    }

    WordDocumentModel& FModel;
    WordOutFile& FOut;
    const std::vector<PackagePicture>& FPictures;
    unsigned FDrawingId;
};

// The elements of the settings part, in the order the schema gives them.
const char* const SettingsOrder[] = {
    "writeProtection", "view", "zoom", "removePersonalInformation", "removeDateAndTime",
    "doNotDisplayPageBoundaries", "displayBackgroundShape", "printPostScriptOverText",
    "printFractionalCharacterWidth", "printFormsData", "embedTrueTypeFonts", "embedSystemFonts", "saveSubsetFonts",
    "saveFormsData", "mirrorMargins", "alignBordersAndEdges", "bordersDoNotSurroundHeader",
    "bordersDoNotSurroundFooter", "gutterAtTop", "hideSpellingErrors", "hideGrammaticalErrors",
    "activeWritingStyle", "proofState", "formsDesign", "attachedTemplate", "linkStyles", "stylePaneFormatFilter",
    "stylePaneSortMethod", "documentType", "mailMerge", "revisionView", "trackRevisions", "doNotTrackMoves",
    "doNotTrackFormatting", "documentProtection", "autoFormatOverride", "styleLockTheme", "styleLockQFSet",
    "defaultTabStop", "autoHyphenation", "consecutiveHyphenLimit", "hyphenationZone", "doNotHyphenateCaps",
    "showEnvelope", "summaryLength", "clickAndTypeStyle", "defaultTableStyle", "evenAndOddHeaders",
    "bookFoldRevPrinting", "bookFoldPrinting", "bookFoldPrintingSheets", "drawingGridHorizontalSpacing",
    "drawingGridVerticalSpacing", "displayHorizontalDrawingGridEvery", "displayVerticalDrawingGridEvery",
    "doNotUseMarginsForDrawingGridOrigin", "drawingGridHorizontalOrigin", "drawingGridVerticalOrigin",
    "doNotShadeFormData", "noPunctuationKerning", "characterSpacingControl", "printTwoOnOne",
    "strictFirstAndLastChars", "noLineBreaksAfter", "noLineBreaksBefore", "savePreviewPicture",
    "doNotValidateAgainstSchema", "saveInvalidXml", "ignoreMixedContent", "alwaysShowPlaceholderText",
    "doNotDemarcateInvalidXml", "saveXmlDataOnly", "useXSLTWhenSaving", "saveThroughXslt", "showXMLTags",
    "alwaysMergeEmptyNamespace", "updateFields", "hdrShapeDefaults", "footnotePr", "endnotePr", "compat", "docVars",
    "rsids", "mathPr", "attachedSchema", "themeFontLang", "clrSchemeMapping", "doNotIncludeSubdocsInStats",
    "doNotAutoCompressPictures", "forceUpgrade", "captions", "readModeInkLockDown", "smartTagType", "schemaLibrary",
    "shapeDefaults", "doNotEmbedSmartTags", "decimalSymbol", "listSeparator", nullptr};

// The elements of section properties, in schema order.
const char* const SectionOrder[] = {"headerReference", "footerReference", "footnotePr", "endnotePr", "type",
                                    "pgSz", "pgMar", "paperSrc", "pgBorders", "lnNumType", "pgNumType", "cols",
                                    "formProt", "vAlign", "noEndnote", "titlePg", "textDirection", "bidi",
                                    "rtlGutter", "docGrid", "printerSettings", "sectPrChange", nullptr};

std::string Local(const char* name)
{
    const char* colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
}

// The child `local` of `parent` (elements named `p` + local), created where `order` puts it
// when missing: after the last child that comes before it. Children the order does not
// know (extensions) do not move it.
pugi::xml_node ChildInOrder(pugi::xml_node parent, const std::string& p, const char* local, const char* const* order)
{
    if (pugi::xml_node c = parent.child((p + local).c_str())) return c;
    int rank = 0;
    while (order[rank] && std::strcmp(order[rank], local) != 0) ++rank;
    pugi::xml_node after;
    for (pugi::xml_node c : parent.children()) {
        if (c.type() != pugi::node_element) continue;
        std::string name = c.name();
        if (name.compare(0, p.size(), p) != 0) continue;
        std::string l = Local(c.name());
        for (int i = 0; i < rank; ++i)
            if (l == order[i]) after = c;
    }
    return after ? parent.insert_child_after((p + local).c_str(), after) : parent.prepend_child((p + local).c_str());
}

std::string SectionXml(const WordPageSetup& page)
{
    double w = page.Orientation == 1 ? std::max(page.PageWidth, page.PageHeight) : std::min(page.PageWidth, page.PageHeight);
    double h = page.Orientation == 1 ? std::min(page.PageWidth, page.PageHeight) : std::max(page.PageWidth, page.PageHeight);
    std::string s = "<w:sectPr><w:pgSz w:w=\"" + Twips(w) + "\" w:h=\"" + Twips(h) + "\"";
    if (page.Orientation == 1) s += " w:orient=\"landscape\"";
    s += "/><w:pgMar w:top=\"" + Twips(page.TopMargin) + "\" w:right=\"" + Twips(page.RightMargin) + "\" w:bottom=\"" +
         Twips(page.BottomMargin) + "\" w:left=\"" + Twips(page.LeftMargin) +
         "\" w:header=\"720\" w:footer=\"720\" w:gutter=\"0\"/></w:sectPr>";
    return s;
}

// Writes the page size and margins into existing section properties `sect`, keeping what
// else they hold. `p` and `a` are the prefixes (with their colon) of elements and
// attributes: a part in the default namespace still needs a prefix for its attributes.
void SetPageSetup(pugi::xml_node sect, const std::string& p, const std::string& a, const WordPageSetup& page)
{
    double w = page.Orientation == 1 ? std::max(page.PageWidth, page.PageHeight) : std::min(page.PageWidth, page.PageHeight);
    double h = page.Orientation == 1 ? std::min(page.PageWidth, page.PageHeight) : std::max(page.PageWidth, page.PageHeight);
    auto set = [&](pugi::xml_node n, const char* name, const std::string& value) {
        std::string an = a + name;
        pugi::xml_attribute attr = n.attribute(an.c_str());
        if (!attr) attr = n.append_attribute(an.c_str());
        attr = value.c_str();
    };
    auto keep = [&](pugi::xml_node n, const char* name, const char* fallback) {
        if (!n.attribute((a + name).c_str())) n.append_attribute((a + name).c_str()) = fallback;
    };
    pugi::xml_node sz = ChildInOrder(sect, p, "pgSz", SectionOrder);
    set(sz, "w", Twips(w));
    set(sz, "h", Twips(h));
    if (page.Orientation == 1) set(sz, "orient", "landscape");
    else sz.remove_attribute((a + "orient").c_str());
    pugi::xml_node mar = ChildInOrder(sect, p, "pgMar", SectionOrder);
    set(mar, "top", Twips(page.TopMargin));
    set(mar, "right", Twips(page.RightMargin));
    set(mar, "bottom", Twips(page.BottomMargin));
    set(mar, "left", Twips(page.LeftMargin));
    keep(mar, "header", "720");
    keep(mar, "footer", "720");
    keep(mar, "gutter", "0");
}

// The password hash of ISO/IEC 29500 document protection: SHA-512 over salt and the
// UTF-16LE password, then `spin` rounds over the hash and the round number.
void ProtectionHash(const std::string& password, QByteArray& salt, QByteArray& hash, int spin)
{
    salt.resize(16);
    for (int i = 0; i < 16; i += 4) {
        quint32 v = QRandomGenerator::system()->generate();
        std::memcpy(salt.data() + i, &v, 4);
    }
    QString pw = QString::fromUtf8(password.data(), static_cast<qsizetype>(password.size()));
    QByteArray utf16;
    for (QChar ch : pw) {
        char16_t u = ch.unicode();
        utf16.append(static_cast<char>(u & 0xFF));
        utf16.append(static_cast<char>(u >> 8));
    }
    hash = QCryptographicHash::hash(salt + utf16, QCryptographicHash::Sha512);
    for (int i = 0; i < spin; ++i) {
        char it[4] = {static_cast<char>(i & 0xFF), static_cast<char>((i >> 8) & 0xFF), static_cast<char>((i >> 16) & 0xFF),
                      static_cast<char>((i >> 24) & 0xFF)};
        hash = QCryptographicHash::hash(hash + QByteArray(it, 4), QCryptographicHash::Sha512);
    }
}

// `p` and `a` as for SetPageSetup.
void SetProtection(pugi::xml_node settings, const std::string& p, const std::string& a, const std::string& password)
{
    for (pugi::xml_node old = settings.child((p + "documentProtection").c_str()); old;
         old = settings.child((p + "documentProtection").c_str()))
        settings.remove_child(old);
    pugi::xml_node prot = ChildInOrder(settings, p, "documentProtection", SettingsOrder);
    QByteArray salt, hash;
    const int spin = 100000;
    ProtectionHash(password, salt, hash, spin);
    prot.append_attribute((a + "edit").c_str()) = "readOnly";
    prot.append_attribute((a + "enforcement").c_str()) = "1";
    prot.append_attribute((a + "algorithmName").c_str()) = "SHA-512";
    prot.append_attribute((a + "hashValue").c_str()) = hash.toBase64().constData();
    prot.append_attribute((a + "saltValue").c_str()) = salt.toBase64().constData();
    prot.append_attribute((a + "spinCount").c_str()) = spin;
}

// Without a compatibility mode Word opens a document in "Compatibility Mode" (as one of an
// old version). A document's own mode is kept; one without gets the current mode, 15.
void SetCompatibilityMode(pugi::xml_node settings, const std::string& p, const std::string& a)
{
    pugi::xml_node compat = ChildInOrder(settings, p, "compat", SettingsOrder);
    for (pugi::xml_node c : compat.children((p + "compatSetting").c_str()))
        if (std::string(c.attribute((a + "name").c_str()).value()) == "compatibilityMode") return;
    pugi::xml_node mode = compat.append_child((p + "compatSetting").c_str());
    mode.append_attribute((a + "name").c_str()) = "compatibilityMode";
    mode.append_attribute((a + "uri").c_str()) = "http://schemas.microsoft.com/office/word";
    mode.append_attribute((a + "val").c_str()) = "15";
}

std::string XmlToString(const pugi::xml_document& doc)
{
    std::ostringstream os;
    doc.save(os, "", pugi::format_raw | pugi::format_no_declaration);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n" + os.str();
}

std::string NewSettingsXml(const std::string& password)
{
    pugi::xml_document doc;
    pugi::xml_node s = doc.append_child("w:settings");
    s.append_attribute("xmlns:w") = NsW;
    if (!password.empty()) SetProtection(s, "w:", "w:", password);
    s.append_child("w:defaultTabStop").append_attribute("w:val") = 720;
    s.append_child("w:characterSpacingControl").append_attribute("w:val") = "doNotCompress";
    SetCompatibilityMode(s, "w:", "w:");
    return XmlToString(doc);
}

std::string StylesXml()
{
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:styles xmlns:w=\"") + NsW +
           "\"><w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii=\"Times New Roman\" w:hAnsi=\"Times New Roman\" "
           "w:eastAsia=\"Times New Roman\" w:cs=\"Times New Roman\"/><w:sz w:val=\"24\"/><w:szCs w:val=\"24\"/>"
           "<w:lang w:val=\"en-US\"/></w:rPr></w:rPrDefault><w:pPrDefault/></w:docDefaults>"
           "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"><w:name w:val=\"Normal\"/><w:qFormat/></w:style>"
           "<w:style w:type=\"table\" w:default=\"1\" w:styleId=\"TableNormal\"><w:name w:val=\"Normal Table\"/><w:uiPriority w:val=\"99\"/>"
           "<w:semiHidden/><w:unhideWhenUsed/><w:tblPr><w:tblInd w:w=\"0\" w:type=\"dxa\"/><w:tblCellMar><w:top w:w=\"0\" w:type=\"dxa\"/>"
           "<w:left w:w=\"108\" w:type=\"dxa\"/><w:bottom w:w=\"0\" w:type=\"dxa\"/><w:right w:w=\"108\" w:type=\"dxa\"/>"
           "</w:tblCellMar></w:tblPr></w:style></w:styles>";
}

std::string UniqueName(const std::set<std::string>& taken, const std::string& stem, const std::string& ext, int& counter)
{
    for (;;) {
        std::string n = stem + std::to_string(++counter) + ext;
        if (!taken.count(n)) return n;
    }
}

void AddRelationship(pugi::xml_node rels, const std::string& id, const char* type, const std::string& target)
{
    pugi::xml_node r = rels.append_child("Relationship");
    r.append_attribute("Id") = id.c_str();
    r.append_attribute("Type") = type;
    r.append_attribute("Target") = target.c_str();
}

// Makes sure the root element binds `prefix` to `ns`.
void BindPrefix(pugi::xml_node root, const char* prefix, const char* ns, const std::string& file)
{
    std::string attr = std::string("xmlns:") + prefix;
    pugi::xml_attribute a = root.attribute(attr.c_str());
    if (!a) root.append_attribute(attr.c_str()) = ns;
    else if (std::string(a.value()) != ns)
        throw Exception("The document '" + file + "' uses the prefix '" + prefix +
                        "' for another namespace; new content cannot be added to it");
}

} // namespace

void WriteDocx(WordDocumentModel& model, const std::string& fileName)
{
    auto* src = dynamic_cast<DocxSourceDocument*>(model.Source.get());
    TFileReplacement target(fileName);
    // The main document part, compressed while it is made.
    auto body = std::make_unique<DeflatedPart>();

    std::set<std::string> entries = src ? src->Entries : std::set<std::string>();
    std::set<std::string> relIds = src ? src->RelIds : std::set<std::string>();
    WordPictureStore& store = model.Pictures();
    std::vector<PackagePicture> pictures;
    int counter = 0, relCounter = 0;
    for (int i = 0; i < store.Count(); ++i) {
        PackagePicture pp;
        pp.EntryName = UniqueName(entries, "word/media/tabrix_image", ".png", counter);
        entries.insert(pp.EntryName);
        pp.RelId = UniqueName(relIds, "rIdTbxImg", "", relCounter);
        relIds.insert(pp.RelId);
        pictures.push_back(pp);
    }

    {
        WordOutFile out(*body);
        if (!src) {
            out.Write("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:document xmlns:w=\"");
            out.Write(NsW);
            out.Write("\" xmlns:r=\"");
            out.Write(NsR);
            out.Write("\"><w:body>");
            BodyWriter(model, out, pictures, 0).Blocks();
            out.Write(SectionXml(model.PageSetup()));
            out.Write("</w:body></w:document>");
        } else {
            pugi::xml_document doc; // a copy: saving twice must not change what was opened
            doc.reset(src->Document);
            pugi::xml_node root = doc.document_element();
            std::string rootName = root.name();
            std::string prefix = rootName.find(':') == std::string::npos ? "" : rootName.substr(0, rootName.find(':'));
            std::string p = prefix.empty() ? "" : prefix + ":";
            if (prefix != "w") BindPrefix(root, "w", NsW, src->FileName);
            BindPrefix(root, "r", NsR, src->FileName);
            pugi::xml_node bodyNode = root.child((p + "body").c_str());
            pugi::xml_node sect = bodyNode.child((p + "sectPr").c_str());
            if (model.PageSetup().Changed) {
                if (!sect) sect = bodyNode.append_child((p + "sectPr").c_str());
                SetPageSetup(sect, p, p.empty() ? "w:" : p, model.PageSetup()); // w is bound above
            }
            // An empty last paragraph is where the new text goes, as it would in the word
            // processor: the new content takes its place. Two tables need a paragraph
            // between them, or every reader shows one table.
            bool newStartsWithTable = false;
            for (const WordBlock& b : model.Blocks())
                if (b.BlockKind != WordBlock::Existing) {
                    newStartsWithTable = b.BlockKind == WordBlock::Table;
                    break;
                }
            auto lastElement = [&] {
                pugi::xml_node last = sect ? sect.previous_sibling() : bodyNode.last_child();
                while (last && last.type() != pugi::node_element) last = last.previous_sibling();
                return last;
            };
            pugi::xml_node last = lastElement();
            if (last && std::string(last.name()) == p + "p") {
                bool empty = true;
                for (pugi::xml_node c : last.children()) {
                    if (c.type() != pugi::node_element) continue;
                    if (std::string(c.name()) != p + "pPr" || c.child((p + "sectPr").c_str())) empty = false;
                }
                pugi::xml_node before = last.previous_sibling();
                while (before && before.type() != pugi::node_element) before = before.previous_sibling();
                bool separates = newStartsWithTable && before && std::string(before.name()) == p + "tbl";
                if (empty && !separates) bodyNode.remove_child(last);
            }
            last = lastElement();
            bool needSeparator = newStartsWithTable && last && std::string(last.name()) == p + "tbl";
            // Split the serialised part where the new content goes: before the section
            // properties at the end of the body, or at the body's end.
            const char* marker = "tabrix-new-content-goes-here";
            pugi::xml_node mark = sect ? bodyNode.insert_child_before(pugi::node_comment, sect)
                                       : bodyNode.append_child(pugi::node_comment);
            mark.set_value(marker);
            std::string xml = XmlToString(doc);
            bodyNode.remove_child(mark);
            std::string tag = std::string("<!--") + marker + "-->";
            std::size_t at = xml.find(tag);
            if (at == std::string::npos) throw Exception("Cannot merge into the document '" + src->FileName + "'");
            out.Write(std::string_view(xml).substr(0, at));
            if (needSeparator) out.Write("<w:p/>");
            BodyWriter(model, out, pictures, src->MaxDrawingId).Blocks();
            out.Write(std::string_view(xml).substr(at + tag.size()));
        }
        out.Close();
    }

    ZipPackage zip(target.Handle(), target.TempName());
    std::unique_ptr<zip_t, decltype(&zip_discard)> source(nullptr, &zip_discard);
    bool protect = model.Protected;
    if (!src) {
        std::string ct = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n") +
                         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                         "<Default Extension=\"png\" ContentType=\"image/png\"/>"
                         "<Override PartName=\"/word/document.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
                         "<Override PartName=\"/word/styles.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml\"/>"
                         "<Override PartName=\"/word/settings.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.settings+xml\"/>"
                         "</Types>";
        zip.AddText("[Content_Types].xml", ct);
        zip.AddText("_rels/.rels",
                    std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n") +
                        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                        "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"word/document.xml\"/>"
                        "</Relationships>");
        zip.AddDeflated("word/document.xml", std::move(body));
        pugi::xml_document rels;
        pugi::xml_node root = rels.append_child("Relationships");
        root.append_attribute("xmlns") = "http://schemas.openxmlformats.org/package/2006/relationships";
        AddRelationship(root, "rId1", RelStyles, "styles.xml");
        AddRelationship(root, "rId2", RelSettings, "settings.xml");
        for (const auto& pp : pictures) AddRelationship(root, pp.RelId, RelImage, pp.EntryName.substr(5));
        zip.AddText("word/_rels/document.xml.rels", XmlToString(rels));
        zip.AddText("word/styles.xml", StylesXml());
        zip.AddText("word/settings.xml", NewSettingsXml(protect ? model.ProtectionPassword : std::string()));
    } else {
        int error = 0;
        source.reset(zip_open(src->File->OpenedName().c_str(), ZIP_RDONLY, &error));
        if (!source)
            throw EFOpenError::CannotOpen(src->FileName, "the document it was opened from can no longer be read");
        // content types: add png when missing, and the settings part when one is created
        pugi::xml_document contentTypes, relsDoc; // copies, as above
        contentTypes.reset(src->ContentTypes);
        relsDoc.reset(src->Rels);
        pugi::xml_node types = contentTypes.document_element();
        bool hasPng = false;
        for (pugi::xml_node d : types.children("Default")) {
            std::string e = d.attribute("Extension").value();
            for (char& c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (e == "png") hasPng = true;
        }
        if (!hasPng && !pictures.empty()) {
            pugi::xml_node d = types.prepend_child("Default");
            d.append_attribute("Extension") = "png";
            d.append_attribute("ContentType") = "image/png";
        }
        std::string settingsPart = src->SettingsPart;
        std::string settingsXml;
        pugi::xml_node relsRoot = relsDoc.document_element();
        bool replaceSettings = true; // the settings get the compatibility mode (and the protection)
        {
            pugi::xml_document settings;
            if (!settingsPart.empty()) {
                std::string data;
                if (zip_name_locate(source.get(), settingsPart.c_str(), 0) >= 0)
                    data = ReadHeldPart(source.get(), settingsPart, src->FileName);
                if (settings.load_buffer(data.data(), data.size())) {
                    pugi::xml_node root = settings.document_element();
                    std::string n = root.name();
                    std::string p = n.find(':') == std::string::npos ? "" : n.substr(0, n.find(':') + 1);
                    if (p.empty()) BindPrefix(root, "w", NsW, src->FileName);
                    std::string a = p.empty() ? "w:" : p;
                    if (protect) SetProtection(root, p, a, model.ProtectionPassword);
                    SetCompatibilityMode(root, p, a);
                    settingsXml = XmlToString(settings);
                } else if (protect) {
                    throw Exception("The settings of '" + src->FileName + "' are not well-formed XML");
                } else {
                    replaceSettings = false; // kept as they are
                }
            } else {
                settingsPart = UniqueName(entries, "word/tabrix_settings", ".xml", counter);
                settingsXml = NewSettingsXml(protect ? model.ProtectionPassword : std::string());
                std::string id = UniqueName(relIds, "rIdTbxSettings", "", relCounter);
                std::string main = src->MainPart;
                std::string dir = main.rfind('/') == std::string::npos ? "" : main.substr(0, main.rfind('/') + 1);
                std::string target = settingsPart.rfind(dir, 0) == 0 ? settingsPart.substr(dir.size()) : "/" + settingsPart;
                AddRelationship(relsRoot, id, RelSettings, target);
                pugi::xml_node o = types.append_child("Override");
                o.append_attribute("PartName") = ("/" + settingsPart).c_str();
                o.append_attribute("ContentType") = "application/vnd.openxmlformats-officedocument.wordprocessingml.settings+xml";
            }
        }
        std::string main = src->MainPart;
        std::string dir = main.rfind('/') == std::string::npos ? "" : main.substr(0, main.rfind('/') + 1);
        for (const auto& pp : pictures) {
            std::string target = pp.EntryName.rfind(dir, 0) == 0 ? pp.EntryName.substr(dir.size()) : "/" + pp.EntryName;
            AddRelationship(relsRoot, pp.RelId, RelImage, target);
        }
        zip.AddText("[Content_Types].xml", XmlToString(contentTypes));
        zip_int64_t count = zip_get_num_entries(source.get(), 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            const char* n = zip_get_name(source.get(), static_cast<zip_uint64_t>(i), 0);
            if (!n) continue;
            std::string name = n;
            if (name == "[Content_Types].xml" || name == src->MainPart || name == src->MainRelsPart ||
                (replaceSettings && name == settingsPart))
                continue;
            zip.CopyFrom(source.get(), static_cast<zip_uint64_t>(i), name);
        }
        zip.AddDeflated(src->MainPart, std::move(body));
        zip.AddText(src->MainRelsPart, XmlToString(relsDoc));
        if (replaceSettings) zip.AddText(settingsPart, settingsXml);
    }
    if (!pictures.empty()) {
        std::string spool = store.SpoolFileName();
        for (int i = 0; i < store.Count(); ++i) {
            const WordPicture& pic = store.Picture(i);
            zip.AddFile(pictures[static_cast<std::size_t>(i)].EntryName, spool, pic.Offset, pic.Size, false);
        }
    }
    zip.Close();
    target.Commit(src ? src->File.get() : nullptr);
}
