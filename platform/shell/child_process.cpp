#include "child_process.h"

#ifndef _WIN32

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
bool IsExecutableFile(const std::string& Path)
{
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(Path.c_str(), X_OK) == 0;
}

// argv for posix_spawn; the strings must outlive the call.
std::vector<char*> ArgVector(const std::vector<std::string>& Args)
{
    std::vector<char*> argv;
    argv.reserve(Args.size() + 1);
    for (const std::string& a : Args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

bool HasNul(const std::string& Text)
{
    return Text.find('\0') != std::string::npos;
}

// Spawn attributes shared by every child: default SIGPIPE handling and an empty signal
// mask, whatever this process has set up for itself; optionally a session of its own.
class TSpawnAttributes {
public:
    explicit TSpawnAttributes(bool NewSession)
    {
        posix_spawnattr_init(&FAttr);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
        if (NewSession)
            flags |= POSIX_SPAWN_SETSID;
#else
        (void)NewSession;
#endif
        posix_spawnattr_setflags(&FAttr, flags);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&FAttr, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&FAttr, &defaults);
    }
    ~TSpawnAttributes() { posix_spawnattr_destroy(&FAttr); }
    const posix_spawnattr_t* Get() const { return &FAttr; }

private:
    posix_spawnattr_t FAttr;
};

class TFileActions {
public:
    TFileActions() { posix_spawn_file_actions_init(&FActions); }
    ~TFileActions() { posix_spawn_file_actions_destroy(&FActions); }
    posix_spawn_file_actions_t* Get() { return &FActions; }

private:
    posix_spawn_file_actions_t FActions;
};

TChildExit ExitOf(pid_t Result, int Status)
{
    TChildExit result;
    if (Result < 0) {
        result.Signal = -1; // cannot be told; treated as a failure
        return result;
    }
    if (WIFEXITED(Status)) {
        result.Exited = true;
        result.Code = WEXITSTATUS(Status);
    } else if (WIFSIGNALED(Status)) {
        result.Signal = WTERMSIG(Status);
    }
    return result;
}

TChildExit Reap(pid_t Pid)
{
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(Pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    return ExitOf(r, status);
}

} // namespace

std::string FindProgram(const std::string& Name, const std::vector<std::string>& ExtraFolders)
{
    if (Name.empty() || HasNul(Name))
        return {};
    if (Name.find('/') != std::string::npos)
        return IsExecutableFile(Name) ? Name : std::string();
    std::vector<std::string> folders;
    if (const char* path = std::getenv("PATH")) {
        std::string list = path;
        std::size_t start = 0;
        for (;;) {
            std::size_t colon = list.find(':', start);
            std::string folder = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
            // An empty entry would mean the current folder: never look there.
            if (!folder.empty())
                folders.push_back(folder);
            if (colon == std::string::npos)
                break;
            start = colon + 1;
        }
    }
    folders.insert(folders.end(), ExtraFolders.begin(), ExtraFolders.end());
    for (const std::string& folder : folders) {
        std::string candidate = folder + (folder.back() == '/' ? "" : "/") + Name;
        if (IsExecutableFile(candidate))
            return candidate;
    }
    return {};
}

TChildProcess::~TChildProcess()
{
    if (FPid > 0) {
        Kill();
        Wait();
    }
    CloseInput();
}

int TChildProcess::Start(const std::string& Program, const std::vector<std::string>& Args, bool WithInput)
{
    if (FPid > 0)
        return EBUSY;
    if (HasNul(Program))
        return EINVAL;
    for (const std::string& a : Args)
        if (HasNul(a))
            return EINVAL;

    int pipeEnds[2] = {-1, -1};
    TFileActions actions;
    if (WithInput) {
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
            return errno;
        posix_spawn_file_actions_adddup2(actions.Get(), pipeEnds[0], STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    TSpawnAttributes attributes(false);
    std::vector<char*> argv = ArgVector(Args);
    pid_t pid = -1;
    int error = ::posix_spawn(&pid, Program.c_str(), actions.Get(), attributes.Get(), argv.data(), environ);
    if (WithInput) {
        ::close(pipeEnds[0]);
        if (error != 0)
            ::close(pipeEnds[1]);
        else
            FInput = pipeEnds[1];
    }
    if (error != 0)
        return error;
    FPid = pid;
    return 0;
}

bool TChildProcess::Write(const char* Data, std::size_t Size)
{
    if (FInput < 0)
        return false;
    // A child that stops reading must not end this process with SIGPIPE: block the
    // signal while writing and take back one that the write raised.
    sigset_t pipeSignal, previousMask, pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previousMask);
    sigpending(&pending);
    bool wasPending = sigismember(&pending, SIGPIPE) == 1;

    bool ok = true;
    while (Size > 0) {
        ssize_t n = ::write(FInput, Data, Size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            if (errno == EPIPE && !wasPending) {
                struct timespec noWait {};
                while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
                }
            }
            break;
        }
        Data += n;
        Size -= static_cast<std::size_t>(n);
    }
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    return ok;
}

void TChildProcess::CloseInput()
{
    if (FInput >= 0) {
        ::close(FInput);
        FInput = -1;
    }
}

void TChildProcess::Kill()
{
    if (FPid > 0)
        ::kill(FPid, SIGKILL);
}

TChildExit TChildProcess::Wait()
{
    CloseInput();
    if (FPid <= 0)
        return {};
    TChildExit result = Reap(FPid);
    FPid = -1;
    return result;
}

bool TChildProcess::WaitFor(int Milliseconds, TChildExit& Exit)
{
    CloseInput();
    if (FPid <= 0) {
        Exit = {};
        return true;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Milliseconds);
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(FPid, &status, WNOHANG);
        if (r < 0 && errno == EINTR)
            continue;
        if (r != 0) {
            Exit = ExitOf(r, status);
            FPid = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void TChildProcess::Detach()
{
    CloseInput();
    if (FPid <= 0)
        return;
    pid_t pid = FPid;
    FPid = -1;
    std::thread([pid] { Reap(pid); }).detach();
}

int StartDetached(const std::string& Program, const std::vector<std::string>& Args)
{
    if (HasNul(Program))
        return EINVAL;
    for (const std::string& a : Args)
        if (HasNul(a))
            return EINVAL;
    TFileActions actions;
    posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    TSpawnAttributes attributes(true);
    std::vector<char*> argv = ArgVector(Args);
    pid_t pid = -1;
    int error = ::posix_spawn(&pid, Program.c_str(), actions.Get(), attributes.Get(), argv.data(), environ);
    if (error != 0)
        return error;
    // Nobody waits for the program; a background thread reaps it so that it does not
    // linger as a zombie.
    std::thread([pid] { Reap(pid); }).detach();
    return 0;
}

#endif
