// The SQLite store: any file name is an SQLite database file, whatever its extension.

#include "platform/automation/dao/dao_store.h"

#include "framework/exceptions.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

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

class SqliteInserter;

// The connection and the inserters adding rows through it. Rows are stored on the
// inserters' own threads; every other use of the connection first waits until they
// are in, so that one thread at a time uses it and statements keep their order.
struct SqliteConnection {
    sqlite3* Db = nullptr;
    std::vector<SqliteInserter*> Inserters;
    SqliteInserter* Active = nullptr; // the inserter that last handed rows to SQLite
    bool InTransaction = false;       // between the store's Begin and its Commit or Rollback

    // Waits until every inserter's rows are stored (failures stay with the inserter).
    void Quiesce();
};

// Adds rows through one prepared INSERT. Inside a transaction rows are collected in
// batches that a second thread binds and steps while the caller makes the next ones, so
// a failure shows at a later Insert or at Flush (a batched store, as COPY is for
// PostgreSQL); the caller rolls the transaction back. A batch never started on the
// second thread (a transaction of a few rows), a row too large to copy into a batch and
// every row outside a transaction are stored on the calling thread.
class SqliteInserter : public DaoInserter {
public:
    SqliteInserter(SqliteConnection& Connection, const std::string& Sql, const std::vector<DaoFieldDef>& Fields)
        : FConnection(&Connection), FStatement(std::make_unique<Statement>(Connection.Db, Sql))
    {
        FColumns = static_cast<std::size_t>(sqlite3_bind_parameter_count(FStatement->Handle()));
        // Amounts that reach here as text have more digits than SQLite's numbers keep.
        for (std::size_t i = 0; i < Fields.size() && i < FColumns; ++i)
            if (Fields[i].Type == DaoType::Currency)
                FExactNumbers.emplace_back(i, Fields[i].Name);
        Connection.Inserters.push_back(this);
    }
    ~SqliteInserter() override { Detach(true); }

    void Insert(const std::vector<DaoValue>& Row) override
    {
        if (!FStatement)
            throw Exception("SQLite: the database was closed");
        if (Row.size() != FColumns)
            throw Exception("SQLite: a row of " + std::to_string(Row.size()) + " values for "
                            + std::to_string(FColumns) + " columns");
        for (std::size_t i = 0; i < FExactNumbers.size(); ++i)
            if (Row[FExactNumbers[i].first].Kind == DaoValue::Text)
                throw Exception("SQLite cannot hold the amount " + Row[FExactNumbers[i].first].Str + " of field '" +
                                FExactNumbers[i].second + "' exactly: a number column keeps 15 significant digits");
        ThrowIfFailed();
        std::size_t bytes = 0;
        for (const DaoValue& v : Row)
            bytes += v.Str.size();
        if (bytes >= BatchBytes || !FConnection->InTransaction) {
            // Stored at once from the caller's values: a row too large to copy into a
            // batch, or a row outside a transaction, which is a change of its own that
            // others see (or that fails) when Update returns.
            Drain();
            ThrowIfFailed();
            Claim();
            BindRow(Row);
            return;
        }
        Encode(Row, bytes);
        if (++FFilling.Rows >= BatchRows || FFilling.Bytes.size() >= BatchBytes)
            Submit();
    }

    void Flush() override
    {
        Drain();
        ThrowIfFailed();
    }

    void Discard() override
    {
        FFilling.Clear();
        std::unique_lock<std::mutex> guard(FLock);
        FQueue.clear();
        FChanged.wait(guard, [this] { return !FBusy; });
        FFailure.clear();
        FFailed = false;
    }

    // Stores the rows held back (Keep) or forgets them, ends the second thread and lets
    // go of the connection; the inserter refuses rows afterwards.
    void Detach(bool Keep)
    {
        if (!FConnection)
            return;
        if (Keep)
            Drain();
        else
            Discard();
        {
            std::lock_guard<std::mutex> guard(FLock);
            FStop = true;
        }
        FChanged.notify_all();
        if (FWorker.joinable())
            FWorker.join();
        std::erase(FConnection->Inserters, this);
        if (FConnection->Active == this)
            FConnection->Active = nullptr;
        FConnection = nullptr;
        FStatement.reset();
    }

    // Submits what is being collected and waits until every row is stored; a failure
    // is kept for ThrowIfFailed.
    void Drain()
    {
        if (FFilling.Rows > 0) {
            if (!FWorker.joinable()) {
                // Nothing went to the second thread yet: not worth starting it.
                try {
                    Claim();
                    StoreBatch(FFilling);
                } catch (const std::exception& e) {
                    Fail(e.what());
                }
                FFilling.Clear();
            } else {
                try {
                    Submit();
                } catch (const std::exception& e) {
                    Fail(e.what()); // a failure recorded before is the one kept
                }
            }
        }
        std::unique_lock<std::mutex> guard(FLock);
        FChanged.wait(guard, [this] { return FQueue.empty() && !FBusy; });
    }

private:
    // Encoded rows: per value a kind byte, then 8 bytes of integer or double, or an
    // 8-byte length and the bytes of a text or blob.
    struct Batch {
        std::string Bytes;
        std::size_t Rows = 0;
        void Clear()
        {
            Bytes.clear();
            Rows = 0;
        }
    };
    static constexpr std::size_t BatchRows = 2048;
    static constexpr std::size_t BatchBytes = 1 << 20;
    static constexpr std::size_t MaxQueued = 2;

    template <class T>
    static char* Put(char* Out, T Value)
    {
        std::memcpy(Out, &Value, sizeof(T));
        return Out + sizeof(T);
    }
    template <class T>
    static T Take(const char*& P)
    {
        T value;
        std::memcpy(&value, P, sizeof(T));
        P += sizeof(T);
        return value;
    }

    // TextBytes: the length of every value's text storage together (at least what the
    // texts and blobs need), so the room is made in one step.
    void Encode(const std::vector<DaoValue>& Row, std::size_t TextBytes)
    {
        std::string& out = FFilling.Bytes;
        const std::size_t start = out.size();
        out.resize(start + Row.size() * (1 + sizeof(std::uint64_t)) + TextBytes);
        char* p = out.data() + start;
        for (const DaoValue& v : Row) {
            *p++ = static_cast<char>(v.Kind);
            switch (v.Kind) {
            case DaoValue::Null: break;
            case DaoValue::Integer: p = Put(p, v.Int); break;
            case DaoValue::Real: p = Put(p, v.Dbl); break;
            case DaoValue::Text:
            case DaoValue::Blob:
                p = Put(p, static_cast<std::uint64_t>(v.Str.size()));
                if (!v.Str.empty())
                    std::memcpy(p, v.Str.data(), v.Str.size());
                p += v.Str.size();
                break;
            }
        }
        out.resize(static_cast<std::size_t>(p - out.data()));
    }

    void Check(int Rc)
    {
        if (Rc != SQLITE_OK)
            throw Exception(std::string("SQLite: ") + sqlite3_errmsg(FConnection->Db));
    }

    void Step()
    {
        FStatement->Step();
        sqlite3_reset(FStatement->Handle()); // every parameter is bound anew for each row
    }

    void BindRow(const std::vector<DaoValue>& Row)
    {
        sqlite3_stmt* s = FStatement->Handle();
        for (std::size_t i = 0; i < Row.size(); ++i) {
            const DaoValue& v = Row[i];
            const int k = static_cast<int>(i) + 1;
            switch (v.Kind) {
            case DaoValue::Null: Check(sqlite3_bind_null(s, k)); break;
            case DaoValue::Integer: Check(sqlite3_bind_int64(s, k, v.Int)); break;
            case DaoValue::Real: Check(sqlite3_bind_double(s, k, v.Dbl)); break;
            case DaoValue::Text:
                Check(sqlite3_bind_text64(s, k, v.Str.data(), v.Str.size(), SQLITE_STATIC, SQLITE_UTF8));
                break;
            case DaoValue::Blob: Check(sqlite3_bind_blob64(s, k, v.Str.data(), v.Str.size(), SQLITE_STATIC)); break;
            }
        }
        Step();
        sqlite3_clear_bindings(s);
    }

    void StoreBatch(const Batch& B)
    {
        sqlite3_stmt* s = FStatement->Handle();
        const char* p = B.Bytes.data();
        // No pointer into the batch stays with the statement, whatever happens.
        struct Unbind {
            sqlite3_stmt* S;
            ~Unbind() { sqlite3_clear_bindings(S); }
        } unbind{s};
        for (std::size_t r = 0; r < B.Rows; ++r) {
            for (std::size_t i = 0; i < FColumns; ++i) {
                const int k = static_cast<int>(i) + 1;
                switch (static_cast<unsigned char>(*p++)) {
                case DaoValue::Null: Check(sqlite3_bind_null(s, k)); break;
                case DaoValue::Integer: Check(sqlite3_bind_int64(s, k, Take<std::int64_t>(p))); break;
                case DaoValue::Real: Check(sqlite3_bind_double(s, k, Take<double>(p))); break;
                case DaoValue::Text: {
                    const auto n = Take<std::uint64_t>(p);
                    Check(sqlite3_bind_text64(s, k, p, n, SQLITE_STATIC, SQLITE_UTF8));
                    p += n;
                    break;
                }
                case DaoValue::Blob: {
                    const auto n = Take<std::uint64_t>(p);
                    Check(sqlite3_bind_blob64(s, k, p, n, SQLITE_STATIC));
                    p += n;
                    break;
                }
                }
            }
            Step();
        }
    }

    void Fail(std::string Message)
    {
        std::lock_guard<std::mutex> guard(FLock);
        if (!FFailed) {
            FFailure = std::move(Message);
            FFailed = true;
        }
        FQueue.clear();
    }

    void ThrowIfFailed()
    {
        if (!FFailed.load(std::memory_order_acquire))
            return;
        std::lock_guard<std::mutex> guard(FLock);
        if (FFailed)
            throw Exception(FFailure);
    }

    // Makes this inserter the one using the connection: the rows another one still
    // holds are stored first, so that two threads never use the connection at once.
    void Claim()
    {
        SqliteInserter*& active = FConnection->Active;
        if (active != this) {
            if (active)
                active->Drain();
            active = this;
        }
    }

    // Hands the batch being collected to the second thread, started on first use.
    void Submit()
    {
        Claim();
        std::unique_lock<std::mutex> guard(FLock);
        if (!FWorker.joinable())
            FWorker = std::thread([this] { Work(); });
        FChanged.wait(guard, [this] { return FQueue.size() < MaxQueued || FFailed; });
        if (FFailed) {
            FFilling.Clear();
            throw Exception(FFailure);
        }
        FQueue.push_back(std::move(FFilling));
        FFilling = Batch();
        if (!FSpare.empty()) {
            FFilling = std::move(FSpare.back());
            FSpare.pop_back();
        }
        guard.unlock();
        FChanged.notify_all();
    }

    void Work()
    {
        std::unique_lock<std::mutex> guard(FLock);
        while (true) {
            FChanged.wait(guard, [this] { return FStop || !FQueue.empty(); });
            if (FQueue.empty())
                return; // stopped
            Batch batch = std::move(FQueue.front());
            FQueue.pop_front();
            FBusy = true;
            guard.unlock();
            FChanged.notify_all();
            std::string failure;
            bool failed = false;
            try {
                StoreBatch(batch);
            } catch (const std::exception& e) {
                failure = e.what();
                failed = true;
            }
            batch.Clear();
            guard.lock();
            if (failed && !FFailed) {
                FFailure = std::move(failure);
                FFailed = true;
            }
            if (FFailed)
                FQueue.clear();
            if (FSpare.size() < MaxQueued)
                FSpare.push_back(std::move(batch));
            FBusy = false;
            FChanged.notify_all();
        }
    }

    SqliteConnection* FConnection;
    std::unique_ptr<Statement> FStatement;
    std::size_t FColumns = 0;
    std::vector<std::pair<std::size_t, std::string>> FExactNumbers; // column, field name
    Batch FFilling;

    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<Batch> FQueue;
    std::vector<Batch> FSpare;
    bool FBusy = false;
    bool FStop = false;
    std::atomic<bool> FFailed = false; // changed under FLock
    std::string FFailure;
    std::thread FWorker;
};

void SqliteConnection::Quiesce()
{
    for (SqliteInserter* inserter : Inserters)
        inserter->Drain();
}

class SqliteStore : public DaoStore {
public:
    SqliteStore(const std::string& FileName, bool Create)
    {
        const int flags = SQLITE_OPEN_READWRITE | (Create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(FileName.c_str(), &FConnection.Db, flags, nullptr) != SQLITE_OK) {
            std::string message = FConnection.Db ? sqlite3_errmsg(FConnection.Db) : "out of memory";
            sqlite3_close(FConnection.Db);
            FConnection.Db = nullptr;
            throw Exception("Could not open the database '" + FileName + "': " + message);
        }
        sqlite3_extended_result_codes(FConnection.Db, 1);
        sqlite3_busy_timeout(FConnection.Db, 5000);
        // A row that breaks a foreign key fails the write (SQLite leaves them unchecked
        // unless asked).
        sqlite3_exec(FConnection.Db, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
        try {
            // Reading the schema tells a database from any other file.
            Exec("SELECT count(*) FROM sqlite_schema");
        } catch (const Exception& e) {
            sqlite3_close(FConnection.Db);
            FConnection.Db = nullptr;
            throw Exception("Unrecognized database format '" + FileName + "': " + e.Message());
        }
    }
    ~SqliteStore() override
    {
        // Rows held back are stored unless a transaction is about to be rolled back.
        const bool keep = !FConnection.Db || sqlite3_get_autocommit(FConnection.Db);
        while (!FConnection.Inserters.empty())
            FConnection.Inserters.back()->Detach(keep);
        if (FConnection.Db && !sqlite3_get_autocommit(FConnection.Db))
            sqlite3_exec(FConnection.Db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(FConnection.Db);
    }

    DaoDialect Dialect() const override { return DaoDialect::Sqlite; }

    std::vector<DaoTableInfo> Tables() override
    {
        FConnection.Quiesce();
        std::vector<DaoTableInfo> tables;
        Statement s(FConnection.Db, "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY rowid");
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
        FConnection.Quiesce();
        std::vector<DaoFieldDef> fields;
        Statement s(FConnection.Db, "SELECT name, type, \"notnull\" FROM pragma_table_info(?1)");
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
        FConnection.Quiesce();
        return std::make_unique<SqliteInserter>(FConnection, "INSERT INTO " + QuoteIdentifier(Table) + " (" + names
                                                         + ") VALUES (" + marks + ")", Fields);
    }

    void Begin() override
    {
        Exec("BEGIN IMMEDIATE");
        FConnection.InTransaction = true;
    }
    void Commit() override
    {
        // Nothing is committed over a row that failed.
        for (SqliteInserter* inserter : FConnection.Inserters)
            inserter->Flush();
        Exec("COMMIT");
        FConnection.InTransaction = false;
    }
    void Rollback() override
    {
        for (SqliteInserter* inserter : FConnection.Inserters)
            inserter->Discard();
        FConnection.InTransaction = false;
        if (!sqlite3_get_autocommit(FConnection.Db))
            Exec("ROLLBACK");
    }

private:
    void Exec(const std::string& Sql)
    {
        FConnection.Quiesce();
        char* error = nullptr;
        if (sqlite3_exec(FConnection.Db, Sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::string message = error ? error : sqlite3_errmsg(FConnection.Db);
            sqlite3_free(error);
            throw Exception("SQLite: " + message);
        }
    }

    SqliteConnection FConnection;
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
        return OpenPostgresStore(Name, std::string(), true);
    return OpenSqliteStore(Name, true);
}
