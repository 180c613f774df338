#include "data_set.h"

#include <charconv>

#include "exceptions.h"
#include "format_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

// ---------------------------------------------------------------------------
// Field type classes

bool IsBlobFieldType(TFieldType Type)
{
    switch (Type) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
        return true;
    default:
        return false;
    }
}

bool IsNumericFieldType(TFieldType Type)
{
    switch (Type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftAutoInc:
    case ftLargeint:
    case ftFMTBcd:
        return true;
    default:
        return false;
    }
}

bool IsFloatFieldType(TFieldType Type)
{
    return Type == ftFloat || Type == ftCurrency;
}

bool IsDateTimeFieldType(TFieldType Type)
{
    return Type == ftDate || Type == ftTime || Type == ftDateTime || Type == ftTimeStamp;
}

namespace {

bool IsIntegerFieldType(TFieldType Type)
{
    return Type == ftSmallint || Type == ftInteger || Type == ftWord || Type == ftAutoInc || Type == ftLargeint;
}

bool IsStringLikeFieldType(TFieldType Type)
{
    return Type == ftString || Type == ftFixedChar || Type == ftWideString || Type == ftBytes || Type == ftVarBytes ||
           Type == ftGuid || IsBlobFieldType(Type);
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& A, const std::string& B)
{
    if (A.size() != B.size())
        return false;
    for (std::size_t i = 0; i < A.size(); ++i)
        if (AsciiLower(A[i]) != AsciiLower(B[i]))
            return false;
    return true;
}

// ---------------------------------------------------------------------------
// Display patterns for numbers

struct TFmtToken {
    enum Kind { Zero, Hash, Point, Comma, Exp, Literal } K;
    std::string Text; // literal text, or "E+" / "e-" for the exponent
    int ExpDigits = 0;
};

std::vector<TFmtToken> TokenizeSection(const std::string& S)
{
    std::vector<TFmtToken> out;
    std::size_t i = 0;
    while (i < S.size()) {
        char c = S[i];
        if (c == '0') {
            out.push_back({TFmtToken::Zero, {}});
            ++i;
        } else if (c == '#') {
            out.push_back({TFmtToken::Hash, {}});
            ++i;
        } else if (c == '.') {
            out.push_back({TFmtToken::Point, {}});
            ++i;
        } else if (c == ',') {
            out.push_back({TFmtToken::Comma, {}});
            ++i;
        } else if ((c == 'E' || c == 'e') && i + 1 < S.size() && (S[i + 1] == '+' || S[i + 1] == '-')) {
            TFmtToken t{TFmtToken::Exp, S.substr(i, 2)};
            i += 2;
            while (i < S.size() && S[i] == '0') {
                ++t.ExpDigits;
                ++i;
            }
            out.push_back(t);
        } else if (c == '\'' || c == '"') {
            std::size_t end = S.find(c, i + 1);
            if (end == std::string::npos)
                end = S.size();
            out.push_back({TFmtToken::Literal, S.substr(i + 1, end - i - 1)});
            i = end + 1;
        } else {
            out.push_back({TFmtToken::Literal, std::string(1, c)});
            ++i;
        }
    }
    return out;
}

std::vector<std::string> SplitSections(const std::string& Pattern)
{
    std::vector<std::string> sections(1);
    char quote = 0;
    for (char c : Pattern) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == ';') {
            sections.emplace_back();
            continue;
        }
        sections.back() += c;
    }
    return sections;
}

// A non-negative number as decimal digits: d.ddd x 10^Exp, at most 15 significant
// digits (what a double reliably holds), no trailing zeros; no digits for zero.
struct TDecimal {
    std::string Digits;
    int Exp = 0;
};

TDecimal ToDecimal(double Value)
{
    TDecimal d;
    if (Value == 0)
        return d;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", Value);
    const std::string s(buf);
    const std::size_t e = s.find('e');
    d.Digits = s.substr(0, 1) + s.substr(2, e - 2);
    d.Exp = std::atoi(s.c_str() + e + 1);
    while (!d.Digits.empty() && d.Digits.back() == '0')
        d.Digits.pop_back();
    return d;
}

// Keeps the first Keep digits, rounding half away from zero.
void RoundAt(TDecimal& D, int Keep)
{
    if (Keep >= static_cast<int>(D.Digits.size()))
        return;
    if (Keep < 0) {
        D = TDecimal();
        return;
    }
    const bool up = D.Digits[static_cast<std::size_t>(Keep)] >= '5';
    D.Digits.resize(static_cast<std::size_t>(Keep));
    if (up) {
        int i = Keep - 1;
        while (i >= 0 && D.Digits[static_cast<std::size_t>(i)] == '9')
            D.Digits[static_cast<std::size_t>(i--)] = '0';
        if (i < 0) {
            D.Digits.insert(0, "1");
            ++D.Exp;
        } else {
            ++D.Digits[static_cast<std::size_t>(i)];
        }
    }
    while (!D.Digits.empty() && D.Digits.back() == '0')
        D.Digits.pop_back();
    if (D.Digits.empty())
        D = TDecimal();
}

// Formats a non-negative value with one section.
std::string FormatSection(const std::string& Section, double Value, bool& AnyNonZeroDigit)
{
    const std::vector<TFmtToken> tokens = TokenizeSection(Section);
    int intPlaces = 0, intZeros = 0, fracPlaces = 0, fracZeros = 0;
    bool afterPoint = false, thousands = false, seenZero = false;
    const TFmtToken* exp = nullptr;
    for (const TFmtToken& t : tokens) {
        if (exp)
            break;
        switch (t.K) {
        case TFmtToken::Zero:
        case TFmtToken::Hash:
            if (afterPoint) {
                ++fracPlaces;
                if (t.K == TFmtToken::Zero)
                    fracZeros = fracPlaces;
            } else {
                ++intPlaces;
                if (t.K == TFmtToken::Zero)
                    seenZero = true;
                if (seenZero)
                    ++intZeros;
            }
            break;
        case TFmtToken::Point:
            afterPoint = true;
            break;
        case TFmtToken::Comma:
            if (!afterPoint)
                thousands = true;
            break;
        case TFmtToken::Exp:
            exp = &t;
            break;
        default:
            break;
        }
    }

    std::string intStr, fracStr;
    int exponent = 0;
    TDecimal d = ToDecimal(Value);
    if (exp) {
        const int intDigits = std::max(intPlaces, 1);
        if (!d.Digits.empty()) {
            RoundAt(d, intDigits + fracPlaces);
            exponent = d.Exp - (intDigits - 1);
        }
        std::string mant = d.Digits;
        mant.resize(static_cast<std::size_t>(intDigits + fracPlaces), '0');
        intStr = mant.substr(0, static_cast<std::size_t>(intDigits));
        fracStr = mant.substr(static_cast<std::size_t>(intDigits));
        intStr.erase(0, std::min(intStr.find_first_not_of('0'), intStr.size()));
    } else {
        RoundAt(d, d.Exp + 1 + fracPlaces);
        const int len = static_cast<int>(d.Digits.size());
        auto digitAt = [&](int i) { return (i >= 0 && i < len) ? d.Digits[static_cast<std::size_t>(i)] : '0'; };
        if (!d.Digits.empty())
            for (int i = 0; i <= d.Exp; ++i)
                intStr += digitAt(i);
        for (int p = 1; p <= fracPlaces; ++p)
            fracStr += digitAt(d.Exp + p);
    }
    while (static_cast<int>(fracStr.size()) > fracZeros && !fracStr.empty() && fracStr.back() == '0')
        fracStr.pop_back();
    if (static_cast<int>(intStr.size()) < intZeros)
        intStr.insert(0, static_cast<std::size_t>(intZeros) - intStr.size(), '0');
    AnyNonZeroDigit = (intStr + fracStr).find_first_not_of('0') != std::string::npos;

    const TFormatSettings& fs = FormatSettings();
    const int L = static_cast<int>(intStr.size());
    const int excess = L - intPlaces;
    std::string out;
    auto emitIntDigit = [&](int k) {
        out += intStr[static_cast<std::size_t>(k)];
        int right = L - 1 - k;
        if (thousands && right > 0 && right % 3 == 0)
            out += fs.ThousandSeparator;
    };
    int intIndex = 0, fracIndex = 0;
    bool inFrac = false, intDone = false;
    auto flushLeadingDigits = [&]() {
        // Digits that no placeholder of the integer part takes go before the first one.
        for (int k = 0; k < excess; ++k)
            emitIntDigit(k);
        intDone = true;
    };
    for (const TFmtToken& t : tokens) {
        switch (t.K) {
        case TFmtToken::Zero:
        case TFmtToken::Hash:
            if (!inFrac) {
                if (!intDone)
                    flushLeadingDigits();
                int k = excess + intIndex++;
                if (k >= 0)
                    emitIntDigit(k);
            } else {
                if (fracIndex < static_cast<int>(fracStr.size()))
                    out += fracStr[static_cast<std::size_t>(fracIndex)];
                ++fracIndex;
            }
            break;
        case TFmtToken::Point:
            if (inFrac)
                break;
            if (!intDone)
                flushLeadingDigits();
            inFrac = true;
            if (!fracStr.empty())
                out += fs.DecimalSeparator;
            break;
        case TFmtToken::Comma:
            break;
        case TFmtToken::Exp: {
            if (!intDone)
                flushLeadingDigits();
            inFrac = true;
            out += t.Text[0];
            if (exponent < 0)
                out += '-';
            else if (t.Text[1] == '+')
                out += '+';
            std::string digits = std::to_string(std::abs(exponent));
            if (static_cast<int>(digits.size()) < t.ExpDigits)
                digits.insert(0, static_cast<std::size_t>(t.ExpDigits) - digits.size(), '0');
            out += digits;
            break;
        }
        case TFmtToken::Literal:
            out += t.Text;
            break;
        }
    }
    if (!intDone && intPlaces == 0)
        flushLeadingDigits();
    return out;
}

} // namespace

std::string FormatFloat(const std::string& Pattern, double Value)
{
    if (Pattern.empty() || !std::isfinite(Value))
        return FloatToStr(Value);
    const std::vector<std::string> sections = SplitSections(Pattern);
    const std::string* section = &sections[0];
    bool addMinus = false;
    double v = Value;
    if (Value < 0) {
        v = -Value;
        if (sections.size() >= 2 && !sections[1].empty())
            section = &sections[1];
        else
            addMinus = true;
    } else if (Value == 0 && sections.size() >= 3 && !sections[2].empty()) {
        section = &sections[2];
    }
    bool nonZero = false;
    std::string out = FormatSection(*section, v, nonZero);
    if (addMinus && nonZero)
        out.insert(0, "-");
    return out;
}

// ---------------------------------------------------------------------------
// TField

TField::TField(TDataSet* ADataSet, std::string AFieldName, TFieldType ADataType, int ASize)
    : FDataSet(ADataSet)
    , FFieldName(std::move(AFieldName))
    , FDataType(ADataType)
    , FSize(ASize)
{
}

std::string TField::DisplayLabel() const
{
    return FDisplayLabel.empty() ? FFieldName : FDisplayLabel;
}

int TField::DisplayWidth() const
{
    if (FDisplayWidth >= 0)
        return FDisplayWidth;
    switch (FDataType) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftBytes:
    case ftVarBytes:
    case ftGuid:
        return FSize;
    case ftSmallint:
        return 6;
    case ftInteger:
    case ftAutoInc:
        return 11;
    case ftWord:
        return 6;
    case ftLargeint:
        return 15;
    case ftBoolean:
        return 5;
    case ftDate:
    case ftTime:
        return 10;
    case ftDateTime:
    case ftTimeStamp:
        return 18;
    default:
        return 10;
    }
}

TAlignment TField::Alignment() const
{
    if (FAlignment >= 0)
        return static_cast<TAlignment>(FAlignment);
    return IsNumericFieldType(FDataType) ? taRightJustify : taLeftJustify;
}

void TField::SetAlignment(TAlignment Value)
{
    FAlignment = Value;
}

int TField::Precision() const
{
    if (FPrecision >= 0)
        return FPrecision;
    return IsFloatFieldType(FDataType) ? 15 : 0;
}

TFieldType TField::BlobType() const
{
    if (!IsBlob())
        return ftUnknown;
    return FBlobType >= 0 ? static_cast<TFieldType>(FBlobType) : FDataType;
}

Variant TField::Value() const
{
    if (!FDataSet)
        throw Exception("Field '" + FFieldName + "' has no dataset");
    FDataSet->CheckActive();
    Variant v = FDataSet->GetFieldValue(*this);
    if (v.IsEmpty())
        return Variant::Null();
    return v;
}

void TField::SetValue(const Variant& Value)
{
    if (!FDataSet)
        throw Exception("Field '" + FFieldName + "' has no dataset");
    FDataSet->CheckActive();
    if (FReadOnly)
        throw Exception("Field '" + FFieldName + "' cannot be modified");
    if (FRequired && (Value.IsNull() || Value.IsEmpty()))
        throw Exception("Field '" + FFieldName + "' must have a value");
    FDataSet->SetFieldValue(*this, Value);
}

const Variant& TField::CurrentValue(Variant& Holder) const
{
    if (FDataSet) {
        FDataSet->CheckActive();
        if (const Variant* held = FDataSet->HeldFieldValue(*this)) {
            if (!held->IsEmpty())
                return *held;
            static const Variant null = Variant::Null();
            return null;
        }
    }
    Holder = Value();
    return Holder;
}

bool TField::IsNull() const
{
    Variant holder;
    return CurrentValue(holder).IsNull();
}

std::string TField::AsString() const
{
    Variant holder;
    const Variant& v = CurrentValue(holder);
    if (v.IsNull())
        return {};
    switch (FDataType) {
    case ftDate:
        return DateToStr(v.AsDateTime());
    case ftTime:
        return TimeToStr(v.AsDateTime());
    case ftDateTime:
    case ftTimeStamp:
        return DateTimeToStr(v.AsDateTime());
    case ftFloat:
    case ftCurrency: {
        double d = v.AsDouble();
        int p = Precision();
        if (p > 0 && p < 15 && std::isfinite(d)) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.*g", p, d);
            d = std::strtod(buf, nullptr);
        }
        return FloatToStr(d);
    }
    case ftBCD:
    case ftFMTBcd:
        switch (v.VarType()) {
        case varCurrency:
            return CurrToStr(v.AsScaledCurrency());
        case varInteger:
            return std::to_string(v.AsInteger());
        case varString: {
            // An exact decimal kept as its digits: only the separator follows the settings.
            std::string text = v.StringRef();
            const std::size_t point = text.find('.');
            if (point != std::string::npos)
                text.replace(point, 1, FormatSettings().DecimalSeparator);
            return text;
        }
        default: {
            // The shortest digits that read back as the same double.
            char buf[32];
            const auto r = std::to_chars(buf, buf + sizeof buf, v.AsDouble());
            std::string text(buf, r.ptr);
            const std::size_t point = text.find('.');
            if (point != std::string::npos)
                text.replace(point, 1, FormatSettings().DecimalSeparator);
            return text;
        }
        }
    case ftBoolean:
        return v.AsBoolean() ? "True" : "False";
    default:
        return v.AsString();
    }
}

std::string TField::DisplayText() const
{
    if (IsNull())
        return {};
    if (IsNumericFieldType(FDataType)) {
        if (!FDisplayFormat.empty())
            return FormatFloat(FDisplayFormat, AsFloat());
        if (FDataType == ftCurrency) {
            double d = AsFloat();
            if (std::isfinite(d) && std::fabs(d) < 9.0e14)
                return CurrToStrF(static_cast<std::int64_t>(std::llround(d * 10000.0)));
        }
        return AsString();
    }
    if (IsDateTimeFieldType(FDataType) && !FDisplayFormat.empty())
        return FormatDateTime(FDisplayFormat, AsDateTime());
    return AsString();
}

double TField::AsFloat() const
{
    Variant holder;
    return CurrentValue(holder).AsDouble();
}

std::int64_t TField::AsInteger() const
{
    Variant holder;
    return CurrentValue(holder).AsInteger();
}

double TField::AsDateTime() const
{
    Variant holder;
    return CurrentValue(holder).AsDateTime();
}

bool TField::AsBoolean() const
{
    Variant holder;
    return CurrentValue(holder).AsBoolean();
}

// ---------------------------------------------------------------------------
// TDataSet

TDataSet::TDataSet(QObject* AOwner)
    : TComponent(AOwner)
{
}

TDataSet::~TDataSet() = default;

TField* TDataSet::Fields(int Index) const
{
    if (Index < 0 || Index >= FieldCount())
        throw EListError::OutOfBounds(Index);
    return FFields[static_cast<std::size_t>(Index)].get();
}

TField* TDataSet::FindField(const std::string& FieldName) const
{
    // An export asks for the fields of every row in the order of its columns: the field
    // after the one found last is tried first.
    const std::size_t count = FFields.size();
    for (std::size_t k = 0, i = FFindHint; k < count; ++k, ++i) {
        if (i >= count)
            i = 0;
        if (SameName(FFields[i]->FieldName(), FieldName)) {
            FFindHint = i + 1;
            return FFields[i].get();
        }
    }
    return nullptr;
}

TField* TDataSet::FieldByName(const std::string& FieldName) const
{
    TField* f = FindField(FieldName);
    if (!f)
        throw Exception("Field '" + FieldName + "' not found");
    return f;
}

void TDataSet::SetActive(bool Value)
{
    if (Value == FActive)
        return;
    if (Value) {
        InternalOpen();
        FActive = true;
    } else {
        InternalClose();
        FActive = false;
    }
    NotifyDataSetChanged();
}

void TDataSet::EnableControls()
{
    if (FDisableCount == 0)
        return;
    if (--FDisableCount == 0 && FPendingChange) {
        FPendingChange = false;
        emit DataSetChanged();
    }
}

void TDataSet::SetFieldValue(TField& Field, const Variant&)
{
    throw Exception("Field '" + Field.FieldName() + "' cannot be modified");
}

TField* TDataSet::AddFieldObject(std::unique_ptr<TField> Field)
{
    if (!Field)
        throw Exception("No field to add");
    if (Field->FieldName().empty())
        throw Exception("Field name missing");
    if (FindField(Field->FieldName()))
        throw Exception("Duplicate field name '" + Field->FieldName() + "'");
    Field->FIndex = FieldCount();
    FFields.push_back(std::move(Field));
    return FFields.back().get();
}

void TDataSet::RaiseClosed()
{
    throw Exception("Cannot perform this operation on a closed dataset");
}

void TDataSet::NotifyDataSetChanged()
{
    if (ControlsDisabled())
        FPendingChange = true;
    else
        emit DataSetChanged();
}

void TDataSet::NotifyRecordMoved()
{
    if (ControlsDisabled())
        FPendingChange = true;
    else
        emit RecordMoved();
}

// ---------------------------------------------------------------------------
// TMemoryDataSet

TMemoryDataSet::TMemoryDataSet(QObject* AOwner)
    : TDataSet(AOwner)
{
    Open();
}

TField* TMemoryDataSet::AddField(const std::string& FieldName, TFieldType DataType, int Size, bool Required,
                                 bool ReadOnly)
{
    if (static_cast<int>(DataType) >= FieldTypeCount)
        throw Exception("Unknown field type " + std::to_string(static_cast<int>(DataType)) + " for field '" +
                        FieldName + "'");
    if (Size < 0)
        throw Exception("Invalid size " + std::to_string(Size) + " for field '" + FieldName + "'");
    if (Size == 0 && DataType == ftString)
        Size = 20;
    auto field = std::make_unique<TField>(this, FieldName, DataType, Size);
    field->SetRequired(Required);
    field->SetReadOnly(ReadOnly);
    TField* f = AddFieldObject(std::move(field));
    for (TRecord& r : FRecords)
        r.Values.push_back(Variant::Null());
    NotifyDataSetChanged();
    return f;
}

Variant TMemoryDataSet::ConvertForField(const TField& Field, const Variant& Value) const
{
    if (Value.IsNull() || Value.IsEmpty()) {
        if (Field.Required())
            throw Exception("Field '" + Field.FieldName() + "' must have a value");
        return Variant::Null();
    }
    try {
        const TFieldType t = Field.DataType();
        if (IsIntegerFieldType(t)) {
            long long lo = std::numeric_limits<long long>::min(), hi = std::numeric_limits<long long>::max();
            if (t == ftSmallint) {
                lo = -32768;
                hi = 32767;
            } else if (t == ftWord) {
                lo = 0;
                hi = 65535;
            } else if (t == ftInteger || t == ftAutoInc) {
                lo = std::numeric_limits<std::int32_t>::min();
                hi = std::numeric_limits<std::int32_t>::max();
            }
            const long long i = Value.AsInteger();
            if (i < lo || i > hi)
                throw EConvertError(std::to_string(i) + " is not a valid value for field '" + Field.FieldName() +
                                    "'. The allowed range is " + std::to_string(lo) + " to " + std::to_string(hi));
            return Variant(i);
        }
        switch (t) {
        case ftFloat:
        case ftCurrency:
            return Variant(Value.AsDouble());
        case ftBCD:
        case ftFMTBcd:
            return Variant::FromScaledCurrency(Value.AsScaledCurrency());
        case ftDate:
            return Variant::FromDateTime(std::trunc(Value.AsDateTime()));
        case ftTime: {
            double d = Value.AsDateTime();
            return Variant::FromDateTime(std::fabs(d - std::trunc(d)));
        }
        case ftDateTime:
        case ftTimeStamp:
            return Variant::FromDateTime(Value.AsDateTime());
        case ftBoolean:
            return Variant(Value.AsBoolean());
        default:
            if (IsStringLikeFieldType(t) && Value.VarType() != varString)
                return Variant(Value.AsString());
            return Value;
        }
    } catch (const EConvertError& e) {
        if (e.Message().find("field '") != std::string::npos)
            throw;
        throw EConvertError(e.Message() + " (field '" + Field.FieldName() + "')");
    }
}

void TMemoryDataSet::AppendRecord(const std::vector<Variant>& Values)
{
    CheckActive();
    if (Values.size() > static_cast<std::size_t>(FieldCount()))
        throw Exception("Too many values: " + std::to_string(Values.size()) + " for " +
                        std::to_string(FieldCount()) + " fields");
    TRecord r;
    r.Id = FNextId;
    r.Values.reserve(static_cast<std::size_t>(FieldCount()));
    for (int i = 0; i < FieldCount(); ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        r.Values.push_back(ConvertForField(*Fields(i), k < Values.size() ? Values[k] : Variant::Null()));
    }
    FRecords.push_back(std::move(r));
    ++FNextId;
    FCurrent = static_cast<int>(FRecords.size()) - 1;
    FBof = FEof = false;
    NotifyDataSetChanged();
}

void TMemoryDataSet::Delete()
{
    CheckActive();
    if (FCurrent < 0)
        throw Exception("Cannot perform this operation on an empty dataset");
    FRecords.erase(FRecords.begin() + FCurrent);
    const int n = static_cast<int>(FRecords.size());
    if (n == 0) {
        FCurrent = -1;
        FBof = FEof = true;
    } else if (FCurrent >= n) {
        FCurrent = n - 1;
        FBof = false;
        FEof = true;
    } else {
        FBof = FEof = false;
    }
    NotifyDataSetChanged();
}

void TMemoryDataSet::EmptyDataSet()
{
    CheckActive();
    FRecords.clear();
    FCurrent = -1;
    FBof = FEof = true;
    NotifyDataSetChanged();
}

void TMemoryDataSet::InternalOpen()
{
    FCurrent = FRecords.empty() ? -1 : 0;
    FBof = true;
    FEof = FRecords.empty();
}

void TMemoryDataSet::First()
{
    CheckActive();
    FCurrent = FRecords.empty() ? -1 : 0;
    FBof = true;
    FEof = FRecords.empty();
    NotifyRecordMoved();
}

void TMemoryDataSet::Last()
{
    CheckActive();
    FCurrent = static_cast<int>(FRecords.size()) - 1;
    FEof = true;
    FBof = FRecords.empty();
    NotifyRecordMoved();
}

void TMemoryDataSet::Next()
{
    CheckActive();
    if (FCurrent + 1 < static_cast<int>(FRecords.size())) {
        ++FCurrent;
        FBof = FEof = false;
        NotifyRecordMoved();
    } else {
        FEof = true;
        FBof = FRecords.empty();
    }
}

void TMemoryDataSet::Prior()
{
    CheckActive();
    if (FCurrent > 0) {
        --FCurrent;
        FBof = FEof = false;
        NotifyRecordMoved();
    } else {
        FBof = true;
        FEof = FRecords.empty();
    }
}

int TMemoryDataSet::RecordCount() const
{
    CheckActive();
    return static_cast<int>(FRecords.size());
}

int TMemoryDataSet::RecNo() const
{
    if (!Active())
        return 0;
    return FCurrent + 1;
}

namespace {

TBookmark IdBookmark(std::uint64_t Id)
{
    TBookmark b(sizeof Id, '\0');
    for (std::size_t i = 0; i < sizeof Id; ++i)
        b[i] = static_cast<char>((Id >> (8 * i)) & 0xFF);
    return b;
}

} // namespace

TBookmark TMemoryDataSet::GetBookmark() const
{
    CheckActive();
    if (FCurrent < 0)
        return {};
    return IdBookmark(FRecords[static_cast<std::size_t>(FCurrent)].Id);
}

void TMemoryDataSet::GetRecordAt(int Index, std::vector<Variant>& Values, TBookmark& Bookmark)
{
    CheckActive();
    if (Index < 0 || Index >= static_cast<int>(FRecords.size()))
        throw EListError::OutOfBounds(Index);
    const TRecord& r = FRecords[static_cast<std::size_t>(Index)];
    Values = r.Values;
    Bookmark = IdBookmark(r.Id);
}

int TMemoryDataSet::IndexOfId(std::uint64_t Id) const
{
    auto it = std::lower_bound(FRecords.begin(), FRecords.end(), Id,
                               [](const TRecord& r, std::uint64_t id) { return r.Id < id; });
    if (it == FRecords.end() || it->Id != Id)
        return -1;
    return static_cast<int>(it - FRecords.begin());
}

int TMemoryDataSet::IndexOfBookmark(const TBookmark& Bookmark) const
{
    if (Bookmark.size() != sizeof(std::uint64_t))
        return -1;
    std::uint64_t id = 0;
    for (std::size_t i = 0; i < sizeof id; ++i)
        id |= static_cast<std::uint64_t>(static_cast<unsigned char>(Bookmark[i])) << (8 * i);
    return IndexOfId(id);
}

void TMemoryDataSet::GotoBookmark(const TBookmark& Bookmark)
{
    CheckActive();
    if (Bookmark.empty())
        return;
    int index = IndexOfBookmark(Bookmark);
    if (index < 0)
        throw Exception("Record not found");
    FCurrent = index;
    FBof = FEof = false;
    NotifyRecordMoved();
}

bool TMemoryDataSet::BookmarkValid(const TBookmark& Bookmark) const
{
    return Active() && IndexOfBookmark(Bookmark) >= 0;
}

Variant TMemoryDataSet::GetFieldValue(const TField& Field) const
{
    if (FCurrent < 0)
        return Variant::Null();
    const int index = Field.Index();
    if (index < 0)
        throw Exception("Field '" + Field.FieldName() + "' does not belong to this dataset");
    return FRecords[static_cast<std::size_t>(FCurrent)].Values[static_cast<std::size_t>(index)];
}

void TMemoryDataSet::SetFieldValue(TField& Field, const Variant& Value)
{
    if (FCurrent < 0)
        throw Exception("Cannot perform this operation on an empty dataset");
    const int index = Field.Index();
    if (index < 0)
        throw Exception("Field '" + Field.FieldName() + "' does not belong to this dataset");
    FRecords[static_cast<std::size_t>(FCurrent)].Values[static_cast<std::size_t>(index)] =
        ConvertForField(Field, Value);
    NotifyDataSetChanged();
}
