#pragma once
// Handing a written file on after an export: open it with its associated program, or
// mail it. The export components own a TKVESendTo with the mail settings and call
// DeliverAfterExport / SendMailWith; the platform work is done by the shell services
// (platform/shell), which tests replace with recording ones.

#include "framework/persistent.h"

#include <string>

enum TActionAfterExport { aeNone, aeOpenView, aeEMail };

// The mail settings of an export component.
class TKVESendTo : public TPersistent {
public:
    std::string EMailRecipient;      // the single primary recipient; empty: none
    std::string EMailSubject;        // empty: the suite title
    std::string EMailBody;
    bool EMailOpenBeforeSend = true; // show the compose window instead of sending at once

    // From another TKVESendTo copies the four fields; from anything else raises
    // EConvertError ("Cannot assign a X to a TKVESendTo").
    void Assign(const TPersistent* Source) override;
};

// Mails FileName, or Text instead of a file:
// - subject EMailSubject, or the suite title when that is empty;
// - Text empty: FileName is attached and the body is EMailBody; Text not empty: no
//   attachment and the body is EMailBody, CR LF, Text;
// - EMailRecipient as the recipient's name and address, when not empty;
// - the compose window when EMailOpenBeforeSend is set or there is no recipient.
// Returns 0 or the mail service's code (-1: no mail system; see TMailResult). When
// that is not 0 and ShowMessage is set, an error box shows "<code> Error sending mail".
int SendMailWith(const TKVESendTo& SendTo, const std::string& FileName, const std::string& Text, bool ShowMessage);

// aeNone: nothing; aeOpenView: opens FileName with its associated program (a failure
// is not reported); aeEMail: SendMailWith(SendTo, FileName, "", ShowMessage).
void DeliverAfterExport(TActionAfterExport Action, const std::string& FileName, const TKVESendTo& SendTo,
                        bool ShowMessage);
