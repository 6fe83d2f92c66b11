#pragma once

#include "Nexil/ImageInfo.h"
#include "Nexil/ROI/ROIItem.h"

#include <QUndoCommand>

#include <functional>
#include <memory>

// One edit of an image's ROIs, undoable. The ROI list is kept by pointer, so an undone edit gives
// back the very ROI objects the record had, in their order, with their titles; a moved or reshaped
// ROI also keeps copies of its geometry before and after.
class RoiEditCommand : public QUndoCommand
{
public:
    struct State
    {
        ROIList rois;
        bool markAsOK = false;
    };
    // Runs after the record took a state; store says whether that state is to be stored now.
    using Applied = std::function<void(bool store)>;

    // The edit is done by the first redo (the push); storeFirst says whether that one stores, as the
    // edit did before it could be undone. Every later undo and redo stores.
    RoiEditCommand(const QString& text, std::weak_ptr<pro::ImageInfo> record, State before, State after,
                   Applied applied, bool storeFirst);
    // A ROI of the record moved or reshaped; it already has its new geometry, before holds the old.
    RoiEditCommand(const QString& text, std::weak_ptr<pro::ImageInfo> record, std::shared_ptr<ROIItem> roi,
                   std::shared_ptr<const ROIItem> before, Applied applied);

    static State StateOf(const pro::ImageInfo& img) { return State{img.rois, img.markAsOK}; }

    void undo() override;
    void redo() override;

private:
    void Apply(const State& state, const std::shared_ptr<const ROIItem>& shape, bool store);

    std::weak_ptr<pro::ImageInfo> m_record;
    State m_before;
    State m_after;
    std::shared_ptr<ROIItem> m_roi;
    std::shared_ptr<const ROIItem> m_shapeBefore;
    std::shared_ptr<const ROIItem> m_shapeAfter;
    Applied m_applied;
    bool m_storeFirst;
    bool m_done = false;
};
