// The shell services on Windows: the shell's "open" verb and Simple MAPI.

#ifdef _WIN32

#include "shell_services.h"

#include <QApplication>
#include <QWidget>

#include <windows.h>
#include <mapi.h>
#include <shellapi.h>

namespace {
bool HasNul(const std::string& Text)
{
    return Text.find('\0') != std::string::npos;
}

// The window the compose dialog belongs to: the application's active window.
ULONG_PTR ParentWindow()
{
    if (QWidget* window = QApplication::activeWindow())
        return static_cast<ULONG_PTR>(window->window()->winId());
    return 0;
}

class TLibrary {
public:
    explicit TLibrary(const char* Name) : FModule(::LoadLibraryA(Name)) {}
    ~TLibrary()
    {
        if (FModule)
            ::FreeLibrary(FModule);
    }
    TLibrary(const TLibrary&) = delete;
    TLibrary& operator=(const TLibrary&) = delete;
    HMODULE Get() const { return FModule; }

private:
    HMODULE FModule;
};
} // namespace

bool TSystemDocumentOpener::OpenDocument(const std::string& FileName)
{
    if (FileName.empty() || HasNul(FileName))
        return false;
    HINSTANCE result = ::ShellExecuteA(nullptr, "open", FileName.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

int TSystemMailService::SendMail(const TMailMessage& Message)
{
    // MAPI takes C strings: a NUL byte would cut a text short without notice.
    if (HasNul(Message.Subject) || HasNul(Message.NoteText))
        return mrInvalidMessage;
    if (Message.Recipient && (HasNul(Message.Recipient->Name) || HasNul(Message.Recipient->Address)))
        return mrUnknownRecipient;
    if (Message.Attachment && HasNul(*Message.Attachment))
        return mrAttachmentNotFound;

    // Copies that MAPI may read through non-const pointers.
    std::string subject = Message.Subject;
    std::string note = Message.NoteText;
    std::string recipName = Message.Recipient ? Message.Recipient->Name : std::string();
    std::string recipAddress = Message.Recipient ? Message.Recipient->Address : std::string();
    std::string path = Message.Attachment ? *Message.Attachment : std::string();

    MapiMessage message {};
    MapiRecipDesc recipient {};
    MapiFileDesc file {};
    message.lpszSubject = subject.data();
    message.lpszNoteText = note.data();
    if (Message.Attachment) {
        file.nPosition = static_cast<ULONG>(-1);
        file.lpszPathName = path.data();
        message.nFileCount = 1;
        message.lpFiles = &file;
    }
    if (Message.Recipient) {
        recipient.ulRecipClass = MAPI_TO;
        recipient.lpszName = recipName.data();
        recipient.lpszAddress = recipAddress.data();
        message.nRecipCount = 1;
        message.lpRecips = &recipient;
    }

    TLibrary library("MAPI32.DLL");
    if (!library.Get())
        return mrNoMailLibrary;
    auto send = reinterpret_cast<LPMAPISENDMAIL>(reinterpret_cast<void*>(::GetProcAddress(library.Get(), "MAPISendMail")));
    if (!send)
        return mrNoSendFunction;
    FLAGS flags = Message.ShowCompose ? (MAPI_LOGON_UI | MAPI_DIALOG) : 0;
    return static_cast<int>(send(0, ParentWindow(), &message, flags, 0));
}

#endif
