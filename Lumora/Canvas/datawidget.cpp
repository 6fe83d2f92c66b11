#include "datawidget.h"

#include "RoiLabels.h"

#include "ComUi/CategoryPalette.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QtDebug>

#include <algorithm>
#include <cmath>

namespace
{
const QColor kHighlightColor(0xFF, 0xA0, 0x00);
constexpr int kHighlightWidth = 8;
} // namespace

DataWidget::DataWidget(QWidget* parent) : QWidget(parent), m_displayTimer(this)
{
    qRegisterMetaType<std::weak_ptr<ROIItem>>("std::weak_ptr<ROIItem>");
    qRegisterMetaType<std::weak_ptr<pro::ImageInfo>>("std::weak_ptr<pro::ImageInfo>");
    qRegisterMetaType<QRgb>("QRgb");
    qRegisterMetaType<QVector<double>>("QVector<double>");
    // The pointer's image position is reported, and a polygon follows it, without a button held.
    setMouseTracking(true);
    connect(&m_displayTimer, &QTimer::timeout, this, &DataWidget::stopDisplay);
}

DataWidget::~DataWidget() = default;

void DataWidget::setHighlight(bool on)
{
    m_highlight = on;
    update();
}

void DataWidget::setCategories(const QStringList& categories)
{
    m_categories = categories;
    m_categoryColors = true;
    update();
}

void DataWidget::useShapeColours()
{
    m_categoryColors = false;
    update();
}

void DataWidget::setPendingRoi(std::shared_ptr<ROIItem> roi)
{
    m_pending = std::move(roi);
    update();
}

void DataWidget::colourRois(const ROIList& rois) const
{
    if (!m_categoryColors)
        return;
    for (const auto& roi : rois)
    {
        if (!roi)
            continue;
        roi->setDisplayColor(CategoryPalette::Of(m_categories, roi->title()));
        roi->setTitleShown(false);
    }
}

void DataWidget::startDisplay(int msec)
{
    m_displayTimer.start(msec);
}

void DataWidget::stopDisplay()
{
    m_displayTimer.stop();
    update();
}

void DataWidget::zoomIn()
{
    zoomAbout(QPointF(width() / 2, height() / 2), true);
}

void DataWidget::zoomOut()
{
    zoomAbout(QPointF(width() / 2, height() / 2), false);
}

void DataWidget::zoomAbout(const QPointF& about, bool in)
{
    if (!m_zoom.step(about, in))
        return;
    qInfo().noquote() << QStringLiteral("scale: %1 startOffset:%2,%3")
                             .arg(m_zoom.scale(), 0, 'f', 2)
                             .arg(m_zoom.offset().x())
                             .arg(m_zoom.offset().y());
    update();
}

void DataWidget::zoomFit()
{
    const QSize size = m_image.isNull() ? m_imageSize : m_image.size();
    if (m_zoom.fit(QSizeF(this->size()), QSizeF(size)))
        update();
}

void DataWidget::dataUpdated(std::weak_ptr<pro::ImageInfo> record)
{
    if (m_mode == kDrawingPolygon || m_mode == kDrawingRect)
    {
        emit drawRoiCompleted(false);
        dropUnclaimedDrawing();
    }
    const auto spRecord = record.lock();
    // A selection of the image shown before must not be dragged, invisibly, on this one.
    if (spRecord != m_record.lock())
    {
        clearSelection();
        m_dragRoi.reset();
        m_dragBefore.reset();
    }
    if (!spRecord)
    {
        m_record.reset();
        m_canvasImage.clear();
        m_image = QImage();
        m_roiLayer.clear();
        emit SignalSendPixelValues(QPointF(), QVector<double>());
        update();
        return;
    }
    m_record = record;
    m_roiLayer.clear();
    loadImage(spRecord->path);
    // The readout named a pixel of the image shown before; it waits for the pointer's next move.
    emit SignalSendPixelValues(QPointF(), QVector<double>());
    update();
}

void DataWidget::loadImage(const QString& path)
{
    m_canvasImage.load(path);
    m_image = m_canvasImage.shown();
    if (!m_image.isNull())
        m_imageSize = m_image.size();
}

void DataWidget::setDisplayAdjust(const CanvasImage::Adjust& adjust)
{
    if (adjust == m_canvasImage.adjust())
        return;
    m_canvasImage.setAdjust(adjust);
    m_image = m_canvasImage.shown();
    update();
}

void DataWidget::roiSelectedChanged(std::weak_ptr<ROIItem> roi)
{
    const auto spRoi = roi.lock();
    if (spRoi == m_selected.lock())
        return;
    clearSelection();
    select(spRoi);
    update();
}

void DataWidget::roiEdited()
{
    update();
}

void DataWidget::select(const std::shared_ptr<ROIItem>& roi)
{
    m_selected = roi;
    if (roi)
        roi->setSelected(true);
}

void DataWidget::clearSelection()
{
    if (const auto old = m_selected.lock())
        old->setSelected(false);
    m_selected.reset();
}

void DataWidget::startDrawRect(const QString& title)
{
    m_drawPolygon.reset();
    m_drawRect = std::make_unique<RectROIItem>(QRectF(), ROIItem::kDrawingAttr, title);
    m_mode = kDrawingRect;
}

void DataWidget::startDrawPolygon(const QString& title)
{
    m_drawRect.reset();
    m_drawPolygon = std::make_unique<PolygonROIItem>(QPolygonF(), ROIItem::kDrawingAttr, title);
    m_mode = kDrawingPolygon;
    setCursor(Qt::CrossCursor);
}

std::shared_ptr<ROIItem> DataWidget::endDrawing(bool accept)
{
    std::shared_ptr<ROIItem> taken;
    if (m_mode == kDrawingPolygon && m_drawPolygon)
    {
        m_drawPolygon->clearFloatingPoint();
        m_mode = kIdle;
        if (m_drawPolygon->polygon().size() > 2 && accept)
        {
            m_drawPolygon->setRoiAttr(0);
            taken = std::shared_ptr<ROIItem>(m_drawPolygon.release());
        }
        m_drawPolygon.reset();
    }
    else if (m_mode == kDrawingRect && m_drawRect)
    {
        m_mode = kIdle;
        // The first corner was taken in whole pixels; the second is stored the same way.
        const QRectF drawn = m_drawRect->rect();
        m_drawRect->setRect(QRectF(QPointF(std::trunc(drawn.left()), std::trunc(drawn.top())),
                                   QPointF(std::trunc(drawn.right()), std::trunc(drawn.bottom()))));
        if (m_drawRect->boundingBox().width > 0 && accept)
        {
            m_drawRect->setRoiAttr(0);
            taken = std::shared_ptr<ROIItem>(m_drawRect.release());
        }
        m_drawRect.reset();
    }
    setCursor(Qt::ArrowCursor);
    update();
    if (!taken)
        return taken;
    // The corner picked when the drawing began is no handle the user holds any more.
    taken->setActiveHandle(-1);
    clearSelection();
    select(taken);
    emit clickedROI(taken);
    return taken;
}

void DataWidget::dropUnclaimedDrawing()
{
    if (m_mode == kDrawingPolygon || m_mode == kDrawingRect)
        endDrawing(false);
}

bool DataWidget::insideImage(const QPointF& q) const
{
    return !m_image.isNull() && std::floor(q.x()) >= 0 && std::floor(q.y()) >= 0 &&
           std::floor(q.x()) < m_image.width() && std::floor(q.y()) < m_image.height();
}

bool DataWidget::shownRoi(const std::shared_ptr<ROIItem>& roi) const
{
    const auto spRecord = m_record.lock();
    return roi && spRecord && spRecord->rois.contains(roi);
}

std::shared_ptr<ROIItem> DataWidget::pickRoi(const QPointF& q) const
{
    const auto spRecord = m_record.lock();
    if (!spRecord || m_roiHitTesting == 0)
        return nullptr;
    std::shared_ptr<ROIItem> best;
    double bestArea = 0;
    for (const std::shared_ptr<ROIItem>& roi : spRecord->rois)
    {
        if (!roi || !roi->contains(q))
            continue;
        const double area = roi->area();
        if (!best || area < bestArea)
        {
            best = roi;
            bestArea = area;
        }
    }
    return best;
}

void DataWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_fitPending && !m_image.isNull())
    {
        m_imageSize = m_image.size();
        if (m_imageSize.width() > 0)
            m_fitPending = false;
        zoomFit();
    }
    if (!m_image.isNull())
    {
        const QPointF exact = m_zoom.offset() + m_panDelta;
        const QPoint origin(static_cast<int>(exact.x()), static_cast<int>(exact.y()));
        painter.translate(origin);
        painter.scale(m_zoom.scale(), m_zoom.scale());
        painter.drawImage(0, 0, m_image);
        painter.setRenderHint(QPainter::Antialiasing);
        const auto spRecord = m_record.lock();
        if (spRecord && !spRecord->rois.isEmpty())
        {
            colourRois(spRecord->rois);
            // The ROI being edited is painted live on top; the others come from the kept drawing.
            const auto selected = m_selected.lock();
            const ROIItem* live = spRecord->rois.contains(selected) ? selected.get() : nullptr;
            m_roiLayer.paint(
                painter, spRecord->rois, live,
                RoiLayer::View{size(), devicePixelRatioF(), origin, m_zoom.scale(), m_image.rect()},
                m_panDelta.toPoint());
            painter.setClipRect(m_image.rect());
            if (live)
                live->paint(&painter, m_zoom.scale());
            if (live && !live->titleShown() && !live->title().isEmpty())
            {
                painter.save();
                painter.resetTransform();
                painter.setClipping(false);
                painter.setFont(RoiLayer::LabelFont());
                RoiLabels::Draw(painter,
                                {RoiLayer::Label(*live, RoiLayer::View{size(), devicePixelRatioF(), origin,
                                                                       m_zoom.scale(), m_image.rect()})});
                painter.restore();
            }
        }
        if (m_pending)
        {
            painter.setClipRect(m_image.rect());
            m_pending->paint(&painter, m_zoom.scale());
        }
        if (m_mode == kDrawingPolygon && m_drawPolygon)
            m_drawPolygon->paint(&painter, m_zoom.scale());
        else if (m_mode == kDrawingRect && m_drawRect)
            m_drawRect->paint(&painter, m_zoom.scale());
    }
    if (m_highlight)
    {
        painter.resetTransform();
        painter.setClipping(false);
        painter.setPen(QPen(kHighlightColor, kHighlightWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect());
    }
}

void DataWidget::wheelEvent(QWheelEvent* event)
{
    zoomAbout(event->position(), event->angleDelta().y() > 0);
    event->accept();
}

void DataWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    zoomFit();
}

void DataWidget::enterEvent(QEvent* event)
{
    QWidget::enterEvent(event);
    if (m_mode == kDrawingPolygon || m_mode == kDrawingRect)
        setCursor(Qt::CrossCursor);
}

void DataWidget::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    setCursor(Qt::ArrowCursor);
}

void DataWidget::mousePressEvent(QMouseEvent* event)
{
    const QPointF q = m_zoom.toImage(event->localPos());
    if (m_mode == kDrawingPolygon)
    {
        clearSelection();
        pressPolygon(event->button(), q);
    }
    else if (m_mode == kDrawingRect)
    {
        clearSelection();
        pressRect(event->button(), q);
    }
    else
    {
        pressIdle(event->pos(), q);
    }
    update();
    emit mouseClicked();
}

void DataWidget::pressPolygon(Qt::MouseButton button, const QPointF& q)
{
    if (button != Qt::LeftButton)
    {
        emit drawRoiCompleted(true);
        dropUnclaimedDrawing();
        return;
    }
    // A click on the first vertex closes the shape instead of repeating that vertex; with fewer than
    // three vertices there is nothing to close yet.
    if (nearFirstVertex(q))
    {
        if (m_drawPolygon->polygon().size() > 2)
        {
            emit drawRoiCompleted(true);
            dropUnclaimedDrawing();
        }
        return;
    }
    // A click before the pointer ever moved over the image has no floating point yet.
    if (m_drawPolygon->hasFloatingPoint())
        m_drawPolygon->appendVertex(m_drawPolygon->floatingPoint());
    else if (insideImage(q))
        m_drawPolygon->appendVertex(q);
}

bool DataWidget::nearFirstVertex(const QPointF& q) const
{
    if (!m_drawPolygon || m_drawPolygon->polygon().isEmpty() || m_zoom.scale() <= 0)
        return false;
    // The handle's drawn radius, in screen pixels whatever the zoom.
    const QPointF delta = (q - m_drawPolygon->polygon().first()) * m_zoom.scale();
    return std::hypot(delta.x(), delta.y()) <= ROIItem::kHandleRadius;
}

bool DataWidget::removeLastDrawnVertex()
{
    if (m_mode != kDrawingPolygon || !m_drawPolygon || m_drawPolygon->polygon().isEmpty())
        return false;
    QPolygonF polygon = m_drawPolygon->polygon();
    polygon.removeLast();
    m_drawPolygon->setPolygon(polygon);
    update();
    return true;
}

void DataWidget::pressRect(Qt::MouseButton button, const QPointF& q)
{
    if (button != Qt::LeftButton)
        return;
    // A press beside the image starts the rectangle at the image's edge: no ROI lies outside it.
    const QPointF start(std::clamp(std::trunc(q.x()), 0.0, static_cast<double>(m_image.width())),
                        std::clamp(std::trunc(q.y()), 0.0, static_cast<double>(m_image.height())));
    m_drawRect->setRect(QRectF(start, QSizeF(0, 0)));
    m_drawRect->setSelected(true);
    m_drawRect->hitHandle(start, m_zoom.scale());
}

void DataWidget::beginRoiDrag(const std::shared_ptr<ROIItem>& roi)
{
    m_dragRoi = roi;
    m_dragBefore = roi ? std::shared_ptr<ROIItem>(roi->clone()) : nullptr;
}

void DataWidget::finishRoiDrag()
{
    const auto roi = m_dragRoi.lock();
    const auto before = std::move(m_dragBefore);
    m_dragRoi.reset();
    m_dragBefore.reset();
    if (roi && before)
        emit roiDragFinished(roi, before);
}

void DataWidget::pressIdle(const QPoint& pos, const QPointF& q)
{
    // A second button pressed during a drag ends the first drag.
    finishRoiDrag();
    m_mode = kIdle;
    const float scale = m_zoom.scale();
    std::shared_ptr<ROIItem> selected = m_selected.lock();
    if (selected && !shownRoi(selected))
    {
        clearSelection();
        selected.reset();
    }
    // Taken before the handle test: a press near an edge of a polygon already inserts a vertex.
    beginRoiDrag(selected);
    if (selected && selected->hitHandle(q, scale))
    {
        m_mode = kDraggingHandle;
        return;
    }
    if (selected && selected->contains(q))
    {
        selected->setSelected(true);
        selected->beginDrag(q);
        m_mode = kMovingRoi;
        return;
    }
    const std::shared_ptr<ROIItem> hit = pickRoi(q);
    if (hit != selected)
    {
        clearSelection();
        select(hit);
        emit clickedROI(hit);
    }
    beginRoiDrag(hit);
    if (hit)
    {
        // A handle left active by an earlier drag is not the one being moved now.
        hit->setActiveHandle(-1);
        hit->setSelected(true);
        hit->beginDrag(q);
        m_mode = kMovingRoi;
        return;
    }
    clearSelection();
    m_pressPos = pos;
    m_mode = kPanning;
}

void DataWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF q = m_zoom.toImage(event->localPos());
    const bool inside = insideImage(q);
    // The file's values, not the adjusted screen.
    const QPoint pixelPos(static_cast<int>(std::floor(q.x())), static_cast<int>(std::floor(q.y())));
    emit SignalSendLocation(q, inside ? m_canvasImage.rgbAt(pixelPos) : 0);
    emit SignalSendPixelValues(q, inside ? m_canvasImage.valuesAt(pixelPos) : QVector<double>());

    switch (m_mode)
    {
    case kDrawingPolygon:
        if (inside && m_drawPolygon)
            m_drawPolygon->setFloatingPoint(q);
        break;
    case kDrawingRect:
        if ((event->buttons() & Qt::LeftButton) && inside && m_drawRect)
            m_drawRect->setHandlePos(q);
        break;
    case kPanning:
        m_panDelta = event->pos() - m_pressPos;
        break;
    case kMovingRoi:
        if (const auto roi = m_selected.lock())
        {
            roi->dragFromPress(q);
            emit roiChanging(roi);
        }
        break;
    case kDraggingHandle:
        if (const auto roi = m_selected.lock(); roi && inside)
        {
            roi->setHandlePos(q);
            emit roiChanging(roi);
        }
        break;
    default:
        break;
    }
    update();
}

void DataWidget::mouseReleaseEvent(QMouseEvent*)
{
    m_zoom.setOffset(m_zoom.offset() + m_panDelta);
    m_panDelta = QPointF();
    if (m_mode == kDrawingPolygon)
        return;
    if (m_mode == kDrawingRect && m_drawRect)
    {
        emit drawRoiCompleted(true);
        dropUnclaimedDrawing();
    }
    m_mode = kIdle;
    finishRoiDrag();
    update();
}
