#include "ui_services.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QInputDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {
TUIServices* gInstalled = nullptr;
QPointer<QWidget> gBoxOwner;

bool HaveWidgetsApplication()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}
} // namespace

TUIServices& UIServices()
{
    if (gInstalled)
        return *gInstalled;
    static TQtUIServices qt;
    static TConsoleUIServices console;
    if (HaveWidgetsApplication())
        return qt;
    return console;
}

TUIServices* SetUIServices(TUIServices* Services)
{
    TUIServices* previous = gInstalled;
    gInstalled = Services;
    return previous;
}

QWidget* MessageBoxOwner()
{
    if (gBoxOwner)
        return gBoxOwner.data();
    if (HaveWidgetsApplication())
        return QApplication::activeWindow();
    return nullptr;
}

QWidget* SetMessageBoxOwner(QWidget* Owner)
{
    QWidget* previous = gBoxOwner.data();
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

void TQtUIServices::MessageBox(const std::string& Text, TMsgKind Kind)
{
    QString title = QCoreApplication::applicationName();
    QString text = QString::fromStdString(Text);
    QWidget* owner = MessageBoxOwner();
    switch (Kind) {
    case mkError:
        QMessageBox::critical(owner, title, text, QMessageBox::Ok);
        break;
    case mkWarning:
        QMessageBox::warning(owner, title, text, QMessageBox::Ok);
        break;
    default:
        QMessageBox::information(owner, title, text, QMessageBox::Ok);
        break;
    }
}

bool TQtUIServices::AskYesNo(const std::string& Text, TMsgKind Kind)
{
    const QString title = QCoreApplication::applicationName();
    const QString text = QString::fromStdString(Text);
    QWidget* owner = MessageBoxOwner();
    const auto buttons = QMessageBox::Yes | QMessageBox::No;
    QMessageBox::StandardButton answer;
    switch (Kind) {
    case mkError:
        answer = QMessageBox::critical(owner, title, text, buttons, QMessageBox::No);
        break;
    case mkWarning:
        answer = QMessageBox::warning(owner, title, text, buttons, QMessageBox::No);
        break;
    default:
        answer = QMessageBox::question(owner, title, text, buttons, QMessageBox::No);
        break;
    }
    return answer == QMessageBox::Yes;
}

bool TQtUIServices::InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value)
{
    bool ok = false;
    const QString text = QInputDialog::getText(MessageBoxOwner(), QString::fromStdString(Caption),
                                               QString::fromStdString(Prompt), QLineEdit::Normal,
                                               QString::fromStdString(Value), &ok);
    if (!ok)
        return false;
    Value = text.toStdString();
    return true;
}

void TQtUIServices::SetCursor(TScreenCursor Cursor)
{
    if (Cursor == FCursor)
        return;
    if (HaveWidgetsApplication()) {
        if (Cursor == crHourGlass)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QGuiApplication::restoreOverrideCursor();
    }
    FCursor = Cursor;
}

void TQtUIServices::ProcessMessages()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

bool TQtUIServices::HasGui() const
{
    return HaveWidgetsApplication();
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
    QWidget* owner = MessageBoxOwner();
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
    QWidget* owner = MessageBoxOwner();
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
