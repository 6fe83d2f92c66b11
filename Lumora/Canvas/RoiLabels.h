#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QVector>

class QPainter;

// The titles of the shapes on a canvas, as chips in the colour of their category, in screen pixels
// whatever the zoom. Two shapes found at one place (a spot that is also predicted as a scratch) keep
// both titles readable: a chip that would cover one placed before it goes up past it.
class RoiLabels
{
public:
    struct Label
    {
        QString text;
        QColor color;
        // Widget position of the shape's top-left corner.
        QPointF anchor;
    };

    // The chip rectangles, in order: each just above its anchor, moved up until it covers no chip
    // placed before it.
    static QVector<QRectF> Place(const QVector<QSizeF>& sizes, const QVector<QPointF>& anchors);
    // Places and draws the chips with the painter's font, in widget coordinates.
    static void Draw(QPainter& painter, const QVector<Label>& labels);
};
