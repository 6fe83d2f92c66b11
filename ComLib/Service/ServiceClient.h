#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

namespace comlib
{

// Sends the requests of a training or test run to the local training service. Every reply carries the
// task id it was sent for and has a time limit, so a service that accepts the connection but never
// answers ends the request with an error instead of leaving it open for ever.
class ServiceClient : public QObject
{
    Q_OBJECT

public:
    static constexpr int kDefaultTimeoutMs = 10000;
    // Environment variable that points the program at another service address; meant for tests.
    static constexpr char kUrlVariable[] = "LUMORA_SERVICE_URL";
    // Reply properties: the task id the request was sent for, and the time limit it ran out of.
    static constexpr char kTaskIdProperty[] = "lumoraTaskId";
    static constexpr char kTimedOutProperty[] = "lumoraTimedOutMs";

    // The replies arrive through the manager's finished signal.
    explicit ServiceClient(QNetworkAccessManager* manager, QObject* parent = nullptr);

    // The fixed loopback address and port, unless kUrlVariable names a valid http address.
    static QUrl BaseUrl();

    // Scheme and host, and port, as the request log lines show them.
    QString Address() const;
    int Port() const;

    QNetworkReply* Get(const QString& path, const QString& taskId);
    // The body is sent as indented JSON.
    QNetworkReply* Post(const QString& path, const QString& taskId, const QJsonObject& body);

    int TimeoutMs() const { return m_timeoutMs; }
    void SetTimeoutMs(int ms);

private:
    QNetworkRequest MakeRequest(const QString& path, const QString& taskId) const;
    QNetworkReply* Watch(QNetworkReply* reply, const QString& taskId) const;

    QNetworkAccessManager* m_manager;
    QUrl m_base;
    int m_timeoutMs = kDefaultTimeoutMs;
};

} // namespace comlib
