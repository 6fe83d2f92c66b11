// Times the data set export on this machine: N annotated JPEG images (640 x 480, a rectangle and a
// polygon each) exported as COCO, YOLO and VOC with a 20 % validation split, against plainly copying the
// same image files into one folder with std::filesystem::copy_file (target ratio 1.5). Also the time the
// page takes in the GUI thread to take the plain copy of N image records before the worker starts.
// Usage: ExportBench [count=20000] [work folder=system temp]

#include "LumoraExport/DatasetExporter.h"

#include "Nexil/ImageInfo.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>

namespace
{

double Seconds(const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e9;
}

QVector<std::shared_ptr<pro::ImageInfo>> MakeImages(const QString& folder, int count)
{
    cv::Mat noise(480, 640, CV_8UC3);
    cv::randu(noise, cv::Scalar::all(0), cv::Scalar::all(255));
    std::vector<uchar> bytes;
    cv::imencode(".jpg", noise, bytes, {cv::IMWRITE_JPEG_QUALITY, 80});
    const QByteArray jpeg(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
    std::printf("%d images of %.0f KB each\n", count, jpeg.size() / 1024.0);

    QVector<std::shared_ptr<pro::ImageInfo>> images;
    for (int i = 0; i < count; ++i)
    {
        auto img = std::make_shared<pro::ImageInfo>();
        img->fileName = QStringLiteral("img_%1.jpg").arg(i, 6, 10, QChar('0'));
        img->path = folder + "/" + img->fileName;
        img->image = "/datas/batch/RawDatas/" + img->fileName;
        QFile file(img->path);
        if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size())
            qFatal("cannot write %s", qPrintable(img->path));
        img->rois = {std::make_shared<RectROIItem>(QRectF(10 + i % 50, 20, 100, 80), 0, "划痕"),
                     std::make_shared<PolygonROIItem>(QPolygonF({{300, 100}, {400, 120}, {350, 300}}), 0,
                                                      i % 2 ? "脏污" : "点")};
        img->markAsOK = false;
        images.append(img);
    }
    return images;
}

double PlainCopy(const QVector<std::shared_ptr<pro::ImageInfo>>& images, const QString& target)
{
    QElapsedTimer timer;
    timer.start();
    QDir().mkpath(target);
    for (const auto& img : images)
    {
        std::filesystem::copy_file(QFile::encodeName(img->path).toStdString(),
                                   QFile::encodeName(target + "/" + img->fileName).toStdString());
    }
    return Seconds(timer);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QString(argv[1]).toInt() : 20000;
    QTemporaryDir work(argc > 2 ? QString(argv[2]) + "/ExportBench-XXXXXX"
                                : QDir::tempPath() + "/ExportBench-XXXXXX");
    if (!work.isValid() || count <= 0)
        return 1;
    QDir().mkpath(work.filePath("src"));
    const auto records = MakeImages(work.filePath("src"), count);

    QElapsedTimer timer;
    timer.start();
    ExportSet set;
    set.name = "bench";
    set.type = 2;
    set.categories = QStringList{"划痕", "脏污", "点"};
    for (const auto& img : records)
        set.images.append(ExportImageOf(*img));
    std::printf("taking the plain copy of %d records in the GUI thread: %.1f ms\n", count,
                Seconds(timer) * 1000);

    // Alternate the baseline and the exports, so that both meet the page cache alike.
    int round = 0;
    for (ExportFormat format : {ExportFormat::Coco, ExportFormat::Yolo, ExportFormat::Voc})
    {
        const double copy = PlainCopy(records, work.filePath(QStringLiteral("copy%1").arg(round)));
        ExportOptions options;
        options.format = format;
        options.outputDir = work.filePath(QStringLiteral("export%1").arg(round));
        options.valFraction = 0.2;
        timer.start();
        const ExportSummary summary = DatasetExporter(set, options).Run();
        const double exported = Seconds(timer);
        if (summary.status != ExportStatus::Ok)
            qFatal("export failed: %d %s", int(summary.status), qPrintable(summary.detail));
        std::printf("%-5s copy %.2f s, export %.2f s (%d objects), ratio %.2f (target 1.5)\n",
                    qPrintable(ExportOptions::FormatName(format)), copy, exported, summary.objects,
                    exported / copy);
        QDir(work.filePath(QStringLiteral("copy%1").arg(round))).removeRecursively();
        QDir(options.outputDir).removeRecursively();
        ++round;
    }
    ExportOptions options;
    options.format = ExportFormat::Yolo;
    options.outputDir = work.filePath("linked");
    options.transfer = ImageTransfer::Link;
    timer.start();
    DatasetExporter(set, options).Run();
    std::printf("yolo with hard links %.2f s\n", Seconds(timer));
    return 0;
}
