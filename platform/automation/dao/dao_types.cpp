#include "platform/automation/dao/dao_types.h"

#include "framework/exceptions.h"
#include "framework/format_settings.h"
#include "framework/value_contract.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

namespace {

std::string Upper(std::string S)
{
    for (char& c : S)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return S;
}

std::string_view TrimView(std::string_view S)
{
    std::size_t b = 0, e = S.size();
    while (b < e && (S[b] == ' ' || S[b] == '\t'))
        ++b;
    while (e > b && (S[e - 1] == ' ' || S[e - 1] == '\t'))
        --e;
    return S.substr(b, e - b);
}

std::string Trim(std::string_view S)
{
    return std::string(TrimView(S));
}

void RemoveAll(std::string& S, const std::string& Part)
{
    if (Part.empty())
        return;
    for (std::size_t p; (p = S.find(Part)) != std::string::npos;)
        S.erase(p, Part.size());
}

std::size_t Utf8Length(const std::string& S)
{
    std::size_t n = 0;
    for (unsigned char c : S)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

[[noreturn]] void ConversionError(const DaoFieldDef& Field, const std::string& Table, const std::string& Text)
{
    std::string shown = Text.size() > 60 ? Text.substr(0, 60) + "..." : Text;
    throw Exception("Data type conversion error: field '" + Table + "." + Field.Name + "' (" + DaoTypeName(Field.Type)
                    + ") cannot take the value '" + shown + "'");
}

[[noreturn]] void Overflow(const DaoFieldDef& Field, const std::string& Table, const std::string& Text)
{
    throw Exception("Numeric field overflow: field '" + Table + "." + Field.Name + "' (" + DaoTypeName(Field.Type)
                    + ") cannot take the value '" + Text + "'");
}

// The text of a number with the current separators made plain: thousand separators
// removed, the decimal separator turned into '.'. Written into Out, whose storage is
// reused from value to value.
void PlainNumber(std::string_view S, bool Currency, std::string& Out)
{
    const TFormatSettings& fs = FormatSettings();
    const std::string_view currency = fs.CurrencyString;
    S = TrimView(S);
    Out.clear();
    if (Currency && !currency.empty()) {
        if (S.size() > currency.size() && S.ends_with(currency)) {
            S = TrimView(S.substr(0, S.size() - currency.size()));
        } else if (S.starts_with(currency)) {
            S = TrimView(S.substr(currency.size()));
        } else if (S.size() > 1 && (S[0] == '-' || S[0] == '+') && S.substr(1, currency.size()) == currency) {
            Out += S[0];
            S = TrimView(S.substr(1 + currency.size()));
        }
    }
    Out += S;
    if (fs.ThousandSeparator != fs.DecimalSeparator)
        RemoveAll(Out, fs.ThousandSeparator);
    if (fs.DecimalSeparator != "." && !fs.DecimalSeparator.empty()) {
        const std::size_t p = Out.find(fs.DecimalSeparator);
        if (p != std::string::npos && Out.find('.') != std::string::npos)
            Out.clear(); // both separators: not a number
        else if (p != std::string::npos)
            Out.replace(p, fs.DecimalSeparator.size(), ".");
    }
}

// The plain form of a number's text (PlainNumber without currency), in Scratch only
// when separators have to be removed or replaced.
std::string_view PlainView(std::string_view Text, std::string& Scratch)
{
    const TFormatSettings& fs = FormatSettings();
    const std::string_view t = TrimView(Text);
    const bool thousands = fs.ThousandSeparator != fs.DecimalSeparator && !fs.ThousandSeparator.empty()
        && t.find(fs.ThousandSeparator) != std::string_view::npos;
    const bool decimal = fs.DecimalSeparator != "." && !fs.DecimalSeparator.empty()
        && t.find(fs.DecimalSeparator) != std::string_view::npos;
    if (!thousands && !decimal)
        return t;
    PlainNumber(Text, false, Scratch);
    return Scratch;
}

bool HasExponent(std::string_view Plain)
{
    for (char c : Plain)
        if (c == 'e' || c == 'E')
            return true;
    return false;
}

// A plain decimal ("-1.5e3"); hexadecimal, "inf" and "nan" are not numbers here.
bool ParseReal(std::string_view Plain, double& Value)
{
    if (Plain.empty())
        return false;
    for (char c : Plain)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return false;
    const char* first = Plain.data();
    const char* last = first + Plain.size();
    if (*first == '+' && last - first > 1 && first[1] != '-' && first[1] != '+')
        ++first; // from_chars reads no plus sign
    double d = 0;
    const auto [ptr, ec] = std::from_chars(first, last, d);
    if (ec == std::errc() && ptr == last) {
        Value = d;
        return std::isfinite(d);
    }
    // What from_chars leaves (values out of its range) goes through the C library.
    const std::string text(Plain);
    char* end = nullptr;
    Value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(Value);
}

// An exact decimal scaled by 10^Decimals, rounded half to even; false when the text is
// not a plain decimal. Overflowed is set when the result does not fit 64 bits.
bool ParseScaled(std::string_view Plain, int Decimals, std::int64_t& Scaled, bool& Overflowed)
{
    Overflowed = false;
    std::size_t i = 0;
    bool negative = false;
    if (i < Plain.size() && (Plain[i] == '-' || Plain[i] == '+'))
        negative = Plain[i++] == '-';
    unsigned __int128 value = 0;
    int decimals = 0;
    bool digits = false, point = false;
    int roundDigit = -1;
    bool sticky = false;
    for (; i < Plain.size(); ++i) {
        const char c = Plain[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        digits = true;
        if (point && decimals >= Decimals) {
            if (roundDigit < 0)
                roundDigit = c - '0';
            else if (c != '0')
                sticky = true;
            continue;
        }
        if (value < (static_cast<unsigned __int128>(1) << 100))
            value = value * 10 + static_cast<unsigned>(c - '0');
        else
            Overflowed = true;
        if (point)
            ++decimals;
    }
    if (!digits)
        return false;
    for (; decimals < Decimals; ++decimals)
        value *= 10;
    if (roundDigit > 5 || (roundDigit == 5 && (sticky || (value & 1))))
        ++value;
    const unsigned __int128 limit = static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    if (Overflowed || value > limit) {
        Overflowed = true;
        return true;
    }
    Scaled = negative ? static_cast<std::int64_t>(-static_cast<__int128>(value)) : static_cast<std::int64_t>(value);
    return true;
}

bool ParseCurrency(const std::string& Plain, std::int64_t& Scaled, bool& Overflowed)
{
    return ParseScaled(Plain, 4, Scaled, Overflowed);
}

std::string CurrencyText(std::int64_t Scaled)
{
    const bool negative = Scaled < 0;
    const unsigned long long magnitude = negative ? 0ull - static_cast<unsigned long long>(Scaled)
                                                  : static_cast<unsigned long long>(Scaled);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%llu.%04llu", negative ? "-" : "", magnitude / 10000, magnitude % 10000);
    return buf;
}

// The double of an amount scaled by 10000, when the shortest digits of that double are
// the amount's own.
bool AmountAsDouble(std::int64_t Scaled, double& Value)
{
    Value = static_cast<double>(Scaled / 10000) + static_cast<double>(Scaled % 10000) / 10000.0;
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, Value, std::chars_format::fixed);
    std::int64_t back = 0;
    bool over = false;
    return r.ec == std::errc() && ParseScaled(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)), 4, back, over) &&
           !over && back == Scaled;
}

bool DaysInRange(int Y, int M, int D)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (Y < 1 || Y > 9999 || M < 1 || M > 12 || D < 1)
        return false;
    const bool leap = (Y % 4 == 0 && Y % 100 != 0) || Y % 400 == 0;
    return D <= days[M - 1] + (M == 2 && leap ? 1 : 0);
}

bool ReadInt(std::string_view S, int& Value)
{
    if (S.empty() || S.size() > 4)
        return false;
    Value = 0;
    for (char c : S) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        Value = Value * 10 + (c - '0');
    }
    return true;
}

// The parts of S between the separators: the first four are kept, all are counted.
struct Parts {
    std::string_view Part[4];
    std::size_t Count = 0;
};

Parts Split(std::string_view S, std::string_view Sep)
{
    Parts parts;
    auto add = [&parts](std::string_view Part) {
        if (parts.Count < 4)
            parts.Part[parts.Count] = Part;
        ++parts.Count;
    };
    if (Sep.empty()) {
        add(S);
        return parts;
    }
    if (Sep.size() == 1) {
        std::size_t start = 0;
        for (std::size_t i = 0; i < S.size(); ++i)
            if (S[i] == Sep[0]) {
                add(S.substr(start, i - start));
                start = i + 1;
            }
        add(S.substr(start));
        return parts;
    }
    std::size_t start = 0;
    for (std::size_t p; (p = S.find(Sep, start)) != std::string_view::npos; start = p + Sep.size())
        add(S.substr(start, p - start));
    add(S.substr(start));
    return parts;
}

// "h:nn[:ss[.fff]]" with an optional AM/PM.
bool ParseTime(std::string_view S, int& H, int& N, int& Sec, int& Us)
{
    Us = 0;
    S = TrimView(S);
    bool pm = false, am = false;
    if (S.size() > 2 && std::toupper(static_cast<unsigned char>(S.back())) == 'M') {
        const int marker = std::toupper(static_cast<unsigned char>(S[S.size() - 2]));
        if (marker == 'A' || marker == 'P') {
            pm = marker == 'P';
            am = !pm;
            S = TrimView(S.substr(0, S.size() - 2));
        }
    }
    const std::string& sep = FormatSettings().TimeSeparator;
    Parts parts = Split(S, sep.empty() ? std::string_view(":") : std::string_view(sep));
    if (parts.Count < 2 && sep != ":")
        parts = Split(S, ":");
    if (parts.Count < 2 || parts.Count > 3)
        return false;
    Sec = 0;
    std::string_view seconds = parts.Count == 3 ? parts.Part[2] : std::string_view();
    if (auto dot = seconds.find_first_of(".,"); dot != std::string_view::npos) {
        // Fractional seconds: microseconds, rounded half up; a rounding up to the next
        // second is carried when the stamp is made.
        const std::string_view fraction = seconds.substr(dot + 1);
        seconds = seconds.substr(0, dot);
        if (fraction.empty())
            return false;
        int digits = 0, next = 0;
        for (char c : fraction) {
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return false;
            if (digits < 6)
                Us = Us * 10 + (c - '0');
            else if (digits == 6)
                next = c - '0';
            ++digits;
        }
        for (; digits < 6; ++digits)
            Us *= 10;
        Us += next >= 5;
    }
    if (!ReadInt(parts.Part[0], H) || !ReadInt(parts.Part[1], N) || (parts.Count == 3 && !ReadInt(seconds, Sec)))
        return false;
    if (am || pm) {
        if (H < 1 || H > 12)
            return false;
        H = (H % 12) + (pm ? 12 : 0);
    }
    return H < 24 && N < 60 && Sec < 60;
}

// The order of day, month and year in the short date format ("dmy", "mdy", "ymd").
std::string_view DateOrder(char (&Order)[3])
{
    std::size_t n = 0;
    for (char c : FormatSettings().ShortDateFormat) {
        const char l = c == 'D' || c == 'M' || c == 'Y' ? static_cast<char>(c + 32) : c;
        if ((l == 'd' || l == 'm' || l == 'y') && std::string_view(Order, n).find(l) == std::string_view::npos) {
            if (n == 3)
                break;
            Order[n++] = l;
        }
    }
    return n == 3 ? std::string_view(Order, 3) : std::string_view("mdy");
}

// 'YYYY-MM-DD HH:MM:SS[.fff]' into out (one call per date value: written digit by digit).
void StampText(std::string& Out, int Y, int M, int D, int H, int N, int S, int Us)
{
    // Through one count of microseconds, so that a rounded fraction carries into the
    // second, minute, hour and day.
    const std::int64_t day = DayNumber(Y, M, D) - DayNumber(1899, 12, 30);
    AssignIsoDateTimeText(Out, PartsOfMicroseconds(day * MicrosecondsPerDay
                                                   + ((H * 60LL + N) * 60LL + S) * 1000000LL + Us));
}

// Out is written only when the text is a date.
bool ParseDate(std::string_view Text, std::string& Out)
{
    const std::string_view s = TrimView(Text);
    std::string_view datePart = s, timePart;
    if (auto sp = s.find(' '); sp != std::string_view::npos) {
        datePart = s.substr(0, sp);
        timePart = s.substr(sp + 1);
    }
    int y = 1899, m = 12, d = 30, h = 0, n = 0, sec = 0, us = 0;
    const std::string& timeSep = FormatSettings().TimeSeparator;
    const bool timeOnly = datePart.find(':') != std::string_view::npos
        || (!timeSep.empty() && datePart.find(timeSep) != std::string_view::npos);
    if (timeOnly) {
        // A time alone: "14:30", "2:30 PM".
        if (!ParseTime(s, h, n, sec, us))
            return false;
    } else {
        Parts parts;
        char orderBuffer[3];
        std::string_view order;
        if (datePart.size() >= 8 && datePart[4] == '-') {
            parts = Split(datePart, "-");
            order = "ymd";
        } else {
            const std::string& sep = FormatSettings().DateSeparator;
            parts = Split(datePart, sep.empty() ? std::string_view("/") : std::string_view(sep));
            order = DateOrder(orderBuffer);
        }
        if (parts.Count != 3)
            return false;
        int v[3];
        for (int i = 0; i < 3; ++i)
            if (!ReadInt(parts.Part[i], v[i]))
                return false;
        for (int i = 0; i < 3; ++i) {
            if (order[static_cast<std::size_t>(i)] == 'd')
                d = v[i];
            else if (order[static_cast<std::size_t>(i)] == 'm')
                m = v[i];
            else {
                y = v[i];
                if (parts.Part[i].size() <= 2)
                    y += y < 30 ? 2000 : 1900;
            }
        }
        if (!DaysInRange(y, m, d))
            return false;
        if (!timePart.empty() && !ParseTime(timePart, h, n, sec, us))
            return false;
    }
    StampText(Out, y, m, d, h, n, sec, us);
    return true;
}

bool ParseGuid(const std::string& Text, std::string& Out)
{
    std::string hex;
    std::string s = Trim(Text);
    if (s.size() >= 2 && s.front() == '{' && s.back() == '}')
        s = s.substr(1, s.size() - 2);
    for (char c : s) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        else if (c != '-')
            return false;
    }
    if (hex.size() != 32)
        return false;
    Out = "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-"
        + hex.substr(20) + "}";
    return true;
}

} // namespace

bool IsDaoType(int Value)
{
    switch (Value) {
    case 1: case 3: case 4: case 5: case 7: case 8: case 9: case 10: case 11: case 12: case 15: case 16:
        return true;
    default:
        return false;
    }
}

const char* DaoTypeName(DaoType Type)
{
    switch (Type) {
    case DaoType::Boolean: return "Boolean";
    case DaoType::Integer: return "Integer";
    case DaoType::Long: return "Long";
    case DaoType::Currency: return "Currency";
    case DaoType::Double: return "Double";
    case DaoType::Date: return "Date";
    case DaoType::Binary: return "Binary";
    case DaoType::Text: return "Text";
    case DaoType::LongBinary: return "Long binary";
    case DaoType::Memo: return "Memo";
    case DaoType::Guid: return "GUID";
    case DaoType::BigInt: return "BigInt";
    }
    return "?";
}

std::string DaoCreateTableSql(const std::string& Table, const std::vector<DaoFieldDef>& Fields, DaoDialect Dialect)
{
    std::string sql = "CREATE TABLE " + QuoteIdentifier(Table) + " (";
    for (std::size_t i = 0; i < Fields.size(); ++i) {
        if (i)
            sql += ", ";
        sql += QuoteIdentifier(Fields[i].Name) + " " + DaoColumnType(Fields[i], Dialect);
        if (Fields[i].Required)
            sql += " NOT NULL";
    }
    return sql + ")";
}

std::string DaoColumnType(const DaoFieldDef& Field, DaoDialect Dialect)
{
    const bool pg = Dialect == DaoDialect::Postgres;
    switch (Field.Type) {
    case DaoType::Boolean: return pg ? "boolean" : "BOOLEAN";
    case DaoType::Integer: return pg ? "smallint" : "SMALLINT";
    case DaoType::Long: return pg ? "integer" : "INTEGER";
    case DaoType::BigInt: return pg ? "bigint" : "BIGINT";
    case DaoType::Currency: return pg ? "numeric(19,4)" : "NUMERIC(19,4)";
    case DaoType::Double: return pg ? "double precision" : "DOUBLE PRECISION";
    case DaoType::Date: return pg ? "timestamp" : "DATETIME";
    case DaoType::Binary:
        if (pg)
            return "bytea";
        return Field.Size > 0 ? "BINARY(" + std::to_string(Field.Size) + ")" : "BINARY";
    case DaoType::Text:
        if (Field.Size > 0 && Field.Size <= 255)
            return (pg ? "varchar(" : "VARCHAR(") + std::to_string(Field.Size) + ")";
        return pg ? "text" : "TEXT";
    case DaoType::LongBinary: return pg ? "bytea" : "BLOB";
    case DaoType::Memo: return pg ? "text" : "LONGTEXT";
    case DaoType::Guid: return pg ? "uuid" : "GUID";
    }
    return "TEXT";
}

void DaoTypeFromDeclared(const std::string& Declared, DaoDialect Dialect, DaoType& Type, int& Size)
{
    std::string d = Upper(Trim(Declared));
    Size = 0;
    if (auto p = d.find('('); p != std::string::npos) {
        Size = std::atoi(d.c_str() + p + 1);
        d = Trim(d.substr(0, p));
    }
    auto is = [&](std::initializer_list<const char*> names) {
        for (const char* n : names)
            if (d == n)
                return true;
        return false;
    };
    if (is({"BOOLEAN", "BOOL"}))
        Type = DaoType::Boolean;
    else if (is({"SMALLINT", "INT2"}))
        Type = DaoType::Integer;
    else if (is({"INTEGER", "INT", "INT4", "MEDIUMINT"}))
        Type = DaoType::Long;
    else if (is({"BIGINT", "INT8"}) || (Dialect == DaoDialect::Sqlite && d.find("INT") != std::string::npos))
        Type = DaoType::BigInt;
    else if (is({"NUMERIC", "DECIMAL", "MONEY", "CURRENCY"}))
        Type = DaoType::Currency;
    else if (is({"DOUBLE PRECISION", "DOUBLE", "FLOAT", "FLOAT8", "FLOAT4", "REAL"}))
        Type = DaoType::Double;
    else if (is({"DATETIME", "DATE", "TIMESTAMP", "TIMESTAMP WITHOUT TIME ZONE", "TIME", "TIME WITHOUT TIME ZONE"}))
        Type = DaoType::Date;
    else if (is({"BINARY", "VARBINARY"}))
        Type = DaoType::Binary;
    else if (is({"BLOB", "BYTEA"}))
        Type = DaoType::LongBinary;
    else if (is({"LONGTEXT", "MEMO"}))
        Type = DaoType::Memo;
    else if (is({"GUID", "UUID"}))
        Type = DaoType::Guid;
    else if (Dialect == DaoDialect::Sqlite && d.empty())
        Type = DaoType::LongBinary; // no declared type: values are kept as they come
    else
        Type = DaoType::Text;
    if (Type != DaoType::Text && Type != DaoType::Binary)
        Size = 0;
}

void ConvertDaoValue(const DaoFieldDef& Field, const std::string& Table, const AutomationValue& Value, DaoValue& Out)
{
    using K = AutomationValue::Kind;
    const K kind = Value.GetKind();
    if (kind == K::Null || kind == K::Empty) {
        if (Field.Required)
            throw Exception("The field '" + Table + "." + Field.Name
                            + "' cannot contain a Null value because the Required property for this field is set "
                              "to True. Enter a value in this field.");
        Out.Kind = DaoValue::Null;
        Out.Str.clear();
        return;
    }
    if (kind == K::Object || kind == K::Array)
        throw Exception(std::string("Data type conversion error: field '") + Table + "." + Field.Name
                        + "' cannot take a value of type " + AutomationValue::KindName(kind));
    const bool number = Value.IsNumeric();
    // A number going into a numeric or date field that holds it is taken as it is;
    // other numbers, and a value refused, are read from their text below.
    if (number) {
        switch (Field.Type) {
        case DaoType::Double:
            Out.Kind = DaoValue::Real;
            Out.Dbl = Value.ToReal();
            return;
        case DaoType::Integer:
        case DaoType::Long:
        case DaoType::BigInt:
            if (kind == K::Integer) {
                const std::int64_t v = Value.ToInteger();
                if (Field.Type != DaoType::Integer || (v >= -32768 && v <= 32767)) {
                    Out.Kind = DaoValue::Integer;
                    Out.Int = v;
                    return;
                }
            }
            break;
        case DaoType::Date: {
            // Days since 1899-12-30, the fraction being the time of day.
            const double days = Value.ToReal();
            if (days > -693594.0 && days < 2958466.0) { // 0001-01-01 .. 9999-12-31
                AssignIsoDateTimeText(Out.Str, DateTimeParts(days));
                Out.Kind = DaoValue::Text;
                return;
            }
            break;
        }
        default:
            break;
        }
    }
    // Texts and bytes are read where they are; a number is read from its text.
    std::string numberText;
    if (kind != K::String && kind != K::Bytes)
        numberText = Value.ToString();
    const std::string& text = kind == K::String || kind == K::Bytes ? Value.StringRef() : numberText;
    // Where a number's text is made plain; kept from value to value.
    static thread_local std::string plain;

    switch (Field.Type) {
    case DaoType::Binary:
    case DaoType::LongBinary:
        if (Field.Type == DaoType::Binary && Field.Size > 0 && text.size() > static_cast<std::size_t>(Field.Size))
            throw Exception("The field '" + Table + "." + Field.Name
                            + "' is too small to accept the amount of data you attempted to add");
        Out.Kind = DaoValue::Blob;
        Out.Str.assign(text);
        return;
    case DaoType::Text:
        if (Field.Size > 0 && Field.Size <= 255 && Utf8Length(text) > static_cast<std::size_t>(Field.Size))
            throw Exception("The field '" + Table + "." + Field.Name + "' (" + std::to_string(Field.Size)
                            + " characters) is too small to accept the amount of data you attempted to add");
        [[fallthrough]];
    case DaoType::Memo:
        Out.Kind = DaoValue::Text;
        Out.Str.assign(text);
        return;
    case DaoType::Boolean: {
        const std::string up = Upper(Trim(text));
        double d = 0;
        std::int64_t result = 0;
        if (up == "TRUE" || up == "YES" || up == "ON")
            result = 1;
        else if (up == "FALSE" || up == "NO" || up == "OFF")
            result = 0;
        else if (number ? (d = Value.ToReal(), true) : ParseReal(PlainView(text, plain), d))
            result = d != 0 ? 1 : 0;
        else
            ConversionError(Field, Table, text);
        Out.Kind = DaoValue::Integer;
        Out.Int = result;
        return;
    }
    case DaoType::Integer:
    case DaoType::Long:
    case DaoType::BigInt: {
        double d = 0;
        std::int64_t exact = 0;
        bool haveExact = false;
        if (kind == K::Integer || kind == K::Boolean) {
            exact = Value.ToInteger();
            haveExact = true;
        } else if (number) {
            d = Value.ToReal();
        } else {
            const std::string_view plainText = PlainView(text, plain);
            // Whole numbers are read exactly (64-bit values do not fit a double).
            bool over = false;
            if (!HasExponent(plainText) && ParseScaled(plainText, 0, exact, over)) {
                if (over)
                    Overflow(Field, Table, text);
                haveExact = true;
            } else if (!ParseReal(plainText, d)) {
                ConversionError(Field, Table, text);
            }
        }
        if (!haveExact) {
            d = std::nearbyint(d);
            if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
                Overflow(Field, Table, text);
            exact = static_cast<std::int64_t>(d);
        }
        const std::int64_t lo = Field.Type == DaoType::Integer ? -32768 : Field.Type == DaoType::Long ? INT32_MIN : INT64_MIN;
        const std::int64_t hi = Field.Type == DaoType::Integer ? 32767 : Field.Type == DaoType::Long ? INT32_MAX : INT64_MAX;
        if (exact < lo || exact > hi)
            Overflow(Field, Table, text);
        Out.Kind = DaoValue::Integer;
        Out.Int = exact;
        return;
    }
    case DaoType::Currency: {
        std::int64_t scaled = 0;
        bool over = false;
        if (number)
            plain = text;
        else
            PlainNumber(text, true, plain);
        if (number && HasExponent(plain)) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.4f", Value.ToReal());
            plain = buf;
        }
        if (!ParseCurrency(plain, scaled, over))
            ConversionError(Field, Table, text);
        if (over)
            Overflow(Field, Table, text);
        // An amount whose double gives back its four decimals goes as that double (a
        // number in SQLite, whose NUMERIC keeps 15 digits of a text); any other as its
        // exact text.
        Out.Str = CurrencyText(scaled);
        if (AmountAsDouble(scaled, Out.Dbl)) {
            Out.Kind = DaoValue::Real;
            Out.Str.clear();
        } else {
            Out.Kind = DaoValue::Text;
        }
        return;
    }
    case DaoType::Double: { // a number was taken above
        double d = 0;
        if (!ParseReal(PlainView(text, plain), d))
            ConversionError(Field, Table, text);
        Out.Kind = DaoValue::Real;
        Out.Dbl = d;
        return;
    }
    case DaoType::Date:
        if (number) {
            Overflow(Field, Table, text); // a number of days within the years was taken above
        } else if (!ParseDate(text, Out.Str)) {
            ConversionError(Field, Table, text);
        }
        Out.Kind = DaoValue::Text;
        return;
    case DaoType::Guid: {
        std::string guid;
        if (!ParseGuid(text, guid))
            ConversionError(Field, Table, text);
        Out.Kind = DaoValue::Text;
        Out.Str = std::move(guid);
        return;
    }
    }
    ConversionError(Field, Table, text);
}

DaoValue ConvertDaoValue(const DaoFieldDef& Field, const std::string& Table, const AutomationValue& Value)
{
    DaoValue out;
    ConvertDaoValue(Field, Table, Value, out);
    return out;
}

std::string QuoteIdentifier(const std::string& Name)
{
    if (Name.empty() || Name.find('\0') != std::string::npos)
        throw Exception("Invalid name: '" + Name + "' (a name is not empty and holds no NUL character)");
    std::string q = "\"";
    for (char c : Name) {
        if (c == '"')
            q += '"';
        q += c;
    }
    return q + "\"";
}
