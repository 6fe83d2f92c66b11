#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

// Visits the visible top-level windows of type T, in the application's order, until visit returns
// true. Each window is checked just before its visit, so an earlier visit may hide a later window.
template <typename T> void VisitShownWindows(const std::function<bool(T*)>& visit)
{
    for (QWidget* w : QApplication::topLevelWidgets())
    {
        auto* wnd = qobject_cast<T*>(w);
        if (wnd && wnd->isVisible() && visit(wnd))
            return;
    }
}

// Acts once on the first visible window of type T when it is up. Dialogs and message windows block
// in exec(), so the test acts from a timer, which belongs to owner and stops before act runs.
template <typename T> void WhenShown(QObject* owner, const std::function<void(T*)>& act)
{
    auto* timer = new QTimer(owner);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, owner,
                     [timer, act]
                     {
                         VisitShownWindows<T>(
                             [&](T* wnd)
                             {
                                 timer->stop();
                                 timer->deleteLater();
                                 act(wnd);
                                 return true;
                             });
                     });
    timer->start();
}
