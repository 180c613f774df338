#include "delivery.h"

#include "export/message_table.h"
#include "framework/ui_services.h"
#include "platform/shell/shell_services.h"

void TKVESendTo::Assign(const TPersistent* Source)
{
    if (const auto* other = dynamic_cast<const TKVESendTo*>(Source)) {
        EMailRecipient = other->EMailRecipient;
        EMailSubject = other->EMailSubject;
        EMailBody = other->EMailBody;
        EMailOpenBeforeSend = other->EMailOpenBeforeSend;
        return;
    }
    TPersistent::Assign(Source);
}

int SendMailWith(const TKVESendTo& SendTo, const std::string& FileName, const std::string& Text, bool ShowMessage)
{
    TMailMessage message;
    message.Subject = SendTo.EMailSubject.empty() ? std::string(GeneratorVer) : SendTo.EMailSubject;
    if (Text.empty()) {
        message.Attachment = FileName;
        message.NoteText = SendTo.EMailBody;
    } else {
        message.NoteText = SendTo.EMailBody + "\r\n" + Text;
    }
    if (!SendTo.EMailRecipient.empty())
        message.Recipient = TMailRecipient{SendTo.EMailRecipient, SendTo.EMailRecipient};
    message.ShowCompose = SendTo.EMailOpenBeforeSend || !message.Recipient;

    int result = MailService().SendMail(message);
    if (result != 0 && ShowMessage)
        UIServices().MessageBox(std::to_string(result) + " Error sending mail", mkError);
    return result;
}

void DeliverAfterExport(TActionAfterExport Action, const std::string& FileName, const TKVESendTo& SendTo,
                        bool ShowMessage)
{
    switch (Action) {
    case aeNone:
        break;
    case aeOpenView:
        DocumentOpener().OpenDocument(FileName);
        break;
    case aeEMail:
        SendMailWith(SendTo, FileName, std::string(), ShowMessage);
        break;
    }
}
