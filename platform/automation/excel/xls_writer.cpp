// Writes an XlWorkbook as a BIFF8 workbook (.xls): a "Workbook" stream of records in a
// compound file (libgsf), with a SummaryInformation stream naming the program.
//
// The stream is the workbook globals (fonts, number formats, cell formats, palette, sheet
// list, shared strings) followed by one substream per sheet. The sheets are written first,
// row by row from their spools, to a temporary file, collecting the shared strings; then
// the globals are made with the sheets' offsets and both are copied into the container.

#include "platform/automation/excel/excel_workbook.h"
#include "platform/automation/excel/xls_records.h"

#include "framework/exceptions.h"
#include "framework/files.h"


#include <gsf/gsf-doc-meta-data.h>
#include <gsf/gsf-meta-names.h>
#include <gsf/gsf-msole-utils.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace Biff;

std::uint16_t XlLegacyPasswordHash(const std::string& password)
{
    // The sheet-protection hash of the older file format: each character shifted left by
    // its position, the bits above the 15th brought back to the bottom, all xor-ed with
    // the length and 0xCE4B. Characters count by their low byte, as that format's were.
    const std::u16string text = Utf16(password);
    unsigned hash = 0;
    for (std::size_t i = 0; i < text.size() && i < 15; ++i) {
        const unsigned v = static_cast<unsigned>(text[i] & 0xFF) << (i + 1);
        hash ^= (v & 0x7FFF) | (v >> 15);
    }
    hash ^= static_cast<unsigned>(std::min<std::size_t>(text.size(), 15));
    hash ^= 0xCE4B;
    return static_cast<std::uint16_t>(hash);
}

namespace {

constexpr int StyleXfs = 15; // XF 0 to 14 are style formats; cell formats follow

int XfOf(int style) { return StyleXfs + std::max(style, 0); }

std::uint32_t Rgb(int bgr)
{
    return static_cast<std::uint32_t>((bgr & 0xFF) << 16 | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF));
}

// The palette: the default colours, with the workbook's own colours put in place of
// default ones it does not use, so that up to 48 colours come out exactly; beyond that a
// colour takes the nearest palette entry.
class ColorPalette {
public:
    ColorPalette() { std::copy(std::begin(DefaultPalette), std::end(DefaultPalette), FColors); }
    void Use(int bgr)
    {
        if (bgr < 0 || FIndex.count(Rgb(bgr))) return;
        const std::uint32_t rgb = Rgb(bgr);
        for (int i = 0; i < 56; ++i)
            if (FColors[i] == rgb) {
                FFixed[i] = true;
                FIndex[rgb] = 8 + i;
                return;
            }
        FPending.push_back(rgb);
    }
    // Places the colours not in the default palette; call after every Use.
    void Settle()
    {
        int slot = 55;
        for (std::uint32_t rgb : FPending) {
            // The first eight (black, white and the primaries) stay.
            while (slot >= 8 && FFixed[slot]) --slot;
            if (slot < 8) break;
            FColors[slot] = rgb;
            FFixed[slot] = true;
            FIndex[rgb] = 8 + slot;
        }
    }
    unsigned Index(int bgr) const
    {
        const std::uint32_t rgb = Rgb(bgr);
        if (auto it = FIndex.find(rgb); it != FIndex.end()) return static_cast<unsigned>(it->second);
        int best = 0;
        long bestDistance = -1;
        for (int i = 0; i < 56; ++i) {
            const auto d = [&](int shift) {
                const long a = (rgb >> shift) & 0xFF, b = (FColors[i] >> shift) & 0xFF;
                return (a - b) * (a - b);
            };
            const long distance = d(16) + d(8) + d(0);
            if (bestDistance < 0 || distance < bestDistance) best = i, bestDistance = distance;
        }
        return static_cast<unsigned>(8 + best);
    }
    std::string Data() const
    {
        std::string b;
        U16(b, 56);
        for (std::uint32_t c : FColors) {
            U8(b, c >> 16);
            U8(b, c >> 8);
            U8(b, c);
            U8(b, 0);
        }
        return b;
    }

private:
    std::uint32_t FColors[56];
    bool FFixed[56] = {};
    std::map<std::uint32_t, int> FIndex;
    std::vector<std::uint32_t> FPending;
};

bool IsHighSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

// The shared strings: each distinct text once, in the order of first use.
class SharedStrings {
public:
    std::uint32_t Add(std::string_view text)
    {
        ++FTotal;
        auto [it, added] = FIndex.emplace(std::string(text), static_cast<std::uint32_t>(FOrder.size()));
        if (added) FOrder.push_back(&it->first);
        return it->second;
    }
    // The SST record with its CONTINUE records and the EXTSST record, for an SST that
    // starts at `streamOffset` of the workbook stream.
    std::string Records(std::size_t streamOffset) const
    {
        std::string out, data, ext;
        std::uint16_t type = Sst;
        U32(data, FTotal);
        U32(data, static_cast<std::uint32_t>(FOrder.size()));
        const auto flush = [&] {
            Record(out, type, data);
            data.clear();
            type = Continue;
        };
        const std::size_t perBucket = std::max<std::size_t>(8, (FOrder.size() + 127) / 128);
        U16(ext, static_cast<unsigned>(perBucket));
        for (std::size_t i = 0; i < FOrder.size(); ++i) {
            const std::u16string text = Utf16(*FOrder[i]);
            bool wide = false;
            for (char16_t c : text) wide = wide || c > 0xFF;
            const std::size_t charSize = wide ? 2 : 1;
            // The count and flags are never split from the first character (both halves of
            // a surrogate pair).
            const bool pairFirst = wide && !text.empty() && IsHighSurrogate(text[0]) && text.size() > 1;
            if (data.size() + 3 + charSize * (pairFirst ? 2 : 1) > MaxData) flush();
            if (i % perBucket == 0) {
                U32(ext, static_cast<std::uint32_t>(streamOffset + out.size() + 4 + data.size()));
                U16(ext, static_cast<unsigned>(4 + data.size()));
                U16(ext, 0);
            }
            U16(data, static_cast<unsigned>(text.size()));
            U8(data, wide ? 1 : 0);
            for (std::size_t k = 0; k < text.size();) {
                std::size_t take = std::min((MaxData - data.size()) / charSize, text.size() - k);
                // A surrogate pair is never split: readers decode each record's characters
                // on their own.
                if (take > 0 && take < text.size() - k && IsHighSurrogate(text[k + take - 1])) --take;
                if (take == 0) {
                    // Characters going on in a CONTINUE record start with their flags.
                    flush();
                    U8(data, wide ? 1 : 0);
                    continue;
                }
                for (std::size_t j = k; j < k + take; ++j) wide ? U16(data, text[j]) : U8(data, text[j]);
                k += take;
            }
        }
        flush();
        Record(out, ExtSst, ext);
        return out;
    }

private:
    std::uint32_t FTotal = 0;
    std::unordered_map<std::string, std::uint32_t> FIndex;
    std::vector<const std::string*> FOrder;
};

std::string BofData(unsigned type)
{
    std::string b;
    U16(b, 0x0600);
    U16(b, type);
    U16(b, 0x0DBB);
    U16(b, 0x07CC);
    U32(b, 0);
    U32(b, 0x06);
    return b;
}

std::string U16Data(unsigned v)
{
    std::string b;
    U16(b, v);
    return b;
}

std::string F64Data(double v)
{
    std::string b;
    F64(b, v);
    return b;
}

std::string XfData(unsigned font, unsigned format, unsigned type, unsigned align, unsigned used,
                   std::uint32_t lines, std::uint32_t linesAndFill, unsigned fillColors)
{
    std::string b;
    U16(b, font);
    U16(b, format);
    U16(b, type);
    U8(b, align);
    U8(b, 0);
    U16(b, used);
    U32(b, lines);
    U32(b, linesAndFill);
    U16(b, fillColors);
    return b;
}

unsigned Align(int hAlign)
{
    switch (hAlign) {
    case -4131: return 1;
    case -4108: return 2;
    case -4152: return 3;
    default: return 0;
    }
}

// A text of at most `limit` characters as UTF-16, or a clear error naming `what`.
std::u16string Limited(const std::string& text, std::size_t limit, const std::string& what)
{
    std::u16string t = Utf16(text);
    if (t.size() > limit)
        throw Exception(what + " holds at most " + std::to_string(limit) + " characters in the .xls file format; it has "
                        + std::to_string(t.size()));
    return t;
}

void WriteAll(QFile& file, const std::string& bytes, const std::string& what)
{
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        throw EStreamError("Cannot write " + what + " to the temporary folder: " + file.errorString().toStdString());
}

// A row height in twips, within the format's 2 to 8192.
unsigned RowTwips(double points)
{
    return static_cast<unsigned>(std::clamp(std::lround(points * 20), 2L, 8192L));
}

// The cell records of one sheet, in blocks of 32 rows: the blocks' ROW records, then
// their cells.
class SheetCells {
public:
    SheetCells(QFile& out, SharedStrings& strings, const std::string& sheet, unsigned defaultHeight)
        : FOut(out), FStrings(strings), FSheet(sheet), FDefaultHeight(defaultHeight)
    {
    }
    void Add(const XlSpooledRow& row)
    {
        if ((row.Row - 1) / 32 != FBlock) Flush();
        FBlock = (row.Row - 1) / 32;
        std::string b;
        const unsigned r = static_cast<unsigned>(row.Row - 1);
        U16(b, r);
        U16(b, row.Cells.empty() ? 0 : static_cast<unsigned>(row.Cells.front().Col - 1));
        U16(b, row.Cells.empty() ? 0 : static_cast<unsigned>(row.Cells.back().Col));
        U16(b, row.Height > 0 ? RowTwips(row.Height) : FDefaultHeight);
        U16(b, 0);
        U16(b, 0);
        U16(b, 0x0100 | (row.Height > 0 ? 0x40 : 0) | (row.Style > 0 ? 0x80 : 0));
        U16(b, row.Style > 0 ? static_cast<unsigned>(XfOf(row.Style)) : 0x0F);
        Record(FRows, Biff::Row, b);
        for (const XlSpooledCell& cell : row.Cells) {
            b.clear();
            U16(b, r);
            U16(b, static_cast<unsigned>(cell.Col - 1));
            U16(b, static_cast<unsigned>(XfOf(cell.Style)));
            switch (cell.Kind) {
            case XlKind::Blank: Record(FCells, Blank, b); break;
            case XlKind::Number:
                if (cell.Number == std::trunc(cell.Number) && std::fabs(cell.Number) < (1 << 29)) {
                    U32(b, static_cast<std::uint32_t>(static_cast<std::int32_t>(cell.Number) * 4) | 2);
                    Record(FCells, Rk, b);
                } else {
                    F64(b, cell.Number);
                    Record(FCells, Biff::Number, b);
                }
                break;
            case XlKind::Text:
                if (Utf16(cell.Text).size() > XlMaxTextLength)
                    throw Exception("A cell holds at most " + std::to_string(XlMaxTextLength)
                                    + " characters in the .xls file format; row " + std::to_string(row.Row)
                                    + " of sheet '" + FSheet + "' has a longer text");
                // An empty text too: a shared string of no characters.
                U32(b, FStrings.Add(cell.Text));
                Record(FCells, LabelSst, b);
                break;
            case XlKind::Boolean:
                // A logical value (fError 0), not an error code.
                U8(b, cell.Number != 0 ? 1 : 0);
                U8(b, 0);
                Record(FCells, BoolErr, b);
                break;
            }
        }
    }
    void Flush()
    {
        WriteAll(FOut, FRows, "the sheet '" + FSheet + "'");
        WriteAll(FOut, FCells, "the sheet '" + FSheet + "'");
        FRows.clear();
        FCells.clear();
    }

private:
    QFile& FOut;
    SharedStrings& FStrings;
    const std::string& FSheet;
    unsigned FDefaultHeight;
    std::string FRows, FCells;
    int FBlock = -1;
};

void CheckGsf(bool ok, GError* error, const std::string& fileName)
{
    if (ok) return;
    std::string why = error && error->message ? error->message : "the compound file cannot be written";
    if (error) g_error_free(error);
    throw EFOpenError("Cannot create file \"" + fileName + "\": " + why);
}

// Writes the streams into a compound file through the target's temporary file.
void WriteContainer(const TFileReplacement& target, const std::string& globals, QFile& sheets)
{
    const std::string& fileName = target.Target();
    gsf_init();
    const int copy = ::fcntl(target.Handle(), F_DUPFD_CLOEXEC, 0);
    std::FILE* file = copy < 0 ? nullptr : ::fdopen(copy, "wb");
    if (!file) {
        const std::string why = std::strerror(errno);
        if (copy >= 0) ::close(copy);
        throw EFCreateError::CannotCreate(fileName, why);
    }
    GsfOutput* sink = gsf_output_stdio_new_FILE(target.TempName().c_str(), file, FALSE);
    if (!sink) std::fclose(file);
    CheckGsf(sink != nullptr, nullptr, fileName);
    GsfOutfile* ole = gsf_outfile_msole_new(sink);
    g_object_unref(sink);
    bool ok = ole != nullptr;
    if (ok) {
        GsfOutput* book = gsf_outfile_new_child(ole, "Workbook", FALSE);
        ok = book && gsf_output_write(book, globals.size(), reinterpret_cast<const guint8*>(globals.data()));
        std::size_t size = globals.size();
        std::string chunk(1 << 16, '\0');
        sheets.seek(0);
        while (ok) {
            const qint64 got = sheets.read(chunk.data(), static_cast<qint64>(chunk.size()));
            if (got < 0) ok = false;
            if (got <= 0) break;
            ok = gsf_output_write(book, static_cast<size_t>(got), reinterpret_cast<const guint8*>(chunk.data()));
            size += static_cast<std::size_t>(got);
        }
        // Some readers expect the workbook stream outside the container's small-stream area.
        if (ok && size < 4096) {
            const std::string pad(4096 - size, '\0');
            ok = gsf_output_write(book, pad.size(), reinterpret_cast<const guint8*>(pad.data()));
        }
        if (book) {
            ok = gsf_output_close(book) && ok;
            g_object_unref(book);
        }
        GsfDocMetaData* meta = gsf_doc_meta_data_new();
        GValue* value = g_new0(GValue, 1);
        g_value_init(value, G_TYPE_STRING);
        g_value_set_string(value, "Tabrix 4.61");
        gsf_doc_meta_data_insert(meta, g_strdup(GSF_META_NAME_GENERATOR), value);
        GsfOutput* summary = gsf_outfile_new_child(ole, "\005SummaryInformation", FALSE);
        ok = ok && summary && gsf_doc_meta_data_write_to_msole(meta, summary, TRUE);
        if (summary) {
            ok = gsf_output_close(summary) && ok;
            g_object_unref(summary);
        }
        g_object_unref(meta);
        ok = gsf_output_close(GSF_OUTPUT(ole)) && ok;
        g_object_unref(ole);
    }
    CheckGsf(ok, nullptr, fileName);
}

} // namespace

void XlWorkbook::SaveXls(const std::string& fileName)
{
    // Everything that could refuse the save is checked before the target is touched.
    if (Source)
        throw Exception("The workbook '" + Source->FileName
                        + "' was opened from an .xlsx package and can only be saved as .xlsx; nothing was saved");
    if (FPictures && FPictures->Count() > 0)
        throw Exception("The workbook holds pictures, which this application does not write in the .xls file format; "
                        "save it as .xlsx. Nothing was saved");
    for (const auto& sheet : Sheets) {
        int lastCol = sheet->LastCol();
        for (const auto& [c, column] : sheet->Columns())
            if (column.SavedWidth() >= 0 || column.SavedHidden() || column.SavedStyle()) lastCol = std::max(lastCol, c);
        if (sheet->LastRow() > XlsMaxRows || lastCol > XlsMaxColumns)
            throw Exception("The .xls file format holds at most 65,536 rows and 256 columns a sheet; sheet '"
                            + sheet->Name + "' has " + std::to_string(sheet->LastRow()) + " rows and "
                            + std::to_string(lastCol) + " columns. Save it as .xlsx; nothing was saved");
        Limited(sheet->Name, 31, "A sheet name");
    }
    if (XfOf(static_cast<int>(Styles.Count()) - 1) >= 4050)
        throw Exception("The workbook has more cell formats than the .xls file format holds (4,035); nothing was saved");

    // Fonts, number formats and colours of every style.
    ColorPalette palette;
    std::map<XlFont, unsigned> fonts;
    std::vector<const XlFont*> fontOrder;
    std::map<std::string, unsigned> formats;
    std::vector<const std::string*> formatOrder;
    for (int k = 0; k < Styles.Count(); ++k) {
        const XlStyle& s = Styles.Get(k);
        palette.Use(s.Font.Color);
        palette.Use(s.Fill);
        if (fonts.emplace(s.Font, 0).second) fontOrder.push_back(&fonts.find(s.Font)->first);
        if (BuiltinFormatIndex(s.NumberFormat) < 0 && formats.emplace(s.NumberFormat, 0).second)
            formatOrder.push_back(&formats.find(s.NumberFormat)->first);
    }
    palette.Settle();

    std::string globals, data;
    Record(globals, Bof, BofData(GlobalsStream));
    Record(globals, CodePage, U16Data(1200));
    data.clear();
    for (unsigned v : {0u, 0u, 0x3000u, 0x2000u, 0x0038u, static_cast<unsigned>(Active), 0u, 1u, 0x0258u}) U16(data, v);
    Record(globals, Window1, data);
    Record(globals, DateMode, U16Data(Date1904 ? 1 : 0));
    Record(globals, Precision, U16Data(1));
    // Font 4 does not exist in BIFF: the default font takes 0 to 3, the others from 5 on.
    unsigned nextFont = 0;
    for (const XlFont* f : fontOrder) {
        data.clear();
        U16(data, static_cast<unsigned>(std::lround(f->Size * 20)));
        U16(data, (f->Italic ? 0x02 : 0) | (f->Bold ? 0x01 : 0)); // bit 0: bold, for older readers
        U16(data, f->Color < 0 ? 0x7FFF : palette.Index(f->Color));
        U16(data, f->Bold ? 700 : 400);
        U16(data, 0);
        U8(data, f->Underline ? 1 : 0);
        U8(data, 0);
        U8(data, 1);
        U8(data, 0);
        PutString(data, Limited(f->Name, 255, "A font name"), false);
        const int copies = nextFont == 0 ? 4 : 1;
        fonts[*f] = nextFont == 0 ? 0 : nextFont;
        for (int i = 0; i < copies; ++i) Record(globals, Font, data);
        nextFont = nextFont == 0 ? 5 : nextFont + 1;
    }
    unsigned nextFormat = 164;
    for (const std::string* code : formatOrder) {
        formats[*code] = nextFormat;
        data.clear();
        U16(data, nextFormat++);
        PutString(data, Limited(*code, 255, "A number format"), true);
        Record(globals, Format, data);
    }
    // The style formats (Normal and the 14 outline styles), then one cell format per style.
    for (int i = 0; i < StyleXfs; ++i)
        Record(globals, Xf, XfData(0, 0, 0xFFF5, 0x20, i == 0 ? 0 : 0xF400, 0, 0, 0x20C0));
    for (int k = 0; k < Styles.Count(); ++k) {
        const XlStyle& s = Styles.Get(k);
        const int numFmt = BuiltinFormatIndex(s.NumberFormat);
        std::uint32_t lines = 0, linesAndFill = 0;
        const std::uint32_t line = 1, auto_ = 64;
        if (s.Borders & 1) lines |= line | auto_ << 16;
        if (s.Borders & 8) lines |= line << 4 | auto_ << 23;
        if (s.Borders & 2) lines |= line << 8, linesAndFill |= auto_;
        if (s.Borders & 4) lines |= line << 12, linesAndFill |= auto_ << 7;
        unsigned fillColors = 0x20C0;
        if (s.Fill >= 0) {
            linesAndFill |= 1u << 26;
            fillColors = palette.Index(s.Fill) | 65 << 7;
        }
        Record(globals, Xf, XfData(fonts.at(s.Font), numFmt >= 0 ? static_cast<unsigned>(numFmt) : formats.at(s.NumberFormat),
                                   0x0001, 0x20 | Align(s.HAlign), 0xFC00, lines, linesAndFill, fillColors));
    }
    data.clear();
    U16(data, 0x8000);
    U8(data, 0);
    U8(data, 0xFF);
    Record(globals, Style, data);
    Record(globals, Biff::Palette, palette.Data());

    // The sheets, to a temporary file; their offsets are fixed up below.
    const std::unique_ptr<QFile> sheetsFile = XlScratchFile("the workbook");
    QFile& sheets = *sheetsFile;
    SharedStrings strings;
    std::vector<std::size_t> starts, sheetOffsetFields;
    for (std::size_t i = 0; i < Sheets.size(); ++i) {
        XlSheet& sheet = *Sheets[i];
        starts.push_back(static_cast<std::size_t>(sheets.pos()));
        std::string b;
        Record(b, Bof, BofData(WorksheetStream));
        const unsigned defaultHeight = RowTwips(sheet.DefaultRowHeight > 0 ? sheet.DefaultRowHeight : 15);
        data.clear();
        U16(data, 0);
        U16(data, defaultHeight);
        Record(b, Biff::DefaultRowHeight, data);
        const std::string header = XlHeaderCode(sheet.LeftHeader, sheet.RawHeader);
        const std::string footer = XlHeaderCode(sheet.LeftFooter, sheet.RawFooter);
        for (const auto& [type, text] : {std::pair{Header, &header}, std::pair{Footer, &footer}}) {
            // Written also when empty: some readers take the page settings only with them.
            data.clear();
            if (!text->empty()) PutString(data, Limited(*text, 255, "A page header or footer"), true);
            Record(b, type, data);
        }
        if (sheet.HasMargins)
            for (const auto& [type, points] : {std::pair{LeftMargin, sheet.LeftMargin}, {RightMargin, sheet.RightMargin},
                                               {TopMargin, sheet.TopMargin}, {BottomMargin, sheet.BottomMargin}})
                Record(b, type, F64Data(points / 72.0));
        if (sheet.Orientation) {
            data.clear();
            for (unsigned v : {0u, 100u, 1u, 1u, 1u, sheet.Orientation == 1 ? 0x02u : 0u, 600u, 600u}) U16(data, v);
            F64(data, 0.3);
            F64(data, 0.3);
            U16(data, 1);
            Record(b, Setup, data);
        }
        if (sheet.Protected) {
            Record(b, Protect, U16Data(1));
            if (sheet.PasswordHash) Record(b, Password, U16Data(sheet.PasswordHash));
        }
        Record(b, DefColWidth, U16Data(sheet.DefaultColumnWidth > 0 ? static_cast<unsigned>(sheet.DefaultColumnWidth) : 8));
        for (const auto& [c, column] : sheet.Columns()) {
            const double saved = column.SavedWidth();
            if (saved < 0 && !column.SavedHidden() && column.SavedStyle() == 0) continue;
            data.clear();
            U16(data, static_cast<unsigned>(c - 1));
            U16(data, static_cast<unsigned>(c - 1));
            // Widths count characters of the default font plus the cell padding.
            const double width = saved < 0 ? 8.43 : saved;
            U16(data, width <= 0 ? 0 : static_cast<unsigned>(std::min(65535.0, std::floor((width * 7 + 5) / 7 * 256))));
            U16(data, static_cast<unsigned>(XfOf(column.SavedStyle())));
            U16(data, (column.SavedHidden() ? 1 : 0) | (saved >= 0 ? 2 : 0));
            U16(data, 0);
            Record(b, ColInfo, data);
        }
        data.clear();
        U32(data, 0);
        U32(data, static_cast<std::uint32_t>(sheet.LastRow()));
        U16(data, 0);
        U16(data, static_cast<unsigned>(sheet.LastCol()));
        U16(data, 0);
        Record(b, Dimensions, data);
        WriteAll(sheets, b, "the sheet '" + sheet.Name + "'");
        sheet.FinishRows();
        SheetCells cells(sheets, strings, sheet.Name, defaultHeight);
        sheet.ForEachRow([&](const XlSpooledRow& row) { cells.Add(row); });
        cells.Flush();
        b.clear();
        const bool frozen = sheet.FreezeRows > 0 || sheet.FreezeCols > 0;
        data.clear();
        U16(data, 0x00B6 | (frozen ? 0x0108 : 0) | (static_cast<int>(i) == Active ? 0x0600 : 0));
        for (unsigned v : {0u, 0u, 64u, 0u, 0u, 0u, 0u, 0u}) U16(data, v);
        Record(b, Window2, data);
        if (frozen) {
            data.clear();
            for (int v : {sheet.FreezeCols, sheet.FreezeRows, sheet.FreezeRows, sheet.FreezeCols})
                U16(data, static_cast<unsigned>(v));
            U8(data, sheet.FreezeRows > 0 && sheet.FreezeCols > 0 ? 0 : sheet.FreezeRows > 0 ? 2 : 1);
            U8(data, 0);
            Record(b, Pane, data);
        }
        Record(b, Eof, {});
        WriteAll(sheets, b, "the sheet '" + sheet.Name + "'");
    }
    for (const auto& sheet : Sheets) {
        data.clear();
        sheetOffsetFields.push_back(globals.size() + 4);
        U32(data, 0);
        U8(data, 0);
        U8(data, 0);
        PutString(data, Utf16(sheet->Name), false);
        Record(globals, BoundSheet, data);
    }
    globals += strings.Records(globals.size());
    Record(globals, Eof, {});
    for (std::size_t i = 0; i < Sheets.size(); ++i) {
        std::string offset;
        U32(offset, static_cast<std::uint32_t>(globals.size() + starts[i]));
        globals.replace(sheetOffsetFields[i], 4, offset);
    }
    if (!sheets.flush()) throw EStreamError("Cannot write the workbook to the temporary folder");

    TFileReplacement target(SaveTarget(fileName));
    WriteContainer(target, globals, sheets);
    target.Commit(Opened.get());
}
