#include "MsgWndProbe.h"

#include "ShownWindows.h"

#include "ComUi/CMsgWnd.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace
{

int KindOf(const QLabel* icon)
{
    if (!icon || icon->pixmap(Qt::ReturnByValue).isNull())
        return -1;
    const QImage shown =
        icon->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const char* files[] = {":/ico/NOTIFY_COMPLETE.png", ":/ico/NOTIFY_WARNING.png", ":/ico/NOTIFY_ERROR.png",
                           ":/ico/NOTIFY_ABOUT.png", ":/ico/NOTIFY_QUERY.png"};
    for (int kind = 0; kind < 5; ++kind)
    {
        if (QImage(QString::fromLatin1(files[kind])).convertToFormat(QImage::Format_ARGB32_Premultiplied) ==
            shown)
            return kind;
    }
    return -1;
}

} // namespace

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
            message.kind = KindOf(wnd->findChild<QLabel*>(QStringLiteral("lbMsgIcon")));
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
