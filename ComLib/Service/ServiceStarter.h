#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace comlib
{

class ServiceClient;

// Makes sure that the training service answers. It asks the address the program uses; when nothing
// listens there and the address is on this machine, it starts the service program with a passive OpenMP
// pool and its log in the given folder, and waits for the first answer. A service it started is stopped
// when it goes, or when StopStarted is called; one that was running already is left alone.
class ServiceStarter : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        Checking,
        Starting,
        Running,
        NotAvailable,
    };
    Q_ENUM(State)

    // A service needs a few seconds to load its libraries; a slow disk may take much longer.
    static constexpr int kStartLimitMs = 60000;
    static constexpr int kRetryMs = 250;
    // An answer to a status request comes at once from an idle or a busy service.
    static constexpr int kProbeTimeoutMs = 3000;

    // program: the service's executable; logDir: the folder its log goes to.
    ServiceStarter(const QString& program, const QString& logDir, QObject* parent = nullptr);
    ~ServiceStarter() override;

    void SetStartLimitMs(int ms) { m_startLimitMs = ms; }

    State CurrentState() const { return m_state; }
    // Why the service is not available; empty in the other states.
    const QString& Reason() const { return m_reason; }
    // True while the service that answers is the one started here.
    bool StartedService() const;
    // The service's state as the program shows it: one line of Chinese.
    static QString StateText(State state, const QString& reason);

    // Asks the service, and starts it when nothing answers. Does nothing while a question or a start
    // is under way.
    void Ensure();
    // Stops the service started here and waits for it to end.
    void StopStarted();

signals:
    void Signal_StateChanged(comlib::ServiceStarter::State state, const QString& reason);

private:
    void Ask();
    void Answered(QNetworkReply* reply);
    void Launch();
    void ProcessEnded(int exitCode, QProcess::ExitStatus status);
    // Ends the started service, without a word to the signal's receivers.
    void StopProcess();
    void Fail(const QString& reason);
    void SetState(State state, const QString& reason = QString());
    // The last lines the service wrote before it ended, as one short line.
    QString OutputTail() const;

    QString m_program;
    QString m_logDir;
    QUrl m_base;
    QNetworkAccessManager* m_manager;
    ServiceClient* m_client;
    QProcess* m_process = nullptr;
    QTimer m_retry;
    QByteArray m_output;
    QElapsedTimer m_clock;
    int m_startLimitMs = kStartLimitMs;
    bool m_asking = false;
    State m_state = State::Checking;
    QString m_reason;
};

} // namespace comlib
