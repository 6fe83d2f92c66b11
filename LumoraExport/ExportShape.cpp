#include "LumoraExport/ExportShape.h"

#include <cmath>
#include <functional>

namespace
{

// Sutherland-Hodgman against one edge of the image; inside(p) tells the kept side, cut(a, b) where
// the segment a-b crosses the edge.
QPolygonF ClipEdge(const QPolygonF& polygon, const std::function<bool(const QPointF&)>& inside,
                   const std::function<QPointF(const QPointF&, const QPointF&)>& cut)
{
    QPolygonF result;
    for (int i = 0; i < polygon.size(); ++i)
    {
        const QPointF& current = polygon[i];
        const QPointF& previous = polygon[(i + polygon.size() - 1) % polygon.size()];
        if (inside(current))
        {
            if (!inside(previous))
                result.append(cut(previous, current));
            result.append(current);
        }
        else if (inside(previous))
        {
            result.append(cut(previous, current));
        }
    }
    return result;
}

QPolygonF ClipToImage(const QPolygonF& polygon, double width, double height)
{
    const auto atX = [](double x)
    {
        return [x](const QPointF& a, const QPointF& b)
        { return QPointF(x, a.y() + (b.y() - a.y()) * (x - a.x()) / (b.x() - a.x())); };
    };
    const auto atY = [](double y)
    {
        return [y](const QPointF& a, const QPointF& b)
        { return QPointF(a.x() + (b.x() - a.x()) * (y - a.y()) / (b.y() - a.y()), y); };
    };
    QPolygonF result = ClipEdge(
        polygon, [](const QPointF& p) { return p.x() >= 0; }, atX(0));
    result = ClipEdge(
        result, [width](const QPointF& p) { return p.x() <= width; }, atX(width));
    result = ClipEdge(
        result, [](const QPointF& p) { return p.y() >= 0; }, atY(0));
    return ClipEdge(
        result, [height](const QPointF& p) { return p.y() <= height; }, atY(height));
}

double ShoelaceArea(const QPolygonF& polygon)
{
    double twice = 0;
    for (int i = 0; i < polygon.size(); ++i)
    {
        const QPointF& a = polygon[i];
        const QPointF& b = polygon[(i + 1) % polygon.size()];
        twice += a.x() * b.y() - b.x() * a.y();
    }
    return std::abs(twice) / 2;
}

bool Finite(const QPolygonF& polygon)
{
    for (const QPointF& p : polygon)
    {
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
            return false;
    }
    return true;
}

} // namespace

std::optional<ExportShape> ExportShape::Make(const ExportRoi& roi, int category, const QSize& imageSize)
{
    QPolygonF source = roi.points;
    if (!roi.polygon)
    {
        const QRectF& r = roi.rect;
        source = QPolygonF({r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()});
    }
    if (source.size() < 3 || !Finite(source) || imageSize.isEmpty())
        return std::nullopt;

    ExportShape shape;
    shape.m_category = category;
    shape.m_fromPolygon = roi.polygon;
    shape.m_polygon = ClipToImage(source, imageSize.width(), imageSize.height());
    shape.m_clipped = shape.m_polygon != source;
    shape.m_area = ShoelaceArea(shape.m_polygon);
    shape.m_box = shape.m_polygon.boundingRect();
    if (shape.m_polygon.size() < 3 || shape.m_area <= 0 || shape.m_box.width() <= 0 ||
        shape.m_box.height() <= 0)
        return std::nullopt;
    return shape;
}
