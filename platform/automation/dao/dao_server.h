#pragma once
// The native database engine: the DAO object model that the database-table exporter
// drives (engine, database, table definitions, fields, table recordsets), writing to
// SQLite files or PostgreSQL databases (see dao_store.h). Registered under
// "DAO.DBEngine.36" and "DAO.DBEngine.35".
//
// Transactions: BeginTrans on the engine starts one on every database it has open (and
// on those it opens later), CommitTrans commits them, Rollback undoes everything since
// BeginTrans, table drops and creations included. A database closed, or released,
// inside a transaction rolls it back. Without BeginTrans every change is its own
// transaction.

#include "platform/automation/automation_value.h"

#include <memory>

std::shared_ptr<AutomationObject> CreateDaoEngine();
