#pragma once

#include <QPointF>
#include <QSizeF>

// Zoom of the canvas and the mapping between widget and image coordinates:
// widget point = offset + scale × image point. A wheel step keeps the image point under the
// pointer in place; the scale stays between a hundredth of the fit and 100 screen pixels per
// image pixel, where the mappings still make sense.
class CanvasZoom
{
public:
    static constexpr float kStepIn = 1.1f;
    static constexpr float kStepOut = 0.9090909f;
    static constexpr float kMaxScale = 100.0f;
    static constexpr float kFitDivisor = 100.0f;

    float scale() const { return m_scale; }
    QPointF offset() const { return m_offset; }
    void setOffset(const QPointF& offset) { m_offset = offset; }
    // The scale the last fit chose; 1 before any fit.
    float fitScale() const { return m_fitScale; }
    float minScale() const { return m_fitScale / kFitDivisor; }
    float maxScale() const;

    QPointF toImage(const QPointF& widgetPoint) const;
    QPointF toWidget(const QPointF& imagePoint) const;

    // One step in or out about a widget point; false (nothing changes) when the step would leave
    // the allowed range.
    bool step(const QPointF& about, bool zoomIn);
    // Fits the image into the widget, centred; false (nothing changes) when either has no size.
    bool fit(const QSizeF& widget, const QSizeF& image);

private:
    float m_scale = 1.0f;
    QPointF m_offset;
    float m_fitScale = 1.0f;
};
