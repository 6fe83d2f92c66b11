#include "ElidedTextDelegate.h"

#include "OneLineText.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

ElidedTextDelegate::ElidedTextDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void ElidedTextDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = OneLineText(option->text);
    option->textElideMode = Qt::ElideRight;
}

bool ElidedTextDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                   const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (!event || !view || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QWidget* widget = item.widget ? item.widget : view;
    QStyle* style = widget->style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
    // The style leaves a margin on each side of the text.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const bool elided = item.fontMetrics.horizontalAdvance(item.text) > textRect.width() - 2 * margin;
    if (elided)
        QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view->viewport(),
                           option.rect);
    else
        QToolTip::hideText();
    return true;
}
