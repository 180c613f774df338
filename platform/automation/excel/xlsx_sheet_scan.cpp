#include "platform/automation/excel/xlsx_sheet_scan.h"

#include "framework/exceptions.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

enum class Section { Head, Rows, Tail };

constexpr std::string_view SheetNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

std::string_view LocalName(std::string_view qualified)
{
    const std::size_t colon = qualified.find(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

// Calls f(name, value) for each attribute of a start tag's text (from "<" to ">").
template <class F> void ForAttributes(std::string_view tag, F&& f)
{
    std::size_t i = 1;
    while (i < tag.size() && !IsBlank(tag[i]) && tag[i] != '>' && tag[i] != '/') ++i;
    while (i < tag.size()) {
        while (i < tag.size() && IsBlank(tag[i])) ++i;
        const std::size_t start = i;
        while (i < tag.size() && tag[i] != '=' && !IsBlank(tag[i]) && tag[i] != '>' && tag[i] != '/') ++i;
        const std::string_view attr = tag.substr(start, i - start);
        while (i < tag.size() && IsBlank(tag[i])) ++i;
        if (i >= tag.size() || tag[i] != '=') return;
        ++i;
        while (i < tag.size() && IsBlank(tag[i])) ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) return;
        const char quote = tag[i++];
        const std::size_t end = tag.find(quote, i);
        if (end == std::string_view::npos) return;
        f(attr, tag.substr(i, end - i));
        i = end + 1;
    }
}

// The value of attribute `name` in a start tag's text (from "<" to ">"), or empty.
std::string_view Attribute(std::string_view tag, std::string_view name)
{
    std::string_view found;
    bool seen = false;
    ForAttributes(tag, [&](std::string_view attr, std::string_view value) {
        if (!seen && attr == name) {
            found = value;
            seen = true;
        }
    });
    return found;
}

class Scanner {
public:
    Scanner(zip_t* zip, const std::string& name, const std::string& package, bool keep,
            const std::function<void(std::string_view)>& rows)
        : FName(name), FPackage(package), FKeep(keep), FRows(rows)
    {
        FFile = zip_fopen(zip, name.c_str(), 0);
        if (!FFile) throw Exception("The workbook '" + package + "' has no part '" + name + "'");
    }
    ~Scanner() { zip_fclose(FFile); }

    XlsxSheetScan Run(bool countRows)
    {
        while (FSection != Section::Tail) {
            // The next markup; a "<" can only start one (values and texts escape it).
            std::size_t lt = FPos;
            while (true) {
                const char* p = FBuf.data() + lt;
                const char* end = FBuf.data() + FBuf.size();
                while (p < end && *p != '<') ++p;
                if (p < end) {
                    lt = static_cast<std::size_t>(p - FBuf.data());
                    break;
                }
                FPos = FBuf.size();
                if (!More()) return Finish();
                lt = FPos;
            }
            FPos = lt;
            if (!Have(2)) Broken("it ends inside its markup");
            const char next = FBuf[FPos + 1];
            if (next == '!') {
                if (Starts("<!--")) Skip(4, "-->");
                else if (Starts("<![CDATA[")) Skip(9, "]]>");
                else Skip(2, ">");
            } else if (next == '?') Skip(2, "?>");
            else if (next == '/') EndTag();
            else if (FSection == Section::Rows) RowsTag(countRows);
            else StartTag();
        }
        // Nothing after the rows needs reading: it all goes to the tail, when kept.
        if (!FKeep) return std::move(FResult);
        FPos = FBuf.size();
        while (More()) FPos = FBuf.size();
        return Finish();
    }

private:
    [[noreturn]] void Broken(const std::string& why) const
    {
        throw Exception("The sheet part '" + FName + "' of '" + FPackage + "' cannot be read: " + why);
    }

    // Reads more of the part; what was consumed goes to its section first. False at the end.
    bool More()
    {
        Emit(FPos);
        FBuf.erase(0, FPos);
        FMark = FPos = 0;
        if (FBuf.size() > XlsxHeldPartLimit) Broken("it holds markup larger than this application reads at once");
        const std::size_t at = FBuf.size();
        FBuf.resize(at + (1 << 18));
        const zip_int64_t got = zip_fread(FFile, FBuf.data() + at, 1 << 18);
        if (got < 0) Broken(zip_error_strerror(zip_file_get_error(FFile)));
        FBuf.resize(at + static_cast<std::size_t>(got));
        return got > 0;
    }

    // Hands the bytes from the mark to `end` to the current section.
    void Emit(std::size_t end)
    {
        const std::string_view bytes(FBuf.data() + FMark, end - FMark);
        FMark = end;
        if (bytes.empty()) return;
        if (FSection == Section::Rows) {
            if (FRows) FRows(bytes);
            return;
        }
        if (!FKeep) return;
        std::string& to = FSection == Section::Head ? FResult.Head : FResult.Tail;
        if (FResult.Head.size() + FResult.Tail.size() + bytes.size() > XlsxHeldPartLimit)
            Broken("its settings outside the rows are larger than this application holds in memory");
        to.append(bytes);
    }

    // Whether `n` bytes from the position are there (reading more as needed).
    bool Have(std::size_t n)
    {
        while (FBuf.size() - FPos < n)
            if (!More()) return false;
        return true;
    }

    // The name of the tag at the position (after "<").
    std::string_view TagName()
    {
        for (std::size_t i = 1;; ++i) {
            if (!Have(i + 1)) Broken("it ends inside a tag");
            const char ch = FBuf[FPos + i];
            if (IsBlank(ch) || ch == '>' || ch == '/') return std::string_view(FBuf).substr(FPos + 1, i - 1);
        }
    }

    // A start tag among the rows: only rows and cells are looked at, for their numbers.
    void RowsTag(bool countRows)
    {
        if (!countRows) {
            ++FPos;
            return;
        }
        const std::string_view qualified = TagName();
        const bool row = qualified == FRowName;
        if (!row && qualified != FCellName) {
            ++FPos;
            return;
        }
        const std::size_t end = TagEnd();
        const std::string_view tag = std::string_view(FBuf).substr(FPos, end + 1);
        const std::string_view r = Attribute(tag, "r");
        if (row) {
            int number = 0;
            for (char ch : r)
                if (ch >= '0' && ch <= '9' && number < 100000000) number = number * 10 + (ch - '0');
            FResult.LastRow = std::max(FResult.LastRow, r.empty() ? FResult.LastRow + 1 : number);
        } else {
            int col = 0;
            for (char ch : r) {
                const char upper = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
                if (upper >= 'A' && upper <= 'Z' && col < 100000) col = col * 26 + (upper - 'A' + 1);
            }
            FResult.LastCol = std::max(FResult.LastCol, col);
        }
        FPos += end + 1;
    }

    // Whether the text at the position starts with `s` (reading more as needed).
    bool Starts(std::string_view s)
    {
        while (FBuf.size() - FPos < s.size())
            if (!More()) return false;
        return std::string_view(FBuf).substr(FPos, s.size()) == s;
    }

    // Passes over a comment, CDATA section or processing instruction up to `end`; what it
    // holds goes on to its section as it is read, however long it is.
    void Skip(std::size_t from, std::string_view end)
    {
        FPos += from;
        while (true) {
            const std::size_t at = FBuf.find(end, FPos);
            if (at != std::string::npos) {
                FPos = at + end.size();
                return;
            }
            FPos = std::max(FPos, FBuf.size() - std::min(FBuf.size(), end.size() - 1));
            if (!More()) Broken("it ends inside its markup");
        }
    }

    // The offset of the ">" that ends the tag at the position, outside quoted values.
    std::size_t TagEnd()
    {
        char quote = 0;
        for (std::size_t i = 1;; ++i) {
            if (FPos + i >= FBuf.size() && !Have(i + 1)) Broken("it ends inside a tag");
            const char ch = FBuf[FPos + i];
            if (quote) {
                if (ch == quote) quote = 0;
            } else if (ch == '"' || ch == '\'') quote = ch;
            else if (ch == '>') return i;
        }
    }

    void EndTag()
    {
        const std::size_t end = TagEnd();
        std::string_view name = std::string_view(FBuf).substr(FPos + 2, end - 2);
        while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
        if (FSection == Section::Rows && name == FSheetDataName) {
            Emit(FPos);
            FSection = Section::Tail;
        } else if (FSection == Section::Head) {
            // The declarations of the element that ends go out of scope.
            --FDepth;
            while (!FScope.empty() && FScope.back().Depth > FDepth) FScope.pop_back();
        }
        FPos += end + 1;
    }

    // The namespace a prefix ("" for the default one) is bound to where the scan is.
    std::string_view NamespaceOf(std::string_view prefix) const
    {
        for (auto it = FScope.rbegin(); it != FScope.rend(); ++it)
            if (it->Prefix == prefix) return it->Uri;
        return {};
    }

    // A start tag before the rows: the sheetData element starts them.
    void StartTag()
    {
        const std::size_t end = TagEnd();
        const std::string_view tag = std::string_view(FBuf).substr(FPos, end + 1);
        std::size_t n = 1;
        while (n < tag.size() && !IsBlank(tag[n]) && tag[n] != '>' && tag[n] != '/') ++n;
        const std::string_view name = tag.substr(1, n - 1);
        const std::string_view local = LocalName(name);
        const bool selfClosing = tag.size() >= 2 && tag[tag.size() - 2] == '/';
        // The namespaces the element declares, in scope until its end tag.
        const int depth = FDepth + 1;
        ForAttributes(tag, [&](std::string_view attr, std::string_view value) {
            if (attr == "xmlns") FScope.push_back({depth, std::string(), std::string(value)});
            else if (attr.starts_with("xmlns:")) FScope.push_back({depth, std::string(attr.substr(6)), std::string(value)});
        });
        const std::string_view prefix = name.substr(0, name.size() - local.size() - (local.size() < name.size() ? 1 : 0));
        if (FSection == Section::Head && local == "sheetData" && NamespaceOf(prefix) == SheetNs) {
            // Rows and cells are of the same namespace, under the same prefix.
            FSheetDataName = name;
            const std::string qualifier = prefix.empty() ? std::string() : std::string(prefix) + ":";
            FRowName = qualifier + "row";
            FCellName = qualifier + "c";
            if (selfClosing) {
                // <sheetData/> becomes <sheetData></sheetData>.
                Emit(FPos);
                if (FKeep) {
                    FResult.Head.append(tag.substr(0, tag.size() - 2));
                    FResult.Head += '>';
                    FResult.Tail += "</" + std::string(name) + ">";
                }
                FPos += end + 1;
                FMark = FPos;
                FSection = Section::Tail;
            } else {
                FPos += end + 1;
                Emit(FPos);
                FSection = Section::Rows;
            }
            return;
        }
        if (selfClosing) {
            while (!FScope.empty() && FScope.back().Depth == depth) FScope.pop_back();
        } else {
            FDepth = depth;
        }
        FPos += end + 1;
    }

    XlsxSheetScan Finish()
    {
        Emit(FBuf.size());
        if (FSection == Section::Head) Broken("it has no sheetData element");
        if (FSection == Section::Rows) Broken("it ends inside its rows");
        return std::move(FResult);
    }

    zip_file_t* FFile = nullptr;
    const std::string& FName;
    const std::string& FPackage;
    bool FKeep;
    const std::function<void(std::string_view)>& FRows;
    std::string FBuf;
    std::size_t FPos = 0, FMark = 0;
    Section FSection = Section::Head;
    XlsxSheetScan FResult;
    // The namespace declarations in scope before the rows, by the depth of the element
    // that made them.
    struct Binding {
        int Depth;
        std::string Prefix, Uri;
    };
    std::vector<Binding> FScope;
    int FDepth = 0;
    // The qualified names of the sheetData element and of the rows and cells in it.
    std::string FSheetDataName, FRowName, FCellName;
};

} // namespace

XlsxSheetScan ScanXlsxSheet(zip_t* zip, const std::string& name, const std::string& package, bool keepHeadTail,
                            bool countRows, const std::function<void(std::string_view)>& rows)
{
    Scanner scanner(zip, name, package, keepHeadTail, rows);
    return scanner.Run(countRows);
}
