#include "Nexil/ROI/RectROI.h"

RectROI::RectROI(const QRectF& rect) : m_rect(rect) {}

RectROI::~RectROI() = default;

int RectROI::kind() const
{
    return KindRect;
}
