#pragma once
// The few user-interface services the suite needs outside its own windows: modal
// message boxes, the screen cursor, processing pending window events and the program's
// folder. One process-wide instance; tests and command-line programs install a quiet
// one so that nothing ever blocks on a modal box.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QObject;

enum TMsgKind { mkInformation, mkError, mkWarning };
enum TScreenCursor { crDefault, crHourGlass };

// A run's progress window as the run sees it: a caption, a status line, a bar over a
// range and a Cancel button that raises a flag. The widgets library makes the window.
class TProgressView {
public:
    virtual ~TProgressView() = default;
    virtual void SetCaption(const std::string& Value) = 0;
    virtual void SetStatus(const std::string& Value) = 0;
    virtual std::string StatusText() const = 0;
    virtual void SetCancelCaption(const std::string& Value) = 0;
    virtual void SetRange(int AMin, int AMax) = 0;
    virtual int Maximum() const = 0;
    virtual void SetPosition(int Value) = 0;
    virtual void StartAnimation() = 0;
    virtual void StopAnimation() = 0;
    // Shows the window; Repaint draws it at once.
    virtual void Show() = 0;
    virtual void Repaint() = 0;
    // Raised by Cancel, Escape and closing the window.
    virtual bool IsCanceled() const = 0;
    virtual void SetCanceled(bool Value) = 0;
    // The window itself (message boxes of the run go over it).
    virtual QObject* Window() = 0;
};

// What a box asking for a name and a file shows and answers (the name under which a
// specification is saved and its file).
struct TNameAndFileQuery {
    std::string Caption;
    std::string NameLabel;
    std::string Name;
    std::string FileLabel;
    std::string FileName;
    std::string FileFilter; // "Description|*.ext|..." for the file button's dialog
    std::string OkCaption;
    std::string CancelCaption;
};

class TUIServices {
public:
    virtual ~TUIServices() = default;
    // A modal box with one OK button.
    virtual void MessageBox(const std::string& Text, TMsgKind Kind) = 0;
    virtual void SetCursor(TScreenCursor Cursor) = 0;
    virtual TScreenCursor Cursor() const = 0;
    // Lets pending window events run (clicks on a Cancel button, repaints).
    virtual void ProcessMessages() = 0;
    // Whether windows can be created (a GUI application object exists).
    virtual bool HasGui() const = 0;
    // A modal box with Yes and No buttons; true for Yes. A service that cannot ask
    // answers No, so that nothing is replaced or removed without consent.
    virtual bool AskYesNo(const std::string& Text, TMsgKind Kind);
    // A modal box with a caption, a prompt and one edit box preset with Value; true
    // when the user confirmed, Value then holding the entered text. Cancelled (or no
    // way to ask): false, Value unchanged.
    virtual bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value);
};

// The services in use. Without an installed instance: the windowed ones (registered by
// the widgets library, see SetWindowedUIServices) when a QApplication exists, else a
// console one (boxes go to standard error, the cursor is remembered).
TUIServices& UIServices();
// Installs Services (not owned; none restores the default). Returns the previous one.
TUIServices* SetUIServices(TUIServices* Services);
// Registers the services that show real windows. The core links no widgets code: the
// widgets library registers its services when it is loaded.
void SetWindowedUIServices(TUIServices* Services);
TUIServices* WindowedUIServices();

// The windows the core asks for, made by the widgets libraries, each of which registers
// its makers when it is loaded. The core asks only while UIServices().HasGui(); an
// unset maker means no such window (the core then goes on as without windows).
struct TWindowMakers {
    // A run's progress window.
    std::function<std::unique_ptr<TProgressView>()> ProgressView;
    // A modal box asking for a name and a file; true when confirmed, Query then holding
    // the answers.
    std::function<bool(TNameAndFileQuery& Query)> NameAndFile;
    // The open-file dialog for files of Filter; true and FileName set when one was chosen.
    std::function<bool(const std::string& DefaultExt, const std::string& Filter, std::string& FileName)> OpenFileName;
    // The window that has the focus.
    std::function<QObject*()> ActiveWindow;
};
TWindowMakers& WindowMakers();
// Whether the application object is a QApplication (windows can be made), found by its
// class name so that the core needs no widgets code.
bool HaveWidgetsApplication();

// The window message boxes are shown over: the one set by SetMessageBoxOwner while it
// exists (a run's progress window, which stays on top and would hide a box without a
// parent), else the application's active window; none without windows.
QObject* MessageBoxOwner();
// Sets that window (none: back to the active window); returns the previous one.
QObject* SetMessageBoxOwner(QObject* Owner);

// The folder of the running program, with a trailing "/".
std::string ProgramFolder();

// For programs without windows: boxes are written to standard error.
class TConsoleUIServices : public TUIServices {
public:
    void MessageBox(const std::string& Text, TMsgKind Kind) override;
    void SetCursor(TScreenCursor Cursor) override { FCursor = Cursor; }
    TScreenCursor Cursor() const override { return FCursor; }
    void ProcessMessages() override;
    bool HasGui() const override { return false; }

private:
    TScreenCursor FCursor = crDefault;
};

// Records every box and cursor change; never blocks. HasGui follows the Qt
// application object unless forced. Questions and input boxes are answered from
// scripts in order; when a script runs out the answer is No / Cancel.
class TRecordingUIServices : public TUIServices {
public:
    struct Box {
        std::string Text;
        TMsgKind Kind;
        // Object name of the window the box was shown over; empty for none.
        std::string Owner;
    };
    std::vector<Box> Boxes;
    std::vector<TScreenCursor> CursorChanges;
    int ProcessMessagesCalls = 0;
    int ForceHasGui = -1; // -1: follow the application object; 0 / 1: forced
    std::vector<Box> Questions;
    std::vector<bool> YesNoAnswers;
    struct Input {
        std::string Caption;
        std::string Prompt;
        std::string Value; // the value the box was preset with
    };
    std::vector<Input> Inputs;
    std::vector<std::optional<std::string>> InputAnswers; // nothing: cancelled

    void MessageBox(const std::string& Text, TMsgKind Kind) override;
    void SetCursor(TScreenCursor Cursor) override
    {
        FCursor = Cursor;
        CursorChanges.push_back(Cursor);
    }
    TScreenCursor Cursor() const override { return FCursor; }
    void ProcessMessages() override;
    bool HasGui() const override;
    bool AskYesNo(const std::string& Text, TMsgKind Kind) override;
    bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value) override;

private:
    TScreenCursor FCursor = crDefault;
    std::size_t FNextYesNo = 0;
    std::size_t FNextInput = 0;
};

// Installs services for a scope and restores the previous ones afterwards.
class TUIServicesScope {
public:
    explicit TUIServicesScope(TUIServices* Services) : FPrevious(SetUIServices(Services)) {}
    ~TUIServicesScope() { SetUIServices(FPrevious); }
    TUIServicesScope(const TUIServicesScope&) = delete;
    TUIServicesScope& operator=(const TUIServicesScope&) = delete;

private:
    TUIServices* FPrevious;
};
