#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

// The colour of an annotation category, taken from its place in the project's category list, so that
// a category looks the same on the canvas, in the ROI list, in the category list and on the test
// views, and keeps its colour from one opening to the next. The colours are saturated and of middle
// lightness, readable on grey images when drawn over a dark halo.
class CategoryPalette
{
public:
    // The colour of the category at this place; the palette repeats after Size() categories.
    static QColor At(int index);
    // The colour of title among categories; Unknown() for a title that is no category (one deleted
    // after its shapes were drawn).
    static QColor Of(const QStringList& categories, const QString& title);
    static QColor Unknown();
    // Black or white, whichever reads better on the colour.
    static QColor TextOn(const QColor& background);
    static int Size();
};
