#include "RoiEditCommand.h"

#include "RoiShape.h"

RoiEditCommand::RoiEditCommand(const QString& text, std::weak_ptr<pro::ImageInfo> record, State before,
                               State after, Applied applied, bool storeFirst)
    : QUndoCommand(text), m_record(std::move(record)), m_before(std::move(before)), m_after(std::move(after)),
      m_applied(std::move(applied)), m_storeFirst(storeFirst)
{
}

RoiEditCommand::RoiEditCommand(const QString& text, std::weak_ptr<pro::ImageInfo> record,
                               std::shared_ptr<ROIItem> roi, std::shared_ptr<const ROIItem> before,
                               Applied applied)
    : QUndoCommand(text), m_record(std::move(record)), m_roi(std::move(roi)),
      m_shapeBefore(std::move(before)), m_applied(std::move(applied)), m_storeFirst(false)
{
    if (const auto spImg = m_record.lock())
    {
        m_before = StateOf(*spImg);
        m_after = m_before;
    }
    if (m_roi)
        m_shapeAfter = std::shared_ptr<const ROIItem>(m_roi->clone());
}

void RoiEditCommand::undo()
{
    Apply(m_before, m_shapeBefore, true);
}

void RoiEditCommand::redo()
{
    Apply(m_after, m_shapeAfter, m_done || m_storeFirst);
    m_done = true;
}

void RoiEditCommand::Apply(const State& state, const std::shared_ptr<const ROIItem>& shape, bool store)
{
    const auto spImg = m_record.lock();
    if (!spImg)
        return;
    spImg->rois = state.rois;
    spImg->markAsOK = state.markAsOK;
    if (m_roi && shape)
        RoiShape::Assign(*m_roi, *shape);
    if (m_applied)
        m_applied(store);
}
