#include "PlaceholderTint.h"

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace
{

constexpr int kPlaceholderAlpha = 110;

void Tint(QWidget* widget)
{
    QPalette palette = widget->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    {
        QColor faded = palette.color(group, QPalette::Text);
        faded.setAlpha(kPlaceholderAlpha);
        if (palette.color(group, QPalette::PlaceholderText) == faded)
            continue;
        palette.setColor(group, QPalette::PlaceholderText, faded);
    }
    if (palette != widget->palette())
        widget->setPalette(palette);
}

} // namespace

PlaceholderTint::PlaceholderTint(QObject* parent) : QObject(parent) {}

void PlaceholderTint::InstallOnApplication()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || app->findChild<PlaceholderTint*>(QString(), Qt::FindDirectChildrenOnly))
        return;
    app->installEventFilter(new PlaceholderTint(app));
}

bool PlaceholderTint::eventFilter(QObject* watched, QEvent* event)
{
    // The style sheet's colours reach the widget as a palette change after it is polished.
    const bool paletteSet = event->type() == QEvent::Polish || event->type() == QEvent::PaletteChange;
    if (paletteSet && watched->isWidgetType())
    {
        auto* widget = static_cast<QWidget*>(watched);
        if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QTextEdit*>(widget) ||
            qobject_cast<QPlainTextEdit*>(widget))
            Tint(widget);
    }
    return QObject::eventFilter(watched, event);
}
