#include "export/save_spec_dialog.h"

#include "framework/file_dialog.h"

#include "tests/common/qt_application.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Presses OK or Cancel of the next modal dialog.
void Answer(bool Ok)
{
    QTimer::singleShot(0, [Ok] {
        if (auto* dialog = qobject_cast<TfrmKVESaveSpec*>(QApplication::activeModalWidget()))
            (Ok ? dialog->btnOk : dialog->btnCancel)->click();
    });
}

void Press(QWidget* Target, int Key, const QString& Text = {})
{
    QKeyEvent press(QEvent::KeyPress, Key, Qt::NoModifier, Text);
    QApplication::sendEvent(Target, &press);
}

} // namespace

// What a user types is kept by Enter and dropped by Escape, wherever the focus is
// but on Cancel.
TEST(SaveSpecDialog, EnterConfirmsAndEscapeCancels)
{
    EnsureQtApplication();
    const struct {
        int Key;
        int FocusTabs; // Tab presses from the first focus before the key
        QDialog::DialogCode Result;
    } cases[] = {
        {Qt::Key_Return, 2, QDialog::Accepted}, // in the name box
        {Qt::Key_Enter, 3, QDialog::Accepted},  // in the file box
        {Qt::Key_Return, 0, QDialog::Accepted}, // on OK
        {Qt::Key_Return, 1, QDialog::Rejected}, // on Cancel
        {Qt::Key_Escape, 2, QDialog::Rejected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.FocusTabs);
        TfrmKVESaveSpec dialog;
        dialog.edSpecName->setText("Old");
        QTimer::singleShot(0, [&] {
            Activate(dialog);
            for (int i = 0; i < c.FocusTabs; ++i)
                Press(dialog.focusWidget(), Qt::Key_Tab);
            if (dialog.focusWidget() == dialog.edSpecName) {
                dialog.edSpecName->selectAll();
                Press(dialog.edSpecName, Qt::Key_N, "N");
            }
            Press(dialog.focusWidget(), c.Key);
            if (dialog.isVisible())
                dialog.done(-1); // the key did nothing
        });
        EXPECT_EQ(dialog.exec(), c.Result);
        EXPECT_EQ(dialog.edSpecName->text(), c.FocusTabs == 2 ? "N" : "Old");
    }
}

// The layout's geometry for texts that fit it; longer ones widen their controls and
// the window instead of being cut.
TEST(SaveSpecDialog, LongTextsWidenTheControls)
{
    EnsureQtApplication();
    for (const char* text : {"Export to a File:", "Ein recht langer übersetzter Text, der nicht in das Feld passt:"}) {
        SCOPED_TRACE(text);
        TfrmKVESaveSpec dialog;
        for (QLabel* label : {dialog.lblSpecName, dialog.lblFileName})
            label->setText(QString::fromUtf8(text));
        dialog.btnCancel->setText(QString::fromUtf8(text).left(24));
        dialog.show();
        const bool fits = QFontMetrics(dialog.font()).horizontalAdvance(QString::fromUtf8(text)) <= 153;
        EXPECT_EQ(dialog.size() == QSize(351, 159), fits);
        EXPECT_GE(dialog.lblFileName->width(), QFontMetrics(dialog.font()).horizontalAdvance(QString::fromUtf8(text)));
        EXPECT_GT(dialog.btnCancel->width(), QFontMetrics(dialog.font()).horizontalAdvance(dialog.btnCancel->text()));
        EXPECT_LT(dialog.btnOk->geometry().right(), dialog.btnCancel->x());
        for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(dialog.rect().contains(child->geometry())) << child->objectName().toStdString();
    }
}

TEST(SaveSpecDialog, FixedSizeTabOrderAndResults)
{
    EnsureQtApplication();
    TfrmKVESaveSpec dialog;
    EXPECT_EQ(dialog.size(), QSize(351, 159));
    QWidget* order[] = {dialog.btnOk, dialog.btnCancel, dialog.edSpecName, dialog.edFileName, dialog.btnFileName};
    auto nextTabStop = [](QWidget* W) {
        do
            W = W->nextInFocusChain();
        while (!(W->focusPolicy() & Qt::TabFocus));
        return W;
    };
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(nextTabStop(order[i]), order[(i + 1) % 5]) << i;

    for (bool ok : {true, false}) {
        Answer(ok);
        EXPECT_EQ(dialog.exec(), ok ? QDialog::Accepted : QDialog::Rejected);
    }
}

TEST(SaveSpecDialog, BrowseAsksForAFileToSaveAndKeepsTheTextWhenCancelled)
{
    EnsureQtApplication();
    TScriptedFileDialogService script;
    TFileDialogServiceScope scope(&script);
    script.Answers = {std::string("/specs/new.kve"), std::nullopt};
    TfrmKVESaveSpec dialog;
    dialog.FileFilter = "Export specification|*.KVE|All files (*.*)|*.*";
    dialog.edFileName->setText("/specs/old.kve");

    dialog.btnFileName->click();
    EXPECT_EQ(dialog.edFileName->text(), "/specs/new.kve");
    dialog.btnFileName->click();
    EXPECT_EQ(dialog.edFileName->text(), "/specs/new.kve");

    ASSERT_EQ(script.Requests.size(), 2u);
    const TFileDialogRequest& request = script.Requests[0];
    EXPECT_FALSE(request.OpenDialog);
    EXPECT_EQ(request.Owner, &dialog);
    EXPECT_EQ(request.DefaultExt, "kve");
    EXPECT_EQ(request.FileName, "/specs/old.kve");
    EXPECT_EQ(request.Filters, (std::vector<TFileDialogFilter>{{"Export specification", "*.KVE"},
                                                               {"All files (*.*)", "*.*"}}));
    EXPECT_TRUE(request.Title.empty());
    EXPECT_TRUE(request.InitialDir.empty());
}
