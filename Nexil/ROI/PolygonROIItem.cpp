#include "Nexil/ROI/PolygonROIItem.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QPainter>
#include <QPen>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

PolygonROIItem::PolygonROIItem(const QPolygonF& polygon, int roiAttr, const QString& title)
    : PolygonROI(polygon), ROIItem(roiAttr, title)
{
}

PolygonROIItem::~PolygonROIItem() = default;

QString PolygonROIItem::staticTypeName()
{
    return QStringLiteral("Polygon");
}

void PolygonROIItem::fromJson(const QJsonObject& json)
{
    m_polygon.clear();
    const QJsonArray values = json.value(QLatin1String("Points")).toArray();
    m_polygon.reserve(values.size() / 2);
    for (int i = 0; i + 1 < values.size(); i += 2)
        m_polygon.append(QPointF(values.at(i).toDouble(), values.at(i + 1).toDouble()));
    readAttrAndTitle(json);
}

void PolygonROIItem::toJson(QJsonObject& json) const
{
    QJsonArray values;
    for (const QPointF& vertex : m_polygon)
    {
        values.append(roundCoord(vertex.x()));
        values.append(roundCoord(vertex.y()));
    }
    json.insert(QStringLiteral("Points"), values);
    writeAttrAndTitle(json);
}

std::unique_ptr<ROIItem> PolygonROIItem::clone() const
{
    return std::make_unique<PolygonROIItem>(m_polygon, m_roiAttr, m_title);
}

QString PolygonROIItem::displayName() const
{
    return QCoreApplication::translate("PolygonROIItem", "Polygon");
}

QString PolygonROIItem::typeName() const
{
    return staticTypeName();
}

QIcon PolygonROIItem::icon() const
{
    return QIcon(QStringLiteral(":/img/Resources/Polygon.png"));
}

void PolygonROIItem::drawShape(QPainter* painter) const
{
    painter->drawPolygon(m_polygon, Qt::OddEvenFill);
}

void PolygonROIItem::drawToMask(cv::Mat& mask, float dx, float dy, uchar value) const
{
    if (mask.empty() || m_polygon.isEmpty())
        return;
    std::vector<cv::Point> contour;
    contour.reserve(static_cast<size_t>(m_polygon.size()));
    for (const QPointF& vertex : m_polygon)
        contour.emplace_back(maskCoord(vertex.x() - dx), maskCoord(vertex.y() - dy));
    const std::vector<std::vector<cv::Point>> contours{contour};
    cv::fillPoly(mask, contours, cv::Scalar(value, 0, 0, 0), cv::LINE_8);
}

void PolygonROIItem::paint(QPainter* painter, float scale) const
{
    if (!usableScale(scale) || m_polygon.isEmpty())
        return;
    const QPen oldPen = painter->pen();
    const QBrush oldBrush = painter->brush();

    if (m_roiAttr == kDrawingAttr)
    {
        paintInDrawing(painter, scale);
    }
    else
    {
        QPen outline(outlineColor(), 4);
        outline.setCosmetic(true);
        painter->setPen(outline);
        drawTitle(painter, m_polygon.first());
        paintOutline(painter);
        if (m_selected)
            drawHandles(painter, m_polygon, scale);
    }

    painter->setPen(oldPen);
    painter->setBrush(oldBrush);
}

void PolygonROIItem::paintInDrawing(QPainter* painter, float scale) const
{
    QPen outline(attrColor(kDrawingAttr, m_selected), 4);
    outline.setCosmetic(true);
    painter->setPen(outline);
    drawTitle(painter, m_polygon.first());
    QPolygonF points = m_polygon;
    if (m_hasFloatingPoint)
        points.append(m_floatingPoint);
    painter->setBrush(Qt::NoBrush);
    painter->drawPolygon(points, Qt::OddEvenFill);
    useHandlePen(painter);
    for (const QPointF& point : points)
        drawHandleCircle(painter, point, scale);
}

bool PolygonROIItem::contains(const QPointF& point) const
{
    return m_polygon.containsPoint(point, Qt::OddEvenFill);
}

void PolygonROIItem::beginDrag(const QPointF& point)
{
    m_pressPoint = point;
    m_savedPolygon = m_polygon;
}

void PolygonROIItem::dragFromPress(const QPointF& point)
{
    m_polygon = m_savedPolygon.translated(point - m_pressPoint);
}

void PolygonROIItem::moveBy(const QPointF& delta)
{
    if (m_activeHandle < 0)
        m_polygon.translate(delta);
    else if (m_activeHandle < m_polygon.size())
        m_polygon[m_activeHandle] += delta;
}

bool PolygonROIItem::hitHandle(const QPointF& point, float scale)
{
    if (!m_selected || !usableScale(scale))
        return false;
    m_activeHandle = -1;
    const double tolerance = kHandleRadius / scale;
    const int n = m_polygon.size();
    for (int i = 0; i < n; ++i)
    {
        const QPointF d = m_polygon.at(i) - point;
        if (std::hypot(d.x(), d.y()) < tolerance)
        {
            m_activeHandle = i;
            return true;
        }
    }
    if (n < 2)
        return false;

    // No vertex under the pointer: the nearest edge within reach, the closing edge included,
    // gets a new vertex at the foot of the perpendicular.
    int bestEdge = -1;
    double bestDistance2 = std::numeric_limits<double>::infinity();
    QPointF bestFoot;
    for (int i = 0; i < n; ++i)
    {
        const QPointF a = m_polygon.at(i);
        const QPointF edge = m_polygon.at((i + 1) % n) - a;
        const double length2 = QPointF::dotProduct(edge, edge);
        if (!(std::sqrt(length2) >= 1e-6))
            continue;
        const double t = std::clamp(QPointF::dotProduct(point - a, edge) / length2, 0.0, 1.0);
        const QPointF foot = a + t * edge;
        const QPointF d = point - foot;
        const double distance2 = QPointF::dotProduct(d, d);
        if (distance2 < bestDistance2)
        {
            bestDistance2 = distance2;
            bestEdge = i;
            bestFoot = foot;
        }
    }
    if (bestEdge < 0 || !(bestDistance2 < tolerance * tolerance))
        return false;
    m_polygon.insert(bestEdge + 1, bestFoot);
    m_activeHandle = bestEdge + 1;
    return true;
}

void PolygonROIItem::setHandlePos(const QPointF& point)
{
    if (m_activeHandle >= 0 && m_activeHandle < m_polygon.size())
        m_polygon[m_activeHandle] = point;
}

ROIItem::Box PolygonROIItem::boundingBox() const
{
    if (m_polygon.isEmpty())
        return Box{};
    double minX = m_polygon.first().x();
    double maxX = minX;
    double minY = m_polygon.first().y();
    double maxY = minY;
    for (const QPointF& vertex : m_polygon)
    {
        minX = std::min(minX, vertex.x());
        maxX = std::max(maxX, vertex.x());
        minY = std::min(minY, vertex.y());
        maxY = std::max(maxY, vertex.y());
    }
    return Box{static_cast<float>(minX), static_cast<float>(minY), static_cast<float>(maxX - minX),
               static_cast<float>(maxY - minY)};
}

double PolygonROIItem::area() const
{
    if (m_polygon.size() < 3)
        return 0.0;
    std::vector<cv::Point> contour;
    contour.reserve(static_cast<size_t>(m_polygon.size()));
    for (const QPointF& vertex : m_polygon)
        contour.emplace_back(truncToInt(vertex.x()), truncToInt(vertex.y()));
    return cv::contourArea(contour, false);
}

void PolygonROIItem::propertyHeaders(QStringList& headers) const
{
    headers << QCoreApplication::translate("PolygonROIItem", "X")
            << QCoreApplication::translate("PolygonROIItem", "Y");
}

void PolygonROIItem::properties(QStringList& names, PropertyRows& values) const
{
    for (int i = 0; i < m_polygon.size(); ++i)
    {
        names << QString::number(i + 1);
        values << QVector<float>{static_cast<float>(m_polygon.at(i).x()),
                                 static_cast<float>(m_polygon.at(i).y())};
    }
}

void PolygonROIItem::setPoints(const PropertyRows& rows)
{
    m_polygon.clear();
    for (const QVector<float>& row : rows)
    {
        // A row without both coordinates is not a vertex.
        if (row.size() >= 2)
            m_polygon.append(QPointF(row.at(0), row.at(1)));
    }
}

void PolygonROIItem::setFloatingPoint(const QPointF& point)
{
    m_floatingPoint = point;
    m_hasFloatingPoint = true;
}

void PolygonROIItem::clearFloatingPoint()
{
    m_floatingPoint = QPointF();
    m_hasFloatingPoint = false;
}
