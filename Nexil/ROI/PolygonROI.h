#pragma once

#include "Nexil/ROI/ROI.h"

#include <QPolygonF>

// The vertices are kept open: the first vertex is not repeated at the end.
class PolygonROI : public ROI
{
public:
    explicit PolygonROI(const QPolygonF& polygon = QPolygonF());
    ~PolygonROI() override;

    int kind() const override;

    const QPolygonF& polygon() const { return m_polygon; }
    void setPolygon(const QPolygonF& polygon) { m_polygon = polygon; }
    void appendVertex(const QPointF& point) { m_polygon.append(point); }

protected:
    QPolygonF m_polygon;
};
