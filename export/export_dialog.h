#pragma once
// The export setup dialog: SetExportParam shows TfrmExportDlg, in which a user picks
// the format (among those the caller offers), the output file, the character set, the
// field separator and four switches. It works only on the values passed to it and
// writes the choices back when the user confirms with OK; the component passed in only
// supplies the texts (its GetLanguageString, so a host can translate them).

#include "export/export_component.h"

#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <functional>
#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;

// A titled frame holding one column of radio buttons that share its height evenly;
// each button carries a tag. OnClick runs when the user picks a button.
class TKVERadioGroup : public QGroupBox {
public:
    explicit TKVERadioGroup(QWidget* Parent = nullptr);

    void AddItem(const QString& Text, int Tag = 0);
    int Count() const { return static_cast<int>(FButtons.size()); }
    QRadioButton* Button(int Index) const { return FButtons.at(static_cast<std::size_t>(Index)); }
    int Tag(int Index) const { return FTags.at(static_cast<std::size_t>(Index)); }
    // The checked button, -1 for none. Setting it does not run OnClick; the checked
    // button becomes the group's one stop for Tab.
    int ItemIndex() const;
    void SetItemIndex(int Index);
    // The height each button gets.
    int RowHeight() const;

    std::function<void()> OnClick;

    // Places the buttons in the group's current size; a resize of a shown group does
    // it by itself.
    void ArrangeButtons();

protected:
    void resizeEvent(QResizeEvent* Event) override;
    void changeEvent(QEvent* Event) override;

private:

    QButtonGroup* FGroup;
    std::vector<QRadioButton*> FButtons;
    std::vector<int> FTags;
};

// The file box. Where file names ignore letter case (Windows) it turns the letters a
// user types (or pastes) into capitals, as the dialog always has; elsewhere a name's
// case is part of the name and what is typed is kept. Text put in by the program is
// kept as it is, so a chosen path keeps its spelling.
class TUpperCaseEdit : public QLineEdit {
public:
    explicit TUpperCaseEdit(QWidget* Parent = nullptr);

private:
    QString FPrevious; // the text before the last change
    QString FCurrent;
};

class TfrmExportDlg : public QDialog {
    Q_OBJECT
public:
    // Client area 419 x 305, controls at fixed places, placed at 227, 130.
    explicit TfrmExportDlg(QWidget* Parent = nullptr);

    TKVERadioGroup* rgTableType;
    TKVERadioGroup* rgSeparator;
    QLineEdit* edSymbol;
    QCheckBox* cbAddTitle;
    QLabel* lblCharacterSet;
    QComboBox* cbCharacterSet; // index = TCharacterSet
    QFrame* bvlBtn;
    QPushButton* btnOk;     // default button; disabled while the file box is empty
    QPushButton* btnCancel; // closes with Rejected (also Esc)
    QLabel* lblFileName;
    TUpperCaseEdit* edFileName;
    QPushButton* btnOpenDlg;
    QCheckBox* cbFixed;
    QCheckBox* cbSelectedRecord;
    QCheckBox* cbBlankIfZero;

    std::string FFilePrompt;       // "%s" is the file name
    std::string FTableNameCaption; // caption of the table-name box
    std::string FSaveDlgTitle;
    std::string FTableName;

    // Fills every text from Component (none: the message table's own texts), adds a
    // button per offered format and shows the values passed in. False, with nothing
    // changed, when no format is offered.
    bool Prepare(TKVECustomBaseComponent* Component, const std::string& FileName, const std::string& TableName,
                 TTableTypeExport TableType, TCharacterSet CharacterSet, char Separator, bool AddTitle, bool Fixed,
                 bool BlankIfZero, int SelectedRecord, TExportFormatTypes Formats);
    // Writes the dialog's choices into the arguments.
    void ReadBack(std::string& FileName, std::string& TableName, TTableTypeExport& TableType,
                  TCharacterSet& CharacterSet, char& Separator, bool& AddTitle, bool& Fixed, bool& BlankIfZero,
                  int& SelectedRecord) const;

    // The format of the selected button.
    TTableTypeExport SelectedTableType() const;
    // The separator the selected item stands for ("Other symbol:": the first
    // character of edSymbol, NUL when it is empty).
    char SelectedSeparator() const;

    void rgTableTypeClick();
    void rgSeparatorClick();
    // Gives a non-empty file name the selected format's extension.
    void SetDefaultExt();
    void edFileNameChange();
    void btnOpenDlgClick();
    void btnOkClick();

    // Picks the dialog's font: the largest size, down to a readable floor, at which
    // every text fits its control at the layout's positions. When none does (a host's
    // long translation), the layout's own size is taken and the controls, and the
    // window with them, grow until every text fits. Prepare calls it after the texts
    // are set; call it again after changing texts.
    void ChooseFont();
    // Tab goes through the controls in declaration order; the focus starts on the
    // selected format. Prepare calls it once the group buttons exist.
    void ArrangeTabOrder();
    // The controls whose text does not fit them in the current font.
    std::vector<QWidget*> ClippedControls() const;

private:
    void GrowToFitTexts();
    // Places the controls at the layout's positions, moved and widened by what each
    // part of the dialog has grown.
    void ArrangeControls(int DxLeft, int DxRight, int DxLabel, int DxButtons, int DyLeft, int DyRight);
};

// Shows the setup dialog modally for Component's texts. On OK writes the choices into
// the arguments and returns true; on Cancel, or when Formats offers nothing (then
// without showing anything), returns false and changes nothing. SelectedRecord 1
// means only the selected records; OK writes back 1 or 0.
bool SetExportParam(TKVECustomBaseComponent* Component, std::string& FileName, std::string& TableName,
                    TTableTypeExport& TableType, TCharacterSet& CharacterSet, char& Separator, bool& AddTitle,
                    bool& Fixed, bool& BlankIfZero, int& SelectedRecord, TExportFormatTypes Formats);
