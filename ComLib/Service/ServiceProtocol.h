#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// Everything that crosses the border between the program and the training service, written once:
// the address, the requests, the keys of config.json, test.json and the status replies, their typed
// values with the JSON conversion, and where a prediction file lies. The program, the service and the
// stand-in service all use it, so the two sides cannot drift apart.
namespace comlib::protocol
{

inline constexpr char kServiceAddress[] = "http://127.0.0.1";
inline constexpr int kServicePort = 8000;
// Request paths, each followed by "/" and the task id.
inline constexpr char kStartTrainTask[] = "/start_train_task";
inline constexpr char kGetTrainStatus[] = "/get_train_status";
inline constexpr char kCancelTrainTask[] = "/cancel_train_task";
inline constexpr char kTestModel[] = "/test_model";
inline constexpr char kGetTestStatus[] = "/get_test_status";
// The key of the start requests' body.
inline constexpr char kConfigPath[] = "config_path";

// The files of a run: config.json in the run folder, test.json in the model version folder, and the
// trained model's folder with its description.
inline constexpr char kTrainConfigFile[] = "config.json";
inline constexpr char kTestConfigFile[] = "test.json";
inline constexpr char kModelDir[] = "model";
inline constexpr char kModelConfigFile[] = "Config.json";
// Not a ".json" name: a prediction file of an image named like it would be overwritten.
inline constexpr char kTestSummaryFile[] = "test_summary.result";
inline constexpr char kThresholdsFile[] = "thresholds.json";
// Metadata of a version exported as an ONNX model: its Config.json and thresholds.json as stored
// (compact JSON; the thresholds only when saved), and for readers of the file alone the class names
// in order (JSON array), the input side, the input normalisation, the tiling rule, the rule for images
// of more than 8 bits (JSON objects), the per-class thresholds (JSON object, class to threshold) and
// the data fingerprint.
inline constexpr char kOnnxModelRecord[] = "lumora.model_record";
inline constexpr char kOnnxThresholdsRecord[] = "lumora.thresholds_record";
inline constexpr char kOnnxClasses[] = "lumora.classes";
inline constexpr char kOnnxInputSize[] = "lumora.input_size";
inline constexpr char kOnnxNormalisation[] = "lumora.normalisation";
inline constexpr char kOnnxTiling[] = "lumora.tiling";
inline constexpr char kOnnxIntensityWindow[] = "lumora.intensity_window";
inline constexpr char kOnnxThresholds[] = "lumora.thresholds";
inline constexpr char kOnnxDataFingerprint[] = "lumora.data_fingerprint";

inline constexpr char kStatusQueued[] = "queued";
inline constexpr char kStatusRunning[] = "running";
inline constexpr char kStatusExport[] = "export";
inline constexpr char kStatusCancelled[] = "cancelled";
inline constexpr char kStatusFailed[] = "failed";
inline constexpr char kStatusDone[] = "done";

// The fineness levels of config.json and the network each gives: its input side in pixels and its base
// channel width. Larger inputs keep small defects visible; wider networks learn more varied backgrounds.
inline constexpr int kMinFineness = 1;
inline constexpr int kMaxFineness = 5;
struct FinenessLevel
{
    int inputSize = 0;
    int width = 0;
};
// The level's network; a fineness outside the range is taken as the nearest level.
FinenessLevel FinenessLevelOf(int fineness);

// config.json of a training run.
struct TrainRequest
{
    int imageRows = 0;
    int imageColumns = 0;
    QStringList classes;
    double trainPercent = 0.9;
    QString datasPath;
    QString trainPath;
    QString version;
    QString projectName;
    int fineness = 0;
    int epochs = 0;
    QString aiType;
    QString netType;
    // Optional keys for experiments: they override the fineness table and the defaults.
    std::optional<int> inputSize;
    std::optional<int> batchSize;
    std::optional<int> seed;
    // Training threads; the same seed gives the same weights only with the same count.
    std::optional<int> threads;
    // Scale at which images too large for the input are cut into tiles (1: native resolution).
    std::optional<double> tileScale;

    QJsonObject ToJson() const;
    // False with the reason in error, naming the key, when a required key is missing or of the wrong type.
    static bool FromJson(const QJsonObject& object, TrainRequest& request, QString& error);
};

// test.json of a test run.
struct TestRequest
{
    bool labeled = false;
    QString predictPath;
    QString savePredictPath;
    QString modelPath;
    // Only these images, as paths relative to predictPath with "/" between folders, instead of every
    // image below it; a version's validation images are tested this way.
    std::optional<QStringList> images;

    QJsonObject ToJson() const;
    static bool FromJson(const QJsonObject& object, TestRequest& request, QString& error);
};

// A status reply. Each group is set only when all of its keys are present.
struct StatusReply
{
    struct Batch
    {
        int batch = 0;
        int allBatch = 0;
    };
    struct Loss
    {
        double epoch = 0;
        int allEpoch = 0;
        double totalLoss = 0;
        double valLoss = 0;
    };
    struct Progress
    {
        int image = 0;
        int allImage = 0;
    };

    std::optional<QString> status;
    // Why a run failed or a request was refused.
    std::optional<QString> message;
    std::optional<Batch> batch;
    std::optional<Loss> loss;
    // Seconds, as sent.
    std::optional<double> remainTime;
    // Images predicted so far by a test.
    std::optional<Progress> progress;
    std::optional<QVector<double>> lossRate;
    std::optional<QVector<double>> overkillRate;
    std::optional<QStringList> lossImagePaths;
    std::optional<QStringList> overkillImagePaths;

    QJsonObject ToJson() const;
    static StatusReply FromJson(const QJsonObject& object);
};

// A trained version's model/Config.json: what the program shows of a version and everything needed to
// train it again. Only "classes" is required when read, so that versions trained before the other keys
// existed still load; what is absent stays at its zero value.
struct ModelRecord
{
    struct EpochLoss
    {
        int epoch = 0;
        double totalLoss = 0;
        double valLoss = 0;
    };
    // Images holding at least one shape of the class, per split.
    struct ClassCount
    {
        QString name;
        int train = 0;
        int val = 0;
    };

    QStringList classes;
    QString aiType;
    QString netType;
    QString version;
    int fineness = 0;
    int inputSize = 0;
    int width = 0;
    int epochs = 0;
    int batchSize = 0;
    double learningRate = 0;
    double trainPercent = 0;
    int seed = 0;
    int threads = 0;
    QString libtorch;
    // The service's further settings (tiling, the intensity window of deep images, ...), kept as written.
    QJsonObject settings;
    // Hash over the sorted image paths, their sizes and their annotation files' contents.
    QString dataFingerprint;
    int trainImages = 0;
    int valImages = 0;
    // The validation images, relative to the "datas_path" of the training with "/" between folders, in
    // path order. Empty for versions trained before it was recorded.
    QStringList valPaths;
    QVector<ClassCount> classCounts;
    QVector<EpochLoss> history;

    QJsonObject ToJson() const;
    static bool FromJson(const QJsonObject& object, ModelRecord& record, QString& error);
};

// The summary a test writes beside its prediction files (kTestSummaryFile in save_predict_path): for
// every tested image the highest score per class, 0 where nothing was found, and for a labelled test
// whether the image's annotation holds the class and the highest score of the class's shapes that meet
// one of its annotated regions (a shape elsewhere on the image does not find the defect).
struct TestSummary
{
    struct Image
    {
        QString path;
        QVector<double> scores;
        std::optional<QVector<bool>> truth;
        // Absent in summaries written before it was kept; the class's highest score stands in then.
        std::optional<QVector<double>> hits = std::nullopt;
    };

    QStringList classes;
    QVector<Image> images;

    QJsonObject ToJson() const;
    // False with the reason when a row's lists do not match the classes.
    static bool FromJson(const QJsonObject& object, TestSummary& summary, QString& error);
    // Names the tested set: a hash over the sorted image paths with their truth, so two tests of the
    // same images with the same annotations give the same text.
    QString Fingerprint() const;
};

// A version's per-class thresholds (kThresholdsFile in its model folder, beside Config.json) with the
// test set they were chosen on. A test of the version counts a class as found on an image only where
// its highest score there reaches the class's threshold; classes not listed keep the service's own.
struct ClassThresholds
{
    struct TestSet
    {
        QString name;
        int images = 0;
        QString fingerprint;
    };

    QStringList classes;
    QVector<double> thresholds;
    TestSet testSet;

    // The threshold of the class, or fallback when it has none.
    double ThresholdOf(const QString& cls, double fallback) const;
    QJsonObject ToJson() const;
    // False with the reason when a threshold is not a number from 0 to 1 or a class is named twice.
    static bool FromJson(const QJsonObject& object, ClassThresholds& thresholds, QString& error);
};

// "classes" of a trained model's Config.json: [{"name": …}, …] in class order. Entries without a name
// are passed over when read.
QJsonArray ModelClassesToJson(const QStringList& classes);
QStringList ModelClassesFromJson(const QJsonObject& modelConfig);

// Where the prediction of the image at imagePath lies: its place below predictRoot, below saveRoot, with
// the file name's extension replaced by ".json" (a name without one gets ".json" added). Empty when the
// image does not lie below predictRoot.
QString PredictionPath(const QString& predictRoot, const QString& saveRoot, const QString& imagePath);

} // namespace comlib::protocol
