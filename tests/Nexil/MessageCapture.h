#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the warnings and critical messages of every thread while it lives; they still reach
// the previous handler.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();

    QStringList Problems() const;

private:
    static void Handler(QtMsgType type, const QMessageLogContext& context, const QString& msg);

    mutable QMutex m_mutex;
    QStringList m_problems;
    QtMessageHandler m_previous = nullptr;
};
