#pragma once

#include <QObject>
#include <QStringList>

// Lists the OpenCL devices of the machine in the training page's worker thread: asking the driver can
// take a while, and a machine without one simply has no devices.
class GetGPUWork : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The device names of every platform in order; empty without OpenCL.
    static QStringList QueryDeviceNames();
    // The processor's name and its number of logical cores, for a machine that trains on its processor.
    static QString CpuDescription();

signals:
    void Signal_GPUInfo(QStringList names);

public slots:
    void Slot_GetGPUInfo();
};
