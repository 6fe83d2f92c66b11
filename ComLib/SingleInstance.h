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
    // folder: where the lock and the socket live; empty means the user's runtime folder.
    explicit SingleInstance(const QString& name, const QString& folder = QString(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this copy is the first one; it then listens for later copies.
    bool TryAcquire();
    // Asks the running copy to come to the front; false when it could not be reached within timeoutMs.
    bool NotifyRunning(int timeoutMs = 1000);
    void Release();

    QString SocketPath() const;

signals:
    // A later copy asked this one to restore and raise its window.
    void Signal_Activate();

private:
    void OnNewConnection();

    QString m_name;
    QString m_folder;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace comlib
