#include "TrainEvents.h"

#include <cmath>

namespace protocol = comlib::protocol;

QString TrainEvents::StatusText(const QString& status)
{
    if (status == QLatin1String(protocol::kStatusQueued))
        return tr("排队中");
    if (status == QLatin1String(protocol::kStatusRunning))
        return tr("训练中");
    if (status == QLatin1String(protocol::kStatusCancelled))
        return tr("训练取消");
    if (status == QLatin1String(protocol::kStatusFailed))
        return tr("训练失败");
    if (status == QLatin1String(protocol::kStatusExport))
        return tr("模型导出中");
    if (status == QLatin1String(protocol::kStatusDone))
        return tr("完成");
    return status;
}

QString TrainEvents::Started(const QString& version, int epochs, int fineness)
{
    m_status.clear();
    m_epoch = 0;
    return tr("开始训练：版本 %1，%2 轮，精度 %3").arg(version).arg(epochs).arg(fineness);
}

QString TrainEvents::Reply(const protocol::StatusReply& reply)
{
    QStringList parts;
    // An epoch ends when the progress passes a whole number; its losses are those of the reply.
    if (reply.loss && reply.loss->allEpoch > 0)
    {
        const int whole = int(std::floor(reply.loss->epoch + 1e-6));
        if (whole > m_epoch)
        {
            m_epoch = whole;
            parts << tr("第 %1/%2 轮：训练损失 %3，验证损失 %4")
                         .arg(whole)
                         .arg(reply.loss->allEpoch)
                         .arg(reply.loss->totalLoss, 0, 'f', 4)
                         .arg(reply.loss->valLoss, 0, 'f', 4);
        }
    }
    if (reply.status && *reply.status != m_status)
    {
        m_status = *reply.status;
        QString line = tr("状态：%1").arg(StatusText(m_status));
        if (reply.message && !reply.message->isEmpty())
            line += tr("（%1）").arg(*reply.message);
        parts << line;
    }
    return parts.join(QLatin1Char('\n'));
}

QString TrainEvents::Stopped()
{
    m_status.clear();
    return tr("已停止训练");
}

QString TrainEvents::NetworkError(const QString& text)
{
    return tr("通讯异常：%1").arg(text);
}
