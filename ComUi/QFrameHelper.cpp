#include "QFrameHelper.h"

#include <QCursor>
#include <QEvent>
#include <QHoverEvent>
#include <QMouseEvent>
#include <QRubberBand>
#include <QWidget>

namespace
{

int g_titleHeight = 30;
constexpr int kBorderWidth = 5;

// The borders of a window that a point lies on; two of them at a corner.
struct Edges
{
    bool left = false;
    bool right = false;
    bool top = false;
    bool bottom = false;

    bool Any() const { return left || right || top || bottom; }
};

Edges EdgesAt(const QRect& frame, const QPoint& global)
{
    const int left = frame.x();
    const int right = frame.x() + frame.width();
    const int top = frame.y();
    const int bottom = frame.y() + frame.height();
    Edges edges;
    edges.left = global.x() >= left && global.x() <= left + kBorderWidth;
    edges.right = global.x() >= right - kBorderWidth && global.x() <= right;
    edges.top = global.y() >= top && global.y() <= top + kBorderWidth;
    edges.bottom = global.y() >= bottom - kBorderWidth && global.y() <= bottom;
    return edges;
}

Qt::CursorShape ShapeFor(const Edges& edges)
{
    if ((edges.top && edges.left) || (edges.bottom && edges.right))
        return Qt::SizeFDiagCursor;
    if ((edges.top && edges.right) || (edges.bottom && edges.left))
        return Qt::SizeBDiagCursor;
    if (edges.left || edges.right)
        return Qt::SizeHorCursor;
    return Qt::SizeVerCursor;
}

bool IsNormal(const QWidget* widget)
{
    return !widget->isMaximized() && !widget->isFullScreen();
}

} // namespace

// What the helper remembers of one managed widget.
class QFrameHelper::WidgetState
{
public:
    explicit WidgetState(QWidget* w) : widget(w), windowFlags(w->windowFlags()) {}

    void SetCursor(Qt::CursorShape shape)
    {
        if (!cursorChanged)
        {
            hadOwnCursor = widget->testAttribute(Qt::WA_SetCursor);
            ownCursor = widget->cursor();
            cursorChanged = true;
        }
        widget->setCursor(shape);
    }

    void RestoreCursor()
    {
        if (!cursorChanged)
            return;
        if (hadOwnCursor)
            widget->setCursor(ownCursor);
        else
            widget->unsetCursor();
        cursorChanged = false;
    }

    QWidget* widget;
    std::unique_ptr<QRubberBand> rubberBand;
    bool leftPressed = false;
    bool pressInTitle = false;
    QPoint dragOffset;
    Edges pressEdges;
    bool cursorChanged = false;
    bool hadOwnCursor = false;
    QCursor ownCursor;
    Qt::WindowFlags windowFlags;
};

QFrameHelper::QFrameHelper(QObject* parent) : QObject(parent) {}

QFrameHelper::~QFrameHelper()
{
    for (auto& [widget, state] : m_widgets)
    {
        widget->removeEventFilter(this);
        state->RestoreCursor();
        widget->setAttribute(Qt::WA_MouseTracking, false);
        widget->setAttribute(Qt::WA_Hover, false);
        // Setting flags re-creates the native window, so only when they really changed.
        if (widget->windowFlags() != state->windowFlags)
            widget->setWindowFlags(state->windowFlags);
    }
}

void QFrameHelper::activateOn(QWidget* widget)
{
    if (!widget || m_widgets.count(widget))
        return;
    m_widgets.emplace(widget, std::make_unique<WidgetState>(widget));
    widget->setAttribute(Qt::WA_MouseTracking, true);
    widget->setAttribute(Qt::WA_Hover, true);
    widget->installEventFilter(this);
    // A widget destroyed before the helper is only forgotten: it cannot be restored any more.
    connect(widget, &QObject::destroyed, this, [this, widget] { m_widgets.erase(widget); });
    UpdateRubberBands();
}

void QFrameHelper::setTitleHeight(int height)
{
    if (height > 0)
        g_titleHeight = height;
}

void QFrameHelper::setWidgetMovable(bool movable)
{
    m_movable = movable;
}

void QFrameHelper::setWidgetResizable(bool resizable)
{
    m_resizable = resizable;
    if (!resizable)
    {
        for (auto& entry : m_widgets)
            entry.second->RestoreCursor();
    }
}

void QFrameHelper::setRubberBandOnMove(bool on)
{
    m_rubberBandOnMove = on;
    UpdateRubberBands();
}

void QFrameHelper::setRubberBandOnResize(bool on)
{
    m_rubberBandOnResize = on;
    UpdateRubberBands();
}

int QFrameHelper::titleHeight()
{
    return g_titleHeight;
}

int QFrameHelper::borderWidth()
{
    return kBorderWidth;
}

void QFrameHelper::UpdateRubberBands()
{
    const bool wanted = m_rubberBandOnMove || m_rubberBandOnResize;
    for (auto& entry : m_widgets)
    {
        WidgetState& state = *entry.second;
        if (wanted && !state.rubberBand)
            state.rubberBand = std::make_unique<QRubberBand>(QRubberBand::Rectangle);
        else if (!wanted)
            state.rubberBand.reset();
    }
}

bool QFrameHelper::eventFilter(QObject* watched, QEvent* event)
{
    if (!watched->isWidgetType())
        return QObject::eventFilter(watched, event);
    const auto found = m_widgets.find(static_cast<QWidget*>(watched));
    if (found == m_widgets.end())
        return QObject::eventFilter(watched, event);
    WidgetState& state = *found->second;
    QWidget* widget = state.widget;
    QRubberBand* band = state.rubberBand.get();

    const auto hover = [&](const QPoint& global)
    {
        if (!m_resizable || !IsNormal(widget))
        {
            state.RestoreCursor();
            return;
        }
        const Edges edges = EdgesAt(widget->frameGeometry(), global);
        if (edges.Any())
            state.SetCursor(ShapeFor(edges));
        else
            state.RestoreCursor();
    };

    switch (event->type())
    {
    case QEvent::HoverMove:
        hover(widget->mapToGlobal(static_cast<QHoverEvent*>(event)->pos()));
        break;
    case QEvent::Leave:
        if (!state.leftPressed)
            state.RestoreCursor();
        break;
    case QEvent::MouseButtonPress:
    {
        const auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton)
            break;
        state.leftPressed = true;
        state.pressInTitle = e->pos().y() < g_titleHeight;
        state.pressEdges = EdgesAt(widget->frameGeometry(), e->globalPos());
        state.dragOffset = e->globalPos() - widget->frameGeometry().topLeft();
        const bool resizing = m_resizable && state.pressEdges.Any() && IsNormal(widget);
        const bool moving = !resizing && m_movable && state.pressInTitle && IsNormal(widget);
        if (band && ((resizing && m_rubberBandOnResize) || (moving && m_rubberBandOnMove)))
        {
            band->setGeometry(widget->frameGeometry());
            band->show();
        }
        break;
    }
    case QEvent::MouseMove:
    {
        const auto* e = static_cast<QMouseEvent*>(event);
        if (!state.leftPressed)
        {
            hover(e->globalPos());
            break;
        }
        // A maximised or full-screen window keeps its place and size.
        if (!IsNormal(widget))
            break;
        const bool bandShown = band && band->isVisible();
        if (m_resizable && state.pressEdges.Any())
        {
            QRect r = bandShown ? band->geometry() : widget->geometry();
            const int minWidth = qMax(widget->minimumWidth(), 2 * kBorderWidth);
            const int minHeight = qMax(widget->minimumHeight(), 2 * kBorderWidth);
            const QPoint p = e->globalPos();
            if (state.pressEdges.left)
                r.setLeft(qMin(p.x(), r.right() - minWidth + 1));
            if (state.pressEdges.right)
                r.setRight(qMax(p.x(), r.left() + minWidth - 1));
            if (state.pressEdges.top)
                r.setTop(qMin(p.y(), r.bottom() - minHeight + 1));
            if (state.pressEdges.bottom)
                r.setBottom(qMax(p.y(), r.top() + minHeight - 1));
            if (bandShown)
                band->setGeometry(r);
            else
                widget->setGeometry(r);
        }
        else if (m_movable && state.pressInTitle)
        {
            const QPoint target = e->globalPos() - state.dragOffset;
            if (bandShown)
                band->setGeometry(QRect(target, band->size()));
            else
                widget->move(target);
        }
        break;
    }
    case QEvent::MouseButtonRelease:
    {
        const auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton)
            break;
        state.leftPressed = false;
        if (band && band->isVisible())
        {
            band->hide();
            widget->setGeometry(band->geometry());
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
