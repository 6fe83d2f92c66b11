#include "RoiShape.h"

#include "Nexil/ROI/PolygonROI.h"
#include "Nexil/ROI/RectROI.h"

#include <algorithm>

namespace
{

QPointF Clamped(const QPointF& point, const QRectF& bounds)
{
    return QPointF(std::clamp(point.x(), bounds.left(), bounds.right()),
                   std::clamp(point.y(), bounds.top(), bounds.bottom()));
}

} // namespace

bool RoiShape::Same(const ROIItem& a, const ROIItem& b)
{
    const auto* rectA = dynamic_cast<const RectROI*>(&a);
    const auto* rectB = dynamic_cast<const RectROI*>(&b);
    if (rectA && rectB)
        return rectA->rect() == rectB->rect();
    const auto* polygonA = dynamic_cast<const PolygonROI*>(&a);
    const auto* polygonB = dynamic_cast<const PolygonROI*>(&b);
    return polygonA && polygonB && polygonA->polygon() == polygonB->polygon();
}

bool RoiShape::Assign(ROIItem& to, const ROIItem& from)
{
    auto* rectTo = dynamic_cast<RectROI*>(&to);
    const auto* rectFrom = dynamic_cast<const RectROI*>(&from);
    if (rectTo && rectFrom)
    {
        rectTo->setRect(rectFrom->rect());
        return true;
    }
    auto* polygonTo = dynamic_cast<PolygonROI*>(&to);
    const auto* polygonFrom = dynamic_cast<const PolygonROI*>(&from);
    if (polygonTo && polygonFrom)
    {
        polygonTo->setPolygon(polygonFrom->polygon());
        return true;
    }
    return false;
}

std::shared_ptr<ROIItem> RoiShape::ClampedCopy(const ROIItem& roi, const QRectF& bounds)
{
    std::shared_ptr<ROIItem> copy(roi.clone());
    if (auto* rect = dynamic_cast<RectROI*>(copy.get()))
    {
        const QRectF inside = rect->rect().normalized().intersected(bounds);
        if (inside.width() <= 0 || inside.height() <= 0)
            return nullptr;
        rect->setRect(inside);
        return copy;
    }
    if (auto* polygon = dynamic_cast<PolygonROI*>(copy.get()))
    {
        QPolygonF inside = polygon->polygon();
        for (QPointF& point : inside)
            point = Clamped(point, bounds);
        const QRectF extent = inside.boundingRect();
        if (inside.size() < 3 || extent.width() <= 0 || extent.height() <= 0)
            return nullptr;
        polygon->setPolygon(inside);
        return copy;
    }
    return nullptr;
}
