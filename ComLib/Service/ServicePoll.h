#pragma once

#include <QString>
#include <QtGlobal>

namespace comlib
{

// Paces the status polls of one run on the training service and measures how long it has run.
// The training page and the test panels poll alike.
class ServicePoll
{
public:
    static constexpr int kIntervalMs = 1000;

    void SetIntervalMs(int ms) { m_intervalMs = ms; }

    // Begins a run at nowMs. Its first poll waits a whole interval: sent at once, it could reach the
    // service before the start request and be answered for an unknown task.
    void Start(qint64 nowMs);
    // True when a tick at nowMs may poll; such a tick starts the next interval.
    bool Due(qint64 nowMs);
    qint64 ElapsedSeconds(qint64 nowMs) const;

    // "h:m:s" without leading zeros; negative counts show as 0:0:0.
    static QString HmsText(qint64 seconds);

private:
    int m_intervalMs = kIntervalMs;
    qint64 m_startMs = 0;
    qint64 m_lastPollMs = 0;
};

} // namespace comlib
