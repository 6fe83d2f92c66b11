#include "Nexil/ROI/ROIItem.h"

#include <QJsonValue>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <climits>
#include <cmath>

namespace
{
// Beyond a few million pixels OpenCV's fixed-point polygon filler overflows; no image is that large.
constexpr double kMaskCoordLimit = 1 << 22;

const QColor kHandleColor(0xFF, 0x98, 0x00);
const QColor kActiveHandlePenColor(0xFF, 0x40, 0x81);
const QColor kActiveHandleBrushColor(0xD3, 0x2F, 0x2F);
} // namespace

ROIItem::ROIItem(int roiAttr, const QString& title) : m_roiAttr(roiAttr), m_title(title) {}

ROIItem::~ROIItem() = default;

QColor ROIItem::attrColor(int roiAttr, bool selected)
{
    static const QColor kSelected(QStringLiteral("#FFEB3B"));
    switch (roiAttr)
    {
    case 0:
        return selected ? kSelected : QColor(QStringLiteral("#03A9F4"));
    case 1:
    case 3:
        return selected ? kSelected : QColor(QStringLiteral("#E040FB"));
    case 2:
        return selected ? kSelected : QColor(QStringLiteral("#8BC34A"));
    case 4:
        return QColor(QStringLiteral("#8BC34A"));
    case 5:
        return QColor(QStringLiteral("#FF5722"));
    case kDrawingAttr:
        return QColor(QStringLiteral("#FFEB3B"));
    default:
        return QColor();
    }
}

QColor ROIItem::outlineColor() const
{
    if (m_displayColor.isValid() && m_roiAttr == 0)
        return m_displayColor;
    return attrColor(m_roiAttr, m_selected);
}

void ROIItem::paintOutline(QPainter* painter) const
{
    const bool coloured = m_displayColor.isValid() && m_roiAttr == 0;
    painter->setBrush(Qt::NoBrush);
    if (coloured)
    {
        // The dark rim keeps a light or a dark colour readable on grey, bright and dark images alike.
        QPen halo(QColor(0, 0, 0, 140), 6);
        halo.setCosmetic(true);
        painter->setPen(halo);
        drawShape(painter);
    }
    QPen outline(outlineColor(), coloured ? 3 : 4);
    outline.setCosmetic(true);
    painter->setPen(outline);
    if (coloured && m_selected)
    {
        QColor tint = m_displayColor;
        tint.setAlpha(80);
        painter->setBrush(tint);
    }
    drawShape(painter);
    painter->setBrush(Qt::NoBrush);
}

double ROIItem::roundCoord(double value)
{
    // JSON has no infinity or NaN; Qt would write null, which reads back as 0.
    if (!std::isfinite(value))
        return 0.0;
    const double scaled = value * 100.0;
    // Numbers this large carry no decimals; rounding them would only turn them into infinity.
    if (!std::isfinite(scaled))
        return value;
    return std::round(scaled) / 100.0;
}

int ROIItem::maskCoord(double value)
{
    if (std::isnan(value))
        return 0;
    return static_cast<int>(std::trunc(std::clamp(value, -kMaskCoordLimit, kMaskCoordLimit)));
}

int ROIItem::truncToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

int ROIItem::jsonInt(const QJsonValue& value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (!(number >= static_cast<double>(INT_MIN) && number <= static_cast<double>(INT_MAX)))
        return 0;
    const int integer = static_cast<int>(number);
    return integer == number ? integer : 0;
}

void ROIItem::readAttrAndTitle(const QJsonObject& json)
{
    m_roiAttr = jsonInt(json.value(QLatin1String("roiAttr")));
    m_title = json.value(QLatin1String("title")).toString();
}

void ROIItem::writeAttrAndTitle(QJsonObject& json) const
{
    json.insert(QStringLiteral("roiAttr"), m_roiAttr);
    json.insert(QStringLiteral("title"), m_title);
}

void ROIItem::drawTitle(QPainter* painter, const QPointF& anchor) const
{
    if (m_title.isEmpty() || !m_titleShown)
        return;
    painter->drawText(QPointF(std::round(anchor.x()), std::round(anchor.y()) - 5.0), m_title);
}

void ROIItem::drawHandles(QPainter* painter, const QPolygonF& handles, float scale) const
{
    useHandlePen(painter);
    for (int i = 0; i < handles.size(); ++i)
    {
        if (i != m_activeHandle)
            drawHandleCircle(painter, handles.at(i), scale);
    }
    if (m_activeHandle < 0 || m_activeHandle >= handles.size())
        return;
    QPen activePen(kActiveHandlePenColor, 4);
    activePen.setCosmetic(true);
    painter->setPen(activePen);
    painter->setBrush(kActiveHandleBrushColor);
    const qreal radius = kActiveHandleRadius / scale;
    painter->drawEllipse(handles.at(m_activeHandle), radius, radius);
}

void ROIItem::useHandlePen(QPainter* painter)
{
    QPen pen(kHandleColor);
    pen.setCosmetic(true);
    painter->setPen(pen);
    painter->setBrush(kHandleColor);
}

void ROIItem::drawHandleCircle(QPainter* painter, const QPointF& centre, float scale)
{
    const qreal radius = kHandleRadius / scale;
    painter->drawEllipse(centre, radius, radius);
}

bool ROIItem::usableScale(float scale)
{
    // Also refuses NaN; a zero or negative zoom has no sensible screen size.
    return scale > 0.0f;
}
