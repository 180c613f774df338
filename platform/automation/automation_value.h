#pragma once
// Values and arguments of the late-bound automation bridge.
//
// An AutomationValue is empty, null, a scalar (32-bit integer, Boolean, single, double,
// string of bytes), a reference to a server object, an array of values, or a byte array
// (the raw bytes of a binary value, lower bound 0). Server objects
// are reached by member name:
//
//   AutomationValue doc = app.Call("Documents").Call("Add");
//   doc.Call("SaveAs", {ByRef(fileName)});
//   tables.Call("Add", {Named("Range", where), Named("NumRows", 1)});
//   range.Put("Bold", 1);
//   font.PutRef("ColorIndex", index);          // the new value by reference
//
// Arguments are positional first, then named; each one is passed by value or by reference
// (ByRef). A by-reference argument refers to the caller's AutomationValue, so a change the
// server makes is seen by the caller. Every failure is an Exception carrying the server's
// message.

#include "framework/exceptions.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

class AutomationObject;
class AutomationArgs;
enum class InvokeKind;

class AutomationValue {
public:
    enum class Kind { Empty, Null, Integer, Boolean, Single, Double, String, Object, Array, Bytes };

    AutomationValue() = default;
    AutomationValue(int value) : FKind(Kind::Integer), FInt(value) {}
    AutomationValue(bool value) : FKind(Kind::Boolean), FInt(value ? -1 : 0) {}
    AutomationValue(float value) : FKind(Kind::Single), FReal(value) {}
    AutomationValue(double value) : FKind(Kind::Double), FReal(value) {}
    AutomationValue(const char* value) : FKind(Kind::String), FText(value) {}
    AutomationValue(std::string value) : FKind(Kind::String), FText(std::move(value)) {}
    AutomationValue(std::string_view value) : FKind(Kind::String), FText(value) {}
    AutomationValue(std::shared_ptr<AutomationObject> object);
    template <class T>
        requires std::is_base_of_v<AutomationObject, T>
    AutomationValue(std::shared_ptr<T> object)
        : AutomationValue(std::shared_ptr<AutomationObject>(std::move(object))) {}

    static AutomationValue Null();
    // An array of `count` values, each a 32-bit integer 0 (the way a numeric array starts).
    static AutomationValue IntegerArray(std::size_t count);
    static AutomationValue ArrayOf(std::vector<AutomationValue> items);
    // A byte array holding `bytes` (elements 0 .. size - 1).
    static AutomationValue ByteArray(std::string bytes);

    Kind GetKind() const { return FKind; }
    bool IsEmpty() const { return FKind == Kind::Empty; }
    bool IsNull() const { return FKind == Kind::Null; }
    bool IsObject() const { return FKind == Kind::Object; }
    bool IsArray() const { return FKind == Kind::Array; }
    bool IsByteArray() const { return FKind == Kind::Bytes; }
    bool IsNumeric() const;

    // Conversions; each raises an EConvertError when the value has no such reading.
    // Empty converts to 0 / "" ; null converts to nothing.
    int ToInteger() const;   // rounds reals half to even like the automation types do
    double ToReal() const;
    bool ToBoolean() const;
    std::string ToString() const;
    // The server object; raises when the value holds none.
    const std::shared_ptr<AutomationObject>& Object() const;

    // The bytes of a byte array; raises EConvertError for any other value.
    const std::string& Bytes() const;
    // The text of a string or the bytes of a byte array, without a copy; empty for
    // any other value.
    const std::string& StringRef() const
    {
        static const std::string none;
        return FKind == Kind::String || FKind == Kind::Bytes ? FText : none;
    }

    // Makes the value a string holding Text, in the storage it already has.
    void SetText(std::string_view Text)
    {
        if (FKind != Kind::String) {
            *this = AutomationValue();
            FKind = Kind::String;
        }
        FText.assign(Text);
    }

    // Makes the value a double holding Value, as SetText does for a text.
    void SetReal(double Value)
    {
        if (FKind != Kind::Double) {
            *this = AutomationValue();
            FKind = Kind::Double;
        }
        FReal = Value;
    }

    // Arrays. Index raises EListError outside 0 .. Count() - 1. Count() also gives the
    // length of a byte array.
    std::size_t Count() const;
    AutomationValue& operator[](std::size_t index);
    const AutomationValue& operator[](std::size_t index) const;

    // Member access on a server object.
    AutomationValue Call(std::string_view member, AutomationArgs args) const;
    AutomationValue Call(std::string_view member) const;
    AutomationValue Get(std::string_view member, AutomationArgs args) const;
    AutomationValue Get(std::string_view member) const;
    void Put(std::string_view member, AutomationValue value) const;
    // A put whose new value goes by reference: the server sees `value` itself.
    void PutRef(std::string_view member, AutomationValue& value) const;

    // Name of the kind ("Integer", "String", ...), for messages.
    static const char* KindName(Kind kind);

    // Comparison: numbers (integer, Boolean, single, double) compare by value; a string
    // compares with a string byte for byte and with a number by its numeric reading; empty
    // equals empty, 0 and ""; null equals only null; objects compare by identity; arrays
    // element by element; byte arrays byte for byte.
    friend bool operator==(const AutomationValue& a, const AutomationValue& b);

private:
    void RequireObject(std::string_view member) const;
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) const;

    Kind FKind = Kind::Empty;
    int32_t FInt = 0;
    double FReal = 0;
    std::string FText;
    std::shared_ptr<AutomationObject> FObject;
    std::shared_ptr<std::vector<AutomationValue>> FArray;
};

// What ByRef gives: the caller's value, made a by-reference argument where the
// argument is built.
struct AutomationRef {
    AutomationValue* Value;
};

// One argument of a member access: positional or named, by value or by reference.
class AutomationArg {
public:
    template <class T>
        requires std::is_constructible_v<AutomationValue, T&&>
    AutomationArg(T&& value) : FValue(std::forward<T>(value)) {}
    AutomationArg(AutomationRef ref) : FRef(ref.Value) {}

    const std::string& Name() const { return FName; }
    bool IsNamed() const { return !FName.empty(); }
    bool IsByRef() const { return FRef != nullptr; }
    const AutomationValue& Value() const { return FRef ? *FRef : FValue; }
    // The value a server may change: the caller's value for a by-reference argument,
    // this argument's own copy otherwise.
    AutomationValue& Target() { return FRef ? *FRef : FValue; }

private:
    friend AutomationArg Named(std::string name, AutomationArg arg);

    std::string FName;
    AutomationValue FValue;
    AutomationValue* FRef = nullptr;
};

// A by-reference argument: the server sees and may change `value`.
inline AutomationRef ByRef(AutomationValue& value) { return {&value}; }
// A named argument.
AutomationArg Named(std::string name, AutomationArg arg);

// The arguments of one member access, with the lookups a server needs. Up to four
// arguments are held in the object itself, so a member access with a few arguments
// allocates nothing; each argument is built in place from what the caller wrote.
class AutomationArgs {
public:
    AutomationArgs() = default;
    // Positional arguments first, then named ones.
    template <class... T>
        requires(sizeof...(T) > 0 && (std::is_constructible_v<AutomationArg, T &&> && ...))
    AutomationArgs(T&&... args)
    {
        try {
            if constexpr (sizeof...(T) > InlineCapacity) {
                FMore.reserve(sizeof...(T));
                (FMore.emplace_back(std::forward<T>(args)), ...);
                FCount = sizeof...(T);
            } else {
                (AppendInline(std::forward<T>(args)), ...);
            }
            CheckOrder();
        } catch (...) {
            Reset();
            throw;
        }
    }
    explicit AutomationArgs(std::vector<AutomationArg> args);
    AutomationArgs(const AutomationArgs& other);
    AutomationArgs(AutomationArgs&& other) noexcept;
    AutomationArgs& operator=(AutomationArgs other) noexcept;
    ~AutomationArgs() { Reset(); }

    std::size_t Count() const { return FCount; }
    AutomationArg& operator[](std::size_t index) { return Data()[index]; }
    const AutomationArg& operator[](std::size_t index) const { return Data()[index]; }
    std::size_t PositionalCount() const;

    // The argument at positional index `position` or, failing that, the named argument
    // `name` (compared without regard to case); nullptr when neither was given.
    AutomationArg* Find(std::size_t position, std::string_view name);
    const AutomationArg* Find(std::size_t position, std::string_view name) const;

    AutomationArg* begin() { return Data(); }
    AutomationArg* end() { return Data() + FCount; }
    const AutomationArg* begin() const { return Data(); }
    const AutomationArg* end() const { return Data() + FCount; }

    // Whether an argument refers to `value` (a by-reference argument of that value).
    bool RefersTo(const AutomationValue& value) const;

private:
    static constexpr std::size_t InlineCapacity = 4;

    // Arguments live in FInline while there are at most InlineCapacity, else in FMore.
    AutomationArg* Data() { return FCount > InlineCapacity ? FMore.data() : Inline(); }
    const AutomationArg* Data() const { return FCount > InlineCapacity ? FMore.data() : Inline(); }
    AutomationArg* Inline() { return std::launder(reinterpret_cast<AutomationArg*>(FInline)); }
    const AutomationArg* Inline() const { return std::launder(reinterpret_cast<const AutomationArg*>(FInline)); }
    // One more argument held in the object itself (the count stays within InlineCapacity).
    template <class T>
    void AppendInline(T&& value)
    {
        new (Inline() + FCount) AutomationArg(std::forward<T>(value));
        ++FCount;
    }
    // Takes over other's arguments; other is left without any.
    void MoveFrom(AutomationArgs& other) noexcept;
    void CheckOrder() const;
    void Reset() noexcept;

    std::size_t FCount = 0;
    alignas(AutomationArg) unsigned char FInline[InlineCapacity * sizeof(AutomationArg)];
    std::vector<AutomationArg> FMore;
};

enum class InvokeKind { Call, Get, Put };

// A server object. Servers override Invoke; names compare without regard to case
// (use SameMemberName). An unknown member raises UnknownMember(member).
class AutomationObject : public std::enable_shared_from_this<AutomationObject> {
public:
    virtual ~AutomationObject() = default;

    // The object's type as the server names it ("Document", "Range"), for messages.
    virtual std::string TypeName() const = 0;
    // Calls, reads or writes `member`. For Put the new value is the single argument.
    virtual AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) = 0;

    // An application object that was told to quit is no longer running.
    bool HasQuit() const { return FQuit; }

protected:
    void MarkQuit() { FQuit = true; }
    [[noreturn]] void UnknownMember(std::string_view member) const;

private:
    bool FQuit = false;
};

// Case-insensitive comparison of ASCII member names.
inline bool SameMemberName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y) {
            if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
            if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
            if (x != y) return false;
        }
    }
    return true;
}
