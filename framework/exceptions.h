#pragma once
// The exception classes of the framework. Every failure inside an export run is an
// Exception or one of its descendants; the run catches exactly this family.

#include <stdexcept>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// A text that cannot be read as a number, or an impossible assignment between
// persistent objects ("Cannot assign a X to a Y").
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// An index outside a list or collection ("List index out of bounds (%d)").
class EListError : public Exception {
public:
    using Exception::Exception;
    static EListError OutOfBounds(long long index);
};

// A stream error: a file that cannot be created, opened, read or written.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// A file that cannot be opened ("Cannot open file %s").
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
    static EFOpenError CannotOpen(const std::string& fileName, const std::string& reason = {});
};

// A file that cannot be created ("Cannot create file %s").
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
    static EFCreateError CannotCreate(const std::string& fileName, const std::string& reason = {});
};

// An object used as a class it is not ("Invalid class typecast").
class EInvalidCast : public Exception {
public:
    using Exception::Exception;
    EInvalidCast() : Exception("Invalid class typecast") {}
};

// A picture that cannot be decoded or saved.
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

// printf-style formatting of a message that holds %s / %d placeholders, the way the
// suite's message table uses them. Each argument fills the next placeholder; "%%"
// gives "%". Placeholders without an argument stay as they are.
std::string FormatMessage(const std::string& pattern, const std::string& arg);
std::string FormatMessage(const std::string& pattern, long long arg);
