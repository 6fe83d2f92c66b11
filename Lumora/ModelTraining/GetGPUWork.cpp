#include "GetGPUWork.h"

#include <QDebug>

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

void GetGPUWork::Slot_GetGPUInfo()
{
    emit Signal_GPUInfo(QueryDeviceNames());
}
