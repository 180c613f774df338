#include "platform/automation/word/word_source.h"

#include "framework/exceptions.h"
#include "platform/automation/word/word_text.h"
#include "platform/automation/zip_package.h"

#include <zip.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

constexpr std::size_t RtfHeldLimit = std::size_t(256) << 20;

const char* const WordMainNs = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
const char* const OfficeDocRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
const char* const SettingsRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/settings";

std::string LocalName(const char* name)
{
    const char* colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
}

class ZipReader {
public:
    explicit ZipReader(const TMergedFile& file) : FName(file.FileName())
    {
        int error = 0;
        FZip = zip_open(file.OpenedName().c_str(), ZIP_RDONLY, &error);
        if (!FZip) {
            zip_error_t ze;
            zip_error_init_with_code(&ze, error);
            std::string msg = zip_error_strerror(&ze);
            zip_error_fini(&ze);
            throw Exception("The document '" + FName + "' is a damaged package: " + msg);
        }
    }
    ~ZipReader() { if (FZip) zip_discard(FZip); }
    zip_t* Get() { return FZip; }

    bool Has(const std::string& name) { return zip_name_locate(FZip, name.c_str(), 0) >= 0; }
    std::string Read(const std::string& name) { return ReadHeldPart(FZip, name, FName); }

private:
    std::string FName;
    zip_t* FZip = nullptr;
};

void ParseXml(pugi::xml_document& doc, const std::string& data, const std::string& part, const std::string& file)
{
    pugi::xml_parse_result r = doc.load_buffer(data.data(), data.size(),
                                               pugi::parse_default | pugi::parse_ws_pcdata_single);
    if (!r)
        throw Exception("The part '" + part + "' of the document '" + file + "' is not well-formed XML: " +
                        r.description());
}

// "word/_rels/document.xml.rels" for "word/document.xml".
std::string RelsPartOf(const std::string& part)
{
    auto slash = part.rfind('/');
    std::string dir = slash == std::string::npos ? "" : part.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? part : part.substr(slash + 1);
    return dir + "_rels/" + name + ".rels";
}

// Resolves a relationship target relative to the folder of `part`.
std::string ResolveTarget(const std::string& part, std::string target)
{
    if (!target.empty() && target[0] == '/') return target.substr(1);
    auto slash = part.rfind('/');
    std::string dir = slash == std::string::npos ? "" : part.substr(0, slash + 1);
    std::filesystem::path p = std::filesystem::path(dir + target).lexically_normal();
    return p.generic_string();
}

double TwipsAttr(pugi::xml_node n, const char* name, double fallbackPt)
{
    pugi::xml_attribute a = n.attribute(name);
    if (!a) return fallbackPt;
    return a.as_double() / 20.0;
}

void OpenDocx(WordDocumentModel& model, std::shared_ptr<TMergedFile> file)
{
    const std::string fileName = file->FileName();
    auto src = std::make_shared<DocxSourceDocument>();
    src->FileName = fileName;
    src->File = std::move(file);
    ZipReader zip(*src->File);
    zip_int64_t count = zip_get_num_entries(zip.Get(), 0);
    for (zip_int64_t i = 0; i < count; ++i)
        if (const char* n = zip_get_name(zip.Get(), static_cast<zip_uint64_t>(i), 0)) src->Entries.insert(n);

    if (!zip.Has("[Content_Types].xml") || !zip.Has("_rels/.rels"))
        throw Exception("The file '" + fileName + "' is not a word-processor document package");
    ParseXml(src->ContentTypes, zip.Read("[Content_Types].xml"), "[Content_Types].xml", fileName);
    pugi::xml_document rootRels;
    ParseXml(rootRels, zip.Read("_rels/.rels"), "_rels/.rels", fileName);
    for (pugi::xml_node r : rootRels.document_element().children())
        if (std::string(r.attribute("Type").value()) == OfficeDocRel)
            src->MainPart = ResolveTarget("", r.attribute("Target").value());
    if (src->MainPart.empty() || !zip.Has(src->MainPart))
        throw Exception("The file '" + fileName + "' is not a word-processor document package (no main document part)");
    ParseXml(src->Document, zip.Read(src->MainPart), src->MainPart, fileName);

    pugi::xml_node root = src->Document.document_element();
    std::string prefix;
    {
        std::string rootName = root.name();
        auto colon = rootName.find(':');
        prefix = colon == std::string::npos ? "" : rootName.substr(0, colon);
        std::string nsAttr = prefix.empty() ? "xmlns" : "xmlns:" + prefix;
        if (LocalName(root.name()) != "document" || std::string(root.attribute(nsAttr.c_str()).value()) != WordMainNs)
            throw Exception("The file '" + fileName + "' is not a word-processor document (its main part is no document)");
    }
    std::string p = prefix.empty() ? "" : prefix + ":";
    pugi::xml_node body = root.child((p + "body").c_str());
    if (!body) throw Exception("The document '" + fileName + "' has no body");

    src->MainRelsPart = RelsPartOf(src->MainPart);
    if (zip.Has(src->MainRelsPart)) {
        ParseXml(src->Rels, zip.Read(src->MainRelsPart), src->MainRelsPart, fileName);
        for (pugi::xml_node r : src->Rels.document_element().children()) {
            src->RelIds.insert(r.attribute("Id").value());
            if (std::string(r.attribute("Type").value()) == SettingsRel && std::string(r.attribute("TargetMode").value()) != "External")
                src->SettingsPart = ResolveTarget(src->MainPart, r.attribute("Target").value());
        }
    } else {
        pugi::xml_node rels = src->Rels.append_child("Relationships");
        rels.append_attribute("xmlns") = "http://schemas.openxmlformats.org/package/2006/relationships";
    }
    if (!src->SettingsPart.empty() && !zip.Has(src->SettingsPart)) src->SettingsPart.clear();

    // Existing drawing ids, the content's length and the page setup. Drawing ids must be
    // unique across the document's parts: headers, footers and notes have drawings too.
    std::size_t length = 0;
    struct Walker : pugi::xml_tree_walker {
        DocxSourceDocument* Src;
        std::size_t* Length = nullptr; // null: only the ids
        bool for_each(pugi::xml_node& n) override
        {
            if (n.type() != pugi::node_element) return true;
            std::string local = LocalName(n.name());
            if (local == "docPr" || local == "cNvPr") {
                unsigned id = n.attribute("id").as_uint();
                if (id > Src->MaxDrawingId) Src->MaxDrawingId = id;
            } else if (!Length) {
            } else if (local == "t") {
                *Length += WordTextLength(n.child_value());
            } else if (local == "p" || local == "tab" || local == "br") {
                *Length += 1;
            }
            return true;
        }
    } walker;
    walker.Src = src.get();
    walker.Length = &length;
    body.traverse(walker);
    walker.Length = nullptr;
    for (const std::string& entry : src->Entries) {
        if (entry == src->MainPart || entry.size() < 4 || entry.compare(entry.size() - 4, 4, ".xml") != 0) continue;
        std::string data = zip.Read(entry);
        if (data.find("docPr") == std::string::npos && data.find("cNvPr") == std::string::npos) continue;
        pugi::xml_document part; // a part that does not parse is kept as it is; its ids are lost
        if (part.load_buffer(data.data(), data.size())) part.traverse(walker);
    }

    WordPageSetup& page = model.PageSetup();
    if (pugi::xml_node sect = body.child((p + "sectPr").c_str())) {
        if (pugi::xml_node sz = sect.child((p + "pgSz").c_str())) {
            page.PageWidth = TwipsAttr(sz, (p + "w").c_str(), page.PageWidth);
            page.PageHeight = TwipsAttr(sz, (p + "h").c_str(), page.PageHeight);
            page.Orientation = std::string(sz.attribute((p + "orient").c_str()).value()) == "landscape" ? 1 : 0;
        }
        if (pugi::xml_node mar = sect.child((p + "pgMar").c_str())) {
            page.TopMargin = TwipsAttr(mar, (p + "top").c_str(), page.TopMargin);
            page.BottomMargin = TwipsAttr(mar, (p + "bottom").c_str(), page.BottomMargin);
            page.LeftMargin = TwipsAttr(mar, (p + "left").c_str(), page.LeftMargin);
            page.RightMargin = TwipsAttr(mar, (p + "right").c_str(), page.RightMargin);
        }
    }
    model.AttachSource(src, std::max<std::size_t>(length, 1));
}

// ---- RTF

struct RtfScanner {
    const std::string& Data;
    std::size_t Pos = 0;

    explicit RtfScanner(const std::string& data) : Data(data) {}

    // Reads a control word at Pos (just after the backslash): its name and parameter.
    bool ControlWord(std::string& name, long long& param, bool& hasParam)
    {
        name.clear();
        hasParam = false;
        param = 0;
        while (Pos < Data.size() && std::isalpha(static_cast<unsigned char>(Data[Pos]))) name += Data[Pos++];
        if (name.empty()) return false;
        bool neg = false;
        if (Pos < Data.size() && Data[Pos] == '-') { neg = true; ++Pos; }
        int digits = 0;
        while (Pos < Data.size() && std::isdigit(static_cast<unsigned char>(Data[Pos]))) {
            if (digits < 12) param = param * 10 + (Data[Pos] - '0');
            ++digits;
            ++Pos;
            hasParam = true;
        }
        if (neg) param = -param;
        if (Pos < Data.size() && Data[Pos] == ' ') ++Pos; // the delimiting space belongs to the word
        return true;
    }
};

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses the font table group data[begin, end).
void ParseFontTable(const std::string& data, std::size_t begin, std::size_t end, std::vector<RtfFont>& fonts)
{
    RtfScanner s(data);
    s.Pos = begin + 1;
    int depth = 1;
    int skipDepth = 0; // > 0 while inside an ignorable group
    RtfFont current;
    bool haveFont = false;
    std::string name, word;
    long long param;
    bool hasParam;
    int uc = 1, skipChars = 0;
    while (s.Pos < end) {
        char c = data[s.Pos];
        if (c == '{') {
            ++depth;
            ++s.Pos;
            if (!skipDepth && data.compare(s.Pos, 2, "\\*") == 0) skipDepth = depth;
            continue;
        }
        if (c == '}') {
            if (skipDepth == depth) skipDepth = 0;
            --depth;
            ++s.Pos;
            continue;
        }
        if (c == '\\') {
            ++s.Pos;
            if (s.Pos >= end) break;
            char n = data[s.Pos];
            if (n == '\'') {
                int h1 = s.Pos + 2 < end ? HexValue(data[s.Pos + 1]) : -1, h2 = s.Pos + 2 < end ? HexValue(data[s.Pos + 2]) : -1;
                s.Pos += 3;
                if (h1 >= 0 && h2 >= 0 && !skipDepth) {
                    if (skipChars > 0) --skipChars;
                    else AppendUtf8(name, Cp1252ToUnicode(static_cast<unsigned char>(h1 * 16 + h2)));
                }
                continue;
            }
            if (!s.ControlWord(word, param, hasParam)) { ++s.Pos; continue; }
            if (skipDepth) continue;
            if (word == "f" && hasParam) {
                current.Number = static_cast<int>(param);
                haveFont = true;
                name.clear();
            } else if (word == "uc" && hasParam) {
                uc = static_cast<int>(param);
            } else if (word == "u" && hasParam) {
                AppendUtf8(name, static_cast<char32_t>(param < 0 ? param + 65536 : param));
                skipChars = uc;
            }
            continue;
        }
        ++s.Pos;
        if (skipDepth || c == '\r' || c == '\n') continue;
        if (skipChars > 0) { --skipChars; continue; }
        if (c == ';') {
            if (haveFont) {
                while (!name.empty() && name.back() == ' ') name.pop_back();
                while (!name.empty() && name.front() == ' ') name.erase(0, 1);
                current.Name = name;
                fonts.push_back(current);
            }
            haveFont = false;
            name.clear();
        } else if (haveFont) {
            name += c;
        }
    }
}

void OpenRtf(WordDocumentModel& model, std::shared_ptr<TMergedFile> file, std::string data)
{
    const std::string fileName = file->FileName();
    auto src = std::make_shared<RtfSourceDocument>();
    src->FileName = fileName;
    src->File = std::move(file);
    src->FileSize = static_cast<int64_t>(data.size());
    RtfScanner s(data);
    while (s.Pos < data.size() && std::isspace(static_cast<unsigned char>(data[s.Pos]))) ++s.Pos;
    if (data.compare(s.Pos, 5, "{\\rtf") != 0) throw Exception("The file '" + fileName + "' is not an RTF document");
    int depth = 0;
    std::string word;
    long long param;
    bool hasParam;
    // Per open group: where it starts and what it is.
    enum GroupKind : char { Plain, HeaderDestination, Password };
    std::vector<std::size_t> groupStart;
    std::vector<GroupKind> groupKind;
    bool sawText = false, endsWithPar = true, endsWithRow = false;
    bool inBody = false;       // past the header: document formatting goes before this
    bool firstSection = true;  // before the first \sect
    WordPageSetup& page = model.PageSetup();
    WordPageSetup section = page; // the first section's own page words, when it has some
    bool sectionSize = false, sectionMargins[4] = {false, false, false, false}, sectionLandscape = false;
    bool seenRtf = false;
    int destDepth = 0; // > 0 inside a destination whose text is not body text
    auto text = [&] {
        if (destDepth) return;
        sawText = inBody = true;
        endsWithPar = endsWithRow = false;
    };
    auto range = [](std::size_t b, std::size_t e) { return std::pair<int64_t, int64_t>(int64_t(b), int64_t(e)); };
    while (s.Pos < data.size()) {
        char c = data[s.Pos];
        if (c == '{') {
            groupStart.push_back(s.Pos);
            groupKind.push_back(Plain);
            ++depth;
            ++s.Pos;
            if (data.compare(s.Pos, 2, "\\*") == 0) {
                groupKind.back() = HeaderDestination;
                if (!destDepth) destDepth = depth;
            }
            continue;
        }
        if (c == '}') {
            if (depth == 0) throw Exception("The RTF document '" + fileName + "' is damaged (unbalanced braces)");
            std::size_t start = groupStart.back();
            GroupKind kind = groupKind.back();
            groupStart.pop_back();
            groupKind.pop_back();
            if (destDepth == depth) destDepth = 0;
            ++s.Pos;
            if (kind == Password) src->ProtectionWords.push_back(range(start, s.Pos));
            if (depth == 2 && !inBody) {
                if (kind == Plain) inBody = true;
                else src->DocFormatAt = static_cast<int64_t>(s.Pos);
            }
            --depth;
            if (depth == 0) {
                src->FinalBrace = static_cast<int64_t>(s.Pos - 1);
                break;
            }
            continue;
        }
        if (c == '\\') {
            std::size_t at = s.Pos;
            ++s.Pos;
            if (s.Pos >= data.size()) break;
            char n = data[s.Pos];
            if (!std::isalpha(static_cast<unsigned char>(n))) {
                s.Pos += n == '\'' ? 3 : 1;
                if (n != '*') text();
                continue;
            }
            s.ControlWord(word, param, hasParam);
            if (word == "bin" && hasParam && param > 0) { // binary data: skip it unread
                s.Pos += static_cast<std::size_t>(std::min<long long>(param, static_cast<long long>(data.size() - s.Pos)));
                continue;
            }
            if (depth == 1 && word == "deff" && hasParam && !inBody) src->DefaultFont = static_cast<int>(param);
            if (depth == 1 && !seenRtf && word == "rtf") {
                seenRtf = true;
                src->HeaderInsertAt = static_cast<int64_t>(s.Pos);
                continue;
            }
            bool opensGroup = !groupStart.empty() && at == groupStart.back() + 1;
            bool opensDestination = !groupStart.empty() && at == groupStart.back() + 3 && data[at - 1] == '*';
            if (depth == 2 && (word == "fonttbl" || word == "colortbl") && opensGroup) {
                // find the end of this group
                int d = 1;
                std::size_t e = s.Pos;
                while (e < data.size() && d > 0) {
                    if (data[e] == '\\') { e += 2; continue; }
                    if (data[e] == '{') ++d;
                    else if (data[e] == '}') --d;
                    ++e;
                }
                if (d != 0) throw Exception("The RTF document '" + fileName + "' is damaged (unbalanced braces)");
                std::size_t b = groupStart.back();
                if (word == "fonttbl") {
                    src->FontTableBegin = static_cast<int64_t>(b);
                    src->FontTableEnd = static_cast<int64_t>(e);
                    ParseFontTable(data, b, e, src->Fonts);
                } else {
                    src->ColorTableBegin = static_cast<int64_t>(b);
                    src->ColorTableEnd = static_cast<int64_t>(e);
                    for (std::size_t k = s.Pos; k < e; ++k)
                        if (data[k] == ';') ++src->ColorCount;
                }
                if (!inBody) src->DocFormatAt = static_cast<int64_t>(e);
                s.Pos = e;
                groupStart.pop_back();
                groupKind.pop_back();
                --depth;
                continue;
            }
            if (opensGroup && (word == "stylesheet" || word == "info" || word == "listtable" ||
                               word == "listoverridetable" || word == "revtbl" || word == "filetbl"))
                groupKind.back() = HeaderDestination;
            if (opensDestination && (word == "password" || word == "passwordhash")) groupKind.back() = Password;
            if (word == "pict" || word == "info" || word == "stylesheet" || word == "listtable" ||
                word == "listoverridetable" || word == "header" || word == "footer" || word == "footnote") {
                if (!destDepth) destDepth = depth;
            }
            if (depth == 1 && !destDepth) {
                double tw = static_cast<double>(param) / 20.0;
                bool pageWord = true;
                if (word == "paperw" && param > 0) page.PageWidth = tw;
                else if (word == "paperh" && param > 0) page.PageHeight = tw;
                else if (word == "margl" && param >= 0) page.LeftMargin = tw;
                else if (word == "margr" && param >= 0) page.RightMargin = tw;
                else if (word == "margt" && param >= 0) page.TopMargin = tw;
                else if (word == "margb" && param >= 0) page.BottomMargin = tw;
                else if (word == "landscape") page.Orientation = 1;
                else if (!firstSection) pageWord = false;
                else if (word == "pgwsxn" && param > 0) section.PageWidth = tw, sectionSize = true;
                else if (word == "pghsxn" && param > 0) section.PageHeight = tw, sectionSize = true;
                else if (word == "marglsxn" && param >= 0) section.LeftMargin = tw, sectionMargins[0] = true;
                else if (word == "margrsxn" && param >= 0) section.RightMargin = tw, sectionMargins[1] = true;
                else if (word == "margtsxn" && param >= 0) section.TopMargin = tw, sectionMargins[2] = true;
                else if (word == "margbsxn" && param >= 0) section.BottomMargin = tw, sectionMargins[3] = true;
                else if (word == "lndscpsxn") sectionLandscape = true;
                else pageWord = false;
                if (pageWord) src->PageWords.push_back(range(at, s.Pos));
                if (word == "enforceprot" || word == "protlevel" || word == "readprot" || word == "annotprot" ||
                    word == "formprot" || word == "revprot")
                    src->ProtectionWords.push_back(range(at, s.Pos));
            }
            if (!destDepth) {
                if (word == "par" || word == "row" || word == "sect" || word == "page") {
                    endsWithPar = inBody = true;
                    endsWithRow = word == "row";
                    if (word == "sect") firstSection = false;
                } else if (word == "tab" || word == "line" || word == "u") {
                    text();
                } else if (word == "pard" || word == "plain" || word == "sectd" || word == "trowd" || word == "intbl" ||
                           word == "cell") {
                    inBody = true;
                }
            }
            continue;
        }
        ++s.Pos;
        if (c != '\r' && c != '\n' && c != ' ' && depth >= 1) text();
    }
    if (depth != 0 || src->FinalBrace == 0)
        throw Exception("The RTF document '" + fileName + "' is damaged (it does not end with its closing brace)");
    if (src->FontTableBegin < 0) src->FontTableBegin = src->FontTableEnd = src->HeaderInsertAt;
    if (src->ColorTableBegin < 0) src->ColorTableBegin = src->ColorTableEnd = src->FontTableEnd;
    if (src->ColorTableBegin < src->FontTableEnd) // a colour table before the font table: keep it where it is
        src->ColorTableBegin = src->ColorTableEnd = std::max(src->ColorTableEnd, src->FontTableEnd);
    src->DocFormatAt = std::max(src->DocFormatAt, src->ColorTableEnd);
    src->EndsWithParagraph = endsWithPar || !sawText;
    src->EndsWithRow = endsWithRow && src->EndsWithParagraph;
    // What readers show is the first section's page where it sets one.
    if (sectionSize) {
        page.PageWidth = section.PageWidth;
        page.PageHeight = section.PageHeight;
    }
    if (sectionMargins[0]) page.LeftMargin = section.LeftMargin;
    if (sectionMargins[1]) page.RightMargin = section.RightMargin;
    if (sectionMargins[2]) page.TopMargin = section.TopMargin;
    if (sectionMargins[3]) page.BottomMargin = section.BottomMargin;
    if (sectionLandscape) page.Orientation = 1;
    model.AttachSource(src, 1);
}

} // namespace

void OpenWordSource(WordDocumentModel& model, const std::string& fileName, bool lock)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(fileName, ec))
        throw EFOpenError::CannotOpen(fileName, "the file does not exist");
    auto file = std::make_shared<TMergedFile>(fileName, lock);
    char head[8] = {};
    const std::size_t got = file->ReadAt(0, head, sizeof head);
    if (got >= 4 && std::memcmp(head, "PK\x03\x04", 4) == 0) {
        OpenDocx(model, std::move(file));
        return;
    }
    if (got >= 8 && std::memcmp(head, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0)
        throw Exception("The file '" + fileName +
                        "' is a binary word-processor document (.doc), which this word processor cannot open; "
                        "save it as .docx or .rtf first");
    // An RTF document is scanned whole; its pictures are hexadecimal text, so it may be
    // larger than a package's parts.
    if (file->Size() > static_cast<long long>(RtfHeldLimit))
        throw Exception("The document '" + fileName + "' is larger than this application reads into memory (" +
                        std::to_string(RtfHeldLimit >> 20) + " MB)");
    std::string data(static_cast<std::size_t>(file->Size()), '\0');
    data.resize(file->ReadAt(0, data.data(), data.size()));
    std::size_t i = 0;
    while (i < data.size() && std::isspace(static_cast<unsigned char>(data[i]))) ++i;
    if (data.compare(i, 5, "{\\rtf") == 0) {
        OpenRtf(model, std::move(file), std::move(data));
        return;
    }
    throw Exception("The file '" + fileName + "' is neither an Office Open XML nor an RTF document");
}
