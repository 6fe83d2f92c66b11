#pragma once

#include <QObject>
#include <QString>
#include <QThread>

namespace comlib
{

// A worker in a thread of its own, the way every worker here runs: created without a parent, moved
// into a named thread, deleted in that thread when it finishes. Destroying the owner ends the thread
// and waits for it without a time limit: at once (the call in progress is asked to stop through
// QThread::isInterruptionRequested), or once the calls already queued for the worker have run, for a
// worker that must not lose them (a store).
class WorkerThread
{
public:
    enum class Ending
    {
        AtOnce,
        AfterQueuedCalls,
    };

    explicit WorkerThread(const QString& name, Ending ending = Ending::AtOnce);
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Takes the parentless worker into the thread; connect to it, then Start.
    template <typename Worker> Worker* Adopt(Worker* worker)
    {
        Take(worker);
        return worker;
    }
    void Start();
    // For connections to started and finished.
    QThread& Thread() { return m_thread; }

private:
    void Take(QObject* worker);

    QThread m_thread;
    QObject* m_worker = nullptr;
    Ending m_ending;
    bool m_started = false;
};

} // namespace comlib
