#pragma once

#include "ComLib/Service/ServicePoll.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace comlib
{

class ServiceClient;
struct ServiceReply;

// One training or test run on the service at a time: posts the start under a fresh task id, polls the
// status at a steady pace, sends the stop without waiting for its answer, and hands on only the replies
// of the run in progress, so that a late reply never reaches a page that has moved on. A reply with a
// final status ("failed", "done") or a network error ends the run before it is reported.
class ServiceRun : public QObject
{
    Q_OBJECT

public:
    // The requests of one kind of run: the start is posted, the status and the stop are fetched.
    struct Paths
    {
        QString start;
        QString status;
        QString stop;
    };

    explicit ServiceRun(Paths paths, QObject* parent = nullptr);

    ServiceClient* Client() const { return m_client; }
    const Paths& RequestPaths() const { return m_paths; }
    // The polling pace: ServicePoll::kIntervalMs unless a test shortens it.
    void SetIntervalMs(int ms);

    bool IsRunning() const { return m_running; }
    const QString& TaskId() const { return m_taskId; }

    void Start(const QJsonObject& body);
    // Tells the service to stop; the run is over at once.
    void Stop();
    // Ends the run without a word to the service; late replies are ignored from now on.
    void Finish();

    // Sends a status request when one is due.
    void Poll();
    // Takes every reply of the run's network manager, late ones too.
    void HandleReply(QNetworkReply* reply);

signals:
    // A request of the run went out: its path (one of Paths) and the task id it carried.
    void Signal_Sent(const QString& path, const QString& taskId);
    // A status request went out this many whole seconds after the start.
    void Signal_Polled(qint64 elapsedSeconds);
    // A reply of the run in progress that arrived without a network error.
    void Signal_Reply(const comlib::ServiceReply& reply);
    // The run in progress ended on a network error: no connection, an HTTP error, a time limit.
    void Signal_NetworkError(const QString& text);

private:
    Paths m_paths;
    QNetworkAccessManager* m_manager;
    ServiceClient* m_client;
    QTimer* m_timer;
    ServicePoll m_poll;
    bool m_running = false;
    QString m_taskId;
};

} // namespace comlib
