#pragma once
// What the command-line programs share: refusing a bad command line, checking an
// output name before anything is done, and writing a small file of their own (such
// as a specification) the way every target is written.

#include <string>

// Prints "PROGRAM: MESSAGE" and the pointer to --help on standard error; returns 2, the
// exit code of bad usage.
int ToolUsageError(const char* Program, const std::string& Message);
// Why Output cannot be written as a file (a folder, a device, ...), empty when it can
// (it may not exist yet).
std::string OutputProblem(const std::string& Output);
// Why a file cannot be written at Output now: its folder is missing or not writable,
// or it exists and is read-only. Empty when it can.
std::string WriteProblem(const std::string& Output);
// Whether two names reach the same file: by device and inode when both exist, else by
// their absolute, normalised paths.
bool SameFile(const std::string& A, const std::string& B);
