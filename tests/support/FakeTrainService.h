#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// A scripted training service on a free loopback port: records every request and answers each path
// with the replies given for it, in order, the last one again and again. Unscripted paths get "{}".
class FakeTrainService : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QString path;
        QByteArray contentType;
        QByteArray body;
    };
    struct Response
    {
        QByteArray body;
        int httpStatus = 200;
        // Kept unanswered until ReleaseHeld, as a service that hangs.
        bool hold = false;
    };

    static Response Json(const QByteArray& body) { return Response{body, 200, false}; }
    static Response Hold() { return Response{QByteArray(), 200, true}; }

    explicit FakeTrainService(QObject* parent = nullptr);
    ~FakeTrainService() override;

    bool Listen();
    // "http://127.0.0.1:<port>"
    QString BaseUrl() const;

    // Replies for requests whose path begins with prefix.
    void Script(const QString& prefix, const QList<Response>& responses);
    // Answers every request held so far with body.
    void ReleaseHeld(const QByteArray& body);
    int HeldCount() const;

    const QList<Request>& Requests() const { return m_requests; }
    // Requests whose path begins with prefix.
    QList<Request> RequestsTo(const QString& prefix) const;

signals:
    void Signal_Request();

private:
    void Read(QTcpSocket* socket);
    Response Next(const QString& path);
    static void Answer(QTcpSocket* socket, const Response& response);

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QList<QPair<QString, QList<Response>>> m_script;
    QList<Request> m_requests;
    QList<QPointer<QTcpSocket>> m_held;
};
