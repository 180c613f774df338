#include "cellfile/clipboard_exporter.h"

#include "framework/exceptions.h"
#include "spec/text_utils.h"

#include <QClipboard>
#include <QGuiApplication>

#include <iconv.h>

namespace {

// Text in the DOS code page (one byte a character) as UTF-8.
std::string OemToUtf8(const std::string& Text)
{
    const std::string name = "CP" + std::to_string(OemCodePage());
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw EConvertError("The code page " + std::to_string(OemCodePage()) + " is not supported by this system");
    std::string out(Text.size() * 4, '\0');
    char* in = const_cast<char*>(Text.data());
    std::size_t inLeft = Text.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    const std::size_t done = iconv(cd, &in, &inLeft, &to, &toLeft);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1))
        throw EConvertError("The text cannot be read back from the code page " + std::to_string(OemCodePage()));
    out.resize(out.size() - toLeft);
    return out;
}

} // namespace

TKVExportToClipboard::TKVExportToClipboard(QObject* AOwner) : TKVExportToText(AOwner)
{
    SetTableType(teClipboard);
    SetFileName(std::string());
}

void TKVExportToClipboard::InternalFileCreate(const std::string&)
{
}

void TKVExportToClipboard::WriteFileBegin()
{
    if (!FStream && !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        throw Exception("the clipboard needs a graphical application (QGuiApplication)");
    TKVExportToText::WriteFileBegin();
    FText.clear();
    FOpen = !FStream;
}

void TKVExportToClipboard::WriteString(const std::string& S)
{
    if (FOpen)
        FText += S;
    else
        TKVExportToText::WriteString(S);
}

void TKVExportToClipboard::CloseFileStream()
{
    if (!FOpen) {
        TKVExportToText::CloseFileStream();
        return;
    }
    // No stream: the footer is written here, then the whole text goes on the clipboard.
    WriteFooter();
    FOpen = false;
    if (FExportFailed)
        return;
    const std::string text = CharacterSet == csASCII_MSDOS ? OemToUtf8(FText) : FText;
    QGuiApplication::clipboard()->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                                          QClipboard::Clipboard);
    FText.clear();
    FText.shrink_to_fit();
}
