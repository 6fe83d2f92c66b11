// Quality and speed of the training service on a generated inspection set:
//  1. trains the segmentation or detection network as a run of the service would (same split, same
//     settings) and prints the time per epoch and the losses;
//  2. on the validation split: mean IoU over the defect classes (segmentation), or precision and
//     recall at IoU 0.5 (detection), and the image-level missed and overkill rates per class;
//  3. the time to predict one image, the peak memory of the process, and the time a status request
//     takes over HTTP while a training job computes.
// Usage: TrainBench segment|object [images 200] [epochs 50] [fineness 2] [size 256]

#include "SyntheticSet.h"

#include "Nexil/NexilConst.h"
#include "TrainService/DataSet.h"
#include "TrainService/JobConfig.h"
#include "TrainService/ModelEngine.h"
#include "TrainService/Raster.h"
#include "TrainService/ServiceHttp.h"
#include "TrainService/TestRates.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <httplib.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace trainsvc;

namespace
{

constexpr char kStamp[] = "2024-01-01_00-00-00-000";

long PeakRssMb()
{
    QFile file("/proc/self/status");
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n'))
    {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong() / 1024;
    }
    return -1;
}

double Iou(const cv::Rect2f& a, const cv::Rect2f& b)
{
    const float inter = (a & b).area();
    const float uni = a.area() + b.area() - inter;
    return uni > 0 ? inter / uni : 0.0;
}

struct DetCount
{
    int truths = 0, predictions = 0, hits = 0;
};

// Greedy matching by score, per class, at IoU 0.5.
void CountDetections(const std::vector<Box>& truth, const std::vector<Box>& predicted, DetCount& count)
{
    count.truths += int(truth.size());
    count.predictions += int(predicted.size());
    std::vector<bool> used(truth.size(), false);
    for (const Box& p : predicted)
    {
        int best = -1;
        double bestIou = 0.5;
        for (size_t t = 0; t < truth.size(); ++t)
        {
            const double iou = Iou(p.rect, truth[t].rect);
            if (!used[t] && truth[t].cls == p.cls && iou >= bestIou)
            {
                best = int(t);
                bestIou = iou;
            }
        }
        if (best >= 0)
        {
            used[size_t(best)] = true;
            ++count.hits;
        }
    }
}

// Status requests over HTTP while the service trains on the same set; returns the slowest and the
// median reply time in milliseconds.
void MeasureStatus(const QString& project, const QStringList& classes, bool object, int fineness)
{
    const QString trainPath = project + "/train/V2024-01-01_00-00-00";
    QDir().mkpath(trainPath);
    const QJsonObject config{{"classes_name", QJsonArray::fromStringList(classes)},
                             {"datas_path", project + nexil::kDatasDir},
                             {"train_path", trainPath},
                             {"fineness", fineness},
                             {"unfreeze_train_epoch", 300},
                             {"ai_type", object ? "Object" : "Segment"}};
    QFile file(trainPath + "/config.json");
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QJsonDocument(config).toJson());
    file.close();

    ServiceHttp service;
    std::string error;
    if (!service.Bind("127.0.0.1", 0, error))
        return;
    std::thread server([&service] { service.Run(); });
    httplib::Client client("127.0.0.1", service.Port());
    const std::string body =
        QJsonDocument(QJsonObject{{"config_path", file.fileName()}}).toJson().toStdString();
    client.Post("/start_train_task/BENCH", body, "application/json");
    std::vector<double> times;
    while (times.size() < 60)
    {
        const auto start = std::chrono::steady_clock::now();
        const auto res = client.Get("/get_train_status/BENCH");
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        // Only replies during training count: the first ones come while the images load.
        if (res && res->body.find("\"batch\"") != std::string::npos)
            times.push_back(ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    client.Get("/cancel_train_task/BENCH");
    std::sort(times.begin(), times.end());
    std::printf("status while training: median %.2f ms, slowest %.2f ms over %zu requests\n",
                times[times.size() / 2], times.back(), times.size());
    service.Stop();
    server.join();
}

} // namespace

int main(int argc, char** argv)
{
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool object = args.value(1) == "object";
    const int images = args.value(2, "200").toInt();
    const int epochs = args.value(3, "50").toInt();
    const int fineness = args.value(4, "2").toInt();
    const int size = args.value(5, "256").toInt();

    QTemporaryDir dir;
    const QString project = dir.filePath("bench");
    SyntheticSet set;
    SyntheticSet::Options options;
    options.count = images;
    options.size = size;
    options.numClasses = 3;
    options.rectangles = object;
    QString error;
    if (!set.Generate(project + nexil::kDatasDir + "/" + kStamp + "/RawDatas", options, error))
    {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QStringList classes = SyntheticSet::ClassNames(options.numClasses);

    DataSet data;
    data.Load(project + nexil::kDatasDir, classes);
    std::vector<Sample> train, val;
    TrainSettings settings;
    settings.epochs = epochs;
    data.Split(0.9, settings.seed, train, val);
    NetLayout layout = NetForFineness(object, fineness);
    layout.numClasses = int(classes.size());
    std::printf("%s, %d images of %d x %d (%zu train, %zu val), fineness %d: input %d, width %d, %d epochs\n",
                object ? "detection" : "segmentation", images, size, size, train.size(), val.size(), fineness,
                layout.inputSize, layout.width, epochs);

    ModelEngine engine;
    engine.Create(layout, settings.seed);
    QElapsedTimer clock;
    clock.start();
    qint64 epochStart = 0;
    std::vector<EpochLoss> history;
    std::atomic_bool cancel(false);
    const auto progress = [&](const TrainProgress& p)
    {
        if (p.batch != 0)
            return;
        const qint64 now = clock.elapsed();
        std::printf("epoch %3d  %6.2f s  train %.4f  val %.4f\n", p.epoch, (now - epochStart) / 1000.0,
                    p.trainLoss, p.valLoss);
        std::fflush(stdout);
        epochStart = now;
    };
    std::string trainError;
    if (!engine.Train(train, val, settings, progress, cancel, history, trainError))
    {
        std::fprintf(stderr, "training failed: %s\n", trainError.c_str());
        return 1;
    }
    std::printf("training: %.1f s in all, %.2f s per epoch\n", clock.elapsed() / 1000.0,
                clock.elapsed() / 1000.0 / epochs);

    // Validation split: pixel IoU or box matching, and the image-level rates of a test.
    std::vector<double> inter(size_t(classes.size()), 0.0), uni(size_t(classes.size()), 0.0);
    DetCount det;
    TestRates rates(int(classes.size()));
    std::vector<double> predictMs;
    for (const Sample& sample : val)
    {
        const cv::Mat image = raster::ReadImage(sample.imagePath);
        QElapsedTimer predictClock;
        predictClock.start();
        const Prediction prediction = engine.Predict(image);
        predictMs.push_back(predictClock.nsecsElapsed() / 1e6);
        std::vector<Shape> shapes;
        if (object)
        {
            shapes = raster::BoxesToShapes(prediction.boxes);
            CountDetections(raster::ShapeBoxes(sample.shapes, image.size(), image.cols), prediction.boxes,
                            det);
        }
        else
        {
            shapes = raster::MaskToShapes(prediction.labels,
                                          6.0 * image.total() / (layout.inputSize * layout.inputSize));
            const cv::Mat truth = raster::RasterMask(sample.shapes, image.size(), image.cols);
            for (int c = 0; c < classes.size(); ++c)
            {
                inter[size_t(c)] += cv::countNonZero((truth == c + 1) & (prediction.labels == c + 1));
                uni[size_t(c)] += cv::countNonZero((truth == c + 1) | (prediction.labels == c + 1));
            }
        }
        rates.Add(QString::fromStdString(sample.imagePath), image.size(), sample.shapes, shapes);
    }
    if (object)
    {
        std::printf("detection at IoU 0.5: recall %.3f, precision %.3f (%d boxes, %d predicted, %d hits)\n",
                    det.truths ? double(det.hits) / det.truths : 0.0,
                    det.predictions ? double(det.hits) / det.predictions : 0.0, det.truths, det.predictions,
                    det.hits);
    }
    else
    {
        double sum = 0.0;
        for (int c = 0; c < classes.size(); ++c)
        {
            const double iou = uni[size_t(c)] > 0 ? inter[size_t(c)] / uni[size_t(c)] : 1.0;
            std::printf("IoU %-8s %.3f\n", qPrintable(classes.at(c)), iou);
            sum += iou;
        }
        std::printf("mean IoU over the defect classes: %.3f\n", sum / classes.size());
    }
    for (int c = 0; c < classes.size(); ++c)
        std::printf("%-8s missed %.3f  overkill %.3f\n", qPrintable(classes.at(c)),
                    rates.MissedRates()[size_t(c)], rates.OverkillRates()[size_t(c)]);
    std::sort(predictMs.begin(), predictMs.end());
    if (!predictMs.empty())
        std::printf("predict one image: median %.1f ms, slowest %.1f ms\n", predictMs[predictMs.size() / 2],
                    predictMs.back());
    std::printf("peak memory: %ld MB\n", PeakRssMb());
    MeasureStatus(project, classes, object, fineness);
    return 0;
}
