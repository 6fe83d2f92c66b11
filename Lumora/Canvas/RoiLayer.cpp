#include "RoiLayer.h"

#include "RoiLabels.h"

#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROI.h"

#include <QHash>
#include <QPainter>

namespace
{
size_t mix(size_t seed, size_t value)
{
    return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

size_t hashBytes(const void* data, size_t size, size_t seed)
{
    return mix(seed, qHashBits(data, size));
}
} // namespace

QFont RoiLayer::LabelFont()
{
    QFont font;
    font.setPixelSize(13);
    return font;
}

RoiLabels::Label RoiLayer::Label(const ROIItem& roi, const View& view)
{
    const ROIItem::Box box = roi.boundingBox();
    return RoiLabels::Label{roi.title(), roi.outlineColor(),
                            QPointF(view.origin) + QPointF(box.x, box.y) * view.scale};
}

void RoiLayer::clear()
{
    m_layer = QImage();
    m_valid = false;
}

size_t RoiLayer::signature(const ROIList& rois, const ROIItem* live)
{
    // Everything paint() draws from: identity, attribute, selection, handle, title and geometry.
    size_t seed = static_cast<size_t>(rois.size());
    for (const auto& roi : rois)
    {
        if (!roi || roi.get() == live)
            continue;
        seed = mix(seed, reinterpret_cast<quintptr>(roi.get()));
        seed = mix(seed, static_cast<size_t>(roi->roiAttr() * 4 + (roi->isSelected() ? 2 : 0)));
        seed = mix(seed, static_cast<size_t>(roi->activeHandle() + 1));
        seed = mix(seed, qHash(roi->title()));
        seed = mix(seed, static_cast<size_t>(roi->displayColor().rgba()) * 2 + (roi->titleShown() ? 1 : 0));
        if (const auto* polygon = dynamic_cast<const PolygonROIItem*>(roi.get()))
        {
            seed =
                hashBytes(polygon->polygon().constData(), sizeof(QPointF) * polygon->polygon().size(), seed);
            const QPointF floating =
                polygon->hasFloatingPoint() ? polygon->floatingPoint() : QPointF(-1e300, 0);
            seed = hashBytes(&floating, sizeof(floating), seed);
        }
        else if (const auto* rect = dynamic_cast<const RectROI*>(roi.get()))
        {
            const QRectF r = rect->rect();
            seed = hashBytes(&r, sizeof(r), seed);
        }
    }
    return seed;
}

void RoiLayer::paint(QPainter& painter, const ROIList& rois, const ROIItem* live, const View& view,
                     const QPoint& shift)
{
    const size_t current = signature(rois, live);
    const bool sameView = m_view.widgetSize == view.widgetSize && m_view.pixelRatio == view.pixelRatio &&
                          m_view.scale == view.scale && m_view.imageRect == view.imageRect;
    // A pan in progress moves the kept drawing; anything else at a new place draws it again.
    const bool reusable = m_valid && sameView && current == m_signature &&
                          (m_view.origin == view.origin || m_view.origin == view.origin - shift);
    if (!reusable)
    {
        render(rois, live,
               View{view.widgetSize, view.pixelRatio, view.origin - shift, view.scale, view.imageRect});
        m_signature = current;
    }
    painter.save();
    painter.resetTransform();
    painter.drawImage(view.origin - m_view.origin, m_layer);
    painter.restore();
}

void RoiLayer::render(const ROIList& rois, const ROIItem* live, const View& view)
{
    const QSize pixels = view.widgetSize * view.pixelRatio;
    if (m_layer.size() != pixels)
        m_layer = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    m_layer.setDevicePixelRatio(view.pixelRatio);
    m_layer.fill(Qt::transparent);
    QPainter layer(&m_layer);
    layer.translate(view.origin);
    layer.scale(view.scale, view.scale);
    layer.setRenderHint(QPainter::Antialiasing);
    layer.setClipRect(view.imageRect);
    QVector<RoiLabels::Label> labels;
    for (const auto& roi : rois)
    {
        if (!roi || roi.get() == live)
            continue;
        roi->paint(&layer, view.scale);
        if (!roi->titleShown() && !roi->title().isEmpty())
            labels.append(Label(*roi, view));
    }
    layer.resetTransform();
    layer.setClipping(false);
    layer.setFont(LabelFont());
    RoiLabels::Draw(layer, labels);
    m_view = view;
    m_valid = true;
}
