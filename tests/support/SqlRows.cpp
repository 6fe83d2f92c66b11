#include "SqlRows.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>

#include <functional>

namespace
{

const char* const kReader = "tst_reader";

void WithDatabase(const QString& dbFile, const std::function<void(QSqlDatabase&)>& use)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", kReader);
        db.setDatabaseName(dbFile);
        db.setConnectOptions("QSQLITE_OPEN_READONLY");
        if (db.open())
        {
            use(db);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(kReader);
}

} // namespace

QList<QVariantMap> SqlRows::Select(const QString& dbFile, const QString& sql)
{
    QList<QVariantMap> rows;
    WithDatabase(dbFile,
                 [&](QSqlDatabase& db)
                 {
                     QSqlQuery query(db);
                     if (!query.exec(sql))
                     {
                         return;
                     }
                     while (query.next())
                     {
                         QVariantMap row;
                         const QSqlRecord record = query.record();
                         for (int i = 0; i < record.count(); ++i)
                         {
                             row.insert(record.fieldName(i), query.value(i));
                         }
                         rows.append(row);
                     }
                 });
    return rows;
}

QStringList SqlRows::Tables(const QString& dbFile)
{
    QStringList tables;
    WithDatabase(dbFile, [&](QSqlDatabase& db) { tables = db.tables(); });
    tables.sort();
    return tables;
}

QStringList SqlRows::Columns(const QString& dbFile, const QString& table)
{
    QStringList columns;
    WithDatabase(dbFile,
                 [&](QSqlDatabase& db)
                 {
                     const QSqlRecord record = db.record(table);
                     for (int i = 0; i < record.count(); ++i)
                     {
                         columns.append(record.fieldName(i));
                     }
                 });
    return columns;
}
