// A tiny trained version exported as ONNX: the checker passes, OpenCV's DNN module runs it, and its
// outputs and decisions match libtorch's and the service's test.
#include "SyntheticSet.h"
#include "TinyVersion.h"

#include "ComLib/Service/ServiceProtocol.h"
#include "TrainService/DataSet.h"
#include "TrainService/DeployModel.h"
#include "TrainService/ModelEngine.h"
#include "TrainService/ModelSettings.h"
#include "TrainService/OnnxModel.h"
#include "TrainService/OpenCvRunner.h"
#include "TrainService/Predictor.h"
#include "TrainService/Raster.h"
#include "TrainService/TestJob.h"
#include "TrainService/Tiling.h"
#include "TrainService/TrainJob.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <atomic>

using namespace trainsvc;
namespace protocol = comlib::protocol;

namespace
{

QString MetadataValue(const onnxmodel::Metadata& metadata, const char* key)
{
    for (const auto& [k, v] : metadata)
    {
        if (k == key)
            return QString::fromStdString(v);
    }
    return {};
}

// Per class whether a prediction file holds a shape of it.
std::vector<bool> FileDecisions(const QString& path, const QStringList& classes)
{
    QFile file(path);
    std::vector<bool> ng(size_t(classes.size()), false);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QJsonValue& shape : QJsonDocument::fromJson(file.readAll()).object().value("shapes").toArray())
    {
        const int cls = int(classes.indexOf(shape.toObject().value("label").toString()));
        if (cls >= 0)
            ng[size_t(cls)] = true;
    }
    return ng;
}

// A runner whose outputs drift from another's by a fixed offset.
class DriftingRunner : public NetRunner
{
public:
    DriftingRunner(NetRunner& base, float drift) : m_base(base), m_drift(drift) {}
    std::vector<cv::Mat> Run(const std::vector<const cv::Mat*>& inputs) override
    {
        std::vector<cv::Mat> out = m_base.Run(inputs);
        for (cv::Mat& m : out)
            m += m_drift;
        return out;
    }

private:
    NetRunner& m_base;
    float m_drift;
};

// Outputs of fixed shapes, whatever the input, as a hostile model file could give.
class FixedRunner : public NetRunner
{
public:
    explicit FixedRunner(std::vector<std::vector<int>> shapes) : m_shapes(std::move(shapes)) {}
    std::vector<cv::Mat> Run(const std::vector<const cv::Mat*>&) override
    {
        std::vector<cv::Mat> out;
        for (const std::vector<int>& shape : m_shapes)
            out.emplace_back(int(shape.size()), shape.data(), CV_32F, cv::Scalar(5.0));
        return out;
    }

private:
    std::vector<std::vector<int>> m_shapes;
};

} // namespace

class tst_OnnxExport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void exportMatchesService_data();
    void exportMatchesService();
    void refusals();
};

void tst_OnnxExport::exportMatchesService_data()
{
    QTest::addColumn<bool>("detection");
    QTest::newRow("segmentation") << false;
    QTest::newRow("detection") << true;
}

void tst_OnnxExport::exportMatchesService()
{
    QFETCH(bool, detection);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString error;
    QVERIFY2(MakeTinyVersion(dir.path(), detection, error), qPrintable(error));
    const QString modelDir = dir.path() + "/model";

    std::string bytes;
    QVERIFY2(DeployModel::Export(modelDir, bytes, error), qPrintable(error));
    std::string why;
    QVERIFY2(onnxmodel::Check(bytes, why), why.c_str());
    onnxmodel::Metadata metadata;
    QVERIFY(onnxmodel::ReadMetadata(bytes, metadata, why));
    const QStringList classes = SyntheticSet::ClassNames(2);
    QCOMPARE(QJsonDocument::fromJson(MetadataValue(metadata, protocol::kOnnxClasses).toUtf8()).array(),
             QJsonArray::fromStringList(classes));
    QCOMPARE(MetadataValue(metadata, protocol::kOnnxInputSize), QString("64"));
    const QJsonObject thresholds =
        QJsonDocument::fromJson(MetadataValue(metadata, protocol::kOnnxThresholds).toUtf8()).object();
    QCOMPARE(thresholds.value(classes.at(1)).toDouble(), 0.3);
    QCOMPARE(QJsonDocument::fromJson(MetadataValue(metadata, protocol::kOnnxTiling).toUtf8())
                 .object()
                 .value("scale"),
             QJsonValue(0.5));
    QVERIFY(QJsonDocument::fromJson(MetadataValue(metadata, protocol::kOnnxIntensityWindow).toUtf8())
                .object()
                .contains("low_quantile"));
    DataSet data;
    data.Load(dir.path() + "/images", classes);
    QCOMPARE(MetadataValue(metadata, protocol::kOnnxDataFingerprint), data.Fingerprint());

    // The exported file alone: read back with its thresholds, run by OpenCV.
    const QString onnxFile = dir.path() + "/exported.onnx";
    QVERIFY(WriteTestFile(onnxFile, QByteArray::fromStdString(bytes)));
    DeployModel fromFile;
    QVERIFY2(fromFile.Load(onnxFile, DeployModel::Runtime::OpenCv, error), qPrintable(error));
    QCOMPARE(fromFile.Classes(), classes);
    QCOMPARE(fromFile.Layout().detection, detection);
    QCOMPARE(fromFile.Layout().tileScale, 0.5);
    QCOMPARE(fromFile.SavedThresholds(), std::vector<float>({0.0f, 0.3f}));
    DeployModel torchModel;
    QVERIFY2(torchModel.Load(modelDir, DeployModel::Runtime::Torch, error), qPrintable(error));
    std::unique_ptr<NetRunner> opencv = fromFile.MakeRunner(error);
    std::unique_ptr<NetRunner> torch = torchModel.MakeRunner(error);
    QVERIFY(opencv && torch);

    // A large image, which both the service and the runtimes cut into tiles (200 px at the tile scale
    // of 0.5 exceeds 1.5 × the input of 64).
    cv::Mat large;
    cv::resize(raster::ReadImage((dir.path() + "/images/img_0000.png").toStdString()), large,
               cv::Size(400, 400));
    QVERIFY(cv::imwrite((dir.path() + "/images/large.png").toStdString(), large));
    QVERIFY(tiling::UsesTiles(large.size(), fromFile.Layout()));

    // Raw outputs agree on the training images too, at the input size.
    std::vector<cv::Mat> inputs;
    const QStringList images = DataSet::ImageFiles(dir.path() + "/images");
    for (const QString& image : images)
        inputs.push_back(raster::ResizeInput(raster::ReadImage(image.toStdString()), 64));
    const DeployModel::Parity parity =
        DeployModel::CompareRuntimes(*torch, *opencv, fromFile.Layout(), fromFile.SavedThresholds(), inputs);
    QVERIFY2(parity.worstRatio <= 1.0, qPrintable(QString::number(parity.worstRatio)));
    QVERIFY(parity.sameDecisions);

    // The service's test over the same images against OpenCV's predictions at the saved thresholds,
    // image by image.
    TestConfig config;
    config.predictPath = dir.path() + "/images";
    config.savePredictPath = dir.path() + "/tested";
    config.modelPath = modelDir;
    QJsonObject last;
    TestJob(config).Run(std::atomic_bool(false), [&last](const QJsonObject& reply) { last = reply; });
    QCOMPARE(last.value("status").toString(), QString(protocol::kStatusDone));
    int ngImages = 0;
    for (const QString& path : images)
    {
        const cv::Mat image = raster::ReadImage(path.toStdString(), fromFile.Window());
        const std::vector<Shape> shapes = predict::Shapes(predict::Predict(*opencv, fromFile.Layout(), image),
                                                          fromFile.Layout(), image.size());
        const std::vector<bool> mine = predict::ClassDecisions(shapes, fromFile.SavedThresholds());
        const QString file = protocol::PredictionPath(config.predictPath, config.savePredictPath, path);
        QCOMPARE(mine, FileDecisions(file, classes));
        ngImages += std::count(mine.begin(), mine.end(), true) > 0;
        // By tiles (batches of several inputs) the runtimes agree too.
        const auto tiledDecisions = [&](NetRunner& runner)
        {
            return predict::ClassDecisions(
                predict::Shapes(predict::Predict(runner, fromFile.Layout(), image, true), fromFile.Layout(),
                                image.size()),
                fromFile.SavedThresholds());
        };
        QCOMPARE(tiledDecisions(*opencv), tiledDecisions(*torch));
    }
    // The generated set and seeds give both kinds, so that the comparison can tell them apart.
    QVERIFY(ngImages > 0 && ngImages < images.size());
}

void tst_OnnxExport::refusals()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString error;
    std::string bytes;
    QVERIFY(!DeployModel::Export(dir.path(), bytes, error));
    QVERIFY(error.contains("no model"));

    // Weights that lack a module or do not fit the layout build no model.
    NetLayout layout;
    layout.inputSize = 64;
    layout.width = 4;
    ModelEngine engine;
    engine.Create(layout, 1);
    std::vector<NamedTensor> state = engine.State();
    std::string why;
    QVERIFY(onnxmodel::Build(layout, state, {}, bytes, why));
    QVERIFY2(onnxmodel::Check(bytes, why), why.c_str());
    std::vector<NamedTensor> missing = state;
    missing.erase(missing.begin() + 3);
    QVERIFY(!onnxmodel::Build(layout, missing, {}, bytes, why));
    QVERIFY(why.find("lack") != std::string::npos);
    NetLayout moreClasses = layout;
    moreClasses.numClasses = 2;
    QVERIFY(!onnxmodel::Build(moreClasses, state, {}, bytes, why));
    QVERIFY(!onnxmodel::Check("not a model", why));

    // A runtime whose outputs drift beyond the tolerance fails the parity check.
    QVERIFY(onnxmodel::Build(layout, state, {}, bytes, why));
    OpenCvRunner runner;
    QVERIFY2(runner.Load(bytes, false, why), why.c_str());
    const std::vector<cv::Mat> images = DeployModel::ParityImages(64);
    QVERIFY(DeployModel::CompareRuntimes(engine, runner, layout, {0.0f}, images).worstRatio <= 1.0);
    DriftingRunner drifting(runner, 0.05f);
    QVERIFY(DeployModel::CompareRuntimes(engine, drifting, layout, {0.0f}, images).worstRatio > 1.0);

    // Outputs that do not fit the layout give a failed prediction; the planes are never read.
    const cv::Mat image(64, 64, CV_8UC3, cv::Scalar::all(100));
    NetLayout detector = layout;
    detector.detection = true;
    const struct
    {
        const NetLayout* layout;
        std::vector<std::vector<int>> shapes;
    } wrong[] = {{&layout, {{1, 3, 64, 64}}},
                 {&layout, {{1, 2, 8, 8}}},
                 {&layout, {{1, 2, 64, 64}, {1, 2, 64, 64}}},
                 {&detector, {{1, 1, 16, 16}, {1, 2, 4, 4}, {1, 2, 16, 16}}},
                 {&detector, {{1, 1, 16, 16}, {1, 2, 16, 16}}}};
    for (const auto& w : wrong)
    {
        FixedRunner fixed(w.shapes);
        const Prediction p = predict::Predict(fixed, *w.layout, image);
        QVERIFY(p.failed && p.labels.empty() && p.boxes.empty());
        QVERIFY(predict::Predict(fixed, *w.layout, image, true).failed);
    }
    FixedRunner fitting({{1, 1, 16, 16}, {1, 2, 16, 16}, {1, 2, 16, 16}});
    const Prediction fits = predict::Predict(fitting, detector, image);
    QVERIFY(!fits.failed && !fits.boxes.empty());

    // A file that is no exported version.
    const QString bogus = dir.path() + "/bogus.onnx";
    QVERIFY(WriteTestFile(bogus, "garbage"));
    DeployModel model;
    QVERIFY(!model.Load(bogus, DeployModel::Runtime::OpenCv, error));
    QVERIFY(!model.Load(bogus, DeployModel::Runtime::Torch, error));
    QVERIFY(error.contains("model folder"));
}

QTEST_GUILESS_MAIN(tst_OnnxExport)
#include "tst_OnnxExport.moc"
