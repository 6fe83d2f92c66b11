#include "SingleInstance.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

namespace comlib
{

namespace
{

const QByteArray kActivate = "activate\n";
// A lock file younger than this may still be being written by a copy that is starting.
constexpr qint64 kFreshLockMs = 10000;

QString ErrnoText(int error = errno)
{
    return error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : QStringLiteral("unknown error");
}

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
    : QObject(parent), m_name(name), m_folder(ResolveFolder(folder)), m_lock(LockPath())
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

QString SingleInstance::LockPath() const
{
    return m_folder + "/" + m_name + ".lock";
}

SingleInstance::Lock SingleInstance::TryAcquire()
{
    m_error.clear();
    errno = 0;
    if (!QDir().mkpath(m_folder))
    {
        m_error = QStringLiteral("its folder cannot be created: %1").arg(ErrnoText());
        return Lock::Failed;
    }
    errno = 0;
    if (!m_lock.tryLock(0))
    {
        const int openErrno = errno;
        if (m_lock.error() != QLockFile::LockFailedError)
        {
            m_error = QStringLiteral("it cannot be created: %1").arg(ErrnoText(openErrno));
            return Lock::Failed;
        }
        qint64 pid = 0;
        QString host;
        QString app;
        // QLockFile found its holder alive (or on another machine, where it cannot tell).
        if (m_lock.getLockInfo(&pid, &host, &app))
            return Lock::HeldByRunningCopy;
        const Lock unreadable = CheckUnreadableLock();
        if (unreadable != Lock::Acquired)
            return unreadable;
    }
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file of a killed run would make listen() fail.
    QLocalServer::removeServer(SocketPath());
    if (!m_server->listen(SocketPath()))
        qWarning("single instance: cannot listen on %s: %s", qUtf8Printable(SocketPath()),
                 qUtf8Printable(m_server->errorString()));
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
    return Lock::Acquired;
}

SingleInstance::Lock SingleInstance::CheckUnreadableLock()
{
    const QFileInfo info(LockPath());
    // A starting copy creates the file first and writes its process id right after.
    if (info.exists() && qAbs(info.lastModified().msecsTo(QDateTime::currentDateTime())) < kFreshLockMs)
        return Lock::HeldByRunningCopy;
    QFile damaged(LockPath());
    if (damaged.exists())
    {
        if (!damaged.remove())
        {
            m_error = QStringLiteral("it is damaged and cannot be removed: %1").arg(damaged.errorString());
            return Lock::Failed;
        }
        qWarning("single instance: removed the damaged lock file %s", qUtf8Printable(LockPath()));
    }
    errno = 0;
    if (m_lock.tryLock(0))
        return Lock::Acquired;
    if (m_lock.error() == QLockFile::LockFailedError)
        return Lock::HeldByRunningCopy;
    m_error = QStringLiteral("it cannot be created: %1").arg(ErrnoText());
    return Lock::Failed;
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
