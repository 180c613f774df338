// The clipboard target on a real X server: the test runs itself again under xvfb-run,
// where the export puts its text on the clipboard and xclip reads it while the program
// holds it; Python's csv module then reads what xclip got.

#include "cellfile/clipboard_exporter.h"
#include "framework/data_set.h"
#include "framework/files.h"
#include "framework/ui_services.h"
#include "tests/common/awkward_texts.h"
#include "tests/common/qt_application.h"
#include "tests/common/temp_folder.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

// Under xvfb-run: exports to the clipboard and writes what xclip reads from it into the
// file TABRIX_CLIPBOARD_OUT names.
void ExportAndReadWithXclip(const std::string& Out)
{
    EnsureQtApplication();
    TRecordingUIServices ui;
    ui.ForceHasGui = 0;
    TUIServicesScope scope{&ui};
    TMemoryDataSet ds;
    AddAwkwardRecords(ds);
    TKVExportToClipboard clipboard;
    ExportQuietlyFrom(clipboard, ds);
    clipboard.AddTitle = true;
    clipboard.FieldDelimiter = ";";
    clipboard.TextQualifier = "\"";
    clipboard.Execute();
    ASSERT_EQ(clipboard.Statistic().Result, erCompleted);
    // The program answers xclip's request from its event loop while xclip waits.
    QProcess xclip;
    xclip.start("xclip", {"-o", "-selection", "clipboard"});
    ASSERT_TRUE(xclip.waitForStarted());
    for (int i = 0; i < 1000 && !xclip.waitForFinished(10); ++i)
        QCoreApplication::processEvents();
    ASSERT_EQ(xclip.exitCode(), 0) << xclip.readAllStandardError().toStdString();
    WriteStringToFile(Out, xclip.readAllStandardOutput().toStdString());
}

TEST(ClipboardExporterTest, TextReadBackByXclipWhileTheProgramHoldsIt)
{
    if (const char* out = std::getenv("TABRIX_CLIPBOARD_OUT")) {
        ExportAndReadWithXclip(out);
        return;
    }
    if (Shell("command -v xvfb-run").empty() || Shell("command -v xclip").empty())
        GTEST_SKIP() << "xvfb-run and xclip are not installed (scripts/setup.sh installs them)";
    TempDir dir{"tabrix_clipboard"};
    const std::string log = Shell("TABRIX_CLIPBOARD_OUT='" + dir / "clip.txt"
                                  + "' QT_QPA_PLATFORM=xcb xvfb-run -a /proc/" + std::to_string(::getpid())
                                  + "/exe --gtest_filter=ClipboardExporterTest.*");
    ASSERT_TRUE(FileExists(dir / "clip.txt")) << log;
    std::ofstream(dir / "read.py") << "import sys, csv\n"
                                      "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                      "    for row in csv.reader(f, delimiter=';', quotechar='\"'):\n"
                                      "        print(''.join(v.encode().hex() + '|' for v in row))\n";
    std::string expected = Hex("Text") + "|" + Hex("No") + "|\n";
    for (std::size_t i = 0; i < Awkward.size(); ++i)
        expected += Hex(Awkward[i]) + "|" + Hex(std::to_string(i)) + "|\n";
    expected += "||\n";
    EXPECT_EQ(Shell("/usr/bin/python3 '" + dir / "read.py" + "' '" + dir / "clip.txt" + "'"), expected) << log;
}

} // namespace
