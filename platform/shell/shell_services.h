#pragma once
// Services of the desktop shell that the export components use after a file is
// written: opening a file with the program the desktop associates with it, and
// handing a mail message (optionally with the file attached) to the mail system.
//
// Each service sits behind one small interface with a process-wide instance, so that
// tests and command-line programs can install a quiet recording replacement.
//
// System implementations:
//   Linux    open: "xdg-open FILE", started detached.
//            mail with the compose window: "xdg-email"; mail without a window: a MIME
//            message piped to "sendmail -t -i".
//   Windows  open: the shell's "open" verb; mail: Simple MAPI "MAPISendMail" from
//            "MAPI32.DLL".
// No command shell is ever involved: programs are started with argument vectors, so
// file names, subjects and addresses reach the tools byte for byte.

#include <optional>
#include <string>
#include <vector>

// Results of TMailService::SendMail. They are the Simple MAPI codes, so that a host
// sees the same numbers on every platform, plus -1 for "no mail system at all".
//
// How the Linux tools' outcomes map to them:
//   attachment path missing / not a regular file (checked first)   11
//   attachment not readable, or a read error while sending        12
//   text containing a NUL byte (cannot be passed on)               17
//   arguments too long for the system (E2BIG)                     18
//   malformed recipient address (control characters, <, >, ...)    14
//   direct send without any recipient                             25
//   tool not found, or cannot be executed                         -1
//   xdg-email exit 1 (syntax) 2, exit 2 (file missing) 11, exit 3 (no mail program)
//     -1, exit 4 (failed) 2, exit 5 (no read permission) 12, other exits / signals 2
//   sendmail exit (sysexits): 64 EX_USAGE, 65 EX_DATAERR 17; 67 EX_NOUSER, 68 EX_NOHOST
//     14; 69 EX_UNAVAILABLE, 74 EX_IOERR, 75 EX_TEMPFAIL, 76 EX_PROTOCOL 23;
//     77 EX_NOPERM 6; 78 EX_CONFIG 3; any other exit or a signal 2
enum TMailResult : int {
    mrNoMailLibrary = -1,       // the mail library (or tool) cannot be loaded
    mrSuccess = 0,              // SUCCESS_SUCCESS
    mrUserAbort = 1,            // MAPI_USER_ABORT
    mrNoSendFunction = 1,       // the library lacks "MAPISendMail"
    mrFailure = 2,              // MAPI_E_FAILURE
    mrLoginFailure = 3,         // MAPI_E_LOGIN_FAILURE
    mrAccessDenied = 6,         // MAPI_E_ACCESS_DENIED
    mrAttachmentNotFound = 11,  // MAPI_E_ATTACHMENT_NOT_FOUND
    mrAttachmentOpenFailure = 12, // MAPI_E_ATTACHMENT_OPEN_FAILURE
    mrUnknownRecipient = 14,    // MAPI_E_UNKNOWN_RECIPIENT
    mrInvalidMessage = 17,      // MAPI_E_INVALID_MESSAGE
    mrTextTooLarge = 18,        // MAPI_E_TEXT_TOO_LARGE
    mrNetworkFailure = 23,      // MAPI_E_NETWORK_FAILURE
    mrInvalidRecips = 25,       // MAPI_E_INVALID_RECIPS
};

// The single primary recipient of a message.
struct TMailRecipient {
    std::string Name;
    std::string Address;

    bool operator==(const TMailRecipient&) const = default;
};

// One message as the export components describe it. Text is bytes in the system's
// 8-bit encoding (UTF-8 on Linux, the ANSI code page on Windows).
struct TMailMessage {
    std::string Subject;
    std::string NoteText;                    // message body
    std::optional<TMailRecipient> Recipient; // none: the user fills it in
    std::optional<std::string> Attachment;   // path of the one attached file
    bool ShowCompose = true;                 // the mail program's compose window

    bool operator==(const TMailMessage&) const = default;
};

// Opens a file with the program associated with it.
class TDocumentOpener {
public:
    virtual ~TDocumentOpener() = default;
    // Starts the associated program and returns at once; false when it could not be
    // started (callers usually ignore that: a failed open is not reported).
    virtual bool OpenDocument(const std::string& FileName) = 0;
};

// Hands a message to the mail system.
class TMailService {
public:
    virtual ~TMailService() = default;
    // 0 on success, otherwise a TMailResult code (see above). With the compose window
    // this returns when the mail program has taken the message.
    virtual int SendMail(const TMailMessage& Message) = 0;
};

// The system implementations (see the top of this file).
class TSystemDocumentOpener : public TDocumentOpener {
public:
    bool OpenDocument(const std::string& FileName) override;
};

class TSystemMailService : public TMailService {
public:
    int SendMail(const TMailMessage& Message) override;

    // Linux: how long SendMail waits for xdg-email. Some mail programs keep it running
    // until their window closes; after this time the compose window is taken to be
    // up, SendMail returns 0 and the tool is left to finish alone.
    int ComposeWaitMilliseconds = 10000;
};

// Records every request and answers with a preset result; starts nothing.
class TRecordingDocumentOpener : public TDocumentOpener {
public:
    std::vector<std::string> Opened;
    bool Result = true;

    bool OpenDocument(const std::string& FileName) override
    {
        Opened.push_back(FileName);
        return Result;
    }
};

class TRecordingMailService : public TMailService {
public:
    std::vector<TMailMessage> Sent;
    int Result = mrSuccess;

    int SendMail(const TMailMessage& Message) override
    {
        Sent.push_back(Message);
        return Result;
    }
};

// The services in use: the installed ones, else the system ones.
TDocumentOpener& DocumentOpener();
TMailService& MailService();
// Install a replacement (not owned; nullptr restores the system one). Return the
// previously installed one.
TDocumentOpener* SetDocumentOpener(TDocumentOpener* Opener);
TMailService* SetMailService(TMailService* Service);

// Install replacements for a scope and restore the previous ones afterwards.
class TDocumentOpenerScope {
public:
    explicit TDocumentOpenerScope(TDocumentOpener* Opener) : FPrevious(SetDocumentOpener(Opener)) {}
    ~TDocumentOpenerScope() { SetDocumentOpener(FPrevious); }
    TDocumentOpenerScope(const TDocumentOpenerScope&) = delete;
    TDocumentOpenerScope& operator=(const TDocumentOpenerScope&) = delete;

private:
    TDocumentOpener* FPrevious;
};

class TMailServiceScope {
public:
    explicit TMailServiceScope(TMailService* Service) : FPrevious(SetMailService(Service)) {}
    ~TMailServiceScope() { SetMailService(FPrevious); }
    TMailServiceScope(const TMailServiceScope&) = delete;
    TMailServiceScope& operator=(const TMailServiceScope&) = delete;

private:
    TMailService* FPrevious;
};
