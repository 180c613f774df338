#pragma once
// A Qt Widgets application object for tests that create windows (offscreen platform).

#include <QApplication>
#include <cstdlib>

inline QApplication& EnsureQtApplication()
{
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *app;
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "tabrix-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Makes Window the active window, as a click on it would, so that focus moves with
// focus events (which decide, among other things, the default button of a dialog).
inline void Activate(QWidget& Window)
{
    QApplication::setActiveWindow(&Window);
}
