#pragma once

#include "LumoraExport/DatasetWriter.h"

#include <QJsonArray>

// COCO instances: images/<part>/<file> and annotations/instances_<part>.json with "images",
// "categories" (ids from 1 in category order) and "annotations" (ids from 1 per file), each with a
// "segmentation" polygon, "bbox" [x, y, width, height], "area" and "iscrowd" 0. Coordinates keep two
// decimals.
class CocoWriter : public DatasetWriter
{
public:
    using DatasetWriter::DatasetWriter;

    QString ImageDir(DatasetPart part) const override;
    bool AddImage(DatasetPart part, const QString& fileName, const QString& stem, const QSize& size,
                  const QVector<ExportShape>& shapes) override;
    bool Finish() override;

    static QString AnnotationFile(DatasetPart part);

private:
    struct Part
    {
        QJsonArray images;
        QJsonArray annotations;
    };

    Part m_parts[2];
};
