#include "Nexil/ROI/RectROIItem.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QPainter>
#include <QPen>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <utility>

RectROIItem::RectROIItem(const QRectF& rect, int roiAttr, const QString& title)
    : RectROI(rect), ROIItem(roiAttr, title)
{
}

RectROIItem::~RectROIItem() = default;

QString RectROIItem::staticTypeName()
{
    return QStringLiteral("rectangle");
}

void RectROIItem::fromJson(const QJsonObject& json)
{
    const QJsonArray values = json.value(QLatin1String("rectangle")).toArray();
    const double left = values.at(0).toDouble();
    const double top = values.at(1).toDouble();
    m_rect = QRectF(left, top, values.at(2).toDouble() - left, values.at(3).toDouble() - top);
    readAttrAndTitle(json);
}

void RectROIItem::toJson(QJsonObject& json) const
{
    json.insert(QStringLiteral("rectangle"),
                QJsonArray{roundCoord(m_rect.left()), roundCoord(m_rect.top()), roundCoord(m_rect.right()),
                           roundCoord(m_rect.bottom())});
    writeAttrAndTitle(json);
}

std::unique_ptr<ROIItem> RectROIItem::clone() const
{
    return std::make_unique<RectROIItem>(m_rect, m_roiAttr, m_title);
}

QString RectROIItem::displayName() const
{
    return QCoreApplication::translate("RectROIItem", "rectangle");
}

QString RectROIItem::typeName() const
{
    return staticTypeName();
}

QIcon RectROIItem::icon() const
{
    return QIcon(QStringLiteral(":/img/Resources/Rect.png"));
}

void RectROIItem::drawShape(QPainter* painter) const
{
    painter->drawRect(m_rect);
}

void RectROIItem::drawToMask(cv::Mat& mask, float dx, float dy, uchar value) const
{
    if (mask.empty())
        return;
    const int x = maskCoord(m_rect.x() - dx);
    const int y = maskCoord(m_rect.y() - dy);
    const int width = maskCoord(m_rect.width());
    const int height = maskCoord(m_rect.height());
    // The same pixels as cv::rectangle with a cv::Rect, without its int overflow in area().
    if (width <= 0 || height <= 0)
        return;
    cv::rectangle(mask, cv::Point(x, y), cv::Point(x + width - 1, y + height - 1), cv::Scalar(value, 0, 0, 0),
                  cv::FILLED, cv::LINE_8);
}

void RectROIItem::paint(QPainter* painter, float scale) const
{
    if (!usableScale(scale))
        return;
    const QPen oldPen = painter->pen();
    const QBrush oldBrush = painter->brush();

    QPen outline(outlineColor(), 4);
    outline.setCosmetic(true);
    painter->setPen(outline);
    drawTitle(painter, m_rect.topLeft());
    paintOutline(painter);
    if (m_selected)
        drawHandles(painter, corners(), scale);

    painter->setPen(oldPen);
    painter->setBrush(oldBrush);
}

bool RectROIItem::contains(const QPointF& point) const
{
    return m_rect.contains(point);
}

void RectROIItem::beginDrag(const QPointF& point)
{
    m_pressPoint = point;
    m_savedRect = m_rect;
}

void RectROIItem::dragFromPress(const QPointF& point)
{
    m_rect = m_savedRect.translated(point - m_pressPoint);
}

void RectROIItem::moveBy(const QPointF& delta)
{
    switch (m_activeHandle)
    {
    case -1:
        m_rect.translate(delta);
        break;
    case 0:
        m_rect.setTopLeft(m_rect.topLeft() + delta);
        break;
    case 1:
        m_rect.setTopRight(m_rect.topRight() + delta);
        break;
    case 2:
        m_rect.setBottomRight(m_rect.bottomRight() + delta);
        break;
    case 3:
        m_rect.setBottomLeft(m_rect.bottomLeft() + delta);
        break;
    default:
        break;
    }
}

bool RectROIItem::hitHandle(const QPointF& point, float scale)
{
    if (!m_selected || !usableScale(scale))
        return false;
    m_activeHandle = -1;
    const double tolerance = kHandleRadius / scale;
    const QPolygonF handles = corners();
    for (int i = 0; i < handles.size(); ++i)
    {
        const QPointF d = handles.at(i) - point;
        if (std::hypot(d.x(), d.y()) < tolerance)
        {
            m_activeHandle = i;
            return true;
        }
    }
    return false;
}

void RectROIItem::setHandlePos(const QPointF& point)
{
    switch (m_activeHandle)
    {
    case 0:
        m_rect = QRectF(point, m_rect.bottomRight());
        break;
    case 1:
        m_rect.setTop(point.y());
        m_rect.setRight(point.x());
        break;
    case 2:
        m_rect.setBottomRight(point);
        break;
    case 3:
        m_rect.setLeft(point.x());
        m_rect.setBottom(point.y());
        break;
    default:
        break;
    }

    // Dragging a corner across the opposite side flips the rectangle; keep it normal and keep
    // the dragged corner active under the pointer.
    static const int kSwapX[] = {1, 0, 3, 2};
    static const int kSwapY[] = {3, 2, 1, 0};
    const bool validHandle = m_activeHandle >= 0 && m_activeHandle < 4;
    if (m_rect.left() > m_rect.right())
    {
        const double left = m_rect.left();
        const double right = m_rect.right();
        m_rect.setLeft(right);
        m_rect.setRight(left);
        if (validHandle)
            m_activeHandle = kSwapX[m_activeHandle];
    }
    if (m_rect.top() > m_rect.bottom())
    {
        const double top = m_rect.top();
        const double bottom = m_rect.bottom();
        m_rect.setTop(bottom);
        m_rect.setBottom(top);
        if (validHandle)
            m_activeHandle = kSwapY[m_activeHandle];
    }
}

ROIItem::Box RectROIItem::boundingBox() const
{
    return Box{static_cast<float>(m_rect.x()), static_cast<float>(m_rect.y()),
               static_cast<float>(m_rect.width()), static_cast<float>(m_rect.height())};
}

double RectROIItem::area() const
{
    return m_rect.width() * m_rect.height();
}

void RectROIItem::propertyHeaders(QStringList&) const {}

void RectROIItem::properties(QStringList& names, PropertyRows& values) const
{
    names << QStringLiteral("X") << QStringLiteral("Y") << QCoreApplication::translate("RectROIItem", "Width")
          << QCoreApplication::translate("RectROIItem", "Height");
    values << QVector<float>{static_cast<float>(m_rect.x())} << QVector<float>{static_cast<float>(m_rect.y())}
           << QVector<float>{static_cast<float>(m_rect.width())}
           << QVector<float>{static_cast<float>(m_rect.height())};
}

void RectROIItem::setPoints(const PropertyRows& rows)
{
    // A table that lacks a value keeps the geometry rather than reading past its rows.
    if (rows.size() < 4)
        return;
    for (int i = 0; i < 4; ++i)
    {
        if (rows.at(i).isEmpty())
            return;
    }
    m_rect = QRectF(rows.at(0).at(0), rows.at(1).at(0), rows.at(2).at(0), rows.at(3).at(0));
}

QPolygonF RectROIItem::corners() const
{
    QPolygonF handles;
    handles << m_rect.topLeft() << m_rect.topRight() << m_rect.bottomRight() << m_rect.bottomLeft();
    return handles;
}
