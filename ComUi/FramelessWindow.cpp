#include "FramelessWindow.h"

#include "QFrameHelper.h"

#include <QGraphicsDropShadowEffect>
#include <QWidget>

void SetUpFramelessDialog(QWidget* window, int titleHeight, WindowResize resize, WindowBackground background)
{
    window->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    window->setWindowModality(Qt::WindowModal);
    if (background == WindowBackground::Translucent)
        window->setAttribute(Qt::WA_TranslucentBackground);
    AttachFrameHelper(window, titleHeight, resize);
}

void AttachFrameHelper(QWidget* window, int titleHeight, WindowResize resize)
{
    auto* helper = new QFrameHelper(window);
    helper->activateOn(window);
    helper->setTitleHeight(titleHeight);
    helper->setWidgetMovable(true);
    helper->setWidgetResizable(resize == WindowResize::AtBorder);
}

void AddPanelShadow(QWidget* panel, const QColor& colour, int blurRadius)
{
    auto* shadow = new QGraphicsDropShadowEffect(panel->window());
    shadow->setOffset(0, 0);
    shadow->setColor(colour);
    shadow->setBlurRadius(blurRadius);
    panel->setGraphicsEffect(shadow);
}
