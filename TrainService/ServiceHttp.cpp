#include "TrainService/ServiceHttp.h"

#include "Nexil/NexilConst.h"
#include "TrainService/TestJob.h"
#include "TrainService/TrainJob.h"

#include <QJsonDocument>
#include <QtDebug>
#include <httplib.h>

namespace
{

constexpr char kJson[] = "application/json";
// A task id is the last path segment.
constexpr char kIdPattern[] = "/([^/]+)";

void Reply(httplib::Response& res, const QJsonObject& status, int code = 200)
{
    res.status = code;
    res.set_content(QJsonDocument(status).toJson(QJsonDocument::Compact).toStdString(), kJson);
}

std::string Pattern(const char* path)
{
    return std::string(path) + kIdPattern;
}

// The "config_path" of a start request's body; empty when the body is not such an object.
QString ConfigPath(const httplib::Request& req)
{
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body));
    return doc.object().value(QLatin1String("config_path")).toString();
}

// A start request of either kind: reads the configuration the body names and queues its job. A
// configuration that cannot be read leaves a failed task, so its status tells why.
template <typename Job, typename Config>
void StartJob(JobQueue& queue, const httplib::Request& req, httplib::Response& res,
              bool (*read)(const QString&, Config&, QString&))
{
    const std::string id = req.matches[1];
    const QString path = ConfigPath(req);
    if (path.isEmpty())
        return Reply(res, JobQueue::Failed(QStringLiteral("the body must be an object with \"config_path\"")),
                     400);
    Config config;
    QString error;
    if (!read(path, config, error))
        queue.AddFailed(id, error);
    else if (!queue.Submit(id, [job = Job(config)](const std::atomic_bool& cancel,
                                                   const JobQueue::Report& report) mutable
                           { job.Run(cancel, report); }))
        return Reply(res, JobQueue::Failed(QStringLiteral("task %1 exists").arg(id.c_str())));
    Reply(res, queue.Status(id));
}

} // namespace

ServiceHttp::ServiceHttp() : m_server(std::make_unique<httplib::Server>())
{
    // The library's default SO_REUSEPORT would let a second service share the port and take half of
    // the program's requests; SO_REUSEADDR alone still allows a quick restart.
    m_server->set_socket_options(
        [](socket_t sock)
        {
            int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        });
    Route();
}

ServiceHttp::~ServiceHttp() = default;

bool ServiceHttp::Bind(const std::string& host, int port, std::string& error)
{
    m_port = port == 0 ? m_server->bind_to_any_port(host) : (m_server->bind_to_port(host, port) ? port : -1);
    if (m_port <= 0)
    {
        m_port = -1;
        error =
            "cannot listen on " + host + ":" + std::to_string(port) + " (is another service running there?)";
        return false;
    }
    return true;
}

void ServiceHttp::Run()
{
    if (m_port > 0)
        m_server->listen_after_bind();
}

void ServiceHttp::Stop()
{
    m_server->stop();
}

void ServiceHttp::Route()
{
    using httplib::Request;
    using httplib::Response;
    m_server->set_logger(
        [](const Request& req, const Response& res)
        { qInfo().noquote() << req.method.c_str() << req.path.c_str() << res.status << res.body.c_str(); });
    m_server->set_error_handler(
        [](const Request& req, Response& res)
        {
            if (res.body.empty())
                Reply(res, JobQueue::Failed(QStringLiteral("unknown request %1").arg(req.path.c_str())),
                      res.status);
        });

    m_server->Post(Pattern(nexil::kStartTrainTask), [this](const Request& req, Response& res)
                   { StartJob<TrainJob>(m_queue, req, res, &trainsvc::ReadTrainConfig); });
    m_server->Post(Pattern(nexil::kTestModel), [this](const Request& req, Response& res)
                   { StartJob<TestJob>(m_queue, req, res, &trainsvc::ReadTestConfig); });
    for (const char* path : {nexil::kGetTrainStatus, nexil::kGetTestStatus})
    {
        m_server->Get(Pattern(path), [this](const Request& req, Response& res)
                      { Reply(res, m_queue.Status(req.matches[1])); });
    }
    // A GET on the test path stops the test, as the cancel path stops a training.
    for (const char* path : {nexil::kCancelTrainTask, nexil::kTestModel})
    {
        m_server->Get(Pattern(path),
                      [this](const Request& req, Response& res)
                      {
                          m_queue.Cancel(req.matches[1]);
                          Reply(res, m_queue.Status(req.matches[1]));
                      });
    }
}
