#include "TrainService/JobConfig.h"

#include "ComLib/Service/ServiceProtocol.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <initializer_list>
#include <thread>

namespace trainsvc
{

namespace
{

// The program's configs take a few hundred bytes; a path may name any file, /dev/zero included.
constexpr qint64 kMaxConfigBytes = 1024 * 1024;
// Tiles at native resolution: a defect keeps the width it has in the image.
constexpr double kDefaultTileScale = 1.0;
// More threads than this gain little on the small networks and leave no core to the program.
constexpr int kMaxDefaultThreads = 8;

int DefaultThreads()
{
    return std::clamp(int(std::thread::hardware_concurrency()), 1, kMaxDefaultThreads);
}

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

bool NoneEmpty(std::initializer_list<const QString*> paths, const QString& file, QString& error)
{
    for (const QString* path : paths)
    {
        if (path->isEmpty())
        {
            error = QStringLiteral("empty path in %1").arg(file);
            return false;
        }
    }
    return true;
}

} // namespace

NetLayout NetForFineness(bool detection, int fineness)
{
    const comlib::protocol::FinenessLevel row = comlib::protocol::FinenessLevelOf(fineness);
    NetLayout layout;
    layout.detection = detection;
    layout.inputSize = row.inputSize;
    layout.width = row.width;
    return layout;
}

bool ReadTrainConfig(const QString& path, TrainConfig& config, QString& error)
{
    QJsonObject object;
    comlib::protocol::TrainRequest request;
    if (!ReadObject(path, object, error) ||
        !comlib::protocol::TrainRequest::FromJson(object, request, error) ||
        !NoneEmpty({&request.datasPath, &request.trainPath}, path, error))
        return false;
    if (request.aiType != QLatin1String("Segment") && request.aiType != QLatin1String("Object"))
    {
        error = QStringLiteral("unknown ai_type \"%1\"").arg(request.aiType);
        return false;
    }
    config.classes.clear();
    for (const QString& name : request.classes)
    {
        if (!name.isEmpty() && !config.classes.contains(name))
            config.classes.append(name);
    }
    if (config.classes.isEmpty())
    {
        error = QStringLiteral("no classes in \"classes_name\"");
        return false;
    }
    config.datasPath = request.datasPath;
    config.trainPath = request.trainPath;
    config.aiType = request.aiType;
    config.version = request.version;
    config.netType = request.netType;
    config.fineness = std::clamp(request.fineness, 1, 5);
    config.trainPercent = std::clamp(request.trainPercent, 0.05, 1.0);
    config.net = NetForFineness(config.aiType == QLatin1String("Object"), config.fineness);
    config.net.numClasses = int(config.classes.size());
    if (request.inputSize && *request.inputSize > 0)
        config.net.inputSize = std::clamp(*request.inputSize / 16 * 16, 32, 1024);
    config.settings.epochs = std::clamp(request.epochs, 1, 300);
    config.settings.batchSize = std::clamp(request.batchSize.value_or(8), 1, 64);
    config.settings.seed = unsigned(request.seed.value_or(7));
    config.settings.threads = std::clamp(request.threads.value_or(DefaultThreads()), 1, 64);
    const double scale = request.tileScale.value_or(kDefaultTileScale);
    config.net.tileScale = scale > 0.0 ? std::clamp(scale, 0.05, 2.0) : 0.0;
    return true;
}

bool ReadTestConfig(const QString& path, TestConfig& config, QString& error)
{
    QJsonObject object;
    comlib::protocol::TestRequest request;
    if (!ReadObject(path, object, error) ||
        !comlib::protocol::TestRequest::FromJson(object, request, error) ||
        !NoneEmpty({&request.predictPath, &request.savePredictPath, &request.modelPath}, path, error))
        return false;
    config.labeled = request.labeled;
    config.predictPath = request.predictPath;
    config.savePredictPath = request.savePredictPath;
    config.modelPath = request.modelPath;
    config.images = request.images;
    return true;
}

} // namespace trainsvc
