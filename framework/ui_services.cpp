#include "ui_services.h"

#include <QCoreApplication>
#include <QPointer>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {
TUIServices* gInstalled = nullptr;
TUIServices* gWindowed = nullptr;
QPointer<QObject> gBoxOwner;
} // namespace

bool HaveWidgetsApplication()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && app->inherits("QApplication");
}

TUIServices& UIServices()
{
    if (gInstalled)
        return *gInstalled;
    static TConsoleUIServices console;
    if (gWindowed && HaveWidgetsApplication())
        return *gWindowed;
    return console;
}

void SetWindowedUIServices(TUIServices* Services)
{
    gWindowed = Services;
}

TWindowMakers& WindowMakers()
{
    static TWindowMakers makers;
    return makers;
}

TUIServices* WindowedUIServices()
{
    return gWindowed;
}

TUIServices* SetUIServices(TUIServices* Services)
{
    TUIServices* previous = gInstalled;
    gInstalled = Services;
    return previous;
}

QObject* MessageBoxOwner()
{
    if (gBoxOwner)
        return gBoxOwner.data();
    if (WindowMakers().ActiveWindow && HaveWidgetsApplication())
        return WindowMakers().ActiveWindow();
    return nullptr;
}

QObject* SetMessageBoxOwner(QObject* Owner)
{
    QObject* previous = gBoxOwner.data();
    gBoxOwner = Owner;
    return previous;
}

std::string ProgramFolder()
{
    std::string folder;
    if (QCoreApplication::instance()) {
        folder = QCoreApplication::applicationDirPath().toStdString();
    } else {
        std::error_code ec;
        auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        folder = ec ? std::filesystem::current_path().string() : exe.parent_path().string();
    }
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

bool TUIServices::AskYesNo(const std::string&, TMsgKind)
{
    return false;
}

bool TUIServices::InputQuery(const std::string&, const std::string&, std::string&)
{
    return false;
}

void TConsoleUIServices::MessageBox(const std::string& Text, TMsgKind Kind)
{
    const char* prefix = Kind == mkError ? "error: " : (Kind == mkWarning ? "warning: " : "");
    std::fputs(prefix, stderr);
    std::fwrite(Text.data(), 1, Text.size(), stderr);
    std::fputc('\n', stderr);
}

void TConsoleUIServices::ProcessMessages()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void TRecordingUIServices::MessageBox(const std::string& Text, TMsgKind Kind)
{
    QObject* owner = MessageBoxOwner();
    Boxes.push_back({Text, Kind, owner ? owner->objectName().toStdString() : std::string()});
}

void TRecordingUIServices::ProcessMessages()
{
    ++ProcessMessagesCalls;
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

bool TRecordingUIServices::HasGui() const
{
    if (ForceHasGui >= 0)
        return ForceHasGui == 1;
    return HaveWidgetsApplication();
}

bool TRecordingUIServices::AskYesNo(const std::string& Text, TMsgKind Kind)
{
    QObject* owner = MessageBoxOwner();
    Questions.push_back({Text, Kind, owner ? owner->objectName().toStdString() : std::string()});
    return FNextYesNo < YesNoAnswers.size() && YesNoAnswers[FNextYesNo++];
}

bool TRecordingUIServices::InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value)
{
    Inputs.push_back({Caption, Prompt, Value});
    if (FNextInput >= InputAnswers.size())
        return false;
    const std::optional<std::string>& answer = InputAnswers[FNextInput++];
    if (!answer)
        return false;
    Value = *answer;
    return true;
}
