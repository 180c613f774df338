// RTF writer of the word processor (also what a ".doc" name gets).

#include "framework/exceptions.h"
#include "framework/files.h"
#include "platform/automation/word/word_save.h"
#include "platform/automation/word/word_source.h"
#include "platform/automation/word/word_text.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

namespace {

const int ColorRgb[17][3] = {{0, 0, 0},       {0, 0, 0},       {0, 0, 255},     {0, 255, 255},   {0, 255, 0},
                             {255, 0, 255},   {255, 0, 0},     {255, 255, 0},   {255, 255, 255}, {0, 0, 128},
                             {0, 128, 128},   {0, 128, 0},     {128, 0, 128},   {128, 0, 0},     {128, 128, 0},
                             {128, 128, 128}, {192, 192, 192}};
const char* const BorderWord[9] = {"", "\\brdrs", "\\brdrdot", "\\brdrdashsm", "\\brdrdash",
                                   "\\brdrdashd", "\\brdrdashdd", "\\brdrdb", "\\brdrtriple"};
const char* const AlignWord[4] = {"\\ql", "\\qc", "\\qr", "\\qj"};

std::string Twips(double pt) { return std::to_string(static_cast<long long>(std::lround(pt * 20))); }

std::string FoldName(const std::string& s)
{
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return r;
}

// Escapes into the output's buffer, which goes out as it fills: a long text is never
// held escaped whole.
void AppendRtfText(WordOutFile& out, std::string_view bytes)
{
    std::string& s = out.Buffer();
    ForEachWordChar(bytes, [&](char32_t c) {
        out.MaybeFlush();
        if (c == WordTab) s += "\\tab ";
        else if (c == WordLineBreak) s += "\\line ";
        else AppendRtfChar(s, c);
    });
}

class RtfBodyWriter {
public:
    RtfBodyWriter(WordDocumentModel& model, WordOutFile& out, std::map<std::string, int> fonts, int colorBase,
                  int defaultFont)
        : FModel(model), FOut(out), FFonts(std::move(fonts)), FColorBase(colorBase), FDefaultFont(defaultFont) {}

    void Blocks()
    {
        const auto& blocks = FModel.Blocks();
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const WordBlock& b = blocks[i];
            if (b.BlockKind == WordBlock::Paragraph) Paragraph(b.Para, false, i + 1 < blocks.size());
            else if (b.BlockKind == WordBlock::Table) Table(*b.Tbl);
            FOut.MaybeFlush();
        }
    }

private:
    std::string CharFormat(const WordCharFormat& f)
    {
        // The font is always named: some readers (unrtf) drop a paragraph's first \u
        // character while no font is selected.
        int font = FDefaultFont;
        if (!f.FontName.empty())
            if (auto it = FFonts.find(FoldName(f.FontName)); it != FFonts.end()) font = it->second;
        std::string s = "\\f" + std::to_string(font);
        if (f.Bold) s += "\\b";
        if (f.Italic) s += "\\i";
        if (f.Underline) s += "\\ul";
        if (f.ColorIndex > 0 && f.ColorIndex <= 16) s += "\\cf" + std::to_string(FColorBase + f.ColorIndex);
        if (f.HighlightIndex > 0 && f.HighlightIndex <= 16)
            s += "\\highlight" + std::to_string(FColorBase + f.HighlightIndex);
        return s;
    }

    void Picture(const WordInlinePicture& p)
    {
        WordPictureStore& store = FModel.Pictures();
        const WordPicture& pic = store.Picture(p.Picture);
        std::string& s = FOut.Buffer();
        s += "{\\pict\\pngblip\\picw" + std::to_string(pic.PixelWidth) + "\\pich" + std::to_string(pic.PixelHeight) +
             "\\picwgoal" + Twips(p.WidthPt) + "\\pichgoal" + Twips(p.HeightPt) + "\n";
        static const char* hex = "0123456789abcdef";
        store.ReadPng(pic, [&](std::string_view chunk) {
            std::string& b = FOut.Buffer();
            for (std::size_t i = 0; i < chunk.size(); ++i) {
                unsigned char c = static_cast<unsigned char>(chunk[i]);
                b += hex[c >> 4];
                b += hex[c & 15];
                if ((i & 63) == 63) b += '\n';
            }
            FOut.MaybeFlush();
        });
        FOut.Buffer() += "}";
    }

    void Paragraph(const WordParagraph& p, bool inTable, bool withMark)
    {
        std::string& s = FOut.Buffer();
        s += "\\pard\\plain";
        if (inTable) s += "\\intbl";
        s += AlignWord[p.Alignment < 4 ? p.Alignment : 0];
        std::string fmt = CharFormat(FModel.Format(p.Format));
        s += fmt;
        s += " {";
        s += fmt;
        if (!fmt.empty()) s += ' '; // ends the control word; a space after "{" would be text
        std::size_t done = 0;
        if (p.Pictures) {
            for (const WordInlinePicture& pic : *p.Pictures) {
                std::size_t at = std::min(pic.TextOffset, p.Text.size());
                if (at > done) AppendRtfText(FOut, std::string_view(p.Text).substr(done, at - done));
                done = std::max(done, at);
                Picture(pic);
            }
        }
        AppendRtfText(FOut, std::string_view(p.Text).substr(done));
        FOut.Buffer() += "}";
        if (inTable) FOut.Buffer() += "\\cell\n";
        else if (withMark) FOut.Buffer() += "\\par\n";
        else FOut.Buffer() += "\n";
    }

    void Border(std::string& s, const char* word, int style)
    {
        if (style <= 0 || style > 8) return;
        s += word;
        s += BorderWord[style];
        s += "\\brdrw10";
    }

    void Table(const WordTable& t)
    {
        std::string def = "\\trowd\\trgaph" + Twips(t.CellMarginPt()) + "\\trleft0";
        if (t.AutoFit) def += "\\trautofit1";
        int rows = t.RowCount();
        std::vector<std::string> cellDefs(static_cast<std::size_t>(rows > 1 ? 3 : 1));
        // a row's definition depends only on whether it is the first / last row
        auto rowDef = [&](bool first, bool last) {
            std::string s = def;
            double right = 0;
            for (int c = 0; c < t.Columns; ++c) {
                Border(s, "\\clbrdrt", first ? t.Borders[wbTop] : t.Borders[wbHorizontal]);
                Border(s, "\\clbrdrl", c == 0 ? t.Borders[wbLeft] : t.Borders[wbVertical]);
                Border(s, "\\clbrdrb", last ? t.Borders[wbBottom] : t.Borders[wbHorizontal]);
                Border(s, "\\clbrdrr", c == t.Columns - 1 ? t.Borders[wbRight] : t.Borders[wbVertical]);
                right += t.ColumnWidthsPt[static_cast<std::size_t>(c)];
                s += "\\cellx" + Twips(right);
            }
            return s + "\n";
        };
        std::string only = rowDef(true, true), first = rowDef(true, false), middle = rowDef(false, false),
                    last = rowDef(false, true);
        // The definition goes before the cells (where readers such as pandoc take it) and
        // again before \row: AbiWord takes a row's cell borders from the one that closes it.
        t.Rows.ForEach([&](int r, const std::vector<WordParagraph>& cells) {
            const std::string& d = rows == 1 ? only : r == 0 ? first : r == rows - 1 ? last : middle;
            FOut.Buffer() += d;
            for (const WordParagraph& cell : cells) Paragraph(cell, true, false);
            FOut.Buffer() += d;
            FOut.Buffer() += "\\row\n";
            FOut.MaybeFlush();
        });
    }

    WordDocumentModel& FModel;
    WordOutFile& FOut;
    std::map<std::string, int> FFonts;
    int FColorBase;
    int FDefaultFont;
};

std::string PageControls(const WordPageSetup& page)
{
    double w = page.Orientation == 1 ? std::max(page.PageWidth, page.PageHeight) : std::min(page.PageWidth, page.PageHeight);
    double h = page.Orientation == 1 ? std::min(page.PageWidth, page.PageHeight) : std::max(page.PageWidth, page.PageHeight);
    std::string s = "\\paperw" + Twips(w) + "\\paperh" + Twips(h) + "\\margl" + Twips(page.LeftMargin) + "\\margr" +
                    Twips(page.RightMargin) + "\\margt" + Twips(page.TopMargin) + "\\margb" + Twips(page.BottomMargin);
    if (page.Orientation == 1) s += "\\landscape";
    return s;
}

std::string ColorEntries()
{
    std::string s;
    for (int i = 1; i <= 16; ++i)
        s += "\\red" + std::to_string(ColorRgb[i][0]) + "\\green" + std::to_string(ColorRgb[i][1]) + "\\blue" +
             std::to_string(ColorRgb[i][2]) + ";";
    return s;
}

std::string FontEntry(int number, const std::string& name)
{
    std::string s = "{\\f" + std::to_string(number) + "\\fnil\\fcharset0 ";
    ForEachWordChar(name, [&](char32_t c) {
        if (c == ';' || c == WordTab || c == WordLineBreak) c = ' ';
        AppendRtfChar(s, c);
    });
    return s + ";}";
}

// Copies bytes [from, to) of the input file to out.
void CopyRange(std::ifstream& in, WordOutFile& out, int64_t from, int64_t to, const std::string& name)
{
    in.seekg(from);
    std::string buf(1 << 16, '\0');
    while (from < to) {
        std::streamsize n = static_cast<std::streamsize>(std::min<int64_t>(to - from, static_cast<int64_t>(buf.size())));
        in.read(buf.data(), n);
        if (in.gcount() != n) throw EStreamError("The file '" + name + "' changed while it was open; it cannot be merged");
        out.Write(std::string_view(buf.data(), static_cast<std::size_t>(n)));
        from += n;
    }
}

} // namespace

void WriteRtf(WordDocumentModel& model, const std::string& fileName)
{
    auto* src = dynamic_cast<RtfSourceDocument*>(model.Source.get());
    TFileReplacement target(fileName);

    // fonts the content names
    std::map<std::string, int> fonts;
    std::string newFonts;
    int nextFont = 1;
    if (src) {
        for (const RtfFont& f : src->Fonts) {
            fonts.emplace(FoldName(f.Name), f.Number);
            nextFont = std::max(nextFont, f.Number + 1);
        }
    } else {
        fonts.emplace(FoldName(WordDocumentModel::DefaultFontName()), 0);
        newFonts = FontEntry(0, WordDocumentModel::DefaultFontName());
    }
    for (const WordCharFormat& f : model.Formats()) {
        if (f.FontName.empty() || fonts.count(FoldName(f.FontName))) continue;
        fonts.emplace(FoldName(f.FontName), nextFont);
        newFonts += FontEntry(nextFont++, f.FontName);
    }

    WordOutFile out(target.Handle(), target.TempName());
    // Enforced read-only, the strongest protection RTF carries. It has no password check that
    // the readers honour, so the password is not written.
    std::string protection = model.Protected ? "\\enforceprot1\\protlevel3\\readprot\n" : "";
    int colorBase = 0;
    if (!src) {
        out.Write("{\\rtf1\\ansi\\ansicpg1252\\uc1\\deff0\n{\\fonttbl" + newFonts + "}\n{\\colortbl;" + ColorEntries() + "}\n");
        out.Write(PageControls(model.PageSetup()) + "\\deftab720\n" + protection + "\\sectd\n");
    } else {
        src->File->CheckUnchanged();
        std::ifstream in(src->File->OpenedName(), std::ios::binary);
        if (!in) throw EFOpenError::CannotOpen(src->FileName, "the document it was opened from can no longer be read");
        // The source is copied with these edits: [Begin, End) replaced by Text.
        struct Edit {
            int64_t Begin, End;
            std::string Text;
        };
        std::vector<Edit> edits;
        int64_t fontsEnd = src->FontTableEnd, fontsBegin = src->FontTableBegin;
        if (fontsEnd > fontsBegin) edits.push_back({fontsEnd - 1, fontsEnd - 1, newFonts});
        else if (!newFonts.empty()) edits.push_back({fontsBegin, fontsBegin, "{\\fonttbl" + newFonts + "}"});
        if (src->ColorTableEnd > src->ColorTableBegin) {
            // an empty table gets its "auto" entry first
            std::string entries = (src->ColorCount == 0 ? ";" : "") + ColorEntries();
            edits.push_back({src->ColorTableEnd - 1, src->ColorTableEnd - 1, entries});
            colorBase = std::max(src->ColorCount - 1, 0);
        } else {
            edits.push_back({src->ColorTableBegin, src->ColorTableBegin, "{\\colortbl;" + ColorEntries() + "}"});
        }
        // A new page setup or protection replaces the document's own words; an empty group
        // stands for a removed word, so that neighbouring words and text stay apart.
        std::string docFormat;
        if (model.PageSetup().Changed) {
            docFormat += PageControls(model.PageSetup());
            for (const auto& [b, e] : src->PageWords) edits.push_back({b, e, "{}"});
        }
        if (model.Protected) {
            docFormat += protection;
            for (const auto& [b, e] : src->ProtectionWords) edits.push_back({b, e, "{}"});
        }
        if (!docFormat.empty()) edits.push_back({src->DocFormatAt, src->DocFormatAt, docFormat + "\n"});
        std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.Begin < b.Begin; });
        int64_t done = 0;
        for (const Edit& e : edits) {
            if (e.Begin > done) CopyRange(in, out, done, e.Begin, src->FileName);
            out.Write(e.Text);
            done = std::max(done, e.End);
        }
        CopyRange(in, out, done, src->FinalBrace, src->FileName);
        if (!src->EndsWithParagraph) out.Write("\\par\n");
        // a table right after the document's last table would join it
        const auto& blocks = model.Blocks();
        auto first = std::find_if(blocks.begin(), blocks.end(),
                                  [](const WordBlock& b) { return b.BlockKind != WordBlock::Existing; });
        if (src->EndsWithRow && first != blocks.end() && first->BlockKind == WordBlock::Table)
            out.Write("\\pard\\plain\\par\n");
    }
    RtfBodyWriter(model, out, fonts, colorBase, src ? src->DefaultFont : 0).Blocks();
    out.Write("}\n");
    out.Close();
    target.Commit(src ? src->File.get() : nullptr);
}
