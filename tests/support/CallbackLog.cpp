#include "CallbackLog.h"

void CallbackLog::Record(const QString& id, bool bSucc, const QString& msg, void* userData)
{
    auto* log = static_cast<CallbackLog*>(userData);
    log->ids.append(id);
    log->results.append(bSucc);
    log->messages.append(msg);
}
