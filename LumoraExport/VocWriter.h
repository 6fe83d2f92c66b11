#pragma once

#include "LumoraExport/DatasetWriter.h"

// Pascal VOC: JPEGImages/<file> (whatever the image format), Annotations/<stem>.xml with one
// "object" per shape, ImageSets/Main/train.txt, val.txt and trainval.txt (stems), and labels.txt
// (the categories, one a line). Boxes are whole pixels, counted from 1 and inclusive, as VOC counts
// them: xmin = floor(left) + 1, xmax = ceil(right), so a box from 10 to 30 covers pixels 11 to 30.
// An object cut by the image border is "truncated". Depth is 3: the images are read in colour.
class VocWriter : public DatasetWriter
{
public:
    using DatasetWriter::DatasetWriter;

    QString ImageDir(DatasetPart part) const override;
    bool AddImage(DatasetPart part, const QString& fileName, const QString& stem, const QSize& size,
                  const QVector<ExportShape>& shapes) override;
    bool Finish() override;

    static QString AnnotationFile(const QString& stem);
    // xmin, ymin, xmax, ymax of a box in VOC's pixel numbering.
    static QRect PixelBox(const QRectF& box);

private:
    QStringList m_stems[2];
};
