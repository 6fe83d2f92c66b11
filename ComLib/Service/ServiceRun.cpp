#include "ServiceRun.h"

#include "ComLib/ComFunc.h"
#include "ComLib/Service/ServiceClient.h"
#include "ComLib/Service/ServiceReply.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace comlib
{

namespace
{

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

ServiceRun::ServiceRun(Paths paths, QObject* parent)
    : QObject(parent), m_paths(std::move(paths)), m_manager(new QNetworkAccessManager(this)),
      m_client(new ServiceClient(m_manager, this)), m_timer(new QTimer(this))
{
    m_client->setObjectName(QStringLiteral("serviceClient"));
    m_timer->setInterval(ServicePoll::kIntervalMs);
    connect(m_manager, &QNetworkAccessManager::finished, this, &ServiceRun::HandleReply);
    connect(m_timer, &QTimer::timeout, this, &ServiceRun::Poll);
}

void ServiceRun::SetIntervalMs(int ms)
{
    m_poll.SetIntervalMs(ms);
    m_timer->setInterval(ms);
}

void ServiceRun::Start(const QJsonObject& body)
{
    m_taskId = QString::fromStdString(MakeUniqueId());
    m_running = true;
    m_poll.Start(NowMs());
    m_timer->start();
    m_client->Post(m_paths.start, m_taskId, body);
    emit Signal_Sent(m_paths.start, m_taskId);
}

void ServiceRun::Stop()
{
    if (!m_running)
        return;
    const QString taskId = m_taskId;
    Finish();
    m_client->Get(m_paths.stop, taskId);
    emit Signal_Sent(m_paths.stop, taskId);
}

void ServiceRun::Finish()
{
    m_running = false;
    m_taskId.clear();
    m_timer->stop();
}

void ServiceRun::Poll()
{
    const qint64 now = NowMs();
    if (!m_running || !m_poll.Due(now))
        return;
    m_client->Get(m_paths.status, m_taskId);
    emit Signal_Sent(m_paths.status, m_taskId);
    emit Signal_Polled(m_poll.ElapsedSeconds(now));
}

void ServiceRun::HandleReply(QNetworkReply* reply)
{
    const ServiceReply rlt = ServiceReply::Read(reply);
    reply->deleteLater();
    // A stopped run's replies, the stop reply included, and those of an earlier run are not shown.
    if (!m_running || rlt.taskId != m_taskId)
        return;
    if (rlt.networkError)
    {
        Finish();
        emit Signal_NetworkError(rlt.errorText);
        return;
    }
    if (rlt.status && (*rlt.status == QLatin1String("failed") || *rlt.status == QLatin1String("done")))
        Finish();
    emit Signal_Reply(rlt);
}

} // namespace comlib
