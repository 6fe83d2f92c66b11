#include "Nexil/PrjDataWork.h"

#include "Nexil/NexilConst.h"
#include "Nexil/SqliteConnection.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace
{
const char* const kConnectionName = "sql_project_data_database";
const int kBatchSize = 100;

const char* const kCreateData =
    "CREATE TABLE IF NOT EXISTS tbl_project_data (id VARCHAR(64) PRIMARY KEY, image "
    "VARCHAR(512), markAsOK BOOLEAN,filter VARCHAR(64), roiJson TEXT, json TEXT)";
const char* const kCreateCategory =
    "CREATE TABLE IF NOT EXISTS tbl_ai_mark_category (name VARCHAR(256) PRIMARY KEY, json TEXT)";
const char* const kCreateConfig = "CREATE TABLE tbl_prj_config(sName VARCHAR(256),sValue TEXT)";

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// A name that stays one entry of its folder: no separators, not "." or "..".
bool IsPlainName(const QString& name)
{
    return name != "." && name != ".." && !name.contains('/') && !name.contains('\\');
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
           QFileInfo::exists(dir + "/" + PrjDataWork::BaseName(fileName) + ".json");
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

// Written beside the old file and renamed over it, so a crash never leaves the image without
// its previous annotation.
void WriteAnnotation(const QString& file, const QString& aiJson)
{
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(aiJson.toUtf8()) < 0 || !out.commit())
    {
        qCritical().noquote() << QString("Write annotation file %1 failed:").arg(file) << out.errorString();
    }
}

} // namespace

PrjDataWork::~PrjDataWork()
{
    // Only the connection this worker added is removed.
    CloseSqlite(m_db);
}

QString PrjDataWork::BaseName(const QString& fileName)
{
    const int dot = fileName.lastIndexOf('.');
    return dot < 0 ? fileName : fileName.left(dot);
}

QString PrjDataWork::AnnotationFile(const QString& imageFile)
{
    const int slash = imageFile.lastIndexOf('/');
    return imageFile.left(slash + 1) + BaseName(imageFile.mid(slash + 1)) + ".json";
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
    LoadMarkTypes();
}

bool PrjDataWork::Open()
{
    const QString file = m_prjPath + "/PrjData.db";
    // A connection of this name still belongs to another project's worker; taking it over would
    // cut that worker off its database.
    return OpenSqlite(m_db, kConnectionName, file, "The connection is in use by another project.");
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

    QStringList lstId, lstImg, lstFilter, lstMarkAsOK, lstRoi;
    const auto flush = [&]
    {
        emit Signal_MarkImg(lstId, lstImg, lstFilter, lstMarkAsOK, lstRoi);
        lstId.clear();
        lstImg.clear();
        lstFilter.clear();
        lstMarkAsOK.clear();
        lstRoi.clear();
    };
    while (query.next())
    {
        lstId.append(query.value(colId).toString());
        lstImg.append(query.value(colImage).toString());
        lstFilter.append(query.value(colFilter).toString());
        // Inserts store 1/0, updates the texts true/false; both read back as booleans.
        lstMarkAsOK.append(query.value(colMarkAsOK).toBool() ? "1" : "0");
        lstRoi.append(query.value(colRoi).toString());
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

void PrjDataWork::Slot_AddMarkImg(QString id, QString addTime, QString srcImgFile, QString fileName,
                                  QString filter, bool markAsOK, QString roiJson, QString aiJson)
{
    const QString folder = QString(nexil::kDatasDir) + "/" + addTime + "/RawDatas";
    const QString dir = m_prjPath + folder;
    // The stamp must not lead the copy out of the project directory.
    if (!IsPlainName(addTime) || !QDir().mkpath(dir) || !QFileInfo(dir).isDir())
    {
        qCritical().noquote() << Text("创建工程图片目录(%1)失败。").arg(dir);
        emit Signal_SaveMarkImgRlt(id, false, Text("添加标注信息失败，原因：创建图片目录失败！"));
        return;
    }

    QString name = fileName;
    const bool plainName = !name.isEmpty() && IsPlainName(name);
    const bool copy = plainName && !SameFile(dir + "/" + name, srcImgFile);
    if (copy)
    {
        // Another file of the same name is there already (two folders of one import, for
        // example): this image gets a name of its own instead of sharing that one.
        if (NameTaken(dir, name))
        {
            name = FreeFileName(dir, name);
        }
        QFile::copy(srcImgFile, dir + "/" + name);
    }
    const QString image = folder + "/" + name;
    const QString destination = m_prjPath + image;
    if (!plainName || !QFileInfo(destination).isFile())
    {
        qCritical().noquote() << Text("图片(%1)拷贝到%2失败。").arg(srcImgFile, destination);
        emit Signal_SaveMarkImgRlt(id, false, Text("添加标注信息失败，原因：原图拷贝失败！"));
        return;
    }

    // An image with neither ROIs nor OK comes without annotation text and gets no file.
    if (!aiJson.isEmpty())
    {
        WriteAnnotation(AnnotationFile(destination), WithImagePath(aiJson, name));
    }

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
        // Files without a row would only block their names for later imports.
        if (copy)
        {
            QFile::remove(destination);
            QFile::remove(AnnotationFile(destination));
        }
        emit Signal_SaveMarkImgRlt(id, false, Text("添加标注信息失败，原因：数据库插入/更新失败！"));
        return;
    }
    emit Signal_MarkImg({id}, {image}, {filter}, {markAsOK ? "1" : "0"}, {roiJson});
    emit Signal_SaveMarkImgRlt(id, true, Text("添加成功！"));
}

void PrjDataWork::Slot_SaveMarkImg(QString id, QString imgFile, bool markAsOK, QString roiJson,
                                   QString aiJson)
{
    // A save that overtakes the confirmation of its add does not know the copy's path yet; the
    // row, inserted before, does.
    const QString image = imgFile.isEmpty() ? StoredImage(id) : imgFile;

    QSqlQuery query(m_db);
    query.prepare(
        "update tbl_project_data set image=:image, markAsOK=:markAsOK, roiJson=:roiJson where id=:id;");
    query.bindValue(":image", image);
    query.bindValue(":markAsOK", markAsOK ? QStringLiteral("true") : QStringLiteral("false"));
    query.bindValue(":roiJson", roiJson);
    query.bindValue(":id", id);
    // An id without a row stores nothing, which is a failure too.
    if (image.isEmpty() || !query.exec() || query.numRowsAffected() < 1)
    {
        qCritical().noquote() << "time: " + QString::number(QDateTime::currentSecsSinceEpoch()) +
                                     " tbl_project_data update failed!"
                              << query.lastError().text();
        emit Signal_SaveMarkImgRlt(id, false, Text("保存标注信息失败，原因：数据库更新失败！"));
        return;
    }

    const QString annotation = AnnotationFile(m_prjPath + image);
    if (aiJson.isEmpty())
    {
        QFile::remove(annotation);
    }
    else
    {
        WriteAnnotation(annotation, WithImagePath(aiJson, image.mid(image.lastIndexOf('/') + 1)));
    }
    emit Signal_SaveMarkImgRlt(id, true, Text("保存成功！"));
}

void PrjDataWork::Slot_DelMarkImg(QStringList lstId)
{
    QSqlQuery query(m_db);
    query.prepare("delete from tbl_project_data WHERE id=:id;");
    for (const QString& id : lstId)
    {
        const QString image = StoredImage(id);
        query.bindValue(":id", id);
        if (!query.exec())
        {
            qCritical().noquote() << Text("删除失败:") << query.lastError().text();
            continue;
        }
        // An image deleted before its copy was confirmed left its files to this thread, which made them.
        const QString file = QDir::cleanPath(m_prjPath + image);
        if (file.startsWith(QDir::cleanPath(m_prjPath) + nexil::kDatasDir + "/"))
        {
            QFile::remove(file);
            QFile::remove(AnnotationFile(file));
        }
    }
}

void PrjDataWork::Slot_AddMarkType(QString type)
{
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
    QSqlQuery query(m_db);
    query.prepare("DELETE FROM tbl_ai_mark_category WHERE name=:name");
    query.bindValue(":name", type);
    if (!query.exec())
    {
        qCritical().noquote() << Text("删除失败:") << query.lastError().text();
    }
}
