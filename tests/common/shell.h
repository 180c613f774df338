#pragma once
// Runs a shell command and gives back what it wrote to standard output and standard
// error, for tests that read a file back through another program.

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
