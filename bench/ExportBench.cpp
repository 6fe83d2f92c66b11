// Times the data set export on this machine: N annotated JPEG images (640 x 480, a rectangle and a
// polygon each) exported as COCO, YOLO and VOC with a 20 % validation split, against plainly copying the
// same image files into one folder with std::filesystem::copy_file (target ratio 1.5), each timed until
// its data is written to disk. Also the time the
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

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <unistd.h>

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
    // Each timing starts without the previous one's data still waiting to be written and ends when its
    // own is written: the deferred writing of the page cache otherwise lands in whichever comes next.
    ::sync();
    QElapsedTimer timer;
    timer.start();
    QDir().mkpath(target);
    for (const auto& img : images)
    {
        std::filesystem::copy_file(QFile::encodeName(img->path).toStdString(),
                                   QFile::encodeName(target + "/" + img->fileName).toStdString());
    }
    ::sync();
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

    // Two rounds, the baseline first in one and last in the other, so that both meet the page cache
    // and the machine's other work alike; the best time of each counts.
    const ExportFormat formats[] = {ExportFormat::Coco, ExportFormat::Yolo, ExportFormat::Voc};
    double bestCopy[3] = {1e9, 1e9, 1e9};
    double bestExport[3] = {1e9, 1e9, 1e9};
    for (int round = 0; round < 2; ++round)
    {
        for (int f = 0; f < 3; ++f)
        {
            const QString copyDir = work.filePath("copy");
            ExportOptions options;
            options.format = formats[f];
            options.outputDir = work.filePath("export");
            options.valFraction = 0.2;
            const auto exportOnce = [&]
            {
                ::sync();
                timer.start();
                const ExportSummary summary = DatasetExporter(set, options).Run();
                if (summary.status != ExportStatus::Ok)
                    qFatal("export failed: %d %s", int(summary.status), qPrintable(summary.detail));
                ::sync();
                return Seconds(timer);
            };
            const double first = round == 0 ? PlainCopy(records, copyDir) : exportOnce();
            const double second = round == 0 ? exportOnce() : PlainCopy(records, copyDir);
            const double copy = round == 0 ? first : second;
            const double exported = round == 0 ? second : first;
            std::printf("round %d %-5s copy %.2f s, export %.2f s\n", round + 1,
                        qPrintable(ExportOptions::FormatName(formats[f])), copy, exported);
            bestCopy[f] = std::min(bestCopy[f], copy);
            bestExport[f] = std::min(bestExport[f], exported);
            QDir(copyDir).removeRecursively();
            QDir(options.outputDir).removeRecursively();
        }
    }
    for (int f = 0; f < 3; ++f)
        std::printf("%-5s best copy %.2f s, best export %.2f s, ratio %.2f (target 1.5)\n",
                    qPrintable(ExportOptions::FormatName(formats[f])), bestCopy[f], bestExport[f],
                    bestExport[f] / bestCopy[f]);
    ExportOptions options;
    options.format = ExportFormat::Yolo;
    options.outputDir = work.filePath("linked");
    options.transfer = ImageTransfer::Link;
    ::sync();
    timer.start();
    DatasetExporter(set, options).Run();
    ::sync();
    std::printf("yolo with hard links %.2f s\n", Seconds(timer));
    return 0;
}
