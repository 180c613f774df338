#include "export/export_dialog.h"
#include "export/save_spec_dialog.h"
#include "export/specification_file.h"

#include "framework/exceptions.h"
#include "framework/file_dialog.h"
#include "framework/files.h"
#include "framework/ui_services.h"

#include "tests/common/qt_application.h"
#include "tests/common/temp_folder.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Text(const QLineEdit* Edit)
{
    return Edit->text().toStdString();
}

// Answers the next name dialog: Script sees the filled dialog and says whether to
// press OK.
void AnswerNameDialog(std::function<bool(TfrmKVESaveSpec&)> Script)
{
    QTimer::singleShot(0, [Script] {
        auto* dialog = qobject_cast<TfrmKVESaveSpec*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (Script(*dialog))
            dialog->btnOk->click();
        else
            dialog->btnCancel->click();
    });
}

struct EventLog {
    std::vector<std::string> Events;
    void Attach(TKVExportBaseComponent& C)
    {
        C.OnBeforeSaveSpecification = [this](TPersistent*, std::string& Name) { Events.push_back("before save " + Name); };
        C.OnAfterSaveSpecification = [this](TPersistent*, std::string& Name) { Events.push_back("after save " + Name); };
        C.OnBeforeLoadSpecification = [this](TPersistent*, std::string& Name) { Events.push_back("before load " + Name); };
        C.OnAfterLoadSpecification = [this](TPersistent*, std::string& Name) { Events.push_back("after load " + Name); };
    }
};

} // namespace

TEST(SpecificationFiles, SaveThroughTheNameDialog)
{
    EnsureQtApplication();
    TRecordingUIServices ui;
    TUIServicesScope uiScope(&ui);
    TempDir dir;
    TKVExportBaseComponent component;
    component.SetFileName("/data/sales.txt");
    component.SpecificationDir = dir.Path;
    EventLog log;
    log.Attach(component);

    // The dialog is filled from the names given or proposed; Cancel keeps the names
    // passed in.
    std::vector<std::string> shown;
    AnswerNameDialog([&](TfrmKVESaveSpec& d) {
        shown = {d.windowTitle().toStdString(), d.lblSpecName->text().toStdString(), Text(d.edSpecName),
                 d.lblFileName->text().toStdString(), Text(d.edFileName), d.btnOk->text().toStdString(),
                 d.btnCancel->text().toStdString(), d.FileFilter};
        return false;
    });
    component.SaveSpecification("Monthly", dir / "given.kve", true);
    EXPECT_EQ(shown, (std::vector<std::string>{"Export specification", "Export specification", "Monthly",
                                               "Export to a File:", dir / "given.kve", "&OK", "&Cancel",
                                               "Export specification|*.KVE|All files (*.*)|*.*"}));
    EXPECT_TRUE(FileExists(dir / "given.kve"));

    // Without names the dialog proposes the caption and a file beside the others.
    AnswerNameDialog([&](TfrmKVESaveSpec& d) {
        shown = {Text(d.edSpecName), Text(d.edFileName)};
        d.edSpecName->setText("Typed");
        d.edFileName->setText(QString::fromStdString(dir / "typed.kve"));
        return true;
    });
    component.SaveSpecification("", "", true);
    EXPECT_EQ(shown, (std::vector<std::string>{"Export specification", dir / "sales.kve"}));
    EXPECT_NE(ReadFileToString(dir / "typed.kve").find("\r\nSpecification=Typed\r\n"), std::string::npos);

    // Empty names write nothing and fire nothing.
    component.SaveSpecification("", dir / "none.kve", false);
    component.SaveSpecification("Name", "", false);
    EXPECT_FALSE(FileExists(dir / "none.kve"));
    EXPECT_EQ(log.Events, (std::vector<std::string>{"before save " + dir / "given.kve", "after save " + dir / "given.kve",
                                                    "before save " + dir / "typed.kve",
                                                    "after save " + dir / "typed.kve"}));

    // The before-event may move the file; the after-event gets the name used.
    log.Events.clear();
    component.OnBeforeSaveSpecification = [&](TPersistent*, std::string& Name) { Name = dir / "moved.kve"; };
    component.SaveSpecification("Name", dir / "asked.kve", false);
    EXPECT_TRUE(FileExists(dir / "moved.kve"));
    EXPECT_EQ(log.Events, (std::vector<std::string>{"after save " + dir / "moved.kve"}));

    // A file that cannot be created fails loudly, without the after-event.
    log.Events.clear();
    log.Attach(component);
    EXPECT_THROW(component.SaveSpecification("Name", dir / "no/such/folder.kve", false), EFCreateError);
    EXPECT_EQ(log.Events, (std::vector<std::string>{"before save " + dir / "no/such/folder.kve"}));
}

TEST(SpecificationFiles, LoadThroughTheOpenDialog)
{
    EnsureQtApplication();
    TempDir dir;
    TKVExportBaseComponent writer;
    writer.TableName = "loaded";
    writer.SaveSpecification("Spec", dir / "spec.kve", false);

    TScriptedFileDialogService script;
    TFileDialogServiceScope scope(&script);
    script.Answers = {std::nullopt, dir / "missing.kve", dir / "spec.kve"};
    TKVExportBaseComponent component;
    EventLog log;
    log.Attach(component);

    component.LoadSpecification(""); // cancelled
    component.LoadSpecification(""); // a file that does not exist
    EXPECT_TRUE(log.Events.empty());
    EXPECT_EQ(component.TableName, "");
    component.LoadSpecification("");
    EXPECT_EQ(component.TableName, "loaded");
    EXPECT_EQ(log.Events, (std::vector<std::string>{"before load " + dir / "spec.kve", "after load " + dir / "spec.kve"}));
    ASSERT_EQ(script.Requests.size(), 3u);
    EXPECT_TRUE(script.Requests[0].OpenDialog);
    EXPECT_EQ(script.Requests[0].DefaultExt, "kve");
    EXPECT_EQ(script.Requests[0].Filters.size(), 2u);
    EXPECT_TRUE(script.Requests[0].Title.empty());

    // A name that the before-event turns into a missing file fails loudly.
    log.Events.clear();
    component.OnBeforeLoadSpecification = [&](TPersistent*, std::string& Name) { Name = dir / "gone.kve"; };
    EXPECT_THROW(component.LoadSpecification(dir / "spec.kve"), EFOpenError);
    EXPECT_TRUE(log.Events.empty());
}

// On this system a file name is bytes; one that is not UTF-8 goes through the boxes
// of both dialogs, and a browse that is cancelled, unchanged.
TEST(SpecificationFiles, LatinOneFileNamePassesThroughBothDialogs)
{
    EnsureQtApplication();
    TempDir dir;
    const std::string latin1 = dir / "caf\xE9";
    TScriptedFileDialogService script; // every browse is cancelled
    TFileDialogServiceScope scope(&script);

    TKVExportBaseComponent component;
    component.SetFileName(latin1 + ".txt");
    component.SpecificationDir = dir.Path;
    AnswerNameDialog([](TfrmKVESaveSpec& d) {
        d.btnFileName->click();
        return true;
    });
    component.SaveSpecification("Spec", "", true);
    EXPECT_TRUE(FileExists(latin1 + ".kve"));
    ASSERT_EQ(script.Requests.size(), 1u);
    EXPECT_EQ(script.Requests[0].FileName, latin1 + ".kve");

    TfrmExportDlg setup;
    std::string fileName = latin1 + ".txt", tableName;
    TTableTypeExport type = teWord;
    TCharacterSet charset = csANSI_WINDOWS;
    char separator = ';';
    bool addTitle = false, fixed = false, blankIfZero = false;
    int selected = 0;
    ASSERT_TRUE(setup.Prepare(nullptr, fileName, tableName, type, charset, separator, addTitle, fixed, blankIfZero,
                              selected, 1u << teWord));
    setup.btnOpenDlg->click();
    setup.ReadBack(fileName, tableName, type, charset, separator, addTitle, fixed, blankIfZero, selected);
    EXPECT_EQ(fileName, latin1 + ".DOC");
    EXPECT_EQ(script.Requests.back().FileName, latin1 + ".DOC");
}

// A named pipe would block the open for ever and a device would be read without end:
// both are refused at once, naming the file, whether typed or chosen in the dialog,
// and so is a file larger than a specification can be.
TEST(SpecificationFiles, OnlyRegularFilesAreReadOrWritten)
{
    EnsureQtApplication();
    TempDir dir;
    const std::string fifo = dir / "pipe.kve";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = dir / "big.kve";
    WriteStringToFile(big, "[Common]\r\n" + std::string(SpecificationMaxFileSize, ' '));
    TScriptedFileDialogService script;
    TFileDialogServiceScope scope(&script);
    script.Answers = {fifo};

    TKVExportBaseComponent component;
    const struct {
        std::string Name;
        const char* Cause;
    } loads[] = {{fifo, "It is not a regular file"}, {"/dev/zero", "It is not a regular file"},
                 {"", "It is not a regular file"}, // the open dialog's choice: the pipe
                 {big, "It is larger than 1048576 bytes"}};
    for (const auto& load : loads) {
        SCOPED_TRACE(load.Name);
        try {
            component.LoadSpecification(load.Name);
            ADD_FAILURE() << "loaded";
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.Message(), "Cannot open file \"" + (load.Name.empty() ? fifo : load.Name) + "\". " + load.Cause);
        }
    }
    for (const std::string& name : {fifo, std::string("/dev/zero")}) {
        try {
            component.SaveSpecification("Spec", name, false);
            ADD_FAILURE() << "saved to " << name;
        } catch (const EFCreateError& e) {
            EXPECT_EQ(e.Message(), "Cannot create file \"" + name + "\". It is not a regular file");
        }
    }
    // A link under the name is replaced, never written through, as every target is.
    const std::string elsewhere = dir / "elsewhere.kve", link = dir / "link.kve";
    WriteStringToFile(elsewhere, "keep");
    ASSERT_EQ(::symlink(elsewhere.c_str(), link.c_str()), 0);
    component.SaveSpecification("Spec", link, false);
    EXPECT_EQ(ReadFileToString(elsewhere), "keep");
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}
