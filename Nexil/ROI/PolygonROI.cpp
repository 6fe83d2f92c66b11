#include "Nexil/ROI/PolygonROI.h"

PolygonROI::PolygonROI(const QPolygonF& polygon) : m_polygon(polygon) {}

PolygonROI::~PolygonROI() = default;

int PolygonROI::kind() const
{
    return KindPolygon;
}
