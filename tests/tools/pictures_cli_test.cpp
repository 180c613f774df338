// tabrix-pictures run as a child process: usage, exit codes, the document it writes
// (read back by LibreOffice) and the bitmap test suite's good and bad files.

#include "tests/support/libreoffice_reader.h"
#include "tests/support/ooxml_schema_check.h"
#include "tests/support/test_pictures.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <filesystem>
#include <functional>

#include <csignal>
#include <sys/stat.h>

namespace {

struct RunResult {
    int ExitCode = -1;
    bool Crashed = false;
    bool TimedOut = false;
    std::string Out;
    std::string Err;
};

RunResult RunPictures(const std::vector<std::string>& Args, const std::string& WorkDir, int TimeoutMs = 120000,
                      const std::function<void(QProcess&)>& WhileRunning = {})
{
    QProcess process;
    process.setWorkingDirectory(QString::fromStdString(WorkDir));
    // The child's temporary files go to a folder of the test's own.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    std::filesystem::create_directories(WorkDir + "/tmp");
    env.insert("TMPDIR", QString::fromStdString(WorkDir + "/tmp"));
    process.setProcessEnvironment(env);
    QStringList args;
    for (const auto& a : Args)
        args << QString::fromStdString(a);
    process.start(QStringLiteral(TABRIX_PICTURES_EXE), args);
    RunResult result;
    if (!process.waitForStarted(30000)) {
        result.Crashed = true;
        return result;
    }
    if (WhileRunning)
        WhileRunning(process);
    if (!process.waitForFinished(TimeoutMs)) {
        result.TimedOut = true;
        process.kill();
        process.waitForFinished(10000);
    }
    result.Crashed = process.exitStatus() != QProcess::NormalExit;
    result.ExitCode = process.exitCode();
    result.Out += process.readAllStandardOutput().toStdString();
    result.Err = process.readAllStandardError().toStdString();
    return result;
}

std::vector<std::string> BitmapsIn(const std::string& folder)
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".bmp")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

class PicturesCliTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string Path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }
    std::string Dir() const { return dir.path().toStdString(); }

    static bool HaveLibreOffice()
    {
        static const bool available = LibreOfficeAvailable();
        return available;
    }

    QTemporaryDir dir;
};

TEST_F(PicturesCliTest, BadUsageExitsWithTwo)
{
    struct Case {
        std::vector<std::string> Args;
        const char* Says;
    } cases[] = {
        {{}, "no pictures"},
        {{"-o", "out.doc"}, "no pictures"},
        {{"--bogus", "a.bmp"}, "unknown option --bogus"},
        {{"-x"}, "unknown option -x"},
        {{"a.bmp", "-o"}, "needs a file name"},
        {{"-o", "", "a.bmp"}, "needs a file name"},
        {{"--output=", "a.bmp"}, "needs a file name"},
    };
    for (const Case& c : cases) {
        RunResult r = RunPictures(c.Args, Dir());
        EXPECT_FALSE(r.Crashed);
        EXPECT_EQ(r.ExitCode, 2) << c.Says;
        EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
    }
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty()) << "bad usage writes nothing";

    // An output that is a folder, a pipe or a terminal is refused before the run.
    std::filesystem::create_directories(Path("folder"));
    ASSERT_EQ(::mkfifo(Path("pipe.doc").c_str(), 0600), 0);
    for (const std::string& out : {Path("folder"), Path("folder/"), Path("pipe.doc"), std::string("/dev/stdout")}) {
        RunResult r = RunPictures({"-o", out, TABRIX_TEST_DATA "/red_16x8.bmp"}, Dir());
        EXPECT_EQ(r.ExitCode, 2) << out;
        EXPECT_NE(r.Err.find("the output " + out + " "), std::string::npos) << r.Err;
    }
    EXPECT_FALSE(std::filesystem::exists(Path("folder.DOC")));

    RunResult version = RunPictures({"--version"}, Dir());
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out.rfind("tabrix-pictures ", 0), 0u) << version.Out;

    RunResult help = RunPictures({"--help"}, Dir());
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_NE(help.Out.find("Usage: tabrix-pictures [-q] [-o FILE] PICTURE..."), std::string::npos) << help.Out;
    EXPECT_EQ(RunPictures({"-h", "--bogus"}, Dir()).ExitCode, 2);
}

TEST_F(PicturesCliTest, DefaultDocumentInTheCurrentFolder)
{
    std::filesystem::create_directories(Path("in/sub"));
    const std::string a = Path("in/sub/first.bmp");
    const std::string b = Path("in/-second.bmp");
    WriteTestPicture(a, 33, 21, 3);
    WriteTestPicture(b, 12, 40, 4);
    // "--" lets a picture name start with a dash.
    RunResult r = RunPictures({a, "--", b}, Dir());
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const std::string doc = Path("tabrix.doc");
    ASSERT_TRUE(std::filesystem::exists(doc));
    EXPECT_NE(r.Out.find("[1/2] " + a), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("[2/2] " + b), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find(doc), std::string::npos) << r.Out;
    EXPECT_EQ(ReadWholeFile(doc).rfind("{\\rtf1", 0), 0u) << "a .doc name is written as RTF";

    if (!HaveLibreOffice())
        GTEST_SKIP() << "LibreOffice is not available";
    LoDocument d = ReadWithLibreOffice(doc);
    ASSERT_GE(d.Paragraphs.size(), 3u);
    EXPECT_EQ(d.Paragraphs[0].Text, "Tabrix suite: https://tabrix.example.org");
    EXPECT_EQ(d.Paragraphs[1].Text, "Picture exporting");
    EXPECT_EQ(d.Paragraphs[2].Text, "");
    ASSERT_EQ(d.Tables.size(), 1u);
    EXPECT_EQ(d.Tables[0].Cell(0, 0), "Picture filename");
    EXPECT_EQ(d.Tables[0].Cell(0, 1), "Picture");
    EXPECT_EQ(d.Tables[0].Cell(1, 0), "first.bmp");
    EXPECT_EQ(d.Tables[0].Cell(2, 0), "-second.bmp");
    ASSERT_EQ(d.Pictures.size(), 2u);
    EXPECT_EQ(d.Pictures[0].PixelWidth, 33);
    EXPECT_EQ(d.Pictures[0].PixelHeight, 21);
    EXPECT_EQ(d.Pictures[1].PixelWidth, 12);
    EXPECT_EQ(d.Pictures[1].PixelHeight, 40);
}

TEST_F(PicturesCliTest, FailedRunExitsWithOneAndKeepsTheEarlierDocument)
{
    const std::string out = Path("out.docx");
    WriteWholeFile(out, "earlier");
    const std::string good = TABRIX_TEST_DATA "/red_16x8.bmp";

    RunResult missing = RunPictures({"-o", out, good, Path("missing.bmp")}, Dir());
    EXPECT_FALSE(missing.Crashed);
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_NE(missing.Err.find("Error of data export.: Cannot open file"), std::string::npos) << missing.Err;
    EXPECT_NE(missing.Err.find("missing.bmp"), std::string::npos) << missing.Err;

    RunResult foreign = RunPictures({"--output", out, TABRIX_TEST_DATA "/not_a_bitmap.bmp"}, Dir());
    EXPECT_EQ(foreign.ExitCode, 1);
    EXPECT_NE(foreign.Err.find("Error of data export.: "), std::string::npos) << foreign.Err;

    RunResult folder = RunPictures({"-o", out, Dir()}, Dir());
    EXPECT_EQ(folder.ExitCode, 1);
    EXPECT_NE(folder.Err.find("Cannot open file"), std::string::npos) << folder.Err;

    EXPECT_EQ(ReadWholeFile(out), "earlier") << "a failed run leaves the earlier document alone";
    EXPECT_FALSE(std::filesystem::exists(Path("tabrix.doc")));

    // A document that cannot be saved fails the run too.
    RunResult unsaved = RunPictures({"-o", Path("no/such/folder/x.doc"), good}, Dir());
    EXPECT_EQ(unsaved.ExitCode, 1) << unsaved.Out;
    EXPECT_FALSE(unsaved.Err.empty());

    RunResult ok = RunPictures({"--output=" + out, good}, Dir());
    EXPECT_EQ(ok.ExitCode, 0) << ok.Err;
    EXPECT_EQ(ReadWholeFile(out).rfind("PK", 0), 0u) << "a .docx name is written as Office Open XML";
    EXPECT_EQ(OoxmlSchemaFaults(out), "");
}

TEST_F(PicturesCliTest, ReportsTheDocumentItWroteOnce)
{
    const std::string picture = TABRIX_TEST_DATA "/red_16x8.bmp";
    RunResult r = RunPictures({"-o", "report", picture}, Dir());
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(std::filesystem::exists(Path("report.DOC")));
    EXPECT_NE(r.Out.find("Document written: " + Path("report.DOC") + "\n"), std::string::npos) << r.Out;
    EXPECT_EQ(r.Err, "") << "one success line, on standard output";

    RunResult quiet = RunPictures({"-q", "-o", "quiet.doc", picture}, Dir());
    EXPECT_EQ(quiet.ExitCode, 0) << quiet.Err;
    EXPECT_EQ(quiet.Out + quiet.Err, "");
}

TEST_F(PicturesCliTest, DamagedPictureAfterAGoodOneFailsTheRun)
{
    const std::string good = TABRIX_TEST_DATA "/gradient_40x30.bmp";
    const std::string cut = Path("cut.bmp");
    WriteWholeFile(cut, ReadWholeFile(good).substr(0, 100));
    RunResult r = RunPictures({"-o", Path("out.docx"), good, cut}, Dir());
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("Bitmap image is not valid: " + cut + ": the pixel data is cut short"), std::string::npos)
        << r.Err;
    EXPECT_FALSE(std::filesystem::exists(Path("out.docx")));
    EXPECT_TRUE(std::filesystem::is_empty(Path("tmp")));
}

TEST_F(PicturesCliTest, InterruptedRunLeavesNoTemporaryFile)
{
    // Enough large pictures that the run is still going when the signal arrives.
    std::vector<std::string> args{"-o", Path("out/big.docx")};
    std::filesystem::create_directories(Path("out"));
    for (int i = 0; i < 40; ++i) {
        const std::string file = Path("p" + std::to_string(i) + ".bmp");
        WriteTestPicture(file, 1200, 900, i);
        args.push_back(file);
    }
    for (int signal : {SIGTERM, SIGINT, SIGKILL}) {
        RunResult r = RunPictures(args, Dir(), 300000, [signal](QProcess& p) {
            // Once the first picture is under way, stop the run.
            while (p.state() == QProcess::Running && !p.canReadLine())
                p.waitForReadyRead(1000);
            ::kill(static_cast<pid_t>(p.processId()), signal);
        });
        ASSERT_FALSE(r.TimedOut);
        EXPECT_TRUE(r.Crashed) << "ends by its signal; exit code " << r.ExitCode << "\n" << r.Err;
        // A killed process cannot remove the one picture file it was handing over;
        // its picture spool and document parts have no names to leave behind.
        for (const auto& entry : std::filesystem::directory_iterator(Path("tmp"))) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(signal == SIGKILL && name.rfind("KVE", 0) == 0) << signal << ": " << name;
        }
        if (signal != SIGKILL) {
            for (const auto& entry : std::filesystem::directory_iterator(Path("out")))
                EXPECT_EQ(entry.path().filename(), "big.docx") << "only a finished document may stay";
        }
    }
}

TEST_F(PicturesCliTest, EveryGoodBitmapOfTheSuiteEmbeds)
{
    const std::vector<std::string> files = BitmapsIn(TABRIX_BMPSUITE "/g");
    ASSERT_FALSE(files.empty());
    std::vector<std::string> args{"-o", Path("good.docx")};
    args.insert(args.end(), files.begin(), files.end());
    RunResult r = RunPictures(args, Dir(), 300000);
    ASSERT_FALSE(r.TimedOut);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;

    if (!HaveLibreOffice())
        GTEST_SKIP() << "LibreOffice is not available";
    LoDocument d = ReadWithLibreOffice(Path("good.docx"));
    EXPECT_EQ(d.Pictures.size(), files.size());
    for (const LoPicture& p : d.Pictures)
        EXPECT_GT(p.PixelWidth * p.PixelHeight, 0) << "every picture decodes";
    ASSERT_EQ(d.Tables.size(), 1u);
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(d.Tables[0].Cell(i + 1, 0), std::filesystem::path(files[i]).filename().string());
}

TEST_F(PicturesCliTest, BadBitmapsEmbedOrFailCleanly)
{
    std::vector<std::string> embedded;
    for (const std::string& file : BitmapsIn(TABRIX_BMPSUITE "/b")) {
        const std::string out = Path("bad.doc");
        std::filesystem::remove(out);
        RunResult r = RunPictures({"-o", out, file}, Dir(), 60000);
        const std::string name = std::filesystem::path(file).filename().string();
        ASSERT_FALSE(r.TimedOut) << name;
        ASSERT_FALSE(r.Crashed) << name << "\n" << r.Err;
        if (r.ExitCode == 0) {
            EXPECT_TRUE(std::filesystem::exists(out)) << name;
            embedded.push_back(file);
        } else {
            EXPECT_EQ(r.ExitCode, 1) << name << "\n" << r.Err;
            EXPECT_NE(r.Err.find("Error of data export.: Bitmap image is not valid: " + file + ": "), std::string::npos)
                << name << "\n" << r.Err;
            EXPECT_FALSE(std::filesystem::exists(out)) << name << ": no document after a failure";
        }
    }
    if (embedded.empty())
        return;

    // What was accepted is a real picture to a reader nobody here wrote.
    std::vector<std::string> args{"-o", Path("accepted.docx")};
    args.insert(args.end(), embedded.begin(), embedded.end());
    RunResult all = RunPictures(args, Dir(), 300000);
    ASSERT_EQ(all.ExitCode, 0) << all.Err;
    if (!HaveLibreOffice())
        GTEST_SKIP() << "LibreOffice is not available";
    LoDocument d = ReadWithLibreOffice(Path("accepted.docx"));
    EXPECT_EQ(d.Pictures.size(), embedded.size());
}

} // namespace
