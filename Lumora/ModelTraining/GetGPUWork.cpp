#include "GetGPUWork.h"

#include <QDebug>
#include <QFile>
#include <QSettings>
#include <QSysInfo>
#include <QThread>

#include <opencv2/core.hpp>
#include <opencv2/core/ocl.hpp>

#include <iostream>

QStringList GetGPUWork::QueryDeviceNames()
{
    QStringList names;
    try
    {
        cv::ocl::setUseOpenCL(true);
        std::vector<cv::ocl::PlatformInfo> platforms;
        cv::ocl::getPlatfomsInfo(platforms);
        for (const cv::ocl::PlatformInfo& platform : platforms)
        {
            for (int i = 0; i < platform.deviceNumber(); ++i)
            {
                cv::ocl::Device device;
                platform.getDevice(device, i);
                const std::string name = device.name();
                names.append(QString::fromStdString(name));
                std::cout << "Device Name: " << name << std::endl;
            }
        }
    }
    catch (const cv::Exception& e)
    {
        // A broken driver is no device: the page shows none.
        qWarning().noquote() << "OpenCL device query failed:" << e.what();
    }
    return names;
}

QString GetGPUWork::CpuDescription()
{
    QString name;
#ifdef Q_OS_WIN
    const QSettings processor(
        QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0"),
        QSettings::NativeFormat);
    name = processor.value(QStringLiteral("ProcessorNameString")).toString().simplified();
#else
    QFile cpuInfo(QStringLiteral("/proc/cpuinfo"));
    // The file reports no size, so it is read up to a limit rather than to its end; the first
    // processor's line is enough, as all cores of a desktop are alike.
    if (cpuInfo.open(QIODevice::ReadOnly))
    {
        for (const QByteArray& line : cpuInfo.read(64 * 1024).split('\n'))
        {
            if (line.startsWith("model name") && line.contains(':'))
            {
                name = QString::fromUtf8(line.mid(line.indexOf(':') + 1)).simplified();
                break;
            }
        }
    }
#endif
    if (name.isEmpty())
        name = QStringLiteral("CPU (%1)").arg(QSysInfo::currentCpuArchitecture());
    return tr("%1（%2 核）").arg(name).arg(QThread::idealThreadCount());
}

void GetGPUWork::Slot_GetGPUInfo()
{
    emit Signal_GPUInfo(QueryDeviceNames());
}
