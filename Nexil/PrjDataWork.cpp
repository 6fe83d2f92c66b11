#include "Nexil/PrjDataWork.h"
#include "Nexil/ImageFiles.h"

#include "Nexil/NexilConst.h"
#include "Nexil/SqliteConnection.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace
{
const char* const kConnectionName = "sql_project_data_database";
const int kBatchSize = 100;
const int kListFolderAfter = 2 * kBatchSize;
// A batch of writes is committed when the work waiting in the queue is done, or earlier when it has
// this many results or is this old, so that results keep coming during a long import.
const int kBatchWrites = 200;
const qint64 kBatchMs = 250;

const char* const kCreateData =
    "CREATE TABLE IF NOT EXISTS tbl_project_data (id VARCHAR(64) PRIMARY KEY, image "
    "VARCHAR(512), markAsOK BOOLEAN,filter VARCHAR(64), roiJson TEXT, json TEXT)";
const char* const kCreateCategory =
    "CREATE TABLE IF NOT EXISTS tbl_ai_mark_category (name VARCHAR(256) PRIMARY KEY, json TEXT)";
const char* const kCreateConfig = "CREATE TABLE tbl_prj_config(sName VARCHAR(256),sValue TEXT)";
// Kept beside tbl_project_data, so projects from before it open unchanged: their images simply
// have no source.
const char* const kCreateSource =
    "CREATE TABLE IF NOT EXISTS tbl_image_source (id VARCHAR(64) PRIMARY KEY, source TEXT)";

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// A name that stays one entry of its folder: no separators, not "." or "..".
bool IsPlainName(const QString& name)
{
    return name != "." && name != ".." && !name.contains('/') && !name.contains('\\');
}

// A folder whose entries can be listed: only there is a missing file surely gone.
bool IsReadableDir(const QString& folder)
{
    const QFileInfo info(folder);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

bool SameFile(const QString& a, const QString& b)
{
    const QFileInfo infoA(a);
    const QFileInfo infoB(b);
    if (QDir::cleanPath(infoA.absoluteFilePath()) == QDir::cleanPath(infoB.absoluteFilePath()))
    {
        return true;
    }
    const QString canonicalA = infoA.canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == infoB.canonicalFilePath();
}

// A name is taken when the image or its annotation file is there: an annotation file of another
// image with the same base name would otherwise be overwritten.
bool NameTaken(const QString& dir, const QString& fileName)
{
    return QFileInfo::exists(dir + "/" + fileName) ||
           QFileInfo::exists(ImageFiles::AnnotationPath(dir + "/" + fileName));
}

// The first of base_1.ext, base_2.ext, ... that is free in the folder.
QString FreeFileName(const QString& dir, const QString& fileName)
{
    const QString base = PrjDataWork::BaseName(fileName);
    const QString suffix = fileName.mid(base.size());
    for (int n = 1;; ++n)
    {
        const QString candidate = base + "_" + QString::number(n) + suffix;
        if (!NameTaken(dir, candidate))
        {
            return candidate;
        }
    }
}

// The annotation text names the file the image really lies in; the text is kept byte for byte
// when it already does.
QString WithImagePath(const QString& aiJson, const QString& fileName)
{
    QJsonObject object = QJsonDocument::fromJson(aiJson.toUtf8()).object();
    if (object.isEmpty() || object.value("imagePath").toString() == fileName)
    {
        return aiJson;
    }
    object.insert("imagePath", fileName);
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// Copied through a temporary file that is renamed into place without replacing anything there, and
// not synced: the whole batch is synced at once before its commit.
bool CopyImage(const QString& source, const QString& destination)
{
    QFile in(source);
    const QFileInfo info(destination);
    QFile part(info.path() + "/." + info.fileName() + ".part");
    bool copied = in.open(QIODevice::ReadOnly) && part.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QByteArray chunk;
    while (copied && !in.atEnd())
    {
        chunk = in.read(1 << 20);
        copied = !chunk.isEmpty() && part.write(chunk) == chunk.size();
    }
    copied = copied && part.flush();
    part.close();
    // Keeps the source's permissions, as a plain copy does.
    if (!copied || !part.setPermissions(in.permissions()) || !part.rename(destination))
    {
        part.remove();
        return false;
    }
    return true;
}

// Copies and annotation files reach the disk before the rows that name them are committed. One
// call per batch instead of one per file.
bool SyncFileSystem(const QString& dir)
{
#ifdef Q_OS_LINUX
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::syncfs(fd) == 0;
    if (!synced)
    {
        const QString error = QString::fromLocal8Bit(std::strerror(errno));
        qCritical().noquote() << QString("Sync of %1 to disk failed:").arg(dir) << error;
    }
    if (fd >= 0)
    {
        ::close(fd);
    }
    return synced;
#else
    // Elsewhere the files are left to the system's own flushing; the rows are synced by SQLite.
    Q_UNUSED(dir);
    return true;
#endif
}

} // namespace

PrjDataWork::~PrjDataWork()
{
    // The thread may stop before the queued commit runs; what was handed over is still stored.
    Commit();
    // Only the connection this worker added is removed.
    CloseSqlite(m_db);
}

QString PrjDataWork::BaseName(const QString& fileName)
{
    const int dot = fileName.lastIndexOf('.');
    return dot < 0 ? fileName : fileName.left(dot);
}

QString PrjDataWork::DatasFile(const QString& prjPath, const QString& image)
{
    const QString datas = QDir::cleanPath(prjPath + nexil::kDatasDir) + "/";
    const QString file = QDir::cleanPath(prjPath + "/" + image);
    if (!image.isEmpty() && file.startsWith(datas))
    {
        return file;
    }
    qCritical().noquote() << QString("Refused image path %1: it leaves the folder %2.").arg(image, datas);
    return QString();
}

bool PrjDataWork::WriteAnnotation(const QString& file, const QString& aiJson, FileBackup* backup)
{
    const QFileInfo info(file);
    backup->file = file;
    backup->existed = info.exists();
    QFile old(file);
    if (backup->existed && (!info.isFile() || !old.open(QIODevice::ReadOnly)))
    {
        qCritical().noquote() << QString("Write annotation file %1 failed: it cannot be replaced.").arg(file);
        return false;
    }
    backup->content = backup->existed ? old.readAll() : QByteArray();

    // Not synced here: the whole batch is synced at once before its commit.
    QFile part(info.path() + "/." + info.fileName() + ".part");
    const QByteArray text = aiJson.toUtf8();
    const bool written = part.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                         part.write(text) == text.size() && part.flush();
    QString error = part.errorString();
    part.close();
    if (written &&
        std::rename(QFile::encodeName(part.fileName()).constData(), QFile::encodeName(file).constData()) == 0)
    {
        return true;
    }
    if (written)
    {
        error = QString::fromLocal8Bit(std::strerror(errno));
    }
    qCritical().noquote() << QString("Write annotation file %1 failed:").arg(file) << error;
    part.remove();
    return false;
}

bool PrjDataWork::RemoveAnnotation(const QString& file, FileBackup* backup)
{
    const QFileInfo info(file);
    backup->file = file;
    backup->existed = info.exists();
    if (!backup->existed)
    {
        return true;
    }
    QFile old(file);
    if (!info.isFile() || !old.open(QIODevice::ReadOnly))
    {
        qCritical().noquote()
            << QString("Remove annotation file %1 failed: it is not a readable file.").arg(file);
        return false;
    }
    backup->content = old.readAll();
    old.close();
    if (!old.remove())
    {
        qCritical().noquote() << QString("Remove annotation file %1 failed:").arg(file) << old.errorString();
        return false;
    }
    return true;
}

void PrjDataWork::Restore(const FileBackup& backup)
{
    if (backup.file.isEmpty())
    {
        return;
    }
    if (!backup.existed)
    {
        QFile::remove(backup.file);
        return;
    }
    FileBackup ignored;
    WriteAnnotation(backup.file, QString::fromUtf8(backup.content), &ignored);
}

void PrjDataWork::Slot_Init(QString sProPath)
{
    m_prjPath = sProPath;
    if (!QDir().mkpath(m_prjPath))
    {
        qCritical().noquote() << QString("Create project directory %1 failed.").arg(m_prjPath);
        return;
    }
    if (!Open())
    {
        return;
    }
    LoadConfig();
    LoadImages();
    LoadSources();
    LoadMarkTypes();
}

bool PrjDataWork::Open()
{
    const QString file = m_prjPath + "/PrjData.db";
    // A connection of this name still belongs to another project's worker; taking it over would
    // cut that worker off its database.
    if (!OpenSqlite(m_db, kConnectionName, file, "The connection is in use by another project."))
    {
        return false;
    }
    // With a write-ahead log and a sync at every commit, a crash or power loss keeps every committed
    // batch and never leaves the file half written.
    QSqlQuery query(m_db);
    if (!query.exec("PRAGMA journal_mode=WAL") || !query.next() ||
        query.value(0).toString().compare("wal", Qt::CaseInsensitive) != 0)
    {
        qWarning().noquote() << QString("%1 stays in rollback-journal mode:").arg(file)
                             << query.lastError().text();
    }
    if (!query.exec("PRAGMA synchronous=FULL"))
    {
        qWarning().noquote() << QString("Setting synchronous=FULL on %1 failed:").arg(file)
                             << query.lastError().text();
    }
    return true;
}

void PrjDataWork::LoadConfig()
{
    QSqlQuery query(m_db);
    // Fails silently once the table exists.
    query.exec(kCreateConfig);
    if (!query.exec("select * from tbl_prj_config"))
    {
        qWarning() << "load PrjData.db table tbl_prj_config failed.";
        return;
    }
    while (query.next())
    {
        emit Signal_ConfigInfo(query.value("sName").toString(), query.value("sValue").toString());
    }
}

void PrjDataWork::LoadImages()
{
    QSqlQuery query(m_db);
    if (!query.exec(kCreateData))
    {
        qDebug().noquote() << Text("创建表失败:") << query.lastError().text();
    }
    query.setForwardOnly(true);
    if (!query.exec("select * from tbl_project_data"))
    {
        qWarning() << "load PrjData.db table tbl_project_data failed.";
        return;
    }
    const QSqlRecord record = query.record();
    const int colId = record.indexOf("id");
    const int colImage = record.indexOf("image");
    const int colFilter = record.indexOf("filter");
    const int colMarkAsOK = record.indexOf("markAsOK");
    const int colRoi = record.indexOf("roiJson");

    const bool datasReadable = IsReadableDir(m_prjPath + nexil::kDatasDir);
    QHash<QString, FolderFiles> folders;
    QStringList lstId, lstImg, lstFilter, lstMarkAsOK, lstRoi;
    QList<int> lstState;
    const auto flush = [&]
    {
        emit Signal_MarkImg(lstId, lstImg, lstFilter, lstMarkAsOK, lstRoi, lstState);
        lstId.clear();
        lstImg.clear();
        lstFilter.clear();
        lstMarkAsOK.clear();
        lstRoi.clear();
        lstState.clear();
    };
    while (query.next())
    {
        lstId.append(query.value(colId).toString());
        lstImg.append(query.value(colImage).toString());
        lstFilter.append(query.value(colFilter).toString());
        // Inserts store 1/0, updates the texts true/false; both read back as booleans.
        lstMarkAsOK.append(query.value(colMarkAsOK).toBool() ? "1" : "0");
        lstRoi.append(query.value(colRoi).toString());
        lstState.append(ImageFileState(lstImg.last(), datasReadable, &folders));
        if (lstId.size() == kBatchSize)
        {
            flush();
        }
    }
    if (!lstId.isEmpty())
    {
        flush();
    }
}

PrjDataWork::FileState PrjDataWork::ImageFileState(const QString& image, bool datasReadable,
                                                   QHash<QString, FolderFiles>* folders) const
{
    if (!datasReadable)
    {
        return kDatasUnreadable;
    }
    const QString file = DatasFile(m_prjPath, image);
    if (file.isEmpty())
    {
        return kPathRefused;
    }
    const int slash = file.lastIndexOf('/');
    const QString folder = file.left(slash);
    FolderFiles& files = (*folders)[folder];
    const auto readable = [&]
    {
        if (files.readable < 0)
        {
            files.readable = IsReadableDir(folder) ? 1 : 0;
        }
        return files.readable == 1;
    };
    // A folder of many images is listed once instead of a look-up per image; the first images of
    // a folder are looked up singly, so that the first batch does not wait for a large listing.
    if (++files.named == kListFolderAfter && readable())
    {
        files.listed = true;
        // Files and links to files, as a look-up of the file itself finds them.
        QDirIterator entries(folder, QDir::Files | QDir::Hidden);
        while (entries.hasNext())
        {
            entries.next();
            files.names.insert(entries.fileName());
        }
    }
    if (files.listed && files.names.contains(file.mid(slash + 1)))
    {
        return kFileThere;
    }
    // A file the listing does not name is looked up on its own before it counts as gone: it may have
    // come since, or be spelt otherwise there.
    const QFileInfo info(file);
    if (info.isFile())
    {
        return kFileThere;
    }
    if (!readable())
    {
        return kFolderUnreadable;
    }
    return info.exists() ? kNotAFile : kFileMissing;
}

void PrjDataWork::LoadMarkTypes()
{
    QSqlQuery query(m_db);
    if (!query.exec(kCreateCategory))
    {
        qDebug().noquote() << Text("创建表失败:") << query.lastError().text();
    }
    if (!query.exec("select * from tbl_ai_mark_category"))
    {
        qWarning() << "load PrjData.db table tbl_ai_mark_category failed.";
        return;
    }
    while (query.next())
    {
        emit Signal_MarkTypeInfo(query.value("name").toString());
    }
}

void PrjDataWork::LoadSources()
{
    QSqlQuery query(m_db);
    if (!query.exec(kCreateSource))
    {
        qWarning().noquote() << "Creating tbl_image_source failed:" << query.lastError().text();
        return;
    }
    query.setForwardOnly(true);
    if (!query.exec("select id, source from tbl_image_source"))
    {
        qWarning() << "load PrjData.db table tbl_image_source failed.";
        return;
    }
    QStringList lstId, lstSource;
    while (query.next())
    {
        lstId.append(query.value(0).toString());
        lstSource.append(query.value(1).toString());
    }
    // After every image batch, so each id is known when its source arrives.
    if (!lstId.isEmpty())
    {
        emit Signal_ImageSources(lstId, lstSource);
    }
}

void PrjDataWork::Slot_StoreConfig(QString name, QString val)
{
    BeginWrite();
    QSqlQuery query(m_db);
    query.prepare("delete from tbl_prj_config where sName=:name");
    query.bindValue(":name", name);
    bool stored = query.exec();
    query.prepare("insert into tbl_prj_config (sName, sValue) values (:name, :value)");
    query.bindValue(":name", name);
    query.bindValue(":value", val);
    stored = stored && query.exec();
    if (!stored)
    {
        qCritical().noquote() << QString("Storing setting %1 failed:").arg(name) << query.lastError().text();
    }
}

QString PrjDataWork::StoredImage(const QString& id) const
{
    QSqlQuery query(m_db);
    query.prepare("select image from tbl_project_data where id=:id");
    query.bindValue(":id", id);
    if (!query.exec() || !query.next())
    {
        return QString();
    }
    return query.value(0).toString();
}

void PrjDataWork::BeginWrite()
{
    if (m_inBatch || !m_db.isOpen())
    {
        return;
    }
    if (!m_db.transaction())
    {
        // Each statement then commits on its own.
        qWarning().noquote() << "Begin of a PrjData.db transaction failed:" << m_db.lastError().text();
        return;
    }
    m_inBatch = true;
    m_batchAge.start();
    // Queued behind the work already waiting, which thus joins this batch.
    if (!m_commitQueued)
    {
        m_commitQueued = true;
        QMetaObject::invokeMethod(this, &PrjDataWork::Slot_CommitQueued, Qt::QueuedConnection);
    }
}

void PrjDataWork::Slot_CommitQueued()
{
    m_commitQueued = false;
    Commit();
}

void PrjDataWork::Report(Result result)
{
    if (m_inBatch)
    {
        m_batch.append(std::move(result));
        if (m_batch.size() >= kBatchWrites || m_batchAge.elapsed() >= kBatchMs)
        {
            Commit();
        }
        return;
    }
    if (result.bSucc && !SyncFileSystem(m_prjPath))
    {
        result.bSucc = false;
        result.msg = result.rollbackMsg;
        result.markImg.clear();
    }
    if (!result.markImg.isEmpty())
    {
        emit Signal_MarkImg({result.markImg[0]}, {result.markImg[1]}, {result.markImg[2]},
                            {result.markImg[3]}, {result.markImg[4]}, {kFileThere});
    }
    emit Signal_SaveMarkImgRlt(result.id, result.bSucc, result.msg);
}

void PrjDataWork::Commit()
{
    if (!m_inBatch)
    {
        return;
    }
    m_inBatch = false;
    QList<Result> batch;
    batch.swap(m_batch);

    const bool committed = SyncFileSystem(m_prjPath) && m_db.commit();
    if (!committed)
    {
        qCritical().noquote() << "Commit to PrjData.db failed:" << m_db.lastError().text();
        m_db.rollback();
        // Undone newest first, so that a file written twice gets its first content back.
        for (auto it = batch.rbegin(); it != batch.rend(); ++it)
        {
            if (!it->bSucc)
            {
                continue;
            }
            Restore(it->annotation);
            if (!it->copy.isEmpty())
            {
                QFile::remove(it->copy);
            }
            it->bSucc = false;
            it->msg = it->rollbackMsg;
            it->markImg.clear();
        }
    }

    QStringList lstId, lstImg, lstFilter, lstMarkAsOK, lstRoi;
    QList<int> lstState;
    for (const Result& result : batch)
    {
        if (!result.markImg.isEmpty())
        {
            lstId.append(result.markImg[0]);
            lstImg.append(result.markImg[1]);
            lstFilter.append(result.markImg[2]);
            lstMarkAsOK.append(result.markImg[3]);
            lstRoi.append(result.markImg[4]);
            // The add has just made the copy.
            lstState.append(kFileThere);
        }
    }
    if (!lstId.isEmpty())
    {
        emit Signal_MarkImg(lstId, lstImg, lstFilter, lstMarkAsOK, lstRoi, lstState);
    }
    for (const Result& result : batch)
    {
        emit Signal_SaveMarkImgRlt(result.id, result.bSucc, result.msg);
    }
}

void PrjDataWork::Slot_AddMarkImg(QString id, QString addTime, QString srcImgFile, QString fileName,
                                  QString filter, bool markAsOK, QString roiJson, QString aiJson)
{
    Result result;
    result.id = id;
    result.rollbackMsg = Text("添加标注信息失败，原因：数据库插入/更新失败！");

    const QString folder = QString(nexil::kDatasDir) + "/" + addTime + "/RawDatas";
    const QString dir = m_prjPath + folder;
    // The stamp must not lead the copy out of the project directory.
    if (!IsPlainName(addTime) || !QDir().mkpath(dir) || !QFileInfo(dir).isDir())
    {
        qCritical().noquote() << Text("创建工程图片目录(%1)失败。").arg(dir);
        result.msg = Text("添加标注信息失败，原因：创建图片目录失败！");
        Report(result);
        return;
    }

    QString name = fileName;
    const bool plainName = !name.isEmpty() && IsPlainName(name);
    if (plainName && !SameFile(dir + "/" + name, srcImgFile))
    {
        // Another file of the same name is there already (two folders of one import, for
        // example): this image gets a name of its own instead of sharing that one.
        if (NameTaken(dir, name))
        {
            name = FreeFileName(dir, name);
        }
        if (CopyImage(srcImgFile, dir + "/" + name))
        {
            result.copy = dir + "/" + name;
        }
    }
    const QString image = folder + "/" + name;
    const QString destination = m_prjPath + image;
    if (!plainName || !QFileInfo(destination).isFile())
    {
        qCritical().noquote() << Text("图片(%1)拷贝到%2失败。").arg(srcImgFile, destination);
        result.msg = Text("添加标注信息失败，原因：原图拷贝失败！");
        Report(result);
        return;
    }

    // Files without a row would only block their names for later imports.
    const auto undo = [&result]
    {
        Restore(result.annotation);
        if (!result.copy.isEmpty())
        {
            QFile::remove(result.copy);
        }
    };
    // An image with neither ROIs nor OK comes without annotation text and gets no file.
    const QString annotation = ImageFiles::AnnotationPath(destination);
    if (!aiJson.isEmpty() && !WriteAnnotation(annotation, WithImagePath(aiJson, name), &result.annotation))
    {
        undo();
        result.msg = Text("添加标注信息失败，原因：标注文件%1写入失败！").arg(annotation);
        Report(result);
        return;
    }

    BeginWrite();
    QSqlQuery query(m_db);
    query.prepare("INSERT INTO tbl_project_data (id, image, filter, markAsOK, roiJson) VALUES (:id, :image, "
                  ":filter, :markAsOK, :roiJson)");
    query.bindValue(":id", id);
    query.bindValue(":image", image);
    query.bindValue(":filter", filter);
    query.bindValue(":markAsOK", markAsOK);
    query.bindValue(":roiJson", roiJson);
    if (!query.exec())
    {
        qCritical().noquote() << Text("插入/更新失败:") << query.lastError().text();
        undo();
        // Some errors end the whole transaction; what came before is settled first.
        Commit();
        result.msg = result.rollbackMsg;
        Report(result);
        return;
    }
    // The source only helps to recognise the image later; the image is stored without it.
    QSqlQuery source(m_db);
    source.prepare("INSERT OR REPLACE INTO tbl_image_source (id, source) VALUES (:id, :source)");
    source.bindValue(":id", id);
    source.bindValue(":source", QDir::cleanPath(QFileInfo(srcImgFile).absoluteFilePath()));
    if (!source.exec())
    {
        qWarning().noquote() << "Storing the source of" << id << "failed:" << source.lastError().text();
    }
    result.bSucc = true;
    result.msg = Text("添加成功！");
    result.markImg = QStringList{id, image, filter, markAsOK ? "1" : "0", roiJson};
    Report(result);
}

void PrjDataWork::Slot_SaveMarkImg(QString id, QString imgFile, bool markAsOK, QString roiJson,
                                   QString aiJson)
{
    Result result;
    result.id = id;
    result.rollbackMsg = Text("保存标注信息失败，原因：数据库更新失败！");
    const auto fail = [&](const QString& error)
    {
        qCritical().noquote() << "time: " + QString::number(QDateTime::currentSecsSinceEpoch()) +
                                     " tbl_project_data update failed!"
                              << error;
        result.msg = result.rollbackMsg;
        Report(result);
    };

    BeginWrite();
    // A save that overtakes the confirmation of its add does not know the copy's path yet; the
    // row, inserted before, does.
    const QString image = imgFile.isEmpty() ? StoredImage(id) : imgFile;
    if (image.isEmpty())
    {
        fail("No row of this id.");
        return;
    }
    const QString file = DatasFile(m_prjPath, image);
    if (file.isEmpty())
    {
        result.msg = Text("保存标注信息失败，原因：图片路径%1不在工程目录内！").arg(image);
        Report(result);
        return;
    }

    // The file first: a row is never changed for a file that could not be written.
    const QString annotation = ImageFiles::AnnotationPath(file);
    const bool written =
        aiJson.isEmpty()
            ? RemoveAnnotation(annotation, &result.annotation)
            : WriteAnnotation(annotation, WithImagePath(aiJson, image.mid(image.lastIndexOf('/') + 1)),
                              &result.annotation);
    if (!written)
    {
        result.msg = Text("保存标注信息失败，原因：标注文件%1写入失败！").arg(annotation);
        Report(result);
        return;
    }

    QSqlQuery query(m_db);
    query.prepare(
        "update tbl_project_data set image=:image, markAsOK=:markAsOK, roiJson=:roiJson where id=:id;");
    query.bindValue(":image", image);
    query.bindValue(":markAsOK", markAsOK ? QStringLiteral("true") : QStringLiteral("false"));
    query.bindValue(":roiJson", roiJson);
    query.bindValue(":id", id);
    const bool executed = query.exec();
    // An id without a row stores nothing, which is a failure too.
    if (!executed || query.numRowsAffected() < 1)
    {
        Restore(result.annotation);
        if (!executed)
        {
            // Some errors end the whole transaction; what came before is settled first.
            Commit();
        }
        fail(query.lastError().text());
        return;
    }
    result.bSucc = true;
    result.msg = Text("保存成功！");
    Report(result);
}

void PrjDataWork::Slot_DelMarkImg(QStringList lstId)
{
    BeginWrite();
    QSqlQuery query(m_db);
    query.prepare("delete from tbl_project_data WHERE id=:id;");
    QSqlQuery source(m_db);
    source.prepare("delete from tbl_image_source WHERE id=:id;");
    for (const QString& id : lstId)
    {
        const QString image = StoredImage(id);
        source.bindValue(":id", id);
        source.exec();
        query.bindValue(":id", id);
        if (!query.exec())
        {
            qCritical().noquote() << Text("删除失败:") << query.lastError().text();
            continue;
        }
        // An image deleted before its copy was confirmed left its files to this thread, which made them.
        const QString file = image.isEmpty() ? QString() : DatasFile(m_prjPath, image);
        if (!file.isEmpty())
        {
            QFile::remove(file);
            QFile::remove(ImageFiles::AnnotationPath(file));
        }
    }
}

void PrjDataWork::Slot_AddMarkType(QString type)
{
    BeginWrite();
    QSqlQuery query(m_db);
    query.prepare("INSERT INTO tbl_ai_mark_category (name) VALUES (:name)");
    query.bindValue(":name", type);
    if (!query.exec())
    {
        qCritical().noquote() << Text("插入/更新失败:") << query.lastError().text();
    }
}

void PrjDataWork::Slot_DelMarkType(QString type)
{
    BeginWrite();
    QSqlQuery query(m_db);
    query.prepare("DELETE FROM tbl_ai_mark_category WHERE name=:name");
    query.bindValue(":name", type);
    if (!query.exec())
    {
        qCritical().noquote() << Text("删除失败:") << query.lastError().text();
    }
}
