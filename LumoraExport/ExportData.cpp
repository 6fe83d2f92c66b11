#include "LumoraExport/ExportData.h"

#include "Nexil/ImageInfo.h"
#include "Nexil/ROI/PolygonROI.h"
#include "Nexil/ROI/RectROI.h"

QVector<ExportRoi> ExportRois(const ROIList& rois)
{
    QVector<ExportRoi> result;
    result.reserve(rois.size());
    for (const std::shared_ptr<ROIItem>& roi : rois)
    {
        if (!roi)
            continue;
        ExportRoi item;
        item.category = roi->title();
        if (const auto* polygon = dynamic_cast<const PolygonROI*>(roi.get()))
        {
            item.polygon = true;
            item.points = polygon->polygon();
        }
        else if (const auto* rect = dynamic_cast<const RectROI*>(roi.get()))
        {
            item.rect = rect->rect().normalized();
        }
        else
        {
            continue;
        }
        result.append(item);
    }
    return result;
}

ExportImage ExportImageOf(const pro::ImageInfo& img)
{
    ExportImage image;
    image.path = img.path;
    image.fileName = img.fileName;
    image.key = img.image.isEmpty() ? img.path : img.image;
    image.rois = ExportRois(img.rois);
    image.markAsOK = img.markAsOK && image.rois.isEmpty();
    return image;
}
