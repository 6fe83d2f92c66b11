#include "ServiceProtocol.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace comlib::protocol
{

namespace
{

// config.json
const char kImageSize[] = "image_size";
const char kNumClasses[] = "num_classes";
const char kClassesName[] = "classes_name";
const char kPreModelPath[] = "pre_model_path";
const char kTrainPercent[] = "train_percent";
const char kTrainModelPath[] = "train_model_path";
const char kTrainLogsPath[] = "train_logs_path";
const char kDatasPath[] = "datas_path";
const char kTrainPath[] = "train_path";
const char kVersion[] = "version";
const char kProjectName[] = "project_name";
const char kFineness[] = "fineness";
const char kEpochs[] = "unfreeze_train_epoch";
const char kAiType[] = "ai_type";
const char kNetType[] = "net_type";
const char kInputSize[] = "input_size";
const char kBatchSize[] = "batch_size";
const char kSeed[] = "seed";
const char kTileScale[] = "tile_scale";
// test.json
const char kPredictMode[] = "predict_mode";
const char kLabeled[] = "labeled";
const char kUnlabeled[] = "unlabeled";
const char kPredictPath[] = "predict_path";
const char kSavePredictPath[] = "save_predict_path";
const char kTestModelPath[] = "test_model_path";
const char kPredictImages[] = "predict_images";
// status replies
const char kStatus[] = "status";
const char kMessage[] = "message";
const char kBatch[] = "batch";
const char kAllBatch[] = "all_batch";
const char kEpoch[] = "epoch";
const char kAllEpoch[] = "all_epoch";
const char kTotalLoss[] = "total_loss";
const char kValLoss[] = "val_loss";
const char kRemainTime[] = "remain_time";
const char kImage[] = "image";
const char kAllImage[] = "all_image";
const char kLossRate[] = "loss_rate";
const char kOverkillRate[] = "overkill_rate";
const char kLossImagePath[] = "loss_image_path";
const char kOverkillImagePath[] = "overkill_image_path";
// the trained model's Config.json
const char kClasses[] = "classes";
const char kName[] = "name";
const char kWidth[] = "width";
const char kModelEpochs[] = "epochs";
const char kLearningRate[] = "learning_rate";
const char kThreads[] = "threads";
const char kLibtorch[] = "libtorch";
const char kSettings[] = "settings";
const char kData[] = "data";
const char kFingerprint[] = "fingerprint";
const char kTrainImages[] = "train_images";
const char kValImages[] = "val_images";
const char kValPaths[] = "val_paths";
const char kTrain[] = "train";
const char kVal[] = "val";
const char kHistory[] = "history";
// the test summary
const char kImages[] = "images";
const char kPath[] = "path";
const char kScores[] = "scores";
const char kTruth[] = "truth";
const char kHits[] = "hits";
// the thresholds of a version
const char kThreshold[] = "threshold";
const char kTestSet[] = "test_set";

QJsonValue ValueOf(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key));
}

bool Missing(const char* key, const char* what, QString& error)
{
    error = QStringLiteral("missing or invalid key \"%1\" (%2)").arg(QLatin1String(key), QLatin1String(what));
    return false;
}

bool ReadText(const QJsonObject& object, const char* key, QString& value, QString& error)
{
    const QJsonValue v = ValueOf(object, key);
    if (!v.isString())
        return Missing(key, "text", error);
    value = v.toString();
    return true;
}

bool IsInteger(const QJsonValue& v)
{
    // The Qt writer gives whole numbers as such; a trainer may write 3.0.
    return v.isDouble() && std::floor(v.toDouble()) == v.toDouble() && std::abs(v.toDouble()) < 1e9;
}

bool ReadInt(const QJsonObject& object, const char* key, int& value, QString& error)
{
    const QJsonValue v = ValueOf(object, key);
    if (!IsInteger(v))
        return Missing(key, "whole number", error);
    value = int(v.toDouble());
    return true;
}

bool ReadNumber(const QJsonObject& object, const char* key, double& value, QString& error)
{
    const QJsonValue v = ValueOf(object, key);
    if (!v.isDouble())
        return Missing(key, "number", error);
    value = v.toDouble();
    return true;
}

bool ReadTexts(const QJsonObject& object, const char* key, QStringList& value, QString& error)
{
    const QJsonValue v = ValueOf(object, key);
    if (!v.isArray())
        return Missing(key, "list of texts", error);
    value.clear();
    for (const QJsonValue& item : v.toArray())
    {
        if (!item.isString())
            return Missing(key, "list of texts", error);
        value.append(item.toString());
    }
    return true;
}

std::optional<int> OptionalInt(const QJsonObject& object, const char* key)
{
    const QJsonValue v = ValueOf(object, key);
    return IsInteger(v) ? std::optional<int>(int(v.toDouble())) : std::nullopt;
}

bool HasAll(const QJsonObject& object, std::initializer_list<const char*> keys)
{
    for (const char* key : keys)
    {
        if (!object.contains(QLatin1String(key)))
            return false;
    }
    return true;
}

int IntOf(const QJsonObject& object, const char* key)
{
    return int(ValueOf(object, key).toDouble());
}

double NumberOf(const QJsonObject& object, const char* key)
{
    return ValueOf(object, key).toDouble();
}

std::optional<QVector<double>> Numbers(const QJsonObject& object, const char* key)
{
    if (!object.contains(QLatin1String(key)))
        return std::nullopt;
    QVector<double> numbers;
    for (const QJsonValue& value : ValueOf(object, key).toArray())
        numbers.append(value.toDouble());
    return numbers;
}

std::optional<QStringList> Texts(const QJsonObject& object, const char* key)
{
    if (!object.contains(QLatin1String(key)))
        return std::nullopt;
    QStringList texts;
    for (const QJsonValue& value : ValueOf(object, key).toArray())
        texts.append(value.toString());
    return texts;
}

QJsonArray NumberArray(const QVector<double>& numbers)
{
    QJsonArray array;
    for (const double n : numbers)
        array.append(n);
    return array;
}

void Put(QJsonObject& object, const char* key, const QJsonValue& value)
{
    object.insert(QLatin1String(key), value);
}

} // namespace

QJsonObject TrainRequest::ToJson() const
{
    QJsonObject o;
    Put(o, kImageSize, QJsonArray{imageRows, imageColumns});
    Put(o, kNumClasses, int(classes.size()));
    Put(o, kClassesName, QJsonArray::fromStringList(classes));
    Put(o, kPreModelPath, QJsonValue::Null);
    Put(o, kTrainPercent, trainPercent);
    Put(o, kTrainModelPath, QJsonValue::Null);
    Put(o, kTrainLogsPath, QJsonValue::Null);
    Put(o, kDatasPath, datasPath);
    Put(o, kTrainPath, trainPath);
    Put(o, kVersion, version);
    Put(o, kProjectName, projectName);
    Put(o, kFineness, fineness);
    Put(o, kEpochs, epochs);
    Put(o, kAiType, aiType);
    Put(o, kNetType, netType);
    if (inputSize)
        Put(o, kInputSize, *inputSize);
    if (batchSize)
        Put(o, kBatchSize, *batchSize);
    if (seed)
        Put(o, kSeed, *seed);
    if (threads)
        Put(o, kThreads, *threads);
    if (tileScale)
        Put(o, kTileScale, *tileScale);
    return o;
}

bool TrainRequest::FromJson(const QJsonObject& object, TrainRequest& request, QString& error)
{
    const QJsonArray size = ValueOf(object, kImageSize).toArray();
    if (size.size() != 2 || !IsInteger(size.at(0)) || !IsInteger(size.at(1)))
        return Missing(kImageSize, "[rows, columns]", error);
    request.imageRows = size.at(0).toInt();
    request.imageColumns = size.at(1).toInt();
    int numClasses = 0;
    if (!ReadInt(object, kNumClasses, numClasses, error) ||
        !ReadTexts(object, kClassesName, request.classes, error) ||
        !ReadNumber(object, kTrainPercent, request.trainPercent, error) ||
        !ReadText(object, kDatasPath, request.datasPath, error) ||
        !ReadText(object, kTrainPath, request.trainPath, error) ||
        !ReadText(object, kVersion, request.version, error) ||
        !ReadText(object, kProjectName, request.projectName, error) ||
        !ReadInt(object, kFineness, request.fineness, error) ||
        !ReadInt(object, kEpochs, request.epochs, error) ||
        !ReadText(object, kAiType, request.aiType, error) ||
        !ReadText(object, kNetType, request.netType, error))
        return false;
    request.inputSize = OptionalInt(object, kInputSize);
    request.batchSize = OptionalInt(object, kBatchSize);
    request.seed = OptionalInt(object, kSeed);
    request.threads = OptionalInt(object, kThreads);
    const QJsonValue scale = ValueOf(object, kTileScale);
    request.tileScale = scale.isDouble() ? std::optional<double>(scale.toDouble()) : std::nullopt;
    return true;
}

QJsonObject TestRequest::ToJson() const
{
    QJsonObject o;
    Put(o, kPredictMode, QLatin1String(labeled ? kLabeled : kUnlabeled));
    Put(o, kPredictPath, predictPath);
    Put(o, kSavePredictPath, savePredictPath);
    Put(o, kTestModelPath, modelPath);
    if (images)
        Put(o, kPredictImages, QJsonArray::fromStringList(*images));
    return o;
}

bool TestRequest::FromJson(const QJsonObject& object, TestRequest& request, QString& error)
{
    QString mode;
    if (!ReadText(object, kPredictMode, mode, error) ||
        !ReadText(object, kPredictPath, request.predictPath, error) ||
        !ReadText(object, kSavePredictPath, request.savePredictPath, error) ||
        !ReadText(object, kTestModelPath, request.modelPath, error))
        return false;
    if (mode != QLatin1String(kLabeled) && mode != QLatin1String(kUnlabeled))
        return Missing(kPredictMode, "\"labeled\" or \"unlabeled\"", error);
    request.labeled = mode == QLatin1String(kLabeled);
    request.images.reset();
    if (object.contains(QLatin1String(kPredictImages)))
    {
        QStringList images;
        if (!ReadTexts(object, kPredictImages, images, error))
            return false;
        request.images = images;
    }
    return true;
}

QJsonObject StatusReply::ToJson() const
{
    QJsonObject o;
    if (status)
        Put(o, kStatus, *status);
    if (message)
        Put(o, kMessage, *message);
    if (batch)
    {
        Put(o, kBatch, batch->batch);
        Put(o, kAllBatch, batch->allBatch);
    }
    if (loss)
    {
        Put(o, kEpoch, loss->epoch);
        Put(o, kAllEpoch, loss->allEpoch);
        Put(o, kTotalLoss, loss->totalLoss);
        Put(o, kValLoss, loss->valLoss);
    }
    if (remainTime)
        Put(o, kRemainTime, *remainTime);
    if (progress)
    {
        Put(o, kImage, progress->image);
        Put(o, kAllImage, progress->allImage);
    }
    if (lossRate)
        Put(o, kLossRate, NumberArray(*lossRate));
    if (overkillRate)
        Put(o, kOverkillRate, NumberArray(*overkillRate));
    if (lossImagePaths)
        Put(o, kLossImagePath, QJsonArray::fromStringList(*lossImagePaths));
    if (overkillImagePaths)
        Put(o, kOverkillImagePath, QJsonArray::fromStringList(*overkillImagePaths));
    return o;
}

StatusReply StatusReply::FromJson(const QJsonObject& o)
{
    StatusReply reply;
    if (o.contains(QLatin1String(kStatus)))
        reply.status = ValueOf(o, kStatus).toString();
    if (o.contains(QLatin1String(kMessage)))
        reply.message = ValueOf(o, kMessage).toString();
    if (HasAll(o, {kBatch, kAllBatch}))
        reply.batch = Batch{IntOf(o, kBatch), IntOf(o, kAllBatch)};
    if (HasAll(o, {kEpoch, kAllEpoch, kTotalLoss, kValLoss}))
        reply.loss =
            Loss{NumberOf(o, kEpoch), IntOf(o, kAllEpoch), NumberOf(o, kTotalLoss), NumberOf(o, kValLoss)};
    if (o.contains(QLatin1String(kRemainTime)))
        reply.remainTime = NumberOf(o, kRemainTime);
    if (HasAll(o, {kImage, kAllImage}))
        reply.progress = Progress{IntOf(o, kImage), IntOf(o, kAllImage)};
    reply.lossRate = Numbers(o, kLossRate);
    reply.overkillRate = Numbers(o, kOverkillRate);
    reply.lossImagePaths = Texts(o, kLossImagePath);
    reply.overkillImagePaths = Texts(o, kOverkillImagePath);
    return reply;
}

FinenessLevel FinenessLevelOf(int fineness)
{
    static constexpr FinenessLevel kLevels[] = {{128, 12}, {192, 16}, {256, 16}, {320, 24}, {384, 32}};
    return kLevels[std::clamp(fineness, kMinFineness, kMaxFineness) - kMinFineness];
}

QJsonObject ModelRecord::ToJson() const
{
    QJsonObject o;
    Put(o, kClasses, ModelClassesToJson(classes));
    Put(o, kAiType, aiType);
    Put(o, kNetType, netType);
    Put(o, kVersion, version);
    Put(o, kFineness, fineness);
    Put(o, kInputSize, inputSize);
    Put(o, kWidth, width);
    Put(o, kModelEpochs, epochs);
    Put(o, kBatchSize, batchSize);
    Put(o, kLearningRate, learningRate);
    Put(o, kTrainPercent, trainPercent);
    Put(o, kSeed, seed);
    Put(o, kThreads, threads);
    Put(o, kLibtorch, libtorch);
    Put(o, kSettings, settings);
    QJsonArray counts;
    for (const ClassCount& count : classCounts)
        counts.append(QJsonObject{{QLatin1String(kName), count.name},
                                  {QLatin1String(kTrain), count.train},
                                  {QLatin1String(kVal), count.val}});
    Put(o, kData,
        QJsonObject{{QLatin1String(kFingerprint), dataFingerprint},
                    {QLatin1String(kTrainImages), trainImages},
                    {QLatin1String(kValImages), valImages},
                    {QLatin1String(kValPaths), QJsonArray::fromStringList(valPaths)},
                    {QLatin1String(kClasses), counts}});
    QJsonArray rows;
    for (const EpochLoss& row : history)
        rows.append(QJsonObject{{QLatin1String(kEpoch), row.epoch},
                                {QLatin1String(kTotalLoss), row.totalLoss},
                                {QLatin1String(kValLoss), row.valLoss}});
    Put(o, kHistory, rows);
    return o;
}

bool ModelRecord::FromJson(const QJsonObject& o, ModelRecord& record, QString& error)
{
    if (!ValueOf(o, kClasses).isArray())
        return Missing(kClasses, "list of classes", error);
    record = ModelRecord();
    record.classes = ModelClassesFromJson(o);
    record.aiType = ValueOf(o, kAiType).toString();
    record.netType = ValueOf(o, kNetType).toString();
    record.version = ValueOf(o, kVersion).toString();
    record.fineness = IntOf(o, kFineness);
    record.inputSize = IntOf(o, kInputSize);
    record.width = IntOf(o, kWidth);
    record.epochs = IntOf(o, kModelEpochs);
    record.batchSize = IntOf(o, kBatchSize);
    record.learningRate = NumberOf(o, kLearningRate);
    record.trainPercent = NumberOf(o, kTrainPercent);
    record.seed = IntOf(o, kSeed);
    record.threads = IntOf(o, kThreads);
    record.libtorch = ValueOf(o, kLibtorch).toString();
    record.settings = ValueOf(o, kSettings).toObject();
    const QJsonObject data = ValueOf(o, kData).toObject();
    record.dataFingerprint = ValueOf(data, kFingerprint).toString();
    record.trainImages = IntOf(data, kTrainImages);
    record.valImages = IntOf(data, kValImages);
    for (const QJsonValue& item : ValueOf(data, kValPaths).toArray())
    {
        if (item.isString())
            record.valPaths.append(item.toString());
    }
    for (const QJsonValue& item : ValueOf(data, kClasses).toArray())
    {
        const QJsonObject count = item.toObject();
        record.classCounts.append(
            {ValueOf(count, kName).toString(), IntOf(count, kTrain), IntOf(count, kVal)});
    }
    for (const QJsonValue& item : ValueOf(o, kHistory).toArray())
    {
        const QJsonObject row = item.toObject();
        if (HasAll(row, {kEpoch, kTotalLoss, kValLoss}))
            record.history.append({IntOf(row, kEpoch), NumberOf(row, kTotalLoss), NumberOf(row, kValLoss)});
    }
    return true;
}

QJsonObject TestSummary::ToJson() const
{
    QJsonArray rows;
    for (const Image& image : images)
    {
        QJsonObject row{{QLatin1String(kPath), image.path},
                        {QLatin1String(kScores), NumberArray(image.scores)}};
        if (image.truth)
        {
            QJsonArray truth;
            for (const bool present : *image.truth)
                truth.append(present);
            Put(row, kTruth, truth);
        }
        if (image.hits)
            Put(row, kHits, NumberArray(*image.hits));
        rows.append(row);
    }
    return QJsonObject{{QLatin1String(kClasses), QJsonArray::fromStringList(classes)},
                       {QLatin1String(kImages), rows}};
}

bool TestSummary::FromJson(const QJsonObject& o, TestSummary& summary, QString& error)
{
    summary = TestSummary();
    if (!ReadTexts(o, kClasses, summary.classes, error))
        return false;
    for (const QJsonValue& item : ValueOf(o, kImages).toArray())
    {
        const QJsonObject row = item.toObject();
        Image image;
        if (!ReadText(row, kPath, image.path, error))
            return false;
        const QJsonArray scores = ValueOf(row, kScores).toArray();
        const QJsonValue truth = ValueOf(row, kTruth);
        const QJsonValue hits = ValueOf(row, kHits);
        if (scores.size() != summary.classes.size() ||
            (truth.isArray() && truth.toArray().size() != summary.classes.size()) ||
            (hits.isArray() && hits.toArray().size() != summary.classes.size()))
        {
            error = QStringLiteral("the row of %1 does not match the %2 classes")
                        .arg(image.path)
                        .arg(summary.classes.size());
            return false;
        }
        for (const QJsonValue& score : scores)
            image.scores.append(score.toDouble());
        if (truth.isArray())
        {
            QVector<bool> present;
            for (const QJsonValue& value : truth.toArray())
                present.append(value.toBool());
            image.truth = present;
        }
        if (hits.isArray())
            image.hits = Numbers(row, kHits);
        summary.images.append(image);
    }
    return true;
}

QString TestSummary::Fingerprint() const
{
    QStringList rows;
    rows.reserve(images.size());
    for (const Image& image : images)
    {
        QString row = QDir::cleanPath(QString(image.path).replace(QLatin1Char('\\'), QLatin1Char('/')));
        row += QLatin1Char('\t');
        for (const bool present : image.truth.value_or(QVector<bool>()))
            row += present ? QLatin1Char('1') : QLatin1Char('0');
        rows.append(row);
    }
    rows.sort();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(classes.join(QLatin1Char('\n')).toUtf8());
    hash.addData("\n\n");
    hash.addData(rows.join(QLatin1Char('\n')).toUtf8());
    return QString::fromLatin1(hash.result().toHex());
}

double ClassThresholds::ThresholdOf(const QString& cls, double fallback) const
{
    const int at = classes.indexOf(cls);
    return at < 0 || at >= thresholds.size() ? fallback : thresholds.at(at);
}

QJsonObject ClassThresholds::ToJson() const
{
    QJsonArray rows;
    for (int i = 0; i < classes.size() && i < thresholds.size(); ++i)
        rows.append(QJsonObject{{QLatin1String(kName), classes.at(i)},
                                {QLatin1String(kThreshold), thresholds.at(i)}});
    return QJsonObject{
        {QLatin1String(kClasses), rows},
        {QLatin1String(kTestSet), QJsonObject{{QLatin1String(kName), testSet.name},
                                              {QLatin1String(kImages), testSet.images},
                                              {QLatin1String(kFingerprint), testSet.fingerprint}}}};
}

bool ClassThresholds::FromJson(const QJsonObject& o, ClassThresholds& read, QString& error)
{
    read = ClassThresholds();
    if (!ValueOf(o, kClasses).isArray())
        return Missing(kClasses, "list of classes", error);
    for (const QJsonValue& item : ValueOf(o, kClasses).toArray())
    {
        const QJsonObject row = item.toObject();
        QString name;
        double threshold = 0;
        if (!ReadText(row, kName, name, error) || !ReadNumber(row, kThreshold, threshold, error))
            return false;
        if (!(threshold >= 0 && threshold <= 1))
            return Missing(kThreshold, "number from 0 to 1", error);
        if (read.classes.contains(name))
        {
            error = QStringLiteral("the class %1 has two thresholds").arg(name);
            return false;
        }
        read.classes.append(name);
        read.thresholds.append(threshold);
    }
    const QJsonObject set = ValueOf(o, kTestSet).toObject();
    read.testSet.name = ValueOf(set, kName).toString();
    read.testSet.images = IntOf(set, kImages);
    read.testSet.fingerprint = ValueOf(set, kFingerprint).toString();
    return true;
}

QJsonArray ModelClassesToJson(const QStringList& classes)
{
    QJsonArray array;
    for (const QString& name : classes)
        array.append(QJsonObject{{QLatin1String(kName), name}});
    return array;
}

QStringList ModelClassesFromJson(const QJsonObject& modelConfig)
{
    QStringList names;
    for (const QJsonValue& item : ValueOf(modelConfig, kClasses).toArray())
    {
        const QJsonObject cls = item.toObject();
        if (cls.contains(QLatin1String(kName)))
            names.append(cls.value(QLatin1String(kName)).toString());
    }
    return names;
}

QString PredictionPath(const QString& predictRoot, const QString& saveRoot, const QString& imagePath)
{
    // Paths written on Windows may reach either side.
    const QString root = QDir::cleanPath(QString(predictRoot).replace(QLatin1Char('\\'), QLatin1Char('/')));
    const QString image = QDir::cleanPath(QString(imagePath).replace(QLatin1Char('\\'), QLatin1Char('/')));
    if (root.isEmpty() || !image.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/')))
        return QString();
    const QString relative =
        image.mid(root.size()).section(QLatin1Char('/'), 0, -1, QString::SectionSkipEmpty);
    const int slash = relative.lastIndexOf(QLatin1Char('/'));
    const QString name = relative.mid(slash + 1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString jsonName = (dot < 0 ? name : name.left(dot)) + QStringLiteral(".json");
    return QDir::cleanPath(saveRoot + QLatin1Char('/') + relative.left(slash + 1) + jsonName);
}

} // namespace comlib::protocol
