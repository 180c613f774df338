#include "platform/automation/dao/dao_types.h"

#include "framework/exceptions.h"
#include "framework/format_settings.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

std::string Upper(std::string S)
{
    for (char& c : S)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return S;
}

std::string Trim(const std::string& S)
{
    std::size_t b = 0, e = S.size();
    while (b < e && (S[b] == ' ' || S[b] == '\t'))
        ++b;
    while (e > b && (S[e - 1] == ' ' || S[e - 1] == '\t'))
        --e;
    return S.substr(b, e - b);
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
// removed, the decimal separator turned into '.'.
std::string PlainNumber(std::string S, bool Currency)
{
    const TFormatSettings& fs = FormatSettings();
    S = Trim(S);
    if (Currency && !fs.CurrencyString.empty()) {
        if (S.size() > fs.CurrencyString.size() && S.compare(S.size() - fs.CurrencyString.size(),
                                                             fs.CurrencyString.size(), fs.CurrencyString) == 0)
            S = Trim(S.substr(0, S.size() - fs.CurrencyString.size()));
        else if (S.rfind(fs.CurrencyString, 0) == 0)
            S = Trim(S.substr(fs.CurrencyString.size()));
        else if (S.size() > 1 && (S[0] == '-' || S[0] == '+') && S.compare(1, fs.CurrencyString.size(), fs.CurrencyString) == 0)
            S = S.substr(0, 1) + Trim(S.substr(1 + fs.CurrencyString.size()));
    }
    if (fs.ThousandSeparator != fs.DecimalSeparator)
        RemoveAll(S, fs.ThousandSeparator);
    if (fs.DecimalSeparator != "." && !fs.DecimalSeparator.empty()) {
        if (S.find(fs.DecimalSeparator) != std::string::npos && S.find('.') != std::string::npos)
            return {}; // both separators: not a number
        if (auto p = S.find(fs.DecimalSeparator); p != std::string::npos)
            S.replace(p, fs.DecimalSeparator.size(), ".");
    }
    return S;
}

bool ParseReal(const std::string& Plain, double& Value)
{
    if (Plain.empty())
        return false;
    char* end = nullptr;
    Value = std::strtod(Plain.c_str(), &end);
    if (end != Plain.c_str() + Plain.size() || !std::isfinite(Value))
        return false;
    // strtod also reads hexadecimal, "inf" and "nan"; the engine reads decimals only.
    for (char c : Plain)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return false;
    return true;
}

// An exact decimal scaled by 10^Decimals, rounded half to even; false when the text is
// not a plain decimal. Overflowed is set when the result does not fit 64 bits.
bool ParseScaled(const std::string& Plain, int Decimals, std::int64_t& Scaled, bool& Overflowed)
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

bool DaysInRange(int Y, int M, int D)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (Y < 100 || Y > 9999 || M < 1 || M > 12 || D < 1)
        return false;
    const bool leap = (Y % 4 == 0 && Y % 100 != 0) || Y % 400 == 0;
    return D <= days[M - 1] + (M == 2 && leap ? 1 : 0);
}

bool ReadInt(const std::string& S, int& Value)
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

std::vector<std::string> Split(const std::string& S, const std::string& Sep)
{
    std::vector<std::string> parts;
    if (Sep.empty()) {
        parts.push_back(S);
        return parts;
    }
    std::size_t start = 0;
    for (std::size_t p; (p = S.find(Sep, start)) != std::string::npos; start = p + Sep.size())
        parts.push_back(S.substr(start, p - start));
    parts.push_back(S.substr(start));
    return parts;
}

// "h:nn[:ss]" with an optional AM/PM.
bool ParseTime(std::string S, int& H, int& N, int& Sec)
{
    S = Trim(S);
    bool pm = false, am = false;
    const std::string up = Upper(S);
    if (up.size() > 2 && (up.ends_with("AM") || up.ends_with("PM"))) {
        pm = up.ends_with("PM");
        am = !pm;
        S = Trim(S.substr(0, S.size() - 2));
    }
    const std::string& sep = FormatSettings().TimeSeparator;
    std::vector<std::string> parts = Split(S, sep.empty() ? ":" : sep);
    if (parts.size() < 2 && sep != ":")
        parts = Split(S, ":");
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    Sec = 0;
    if (!ReadInt(parts[0], H) || !ReadInt(parts[1], N) || (parts.size() == 3 && !ReadInt(parts[2], Sec)))
        return false;
    if (am || pm) {
        if (H < 1 || H > 12)
            return false;
        H = (H % 12) + (pm ? 12 : 0);
    }
    return H < 24 && N < 60 && Sec < 60;
}

// The order of day, month and year in the short date format ("dmy", "mdy", "ymd").
std::string DateOrder()
{
    std::string order;
    for (char c : FormatSettings().ShortDateFormat) {
        const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if ((l == 'd' || l == 'm' || l == 'y') && order.find(l) == std::string::npos)
            order += l;
    }
    return order.size() == 3 ? order : "mdy";
}

// 'YYYY-MM-DD HH:MM:SS' (one call per date value: written digit by digit).
std::string StampText(int Y, int M, int D, int H, int N, int S)
{
    std::string out = "0000-00-00 00:00:00";
    auto two = [&out](std::size_t At, int V) {
        out[At] = static_cast<char>('0' + V / 10 % 10);
        out[At + 1] = static_cast<char>('0' + V % 10);
    };
    two(0, Y / 100);
    two(2, Y % 100);
    two(5, M);
    two(8, D);
    two(11, H);
    two(14, N);
    two(17, S);
    return out;
}

bool ParseDate(const std::string& Text, std::string& Out)
{
    std::string s = Trim(Text);
    std::string datePart = s, timePart;
    if (auto sp = s.find(' '); sp != std::string::npos) {
        datePart = s.substr(0, sp);
        timePart = s.substr(sp + 1);
    }
    int y = 1899, m = 12, d = 30, h = 0, n = 0, sec = 0;
    const std::string& timeSep = FormatSettings().TimeSeparator;
    const bool timeOnly = datePart.find(':') != std::string::npos
        || (!timeSep.empty() && datePart.find(timeSep) != std::string::npos);
    if (timeOnly) {
        // A time alone: "14:30", "2:30 PM".
        if (!ParseTime(s, h, n, sec))
            return false;
    } else {
        std::vector<std::string> parts;
        std::string order;
        if (datePart.size() >= 8 && datePart[4] == '-') {
            parts = Split(datePart, "-");
            order = "ymd";
        } else {
            const std::string& sep = FormatSettings().DateSeparator;
            parts = Split(datePart, sep.empty() ? "/" : sep);
            order = DateOrder();
        }
        if (parts.size() != 3)
            return false;
        int v[3];
        for (int i = 0; i < 3; ++i)
            if (!ReadInt(parts[static_cast<std::size_t>(i)], v[i]))
                return false;
        for (int i = 0; i < 3; ++i) {
            if (order[static_cast<std::size_t>(i)] == 'd')
                d = v[i];
            else if (order[static_cast<std::size_t>(i)] == 'm')
                m = v[i];
            else {
                y = v[i];
                if (parts[static_cast<std::size_t>(i)].size() <= 2)
                    y += y < 30 ? 2000 : 1900;
            }
        }
        if (!DaysInRange(y, m, d))
            return false;
        if (!timePart.empty() && !ParseTime(timePart, h, n, sec))
            return false;
    }
    Out = StampText(y, m, d, h, n, sec);
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

DaoValue ConvertDaoValue(const DaoFieldDef& Field, const std::string& Table, const AutomationValue& Value)
{
    using K = AutomationValue::Kind;
    DaoValue out;
    const K kind = Value.GetKind();
    if (kind == K::Null || kind == K::Empty) {
        if (Field.Required)
            throw Exception("The field '" + Table + "." + Field.Name
                            + "' cannot contain a Null value because the Required property for this field is set "
                              "to True. Enter a value in this field.");
        return out;
    }
    if (kind == K::Object || kind == K::Array)
        throw Exception(std::string("Data type conversion error: field '") + Table + "." + Field.Name
                        + "' cannot take a value of type " + AutomationValue::KindName(kind));
    const bool number = Value.IsNumeric();
    std::string text = kind == K::Bytes ? Value.Bytes() : Value.ToString();

    switch (Field.Type) {
    case DaoType::Binary:
    case DaoType::LongBinary:
        if (Field.Type == DaoType::Binary && Field.Size > 0 && text.size() > static_cast<std::size_t>(Field.Size))
            throw Exception("The field '" + Table + "." + Field.Name
                            + "' is too small to accept the amount of data you attempted to add");
        out.Kind = DaoValue::Blob;
        out.Str = std::move(text);
        return out;
    case DaoType::Text:
        if (Field.Size > 0 && Field.Size <= 255 && Utf8Length(text) > static_cast<std::size_t>(Field.Size))
            throw Exception("The field '" + Table + "." + Field.Name + "' (" + std::to_string(Field.Size)
                            + " characters) is too small to accept the amount of data you attempted to add");
        [[fallthrough]];
    case DaoType::Memo:
        out.Kind = DaoValue::Text;
        out.Str = std::move(text);
        return out;
    case DaoType::Boolean: {
        const std::string up = Upper(Trim(text));
        double d = 0;
        if (up == "TRUE" || up == "YES" || up == "ON")
            out.Int = 1;
        else if (up == "FALSE" || up == "NO" || up == "OFF")
            out.Int = 0;
        else if (number ? (d = Value.ToReal(), true) : ParseReal(PlainNumber(text, false), d))
            out.Int = d != 0 ? 1 : 0;
        else
            ConversionError(Field, Table, text);
        out.Kind = DaoValue::Integer;
        return out;
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
            const std::string plain = PlainNumber(text, false);
            // Whole numbers are read exactly (64-bit values do not fit a double).
            bool over = false;
            if (plain.find_first_of("eE") == std::string::npos && ParseScaled(plain, 0, exact, over)) {
                if (over)
                    Overflow(Field, Table, text);
                haveExact = true;
            } else if (!ParseReal(plain, d)) {
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
        out.Kind = DaoValue::Integer;
        out.Int = exact;
        return out;
    }
    case DaoType::Currency: {
        std::int64_t scaled = 0;
        bool over = false;
        std::string plain = number ? text : PlainNumber(text, true);
        if (number && plain.find_first_of("eE") != std::string::npos) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.4f", Value.ToReal());
            plain = buf;
        }
        if (!ParseCurrency(plain, scaled, over))
            ConversionError(Field, Table, text);
        if (over)
            Overflow(Field, Table, text);
        out.Kind = DaoValue::Text;
        out.Str = CurrencyText(scaled);
        return out;
    }
    case DaoType::Double: {
        double d = 0;
        if (number)
            d = Value.ToReal();
        else if (!ParseReal(PlainNumber(text, false), d))
            ConversionError(Field, Table, text);
        out.Kind = DaoValue::Real;
        out.Dbl = d;
        return out;
    }
    case DaoType::Date:
        out.Kind = DaoValue::Text;
        if (number) {
            // A number is days since 1899-12-30, the fraction being the time of day.
            const double days = Value.ToReal();
            if (!(days > -657435.0 && days < 2958466.0))
                Overflow(Field, Table, text);
            int y, m, d, h, n, sec, ms;
            DecodeDateTime(days, y, m, d, h, n, sec, ms);
            out.Str = StampText(y, m, d, h, n, sec);
            return out;
        }
        if (!ParseDate(text, out.Str))
            ConversionError(Field, Table, text);
        return out;
    case DaoType::Guid:
        out.Kind = DaoValue::Text;
        if (!ParseGuid(text, out.Str))
            ConversionError(Field, Table, text);
        return out;
    }
    ConversionError(Field, Table, text);
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
