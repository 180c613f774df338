#include "file_dialog.h"

#include "framework/utf8.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QStringList>

namespace {
TFileDialogService* gInstalled = nullptr;

std::string Trimmed(const std::string& S)
{
    const auto first = S.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return S.substr(first, S.find_last_not_of(" \t") - first + 1);
}
} // namespace

QString FileNameToQString(const std::string& Name)
{
#ifdef _WIN32
    return QFile::decodeName(QByteArray::fromStdString(Name));
#else
    if (IsValidUtf8(Name))
        return QString::fromStdString(Name);
    QString text;
    for (std::size_t i = 0; i < Name.size();) {
        if (const std::size_t n = Utf8SequenceLength(Name, i)) {
            text += QString::fromUtf8(Name.data() + i, static_cast<qsizetype>(n));
            i += n;
        } else {
            text += QChar(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(Name[i++])));
        }
    }
    return text;
#endif
}

std::string FileNameFromQString(const QString& Text)
{
#ifdef _WIN32
    return QFile::encodeName(Text).toStdString();
#else
    std::string name;
    name.reserve(static_cast<std::size_t>(Text.size()));
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const char16_t unit = Text[i].unicode();
        if (unit >= 0xDC80 && unit <= 0xDCFF) {
            name += static_cast<char>(unit - 0xDC00); // a byte carried through
        } else if (QChar::isHighSurrogate(unit) && i + 1 < Text.size() && Text[i + 1].isLowSurrogate()) {
            AppendUtf8(QChar::surrogateToUcs4(unit, Text[i + 1].unicode()), name);
            ++i;
        } else {
            AppendUtf8(QChar::isSurrogate(unit) ? char32_t(0xFFFD) : char32_t(unit), name);
        }
    }
    return name;
#endif
}

TFileDialogService& FileDialogService()
{
    static TQtFileDialogService qt;
    return gInstalled ? *gInstalled : qt;
}

TFileDialogService* SetFileDialogService(TFileDialogService* Service)
{
    TFileDialogService* previous = gInstalled;
    gInstalled = Service;
    return previous;
}

std::vector<TFileDialogFilter> ParseFileFilter(const std::string& Filter)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= Filter.size() && !Filter.empty()) {
        const auto bar = Filter.find('|', start);
        if (bar == std::string::npos) {
            parts.push_back(Filter.substr(start));
            break;
        }
        parts.push_back(Filter.substr(start, bar - start));
        start = bar + 1;
    }
    std::vector<TFileDialogFilter> filters;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2)
        filters.push_back({parts[i], parts[i + 1]});
    return filters;
}

namespace {
// Patterns separated by ";" or blanks, as Qt writes them: blank-separated, "*.*"
// (every file on the system the patterns come from) as "*", since "*.*" would only
// match names with a dot here.
std::string QtPatterns(const std::string& List)
{
    std::string patterns;
    std::string one;
    auto flush = [&] {
        if (one == "*.*")
            one = "*";
        if (!one.empty())
            patterns += (patterns.empty() ? "" : " ") + one;
        one.clear();
    };
    for (char c : List) {
        if (c == ';' || c == ' ' || c == '\t')
            flush();
        else
            one += c;
    }
    flush();
    return patterns;
}
} // namespace

std::string QtNameFilter(const TFileDialogFilter& Filter)
{
    std::string patterns = QtPatterns(Filter.Pattern);
    if (patterns.empty())
        patterns = "*";
    // Qt reads the patterns from the brackets at the end of the text, so a
    // description that already shows them ("All files (*.*)") gets no second pair.
    const std::string description = Trimmed(Filter.Description);
    const auto open = description.rfind('(');
    if (!description.empty() && description.back() == ')' && open != std::string::npos
        && QtPatterns(description.substr(open + 1, description.size() - open - 2)) == patterns)
        return description.substr(0, open) + "(" + patterns + ")";
    return (description.empty() ? std::string() : description + " ") + "(" + patterns + ")";
}

void ConfigureFileDialog(QFileDialog& Dialog, const TFileDialogRequest& Request)
{
    Dialog.setAcceptMode(Request.OpenDialog ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    // Any name, existing or not, in both modes; no question before an existing file
    // is chosen for saving.
    Dialog.setFileMode(QFileDialog::AnyFile);
    Dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!Request.Title.empty())
        Dialog.setWindowTitle(QString::fromStdString(Request.Title));
    if (!Request.DefaultExt.empty())
        Dialog.setDefaultSuffix(QString::fromStdString(Request.DefaultExt));
    if (!Request.Filters.empty()) {
        QStringList filters;
        for (const TFileDialogFilter& filter : Request.Filters)
            filters << QString::fromStdString(QtNameFilter(filter));
        Dialog.setNameFilters(filters);
        Dialog.selectNameFilter(filters.first());
    }
    if (!Request.InitialDir.empty())
        Dialog.setDirectory(FileNameToQString(Request.InitialDir));
    if (!Request.FileName.empty())
        Dialog.selectFile(FileNameToQString(Request.FileName));
}

std::optional<std::string> TQtFileDialogService::Execute(const TFileDialogRequest& Request)
{
    // Without a widgets application no dialog can exist: it counts as failed.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return std::nullopt;
    QFileDialog dialog(Request.Owner);
    ConfigureFileDialog(dialog, Request);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return std::nullopt;
    return FileNameFromQString(files.first());
}

std::optional<std::string> TScriptedFileDialogService::Execute(const TFileDialogRequest& Request)
{
    Requests.push_back(Request);
    if (FNext >= Answers.size())
        return std::nullopt;
    return Answers[FNext++];
}

bool KVEOpenSaveFileDialog(QWidget* Owner, const std::string& DefaultExt, const std::string& Filter,
                           const std::string& InitialDir, const std::string& Title, std::string& FileName,
                           bool OpenDialog)
{
    TFileDialogRequest request;
    request.Owner = Owner;
    request.OpenDialog = OpenDialog;
    request.Filters = ParseFileFilter(Filter);
    request.DefaultExt = DefaultExt;
    request.InitialDir = InitialDir;
    request.Title = Title;
    request.FileName = FileName;
    std::optional<std::string> chosen = FileDialogService().Execute(request);
    if (!chosen)
        return false;
    // A name stops at its first NUL, as every file name does.
    FileName = chosen->substr(0, chosen->find('\0'));
    return true;
}
