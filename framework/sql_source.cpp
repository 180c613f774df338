#include "framework/sql_source.h"

#include "framework/exceptions.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

bool IsPostgresUri(const std::string& Text)
{
    return Text.rfind("postgresql://", 0) == 0 || Text.rfind("postgres://", 0) == 0;
}

std::string SourceDisplayName(const std::string& Source)
{
    if (!IsPostgresUri(Source))
        return Source;
    const QUrl url(QString::fromStdString(Source), QUrl::StrictMode);
    if (url.isValid())
        return url.toString(QUrl::RemovePassword).toStdString();
    // Not a URI Qt reads: whatever stands before the host goes.
    const std::size_t scheme = Source.find("://") + 3;
    const std::size_t at = Source.find('@', scheme);
    return at == std::string::npos ? Source : Source.substr(0, scheme) + Source.substr(at + 1);
}

namespace {

QSqlDatabase OpenPostgres(const std::string& Source, const QString& Connection, const QString& Password)
{
    const QUrl url(QString::fromStdString(Source), QUrl::StrictMode);
    if (!url.isValid())
        throw Exception("'" + SourceDisplayName(Source) + "' is not a valid PostgreSQL URI: "
                        + url.errorString().toStdString());
    if (!QSqlDatabase::isDriverAvailable("QPSQL"))
        throw Exception("the PostgreSQL driver of Qt (QPSQL) is not installed");
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", Connection);
    db.setHostName(url.host());
    if (url.port() > 0)
        db.setPort(url.port());
    db.setUserName(url.userName());
    db.setPassword(Password.isEmpty() ? url.password() : Password);
    db.setDatabaseName(url.path().mid(1));
    // Parameters go to the connection as they are, quoted. Every transaction of the
    // connection is read-only.
    auto quoted = [](QString Value) {
        Value.replace("\\", "\\\\").replace("'", "\\'");
        return "'" + Value + "'";
    };
    QString serverOptions = "-c default_transaction_read_only=on";
    QStringList options;
    for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        if (key == "options")
            serverOptions = value + " " + serverOptions;
        else
            options << key + "=" + quoted(value);
    }
    options << "options=" + quoted(serverOptions);
    db.setConnectOptions(options.join(';'));
    if (!db.open())
        throw Exception("cannot connect to " + url.toDisplayString(QUrl::RemovePassword).toStdString() + ": "
                        + db.lastError().text().toStdString());
    return db;
}

QSqlDatabase OpenSqlite(const std::string& Source, const QString& Connection)
{
    struct stat st {};
    if (::stat(Source.c_str(), &st) != 0) {
        if (errno == ENOENT)
            throw Exception("the source " + Source + " does not exist");
        throw Exception("cannot read the source " + Source + ": " + std::strerror(errno));
    }
    if (S_ISREG(st.st_mode) && ::access(Source.c_str(), R_OK) != 0)
        throw Exception("cannot read the source " + Source + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw Exception("the source " + Source + " is not a database file");
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", Connection);
    db.setDatabaseName(QString::fromStdString(Source));
    db.setConnectOptions("QSQLITE_OPEN_READONLY");
    if (!db.open())
        throw Exception("cannot open " + Source + ": " + db.lastError().text().toStdString());
    // A file that is not a database opens all the same; its first read tells.
    QSqlQuery probe(db);
    if (!probe.exec("SELECT count(*) FROM sqlite_master"))
        throw Exception("cannot open " + Source + ": " + probe.lastError().text().toStdString());
    // The rows are read once, in order: a small page cache does as well as the default
    // 2 MB one.
    QSqlQuery(db).exec("PRAGMA cache_size = -256");
    return db;
}

} // namespace

QSqlDatabase OpenSqlSource(const std::string& Source, const QString& Connection, const QString& Password)
{
    return IsPostgresUri(Source) ? OpenPostgres(Source, Connection, Password) : OpenSqlite(Source, Connection);
}
