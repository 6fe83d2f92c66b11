#pragma once

#include "LumoraExport/ExportData.h"

#include <QPolygonF>
#include <QRectF>
#include <QSize>

#include <optional>

// A ROI as the export formats write it: clipped to its image, so that every box and vertex lies
// inside it. A rectangle becomes the polygon of its four corners, clockwise from the top-left.
class ExportShape
{
public:
    // Nothing for a polygon with fewer than three vertices or a shape with no area inside the image.
    static std::optional<ExportShape> Make(const ExportRoi& roi, int category, const QSize& imageSize);

    int Category() const { return m_category; }
    bool FromPolygon() const { return m_fromPolygon; }
    // Part of the shape lay outside the image.
    bool Clipped() const { return m_clipped; }
    const QPolygonF& Polygon() const { return m_polygon; }
    const QRectF& Box() const { return m_box; }
    // Of the clipped polygon, by the shoelace formula.
    double Area() const { return m_area; }

private:
    int m_category = 0;
    bool m_fromPolygon = false;
    bool m_clipped = false;
    QPolygonF m_polygon;
    QRectF m_box;
    double m_area = 0;
};
