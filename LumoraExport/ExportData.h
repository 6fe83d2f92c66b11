#pragma once

#include "Nexil/ROI/ROIItem.h"

#include <QMetaType>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVector>

namespace pro
{
struct ImageInfo;
}

// A data set as the exporter takes it: plain values, so that it can be handed to a worker thread
// while the project goes on being edited.

// One annotation shape in image pixels.
struct ExportRoi
{
    QString category;
    bool polygon = false;
    // Vertices of a polygon, open; a rectangle keeps its extent in rect.
    QPolygonF points;
    QRectF rect;
};

// One annotated image.
struct ExportImage
{
    QString path;
    QString fileName;
    // Orders the images the same way in the program and on the command line: the path relative to
    // the project, which begins with the import batch stamp.
    QString key;
    bool markAsOK = false;
    QVector<ExportRoi> rois;
};

struct ExportSet
{
    // Name of the project, written into the files that describe the data set.
    QString name;
    // 1 segmentation, 2 object detection.
    int type = 0;
    // In project order; titles of ROIs outside it are appended by the exporter.
    QStringList categories;
    QVector<ExportImage> images;
    // The project folder of the images: the output may not be it, contain it or lie inside it or
    // its workspace. Empty for loose images.
    QString projectDir;
    // Stored image paths that lead out of the project folder: not read, counted as skipped.
    QStringList refusedPaths;
};

// The rectangles and polygons of a ROI list; other shapes are left out.
QVector<ExportRoi> ExportRois(const ROIList& rois);
// An image record of the open project; markAsOK only counts without ROIs, as when it is stored.
ExportImage ExportImageOf(const pro::ImageInfo& img);

Q_DECLARE_METATYPE(ExportSet)
