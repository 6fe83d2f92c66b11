#pragma once

#include "Nexil/ROI/ROIItem.h"

#include <QRectF>

#include <memory>

// The geometry of a ROI apart from its title and editing state: compared, handed from one ROI to
// another, and kept inside an image.
class RoiShape
{
public:
    RoiShape() = delete;

    // Same kind of shape at the same coordinates.
    static bool Same(const ROIItem& a, const ROIItem& b);
    // to takes the geometry of from; false, and nothing changes, when their kinds differ.
    static bool Assign(ROIItem& to, const ROIItem& from);
    // A new ROI like roi (title, attribute) with its coordinates held inside bounds; empty when no
    // area of it lies inside.
    static std::shared_ptr<ROIItem> ClampedCopy(const ROIItem& roi, const QRectF& bounds);
};
