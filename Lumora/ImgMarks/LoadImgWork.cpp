#include "LoadImgWork.h"

#include "ImageOrder.h"
#include "ImgStatus.h"

#include "Nexil/ImageFiles.h"
#include "Nexil/ROI/AnnotationText.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{
QString stampNow()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss-zzz"));
}

// File names compare as the file system does.
QString nameKey(const QString& name)
{
#ifdef Q_OS_WIN
    return name.toLower();
#else
    return name;
#endif
}

// ImageOrder::PathKey of an entry of a folder, from the folder's own key ending with "/".
QString entryPathKey(const QString& folderKey, const QString& name)
{
#ifdef Q_OS_WIN
    return folderKey + name.toCaseFolded();
#else
    return folderKey + name;
#endif
}

} // namespace

// One folder scan: its stamp, the batch being filled and the folders seen, so a link back up the
// tree cannot make it run forever.
struct LoadImgWork::Scan
{
    QString stamp;
    bool takeAnnotations = true;
    QList<std::shared_ptr<pro::ImageInfo>> batch;
    QSet<QString> visited;
};

LoadImgWork::LoadImgWork() : QObject(nullptr)
{
    qRegisterMetaType<QList<std::shared_ptr<pro::ImageInfo>>>("QList<std::shared_ptr<pro::ImageInfo>>");
    qRegisterMetaType<KnownImages>("KnownImages");
}

LoadImgWork::~LoadImgWork() = default;

void LoadImgWork::Slot_SetKnownImages(KnownImages images)
{
    m_known = std::move(images);
    m_knownPaths.clear();
    m_knownSizes.clear();
    m_knownHashes.clear();
    m_sizesRead = false;
    for (int i = 0; i < m_known.size(); ++i)
    {
        m_knownPaths.insert(ImageOrder::PathKey(m_known.at(i).file), i);
        if (!m_known.at(i).source.isEmpty())
            m_knownPaths.insert(ImageOrder::PathKey(m_known.at(i).source), i);
    }
}

void LoadImgWork::Slot_ImportMarkImg(QString path, bool bAddDB)
{
    scan(path, bAddDB);
}

void LoadImgWork::Slot_LoadImgPath(QString path)
{
    scan(path, false);
}

void LoadImgWork::scan(const QString& path, bool takeAnnotations)
{
    if (!path.isEmpty() && QFileInfo(path).isDir())
    {
        Scan scan;
        scan.stamp = stampNow();
        scan.takeAnnotations = takeAnnotations;
        scanFolder(path, ImgStatus::CodeOfPath(path), scan);
        if (!scan.batch.isEmpty())
            emit Signal_ImgList(scan.batch);
    }
    emit Signal_ScanFinished(path);
}

void LoadImgWork::scanFolder(const QString& folder, int status, Scan& scan)
{
    // The page is closing: the rest of the scan would be thrown away.
    if (QThread::currentThread()->isInterruptionRequested())
        return;
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || scan.visited.contains(canonical))
        return;
    scan.visited.insert(canonical);

    // One listing per folder gives the images, the annotation files beside them and the
    // subfolders, so no image costs a look-up of its own.
    struct Image
    {
        QString key;
        QString path;
        QString name;
    };
    std::vector<Image> images;
    QSet<QString> jsonNames;
    QStringList subfolders;
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext())
    {
        const QString path = it.next();
        const QString name = it.fileName();
        const QFileInfo info = it.fileInfo();
        if (info.isDir())
        {
            // Linked folders are not followed, as QDirIterator does not by default.
            if (!info.isSymLink())
                subfolders.append(path);
        }
        else if (ImageFiles::IsImageName(name))
        {
            images.push_back({ImageOrder::SortKey(path), path, name});
        }
        else if (name.endsWith(QLatin1String(".json"), Qt::CaseInsensitive))
        {
            jsonNames.insert(nameKey(name));
        }
    }

    // In the order the lists show them, so the first batches fill the top of the list.
    std::sort(images.begin(), images.end(), [](const Image& a, const Image& b) { return a.key < b.key; });
    const QString statusText = ImgStatus::Text(status);
    // The entries of a listing are plain names in the folder: their path keys are the folder's and
    // the name, with no file looked up again.
    QString folderKey = ImageOrder::PathKey(folder);
    if (!folderKey.endsWith(QLatin1Char('/')))
        folderKey.append(QLatin1Char('/'));
    for (Image& image : images)
    {
        auto record = makeRecord(image.path, image.name, statusText, scan.stamp);
        record->source = entryPathKey(folderKey, image.name);
        // The lists order the record by the key it was sorted by here.
        record->sortKey = std::move(image.key);
        record->id = knownId(record->source, image.path);
        const QString jsonName = ImageFiles::AnnotationPath(image.name);
        // A known image keeps what the project holds for it.
        if (record->id.isEmpty() && scan.takeAnnotations && jsonNames.contains(nameKey(jsonName)))
            takeAnnotation(*record, folder + QLatin1Char('/') + jsonName);
        scan.batch.append(record);
        if (scan.batch.size() == kBatchSize)
        {
            emit Signal_ImgList(scan.batch);
            scan.batch.clear();
        }
    }

    std::sort(subfolders.begin(), subfolders.end(),
              [](const QString& a, const QString& b)
              { return ImageOrder::SortKey(a) < ImageOrder::SortKey(b); });
    for (const QString& subfolder : subfolders)
    {
        const int own = ImgStatus::CodeOfFolder(QFileInfo(subfolder).fileName());
        scanFolder(subfolder, own >= 0 ? own : status, scan);
    }
}

void LoadImgWork::Slot_LoadImg(QString filePath)
{
    const QFileInfo info(filePath);
    if (!info.isFile())
        return;
    auto record = makeRecord(filePath, info.fileName(), ImgStatus::Text(ImgStatus::kUnconfirmed), stampNow());
    record->id = knownId(record->source, filePath);
    emit Signal_ImgList({record});
    emit Signal_ScanFinished(filePath);
}

void LoadImgWork::Slot_DelImg(QStringList paths)
{
    for (const QString& path : qAsConst(paths))
    {
        if (QFileInfo(path).fileName().isEmpty())
            continue;
        QFile::remove(path);
        QFile::remove(ImageFiles::AnnotationPath(path));
    }
    emit Signal_DeleteCompleted();
}

std::shared_ptr<pro::ImageInfo> LoadImgWork::makeRecord(const QString& path, const QString& fileName,
                                                        const QString& status, const QString& stamp) const
{
    auto record = std::make_shared<pro::ImageInfo>();
    record->path = path;
    record->source = ImageOrder::PathKey(path);
    record->fileName = fileName;
    record->filter = status;
    record->addTime = stamp;
    return record;
}

QString LoadImgWork::knownId(const QString& pathKey, const QString& path)
{
    if (m_known.isEmpty())
        return QString();
    const auto byPath = m_knownPaths.constFind(pathKey);
    if (byPath != m_knownPaths.constEnd())
        return m_known.at(*byPath).id;
    // A picture moved or renamed since its import: only a copy of the same size whose source is
    // gone (or unknown, in older projects) can be it, so nothing is read for the other files. A
    // picture whose source is still there is that file's, not a twin's elsewhere.
    if (!m_sizesRead)
    {
        m_sizesRead = true;
        for (int i = 0; i < m_known.size(); ++i)
        {
            const QString& source = m_known.at(i).source;
            if (source.isEmpty() || !QFileInfo::exists(source))
                m_knownSizes.insert(QFileInfo(m_known.at(i).file).size(), i);
        }
    }
    if (m_knownSizes.isEmpty())
        return QString();
    // Read only now: a scan with nothing to compare by content costs no look-up per image.
    const QList<int> candidates = m_knownSizes.values(QFileInfo(path).size());
    if (candidates.isEmpty())
        return QString();
    const QByteArray hash = contentHash(path);
    if (hash.isEmpty())
        return QString();
    for (const int candidate : candidates)
    {
        auto known = m_knownHashes.find(candidate);
        if (known == m_knownHashes.end())
            known = m_knownHashes.insert(candidate, contentHash(m_known.at(candidate).file));
        if (*known == hash)
            return m_known.at(candidate).id;
    }
    return QString();
}

QByteArray LoadImgWork::contentHash(const QString& file) const
{
    QFile in(file);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!in.open(QIODevice::ReadOnly) || !hash.addData(&in))
        return QByteArray();
    return hash.result();
}

void LoadImgWork::takeAnnotation(pro::ImageInfo& record, const QString& jsonPath) const
{
    ROIList rois;
    if (!readAnnotationText(jsonPath, rois))
        return;
    // The ROIs are used and destroyed in the GUI thread from the batch on; they belong there.
    if (QCoreApplication* app = QCoreApplication::instance())
    {
        for (const auto& roi : qAsConst(rois))
            roi->moveToThread(app->thread());
    }
    record.rois = rois;
    record.marked = true;
}

bool LoadImgWork::readAnnotationFile(const QString& imagePath, ROIList& rois)
{
    return readAnnotationText(ImageFiles::AnnotationPath(imagePath), rois);
}

bool LoadImgWork::readAnnotationText(const QString& jsonPath, ROIList& rois)
{
    QFile file(jsonPath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxAnnotationBytes)
        return false;
    const QString text = QString::fromUtf8(file.readAll());
    if (text.isEmpty())
        return false;
    return AnnotationText::parseAnnotationFileText(text, rois);
}
