#include "TinyVersion.h"

#include "SyntheticSet.h"

#include "ComLib/Service/ServiceProtocol.h"
#include "TrainService/DataSet.h"
#include "TrainService/ModelEngine.h"
#include "TrainService/ModelSettings.h"
#include "TrainService/TrainJob.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <atomic>

using namespace trainsvc;
namespace protocol = comlib::protocol;

bool WriteTestFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

bool MakeTinyVersion(const QString& root, bool detection, QString& error)
{
    SyntheticSet set;
    SyntheticSet::Options options;
    options.count = 10;
    options.size = 160;
    options.numClasses = 2;
    options.rectangles = detection;
    if (!set.Generate(root + "/images", options, error))
        return false;
    const QStringList classes = SyntheticSet::ClassNames(2);
    DataSet data;
    data.Load(root + "/images", classes);
    NetLayout layout;
    layout.detection = detection;
    layout.numClasses = 2;
    layout.inputSize = 64;
    layout.width = 4;
    layout.tileScale = 0.5;
    TrainSettings settings;
    settings.epochs = 30;
    settings.learningRate = 1e-2;
    settings.batchSize = 5;
    settings.threads = 1;
    ModelEngine engine;
    engine.Create(layout, 3);
    std::vector<EpochLoss> history;
    std::string why;
    const std::atomic_bool cancel{false};
    if (!engine.Train(
            data.Samples(), {}, settings, [](const TrainProgress&) {}, cancel, history, why))
    {
        error = QString::fromStdString(why);
        return false;
    }
    const QString modelDir = root + "/model";
    QDir().mkpath(modelDir);
    if (!engine.Save((modelDir + "/" + TrainJob::kWeightsFile).toStdString(), why))
    {
        error = QString::fromStdString(why);
        return false;
    }
    protocol::ModelRecord record;
    record.classes = classes;
    record.aiType = detection ? "Object" : "Segment";
    record.inputSize = layout.inputSize;
    record.width = layout.width;
    record.settings = modelsettings::ToJson(layout, settings, false);
    record.dataFingerprint = data.Fingerprint();
    protocol::ClassThresholds thresholds;
    thresholds.classes = classes;
    thresholds.thresholds = {0.0, 0.3};
    thresholds.testSet.name = "generated";
    return WriteTestFile(modelDir + "/" + TrainJob::kConfigFile, QJsonDocument(record.ToJson()).toJson()) &&
           WriteTestFile(modelDir + "/" + protocol::kThresholdsFile,
                         QJsonDocument(thresholds.ToJson()).toJson());
}
