#pragma once

#include "DatasetCheck.h"

#include <QObject>

#include <atomic>
#include <memory>

// Runs the data set check in a thread of its own, so reading the headers and annotation files of a
// large project never stalls the page. A check that is no longer the latest one asked for is dropped.
class DatasetCheckWork : public QObject
{
    Q_OBJECT

public:
    // latest: the number of the newest check the owner asked for; a check of another number stops.
    explicit DatasetCheckWork(std::shared_ptr<const std::atomic<quint64>> latest);
    ~DatasetCheckWork() override;

signals:
    void Signal_CheckRlt(quint64 seq, DatasetCheck::Result result);

public slots:
    void Slot_Check(quint64 seq, DatasetCheck::Input input);

private:
    std::shared_ptr<const std::atomic<quint64>> m_latest;
};
