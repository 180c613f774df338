#include "format_settings.h"

#include "value_contract.h"

#include <QLocale>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>
#include <limits>

TFormatSettings& FormatSettings()
{
    static TFormatSettings settings = SystemFormatSettings();
    return settings;
}

namespace {

// Text collected in a small buffer and handed to its string in pieces, instead of
// growing the string character by character.
class TextBuffer {
public:
    explicit TextBuffer(std::string& Out) : FOut(Out) {}
    void Put(char c)
    {
        if (FLength == sizeof FBuffer)
            Flush();
        FBuffer[FLength++] = c;
    }
    void Put(const char* p, size_t n)
    {
        if (n > sizeof FBuffer - FLength) {
            Flush();
            if (n > sizeof FBuffer) {
                FOut.append(p, n);
                return;
            }
        }
        std::memcpy(FBuffer + FLength, p, n);
        FLength += n;
    }
    void Put(std::string_view s) { Put(s.data(), s.size()); }
    void Flush()
    {
        FOut.append(FBuffer, FLength);
        FLength = 0;
    }

private:
    std::string& FOut;
    char FBuffer[64];
    size_t FLength = 0;
};

} // namespace

namespace {
// Qt date/time patterns use M for month and m for minute; ours use m for month and
// n for minute, with "/" and ":" standing for the separators.
std::string FromQtPattern(const QString& pattern, bool isTime, std::string& separator)
{
    std::string out;
    separator.clear();
    const std::string p = pattern.toStdString();
    for (size_t i = 0; i < p.size(); ++i) {
        char c = p[i];
        if (c == '\'') {
            size_t j = p.find('\'', i + 1);
            if (j == std::string::npos)
                j = p.size();
            out += '"';
            out += p.substr(i + 1, j - i - 1);
            out += '"';
            i = j;
            continue;
        }
        if (isTime) {
            if (c == 'm') { out += 'n'; continue; }
            if (c == 'H') { out += 'h'; continue; }
            if (c == 'A' || c == 'a' || c == 't')
                continue;
        } else {
            if (c == 'M') { out += 'm'; continue; }
        }
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && c != ' ' && separator.empty()) {
            // The first separator: multi-byte characters are taken whole.
            size_t len = 1;
            unsigned char u = static_cast<unsigned char>(c);
            if (u >= 0xF0) len = 4; else if (u >= 0xE0) len = 3; else if (u >= 0xC0) len = 2;
            separator = p.substr(i, len);
            out += isTime ? ':' : '/';
            i += len - 1;
            continue;
        }
        if (!letter && !separator.empty() && p.compare(i, separator.size(), separator) == 0) {
            out += isTime ? ':' : '/';
            i += separator.size() - 1;
            continue;
        }
        out += c;
    }
    // Trim blanks left over from a dropped AM/PM marker.
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}
} // namespace

TFormatSettings SystemFormatSettings()
{
    TFormatSettings s;
    QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C)
        return s; // the classic defaults above
    s.DecimalSeparator = locale.decimalPoint().toStdString();
    s.ThousandSeparator = locale.groupSeparator().toStdString();
    s.CurrencyString = locale.currencySymbol(QLocale::CurrencySymbol).toStdString();
    std::string dateSep, timeSep;
    s.ShortDateFormat = FromQtPattern(locale.dateFormat(QLocale::ShortFormat), false, dateSep);
    s.LongTimeFormat = FromQtPattern(locale.timeFormat(QLocale::LongFormat), true, timeSep);
    // Long time formats may carry a time zone ("t", dropped above); keep h:nn:ss at most.
    if (!dateSep.empty())
        s.DateSeparator = dateSep;
    if (!timeSep.empty())
        s.TimeSeparator = timeSep;
    return s;
}

void LoadSystemFormatSettings()
{
    FormatSettings() = SystemFormatSettings();
}

namespace {
std::string GroupThousands(const std::string& digits, const std::string& separator)
{
    if (separator.empty() || digits.size() <= 3)
        return digits;
    std::string out;
    size_t lead = digits.size() % 3;
    if (lead == 0)
        lead = 3;
    out.append(digits, 0, lead);
    for (size_t i = lead; i < digits.size(); i += 3) {
        out += separator;
        out.append(digits, i, 3);
    }
    return out;
}
} // namespace

namespace {
// The "%.15G" text of Value (15 significant digits, trailing zeros dropped) with the
// exponent written plainly ("1E20", "1E-5") and Settings' decimal separator.
// to_chars with a precision writes exactly what printf would in the C locale.
std::string GeneralText(double Value, const TFormatSettings& Settings)
{
    char buf[64];
    const char* end = std::to_chars(buf, buf + sizeof buf, Value, std::chars_format::general, 15).ptr;
    if (end - buf == 2 && buf[0] == '-' && buf[1] == '0')
        return "0";
    std::string text;
    text.reserve(static_cast<size_t>(end - buf) + Settings.DecimalSeparator.size());
    for (const char* p = buf; p < end; ++p) {
        if (*p == '.') {
            text += Settings.DecimalSeparator;
        } else if (*p == 'e') {
            // "1e+20" -> "1E20", "1e-05" -> "1E-5"
            text += 'E';
            ++p;
            if (*p == '-')
                text += '-';
            ++p;
            while (end - p > 1 && *p == '0')
                ++p;
            text.append(p, static_cast<size_t>(end - p));
            break;
        } else {
            text += *p;
        }
    }
    return text;
}
} // namespace

std::string FloatToStr(double Value, const TFormatSettings& Settings)
{
    if (std::isnan(Value))
        return "NAN";
    if (std::isinf(Value))
        return Value > 0 ? "INF" : "-INF";
    if (Value == 0)
        return "0";
    // The same text from the shortest digits that read back as Value, which are much
    // cheaper to find. For a normal number they are within half a unit in the last
    // place, far less than half a unit of the fifteenth digit, so rounding them to 15
    // digits rounds Value itself, except when they stop exactly half way ("...5" as the
    // sixteenth digit): then, and for subnormal numbers, the exact digits are used.
    if (std::fabs(Value) < std::numeric_limits<double>::min())
        return GeneralText(Value, Settings);
    char sci[40];
    const char* sciEnd = std::to_chars(sci, sci + sizeof sci, Value, std::chars_format::scientific).ptr;
    const bool negative = sci[0] == '-';
    char digits[24];
    int n = 0;
    const char* p = sci + (negative ? 1 : 0);
    for (; p < sciEnd && *p != 'e'; ++p)
        if (*p != '.')
            digits[n++] = *p;
    int exponent = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), sciEnd, exponent);
    if (n > 15) {
        if (n == 16 && digits[15] == '5')
            return GeneralText(Value, Settings);
        const bool up = digits[15] >= '5';
        n = 15;
        if (up) {
            int i = 14;
            while (i >= 0 && digits[i] == '9')
                digits[i--] = '0';
            if (i >= 0) {
                ++digits[i];
            } else {
                digits[0] = '1';
                n = 1;
                ++exponent;
            }
        }
        while (n > 1 && digits[n - 1] == '0')
            --n;
    }
    std::string text;
    TextBuffer out(text);
    if (negative)
        out.Put('-');
    if (exponent < -4 || exponent >= 15) {
        out.Put(digits[0]);
        if (n > 1) {
            out.Put(Settings.DecimalSeparator);
            out.Put(digits + 1, static_cast<size_t>(n - 1));
        }
        out.Put('E');
        if (exponent < 0)
            out.Put('-');
        char e[8];
        out.Put(e, static_cast<size_t>(std::to_chars(e, e + sizeof e, std::abs(exponent)).ptr - e));
    } else if (exponent >= 0) {
        const int whole = exponent + 1;
        if (n <= whole) {
            out.Put(digits, static_cast<size_t>(n));
            for (int i = n; i < whole; ++i)
                out.Put('0');
        } else {
            out.Put(digits, static_cast<size_t>(whole));
            out.Put(Settings.DecimalSeparator);
            out.Put(digits + whole, static_cast<size_t>(n - whole));
        }
    } else {
        out.Put('0');
        out.Put(Settings.DecimalSeparator);
        for (int i = 1; i < -exponent; ++i)
            out.Put('0');
        out.Put(digits, static_cast<size_t>(n));
    }
    out.Flush();
    return text;
}

std::string CurrToStr(std::int64_t ScaledValue, const TFormatSettings& Settings)
{
    bool negative = ScaledValue < 0;
    unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(ScaledValue)
                                            : static_cast<unsigned long long>(ScaledValue);
    std::string text = std::to_string(magnitude / 10000);
    unsigned long long fraction = magnitude % 10000;
    if (fraction) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04llu", fraction);
        std::string f(buf);
        while (!f.empty() && f.back() == '0')
            f.pop_back();
        text += Settings.DecimalSeparator + f;
    }
    return negative ? "-" + text : text;
}

std::string CurrToStrF(std::int64_t ScaledValue, const TFormatSettings& Settings)
{
    bool negative = ScaledValue < 0;
    unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(ScaledValue)
                                            : static_cast<unsigned long long>(ScaledValue);
    int decimals = Settings.CurrencyDecimals < 0 ? 0 : (Settings.CurrencyDecimals > 4 ? 4 : Settings.CurrencyDecimals);
    unsigned long long scale = 1;
    for (int i = 0; i < 4 - decimals; ++i)
        scale *= 10;
    // round half away from zero to the shown decimals
    unsigned long long rounded = (magnitude + scale / 2) / scale;
    unsigned long long unit = 1;
    for (int i = 0; i < decimals; ++i)
        unit *= 10;
    std::string text = GroupThousands(std::to_string(rounded / unit), Settings.ThousandSeparator);
    if (decimals > 0) {
        std::string f = std::to_string(rounded % unit);
        f.insert(0, static_cast<size_t>(decimals) - f.size(), '0');
        text += Settings.DecimalSeparator + f;
    }
    if (negative)
        text.insert(0, "-");
    if (!Settings.CurrencyString.empty())
        text += " " + Settings.CurrencyString;
    return text;
}

namespace {
// Day number (0001-01-01 is 1) of the date-time epoch 1899-12-30.
constexpr long long EpochDays = 693594;

const char* const ShortMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const LongMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                      "July",    "August",   "September", "October", "November", "December"};
const char* const ShortDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const LongDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// The decimal digits of value, zeros put in front up to width characters (a minus
// sign counts as one of them).
void AppendPadded(TextBuffer& out, int value, int width = 0)
{
    if (value >= 0 && value < 10000 && width <= 4) {
        // The usual day, month, year and time fields: written digit by digit.
        char digits[4] = {'0', '0', '0', '0'};
        int used = 0;
        for (int v = value; v > 0 || used == 0; v /= 10)
            digits[3 - used++] = static_cast<char>('0' + v % 10);
        const int shown = used > width ? used : width;
        out.Put(digits + 4 - shown, static_cast<size_t>(shown));
        return;
    }
    char buf[16];
    const char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    for (int i = static_cast<int>(end - buf); i < width; ++i)
        out.Put('0');
    out.Put(buf, static_cast<size_t>(end - buf));
}
} // namespace

double EncodeDate(int Year, int Month, int Day)
{
    return static_cast<double>(DayNumber(Year, Month, Day) - EpochDays);
}

double ComposeDateTime(double Date, double Time)
{
    return Date < 0 ? Date - Time : Date + Time;
}

double EncodeTime(int Hour, int Minute, int Second, int MilliSecond)
{
    return (((Hour * 60.0 + Minute) * 60.0 + Second) * 1000.0 + MilliSecond) / 86400000.0;
}

void DecodeDateTime(double DateTime, int& Year, int& Month, int& Day, int& Hour, int& Minute, int& Second,
                    int& MilliSecond)
{
    const TDateTimeParts p = DateTimeParts(DateTime, tuMillisecond);
    Year = p.Year;
    Month = p.Month;
    Day = p.Day;
    Hour = p.Hour;
    Minute = p.Minute;
    Second = p.Second;
    MilliSecond = p.Microsecond / 1000;
}

namespace {

struct DecodedDateTime {
    int y, mo, d, h, mi, s, ms, weekday;
};

DecodedDateTime Decode(double DateTime)
{
    // The weekday is the shown day's, after a rounding carried into the next.
    const TDateTimeParts p = DateTimeParts(DateTime, tuMillisecond);
    return {p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Microsecond / 1000, p.Weekday};
}

// A pattern read once into literal text and fields, so that formatting a value is a
// walk over a few parts.
struct PatternPart {
    enum Kind : std::uint8_t { Text, Year, YearOfCentury, Month, Day, Hour, Minute, Second, Milli, Name };
    Kind What = Text;
    std::uint8_t Width = 0;  // fewest digits of a number
    const char* const* Names = nullptr; // month or day names (a Name part)
    bool OfMonth = false;    // Names are indexed by month, else by weekday
    std::string Literal;     // Text
};

struct CompiledPattern {
    std::string Pattern, DateSeparator, TimeSeparator;
    std::vector<PatternPart> Parts;
};

CompiledPattern Compile(const std::string& Pattern, const TFormatSettings& Settings)
{
    CompiledPattern c{Pattern, Settings.DateSeparator, Settings.TimeSeparator, {}};
    auto literal = [&c](std::string_view text) {
        if (c.Parts.empty() || c.Parts.back().What != PatternPart::Text)
            c.Parts.emplace_back();
        c.Parts.back().Literal += text;
    };
    auto field = [&c](PatternPart::Kind what, int width) {
        PatternPart part;
        part.What = what;
        part.Width = static_cast<std::uint8_t>(width);
        c.Parts.push_back(std::move(part));
    };
    auto names = [&c](const char* const* list, bool ofMonth) {
        PatternPart part;
        part.What = PatternPart::Name;
        part.Names = list;
        part.OfMonth = ofMonth;
        c.Parts.push_back(std::move(part));
    };
    const std::string& p = Pattern;
    size_t i = 0;
    auto run = [&](char ch) {
        size_t n = 0;
        while (i + n < p.size() && (p[i + n] == ch || p[i + n] == ch - 32 || p[i + n] == ch + 32))
            ++n;
        return n;
    };
    bool lastWasHour = false;
    while (i < p.size()) {
        char ch = p[i];
        char lc = (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
        if (ch == '"' || ch == '\'') {
            size_t j = p.find(ch, i + 1);
            if (j == std::string::npos)
                j = p.size();
            literal(std::string_view(p).substr(i + 1, j - i - 1));
            i = j + 1;
            continue;
        }
        if (ch == '/') { literal(Settings.DateSeparator); ++i; continue; }
        if (ch == ':') { literal(Settings.TimeSeparator); ++i; continue; }
        size_t n = 0;
        switch (lc) {
        case 'y':
            n = run('y');
            field(n <= 2 ? PatternPart::YearOfCentury : PatternPart::Year, n <= 2 ? 2 : 4);
            break;
        case 'm':
            n = run('m');
            if (lastWasHour && n <= 2)
                field(PatternPart::Minute, n == 1 ? 0 : 2);
            else if (n <= 2)
                field(PatternPart::Month, n == 1 ? 0 : 2);
            else
                names(n == 3 ? ShortMonthNames : LongMonthNames, true);
            break;
        case 'd':
            n = run('d');
            if (n <= 2)
                field(PatternPart::Day, n == 1 ? 0 : 2);
            else
                names(n == 3 ? ShortDayNames : LongDayNames, false);
            break;
        case 'h':
            n = run('h');
            field(PatternPart::Hour, n == 1 ? 0 : 2);
            break;
        case 'n':
            n = run('n');
            field(PatternPart::Minute, n == 1 ? 0 : 2);
            break;
        case 's':
            n = run('s');
            field(PatternPart::Second, n == 1 ? 0 : 2);
            break;
        case 'z':
            n = run('z');
            field(PatternPart::Milli, n == 1 ? 0 : 3);
            break;
        default:
            literal(std::string_view(&ch, 1));
            n = 1;
            break;
        }
        if (lc == 'h')
            lastWasHour = true;
        else if (lc != ' ' && lc != ':' && lc != 'm')
            lastWasHour = false;
        i += n;
    }
    return c;
}

// The compiled form of Pattern under Settings' separators, from a few kept ones.
const CompiledPattern& CompiledFor(const std::string& Pattern, const TFormatSettings& Settings)
{
    thread_local std::vector<CompiledPattern> kept;
    thread_local size_t next = 0;
    for (const CompiledPattern& c : kept)
        if (c.Pattern == Pattern && c.DateSeparator == Settings.DateSeparator
            && c.TimeSeparator == Settings.TimeSeparator)
            return c;
    constexpr size_t Keep = 4;
    if (kept.capacity() < Keep)
        kept.reserve(Keep); // what was handed out stays where it is
    if (kept.size() < Keep) {
        kept.push_back(Compile(Pattern, Settings));
        return kept.back();
    }
    CompiledPattern& slot = kept[next];
    next = (next + 1) % Keep;
    slot = Compile(Pattern, Settings);
    return slot;
}

// Appends the value formatted by Pattern to out.
void AppendFormatted(TextBuffer& out, const std::string& Pattern, const DecodedDateTime& t,
                     const TFormatSettings& Settings)
{
    for (const PatternPart& part : CompiledFor(Pattern, Settings).Parts) {
        switch (part.What) {
        case PatternPart::Text: out.Put(part.Literal); break;
        case PatternPart::Year: AppendPadded(out, t.y, part.Width); break;
        case PatternPart::YearOfCentury: AppendPadded(out, t.y % 100, part.Width); break;
        case PatternPart::Month: AppendPadded(out, t.mo, part.Width); break;
        case PatternPart::Day: AppendPadded(out, t.d, part.Width); break;
        case PatternPart::Hour: AppendPadded(out, t.h, part.Width); break;
        case PatternPart::Minute: AppendPadded(out, t.mi, part.Width); break;
        case PatternPart::Second: AppendPadded(out, t.s, part.Width); break;
        case PatternPart::Milli: AppendPadded(out, t.ms, part.Width); break;
        case PatternPart::Name: out.Put(std::string_view(part.Names[part.OfMonth ? t.mo - 1 : t.weekday])); break;
        }
    }
}

} // namespace

std::string FormatDateTime(const std::string& Pattern, double DateTime, const TFormatSettings& Settings)
{
    std::string text;
    TextBuffer out(text);
    AppendFormatted(out, Pattern, Decode(DateTime), Settings);
    out.Flush();
    return text;
}

std::string DateToStr(double DateTime, const TFormatSettings& Settings)
{
    return FormatDateTime(Settings.ShortDateFormat, DateTime, Settings);
}

std::string TimeToStr(double DateTime, const TFormatSettings& Settings)
{
    return FormatDateTime(Settings.LongTimeFormat, DateTime, Settings);
}

std::string DateTimeToStr(double DateTime, const TFormatSettings& Settings)
{
    const DecodedDateTime t = Decode(DateTime);
    std::string text;
    TextBuffer out(text);
    AppendFormatted(out, Settings.ShortDateFormat, t, Settings);
    if (DateTime != std::trunc(DateTime)) {
        out.Put(' ');
        AppendFormatted(out, Settings.LongTimeFormat, t, Settings);
    }
    out.Flush();
    return text;
}

bool TryStrToFloat(const std::string& Text, double& Value, const TFormatSettings& Settings)
{
    size_t b = 0, e = Text.size();
    while (b < e && (Text[b] == ' ' || Text[b] == '\t'))
        ++b;
    while (e > b && (Text[e - 1] == ' ' || Text[e - 1] == '\t'))
        --e;
    if (b == e)
        return false;
    std::string t = Text.substr(b, e - b);
    if (!Settings.DecimalSeparator.empty() && Settings.DecimalSeparator != ".") {
        size_t pos = t.find(Settings.DecimalSeparator);
        if (pos != std::string::npos)
            t.replace(pos, Settings.DecimalSeparator.size(), ".");
    }
    for (char c : t) {
        bool ok = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
        if (!ok)
            return false;
    }
    char* end = nullptr;
    double v = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size())
        return false;
    Value = v;
    return true;
}
