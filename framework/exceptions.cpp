#include "exceptions.h"

EListError EListError::OutOfBounds(long long index)
{
    return EListError("List index out of bounds (" + std::to_string(index) + ")");
}

EFOpenError EFOpenError::CannotOpen(const std::string& fileName, const std::string& reason)
{
    std::string text = "Cannot open file \"" + fileName + "\"";
    if (!reason.empty())
        text += ". " + reason;
    return EFOpenError(text);
}

EFCreateError EFCreateError::CannotCreate(const std::string& fileName, const std::string& reason)
{
    std::string text = "Cannot create file \"" + fileName + "\"";
    if (!reason.empty())
        text += ". " + reason;
    return EFCreateError(text);
}

namespace {
std::string FormatOne(const std::string& pattern, const std::string& text)
{
    std::string out;
    out.reserve(pattern.size() + text.size());
    bool used = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            char n = pattern[i + 1];
            if (n == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (!used && (n == 's' || n == 'd')) {
                out += text;
                used = true;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}
} // namespace

std::string FormatMessage(const std::string& pattern, const std::string& arg)
{
    return FormatOne(pattern, arg);
}

std::string FormatMessage(const std::string& pattern, long long arg)
{
    return FormatOne(pattern, std::to_string(arg));
}
