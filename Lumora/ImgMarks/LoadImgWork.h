#pragma once

#include "Nexil/ImageInfo.h"
#include "Nexil/ROI/ROIItem.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

// Brings images into the lists: scans folders, reads the annotation files beside the images and
// deletes image files, in a thread of its own. Records leave only inside Signal_ImgList, after
// which the worker keeps none of them. While importing (addDb), a record whose annotation file
// was taken arrives marked, with its ROIs and no id: ProjectImport adds it to the project in the
// GUI thread before it is listed, since the project is not to be touched from here.
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

    bool addDb() const { return m_addDb; }

    // The file beside the image named by its base name (up to the last ".") + ".json".
    static QString annotationPath(const QString& imagePath);
    // Reads the annotation file of an image; false when there is none or it is not one.
    static bool readAnnotationFile(const QString& imagePath, ROIList& rois);
    // Polygons and rectangles of an annotation file text, coordinates rounded to two decimals;
    // other shapes are skipped. False when the text lacks "imagePath" or "shapes".
    static bool parseShapes(const QString& text, ROIList& rois);
    // Two decimals, halves away from zero; non-finite values give 0.
    static double roundTwoDecimals(double value);

signals:
    void Signal_ImgList(QList<std::shared_ptr<pro::ImageInfo>> vtImgPtr);
    void Signal_DeleteCompleted();

public slots:
    void Slot_ImportMarkImg(QString path, bool bAddDB);
    void Slot_LoadImgPath(QString path);
    void Slot_LoadImg(QString filePath);
    void Slot_DelImg(QStringList paths);

private:
    struct Scan;

    void scanFolder(const QString& folder, int status, Scan& scan);
    std::shared_ptr<pro::ImageInfo> makeRecord(const QString& path, const QString& fileName,
                                               const QString& status, const QString& stamp) const;
    // Takes the annotation file into the record when importing.
    void takeAnnotation(pro::ImageInfo& record, const QString& jsonPath) const;
    static bool readAnnotationText(const QString& jsonPath, ROIList& rois);

    bool m_addDb = false;
};
