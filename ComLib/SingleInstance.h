#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

namespace comlib
{

// Keeps the program to one running copy per user. The first copy holds a lock file and listens on a
// local socket of the same name; a later copy finds the lock held, asks the first one to come to the
// front and leaves. A lock or socket left behind by a crashed run is taken over.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Lock
    {
        // This copy is the first one and holds the lock.
        Acquired,
        // A live copy holds the lock.
        HeldByRunningCopy,
        // The lock could not be taken for another reason (see ErrorString): nobody is known to hold it.
        Failed,
    };

    // folder: where the lock and the socket live; empty means the user's runtime folder.
    explicit SingleInstance(const QString& name, const QString& folder = QString(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // Acquired: this copy is the first one and now listens for later copies.
    Lock TryAcquire();
    // Asks the running copy to come to the front; false when it could not be reached within timeoutMs.
    bool NotifyRunning(int timeoutMs = 1000);
    void Release();

    QString SocketPath() const;
    QString LockPath() const;
    // Why the last TryAcquire failed to make the lock file LockPath(); empty after any other result.
    QString ErrorString() const { return m_error; }

signals:
    // A later copy asked this one to restore and raise its window.
    void Signal_Activate();

private:
    void OnNewConnection();
    // The lock file exists but QLockFile found no live holder in it: a damaged file of an earlier run
    // is removed, while a file just being written by a starting copy counts as held.
    Lock CheckUnreadableLock();

    QString m_name;
    QString m_folder;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
    QString m_error;
};

} // namespace comlib
