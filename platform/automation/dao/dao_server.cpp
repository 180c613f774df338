#include "platform/automation/dao/dao_server.h"

#include "framework/exceptions.h"
#include "platform/automation/dao/dao_store.h"

#include <QString>
#include <algorithm>
#include <vector>

namespace {

constexpr int SystemObject = static_cast<int>(0x80000002u);

bool Is(std::string_view A, std::string_view B) { return SameMemberName(A, B); }

bool SameName(const std::string& A, const std::string& B)
{
    return QString::fromUtf8(A.data(), static_cast<qsizetype>(A.size()))
               .compare(QString::fromUtf8(B.data(), static_cast<qsizetype>(B.size())), Qt::CaseInsensitive)
        == 0;
}

[[noreturn]] void NotFound() { throw Exception("Item not found in this collection."); }

// The table a name means: the one of exactly that name, else the one name that differs
// only in letter case. Where two tables differ only in case (PostgreSQL allows it),
// neither is taken for the other.
const DaoTableInfo* FindTable(const std::vector<DaoTableInfo>& Tables, const std::string& Name)
{
    const DaoTableInfo* alike = nullptr;
    int alikeCount = 0;
    for (const auto& t : Tables) {
        if (t.Name == Name)
            return &t;
        if (SameName(t.Name, Name)) {
            alike = &t;
            ++alikeCount;
        }
    }
    return alikeCount == 1 ? alike : nullptr;
}
[[noreturn]] void Invalid() { throw Exception("Object invalid or no longer set."); }

const AutomationValue* Arg(const AutomationArgs& Args, std::size_t Position, std::string_view Name)
{
    const AutomationArg* a = Args.Find(Position, Name);
    if (!a || a->Value().IsEmpty())
        return nullptr;
    return &a->Value();
}

const AutomationValue& RequiredArg(const AutomationArgs& Args, std::size_t Position, std::string_view Name,
                                   std::string_view Member)
{
    const AutomationValue* v = Arg(Args, Position, Name);
    if (!v)
        throw Exception("Argument not optional: " + std::string(Member) + " needs " + std::string(Name));
    return *v;
}

const AutomationValue& PutValue(const AutomationArgs& Args, std::string_view Member)
{
    if (Args.Count() != 1)
        throw Exception("Invalid argument: " + std::string(Member) + " takes one value");
    return Args[0].Value();
}

// The password of a connect string ";PWD=secret" (keys without regard to case).
std::string PasswordOf(const std::string& Connect)
{
    std::size_t start = 0;
    while (start <= Connect.size()) {
        std::size_t end = Connect.find(';', start);
        if (end == std::string::npos)
            end = Connect.size();
        const std::string part = Connect.substr(start, end - start);
        if (part.size() >= 4 && SameMemberName(part.substr(0, 4), "PWD="))
            return part.substr(4);
        start = end + 1;
    }
    return {};
}

struct RecordsetState;

struct DatabaseState {
    std::string Name;
    std::unique_ptr<DaoStore> Store;
    bool InTransaction = false;
    std::vector<std::weak_ptr<RecordsetState>> Recordsets;

    DaoStore& Open()
    {
        if (!Store)
            Invalid();
        return *Store;
    }
    void Close();
    void FlushRecordsets();
    void DiscardRecordsets();
    ~DatabaseState() { Close(); }
};

struct RecordsetState {
    std::shared_ptr<DatabaseState> Db;
    std::string Table;
    std::vector<DaoFieldDef> Fields;
    std::unique_ptr<DaoInserter> Inserter;
    std::vector<DaoValue> Buffer;
    // The fields given a value in the record being added, and the fields the inserter
    // was prepared for: a field that is given no value is left to its default.
    std::vector<bool> Assigned;
    std::size_t AssignedCount = 0;
    std::vector<bool> InserterFields;
    bool InserterEvery = true; // the inserter takes every field
    std::vector<std::size_t> RequiredFields; // the ordinals of the fields that refuse null
    std::vector<DaoValue> Subset;
    std::vector<std::shared_ptr<AutomationObject>> FieldObjects;
    bool Editing = false;

    DaoInserter& Live()
    {
        if (!Inserter || !Db->Store)
            Invalid();
        return *Inserter;
    }
};

void DatabaseState::FlushRecordsets()
{
    for (auto& weak : Recordsets)
        if (auto r = weak.lock(); r && r->Inserter)
            r->Inserter->Flush();
}

void DatabaseState::DiscardRecordsets()
{
    for (auto& weak : Recordsets)
        if (auto r = weak.lock()) {
            if (r->Inserter)
                r->Inserter->Discard();
            r->Editing = false;
        }
}

void DatabaseState::Close()
{
    if (!Store)
        return;
    // Uncommitted work never becomes permanent by closing.
    if (InTransaction) {
        DiscardRecordsets();
        try {
            Store->Rollback();
        } catch (const Exception&) {
        }
        InTransaction = false;
    }
    for (auto& weak : Recordsets)
        if (auto r = weak.lock())
            r->Inserter.reset();
    Recordsets.clear();
    Store.reset();
}

struct EngineState {
    std::vector<std::weak_ptr<DatabaseState>> Databases;
    bool InTransaction = false;

    std::vector<std::shared_ptr<DatabaseState>> Open()
    {
        std::vector<std::shared_ptr<DatabaseState>> open;
        for (auto& weak : Databases)
            if (auto db = weak.lock(); db && db->Store)
                open.push_back(db);
        std::erase_if(Databases, [](const auto& w) { auto db = w.lock(); return !db || !db->Store; });
        return open;
    }
};

// ---- field definitions and their collection

struct FieldDefState {
    DaoFieldDef Def;
    bool Appended = false;
};

class FieldObject : public AutomationObject {
public:
    explicit FieldObject(std::shared_ptr<FieldDefState> State, bool ReadOnly)
        : FState(std::move(State)), FReadOnly(ReadOnly) {}
    std::string TypeName() const override { return "Field"; }
    const std::shared_ptr<FieldDefState>& State() const { return FState; }

    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        DaoFieldDef& d = FState->Def;
        if (kind == InvokeKind::Put) {
            if (FReadOnly)
                throw Exception("Operation is not supported for this type of object: " + std::string(m)
                                + " of a field of an existing table");
            const AutomationValue& v = PutValue(args, m);
            if (Is(m, "Name"))
                d.Name = v.ToString();
            else if (Is(m, "Type")) {
                if (!IsDaoType(v.ToInteger()))
                    throw Exception("Invalid argument: field type " + v.ToString());
                d.Type = static_cast<DaoType>(v.ToInteger());
            } else if (Is(m, "Size"))
                d.Size = v.ToInteger();
            else if (Is(m, "Attributes"))
                d.Attributes = v.ToInteger();
            else if (Is(m, "Required"))
                d.Required = v.ToBoolean();
            else if (Is(m, "AllowZeroLength"))
                (void)v.ToBoolean();
            else
                UnknownMember(m);
            return {};
        }
        if (Is(m, "Name"))
            return AutomationValue(d.Name);
        if (Is(m, "Type"))
            return AutomationValue(static_cast<int>(d.Type));
        if (Is(m, "Size"))
            return AutomationValue(d.Size);
        if (Is(m, "Attributes"))
            return AutomationValue(d.Attributes);
        if (Is(m, "Required"))
            return AutomationValue(d.Required);
        UnknownMember(m);
    }

private:
    std::shared_ptr<FieldDefState> FState;
    bool FReadOnly;
};

struct TableDefState {
    std::string Name;
    std::vector<std::shared_ptr<FieldDefState>> Fields;
    bool Existing = false; // a table of the database, not a new definition
    bool System = false;
    bool Appended = false;
};

class TableFieldsObject : public AutomationObject {
public:
    explicit TableFieldsObject(std::shared_ptr<TableDefState> Table) : FTable(std::move(Table)) {}
    std::string TypeName() const override { return "Fields"; }

    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        auto& fields = FTable->Fields;
        if (Is(m, "Count") && kind != InvokeKind::Put)
            return AutomationValue(static_cast<int>(fields.size()));
        if (Is(m, "Item") && kind != InvokeKind::Put) {
            const AutomationValue& key = RequiredArg(args, 0, "Index", m);
            if (key.IsNumeric()) {
                const int i = key.ToInteger();
                if (i < 0 || i >= static_cast<int>(fields.size()))
                    NotFound();
                return AutomationValue(std::make_shared<FieldObject>(fields[static_cast<std::size_t>(i)], FTable->Existing));
            }
            for (auto& f : fields)
                if (SameName(f->Def.Name, key.ToString()))
                    return AutomationValue(std::make_shared<FieldObject>(f, FTable->Existing));
            NotFound();
        }
        if (Is(m, "Append") && kind == InvokeKind::Call) {
            if (FTable->Existing || FTable->Appended)
                throw Exception("Operation is not supported for this type of object: fields cannot be added to "
                                "the existing table '" + FTable->Name + "'");
            auto* field = dynamic_cast<FieldObject*>(RequiredArg(args, 0, "Object", m).Object().get());
            if (!field)
                throw Exception("Type mismatch: Fields.Append takes a field of this engine");
            auto state = field->State();
            if (state->Appended)
                throw Exception("The field '" + state->Def.Name + "' is already part of a table.");
            QuoteIdentifier(state->Def.Name); // refuses empty names and NUL bytes
            for (auto& f : fields)
                if (SameName(f->Def.Name, state->Def.Name))
                    throw Exception("Can't append. An object named '" + state->Def.Name
                                    + "' already exists in the collection.");
            state->Appended = true;
            fields.push_back(state);
            return {};
        }
        if (Is(m, "Refresh") && kind == InvokeKind::Call)
            return {};
        UnknownMember(m);
    }

private:
    std::shared_ptr<TableDefState> FTable;
};

class TableDefObject : public AutomationObject {
public:
    explicit TableDefObject(std::shared_ptr<TableDefState> State) : FState(std::move(State)) {}
    std::string TypeName() const override { return "TableDef"; }
    const std::shared_ptr<TableDefState>& State() const { return FState; }

    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        if (Is(m, "Name")) {
            if (kind != InvokeKind::Put)
                return AutomationValue(FState->Name);
            if (FState->Existing || FState->Appended)
                throw Exception("Operation is not supported for this type of object: renaming a table");
            FState->Name = PutValue(args, m).ToString();
            return {};
        }
        if (Is(m, "Attributes") && kind != InvokeKind::Put)
            return AutomationValue(FState->System ? SystemObject : 0);
        if (Is(m, "Fields") && kind != InvokeKind::Put) {
            AutomationValue fields(std::make_shared<TableFieldsObject>(FState));
            if (const AutomationValue* key = Arg(args, 0, "Index"))
                return fields.Get("Item", {*key});
            return fields;
        }
        if (Is(m, "CreateField") && kind == InvokeKind::Call) {
            auto state = std::make_shared<FieldDefState>();
            if (const AutomationValue* v = Arg(args, 0, "Name"))
                state->Def.Name = v->ToString();
            if (const AutomationValue* v = Arg(args, 1, "Type")) {
                if (!IsDaoType(v->ToInteger()))
                    throw Exception("Invalid argument: field type " + v->ToString());
                state->Def.Type = static_cast<DaoType>(v->ToInteger());
            }
            if (const AutomationValue* v = Arg(args, 2, "Size"))
                state->Def.Size = v->ToInteger();
            if (state->Def.Size < 0)
                throw Exception("Invalid argument: field size " + std::to_string(state->Def.Size));
            return AutomationValue(std::make_shared<FieldObject>(state, false));
        }
        UnknownMember(m);
    }

private:
    std::shared_ptr<TableDefState> FState;
};

std::shared_ptr<TableDefState> ExistingTable(DaoStore& Store, const DaoTableInfo& Info)
{
    auto t = std::make_shared<TableDefState>();
    t->Name = Info.Name;
    t->Existing = true;
    t->System = Info.System;
    if (!Info.System)
        for (DaoFieldDef& f : Store.Columns(Info.Name)) {
            auto fs = std::make_shared<FieldDefState>();
            fs->Def = std::move(f);
            fs->Appended = true;
            t->Fields.push_back(fs);
        }
    return t;
}

class TableDefsObject : public AutomationObject {
public:
    explicit TableDefsObject(std::shared_ptr<DatabaseState> Db) : FDb(std::move(Db)) {}
    std::string TypeName() const override { return "TableDefs"; }

    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        DaoStore& store = FDb->Open();
        if (Is(m, "Count") && kind != InvokeKind::Put)
            return AutomationValue(static_cast<int>(store.Tables().size()));
        if (Is(m, "Item") && kind != InvokeKind::Put) {
            const AutomationValue& key = RequiredArg(args, 0, "Index", m);
            const auto tables = store.Tables();
            if (key.IsNumeric()) {
                const int i = key.ToInteger();
                if (i < 0 || i >= static_cast<int>(tables.size()))
                    NotFound();
                return AutomationValue(std::make_shared<TableDefObject>(ExistingTable(store, tables[static_cast<std::size_t>(i)])));
            }
            if (const DaoTableInfo* t = FindTable(tables, key.ToString()))
                return AutomationValue(std::make_shared<TableDefObject>(ExistingTable(store, *t)));
            NotFound();
        }
        if (Is(m, "Delete") && kind == InvokeKind::Call) {
            const std::string name = RequiredArg(args, 0, "Name", m).ToString();
            const auto tables = store.Tables();
            if (const DaoTableInfo* t = FindTable(tables, name)) {
                if (t->System)
                    throw Exception("Could not delete the system table '" + t->Name + "'.");
                store.DropTable(t->Name);
                return {};
            }
            NotFound();
        }
        if (Is(m, "Append") && kind == InvokeKind::Call) {
            auto* def = dynamic_cast<TableDefObject*>(RequiredArg(args, 0, "Object", m).Object().get());
            if (!def)
                throw Exception("Type mismatch: TableDefs.Append takes a table definition of this engine");
            auto state = def->State();
            if (state->Existing || state->Appended)
                throw Exception("The table '" + state->Name + "' is already part of the database.");
            QuoteIdentifier(state->Name);
            if (state->Fields.empty())
                throw Exception("The table '" + state->Name + "' has no fields; append fields first.");
            for (const auto& t : store.Tables())
                if (store.Dialect() == DaoDialect::Postgres ? t.Name == state->Name : SameName(t.Name, state->Name))
                    throw Exception("Table '" + state->Name + "' already exists.");
            std::vector<DaoFieldDef> fields;
            for (auto& f : state->Fields)
                fields.push_back(f->Def);
            store.CreateTable(state->Name, fields);
            state->Appended = true;
            return {};
        }
        if (Is(m, "Refresh") && kind == InvokeKind::Call)
            return {};
        UnknownMember(m);
    }

private:
    std::shared_ptr<DatabaseState> FDb;
};

// ---- recordsets

class RecordsetFieldObject : public AutomationObject {
public:
    RecordsetFieldObject(const std::shared_ptr<RecordsetState>& Rs, std::size_t Ordinal)
        : FRs(Rs), FState(Rs.get()), FOrdinal(Ordinal) {}
    std::string TypeName() const override { return "Field"; }

    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        // The recordset keeps this object; once the recordset has gone it is invalid.
        // Nothing below releases the recordset, so no reference of its own is taken.
        if (FRs.expired())
            Invalid();
        RecordsetState* rs = FState;
        const DaoFieldDef& def = rs->Fields[FOrdinal];
        if (Is(m, "Value")) {
            if (kind == InvokeKind::Put) {
                rs->Live();
                if (!rs->Editing)
                    throw Exception("Update or CancelUpdate without AddNew or Edit.");
                ConvertDaoValue(def, rs->Table, PutValue(args, m), rs->Buffer[FOrdinal]);
                if (!rs->Assigned[FOrdinal]) {
                    rs->Assigned[FOrdinal] = true;
                    ++rs->AssignedCount;
                }
                return {};
            }
            const DaoValue& v = rs->Buffer[FOrdinal];
            switch (v.Kind) {
            case DaoValue::Null: return AutomationValue::Null();
            case DaoValue::Integer:
                if (def.Type == DaoType::Boolean)
                    return AutomationValue(v.Int != 0);
                if (v.Int >= INT32_MIN && v.Int <= INT32_MAX)
                    return AutomationValue(static_cast<int>(v.Int));
                return AutomationValue(static_cast<double>(v.Int));
            case DaoValue::Real: return AutomationValue(v.Dbl);
            case DaoValue::Text: return AutomationValue(v.Str);
            case DaoValue::Blob: return AutomationValue::ByteArray(v.Str);
            }
        }
        if (kind == InvokeKind::Put)
            UnknownMember(m);
        if (Is(m, "Name"))
            return AutomationValue(def.Name);
        if (Is(m, "Type"))
            return AutomationValue(static_cast<int>(def.Type));
        if (Is(m, "Size"))
            return AutomationValue(def.Size);
        if (Is(m, "Required"))
            return AutomationValue(def.Required);
        UnknownMember(m);
    }

private:
    std::weak_ptr<RecordsetState> FRs;
    RecordsetState* FState;
    std::size_t FOrdinal;
};

AutomationValue RecordsetField(const std::shared_ptr<RecordsetState>& Rs, const AutomationValue& Key)
{
    std::size_t ordinal = 0;
    if (Key.IsNumeric()) {
        const int i = Key.ToInteger();
        if (i < 0 || i >= static_cast<int>(Rs->Fields.size()))
            NotFound();
        ordinal = static_cast<std::size_t>(i);
    } else {
        const std::string name = Key.ToString();
        for (ordinal = 0; ordinal < Rs->Fields.size(); ++ordinal)
            if (SameName(Rs->Fields[ordinal].Name, name))
                break;
        if (ordinal == Rs->Fields.size())
            NotFound();
    }
    auto& object = Rs->FieldObjects[ordinal];
    if (!object)
        object = std::make_shared<RecordsetFieldObject>(Rs, ordinal);
    return AutomationValue(object);
}

// The values of the fields given one in the record being added.
const std::vector<DaoValue>& SubsetOf(RecordsetState& Rs)
{
    Rs.Subset.clear();
    for (std::size_t i = 0; i < Rs.Fields.size(); ++i)
        if (Rs.Assigned[i])
            Rs.Subset.push_back(std::move(Rs.Buffer[i]));
    return Rs.Subset;
}

class RecordsetFieldsObject : public AutomationObject {
public:
    explicit RecordsetFieldsObject(std::shared_ptr<RecordsetState> Rs) : FRs(std::move(Rs)) {}
    std::string TypeName() const override { return "Fields"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        if (Is(m, "Count") && kind != InvokeKind::Put)
            return AutomationValue(static_cast<int>(FRs->Fields.size()));
        if (Is(m, "Item") && kind != InvokeKind::Put)
            return RecordsetField(FRs, RequiredArg(args, 0, "Index", m));
        UnknownMember(m);
    }

private:
    std::shared_ptr<RecordsetState> FRs;
};

class RecordsetObject : public AutomationObject {
public:
    explicit RecordsetObject(std::shared_ptr<RecordsetState> Rs) : FRs(std::move(Rs)) {}
    std::string TypeName() const override { return "Recordset"; }

    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        RecordsetState& rs = *FRs;
        if (kind == InvokeKind::Put)
            UnknownMember(m);
        if (Is(m, "Fields")) {
            if (const AutomationValue* key = Arg(args, 0, "Index"))
                return RecordsetField(FRs, *key);
            return AutomationValue(std::make_shared<RecordsetFieldsObject>(FRs));
        }
        if (Is(m, "Name"))
            return AutomationValue(rs.Table);
        if (Is(m, "AddNew")) {
            rs.Live();
            for (DaoValue& v : rs.Buffer) { // the text storage stays for the next record
                v.Kind = DaoValue::Null;
                v.Str.clear();
            }
            std::fill(rs.Assigned.begin(), rs.Assigned.end(), false);
            rs.AssignedCount = 0;
            rs.Editing = true;
            return {};
        }
        if (Is(m, "CancelUpdate")) {
            rs.Editing = false;
            return {};
        }
        if (Is(m, "Update")) {
            DaoInserter& inserter = rs.Live();
            if (!rs.Editing)
                throw Exception("Update or CancelUpdate without AddNew or Edit.");
            if (rs.AssignedCount == 0) { // a record of nulls
                std::fill(rs.Assigned.begin(), rs.Assigned.end(), true);
                rs.AssignedCount = rs.Fields.size();
            }
            for (std::size_t i : rs.RequiredFields)
                if (rs.Assigned[i] && rs.Buffer[i].Kind == DaoValue::Null)
                    ConvertDaoValue(rs.Fields[i], rs.Table, AutomationValue::Null()); // raises the engine's message
            const bool every = rs.AssignedCount == rs.Fields.size();
            if (every ? rs.InserterEvery : rs.Assigned == rs.InserterFields) {
                inserter.Insert(every ? rs.Buffer : SubsetOf(rs));
            } else {
                // Another set of fields than the last record's: the fields given no
                // value are left out, so that their defaults apply.
                inserter.Flush();
                std::vector<DaoFieldDef> fields;
                for (std::size_t i = 0; i < rs.Fields.size(); ++i)
                    if (rs.Assigned[i])
                        fields.push_back(rs.Fields[i]);
                rs.Inserter.reset();
                rs.Inserter = rs.Db->Store->PrepareInsert(rs.Table, fields);
                rs.InserterFields = rs.Assigned;
                rs.InserterEvery = every;
                rs.Inserter->Insert(SubsetOf(rs));
            }
            rs.Editing = false;
            return {};
        }
        if (Is(m, "Close")) {
            if (rs.Inserter)
                rs.Inserter->Flush();
            rs.Inserter.reset();
            rs.Editing = false;
            return {};
        }
        UnknownMember(m);
    }

private:
    std::shared_ptr<RecordsetState> FRs;
};

// ---- database and engine

class DatabaseObject : public AutomationObject {
public:
    explicit DatabaseObject(std::shared_ptr<DatabaseState> Db) : FDb(std::move(Db)) {}
    std::string TypeName() const override { return "Database"; }

    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        if (kind == InvokeKind::Put)
            UnknownMember(m);
        if (Is(m, "Close")) {
            FDb->Close();
            return {};
        }
        DaoStore& store = FDb->Open();
        if (Is(m, "Name"))
            return AutomationValue(FDb->Name);
        if (Is(m, "TableDefs")) {
            AutomationValue tables(std::make_shared<TableDefsObject>(FDb));
            if (const AutomationValue* key = Arg(args, 0, "Index"))
                return tables.Get("Item", {*key});
            return tables;
        }
        if (Is(m, "CreateTableDef")) {
            auto state = std::make_shared<TableDefState>();
            if (const AutomationValue* v = Arg(args, 0, "Name"))
                state->Name = v->ToString();
            return AutomationValue(std::make_shared<TableDefObject>(state));
        }
        if (Is(m, "OpenRecordset")) {
            const std::string name = RequiredArg(args, 0, "Name", m).ToString();
            if (const AutomationValue* type = Arg(args, 1, "Type"); type && type->ToInteger() != 1)
                throw Exception("Invalid argument: this engine opens table recordsets (type 1) only");
            std::string table;
            const auto tables = store.Tables();
            if (const DaoTableInfo* t = FindTable(tables, name))
                table = t->Name;
            if (table.empty())
                throw Exception("The database engine cannot find the input table or query '" + name + "'.");
            auto rs = std::make_shared<RecordsetState>();
            rs->Db = FDb;
            rs->Table = table;
            rs->Fields = store.Columns(table);
            rs->Inserter = store.PrepareInsert(table, rs->Fields);
            rs->Buffer.resize(rs->Fields.size());
            rs->Assigned.assign(rs->Fields.size(), false);
            rs->InserterFields.assign(rs->Fields.size(), true);
            for (std::size_t i = 0; i < rs->Fields.size(); ++i)
                if (rs->Fields[i].Required)
                    rs->RequiredFields.push_back(i);
            rs->FieldObjects.resize(rs->Fields.size());
            FDb->Recordsets.push_back(rs);
            return AutomationValue(std::make_shared<RecordsetObject>(rs));
        }
        UnknownMember(m);
    }

private:
    std::shared_ptr<DatabaseState> FDb;
};

class EngineObject : public AutomationObject {
public:
    std::string TypeName() const override { return "DBEngine"; }

    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        if (kind == InvokeKind::Put)
            UnknownMember(m);
        if (Is(m, "OpenDatabase") || Is(m, "CreateDatabase")) {
            const bool create = Is(m, "CreateDatabase");
            const std::string name = RequiredArg(args, 0, "Name", m).ToString();
            if (name.empty())
                throw Exception("Invalid argument: the database name is empty");
            std::unique_ptr<DaoStore> store;
            if (create) {
                RequiredArg(args, 1, "Locale", m).ToString();
                store = CreateDaoStore(name);
            } else {
                const AutomationValue* connect = Arg(args, 3, "Connect");
                store = OpenDaoStore(name, connect ? PasswordOf(connect->ToString()) : std::string());
            }
            auto db = std::make_shared<DatabaseState>();
            db->Name = name;
            db->Store = std::move(store);
            if (FState.InTransaction) {
                db->Store->Begin();
                db->InTransaction = true;
            }
            FState.Databases.push_back(db);
            return AutomationValue(std::make_shared<DatabaseObject>(db));
        }
        if (Is(m, "BeginTrans")) {
            if (FState.InTransaction)
                throw Exception("Nested transactions are not supported by this engine.");
            for (auto& db : FState.Open()) {
                db->Store->Begin();
                db->InTransaction = true;
            }
            FState.InTransaction = true;
            return {};
        }
        if (Is(m, "CommitTrans") || Is(m, "Rollback")) {
            if (!FState.InTransaction)
                throw Exception("Commit or Rollback without BeginTrans.");
            FState.InTransaction = false;
            const bool commit = Is(m, "CommitTrans");
            for (auto& db : FState.Open()) {
                if (!db->InTransaction)
                    continue;
                db->InTransaction = false;
                if (commit) {
                    db->FlushRecordsets();
                    db->Store->Commit();
                } else {
                    db->DiscardRecordsets();
                    db->Store->Rollback();
                }
            }
            return {};
        }
        if (Is(m, "Version"))
            return AutomationValue("3.6");
        UnknownMember(m);
    }

private:
    EngineState FState;
};

} // namespace

std::shared_ptr<AutomationObject> CreateDaoEngine()
{
    return std::make_shared<EngineObject>();
}
