#include "TrainService/JobConfig.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace trainsvc
{

namespace
{

struct Fineness
{
    int inputSize;
    int width;
};

// Larger inputs keep small defects visible; wider networks learn more varied backgrounds.
constexpr Fineness kFineness[] = {{128, 12}, {192, 16}, {256, 16}, {320, 24}, {384, 32}};
// The program's configs take a few hundred bytes; a path may name any file, /dev/zero included.
constexpr qint64 kMaxConfigBytes = 1024 * 1024;

bool ReadObject(const QString& path, QJsonObject& object, QString& error)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
    {
        error = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    if (file.size() > kMaxConfigBytes)
    {
        error = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxConfigBytes);
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(kMaxConfigBytes), &parseError);
    if (!doc.isObject())
    {
        error = QStringLiteral("%1 is not a JSON object (%2)").arg(path, parseError.errorString());
        return false;
    }
    object = doc.object();
    return true;
}

bool RequireString(const QJsonObject& object, const char* key, QString& value, QString& error)
{
    if (!object.value(QLatin1String(key)).isString() || object.value(QLatin1String(key)).toString().isEmpty())
    {
        error = QStringLiteral("missing key \"%1\"").arg(QLatin1String(key));
        return false;
    }
    value = object.value(QLatin1String(key)).toString();
    return true;
}

} // namespace

NetLayout NetForFineness(bool detection, int fineness)
{
    const Fineness& row = kFineness[std::clamp(fineness, 1, 5) - 1];
    NetLayout layout;
    layout.detection = detection;
    layout.inputSize = row.inputSize;
    layout.width = row.width;
    return layout;
}

bool ReadTrainConfig(const QString& path, TrainConfig& config, QString& error)
{
    QJsonObject object;
    if (!ReadObject(path, object, error))
        return false;
    if (!RequireString(object, "datas_path", config.datasPath, error) ||
        !RequireString(object, "train_path", config.trainPath, error) ||
        !RequireString(object, "ai_type", config.aiType, error))
        return false;
    if (config.aiType != QLatin1String("Segment") && config.aiType != QLatin1String("Object"))
    {
        error = QStringLiteral("unknown ai_type \"%1\"").arg(config.aiType);
        return false;
    }
    config.classes.clear();
    for (const QJsonValue& name : object.value(QLatin1String("classes_name")).toArray())
    {
        if (!name.toString().isEmpty() && !config.classes.contains(name.toString()))
            config.classes.append(name.toString());
    }
    if (config.classes.isEmpty())
    {
        error = QStringLiteral("no classes in \"classes_name\"");
        return false;
    }
    config.version = object.value(QLatin1String("version")).toString();
    config.netType = object.value(QLatin1String("net_type")).toString();
    config.fineness = std::clamp(object.value(QLatin1String("fineness")).toInt(2), 1, 5);
    config.trainPercent = std::clamp(object.value(QLatin1String("train_percent")).toDouble(0.9), 0.05, 1.0);
    config.net = NetForFineness(config.aiType == QLatin1String("Object"), config.fineness);
    config.net.numClasses = int(config.classes.size());
    const int inputSize = object.value(QLatin1String("input_size")).toInt(0);
    if (inputSize > 0)
        config.net.inputSize = std::clamp(inputSize / 16 * 16, 32, 1024);
    config.settings.epochs =
        std::clamp(object.value(QLatin1String("unfreeze_train_epoch")).toInt(50), 1, 300);
    config.settings.batchSize = std::clamp(object.value(QLatin1String("batch_size")).toInt(8), 1, 64);
    config.settings.seed = unsigned(object.value(QLatin1String("seed")).toInt(7));
    return true;
}

bool ReadTestConfig(const QString& path, TestConfig& config, QString& error)
{
    QJsonObject object;
    if (!ReadObject(path, object, error))
        return false;
    if (!RequireString(object, "predict_path", config.predictPath, error) ||
        !RequireString(object, "save_predict_path", config.savePredictPath, error) ||
        !RequireString(object, "test_model_path", config.modelPath, error))
        return false;
    config.labeled = object.value(QLatin1String("predict_mode")).toString() == QLatin1String("labeled");
    return true;
}

} // namespace trainsvc
