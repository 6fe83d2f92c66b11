#include "ServiceReply.h"

#include "ServiceClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>

namespace comlib
{

namespace
{

bool HasAll(const QJsonObject& object, std::initializer_list<const char*> keys)
{
    for (const char* key : keys)
    {
        if (!object.contains(QLatin1String(key)))
            return false;
    }
    return true;
}

int IntOf(const QJsonObject& object, const char* key)
{
    // The trainer may write whole numbers as 3.0; those count as integers too.
    return int(object.value(QLatin1String(key)).toDouble());
}

double NumberOf(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toDouble();
}

std::optional<QVector<double>> Numbers(const QJsonObject& object, const char* key)
{
    if (!object.contains(QLatin1String(key)))
        return std::nullopt;
    QVector<double> numbers;
    for (const QJsonValue& value : object.value(QLatin1String(key)).toArray())
        numbers.append(value.toDouble());
    return numbers;
}

std::optional<QStringList> Texts(const QJsonObject& object, const char* key)
{
    if (!object.contains(QLatin1String(key)))
        return std::nullopt;
    QStringList texts;
    for (const QJsonValue& value : object.value(QLatin1String(key)).toArray())
        texts.append(value.toString());
    return texts;
}

} // namespace

ServiceReply ServiceReply::FromBody(const QByteArray& body)
{
    ServiceReply reply;
    reply.body = body;
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    reply.isObject = doc.isObject();
    if (!reply.isObject)
        return reply;
    const QJsonObject& o = reply.object = doc.object();

    if (o.contains(QLatin1String("status")))
        reply.status = o.value(QLatin1String("status")).toString();
    if (HasAll(o, {"batch", "all_batch"}))
        reply.batch = Batch{IntOf(o, "batch"), IntOf(o, "all_batch")};
    if (HasAll(o, {"epoch", "all_epoch", "total_loss", "val_loss"}))
        reply.loss = Loss{NumberOf(o, "epoch"), IntOf(o, "all_epoch"), NumberOf(o, "total_loss"),
                          NumberOf(o, "val_loss")};
    if (o.contains(QLatin1String("remain_time")))
        reply.remainTime = NumberOf(o, "remain_time");
    reply.lossRate = Numbers(o, "loss_rate");
    reply.overkillRate = Numbers(o, "overkill_rate");
    reply.lossImagePaths = Texts(o, "loss_image_path");
    reply.overkillImagePaths = Texts(o, "overkill_image_path");
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
