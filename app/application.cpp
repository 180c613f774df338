#include "app/application.h"

#include "app/main_form.h"
#include "framework/exceptions.h"
#include "framework/ui_services.h"

#include <QPushButton>
#include <memory>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tabrix"));
}

bool TApplication::notify(QObject* Receiver, QEvent* Event)
{
    try {
        return QApplication::notify(Receiver, Event);
    } catch (...) {
        HandleException(std::current_exception());
        return false;
    }
}

std::string ExceptionDisplayText(std::exception_ptr Error)
{
    try {
        if (Error)
            std::rethrow_exception(Error);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        // Any other thrown object counts as an exception without a message.
    }
    return {};
}

void HandleException(std::exception_ptr Error)
{
    const std::string text = ExceptionDisplayText(Error);
    try {
        UIServices().MessageBox(text, mkError);
    } catch (...) {
        // Showing the box failed as well; there is nothing left to tell the user with.
    }
}

void GuardedCall(const std::function<void()>& Action)
{
    try {
        Action();
    } catch (...) {
        HandleException(std::current_exception());
    }
}

int RunPictureProgram(int argc, char** argv)
{
    TApplication app(argc, argv);
    try {
        auto form = std::make_unique<TfrmMain>();
        frmMain = form.get();
        form->show();
        form->btnExport->setFocus();
        app.exec();
    } catch (...) {
        HandleException(std::current_exception());
    }
    return 0;
}
