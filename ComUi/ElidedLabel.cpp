#include "ElidedLabel.h"

#include "OneLineText.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>
#include <QtMath>

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {}

QString ElidedLabel::OneLine() const
{
    return OneLineText(text());
}

QString ElidedLabel::ShownText() const
{
    return fontMetrics().elidedText(OneLine(), Qt::ElideRight, contentsRect().width());
}

bool ElidedLabel::IsElided() const
{
    return ShownText() != OneLine();
}

QSize ElidedLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    // Rounded up, so that the label at its hinted width shows the text uncut.
    const int textWidth = qCeil(QFontMetricsF(font()).horizontalAdvance(OneLine())) + 1;
    return QSize(textWidth + margins.left() + margins.right(),
                 fontMetrics().height() + margins.top() + margins.bottom());
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    return QSize(fontMetrics().horizontalAdvance(QStringLiteral("…")) + margins.left() + margins.right(),
                 fontMetrics().height() + margins.top() + margins.bottom());
}

bool ElidedLabel::event(QEvent* event)
{
    // The tip is decided when it is asked for, so it follows every change of text, font and width.
    if (event->type() == QEvent::ToolTip)
        setToolTip(IsElided() ? text() : QString());
    return QLabel::event(event);
}

void ElidedLabel::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()), palette(), isEnabled(), ShownText(),
                          foregroundRole());
}
