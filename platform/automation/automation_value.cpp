#include "platform/automation/automation_value.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool IsNumberKind(AutomationValue::Kind k)
{
    using K = AutomationValue::Kind;
    return k == K::Integer || k == K::Boolean || k == K::Single || k == K::Double;
}

// Reads the whole text as a number ("12", " 3.5 ", "-1e3"); false when it is not one.
bool ParseNumber(const std::string& text, double& result)
{
    std::size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    if (b == e) return false;
    const char* first = text.data() + b;
    if (*first == '+') ++first;
    auto [ptr, ec] = std::from_chars(first, text.data() + e, result);
    return ec == std::errc() && ptr == text.data() + e && std::isfinite(result);
}

std::string RealToText(double v)
{
    char buf[64];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v);
    (void)ec;
    return std::string(buf, ptr);
}

} // namespace

AutomationValue::AutomationValue(std::shared_ptr<AutomationObject> object)
{
    if (object) {
        FKind = Kind::Object;
        FObject = std::move(object);
    }
}

AutomationValue AutomationValue::Null()
{
    AutomationValue v;
    v.FKind = Kind::Null;
    return v;
}

AutomationValue AutomationValue::IntegerArray(std::size_t count)
{
    return ArrayOf(std::vector<AutomationValue>(count, AutomationValue(0)));
}

AutomationValue AutomationValue::ArrayOf(std::vector<AutomationValue> items)
{
    AutomationValue v;
    v.FKind = Kind::Array;
    v.FArray = std::make_shared<std::vector<AutomationValue>>(std::move(items));
    return v;
}

AutomationValue AutomationValue::ByteArray(std::string bytes)
{
    AutomationValue v;
    v.FKind = Kind::Bytes;
    v.FText = std::move(bytes);
    return v;
}

const std::string& AutomationValue::Bytes() const
{
    if (FKind != Kind::Bytes)
        throw EConvertError(std::string("Could not convert variant of type (") + KindName(FKind) +
                            ") into type (Byte array)");
    return FText;
}

bool AutomationValue::IsNumeric() const { return IsNumberKind(FKind); }

const char* AutomationValue::KindName(Kind kind)
{
    switch (kind) {
    case Kind::Empty: return "Empty";
    case Kind::Null: return "Null";
    case Kind::Integer: return "Integer";
    case Kind::Boolean: return "Boolean";
    case Kind::Single: return "Single";
    case Kind::Double: return "Double";
    case Kind::String: return "String";
    case Kind::Object: return "Object";
    case Kind::Array: return "Array";
    case Kind::Bytes: return "Byte array";
    }
    return "?";
}

double AutomationValue::ToReal() const
{
    switch (FKind) {
    case Kind::Empty: return 0;
    case Kind::Integer:
    case Kind::Boolean: return FInt;
    case Kind::Single:
    case Kind::Double: return FReal;
    case Kind::String: {
        double d;
        if (ParseNumber(FText, d)) return d;
        throw EConvertError("'" + FText + "' is not a valid floating point value");
    }
    default: break;
    }
    throw EConvertError(std::string("Could not convert variant of type (") + KindName(FKind) +
                        ") into type (Double)");
}

int AutomationValue::ToInteger() const
{
    if (FKind == Kind::Integer || FKind == Kind::Boolean) return FInt;
    if (FKind == Kind::Empty) return 0;
    double d = ToReal();
    d = std::nearbyint(d); // half to even under the default rounding mode
    if (!(d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max()))
        throw EConvertError("Value " + RealToText(d) + " is out of the range of a 32-bit integer");
    return static_cast<int>(d);
}

bool AutomationValue::ToBoolean() const
{
    if (FKind == Kind::String) {
        if (SameMemberName(FText, "true")) return true;
        if (SameMemberName(FText, "false")) return false;
    }
    return ToReal() != 0;
}

std::string AutomationValue::ToString() const
{
    switch (FKind) {
    case Kind::Empty: return {};
    case Kind::Integer: return std::to_string(FInt);
    case Kind::Boolean: return FInt ? "True" : "False";
    case Kind::Single: return RealToText(static_cast<float>(FReal));
    case Kind::Double: return RealToText(FReal);
    case Kind::String: return FText;
    default: break;
    }
    throw EConvertError(std::string("Could not convert variant of type (") + KindName(FKind) +
                        ") into type (String)");
}

const std::shared_ptr<AutomationObject>& AutomationValue::Object() const
{
    if (FKind != Kind::Object)
        throw EConvertError(std::string("Could not convert variant of type (") + KindName(FKind) +
                            ") into type (Dispatch)");
    return FObject;
}

std::size_t AutomationValue::Count() const
{
    if (FKind == Kind::Bytes) return FText.size();
    if (FKind != Kind::Array) throw EConvertError("Variant is not an array");
    return FArray->size();
}

AutomationValue& AutomationValue::operator[](std::size_t index)
{
    if (FKind != Kind::Array) throw EConvertError("Variant is not an array of values");
    if (index >= Count()) throw EListError::OutOfBounds(static_cast<long long>(index));
    if (FArray.use_count() > 1) // arrays are values: copy before the first change
        FArray = std::make_shared<std::vector<AutomationValue>>(*FArray);
    return (*FArray)[index];
}

const AutomationValue& AutomationValue::operator[](std::size_t index) const
{
    if (FKind != Kind::Array) throw EConvertError("Variant is not an array of values");
    if (index >= Count()) throw EListError::OutOfBounds(static_cast<long long>(index));
    return (*FArray)[index];
}

void AutomationValue::RequireObject(std::string_view member) const
{
    if (FKind != Kind::Object)
        throw Exception("Cannot access member '" + std::string(member) + "': the value (" +
                        KindName(FKind) + ") is not an automation object");
}

AutomationValue AutomationValue::Call(std::string_view member, AutomationArgs args) const
{
    return Invoke(member, InvokeKind::Call, args);
}

AutomationValue AutomationValue::Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) const
{
    RequireObject(member);
    // The object stays alive even when the call changes this value through a
    // by-reference argument (only then is a reference of its own taken).
    if (args.RefersTo(*this)) {
        auto keep = FObject;
        return keep->Invoke(member, kind, args);
    }
    return FObject->Invoke(member, kind, args);
}

AutomationValue AutomationValue::Call(std::string_view member) const
{
    return Call(member, AutomationArgs());
}

AutomationValue AutomationValue::Get(std::string_view member, AutomationArgs args) const
{
    return Invoke(member, InvokeKind::Get, args);
}

AutomationValue AutomationValue::Get(std::string_view member) const
{
    return Get(member, AutomationArgs());
}

void AutomationValue::Put(std::string_view member, AutomationValue value) const
{
    AutomationArgs args{AutomationArg(std::move(value))};
    Invoke(member, InvokeKind::Put, args);
}

void AutomationValue::PutRef(std::string_view member, AutomationValue& value) const
{
    AutomationArgs args{ByRef(value)};
    Invoke(member, InvokeKind::Put, args);
}

bool operator==(const AutomationValue& a, const AutomationValue& b)
{
    using K = AutomationValue::Kind;
    if (a.FKind == K::Null || b.FKind == K::Null) return a.FKind == b.FKind;
    if (a.FKind == K::Object || b.FKind == K::Object)
        return a.FKind == b.FKind && a.FObject == b.FObject;
    if (a.FKind == K::Bytes || b.FKind == K::Bytes)
        return a.FKind == b.FKind && a.FText == b.FText;
    if (a.FKind == K::Array || b.FKind == K::Array) {
        if (a.FKind != b.FKind) return false;
        return *a.FArray == *b.FArray;
    }
    if (a.FKind == K::Empty && b.FKind == K::Empty) return true;
    if (a.FKind == K::String && b.FKind == K::String) return a.FText == b.FText;
    if (a.FKind == K::Empty || b.FKind == K::Empty) {
        const AutomationValue& o = a.FKind == K::Empty ? b : a;
        if (o.FKind == K::String) return o.FText.empty();
        return o.ToReal() == 0;
    }
    // at least one number; a string compares by its numeric reading
    double x, y;
    if (a.FKind == K::String) {
        if (!ParseNumber(a.FText, x)) return false;
    } else {
        x = a.ToReal();
    }
    if (b.FKind == K::String) {
        if (!ParseNumber(b.FText, y)) return false;
    } else {
        y = b.ToReal();
    }
    if (a.FKind == K::Single || b.FKind == K::Single) // a single compares at single precision
        return static_cast<float>(x) == static_cast<float>(y);
    return x == y;
}

// ---- arguments

AutomationArg Named(std::string name, AutomationArg arg)
{
    arg.FName = std::move(name);
    return arg;
}

AutomationArgs::AutomationArgs(std::vector<AutomationArg> args)
{
    if (args.size() > InlineCapacity) {
        FMore = std::move(args);
        FCount = FMore.size();
        return;
    }
    for (AutomationArg& a : args)
        AppendInline(std::move(a));
}

AutomationArgs::AutomationArgs(const AutomationArgs& other)
{
    if (other.FCount > InlineCapacity) {
        FMore = other.FMore;
        FCount = other.FCount;
        return;
    }
    try {
        for (const AutomationArg& a : other)
            AppendInline(a);
    } catch (...) {
        Reset();
        throw;
    }
}

AutomationArgs::AutomationArgs(AutomationArgs&& other) noexcept
{
    MoveFrom(other);
}

AutomationArgs& AutomationArgs::operator=(AutomationArgs other) noexcept
{
    Reset();
    MoveFrom(other);
    return *this;
}

void AutomationArgs::MoveFrom(AutomationArgs& other) noexcept
{
    if (other.FCount > InlineCapacity) {
        FMore = std::move(other.FMore);
        FCount = other.FCount;
    } else {
        for (AutomationArg& a : other)
            AppendInline(std::move(a)); // moving strings and shared pointers does not throw
    }
    other.Reset();
}

void AutomationArgs::Reset() noexcept
{
    if (FCount <= InlineCapacity) {
        AutomationArg* a = Inline();
        for (std::size_t i = 0; i < FCount; ++i)
            a[i].~AutomationArg();
    }
    if (FMore.capacity())
        std::vector<AutomationArg>().swap(FMore);
    FCount = 0;
}

void AutomationArgs::CheckOrder() const
{
    bool named = false;
    for (const auto& a : *this) {
        if (a.IsNamed()) named = true;
        else if (named) throw Exception("Positional arguments must come before named arguments");
    }
}

bool AutomationArgs::RefersTo(const AutomationValue& value) const
{
    for (const auto& a : *this)
        if (a.IsByRef() && &a.Value() == &value) return true;
    return false;
}

std::size_t AutomationArgs::PositionalCount() const
{
    const AutomationArg* args = Data();
    std::size_t n = 0;
    while (n < FCount && !args[n].IsNamed()) ++n;
    return n;
}

AutomationArg* AutomationArgs::Find(std::size_t position, std::string_view name)
{
    if (position < PositionalCount()) return Data() + position;
    for (auto& a : *this)
        if (a.IsNamed() && SameMemberName(a.Name(), name)) return &a;
    return nullptr;
}

const AutomationArg* AutomationArgs::Find(std::size_t position, std::string_view name) const
{
    return const_cast<AutomationArgs*>(this)->Find(position, name);
}

// ---- objects

void AutomationObject::UnknownMember(std::string_view member) const
{
    throw Exception("Unknown member '" + std::string(member) + "' of " + TypeName());
}
