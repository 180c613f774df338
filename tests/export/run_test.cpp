// The export run: preparation, Prepare, closing, messages, restored process state,
// the progress window and delivery.

#include "export/export_component.h"
#include "export/message_table.h"
#include "export/progress_window.h"
#include "framework/exceptions.h"
#include "framework/format_settings.h"
#include "framework/ui_services.h"
#include "platform/shell/shell_services.h"
#include "tests/common/qt_application.h"

#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class TTestExporter : public TKVExportBaseComponent {
public:
    using TKVExportBaseComponent::TKVExportBaseComponent;
    std::function<void(TTestExporter&)> OnPrepare;
    int Prepared = 0;
    std::string Extension() override { return ".TST"; }
    void Prepare() override
    {
        ++Prepared;
        if (OnPrepare)
            OnPrepare(*this);
    }
};

class TOtherExporter : public TKVExportBaseComponent {
public:
    using TKVExportBaseComponent::TKVExportBaseComponent;
    std::string Extension() override { return ".OTH"; }
};

// Records boxes, cursor changes and, at every pending-event pass, the progress
// window's status text.
class TWatchingUI : public TRecordingUIServices {
public:
    TKVExportBaseComponent* Exporter = nullptr;
    std::vector<std::string> Statuses;
    void ProcessMessages() override
    {
        TRecordingUIServices::ProcessMessages();
        if (Exporter && Exporter->ProgressDlg()) {
            std::string s = Exporter->ProgressDlg()->StatusText();
            if (Statuses.empty() || Statuses.back() != s)
                Statuses.push_back(s);
        }
    }
};

class RunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureQtApplication();
        saved = FormatSettings();
        FormatSettings().DecimalSeparator = ".";
        FormatSettings().ThousandSeparator = ",";
        ui.Exporter = &exporter;
        ui.ForceHasGui = 0;
        exporter.AnimatedStatus = false;
        exporter.ColumnSource = csDataEngine;
        exporter.SetDataEngine(&engine);
        exporter.SetFileName("/tmp/tabrix-run-test/out.txt");
        engine.OnCount = [this](TPersistent*, int& count) { count = rows; };
        engine.OnFillColumns = [](TPersistent* sender) {
            auto* columns = static_cast<TKVEColumns*>(sender);
            columns->Add()->FieldName = "A";
            columns->Add()->FieldName = "B";
        };
    }
    void TearDown() override { FormatSettings() = saved; }

    TFormatSettings saved;
    TWatchingUI ui;
    TUIServicesScope uiScope{&ui};
    TRecordingDocumentOpener opener;
    TDocumentOpenerScope openerScope{&opener};
    TRecordingMailService mail;
    TMailServiceScope mailScope{&mail};
    TKVEVirtualDataEngine engine;
    TTestExporter exporter;
    int rows = 3;
};

TEST_F(RunTest, ColumnsFilledForTheRunAndClearedAfterwards)
{
    int seen = -1, visible = -1;
    exporter.OnPrepare = [&](TTestExporter& e) {
        seen = e.Columns().Count();
        visible = e.VisibleColumnCount;
        EXPECT_EQ(e.SourceEngine(), &engine);
        EXPECT_EQ(e.SourceRecordCount, 3);
    };
    exporter.Execute();
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(visible, 2);
    EXPECT_EQ(exporter.Columns().Count(), 0);
    EXPECT_FALSE(exporter.ColumnsPredefined);
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    EXPECT_EQ(exporter.SourceEngine(), nullptr);

    exporter.Columns().Add()->FieldName = "Mine";
    exporter.Columns().Add()->Visible = false;
    exporter.Execute();
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(visible, 1);
    ASSERT_EQ(exporter.Columns().Count(), 2);
    EXPECT_EQ(exporter.Columns()[0]->FieldName, "Mine");
    EXPECT_TRUE(exporter.ColumnsPredefined);
}

TEST_F(RunTest, SuccessMessageInABoxWithoutTheWindow)
{
    exporter.Execute();
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Text,
              "The /tmp/tabrix-run-test/out.txt file was successfully generated with exported data.");
    exporter.Options.Exclude(soShowMessage);
    exporter.Execute();
    EXPECT_EQ(ui.Boxes.size(), 1u);
}

TEST_F(RunTest, DefaultExtensionAndDefaultFileName)
{
    exporter.SetTableType(teWord);
    exporter.SetFileName("/tmp/tabrix-run-test/out");
    exporter.Execute();
    EXPECT_EQ(exporter.FileName(), "/tmp/tabrix-run-test/out.DOC");
    exporter.SetFileName("/tmp/tabrix-run-test/out.txt");
    exporter.Execute();
    EXPECT_EQ(exporter.FileName(), "/tmp/tabrix-run-test/out.txt");

    TOtherExporter fresh;
    EXPECT_EQ(fresh.FileName(), ProgramFolder() + "Tabrix.OTH");
    fresh.SetTableType(teRTF);
    EXPECT_EQ(fresh.FileName(), ProgramFolder() + "Tabrix.RTF");
    fresh.SetTableType(teClipboard);
    EXPECT_EQ(fresh.FileName(), ProgramFolder() + "Tabrix");
    EXPECT_EQ(TKVExportBaseComponent::GetDefExt(teLDIF), ".LDIF");
    EXPECT_EQ(TKVExportBaseComponent::GetDefExt(teExcel), ".XLS");
}

TEST_F(RunTest, MissingEngineFailsCleanly)
{
    exporter.SetDataEngine(nullptr);
    exporter.Columns().Add()->FieldName = "Predefined";
    FormatSettings().DecimalSeparator = "!";
    exporter.DataFormats().DecimalSeparator = ",";
    int before = 0, after = 0;
    exporter.OnBeforeExecute = [&](TPersistent*) { ++before; };
    exporter.OnAfterExecute = [&](TPersistent*) { ++after; };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Text, "Error of data export.: Property DataEngine is not specified.");
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
    EXPECT_EQ(ui.Cursor(), crDefault);
    EXPECT_EQ(FormatSettings().DecimalSeparator, "!");
    ASSERT_EQ(exporter.Columns().Count(), 1);
    EXPECT_EQ(exporter.Prepared, 0);
    EXPECT_TRUE(opener.Opened.empty());

    exporter.ColumnSource = csDataSet;
    exporter.Execute();
    EXPECT_EQ(ui.Boxes.back().Text, "Error of data export.: Property Dataset is not specified.");
    exporter.ColumnSource = csDBGrid;
    exporter.Execute();
    EXPECT_EQ(ui.Boxes.back().Text, "Error of data export.: Property DBGrid is not specified.");
}

TEST_F(RunTest, FailureInPrepareRestoresTheProcessState)
{
    FormatSettings().DecimalSeparator = "!";
    FormatSettings().CurrencyString = "EUR";
    exporter.DataFormats().DecimalSeparator = ",";
    exporter.DataFormats().CurrencyString = "\xD1\x80.";
    exporter.ActionAfterExport = aeOpenView;
    std::string textDuringRun;
    exporter.OnPrepare = [&](TTestExporter&) {
        textDuringRun = FloatToStr(1.5);
        EXPECT_EQ(ui.Cursor(), crHourGlass);
        throw EStreamError("disk full");
    };
    exporter.Execute();
    EXPECT_EQ(textDuringRun, "1,5");
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Text, "Error of data export.: disk full");
    EXPECT_EQ(FormatSettings().DecimalSeparator, "!");
    EXPECT_EQ(FormatSettings().CurrencyString, "EUR");
    EXPECT_EQ(ui.Cursor(), crDefault);
    EXPECT_EQ(exporter.Columns().Count(), 0);
    EXPECT_TRUE(opener.Opened.empty()); // a failed run delivers nothing
}

TEST_F(RunTest, ForeignExceptionsFailTheRunAndGoOnAfterTheClosing)
{
    struct Case {
        std::function<void()> Throw;
        std::string Box;
    };
    const Case cases[] = {
        {[] { throw std::runtime_error("not ours"); }, "Error of data export.: not ours"},
        {[] { throw std::bad_alloc(); }, "Error of data export.: std::bad_alloc"},
        {[] { throw 7; }, "Error of data export."},
    };
    FormatSettings().DecimalSeparator = "!";
    exporter.DataFormats().DecimalSeparator = ",";
    exporter.ActionAfterExport = aeOpenView;
    int after = 0;
    exporter.OnAfterExecute = [&](TPersistent*) { ++after; };
    for (const Case& c : cases) {
        ui.Boxes.clear();
        exporter.OnPrepare = [&](TTestExporter&) { c.Throw(); };
        bool passedOn = false;
        try {
            exporter.Execute();
        } catch (...) {
            passedOn = true;
        }
        EXPECT_TRUE(passedOn) << c.Box;
        EXPECT_EQ(exporter.Statistic().Result, erFailed) << c.Box;
        ASSERT_EQ(ui.Boxes.size(), 1u) << c.Box;
        EXPECT_EQ(ui.Boxes[0].Text, c.Box);
        EXPECT_EQ(FormatSettings().DecimalSeparator, "!");
        EXPECT_EQ(exporter.Columns().Count(), 0);
        EXPECT_EQ(ui.Cursor(), crDefault);
    }
    EXPECT_EQ(after, 3);
    EXPECT_TRUE(opener.Opened.empty()); // a failed run delivers nothing
}

TEST_F(RunTest, CancelThenExceptionIsAFailure)
{
    exporter.OnPrepare = [](TTestExporter& e) {
        e.SetProgressCanceled(true);
        throw Exception("late failure");
    };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
}

TEST_F(RunTest, CancelledRunIsReportedAndStillDelivered)
{
    exporter.ActionAfterExport = aeOpenView;
    exporter.OnPrepare = [](TTestExporter& e) { e.SetProgressCanceled(true); };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCanceled);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Text, "Data export was canceled by user.");
    ASSERT_EQ(opener.Opened.size(), 1u);
    EXPECT_EQ(opener.Opened[0], "/tmp/tabrix-run-test/out.txt");

    exporter.ActionAfterExport = aeEMail;
    exporter.SendTo().EMailRecipient = "someone@example.org";
    exporter.SendTo().EMailOpenBeforeSend = false;
    exporter.OnPrepare = nullptr;
    exporter.Execute();
    // The next run starts without the request, also when there is no window.
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    ASSERT_EQ(mail.Sent.size(), 1u);
    EXPECT_EQ(mail.Sent[0].Attachment.value_or(""), "/tmp/tabrix-run-test/out.txt");
    EXPECT_FALSE(mail.Sent[0].ShowCompose);
}

TEST_F(RunTest, BorrowedEngineSurvivesTheRun)
{
    QPointer<TKVEVirtualDataEngine> guard(&engine);
    exporter.Execute();
    exporter.Execute();
    EXPECT_FALSE(guard.isNull());
    EXPECT_EQ(exporter.DataEngine(), &engine);
}

TEST_F(RunTest, DestroyedEngineClearsTheReference)
{
    exporter.OnPrepare = [](TTestExporter& e) { e.Statistic().TotalCount = 5; };
    exporter.Execute();
    auto* temporary = new TKVEVirtualDataEngine();
    exporter.SetDataEngine(temporary);
    delete temporary;
    EXPECT_EQ(exporter.DataEngine(), nullptr);
    std::vector<int> closing;
    exporter.OnProgress = [&](TPersistent*, int cur, int, bool&) { closing.push_back(cur); };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_EQ(closing, std::vector<int>{0}); // not the 3 rows of the run before
    EXPECT_EQ(exporter.Statistic().TotalCount, 0);
}

TEST_F(RunTest, NegativeCountWithoutWindowReachesTheClosingProgress)
{
    rows = -1;
    std::vector<std::pair<int, int>> progress;
    exporter.OnProgress = [&](TPersistent*, int cur, int max, bool& abort) {
        progress.emplace_back(cur, max);
        abort = true; // ignored at the closing
    };
    exporter.Execute();
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0], std::make_pair(-1, -1));
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
}

TEST_F(RunTest, OnlyShowMessageLeavesCursorAndControlsAlone)
{
    exporter.Options = TKVOptions{soShowMessage};
    exporter.Execute();
    EXPECT_TRUE(ui.CursorChanges.empty());
    exporter.Options = DefaultOptions;
    exporter.Execute();
    EXPECT_EQ(ui.CursorChanges, (std::vector<TScreenCursor>{crHourGlass, crDefault}));
}

TEST_F(RunTest, AssignAcrossExporterClasses)
{
    exporter.Options = TKVOptions{soMergeData, soColorsFonts};
    exporter.DataFormats().DecimalSeparator = ";";
    exporter.ExportStyle().SetStyle(esRose);
    exporter.Header().SetText("h1\r\nh2\r\n");
    exporter.Footer().Add("f");
    exporter.Columns().Add()->FieldName = "X";
    exporter.SpecificationDir = "/specs";
    exporter.RowsPerFile = 7;
    exporter.Layout = elTabularForm;
    int calls = 0;
    exporter.OnProgress = [&](TPersistent*, int, int, bool&) { ++calls; };
    exporter.SetTableType(teRTF);

    TOtherExporter other;
    other.Assign(&exporter);
    EXPECT_EQ(other.Options, exporter.Options);
    EXPECT_EQ(other.DataFormats().DecimalSeparator, ";");
    EXPECT_EQ(other.ExportStyle().Style(), esRose);
    EXPECT_EQ(other.Header().Count(), 2);
    EXPECT_EQ(other.Footer().Count(), 1);
    ASSERT_EQ(other.Columns().Count(), 1);
    EXPECT_NE(other.Columns()[0], exporter.Columns()[0]);
    EXPECT_EQ(other.DataEngine(), &engine);
    EXPECT_EQ(other.ColumnSource, csDataEngine);
    EXPECT_EQ(other.RowsPerFile, 7);
    EXPECT_EQ(other.Layout, elTabularForm);
    EXPECT_EQ(other.TableType(), teRTF);
    EXPECT_EQ(other.FileName(), exporter.FileName());
    EXPECT_TRUE(other.SpecificationDir.empty());
    ASSERT_TRUE(other.OnProgress);
    bool abort = false;
    other.OnProgress(&other, 0, 0, abort);
    EXPECT_EQ(calls, 1);

    TStringList notAComponent;
    EXPECT_THROW(other.Assign(&notAComponent), EConvertError);
}

TEST_F(RunTest, LanguageStringEventIsPerComponent)
{
    TTestExporter second;
    exporter.OnGetLanguageString = [](TPersistent*, int id, std::string& text) {
        if (id == 16)
            text = "Abgebrochen";
        if (id == 48)
            text = "forty-eight";
    };
    EXPECT_EQ(exporter.GetLanguageString(16), "Abgebrochen");
    EXPECT_EQ(exporter.GetLanguageString(48), "forty-eight");
    EXPECT_EQ(second.GetLanguageString(16), "Data export was canceled by user.");
    EXPECT_EQ(second.GetLanguageString(128), "");
    EXPECT_EQ(exporter.GetLanguageString(2), strExportFinished);
}

TEST_F(RunTest, TitleRowCount)
{
    EXPECT_EQ(exporter.GetTitleRowCount(), 1);
    exporter.AddTitle = true;
    EXPECT_EQ(exporter.GetTitleRowCount(), 2);
    exporter.Options.Include(soBlankRowAfterCaptions);
    exporter.Header().Add("h");
    EXPECT_EQ(exporter.GetTitleRowCount(), 4);
}

// --- with the progress window ------------------------------------------------

class WindowRunTest : public RunTest {
protected:
    void SetUp() override
    {
        RunTest::SetUp();
        ui.ForceHasGui = 1;
        exporter.AnimatedStatus = true;
    }
};

TEST_F(WindowRunTest, SuccessTextShownInTheWindowNotInABox)
{
    exporter.OnPrepare = [](TTestExporter& e) { EXPECT_NE(e.ProgressDlg(), nullptr); };
    exporter.Execute();
    EXPECT_TRUE(ui.Boxes.empty());
    ASSERT_FALSE(ui.Statuses.empty());
    EXPECT_EQ(ui.Statuses.front(), "Exporting...");
    EXPECT_EQ(ui.Statuses.back(),
              "The /tmp/tabrix-run-test/out.txt file was successfully generated with exported data. (3/3)");
    EXPECT_EQ(exporter.ProgressDlg(), nullptr);
}

TEST_F(WindowRunTest, ZeroRowsHideTheBarAndEndWithZeroOfZero)
{
    rows = 0;
    bool barVisible = true;
    exporter.OnPrepare = [&](TTestExporter& e) {
        auto* bar = e.ProgressDlg()->Window()->findChild<QProgressBar*>();
        ASSERT_NE(bar, nullptr);
        barVisible = bar->isVisible();
    };
    exporter.Execute();
    EXPECT_FALSE(barVisible);
    ASSERT_FALSE(ui.Statuses.empty());
    EXPECT_EQ(ui.Statuses.back().substr(ui.Statuses.back().size() - 6), " (0/0)");
}

TEST_F(WindowRunTest, NegativeCountGivesAnEmptyHiddenBar)
{
    rows = -1;
    int maximum = -5;
    std::vector<std::pair<int, int>> progress;
    exporter.OnProgress = [&](TPersistent*, int cur, int max, bool&) { progress.emplace_back(cur, max); };
    exporter.OnPrepare = [&](TTestExporter& e) { maximum = e.ProgressDlg()->Maximum(); };
    exporter.Execute();
    EXPECT_EQ(maximum, 0);
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0], std::make_pair(0, 0));
}

TEST_F(WindowRunTest, UpdateStepThrottlesRefreshes)
{
    rows = 25;
    exporter.Statistic().UpdateStep = 10;
    std::vector<bool> results;
    exporter.OnPrepare = [&](TTestExporter& e) {
        for (int i = 0; i < 25; ++i) {
            int before = ui.ProcessMessagesCalls;
            e.UpdateProgressDlg("Exporting...", i);
            if (ui.ProcessMessagesCalls != before)
                results.push_back(true), ui.Statuses.push_back("refresh " + std::to_string(i));
        }
    };
    exporter.Execute();
    std::vector<std::string> refreshes;
    for (auto& s : ui.Statuses)
        if (s.rfind("refresh", 0) == 0)
            refreshes.push_back(s);
    EXPECT_EQ(refreshes, (std::vector<std::string>{"refresh 0", "refresh 10", "refresh 20"}));
    // 25 is not divisible by 10: the closing text never reaches the window.
    for (auto& s : ui.Statuses)
        EXPECT_EQ(s.find("successfully"), std::string::npos);
}

TEST_F(WindowRunTest, EscapeInTheWindowCancelsTheRun)
{
    exporter.OnPrepare = [](TTestExporter& e) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(e.ProgressDlg()->Window(), &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(e.ProgressDlg()->Window(), &release);
        e.UpdateProgressDlg("Exporting...", 1);
    };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCanceled);
    EXPECT_EQ(ui.Statuses.back(), "Data export was canceled by user. (3/3)");
}

TEST_F(WindowRunTest, CancelButtonAndWindowClose)
{
    exporter.OnPrepare = [](TTestExporter& e) {
        auto* button = e.ProgressDlg()->Window()->findChild<QPushButton*>();
        ASSERT_NE(button, nullptr);
        button->click();
    };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCanceled);

    exporter.OnPrepare = [](TTestExporter& e) { static_cast<TfrmKVEProcess*>(e.ProgressDlg())->close(); };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCanceled);

    // A new window clears the request of the previous run.
    exporter.OnPrepare = nullptr;
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
}

TEST_F(WindowRunTest, ThrowingClosingHandlerStillRestoresTheProcess)
{
    using Arm = std::function<void(TTestExporter&)>;
    const Arm arms[] = {
        [](TTestExporter& e) {
            e.OnProgress = [](TPersistent*, int, int, bool&) { throw Exception("progress handler broke"); };
        },
        [](TTestExporter& e) {
            e.OnGetLanguageString = [](TPersistent*, int id, std::string&) {
                if (id == 2)
                    throw Exception("language handler broke");
            };
        },
    };
    FormatSettings().DecimalSeparator = "!";
    exporter.DataFormats().DecimalSeparator = ",";
    exporter.ActionAfterExport = aeOpenView;
    for (const Arm& arm : arms) {
        exporter.OnProgress = nullptr;
        exporter.OnGetLanguageString = nullptr;
        arm(exporter);
        EXPECT_THROW(exporter.Execute(), Exception);
        EXPECT_EQ(exporter.Statistic().Result, erCompleted);
        EXPECT_EQ(FormatSettings().DecimalSeparator, "!");
        EXPECT_EQ(ui.Cursor(), crDefault);
        EXPECT_EQ(exporter.ProgressDlg(), nullptr);
        EXPECT_EQ(exporter.SourceEngine(), nullptr);
        EXPECT_EQ(exporter.Columns().Count(), 0);
    }
    EXPECT_TRUE(opener.Opened.empty()); // the closing's reports are skipped
}

TEST_F(WindowRunTest, WindowThatCannotBeCreatedShowsTheLoadErrorAndTheRunGoesOn)
{
    ui.ForceHasGui = 0;
    exporter.OnGetLanguageString = [](TPersistent*, int, std::string& text) { text = "changed"; };
    bool hadWindow = true;
    exporter.OnPrepare = [&](TTestExporter& e) {
        hadWindow = e.ProgressDlg() != nullptr;
        EXPECT_FALSE(e.UpdateProgressDlg("x", 1));
    };
    exporter.Execute();
    EXPECT_FALSE(hadWindow);
    ASSERT_GE(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Text, "Can't create a process dialog");
    EXPECT_EQ(ui.Boxes[0].Kind, mkError);
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
}

} // namespace
