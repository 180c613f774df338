#include "tools/command_line.h"

#include <iostream>

#include <sys/stat.h>

int ToolUsageError(const char* Program, const std::string& Message)
{
    std::cerr << Program << ": " << Message << "\n"
              << "Try '" << Program << " --help' for more information.\n";
    return 2;
}

std::string OutputProblem(const std::string& Output)
{
    struct stat st {};
    if (!Output.empty() && Output.back() == '/')
        return "the output " + Output + " names a folder";
    if (::stat(Output.c_str(), &st) != 0)
        return {};
    if (S_ISDIR(st.st_mode))
        return "the output " + Output + " is a folder";
    if (!S_ISREG(st.st_mode))
        return "the output " + Output + " is not a regular file";
    return {};
}
