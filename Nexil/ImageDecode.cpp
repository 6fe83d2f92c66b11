#include "Nexil/ImageDecode.h"

#include "Nexil/ImageHeader.h"

#include <QDebug>
#include <QFile>

#include <opencv2/imgcodecs.hpp>

#include <exception>

namespace
{

void WarnRefused(const QString& path)
{
    qWarning().noquote() << "refused image whose header claims more pixels than can be decoded" << path;
}

cv::Mat Decode(const QString& path, int flags)
{
    try
    {
        return cv::imread(QFile::encodeName(path).toStdString(), flags);
    }
    catch (const std::exception& e)
    {
        // OpenCV throws for sizes over its limits and on some damaged files; allocation can fail too.
        qWarning().noquote() << "cannot decode image" << path << ":" << e.what();
    }
    return cv::Mat();
}

} // namespace

cv::Mat ImageDecode::Read(const QString& path, int flags)
{
    bool tooLarge = false;
    ImageHeader::ReadSize(path, tooLarge);
    if (tooLarge)
    {
        WarnRefused(path);
        return cv::Mat();
    }
    return Decode(path, flags);
}

QSize ImageDecode::Size(const QString& path)
{
    bool tooLarge = false;
    if (const auto size = ImageHeader::ReadSize(path, tooLarge))
        return *size;
    if (tooLarge)
    {
        WarnRefused(path);
        return QSize();
    }
    const cv::Mat image = Decode(path, cv::IMREAD_COLOR);
    return image.empty() ? QSize() : QSize(image.cols, image.rows);
}
