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

void ReplaceFileWith(const std::string& FileName, const std::string& Bytes)
{
    const auto fail = [&FileName](const std::string& Reason) {
        throw Exception("cannot write " + FileName + ": " + Reason);
    };
    const std::string name = std::filesystem::path(FileName).filename().string();
    std::string temp = FolderOf(FileName) + "/.~" + name + "-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        fail(std::strerror(errno));
    RegisterTemporaryFile(temp);
    const auto drop = [&](int Error) {
        ::close(fd);
        ::unlink(temp.c_str());
        ForgetTemporaryFile(temp);
        fail(std::strerror(Error));
    };
    struct stat old {};
    mode_t mode;
    if (::stat(FileName.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
        // The owner stays where the file is ours to give away (as root); otherwise ours.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd, mode) != 0)
        drop(errno);
    for (std::size_t done = 0; done < Bytes.size();) {
        const ssize_t n = ::write(fd, Bytes.data() + done, Bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            drop(n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0)
        drop(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        ForgetTemporaryFile(temp);
        fail(std::strerror(error));
    }
    if (::rename(temp.c_str(), FileName.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        ForgetTemporaryFile(temp);
        fail(std::strerror(error));
    }
    ForgetTemporaryFile(temp);
}
