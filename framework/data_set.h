#pragma once
// Datasets and fields: the record sources the data engines walk and the exporters read.
//
// A TDataSet owns its TField objects. A field describes one column (name, label, type,
// size, display settings) and reads its current value from the dataset's current
// record through the dataset's virtual GetFieldValue, so a dataset over a database
// only has to supply values and the walk. TMemoryDataSet keeps its records in memory.
//
// Text values are byte strings and are kept whole, NUL bytes included (a picture field
// holds a whole bitmap file).

#include "component.h"
#include "field_types.h"
#include "graphics.h"
#include "variant.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TDataSet;

// An opaque position of one record; empty means "no record". It is a plain byte string
// so that a grid's selection list can store it.
using TBookmark = std::string;

// Large-object field types (blob, memo, graphic and their kin).
bool IsBlobFieldType(TFieldType Type);
// Field types whose values are bytes rather than text or a picture: blobs, (var)bytes
// and the binary objects of other databases.
inline bool IsBinaryFieldType(TFieldType Type)
{
    switch (Type) {
    case ftBlob:
    case ftBytes:
    case ftVarBytes:
    case ftTypedBinary:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftOraBlob: return true;
    default: return false;
    }
}
// Numeric field types: integers, floats, money, BCD.
bool IsNumericFieldType(TFieldType Type);
// Field types of the floating-point field class and its descendant (money).
bool IsFloatFieldType(TFieldType Type);
// Date, time and date-time.
bool IsDateTimeFieldType(TFieldType Type);

// A number formatted with a display pattern: "0" a digit always shown, "#" a digit
// shown when significant, "." the decimal point (the process decimal separator), ","
// in the integer part switches on thousand separators, "E+00" / "E-00" scientific
// notation, text in quotes is copied, up to three sections "positive;negative;zero".
// An empty pattern gives the general format (FloatToStr).
std::string FormatFloat(const std::string& Pattern, double Value);

class TField {
public:
    TField(TDataSet* ADataSet, std::string AFieldName, TFieldType ADataType, int ASize = 0);
    virtual ~TField() = default;
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    TDataSet* DataSet() const { return FDataSet; }
    // Position in the dataset's field list.
    int Index() const { return FIndex; }

    const std::string& FieldName() const { return FFieldName; }
    // The label shown in captions; the field name while none is set.
    virtual std::string DisplayLabel() const;
    void SetDisplayLabel(const std::string& Value) { FDisplayLabel = Value; }
    TFieldType DataType() const { return FDataType; }
    // Declared size: characters of a string field, decimals of a BCD field, else 0. A
    // longer value is still kept whole.
    int Size() const { return FSize; }

    bool Required() const { return FRequired; }
    void SetRequired(bool Value) { FRequired = Value; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value) { FReadOnly = Value; }
    bool Visible() const { return FVisible; }
    void SetVisible(bool Value) { FVisible = Value; }
    // Width in characters; by default derived from the type (a string field's size).
    virtual int DisplayWidth() const;
    void SetDisplayWidth(int Value) { FDisplayWidth = Value; }
    // Right-justified for numbers, left for everything else, unless set.
    virtual TAlignment Alignment() const;
    void SetAlignment(TAlignment Value);
    // Significant digits of a floating-point field (15 by default); 0 for other fields.
    virtual int Precision() const;
    void SetPrecision(int Value) { FPrecision = Value; }
    // Pattern for DisplayText: FormatFloat patterns for numeric fields, FormatDateTime
    // patterns for date and time fields; ignored by other fields.
    const std::string& DisplayFormat() const { return FDisplayFormat; }
    void SetDisplayFormat(const std::string& Value) { FDisplayFormat = Value; }

    // Whether the field belongs to the large-object field class.
    virtual bool IsBlob() const { return IsBlobFieldType(FDataType); }
    // The kind of large object held (the field's own type unless set); ftUnknown for a
    // field that is not a blob.
    virtual TFieldType BlobType() const;
    void SetBlobType(TFieldType Value) { FBlobType = Value; }
    bool IsFloatField() const { return IsFloatFieldType(FDataType); }

    // The value of the current record; null when the field is null or the dataset has
    // no current record. Raises when the dataset is closed.
    virtual Variant Value() const;
    // Stores Value into the current record (the dataset decides whether it can).
    virtual void SetValue(const Variant& Value);
    virtual bool IsNull() const;

    // The plain text of the value: empty for null, "True"/"False" for booleans, the
    // date alone for a date field, the time alone for a time field, the number without
    // currency string for money, the whole bytes of a blob.
    virtual std::string AsString() const;
    // The text the display format produces; without a display format, money carries
    // its currency string and every other field gives AsString.
    virtual std::string DisplayText() const;
    virtual double AsFloat() const;
    virtual std::int64_t AsInteger() const;
    virtual double AsDateTime() const;
    virtual bool AsBoolean() const;
    // The current value: the dataset's own copy where it holds one (Holder untouched),
    // else Value() stored in Holder. Null stands for empty too. Valid until the
    // cursor moves.
    const Variant& CurrentValue(Variant& Holder) const;

private:
    friend class TDataSet;

    TDataSet* FDataSet;
    int FIndex = -1;
    std::string FFieldName;
    TFieldType FDataType;
    int FSize;
    std::string FDisplayLabel;
    bool FRequired = false;
    bool FReadOnly = false;
    bool FVisible = true;
    int FDisplayWidth = -1; // -1: derived from the type
    int FAlignment = -1;    // -1: derived from the type
    int FPrecision = -1;    // -1: derived from the type
    int FBlobType = -1;     // -1: the field's own type
    std::string FDisplayFormat;
};

// A set of records walked with a cursor. Walk operations, bookmarks and field values
// raise an Exception on a closed dataset; Eof and Bof are true there.
class TDataSet : public TComponent {
    Q_OBJECT
public:
    explicit TDataSet(QObject* AOwner = nullptr);
    ~TDataSet() override;

    // Fields, in field order.
    int FieldCount() const { return static_cast<int>(FFields.size()); }
    // Raises EListError for an index outside 0..FieldCount-1.
    TField* Fields(int Index) const;
    // The field of that name, letter case ignored (ASCII letters), or none.
    TField* FindField(const std::string& FieldName) const;
    // As FindField, raising "Field 'X' not found" when there is none.
    TField* FieldByName(const std::string& FieldName) const;

    bool Active() const { return FActive; }
    void SetActive(bool Value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }

    virtual void First() = 0;
    virtual void Last() = 0;
    // Moves to the next record; on the last record it sets Eof and stays.
    virtual void Next() = 0;
    // Moves to the previous record; on the first record it sets Bof and stays.
    virtual void Prior() = 0;
    virtual bool Eof() const = 0;
    virtual bool Bof() const = 0;
    virtual int RecordCount() const = 0;
    // The record count when it is known without another pass over the records (a
    // statement's rows are counted by running it), else -1. A walk that only shows
    // progress asks this; by default it is RecordCount.
    virtual int KnownRecordCount() const { return RecordCount(); }
    // 1-based number of the current record; 0 when there is none.
    virtual int RecNo() const = 0;
    bool IsEmpty() const { return RecordCount() == 0; }

    // The current record's bookmark; empty when there is no current record.
    virtual TBookmark GetBookmark() const = 0;
    // Makes the bookmarked record current. An empty bookmark does nothing; a bookmark
    // of a record that no longer exists raises "Record not found".
    virtual void GotoBookmark(const TBookmark& Bookmark) = 0;
    virtual bool BookmarkValid(const TBookmark& Bookmark) const = 0;
    // For displays: the values (in field order) and the bookmark of the record at
    // zero-based Index in walk order, without moving the current record. An index
    // outside 0..RecordCount-1 raises EListError.
    virtual void GetRecordAt(int Index, std::vector<Variant>& Values, TBookmark& Bookmark) = 0;

    // Counted suspension of the attached controls' updates. While the count is above
    // 0 no change signal is emitted; the last EnableControls emits DataSetChanged once
    // when anything changed meanwhile.
    void DisableControls() { ++FDisableCount; }
    void EnableControls();
    bool ControlsDisabled() const { return FDisableCount > 0; }

signals:
    // Records, fields or the open state changed.
    void DataSetChanged();
    // The current record moved.
    void RecordMoved();

protected:
    friend class TField;
    // The value of Field in the current record (Field belongs to this dataset and the
    // dataset is open): null when there is no current record.
    virtual Variant GetFieldValue(const TField& Field) const = 0;
    // The value GetFieldValue would give, where the dataset holds it for the current
    // record and can lend it without a copy; null otherwise. Valid until the cursor moves.
    virtual const Variant* HeldFieldValue(const TField& Field) const
    {
        (void)Field;
        return nullptr;
    }
    // Stores a value into the current record; by default the dataset is read-only.
    virtual void SetFieldValue(TField& Field, const Variant& Value);
    // Opening and closing; InternalOpen may create the fields.
    virtual void InternalOpen() {}
    virtual void InternalClose() {}

    // Adds a field (name unique, letter case ignored, and not empty) and returns it.
    TField* AddFieldObject(std::unique_ptr<TField> Field);
    void ClearFields() { FFields.clear(); }
    // Raises "Cannot perform this operation on a closed dataset" when closed.
    void CheckActive() const
    {
        if (!FActive)
            RaiseClosed();
    }
    // Change notifications for attached controls (held back while controls are off).
    void NotifyDataSetChanged();
    void NotifyRecordMoved();

private:
    [[noreturn]] static void RaiseClosed();
    std::vector<std::unique_ptr<TField>> FFields;
    mutable std::size_t FFindHint = 0; // where FindField starts looking
    bool FActive = false;
    int FDisableCount = 0;
    bool FPendingChange = false;
};

// A dataset holding its records in memory: define fields, append records, walk. It is
// open from its construction; records survive Close / Open.
class TMemoryDataSet : public TDataSet {
    Q_OBJECT
    Q_PROPERTY(QString TableName READ QTableName WRITE SetQTableName)
public:
    explicit TMemoryDataSet(QObject* AOwner = nullptr);

    // Adds a field; existing records get null in it. A string field without a size
    // gets 20. Raises for an empty or duplicate name.
    TField* AddField(const std::string& FieldName, TFieldType DataType, int Size = 0, bool Required = false,
                     bool ReadOnly = false);

    // Appends a record and makes it current. Values are given in field order; missing
    // trailing values are null. Each value is converted to its field's type (a text
    // "12" into an integer field becomes 12); a value that cannot be converted, more
    // values than fields, or a null in a required field raise and append nothing.
    void AppendRecord(const std::vector<Variant>& Values);
    // Removes the current record; the next one (or the new last one) becomes current.
    void Delete();
    // Removes every record; the fields stay.
    void EmptyDataSet();

    std::string TableName() const { return FTableName; }
    void SetTableName(const std::string& Value) { FTableName = Value; }

    void First() override;
    void Last() override;
    void Next() override;
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
    void SetFieldValue(TField& Field, const Variant& Value) override;
    void InternalOpen() override;

private:
    struct TRecord {
        std::uint64_t Id;
        std::vector<Variant> Values;
    };
    QString QTableName() const { return QString::fromStdString(FTableName); }
    void SetQTableName(const QString& Value) { FTableName = Value.toStdString(); }
    Variant ConvertForField(const TField& Field, const Variant& Value) const;
    // Index of the record with that id, or -1.
    int IndexOfId(std::uint64_t Id) const;
    int IndexOfBookmark(const TBookmark& Bookmark) const;

    std::vector<TRecord> FRecords; // ordered by Id
    std::uint64_t FNextId = 1;
    int FCurrent = -1;
    bool FBof = true;
    bool FEof = true;
    std::string FTableName;
};
