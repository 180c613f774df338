#pragma once
// Running a reader program for a test and comparing bytes: the output of a shell
// command (standard error included), and bytes as hexadecimal digits.

#include <cstdio>
#include <string>

inline std::string Shell(const std::string& Command)
{
    std::string out;
    FILE* pipe = ::popen((Command + " 2>&1").c_str(), "r");
    if (!pipe)
        return "cannot run " + Command;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe))
        out.append(buf, n);
    ::pclose(pipe);
    return out;
}

inline std::string Hex(const std::string& Bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : Bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}
