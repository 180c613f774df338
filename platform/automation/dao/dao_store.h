#pragma once
// Where the native database engine keeps its tables: an SQLite file, or a PostgreSQL
// database reached by a "postgresql://" connection URI. Every failure raises Exception
// with a message naming what failed.

#include "platform/automation/dao/dao_types.h"

#include <memory>
#include <string>
#include <vector>

struct DaoTableInfo {
    std::string Name;
    bool System = false; // the store's own bookkeeping tables
};

// Adds rows to one table through a statement prepared once.
class DaoInserter {
public:
    virtual ~DaoInserter() = default;
    // One row, a value for every column of the table in order.
    virtual void Insert(const std::vector<DaoValue>& Row) = 0;
    // Sends rows still held back (a batched store); called before a commit.
    virtual void Flush() {}
    // Forgets rows still held back (the transaction is being rolled back).
    virtual void Discard() {}
};

class DaoStore {
public:
    virtual ~DaoStore() = default;

    virtual DaoDialect Dialect() const = 0;
    // User and system tables in the order the store lists them (creation order).
    virtual std::vector<DaoTableInfo> Tables() = 0;
    // The columns of a table, in order.
    virtual std::vector<DaoFieldDef> Columns(const std::string& Table) = 0;
    virtual void DropTable(const std::string& Table) = 0;
    virtual void CreateTable(const std::string& Table, const std::vector<DaoFieldDef>& Fields) = 0;
    virtual std::unique_ptr<DaoInserter> PrepareInsert(const std::string& Table,
                                                       const std::vector<DaoFieldDef>& Fields) = 0;
    virtual void Begin() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
};

// Whether Name is a connection URI (a PostgreSQL database) rather than a file name.
bool IsDaoConnectionUri(const std::string& Name);

// An existing database: a file must exist and be an SQLite database; a URI is
// connected to with Password (empty: none).
std::unique_ptr<DaoStore> OpenDaoStore(const std::string& Name, const std::string& Password);
// A new database: a file must not exist yet; a URI names a database on the server,
// created when it does not exist yet (connected to without a password).
std::unique_ptr<DaoStore> CreateDaoStore(const std::string& Name);

std::unique_ptr<DaoStore> OpenSqliteStore(const std::string& FileName, bool Create);
// CreateMissing: a database the URI names that does not exist yet is created first.
std::unique_ptr<DaoStore> OpenPostgresStore(const std::string& Uri, const std::string& Password,
                                            bool CreateMissing = false);
