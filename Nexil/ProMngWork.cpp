#include "Nexil/ProMngWork.h"

#include "Nexil/NexilConst.h"
#include "Nexil/SqliteConnection.h"

#include <QDebug>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace
{
const char* const kConnectionName = "sql_ai_project_database";
const char* const kInUse = "The connection is in use by another catalogue.";

// SQLite's own words ("file is not a database") without Qt's addition ("Unable to execute statement").
QString ErrorText(const QSqlError& error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}
} // namespace

ProMngWork::~ProMngWork()
{
    // Only the connection this worker added is removed.
    CloseSqlite(m_db);
}

bool ProMngWork::Open(const QString& path)
{
    m_path = path;
    const QString file = path + nexil::kCatalogueFile;
    // A connection of this name belongs to another live catalogue; replacing it would break that one.
    if (!OpenSqlite(m_db, kConnectionName, file, kInUse))
    {
        m_error = m_db.isValid() ? ErrorText(m_db.lastError()) : QString(kInUse);
        return false;
    }
    // The changes are stored later, in the catalogue thread, where a failure reaches only the log.
    QString readOnly;
    if (!QFileInfo(file).isWritable())
        readOnly = "the file is read-only";
    else if (!QFileInfo(path).isWritable())
        readOnly = "the workspace folder is read-only";
    if (!readOnly.isEmpty())
    {
        qCritical().noquote() << QString("Open %1 database failed.").arg(file) << readOnly;
        m_error = readOnly;
        return false;
    }
    return true;
}

bool ProMngWork::LoadConfig(QMap<QString, QString>& mapConfig)
{
    QSqlQuery query(m_db);
    // Fails on every run after the first, when the table exists.
    query.exec("CREATE TABLE tbl_ai_config(sName VARCHAR(256),sValue TEXT)");
    if (!query.exec("select * from tbl_ai_config"))
    {
        m_error = ErrorText(query.lastError());
        qWarning() << "load AIPrj.db table tbl_ai_config failed.";
        return false;
    }
    while (query.next())
    {
        mapConfig.insert(query.value("sName").toString(), query.value("sValue").toString());
    }
    return true;
}

bool ProMngWork::LoadProjects(QMap<QString, std::shared_ptr<pro::info>>& mapPro)
{
    QSqlQuery query(m_db);
    if (!query.exec("CREATE TABLE IF NOT EXISTS tbl_ai_project (id VARCHAR(64) PRIMARY KEY, name "
                    "VARCHAR(256), type INTEGER, tips TEXT, createTime VARCHAR(64), lastUsedTime "
                    "VARCHAR(64), col1 INTEGER, col2 INTEGER, col3 VARCHAR(256), col4 VARCHAR(256), col5 "
                    "TEXT, json TEXT)"))
    {
        qDebug().noquote() << "创建表失败:" << query.lastError().text();
    }
    if (!query.exec("select * from tbl_ai_project"))
    {
        m_error = ErrorText(query.lastError());
        qWarning() << "load AIPrj.db table tbl_ai_project failed.";
        return false;
    }
    while (query.next())
    {
        auto spInfo = std::make_shared<pro::info>();
        spInfo->id = query.value("id").toString();
        spInfo->name = query.value("name").toString();
        spInfo->type = query.value("type").toInt();
        spInfo->tips = query.value("tips").toString();
        spInfo->createTime = query.value("createTime").toString();
        spInfo->lastUsedTime = query.value("lastUsedTime").toString();
        mapPro.insert(spInfo->id, spInfo);
    }
    return true;
}

void ProMngWork::Slot_AddPro(std::shared_ptr<pro::info> spPInfo)
{
    QSqlQuery query(m_db);
    query.prepare("INSERT INTO tbl_ai_project (id, name, type, tips, createTime, lastUsedTime) VALUES (:id, "
                  ":name, :type, :tips, :createTime, :lastUsedTime)");
    query.bindValue(":id", spPInfo->id);
    query.bindValue(":name", spPInfo->name);
    query.bindValue(":type", spPInfo->type);
    query.bindValue(":tips", spPInfo->tips);
    query.bindValue(":createTime", spPInfo->createTime);
    query.bindValue(":lastUsedTime", spPInfo->lastUsedTime);
    if (!query.exec())
    {
        qCritical().noquote() << "插入/更新失败:" << query.lastError().text();
    }
}

void ProMngWork::Slot_ModPro(std::shared_ptr<pro::info> spPInfo)
{
    QSqlQuery query(m_db);
    query.prepare(
        "update tbl_ai_project set type=:type, tips=:tips, lastUsedTime=:lastUsedTime where id=:id;");
    query.bindValue(":id", spPInfo->id);
    query.bindValue(":type", spPInfo->type);
    query.bindValue(":tips", spPInfo->tips);
    query.bindValue(":lastUsedTime", spPInfo->lastUsedTime);
    if (!query.exec())
    {
        qCritical().noquote() << "更新失败:" << query.lastError().text();
    }
}

void ProMngWork::Slot_DelPro(QString id)
{
    QSqlQuery query(m_db);
    query.prepare("DELETE FROM tbl_ai_project WHERE id=:id");
    query.bindValue(":id", id);
    if (!query.exec())
    {
        qCritical().noquote() << "删除失败:" << query.lastError().text();
    }
}
