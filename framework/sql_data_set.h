#pragma once
// A dataset over a Qt Sql connection: a SELECT statement or a table, walked forward
// with a forward-only query so that a pass over a large result never holds it in
// memory. Only the current record is read (and converted once per field); a record
// count is taken when the dataset opens.
//
// Bookmarks are sought again, never cached rows: a bookmark holds the record's
// position in the walk and, when the dataset has key fields, the values of those
// keys. Going to a keyed bookmark reads that one record through the keys; going to a
// position re-runs the query and skips forward (forward from the cursor when it is
// still before the position). Key fields are the ones the host names, else the
// primary key of the table when the source is a table; a table source is then walked
// in key order so that positions stay stable.
//
// Values: integers as integers, floats as doubles, DECIMAL/NUMERIC with up to four
// decimals and MONEY as currency, dates and times as date-times (SQLite text in ISO
// form is read as such), Booleans, text as UTF-8 bytes, blobs as their bytes. A value
// that does not read as its field's type raises EConvertError naming the field.

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
    int RecordCount() const override;
    int RecNo() const override;
    TBookmark GetBookmark() const override;
    void GotoBookmark(const TBookmark& Bookmark) override;
    bool BookmarkValid(const TBookmark& Bookmark) const override;
    void GetRecordAt(int Index, std::vector<Variant>& Values, TBookmark& Bookmark) override;

protected:
    Variant GetFieldValue(const TField& Field) const override;
    void InternalOpen() override;
    void InternalClose() override;

private:
    enum TSource { srNone, srCursor, srLookup };
    struct TDecoded {
        int Position = -1;
        std::vector<QVariant> Keys;
    };

    QSqlDatabase Database() const;
    std::string SelectText() const;
    std::string TableIdentifier() const;
    // SELECT * FROM (the source) Alias.
    std::string Wrapped(const char* Alias) const;
    void CreateFields(const QSqlQuery& Query);
    void ResolveKeys();
    void ExecCursor();
    // Puts the cursor on position Pos; false when the result has fewer rows.
    bool SeekCursor(int Pos);
    void CursorDisturbed();
    // The raw value of field Index in the current record.
    QVariant CurrentValue(int Index) const;
    Variant ConvertValue(const TField& Field, const QVariant& Value) const;
    TBookmark MakeBookmark(int Pos, const std::vector<QVariant>& Keys) const;
    bool DecodeBookmark(const TBookmark& Bookmark, TDecoded& Out) const;
    // Runs the key lookup into Query; true when the record exists.
    bool LookupKeys(const std::vector<QVariant>& Keys, QSqlQuery& Query) const;
    void MovedTo(int Pos, TSource Source);

    QString FConnectionName;
    std::string FSQL;
    std::string FTableName;
    std::string FKeyFields;
    std::map<std::string, TFieldType> FTypeOverrides; // by lower-case name

    mutable std::unique_ptr<QSqlQuery> FCursor;
    std::vector<QVariant> FLookupRow; // the record a keyed bookmark went to
    std::vector<int> FKeyIndexes; // field indexes of the key fields
    int FCount = 0;
    int FPos = -1;       // position of the current record, -1 none
    int FCursorPos = -1; // row the cursor stands on; -1 before the first, -2 past the end
    TSource FSource = srNone;
    bool FEof = true;
    bool FBof = true;

    // One converted value per field for the current record.
    mutable std::vector<Variant> FValues;
    mutable std::vector<bool> FValueRead;

    // Rows read for a grid's display: a window of consecutive records.
    struct TPageRow {
        std::vector<Variant> Values;
        TBookmark Bookmark;
    };
    std::vector<TPageRow> FPage;
    int FPageStart = -1;
};
