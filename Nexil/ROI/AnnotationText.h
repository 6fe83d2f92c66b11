#pragma once

#include "Nexil/ROI/ROIItem.h"

#include <QString>

// The two JSON texts that carry an image's annotation, both compact UTF-8 with sorted keys:
// the annotation file beside each image copy (read by the training service) and the ROI list
// text stored in the project database (the lossless form the ROIs are rebuilt from).
class AnnotationText
{
public:
    AnnotationText() = delete;

    // Shapes at full precision; a ROI that is neither a rectangle nor a polygon is left out.
    static QString buildAnnotationFileText(const QString& fileName, int width, int height,
                                           const ROIList& rois);
    // Coordinates rounded to two decimals.
    static QString buildRoiListText(const ROIList& rois);
    // Unknown types are skipped; a text that is not a JSON array gives an empty list.
    static ROIList parseRoiListText(const QString& text);
    // Polygons and rectangles of an annotation file text (ours or a peer tool's), coordinates rounded to
    // two decimals; other shapes are skipped. False when the text lacks "imagePath" or "shapes".
    static bool parseAnnotationFileText(const QString& text, ROIList& rois);
};
