#include "app/open_picture_dialog.h"

#include <QFile>
#include <QFileDialog>
#include <QStringList>

TOpenPictureDialog::TOpenPictureDialog(QObject* AOwner) : QObject(AOwner) {}

bool TOpenPictureDialog::Execute()
{
    ++FExecuteCount;
    std::optional<std::vector<std::string>> chosen = Chooser ? Chooser(*this) : AskUser();
    if (!chosen || chosen->empty())
        return false;
    FFiles.Clear();
    for (const std::string& file : *chosen)
        FFiles.Add(file);
    return true;
}

std::optional<std::vector<std::string>> TOpenPictureDialog::AskUser()
{
    QFileDialog dialog(ParentWindow, QString::fromStdString(Title), QFile::decodeName(QByteArray::fromStdString(InitialDir)));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Several files, each of which must exist (so their folder exists too).
    dialog.setFileMode((Options & ofAllowMultiSelect) ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QString::fromStdString(DefaultExt));
    if (!Filter.empty())
        dialog.setNameFilter(QString::fromStdString(Filter));
    dialog.setSizeGripEnabled((Options & ofEnableSizing) != 0);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    std::vector<std::string> files;
    for (const QString& file : dialog.selectedFiles())
        files.push_back(QFile::encodeName(file).toStdString());
    return files;
}
