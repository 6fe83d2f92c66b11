#include "MsgWndProbe.h"

#include "ShownWindows.h"

#include "ComUi/CMsgWnd.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

MsgWndProbe::MsgWndProbe(bool clickOk, QObject* parent)
    : QObject(parent), m_clickOk(clickOk), m_timer(new QTimer(this))
{
    m_timer->setInterval(10);
    connect(m_timer, &QTimer::timeout, this, &MsgWndProbe::Poll);
    m_timer->start();
}

void MsgWndProbe::Poll()
{
    VisitShownWindows<CMsgWnd>(
        [this](CMsgWnd* wnd)
        {
            Message message;
            if (auto* title = wnd->findChild<QLabel*>(QStringLiteral("labelText")))
                message.title = title->text();
            // The shown text may be elided; the tooltip keeps it whole.
            if (auto* tip = wnd->findChild<QLabel*>(QStringLiteral("labelTip")))
                message.text = tip->toolTip();
            message.kind = wnd->Kind();
            m_messages.append(message);
            auto* button = wnd->findChild<QPushButton*>(m_clickOk ? QStringLiteral("btnOK")
                                                                  : QStringLiteral("btnCancel"));
            if (button)
                button->click();
            else
                wnd->reject();
            return false;
        });
}
