// Reads a BIFF8 workbook (.xls) into an XlWorkbook: the compound file through libgsf, the
// records here. Everything the model keeps is read (cells: numbers, texts, empty texts
// among them, and logical values; cell formats, column widths, row heights, frozen panes,
// protection, page setup); a workbook holding anything else that carries content
// (formulas, error values, charts, drawings, macros, comments, merged cells, ...) is
// refused with a message naming it, so that no content is dropped on saving again.
// Formatting details the model has no place for (border line styles other than thin,
// fill patterns, vertical alignment, wrapping) are read as their nearest kept form.

#include "platform/automation/excel/excel_workbook.h"
#include "platform/automation/excel/xls_records.h"

#include "framework/exceptions.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-utils.h>

#include <cmath>
#include <map>
#include <set>

using namespace Biff;

namespace {

// Records that only carry settings the model rebuilds or does not need: skipped.
const std::set<unsigned> Ignored = {
    // workbook globals
    InterfaceHdr, Mms, InterfaceEnd, 0x005C /* WriteAccess */, CodePage, Dsf, Excel9File, TabId, ObProj, CodeName,
    FnGroupName, BuiltInFnGroupCount, Prot4Rev, Prot4RevPass, Window1, Backup,
    HideObj, Precision, RefreshAll, BookBool, Country, UseSelfs, RecalcId, ExternSheet, SupBook, Style,
    MsoDrawingGroup, WriteProt, Sync, Lpr,
    // sheet settings
    Index, DbCell, Dimensions, WsBool, Guts, GridSet, PrintHeaders, PrintGridLines,
    CalcMode, CalcCount, RefMode, Iteration, Delta, SaveRecalc, Uncalced, HCenter, VCenter, Scl, Selection, Pls,
    ObjProtect, ScenProtect, PhoneticInfo, DxGCol, Coordlist, Sort,
};

struct Refusal {
    std::initializer_list<unsigned> Records;
    const char* What;
};

const Refusal Refused[] = {
    {{Formula, ShrFmla, Array, Table, String}, "formulas"},
    {{MergeCells}, "merged cells"},
    {{Note, TxO}, "comments"},
    {{HLink}, "hyperlinks"},
    {{CondFmt, Cf}, "conditional formats"},
    {{DVal, Dv}, "data validation"},
    {{Obj, MsoDrawingSelection}, "drawings, pictures or charts"},
    {{AutoFilterInfo, AutoFilter, FilterMode}, "filters"},
    {{SxView}, "pivot tables"},
    {{HorizontalPageBreaks, VerticalPageBreaks}, "page breaks"},
    {{BitmapBackground}, "a background picture"},
    {{Name, ExternName}, "named ranges"},
    {{0x0868, 0x0871, 0x0872}, "tables or protected ranges"},
    {{0x01AD /* Scenario */, 0x00AE /* ScenMan */}, "scenarios"},
};

[[noreturn]] void Refuse(const std::string& file, const std::string& what)
{
    throw Exception("The workbook '" + file + "' holds " + what
                    + ", which this application cannot keep; it was not opened and is left unchanged");
}

// The records of the workbook stream, read in order from a position.
class Records {
public:
    Records(GsfInput* input, std::string file) : FInput(input), FFile(std::move(file)) {}
    void Seek(std::uint32_t offset)
    {
        if (gsf_input_seek(FInput, offset, G_SEEK_SET)) Broken("a sheet offset points outside the workbook");
    }
    // The next record; false at the end of the stream.
    bool Next(unsigned& type, std::string& data)
    {
        if (gsf_input_remaining(FInput) < 4) return false;
        const guint8* head = gsf_input_read(FInput, 4, nullptr);
        if (!head) Broken("a record cannot be read");
        type = head[0] | head[1] << 8;
        const unsigned size = head[2] | head[3] << 8;
        data.resize(size);
        if (size && !gsf_input_read(FInput, size, reinterpret_cast<guint8*>(data.data())))
            Broken("a record runs past the end of the workbook");
        return true;
    }
    // The next record, which must be there.
    void Expect(unsigned& type, std::string& data)
    {
        if (!Next(type, data)) Broken("it ends before its end record");
    }
    unsigned Peek()
    {
        if (gsf_input_remaining(FInput) < 4) return 0xFFFF;
        guint8 head[2];
        if (!gsf_input_read(FInput, 2, head)) return 0xFFFF;
        gsf_input_seek(FInput, -2, G_SEEK_CUR);
        return head[0] | head[1] << 8;
    }
    [[noreturn]] void Broken(const std::string& why) const
    {
        throw Exception("The workbook '" + FFile + "' cannot be read: " + why + "; it is left unchanged");
    }
    const std::string& File() const { return FFile; }

private:
    GsfInput* FInput;
    std::string FFile;
};

void Need(const Records& in, const std::string& data, std::size_t size, const char* what)
{
    if (data.size() < size) in.Broken(std::string("a ") + what + " record is too short");
}

// A string at `at` of `data`: count (one or two bytes), flags, characters, and the rich
// text and phonetic parts that may follow. `breaks` are offsets in `data` where a CONTINUE
// record began: characters going on there start with a new flags byte.
std::string ReadString(const Records& in, std::string_view data, std::size_t& at, bool wideCount,
                       const std::vector<std::size_t>& breaks = {})
{
    const auto need = [&](std::size_t n) {
        if (at + n > data.size()) in.Broken("a text runs past the end of its record");
    };
    need(wideCount ? 3 : 2);
    const std::size_t count = wideCount ? Get16(data, at) : Get8(data, at);
    at += wideCount ? 2 : 1;
    const unsigned flags = Get8(data, at++);
    std::size_t runs = 0, ext = 0;
    if (flags & 0x08) {
        need(2);
        runs = Get16(data, at);
        at += 2;
    }
    if (flags & 0x04) {
        need(4);
        ext = Get32(data, at);
        at += 4;
    }
    bool wide = flags & 0x01;
    std::u16string text;
    text.reserve(count);
    // A break right after the count and flags starts the characters with flags of its own.
    auto next = std::lower_bound(breaks.begin(), breaks.end(), at);
    while (text.size() < count) {
        if (next != breaks.end() && at == *next) {
            need(1);
            wide = Get8(data, at++) & 0x01;
            ++next;
            continue;
        }
        need(wide ? 2 : 1);
        text += static_cast<char16_t>(wide ? Get16(data, at) : Get8(data, at));
        at += wide ? 2 : 1;
    }
    need(runs * 4 + ext);
    at += runs * 4 + ext;
    return Utf8(text);
}

// The rows of the sheet being read. Cells come in row order, so a row is handed to the
// sheet (its spool) as soon as cells of a later row begin: only the current block of rows
// is held, however large the sheet.
class PendingRows {
public:
    PendingRows(XlSheet& sheet, const Records& in) : FSheet(sheet), FIn(in) {}
    XlRow& ForCell(int r)
    {
        Release(r);
        return Get(r);
    }
    XlRow& Get(int r)
    {
        if (r <= FDone) FIn.Broken("its cells are not in row order");
        return FRows[r];
    }
    void Release(int below)
    {
        while (!FRows.empty() && FRows.begin()->first < below) {
            auto node = FRows.extract(FRows.begin());
            FSheet.AddExistingRow(node.key(), node.mapped());
            FDone = node.key();
        }
    }

private:
    XlSheet& FSheet;
    const Records& FIn;
    std::map<int, XlRow> FRows;
    int FDone = 0;
};

struct SheetEntry {
    std::uint32_t Offset;
    std::string Name;
};

class Reader {
public:
    Reader(XlWorkbook& book, Records& in) : FBook(book), FIn(in)
    {
        for (int i = 0; i < 56; ++i) FPalette[i] = DefaultPalette[i];
    }

    void Globals()
    {
        unsigned type;
        std::string data;
        FIn.Expect(type, data);
        if (type != Bof || data.size() < 4 || Get16(data, 0) != 0x0600 || Get16(data, 2) != GlobalsStream)
            FIn.Broken("it is not a BIFF8 workbook (Excel 97 or later)");
        while (true) {
            FIn.Expect(type, data);
            switch (type) {
            case Eof: return;
            case FilePass: Refuse(FIn.File(), "encryption (a password to open it)");
            case DateMode:
                Need(FIn, data, 2, "DATEMODE");
                FBook.Date1904 = Get16(data, 0) != 0;
                break;
            case Biff::Font: {
                Need(FIn, data, 15, "FONT");
                XlFont f;
                f.Size = Get16(data, 0) / 20.0;
                f.Italic = Get16(data, 2) & 0x02;
                f.Bold = Get16(data, 6) >= 700;
                f.Underline = Get8(data, 10) != 0;
                std::size_t at = 14;
                f.Name = ReadString(FIn, data, at, false);
                // Fonts are numbered in record order, but number 4 does not exist: the fifth
                // record is font 5, so a stand-in takes place 4.
                if (FFonts.size() == 4) FFonts.push_back(FFonts[0]), FFontColors.push_back(FFontColors[0]);
                FFonts.push_back(f);
                FFontColors.push_back(Get16(data, 4));
                break;
            }
            case Format: {
                Need(FIn, data, 5, "FORMAT");
                std::size_t at = 2;
                FFormats[Get16(data, 0)] = ReadString(FIn, data, at, true);
                break;
            }
            case Xf:
                Need(FIn, data, 20, "XF");
                FXfs.push_back(data);
                break;
            case Biff::Palette: {
                Need(FIn, data, 2, "PALETTE");
                const unsigned n = std::min(56u, Get16(data, 0));
                Need(FIn, data, 2 + 4 * n, "PALETTE");
                for (unsigned i = 0; i < n; ++i)
                    FPalette[i] = Get8(data, 2 + 4 * i) << 16 | Get8(data, 3 + 4 * i) << 8 | Get8(data, 4 + 4 * i);
                break;
            }
            case BoundSheet: {
                Need(FIn, data, 8, "BOUNDSHEET");
                if (Get8(data, 4) != 0) Refuse(FIn.File(), "hidden sheets");
                const unsigned kind = Get8(data, 5);
                if (kind == 2) Refuse(FIn.File(), "chart sheets");
                if (kind != 0) Refuse(FIn.File(), "macro sheets or modules");
                std::size_t at = 6;
                FSheets.push_back({Get32(data, 0), ReadString(FIn, data, at, false)});
                break;
            }
            case Sst: ReadSst(data); break;
            case Protect: case WinProtect: case Password:
                Need(FIn, data, 2, "PROTECT");
                if (Get16(data, 0)) Refuse(FIn.File(), "a protected workbook structure");
                break;
            case ExtSst: case Continue: break;
            default: Check(type); break;
            }
        }
    }

    void Sheets(int active)
    {
        if (FSheets.empty()) FIn.Broken("it holds no sheet");
        std::vector<std::unique_ptr<XlSheet>> sheets;
        for (const SheetEntry& entry : FSheets) sheets.push_back(Sheet(entry));
        FBook.Sheets = std::move(sheets);
        FBook.Active = std::clamp(active, 0, static_cast<int>(FBook.Sheets.size()) - 1);
    }

private:
    void Check(unsigned type)
    {
        for (const Refusal& r : Refused)
            for (unsigned t : r.Records)
                if (t == type) Refuse(FIn.File(), r.What);
        // Records from 0x0800 on extend formatting and views; nothing of content.
        if (Ignored.count(type) || (type >= 0x0800 && type <= 0x08FF)) return;
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X", type);
        Refuse(FIn.File(), std::string("a record this application does not know (0x") + hex + ")");
    }

    void ReadSst(std::string data)
    {
        std::vector<std::size_t> breaks;
        std::string more;
        unsigned type;
        while (FIn.Peek() == Continue) {
            FIn.Expect(type, more);
            breaks.push_back(data.size());
            data += more;
        }
        Need(FIn, data, 8, "SST");
        const std::uint32_t count = Get32(data, 4);
        std::size_t at = 8;
        for (std::uint32_t i = 0; i < count; ++i) {
            // A string never starts with the flags byte of a continuation.
            FStrings.push_back(ReadString(FIn, data, at, true, breaks));
        }
    }

    int Color(unsigned icv) const
    {
        std::uint32_t rgb;
        if (icv < 8) rgb = DefaultPalette[icv];
        else if (icv < 64) rgb = FPalette[icv - 8];
        else return -1;
        return static_cast<int>((rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16);
    }

    // Our style for cell format `xf`.
    int Style(unsigned xf)
    {
        if (auto it = FStyles.find(xf); it != FStyles.end()) return it->second;
        if (xf >= FXfs.size()) FIn.Broken("a cell refers to a cell format that does not exist");
        const std::string& d = FXfs[xf];
        XlStyle s;
        const unsigned font = Get16(d, 0);
        if (font >= FFonts.size()) FIn.Broken("a cell format refers to a font that does not exist");
        s.Font = FFonts[font];
        s.Font.Color = Color(FFontColors[font]);
        const unsigned format = Get16(d, 2);
        if (auto f = FFormats.find(format); f != FFormats.end()) s.NumberFormat = f->second;
        else if (format == 0 || !BuiltinFormatCode(static_cast<int>(format)).empty())
            s.NumberFormat = BuiltinFormatCode(static_cast<int>(format));
        else FIn.Broken("a cell format refers to number format " + std::to_string(format) + ", which it does not define");
        if (s.NumberFormat == "General") s.NumberFormat.clear();
        switch (Get8(d, 6) & 0x07) {
        case 1: s.HAlign = -4131; break;
        case 2: case 6: s.HAlign = -4108; break;
        case 3: s.HAlign = -4152; break;
        default: break;
        }
        const std::uint32_t lines = Get32(d, 10), linesAndFill = Get32(d, 14);
        if (lines & 0x000F) s.Borders |= 1;
        if (lines & 0x00F0) s.Borders |= 8;
        if (lines & 0x0F00) s.Borders |= 2;
        if (lines & 0xF000) s.Borders |= 4;
        if (linesAndFill >> 26) {
            const unsigned colors = Get16(d, 18);
            s.Fill = Color(colors & 0x7F);
            if (s.Fill < 0) s.Fill = 0xFFFFFF;
        }
        const int style = FBook.Styles.Intern(s);
        FStyles[xf] = style;
        return style;
    }

    // The cell at the 0-based row and column, given the style of format record xf.
    XlCell& Cell(PendingRows& rows, unsigned row, unsigned column, unsigned xf)
    {
        const int r = static_cast<int>(row) + 1, c = static_cast<int>(column) + 1;
        if (c > XlsMaxColumns) FIn.Broken("a cell lies outside the sheet");
        XlCell& cell = rows.ForCell(r).At(c);
        cell.Style = Style(xf);
        return cell;
    }
    // The cell a record names with row, column and format at `at`.
    XlCell& Cell(PendingRows& rows, const std::string& d, std::size_t at)
    {
        return Cell(rows, Get16(d, at), Get16(d, at + 2), Get16(d, at + 4));
    }

    static double RkValue(std::uint32_t rk)
    {
        double v;
        if (rk & 2) v = static_cast<std::int32_t>(rk) >> 2;
        else {
            const std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFC) << 32;
            std::memcpy(&v, &bits, sizeof v);
        }
        return (rk & 1) ? v / 100 : v;
    }

    std::unique_ptr<XlSheet> Sheet(const SheetEntry& entry)
    {
        auto sheet = std::make_unique<XlSheet>(FBook, entry.Name);
        PendingRows rows(*sheet, FIn);
        FIn.Seek(entry.Offset);
        unsigned type;
        std::string d;
        FIn.Expect(type, d);
        if (type != Bof || d.size() < 4 || Get16(d, 2) != WorksheetStream) Refuse(FIn.File(), "sheets that are not worksheets");
        bool frozen = false;
        while (true) {
            FIn.Expect(type, d);
            switch (type) {
            case Eof: break;
            case Bof: Refuse(FIn.File(), "charts");
            case Biff::Number: {
                Need(FIn, d, 14, "NUMBER");
                XlCell& cell = Cell(rows, d, 0);
                cell.Kind = XlKind::Number;
                cell.Number = GetF64(d, 6);
                break;
            }
            case Rk: {
                Need(FIn, d, 10, "RK");
                XlCell& cell = Cell(rows, d, 0);
                cell.Kind = XlKind::Number;
                cell.Number = RkValue(Get32(d, 6));
                break;
            }
            case MulRk: {
                Need(FIn, d, 6, "MULRK");
                const unsigned first = Get16(d, 2);
                for (std::size_t k = 0; 4 + k * 6 + 6 <= d.size() - 2; ++k) {
                    XlCell& cell = Cell(rows, Get16(d, 0), first + static_cast<unsigned>(k), Get16(d, 4 + k * 6));
                    cell.Kind = XlKind::Number;
                    cell.Number = RkValue(Get32(d, 4 + k * 6 + 2));
                }
                break;
            }
            case LabelSst: {
                Need(FIn, d, 10, "LABELSST");
                const std::uint32_t index = Get32(d, 6);
                if (index >= FStrings.size()) FIn.Broken("a cell refers to a text that does not exist");
                Text(Cell(rows, d, 0), FStrings[index]);
                break;
            }
            case Label: case RString: {
                Need(FIn, d, 9, "LABEL");
                std::size_t at = 6;
                std::string text = ReadString(FIn, d, at, true);
                Text(Cell(rows, d, 0), std::move(text));
                break;
            }
            case BoolErr: {
                Need(FIn, d, 8, "BOOLERR");
                // A logical value is kept; an error value (#N/A, #DIV/0!, ...) has no place.
                if (Get8(d, 7) != 0) Refuse(FIn.File(), "error values");
                XlCell& cell = Cell(rows, d, 0);
                cell.Kind = XlKind::Boolean;
                cell.Number = Get8(d, 6) != 0 ? 1 : 0;
                break;
            }
            case Blank: Need(FIn, d, 6, "BLANK"); Cell(rows, d, 0); break;
            case MulBlank: {
                Need(FIn, d, 6, "MULBLANK");
                const unsigned first = Get16(d, 2);
                for (std::size_t k = 0; 4 + k * 2 + 2 <= d.size() - 2; ++k)
                    Cell(rows, Get16(d, 0), first + static_cast<unsigned>(k), Get16(d, 4 + k * 2));
                break;
            }
            case Biff::Row: {
                Need(FIn, d, 16, "ROW");
                const unsigned flags = Get16(d, 12);
                if (flags & 0x20) Refuse(FIn.File(), "hidden rows");
                if (flags & 0x07) Refuse(FIn.File(), "grouped rows");
                XlRow& row = rows.Get(static_cast<int>(Get16(d, 0)) + 1);
                if (flags & 0x40) row.Height = (Get16(d, 6) & 0x7FFF) / 20.0;
                if (flags & 0x80) row.Style = Style(Get16(d, 14) & 0x0FFF);
                break;
            }
            case ColInfo: {
                Need(FIn, d, 10, "COLINFO");
                const unsigned flags = Get16(d, 8);
                if (flags & 0x0700) Refuse(FIn.File(), "grouped columns");
                const unsigned width = Get16(d, 4);
                const int style = Style(Get16(d, 6));
                const unsigned last = std::min(Get16(d, 2), 255u);
                for (unsigned c = Get16(d, 0); c <= last; ++c) {
                    XlColumn& column = sheet->Columns()[static_cast<int>(c) + 1];
                    column.Width = width < 183 ? 0 : std::round(((width + 0.5) / 256 * 7 - 5) / 7 * 1000) / 1000;
                    column.Hidden = flags & 1;
                    column.Style = style;
                }
                sheet->KeepColumns(static_cast<int>(Get16(d, 0)) + 1, static_cast<int>(last) + 1);
                break;
            }
            case Header: case Footer: {
                std::string text;
                if (!d.empty()) {
                    std::size_t at = 0;
                    text = ReadString(FIn, d, at, true);
                }
                (type == Header ? sheet->RawHeader : sheet->RawFooter) = text;
                break;
            }
            case LeftMargin: case RightMargin: case TopMargin: case BottomMargin:
                Need(FIn, d, 8, "margin");
                sheet->HasMargins = true;
                (type == LeftMargin    ? sheet->LeftMargin
                 : type == RightMargin ? sheet->RightMargin
                 : type == TopMargin   ? sheet->TopMargin
                                       : sheet->BottomMargin) = GetF64(d, 0) * 72;
                break;
            case Setup:
                Need(FIn, d, 12, "SETUP");
                if (!(Get16(d, 10) & 0x04) && !(Get16(d, 10) & 0x40)) sheet->Orientation = Get16(d, 10) & 0x02 ? 1 : 2;
                break;
            case DefaultRowHeight:
                Need(FIn, d, 4, "DEFAULTROWHEIGHT");
                if (!(Get16(d, 0) & 0x02)) sheet->DefaultRowHeight = Get16(d, 2) / 20.0;
                break;
            case DefColWidth: Need(FIn, d, 2, "DEFCOLWIDTH"); sheet->DefaultColumnWidth = static_cast<int>(Get16(d, 0)); break;
            case Protect: Need(FIn, d, 2, "PROTECT"); sheet->Protected = Get16(d, 0) != 0; break;
            case Password: Need(FIn, d, 2, "PASSWORD"); sheet->PasswordHash = static_cast<std::uint16_t>(Get16(d, 0)); break;
            case Window2: Need(FIn, d, 2, "WINDOW2"); frozen = Get16(d, 0) & 0x0008; break;
            case Pane:
                Need(FIn, d, 8, "PANE");
                if (frozen) {
                    sheet->FreezeCols = static_cast<int>(Get16(d, 0));
                    sheet->FreezeRows = static_cast<int>(Get16(d, 2));
                }
                break;
            case MsoDrawing:
                // Some programs write an empty drawing for every sheet: a drawing container
                // whose shape count (FDG) counts only its own group shape. Shapes have OBJ
                // records too, which are refused.
                if (d.size() >= 20 && Get16(d, 2) == 0xF002 && Get16(d, 10) == 0xF008 && Get32(d, 16) > 1)
                    Refuse(FIn.File(), "drawings, pictures or charts");
                break;
            case Continue: break;
            default: Check(type); break;
            }
            if (type == Eof) break;
        }
        rows.Release(XlsMaxRows + 1);
        sheet->KeepColumns(1, sheet->LastCol());
        return sheet;
    }

    // A text cell; an empty text stays one.
    static void Text(XlCell& cell, std::string text)
    {
        cell.Kind = XlKind::Text;
        cell.Text = std::move(text);
    }

    XlWorkbook& FBook;
    Records& FIn;
    std::vector<XlFont> FFonts;
    std::vector<unsigned> FFontColors;
    std::map<unsigned, std::string> FFormats;
    std::vector<std::string> FXfs;
    std::uint32_t FPalette[56];
    std::vector<SheetEntry> FSheets;
    std::vector<std::string> FStrings;
    std::map<unsigned, int> FStyles;
};

template <class T>
struct GsfRef {
    T* P = nullptr;
    ~GsfRef()
    {
        if (P) g_object_unref(P);
    }
};

} // namespace

void XlWorkbook::OpenXls()
{
    const std::string& fileName = Opened->FileName();
    gsf_init();
    GError* error = nullptr;
    GsfRef<GsfInput> file{gsf_input_stdio_new(Opened->OpenedName().c_str(), &error)};
    if (error) g_error_free(error), error = nullptr;
    if (!file.P) throw EFOpenError("Cannot open file \"" + fileName + "\"");
    GsfRef<GsfInfile> ole{gsf_infile_msole_new(file.P, &error)};
    if (error) g_error_free(error), error = nullptr;
    if (!ole.P) throw Exception("The workbook '" + fileName + "' cannot be read: it is not a valid compound file; it is left unchanged");
    // The streams of the container: the workbook, and the document properties (which a
    // save writes anew). Anything else is content of its own.
    const int children = gsf_infile_num_children(ole.P);
    bool hasWorkbook = false;
    for (int i = 0; i < children; ++i) {
        const std::string name = gsf_infile_name_by_index(ole.P, i) ? gsf_infile_name_by_index(ole.P, i) : "";
        if (name == "Workbook") hasWorkbook = true;
        else if (name == "Book")
            throw Exception("The workbook '" + fileName + "' is in the Excel 5/95 format (BIFF5), which this application "
                            "does not read; it was not opened and is left unchanged");
        else if (name.starts_with("_VBA_PROJECT")) Refuse(fileName, "macros");
        else if (name == "_SX_DB_CUR" || name == "_SX_DB") Refuse(fileName, "pivot table data");
        else if (name == "Ctls") Refuse(fileName, "form controls");
        else if (name == "ObjectPool" || name == "MBD") Refuse(fileName, "embedded objects");
        else if (name != "\005SummaryInformation" && name != "\005DocumentSummaryInformation" && name != "\001CompObj"
                 && name != "\001Ole")
            Refuse(fileName, "a part named '" + name + "' this application does not know");
    }
    if (!hasWorkbook) throw Exception("The workbook '" + fileName + "' cannot be read: it has no workbook stream; it is left unchanged");
    GsfRef<GsfInput> stream{gsf_infile_child_by_name(ole.P, "Workbook")};
    if (!stream.P) throw Exception("The workbook '" + fileName + "' cannot be read: its workbook stream cannot be opened");
    Records in(stream.P, fileName);
    Reader reader(*this, in);
    reader.Globals();
    int active = 0;
    {
        // The active sheet, from the first WINDOW1 record.
        in.Seek(0);
        unsigned type;
        std::string data;
        while (in.Next(type, data) && type != Eof)
            if (type == Window1 && data.size() >= 12) {
                active = static_cast<int>(Get16(data, 10));
                break;
            }
    }
    reader.Sheets(active);
}
