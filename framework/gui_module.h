#pragma once
// The Gui module: a plugin that brings what needs Qt Gui (reading pictures that are not
// bitmaps; exporters that draw, such as PDF) into a program built on the headless core
// alone, so that the program loads Qt Gui only when a run needs it.
//
// The module is a shared object that links Qt Gui and the Gui parts of the suite but not
// the core: its references to the core are resolved against the program that loads it,
// which must therefore export its symbols (CMake: ENABLE_EXPORTS). Its static
// initialisers register what it brings (SetForeignPictureDecoder, RegisterExporter in
// office/exporter_factory.h), exactly as when those parts are linked in; then its
// function "tabrix_gui_module_init" runs once. A program opts in by naming where the
// module may be (SetGuiModuleCandidates); without that, nothing is ever loaded.

#include <memory>
#include <string>
#include <vector>

class QCoreApplication;

// The files tried in order; the first that exists is loaded.
void SetGuiModuleCandidates(std::vector<std::string> Paths);
// Loads the module once. True when it is loaded (now or before); false with the reason
// in Error when no candidate was named, none exists or loading failed. A failure is
// remembered: the next call gives the same answer without trying again.
bool LoadGuiModule(std::string& Error);

// The application object a run needs. With NeedGui (a run whose exporter draws, such as
// PDF, which needs a QGuiApplication) the Gui module is loaded and makes a QGuiApplication,
// on the offscreen platform unless QT_QPA_PLATFORM names another; otherwise, or when the
// module cannot be loaded (Error then says why), a QCoreApplication. argc and argv must
// outlive the object.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv, bool NeedGui, std::string& Error);
using TGuiApplicationMaker = QCoreApplication* (*)(int& argc, char** argv);
// Called by the Gui module when it is loaded.
void SetGuiApplicationMaker(TGuiApplicationMaker Maker);
