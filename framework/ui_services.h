#pragma once
// The few user-interface services the suite needs outside its own windows: modal
// message boxes, the screen cursor, processing pending window events and the program's
// folder. One process-wide instance; tests and command-line programs install a quiet
// one so that nothing ever blocks on a modal box.

#include <optional>
#include <string>
#include <vector>

class QWidget;

enum TMsgKind { mkInformation, mkError, mkWarning };
enum TScreenCursor { crDefault, crHourGlass };

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

// The services in use. Without an installed instance: the Qt one when a QApplication
// exists, else a console one (boxes go to standard error, the cursor is remembered).
TUIServices& UIServices();
// Installs Services (not owned; none restores the default). Returns the previous one.
TUIServices* SetUIServices(TUIServices* Services);

// The window message boxes are shown over: the one set by SetMessageBoxOwner while it
// exists (a run's progress window, which stays on top and would hide a box without a
// parent), else the application's active window; none without windows.
QWidget* MessageBoxOwner();
// Sets that window (none: back to the active window); returns the previous one.
QWidget* SetMessageBoxOwner(QWidget* Owner);

// The folder of the running program, with a trailing "/".
std::string ProgramFolder();

// Qt Widgets implementation: QMessageBox, the application's override cursor,
// QCoreApplication::processEvents.
class TQtUIServices : public TUIServices {
public:
    void MessageBox(const std::string& Text, TMsgKind Kind) override;
    void SetCursor(TScreenCursor Cursor) override;
    TScreenCursor Cursor() const override { return FCursor; }
    void ProcessMessages() override;
    bool HasGui() const override;
    // No is the default button: Enter never replaces anything.
    bool AskYesNo(const std::string& Text, TMsgKind Kind) override;
    bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value) override;

private:
    TScreenCursor FCursor = crDefault;
};

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
