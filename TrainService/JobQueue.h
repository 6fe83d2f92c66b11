#pragma once

#include <QJsonObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Runs the service's jobs one at a time in arrival order on a thread of its own (the machine has two
// cores; two trainings side by side would only slow each other down), and keeps the last status of
// every job so that status requests answer at once from any of the server's threads. Of the finished
// jobs only the last kMaxFinished are kept (the oldest finished goes first).
class JobQueue
{
public:
    static constexpr size_t kMaxFinished = 100;
    // Failure messages are cut to this many characters: they may quote what a request sent.
    static constexpr int kMaxMessageChars = 600;

    using Report = std::function<void(const QJsonObject&)>;
    // A job's work: checks cancel often, reports its status through report and ends with a final
    // status ("done", "failed" or "cancelled"); a job that returns without one has failed.
    using Work = std::function<void(const std::atomic_bool& cancel, const Report& report)>;

    JobQueue();
    // Cancels what is queued or running and waits for the running job to stop.
    ~JobQueue();
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    // Queues a job; false when the id is already known (its job is left as it is).
    bool Submit(const std::string& id, Work work);
    // Records a job that failed before it could be queued, so that status requests tell why.
    void AddFailed(const std::string& id, const QString& message);
    // A queued job is cancelled at once and never starts; a running one stops at its next check.
    void Cancel(const std::string& id);
    // The job's last status; an unknown id gets a "failed" status naming it.
    QJsonObject Status(const std::string& id) const;

    static QJsonObject Failed(const QString& message);
    static QJsonObject Cancelled();

private:
    struct Job
    {
        Work work;
        std::shared_ptr<std::atomic_bool> cancel = std::make_shared<std::atomic_bool>(false);
        QJsonObject status;
    };

    void Loop();
    void SetStatus(const std::string& id, const QJsonObject& status);
    // With m_mutex held: id has its final status; drops the oldest finished jobs beyond the limit.
    void Finished(const std::string& id);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<std::string, Job> m_jobs;
    std::deque<std::string> m_pending;
    std::deque<std::string> m_finished;
    bool m_stopping = false;
    std::thread m_thread;
};
