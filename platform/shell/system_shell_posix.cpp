// The shell services on Linux and other POSIX desktops: xdg-open, xdg-email and a
// local sendmail.

#ifndef _WIN32

#include "child_process.h"
#include "mime_message.h"
#include "shell_services.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// An absolute form of Path (made absolute against the current folder, nothing
// resolved), so that a name such as "-x.doc" or "a:b.doc" cannot be read as an option
// or a URL by the tools.
std::string AbsolutePath(const std::string& Path)
{
    if (!Path.empty() && Path[0] == '/')
        return Path;
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(Path), ec);
    return ec ? Path : absolute.string();
}

bool HasNul(const std::string& Text)
{
    return Text.find('\0') != std::string::npos;
}

// Percent-encoding for a mailto URI (RFC 6068): unreserved characters stay, and in an
// address also "@"; line breaks become CR LF (%0D%0A) as the URI scheme requires.
std::string MailtoEncode(const std::string& Text, bool Address)
{
    std::string out;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(Text[i]);
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'
                     || c == '.' || c == '_' || c == '~' || (Address && c == '@');
        if (plain) {
            out += static_cast<char>(c);
        } else if (c == '\r' || c == '\n') {
            out += "%0D%0A";
            if (c == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n')
                ++i;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string SingleLine(const std::string& Text)
{
    std::string out;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n')
            continue;
        out += (Text[i] == '\r' || Text[i] == '\n') ? ' ' : Text[i];
    }
    return out;
}

int MapSpawnError(int Error)
{
    return Error == E2BIG ? mrTextTooLarge : mrNoMailLibrary;
}

int MapXdgEmailExit(const TChildExit& Exit)
{
    if (!Exit.Exited)
        return mrFailure;
    switch (Exit.Code) {
    case 0: return mrSuccess;
    case 2: return mrAttachmentNotFound;   // file does not exist
    case 3: return mrNoMailLibrary;        // no mail program available
    case 5: return mrAttachmentOpenFailure; // no permission to read the file
    default: return mrFailure;             // 1 syntax, 4 operation failed, others
    }
}

int MapSendmailExit(const TChildExit& Exit)
{
    if (!Exit.Exited)
        return mrFailure;
    switch (Exit.Code) {
    case 0: return mrSuccess;
    case 65: return mrInvalidMessage;   // EX_DATAERR
    case 67:                            // EX_NOUSER
    case 68: return mrUnknownRecipient; // EX_NOHOST
    case 69:                            // EX_UNAVAILABLE
    case 74:                            // EX_IOERR
    case 75:                            // EX_TEMPFAIL
    case 76: return mrNetworkFailure;   // EX_PROTOCOL
    case 77: return mrAccessDenied;     // EX_NOPERM
    case 78: return mrLoginFailure;     // EX_CONFIG
    default: return mrFailure;          // 64 EX_USAGE, 70 EX_SOFTWARE, ...
    }
}

// Checks that can fail before anything is started. Returns 0 or a result code.
int CheckMessage(const TMailMessage& Message)
{
    if (HasNul(Message.Subject) || HasNul(Message.NoteText))
        return mrInvalidMessage;
    if (Message.Recipient) {
        if (HasNul(Message.Recipient->Name) || !IsPlainMailAddress(Message.Recipient->Address))
            return mrUnknownRecipient;
    }
    if (Message.Attachment) {
        const std::string& path = *Message.Attachment;
        struct stat st {};
        if (path.empty() || HasNul(path) || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return mrAttachmentNotFound;
        if (::access(path.c_str(), R_OK) != 0)
            return mrAttachmentOpenFailure;
    }
    return mrSuccess;
}

// The compose window through xdg-email. Recipient, subject and body travel in a
// mailto URI that is encoded here: the tool would pass --subject / --body texts
// through the shell's echo, which expands backslash sequences and drops a leading
// "-n".
int ComposeWithXdgEmail(const TMailMessage& Message, int WaitMilliseconds)
{
    std::string program = FindProgram("xdg-email");
    if (program.empty())
        return mrNoMailLibrary;
    std::string uri = "mailto:";
    if (Message.Recipient)
        uri += MailtoEncode(Message.Recipient->Address, true);
    std::string query;
    if (!Message.Subject.empty())
        query += "subject=" + MailtoEncode(SingleLine(Message.Subject), false);
    if (!Message.NoteText.empty())
        query += std::string(query.empty() ? "" : "&") + "body=" + MailtoEncode(Message.NoteText, false);
    if (!query.empty())
        uri += "?" + query;

    std::vector<std::string> args{"xdg-email", "--utf8"};
    if (Message.Attachment) {
        args.push_back("--attach");
        args.push_back(AbsolutePath(*Message.Attachment));
    }
    args.push_back(uri);
    TChildProcess child;
    if (int error = child.Start(program, args, false))
        return MapSpawnError(error);
    // Failures (no mail program, unreadable file) show at once; a tool still running
    // after the wait is holding the mail program's compose window.
    TChildExit exit;
    if (!child.WaitFor(WaitMilliseconds, exit)) {
        child.Detach();
        return mrSuccess;
    }
    return MapXdgEmailExit(exit);
}

// Reads exactly Size bytes unless the file ends first; -1 on a read error.
long ReadFull(int Fd, char* Buffer, std::size_t Size)
{
    std::size_t done = 0;
    while (done < Size) {
        ssize_t n = ::read(Fd, Buffer + done, Size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long>(done);
}

class TFileHandle {
public:
    explicit TFileHandle(int Fd) : FFd(Fd) {}
    ~TFileHandle()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

// Direct sending: the MIME message piped to "sendmail -t -i" ("-i": a line holding
// only "." is text, not the end of the message). The attachment is streamed from the
// file; when it cannot be read to the end, sendmail is killed before it sees the end
// of its input, so that no truncated message goes out.
int SendWithSendmail(const TMailMessage& Message)
{
    if (!Message.Recipient)
        return mrInvalidRecips;
    std::string program = FindProgram("sendmail", {"/usr/sbin", "/usr/lib"});
    if (program.empty())
        return mrNoMailLibrary;

    int fd = -1;
    if (Message.Attachment) {
        fd = ::open(Message.Attachment->c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return mrAttachmentOpenFailure;
    }
    TFileHandle file(fd);

    TMailMessage header = Message;
    header.Subject = SingleLine(Message.Subject);
    std::string name = Message.Attachment ? MailFileName(*Message.Attachment) : std::string();
    TMimeEnvelope envelope = ComposeMimeEnvelope(header, name, ChooseBoundary(Message.NoteText));

    TChildProcess child;
    if (int error = child.Start(program, {"sendmail", "-t", "-i"}, true))
        return MapSpawnError(error);

    bool written = child.Write(envelope.Head);
    if (written && file.Get() >= 0) {
        std::string buffer(57 * 1024, '\0'); // whole base64 lines per block
        for (;;) {
            long n = ReadFull(file.Get(), buffer.data(), buffer.size());
            if (n < 0) {
                child.Kill();
                child.Wait();
                return mrAttachmentOpenFailure;
            }
            if (n == 0)
                break;
            if (!child.Write(EncodeBase64Lines(buffer.substr(0, static_cast<std::size_t>(n))))) {
                written = false;
                break;
            }
            if (static_cast<std::size_t>(n) < buffer.size())
                break;
        }
    }
    if (written)
        written = child.Write(envelope.Tail);
    int result = MapSendmailExit(child.Wait());
    // A sendmail that stopped reading early cannot have sent the whole message.
    if (!written && result == mrSuccess)
        result = mrFailure;
    return result;
}
} // namespace

bool TSystemDocumentOpener::OpenDocument(const std::string& FileName)
{
    if (FileName.empty() || HasNul(FileName))
        return false;
    std::string program = FindProgram("xdg-open");
    if (program.empty())
        return false;
    return StartDetached(program, {"xdg-open", AbsolutePath(FileName)}) == 0;
}

int TSystemMailService::SendMail(const TMailMessage& Message)
{
    if (int check = CheckMessage(Message))
        return check;
    if (Message.ShowCompose)
        return ComposeWithXdgEmail(Message, ComposeWaitMilliseconds);
    return SendWithSendmail(Message);
}

#endif
