#include "FakeTrainService.h"

#include <QTcpSocket>

FakeTrainService::FakeTrainService(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this,
            [this]
            {
                while (QTcpSocket* socket = m_server.nextPendingConnection())
                {
                    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
                    connect(socket, &QTcpSocket::disconnected, this,
                            [this, socket]
                            {
                                m_buffers.remove(socket);
                                socket->deleteLater();
                            });
                }
            });
}

FakeTrainService::~FakeTrainService()
{
    // The sockets go with the server, after the members their handlers use.
    for (QTcpSocket* socket : m_server.findChildren<QTcpSocket*>())
        socket->disconnect(this);
}

bool FakeTrainService::Listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString FakeTrainService::BaseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

void FakeTrainService::Script(const QString& prefix, const QList<Response>& responses)
{
    m_script.append({prefix, responses});
}

void FakeTrainService::ReleaseHeld(const QByteArray& body)
{
    const auto held = m_held;
    m_held.clear();
    for (const QPointer<QTcpSocket>& socket : held)
    {
        if (socket)
            Answer(socket, Json(body));
    }
}

int FakeTrainService::HeldCount() const
{
    return m_held.size();
}

QList<FakeTrainService::Request> FakeTrainService::RequestsTo(const QString& prefix) const
{
    QList<Request> found;
    for (const Request& request : m_requests)
    {
        if (request.path.startsWith(prefix))
            found.append(request);
    }
    return found;
}

FakeTrainService::Response FakeTrainService::Next(const QString& path)
{
    for (auto& entry : m_script)
    {
        if (!path.startsWith(entry.first) || entry.second.isEmpty())
            continue;
        return entry.second.size() > 1 ? entry.second.takeFirst() : entry.second.first();
    }
    return Json("{}");
}

void FakeTrainService::Read(QTcpSocket* socket)
{
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    const int headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    Request request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = QString::fromUtf8(first.value(1));
    int length = 0;
    for (const QByteArray& line : lines.mid(1))
    {
        const int colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-type")
            request.contentType = value;
        else if (name == "content-length")
            length = value.toInt();
    }
    if (buffer.size() < headerEnd + 4 + length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    buffer.remove(0, headerEnd + 4 + length);
    m_requests.append(request);

    const Response response = Next(request.path);
    if (response.hold)
        m_held.append(socket);
    else
        Answer(socket, response);
    emit Signal_Request();
}

void FakeTrainService::Answer(QTcpSocket* socket, const Response& response)
{
    const QByteArray reason = response.httpStatus == 200 ? "OK" : "Error";
    QByteArray text = "HTTP/1.1 " + QByteArray::number(response.httpStatus) + " " + reason + "\r\n";
    text += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(response.body.size()) +
            "\r\nConnection: close\r\n\r\n" + response.body;
    socket->write(text);
    socket->disconnectFromHost();
}
