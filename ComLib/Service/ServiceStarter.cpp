#include "ServiceStarter.h"

#include "ComLib/Service/ServiceClient.h"
#include "ComLib/Service/ServiceProtocol.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcessEnvironment>

namespace comlib
{

namespace
{

// The task id of the question: no run of the program has it, so the service answers "unknown task".
constexpr char kProbeTask[] = "ServiceCheck";
// The service's output is kept only to tell why it ended.
constexpr int kOutputKept = 4096;
constexpr int kReasonChars = 300;
// A service that is asked to stop finishes the request in progress first.
constexpr int kStopWaitMs = 10000;

bool IsLocal(const QString& host)
{
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

} // namespace

ServiceStarter::ServiceStarter(const QString& program, const QString& logDir, QObject* parent)
    : QObject(parent), m_program(program), m_logDir(logDir), m_base(ServiceClient::BaseUrl()),
      m_manager(new QNetworkAccessManager(this)), m_client(new ServiceClient(m_manager, this))
{
    qRegisterMetaType<State>("comlib::ServiceStarter::State");
    m_client->SetTimeoutMs(kProbeTimeoutMs);
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &ServiceStarter::Ask);
}

ServiceStarter::~ServiceStarter()
{
    StopProcess();
}

bool ServiceStarter::StartedService() const
{
    return m_process && m_state == State::Running;
}

QString ServiceStarter::StateText(State state, const QString& reason)
{
    switch (state)
    {
    case State::Checking:
        return tr("训练服务：正在检查");
    case State::Starting:
        return tr("训练服务：正在启动");
    case State::Running:
        return tr("训练服务：运行中");
    case State::NotAvailable:
        break;
    }
    return tr("训练服务：不可用（%1）").arg(reason);
}

void ServiceStarter::Ensure()
{
    if (m_asking || m_state == State::Starting)
        return;
    Ask();
}

void ServiceStarter::StopStarted()
{
    if (!m_process)
        return;
    StopProcess();
    Fail(tr("训练服务已停止"));
}

void ServiceStarter::StopProcess()
{
    m_retry.stop();
    if (!m_process)
        return;
    QProcess* process = m_process;
    m_process = nullptr;
    disconnect(process, nullptr, this, nullptr);
    if (process->state() != QProcess::NotRunning)
    {
        qInfo().noquote() << "Stopping the training service" << process->processId();
        process->terminate();
        if (!process->waitForFinished(kStopWaitMs))
        {
            qWarning() << "The training service did not stop in time and is killed.";
            process->kill();
            process->waitForFinished(-1);
        }
    }
    delete process;
}

void ServiceStarter::Ask()
{
    m_asking = true;
    QNetworkReply* reply = m_client->Get(QString::fromLatin1(protocol::kGetTrainStatus), kProbeTask);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { Answered(reply); });
}

void ServiceStarter::Answered(QNetworkReply* reply)
{
    reply->deleteLater();
    m_asking = false;
    const QVariant httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (httpStatus.isValid())
    {
        // Any JSON answer will do, "unknown task" included; a page or a plain text is someone else.
        if (QJsonDocument::fromJson(reply->readAll()).isObject())
        {
            m_retry.stop();
            SetState(State::Running);
            return;
        }
        StopProcess();
        Fail(tr("端口 %1 上的程序不是训练服务").arg(m_base.port()));
        return;
    }
    if (m_process && m_state == State::Starting)
    {
        if (m_clock.elapsed() < m_startLimitMs)
        {
            m_retry.start();
            return;
        }
        StopProcess();
        Fail(tr("训练服务在 %1 秒内没有应答").arg(m_startLimitMs / 1000));
        return;
    }
    if (reply->error() == QNetworkReply::ConnectionRefusedError)
    {
        // A service started here that no longer listens is of no use.
        StopProcess();
        Launch();
        return;
    }
    Fail(tr("端口 %1 上的程序没有应答：%2").arg(m_base.port()).arg(reply->errorString()));
}

void ServiceStarter::Launch()
{
    if (!IsLocal(m_base.host()))
    {
        Fail(tr("服务地址 %1 不在本机，无法自动启动").arg(m_base.host()));
        return;
    }
    const QFileInfo program(m_program);
    if (!program.isFile() || !program.isExecutable())
    {
        Fail(tr("找不到训练服务程序 %1").arg(m_program));
        return;
    }
    QDir().mkpath(m_logDir);
    m_output.clear();
    m_process = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // A spinning OpenMP pool would take the other cores from the program while the service trains.
    environment.insert(QStringLiteral("OMP_WAIT_POLICY"), QStringLiteral("PASSIVE"));
    m_process->setProcessEnvironment(environment);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_process, &QProcess::readyRead, this,
            [this]
            {
                m_output += m_process->readAll();
                if (m_output.size() > kOutputKept)
                    m_output = m_output.right(kOutputKept);
            });
    connect(m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            &ServiceStarter::ProcessEnded);
    connect(m_process, &QProcess::errorOccurred, this,
            [this](QProcess::ProcessError error)
            {
                if (error != QProcess::FailedToStart)
                    return;
                const QString text = m_process->errorString();
                m_process->deleteLater();
                m_process = nullptr;
                m_retry.stop();
                Fail(tr("无法启动训练服务 %1：%2").arg(m_program, text));
            });
    const QStringList arguments{QStringLiteral("--port"), QString::number(m_base.port()),
                                QStringLiteral("--log-dir"), m_logDir};
    qInfo().noquote() << "Starting the training service" << m_program << arguments.join(QLatin1Char(' '));
    SetState(State::Starting);
    m_clock.start();
    m_process->start(m_program, arguments);
    if (m_process)
        m_retry.start();
}

void ServiceStarter::ProcessEnded(int exitCode, QProcess::ExitStatus status)
{
    m_output += m_process->readAll();
    m_process->deleteLater();
    m_process = nullptr;
    m_retry.stop();
    QString reason = status == QProcess::CrashExit ? tr("训练服务意外终止")
                                                   : tr("训练服务已退出，退出码 %1").arg(exitCode);
    const QString tail = OutputTail();
    if (!tail.isEmpty())
        reason += QStringLiteral("：") + tail;
    Fail(reason);
}

QString ServiceStarter::OutputTail() const
{
    const QStringList lines = QString::fromLocal8Bit(m_output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QString last = lines.isEmpty() ? QString() : lines.last().trimmed();
    for (QChar& c : last)
    {
        if (!c.isPrint())
            c = QLatin1Char(' ');
    }
    return last.left(kReasonChars);
}

void ServiceStarter::Fail(const QString& reason)
{
    qWarning().noquote() << "Training service not available:" << reason;
    SetState(State::NotAvailable, reason);
}

void ServiceStarter::SetState(State state, const QString& reason)
{
    if (state == m_state && reason == m_reason)
        return;
    if (state == State::Running)
        qInfo().noquote() << "Training service answers at" << m_base.toString()
                          << (m_process ? "(started by the program)" : "");
    m_state = state;
    m_reason = reason;
    emit Signal_StateChanged(state, reason);
}

} // namespace comlib
