#pragma once
// A dataset over a Qt Sql connection: a SELECT statement or a table, walked forward so
// that a pass over a large result never holds it in memory. Only the current record
// is read (and converted once per field).
//
// One execution gives the field list and the rows. The statement is run as written
// (never wrapped) for the walk. On PostgreSQL it runs in a cursor of its own, held
// across transactions and fetched in batches, so that other statements on the same
// connection (a lookup, a second dataset) never cut the walk short. A failure of the
// database at any row raises, naming the row: the end of the rows is never guessed.
// A table's record count is counted when the dataset opens; a statement's is known
// when the walk reaches the end, and counted by a second query only when asked for
// before (KnownRecordCount tells which).
//
// Bookmarks are sought again, never cached rows: a bookmark holds the record's
// position in the walk and, when the dataset has key fields, the values of those
// keys, otherwise a digest of the record's values. Going to a keyed bookmark reads
// that one record through the keys; going to a position re-runs the statement and
// skips forward, and fails with "Record not found" when the record there is not the
// one bookmarked. Key fields are the ones the host names, else the primary key of the
// table when the source is a table; a table source is then walked in key order so
// that positions stay stable.
//
// Types come from the declaration and, where it says nothing (an SQLite expression
// column), from the first row's storage class. SQLite integers are 64-bit
// (ftLargeint); text of unknown length is a memo, never a short string.
//
// Values: integers as 64-bit integers, floats as doubles, DECIMAL/NUMERIC that fit a
// currency (up to 18 digits, up to four decimals) and MONEY as currency, other
// numerics as their exact decimal text (ftFMTBcd), dates and times as date-times with
// their fractional seconds (SQLite text in ISO form, SQLite integers as Unix seconds
// in UTC and reals as Julian day numbers, as SQLite's own date functions read them;
// PostgreSQL zoned time stamps in the local time of this process, zoned times of day
// as written), Booleans, text as UTF-8 bytes, blobs as their bytes. A value that does
// not read as its field's type or that its type cannot hold (an infinite date, a
// currency beyond 64 bits) raises EConvertError naming the field.

#include "data_set.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The field type (and, for text and DECIMAL, the size: characters / decimals; for
// floats the precision in Precision) for a column's declared SQL type such as
// "VARCHAR(40)", "integer", "NUMERIC(10,2)", "timestamp", "bytea". Names follow SQLite's
// affinity rules where nothing more exact applies: a type holding "INT" is an integer,
// "CHAR"/"CLOB"/"TEXT" text, "BLOB" a blob, "REAL"/"FLOA"/"DOUB" a float. Returns
// ftUnknown for an empty or unrecognised name.
TFieldType FieldTypeFromSqlType(const std::string& DeclaredType, int& Size, int& Precision);

class TSqlRowStream;
class TServerCancel;
struct sqlite3_stmt;

class TSQLDataSet : public TDataSet {
    Q_OBJECT
public:
    explicit TSQLDataSet(QObject* AOwner = nullptr);
    ~TSQLDataSet() override;

    // The connection, by its Qt connection name (empty: Qt's default connection). It
    // must be open when the dataset opens. Changing it closes the dataset.
    void SetDatabase(const QSqlDatabase& Database);
    const QString& ConnectionName() const { return FConnectionName; }
    void SetConnectionName(const QString& Value);

    // The source: a statement returning rows, or (when SQL is empty) a table name.
    const std::string& SQL() const { return FSQL; }
    void SetSQL(const std::string& Value);
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& Value);
    // Key fields for bookmarks, separated by ";"; empty: the table's primary key.
    const std::string& KeyFields() const { return FKeyFields; }
    void SetKeyFields(const std::string& Value);
    // The host's type for a field, used instead of the declared one (a picture
    // column stored as a blob is ftGraphic). Takes effect at the next Open.
    void SetFieldType(const std::string& FieldName, TFieldType Type);

    // Closes and opens again: a new count, the walk starts over.
    void Refresh();

    void First() override;
    void Last() override;
    void Next() override;
    // Moves back by re-running the query up to the previous record.
    void Prior() override;
    bool Eof() const override { return !Active() || FEof; }
    bool Bof() const override { return !Active() || FBof; }
    // The number of records; for a statement whose walk has not reached its end this
    // runs a count of the statement's rows.
    int RecordCount() const override;
    int KnownRecordCount() const override;
    int RecNo() const override;
    TBookmark GetBookmark() const override;
    void GotoBookmark(const TBookmark& Bookmark) override;
    bool BookmarkValid(const TBookmark& Bookmark) const override;
    void GetRecordAt(int Index, std::vector<Variant>& Values, TBookmark& Bookmark) override;

protected:
    Variant GetFieldValue(const TField& Field) const override;
    const Variant* HeldFieldValue(const TField& Field) const override;
    void InternalOpen() override;
    void InternalClose() override;

private:
    enum TSource { srNone, srCursor, srLookup };
    struct TDecoded {
        int Position = -1;
        std::vector<QVariant> Keys;
        std::string Digest; // of the record's values, when there are no keys
    };

    QSqlDatabase Database() const;
    std::string SelectText() const;
    std::string TableIdentifier() const;
    // SELECT * FROM (the source) Alias.
    std::string Wrapped(const char* Alias) const;
    bool Postgres() const;
    void CreateFields(const TSqlRowStream& Rows);
    // The key field names, before the fields exist (a table is walked in key order).
    void ResolveKeyNames();
    void ResolveKeys();
    void ExecCursor();
    // Puts the cursor on position Pos; false when the result has fewer rows.
    bool SeekCursor(int Pos);
    // Puts the cursor on the current record when a lookup or a display read moved it.
    void CursorOnCurrent() const;
    // The raw value of field Index in the current record (for keys).
    QVariant CurrentValue(int Index) const;
    Variant ConvertValue(const TField& Field, const QVariant& Value) const;
    // The value of field Field of the record Query stands on.
    Variant ReadValue(const TField& Field, const QSqlQuery& Query) const;
    // The value of field Field of the row an SQLite statement stands on.
    Variant ReadSqliteValue(const TField& Field, sqlite3_stmt* Stmt) const;
    // ReadSqliteValue into Value: a text or bytes for a field that holds them as they are
    // go into the room Value has.
    void ReadSqliteValueInto(const TField& Field, sqlite3_stmt* Stmt, Variant& Value) const;
    // A digest of the current record's values.
    std::string RecordDigest() const;
    static std::string DigestOf(const std::vector<Variant>& Values);
    static std::string DigestOf(const std::vector<const Variant*>& Values);
    TBookmark MakeBookmark(int Pos, const std::vector<QVariant>& Keys, const std::string& Digest) const;
    bool DecodeBookmark(const TBookmark& Bookmark, TDecoded& Out) const;
    // Runs the key lookup into Query; true when the record exists.
    bool LookupKeys(const std::vector<QVariant>& Keys, QSqlQuery& Query) const;
    void MovedTo(int Pos, TSource Source);

    QString FConnectionName;
    std::string FSQL;
    std::string FTableName;
    std::string FKeyFields;
    std::map<std::string, TFieldType> FTypeOverrides; // by lower-case name

    mutable std::unique_ptr<TSqlRowStream> FCursor;
    std::unique_ptr<TServerCancel> FServerCancel; // while open on PostgreSQL
    std::vector<Variant> FLookupRow; // the record a keyed bookmark went to
    std::vector<QVariant> FLookupKeys;
    std::vector<std::string> FKeyNames;
    std::vector<int> FKeyIndexes; // field indexes of the key fields
    std::vector<int> FTypeIds;    // the driver's type id of each field
    mutable std::string FPendingDigest; // of the record a position bookmark named, until it is read
    mutable int FCount = 0; // -1: not known yet
    int FPos = -1;       // position of the current record, -1 none
    int FCursorPos = -1; // row the cursor stands on; -1 before the first, -2 past the end
    TSource FSource = srNone;
    bool FEof = true;
    bool FBof = true;

    // One converted value per field for the current record.
    mutable std::vector<Variant> FValues;
    mutable std::vector<unsigned char> FValueRead; // a byte a field: read in this record

    // Rows read for a grid's display: a window of consecutive records.
    struct TPageRow {
        std::vector<Variant> Values;
        TBookmark Bookmark;
    };
    std::vector<TPageRow> FPage;
    int FPageStart = -1;
};
