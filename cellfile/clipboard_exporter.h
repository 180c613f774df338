#pragma once
// The clipboard target (teClipboard): the delimited text of TKVExportToText, with its
// delimiter, qualifier, titles, header and footer lines, put on the system clipboard as
// plain text instead of into a file. There is no file: the file name is not used.
//
// The text goes on the clipboard when the export ends whole (a failed export leaves the
// clipboard as it was). It is Unicode there: with csASCII_MSDOS the characters the DOS
// code page cannot hold have become "?" (counted in a warning) and the rest is read
// back from that code page. The program stays the clipboard's owner until it ends or
// another program takes the clipboard; on X11 it answers the requests for the text
// from its event loop, so a host program keeps its loop running.
//
// Needs a QGuiApplication (Qt Gui is used here and in the PDF target only). A caller's
// stream given to SaveToStream receives the text instead of the clipboard.

#include "cellfile/text_exporter.h"

class TKVExportToClipboard : public TKVExportToText {
    Q_OBJECT
public:
    explicit TKVExportToClipboard(QObject* AOwner = nullptr);

    std::string Extension() override { return std::string(); }
    void InternalFileCreate(const std::string& FileName) override;
    void WriteFileBegin() override;
    void WriteString(const std::string& S) override;
    void CloseFileStream() override;

private:
    std::string FText;
    bool FOpen = false; // a text is being assembled for the clipboard
};
