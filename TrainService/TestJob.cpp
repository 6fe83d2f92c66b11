#include "TrainService/TestJob.h"

#include "Nexil/ImageFiles.h"
#include "TrainService/DataSet.h"

#include "ComLib/Service/ServiceProtocol.h"
#include "TrainService/ModelEngine.h"
#include "TrainService/PredictionFile.h"
#include "TrainService/ProjectPaths.h"
#include "TrainService/Raster.h"
#include "TrainService/TestRates.h"
#include "TrainService/TrainJob.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtDebug>

using namespace trainsvc;

namespace
{

// Predicted regions smaller than this many input pixels are noise, not defects.
constexpr double kMinInputArea = 6.0;

QVector<double> ToVector(const std::vector<double>& values)
{
    return QVector<double>(values.begin(), values.end());
}

} // namespace

TestJob::TestJob(TestConfig config) : m_config(std::move(config)) {}

bool TestJob::LoadModel(const QString& modelDir, ModelEngine& engine, QStringList& classes, QString& error)
{
    QFile file(modelDir + QLatin1Char('/') + QLatin1String(TrainJob::kConfigFile));
    if (!file.open(QIODevice::ReadOnly))
    {
        error = QStringLiteral("no model in %1").arg(modelDir);
        return false;
    }
    const QJsonObject config = QJsonDocument::fromJson(file.readAll()).object();
    classes = comlib::protocol::ModelClassesFromJson(config);
    NetLayout layout;
    layout.detection = config.value(QLatin1String("ai_type")).toString() == QLatin1String("Object");
    layout.numClasses = int(classes.size());
    layout.inputSize = config.value(QLatin1String("input_size")).toInt(0);
    layout.width = config.value(QLatin1String("width")).toInt(0);
    if (classes.isEmpty() || layout.inputSize <= 0 || layout.width <= 0)
    {
        error = QStringLiteral("%1 does not describe a model").arg(file.fileName());
        return false;
    }
    std::string loadError;
    const QString weights = modelDir + QLatin1Char('/') + QLatin1String(TrainJob::kWeightsFile);
    if (!engine.Load(layout, weights.toStdString(), loadError))
    {
        error = QStringLiteral("cannot load %1: %2").arg(weights, QString::fromStdString(loadError));
        return false;
    }
    return true;
}

void TestJob::Run(const std::atomic_bool& cancel, const JobQueue::Report& report)
{
    ClearStaleParts(m_config.project);
    ModelEngine engine;
    QStringList classes;
    QString error;
    if (!LoadModel(m_config.modelPath, engine, classes, error))
    {
        report(JobQueue::Failed(error));
        return;
    }
    const QStringList images = DataSet::ImageFiles(m_config.predictPath);
    if (images.isEmpty())
    {
        report(JobQueue::Failed(QStringLiteral("no images under %1").arg(m_config.predictPath)));
        return;
    }
    TestRates rates(int(classes.size()));
    const double inputArea = double(engine.Layout().inputSize) * engine.Layout().inputSize;
    for (int i = 0; i < images.size(); ++i)
    {
        if (cancel)
        {
            report(JobQueue::Cancelled());
            return;
        }
        comlib::protocol::StatusReply progress;
        progress.status = QLatin1String(comlib::protocol::kStatusRunning);
        progress.progress = {i, int(images.size())};
        report(progress.ToJson());
        const QString& path = images.at(i);
        const cv::Mat image = raster::ReadImage(path.toStdString());
        if (image.empty())
        {
            qWarning().noquote() << "skipped unreadable image" << path;
            continue;
        }
        const Prediction prediction = engine.Predict(image);
        const std::vector<Shape> shapes =
            engine.Layout().detection
                ? raster::BoxesToShapes(prediction.boxes)
                : raster::MaskToShapes(prediction.labels, kMinInputArea * image.total() / inputArea);
        const QString target =
            comlib::protocol::PredictionPath(m_config.predictPath, m_config.savePredictPath, path);
        // A link inside the result folder must not lead the file elsewhere.
        if (!SameOrInside(ResolvedPath(QFileInfo(target).path()), m_config.savePredictPath))
        {
            report(JobQueue::Failed(
                QStringLiteral("%1 leads outside %2").arg(target, m_config.savePredictPath)));
            return;
        }
        if (!WritePredictionFile(target, QFileInfo(path).fileName(), image.size(), shapes, classes, error))
        {
            report(JobQueue::Failed(error));
            return;
        }
        Sample truth;
        int unknownTitles = 0;
        if (m_config.labeled &&
            DataSet::ReadAnnotation(ImageFiles::AnnotationPath(path), classes, truth, unknownTitles))
            rates.Add(path, image.size(), truth.shapes, shapes);
    }
    const bool labeled = m_config.labeled;
    comlib::protocol::StatusReply done;
    done.status = QLatin1String(comlib::protocol::kStatusDone);
    done.lossRate = labeled ? ToVector(rates.MissedRates()) : QVector<double>();
    done.overkillRate = labeled ? ToVector(rates.OverkillRates()) : QVector<double>();
    done.lossImagePaths = rates.MissedImages();
    done.overkillImagePaths = rates.OverkillImages();
    report(done.ToJson());
}
