#include "Nexil/PrjMng.h"
#include "Nexil/ImageFiles.h"

#include "Nexil/ImageDecode.h"
#include "Nexil/NexilConst.h"
#include "Nexil/PrjDataWork.h"
#include "Nexil/ROI/AnnotationText.h"

#include "ComLib/ComFunc.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSize>

#include <algorithm>

namespace
{

// Absolute, without "." and ".." parts or doubled separators.
QString CleanAbsolutePath(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Columns and rows of the image read in colour, or 0 and 0 when it cannot be read. The header tells
// them without decoding the pixels in the GUI thread; other formats are left to the decoder.
QSize ImageSize(const QString& path)
{
    const QSize size = ImageDecode::Size(path);
    return size.isValid() ? size : QSize(0, 0);
}

QString AnnotationFileText(const pro::ImageInfo& img)
{
    const QSize size = ImageSize(img.path);
    return AnnotationText::buildAnnotationFileText(img.fileName, size.width(), size.height(), img.rois);
}

// The file name of a stored image path as it names the file once cleaned of "." and "..".
QString StoredFileName(const QString& image)
{
    const QString name = image.mid(image.lastIndexOf('/') + 1);
    if (!name.isEmpty() && name != "." && name != ".." && !name.contains('\\'))
    {
        return name;
    }
    return QFileInfo(QDir::cleanPath(image)).fileName();
}

} // namespace

PrjMng::PrjMng(const QString& workspacePath, std::shared_ptr<pro::info> spInfo)
    : m_spInfo(std::move(spInfo)), m_prjPath(workspacePath + "/" + m_spInfo->name)
{
    // The rows' file states cross to this thread in a queued signal.
    qRegisterMetaType<QList<int>>("QList<int>");
    m_pWork = m_thread.Adopt(new PrjDataWork);
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
    connect(m_pWork, &PrjDataWork::Signal_ImageSources, this, &PrjMng::Slot_ImageSources);
    connect(this, &PrjMng::Signal_StoreConfig, m_pWork, &PrjDataWork::Slot_StoreConfig);

    qInfo().noquote() << "project path:" << m_prjPath;
    m_thread.Start();
    emit Signal_Init(m_prjPath);
}

PrjMng::~PrjMng() = default;

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
    // The file the user chose stays the image's source after path turns into the project's copy.
    if (spImg->source.isEmpty())
    {
        spImg->source = CleanAbsolutePath(spImg->path);
    }
    m_pendingAdds.insert(id, {spImg, spImg->marked});
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
        // Stored paths are not trusted: nothing outside the project's datas folder is deleted.
        const QString file = PrjDataWork::DatasFile(m_prjPath, spImg->image);
        if (!file.isEmpty())
        {
            QFile::remove(ImageFiles::AnnotationPath(file));
            QFile::remove(file);
        }
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

void PrjMng::SetSetting(const QString& name, const QString& value)
{
    m_mapConfig.insert(name, value);
    emit Signal_StoreConfig(name, value);
}

QString PrjMng::Setting(const QString& name) const
{
    return m_mapConfig.value(name);
}

void PrjMng::Slot_ImageSources(QStringList lstId, QStringList lstSource)
{
    const int count = std::min(lstId.size(), lstSource.size());
    for (int i = 0; i < count; ++i)
    {
        if (const auto spImg = m_mapImage.value(lstId.at(i)))
        {
            spImg->source = lstSource.at(i);
        }
    }
}

void PrjMng::Slot_MarkImg(QStringList lstId, QStringList lstImg, QStringList lstFilter,
                          QStringList lstMarkAsOK, QStringList lstRoi, QList<int> lstState)
{
    const int count = std::min(
        {lstId.size(), lstImg.size(), lstFilter.size(), lstMarkAsOK.size(), lstRoi.size(), lstState.size()});
    // Rows are dropped only when their file is surely gone, never because the disk cannot be read:
    // the row holds the only copy of the image's ROIs.
    // Logged once per path, not once per image.
    const auto kept = [this](const QString& path, const char* why)
    {
        if (!m_keptPaths.contains(path))
        {
            m_keptPaths.insert(path);
            qCritical().noquote() << path + why;
        }
    };
    const char* const unreadable =
        " is missing or cannot be read: its images stay in the database, not listed.";
    QStringList lstMissing;
    for (int i = 0; i < count; ++i)
    {
        const QString& id = lstId.at(i);
        if (m_deletedBeforeCopy.remove(id))
        {
            continue;
        }
        const QString path = m_prjPath + lstImg.at(i);
        if (const auto spImg = m_mapImage.value(id))
        {
            // The confirmation of an add tells only what the worker decided; markAsOK, filter and
            // the ROIs may have been changed by the user since.
            spImg->path = path;
            spImg->image = lstImg.at(i);
            spImg->prjPath = m_prjPath;
            spImg->fileName = QFileInfo(path).fileName();
            continue;
        }

        switch (lstState.at(i))
        {
        case PrjDataWork::kFileThere:
        {
            auto spImg = std::make_shared<pro::ImageInfo>();
            spImg->id = id;
            spImg->rois = AnnotationText::parseRoiListText(lstRoi.at(i));
            spImg->path = path;
            spImg->image = lstImg.at(i);
            spImg->prjPath = m_prjPath;
            spImg->markAsOK = lstMarkAsOK.at(i).toInt() != 0;
            spImg->fileName = StoredFileName(lstImg.at(i));
            spImg->filter = lstFilter.at(i);
            spImg->marked = !spImg->rois.isEmpty() || spImg->markAsOK;
            m_mapImage.insert(id, spImg);
            break;
        }
        case PrjDataWork::kDatasUnreadable:
            kept(m_prjPath + nexil::kDatasDir, unreadable);
            break;
        case PrjDataWork::kFolderUnreadable:
            kept(QFileInfo(PrjDataWork::DatasFile(m_prjPath, lstImg.at(i))).path(), unreadable);
            break;
        case PrjDataWork::kNotAFile:
            kept(PrjDataWork::DatasFile(m_prjPath, lstImg.at(i)),
                 " is not a file: its image stays in the database, not listed.");
            break;
        case PrjDataWork::kFileMissing:
            qCritical().noquote() << QString::fromUtf8("文件%1丢失，直接通知数据库删掉").arg(path);
            lstMissing.append(id);
            QFile::remove(ImageFiles::AnnotationPath(PrjDataWork::DatasFile(m_prjPath, lstImg.at(i))));
            break;
        default:
            // The worker refused the path and said why.
            break;
        }
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
    // The first result of an id is that of its add.
    const PendingAdd pending = m_pendingAdds.take(id);
    if (pending.spImg && !bSucc)
    {
        // The image is not in the project: the record is as before the add, and the next store
        // adds it again instead of saving to a row that does not exist.
        if (m_mapImage.value(id) == pending.spImg)
        {
            m_mapImage.remove(id);
        }
        pending.spImg->id.clear();
        pending.spImg->marked = pending.marked;
    }
    else if (const auto spImg = m_mapImage.value(id))
    {
        spImg->marked = !spImg->rois.isEmpty() || spImg->markAsOK;
    }
    if (m_saveCallback)
    {
        m_saveCallback(id, bSucc, msg, m_userData);
    }
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
