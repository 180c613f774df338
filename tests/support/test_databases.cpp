#include "test_databases.h"

#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <fstream>
#include <map>
#include <stdexcept>
#include <unistd.h>

namespace {

std::map<std::string, std::string> PostgresSettings()
{
    std::map<std::string, std::string> out;
    std::ifstream in(std::string(TABRIX_POSTGRES_STATE) + "/connection");
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

} // namespace

QSqlDatabase OpenSqliteDatabase(const std::string& FileName, const QString& ConnectionName)
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", ConnectionName);
    db.setDatabaseName(QString::fromStdString(FileName));
    if (!db.open())
        throw std::runtime_error("cannot open " + FileName + ": " + db.lastError().text().toStdString());
    return db;
}

bool PostgresAvailable(std::string* Why)
{
    if (!QSqlDatabase::isDriverAvailable("QPSQL")) {
        if (Why)
            *Why = "Qt's PostgreSQL driver is not installed";
        return false;
    }
    if (PostgresSettings().count("host") == 0) {
        if (Why)
            *Why = "the private PostgreSQL server is not running (ctest starts it with the postgres fixture)";
        return false;
    }
    return true;
}

std::string PostgresConnectionString()
{
    std::string s;
    for (const auto& [key, value] : PostgresSettings())
        s += (s.empty() ? "" : " ") + key + "=" + value;
    return s;
}

QSqlDatabase OpenPostgresDatabase(const QString& ConnectionName)
{
    const auto settings = PostgresSettings();
    if (settings.count("host") == 0)
        throw std::runtime_error("the private PostgreSQL server is not running");
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", ConnectionName);
    db.setHostName(QString::fromStdString(settings.at("host")));
    db.setPort(std::stoi(settings.at("port")));
    db.setUserName(QString::fromStdString(settings.at("user")));
    db.setDatabaseName(QString::fromStdString(settings.at("dbname")));
    if (!db.open())
        throw std::runtime_error("cannot connect to PostgreSQL: " + db.lastError().text().toStdString());
    static std::atomic<int> counter{0};
    const std::string schema = "t" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    ExecSql(db, {"DROP SCHEMA IF EXISTS " + schema + " CASCADE", "CREATE SCHEMA " + schema,
                 "SET search_path TO " + schema});
    return db;
}

void ExecSql(const QSqlDatabase& Db, const std::vector<std::string>& Statements)
{
    for (const std::string& s : Statements) {
        QSqlQuery q(Db);
        if (!q.exec(QString::fromStdString(s)))
            throw std::runtime_error("SQL failed: " + s + ": " + q.lastError().text().toStdString());
    }
}

void DropConnection(const QString& ConnectionName)
{
    {
        QSqlDatabase db = QSqlDatabase::database(ConnectionName, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(ConnectionName);
}
