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
    // Count := 0, then OnCount may change it.
    virtual int RecordCount();
    virtual TFieldType DataTypeByColumn(TKVEColumn* Column);
    virtual bool RequiredByColumn(TKVEColumn* Column);
    virtual bool ReadOnlyByColumn(TKVEColumn* Column);
    virtual TField* FindFieldByColumn(TKVEColumn* Column);

protected:
    // Passed by reference to every OnNext; never read or reset by the engine.
    bool FAbort = false;
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
