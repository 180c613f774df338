#pragma once
// The exporter for every target written cell by cell. It walks the rows of the run's
// source engine, builds for every visible column of every row one cell (text, type,
// alignment, font, colour, source field), lets the application adjust it and hands it
// to a fixed set of virtual write hooks. Concrete targets override the hooks; this
// class itself writes nothing but raw strings to a stream.

#include "export/export_component.h"
#include "framework/streams.h"
#include "framework/value_contract.h"

#include <memory>

class TKVExportToCellFile : public TKVExportBaseComponent {
    Q_OBJECT
public:
    explicit TKVExportToCellFile(QObject* AOwner = nullptr);
    ~TKVExportToCellFile() override;

    // Writes the whole export into the pipeline's own file(s).
    void Prepare() override;
    // Writes the whole export. With a Stream the export goes into it (and this call
    // brackets itself with InternalBeforeProcess / InternalAfterProcess); without one
    // the pipeline opens its own numbered files, as Prepare does.
    void SaveToStream(TStream* Stream);

    // The write hooks, in the order of their slots.
    virtual bool MergeIsSupported();
    virtual bool TitleIsSupported();
    virtual void InternalFileCreate(const std::string& FileName);
    virtual void WriteHeader();
    virtual void WriteFooter();
    virtual void WriteString(const std::string& S);
    virtual void WriteFileBegin();
    virtual void WriteFileEnd();
    virtual void WriteDimensions(int ARowCount, int AColCount);
    virtual void WriteColWidth(int ACol, int AWidth);
    virtual void WriteDataBegin();
    virtual void WriteDataEnd();
    virtual void WriteRowStart(bool IsTitle);
    virtual void WriteRowEnd(bool IsTitle);
    virtual void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                           TAlignment Alignment, TFont* Font, TColor Color);
    virtual void CreateFileStream(const std::string& FileName, int FileNumber);
    // Whether the target holds a binary value's bytes in a form of its own (base64 of its
    // own, a binary field); the others get the bytes as base64 text, counted as a change.
    virtual bool KeepsBinary();
    virtual void CloseFileStream();

    // The name of file number FileNumber of a split export: out.doc, out001.doc,
    // out010.doc, out100.doc.
    static std::string NumberedFileName(const std::string& FileName, int FileNumber);

protected:
    // The visible columns in collection order, and the caption a column shows: its
    // FieldName with soUseFieldNameAsCaption or when its title has no caption, else the
    // title's caption.
    std::vector<TKVEColumn*> VisibleColumns();
    std::string CaptionOf(TKVEColumn* Column);
    // Whether a cell holds a picture (its type, or a graphic field).
    static bool IsPictureCell(TField* Field, TCellType CellType);
    // Text for a target that keeps it: the pipeline's own cell text is handed over
    // rather than copied (WriteData is its last use); any other text is copied.
    std::string TakeCellText(const std::string& Text);

    // The rows file number FileNumber will hold: its title rows and its share of the
    // records (all records when the export is not split).
    int FileRowCount(int FileNumber) const;

    int FRecordCount = 0;
    int FRowsSinceFlush = 0;
    TAlignment FCellAlignment = taLeftJustify;
    std::string FCellText;
    TCellType FCellType = ctString;
    TField* FCellField = nullptr;
    std::unique_ptr<TFont> FCellFont;
    TColor FCellColor = clWhite;
    bool FOwnFile = false;
    int FCurrentRow = 0;
    int FTitleRows = 0;
    bool FDataStarted = false;
    TStream* FStream = nullptr;
    // Set while the pipeline closes its file after a failure, so that a target can
    // discard what it has instead of saving a half-written document.
    bool FExportFailed = false;

    // Counts one value the target could not hold as it was (What, in the writer's words)
    // in visible column ACol of the record being written; outside the table (header and
    // footer lines, captions) it counts for no column. The file's end reports the tally.
    void CountChange(const std::string& What, int ACol);
    TValueChanges FChanges;
    // The names the change lines give the visible columns: their captions, unless a
    // target names its fields otherwise.
    std::vector<std::string> FChangeNames;
    // The record being written, counted from 1 in the whole export.
    long long FRecordNumber = 0;

private:
    void BuildDataCell(TKVEColumn* Column, TField* Field, int Accepted, int Col);
    void WriteCellByLayout(TKVEColumn* Column, int Col);
    void ApplyCharacterSet();
    void CloseOwnStream();

    int FTabRow = 0;
    // Characters the conversion to the DOS code page could not hold, in this export.
    long long FOemReplaced = 0;
};
