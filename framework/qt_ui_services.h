#pragma once
// The UI services over Qt Widgets: QMessageBox, QInputDialog, the application's override
// cursor and QCoreApplication::processEvents. Linking the widgets library registers one
// instance as the core's windowed services (used whenever a QApplication exists and no
// other services are installed), and the open-file dialog and the active window as the
// core's window makers. InstallQtUIServices does the same by hand and may be called
// any number of times.

#include "framework/ui_services.h"

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

void InstallQtUIServices();
