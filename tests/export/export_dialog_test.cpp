#include "export/export_dialog.h"

#include "framework/file_dialog.h"
#include "framework/files.h"
#include "framework/ui_services.h"

#include "tests/common/qt_application.h"
#include "tests/common/temp_folder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace {

constexpr TExportFormatTypes Bit(TTableTypeExport T) { return 1u << T; }
// What the picture program's host offers: text, both spreadsheets, word processor and
// database table.
constexpr TExportFormatTypes Offered = Bit(teText) | Bit(teXLS) | Bit(teExcel) | Bit(teWord) | Bit(teAccess);

// The arguments of SetExportParam.
struct Params {
    std::string FileName;
    std::string TableName = "Items";
    TTableTypeExport TableType = teText;
    TCharacterSet CharacterSet = csASCII_MSDOS;
    char Separator = ';';
    bool AddTitle = true;
    bool Fixed = false;
    bool BlankIfZero = true;
    int SelectedRecord = 1;

    bool Run(TExportFormatTypes Formats)
    {
        return SetExportParam(nullptr, FileName, TableName, TableType, CharacterSet, Separator, AddTitle, Fixed,
                              BlankIfZero, SelectedRecord, Formats);
    }
    bool Prepare(TfrmExportDlg& Dialog, TExportFormatTypes Formats = Offered,
                 TKVECustomBaseComponent* Component = nullptr) const
    {
        return Dialog.Prepare(Component, FileName, TableName, TableType, CharacterSet, Separator, AddTitle, Fixed,
                              BlankIfZero, SelectedRecord, Formats);
    }
    auto Values() const
    {
        return std::tie(FileName, TableName, TableType, CharacterSet, Separator, AddTitle, Fixed, BlankIfZero,
                        SelectedRecord);
    }
};

// Runs Script on the next modal setup dialog; a script that returns true clicks OK,
// else Cancel.
void OnDialog(std::function<bool(TfrmExportDlg&)> Script)
{
    QTimer::singleShot(0, [Script] {
        if (auto* dialog = qobject_cast<TfrmExportDlg*>(QApplication::activeModalWidget()))
            (Script(*dialog) ? dialog->btnOk : dialog->btnCancel)->click();
    });
}

void Pick(TfrmExportDlg& Dialog, TTableTypeExport Type)
{
    for (int i = 0; i < Dialog.rgTableType->Count(); ++i)
        if (Dialog.rgTableType->Tag(i) == Type)
            Dialog.rgTableType->Button(i)->click();
}

void Press(QWidget* Target, int Key)
{
    QKeyEvent press(QEvent::KeyPress, Key, Qt::NoModifier);
    QApplication::sendEvent(Target, &press);
}

std::string FileText(const TfrmExportDlg& Dialog)
{
    return Dialog.edFileName->text().toStdString();
}

} // namespace

TEST(ExportDialog, LayoutAndInitialState)
{
    EnsureQtApplication();
    TfrmExportDlg dialog;
    ASSERT_TRUE(Params{"/out/a.txt"}.Prepare(dialog));
    EXPECT_EQ(dialog.size(), QSize(419, 305));
    EXPECT_EQ(dialog.pos(), QPoint(227, 130));
    const struct {
        QWidget* Control;
        QRect Geometry;
    } controls[] = {
        {dialog.rgTableType, {5, 3, 220, 230}},        {dialog.rgSeparator, {231, 3, 180, 110}},
        {dialog.edSymbol, {360, 87, 33, 21}},           {dialog.cbAddTitle, {233, 118, 180, 17}},
        {dialog.lblCharacterSet, {251, 198, 99, 13}},   {dialog.cbCharacterSet, {251, 212, 136, 21}},
        {dialog.bvlBtn, {0, 265, 419, 40}},             {dialog.btnOk, {280, 275, 65, 25}},
        {dialog.btnCancel, {350, 275, 65, 25}},         {dialog.lblFileName, {5, 243, 85, 13}},
        {dialog.edFileName, {91, 240, 274, 21}},        {dialog.btnOpenDlg, {366, 240, 21, 21}},
        {dialog.cbFixed, {233, 134, 180, 17}},          {dialog.cbSelectedRecord, {233, 150, 180, 17}},
        {dialog.cbBlankIfZero, {233, 166, 180, 17}},
    };
    // Declaration order is the order of the dialog's children, so later ones lie on top.
    const QObjectList children = dialog.children();
    int previous = -1;
    for (const auto& c : controls) {
        EXPECT_EQ(c.Control->geometry(), c.Geometry) << c.Control->objectName().toStdString();
        const int position = static_cast<int>(children.indexOf(c.Control));
        EXPECT_GT(position, previous) << c.Control->objectName().toStdString();
        previous = position;
    }
    EXPECT_TRUE(dialog.btnOk->isDefault());
    EXPECT_EQ(dialog.rgTableType->Count(), 5);
}

// The dialog is drawn at fixed pixel positions; the font it picks must leave every
// text whole, with the offered formats of the picture program and with all of them.
TEST(ExportDialog, EveryTextFitsItsControl)
{
    EnsureQtApplication();
    for (TExportFormatTypes formats : {Offered, AllFormats}) {
        TfrmExportDlg dialog;
        ASSERT_TRUE(Params{"/out/a.txt"}.Prepare(dialog, formats));
        for (QAbstractButton* box : dialog.findChildren<QAbstractButton*>()) {
            if (qobject_cast<QCheckBox*>(box) || qobject_cast<QRadioButton*>(box)) {
                EXPECT_LE(box->sizeHint().width(), box->width()) << box->text().toStdString();
            }
        }
        EXPECT_TRUE(dialog.ClippedControls().empty()) << formats;
        EXPECT_GE(dialog.font().pixelSize(), 8);
    }
}

// A host's translation longer than the layout's room: the layout's font stays and
// the controls, and the window, grow until every text is whole; nothing overlaps.
TEST(ExportDialog, LongTranslationsGrowTheControlsInsteadOfCuttingThem)
{
    EnsureQtApplication();
    TKVECustomBaseComponent component;
    component.OnGetLanguageString = [](TPersistent*, int Id, std::string& Text) {
        for (int longer : {11, 28, 31, 52, 64, 68})
            if (Id == longer)
                Text = "Ein recht langer übersetzter Text (" + std::to_string(Id) + "):";
    };
    for (TExportFormatTypes formats : {Offered, AllFormats}) {
        SCOPED_TRACE(formats);
        TfrmExportDlg dialog;
        ASSERT_TRUE(Params{"/out/a.txt"}.Prepare(dialog, formats, &component));
        EXPECT_TRUE(dialog.ClippedControls().empty());
        EXPECT_EQ(dialog.font().pixelSize(), 11);
        EXPECT_GT(dialog.width(), 419);
        for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(dialog.rect().contains(child->geometry())) << child->objectName().toStdString();
        EXPECT_LT(dialog.rgTableType->geometry().right(), dialog.rgSeparator->x());
        EXPECT_LT(dialog.lblFileName->geometry().right(), dialog.edFileName->x());
        EXPECT_LT(dialog.btnOk->geometry().right(), dialog.btnCancel->x());
        EXPECT_LT(dialog.cbCharacterSet->geometry().bottom(), dialog.edFileName->y());
    }
}

TEST(ExportDialog, HostTranslationReachesTheTexts)
{
    EnsureQtApplication();
    TKVECustomBaseComponent component;
    component.OnGetLanguageString = [](TPersistent*, int Id, std::string& Text) { Text = "#" + std::to_string(Id); };
    TfrmExportDlg dialog;
    ASSERT_TRUE(Params{"/out/a.txt"}.Prepare(dialog, Bit(teText) | Bit(teAccess), &component));
    const QString shown[] = {dialog.windowTitle(),           dialog.rgTableType->title(),
                             dialog.rgTableType->Button(1)->text(), dialog.rgSeparator->Button(4)->text(),
                             dialog.lblFileName->text(),     dialog.cbFixed->text(),
                             dialog.btnCancel->text()};
    EXPECT_EQ(QStringList(std::begin(shown), std::end(shown)).join(' '), "#10 #28 #42 #64 #68 #65 #12");
    EXPECT_EQ(dialog.FFilePrompt + dialog.FSaveDlgTitle, "#7#69");
}

TEST(ExportDialog, PreselectsThePassedFormatOrTheFirstOffered)
{
    EnsureQtApplication();
    const struct {
        TExportFormatTypes Formats;
        TTableTypeExport Passed;
        TTableTypeExport Selected;
    } cases[] = {
        {Bit(teXLS) | Bit(teExcel), teWord, teXLS},
        {Offered, teWord, teWord},
        {Offered, teExcel, teExcel},
    };
    for (const auto& c : cases) {
        TfrmExportDlg dialog;
        Params p{"/out/a.txt"};
        p.TableType = c.Passed;
        ASSERT_TRUE(p.Prepare(dialog, c.Formats));
        EXPECT_EQ(dialog.SelectedTableType(), c.Selected) << int(c.Passed);
    }
}

TEST(ExportDialog, SeparatorsRoundTrip)
{
    EnsureQtApplication();
    TempDir dir;
    const struct {
        char Passed;
        int Item;
        const char* Symbol;
        const char* Typed; // nullptr: the box is left alone
        char Returned;
    } cases[] = {
        {'\t', 0, "", nullptr, '\t'}, {';', 1, "", nullptr, ';'},   {',', 2, "", nullptr, ','},
        {' ', 3, "", nullptr, ' '},   {'|', 4, "|", nullptr, '|'}, {'\0', 4, "", nullptr, '\0'},
        {'\0', 4, "", "#", '#'},
    };
    for (const auto& c : cases) {
        Params p{dir / "out.txt"};
        p.Separator = c.Passed;
        OnDialog([&](TfrmExportDlg& d) {
            EXPECT_EQ(d.rgSeparator->ItemIndex(), c.Item) << int(c.Passed);
            EXPECT_EQ(d.edSymbol->text().toStdString(), c.Symbol);
            EXPECT_EQ(d.edSymbol->isEnabled(), c.Item == 4);
            if (c.Typed)
                d.edSymbol->setText(c.Typed);
            return true;
        });
        ASSERT_TRUE(p.Run(Offered));
        EXPECT_EQ(p.Separator, c.Returned) << int(c.Passed);
    }
}

// Without a file name OK stays disabled for every format, the clipboard included.
TEST(ExportDialog, EnablingRulesFollowTheFormat)
{
    EnsureQtApplication();
    const struct {
        TTableTypeExport Type;
        bool File, Separator, AddTitle, Fixed, CharacterSet;
    } cases[] = {
        {teParadox, true, false, false, false, false}, {teDBase, true, false, false, false, false},
        {teText, true, true, true, true, true},        {teClipboard, false, true, true, false, true},
        {teWord, true, false, true, false, true},      {teAccess, true, false, true, false, true},
    };
    TfrmExportDlg dialog;
    ASSERT_TRUE(Params{}.Prepare(dialog, AllFormats));
    for (const auto& c : cases) {
        Pick(dialog, c.Type);
        EXPECT_FALSE(dialog.btnOk->isEnabled()) << int(c.Type);
        EXPECT_EQ(dialog.edFileName->isEnabled(), c.File) << int(c.Type);
        EXPECT_EQ(dialog.btnOpenDlg->isEnabled(), c.File) << int(c.Type);
        EXPECT_EQ(dialog.rgSeparator->isEnabled(), c.Separator) << int(c.Type);
        EXPECT_EQ(dialog.cbAddTitle->isEnabled(), c.AddTitle) << int(c.Type);
        EXPECT_EQ(dialog.cbFixed->isEnabled(), c.Fixed) << int(c.Type);
        EXPECT_EQ(dialog.cbCharacterSet->isEnabled(), c.CharacterSet) << int(c.Type);
    }
    dialog.edFileName->setText("x");
    EXPECT_TRUE(dialog.btnOk->isEnabled());
}

TEST(ExportDialog, FormatChangesTheFileExtension)
{
    EnsureQtApplication();
    TfrmExportDlg dialog;
    ASSERT_TRUE(Params{"/out/report.TXT"}.Prepare(dialog, AllFormats));
    const struct {
        TTableTypeExport Type;
        const char* Name;
    } steps[] = {
        {teWord, "/out/report.DOC"}, {teClipboard, "/out/report"}, {teExcel, "/out/report.XLS"},
        {teLDIF, "/out/report.LDIF"},
    };
    for (const auto& s : steps) {
        Pick(dialog, s.Type);
        EXPECT_EQ(FileText(dialog), s.Name);
    }
}

// Typed letters become capitals only where file names ignore case; elsewhere
// "/srv/May Sales.doc" is another file than "/SRV/MAY SALES.DOC".
TEST(ExportDialog, TypedLettersKeepTheirCaseWhereFileNamesHaveOne)
{
    EnsureQtApplication();
    TfrmExportDlg dialog;
    ASSERT_TRUE(Params{"/home/me/out.txt"}.Prepare(dialog));
    EXPECT_EQ(FileText(dialog), "/home/me/out.TXT");
    dialog.edFileName->setCursorPosition(9);
    for (const char* key : {"o", "x", "\xc3\xa4"}) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8(key));
        QApplication::sendEvent(dialog.edFileName, &press);
    }
    EXPECT_EQ(dialog.edFileName->text(), QString::fromUtf8(FileNamesIgnoreCase ? "/home/me/OX\xc3\x84out.TXT"
                                                                                : "/home/me/ox\xc3\xa4out.TXT"));
    EXPECT_EQ(dialog.edFileName->cursorPosition(), 12);
}

// The focus starts on the selected format and Tab follows the declaration order;
// Enter confirms while OK is enabled and does nothing otherwise; Escape cancels.
TEST(ExportDialog, KeyboardFocusTabEnterAndEscape)
{
    EnsureQtApplication();
    TempDir dir;
    std::vector<std::string> visited;
    const struct {
        const char* FileName; // empty: OK stays disabled
        int Key;
        int Result; // -1: the key did nothing
    } cases[] = {
        {"a.txt", Qt::Key_Return, QDialog::Accepted},
        {"", Qt::Key_Enter, -1},
        {"a.txt", Qt::Key_Escape, QDialog::Rejected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Key);
        TfrmExportDlg dialog;
        ASSERT_TRUE(Params{*c.FileName ? dir / c.FileName : ""}.Prepare(dialog));
        QTimer::singleShot(0, [&] {
            Activate(dialog);
            visited.clear();
            QWidget* first = dialog.focusWidget();
            do {
                QWidget* w = dialog.focusWidget();
                auto* button = qobject_cast<QRadioButton*>(w);
                visited.push_back((button ? button->text() : w->objectName()).toStdString());
                Press(dialog.focusWidget(), Qt::Key_Tab);
            } while (dialog.focusWidget() != first && visited.size() < 30);
            Press(dialog.focusWidget(), c.Key);
            if (dialog.isVisible())
                dialog.done(-1);
        });
        EXPECT_EQ(dialog.exec(), c.Result);
        std::vector<std::string> order = {"Text file (*.txt)", "Semicolon", "cbAddTitle", "cbCharacterSet", "btnOk",
                                          "btnCancel", "edFileName", "btnOpenDlg", "cbFixed", "cbSelectedRecord",
                                          "cbBlankIfZero"};
        if (!*c.FileName)
            std::erase(order, "btnOk");
        EXPECT_EQ(visited, order);
    }
}

TEST(ExportDialog, BrowseAsksForAFileOfTheSelectedFormat)
{
    EnsureQtApplication();
    TScriptedFileDialogService script;
    TFileDialogServiceScope scope(&script);
    script.Answers = {std::string("/chosen/name.txt"), std::nullopt};
    TfrmExportDlg dialog;
    Params p{"/out/a.doc"};
    p.TableType = teWord;
    ASSERT_TRUE(p.Prepare(dialog));

    dialog.btnOpenDlg->click();
    EXPECT_EQ(FileText(dialog), "/chosen/name.DOC");
    dialog.btnOpenDlg->click();
    EXPECT_EQ(FileText(dialog), "/chosen/name.DOC");

    ASSERT_EQ(script.Requests.size(), 2u);
    const TFileDialogRequest& request = script.Requests[0];
    EXPECT_EQ(request.Owner, &dialog);
    EXPECT_FALSE(request.OpenDialog);
    EXPECT_EQ(request.Title, "Export to");
    EXPECT_EQ(request.DefaultExt, "DOC");
    EXPECT_EQ(request.FileName, "/out/a.DOC");
    EXPECT_TRUE(request.InitialDir.empty());
    EXPECT_EQ(request.Filters, (std::vector<TFileDialogFilter>{{"Word file (*.doc)", "*"}}));
}

TEST(ExportDialog, OkAsksForTheTableNameOrBeforeReplacingAFile)
{
    EnsureQtApplication();
    TempDir dir;
    const std::string existing = dir / "OLD.TXT";
    std::ofstream(existing).put('x');
    TRecordingUIServices ui;
    TUIServicesScope scope(&ui);
    // The first OK is refused (cancelled box, No), the second one closes the dialog.
    auto okTwice = [](TfrmExportDlg& d) {
        d.btnOk->click();
        EXPECT_TRUE(d.isVisible());
        return true;
    };

    // Database table: the name is asked for and an existing file is never mentioned.
    ui.InputAnswers = {std::nullopt, std::string("Orders")};
    Params p{dir / "OLD.MDB"};
    p.TableType = teAccess;
    std::ofstream(p.FileName).put('x');
    OnDialog(okTwice);
    ASSERT_TRUE(p.Run(Offered));
    EXPECT_EQ(p.TableName, "Orders");
    ASSERT_EQ(ui.Inputs.size(), 2u);
    EXPECT_EQ(ui.Inputs[0].Caption, "MS Access database (*.mdb)");
    EXPECT_EQ(ui.Inputs[0].Prompt, "Table name:");
    EXPECT_EQ(ui.Inputs[0].Value, "Items");
    EXPECT_TRUE(ui.Questions.empty());

    // Any other format: an existing file is replaced only after Yes.
    ui.YesNoAnswers = {false, true};
    Params q{existing};
    OnDialog(okTwice);
    ASSERT_TRUE(q.Run(Offered));
    ASSERT_EQ(ui.Questions.size(), 2u);
    EXPECT_EQ(ui.Questions[0].Text, "File " + existing + " already exists. Do you want to replace it?");
    EXPECT_EQ(ui.Questions[0].Kind, mkWarning);
}

TEST(ExportDialog, OkWritesBackAndCancelOrNoOfferChangesNothing)
{
    EnsureQtApplication();
    TempDir dir;
    const Params original{dir / "a.txt"};

    Params cancelled = original;
    OnDialog([](TfrmExportDlg& d) {
        d.rgTableType->Button(0)->click();
        d.cbAddTitle->setChecked(false);
        d.edFileName->setText("/elsewhere/b");
        return false;
    });
    EXPECT_FALSE(cancelled.Run(Offered));

    bool shown = false;
    QTimer::singleShot(0, [&shown] {
        if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            shown = true;
            d->reject();
        }
    });
    Params nothing = original;
    EXPECT_FALSE(nothing.Run(0));
    QApplication::processEvents();
    EXPECT_FALSE(shown);

    EXPECT_EQ(cancelled.Values(), original.Values());
    EXPECT_EQ(nothing.Values(), original.Values());

    Params confirmed = original;
    confirmed.SelectedRecord = 7;
    OnDialog([](TfrmExportDlg& d) {
        Pick(d, teWord);
        d.cbCharacterSet->setCurrentIndex(csANSI_WINDOWS);
        d.cbAddTitle->setChecked(false);
        d.cbBlankIfZero->setChecked(false);
        return true;
    });
    ASSERT_TRUE(confirmed.Run(Offered));
    Params expected = original;
    expected.FileName = dir / "a.DOC";
    expected.TableType = teWord;
    expected.CharacterSet = csANSI_WINDOWS;
    expected.AddTitle = expected.BlankIfZero = false;
    expected.SelectedRecord = 0;
    EXPECT_EQ(confirmed.Values(), expected.Values());
}
