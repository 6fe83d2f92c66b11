#pragma once

#include "Nexil/ROI/ROI.h"

#include <QRectF>

class RectROI : public ROI
{
public:
    explicit RectROI(const QRectF& rect = QRectF());
    ~RectROI() override;

    int kind() const override;

    const QRectF& rect() const { return m_rect; }
    void setRect(const QRectF& rect) { m_rect = rect; }

protected:
    QRectF m_rect;
};
