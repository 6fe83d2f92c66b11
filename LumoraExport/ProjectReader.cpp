#include "LumoraExport/ProjectReader.h"

#include "LumoraExport/ExportPaths.h"

#include "Nexil/NexilConst.h"
#include "Nexil/ROI/AnnotationText.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>

#include <functional>

namespace
{

const char kProjectDb[] = "/PrjData.db";

Qt::CaseSensitivity PathCase()
{
#ifdef Q_OS_WIN
    return Qt::CaseInsensitive;
#else
    return Qt::CaseSensitive;
#endif
}

// Runs use on a read-only connection of its own to file, which is gone afterwards. Reading a database
// in write-ahead-log mode makes SQLite create its log files beside it; they are there already while
// the program has the project open, and otherwise the file is read as unchanging, so that reading
// leaves the project folder as it was.
bool WithReadOnly(const QString& file, QString& error, const std::function<bool(QSqlDatabase&)>& use)
{
    const QString name = "LumoraExport-" + QUuid::createUuid().toString();
    const bool inUse = QFileInfo::exists(file + "-wal");
    bool result = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setConnectOptions("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI");
        db.setDatabaseName(QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded) +
                           (inUse ? "" : "?immutable=1"));
        if (db.open())
            result = use(db);
        else
            error = db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

// An image stored below the project's "datas" folder, as the core library stores them, that stays
// inside the project folder with its links resolved.
bool InProject(const QString& key, const QString& dir, ExportPaths::FileResolver& resolver)
{
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    if (key.split(separators).contains(QStringLiteral("..")) ||
        !ExportPaths::SameOrInside(QDir::cleanPath(dir + "/" + key), dir + nexil::kDatasDir, PathCase()))
        return false;
    return ExportPaths::SameOrInside(resolver.Resolved(dir + "/" + key), dir, PathCase());
}

} // namespace

ProjectReader::Status ProjectReader::Read(const QString& folder, ExportSet& set, QString& error)
{
    // Links and ".." as the system takes them: the folder read is the folder the export keeps away from.
    QString dir = ExportPaths::Resolved(folder);
    if (dir.isEmpty())
        dir = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString dbFile = dir + kProjectDb;
    if (!QFileInfo(dbFile).isFile())
    {
        error = QStringLiteral("no project at %1 (%2 not found)").arg(dir, dbFile);
        return Status::NoProject;
    }
    set = ExportSet();
    set.name = QFileInfo(dir).fileName();
    set.projectDir = dir;
    ExportPaths::FileResolver resolver;
    const bool read =
        WithReadOnly(dbFile, error,
                     [&](QSqlDatabase& db)
                     {
                         QSqlQuery query(db);
                         query.setForwardOnly(true);
                         if (!query.exec("select id, image, markAsOK, roiJson from tbl_project_data"))
                         {
                             error = query.lastError().text();
                             return false;
                         }
                         while (query.next())
                         {
                             ExportImage image;
                             image.key = query.value(1).toString();
                             image.path = dir + image.key;
                             image.fileName = QFileInfo(image.key).fileName();
                             image.rois =
                                 ExportRois(AnnotationText::parseRoiListText(query.value(3).toString()));
                             // Inserts store 1/0, updates the texts true/false; both read as booleans.
                             image.markAsOK = query.value(2).toBool() && image.rois.isEmpty();
                             if (!image.markAsOK && image.rois.isEmpty())
                                 continue;
                             if (InProject(image.key, dir, resolver))
                                 set.images.append(image);
                             else
                                 set.refusedPaths.append(image.key);
                         }
                         // A damaged page ends the rows early with an error, not with the last row.
                         if (query.lastError().isValid())
                         {
                             error = query.lastError().text();
                             return false;
                         }
                         // Row order is the order the categories were added in, as the core library reads
                         // them.
                         if (!query.exec("select name from tbl_ai_mark_category"))
                         {
                             error = query.lastError().text();
                             return false;
                         }
                         while (query.next())
                             set.categories.append(query.value(0).toString());
                         error = query.lastError().text();
                         return !query.lastError().isValid();
                     });
    if (!read)
    {
        error = QStringLiteral("cannot read %1: %2").arg(dbFile, error);
        return Status::Unreadable;
    }
    set.type = CatalogueType(QFileInfo(dir).absolutePath(), set.name);
    return Status::Ok;
}

int ProjectReader::CatalogueType(const QString& workspace, const QString& name)
{
    const QString file = workspace + nexil::kCatalogueFile;
    if (!QFileInfo(file).isFile())
        return 0;
    int type = 0;
    QString error;
    WithReadOnly(file, error,
                 [&](QSqlDatabase& db)
                 {
                     QSqlQuery query(db);
                     // The first in id order, as the catalogue finds a project by name.
                     query.prepare("select type from tbl_ai_project where name=:name order by id limit 1");
                     query.bindValue(":name", name);
                     if (query.exec() && query.next())
                         type = query.value(0).toInt();
                     return true;
                 });
    return type;
}
