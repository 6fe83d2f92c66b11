#include "SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace comlib
{

namespace
{

const QByteArray kActivate = "activate\n";

QString ResolveFolder(const QString& folder)
{
    if (!folder.isEmpty())
        return folder;
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath();
    return runtime;
}

} // namespace

SingleInstance::SingleInstance(const QString& name, const QString& folder, QObject* parent)
    : QObject(parent), m_name(name), m_folder(ResolveFolder(folder)), m_lock(m_folder + "/" + name + ".lock")
{
    // A lock is stale only when its process is gone, never by age: a long run keeps its lock.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    Release();
}

QString SingleInstance::SocketPath() const
{
    return m_folder + "/" + m_name;
}

bool SingleInstance::TryAcquire()
{
    QDir().mkpath(m_folder);
    if (!m_lock.tryLock(0))
        return false;
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file of a killed run would make listen() fail.
    QLocalServer::removeServer(SocketPath());
    if (!m_server->listen(SocketPath()))
        qWarning("single instance: cannot listen on %s: %s", qUtf8Printable(SocketPath()),
                 qUtf8Printable(m_server->errorString()));
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
    return true;
}

bool SingleInstance::NotifyRunning(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(SocketPath());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kActivate);
    const bool written = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return written;
}

void SingleInstance::Release()
{
    if (m_server)
    {
        m_server->close();
        m_server.reset();
    }
    if (m_lock.isLocked())
        m_lock.unlock();
}

void SingleInstance::OnNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection())
    {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this,
                [this, socket]
                {
                    if (socket->readAll().contains(kActivate.trimmed()))
                        emit Signal_Activate();
                });
    }
}

} // namespace comlib
