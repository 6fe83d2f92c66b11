#include "WorkerThread.h"

namespace comlib
{

WorkerThread::WorkerThread(const QString& name, Ending ending) : m_ending(ending)
{
    m_thread.setObjectName(name);
}

WorkerThread::~WorkerThread()
{
    if (!m_started)
    {
        delete m_worker;
        return;
    }
    if (m_thread.isRunning() && m_worker && m_ending == Ending::AfterQueuedCalls)
        QMetaObject::invokeMethod(
            m_worker, [this] { m_thread.exit(0); }, Qt::QueuedConnection);
    else
    {
        // A long call (a folder scan) looks at this and stops early.
        m_thread.requestInterruption();
        m_thread.exit(0);
    }
    m_thread.wait();
}

void WorkerThread::Take(QObject* worker)
{
    Q_ASSERT(!m_worker && worker && !worker->parent());
    m_worker = worker;
    worker->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, worker, &QObject::deleteLater);
}

void WorkerThread::Start()
{
    m_started = true;
    m_thread.start(QThread::InheritPriority);
}

} // namespace comlib
