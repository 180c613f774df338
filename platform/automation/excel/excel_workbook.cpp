#include "platform/automation/excel/excel_workbook.h"

#include "framework/files.h"
#include "framework/format_settings.h"
#include "platform/automation/excel/xl_text.h"
#include "platform/automation/excel/xl_xml.h"
#include "platform/automation/word/word_text.h"
#include "platform/automation/zip_package.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <zip.h>

#include <charconv>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <pugixml.hpp>
#include <sstream>
#include <cmath>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <cstdlib>

namespace {

std::string ColumnLetters(int n)
{
    std::string name;
    while (n > 0) {
        name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
        n = (n - 1) / 26;
    }
    return name;
}

std::string Hex6(int bgr)
{
    // The application's colours are BGR; SpreadsheetML wants ARGB.
    char buf[16];
    std::snprintf(buf, sizeof buf, "FF%02X%02X%02X", bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
    return buf;
}

std::string Attr(std::string_view text)
{
    std::string out;
    AppendXmlAttrText(out, text);
    return out;
}

// Built-in number formats a reader knows by id.
int BuiltinFormat(const std::string& format)
{
    static const std::map<std::string, int> ids = {{"", 0},         {"General", 0},   {"0", 1},
                                                   {"0.00", 2},     {"#,##0", 3},     {"#,##0.00", 4},
                                                   {"0%", 9},       {"0.00%", 10},    {"m/d/yyyy", 14},
                                                   {"h:mm:ss", 21}, {"m/d/yyyy h:mm", 22}, {"@", 49}};
    auto it = ids.find(format);
    return it == ids.end() ? -1 : it->second;
}

const char* HAlignName(int value)
{
    switch (value) {
    case -4131: return "left";
    case -4152: return "right";
    case -4108: return "center";
    default: return nullptr;
    }
}

// Digits at text[i..]; returns the count.
std::size_t Digits(std::string_view t, std::size_t i)
{
    std::size_t n = 0;
    while (i + n < t.size() && t[i + n] >= '0' && t[i + n] <= '9') ++n;
    return n;
}

bool ReadPlainNumber(std::string_view t, const std::string& dec, const std::string& thousand, double& value)
{
    std::string canon;
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) canon += t[i++];
    std::size_t intDigits = Digits(t, i);
    canon.append(t.substr(i, intDigits));
    i += intDigits;
    // Thousand groups: only after 1..3 leading digits, each exactly three digits.
    if (!thousand.empty() && intDigits >= 1 && intDigits <= 3) {
        while (t.substr(i, thousand.size()) == thousand && Digits(t, i + thousand.size()) == 3) {
            canon.append(t.substr(i + thousand.size(), 3));
            i += thousand.size() + 3;
            intDigits += 3;
        }
    }
    std::size_t fracDigits = 0;
    if (!dec.empty() && t.substr(i, dec.size()) == dec) {
        i += dec.size();
        fracDigits = Digits(t, i);
        canon += '.';
        canon.append(t.substr(i, fracDigits));
        i += fracDigits;
    }
    if (intDigits + fracDigits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        std::size_t j = i + 1;
        std::string exp = "e";
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) exp += t[j++];
        const std::size_t n = Digits(t, j);
        if (n == 0) return false;
        exp.append(t.substr(j, n));
        canon += exp;
        i = j + n;
    }
    if (i != t.size()) return false;
    const char* begin = canon.c_str() + (canon[0] == '+' ? 1 : 0);
    auto [end, ec] = std::from_chars(begin, canon.c_str() + canon.size(), value);
    return ec == std::errc() && end == canon.c_str() + canon.size() && std::isfinite(value);
}

// Reads up to 4 digits as a field.
bool Field(std::string_view t, std::size_t& i, int maxDigits, int& v)
{
    const std::size_t n = Digits(t, i);
    if (n == 0 || n > static_cast<std::size_t>(maxDigits)) return false;
    v = 0;
    for (std::size_t k = 0; k < n; ++k) v = v * 10 + (t[i + k] - '0');
    i += n;
    return true;
}

bool ReadTime(std::string_view t, const std::string& sep, double& value)
{
    for (const std::string& s : {sep, std::string(":")}) {
        if (s.empty()) continue;
        std::size_t i = 0;
        int h = 0, m = 0, sec = 0;
        if (!Field(t, i, 2, h) || t.substr(i, s.size()) != s) continue;
        i += s.size();
        if (!Field(t, i, 2, m)) continue;
        if (t.substr(i, s.size()) == s) {
            i += s.size();
            if (!Field(t, i, 2, sec)) continue;
        }
        if (i != t.size() || h > 23 || m > 59 || sec > 59) continue;
        value = (h * 3600 + m * 60 + sec) / 86400.0;
        return true;
    }
    return false;
}

bool ReadDate(std::string_view t, bool date1904, double& value)
{
    const TFormatSettings& fs = FormatSettings();
    // The order of day, month and year in the short date format.
    std::string order;
    for (char ch : fs.ShortDateFormat) {
        const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if ((l == 'd' || l == 'm' || l == 'y') && order.find(l) == std::string::npos) order += l;
    }
    if (order.size() != 3) order = "mdy";
    const std::string& sep = fs.DateSeparator;
    if (sep.empty()) return false;
    std::size_t i = 0;
    int parts[3] = {0, 0, 0};
    int yearDigits = 0;
    for (int k = 0; k < 3; ++k) {
        if (k > 0) {
            if (t.substr(i, sep.size()) != sep) return false;
            i += sep.size();
        }
        const std::size_t at = i;
        if (!Field(t, i, order[static_cast<std::size_t>(k)] == 'y' ? 4 : 2, parts[k])) return false;
        if (order[static_cast<std::size_t>(k)] == 'y') yearDigits = static_cast<int>(i - at);
    }
    if (i != t.size()) return false;
    int d = 0, m = 0, y = 0;
    for (int k = 0; k < 3; ++k) {
        switch (order[static_cast<std::size_t>(k)]) {
        case 'd': d = parts[k]; break;
        case 'm': m = parts[k]; break;
        default: y = parts[k]; break;
        }
    }
    if (yearDigits == 3) return false;
    if (yearDigits <= 2) y += y >= 30 ? 1900 : 2000;
    value = XlDateSerial(y, m, d, date1904);
    return value >= 0;
}

} // namespace

std::unique_ptr<QFile> XlScratchFile(const std::string& what)
{
    int handle = -1;
    try {
        handle = CreateAnonymousFile();
    } catch (const Exception& e) {
        throw EStreamError("Cannot create a temporary file for " + what + ": " + e.Message());
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(handle, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
        ::close(handle);
        throw EStreamError("Cannot create a temporary file for " + what);
    }
    return file;
}

void XlAppendNumberText(std::string& out, double v)
{
    // Whole numbers in plain digits (the shortest form would write 300000 as "3e+05",
    // which some readers then take for a fraction); others in the shortest exact form.
    char buf[32];
    auto [end, ec] = std::abs(v) < 1e15 && v == std::trunc(v)
                         ? std::to_chars(buf, buf + sizeof buf, static_cast<long long>(v))
                         : std::to_chars(buf, buf + sizeof buf, v);
    if (ec == std::errc()) out.append(buf, end);
    else out += '0';
}

std::string XlNumberText(double v)
{
    std::string out;
    XlAppendNumberText(out, v);
    return out;
}

double XlDateSerial(int year, int month, int day, bool date1904)
{
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < (date1904 ? 1904 : 1900) || year > 9999 || month < 1 || month > 12 || day < 1 || day > days[month - 1])
        return -1;
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (month == 2 && day == 29 && !leap) return year == 1900 && !date1904 ? 60 : -1;
    const double plain = EncodeDate(year, month, day); // days since 1899-12-30
    if (date1904) return plain - EncodeDate(1904, 1, 1);
    return plain < 61 ? plain - 1 : plain;
}

bool XlReadNumber(const std::string& text, double& value, int& dateFormat, bool date1904)
{
    dateFormat = 0;
    std::string_view t = text;
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    if (t.empty()) return false;
    const TFormatSettings& fs = FormatSettings();
    if (ReadPlainNumber(t, fs.DecimalSeparator, fs.ThousandSeparator == fs.DecimalSeparator ? "" : fs.ThousandSeparator,
                        value))
        return true;
    if (fs.DecimalSeparator != "." && ReadPlainNumber(t, ".", "", value)) return true;
    double date = 0, time = 0;
    if (ReadDate(t, date1904, date)) {
        value = date;
        dateFormat = 14;
        return true;
    }
    if (ReadTime(t, fs.TimeSeparator, time)) {
        value = time;
        dateFormat = 21;
        return true;
    }
    if (const std::size_t blank = t.find(' '); blank != std::string_view::npos) {
        std::string_view rest = t.substr(blank + 1);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        if (ReadDate(t.substr(0, blank), date1904, date) && ReadTime(rest, fs.TimeSeparator, time)) {
            value = date + time;
            dateFormat = 22;
            return true;
        }
    }
    return false;
}

std::string XlHeaderCode(const std::string& left, const std::string& raw)
{
    if (left.empty()) return raw;
    std::string out = "&L";
    for (char ch : left) {
        if (ch == '&') out += "&&";
        else if (ch != '\r') out += ch;
    }
    return out;
}

// ---- styles

XlStyles::XlStyles()
{
    Intern(XlStyle());
}

int XlStyles::WithBorder(int style, std::uint8_t bit, bool on)
{
    const std::uint64_t key = (static_cast<std::uint64_t>(style) << 9) | (static_cast<std::uint64_t>(bit) << 1) | (on ? 1 : 0);
    // The few changes of an export's rows, each asked for on every row, hit this first.
    RecentBorderChange& recent = FRecentBorderChanges[(key ^ (key >> 9)) % FRecentBorderChanges.size()];
    if (recent.Key == key) return recent.Style;
    int index = 0;
    if (auto it = FBorderChanges.find(key); it != FBorderChanges.end()) {
        index = it->second;
    } else {
        XlStyle changed = Get(style);
        changed.Borders = static_cast<std::uint8_t>(on ? (changed.Borders | bit) : (changed.Borders & ~bit));
        index = Intern(changed);
        FBorderChanges.emplace(key, index);
    }
    recent = {key, index};
    return index;
}

int XlStyles::WithoutTextFormat(int style)
{
    auto [it, added] = FWithoutTextFormat.emplace(style, style);
    if (added && Get(style).NumberFormat == "@") {
        XlStyle general = Get(style);
        general.NumberFormat.clear();
        it->second = Intern(general);
    }
    return it->second;
}

int XlStyles::Intern(const XlStyle& style)
{
    auto [it, added] = FIndex.emplace(style, static_cast<int>(FStyles.size()));
    if (added) FStyles.push_back(style);
    return it->second;
}

namespace {

const char* const BaseStyles =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
    "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill></fills>"
    "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
    "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/></cellXfs>"
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
    "</styleSheet>";

// The child `name` of the style sheet, made in its place in the schema's order when missing.
pugi::xml_node StyleList(pugi::xml_node sheet, const char* name)
{
    if (pugi::xml_node n = XlXml::Child(sheet, name)) return n;
    static const char* const order[] = {"numFmts", "fonts", "fills", "borders", "cellStyleXfs", "cellXfs",
                                        "cellStyles", "dxfs", "tableStyles", "colors", "extLst"};
    const std::string qualified = XlXml::NewName(sheet, name);
    bool after = false;
    for (const char* o : order) {
        if (after)
            if (pugi::xml_node next = XlXml::Child(sheet, o)) return sheet.insert_child_before(qualified.c_str(), next);
        if (std::strcmp(o, name) == 0) after = true;
    }
    return sheet.append_child(qualified.c_str());
}

int Append(pugi::xml_node list, pugi::xml_document& fragment)
{
    int count = 0;
    for (pugi::xml_node n : list.children()) count += n.type() == pugi::node_element;
    list.append_copy(fragment.first_child());
    list.attribute("count") ? list.attribute("count").set_value(count + 1) : list.append_attribute("count").set_value(count + 1);
    return count;
}

int AppendXml(pugi::xml_node list, const std::string& xml)
{
    pugi::xml_document fragment;
    fragment.load_string(xml.c_str());
    return Append(list, fragment);
}

} // namespace

int XlStyles::CountXfs(const std::string& stylesXml)
{
    pugi::xml_document doc;
    if (!doc.load_string(stylesXml.c_str())) return -1;
    const pugi::xml_node sheet = doc.document_element();
    if (!XlXml::Is(sheet, "styleSheet")) return -1;
    int count = 0;
    XlXml::ForChildren(XlXml::Child(sheet, "cellXfs"), "xf", [&](pugi::xml_node) { ++count; });
    return count;
}

namespace {

// Keys that tell a style's parts apart as a reader shows them: a cell format of ours and
// one a styles part has are equal when their keys are. A part's element that holds
// anything this model has no place for gets no key (nullopt) and equals nothing of ours.
std::string FontKey(const XlFont& f)
{
    return std::string(f.Bold ? "b" : "") + (f.Italic ? "i" : "") + (f.Underline ? "u" : "") + "|" + XlNumberText(f.Size)
        + "|" + (f.Color >= 0 ? Hex6(f.Color) : "") + "|" + f.Name;
}

std::string FillKey(int fill)
{
    return fill < 0 ? "none" : "solid " + Hex6(fill);
}

std::string BorderKey(std::uint8_t borders)
{
    return std::to_string(borders);
}

std::string NumberFormatKey(const std::string& format)
{
    return format.empty() ? std::string("General") : format;
}

std::string XfKey(const std::string& numFmt, const std::string& font, const std::string& fill, const std::string& border,
                  std::string_view halign)
{
    return numFmt + '\x1f' + font + '\x1f' + fill + '\x1f' + border + '\x1f' + std::string(halign);
}

bool Flag(pugi::xml_node n)
{
    const pugi::xml_attribute val = n.attribute("val");
    return !val || val.as_bool();
}

std::string Upper(std::string text)
{
    for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return text;
}

std::optional<std::string> PartFontKey(pugi::xml_node font)
{
    XlFont f;
    bool size = false, name = false;
    for (pugi::xml_node n : font.children()) {
        if (n.type() != pugi::node_element) continue;
        const std::string_view local = XlXml::LocalName(n.name());
        if (local == "b") f.Bold = Flag(n);
        else if (local == "i") f.Italic = Flag(n);
        else if (local == "u") {
            const std::string_view val = n.attribute("val").value();
            if (val != "" && val != "single" && val != "none") return std::nullopt;
            f.Underline = val != "none";
        } else if (local == "sz") {
            f.Size = n.attribute("val").as_double();
            size = true;
        } else if (local == "color") {
            const std::string rgb = Upper(n.attribute("rgb").value());
            if (rgb.size() != 8 || rgb.find_first_not_of("0123456789ABCDEF") != std::string::npos || n.attribute("theme")
                || n.attribute("indexed") || n.attribute("tint"))
                return std::nullopt;
            const unsigned long argb = std::stoul(rgb, nullptr, 16);
            f.Color = static_cast<int>((argb & 0xFF) << 16 | (argb & 0xFF00) | (argb >> 16 & 0xFF));
        } else if (local == "name") {
            f.Name = n.attribute("val").value();
            name = true;
        } else if (local != "family" && local != "charset") return std::nullopt; // hints for a font's stand-in
    }
    if (!size || !name) return std::nullopt;
    return FontKey(f);
}

std::optional<std::string> PartFillKey(pugi::xml_node fill)
{
    const pugi::xml_node pattern = XlXml::Child(fill, "patternFill");
    if (!pattern || XlXml::Child(fill, "gradientFill")) return std::nullopt;
    const std::string_view type = pattern.attribute("patternType").value();
    if (type == "" || type == "none") return FillKey(-1);
    const pugi::xml_node fg = XlXml::Child(pattern, "fgColor");
    const std::string rgb = Upper(fg.attribute("rgb").value());
    if (type != "solid" || rgb.size() != 8 || fg.attribute("tint")) return std::nullopt;
    return "solid " + rgb;
}

std::optional<std::string> PartBorderKey(pugi::xml_node border)
{
    if (border.attribute("diagonalUp").as_bool() || border.attribute("diagonalDown").as_bool()) return std::nullopt;
    std::uint8_t bits = 0;
    for (pugi::xml_node n : border.children()) {
        if (n.type() != pugi::node_element) continue;
        const std::string_view local = XlXml::LocalName(n.name());
        const std::string_view style = n.attribute("style").value();
        if (style == "" || style == "none") continue;
        const pugi::xml_node color = XlXml::Child(n, "color");
        const bool automatic = !color || std::string_view(color.attribute("indexed").value()) == "64"
            || color.attribute("auto").as_bool();
        const std::uint8_t bit = local == "left" ? 1 : local == "top" ? 2 : local == "bottom" ? 4 : local == "right" ? 8 : 0;
        if (style != "thin" || !automatic || bit == 0) return std::nullopt;
        bits |= bit;
    }
    return BorderKey(bits);
}

// Built-in number formats by id, as BuiltinFormat names them.
std::string PartFormatCode(int id)
{
    static const std::map<int, std::string> codes = {{0, "General"},   {1, "0"},         {2, "0.00"},
                                                     {3, "#,##0"},     {4, "#,##0.00"},  {9, "0%"},
                                                     {10, "0.00%"},    {14, "m/d/yyyy"}, {21, "h:mm:ss"},
                                                     {22, "m/d/yyyy h:mm"}, {49, "@"}};
    auto it = codes.find(id);
    return it == codes.end() ? "#" + std::to_string(id) : it->second;
}

// The styles part being extended: its lists, and the parts of it that equal ours.
class StylesPart {
public:
    StylesPart(const std::string& existing, bool reuse)
    {
        if (!FDoc.load_string(existing.empty() ? BaseStyles : existing.c_str()) || !XlXml::Is(FDoc.document_element(), "styleSheet"))
            throw Exception("The workbook's styles cannot be read");
        FSheet = FDoc.document_element();
        FPrefix = XlXml::NewName(FSheet, "");
        FXfs = List("cellXfs");
        XlXml::ForChildren(XlXml::Child(FSheet, "numFmts"), "numFmt", [&](pugi::xml_node f) {
            const int id = f.attribute("numFmtId").as_int();
            FCodes[id] = f.attribute("formatCode").value();
            FFormats.emplace(f.attribute("formatCode").value(), id);
            FNextFormat = std::max(FNextFormat, id + 1);
        });
        if (!reuse) return;
        // The part's own fonts, fills, borders and cell formats, to be reused.
        std::vector<std::optional<std::string>> fonts, fills, borders;
        const auto keys = [&](const char* list, const char* item, auto key, std::map<std::string, int>& index,
                              std::vector<std::optional<std::string>>& all) {
            XlXml::ForChildren(XlXml::Child(FSheet, list), item, [&](pugi::xml_node n) {
                all.push_back(key(n));
                if (all.back()) index.emplace(*all.back(), static_cast<int>(all.size()) - 1);
            });
        };
        keys("fonts", "font", PartFontKey, FFonts, fonts);
        keys("fills", "fill", PartFillKey, FFills, fills);
        keys("borders", "border", PartBorderKey, FBorders, borders);
        int index = 0;
        XlXml::ForChildren(FXfs, "xf", [&](pugi::xml_node xf) {
            if (const std::optional<std::string> key = PartXfKey(xf, fonts, fills, borders)) FXfKeys.emplace(*key, index);
            ++index;
        });
    }

    // The cell format of `s`: an equal one of the part's (when it was read to be reused)
    // or one appended.
    int Xf(const XlStyle& s, bool reuse)
    {
        const std::string key = XfKey(NumberFormatKey(s.NumberFormat), FontKey(s.Font), FillKey(s.Fill), BorderKey(s.Borders),
                                      HAlignName(s.HAlign) ? HAlignName(s.HAlign) : "");
        if (reuse)
            if (auto it = FXfKeys.find(key); it != FXfKeys.end()) return it->second;
        int numFmt = BuiltinFormat(s.NumberFormat);
        if (numFmt < 0) {
            auto [it, added] = FFormats.emplace(s.NumberFormat, FNextFormat);
            if (added) {
                AppendXml(List("numFmts"), "<" + FPrefix + "numFmt numFmtId=\"" + std::to_string(FNextFormat)
                                               + "\" formatCode=\"" + Attr(s.NumberFormat) + "\"/>");
                ++FNextFormat;
            }
            numFmt = it->second;
        }
        auto font = FFonts.find(FontKey(s.Font));
        if (font == FFonts.end()) {
            const std::string p = FPrefix;
            std::string x = "<" + p + "font>";
            if (s.Font.Bold) x += "<" + p + "b/>";
            if (s.Font.Italic) x += "<" + p + "i/>";
            if (s.Font.Underline) x += "<" + p + "u/>";
            x += "<" + p + "sz val=\"" + XlNumberText(s.Font.Size) + "\"/>";
            if (s.Font.Color >= 0) x += "<" + p + "color rgb=\"" + Hex6(s.Font.Color) + "\"/>";
            x += "<" + p + "name val=\"" + Attr(s.Font.Name) + "\"/></" + p + "font>";
            font = FFonts.emplace(FontKey(s.Font), AppendXml(List("fonts"), x)).first;
        }
        int fill = 0;
        if (s.Fill >= 0) {
            auto it = FFills.find(FillKey(s.Fill));
            if (it == FFills.end()) {
                const std::string p = FPrefix;
                it = FFills.emplace(FillKey(s.Fill), AppendXml(List("fills"), "<" + p + "fill><" + p + "patternFill patternType=\"solid\"><"
                                                                                 + p + "fgColor rgb=\"" + Hex6(s.Fill) + "\"/><" + p
                                                                                 + "bgColor indexed=\"64\"/></" + p + "patternFill></"
                                                                                 + p + "fill>"))
                         .first;
            }
            fill = it->second;
        }
        auto border = FBorders.find(BorderKey(s.Borders));
        if (border == FBorders.end()) {
            const std::string p = FPrefix;
            std::string x = "<" + p + "border>";
            const std::pair<const char*, int> edges[] = {{"left", 1}, {"right", 8}, {"top", 2}, {"bottom", 4}};
            for (const auto& [name, bit] : edges) {
                if (s.Borders & bit)
                    x += "<" + p + name + " style=\"thin\"><" + p + "color indexed=\"64\"/></" + p + name + ">";
                else
                    x += "<" + p + name + "/>";
            }
            x += "<" + p + "diagonal/></" + p + "border>";
            border = FBorders.emplace(BorderKey(s.Borders), AppendXml(List("borders"), x)).first;
        }
        std::string x = "<" + FPrefix + "xf numFmtId=\"" + std::to_string(numFmt) + "\" fontId=\"" + std::to_string(font->second)
            + "\" fillId=\"" + std::to_string(fill) + "\" borderId=\"" + std::to_string(border->second)
            + "\" xfId=\"0\" applyNumberFormat=\"1\" applyFont=\"1\" applyFill=\"1\" applyBorder=\"1\"";
        if (const char* h = HAlignName(s.HAlign))
            x += std::string(" applyAlignment=\"1\"><") + FPrefix + "alignment horizontal=\"" + h + "\"/></" + FPrefix + "xf>";
        else
            x += "/>";
        const int xf = AppendXml(FXfs, x);
        FXfKeys.emplace(key, xf);
        return xf;
    }

    std::string Save() const
    {
        std::ostringstream out;
        FDoc.save(out, "", pugi::format_raw);
        return out.str();
    }

private:
    pugi::xml_node List(const char* name) { return StyleList(FSheet, name); }

    // The key of a cell format of the part; none when it holds what ours cannot.
    std::optional<std::string> PartXfKey(pugi::xml_node xf, const std::vector<std::optional<std::string>>& fonts,
                                         const std::vector<std::optional<std::string>>& fills,
                                         const std::vector<std::optional<std::string>>& borders) const
    {
        if (xf.attribute("xfId").as_int() != 0 || xf.attribute("quotePrefix").as_bool() || xf.attribute("pivotButton").as_bool())
            return std::nullopt;
        const auto at = [](const std::vector<std::optional<std::string>>& all, int i) -> const std::optional<std::string>& {
            static const std::optional<std::string> none;
            return i >= 0 && static_cast<std::size_t>(i) < all.size() ? all[static_cast<std::size_t>(i)] : none;
        };
        const std::optional<std::string>& font = at(fonts, xf.attribute("fontId").as_int());
        const std::optional<std::string>& fill = at(fills, xf.attribute("fillId").as_int());
        const std::optional<std::string>& border = at(borders, xf.attribute("borderId").as_int());
        if (!font || !fill || !border) return std::nullopt;
        std::string_view halign;
        for (pugi::xml_node n : xf.children()) {
            if (n.type() != pugi::node_element) continue;
            if (XlXml::LocalName(n.name()) != "alignment") return std::nullopt;
            for (pugi::xml_attribute a : n.attributes())
                if (std::string_view(a.name()) != "horizontal") return std::nullopt;
            halign = n.attribute("horizontal").value();
            if (halign == "general") halign = {};
            if (!halign.empty() && halign != "left" && halign != "right" && halign != "center") return std::nullopt;
        }
        const int id = xf.attribute("numFmtId").as_int();
        const auto code = FCodes.find(id);
        return XfKey(NumberFormatKey(code != FCodes.end() ? code->second : PartFormatCode(id)), *font, *fill, *border, halign);
    }

    pugi::xml_document FDoc;
    pugi::xml_node FSheet, FXfs;
    std::string FPrefix; // the prefix of the part's elements, with its ":"
    std::map<int, std::string> FCodes;
    std::map<std::string, int> FFormats, FFonts, FFills, FBorders, FXfKeys;
    int FNextFormat = 164;
};

} // namespace

std::string XlStyles::Xml(const std::string& existing) const
{
    // Every style of ours but the default becomes one more cell format, in order, so a
    // cell's format index is known while its row is streamed (XfIndex).
    StylesPart part(existing, false);
    for (std::size_t k = 1; k < FStyles.size(); ++k) part.Xf(FStyles[k], false);
    return part.Save();
}

std::string XlStyles::Xml(const std::string& existing, const std::vector<char>& used, std::vector<int>& xfOf) const
{
    StylesPart part(existing, true);
    xfOf.assign(FStyles.size(), 0);
    for (std::size_t k = 1; k < FStyles.size(); ++k)
        if (k < used.size() && used[k]) xfOf[k] = part.Xf(FStyles[k], true);
    return part.Save();
}

// ---- sheet

XlSheet::XlSheet(XlWorkbook& book, std::string name) : Name(std::move(name)), FBook(book) {}
XlSheet::~XlSheet() = default;

XlColumn& XlSheet::Column(int c)
{
    if (!IsWorksheet) throw Exception("'" + Name + "' is not a worksheet");
    Modified = true;
    const auto at = static_cast<std::size_t>(c);
    if (at < FColumnAt.size() && FColumnAt[at])
        return *FColumnAt[at];
    if (c < 1 || c > XlMaxColumns)
        throw Exception("Column " + std::to_string(c) + " is outside the sheet (1 to " + std::to_string(XlMaxColumns)
                        + ")");
    auto [it, added] = FColumns.try_emplace(c);
    XlColumn& column = it->second;
    if (added)
        for (const auto& [first, last] : FKeptRanges)
            if (first <= c && c <= last) column.Kept = true;
    if (at >= FColumnAt.size())
        FColumnAt.resize(at + 1);
    FColumnAt[at] = &column;
    return column;
}

void XlSheet::ContinueAfter(int lastRow, int lastCol)
{
    FWrittenThrough = FLastRow = lastRow;
    FLastCol = lastCol;
}

void XlSheet::KeepColumns(int first, int last)
{
    first = std::max(first, 1);
    last = std::min(last, XlMaxColumns);
    if (first > last) return;
    for (auto it = FColumns.lower_bound(first); it != FColumns.end() && it->first <= last; ++it) {
        XlColumn& column = it->second;
        if (column.Kept) continue;
        column.Kept = true;
        column.KeptWidth = column.Width;
        column.KeptHidden = column.Hidden;
        column.KeptStyle = column.Style;
    }
    FKeptRanges.emplace_back(first, last);
}

XlRow& XlSheet::Row(int r)
{
    // The row being written, asked for again for each of its cells.
    if (FCurrentRow && r == FCurrentRowNumber)
        return *FCurrentRow;
    if (!IsWorksheet) throw Exception("'" + Name + "' is not a worksheet");
    Modified = true;
    if (r < 1 || r > XlMaxRows)
        throw Exception("Row " + std::to_string(r) + " is outside the sheet (1 to " + std::to_string(XlMaxRows) + ")");
    if (r <= FWrittenThrough)
        throw Exception("Row " + std::to_string(r) + " of sheet '" + Name
                        + "' has been written already; rows are written in order");
    if (!FHeld.empty() && r > FHeld.rbegin()->first) Flush(r);
    if (r > FLastRow) FLastRow = r;
    auto it = FHeld.find(r);
    if (it == FHeld.end()) {
        if (FSpareRow) {
            FSpareRow.key() = r;
            XlRow& spare = FSpareRow.mapped();
            spare.Cells.clear();
            spare.Height = 0;
            spare.Style = -1;
            it = FHeld.insert(std::move(FSpareRow)).position;
        } else {
            it = FHeld.emplace(r, XlRow()).first;
        }
    }
    XlRow& row = it->second;
    FCurrentRow = &row;
    FCurrentRowNumber = r;
    return row;
}

int XlSheet::NewCellStyle(int r, int c)
{
    auto it = FHeld.find(r);
    if (it != FHeld.end() && it->second.Style >= 0) return it->second.Style;
    auto col = FColumns.find(c);
    return col == FColumns.end() ? 0 : col->second.Style;
}

XlCell& XlSheet::Cell(int r, int c)
{
    XlColumn* column = nullptr;
    return Cell(r, c, column);
}

XlCell& XlSheet::Cell(int r, int c, XlColumn*& column)
{
    column = &Column(c);
    XlRow& row = Row(r);
    bool added = false;
    XlCell& cell = row.At(c, added);
    if (added) {
        cell.Style = row.Style >= 0 ? row.Style : column->Style;
        if (c > FLastCol) FLastCol = c;
    }
    return cell;
}

void XlSheet::PutNumber(int r, int c, double value)
{
    XlCell& cell = Cell(r, c);
    cell.Kind = XlKind::Number;
    cell.Number = value;
    cell.Text.clear();
}

void XlSheet::PutBoolean(int r, int c, bool value)
{
    XlColumn* column = nullptr;
    XlCell& cell = Cell(r, c, column);
    cell.Style = FBook.Styles.WithoutTextFormat(cell.Style);
    cell.Kind = XlKind::Boolean;
    cell.Number = value ? 1 : 0;
    cell.Text.clear();
    // Shown as TRUE or FALSE.
    column->MaxChars = std::max<std::size_t>(column->MaxChars, value ? 4 : 5);
}

namespace {

// The length of a text for a cell, which raises when the cell cannot hold it.
std::size_t CellTextLength(std::string_view text, int r, int c)
{
    const std::size_t length = XlTextLength(text);
    if (length > XlMaxTextLength)
        throw Exception("A cell holds at most " + std::to_string(XlMaxTextLength) + " characters; the text for "
                        + ColumnLetters(c) + std::to_string(r) + " has " + std::to_string(length));
    return length;
}

} // namespace

void XlSheet::PutTextAsIs(int r, int c, std::string_view text)
{
    const std::size_t length = CellTextLength(text, r, c);
    XlColumn* column = nullptr;
    XlCell& cell = Cell(r, c, column);
    cell.Kind = XlKind::Text;
    cell.Text.assign(text);
    column->MaxChars = std::max(column->MaxChars, length);
}

void XlSheet::PutText(int r, int c, const std::string& text)
{
    const std::size_t length = CellTextLength(text, r, c);
    XlColumn* column = nullptr;
    XlCell& cell = Cell(r, c, column);
    cell.Text.clear();
    if (text.empty()) {
        cell.Kind = XlKind::Blank;
        return;
    }
    const XlStyle& style = FBook.Styles.Get(cell.Style);
    double value = 0;
    int dateFormat = 0;
    if (style.NumberFormat != "@" && XlReadNumber(text, value, dateFormat, FBook.Date1904)) {
        cell.Kind = XlKind::Number;
        cell.Number = value;
        if (dateFormat && (style.NumberFormat.empty() || style.NumberFormat == "General")) {
            static const char* codes[] = {"m/d/yyyy", "h:mm:ss", "m/d/yyyy h:mm"};
            const char* code = dateFormat == 14 ? codes[0] : dateFormat == 21 ? codes[1] : codes[2];
            Restyle(cell, [&](XlStyle& s) { s.NumberFormat = code; });
        }
    } else {
        cell.Kind = XlKind::Text;
        cell.Text = text;
    }
    column->MaxChars = std::max(column->MaxChars, length);
}

namespace {

template <class T>
void Put(std::string& b, const T& v)
{
    b.append(reinterpret_cast<const char*>(&v), sizeof v);
}

} // namespace

// A spooled row: its byte count, then row, height, style, cell count and per cell its
// column, kind, style and number (also a logical value's 1 or 0) or text (byte count and
// bytes).
void XlSheet::WriteRow(int r, const XlRow& row, bool markStreamed)
{
    std::string& b = FBuffer;
    const std::size_t at = b.size();
    Put(b, std::uint32_t(0));
    Put(b, r);
    Put(b, row.Height);
    Put(b, row.Style);
    Put(b, static_cast<std::uint32_t>(row.Cells.size()));
    // A save into an opened package gives only the styles in use a cell format.
    const bool inUse = FBook.Source != nullptr;
    if (inUse) FBook.UseStyle(row.Style);
    for (const auto& [c, cell] : row.Cells) {
        if (markStreamed) Column(c).Streamed = true;
        if (inUse) FBook.UseStyle(cell.Style);
        Put(b, c);
        Put(b, cell.Kind);
        Put(b, cell.Style);
        if (cell.Kind == XlKind::Number || cell.Kind == XlKind::Boolean) Put(b, cell.Number);
        if (cell.Kind == XlKind::Text) {
            Put(b, static_cast<std::uint32_t>(cell.Text.size()));
            b += cell.Text;
        }
    }
    const auto size = static_cast<std::uint32_t>(b.size() - at - sizeof(std::uint32_t));
    std::memcpy(b.data() + at, &size, sizeof size);
    if (b.size() >= (1 << 16)) WriteSpool();
}

void XlSheet::WriteSpool()
{
    if (!FSpool) {
        FSpool = XlScratchFile("the rows of sheet '" + Name + "'");
        // Every row so far is in this first buffer: the rows' XML can start with it. A
        // sheet of an opened package gets its rows from the package too, so it cannot.
        // The thread that makes the XML writes the spool too, ahead of it, at the
        // places the records have in it (the spool is only read once that thread is done).
        if (!FBook.Source && IsWorksheet) {
            const int xfBase = FRowsXmlXfBase = FBook.XfBase;
            FRowsXml = std::make_unique<DeflatedPart>(
                [xfBase, spool = FSpool->handle(), at = std::uint64_t(0), name = Name](std::string_view records,
                                                                                       std::string& xml) mutable {
                    WriteSpoolAt(spool, at, records, name);
                    at += records.size();
                    XlAppendRowsXml(xml, records, xfBase);
                });
        }
    }
    if (FRowsXml) {
        FRowsXml->Append(FBuffer); // takes the records, leaves the buffer empty
        return;
    }
    // After the thread's records, if there were any.
    if (!FSpool->seek(FSpool->size())
        || FSpool->write(FBuffer.data(), static_cast<qint64>(FBuffer.size())) != static_cast<qint64>(FBuffer.size()))
        throw EStreamError("Cannot write the rows of sheet '" + Name + "' to the temporary folder: "
                           + FSpool->errorString().toStdString());
    FBuffer.clear();
}

void XlSheet::WriteSpoolAt(int spool, std::uint64_t at, std::string_view records, const std::string& name)
{
    while (!records.empty()) {
        const ssize_t n = ::pwrite(spool, records.data(), records.size(), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            throw EStreamError("Cannot write the rows of sheet '" + name + "' to the temporary folder: "
                               + std::strerror(n < 0 ? errno : ENOSPC));
        records.remove_prefix(static_cast<std::size_t>(n));
        at += static_cast<std::uint64_t>(n);
    }
}

void XlSheet::SettleSpool()
{
    if (FRowsXml) FRowsXml->Drain();
}

std::unique_ptr<DeflatedPart> XlSheet::TakeRowsXml()
{
    std::unique_ptr<DeflatedPart> part = std::move(FRowsXml);
    if (part && (FBook.Source || FBook.XfBase != FRowsXmlXfBase)) {
        // The rows are read from the spool instead: all of them must be in it.
        part->Drain();
        part.reset();
    }
    return part;
}

void XlReadSpooledRow(const char* p, XlSpooledRow& row)
{
    const auto take = [&p](auto& v) {
        std::memcpy(&v, p, sizeof v);
        p += sizeof v;
    };
    std::uint32_t count = 0;
    take(row.Row);
    take(row.Height);
    take(row.Style);
    take(count);
    row.Cells.resize(count);
    for (XlSpooledCell& c : row.Cells) {
        take(c.Col);
        take(c.Kind);
        take(c.Style);
        if (c.Kind == XlKind::Number || c.Kind == XlKind::Boolean) take(c.Number);
        if (c.Kind == XlKind::Text) {
            std::uint32_t size = 0;
            take(size);
            c.Text = std::string_view(p, size);
            p += size;
        } else c.Text = {};
    }
}

bool XlSheet::ReadSpooled(std::string& record)
{
    std::uint32_t size = 0;
    const qint64 got = FSpool->read(reinterpret_cast<char*>(&size), sizeof size);
    if (got == 0) return false;
    record.resize(size);
    if (got != sizeof size || FSpool->read(record.data(), size) != static_cast<qint64>(size))
        throw EStreamError("Cannot read the rows of sheet '" + Name + "' back from the temporary folder");
    return true;
}

void XlSheet::Flush(int below)
{
    while (!FHeld.empty() && FHeld.begin()->first < below) {
        auto node = FHeld.extract(FHeld.begin());
        if (&node.mapped() == FCurrentRow) FCurrentRow = nullptr;
        FWrittenThrough = node.key();
        WriteRow(node.key(), node.mapped(), true);
        FSpareRow = std::move(node);
    }
}

void XlSheet::AddExistingRow(int r, const XlRow& row)
{
    WriteRow(r, row, false);
    FWrittenThrough = FLastRow = std::max(FLastRow, r);
    if (!row.Cells.empty()) FLastCol = std::max(FLastCol, row.Cells.back().first);
}

void XlSheet::FinishRows()
{
    Flush(XlMaxRows + 1);
    if (!FBuffer.empty()) WriteSpool();
    if (FSpool && !FSpool->flush())
        throw EStreamError("Cannot write the rows of sheet '" + Name + "' to the temporary folder");
}

// ---- workbook

XlWorkbook::XlWorkbook() = default;
XlWorkbook::~XlWorkbook() = default;

WordPictureStore& XlWorkbook::PictureStore()
{
    if (!FPictures) FPictures = std::make_unique<WordPictureStore>();
    return *FPictures;
}

std::string XlWorkbook::UniqueSheetName() const
{
    for (int n = 1;; ++n) {
        std::string name = "Sheet" + std::to_string(n);
        bool used = false;
        for (const auto& s : Sheets)
            if (s->Name == name) used = true;
        if (!used) return name;
    }
}

std::string XlWorkbook::SaveTarget(const std::string& fileName) const
{
    struct stat link {}, named {}, opened {};
    if (!Opened || ::lstat(fileName.c_str(), &link) != 0 || !S_ISLNK(link.st_mode) || ::stat(fileName.c_str(), &named) != 0
        || ::fstat(Opened->Handle(), &opened) != 0 || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino)
        return fileName;
    char* resolved = ::realpath(fileName.c_str(), nullptr);
    if (!resolved) return fileName;
    std::string target = resolved;
    std::free(resolved);
    return target;
}

XlSheet& XlWorkbook::AddSheet()
{
    auto sheet = std::make_unique<XlSheet>(*this, UniqueSheetName());
    const int at = Sheets.empty() ? 0 : Source ? static_cast<int>(Sheets.size()) : Active;
    Sheets.insert(Sheets.begin() + at, std::move(sheet));
    Active = at;
    return *Sheets[static_cast<std::size_t>(at)];
}
