#include "RoiLabels.h"

#include "ComUi/CategoryPalette.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

namespace
{
constexpr qreal kGap = 2;
constexpr qreal kPadding = 3;
// Beyond this many moves a chip stays where it is: it would end far from its shape anyway.
constexpr int kMaxMoves = 32;
} // namespace

QVector<QRectF> RoiLabels::Place(const QVector<QSizeF>& sizes, const QVector<QPointF>& anchors)
{
    QVector<QRectF> placed;
    placed.reserve(sizes.size());
    for (int i = 0; i < sizes.size() && i < anchors.size(); ++i)
    {
        const QSizeF size = sizes.at(i);
        QRectF chip(QPointF(anchors.at(i).x(), anchors.at(i).y() - size.height() - kGap), size);
        for (int move = 0; move < kMaxMoves; ++move)
        {
            const auto covered =
                std::find_if(placed.cbegin(), placed.cend(),
                             [&chip](const QRectF& other) { return other.intersects(chip); });
            if (covered == placed.cend())
                break;
            chip.moveBottom(covered->top() - kGap);
        }
        placed.append(chip);
    }
    return placed;
}

void RoiLabels::Draw(QPainter& painter, const QVector<Label>& labels)
{
    if (labels.isEmpty())
        return;
    const QFontMetricsF metrics(painter.font());
    QVector<QSizeF> sizes;
    QVector<QPointF> anchors;
    sizes.reserve(labels.size());
    anchors.reserve(labels.size());
    for (const Label& label : labels)
    {
        sizes.append(QSizeF(metrics.horizontalAdvance(label.text) + 2 * kPadding, metrics.height()));
        anchors.append(label.anchor);
    }
    const QVector<QRectF> chips = Place(sizes, anchors);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < chips.size(); ++i)
    {
        const Label& label = labels.at(i);
        painter.setPen(Qt::NoPen);
        painter.setBrush(label.color);
        painter.drawRect(chips.at(i));
        painter.setPen(CategoryPalette::TextOn(label.color));
        painter.drawText(chips.at(i), Qt::AlignCenter, label.text);
    }
    painter.restore();
}
