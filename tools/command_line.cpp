#include "tools/command_line.h"

#include "framework/exceptions.h"
#include "framework/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int ToolUsageError(const char* Program, const std::string& Message)
{
    std::cerr << Program << ": " << Message << "\n"
              << "Try '" << Program << " --help' for more information.\n";
    return 2;
}

namespace {

std::string FolderOf(const std::string& Name)
{
    const std::filesystem::path parent = std::filesystem::path(Name).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

} // namespace

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

std::string WriteProblem(const std::string& Output)
{
    struct stat st {};
    if (::stat(Output.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return "cannot write " + Output + ": " + std::strerror(errno);
        const std::string folder = FolderOf(Output);
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return "cannot write " + Output + ": the folder " + folder + " does not exist";
        if (::access(folder.c_str(), W_OK | X_OK) != 0)
            return "cannot write " + Output + ": " + std::strerror(errno);
        return {};
    }
    // A replaced file is renamed over: the folder must take it, and a file its owner
    // made read-only is not replaced behind their back.
    if ((st.st_mode & S_IWUSR) == 0)
        return "cannot write " + Output + ": it is read-only";
    if (::access(Output.c_str(), W_OK) != 0 || ::access(FolderOf(Output).c_str(), W_OK | X_OK) != 0)
        return "cannot write " + Output + ": " + std::strerror(errno);
    return {};
}

bool SameFile(const std::string& A, const std::string& B)
{
    struct stat a {}, b {};
    const bool hasA = ::stat(A.c_str(), &a) == 0, hasB = ::stat(B.c_str(), &b) == 0;
    if (hasA && hasB)
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    if (hasA != hasB)
        return false;
    std::error_code ec1, ec2;
    const auto pathA = std::filesystem::weakly_canonical(std::filesystem::absolute(A, ec1), ec1);
    const auto pathB = std::filesystem::weakly_canonical(std::filesystem::absolute(B, ec2), ec2);
    return !ec1 && !ec2 && pathA == pathB;
}
