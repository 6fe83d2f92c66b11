#pragma once

#include "LumoraExport/DatasetWriter.h"

// YOLO: images/<part>/<file>, labels/<part>/<stem>.txt and data.yaml. A label line holds the class
// index (from 0, in category order) and normalised coordinates with six decimals: the box centre
// and size in a detection project, the polygon's vertices in a segmentation project. An image
// without objects gets an empty label file. data.yaml names the folder, the splits (without a
// validation split "val" names the training images, since the tools require it), "nc" and "names".
class YoloWriter : public DatasetWriter
{
public:
    using DatasetWriter::DatasetWriter;

    QString ImageDir(DatasetPart part) const override;
    bool AddImage(DatasetPart part, const QString& fileName, const QString& stem, const QSize& size,
                  const QVector<ExportShape>& shapes) override;
    bool Finish() override;

    static QString LabelFile(DatasetPart part, const QString& stem);
    // A YAML double-quoted scalar.
    static QString Quoted(const QString& text);
};
