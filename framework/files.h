#pragma once
// Files and file names. Names are UTF-8 bytes. The name helpers follow the system's
// own rules: on POSIX systems only "/" ends a folder, and "\" and ":" are ordinary
// letters of a name ("shot 12:30.bmp"); on Windows "/" and "\" end a folder and ":"
// ends a drive ("C:\out\report.doc").

#include <string>

// Whether FileName names an existing file that is not a folder.
bool FileExists(const std::string& FileName);
// Whether Name names an existing folder.
bool DirectoryExists(const std::string& Name);
// Deletes a file; false when it could not be deleted (missing, a folder, no right).
bool DeleteFile(const std::string& FileName);
// Size of a file in bytes, -1 when it cannot be examined.
long long FileSizeOf(const std::string& FileName);

// The characters that end a folder (or a drive) in a name.
// Whether the system's file names ignore letter case ("A.DOC" and "a.doc" are one
// file). Where they do not, a name's case is part of the name.
#ifdef _WIN32
inline constexpr bool FileNamesIgnoreCase = true;
#else
inline constexpr bool FileNamesIgnoreCase = false;
#endif

#ifdef _WIN32
inline constexpr const char* PathDelimiters = "/\\:";
inline bool IsPathDelimiter(char C) { return C == '/' || C == '\\'; }
#else
inline constexpr const char* PathDelimiters = "/";
inline bool IsPathDelimiter(char C) { return C == '/'; }
#endif

// The folder part with its trailing delimiter ("/out/report.doc" -> "/out/");
// empty when there is none.
std::string ExtractFilePath(const std::string& FileName);
// What follows the last delimiter.
std::string ExtractFileName(const std::string& FileName);
// The extension of the file-name part, with its dot (".doc"); empty when the name
// has none. A dot in a folder name is not an extension.
std::string ExtractFileExt(const std::string& FileName);
// FileName with its extension replaced by Extension (given with its dot); an empty
// Extension removes the extension; a name without one gets Extension appended.
std::string ChangeFileExt(const std::string& FileName, const std::string& Extension);
// Path with a delimiter at its end. An empty path stays empty; on Windows a path that
// already uses "\" and no "/" gets "\"; any other path gets "/".
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

// The content of a regular file of at most MaxSize bytes, read so that no other kind
// of file can stall the caller: it is opened without blocking (a named pipe swapped in
// for the file does not wait for a writer), then examined through the open handle.
// Others may read it but not write it while it is read. Raises EFOpenError ("Cannot
// open file ...") when it cannot be opened, is not a regular file or is larger than
// MaxSize, and EStreamError when it cannot be read whole.
std::string ReadRegularFile(const std::string& FileName, long long MaxSize);
// Replaces FileName (or creates it) with a file holding exactly Bytes, through a
// TFileReplacement (below): a symbolic link under the name is replaced, not followed; a
// folder, named pipe or device under it is refused; a replaced file keeps its mode and
// owner. Raises EFCreateError ("Cannot create file ...") or EStreamError.
void ReplaceFileWith(const std::string& FileName, const std::string& Bytes);
// Creates FileName, which must not exist yet (not even as a symbolic link), with
// mode 0600 and writes Bytes to it. Raises EFCreateError when the name is taken or the
// file cannot be made, EStreamError when the write fails; a partial file is removed.
void WriteStringToNewFile(const std::string& FileName, const std::string& Bytes);
// An open read-write file in Folder (the temporary folder when empty) that has no
// name: it disappears when closed, also when the process is killed. Returns the
// handle; raises EFCreateError.
int CreateAnonymousFile(const std::string& Folder = {});
// An anonymous file (as above) in the temporary folder holding Bytes. Returns the handle;
// raises EFCreateError, or EStreamError when the bytes cannot be written.
int CreateAnonymousFileWith(const std::string& Bytes);
// A name under which another opening of the handle's file is possible while the
// handle is open ("/proc/self/fd/N").
std::string HandleFileName(int Handle);

// Bytes handed on by a file name (a picture to a server that reads files) without a file
// in any folder: an anonymous file holding them, open while this object lives, named by
// its handle. Nothing of it outlives the process, even a killed one. Raises as
// CreateAnonymousFileWith.
class TAnonymousFile {
public:
    explicit TAnonymousFile(const std::string& Bytes) : FHandle(CreateAnonymousFileWith(Bytes)) {}
    ~TAnonymousFile();
    TAnonymousFile(const TAnonymousFile&) = delete;
    TAnonymousFile& operator=(const TAnonymousFile&) = delete;
    std::string Name() const { return HandleFileName(FHandle); }

private:
    int FHandle;
};

// A file a run opened to add to and will replace (a document or workbook opened for a
// merge). It stays open for as long as this object lives, and what is read of it is read
// through that descriptor (OpenedName), so a file put under the name meanwhile is never
// taken for it. Unless Lock is false (a template, which is read, never replaced), it holds
// an exclusive advisory lock (flock) on the file: a second merge into the same file, from
// this process or another, is refused while the first holds it.
//  - FileName must name a regular file; it is opened without blocking.
//  - CheckUnchanged raises when the name no longer holds this file (same device and
//    inode) or the file was written since it was opened (size and modification time).
// Raises EFOpenError ("Cannot open file ...") when the file cannot be opened or is not a
// regular file, Exception when another run holds it.
class TMergedFile {
public:
    explicit TMergedFile(const std::string& FileName, bool Lock = true);
    ~TMergedFile();
    TMergedFile(const TMergedFile&) = delete;
    TMergedFile& operator=(const TMergedFile&) = delete;

    const std::string& FileName() const { return FFileName; }
    int Handle() const { return FHandle; }
    long long Size() const { return FSize; }
    // A name that opens the opened file itself ("/proc/self/fd/N").
    std::string OpenedName() const { return HandleFileName(FHandle); }
    // Raises EStreamError ("The file '...' changed while it was open; it cannot be merged").
    void CheckUnchanged() const;
    // Reads up to Length bytes at Offset; returns the count read (less at the end).
    // Raises EStreamError when the file cannot be read.
    std::size_t ReadAt(long long Offset, char* Data, std::size_t Length) const;

private:
    std::string FFileName;
    int FHandle = -1;
    long long FSize = 0;
    long long FModifiedSec = 0, FModifiedNsec = 0;
};

// A file that replaces Target once it is complete: the one way a run writes a target.
//  - The file is made in Target's folder without a name (O_TMPFILE), so a run killed
//    before its end leaves nothing behind. Where the system cannot make one (no such file
//    system support, no /proc), it is created at once under its temporary name.
//  - The temporary name is "." + the target's name (shortened at a character boundary so
//    that the whole fits the folder's name limit) + ".tabrix-" + random digits; it is
//    claimed exclusively and without following a link, and listed for removal should the
//    program be interrupted. An unnamed file gets it only in Commit, just before the
//    rename.
//  - It is written only through Handle(), the descriptor that created it; nothing opens
//    it again by name.
//  - A new target gets the mode the umask leaves; a replaced regular file keeps its mode
//    and, where the process may give them, its owner and group (set on the descriptor).
//  - Commit flushes it to the disk and renames it over Target (a symbolic link at
//    Target is replaced, not followed), after checking that the temporary name still
//    holds this file. Without a Commit the temporary name, if any, is removed, if it
//    still holds this file.
// A Target that exists and is not a regular file or a symbolic link (a folder, a pipe, a
// device) is refused. Raises EFCreateError ("Cannot create file ...").
class TFileReplacement {
public:
    explicit TFileReplacement(const std::string& Target);
    ~TFileReplacement();
    TFileReplacement(const TFileReplacement&) = delete;
    TFileReplacement& operator=(const TFileReplacement&) = delete;

    const std::string& Target() const { return FTarget; }
    // The temporary name, or the target's while the file has none (for messages).
    const std::string& TempName() const { return FTempName.empty() ? FTarget : FTempName; }
    int Handle() const { return FHandle; }
    // Merged names the file the content was merged from, when there is one: it is checked
    // to be unchanged just before it is replaced.
    void Commit(const TMergedFile* Merged = nullptr);

    // Tests: called with the temporary name as soon as the file has one (when it is
    // created, or in Commit for a file made without a name).
    static void (*CreatedHook)(const std::string& TempName);

private:
    int CreateNamed(const std::string& Target);
    void CallCreatedHook();
    void RemoveName();
    bool StillOurs() const;

    std::string FTarget, FTempName, FNamePrefix;
    int FHandle = -1;
    bool FCommitted = false;
};

// Interruption (SIGINT, SIGTERM, SIGHUP). InstallInterruptHandler sets handlers that
// only record the signal; a run polls InterruptRequested and winds down the way a
// cancel does. Temporary files made next to a document are listed while they exist,
// so that an interrupted program can remove them on its way out.
void InstallInterruptHandler();
// What a signal does at once, in the handler, besides being recorded: cancelling the
// statement a database server runs for this process, which a run waiting for the server
// would otherwise not see before the server answers. Action must be async-signal-safe;
// null for none. RunInterruptAction calls it (for other handlers of the signals).
void SetInterruptAction(void (*Action)());
void RunInterruptAction();
// The signal that arrived since the handler was installed, 0 for none.
int InterruptSignal();
inline bool InterruptRequested() { return InterruptSignal() != 0; }
// Forgets a recorded signal (tests, or a program that carries on).
void ClearInterrupt();
// Raises Exception ("The run was interrupted") when a signal arrived.
void CheckInterrupt();
// Lists FileName as a temporary file of this process (by its device and inode, so
// that a file put in its place later is never taken for it) until Forget or removal.
void RegisterTemporaryFile(const std::string& FileName);
void ForgetTemporaryFile(const std::string& FileName);
// Removes every listed temporary file that is still the file that was listed.
void RemoveTemporaryFiles();
// Ends the program after an interruption: removes the temporary files, then ends with
// the signal's default action (the parent sees that the program was interrupted).
[[noreturn]] void ExitAfterInterrupt();
