// Quality and speed of the training service on a generated inspection set:
//  1. trains the segmentation or detection network as a run of the service would (same split, same
//     settings) and prints the time per epoch and the losses;
//  2. on the validation split: mean IoU over the defect classes (segmentation), or precision and
//     recall at IoU 0.5 (detection), and the image-level missed and overkill rates per class;
//  3. the time to predict one image, and a 2048 x 2048 image by tiles, the peak memory of the process,
//     and the time a status request takes over HTTP while a training job computes;
//  4. "thin" trains on large images with defects 3-8 px wide twice, by tiles at native resolution and
//     stretched to the input, and prints both;
//  5. "repro" trains two short runs with the same seed and compares the weight files' hashes.
// Every figure comes with the load average of the machine, which other users share.
// Usage: TrainBench segment|object [images 200] [epochs 50] [fineness 2] [size 256] [tile scale 1]
//        TrainBench thin segment|object [images 60] [epochs 40] [fineness 2] [size 1024]
//        TrainBench repro

#include "SyntheticSet.h"

#include "ComLib/Service/ServiceProtocol.h"
#include "Nexil/NexilConst.h"
#include "TrainService/DataSet.h"
#include "TrainService/JobConfig.h"
#include "TrainService/ModelEngine.h"
#include "TrainService/Raster.h"
#include "TrainService/ServiceHttp.h"
#include "TrainService/TestRates.h"
#include "TrainService/Tiling.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
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

QString Load()
{
    QFile file("/proc/loadavg");
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(' ', 0, 2)
                                          : QStringLiteral("?");
}

void Conditions(const char* what)
{
    std::printf("[%s] load average %s, %u hardware threads, libtorch %s\n", what, qPrintable(Load()),
                std::thread::hardware_concurrency(), ModelEngine::LibraryVersion().c_str());
    std::fflush(stdout);
}

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
    comlib::protocol::TrainRequest request;
    request.imageRows = request.imageColumns = 256;
    request.classes = classes;
    request.datasPath = project + nexil::kDatasDir;
    request.trainPath = trainPath;
    request.version = QFileInfo(trainPath).fileName();
    request.projectName = QStringLiteral("bench");
    request.fineness = fineness;
    request.epochs = 300;
    request.aiType = QLatin1String(object ? "Object" : "Segment");
    request.netType = QLatin1String(object ? "YOLOV8" : "DeepLabV3Plus");
    const QJsonObject config = request.ToJson();
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
    for (int polls = 0; times.size() < 60; ++polls)
    {
        if (polls == 600)
        {
            std::printf("status while training: the training did not start\n");
            break;
        }
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
    if (!times.empty())
        std::printf("status while training: median %.2f ms, slowest %.2f ms over %zu requests\n",
                    times[times.size() / 2], times.back(), times.size());
    service.Stop();
    server.join();
}

struct RunOptions
{
    bool object = false;
    int images = 200;
    int epochs = 50;
    int fineness = 2;
    int size = 256;
    double tileScale = 1.0;
    bool thin = false;
    int classes = 3;
    bool measureService = true;
};

struct RunResult
{
    double meanIou = 0.0;
    double recall = 0.0, precision = 0.0;
    std::vector<double> missed, overkill;
    double seconds = 0.0;
};

// Generates the set, trains as a run of the service would and measures the validation split.
bool Run(const RunOptions& o, RunResult& result)
{
    QTemporaryDir dir;
    const QString project = dir.filePath("bench");
    SyntheticSet set;
    SyntheticSet::Options options;
    options.count = o.images;
    options.size = o.size;
    options.numClasses = o.classes;
    options.rectangles = o.object;
    options.thin = o.thin;
    QString error;
    if (!set.Generate(project + nexil::kDatasDir + "/" + kStamp + "/RawDatas", options, error))
    {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    const QStringList classes = SyntheticSet::ClassNames(options.numClasses);

    DataSet data;
    data.Load(project + nexil::kDatasDir, classes);
    std::vector<Sample> train, val;
    TrainSettings settings;
    settings.epochs = o.epochs;
    // A validation split of at least 60 images where the set allows it: 20 cannot measure 0.9.
    const double trainPercent = std::min(0.9, 1.0 - 60.0 / std::max(1, o.images));
    data.Split(std::max(0.5, trainPercent), settings.seed, train, val);
    NetLayout layout = NetForFineness(o.object, o.fineness);
    layout.numClasses = int(classes.size());
    layout.tileScale = o.tileScale;
    std::printf(
        "%s, %d images of %d x %d%s (%zu train, %zu val), fineness %d: input %d, width %d, %d epochs, "
        "%s, %d threads\n",
        o.object ? "detection" : "segmentation", o.images, o.size, o.size, o.thin ? " with thin defects" : "",
        train.size(), val.size(), o.fineness, layout.inputSize, layout.width, o.epochs,
        tiling::UsesTiles(cv::Size(o.size, o.size), layout) ? "by tiles at native resolution" : "stretched",
        settings.threads);
    Conditions("training starts");

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
        std::printf("epoch %3d  %6.2f s  train %.4f  val %.4f  load %s\n", p.epoch,
                    (now - epochStart) / 1000.0, p.trainLoss, p.valLoss, qPrintable(Load()));
        std::fflush(stdout);
        epochStart = now;
    };
    std::string trainError;
    if (!engine.Train(train, val, settings, progress, cancel, history, trainError))
    {
        std::fprintf(stderr, "training failed: %s\n", trainError.c_str());
        return false;
    }
    result.seconds = clock.elapsed() / 1000.0;
    std::printf("training: %.1f s in all, %.2f s per epoch\n", result.seconds, result.seconds / o.epochs);
    Conditions("training done");

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
        if (o.object)
        {
            shapes = raster::BoxesToShapes(prediction.boxes);
            CountDetections(raster::ShapeBoxes(sample.shapes, image.size(), image.size()), prediction.boxes,
                            det);
        }
        else
        {
            shapes =
                raster::MaskToShapes(prediction.labels, tiling::MinRegionArea(image.size(), engine.Layout()),
                                     prediction.probability);
            const cv::Mat truth = raster::RasterMask(sample.shapes, image.size(), image.size());
            for (int c = 0; c < classes.size(); ++c)
            {
                inter[size_t(c)] += cv::countNonZero((truth == c + 1) & (prediction.labels == c + 1));
                uni[size_t(c)] += cv::countNonZero((truth == c + 1) | (prediction.labels == c + 1));
            }
        }
        rates.Add(QString::fromStdString(sample.imagePath), image.size(), sample.shapes, shapes);
    }
    if (o.object)
    {
        result.recall = det.truths ? double(det.hits) / det.truths : 0.0;
        result.precision = det.predictions ? double(det.hits) / det.predictions : 0.0;
        std::printf("detection at IoU 0.5: recall %.3f, precision %.3f (%d boxes, %d predicted, %d hits)\n",
                    result.recall, result.precision, det.truths, det.predictions, det.hits);
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
        result.meanIou = sum / classes.size();
        std::printf("mean IoU over the defect classes: %.3f\n", result.meanIou);
    }
    result.missed = rates.MissedRates();
    result.overkill = rates.OverkillRates();
    for (int c = 0; c < classes.size(); ++c)
        std::printf("%-8s missed %.3f  overkill %.3f\n", qPrintable(classes.at(c)), result.missed[size_t(c)],
                    result.overkill[size_t(c)]);
    // The same images again on one thread: on two shared cores a second thread may only contend.
    std::vector<double> singleMs;
    const int threads = ModelEngine::Threads();
    ModelEngine::SetThreads(1);
    for (const Sample& sample : val)
    {
        const cv::Mat image = raster::ReadImage(sample.imagePath);
        QElapsedTimer predictClock;
        predictClock.start();
        engine.Predict(image);
        singleMs.push_back(predictClock.nsecsElapsed() / 1e6);
    }
    ModelEngine::SetThreads(threads);
    std::sort(singleMs.begin(), singleMs.end());
    if (!singleMs.empty())
        std::printf("predict one %d x %d image on 1 thread: median %.1f ms, slowest %.1f ms\n", o.size,
                    o.size, singleMs[singleMs.size() / 2], singleMs.back());
    std::sort(predictMs.begin(), predictMs.end());
    if (!predictMs.empty())
        std::printf("predict one %d x %d image: median %.1f ms, slowest %.1f ms (%d threads)\n", o.size,
                    o.size, predictMs[predictMs.size() / 2], predictMs.back(), ModelEngine::Threads());
    Conditions("prediction measured");
    if (!o.measureService)
        return true;
    // A large camera image goes by tiles at native resolution.
    SyntheticSet large;
    options.count = 3;
    options.size = 2048;
    if (large.Generate(dir.filePath("large"), options, error))
    {
        std::vector<double> largeMs;
        for (const QString& name : large.FileNames())
        {
            const cv::Mat image = raster::ReadImage(dir.filePath("large/" + name).toStdString());
            QElapsedTimer predictClock;
            predictClock.start();
            engine.Predict(image);
            largeMs.push_back(predictClock.nsecsElapsed() / 1e6);
        }
        std::sort(largeMs.begin(), largeMs.end());
        std::printf(
            "predict one 2048 x 2048 image by %zu tiles: median %.0f ms, slowest %.0f ms\n",
            tiling::TileRects(cv::Size(2048, 2048), layout.inputSize, tiling::Overlap(layout.inputSize))
                .size(),
            largeMs[largeMs.size() / 2], largeMs.back());
        Conditions("large prediction measured");
    }
    std::printf("peak memory: %ld MB\n", PeakRssMb());
    MeasureStatus(project, classes, o.object, o.fineness);
    Conditions("status measured");
    return true;
}

QByteArray WeightsHash(unsigned seed)
{
    QTemporaryDir dir;
    SyntheticSet set;
    SyntheticSet::Options options;
    options.count = 40;
    options.size = 128;
    QString error;
    if (!set.Generate(dir.filePath("datas"), options, error))
        return QByteArray();
    const QStringList classes = SyntheticSet::ClassNames(options.numClasses);
    DataSet data;
    data.Load(dir.filePath("datas"), classes);
    std::vector<Sample> train, val;
    TrainSettings settings;
    settings.epochs = 3;
    settings.seed = seed;
    data.Split(0.8, settings.seed, train, val);
    NetLayout layout = NetForFineness(false, 1);
    layout.numClasses = int(classes.size());
    layout.tileScale = 1.0;
    ModelEngine engine;
    engine.Create(layout, settings.seed);
    std::vector<EpochLoss> history;
    std::atomic_bool cancel(false);
    std::string failure;
    const QString file = dir.filePath("weights.pt");
    if (!engine.Train(
            train, val, settings, [](const TrainProgress&) {}, cancel, history, failure) ||
        !engine.Save(file.toStdString(), failure))
        return QByteArray();
    QFile weights(file);
    return weights.open(QIODevice::ReadOnly)
               ? QCryptographicHash::hash(weights.readAll(), QCryptographicHash::Sha256).toHex()
               : QByteArray();
}

} // namespace

int main(int argc, char** argv)
{
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
    QCoreApplication app(argc, argv);
    // The service logs every request; the figures are what this program prints.
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false"));
    const QStringList args = app.arguments();
    if (args.value(1) == "repro")
    {
        Conditions("reproducibility");
        const QByteArray first = WeightsHash(7);
        const QByteArray second = WeightsHash(7);
        const QByteArray other = WeightsHash(8);
        std::printf("weights.pt of two runs with seed 7: %s\n                                    %s -> %s\n",
                    first.constData(), second.constData(),
                    !first.isEmpty() && first == second ? "identical" : "DIFFERENT");
        std::printf("seed 8: %s -> %s\n", other.constData(),
                    other != first ? "differs, as it should" : "SAME");
        return !first.isEmpty() && first == second && other != first ? 0 : 1;
    }
    if (args.value(1) == "thin")
    {
        RunOptions o;
        o.thin = true;
        o.object = args.value(2) == "object";
        o.images = args.value(3, "60").toInt();
        o.epochs = args.value(4, "40").toInt();
        o.fineness = args.value(5, "2").toInt();
        o.size = args.value(6, "1024").toInt();
        o.classes = 2;
        o.measureService = false;
        RunResult tiled, stretched;
        std::printf("== by tiles at native resolution ==\n");
        if (!Run(o, tiled))
            return 1;
        std::printf("== stretched to the input ==\n");
        o.tileScale = 0.0;
        if (!Run(o, stretched))
            return 1;
        std::printf("== thin defects, %d images of %d x %d: tiles vs stretched ==\n", o.images, o.size,
                    o.size);
        if (o.object)
            std::printf("recall     %.3f vs %.3f\nprecision  %.3f vs %.3f\n", tiled.recall, stretched.recall,
                        tiled.precision, stretched.precision);
        else
            std::printf("mean IoU   %.3f vs %.3f\n", tiled.meanIou, stretched.meanIou);
        const QStringList classes = SyntheticSet::ClassNames(o.classes);
        for (int c = 0; c < classes.size(); ++c)
            std::printf("%-8s missed %.3f vs %.3f, overkill %.3f vs %.3f\n", qPrintable(classes.at(c)),
                        tiled.missed[size_t(c)], stretched.missed[size_t(c)], tiled.overkill[size_t(c)],
                        stretched.overkill[size_t(c)]);
        std::printf("training   %.0f s vs %.0f s\n", tiled.seconds, stretched.seconds);
        return 0;
    }
    RunOptions o;
    o.object = args.value(1) == "object";
    o.images = args.value(2, "200").toInt();
    o.epochs = args.value(3, "50").toInt();
    o.fineness = args.value(4, "2").toInt();
    o.size = args.value(5, "256").toInt();
    o.tileScale = args.value(6, "1").toDouble();
    RunResult result;
    return Run(o, result) ? 0 : 1;
}
