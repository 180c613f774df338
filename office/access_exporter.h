#pragma once
// Exports into a table of a desktop database through the database engine's automation
// interface (DAO) over the automation bridge: opens or creates the database, creates the
// table from the visible columns (or adds to an existing one) and adds one record per
// source row.
//
// The whole write runs in one engine transaction (BeginTrans after the database is
// open, CommitTrans after the last row, Rollback on failure), so a failed export leaves
// an existing table and its rows as they were. A cancelled export keeps what it wrote.

#include "export/export_component.h"
#include "platform/automation/automation.h"

#include <string>
#include <vector>

class TStringList;

enum TMSAccessVersion : std::uint8_t { avAuto, avAccess97, avAccess2000 };

// The engine version a new exporter uses.
extern TMSAccessVersion DefaultAccessVersion;

class TKVExportToAccess : public TKVExportBaseComponent {
    Q_OBJECT
public:
    explicit TKVExportToAccess(QObject* AOwner = nullptr);
    ~TKVExportToAccess() override;

    TMSAccessVersion MSAccessVersion = avAuto;
    // Attach to a running engine before starting one.
    bool UseCurrentInstance = false;
    // Kept for hosts; the export does not use it.
    std::string UserName;
    // The database password used when an existing file is opened.
    std::string Password;
    // Reads the source's rows on a second thread while the engine stores the rows
    // before them. Off by default; it takes effect only where no handler can see the
    // source during the walk (no OnBeforeRecord, OnAfterRecord, OnGetCellParams,
    // OnGetFieldText, no AnimatedStatus, a dataset's rows), and an OnProgress handler
    // then must not touch the source either.
    bool ReadAhead = false;

    // Whether MSAccessVersion belongs in a form file (it differs from the default).
    bool IsVersionStore() const { return MSAccessVersion != DefaultAccessVersion; }

    // The database's name is used as given: no default extension is added.
    void InternalBeforeProcess() override;
    void Prepare() override;
    std::string GetFieldStr(TField* Field) override;
    std::string Extension() override { return ".MDB"; }

    void Assign(const TPersistent* Source) override;

    // DAO's numbering of the values the exporter sends.
    enum : int {
        dbBoolean = 1, dbInteger = 3, dbLong = 4, dbCurrency = 5, dbDouble = 7, dbDate = 8, dbBinary = 9,
        dbText = 10, dbLongBinary = 11, dbMemo = 12, dbGUID = 15, dbBigInt = 16
    };
    // The DAO field type that holds values of a field type.
    static int DAOFieldType(TFieldType Type);
    // The locale string a new database is created with.
    static std::string CreationLocale();

protected:
    AutomationValue FEngine;
    AutomationValue FDatabase;
    AutomationValue FRecordset;

private:
    bool FCreatedDatabase = false; // the run created the database file
    // Columns of the new table whose source knew no type before their first value, told
    // when the run ends.
    std::vector<std::string> FUntyped;
    void GetEngine();
    void OpenOrCreateDatabase();
    void CreateTable();
    // Values put from where the source holds them: texts without a copy of their own,
    // numbers and dates as themselves rather than as text.
    enum TTypedValue : std::uint8_t { tvText, tvString, tvInteger, tvDouble, tvDateTime };
    struct TTargetColumn;
    TTypedValue TypedValueOf(const TField* Field, bool Created) const;
    // Sets Value to the source value (not null) where Typed allows and the engine
    // stores it exactly as its text; false leaves the text to be made and put.
    static bool TypedValue(TTypedValue Typed, const Variant& Source, AutomationValue& Value);
    // CreatedTable: the run created the table, each field of its source field's type.
    void WriteRows(bool CreatedTable);
    void WriteRowsAhead(std::vector<TTargetColumn>& Targets);
    // The value T puts for the source's current row, into Value (its storage reused);
    // Text is scratch storage.
    void SourceValue(TTargetColumn& T, bool DataRow, std::string& Text, AutomationValue& Value);
    // One record: AddNew, each target's value (Values, or each target's own), Update.
    void PutRecord(std::vector<TTargetColumn>& Targets, AutomationValue* Values, bool First);
    std::string FieldNameOf(TKVEColumn* Column, TFont* Font);

    // The font handed to OnGetCellParams during one Prepare.
    TFont* FCellFont = nullptr;
};

// Fills List with the names of the user tables of the database DatabaseName. A name
// that names no file leaves the list empty without starting an engine; errors of the
// engine after it started are swallowed.
void GetTableNames(TStringList* List, const std::string& DatabaseName);
