#include "Nexil/PrjDataWork.h"

#include <QDebug>
#include <QDir>
#include <QSqlError>

namespace
{
const char* const kConnectionName = "sql_project_data_database";
}

PrjDataWork::~PrjDataWork()
{
    // Only the connection this worker added is removed; the handle is dropped first so that Qt
    // does not find it still in use.
    const QString name = m_db.connectionName();
    m_db.close();
    m_db = QSqlDatabase();
    if (!name.isEmpty())
    {
        QSqlDatabase::removeDatabase(name);
    }
}

void PrjDataWork::Slot_Init(QString sProPath)
{
    m_prjPath = sProPath;
    if (!QDir().mkpath(m_prjPath))
    {
        qCritical().noquote() << QString("Create project directory %1 failed.").arg(m_prjPath);
        return;
    }
    Open();
}

bool PrjDataWork::Open()
{
    const QString file = m_prjPath + "/PrjData.db";
    // A connection of this name still belongs to another project's worker; taking it over would
    // cut that worker off its database.
    if (QSqlDatabase::contains(kConnectionName))
    {
        qCritical().noquote() << QString("Open %1 database failed.").arg(file)
                              << "The connection is in use by another project.";
        return false;
    }
    m_db = QSqlDatabase::addDatabase("QSQLITE", kConnectionName);
    m_db.setDatabaseName(file);
    if (!m_db.open())
    {
        qCritical().noquote() << QString("Open %1 database failed.").arg(file) << m_db.lastError().text();
        return false;
    }
    return true;
}

// The image and category store follows with the project data store; until then every change is
// refused openly, so nothing is reported as stored that was not.

void PrjDataWork::Slot_AddMarkImg(QString id, QString addTime, QString srcImgFile, QString fileName,
                                  QString filter, bool markAsOK, QString roiJson, QString aiJson)
{
    Q_UNUSED(addTime)
    Q_UNUSED(fileName)
    Q_UNUSED(filter)
    Q_UNUSED(markAsOK)
    Q_UNUSED(roiJson)
    Q_UNUSED(aiJson)
    qWarning().noquote() << "Image" << srcImgFile << "not added: the image store is not available.";
    emit Signal_SaveMarkImgRlt(id, false, QString::fromUtf8("添加标注信息失败，原因：图片存储尚不可用！"));
}

void PrjDataWork::Slot_SaveMarkImg(QString id, QString imgFile, bool markAsOK, QString roiJson,
                                   QString aiJson)
{
    Q_UNUSED(markAsOK)
    Q_UNUSED(roiJson)
    Q_UNUSED(aiJson)
    qWarning().noquote() << "Image" << imgFile << "not saved: the image store is not available.";
    emit Signal_SaveMarkImgRlt(id, false, QString::fromUtf8("保存标注信息失败，原因：图片存储尚不可用！"));
}

void PrjDataWork::Slot_DelMarkImg(QStringList lstId)
{
    qWarning().noquote() << lstId.size() << "image rows not deleted: the image store is not available.";
}

void PrjDataWork::Slot_AddMarkType(QString type)
{
    qWarning().noquote() << "Category" << type << "not stored: the category store is not available.";
}

void PrjDataWork::Slot_DelMarkType(QString type)
{
    qWarning().noquote() << "Category" << type << "not deleted: the category store is not available.";
}
