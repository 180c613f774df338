#include "studio/source_database.h"

#include "framework/sql_source.h"

#include <QStringList>
#include <algorithm>

namespace {

std::vector<std::string> Sorted(const QStringList& Names)
{
    std::vector<std::string> names;
    for (const QString& n : Names)
        if (!n.startsWith("sqlite_"))
            names.push_back(n.toStdString());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TStudioSource::TStudioSource(QString ConnectionName)
    : FConnectionName(std::move(ConnectionName))
{
}

TStudioSource::~TStudioSource()
{
    Close();
}

void TStudioSource::Open(const std::string& Source, const QString& Password)
{
    Close();
    try {
        OpenSqlSource(Source, FConnectionName, Password);
    } catch (...) {
        QSqlDatabase::removeDatabase(FConnectionName);
        throw;
    }
    FSource = SourceDisplayName(Source);
}

void TStudioSource::Close()
{
    if (!QSqlDatabase::contains(FConnectionName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(FConnectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(FConnectionName);
    FSource.clear();
}

QSqlDatabase TStudioSource::Database() const
{
    return QSqlDatabase::database(FConnectionName, false);
}

std::vector<std::string> TStudioSource::Tables() const
{
    return Active() ? Sorted(Database().tables(QSql::Tables)) : std::vector<std::string>{};
}

std::vector<std::string> TStudioSource::Views() const
{
    return Active() ? Sorted(Database().tables(QSql::Views)) : std::vector<std::string>{};
}
