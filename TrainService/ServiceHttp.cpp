#include "TrainService/ServiceHttp.h"

#include "ComLib/Service/ServiceProtocol.h"
#include "TrainService/PrintableText.h"
#include "TrainService/ProjectPaths.h"
#include "TrainService/TestJob.h"
#include "TrainService/TrainJob.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QtDebug>
#include <httplib.h>

#include <algorithm>

namespace
{

constexpr char kJson[] = "application/json";
// A task id is the last path segment: the program sends GUIDs of 11 to 32 hexadecimal digits.
constexpr char kIdPattern[] = "/([0-9A-Za-z_-]{1,64})";
constexpr size_t kMaxIdLength = 64;
// A start names one config file; nothing the program sends comes near this.
constexpr size_t kMaxBodyBytes = 64 * 1024;
constexpr size_t kMaxPathLength = 256;
// Slow clients each hold one of these; status requests must still find a free one.
constexpr size_t kThreads = 32;
constexpr time_t kReadTimeoutSeconds = 5;
constexpr time_t kWriteTimeoutSeconds = 5;
constexpr int kLoggedChars = 400;

constexpr const char* kRequests[] = {comlib::protocol::kStartTrainTask, comlib::protocol::kGetTrainStatus,
                                     comlib::protocol::kCancelTrainTask, comlib::protocol::kTestModel,
                                     comlib::protocol::kGetTestStatus};

void Reply(httplib::Response& res, const QJsonObject& status, int code = 200)
{
    res.status = code;
    res.set_content(QJsonDocument(status).toJson(QJsonDocument::Compact).toStdString(), kJson);
}

std::string Pattern(const char* path)
{
    return std::string(path) + kIdPattern;
}

bool ValidId(const std::string& id)
{
    if (id.empty() || id.size() > kMaxIdLength)
        return false;
    return std::all_of(id.begin(), id.end(),
                       [](char c)
                       {
                           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                                  (c >= 'a' && c <= 'z') || c == '_' || c == '-';
                       });
}

// Only one header of each of these may come: two could be read differently by two checks.
bool HasDuplicate(const httplib::Request& req)
{
    for (const char* key : {"Host", "Origin", "Content-Type", "Content-Length", "Content-Encoding"})
    {
        if (req.get_header_value_count(key) > 1)
            return true;
    }
    return false;
}

// 127.0.0.1, localhost or [::1], with the port when given (-1 when not).
bool LoopbackAuthority(const std::string& text, int& port)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral(
                                                R"((127\.0\.0\.1|localhost|\[::1\])(?::([0-9]{1,5}))?)")),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(QString::fromStdString(text));
    if (!match.hasMatch())
        return false;
    port = match.captured(2).isEmpty() ? -1 : match.captured(2).toInt();
    return true;
}

bool LoopbackOrigin(const std::string& origin)
{
    static const std::string kScheme = "http://";
    int port = -1;
    return origin.size() > kScheme.size() &&
           QString::fromStdString(origin.substr(0, kScheme.size()))
                   .compare(QLatin1String("http://"), Qt::CaseInsensitive) == 0 &&
           LoopbackAuthority(origin.substr(kScheme.size()), port);
}

// Checks a request before its body is read: a web page in the user's browser can reach the port, so
// only what such a page cannot send passes (a JSON body needs a preflight, which is never answered), and
// only what is small. false with the HTTP code and the reason when it is refused.
bool Admit(const httplib::Request& req, int servicePort, int& code, QString& reason)
{
    const auto refuse = [&](int status, const QString& text)
    {
        code = status;
        reason = text;
        return false;
    };
    if (req.method != "GET" && req.method != "POST")
        return refuse(405, QStringLiteral("method %1 is not served").arg(QString::fromStdString(req.method)));
    if (HasDuplicate(req))
        return refuse(400, QStringLiteral("repeated header"));
    int port = -1;
    const std::string host = req.get_header_value("Host");
    if (!LoopbackAuthority(host, port) || (port < 0 ? servicePort != 80 : port != servicePort))
        return refuse(403, QStringLiteral("foreign host %1").arg(QString::fromStdString(host)));
    if (req.has_header("Origin") && !LoopbackOrigin(req.get_header_value("Origin")))
        return refuse(
            403,
            QStringLiteral("foreign origin %1").arg(QString::fromStdString(req.get_header_value("Origin"))));
    if (req.has_header("Content-Encoding"))
        return refuse(415, QStringLiteral("compressed bodies are refused"));
    if (req.has_header("Transfer-Encoding"))
        return refuse(411, QStringLiteral("a body needs Content-Length"));
    if (req.method == "POST")
    {
        const std::string type = req.get_header_value("Content-Type");
        const QString media = QString::fromStdString(type.substr(0, type.find(';'))).trimmed();
        if (media.compare(QLatin1String(kJson), Qt::CaseInsensitive) != 0)
            return refuse(415, QStringLiteral("the body must be application/json, not \"%1\"")
                                   .arg(QString::fromStdString(type)));
        const std::string length = req.get_header_value("Content-Length");
        if (length.empty() || length.size() > 10 ||
            !std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return refuse(411, QStringLiteral("a body needs Content-Length"));
        if (std::stoull(length) > kMaxBodyBytes)
            return refuse(413, QStringLiteral("the body is larger than %1 bytes").arg(kMaxBodyBytes));
    }
    if (req.path.size() > kMaxPathLength)
        return refuse(414, QStringLiteral("the path is too long"));
    const size_t slash = req.path.rfind('/');
    const std::string request = req.path.substr(0, slash);
    if (slash > 0 && std::find(std::begin(kRequests), std::end(kRequests), request) != std::end(kRequests) &&
        !ValidId(req.path.substr(slash + 1)))
        return refuse(
            400,
            QStringLiteral("invalid task id %1").arg(QString::fromStdString(req.path.substr(slash + 1))));
    return true;
}

// The "config_path" of a start request's body; empty when the body is not such an object.
QString ConfigPath(const httplib::Request& req)
{
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body));
    return doc.object().value(QLatin1String(comlib::protocol::kConfigPath)).toString();
}

// A start request of either kind: reads the configuration the body names and queues its job. A
// configuration that cannot be read leaves a failed task, so its status tells why.
template <typename Job, typename Config>
void StartJob(JobQueue& queue, const httplib::Request& req, httplib::Response& res,
              bool (*read)(const QString&, Config&, QString&),
              bool (*confine)(const QString&, Config&, QString&))
{
    const std::string id = req.matches[1];
    const QString path = ConfigPath(req);
    if (path.isEmpty())
        return Reply(res, JobQueue::Failed(QStringLiteral("the body must be an object with \"config_path\"")),
                     400);
    Config config;
    QString error;
    if (!read(path, config, error) || !confine(path, config, error))
        queue.AddFailed(id, error);
    else if (!queue.Submit(id, [job = Job(config)](const std::atomic_bool& cancel,
                                                   const JobQueue::Report& report) mutable
                           { job.Run(cancel, report); }))
        return Reply(res, JobQueue::Failed(QStringLiteral("task %1 exists").arg(QString::fromStdString(id))));
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
    m_server->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    m_server->set_read_timeout(kReadTimeoutSeconds, 0);
    m_server->set_write_timeout(kWriteTimeoutSeconds, 0);
    // One request per connection: a refused request's unread body must never be taken for the next
    // request, and idle connections hold no thread.
    m_server->set_keep_alive_max_count(1);
    m_server->set_payload_max_length(kMaxBodyBytes);
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
        {
            // The library has compressed the body by now when the client accepts gzip, as the program does.
            const std::string encoding = res.get_header_value("Content-Encoding");
            const QString body = encoding.empty()
                                     ? trainsvc::Printable(QString::fromStdString(res.body), kLoggedChars)
                                     : QStringLiteral("(%1 bytes, %2)")
                                           .arg(res.body.size())
                                           .arg(trainsvc::Printable(QString::fromStdString(encoding), 10));
            qInfo().noquote() << trainsvc::Printable(QString::fromStdString(req.method), 10)
                              << trainsvc::Printable(QString::fromStdString(req.path), kLoggedChars)
                              << res.status << body;
        });
    m_server->set_pre_routing_handler(
        [this](const Request& req, Response& res)
        {
            int code = 0;
            QString reason;
            if (Admit(req, m_port, code, reason))
                return httplib::Server::HandlerResponse::Unhandled;
            Reply(res, JobQueue::Failed(QStringLiteral("refused: ") + reason), code);
            return httplib::Server::HandlerResponse::Handled;
        });
    m_server->set_error_handler(
        [](const Request& req, Response& res)
        {
            if (!res.body.empty())
                return;
            const QString message =
                res.status == 404 ? QStringLiteral("unknown request %1").arg(QString::fromStdString(req.path))
                                  : QStringLiteral("refused: HTTP %1").arg(res.status);
            Reply(res, JobQueue::Failed(message), res.status);
        });

    m_server->Post(Pattern(comlib::protocol::kStartTrainTask),
                   [this](const Request& req, Response& res) {
                       StartJob<TrainJob>(m_queue, req, res, &trainsvc::ReadTrainConfig,
                                          &trainsvc::ConfineTrainConfig);
                   });
    m_server->Post(
        Pattern(comlib::protocol::kTestModel), [this](const Request& req, Response& res)
        { StartJob<TestJob>(m_queue, req, res, &trainsvc::ReadTestConfig, &trainsvc::ConfineTestConfig); });
    for (const char* path : {comlib::protocol::kGetTrainStatus, comlib::protocol::kGetTestStatus})
    {
        m_server->Get(Pattern(path), [this](const Request& req, Response& res)
                      { Reply(res, m_queue.Status(req.matches[1])); });
    }
    // A GET on the test path stops the test, as the cancel path stops a training.
    for (const char* path : {comlib::protocol::kCancelTrainTask, comlib::protocol::kTestModel})
    {
        m_server->Get(Pattern(path),
                      [this](const Request& req, Response& res)
                      {
                          m_queue.Cancel(req.matches[1]);
                          Reply(res, m_queue.Status(req.matches[1]));
                      });
    }
}
