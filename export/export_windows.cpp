// The windows the export core asks for through the UI services' window makers: the run's
// progress window and the box asking for a specification's name and file. Registered
// when the export widgets library is loaded; the linker keeps this file through the
// symbol below, which the library's users are made to reference (export/CMakeLists.txt).

#include "export/progress_window.h"
#include "export/save_spec_dialog.h"
#include "framework/file_dialog.h"
#include "framework/ui_services.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

bool AskNameAndFile(TNameAndFileQuery& Query)
{
    TfrmKVESaveSpec dialog;
    dialog.setWindowTitle(QString::fromStdString(Query.Caption));
    dialog.lblSpecName->setText(QString::fromStdString(Query.NameLabel));
    dialog.edSpecName->setText(QString::fromStdString(Query.Name));
    dialog.lblFileName->setText(QString::fromStdString(Query.FileLabel));
    dialog.edFileName->setText(FileNameToQString(Query.FileName));
    dialog.btnOk->setText(QString::fromStdString(Query.OkCaption));
    dialog.btnCancel->setText(QString::fromStdString(Query.CancelCaption));
    dialog.FileFilter = Query.FileFilter;
    if (dialog.exec() != QDialog::Accepted)
        return false;
    Query.FileName = FileNameFromQString(dialog.edFileName->text());
    Query.Name = dialog.edSpecName->text().toStdString();
    return true;
}

bool Register()
{
    TWindowMakers& makers = WindowMakers();
    makers.ProgressView = []() -> std::unique_ptr<TProgressView> { return std::make_unique<TfrmKVEProcess>(); };
    makers.NameAndFile = &AskNameAndFile;
    return true;
}

const bool gRegistered = Register();

} // namespace

extern "C" const bool tabrix_export_windows_linked = gRegistered;
