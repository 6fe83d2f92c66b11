#pragma once

#include <QObject>
#include <QString>
#include <QVector>

class QTimer;

// Answers every message window that shows up while it lives: records its title, text and kind, then
// clicks OK or Cancel. The message windows block in exec(), so the probe acts from a timer.
class MsgWndProbe : public QObject
{
    Q_OBJECT

public:
    struct Message
    {
        QString title;
        QString text;
        // NOTIFY_* the window was made with.
        int kind = -1;
    };

    explicit MsgWndProbe(bool clickOk = true, QObject* parent = nullptr);

    const QVector<Message>& Messages() const { return m_messages; }

private:
    void Poll();

    bool m_clickOk;
    QTimer* m_timer;
    QVector<Message> m_messages;
};
