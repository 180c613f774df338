#pragma once
// TfrmKVESaveSpec: the modal dialog in which the user names an export specification
// and picks the file it is saved to. Its caller sets every text (the ones below are
// layout placeholders), shows it and reads the two boxes after OK.

#include <QDialog>
#include <string>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

class TfrmKVESaveSpec : public QDialog {
    Q_OBJECT
public:
    // Client area 351 x 159, controls at fixed places, centred on the screen. Texts
    // longer than the layout has room for widen their controls, and the window with
    // them, when the dialog is shown (GrowToFitTexts).
    explicit TfrmKVESaveSpec(QWidget* Parent = nullptr);

    QFrame* bvlButtons;
    QPushButton* btnOk;       // closes with Accepted; the default button (Enter)
    QPushButton* btnCancel;   // closes with Rejected (also Esc)
    QLabel* lblSpecName;
    QLineEdit* edSpecName;
    QLabel* lblFileName;
    QLineEdit* edFileName;
    QPushButton* btnFileName; // "...": browse for the file

    // The browse dialog's filter: descriptions and patterns in turn, "|"-separated.
    std::string FileFilter;

    // Asks for a file to save to, starting from edFileName's text; a confirmed name
    // replaces that text, a cancelled dialog changes nothing.
    void btnFileNameClick();
    // Places the controls for the texts they hold: the layout's geometry while the
    // texts fit it.
    void GrowToFitTexts();

protected:
    void showEvent(QShowEvent* Event) override;
};
