#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

class QNetworkReply;

namespace comlib
{

// One reply of the training service, read once. Each group of keys is filled only when all of its
// keys are present in the body; the pages show what is there and never read the reply again.
struct ServiceReply
{
    Q_DECLARE_TR_FUNCTIONS(ServiceReply)

public:
    struct Batch
    {
        int batch = 0;
        int allBatch = 0;
    };
    struct Loss
    {
        double epoch = 0;
        int allEpoch = 0;
        double totalLoss = 0;
        double valLoss = 0;
    };

    // Parses a body that arrived without a network error.
    static ServiceReply FromBody(const QByteArray& body);
    // Reads the whole reply: its error, its body and the task id it was sent for.
    static ServiceReply Read(QNetworkReply* reply);

    // The task id given by ServiceClient; empty for a reply it did not send.
    QString taskId;
    // A network-level error: no connection, an HTTP error status, a time limit run out, an abort.
    bool networkError = false;
    QString errorText;

    QByteArray body;
    // The body when it is a JSON object; isObject false otherwise.
    bool isObject = false;
    QJsonObject object;

    std::optional<QString> status;
    std::optional<Batch> batch;
    std::optional<Loss> loss;
    // Seconds, as sent.
    std::optional<double> remainTime;
    std::optional<QVector<double>> lossRate;
    std::optional<QVector<double>> overkillRate;
    std::optional<QStringList> lossImagePaths;
    std::optional<QStringList> overkillImagePaths;
};

} // namespace comlib

Q_DECLARE_METATYPE(comlib::ServiceReply)
