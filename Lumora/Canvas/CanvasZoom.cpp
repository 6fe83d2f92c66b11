#include "CanvasZoom.h"

#include <algorithm>

float CanvasZoom::maxScale() const
{
    // A tiny image fitted into a large widget is already beyond 100; it may still be shown fitted.
    return std::max(kMaxScale, m_fitScale);
}

QPointF CanvasZoom::toImage(const QPointF& widgetPoint) const
{
    return (widgetPoint - m_offset) / m_scale;
}

QPointF CanvasZoom::toWidget(const QPointF& imagePoint) const
{
    return m_offset + imagePoint * m_scale;
}

bool CanvasZoom::step(const QPointF& about, bool zoomIn)
{
    const float newScale = m_scale * (zoomIn ? kStepIn : kStepOut);
    if (!(newScale >= minScale() && newScale <= maxScale()))
        return false;
    const QPointF q = toImage(about);
    // Moving the offset by the growth of q's distance keeps q under the pointer.
    const double shift = zoomIn ? -0.1 : 1.0 / 11.0;
    m_offset += shift * q * m_scale;
    m_scale = newScale;
    return true;
}

bool CanvasZoom::fit(const QSizeF& widget, const QSizeF& image)
{
    const double w = image.width();
    const double h = image.height();
    if (!(w >= 1.0) || !(h >= 1.0) || !(widget.width() >= 1.0) || !(widget.height() >= 1.0))
        return false;
    double scale = widget.width() / w;
    if (h * scale > widget.height())
        scale = widget.height() / h;
    m_scale = static_cast<float>(scale);
    m_fitScale = m_scale;
    m_offset = QPointF((widget.width() - w * m_scale) / 2.0, (widget.height() - h * m_scale) / 2.0);
    return true;
}
