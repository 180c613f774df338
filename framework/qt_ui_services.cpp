#include "framework/qt_ui_services.h"

#include "framework/file_dialog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QWidget>

namespace {

QWidget* BoxOwner()
{
    return qobject_cast<QWidget*>(MessageBoxOwner());
}

// Runs when the library is loaded; the linker keeps this file through the symbol below,
// which the library's users are made to reference (see framework/CMakeLists.txt).
const bool gRegistered = (InstallQtUIServices(), true);

} // namespace

extern "C" const bool tabrix_qt_ui_services_linked = gRegistered;

void InstallQtUIServices()
{
    static TQtUIServices services;
    SetWindowedUIServices(&services);
    TWindowMakers& makers = WindowMakers();
    makers.ActiveWindow = []() -> QObject* { return QApplication::activeWindow(); };
    makers.OpenFileName = [](const std::string& DefaultExt, const std::string& Filter, std::string& FileName) {
        QWidget* owner = HaveWidgetsApplication() ? QApplication::activeWindow() : nullptr;
        return KVEOpenSaveFileDialog(owner, DefaultExt, Filter, "", "", FileName, true);
    };
}

void TQtUIServices::MessageBox(const std::string& Text, TMsgKind Kind)
{
    QString title = QCoreApplication::applicationName();
    QString text = QString::fromStdString(Text);
    QWidget* owner = BoxOwner();
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
    QWidget* owner = BoxOwner();
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
    const QString text = QInputDialog::getText(BoxOwner(), QString::fromStdString(Caption),
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

