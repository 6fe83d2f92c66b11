#include "MessageCapture.h"

#include <QMutexLocker>

namespace
{
MessageCapture* g_capture = nullptr;
}

MessageCapture::MessageCapture()
{
    g_capture = this;
    m_previous = qInstallMessageHandler(&MessageCapture::Handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(m_previous);
    g_capture = nullptr;
}

QStringList MessageCapture::Problems() const
{
    QMutexLocker locker(&m_mutex);
    return m_problems;
}

void MessageCapture::Handler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg)
    {
        QMutexLocker locker(&g_capture->m_mutex);
        g_capture->m_problems.append(msg);
    }
    if (g_capture->m_previous)
    {
        g_capture->m_previous(type, context, msg);
    }
}
