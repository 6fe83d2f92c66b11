#include "ROIListDelegate.h"

#include "ImgROIListModel.h"

#include <QIcon>
#include <QPainter>

namespace
{
constexpr int kIconInset = 5;
constexpr int kIconSide = 24;
constexpr int kSwatchSide = 12;
constexpr int kSwatchInset = 6;
constexpr int kExtraWidth = 30 + kSwatchSide + kSwatchInset;
} // namespace

void ROIListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    // The category's colour at the row's end, as the shape has it on the canvas.
    const QColor color = index.data(ImgROIListModel::kColorRole).value<QColor>();
    if (color.isValid())
    {
        const QRect swatch(option.rect.right() - kSwatchInset - kSwatchSide,
                           option.rect.center().y() - kSwatchSide / 2, kSwatchSide, kSwatchSide);
        painter->save();
        painter->setPen(QColor(0, 0, 0, 140));
        painter->setBrush(color);
        painter->drawRect(swatch);
        painter->restore();
    }
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
