#include "app/application.h"

#include "app/main_form.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/ui_services.h"

#include <QPushButton>
#include <QTimer>
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
    // SIGINT, SIGTERM and SIGHUP only record themselves; the program looks at the
    // record between events, cancels a running export the way its Cancel button does
    // and ends once the export has closed, removing any temporary file it left.
    InstallInterruptHandler();
    QTimer interruptWatch;
    QObject::connect(&interruptWatch, &QTimer::timeout, &app, [&app] {
        if (!InterruptRequested())
            return;
        if (frmMain && frmMain->Running())
            frmMain->KVExportToWord1->SetProgressCanceled(true);
        app.quit();
    });
    interruptWatch.start(200);
    try {
        auto form = std::make_unique<TfrmMain>();
        frmMain = form.get();
        form->show();
        form->btnExport->setFocus();
        app.exec();
    } catch (...) {
        HandleException(std::current_exception());
    }
    if (InterruptRequested())
        ExitAfterInterrupt();
    return 0;
}
