#pragma once
// Databases for tests: SQLite files, and the private PostgreSQL server that the test
// command starts (cmake/TabrixPostgres.cmake). Each PostgreSQL connection works in a
// schema of its own, so test programs running side by side never see each other's
// tables.

#include <QSqlDatabase>
#include <string>
#include <vector>

// Opens (creating it when missing) the SQLite file under the Qt connection name.
QSqlDatabase OpenSqliteDatabase(const std::string& FileName, const QString& ConnectionName);
// Whether the private server is running; Why says what is missing when it is not.
bool PostgresAvailable(std::string* Why = nullptr);
// Connects to the private server under the Qt connection name, in a fresh schema that
// becomes the search path. Raises std::runtime_error when it cannot.
QSqlDatabase OpenPostgresDatabase(const QString& ConnectionName);
// The psql-style connection details ("host=... port=... user=... dbname=...").
std::string PostgresConnectionString();
// Runs each statement; raises std::runtime_error naming the first that fails.
void ExecSql(const QSqlDatabase& Db, const std::vector<std::string>& Statements);
// Closes and removes a Qt connection (after every query on it is gone).
void DropConnection(const QString& ConnectionName);
