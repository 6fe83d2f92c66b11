#include "RoiBoundaryLib.h"

#include "Nexil/ROI/AnnotationText.h"
#include "Nexil/ROI/RectROIItem.h"

ROIList RoiBoundary_Parse(const QString& roiListText)
{
    return AnnotationText::parseRoiListText(roiListText);
}

QString RoiBoundary_BuildRoiListText(const ROIList& rois)
{
    return AnnotationText::buildRoiListText(rois);
}

QString RoiBoundary_BuildAnnotationFileText(const ROIList& rois)
{
    return AnnotationText::buildAnnotationFileText(QStringLiteral("img.png"), 64, 48, rois);
}

int RoiBoundary_Kind(const ROIItem& roi)
{
    const auto* shape = dynamic_cast<const ROI*>(&roi);
    return shape ? shape->kind() : -1;
}

std::unique_ptr<ROIItem> RoiBoundary_Clone(const ROIItem& roi)
{
    return roi.clone();
}

const std::type_info& RoiBoundary_RectItemType()
{
    return typeid(RectROIItem);
}
