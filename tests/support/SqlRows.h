#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// Reads a SQLite file with a connection of the test's own, opened and removed per call.
class SqlRows
{
public:
    SqlRows() = delete;

    // Rows of a SELECT, or an empty list when the file or the statement fails.
    static QList<QVariantMap> Select(const QString& dbFile, const QString& sql);
    static QStringList Tables(const QString& dbFile);
    // Column names of a table in their order.
    static QStringList Columns(const QString& dbFile, const QString& table);
};
