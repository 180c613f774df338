#include "export/delivery.h"

#include "framework/exceptions.h"
#include "framework/string_list.h"
#include "framework/ui_services.h"
#include "platform/shell/shell_services.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

class Delivery : public ::testing::Test {
protected:
    TRecordingUIServices FUI;
    TRecordingMailService FMail;
    TRecordingDocumentOpener FOpener;
    TUIServicesScope FUIScope{&FUI};
    TMailServiceScope FMailScope{&FMail};
    TDocumentOpenerScope FOpenerScope{&FOpener};

    const TMailMessage& OnlyMessage()
    {
        EXPECT_EQ(FMail.Sent.size(), 1u);
        return FMail.Sent.front();
    }
};

TEST(SendTo, DefaultsAndAssign)
{
    TKVESendTo a;
    EXPECT_EQ(a.EMailRecipient, "");
    EXPECT_EQ(a.EMailSubject, "");
    EXPECT_EQ(a.EMailBody, "");
    EXPECT_TRUE(a.EMailOpenBeforeSend);

    a.EMailRecipient = "juergen@example.com";
    a.EMailSubject = "Bericht";
    a.EMailBody = std::string("line\0with nul", 13);
    a.EMailOpenBeforeSend = false;
    TKVESendTo b;
    b.Assign(&a);
    EXPECT_EQ(b.EMailRecipient, a.EMailRecipient);
    EXPECT_EQ(b.EMailSubject, a.EMailSubject);
    EXPECT_EQ(b.EMailBody, a.EMailBody);
    EXPECT_FALSE(b.EMailOpenBeforeSend);
}

TEST(SendTo, AssignFromAnotherKindRaisesAndChangesNothing)
{
    TKVESendTo a;
    a.EMailSubject = "kept";
    TStringList list;
    try {
        a.Assign(&list);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TStringList to a TKVESendTo");
    }
    EXPECT_THROW(a.Assign(nullptr), EConvertError);
    EXPECT_EQ(a.EMailSubject, "kept");
}

TEST_F(Delivery, EmptySubjectBecomesTheSuiteTitleAndTheFileIsAttached)
{
    TKVESendTo s;
    s.EMailBody = "Body";
    EXPECT_EQ(SendMailWith(s, "/tmp/out dir/Bericht f\xC3\xBCr J\xC3\xBCrgen 1.doc", "", true), 0);
    const TMailMessage& m = OnlyMessage();
    EXPECT_EQ(m.Subject, "Tabrix 4.61");
    EXPECT_EQ(m.NoteText, "Body");
    EXPECT_EQ(m.Attachment, "/tmp/out dir/Bericht f\xC3\xBCr J\xC3\xBCrgen 1.doc");
    EXPECT_TRUE(FUI.Boxes.empty());
}

TEST_F(Delivery, OwnSubjectIsKept)
{
    TKVESendTo s;
    s.EMailSubject = "Monatsbericht";
    SendMailWith(s, "a.doc", "", false);
    EXPECT_EQ(OnlyMessage().Subject, "Monatsbericht");
}

TEST_F(Delivery, WithoutRecipientTheComposeWindowIsShownEvenWhenNotAskedFor)
{
    TKVESendTo s;
    s.EMailOpenBeforeSend = false;
    SendMailWith(s, "a.doc", "", false);
    const TMailMessage& m = OnlyMessage();
    EXPECT_FALSE(m.Recipient.has_value());
    EXPECT_TRUE(m.ShowCompose);
}

TEST_F(Delivery, WithRecipientAndNoWindowTheMailGoesDirectly)
{
    TKVESendTo s;
    s.EMailRecipient = "juergen@example.com";
    s.EMailOpenBeforeSend = false;
    SendMailWith(s, "a.doc", "", false);
    const TMailMessage& m = OnlyMessage();
    ASSERT_TRUE(m.Recipient.has_value());
    EXPECT_EQ(*m.Recipient, (TMailRecipient{"juergen@example.com", "juergen@example.com"}));
    EXPECT_FALSE(m.ShowCompose);
}

TEST_F(Delivery, WithRecipientTheWindowFollowsTheSetting)
{
    TKVESendTo s;
    s.EMailRecipient = "juergen@example.com";
    SendMailWith(s, "a.doc", "", false);
    EXPECT_TRUE(OnlyMessage().ShowCompose);
    EXPECT_TRUE(OnlyMessage().Recipient.has_value());
}

TEST_F(Delivery, TextInsteadOfAFileMeansNoAttachmentAndTextAfterTheBody)
{
    TKVESendTo s;
    s.EMailBody = "Dear all,";
    SendMailWith(s, "ignored.doc", "the numbers", false);
    const TMailMessage& m = OnlyMessage();
    EXPECT_FALSE(m.Attachment.has_value());
    EXPECT_EQ(m.NoteText, "Dear all,\r\nthe numbers");

    FMail.Sent.clear();
    s.EMailBody.clear();
    SendMailWith(s, "ignored.doc", "only text", false);
    EXPECT_EQ(OnlyMessage().NoteText, "\r\nonly text");
}

TEST_F(Delivery, AFailureIsReturnedAndShownOnlyWhenAsked)
{
    TKVESendTo s;
    FMail.Result = -1;
    EXPECT_EQ(SendMailWith(s, "a.doc", "", true), -1);
    ASSERT_EQ(FUI.Boxes.size(), 1u);
    EXPECT_EQ(FUI.Boxes[0].Text, "-1 Error sending mail");
    EXPECT_EQ(FUI.Boxes[0].Kind, mkError);

    FMail.Result = mrAttachmentNotFound;
    EXPECT_EQ(SendMailWith(s, "a.doc", "", false), 11);
    EXPECT_EQ(FUI.Boxes.size(), 1u);
    EXPECT_EQ(SendMailWith(s, "a.doc", "", true), 11);
    ASSERT_EQ(FUI.Boxes.size(), 2u);
    EXPECT_EQ(FUI.Boxes[1].Text, "11 Error sending mail");
}

TEST_F(Delivery, ActionsAfterExport)
{
    TKVESendTo s;
    s.EMailBody = "Body";
    DeliverAfterExport(aeNone, "/tmp/a.doc", s, true);
    EXPECT_TRUE(FOpener.Opened.empty());
    EXPECT_TRUE(FMail.Sent.empty());

    DeliverAfterExport(aeOpenView, "/tmp/my report.doc", s, true);
    EXPECT_EQ(FOpener.Opened, (std::vector<std::string>{"/tmp/my report.doc"}));
    EXPECT_TRUE(FMail.Sent.empty());

    DeliverAfterExport(aeEMail, "/tmp/my report.doc", s, true);
    const TMailMessage& m = OnlyMessage();
    EXPECT_EQ(m.Attachment, "/tmp/my report.doc");
    EXPECT_EQ(m.NoteText, "Body");
    EXPECT_EQ(FOpener.Opened.size(), 1u);
    EXPECT_TRUE(FUI.Boxes.empty());
}

TEST_F(Delivery, AFailedOpenIsSilentAndAFailedMailIsShown)
{
    TKVESendTo s;
    FOpener.Result = false;
    FMail.Result = mrUserAbort;
    DeliverAfterExport(aeOpenView, "/nowhere/a.doc", s, true);
    EXPECT_TRUE(FUI.Boxes.empty());
    DeliverAfterExport(aeEMail, "/nowhere/a.doc", s, true);
    ASSERT_EQ(FUI.Boxes.size(), 1u);
    EXPECT_EQ(FUI.Boxes[0].Text, "1 Error sending mail");
}

// With the system mail service and no mail program anywhere on PATH.
TEST(DeliverySystem, NoMailProgramGivesMinusOneAndItsBox)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tabrix-delivery-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const char* path = std::getenv("PATH");
    std::string oldPath = path ? path : "";
    ::setenv("PATH", pattern.c_str(), 1);

    TRecordingUIServices ui;
    TUIServicesScope uiScope(&ui);
    TKVESendTo s; // no recipient: the compose window
    int result = SendMailWith(s, pattern + "/missing.doc", "some text", true);

    ::setenv("PATH", oldPath.c_str(), 1);
    std::filesystem::remove_all(pattern);
    EXPECT_EQ(result, -1);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Text, "-1 Error sending mail");
}

} // namespace
