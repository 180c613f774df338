#pragma once
// Row sources of an export run. The run never reads a dataset, grid or application
// data directly: it asks an engine for the columns, walks its rows and asks for the
// value of each column in the current row.

#include "engine/columns.h"
#include "framework/component.h"
#include "framework/graphics.h"
#include "framework/variant.h"

#include <functional>

class TField;
class TDataSet;

using TKVEGetNext = std::function<void(TPersistent* Sender, bool& Abort)>;
using TKVEGetCount = std::function<void(TPersistent* Sender, int& Count)>;
using TKVEGetValue = std::function<void(TPersistent* Sender, TKVEColumn* Column, Variant& Value)>;

class TKVECustomDataEngine : public TComponent {
    Q_OBJECT
public:
    explicit TKVECustomDataEngine(QObject* AOwner = nullptr);

    // Set by the run before rows are read: export only the records selected in the
    // source. Only engines that can select consult it.
    bool FSelectedRecord = false;

    TNotifyEvent OnFirst;
    TKVEGetNext OnNext;
    TKVEGetCount OnCount;
    TNotifyEvent OnBeforeExecute;
    TNotifyEvent OnAfterExecute;
    TNotifyEvent OnFillColumns; // Sender is the column collection being filled
    TKVEGetValue OnGetValue;

    virtual bool SelectedRecordIsSupported();
    virtual void EnableControls();
    virtual void DisableControls();
    // Remember / return to the source's position around one walk; the base raises
    // OnBeforeExecute / OnAfterExecute.
    virtual void SavePosition();
    virtual void RestorePosition();
    // Clears Columns, then lets OnFillColumns describe the source's columns.
    virtual void FillColumns(TKVEColumns* Columns, bool RightToLeft);
    virtual bool IsDataRow(int Index);
    virtual bool Eof();
    virtual void First();
    virtual void Next();
    virtual Variant GetFieldValue(TKVEColumn* Column);
    virtual void ApplyCellColors(int ARow, int ACol, TAlignment& Alignment, TFont& AFont, TColor& Color);
    // Count := 0, then OnCount may change it. A source that would have to pass over
    // its records to count them gives -1 (unknown); CountRecords then counts them.
    virtual int RecordCount();
    virtual int CountRecords();
    virtual TFieldType DataTypeByColumn(TKVEColumn* Column);
    virtual bool RequiredByColumn(TKVEColumn* Column);
    virtual bool ReadOnlyByColumn(TKVEColumn* Column);
    virtual TField* FindFieldByColumn(TKVEColumn* Column);

protected:
    // Passed by reference to every OnNext; never read or reset by the engine.
    bool FAbort = false;
};

// One walk over an engine: controls suspended and the position saved when it starts,
// both given back when it ends, whether it completes, is cancelled or fails. Finish
// ends it normally (a failure to go back raises there); a walk left by an exception
// restores quietly so that the first failure is the one reported.
class TKVEEngineWalk {
public:
    explicit TKVEEngineWalk(TKVECustomDataEngine* Engine);
    ~TKVEEngineWalk();
    TKVEEngineWalk(const TKVEEngineWalk&) = delete;
    TKVEEngineWalk& operator=(const TKVEEngineWalk&) = delete;
    void Finish();

private:
    TKVECustomDataEngine* FEngine;
    bool FPositionSaved = false;
};

// An engine fed by events alone: the count from OnCount (asked anew at every end
// test, so a handler may change it during the walk), the values from OnGetValue.
class TKVEVirtualDataEngine : public TKVECustomDataEngine {
    Q_OBJECT
public:
    explicit TKVEVirtualDataEngine(QObject* AOwner = nullptr);

    void First() override;
    void Next() override;
    bool Eof() override;
    Variant GetFieldValue(TKVEColumn* Column) override;

    int RecNo() const { return FRecNo; }

private:
    int FRecNo = 0;
};
