#pragma once
// Files and file names. Names are UTF-8 bytes. The name helpers accept both "/" and
// "\" as folder delimiters, and ":" as a drive delimiter, so that names written for
// Windows ("C:\out\report.doc") take apart the same way as native ones.

#include <string>

// Whether FileName names an existing file that is not a folder.
bool FileExists(const std::string& FileName);
// Whether Name names an existing folder.
bool DirectoryExists(const std::string& Name);
// Deletes a file; false when it could not be deleted (missing, a folder, no right).
bool DeleteFile(const std::string& FileName);
// Size of a file in bytes, -1 when it cannot be examined.
long long FileSizeOf(const std::string& FileName);

// Whether C is "/" or "\".
inline bool IsPathDelimiter(char C) { return C == '/' || C == '\\'; }

// The folder part with its trailing delimiter ("C:\out\report.doc" -> "C:\out\");
// empty when there is none.
std::string ExtractFilePath(const std::string& FileName);
// What follows the last "/", "\" or drive colon.
std::string ExtractFileName(const std::string& FileName);
// The extension of the file-name part, with its dot (".doc"); empty when the name
// has none. A dot in a folder name is not an extension.
std::string ExtractFileExt(const std::string& FileName);
// FileName with its extension replaced by Extension (given with its dot); an empty
// Extension removes the extension; a name without one gets Extension appended.
std::string ChangeFileExt(const std::string& FileName, const std::string& Extension);
// Path with a delimiter at its end. An empty path stays empty; a path that already
// uses "\" and no "/" gets "\", any other path "/".
std::string IncludeTrailingPathDelimiter(const std::string& Path);
// Path without a trailing delimiter (a lone "/" stays as it is).
std::string ExcludeTrailingPathDelimiter(const std::string& Path);

// The folder for temporary files, with a trailing "/": $TMPDIR when it names a
// folder, else "/tmp/".
std::string GetTempFolder();
// Creates a new, empty file named Prefix + hexadecimal digits + ".tmp" in Folder (the
// temporary folder when empty) and returns its full name. The name is claimed
// atomically (O_EXCL): it never names a file that existed before. Names handed out by
// one process are all different. Raises EFCreateError when no file can be made.
std::string CreateTempFileName(const std::string& Prefix, const std::string& Folder = {});

// The whole content of a file, NUL bytes included. The file is opened for reading
// with other writers shut out while it is read. Raises EFOpenError ("Cannot open file
// ...", with the system's reason) when it cannot be opened and EStreamError when it
// cannot be read.
std::string ReadFileToString(const std::string& FileName);
// Creates (or replaces) FileName holding exactly Bytes; raises EFCreateError /
// EStreamError, and removes the partial file when the write fails.
void WriteStringToFile(const std::string& FileName, const std::string& Bytes);
