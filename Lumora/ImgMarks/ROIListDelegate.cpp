#include "ROIListDelegate.h"

#include <QIcon>
#include <QPainter>

namespace
{
constexpr int kIconInset = 5;
constexpr int kIconSide = 24;
constexpr int kExtraWidth = 30;
} // namespace

void ROIListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    const QVariant decoration = index.data(Qt::DecorationRole);
    if (!decoration.canConvert<QIcon>())
        return;
    const QIcon icon = decoration.value<QIcon>();
    if (icon.isNull())
        return;
    QRect target = option.rect.adjusted(kIconInset, kIconInset, -kIconInset, -kIconInset);
    target.setSize(QSize(kIconSide, kIconSide));
    icon.paint(painter, target, Qt::AlignCenter, QIcon::Normal, QIcon::Off);
}

QSize ROIListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return QStyledItemDelegate::sizeHint(option, index) + QSize(kExtraWidth, 0);
}
