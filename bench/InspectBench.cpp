// Speed of a version on the line: OpenCV's DNN module running the exported ONNX model against libtorch
// running the weights, and the inspector's throughput on a folder with every core against one.
//  1. the time to predict one 256 x 256 image (decoding included), median of many, per runtime, with
//     one thread and with every core, and their ratios;
//  2. a folder of generated 256 x 256 images inspected with one worker of one thread (the floor), two
//     workers of one thread, and one worker of two threads, per runtime, in images per second.
// Weights are random: the speed of a network does not depend on them. Every figure comes with the load
// average of the machine, which other users share.
// Usage: InspectBench [images 1000] [fineness 3] [segment|object]
#include "LumoraInspect/Inspector.h"

#include "ComLib/Service/ServiceProtocol.h"
#include "TrainService/ModelEngine.h"
#include "TrainService/ModelSettings.h"
#include "TrainService/OnnxModel.h"
#include "TrainService/OpenCvRunner.h"
#include "TrainService/Predictor.h"
#include "TrainService/TrainJob.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstdio>

using namespace trainsvc;

namespace
{

QString Load()
{
    QFile file("/proc/loadavg");
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(' ', 0, 2)
                                          : QStringLiteral("?");
}

// Median milliseconds of predicting image, after a few runs to warm up.
double PredictMs(NetRunner& runner, const NetLayout& layout, const cv::Mat& image, int runs)
{
    for (int i = 0; i < 3; ++i)
        predict::Predict(runner, layout, image);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
    {
        QElapsedTimer timer;
        timer.start();
        predict::Predict(runner, layout, image);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::nth_element(times.begin(), times.begin() + long(times.size() / 2), times.end());
    return times[times.size() / 2];
}

void SetThreads(int n)
{
    ModelEngine::SetThreads(n);
    cv::setNumThreads(n);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = args.size() > 1 ? std::max(10, args.at(1).toInt()) : 1000;
    const int fineness = args.size() > 2 ? args.at(2).toInt() : 3;
    const bool detection = args.size() > 3 && args.at(3) == "object";

    QTemporaryDir dir;
    const comlib::protocol::FinenessLevel level = comlib::protocol::FinenessLevelOf(fineness);
    NetLayout layout;
    layout.detection = detection;
    layout.numClasses = 3;
    layout.inputSize = level.inputSize;
    layout.width = level.width;
    layout.tileScale = 1.0;
    ModelEngine engine;
    engine.Create(layout, 1);
    const QString modelDir = dir.path() + "/model";
    QDir().mkpath(modelDir);
    std::string why;
    comlib::protocol::ModelRecord record;
    record.classes = QStringList{"scratch", "spot", "dent"};
    record.aiType = detection ? "Object" : "Segment";
    record.inputSize = layout.inputSize;
    record.width = layout.width;
    record.settings = modelsettings::ToJson(layout, TrainSettings(), false);
    QFile config(modelDir + "/" + TrainJob::kConfigFile);
    if (!engine.Save((modelDir + "/" + TrainJob::kWeightsFile).toStdString(), why) ||
        !config.open(QIODevice::WriteOnly) || config.write(QJsonDocument(record.ToJson()).toJson()) <= 0)
    {
        std::printf("cannot write the model: %s\n", why.c_str());
        return 1;
    }
    config.close();
    std::string bytes;
    OpenCvRunner opencv;
    if (!onnxmodel::Build(layout, engine.State(), {}, bytes, why) || !opencv.Load(bytes, detection, why))
    {
        std::printf("cannot export the model: %s\n", why.c_str());
        return 1;
    }
    std::printf("%s network, input %d, width %d, %d cores; load %s\n",
                detection ? "detection" : "segmentation", layout.inputSize, layout.width,
                cv::getNumberOfCPUs(), qPrintable(Load()));

    cv::Mat image(256, 256, CV_8UC3);
    cv::randu(image, 0, 256);
    const int cores = std::max(1, cv::getNumberOfCPUs());
    for (const int threads : {1, cores})
    {
        SetThreads(threads);
        const double torchMs = PredictMs(engine, layout, image, 40);
        const double opencvMs = PredictMs(opencv, layout, image, 40);
        std::printf("one 256x256 image, %d thread(s): libtorch %.2f ms, OpenCV %.2f ms, OpenCV/libtorch %.2f "
                    "(goal <= 1.5); load %s\n",
                    threads, torchMs, opencvMs, opencvMs / torchMs, qPrintable(Load()));
    }

    const QString images = dir.path() + "/images";
    QDir().mkpath(images);
    cv::RNG rng(5);
    for (int i = 0; i < count; ++i)
    {
        cv::Mat m(256, 256, CV_8UC3);
        rng.fill(m, cv::RNG::UNIFORM, 0, 256);
        cv::imwrite(QString("%1/img_%2.png").arg(images).arg(i, 5, 10, QChar('0')).toStdString(), m);
    }
    QStringList files = QDir(images).entryList({"*.png"}, QDir::Files, QDir::Name);
    for (QString& f : files)
        f = images + "/" + f;
    for (const DeployModel::Runtime runtime : {DeployModel::Runtime::OpenCv, DeployModel::Runtime::Torch})
    {
        DeployModel model;
        QString error;
        if (!model.Load(modelDir, runtime, error))
        {
            std::printf("cannot load the model: %s\n", qPrintable(error));
            return 1;
        }
        const char* name = runtime == DeployModel::Runtime::Torch ? "libtorch" : "OpenCV";
        struct Setup
        {
            int workers;
            int threads;
        };
        double floor = 0.0;
        for (const Setup setup : {Setup{1, 1}, Setup{cores, 1}, Setup{1, cores}})
        {
            Inspector inspector(model, std::vector<float>(3, 0.0f));
            inspector.SetThreadsPerWorker(setup.threads);
            std::vector<Inspector::Row> rows;
            Inspector::Summary summary;
            if (!inspector.Run(files, images, QString(), setup.workers, {}, rows, summary, error))
            {
                std::printf("inspection failed: %s\n", qPrintable(error));
                return 1;
            }
            const double rate = summary.inspected / summary.seconds;
            if (floor == 0.0)
                floor = rate;
            std::printf(
                "%s, %d images, %d worker(s) x %d thread(s): %.1f images/s, %.2f x one core (goal >= 1.8 "
                "on 2 cores); load %s\n",
                name, summary.inspected, setup.workers, setup.threads, rate, rate / floor,
                qPrintable(Load()));
        }
    }
    return 0;
}
