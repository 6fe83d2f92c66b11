#include "TrainService/DeployModel.h"

#include "ComLib/Service/ServiceProtocol.h"
#include "TrainService/ModelEngine.h"
#include "TrainService/OnnxModel.h"
#include "TrainService/OpenCvRunner.h"
#include "TrainService/Predictor.h"
#include "TrainService/TestJob.h"
#include "TrainService/TrainJob.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

using namespace trainsvc;
namespace protocol = comlib::protocol;

namespace
{

// Far beyond any record or thresholds file, and beyond the largest network of the fineness levels.
constexpr qint64 kMaxJsonBytes = 16 << 20;
constexpr qint64 kMaxOnnxBytes = qint64(1) << 30;

QByteArray ReadSmall(const QString& path, qint64 limit)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || file.size() > limit || !file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

std::string Compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::string Compact(const QJsonArray& array)
{
    return QJsonDocument(array).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace

bool DeployModel::Load(const QString& path, Runtime runtime, QString& error)
{
    m_runtime = runtime;
    if (QFileInfo(path).isDir())
        return LoadFolder(path, error);
    if (runtime == Runtime::Torch)
    {
        error = QStringLiteral("the torch runtime needs a model folder, not %1").arg(path);
        return false;
    }
    return LoadOnnx(path, error);
}

bool DeployModel::LoadFolder(const QString& modelDir, QString& error)
{
    const QByteArray config =
        ReadSmall(modelDir + QLatin1Char('/') + QLatin1String(TrainJob::kConfigFile), kMaxJsonBytes);
    if (config.isEmpty() ||
        !TestJob::DescribeModel(QJsonDocument::fromJson(config).object(), m_classes, m_layout, m_window))
    {
        error = QStringLiteral("no model in %1").arg(modelDir);
        return false;
    }
    m_modelDir = modelDir;
    m_saved = TestJob::SavedThresholds(modelDir, m_classes);
    if (m_runtime == Runtime::Torch)
    {
        // Loaded once here, so that a broken weights file fails before any image is read.
        ModelEngine engine;
        QStringList classes;
        return TestJob::LoadModel(modelDir, engine, classes, error);
    }
    std::string bytes;
    if (!Export(modelDir, bytes, error))
        return false;
    m_onnx = std::move(bytes);
    return true;
}

bool DeployModel::LoadOnnx(const QString& file, QString& error)
{
    m_onnx = ReadSmall(file, kMaxOnnxBytes).toStdString();
    onnxmodel::Metadata metadata;
    std::string why;
    if (m_onnx.empty() || !onnxmodel::ReadMetadata(m_onnx, metadata, why))
    {
        error = QStringLiteral("%1 is no readable ONNX model").arg(file);
        return false;
    }
    QByteArray record, thresholds;
    for (const auto& [key, value] : metadata)
    {
        if (key == protocol::kOnnxModelRecord)
            record = QByteArray::fromStdString(value);
        else if (key == protocol::kOnnxThresholdsRecord)
            thresholds = QByteArray::fromStdString(value);
    }
    if (!TestJob::DescribeModel(QJsonDocument::fromJson(record).object(), m_classes, m_layout, m_window))
    {
        error = QStringLiteral("%1 was not exported from a trained version (no model record)").arg(file);
        return false;
    }
    m_saved = thresholds.isEmpty() ? std::vector<float>(size_t(m_classes.size()), 0.0f)
                                   : TestJob::ThresholdsOf(thresholds, m_classes, file);
    // One runner now, so that a model OpenCV cannot read fails before any image is read.
    return MakeRunner(error) != nullptr;
}

std::unique_ptr<NetRunner> DeployModel::MakeRunner(QString& error) const
{
    if (m_runtime == Runtime::Torch)
    {
        auto engine = std::make_unique<ModelEngine>();
        QStringList classes;
        if (!TestJob::LoadModel(m_modelDir, *engine, classes, error))
            return nullptr;
        return engine;
    }
    auto runner = std::make_unique<OpenCvRunner>();
    std::string why;
    if (!runner->Load(m_onnx, m_layout.detection, why))
    {
        error = QStringLiteral("OpenCV cannot read the model: %1").arg(QString::fromStdString(why));
        return nullptr;
    }
    return runner;
}

bool DeployModel::Export(const QString& modelDir, std::string& bytes, QString& error, bool* noModel)
{
    ModelEngine engine;
    QStringList classes;
    IntensityWindow window;
    const bool loaded = TestJob::LoadModel(modelDir, engine, classes, error, &window);
    if (noModel)
        *noModel = !loaded;
    if (!loaded)
        return false;
    const QJsonObject record =
        QJsonDocument::fromJson(
            ReadSmall(modelDir + QLatin1Char('/') + QLatin1String(TrainJob::kConfigFile), kMaxJsonBytes))
            .object();
    const NetLayout& layout = engine.Layout();
    const QByteArray saved =
        ReadSmall(modelDir + QLatin1Char('/') + QLatin1String(protocol::kThresholdsFile), kMaxJsonBytes);
    const std::vector<float> thresholds = TestJob::SavedThresholds(modelDir, classes);
    protocol::ClassThresholds parsed;
    QString ignored;
    const bool hasSaved =
        protocol::ClassThresholds::FromJson(QJsonDocument::fromJson(saved).object(), parsed, ignored);
    QJsonObject thresholdMap;
    for (const QString& name : classes)
        thresholdMap.insert(name, hasSaved ? parsed.ThresholdOf(name, 0) : 0.0);
    protocol::ModelRecord described;
    QString recordError;
    protocol::ModelRecord::FromJson(record, described, recordError);
    const QJsonObject& settings = described.settings;
    const QJsonObject normalisation{
        {QStringLiteral("channels"), QStringLiteral("BGR")},
        {QStringLiteral("layout"), QStringLiteral("NCHW")},
        {QStringLiteral("mean"), predict::kInputMean},
        {QStringLiteral("std"), predict::kInputStd},
        {QStringLiteral("formula"), QStringLiteral("(pixel / 255 - mean) / std")},
        {QStringLiteral("resize"),
         QStringLiteral("images not tiled are stretched to the input side (bilinear)")}};
    onnxmodel::Metadata metadata{
        {protocol::kOnnxModelRecord, Compact(record)},
        {protocol::kOnnxClasses, Compact(QJsonArray::fromStringList(classes))},
        {protocol::kOnnxInputSize, std::to_string(layout.inputSize)},
        {protocol::kOnnxNormalisation, Compact(normalisation)},
        {protocol::kOnnxTiling, Compact(settings.value(QLatin1String("tiling")).toObject())},
        {protocol::kOnnxIntensityWindow,
         Compact(settings.value(QLatin1String("intensity_window")).toObject())},
        {protocol::kOnnxThresholds, Compact(thresholdMap)},
        {protocol::kOnnxDataFingerprint, described.dataFingerprint.toStdString()}};
    if (hasSaved)
        metadata.emplace_back(protocol::kOnnxThresholdsRecord, Compact(parsed.ToJson()));

    std::string why;
    if (!onnxmodel::Build(layout, engine.State(), metadata, bytes, why) || !onnxmodel::Check(bytes, why))
    {
        error = QStringLiteral("the ONNX model cannot be made: %1").arg(QString::fromStdString(why));
        return false;
    }
    OpenCvRunner runner;
    if (!runner.Load(bytes, layout.detection, why))
    {
        error = QStringLiteral("OpenCV cannot read the exported model: %1").arg(QString::fromStdString(why));
        return false;
    }
    const Parity parity = CompareRuntimes(engine, runner, layout, thresholds, ParityImages(layout.inputSize));
    if (parity.worstRatio > 1.0 || !parity.sameDecisions)
    {
        error = QStringLiteral("the exported model does not agree with libtorch (outputs off by %1 × the "
                               "tolerance, decisions %2)")
                    .arg(parity.worstRatio, 0, 'g', 3)
                    .arg(parity.sameDecisions ? QStringLiteral("equal") : QStringLiteral("different"));
        return false;
    }
    return true;
}

DeployModel::Parity DeployModel::CompareRuntimes(NetRunner& reference, NetRunner& other,
                                                 const NetLayout& layout,
                                                 const std::vector<float>& thresholds,
                                                 const std::vector<cv::Mat>& images)
{
    Parity parity;
    for (const cv::Mat& image : images)
    {
        const std::vector<cv::Mat> a = reference.Run({&image});
        const std::vector<cv::Mat> b = other.Run({&image});
        if (a.empty() || a.size() != b.size())
            return {HUGE_VAL, false};
        for (size_t i = 0; i < a.size(); ++i)
        {
            if (a[i].total() != b[i].total() || a[i].type() != b[i].type())
                return {HUGE_VAL, false};
            const cv::Mat fa = a[i].reshape(1, 1), fb = b[i].reshape(1, 1);
            const double scale = std::max(1.0, cv::norm(fa, cv::NORM_INF));
            parity.worstRatio =
                std::max(parity.worstRatio, cv::norm(fa, fb, cv::NORM_INF) / (kParityTolerance * scale));
        }
        const cv::Size size = image.size();
        const std::vector<Shape> sa =
            predict::Shapes(predict::Predict(reference, layout, image), layout, size);
        const std::vector<Shape> sb = predict::Shapes(predict::Predict(other, layout, image), layout, size);
        parity.sameDecisions = parity.sameDecisions && predict::ClassDecisions(sa, thresholds) ==
                                                           predict::ClassDecisions(sb, thresholds);
    }
    return parity;
}

std::vector<cv::Mat> DeployModel::ParityImages(int size)
{
    std::vector<cv::Mat> images;
    cv::RNG rng(20240611);
    cv::Mat noise(size, size, CV_8UC3);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    images.push_back(noise);
    cv::Mat gradient(size, size, CV_8UC3);
    for (int y = 0; y < size; ++y)
    {
        for (int x = 0; x < size; ++x)
            gradient.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(x * 255 / size), uchar(y * 255 / size), 128);
    }
    images.push_back(gradient);
    cv::Mat blobs(size, size, CV_8UC3, cv::Scalar(90, 90, 90));
    for (int i = 0; i < 6; ++i)
        cv::circle(blobs, cv::Point(rng.uniform(0, size), rng.uniform(0, size)), rng.uniform(2, size / 6),
                   cv::Scalar::all(rng.uniform(0, 256)), cv::FILLED);
    images.push_back(blobs);
    return images;
}
