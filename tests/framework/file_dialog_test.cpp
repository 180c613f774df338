#include "framework/file_dialog.h"
#include "framework/files.h"

#include "tests/common/qt_application.h"
#include "tests/common/temp_folder.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

TEST(FileDialogFunction, CancelKeepsTheNameAndConfirmReplacesIt)
{
    TScriptedFileDialogService script;
    TFileDialogServiceScope scope(&script);
    script.Answers = {std::nullopt, std::string("/data/chosen.kve")};

    std::string name = "start.kve";
    EXPECT_FALSE(KVEOpenSaveFileDialog(nullptr, "", "Text files|*.txt;*.csv|All files (*.*)|*.*", "", "", name, true));
    EXPECT_EQ(name, "start.kve");
    EXPECT_EQ(script.Requests[0].Filters, (std::vector<TFileDialogFilter>{{"Text files", "*.txt;*.csv"},
                                                                          {"All files (*.*)", "*.*"}}));
    // A name longer than the platform's 260-character buffer is passed whole.
    name = "/" + std::string(300, 'n') + ".kve";
    EXPECT_TRUE(KVEOpenSaveFileDialog(nullptr, "kve", "", "", "", name, false));
    EXPECT_EQ(script.Requests[1].FileName.size(), 305u);
    EXPECT_EQ(name, "/data/chosen.kve");
}

TEST(FileDialogFunction, FilterPairsBecomeQtNameFilters)
{
    struct Case {
        TFileDialogFilter Filter;
        const char* Expected;
    } cases[] = {
        {{"Export specification", "*.KVE"}, "Export specification (*.KVE)"},
        {{"All files (*.*)", "*.*"}, "All files (*)"},
        {{"Text", "*.txt; *.csv"}, "Text (*.txt *.csv)"},
        {{"Pictures (*.bmp)", "*.png"}, "Pictures (*.bmp) (*.png)"},
        {{"Word", "*"}, "Word (*)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QtNameFilter(c.Filter), c.Expected) << c.Filter.Description;
    EXPECT_EQ(ParseFileFilter("a|*.a|dangling"), (std::vector<TFileDialogFilter>{{"a", "*.a"}}));
}

TEST(QtFileDialog, IsSetUpAsAskedWithTheFirstFilterSelected)
{
    EnsureQtApplication();
    TFileDialogRequest request;
    request.OpenDialog = false;
    request.Filters = ParseFileFilter("Export specification|*.KVE|All files (*.*)|*.*");
    request.DefaultExt = "kve";
    QFileDialog dialog;
    ConfigureFileDialog(dialog, request);
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog.nameFilters(), QStringList({"Export specification (*.KVE)", "All files (*)"}));
    EXPECT_EQ(dialog.selectedNameFilter(), "Export specification (*.KVE)");
    EXPECT_EQ(dialog.defaultSuffix(), "kve");
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));

    QFileDialog plain;
    ConfigureFileDialog(plain, TFileDialogRequest{});
    EXPECT_TRUE(plain.defaultSuffix().isEmpty());
}

// Runs the Qt service on a real dialog that "the user" answers with Name; any
// question the dialog asks on the way is counted and refused.
static std::optional<std::string> AnswerQtDialog(TFileDialogRequest Request, const std::string& Name, int& Questions)
{
    EnsureQtApplication();
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->selectFile(QString::fromStdString(Name));
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                ++Questions;
                box->reject();
            }
        });
        static_cast<QDialog*>(dialog)->accept(); // the file dialog's own accept, as its OK button
        if (dialog->isVisible())
            dialog->reject();
    });
    return TQtFileDialogService().Execute(Request);
}

TEST(QtFileDialog, OpenTakesAMissingNameAndSaveTakesAnExistingOneWithoutAsking)
{
    TempDir dir;
    WriteStringToFile(dir / "old.kve", "x");
    int questions = 0;

    TFileDialogRequest open;
    open.InitialDir = dir.Path;
    EXPECT_EQ(AnswerQtDialog(open, dir / "missing.kve", questions), dir / "missing.kve");

    TFileDialogRequest save;
    save.OpenDialog = false;
    save.InitialDir = dir.Path;
    EXPECT_EQ(AnswerQtDialog(save, dir / "old.kve", questions), dir / "old.kve");
    EXPECT_EQ(questions, 0);
    EXPECT_EQ(ReadFileToString(dir / "old.kve"), "x");
}
