#include "RoiCommands.h"

#include "AnnotationSession.h"
#include "RoiShape.h"

RoiListCommand::RoiListCommand(AnnotationSession* session, const QString& text,
                               std::weak_ptr<pro::ImageInfo> record, State before, State after,
                               bool storeFirst)
    : QUndoCommand(text), m_session(session), m_record(std::move(record)), m_before(std::move(before)),
      m_after(std::move(after)), m_storeFirst(storeFirst)
{
}

void RoiListCommand::undo()
{
    Apply(m_before, true);
}

void RoiListCommand::redo()
{
    Apply(m_after, m_done || m_storeFirst);
    m_done = true;
}

void RoiListCommand::Apply(const State& state, bool store)
{
    const auto spImg = m_record.lock();
    if (!spImg)
        return;
    spImg->rois = state.rois;
    spImg->markAsOK = state.markAsOK;
    m_session->Applied(spImg, store);
}

RoiGeometryCommand::RoiGeometryCommand(AnnotationSession* session, const QString& text,
                                       std::weak_ptr<pro::ImageInfo> record, std::shared_ptr<ROIItem> roi,
                                       std::shared_ptr<const ROIItem> before)
    : QUndoCommand(text), m_session(session), m_record(std::move(record)), m_roi(std::move(roi)),
      m_before(std::move(before)), m_after(m_roi ? m_roi->clone() : nullptr)
{
}

void RoiGeometryCommand::undo()
{
    if (m_before)
        Apply(*m_before, true);
}

void RoiGeometryCommand::redo()
{
    if (m_after)
        Apply(*m_after, m_done);
    m_done = true;
}

void RoiGeometryCommand::Apply(const ROIItem& shape, bool store)
{
    const auto spImg = m_record.lock();
    if (!spImg || !m_roi)
        return;
    RoiShape::Assign(*m_roi, shape);
    m_session->Applied(spImg, store);
}
