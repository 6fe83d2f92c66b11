#include "ServiceReply.h"

#include "ServiceClient.h"

#include <QJsonDocument>
#include <QNetworkReply>

namespace comlib
{

ServiceReply ServiceReply::FromBody(const QByteArray& body)
{
    ServiceReply reply;
    reply.body = body;
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    reply.isObject = doc.isObject();
    if (!reply.isObject)
        return reply;
    reply.object = doc.object();
    static_cast<protocol::StatusReply&>(reply) = protocol::StatusReply::FromJson(reply.object);
    return reply;
}

ServiceReply ServiceReply::Read(QNetworkReply* reply)
{
    const QString taskId = reply->property(ServiceClient::kTaskIdProperty).toString();
    if (reply->error() != QNetworkReply::NoError)
    {
        ServiceReply failed;
        failed.taskId = taskId;
        failed.networkError = true;
        const QVariant timedOut = reply->property(ServiceClient::kTimedOutProperty);
        // An abort for the time limit would otherwise read "Operation canceled".
        failed.errorText =
            timedOut.isValid() ? tr("服务%1秒内无应答").arg(timedOut.toInt() / 1000.0) : reply->errorString();
        return failed;
    }
    ServiceReply read = FromBody(reply->readAll());
    read.taskId = taskId;
    return read;
}

} // namespace comlib
