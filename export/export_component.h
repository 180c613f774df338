#pragma once
// The export components: TKVECustomBaseComponent holds what every export needs
// (options, value formats, colour style, header and footer, mail settings, events,
// the statistic and the message table); TKVExportBaseComponent adds the row source,
// the file name, the columns and the run itself (Execute).

#include "engine/columns.h"
#include "engine/data_engine.h"
#include "export/data_formats.h"
#include "export/delivery.h"
#include "framework/component.h"
#include "framework/graphics.h"
#include "framework/string_list.h"

#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TField;
class TDataSet;
class TProgressView;
class TStream;

enum TTableTypeExport : std::uint8_t {
    teParadox, teDBase, teText, teHTML, teXLS, teExcel, teWord, teSYLK, teDIF, teWKS, teQuattro, teSQL, teXML,
    teAccess, teClipboard, teRTF, teSPSS, tePDF, teLDIF
};
// A set of table types, bit n = member n.
using TExportFormatTypes = std::uint32_t;
constexpr TExportFormatTypes AllFormats = (1u << (teLDIF + 1)) - 1;

enum TCharacterSet : std::uint8_t { csANSI_WINDOWS, csASCII_MSDOS };

enum TKVOption : std::uint8_t {
    soFieldMask, soShowMessage, soBlankRowAfterCaptions, soMergeData, soWaitCursor, soDisableControls,
    soUseFieldNameAsCaption, soColLines, soRowLines, soColorsFonts, soExportBlankValues
};

// A set of options, bit n = member n (two bytes).
class TKVOptions {
public:
    constexpr TKVOptions() = default;
    constexpr explicit TKVOptions(std::uint16_t Bits) : FBits(Bits) {}
    constexpr TKVOptions(std::initializer_list<TKVOption> Members)
    {
        for (TKVOption m : Members)
            FBits = static_cast<std::uint16_t>(FBits | (1u << m));
    }
    constexpr bool Contains(TKVOption O) const { return (FBits >> O) & 1u; }
    constexpr TKVOptions& Include(TKVOption O) { FBits = static_cast<std::uint16_t>(FBits | (1u << O)); return *this; }
    constexpr TKVOptions& Exclude(TKVOption O) { FBits = static_cast<std::uint16_t>(FBits & ~(1u << O)); return *this; }
    constexpr std::uint16_t Bits() const { return FBits; }
    constexpr bool operator==(const TKVOptions&) const = default;

private:
    std::uint16_t FBits = 0;
};

// soShowMessage, soWaitCursor, soDisableControls, soColLines, soRowLines.
constexpr TKVOptions DefaultOptions{std::uint16_t(434)};

enum TKVEResult : std::uint8_t { erInProgress, erCompleted, erCanceled, erFailed };
enum TColumnSource : std::uint8_t { csDBGrid, csDataSet, csDataEngine };
enum TKVELayout : std::uint8_t { elColumnar, elReversedColumnar, elTabularForm };

using TKVEBeforeRecordEvent = std::function<void(TPersistent* Sender, bool& Accept)>;
using TKVEAfterRecordEvent = std::function<void(TPersistent* Sender, bool& Abort)>;
// The text of a field's value, in place of the one GetFieldStr makes from the process-wide
// formats (Handled false keeps that one). Not called with soFieldMask; BlankIfZero still
// applies to what it gives.
using TGetFieldTextEvent = std::function<void(TPersistent* Sender, TField* Field, std::string& Text, bool& Handled)>;
using TGetCellParamsEvent = std::function<void(TPersistent* Sender, TField* Field, std::string& Text, TFont* AFont,
                                               TAlignment& Alignment, TColor& Background, TCellType& CellType)>;
using TKVEGetLanguageStringEvent = std::function<void(TPersistent* Sender, int Id, std::string& Text)>;
using TKVEGetNextSelected = std::function<void(TPersistent* Sender, int Index, void*& Selected)>;
using TKVEGetSelectedCount = std::function<void(TPersistent* Sender, int& Count)>;
using TKVESpecificationEvent = std::function<void(TPersistent* Sender, std::string& AFileName)>;
using TKVEGetFileName = std::function<void(TPersistent* Sender, int CurFileNumber, std::string& AFileName)>;
using TKVEProgress = std::function<void(TPersistent* Sender, int CurValue, int MaxValue, bool& Abort)>;

class TKVEStatistic : public TPersistent {
public:
    int TotalCount = 0;
    int TotalErrors = 0;
    // The progress window is refreshed only at row numbers divisible by it; 0 or less
    // refreshes at every row.
    int UpdateStep = 1;
    TKVEResult Result = erInProgress;
    // What the run had to change because its target cannot hold it, one line each
    // (how many, and the first place); empty when every value arrived as it left.
    std::vector<std::string> Warnings;

    void Assign(const TPersistent* Source) override;
};

class TKVECustomBaseComponent : public TComponent {
    Q_OBJECT
public:
    explicit TKVECustomBaseComponent(QObject* AOwner = nullptr);
    ~TKVECustomBaseComponent() override;

    TKVOptions Options = DefaultOptions;
    TCharacterSet CharacterSet = csANSI_WINDOWS;
    int RowsPerFile = 0;
    bool RightToLeft = false;
    bool SelectedRecord = false;
    bool AddTitle = false;
    bool AnimatedStatus = true;
    bool BlankIfZero = false;
    bool ExportIfEmpty = true;

    TStringList& Header() { return *FHeader; }
    const TStringList& Header() const { return *FHeader; }
    void SetHeader(const TStringList& Value) { FHeader->Assign(&Value); }
    TStringList& Footer() { return *FFooter; }
    const TStringList& Footer() const { return *FFooter; }
    void SetFooter(const TStringList& Value) { FFooter->Assign(&Value); }
    TKVExportStyle& ExportStyle() { return *FExportStyle; }
    const TKVExportStyle& ExportStyle() const { return *FExportStyle; }
    void SetExportStyle(const TKVExportStyle& Value) { FExportStyle->Assign(&Value); }
    TKVEDataFormats& DataFormats() { return *FDataFormats; }
    const TKVEDataFormats& DataFormats() const { return *FDataFormats; }
    void SetDataFormats(const TKVEDataFormats& Value) { FDataFormats->Assign(&Value); }
    TKVESendTo& SendTo() { return *FSendTo; }
    const TKVESendTo& SendTo() const { return *FSendTo; }
    void SetSendTo(const TKVESendTo& Value) { FSendTo->Assign(&Value); }
    TKVEStatistic& Statistic() { return *FStatistic; }
    const TKVEStatistic& Statistic() const { return *FStatistic; }
    void SetStatistic(const TKVEStatistic& Value) { FStatistic->Assign(&Value); }

    TKVEBeforeRecordEvent OnBeforeRecord;
    TKVEAfterRecordEvent OnAfterRecord;
    TGetCellParamsEvent OnGetCellParams;
    TGetFieldTextEvent OnGetFieldText;
    TKVEGetLanguageStringEvent OnGetLanguageString;
    TNotifyEvent OnBeforeExecute;
    TNotifyEvent OnAfterExecute;
    TKVEGetFileName OnGetFileName;
    TKVEProgress OnProgress;

    // Settings of text targets.
    std::string FieldDelimiter = "\t";
    std::string TextQualifier; // empty: none
    std::string RecordSeparator = "\r\n";
    bool Fixed = false;
    std::string TableName;

    TTableTypeExport TableType() const { return FTableType; }
    virtual void SetTableType(TTableTypeExport Value);
    virtual int MappingVersion() { return 0; }
    // The write hook of the run; nothing here.
    virtual void Prepare() {}
    // The value text of a dataset field under Options, DataFormats and BlankIfZero.
    virtual std::string GetFieldStr(TField* Field);
    // The exporter's file extension with its dot.
    virtual std::string Extension() { return ".EXP"; }

    // The message text for an id, after OnGetLanguageString.
    std::string GetLanguageString(int Id);
    TCellType GetFieldType(TField* Field, bool ABlankIfZero);
    // The colour of sheet row Row under ExportStyle.
    void AssignStyle(int Row, TColor& Color) const;
    std::string Translate(const std::string& Value, bool Encode) const;
    // Mails FileName (or, with a Text, a message without attachment); 0 on success.
    int SendMail(const std::string& FileName, const std::string& Text);
    // Title rows before the first data row: 1, 2 with AddTitle, 3 with the blank row
    // after the captions, plus the header lines.
    int GetTitleRowCount() const;

    void Assign(const TPersistent* Source) override;

protected:
    TTableTypeExport FTableType = teParadox;

private:
    std::unique_ptr<TStringList> FHeader;
    std::unique_ptr<TStringList> FFooter;
    std::unique_ptr<TKVESendTo> FSendTo;
    std::unique_ptr<TKVExportStyle> FExportStyle;
    std::unique_ptr<TKVEStatistic> FStatistic;
    std::unique_ptr<TKVEDataFormats> FDataFormats;
};

// Whether Control is a data grid the suite can read, and of which kind. Grids of other
// libraries are recognised by their published properties.
using TPropIsDBGrid = std::function<bool(QObject* Control, bool& IsWWGrid, bool& IsAdvStringGrid)>;
bool PropIsDBGrid(QObject* Control, bool& IsWWGrid, bool& IsAdvStringGrid);

class TKVExportBaseComponent : public TKVECustomBaseComponent {
    Q_OBJECT
public:
    explicit TKVExportBaseComponent(QObject* AOwner = nullptr);
    ~TKVExportBaseComponent() override;

    TActionAfterExport ActionAfterExport = aeNone;
    TColumnSource ColumnSource = csDBGrid;
    TKVELayout Layout = elColumnar;
    // The folder the specification save dialog proposes; empty: the program's folder.
    std::string SpecificationDir;

    TKVEGetNextSelected OnGetNextSelected;
    TKVEGetSelectedCount OnGetSelectedCount;
    TKVESpecificationEvent OnBeforeLoadSpecification;
    TKVESpecificationEvent OnAfterLoadSpecification;
    TKVESpecificationEvent OnBeforeSaveSpecification;
    TKVESpecificationEvent OnAfterSaveSpecification;

    // The target file. A new component's name is the program's folder + "Tabrix" +
    // the exporter's own Extension(), or empty for the clipboard.
    const std::string& FileName() const;
    void SetFileName(const std::string& Value);

    QObject* DBGrid() const { return FDBGrid; }
    // Validates the control (the reference is unchanged when it is not a supported
    // grid) and remembers its kind.
    void SetDBGrid(QObject* Value);
    TDataSet* DataSet() const;
    void SetDataSet(TDataSet* Value);
    TKVECustomDataEngine* DataEngine() const { return FDataEngine; }
    void SetDataEngine(TKVECustomDataEngine* Value);

    TKVEColumns& Columns() { return *FColumns; }
    const TKVEColumns& Columns() const { return *FColumns; }
    void SetColumns(const TKVEColumns& Value) { FColumns->Assign(&Value); }

    static std::string GetDefExt(TTableTypeExport TableType);

    void SetTableType(TTableTypeExport Value) override;

    // One complete run: prepare, Prepare(), close. A failure becomes
    // Statistic().Result == erFailed (and a box with soShowMessage); one of the
    // framework's exception class stays here, any other goes on to the caller after
    // the closing. The closing restores the process state also when one of its
    // handlers throws; that exception then goes on to the caller.
    void Execute();

    virtual void CreateSourceDataEngine();
    virtual void DestroySourceDataEngine();
    virtual void InternalBeforeProcess();
    virtual void InternalAfterProcess();
    // Opens or mails the written file as ActionAfterExport asks.
    virtual void AfterExport();

    // Export specifications (".kve" files: the component's reusable settings).
    // Writes the whole text into Stream; SpecificationName is stored with it. A text
    // value holding a line break (which the file cannot keep as one value) raises
    // Exception naming its key, before anything is written.
    void SaveSpecificationToStream(TStream& Stream, const std::string& SpecificationName);
    // Applies the text from Stream's position to its end. A bad hexadecimal value
    // raises EConvertError after the settings before it were applied; other bad
    // values keep the current settings.
    void LoadSpecificationFromStream(TStream& Stream);
    // With ShowDialog, asks for both names first (a cancelled dialog keeps the names
    // passed in). Writes nothing and fires no event unless both names are given;
    // file errors propagate, and a name that holds something other than a regular
    // file (a named pipe, a device, a folder) is refused without waiting.
    void SaveSpecification(const std::string& SpecificationName, const std::string& FileName, bool ShowDialog);
    // Without a name, asks for a file. A missing file (or a cancelled dialog) loads
    // nothing and reports nothing. Only a regular file of at most
    // SpecificationMaxFileSize bytes is read; anything else (a named pipe, a device)
    // raises EFOpenError naming the file, without waiting for it.
    void LoadSpecification(const std::string& FileName);

    TDataSet* GetDS();
    int GetSelectedCount();
    void* GetNextSelected(int Index);

    // The progress window.
    bool CreateProgressDlg(const std::string& ACaption, const std::string& AStatus, const std::string& ACancelCaption,
                           int AMin, int AMax, int APosition);
    bool UpdateProgressDlg(const std::string& AStatus, int APosition);
    bool DestroyProgressDlg();
    bool ProgressCanceled() const;
    void SetProgressCanceled(bool Value);
    // The run's progress window (made by the widgets library), or none.
    TProgressView* ProgressDlg() const { return FProgressDlg.get(); }

    // Run state.
    int VisibleColumnCount = 0;
    int SourceRecordCount = 0;
    bool ColumnsPredefined = false;
    bool ProgressAbort = false;
    bool CancelRequested = false;
    bool IsWWGrid = false;
    bool IsAdvStringGrid = false;
    TKVECustomDataEngine* SourceEngine() const { return FSourceEngine; }

    void Assign(const TPersistent* Source) override;

    // The grid check used by SetDBGrid; replaceable for grids of other libraries.
    static TPropIsDBGrid PropIsDBGridCheck;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;
    // A walk over the source finds each column's field once (FindColumnFields) and then
    // asks ColumnField for every cell; ForgetColumnFields ends it. A column that is not
    // the one found at its place (a handler changed the columns) is looked up again.
    void FindColumnFields();
    TField* ColumnField(int Index, TKVEColumn* Column) const;
    void ForgetColumnFields() { FColumnFields.clear(); }
    TKVECustomDataEngine* FSourceEngine = nullptr;

private:
    void ResolveDefaultFileName() const;

    std::vector<std::pair<TKVEColumn*, TField*>> FColumnFields; // by column index, during a walk

    mutable std::string FFileName;
    mutable bool FFileNamePending = true;
    // Whether the grid is the suite's own data grid (engine/db_grid_engine.h).
    bool IsSuiteGrid() const;
    QPointer<QObject> FDBGrid;
    QPointer<TComponent> FDataSet;
    QPointer<TKVECustomDataEngine> FDataEngine;
    std::unique_ptr<TKVEColumns> FColumns;
    std::unique_ptr<TProgressView> FProgressDlg;
    // The window boxes went over before the progress window took that place.
    QPointer<QObject> FPreviousBoxOwner;

    // What the current run changed, so that closing undoes exactly that.
    TFormatSettingsSwap FSavedFormats;
    bool FControlsDisabled = false;
    bool FCursorChanged = false;
    bool FColumnsFilledByRun = false;
    bool FSourceEngineOwned = false;
};
