#include "ListItemWidget.h"

#include <QButtonGroup>
#include <QColor>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QToolButton>

ListItemWidget::ListItemWidget(const QString& text, QButtonGroup* group, QWidget* parent)
    : QWidget(parent), m_radio(new QRadioButton(this)), m_swatch(new QLabel(this)),
      m_label(new QLabel(text, this)), m_btnDelete(new QToolButton(this))
{
    m_radio->setObjectName(QStringLiteral("rdoItem"));
    m_label->setObjectName(QStringLiteral("lbItem"));
    m_btnDelete->setObjectName(QStringLiteral("btnDelItem"));
    m_btnDelete->setText(QString(QChar(0x00D7)));
    m_btnDelete->setAutoRaise(true);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(5, 2, 5, 2);
    m_swatch->setObjectName(QStringLiteral("lbSwatch"));
    m_swatch->setFixedSize(14, 14);
    m_swatch->hide();
    layout->addWidget(m_radio);
    layout->addWidget(m_swatch);
    layout->addWidget(m_label);
    layout->addStretch();
    layout->addWidget(m_btnDelete);
    setCursor(Qt::PointingHandCursor);

    if (group)
        group->addButton(m_radio);
}

QString ListItemWidget::Text() const
{
    return m_label->text();
}

void ListItemWidget::SetColor(const QColor& color)
{
    m_swatch->setStyleSheet(
        QStringLiteral("background-color: %1; border: 1px solid rgba(0, 0, 0, 140);").arg(color.name()));
    m_swatch->setVisible(color.isValid());
}

void ListItemWidget::mousePressEvent(QMouseEvent* event)
{
    m_radio->setChecked(true);
    QWidget::mousePressEvent(event);
}
