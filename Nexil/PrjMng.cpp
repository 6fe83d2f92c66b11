#include "Nexil/PrjMng.h"

#include "Nexil/NexilConst.h"
#include "Nexil/PrjDataWork.h"
#include "Nexil/ROI/AnnotationText.h"

#include "ComLib/ComFunc.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSize>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>

namespace
{

// Absolute, without "." and ".." parts or doubled separators.
QString CleanAbsolutePath(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Columns and rows of the image read in colour, or 0 and 0 when it cannot be read.
QSize ImageSize(const QString& path)
{
    const cv::Mat image = cv::imread(QFile::encodeName(path).toStdString(), cv::IMREAD_COLOR);
    return image.empty() ? QSize(0, 0) : QSize(image.cols, image.rows);
}

QString AnnotationFileText(const pro::ImageInfo& img)
{
    const QSize size = ImageSize(img.path);
    return AnnotationText::buildAnnotationFileText(img.fileName, size.width(), size.height(), img.rois);
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

QString PrjMng::AddImage(std::shared_ptr<pro::ImageInfo> spImg)
{
    if (!spImg)
    {
        qWarning() << "AddImage: no image record.";
        return QString();
    }
    QString id;
    do
    {
        id = QString::fromStdString(comlib::MakeUniqueId());
    } while (m_mapImage.contains(id));
    spImg->id = id;
    const bool annotated = spImg->markAsOK || !spImg->rois.isEmpty();
    if (annotated)
    {
        spImg->marked = true;
    }
    m_mapImage.insert(id, spImg);

    // An image with neither ROIs nor OK gets no annotation file, as when it is saved so.
    const QString aiJson = annotated ? AnnotationFileText(*spImg) : QString();
    const QString roiJson = AnnotationText::buildRoiListText(spImg->rois);
    emit Signal_AddMarkImg(id, spImg->addTime, spImg->path, spImg->fileName, spImg->filter, spImg->markAsOK,
                           roiJson, aiJson);
    return id;
}

void PrjMng::SaveImage(const QString& id)
{
    const auto spImg = m_mapImage.value(id);
    if (!spImg)
    {
        qCritical() << "id can't found.";
        return;
    }
    if (!spImg->rois.isEmpty())
    {
        spImg->markAsOK = false;
    }
    if (!spImg->markAsOK && spImg->rois.isEmpty())
    {
        spImg->marked = false;
        emit Signal_SaveMarkImg(id, spImg->image, false, QString(), QString());
        return;
    }
    spImg->marked = true;
    const QString aiJson = AnnotationFileText(*spImg);
    const QString roiJson = AnnotationText::buildRoiListText(spImg->rois);
    emit Signal_SaveMarkImg(id, spImg->image, spImg->markAsOK, roiJson, aiJson);
}

void PrjMng::DelImage(const QString& id)
{
    const auto spImg = m_mapImage.value(id);
    if (id.isEmpty() || !spImg)
    {
        return;
    }
    if (spImg->image.isEmpty())
    {
        // The copy is not confirmed yet and path is still the user's own file, which stays; the
        // worker removes the copy with the row.
        m_deletedBeforeCopy.insert(id);
    }
    else
    {
        const QString file = m_prjPath + spImg->image;
        QFile::remove(PrjDataWork::AnnotationFile(file));
        QFile::remove(file);
    }
    m_mapImage.remove(id);
    emit Signal_DelMarkImg({id});
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
    const int count =
        std::min({lstId.size(), lstImg.size(), lstFilter.size(), lstMarkAsOK.size(), lstRoi.size()});
    QStringList lstMissing;
    for (int i = 0; i < count; ++i)
    {
        const QString& id = lstId.at(i);
        if (m_deletedBeforeCopy.remove(id))
        {
            continue;
        }
        auto spImg = m_mapImage.value(id);
        const bool known = spImg != nullptr;
        if (!known)
        {
            spImg = std::make_shared<pro::ImageInfo>();
            spImg->id = id;
            spImg->rois = AnnotationText::parseRoiListText(lstRoi.at(i));
        }
        const QString path = m_prjPath + lstImg.at(i);
        if (!lstImg.at(i).isEmpty() && QFileInfo(path).isFile())
        {
            spImg->path = path;
            spImg->image = lstImg.at(i);
            spImg->prjPath = m_prjPath;
            spImg->markAsOK = lstMarkAsOK.at(i).toInt() != 0;
            spImg->fileName = QFileInfo(path).fileName();
            spImg->filter = lstFilter.at(i);
            spImg->marked = !spImg->rois.isEmpty() || spImg->markAsOK;
            m_mapImage.insert(id, spImg);
            continue;
        }
        qCritical().noquote() << QString::fromUtf8("文件%1丢失，直接通知数据库删掉").arg(path);
        lstMissing.append(id);
        // Without a stored path there is nothing of the project's own to remove.
        if (!lstImg.at(i).isEmpty())
        {
            QFile::remove(path);
            QFile::remove(PrjDataWork::AnnotationFile(path));
        }
        m_mapImage.remove(id);
    }
    if (!lstMissing.isEmpty())
    {
        emit Signal_DelMarkImg(lstMissing);
    }
}

void PrjMng::Slot_ModMarkImgRlt(QString id, bool bSucc, QString msg)
{
    // A failed add confirms nothing; its id is done with either way.
    m_deletedBeforeCopy.remove(id);
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
