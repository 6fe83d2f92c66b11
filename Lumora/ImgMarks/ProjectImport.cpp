#include "ProjectImport.h"

#include "Nexil/NexilApi.h"
#include "Nexil/ROI/RectROIItem.h"

#include <algorithm>

namespace
{
}

int ProjectImport::UseProjectRecords(QList<std::shared_ptr<pro::ImageInfo>>& images)
{
    const auto spCore = PrjIns().lock();
    int used = 0;
    for (auto& spImg : images)
    {
        if (!spImg || spImg->id.isEmpty())
            continue;
        if (auto known = spCore ? spCore->ImageById(spImg->id) : nullptr)
        {
            spImg = known;
            ++used;
        }
        else
        {
            spImg->id.clear();
        }
    }
    return used;
}

int ProjectImport::AddToProject(const QList<std::shared_ptr<pro::ImageInfo>>& images)
{
    const auto spCore = PrjIns().lock();
    const auto spInfo = spCore ? spCore->PrjInfo() : nullptr;
    int added = 0;
    for (const auto& spImg : images)
    {
        if (!spImg || !spImg->marked || !spImg->id.isEmpty())
            continue;
        if (!spCore)
        {
            spImg->marked = false;
            spImg->rois.clear();
            continue;
        }
        // A segmentation project learns from polygons only.
        if (spInfo && spInfo->type == pro::kSegmentProject)
        {
            spImg->rois.erase(std::remove_if(spImg->rois.begin(), spImg->rois.end(),
                                             [](const std::shared_ptr<ROIItem>& roi) {
                                                 return !roi ||
                                                        roi->typeName() == RectROIItem::staticTypeName();
                                             }),
                              spImg->rois.end());
        }
        if (spImg->rois.isEmpty())
            spImg->markAsOK = true;
        spImg->id = spCore->AddImage(spImg);
        for (const auto& roi : qAsConst(spImg->rois))
            spCore->AddMarkType(roi->title());
        ++added;
    }
    return added;
}
