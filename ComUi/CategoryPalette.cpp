#include "CategoryPalette.h"

namespace
{
// Far apart in hue, none dark enough to vanish in a dark image nor pale enough to vanish in a bright one.
const QRgb kColors[] = {0xE6194B, 0x3CB44B, 0xFFE119, 0x4363D8, 0xF58231, 0x42D4F4,
                        0xF032E6, 0xBFEF45, 0x9A63FF, 0xFABED4, 0x2EC4B6, 0xFF8C69};
constexpr int kSize = int(sizeof(kColors) / sizeof(kColors[0]));
} // namespace

QColor CategoryPalette::At(int index)
{
    if (index < 0)
        return Unknown();
    return QColor(kColors[index % kSize]);
}

QColor CategoryPalette::Of(const QStringList& categories, const QString& title)
{
    return At(categories.indexOf(title));
}

QColor CategoryPalette::Unknown()
{
    return QColor(0xE0, 0xE0, 0xE0);
}

QColor CategoryPalette::TextOn(const QColor& background)
{
    // Relative luminance by the usual weights; above the middle, dark text reads better.
    const double luminance =
        0.2126 * background.redF() + 0.7152 * background.greenF() + 0.0722 * background.blueF();
    return luminance > 0.45 ? QColor(Qt::black) : QColor(Qt::white);
}

int CategoryPalette::Size()
{
    return kSize;
}
