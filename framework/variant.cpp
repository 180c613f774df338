#include "variant.h"

#include "exceptions.h"
#include "format_settings.h"

#include <charconv>
#include <cmath>

Variant Variant::Null()
{
    Variant v;
    v.FType = varNull;
    return v;
}

namespace {
// An amount scaled by 10000, refused when it is not finite or lies outside the 64-bit
// range. The amount is read from the shortest decimal that gives back the double, so
// that -999999999999.9999 is that amount and not the product of a multiplication.
std::int64_t ScaleAmount(double Amount)
{
    if (!std::isfinite(Amount) || std::fabs(Amount) >= 922337203685477.5808)
        throw EConvertError(FloatToStr(Amount) + " is out of the range of a currency value");
    if (std::fabs(Amount) < 0.00005)
        return 0;
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, Amount, std::chars_format::fixed);
    std::int64_t scaled = 0;
    int decimals = -1;
    bool roundUp = false;
    for (const char* p = buf; p != r.ptr; ++p) {
        if (*p == '.') {
            decimals = 0;
        } else if (*p >= '0' && *p <= '9') {
            if (decimals < 4) {
                scaled = scaled * 10 + (*p - '0');
                if (decimals >= 0)
                    ++decimals;
            } else {
                roundUp = *p >= '5';
                break;
            }
        }
    }
    for (int d = decimals < 0 ? 0 : decimals; d < 4; ++d)
        scaled *= 10;
    if (roundUp)
        ++scaled;
    return Amount < 0 ? -scaled : scaled;
}
} // namespace

Variant Variant::FromCurrency(double Amount)
{
    return FromScaledCurrency(ScaleAmount(Amount));
}

Variant Variant::FromScaledCurrency(std::int64_t Scaled)
{
    Variant v;
    v.FType = varCurrency;
    v.FData = Scaled;
    return v;
}

Variant Variant::FromDateTime(double DateTime)
{
    Variant v;
    v.FType = varDate;
    v.FData = DateTime;
    return v;
}

namespace {
[[noreturn]] void CastError(TVarType from, const char* to)
{
    static const char* const names[] = {"Empty", "Null", "Integer", "Double", "Currency", "Date", "Boolean", "String"};
    throw EConvertError(std::string("Could not convert variant of type (") + names[from] + ") into type (" + to + ")");
}
} // namespace

std::int64_t Variant::AsInteger() const
{
    switch (FType) {
    case varEmpty:
    case varNull:
        return 0;
    case varInteger:
    case varBoolean:
        return std::get<std::int64_t>(FData);
    case varDouble:
    case varDate: {
        double d = std::get<double>(FData);
        if (!std::isfinite(d) || d >= 9223372036854775808.0 || d < -9223372036854775808.0)
            CastError(FType, "Integer");
        return static_cast<std::int64_t>(std::llround(d));
    }
    case varCurrency: {
        std::int64_t s = std::get<std::int64_t>(FData);
        return (s >= 0 ? s + 5000 : s - 5000) / 10000;
    }
    case varString: {
        // Digits are read as an integer, so that every 64-bit value keeps its digits.
        const std::string& s = std::get<std::string>(FData);
        std::size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
        std::int64_t i = 0;
        if (b != std::string::npos) {
            const char* first = s.data() + b + (s[b] == '+' ? 1 : 0);
            const auto r = std::from_chars(first, s.data() + e + 1, i);
            if (r.ec == std::errc() && r.ptr == s.data() + e + 1)
                return i;
        }
        double d;
        if (!TryStrToFloat(s, d) || d != std::trunc(d) || std::fabs(d) >= 9223372036854775808.0)
            throw EConvertError("'" + s + "' is not a valid integer value");
        return static_cast<std::int64_t>(d);
    }
    }
    CastError(FType, "Integer");
}

double Variant::AsDouble() const
{
    switch (FType) {
    case varEmpty:
    case varNull:
        return 0;
    case varInteger:
    case varBoolean:
        return static_cast<double>(std::get<std::int64_t>(FData));
    case varDouble:
    case varDate:
        return std::get<double>(FData);
    case varCurrency: {
        // Whole units and the fraction apart: the scaled amount itself may have more
        // digits than a double holds.
        const std::int64_t s = std::get<std::int64_t>(FData);
        return static_cast<double>(s / 10000) + static_cast<double>(s % 10000) / 10000.0;
    }
    case varString: {
        double d;
        if (!TryStrToFloat(std::get<std::string>(FData), d))
            throw EConvertError("'" + std::get<std::string>(FData) + "' is not a valid floating point value");
        return d;
    }
    }
    CastError(FType, "Double");
}

std::int64_t Variant::AsScaledCurrency() const
{
    if (FType == varCurrency)
        return std::get<std::int64_t>(FData);
    return ScaleAmount(AsDouble());
}

double Variant::AsDateTime() const
{
    return AsDouble();
}

bool Variant::AsBoolean() const
{
    switch (FType) {
    case varString: {
        const std::string& s = std::get<std::string>(FData);
        if (s == "True" || s == "true" || s == "TRUE")
            return true;
        if (s == "False" || s == "false" || s == "FALSE")
            return false;
        return AsDouble() != 0;
    }
    default:
        return AsDouble() != 0;
    }
}

std::string Variant::AsString() const
{
    switch (FType) {
    case varEmpty:
    case varNull:
        return {};
    case varInteger:
        return std::to_string(std::get<std::int64_t>(FData));
    case varDouble:
        return FloatToStr(std::get<double>(FData));
    case varCurrency:
        return CurrToStrF(std::get<std::int64_t>(FData));
    case varDate:
        return DateTimeToStr(std::get<double>(FData));
    case varBoolean:
        return std::get<std::int64_t>(FData) ? "True" : "False";
    case varString:
        return std::get<std::string>(FData);
    }
    return {};
}

void Variant::AssignString(std::string_view Bytes)
{
    if (auto* text = std::get_if<std::string>(&FData))
        text->assign(Bytes.data(), Bytes.size());
    else
        FData.emplace<std::string>(Bytes);
    FType = varString;
}

const std::string& Variant::StringRef() const
{
    static const std::string empty;
    if (FType == varString)
        return std::get<std::string>(FData);
    return empty;
}

bool operator==(const Variant& A, const Variant& B)
{
    if (A.FType == varNull || B.FType == varNull)
        return A.FType == B.FType;
    if (A.FType == varEmpty || B.FType == varEmpty)
        return A.FType == B.FType;
    if (A.FType == varString && B.FType == varString)
        return std::get<std::string>(A.FData) == std::get<std::string>(B.FData);
    if (A.FType == varBoolean || B.FType == varBoolean) {
        try {
            return A.AsBoolean() == B.AsBoolean();
        } catch (const Exception&) {
            return false;
        }
    }
    // Everything else compares as a number: integers, doubles, money and date-time
    // serials; a text side must read as a number.
    double a, b;
    if (A.FType == varString) {
        if (!TryStrToFloat(std::get<std::string>(A.FData), a))
            return false;
    } else {
        a = A.AsDouble();
    }
    if (B.FType == varString) {
        if (!TryStrToFloat(std::get<std::string>(B.FData), b))
            return false;
    } else {
        b = B.AsDouble();
    }
    return a == b;
}
