#include "columns.h"

void TKVEColumnTitle::Assign(const TPersistent* Source)
{
    if (auto* source = dynamic_cast<const TKVEColumnTitle*>(Source)) {
        Caption = source->Caption;
        Alignment = source->Alignment;
        FFont.Assign(&source->FFont);
        Color = source->Color;
        return;
    }
    TPersistent::Assign(Source);
}

TKVEColumn::TKVEColumn(TCollection* Collection)
    : TCollectionItem(Collection)
{
}

void TKVEColumn::Assign(const TPersistent* Source)
{
    auto* source = dynamic_cast<const TKVEColumn*>(Source);
    if (!source) {
        TPersistent::Assign(Source);
        return;
    }
    TCollection* owner = Collection();
    if (owner)
        owner->BeginUpdate();
    try {
        FieldName = source->FieldName;
        FFont.Assign(&source->FFont);
        Color = source->Color;
        Width = source->Width;
        Precision = source->Precision;
        Alignment = source->Alignment;
        Visible = source->Visible;
        DataType = source->DataType;
        ColumnKind = source->ColumnKind;
        FTitle.Caption = source->FTitle.Caption;
        FTitle.Alignment = source->FTitle.Alignment;
        FTitle.Font().Assign(&source->FTitle.Font());
        FTitle.Color = source->FTitle.Color;
    } catch (...) {
        if (owner)
            owner->EndUpdate();
        throw;
    }
    if (owner)
        owner->EndUpdate();
}

TKVEColumns::TKVEColumns(QObject* Owner)
    : TCollection([](TCollection* c) { return new TKVEColumn(c); })
    , FOwner(Owner)
{
}

int TKVEColumns::ColumnByFieldName(const std::string& Name) const
{
    for (int i = 0; i < Count(); ++i)
        if (GetColumn(i)->FieldName == Name)
            return i;
    return -1;
}

namespace {
TCellType BlankTest(const Variant& Value)
{
    if (Value.IsNull() || Value.IsEmpty())
        return ctBlank;
    if (Value == Variant("0"))
        return ctBlank;
    return ctString;
}
} // namespace

TCellType GetValueType(TFieldType FieldType, const Variant& Value, bool BlankIfZero)
{
    auto numeric = [&](TCellType own) { return BlankIfZero ? BlankTest(Value) : own; };
    switch (FieldType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
        return numeric(ctInteger);
    case ftFloat:
    case ftBCD:
    case ftFMTBcd:
        return numeric(ctDouble);
    case ftCurrency:
        return numeric(ctCurrency);
    case ftDate:
        return numeric(ctDate);
    case ftTime:
        return numeric(ctTime);
    case ftDateTime:
        return numeric(ctDateTime);
    case ftBlob:
    case ftMemo:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
        return ctMEMO;
    case ftGraphic:
        return ctGraphic;
    case ftVariant:
        // A field typed value by value: the value's own kind.
        switch (Value.VarType()) {
        case varInteger: return numeric(ctInteger);
        case varDouble: return numeric(ctDouble);
        case varCurrency: return numeric(ctCurrency);
        case varDate: return numeric(ctDateTime);
        default: return ctString;
        }
    default:
        return ctString;
    }
}

TFieldType CellType2FieldType(TCellType CellType)
{
    switch (CellType) {
    case ctInteger: return ftInteger;
    case ctDouble: return ftFloat;
    case ctDateTime: return ftDateTime;
    case ctDate: return ftDate;
    case ctCurrency: return ftCurrency;
    case ctTime: return ftTime;
    case ctMEMO: return ftMemo;
    case ctGraphic: return ftGraphic;
    default: return ftString;
    }
}
