// The Gui module's own part (see framework/gui_module.h): the maker of the
// QGuiApplication that exporters which draw need. What else the module brings registers
// itself in its own static initialisers.

#include "framework/gui_module.h"

#include <QGuiApplication>

#include <cstdlib>

namespace {

QCoreApplication* MakeGuiApplication(int& argc, char** argv)
{
    // A command-line run has no display to draw on, and needs none.
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return new QGuiApplication(argc, argv);
}

} // namespace

extern "C" __attribute__((visibility("default"))) void tabrix_gui_module_init()
{
    SetGuiApplicationMaker(&MakeGuiApplication);
}
