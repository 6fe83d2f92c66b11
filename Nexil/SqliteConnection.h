#pragma once

class QSqlDatabase;
class QString;

// Opening and closing of the library's SQLite files. Each worker opens its file under a connection
// name of its own and uses it only in its own thread.

// Opens file under connectionName into db. A name still in use belongs to another live worker, so
// it is refused rather than taken over. Failures are logged as "Open <file> database failed."
// followed by inUseReason or the driver's error.
bool OpenSqlite(QSqlDatabase& db, const QString& connectionName, const QString& file,
                const char* inUseReason);

// Closes db and removes the connection it was opened under, if any. db is emptied first so that Qt
// does not find the connection still in use.
void CloseSqlite(QSqlDatabase& db);
