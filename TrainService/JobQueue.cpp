#include "TrainService/JobQueue.h"

#include "TrainService/PrintableText.h"

#include "ComLib/Service/ServiceProtocol.h"

#include <QtDebug>

#include <algorithm>

namespace
{

using comlib::protocol::StatusReply;

QJsonObject StatusOnly(const char* status)
{
    StatusReply reply;
    reply.status = QLatin1String(status);
    return reply.ToJson();
}

QString StatusOf(const QJsonObject& status)
{
    return StatusReply::FromJson(status).status.value_or(QString());
}

bool IsFinal(const QJsonObject& status)
{
    const QString text = StatusOf(status);
    return text == QLatin1String(comlib::protocol::kStatusDone) ||
           text == QLatin1String(comlib::protocol::kStatusFailed) ||
           text == QLatin1String(comlib::protocol::kStatusCancelled);
}

} // namespace

JobQueue::JobQueue() : m_thread([this] { Loop(); }) {}

JobQueue::~JobQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        for (auto& [id, job] : m_jobs)
            *job.cancel = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

QJsonObject JobQueue::Failed(const QString& message)
{
    StatusReply reply;
    reply.status = QLatin1String(comlib::protocol::kStatusFailed);
    reply.message = trainsvc::Printable(message, kMaxMessageChars);
    return reply.ToJson();
}

QJsonObject JobQueue::Cancelled()
{
    return StatusOnly(comlib::protocol::kStatusCancelled);
}

bool JobQueue::Submit(const std::string& id, Work work)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_jobs.count(id) > 0)
            return false;
        Job& job = m_jobs[id];
        job.work = std::move(work);
        job.status = StatusOnly(comlib::protocol::kStatusQueued);
        m_pending.push_back(id);
    }
    m_wake.notify_all();
    return true;
}

void JobQueue::AddFailed(const std::string& id, const QString& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_jobs.count(id) > 0)
        return;
    m_jobs[id].status = Failed(message);
    Finished(id);
}

void JobQueue::Cancel(const std::string& id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_jobs.find(id);
    if (it == m_jobs.end())
        return;
    *it->second.cancel = true;
    if (StatusOf(it->second.status) != QLatin1String(comlib::protocol::kStatusQueued))
        return;
    it->second.status = StatusOnly(comlib::protocol::kStatusCancelled);
    it->second.work = nullptr;
    m_pending.erase(std::remove(m_pending.begin(), m_pending.end(), id), m_pending.end());
    Finished(id);
}

QJsonObject JobQueue::Status(const std::string& id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_jobs.find(id);
    if (it == m_jobs.end())
        return Failed(QStringLiteral("unknown task %1").arg(QString::fromStdString(id)));
    return it->second.status;
}

void JobQueue::SetStatus(const std::string& id, const QJsonObject& status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_jobs.find(id);
    if (it != m_jobs.end())
        it->second.status = status;
}

void JobQueue::Finished(const std::string& id)
{
    m_finished.push_back(id);
    while (m_finished.size() > kMaxFinished)
    {
        m_jobs.erase(m_finished.front());
        m_finished.pop_front();
    }
}

void JobQueue::Loop()
{
    for (;;)
    {
        std::string id;
        Work work;
        std::shared_ptr<std::atomic_bool> cancel;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
            if (m_stopping)
                return;
            id = m_pending.front();
            m_pending.pop_front();
            Job& job = m_jobs.at(id);
            work = std::move(job.work);
            cancel = job.cancel;
            job.status = StatusOnly(comlib::protocol::kStatusRunning);
        }
        qInfo().noquote() << "job" << QString::fromStdString(id) << "started";
        try
        {
            work(*cancel, [this, id](const QJsonObject& status) { SetStatus(id, status); });
        }
        catch (const std::exception& e)
        {
            SetStatus(id, Failed(QString::fromLocal8Bit(e.what())));
        }
        QJsonObject last;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            QJsonObject& status = m_jobs.at(id).status;
            if (!IsFinal(status))
                status = Failed(QStringLiteral("the job ended without a final status (last: %1)")
                                    .arg(status.value(QLatin1String("status")).toString()));
            last = status;
            Finished(id);
        }
        qInfo().noquote() << "job" << QString::fromStdString(id)
                          << "ended:" << last.value(QLatin1String("status")).toString()
                          << last.value(QLatin1String("message")).toString();
    }
}
