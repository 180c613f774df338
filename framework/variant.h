#pragma once
// Variant values: null, unassigned (empty), integer, floating point, currency (a 64-bit
// amount scaled by 10000), date-time (days since 1899-12-30), Boolean or text. Text is
// a byte string that may hold NUL bytes (a picture value is a whole file).

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

enum TVarType : std::uint8_t { varEmpty, varNull, varInteger, varDouble, varCurrency, varDate, varBoolean, varString };

class Variant {
public:
    Variant() = default; // unassigned
    Variant(int Value) : FType(varInteger), FData(static_cast<std::int64_t>(Value)) {}
    Variant(long Value) : FType(varInteger), FData(static_cast<std::int64_t>(Value)) {}
    Variant(long long Value) : FType(varInteger), FData(static_cast<std::int64_t>(Value)) {}
    Variant(double Value) : FType(varDouble), FData(Value) {}
    Variant(bool Value) : FType(varBoolean), FData(static_cast<std::int64_t>(Value ? 1 : 0)) {}
    Variant(std::string Value) : FType(varString), FData(std::move(Value)) {}
    Variant(const char* Value) : FType(varString), FData(std::string(Value ? Value : "")) {}

    static Variant Null();
    static Variant Unassigned() { return Variant(); }
    static Variant FromCurrency(double Amount);
    static Variant FromScaledCurrency(std::int64_t Scaled);
    static Variant FromDateTime(double DateTime);

    TVarType VarType() const { return FType; }
    bool IsNull() const { return FType == varNull; }
    bool IsEmpty() const { return FType == varEmpty; }
    bool IsNumeric() const { return FType == varInteger || FType == varDouble || FType == varCurrency; }

    // Conversions raise EConvertError (or EVariantTypeCast) when the value has no such
    // form; null and unassigned give 0 / false / empty text as a variant would.
    std::int64_t AsInteger() const;
    double AsDouble() const;
    std::int64_t AsScaledCurrency() const;
    double AsDateTime() const;
    bool AsBoolean() const;
    // The value's text under the process-wide format settings; null and unassigned
    // give empty text; currency carries the currency string; dates use the short date
    // format and, when there is a time of day, the long time format.
    std::string AsString() const;
    // The text of a string variant without copying; empty for other kinds.
    const std::string& StringRef() const;
    // Makes the value the text Bytes, in the room it has when it holds a text already.
    void AssignString(std::string_view Bytes);

    // Variant comparison: text with text byte by byte; a number with a number or with
    // a text that reads as a number, numerically; a date-time with a date-time, or with
    // a text that reads as a number (the serial) or a date; Booleans as Booleans.
    // Null equals only null, unassigned only unassigned. Values that cannot be brought
    // to a common kind compare unequal (never raise).
    friend bool operator==(const Variant& A, const Variant& B);

private:
    TVarType FType = varEmpty;
    std::variant<std::monostate, std::int64_t, double, std::string> FData;
};

// Text of a value; null and unassigned give empty text.
inline std::string VarToStr(const Variant& V) { return V.AsString(); }
