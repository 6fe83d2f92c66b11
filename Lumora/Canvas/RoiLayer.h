#pragma once

#include "RoiLabels.h"

#include "Nexil/ROI/ROIItem.h"

#include <QFont>

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

class QPainter;

// The canvas's drawing of an image's ROIs, kept between frames. Outlines of thousands of ROIs take
// far longer to stroke than a frame lasts, while most frames (pointer moves, a drag of one ROI, a
// pan) change none of them; the drawing is made again only when a ROI, the zoom or the widget
// changed. The ROI being edited is left out, for the caller to paint on top.
class RoiLayer
{
public:
    struct View
    {
        QSize widgetSize;
        qreal pixelRatio = 1;
        // Widget position of image pixel (0, 0), in whole pixels, and the scale.
        QPoint origin;
        float scale = 1;
        // The image rectangle the ROIs are clipped to.
        QRect imageRect;
    };

    // Draws the ROIs other than live; shift moves the kept drawing (a pan in progress) instead of
    // drawing it again.
    void paint(QPainter& painter, const ROIList& rois, const ROIItem* live, const View& view,
               const QPoint& shift);
    void clear();
    // The title chip of a shape whose titles the view lays out, at the view's scale and origin.
    static RoiLabels::Label Label(const ROIItem& roi, const View& view);
    static QFont LabelFont();

private:
    static size_t signature(const ROIList& rois, const ROIItem* live);
    void render(const ROIList& rois, const ROIItem* live, const View& view);

    QImage m_layer;
    size_t m_signature = 0;
    View m_view;
    bool m_valid = false;
};
