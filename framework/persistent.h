#pragma once
// Objects whose settings can be copied from one to another with Assign.

#include <string>

class TPersistent {
public:
    virtual ~TPersistent() = default;

    // Copies Source's settings into this object. The base implementation asks the
    // source to assign itself (AssignTo); when neither side knows the other, it
    // raises EConvertError "Cannot assign a <source class> to a <this class>".
    virtual void Assign(const TPersistent* Source);

    // The class name of the most derived class (for messages).
    std::string ClassName() const;

protected:
    virtual void AssignTo(TPersistent* Dest) const;
    [[noreturn]] void AssignError(const TPersistent* Source) const;
};

// The demangled name of a type, for messages.
std::string DemangledTypeName(const char* mangled);

#include <functional>

// An event with only its sender (a component, or a collection the event concerns).
using TNotifyEvent = std::function<void(TPersistent* Sender)>;
