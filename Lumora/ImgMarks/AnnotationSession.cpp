#include "AnnotationSession.h"

#include "RoiCommands.h"
#include "RoiShape.h"

#include "Nexil/NexilApi.h"

#include <QRectF>
#include <QUndoStack>

AnnotationSession::AnnotationSession(QObject* parent) : QObject(parent), m_undoStack(new QUndoStack(this))
{
    connect(m_undoStack, &QUndoStack::canUndoChanged, this, &AnnotationSession::canUndoChanged);
    connect(m_undoStack, &QUndoStack::canRedoChanged, this, &AnnotationSession::canRedoChanged);
    connect(m_undoStack, &QUndoStack::indexChanged, this, &AnnotationSession::undoIndexChanged);
}

bool AnnotationSession::ShouldStore(const pro::ImageInfo& img, const IPrjCore* project)
{
    if (!project)
        return false;
    if (img.id.isEmpty())
        return !img.rois.isEmpty() || img.markAsOK;
    // The core would not answer for an id it does not know.
    return project->ImageById(img.id) != nullptr;
}

bool AnnotationSession::show(const std::shared_ptr<pro::ImageInfo>& spImg)
{
    const auto spShown = shown();
    if (!spImg || spShown == spImg)
        return false;
    storeShown();
    if (spShown)
        m_previous = spShown;
    m_shown = spImg;
    m_undoStack->clear();
    emit shownChanged();
    return true;
}

QString AnnotationSession::storeShown()
{
    const QString id = Store(shown());
    if (!id.isEmpty())
        emit storeStarted(id);
    return id;
}

void AnnotationSession::imagesDeleted(const QStringList& paths)
{
    if (const auto spShown = shown(); spShown && !paths.contains(spShown->path))
    {
        storeShown();
        m_previous = spShown;
    }
    if (const auto spPrevious = previous(); spPrevious && paths.contains(spPrevious->path))
        m_previous.reset();
    ClearShown();
}

void AnnotationSession::imageDeleted(const std::shared_ptr<pro::ImageInfo>& spImg)
{
    if (!spImg)
        return;
    if (previous() == spImg)
        m_previous.reset();
    if (shown() == spImg)
        ClearShown();
}

void AnnotationSession::ClearShown()
{
    m_shown.reset();
    m_undoStack->clear();
    emit shownChanged();
}

QString AnnotationSession::Store(const std::shared_ptr<pro::ImageInfo>& spImg)
{
    const auto spPrj = PrjIns().lock();
    if (!spImg || !ShouldStore(*spImg, spPrj.get()))
        return QString();
    if (spImg->id.isEmpty())
    {
        spImg->id = spPrj->AddImage(spImg);
        return spImg->id;
    }
    spPrj->SaveImage(spImg->id);
    return spImg->id;
}

void AnnotationSession::addRoi(const std::shared_ptr<ROIItem>& roi, const QString& category)
{
    const auto spImg = shown();
    if (!roi || !spImg)
        return;
    roi->setTitle(category);
    EditRois(tr("添加标注"), spImg->rois + ROIList{roi}, false, true);
}

bool AnnotationSession::removeRoi(const std::shared_ptr<ROIItem>& roi)
{
    const auto spImg = shown();
    if (!spImg || !roi)
        return false;
    ROIList rois = spImg->rois;
    if (!rois.removeOne(roi))
        return false;
    EditRois(tr("删除标注"), rois, spImg->markAsOK, false);
    return true;
}

void AnnotationSession::removeAllRois()
{
    const auto spImg = shown();
    if (spImg && !spImg->rois.isEmpty())
        EditRois(tr("删除全部标注"), ROIList(), spImg->markAsOK, false);
}

void AnnotationSession::markOk()
{
    EditRois(tr("标OK"), ROIList(), true, true);
}

void AnnotationSession::carryOver(const QSize& imageSize)
{
    const auto spImg = shown();
    const auto spPrevious = previous();
    if (!spImg || !spPrevious || spPrevious == spImg || spPrevious->rois.isEmpty())
        return;
    ROIList copies;
    for (const auto& roi : qAsConst(spPrevious->rois))
    {
        if (!roi)
            continue;
        auto copy = imageSize.isEmpty()
                        ? std::shared_ptr<ROIItem>(roi->clone())
                        : RoiShape::ClampedCopy(*roi, QRectF(QPointF(0, 0), QSizeF(imageSize)));
        if (copy)
            copies.append(std::move(copy));
    }
    if (!copies.isEmpty())
        EditRois(tr("沿用上一张的标注"), spImg->rois + copies, false, true);
}

void AnnotationSession::roiReshaped(const std::shared_ptr<ROIItem>& roi,
                                    const std::shared_ptr<const ROIItem>& before)
{
    const auto spImg = shown();
    if (!spImg || !roi || !before || !spImg->rois.contains(roi) || RoiShape::Same(*roi, *before))
        return;
    const ROIItem::Box from = before->boundingBox();
    const ROIItem::Box to = roi->boundingBox();
    const bool moved = from.width == to.width && from.height == to.height;
    m_undoStack->push(
        new RoiGeometryCommand(this, moved ? tr("移动标注") : tr("调整标注"), spImg, roi, before));
}

void AnnotationSession::EditRois(const QString& text, const ROIList& rois, bool markAsOK, bool storeNow)
{
    const auto spImg = shown();
    if (!spImg)
        return;
    // Nothing to undo: an OK image marked OK again is only stored again.
    if (spImg->rois == rois && spImg->markAsOK == markAsOK)
    {
        Applied(spImg, storeNow);
        return;
    }
    m_undoStack->push(new RoiListCommand(this, text, spImg, RoiListCommand::StateOf(*spImg),
                                         RoiListCommand::State{rois, markAsOK}, storeNow));
}

void AnnotationSession::Applied(const std::shared_ptr<pro::ImageInfo>& record, bool store)
{
    const bool stored = store && record == shown();
    if (stored)
        Store(record);
    emit roisChanged(record, stored);
}
