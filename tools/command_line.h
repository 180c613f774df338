#pragma once
// What the command-line programs share: refusing a bad command line, and checking an
// output name before anything is done.

#include <string>

// Prints "PROGRAM: MESSAGE" and the pointer to --help on standard error; returns 2, the
// exit code of bad usage.
int ToolUsageError(const char* Program, const std::string& Message);
// Why Output cannot be written as a file (a folder, a device, ...), empty when it can
// (it may not exist yet).
std::string OutputProblem(const std::string& Output);
