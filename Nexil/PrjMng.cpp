#include "Nexil/PrjMng.h"

#include "Nexil/NexilConst.h"
#include "Nexil/PrjDataWork.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

namespace
{

// Absolute, without "." and ".." parts or doubled separators.
QString CleanAbsolutePath(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

PrjMng::PrjMng(const QString& workspacePath, std::shared_ptr<pro::info> spInfo)
    : m_spInfo(std::move(spInfo)), m_prjPath(workspacePath + "/" + m_spInfo->name)
{
    m_pWork = new PrjDataWork;
    m_pWork->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_pWork, &QObject::deleteLater);
    connect(this, &PrjMng::Signal_Init, m_pWork, &PrjDataWork::Slot_Init);
    connect(m_pWork, &PrjDataWork::Signal_ConfigInfo, this, &PrjMng::Slot_ConfigInfo);
    connect(this, &PrjMng::Signal_AddMarkType, m_pWork, &PrjDataWork::Slot_AddMarkType);
    connect(this, &PrjMng::Signal_DelMarkType, m_pWork, &PrjDataWork::Slot_DelMarkType);
    connect(m_pWork, &PrjDataWork::Signal_MarkTypeInfo, this, &PrjMng::Slot_MarkTypeInfo);
    connect(this, &PrjMng::Signal_AddMarkImg, m_pWork, &PrjDataWork::Slot_AddMarkImg);
    connect(this, &PrjMng::Signal_SaveMarkImg, m_pWork, &PrjDataWork::Slot_SaveMarkImg);
    connect(this, &PrjMng::Signal_DelMarkImg, m_pWork, &PrjDataWork::Slot_DelMarkImg);
    connect(m_pWork, &PrjDataWork::Signal_MarkImg, this, &PrjMng::Slot_MarkImg);
    connect(m_pWork, &PrjDataWork::Signal_SaveMarkImgRlt, this, &PrjMng::Slot_ModMarkImgRlt);

    qInfo().noquote() << "project path:" << m_prjPath;
    m_thread.start(QThread::InheritPriority);
    emit Signal_Init(m_prjPath);
}

PrjMng::~PrjMng()
{
    // The exit is queued behind the work already handed to the worker, so all of it is done.
    QMetaObject::invokeMethod(
        m_pWork, [this] { m_thread.exit(0); }, Qt::QueuedConnection);
    m_thread.wait();
}

QString PrjMng::PrjPath() const
{
    return m_prjPath;
}

std::shared_ptr<pro::info> PrjMng::PrjInfo() const
{
    return m_spInfo;
}

void PrjMng::SetLastFilePath(const QString& path)
{
    const QString key = QString::fromUtf8(nexil::kLastFilePath);
    m_mapConfig.insert(key, path);
    emit Signal_ConfigInfo(key, path);
}

QString PrjMng::GetLastFilePath() const
{
    return m_mapConfig.value(QString::fromUtf8(nexil::kLastFilePath));
}

bool PrjMng::AddMarkType(const QString& type)
{
    if (type.isEmpty() || m_markTypes.contains(type))
    {
        return false;
    }
    m_markTypes.append(type);
    emit Signal_AddMarkType(type);
    return true;
}

void PrjMng::DelMarkType(const QString& type)
{
    if (m_markTypes.removeAll(type) > 0)
    {
        emit Signal_DelMarkType(type);
    }
}

const QStringList& PrjMng::MarkTypes() const
{
    return m_markTypes;
}

void PrjMng::SetSaveCallback(SaveCallback callback, void* userData)
{
    m_saveCallback = callback;
    m_userData = userData;
}

// Adding, saving and deleting images follow with the project data store. Until then they change
// nothing and say so: no id is handed out for an image that is not stored.

QString PrjMng::AddImage(std::shared_ptr<pro::ImageInfo> spImg)
{
    qWarning().noquote() << "AddImage" << (spImg ? spImg->path : QString())
                         << "refused: the image store is not available.";
    return QString();
}

void PrjMng::SaveImage(const QString& id)
{
    if (!m_mapImage.contains(id))
    {
        qCritical() << "id can't found.";
        return;
    }
    qWarning().noquote() << "SaveImage" << id << "refused: the image store is not available.";
}

void PrjMng::DelImage(const QString& id)
{
    if (id.isEmpty() || !m_mapImage.contains(id))
    {
        return;
    }
    qWarning().noquote() << "DelImage" << id << "refused: the image store is not available.";
}

const QMap<QString, std::shared_ptr<pro::ImageInfo>>& PrjMng::Images() const
{
    return m_mapImage;
}

std::shared_ptr<pro::ImageInfo> PrjMng::ImageById(const QString& id) const
{
    return m_mapImage.value(id);
}

std::shared_ptr<pro::ImageInfo> PrjMng::ImageByPath(const QString& path) const
{
    if (path.isEmpty())
    {
        return nullptr;
    }
    const QString wanted = CleanAbsolutePath(path);
    for (const auto& spImg : m_mapImage)
    {
        if (CleanAbsolutePath(spImg->path).compare(wanted, Qt::CaseInsensitive) == 0)
        {
            return spImg;
        }
    }
    return nullptr;
}

void PrjMng::SetTestPath(const QString& path)
{
    m_testPath = path;
}

const QString& PrjMng::TestPath() const
{
    return m_testPath;
}

void PrjMng::SetTestLabeled(int labeled)
{
    m_testLabeled = labeled;
}

int PrjMng::TestLabeled() const
{
    return m_testLabeled;
}

void PrjMng::Slot_MarkImg(QStringList lstId, QStringList lstImg, QStringList lstFilter,
                          QStringList lstMarkAsOK, QStringList lstRoi)
{
    // The worker delivers no images until the image store is in place.
    Q_UNUSED(lstId)
    Q_UNUSED(lstImg)
    Q_UNUSED(lstFilter)
    Q_UNUSED(lstMarkAsOK)
    Q_UNUSED(lstRoi)
}

void PrjMng::Slot_ModMarkImgRlt(QString id, bool bSucc, QString msg)
{
    if (!m_saveCallback)
    {
        return;
    }
    if (const auto spImg = m_mapImage.value(id))
    {
        spImg->marked = !spImg->rois.isEmpty() || spImg->markAsOK;
    }
    m_saveCallback(id, bSucc, msg, m_userData);
}

void PrjMng::Slot_MarkTypeInfo(QString type)
{
    if (!m_markTypes.contains(type))
    {
        m_markTypes.append(type);
    }
}

void PrjMng::Slot_ConfigInfo(QString name, QString val)
{
    m_mapConfig.insert(name, val);
}
