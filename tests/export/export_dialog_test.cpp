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

    bool Run(TExportFormatTypes Formats, TKVECustomBaseComponent* Component = nullptr)
    {
        return SetExportParam(Component, FileName, TableName, TableType, CharacterSet, Separator, AddTitle, Fixed,
                              BlankIfZero, SelectedRecord, Formats);
    }
    bool Prepare(TfrmExportDlg& Dialog, TExportFormatTypes Formats = Offered) const
    {
        return Dialog.Prepare(nullptr, FileName, TableName, TableType, CharacterSet, Separator, AddTitle, Fixed,
                              BlankIfZero, SelectedRecord, Formats);
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

int ButtonOf(const TKVERadioGroup& Group, TTableTypeExport Type)
{
    for (int i = 0; i < Group.Count(); ++i)
        if (Group.Tag(i) == Type)
            return i;
    return -1;
}

void Pick(TfrmExportDlg& Dialog, TTableTypeExport Type)
{
    Dialog.rgTableType->Button(ButtonOf(*Dialog.rgTableType, Type))->click();
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
    EXPECT_EQ(dialog.rgSeparator->Count(), 5);
    EXPECT_EQ(dialog.cbCharacterSet->count(), 2);

    TfrmExportDlg fresh;
    EXPECT_FALSE(fresh.btnOk->isEnabled());
    EXPECT_FALSE(fresh.rgSeparator->isEnabled());
}

// The dialog is drawn at fixed pixel positions; the font it picks must leave every
// text whole, with the offered formats of the picture program and with all of them.
TEST(ExportDialog, EveryTextFitsItsControl)
{
    EnsureQtApplication();
    for (TExportFormatTypes formats : {Offered, AllFormats}) {
        TfrmExportDlg dialog;
        ASSERT_TRUE(Params{"/out/a.txt"}.Prepare(dialog, formats));
        for (QWidget* control : dialog.findChildren<QWidget*>()) {
            const QString name = control->objectName().isEmpty() ? control->property("text").toString()
                                                                 : control->objectName();
            if (qobject_cast<QCheckBox*>(control) || qobject_cast<QRadioButton*>(control)
                || qobject_cast<QLabel*>(control)) {
                EXPECT_LE(control->sizeHint().width(), control->width()) << name.toStdString();
            }
        }
        EXPECT_TRUE(dialog.ClippedControls().empty()) << formats;
        EXPECT_GE(dialog.font().pixelSize(), 8);
    }
}

TEST(ExportDialog, HostTranslationReachesEveryText)
{
    EnsureQtApplication();
    TKVECustomBaseComponent component;
    component.OnGetLanguageString = [](TPersistent*, int Id, std::string& Text) { Text = "#" + std::to_string(Id); };
    TfrmExportDlg dialog;
    Params p{"/out/a.txt"};
    ASSERT_TRUE(dialog.Prepare(&component, p.FileName, p.TableName, p.TableType, p.CharacterSet, p.Separator,
                               p.AddTitle, p.Fixed, p.BlankIfZero, p.SelectedRecord, Bit(teText) | Bit(teAccess)));
    const struct {
        QString Shown;
        const char* Expected;
    } texts[] = {
        {dialog.windowTitle(), "#10"},           {dialog.rgTableType->title(), "#28"},
        {dialog.rgTableType->Button(0)->text(), "#31"}, {dialog.rgTableType->Button(1)->text(), "#42"},
        {dialog.rgSeparator->title(), "#59"},    {dialog.rgSeparator->Button(0)->text(), "#60"},
        {dialog.rgSeparator->Button(4)->text(), "#64"}, {dialog.lblCharacterSet->text(), "#50"},
        {dialog.cbSelectedRecord->text(), "#51"}, {dialog.cbAddTitle->text(), "#52"},
        {dialog.cbBlankIfZero->text(), "#54"},   {dialog.cbFixed->text(), "#65"},
        {dialog.lblFileName->text(), "#68"},     {dialog.btnOk->text(), "#11"},
        {dialog.btnCancel->text(), "#12"},
    };
    for (const auto& t : texts)
        EXPECT_EQ(t.Shown.toStdString(), t.Expected);
    EXPECT_EQ(dialog.FFilePrompt, "#7");
    EXPECT_EQ(dialog.FSaveDlgTitle, "#69");
    EXPECT_EQ(dialog.FTableNameCaption, "#42");
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
    ASSERT_TRUE(Params{"/out/a.txt"}.Prepare(dialog, AllFormats));
    for (const auto& c : cases) {
        Pick(dialog, c.Type);
        EXPECT_EQ(dialog.edFileName->isEnabled(), c.File) << int(c.Type);
        EXPECT_EQ(dialog.btnOpenDlg->isEnabled(), c.File) << int(c.Type);
        EXPECT_EQ(dialog.rgSeparator->isEnabled(), c.Separator) << int(c.Type);
        EXPECT_EQ(dialog.cbAddTitle->isEnabled(), c.AddTitle) << int(c.Type);
        EXPECT_EQ(dialog.cbFixed->isEnabled(), c.Fixed) << int(c.Type);
        EXPECT_EQ(dialog.cbCharacterSet->isEnabled(), c.CharacterSet) << int(c.Type);
    }
    // The other symbol's box follows its item while the group is enabled.
    Pick(dialog, teText);
    dialog.rgSeparator->Button(4)->click();
    EXPECT_TRUE(dialog.edSymbol->isEnabled());
    dialog.rgSeparator->Button(2)->click();
    EXPECT_FALSE(dialog.edSymbol->isEnabled());
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
    // The name passed in already gets the selected format's extension.
    TfrmExportDlg second;
    Params p{"/out/data.csv"};
    p.TableType = teWord;
    ASSERT_TRUE(p.Prepare(second));
    EXPECT_EQ(FileText(second), "/out/data.DOC");
}

TEST(ExportDialog, EmptyFileNameKeepsOkDisabled)
{
    EnsureQtApplication();
    TfrmExportDlg dialog;
    ASSERT_TRUE(Params{}.Prepare(dialog, AllFormats));
    for (int i = 0; i < dialog.rgTableType->Count(); ++i) {
        dialog.rgTableType->Button(i)->click();
        EXPECT_FALSE(dialog.btnOk->isEnabled()) << dialog.rgTableType->Tag(i);
    }
    dialog.edFileName->setText("x");
    EXPECT_TRUE(dialog.btnOk->isEnabled());
    dialog.edFileName->clear();
    EXPECT_FALSE(dialog.btnOk->isEnabled());
}

TEST(ExportDialog, TypedLettersBecomeCapitalsButProgramTextKeepsItsCase)
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
    EXPECT_EQ(dialog.edFileName->text(), QString::fromUtf8("/home/me/OX\xc3\x84out.TXT"));
    EXPECT_EQ(dialog.edFileName->cursorPosition(), 12);
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

    // Database table: the name is asked for, an existing file is never mentioned, and a
    // cancelled box keeps the dialog open.
    ui.InputAnswers = {std::nullopt, std::string("Orders")};
    Params p{dir / "OLD.MDB"};
    p.TableType = teAccess;
    std::ofstream(p.FileName).put('x');
    OnDialog([&](TfrmExportDlg& d) {
        d.btnOk->click();
        EXPECT_TRUE(d.isVisible());
        return true;
    });
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
    OnDialog([&](TfrmExportDlg& d) {
        d.btnOk->click();
        EXPECT_TRUE(d.isVisible());
        return true;
    });
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

    for (const Params* p : {&cancelled, &nothing}) {
        EXPECT_EQ(p->FileName, original.FileName);
        EXPECT_EQ(p->TableType, original.TableType);
        EXPECT_EQ(p->AddTitle, original.AddTitle);
        EXPECT_EQ(p->Separator, original.Separator);
        EXPECT_EQ(p->SelectedRecord, original.SelectedRecord);
    }

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
    EXPECT_EQ(confirmed.FileName, dir / "a.DOC");
    EXPECT_EQ(confirmed.TableType, teWord);
    EXPECT_EQ(confirmed.CharacterSet, csANSI_WINDOWS);
    EXPECT_FALSE(confirmed.AddTitle);
    EXPECT_FALSE(confirmed.BlankIfZero);
    EXPECT_EQ(confirmed.SelectedRecord, 0);
    EXPECT_EQ(confirmed.TableName, "Items");
}
