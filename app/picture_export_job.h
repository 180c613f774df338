#pragma once
// The picture export itself, without a window: one word-processor exporter fed by one
// virtual data engine from a list of chosen picture files. Every row is one picture:
// its file name in the first column, the picture (the whole bitmap file) in the
// second. The main window derives from this class; the command-line program uses it
// directly, so both write the same document through the same code.

#include "engine/data_engine.h"
#include "framework/string_list.h"
#include "framework/variant.h"
#include "office/word_exporter.h"

#include <memory>
#include <string>
#include <vector>

class TPictureExportJob {
public:
    // Creates the exporter and the engine with their stored settings and wires the
    // engine's five events to the handlers below. The picture list does not exist yet:
    // FormCreate makes it.
    TPictureExportJob();
    virtual ~TPictureExportJob();
    TPictureExportJob(const TPictureExportJob&) = delete;
    TPictureExportJob& operator=(const TPictureExportJob&) = delete;

    // Our web address, shown by the main window and written into the first header line.
    static const std::string VendorURL;
    // Name of the document written beside the program.
    static const std::string DefaultDocumentName;
    // The header lines above the table: the suite line, "Picture exporting" and an
    // empty line, as one text with CR LF line breaks.
    static std::string HeaderText();

    // Start-up: an empty picture list, and the document name set to the program's
    // folder + "tabrix.doc".
    void FormCreate(TPersistent* Sender);
    // Frees the picture list.
    void FormDestroy(TPersistent* Sender);

    // Replaces the picture list by Files (full paths, in this order), sets the header
    // lines and runs the export. The run reports its own failures: the outcome is in
    // KVExportToWord1->Statistic().Result. The run keeps window events flowing (its
    // progress window), so a second start can arrive while one is running; that one
    // raises an Exception and leaves the running export alone.
    void ExportPictures(const std::vector<std::string>& Files);
    // Whether an export is running.
    bool Running() const { return FRunning; }

    // The engine's events.
    void KVEVirtualDataEngine1Count(TPersistent* Sender, int& Count);
    void KVEVirtualDataEngine1First(TPersistent* Sender);
    void KVEVirtualDataEngine1Next(TPersistent* Sender, bool& Abort);
    void KVEVirtualDataEngine1FillColumns(TPersistent* Sender);
    void KVEVirtualDataEngine1GetValue(TPersistent* Sender, TKVEColumn* Column, Variant& Value);

    // The whole content of a file, byte for byte, read while others may still read it
    // but not write it. Raises EFOpenError ("Cannot open file ...") when it cannot be
    // opened, is not a regular file or is larger than MaxPictureFileSize, and an
    // Exception when it cannot be read whole.
    static std::string ReadPictureFile(const std::string& FileName);
    static constexpr long long MaxPictureFileSize = 1LL << 30;

    TStringList* PictureFiles() const { return FPictureFiles.get(); }
    int RowIndex() const { return FRowIndex; }

    // Owned components; they live as long as the job.
    TKVExportToWord* const KVExportToWord1;
    TKVEVirtualDataEngine* const KVEVirtualDataEngine1;

protected:
    // Full paths of the pictures of the current (or last) export.
    std::unique_ptr<TStringList> FPictureFiles;
    // Zero-based index into FPictureFiles of the engine's current row.
    int FRowIndex = 0;

private:
    bool FRunning = false;

    // The file of the current row; raises EListError when the engine is outside the
    // list (or there is no list).
    const std::string& CurrentPictureFile() const;
};
