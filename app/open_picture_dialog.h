#pragma once
// The picture-open dialog of the main window: the settings a picture-open dialog has,
// the chosen files after Execute, and a replaceable chooser so that tests (or another
// front end) can answer instead of a person.

#include "framework/string_list.h"

#include <QObject>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

enum TOpenOption : unsigned {
    ofHideReadOnly = 1u << 0,
    ofAllowMultiSelect = 1u << 1,
    ofPathMustExist = 1u << 2,
    ofFileMustExist = 1u << 3,
    ofEnableSizing = 1u << 4,
};

class TOpenPictureDialog : public QObject {
    Q_OBJECT
public:
    explicit TOpenPictureDialog(QObject* AOwner = nullptr);

    // Suffix added to a typed name without one ("bmp").
    std::string DefaultExt;
    // Folder the dialog starts in; empty: the current folder.
    std::string InitialDir;
    // Name filters in Qt's form ("Bitmaps (*.bmp);;All files (*)"); empty: every file.
    std::string Filter;
    std::string Title;
    unsigned Options = ofHideReadOnly | ofEnableSizing;

    // Answers the dialog: the chosen full paths in the order given, or nothing when
    // the choice is cancelled. Unset: a QFileDialog asks the user.
    using TChooser = std::function<std::optional<std::vector<std::string>>(TOpenPictureDialog& Dialog)>;
    TChooser Chooser;
    // Parent window of the QFileDialog.
    QWidget* ParentWindow = nullptr;

    // Shows the dialog. True when files were chosen: Files() then holds them (full
    // paths); false when cancelled, and Files() keeps what it had.
    bool Execute();
    const TStringList& Files() const { return FFiles; }
    // The first chosen file.
    std::string FileName() const { return FFiles.Count() > 0 ? FFiles[0] : std::string(); }

    // How many times the dialog was shown.
    int ExecuteCount() const { return FExecuteCount; }

private:
    std::optional<std::vector<std::string>> AskUser();

    TStringList FFiles;
    int FExecuteCount = 0;
};
