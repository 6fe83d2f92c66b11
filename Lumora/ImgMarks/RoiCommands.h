#pragma once

#include "Nexil/ImageInfo.h"
#include "Nexil/ROI/ROIItem.h"

#include <QUndoCommand>

#include <memory>

class AnnotationSession;

// Adds or removes ROIs of an image, or changes its OK mark. The ROI list is kept by pointer, so an
// undone edit gives back the very ROI objects the record had, in their order, with their titles.
class RoiListCommand : public QUndoCommand
{
public:
    struct State
    {
        ROIList rois;
        bool markAsOK = false;
    };

    // The edit is done by the first redo (the push); storeFirst says whether that one stores, as the
    // edit did before it could be undone. Every later undo and redo stores.
    RoiListCommand(AnnotationSession* session, const QString& text, std::weak_ptr<pro::ImageInfo> record,
                   State before, State after, bool storeFirst);

    static State StateOf(const pro::ImageInfo& img) { return State{img.rois, img.markAsOK}; }

    void undo() override;
    void redo() override;

private:
    void Apply(const State& state, bool store);

    AnnotationSession* m_session;
    std::weak_ptr<pro::ImageInfo> m_record;
    State m_before;
    State m_after;
    bool m_storeFirst;
    bool m_done = false;
};

// A ROI of an image moved or reshaped by one drag, kept as copies of its geometry before and after.
class RoiGeometryCommand : public QUndoCommand
{
public:
    // roi already has its new geometry; before holds the old. The push stores nothing: the drag
    // did not store either.
    RoiGeometryCommand(AnnotationSession* session, const QString& text, std::weak_ptr<pro::ImageInfo> record,
                       std::shared_ptr<ROIItem> roi, std::shared_ptr<const ROIItem> before);

    void undo() override;
    void redo() override;

private:
    void Apply(const ROIItem& shape, bool store);

    AnnotationSession* m_session;
    std::weak_ptr<pro::ImageInfo> m_record;
    std::shared_ptr<ROIItem> m_roi;
    std::shared_ptr<const ROIItem> m_before;
    std::shared_ptr<const ROIItem> m_after;
    bool m_done = false;
};
