#include "foreign_grid_engine.h"

#include "framework/collection.h"
#include "framework/data_source.h"
#include "framework/exceptions.h"
#include "framework/string_list.h"

#include <QMetaProperty>

namespace {

// The message of a grid that is not of an engine's kind.
const char* const GridKindError = "Property %s is not specified.";

bool IsObjectProp(const QMetaProperty& P)
{
    return P.isValid() &&
           (P.metaType().flags() & (QMetaType::IsPointer | QMetaType::PointerToQObject | QMetaType::PointerToGadget));
}

bool IsOrdinalProp(const QMetaProperty& P)
{
    if (!P.isValid())
        return false;
    if (P.isEnumType())
        return true;
    switch (P.metaType().id()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool IsStringProp(const QMetaProperty& P)
{
    return P.isValid() && (P.metaType().id() == QMetaType::QString || P.metaType().id() == QMetaType::QByteArray);
}

// An object known by its meta-object: a QObject, or an instance of a Q_GADGET class.
struct TPublished {
    const QMetaObject* Meta = nullptr;
    const void* Gadget = nullptr;
    QObject* Object = nullptr;

    static TPublished Of(QObject* O) { return O ? TPublished{O->metaObject(), nullptr, O} : TPublished{}; }
    bool Valid() const { return Meta && (Gadget || Object); }
    QMetaProperty Prop(const char* Name) const
    {
        const int i = Meta ? Meta->indexOfProperty(Name) : -1;
        return i >= 0 ? Meta->property(i) : QMetaProperty();
    }
    QVariant Read(const QMetaProperty& P) const
    {
        if (!Valid() || !P.isValid())
            return {};
        return Object ? P.read(Object) : P.readOnGadget(Gadget);
    }
    // The object an object property points to.
    TPublished Child(const QMetaProperty& P) const
    {
        if (!IsObjectProp(P))
            return {};
        const QVariant v = Read(P);
        if (P.metaType().flags() & QMetaType::PointerToQObject)
            return Of(v.value<QObject*>());
        if ((P.metaType().flags() & QMetaType::PointerToGadget) && v.isValid())
            return {P.metaType().metaObject(), *static_cast<void* const*>(v.constData()), nullptr};
        return {};
    }
    long long Ordinal(const QMetaProperty& P) const { return Read(P).toLongLong(); }
    std::string String(const QMetaProperty& P) const
    {
        const QVariant v = Read(P);
        const QByteArray b = v.metaType().id() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8();
        return std::string(b.constData(), static_cast<std::size_t>(b.size()));
    }
    // The value of a property of type T* (a framework object without a meta-object).
    template <class T>
    T* Pointer(const QMetaProperty& P) const
    {
        if (!P.isValid() || P.metaType() != QMetaType::fromType<T*>())
            return nullptr;
        return Read(P).template value<T*>();
    }
};

// The collection a published property points to, or none.
TCollection* AsCollection(const TPublished& Owner, const QMetaProperty& P)
{
    if (!(P.metaType().flags() & QMetaType::PointerToGadget))
        return nullptr;
    const QMetaObject* meta = P.metaType().metaObject();
    if (!meta || !meta->inherits(&TCollection::staticMetaObject))
        return nullptr;
    const TPublished c = Owner.Child(P);
    return static_cast<TCollection*>(const_cast<void*>(c.Gadget));
}

TAlignment ToAlignment(long long V, TAlignment Default)
{
    return V >= taLeftJustify && V <= taCenter ? static_cast<TAlignment>(V) : Default;
}

bool IsCustomControl(QObject* C)
{
    return C && C->isWidgetType();
}

std::string ObjectName(QObject* C)
{
    return C ? C->objectName().toStdString() : std::string();
}

// Splits "a TAB b TAB c" into its parts.
std::vector<std::string> TabParts(const std::string& S)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = S.find('\t', start);
        parts.push_back(S.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return parts;
        start = tab + 1;
    }
}

} // namespace

TDataSet* GetPropAsDataSet(QObject* C)
{
    if (!IsCustomControl(C))
        return nullptr;
    const TPublished grid = TPublished::Of(C);
    const QMetaProperty p = grid.Prop("DataSource");
    if (!IsObjectProp(p))
        return nullptr;
    auto* source = qobject_cast<TDataSource*>(grid.Child(p).Object);
    return source ? source->DataSet() : nullptr;
}

bool PropIsDBGrid(QObject* C, bool& IsWWGrid, bool& IsAdvStringGrid)
{
    if (!IsCustomControl(C))
        return false;
    const TPublished grid = TPublished::Of(C);
    const QMetaProperty dataSource = grid.Prop("DataSource");
    const QMetaProperty columns = grid.Prop("Columns");
    const QMetaProperty selected = grid.Prop("Selected");
    const QMetaProperty fields = grid.Prop("Fields");
    if (!IsObjectProp(dataSource))
        return false;
    if (IsObjectProp(columns)) {
        try {
            TCollection* collection = AsCollection(grid, columns);
            if (!collection)
                return false;
            IsWWGrid = false;
            IsAdvStringGrid = false;
            const QMetaObject* item = collection->ItemClass();
            return item && item->indexOfProperty("FieldName") >= 0;
        } catch (...) {
            return false;
        }
    }
    if (IsObjectProp(selected)) {
        IsWWGrid = true;
        IsAdvStringGrid = false;
        return true;
    }
    if (IsObjectProp(fields)) {
        IsWWGrid = false;
        IsAdvStringGrid = true;
        return true;
    }
    return false;
}

TStringList* GetPropAsSelected(QObject* C)
{
    if (!IsCustomControl(C))
        return nullptr;
    const TPublished grid = TPublished::Of(C);
    const QMetaProperty selected = grid.Prop("Selected");
    if (!IsObjectProp(grid.Prop("DataSource")) || !IsObjectProp(selected))
        return nullptr;
    return grid.Pointer<TStringList>(selected);
}

TCollection* GetPropAsColumns(QObject* C)
{
    if (!IsCustomControl(C))
        return nullptr;
    const TPublished grid = TPublished::Of(C);
    QMetaProperty p = grid.Prop("Columns");
    if (!p.isValid())
        p = grid.Prop("Fields");
    if (!IsObjectProp(grid.Prop("DataSource")) || !IsObjectProp(p))
        return nullptr;
    return AsCollection(grid, p);
}

void FillGridList(QObject* AOwner, TStringList* AList)
{
    if (!AOwner || !AList)
        return;
    const bool frame = AOwner->inherits("TFrame");
    for (QObject* x : AOwner->children()) {
        bool ww = false, adv = false;
        if (PropIsDBGrid(x, ww, adv))
            AList->Add(frame ? ObjectName(AOwner) + "." + ObjectName(x) : ObjectName(x));
        if (x->isWidgetType())
            FillGridList(x, AList);
    }
}

// ---------------------------------------------------------------------------
// TKVEwwDBGridDataEngine

TKVEwwDBGridDataEngine::TKVEwwDBGridDataEngine(QObject* AOwner)
    : TKVECustomDBDataEngine(AOwner)
{
}

void TKVEwwDBGridDataEngine::SetDBGrid(QObject* Value)
{
    bool ww = false, adv = false;
    if (Value && (!PropIsDBGrid(Value, ww, adv) || !ww))
        throw Exception(FormatMessage(GridKindError, ObjectName(Value)));
    FDBGrid = Value;
}

TDataSet* TKVEwwDBGridDataEngine::GetDataset()
{
    return GetPropAsDataSet(FDBGrid);
}

bool TKVEwwDBGridDataEngine::SelectedRecordIsSupported()
{
    return true;
}

bool TKVEwwDBGridDataEngine::IsDataRow(int Index)
{
    return !(ExportFooters && Index >= CountRecords() - 1);
}

void TKVEwwDBGridDataEngine::FillColumns(TKVEColumns* Columns, bool RightToLeft)
{
    Columns->Clear();
    TDataSet* ds = GetDataset();
    TStringList own;
    // A grid whose Selected property holds no list still exports its fields.
    TStringList* s = GetPropAsSelected(FDBGrid);
    if (!s)
        s = &own;
    if (s->Count() == 0 && ds) {
        for (int i = 0; i < ds->FieldCount(); ++i) {
            TField* f = ds->Fields(i);
            if (f->Visible())
                s->Add(f->FieldName() + "\t" + std::to_string(f->DisplayWidth()) + "\t" + f->DisplayLabel());
        }
    }
    const TPublished grid = TPublished::Of(FDBGrid);
    const QMetaProperty color = grid.Prop("Color");
    const QMetaProperty font = grid.Prop("Font");
    const QMetaProperty titleFont = grid.Prop("TitleFont");
    const int n = s->Count();
    for (int k = 0; k < n; ++k) {
        const std::string entry = s->Strings(RightToLeft ? n - 1 - k : k);
        const std::vector<std::string> parts = TabParts(entry);
        TKVEColumn* c = Columns->Add();
        c->FieldName = parts.size() > 1 ? parts[0] : std::string();
        TField* f = ds && !c->FieldName.empty() ? ds->FindField(c->FieldName) : nullptr;
        if (f) {
            c->Alignment = f->Alignment();
            c->Width = f->DisplayWidth();
        } else {
            // An entry naming no field of the dataset keeps its own width and title.
            c->Width = parts.size() > 1 ? std::atoi(parts[1].c_str()) : 0;
            if (c->Width <= 0)
                c->Width = 10;
        }
        if (IsOrdinalProp(color))
            c->Color = static_cast<TColor>(grid.Ordinal(color));
        if (TFont* gridFont = grid.Pointer<TFont>(font))
            c->SetFont(*gridFont);
        c->Visible = f ? f->Visible() : true;
        c->Title().Caption = f ? f->DisplayLabel() : parts.size() > 2 ? parts[2] : c->FieldName;
        if (f)
            c->Title().Alignment = f->Alignment();
        if (TFont* gridTitleFont = grid.Pointer<TFont>(titleFont))
            c->Title().SetFont(*gridTitleFont);
        c->Title().Color = clSilver;
    }
}

// ---------------------------------------------------------------------------
// TKVEDBAdvStringGridDataEngine

TKVEDBAdvStringGridDataEngine::TKVEDBAdvStringGridDataEngine(QObject* AOwner)
    : TKVECustomDBDataEngine(AOwner)
{
}

void TKVEDBAdvStringGridDataEngine::SetDBGrid(QObject* Value)
{
    bool ww = false, adv = false;
    if (Value && (!PropIsDBGrid(Value, ww, adv) || !adv))
        throw Exception(FormatMessage(GridKindError, ObjectName(Value)));
    FDBGrid = Value;
}

TDataSet* TKVEDBAdvStringGridDataEngine::GetDataset()
{
    return GetPropAsDataSet(FDBGrid);
}

void TKVEDBAdvStringGridDataEngine::FillColumns(TKVEColumns* Columns, bool RightToLeft)
{
    Columns->Clear();
    TCollection* list = GetPropAsColumns(FDBGrid);
    if (!list || list->Count() == 0) {
        TKVECustomDBDataEngine::FillColumns(Columns, RightToLeft);
        return;
    }
    TDataSet* ds = GetDataset();
    const QMetaObject* itemClass = list->ItemClass();
    TPublished probe{itemClass, nullptr, nullptr};
    const QMetaProperty fieldName = probe.Prop("FieldName");
    const QMetaProperty alignment = probe.Prop("Alignment");
    const QMetaProperty color = probe.Prop("Color");
    const QMetaProperty font = probe.Prop("Font");
    const QMetaProperty visible = probe.Prop("Visible");
    const QMetaProperty title = probe.Prop("Title");
    const int n = list->Count();
    for (int k = 0; k < n; ++k) {
        const TPublished item{itemClass, list->Items(RightToLeft ? n - 1 - k : k), nullptr};
        TKVEColumn* c = Columns->Add();
        if (IsStringProp(fieldName))
            c->FieldName = item.String(fieldName);
        if (IsOrdinalProp(alignment))
            c->Alignment = ToAlignment(item.Ordinal(alignment), c->Alignment);
        TField* f = ds ? ds->FindField(c->FieldName) : nullptr;
        c->Width = f ? f->DisplayWidth() : 10;
        if (IsOrdinalProp(color))
            c->Color = static_cast<TColor>(item.Ordinal(color));
        if (TFont* itemFont = item.Pointer<TFont>(font))
            c->SetFont(*itemFont);
        if (IsOrdinalProp(visible))
            c->Visible = item.Ordinal(visible) != 0;
        if (IsObjectProp(title)) {
            const TPublished t = item.Child(title);
            const QMetaProperty caption = t.Prop("Caption");
            const QMetaProperty titleAlignment = t.Prop("Alignment");
            const QMetaProperty titleColor = t.Prop("Color");
            if (IsStringProp(caption))
                c->Title().Caption = t.String(caption);
            if (IsOrdinalProp(titleAlignment))
                c->Title().Alignment = ToAlignment(t.Ordinal(titleAlignment), c->Title().Alignment);
            if (TFont* titleFont = t.Pointer<TFont>(t.Prop("Font")))
                c->Title().SetFont(*titleFont);
            if (IsOrdinalProp(titleColor))
                c->Title().Color = static_cast<TColor>(t.Ordinal(titleColor));
        } else if (IsStringProp(title)) {
            c->Title().Caption = item.String(title);
        }
    }
}
