#pragma once

#include "Nexil/ImageInfo.h"
#include "Nexil/ROI/ROIItem.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

// An image of the open project as the loader recognises it: by the copy in the project, by the
// user's file it was taken from, and by content.
struct KnownImage
{
    QString id;
    QString file;
    QString source;
};
using KnownImages = QVector<KnownImage>;
Q_DECLARE_METATYPE(KnownImages)

// Brings images into the lists: scans folders, reads the annotation files beside the images and
// deletes image files, in a thread of its own. Records leave only inside Signal_ImgList, after
// which the worker keeps none of them. A file that is a known image of the project (same path as
// its source or copy, or same content) arrives with that image's id and nothing else taken: the
// GUI shows the project's record for it. Other records whose annotation file was taken arrive
// marked, with their ROIs and no id: ProjectImport adds them to the project in the GUI thread
// before they are listed, since the project is not to be touched from here.
class LoadImgWork : public QObject
{
    Q_OBJECT

public:
    // Records per Signal_ImgList of a scan, so the lists fill while a large folder is scanned.
    static constexpr int kBatchSize = 51;
    // Larger annotation files are not read; even one with an embedded image stays far below.
    static constexpr qint64 kMaxAnnotationBytes = 128 * 1024 * 1024;

    LoadImgWork();
    ~LoadImgWork() override;

    // Reads the annotation file of an image; false when there is none or it is not one.
    static bool readAnnotationFile(const QString& imagePath, ROIList& rois);

signals:
    void Signal_ImgList(QList<std::shared_ptr<pro::ImageInfo>> vtImgPtr);
    void Signal_DeleteCompleted();
    // Ends every scan request, also one that found nothing, after its last batch.
    void Signal_ScanFinished(QString path);

public slots:
    // The project's images the following scans recognise; replaces those given before.
    void Slot_SetKnownImages(KnownImages images);
    // A folder scan that takes the annotation files beside the images (unless bAddDB is false),
    // as the annotation page's imports do.
    void Slot_ImportMarkImg(QString path, bool bAddDB);
    // A folder scan and a single file without their annotation files, as the testing page lists
    // the images it predicts.
    void Slot_LoadImgPath(QString path);
    void Slot_LoadImg(QString filePath);
    void Slot_DelImg(QStringList paths);

private:
    struct Scan;

    void scan(const QString& path, bool takeAnnotations);
    void scanFolder(const QString& folder, int status, Scan& scan);
    std::shared_ptr<pro::ImageInfo> makeRecord(const QString& path, const QString& fileName,
                                               const QString& status, const QString& stamp) const;
    // The id of the project image this file (pathKey is its ImageOrder::PathKey) is, or empty text.
    QString knownId(const QString& pathKey, const QString& path);
    QByteArray contentHash(const QString& file) const;
    void takeAnnotation(pro::ImageInfo& record, const QString& jsonPath) const;
    static bool readAnnotationText(const QString& jsonPath, ROIList& rois);

    KnownImages m_known;
    // Path keys of the copies and sources, to the index in m_known.
    QHash<QString, int> m_knownPaths;
    // Sizes of the copies whose source is gone or unknown, read at the first file no path matches;
    // their hashes when first needed.
    QMultiHash<qint64, int> m_knownSizes;
    bool m_sizesRead = false;
    QHash<int, QByteArray> m_knownHashes;
};
