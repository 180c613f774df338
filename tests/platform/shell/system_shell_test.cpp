// The system shell services with real processes: stand-in "sendmail", "xdg-email" and
// "xdg-open" scripts, put first on PATH, save their arguments and standard input.

#include "platform/shell/shell_services.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& Path)
{
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& Path, const std::string& Data)
{
    std::ofstream out(Path, std::ios::binary);
    out.write(Data.data(), static_cast<std::streamsize>(Data.size()));
}

// Arguments as the stand-ins save them: each followed by a NUL byte.
std::vector<std::string> SplitArgs(const std::string& Saved)
{
    std::vector<std::string> args;
    std::size_t start = 0;
    for (std::size_t nul; (nul = Saved.find('\0', start)) != std::string::npos; start = nul + 1)
        args.push_back(Saved.substr(start, nul - start));
    return args;
}

const std::string kReportName = "Bericht f\xC3\xBCr J\xC3\xBCrgen 1.doc";

class SystemShell : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "tabrix-shell-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        FDir = pattern;
        FBin = FDir / "bin";
        fs::create_directory(FBin);
        const char* path = std::getenv("PATH");
        FOldPath = path ? path : "";
        ::setenv("PATH", (FBin.string() + ":" + FOldPath).c_str(), 1);
    }

    void TearDown() override
    {
        ::setenv("PATH", FOldPath.c_str(), 1);
        std::error_code ec;
        fs::remove_all(FDir, ec);
    }

    // A stand-in tool: saves its arguments to <name>.args and its input to <name>.in,
    // then exits with the code in <name>.exit (0 when that file is absent).
    void StandIn(const std::string& Name, bool ReadInput)
    {
        std::string saved = (FDir / Name).string();
        std::string script = "#!/bin/sh\n"
                             "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + saved + ".args'\n";
        if (ReadInput)
            script += "cat > '" + saved + ".in'\n";
        script += "if [ -f '" + saved + ".exit' ]; then exit $(cat '" + saved + ".exit'); fi\nexit 0\n";
        fs::path file = FBin / Name;
        WriteFile(file, script);
        fs::permissions(file, fs::perms::owner_all);
    }

    void ExitWith(const std::string& Name, int Code) { WriteFile(FDir / (Name + ".exit"), std::to_string(Code)); }

    std::vector<std::string> SavedArgs(const std::string& Name) { return SplitArgs(ReadFile(FDir / (Name + ".args"))); }
    bool Ran(const std::string& Name) { return fs::exists(FDir / (Name + ".args")); }

    // A report file with every byte value, long enough to span several read blocks.
    fs::path MakeReport(std::size_t Size = 200003)
    {
        std::string data(Size, '\0');
        for (std::size_t i = 0; i < Size; ++i)
            data[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
        fs::path file = FDir / kReportName;
        WriteFile(file, data);
        return file;
    }

    fs::path FDir, FBin;
    std::string FOldPath;
};

TEST_F(SystemShell, DirectSendPipesAMimeMessageWithTheAttachmentIntact)
{
    StandIn("sendmail", true);
    fs::path report = MakeReport();

    TMailMessage m;
    m.Subject = "Monatsbericht f\xC3\xBCr J\xC3\xBCrgen";
    m.NoteText = "Hallo J\xC3\xBCrgen,\r\nanbei der Bericht.\r\n.\r\nGru\xC3\x9F";
    m.Recipient = TMailRecipient{"juergen@example.com", "juergen@example.com"};
    m.Attachment = report.string();
    m.ShowCompose = false;
    EXPECT_EQ(TSystemMailService().SendMail(m), mrSuccess);
    EXPECT_EQ(SavedArgs("sendmail"), (std::vector<std::string>{"-t", "-i"}));

    // Parse the message with an independent reader.
    if (std::system("python3 -c 'import email' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 is not available to parse the message";
    fs::path script = FDir / "parse.py";
    WriteFile(script,
              "import sys, email\n"
              "from email import policy\n"
              "d = sys.argv[1]\n"
              "msg = email.message_from_binary_file(open(d + '/sendmail.in', 'rb'), policy=policy.default)\n"
              "open(d + '/to', 'w', encoding='utf-8').write(str(msg['To']))\n"
              "open(d + '/subject', 'w', encoding='utf-8').write(str(msg['Subject']))\n"
              "open(d + '/body', 'w', encoding='utf-8', newline='').write(msg.get_body(('plain',)).get_content())\n"
              "atts = list(msg.iter_attachments())\n"
              "open(d + '/count', 'w').write(str(len(atts)))\n"
              "open(d + '/name', 'w', encoding='utf-8').write(atts[0].get_filename())\n"
              "open(d + '/payload', 'wb').write(atts[0].get_payload(decode=True))\n"
              "print(msg.defects, atts[0].defects)\n");
    std::string command = "python3 '" + script.string() + "' '" + FDir.string() + "' > '" + (FDir / "defects").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadFile(FDir / "defects"), "[] []\n");
    EXPECT_EQ(ReadFile(FDir / "to"), "juergen@example.com");
    EXPECT_EQ(ReadFile(FDir / "subject"), m.Subject);
    EXPECT_EQ(ReadFile(FDir / "body"), m.NoteText);
    EXPECT_EQ(ReadFile(FDir / "count"), "1");
    EXPECT_EQ(ReadFile(FDir / "name"), kReportName);
    EXPECT_EQ(ReadFile(FDir / "payload"), ReadFile(report));
}

TEST_F(SystemShell, ComposeWindowGetsTheFileNameUnchangedAndAnEncodedMailtoUri)
{
    StandIn("xdg-email", false);
    fs::path report = MakeReport(10);

    TMailMessage m;
    m.Subject = "Tabrix 4.61";
    m.NoteText = "C:\\new\\table -n\r\nzweite Zeile";
    m.Recipient = TMailRecipient{"juergen@example.com", "juergen@example.com"};
    m.Attachment = report.string();
    m.ShowCompose = true;
    EXPECT_EQ(TSystemMailService().SendMail(m), mrSuccess);
    EXPECT_EQ(SavedArgs("xdg-email"),
              (std::vector<std::string>{"--utf8", "--attach", report.string(),
                                        "mailto:juergen@example.com?subject=Tabrix%204.61"
                                        "&body=C%3A%5Cnew%5Ctable%20-n%0D%0Azweite%20Zeile"}));
}

TEST_F(SystemShell, ComposeWithoutRecipientOrTextCarriesOnlyTheFile)
{
    StandIn("xdg-email", false);
    fs::path report = MakeReport(10);
    TMailMessage m;
    m.Attachment = report.string();
    EXPECT_EQ(TSystemMailService().SendMail(m), mrSuccess);
    EXPECT_EQ(SavedArgs("xdg-email"), (std::vector<std::string>{"--utf8", "--attach", report.string(), "mailto:"}));
}

TEST_F(SystemShell, AMailProgramThatKeepsTheToolRunningIsNotWaitedForForever)
{
    WriteFile(FBin / "xdg-email", "#!/bin/sh\nsleep 3\nexit 4\n");
    fs::permissions(FBin / "xdg-email", fs::perms::owner_all);
    TSystemMailService service;
    service.ComposeWaitMilliseconds = 200;
    EXPECT_EQ(service.SendMail(TMailMessage{}), mrSuccess);
}

TEST_F(SystemShell, ToolExitCodesMapToMailResults)
{
    StandIn("xdg-email", false);
    StandIn("sendmail", true);
    fs::path report = MakeReport(100);
    TMailMessage compose;
    compose.Attachment = report.string();
    TMailMessage direct = compose;
    direct.Recipient = TMailRecipient{"a@example.com", "a@example.com"};
    direct.ShowCompose = false;

    const std::pair<int, int> xdg[] = {{1, mrFailure}, {2, mrAttachmentNotFound}, {3, mrNoMailLibrary},
                                       {4, mrFailure}, {5, mrAttachmentOpenFailure}};
    for (auto [exit, expected] : xdg) {
        ExitWith("xdg-email", exit);
        EXPECT_EQ(TSystemMailService().SendMail(compose), expected) << "xdg-email exit " << exit;
    }
    const std::pair<int, int> sendmail[] = {{64, mrFailure},        {65, mrInvalidMessage}, {67, mrUnknownRecipient},
                                            {68, mrUnknownRecipient}, {75, mrNetworkFailure}, {77, mrAccessDenied},
                                            {78, mrLoginFailure},   {1, mrFailure}};
    for (auto [exit, expected] : sendmail) {
        ExitWith("sendmail", exit);
        EXPECT_EQ(TSystemMailService().SendMail(direct), expected) << "sendmail exit " << exit;
    }
}

TEST_F(SystemShell, SendmailThatStopsReadingIsAFailureNotASuccess)
{
    // Exits at once with 0, without reading the (large) message.
    WriteFile(FBin / "sendmail", "#!/bin/sh\nexit 0\n");
    fs::permissions(FBin / "sendmail", fs::perms::owner_all);
    fs::path report = MakeReport(3 * 1024 * 1024);
    TMailMessage m;
    m.Recipient = TMailRecipient{"a@example.com", "a@example.com"};
    m.Attachment = report.string();
    m.ShowCompose = false;
    EXPECT_EQ(TSystemMailService().SendMail(m), mrFailure);
}

TEST_F(SystemShell, BadInputIsRefusedBeforeAnyToolStarts)
{
    StandIn("xdg-email", false);
    StandIn("sendmail", true);
    fs::path report = MakeReport(10);

    TMailMessage missing;
    missing.Attachment = (FDir / "no such file.doc").string();
    EXPECT_EQ(TSystemMailService().SendMail(missing), mrAttachmentNotFound);
    missing.Attachment = FDir.string(); // a folder is no file to attach
    EXPECT_EQ(TSystemMailService().SendMail(missing), mrAttachmentNotFound);
    missing.Attachment = report.string() + std::string("\0x", 2);
    EXPECT_EQ(TSystemMailService().SendMail(missing), mrAttachmentNotFound);

    TMailMessage injected;
    injected.Recipient = TMailRecipient{"a@example.com\nBcc: b@example.com", "a@example.com\nBcc: b@example.com"};
    injected.ShowCompose = false;
    EXPECT_EQ(TSystemMailService().SendMail(injected), mrUnknownRecipient);

    TMailMessage nul;
    nul.NoteText = std::string("before\0after", 12);
    EXPECT_EQ(TSystemMailService().SendMail(nul), mrInvalidMessage);

    TMailMessage nobody;
    nobody.ShowCompose = false;
    EXPECT_EQ(TSystemMailService().SendMail(nobody), mrInvalidRecips);

    EXPECT_FALSE(Ran("xdg-email"));
    EXPECT_FALSE(Ran("sendmail"));
}

TEST_F(SystemShell, MissingToolMeansNoMailLibrary)
{
    ::setenv("PATH", FBin.string().c_str(), 1); // an empty folder only
    TMailMessage compose;
    EXPECT_EQ(TSystemMailService().SendMail(compose), mrNoMailLibrary);
    if (fs::exists("/usr/sbin/sendmail") || fs::exists("/usr/lib/sendmail"))
        GTEST_SKIP() << "this machine has a sendmail outside PATH";
    TMailMessage direct;
    direct.Recipient = TMailRecipient{"a@example.com", "a@example.com"};
    direct.ShowCompose = false;
    EXPECT_EQ(TSystemMailService().SendMail(direct), mrNoMailLibrary);
}

TEST_F(SystemShell, OpenStartsXdgOpenDetachedWithTheFileName)
{
    StandIn("xdg-open", false);
    fs::path report = MakeReport(10);
    EXPECT_TRUE(TSystemDocumentOpener().OpenDocument(report.string()));
    // The program runs detached: wait for its record to appear.
    for (int i = 0; i < 200 && !Ran("xdg-open"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(SavedArgs("xdg-open"), (std::vector<std::string>{report.string()}));
}

TEST_F(SystemShell, OpenMakesRelativeNamesAbsoluteSoTheyCannotLookLikeOptions)
{
    StandIn("xdg-open", false);
    fs::path old = fs::current_path();
    fs::current_path(FDir);
    bool started = TSystemDocumentOpener().OpenDocument("-x.doc");
    fs::current_path(old);
    EXPECT_TRUE(started);
    for (int i = 0; i < 200 && !Ran("xdg-open"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(SavedArgs("xdg-open"), (std::vector<std::string>{(FDir / "-x.doc").string()}));
}

TEST_F(SystemShell, OpenWithoutXdgOpenFailsQuietly)
{
    ::setenv("PATH", FBin.string().c_str(), 1);
    EXPECT_FALSE(TSystemDocumentOpener().OpenDocument("/tmp/whatever.doc"));
    EXPECT_FALSE(TSystemDocumentOpener().OpenDocument(""));
}

TEST(ShellServices, InstalledReplacementsAreUsedAndRestored)
{
    TDocumentOpener* systemOpener = &DocumentOpener();
    TMailService* systemMail = &MailService();
    {
        TRecordingDocumentOpener opener;
        TRecordingMailService mail;
        TDocumentOpenerScope openerScope(&opener);
        TMailServiceScope mailScope(&mail);
        EXPECT_EQ(&DocumentOpener(), &opener);
        EXPECT_EQ(&MailService(), &mail);
    }
    EXPECT_EQ(&DocumentOpener(), systemOpener);
    EXPECT_EQ(&MailService(), systemMail);
}

} // namespace
