#include "TrainService/TestJob.h"

#include "Nexil/ImageFiles.h"
#include "TrainService/DataSet.h"

#include "ComLib/AtomicFile.h"
#include "ComLib/Service/ServiceProtocol.h"
#include "TrainService/ModelEngine.h"
#include "TrainService/ModelSettings.h"
#include "TrainService/PredictionFile.h"
#include "TrainService/Predictor.h"
#include "TrainService/ProjectPaths.h"
#include "TrainService/Raster.h"
#include "TrainService/TestRates.h"
#include "TrainService/TrainJob.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtDebug>

#include <algorithm>

using namespace trainsvc;

namespace
{

template <typename T> QVector<double> ToVector(const std::vector<T>& values)
{
    return QVector<double>(values.begin(), values.end());
}

QVector<bool> PresentClasses(const std::vector<Shape>& shapes, int classes)
{
    QVector<bool> present(classes, false);
    for (const Shape& shape : shapes)
    {
        if (shape.cls >= 0 && shape.cls < classes)
            present[shape.cls] = true;
    }
    return present;
}

} // namespace

TestJob::TestJob(TestConfig config) : m_config(std::move(config)) {}

std::vector<float> TestJob::SavedThresholds(const QString& modelDir, const QStringList& classes)
{
    QFile file(modelDir + QLatin1Char('/') + QLatin1String(comlib::protocol::kThresholdsFile));
    if (!file.exists())
        return std::vector<float>(size_t(classes.size()), 0.0f);
    // A few classes take a few hundred bytes; anything far larger is no thresholds file.
    const QByteArray json =
        file.size() > (1 << 20) || !file.open(QIODevice::ReadOnly) ? QByteArray() : file.readAll();
    return ThresholdsOf(json, classes, file.fileName());
}

std::vector<float> TestJob::ThresholdsOf(const QByteArray& json, const QStringList& classes,
                                         const QString& source)
{
    std::vector<float> thresholds(size_t(classes.size()), 0.0f);
    comlib::protocol::ClassThresholds saved;
    QString error = QStringLiteral("cannot read the file");
    if (json.isEmpty() ||
        !comlib::protocol::ClassThresholds::FromJson(QJsonDocument::fromJson(json).object(), saved, error))
    {
        qWarning().noquote() << "thresholds ignored:" << source << error;
        return thresholds;
    }
    for (int c = 0; c < classes.size(); ++c)
        thresholds[size_t(c)] = float(saved.ThresholdOf(classes.at(c), 0));
    return thresholds;
}

std::vector<Shape> TestJob::AtThresholds(const std::vector<Shape>& shapes,
                                         const std::vector<float>& thresholds)
{
    std::vector<Shape> kept;
    for (const Shape& shape : shapes)
    {
        if (shape.cls < 0 || size_t(shape.cls) >= thresholds.size() ||
            shape.score >= thresholds[size_t(shape.cls)])
            kept.push_back(shape);
    }
    return kept;
}

bool TestJob::DescribeModel(const QJsonObject& config, QStringList& classes, NetLayout& layout,
                            IntensityWindow& window)
{
    comlib::protocol::ModelRecord record;
    QString recordError;
    const bool described = comlib::protocol::ModelRecord::FromJson(config, record, recordError);
    classes = record.classes;
    layout = NetLayout();
    layout.detection = record.aiType == QLatin1String("Object");
    layout.numClasses = int(classes.size());
    layout.inputSize = record.inputSize;
    layout.width = record.width;
    modelsettings::FromJson(record.settings, layout, window);
    // Sizes from a hostile file must not build a network that takes all memory.
    return described && !classes.isEmpty() && layout.inputSize >= 16 && layout.inputSize <= 1024 &&
           layout.width > 0 && layout.width <= 256;
}

bool TestJob::LoadModel(const QString& modelDir, ModelEngine& engine, QStringList& classes, QString& error,
                        IntensityWindow* window)
{
    QFile file(modelDir + QLatin1Char('/') + QLatin1String(TrainJob::kConfigFile));
    if (!file.open(QIODevice::ReadOnly))
    {
        error = QStringLiteral("no model in %1").arg(modelDir);
        return false;
    }
    NetLayout layout;
    IntensityWindow rule;
    const bool described =
        DescribeModel(QJsonDocument::fromJson(file.readAll()).object(), classes, layout, rule);
    if (window)
        *window = rule;
    if (!described)
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

comlib::protocol::TestSummary::Image TestJob::SummaryRow(const QString& path, cv::Size imageSize,
                                                         const std::vector<Shape>& scored,
                                                         const std::vector<Shape>* truth, int classes)
{
    comlib::protocol::TestSummary::Image row{path, ToVector(predict::HighestScores(scored, classes)),
                                             std::nullopt};
    if (truth)
    {
        row.truth = PresentClasses(*truth, classes);
        row.hits = ToVector(TestRates::HitScores(imageSize, *truth, scored, classes));
    }
    return row;
}

void TestJob::Run(const std::atomic_bool& cancel, const JobQueue::Report& report)
{
    ClearStaleParts(m_config.project);
    ModelEngine engine;
    QStringList classes;
    QString error;
    IntensityWindow window;
    if (!LoadModel(m_config.modelPath, engine, classes, error, &window))
    {
        report(JobQueue::Failed(error));
        return;
    }
    // The summary keeps every score, so the program can choose thresholds again; the prediction files
    // and the rates hold what the saved thresholds let through.
    const std::vector<float> thresholds = SavedThresholds(m_config.modelPath, classes);
    const QStringList images = m_config.images ? *m_config.images : DataSet::ImageFiles(m_config.predictPath);
    if (images.isEmpty())
    {
        report(JobQueue::Failed(QStringLiteral("no images under %1").arg(m_config.predictPath)));
        return;
    }
    TestRates rates(int(classes.size()));
    comlib::protocol::TestSummary summary;
    summary.classes = classes;
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
        const cv::Mat image = raster::ReadImage(path.toStdString(), window);
        if (image.empty())
        {
            qWarning().noquote() << "skipped unreadable image" << path;
            continue;
        }
        const Prediction prediction = engine.Predict(image);
        if (prediction.failed)
        {
            report(JobQueue::Failed(QStringLiteral("the network could not predict %1").arg(path)));
            return;
        }
        const std::vector<Shape> scored = predict::Shapes(prediction, engine.Layout(), image.size());
        const std::vector<Shape> shapes = AtThresholds(scored, thresholds);
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
        const bool hasTruth = m_config.labeled && DataSet::ReadAnnotation(ImageFiles::AnnotationPath(path),
                                                                          classes, truth, unknownTitles);
        if (hasTruth)
            rates.Add(path, image.size(), truth.shapes, shapes);
        summary.images.append(
            SummaryRow(path, image.size(), scored, hasTruth ? &truth.shapes : nullptr, int(classes.size())));
    }
    const QString summaryPath =
        m_config.savePredictPath + QLatin1Char('/') + QLatin1String(comlib::protocol::kTestSummaryFile);
    if (!QDir().mkpath(m_config.savePredictPath) ||
        !SameOrInside(ResolvedPath(summaryPath), m_config.savePredictPath) ||
        !comlib::WriteFileAtomically(summaryPath,
                                     QJsonDocument(summary.ToJson()).toJson(QJsonDocument::Compact), error))
    {
        report(
            JobQueue::Failed(error.isEmpty() ? QStringLiteral("cannot write %1").arg(summaryPath) : error));
        return;
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
