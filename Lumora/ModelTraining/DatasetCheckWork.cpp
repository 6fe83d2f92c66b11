#include "DatasetCheckWork.h"

DatasetCheckWork::DatasetCheckWork(std::shared_ptr<const std::atomic<quint64>> latest)
    : QObject(nullptr), m_latest(std::move(latest))
{
}

DatasetCheckWork::~DatasetCheckWork() = default;

void DatasetCheckWork::Slot_Check(quint64 seq, DatasetCheck::Input input)
{
    const auto outdated = [this, seq] { return m_latest->load() != seq; };
    DatasetCheck::Result result = DatasetCheck::Run(input, outdated);
    // A newer check is queued behind this one; its result is the one to show.
    if (outdated())
        return;
    emit Signal_CheckRlt(seq, std::move(result));
}
