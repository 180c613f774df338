#pragma once
// The platform's open-file and save-file dialogs behind one replaceable service, and
// KVEOpenSaveFileDialog, the suite's function over them.
//
// The suite describes a dialog's file types as one string of descriptions and
// patterns in turn, separated by "|" ("Text files|*.txt;*.csv|All files (*.*)|*.*").
// The service receives them as pairs; the Qt implementation turns each pair into a
// Qt name filter. Tests (or a front end without windows) install a service that
// answers instead of a person.

#include <optional>
#include <string>
#include <vector>

class QFileDialog;
class QString;
class QWidget;

// File names at Qt's boundary. On POSIX systems a name is bytes and need not be UTF-8
// (a Latin-1 "\xE9" is a legal letter); Qt's own conversion turns such a byte into
// U+FFFD and the name is lost. Here every byte outside a valid UTF-8 sequence travels
// as a lone surrogate U+DC80..U+DCFF (shown as a replacement mark) and comes back as
// the same byte, so a name put into an edit box and read out again is unchanged. On
// Windows names use the ANSI code page, as Qt's conversion does.
QString FileNameToQString(const std::string& Name);
std::string FileNameFromQString(const QString& Text);

struct TFileDialogFilter {
    std::string Description;
    std::string Pattern; // one or more patterns separated by ";"
    bool operator==(const TFileDialogFilter&) const = default;
};

struct TFileDialogRequest {
    QWidget* Owner = nullptr;
    bool OpenDialog = true; // false: the save-file dialog
    std::vector<TFileDialogFilter> Filters; // the first one is preselected
    std::string DefaultExt;  // without the dot; empty: none
    std::string InitialDir;  // empty: the platform's choice
    std::string Title;       // empty: the platform's default title
    std::string FileName;    // the name the dialog starts with
};

class TFileDialogService {
public:
    virtual ~TFileDialogService() = default;
    // Shows the dialog; the chosen path, or nothing when it was cancelled or failed.
    virtual std::optional<std::string> Execute(const TFileDialogRequest& Request) = 0;
};

// The service in use: the installed one, else the Qt one.
TFileDialogService& FileDialogService();
// Installs Service (not owned; none restores the Qt one). Returns the previous one.
TFileDialogService* SetFileDialogService(TFileDialogService* Service);

// QFileDialog, modal; without a widgets application it fails at once. Neither dialog checks that the chosen file or its folder exists
// and the save dialog never asks before an existing file is chosen: the callers
// decide what a name means.
class TQtFileDialogService : public TFileDialogService {
public:
    std::optional<std::string> Execute(const TFileDialogRequest& Request) override;
};

// Sets Dialog up as Request describes (mode, filters with the first selected,
// suffix, folder, title, start name) without showing it.
void ConfigureFileDialog(QFileDialog& Dialog, const TFileDialogRequest& Request);
// The Qt name filter of one pair: "Text files (*.txt *.csv)". A description that
// already ends with its patterns in brackets is kept; "*.*" means every file.
std::string QtNameFilter(const TFileDialogFilter& Filter);

// Answers from a script and remembers every request; never blocks.
class TScriptedFileDialogService : public TFileDialogService {
public:
    std::vector<TFileDialogRequest> Requests;
    // Answers in order; when none is left the dialog counts as cancelled.
    std::vector<std::optional<std::string>> Answers;

    std::optional<std::string> Execute(const TFileDialogRequest& Request) override;

private:
    std::size_t FNext = 0;
};

// Installs a service for a scope and restores the previous one afterwards.
class TFileDialogServiceScope {
public:
    explicit TFileDialogServiceScope(TFileDialogService* Service) : FPrevious(SetFileDialogService(Service)) {}
    ~TFileDialogServiceScope() { SetFileDialogService(FPrevious); }
    TFileDialogServiceScope(const TFileDialogServiceScope&) = delete;
    TFileDialogServiceScope& operator=(const TFileDialogServiceScope&) = delete;

private:
    TFileDialogService* FPrevious;
};

// "a|b|c|d" -> {a, b}, {c, d}. A description without a pattern is dropped.
std::vector<TFileDialogFilter> ParseFileFilter(const std::string& Filter);

// Shows the open-file dialog (OpenDialog true) or the save-file dialog. DefaultExt,
// InitialDir and Title count only when not empty. True when the user confirmed:
// FileName then holds the chosen path, which need not exist. False (cancelled, or the
// dialog failed) leaves FileName as it was. Names of any length are passed whole.
bool KVEOpenSaveFileDialog(QWidget* Owner, const std::string& DefaultExt, const std::string& Filter,
                           const std::string& InitialDir, const std::string& Title, std::string& FileName,
                           bool OpenDialog);
