// The SQLite store: any file name is an SQLite database file, whatever its extension.

#include "platform/automation/dao/dao_store.h"

#include "framework/exceptions.h"

#include <sqlite3.h>
#include <sys/stat.h>

namespace {

class Statement {
public:
    Statement(sqlite3* Db, const std::string& Sql) : FDb(Db)
    {
        if (sqlite3_prepare_v2(Db, Sql.c_str(), static_cast<int>(Sql.size()), &FStmt, nullptr) != SQLITE_OK)
            throw Exception(std::string("SQLite: ") + sqlite3_errmsg(Db) + " (" + Sql + ")");
    }
    ~Statement() { sqlite3_finalize(FStmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // True while a row is there.
    bool Step()
    {
        const int rc = sqlite3_step(FStmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        std::string message = sqlite3_errmsg(FDb);
        sqlite3_reset(FStmt);
        throw Exception("SQLite: " + message);
    }
    std::string Text(int Col) const
    {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, Col));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(FStmt, Col))) : std::string();
    }
    int Int(int Col) const { return sqlite3_column_int(FStmt, Col); }
    sqlite3_stmt* Handle() const { return FStmt; }

private:
    sqlite3* FDb;
    sqlite3_stmt* FStmt = nullptr;
};

class SqliteInserter : public DaoInserter {
public:
    SqliteInserter(sqlite3* Db, const std::string& Sql) : FStatement(Db, Sql), FDb(Db) {}

    void Insert(const std::vector<DaoValue>& Row) override
    {
        sqlite3_stmt* s = FStatement.Handle();
        for (std::size_t i = 0; i < Row.size(); ++i) {
            const DaoValue& v = Row[i];
            const int k = static_cast<int>(i) + 1;
            int rc = SQLITE_OK;
            switch (v.Kind) {
            case DaoValue::Null: rc = sqlite3_bind_null(s, k); break;
            case DaoValue::Integer: rc = sqlite3_bind_int64(s, k, v.Int); break;
            case DaoValue::Real: rc = sqlite3_bind_double(s, k, v.Dbl); break;
            case DaoValue::Text:
                rc = sqlite3_bind_text64(s, k, v.Str.data(), v.Str.size(), SQLITE_STATIC, SQLITE_UTF8);
                break;
            case DaoValue::Blob:
                rc = sqlite3_bind_blob64(s, k, v.Str.data(), v.Str.size(), SQLITE_STATIC);
                break;
            }
            if (rc != SQLITE_OK)
                throw Exception(std::string("SQLite: ") + sqlite3_errmsg(FDb));
        }
        FStatement.Step();
        // Every parameter is bound anew for each row.
        sqlite3_reset(s);
    }

private:
    Statement FStatement;
    sqlite3* FDb;
};

class SqliteStore : public DaoStore {
public:
    SqliteStore(const std::string& FileName, bool Create)
    {
        const int flags = SQLITE_OPEN_READWRITE | (Create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(FileName.c_str(), &FDb, flags, nullptr) != SQLITE_OK) {
            std::string message = FDb ? sqlite3_errmsg(FDb) : "out of memory";
            sqlite3_close(FDb);
            FDb = nullptr;
            throw Exception("Could not open the database '" + FileName + "': " + message);
        }
        sqlite3_extended_result_codes(FDb, 1);
        sqlite3_busy_timeout(FDb, 5000);
        try {
            // Reading the schema tells a database from any other file.
            Exec("SELECT count(*) FROM sqlite_schema");
        } catch (const Exception& e) {
            sqlite3_close(FDb);
            FDb = nullptr;
            throw Exception("Unrecognized database format '" + FileName + "': " + e.Message());
        }
    }
    ~SqliteStore() override
    {
        if (FDb && !sqlite3_get_autocommit(FDb))
            sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(FDb);
    }

    DaoDialect Dialect() const override { return DaoDialect::Sqlite; }

    std::vector<DaoTableInfo> Tables() override
    {
        std::vector<DaoTableInfo> tables;
        Statement s(FDb, "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY rowid");
        while (s.Step()) {
            DaoTableInfo t;
            t.Name = s.Text(0);
            t.System = t.Name.rfind("sqlite_", 0) == 0;
            tables.push_back(std::move(t));
        }
        return tables;
    }

    std::vector<DaoFieldDef> Columns(const std::string& Table) override
    {
        std::vector<DaoFieldDef> fields;
        Statement s(FDb, "SELECT name, type, \"notnull\" FROM pragma_table_info(?1)");
        sqlite3_bind_text64(s.Handle(), 1, Table.data(), Table.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        while (s.Step()) {
            DaoFieldDef f;
            f.Name = s.Text(0);
            DaoTypeFromDeclared(s.Text(1), DaoDialect::Sqlite, f.Type, f.Size);
            f.Required = s.Int(2) != 0;
            fields.push_back(std::move(f));
        }
        if (fields.empty())
            throw Exception("The table '" + Table + "' does not exist");
        return fields;
    }

    void DropTable(const std::string& Table) override { Exec("DROP TABLE " + QuoteIdentifier(Table)); }

    void CreateTable(const std::string& Table, const std::vector<DaoFieldDef>& Fields) override
    {
        Exec(DaoCreateTableSql(Table, Fields, DaoDialect::Sqlite));
    }

    std::unique_ptr<DaoInserter> PrepareInsert(const std::string& Table, const std::vector<DaoFieldDef>& Fields) override
    {
        std::string names, marks;
        for (std::size_t i = 0; i < Fields.size(); ++i) {
            names += (i ? ", " : "") + QuoteIdentifier(Fields[i].Name);
            marks += i ? ", ?" : "?";
        }
        return std::make_unique<SqliteInserter>(FDb, "INSERT INTO " + QuoteIdentifier(Table) + " (" + names
                                                         + ") VALUES (" + marks + ")");
    }

    void Begin() override { Exec("BEGIN IMMEDIATE"); }
    void Commit() override { Exec("COMMIT"); }
    void Rollback() override
    {
        if (!sqlite3_get_autocommit(FDb))
            Exec("ROLLBACK");
    }

private:
    void Exec(const std::string& Sql)
    {
        char* error = nullptr;
        if (sqlite3_exec(FDb, Sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::string message = error ? error : sqlite3_errmsg(FDb);
            sqlite3_free(error);
            throw Exception("SQLite: " + message);
        }
    }

    sqlite3* FDb = nullptr;
};

} // namespace

std::unique_ptr<DaoStore> OpenSqliteStore(const std::string& FileName, bool Create)
{
    struct stat st {};
    const bool exists = ::stat(FileName.c_str(), &st) == 0;
    if (Create && exists)
        throw Exception("Database '" + FileName + "' already exists.");
    if (!Create && !exists)
        throw Exception("Could not find file '" + FileName + "'.");
    if (exists && !S_ISREG(st.st_mode))
        throw Exception("'" + FileName + "' is not a database file.");
    return std::make_unique<SqliteStore>(FileName, Create);
}

bool IsDaoConnectionUri(const std::string& Name)
{
    return Name.rfind("postgresql://", 0) == 0 || Name.rfind("postgres://", 0) == 0;
}

std::unique_ptr<DaoStore> OpenDaoStore(const std::string& Name, const std::string& Password)
{
    if (IsDaoConnectionUri(Name))
        return OpenPostgresStore(Name, Password);
    // An SQLite file has no password; one given is not checked.
    return OpenSqliteStore(Name, false);
}

std::unique_ptr<DaoStore> CreateDaoStore(const std::string& Name)
{
    if (IsDaoConnectionUri(Name))
        return OpenPostgresStore(Name, std::string());
    return OpenSqliteStore(Name, true);
}
