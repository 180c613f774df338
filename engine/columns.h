#pragma once
// Export columns, cell types and the conversions between field types and cell types.

#include "framework/collection.h"
#include "framework/field_types.h"
#include "framework/graphics.h"
#include "framework/variant.h"

#include <QObject>
#include <cstdint>
#include <string>

// The type of one cell value as the targets see it.
enum TCellType : std::uint8_t {
    ctBlank, ctInteger, ctDouble, ctString, ctDateTime, ctDate, ctCurrency, ctTime, ctMEMO, ctGraphic
};

// ckField: the column shows a source value; ckConstant: the column shows the fixed text
// held in its FieldName, typed by its DataType.
enum TKVEColumnKind : std::uint8_t { ckField, ckConstant };

class TKVEColumnTitle : public TPersistent {
public:
    TKVEColumnTitle() = default;

    std::string Caption;
    TAlignment Alignment = taLeftJustify;
    TColor Color = clSilver;

    TFont& Font() { return FFont; }
    const TFont& Font() const { return FFont; }
    // Copies Value's settings; the caller keeps its object.
    void SetFont(const TFont& Value) { FFont.Assign(&Value); }

    // From another title: Caption, Alignment, font settings and Color, in that order.
    void Assign(const TPersistent* Source) override;

private:
    TFont FFont;
};

class TKVEColumn : public TCollectionItem {
public:
    explicit TKVEColumn(TCollection* Collection);

    std::string FieldName;
    TColor Color = clWhite;
    int Width = 0;     // characters; 0 = not set
    int Precision = 0; // decimals of a floating-point source field
    TAlignment Alignment = taLeftJustify;
    bool Visible = true;
    TCellType DataType = ctString;
    TKVEColumnKind ColumnKind = ckField;

    TFont& Font() { return FFont; }
    const TFont& Font() const { return FFont; }
    void SetFont(const TFont& Value) { FFont.Assign(&Value); }
    TKVEColumnTitle& Title() { return FTitle; }
    const TKVEColumnTitle& Title() const { return FTitle; }
    void SetTitle(const TKVEColumnTitle& Value) { FTitle.Assign(&Value); }

    // From another column: every setting and the title, by value, inside an update
    // bracket of the owning collection that is closed also when copying fails.
    void Assign(const TPersistent* Source) override;

private:
    TFont FFont;
    TKVEColumnTitle FTitle;
};

class TKVEColumns : public TCollection {
public:
    // Owner: the component the collection belongs to (may be none).
    explicit TKVEColumns(QObject* Owner);

    QObject* Owner() const { return FOwner; }

    TKVEColumn* Add() { return static_cast<TKVEColumn*>(TCollection::Add()); }
    // The column at Index; outside 0..Count-1 raises the list-index error.
    TKVEColumn* GetColumn(int Index) const { return static_cast<TKVEColumn*>(Items(Index)); }
    TKVEColumn* operator[](int Index) const { return GetColumn(Index); }
    // Copies Value into the column at Index; the stored object is kept.
    void SetColumn(int Index, const TKVEColumn& Value) { GetColumn(Index)->Assign(&Value); }
    // Index of the first column whose FieldName equals Name byte for byte; -1 if none.
    int ColumnByFieldName(const std::string& Name) const;

private:
    QObject* FOwner;
};

// The cell type for a value of a field type; with BlankIfZero a numeric, money or
// date-time kind gives ctBlank for null, unassigned and zero values and ctString for
// all others. Types outside the enumeration give ctString.
TCellType GetValueType(TFieldType FieldType, const Variant& Value, bool BlankIfZero);
// The field type that stands for a cell type; ctBlank and unknown values give ftString.
TFieldType CellType2FieldType(TCellType CellType);
