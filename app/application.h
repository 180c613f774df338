#pragma once
// The program's application object and its exception display: an exception that
// escapes an event handler or start-up is shown in an error box and the program goes
// on (or, at start-up, ends normally).

#include <QApplication>
#include <exception>
#include <functional>
#include <string>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    // Delivers the event; an exception a handler lets escape is shown, not passed on.
    bool notify(QObject* Receiver, QEvent* Event) override;
};

// The text the exception display shows for a thrown object: the message of a
// framework Exception or standard exception, empty for anything else.
std::string ExceptionDisplayText(std::exception_ptr Error);
// Shows the exception in an error box through the user-interface services.
void HandleException(std::exception_ptr Error);
// Runs Action; whatever it throws goes to HandleException.
void GuardedCall(const std::function<void()>& Action);

// The whole program: application object, main form, message loop. Always returns 0;
// exceptions that escape are shown first.
int RunPictureProgram(int argc, char** argv);
