#pragma once
// The database the program reads: one SQLite file or one PostgreSQL database at a time,
// opened read-only under a connection name of its own (framework/sql_source.h). It
// lists the tables and views a person can browse. A PostgreSQL password given in the
// connection dialog lives only in the open connection: it is never part of the name
// that is shown or remembered.

#include <QSqlDatabase>
#include <QString>
#include <string>
#include <vector>

class TStudioSource {
public:
    explicit TStudioSource(QString ConnectionName);
    ~TStudioSource();
    TStudioSource(const TStudioSource&) = delete;
    TStudioSource& operator=(const TStudioSource&) = delete;

    // Closes what is open, then opens Source (an SQLite file or a PostgreSQL URI).
    // Raises Exception saying why it cannot; nothing is open then.
    void Open(const std::string& Source, const QString& Password = {});
    // Every dataset on the connection must be closed first.
    void Close();
    bool Active() const { return !FSource.empty(); }

    // The source as given (a URI without its password).
    const std::string& Name() const { return FSource; }
    const QString& ConnectionName() const { return FConnectionName; }
    QSqlDatabase Database() const;

    // Tables, then views, each sorted; PostgreSQL names outside the public schema
    // carry their schema ("sales.orders").
    std::vector<std::string> Tables() const;
    std::vector<std::string> Views() const;

private:
    QString FConnectionName;
    std::string FSource;
};
