#pragma once
// Opening a database to read from: an SQLite file or a PostgreSQL database named by a
// libpq connection URI. Both are opened read-only, so that a statement a user types
// can never change the source: SQLite through its read-only open flag, PostgreSQL by
// making every transaction of the connection read-only. The programs that export from
// a database (tabrix-export, tabrix-studio) open their sources here.

#include <QSqlDatabase>
#include <QString>
#include <string>

// Whether Text is a PostgreSQL connection URI (postgresql:// or postgres://).
bool IsPostgresUri(const std::string& Text);

// Opens Source under the Qt connection name Connection and returns it. A PostgreSQL
// URI's query parameters (?host=/run/postgresql, ?sslmode=require) go to the
// connection as they are; Password, when not empty, is used instead of the URI's. An
// SQLite file must exist and be a regular file: a mistyped name never leaves an
// empty database behind. Raises Exception saying why the source cannot be opened; the
// connection name is then registered but closed (QSqlDatabase::removeDatabase frees it).
QSqlDatabase OpenSqlSource(const std::string& Source, const QString& Connection, const QString& Password = {});

// Source as it may be shown or remembered: a URI without its password.
std::string SourceDisplayName(const std::string& Source);
