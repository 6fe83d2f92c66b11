#include "ServiceClient.h"

#include "ComLib/Service/ServiceProtocol.h"

#include <QDebug>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace comlib
{

ServiceClient::ServiceClient(QNetworkAccessManager* manager, QObject* parent)
    : QObject(parent), m_manager(manager), m_base(BaseUrl())
{
}

QUrl ServiceClient::BaseUrl()
{
    QUrl fixed(QString::fromLatin1(protocol::kServiceAddress));
    fixed.setPort(protocol::kServicePort);
    const QString text = qEnvironmentVariable(kUrlVariable);
    if (text.isEmpty())
        return fixed;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty() || url.port() < 0)
    {
        qWarning().noquote() << kUrlVariable << "is not an http address with a port:" << text;
        return fixed;
    }
    return url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

QString ServiceClient::Address() const
{
    return m_base.scheme() + QLatin1String("://") + m_base.host();
}

int ServiceClient::Port() const
{
    return m_base.port();
}

void ServiceClient::SetTimeoutMs(int ms)
{
    m_timeoutMs = ms;
}

QNetworkRequest ServiceClient::MakeRequest(const QString& path, const QString& taskId) const
{
    QUrl url = m_base;
    url.setPath(path + QLatin1Char('/') + taskId);
    QNetworkRequest request(url);
    // The service expects the header on every request, GET included.
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    return request;
}

QNetworkReply* ServiceClient::Watch(QNetworkReply* reply, const QString& taskId) const
{
    reply->setProperty(kTaskIdProperty, taskId);
    const int ms = m_timeoutMs;
    QTimer::singleShot(ms, reply,
                       [reply, ms]
                       {
                           if (!reply->isRunning())
                               return;
                           reply->setProperty(kTimedOutProperty, ms);
                           reply->abort();
                       });
    return reply;
}

QNetworkReply* ServiceClient::Get(const QString& path, const QString& taskId)
{
    return Watch(m_manager->get(MakeRequest(path, taskId)), taskId);
}

QNetworkReply* ServiceClient::Post(const QString& path, const QString& taskId, const QJsonObject& body)
{
    return Watch(
        m_manager->post(MakeRequest(path, taskId), QJsonDocument(body).toJson(QJsonDocument::Indented)),
        taskId);
}

} // namespace comlib
