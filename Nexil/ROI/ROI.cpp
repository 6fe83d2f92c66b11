#include "Nexil/ROI/ROI.h"

ROI::~ROI() = default;

int ROI::kind() const
{
    return KindNone;
}
