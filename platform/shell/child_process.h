#pragma once
// Starting helper programs on POSIX systems from argument vectors (posix_spawn), never
// through a command shell, so that every argument reaches the program unchanged.

#ifndef _WIN32

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

// The full path of an executable Name: searched in PATH, then in ExtraFolders. Empty
// when none is found. A Name holding "/" is taken as a path as it is.
std::string FindProgram(const std::string& Name, const std::vector<std::string>& ExtraFolders = {});

// How a child process ended.
struct TChildExit {
    bool Exited = false; // ended through exit(); Code is its status
    int Code = 0;
    int Signal = 0;      // the signal that ended it, when not Exited
};

// One child process with an optional pipe to its standard input. The destructor
// kills and reaps a child that is still running, so none is ever left behind.
class TChildProcess {
public:
    TChildProcess() = default;
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Starts Program (a path) with Args (Args[0] is the program's own name). With
    // WithInput its standard input is a pipe fed by Write, else /dev/null. Returns 0
    // or the errno of the failure.
    int Start(const std::string& Program, const std::vector<std::string>& Args, bool WithInput);
    // Writes all of Data to the child's standard input; false when the child no
    // longer reads (it ended or closed its input).
    bool Write(const char* Data, std::size_t Size);
    bool Write(const std::string& Data) { return Write(Data.data(), Data.size()); }
    // Closes the input pipe: the child sees the end of its input.
    void CloseInput();
    // Ends the child at once (SIGKILL), before it can act on partial input.
    void Kill();
    // Waits for the child to end.
    TChildExit Wait();
    // Waits at most Milliseconds; false when the child is still running then.
    bool WaitFor(int Milliseconds, TChildExit& Exit);
    // Lets a running child go on alone; a background thread reaps it when it ends.
    void Detach();

private:
    pid_t FPid = -1;
    int FInput = -1;
};

// Starts Program detached: in its own session, standard input from /dev/null, reaped
// in the background when it ends. Returns 0 or the errno of the failure.
int StartDetached(const std::string& Program, const std::vector<std::string>& Args);

#endif
