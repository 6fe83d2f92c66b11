#include "Nexil/SqliteConnection.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

bool OpenSqlite(QSqlDatabase& db, const QString& connectionName, const QString& file, const char* inUseReason)
{
    if (QSqlDatabase::contains(connectionName))
    {
        qCritical().noquote() << QString("Open %1 database failed.").arg(file) << inUseReason;
        return false;
    }
    db = QSqlDatabase::addDatabase("QSQLITE", connectionName);
    db.setDatabaseName(file);
    if (!db.open())
    {
        qCritical().noquote() << QString("Open %1 database failed.").arg(file) << db.lastError().text();
        return false;
    }
    return true;
}

void CloseSqlite(QSqlDatabase& db)
{
    const QString name = db.connectionName();
    db.close();
    db = QSqlDatabase();
    if (!name.isEmpty())
    {
        QSqlDatabase::removeDatabase(name);
    }
}
