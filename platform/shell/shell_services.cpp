#include "shell_services.h"

namespace {
TDocumentOpener* gOpener = nullptr;
TMailService* gMail = nullptr;
} // namespace

TDocumentOpener& DocumentOpener()
{
    if (gOpener)
        return *gOpener;
    static TSystemDocumentOpener system;
    return system;
}

TMailService& MailService()
{
    if (gMail)
        return *gMail;
    static TSystemMailService system;
    return system;
}

TDocumentOpener* SetDocumentOpener(TDocumentOpener* Opener)
{
    TDocumentOpener* previous = gOpener;
    gOpener = Opener;
    return previous;
}

TMailService* SetMailService(TMailService* Service)
{
    TMailService* previous = gMail;
    gMail = Service;
    return previous;
}
