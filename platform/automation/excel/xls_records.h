#pragma once
// BIFF8, the record format of .xls workbooks: the record numbers, the byte helpers and the
// tables that the .xls writer and reader share. All numbers are little-endian.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace Biff {

enum : std::uint16_t {
    Formula = 0x0006, Eof = 0x000A, CalcCount = 0x000C, CalcMode = 0x000D, Precision = 0x000E, RefMode = 0x000F,
    Delta = 0x0010, Iteration = 0x0011, Protect = 0x0012, Password = 0x0013, Header = 0x0014, Footer = 0x0015,
    ExternSheet = 0x0017, Name = 0x0018, WinProtect = 0x0019, VerticalPageBreaks = 0x001A,
    HorizontalPageBreaks = 0x001B, Note = 0x001C, Selection = 0x001D, DateMode = 0x0022, ExternName = 0x0023,
    LeftMargin = 0x0026, RightMargin = 0x0027, TopMargin = 0x0028, BottomMargin = 0x0029, PrintHeaders = 0x002A,
    PrintGridLines = 0x002B, FilePass = 0x002F, Font = 0x0031, Continue = 0x003C, Window1 = 0x003D,
    Backup = 0x0040, Pane = 0x0041, CodePage = 0x0042, Pls = 0x004D, DefColWidth = 0x0055, ExternCount = 0x0059,
    Obj = 0x005D, Uncalced = 0x005E, SaveRecalc = 0x005F, ObjProtect = 0x0063, ColInfo = 0x007D, Guts = 0x0080,
    WsBool = 0x0081, GridSet = 0x0082, HCenter = 0x0083, VCenter = 0x0084, BoundSheet = 0x0085, WriteProt = 0x0086,
    Country = 0x008C, HideObj = 0x008D, Sort = 0x0090, Palette = 0x0092, Sync = 0x0097, Lpr = 0x0098,
    DxGCol = 0x0099, FnGroupName = 0x009A, FilterMode = 0x009B, BuiltInFnGroupCount = 0x009C,
    AutoFilterInfo = 0x009D, AutoFilter = 0x009E, Scl = 0x00A0, Setup = 0x00A1, Coordlist = 0x00A9,
    SxView = 0x00B0, MulRk = 0x00BD, MulBlank = 0x00BE, Mms = 0x00C1, DbCell = 0x00D7, BookBool = 0x00DA,
    ScenProtect = 0x00DD, Xf = 0x00E0, InterfaceHdr = 0x00E1, InterfaceEnd = 0x00E2, MergeCells = 0x00E5,
    BitmapBackground = 0x00E9, MsoDrawingGroup = 0x00EB, MsoDrawing = 0x00EC, MsoDrawingSelection = 0x00ED,
    PhoneticInfo = 0x00EF, Sst = 0x00FC, LabelSst = 0x00FD, ExtSst = 0x00FF, UseSelfs = 0x0160, Dsf = 0x0161,
    Excel9File = 0x01C0, RecalcId = 0x01C1, TabId = 0x013D, Prot4Rev = 0x01AF, Prot4RevPass = 0x01BC,
    CondFmt = 0x01B0, Cf = 0x01B1, DVal = 0x01B2, Dv = 0x01BE, SupBook = 0x01AE, TxO = 0x01B6,
    RefreshAll = 0x01B7, HLink = 0x01B8, CodeName = 0x01BA, Dimensions = 0x0200, Blank = 0x0201,
    Number = 0x0203, Label = 0x0204, BoolErr = 0x0205, String = 0x0207, Row = 0x0208, Index = 0x020B,
    Array = 0x0221, DefaultRowHeight = 0x0225, Table = 0x0236, Window2 = 0x023E, Rk = 0x027E, Style = 0x0293,
    Format = 0x041E, ShrFmla = 0x04BC, Bof = 0x0809, RString = 0x00D6, ObProj = 0x00D3,
};

// The most data bytes one record carries; longer data goes on in CONTINUE records.
constexpr std::size_t MaxData = 8224;

// BOF substream types.
constexpr std::uint16_t GlobalsStream = 0x0005, WorksheetStream = 0x0010, ChartStream = 0x0020,
                        MacroStream = 0x0040;

inline void U8(std::string& b, unsigned v) { b += static_cast<char>(v & 0xFF); }
inline void U16(std::string& b, unsigned v)
{
    U8(b, v);
    U8(b, v >> 8);
}
inline void U32(std::string& b, std::uint32_t v)
{
    U16(b, v & 0xFFFF);
    U16(b, v >> 16);
}
inline void F64(std::string& b, double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    U32(b, static_cast<std::uint32_t>(bits));
    U32(b, static_cast<std::uint32_t>(bits >> 32));
}
inline unsigned Get8(std::string_view b, std::size_t at) { return static_cast<unsigned char>(b[at]); }
inline unsigned Get16(std::string_view b, std::size_t at) { return Get8(b, at) | Get8(b, at + 1) << 8; }
inline std::uint32_t Get32(std::string_view b, std::size_t at)
{
    return Get16(b, at) | static_cast<std::uint32_t>(Get16(b, at + 2)) << 16;
}
inline double GetF64(std::string_view b, std::size_t at)
{
    const std::uint64_t bits = Get32(b, at) | static_cast<std::uint64_t>(Get32(b, at + 4)) << 32;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Appends one record: type, data size, data (at most MaxData bytes).
inline void Record(std::string& out, std::uint16_t type, std::string_view data)
{
    U16(out, type);
    U16(out, static_cast<unsigned>(data.size()));
    out.append(data);
}

// The text of a cell or name as UTF-16, every character as it is (xl_text.h).
std::u16string Utf16(std::string_view bytes);
std::string Utf8(std::u16string_view text);

// A string with its character count (one byte, or two with `wideCount`), a flags byte
// and the characters: one byte each when they all fit, else UTF-16.
void PutString(std::string& out, std::u16string_view text, bool wideCount);

// The colours of the default palette, as 0xRRGGBB, for indexes 8 to 63.
extern const std::uint32_t DefaultPalette[56];

// The number format of a built-in format index (empty when the index is not built in),
// and the built-in index of a format (-1 when none).
std::string BuiltinFormatCode(int index);
int BuiltinFormatIndex(const std::string& code);

} // namespace Biff
