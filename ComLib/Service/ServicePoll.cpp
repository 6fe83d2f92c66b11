#include "ServicePoll.h"

#include <algorithm>

namespace comlib
{

void ServicePoll::Start(qint64 nowMs)
{
    m_startMs = nowMs;
    m_lastPollMs = nowMs;
}

bool ServicePoll::Due(qint64 nowMs)
{
    // A timer tick that comes a little early still polls.
    if (nowMs - m_lastPollMs < m_intervalMs - 1)
        return false;
    m_lastPollMs = nowMs;
    return true;
}

qint64 ServicePoll::ElapsedSeconds(qint64 nowMs) const
{
    return (nowMs - m_startMs) / 1000;
}

QString ServicePoll::HmsText(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    return QStringLiteral("%1:%2:%3").arg(seconds / 3600).arg(seconds % 3600 / 60).arg(seconds % 60);
}

} // namespace comlib
