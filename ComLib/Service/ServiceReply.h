#pragma once

#include "ComLib/Service/ServiceProtocol.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QJsonObject>
#include <QMetaType>
#include <QString>

class QNetworkReply;

namespace comlib
{

// One reply of the training service, read once. Each group of keys is filled only when all of its
// keys are present in the body; the pages show what is there and never read the reply again.
struct ServiceReply : protocol::StatusReply
{
    Q_DECLARE_TR_FUNCTIONS(ServiceReply)

public:
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
};

} // namespace comlib

Q_DECLARE_METATYPE(comlib::ServiceReply)
