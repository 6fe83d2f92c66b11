#include "CheckBoxHeaderView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QStyleOptionButton>

namespace
{

QString ImageOf(Qt::CheckState state)
{
    switch (state)
    {
    case Qt::Checked:
        return QStringLiteral(":/image/CheckBox2.png");
    case Qt::PartiallyChecked:
        return QStringLiteral(":/image/CheckBox3.png");
    default:
        return QStringLiteral(":/image/CheckBox1.png");
    }
}

Qt::CheckState NextState(Qt::CheckState state)
{
    switch (state)
    {
    case Qt::Unchecked:
        return Qt::Checked;
    case Qt::Checked:
        return Qt::PartiallyChecked;
    default:
        return Qt::Unchecked;
    }
}

} // namespace

CheckBoxHeaderView::CheckBoxHeaderView(Qt::Orientation orientation, QWidget* parent)
    : QHeaderView(orientation, parent)
{
    setSectionsClickable(true);
    setHighlightSections(false);
}

void CheckBoxHeaderView::setCheckState(Qt::CheckState state)
{
    if (state == m_state)
        return;
    m_state = state;
    viewport()->update();
}

QRect CheckBoxHeaderView::BoxRect(const QRect& sectionRect) const
{
    QRect box(0, 0, kBoxSize, kBoxSize);
    box.moveCenter(sectionRect.center());
    return box;
}

void CheckBoxHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    if (logicalIndex != 0)
        return;

    const QRect box = BoxRect(rect);
    const QPixmap image(ImageOf(m_state));
    if (!image.isNull())
    {
        painter->drawPixmap(box, image);
        return;
    }
    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = box;
    option.state |= m_state == Qt::Checked            ? QStyle::State_On
                    : m_state == Qt::PartiallyChecked ? QStyle::State_NoChange
                                                      : QStyle::State_Off;
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, painter, this);
}

void CheckBoxHeaderView::mousePressEvent(QMouseEvent* event)
{
    const int section = logicalIndexAt(event->pos());
    if (event->button() == Qt::LeftButton && section == 0 && !isSectionHidden(0))
    {
        const QRect sectionRect = orientation() == Qt::Horizontal
                                      ? QRect(sectionViewportPosition(0), 0, sectionSize(0), height())
                                      : QRect(0, sectionViewportPosition(0), width(), sectionSize(0));
        if (BoxRect(sectionRect).contains(event->pos()))
        {
            m_state = NextState(m_state);
            viewport()->update();
            emit toggleAll(m_state);
            return;
        }
    }
    QHeaderView::mousePressEvent(event);
}
