#include "SyntheticSet.h"

#include "ComLib/Service/ServiceProtocol.h"
#include "Nexil/ImageFiles.h"
#include "Nexil/NexilConst.h"
#include "TrainService/DataSet.h"
#include "TrainService/ModelEngine.h"
#include "TrainService/PredictionFile.h"
#include "TrainService/ProjectPaths.h"
#include "TrainService/Raster.h"
#include "TrainService/ServiceHttp.h"
#include "TrainService/TestJob.h"
#include "TrainService/TestRates.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <httplib.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <thread>

using trainsvc::Shape;

namespace
{

const char kStamp[] = "2024-01-02_03-04-05-006";
// Generous: these only guard against a hang, the runs take seconds.
constexpr int kJobTimeoutMs = 240000;

struct Reply
{
    int code = 0;
    QJsonObject body;
};

QString Status(const Reply& reply)
{
    return reply.body.value("status").toString();
}

bool WriteJson(const QString& path, const QJsonObject& object)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(object).toJson()) > 0;
}

QJsonObject ReadJson(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

// A project folder with a generated data set of count images of size × size.
QStringList MakeProject(const QString& project, bool rectangles, int count, int size)
{
    SyntheticSet set;
    SyntheticSet::Options options;
    options.count = count;
    options.size = size;
    options.numClasses = 2;
    options.rectangles = rectangles;
    options.seed = 11;
    QString error;
    if (!set.Generate(project + nexil::kDatasDir + QString("/%1/RawDatas").arg(kStamp), options, error))
        qWarning() << error;
    return SyntheticSet::ClassNames(options.numClasses);
}

// config.json of a run of the project; small inputs keep the runs short, runs meant to be cancelled
// take larger ones.
QString WriteTrainConfig(const QString& project, const QString& version, bool object, int epochs,
                         const QStringList& classes, int inputSize = 48, const QJsonObject& extra = {})
{
    const QString trainPath = project + "/train/" + version;
    QJsonObject config{{"image_size", QJsonArray{48, 48}},
                       {"num_classes", int(classes.size())},
                       {"classes_name", QJsonArray::fromStringList(classes)},
                       {"pre_model_path", QJsonValue::Null},
                       {"train_percent", 0.8},
                       {"train_model_path", QJsonValue::Null},
                       {"train_logs_path", QJsonValue::Null},
                       {"datas_path", project + nexil::kDatasDir},
                       {"train_path", trainPath},
                       {"version", version},
                       {"project_name", "p"},
                       {"fineness", 1},
                       {"unfreeze_train_epoch", epochs},
                       {"ai_type", object ? "Object" : "Segment"},
                       {"net_type", object ? "YOLOV8" : "DeepLabV3Plus"},
                       {"input_size", inputSize},
                       {"batch_size", 4},
                       {"seed", 3}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        config.insert(it.key(), it.value());
    WriteJson(trainPath + "/config.json", config);
    return trainPath + "/config.json";
}

QByteArray FileHash(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
               ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
               : QByteArray();
}

// Every shape's score lies in 0–1; the highest per class, 0 for a class without a shape.
QVector<double> HighestScores(const QJsonObject& prediction, const QStringList& classes)
{
    QVector<double> scores(classes.size(), 0.0);
    for (const QJsonValue& value : prediction.value("shapes").toArray())
    {
        const QJsonObject shape = value.toObject();
        const double score = shape.value("score").toDouble(-1.0);
        if (score < 0.0 || score > 1.0)
            return {};
        const int cls = int(classes.indexOf(shape.value("label").toString()));
        scores[cls] = std::max(scores[cls], score);
    }
    return scores;
}

QByteArray ConfigBody(const QString& path)
{
    return QJsonDocument(QJsonObject{{"config_path", path}}).toJson();
}

} // namespace

class tst_TrainService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void malformedRequests_data();
    void malformedRequests();
    void portTaken();
    void queueCancelAndFailure();
    void cancelMidEpoch();
    void trainAndTest_data();
    void trainAndTest();
    void sameSeedSameWeights();

private:
    Reply Get(const QString& path, const QString& id);
    Reply Post(const QString& path, const QString& id, const QByteArray& body);
    // Polls the status until it is one of finals; the last reply (the callers check its status).
    Reply WaitFor(const char* statusPath, const QString& id, const QStringList& finals);

    QTemporaryDir m_dir;
    std::unique_ptr<ServiceHttp> m_service;
    std::thread m_thread;
    std::unique_ptr<httplib::Client> m_client;
};

void tst_TrainService::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_service = std::make_unique<ServiceHttp>();
    std::string error;
    QVERIFY2(m_service->Bind("127.0.0.1", 0, error), error.c_str());
    m_thread = std::thread([this] { m_service->Run(); });
    m_client = std::make_unique<httplib::Client>("127.0.0.1", m_service->Port());
    m_client->set_read_timeout(30, 0);
}

void tst_TrainService::cleanupTestCase()
{
    m_service->Stop();
    m_thread.join();
    m_service.reset();
}

Reply tst_TrainService::Get(const QString& path, const QString& id)
{
    const httplib::Headers headers{{"Content-Type", "application/json"}};
    const auto res = m_client->Get((path + "/" + id).toStdString().c_str(), headers);
    if (!res)
        return {};
    return {res->status, QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object()};
}

Reply tst_TrainService::Post(const QString& path, const QString& id, const QByteArray& body)
{
    const auto res =
        m_client->Post((path + "/" + id).toStdString().c_str(), body.toStdString(), "application/json");
    if (!res)
        return {};
    return {res->status, QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object()};
}

Reply tst_TrainService::WaitFor(const char* statusPath, const QString& id, const QStringList& finals)
{
    Reply reply;
    const bool reached = QTest::qWaitFor(
        [&]
        {
            reply = Get(statusPath, id);
            return finals.contains(Status(reply));
        },
        kJobTimeoutMs);
    if (!reached)
        qWarning() << "gave up waiting for" << finals << "of" << id;
    return reply;
}

void tst_TrainService::malformedRequests_data()
{
    QTest::addColumn<bool>("post");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("messagePart");

    const QByteArray missing = ConfigBody("/nonexistent/config.json");
    QTest::newRow("start: body not JSON")
        << true << nexil::kStartTrainTask << QByteArray("config_path=x") << 400 << "config_path";
    QTest::newRow("start: no config_path")
        << true << nexil::kStartTrainTask << QByteArray("{}") << 400 << "config_path";
    QTest::newRow("start: config missing")
        << true << nexil::kStartTrainTask << missing << 200 << "cannot read";
    QTest::newRow("test: body is an array")
        << true << nexil::kTestModel << QByteArray("[]") << 400 << "config_path";
    QTest::newRow("test: config missing") << true << nexil::kTestModel << missing << 200 << "cannot read";
    QTest::newRow("train status, unknown id")
        << false << nexil::kGetTrainStatus << QByteArray() << 200 << "unknown task";
    QTest::newRow("test status, unknown id")
        << false << nexil::kGetTestStatus << QByteArray() << 200 << "unknown task";
    QTest::newRow("cancel, unknown id")
        << false << nexil::kCancelTrainTask << QByteArray() << 200 << "unknown task";
    QTest::newRow("unknown path") << false << "/no_such_request" << QByteArray() << 404 << "unknown request";
}

void tst_TrainService::malformedRequests()
{
    QFETCH(bool, post);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, code);
    QFETCH(QString, messagePart);

    const QString id = QString("BAD%1").arg(QTest::currentDataTag()).remove(QRegularExpression("[^A-Za-z]"));
    const Reply reply = post ? Post(path, id, body) : Get(path, id);
    QCOMPARE(reply.code, code);
    QCOMPARE(Status(reply), QString("failed"));
    QVERIFY2(reply.body.value("message").toString().contains(messagePart),
             qPrintable(reply.body.value("message").toString()));
    // A start that failed on its configuration is remembered for the status requests.
    if (post && code == 200)
        QCOMPARE(Status(Get(path == nexil::kTestModel ? nexil::kGetTestStatus : nexil::kGetTrainStatus, id)),
                 QString("failed"));
}

void tst_TrainService::portTaken()
{
    ServiceHttp second;
    std::string error;
    QVERIFY(!second.Bind("127.0.0.1", m_service->Port(), error));
    QVERIFY(error.find(std::to_string(m_service->Port())) != std::string::npos);
}

void tst_TrainService::queueCancelAndFailure()
{
    const QString project = m_dir.filePath("queue");
    const QStringList classes = MakeProject(project, false, 12, 48);
    const QString longRun = WriteTrainConfig(project, "V2024-01-01_00-00-01", false, 300, classes, 160);
    // A run over an empty folder fails as soon as it starts.
    const QString empty = m_dir.filePath("empty");
    QDir().mkpath(empty + nexil::kDatasDir);
    const QString failing = WriteTrainConfig(empty, "V2024-01-01_00-00-02", false, 2, classes);

    const Reply first = Post(nexil::kStartTrainTask, "Q1", ConfigBody(longRun));
    QVERIFY(QStringList({"queued", "running"}).contains(Status(first)));
    QCOMPARE(Status(Post(nexil::kStartTrainTask, "Q1", ConfigBody(longRun))), QString("failed"));
    // Waiting behind Q1; cancelled while waiting it must never start (it would fail if it did).
    QCOMPARE(Status(Post(nexil::kStartTrainTask, "Q2", ConfigBody(failing))), QString("queued"));
    QCOMPARE(Status(Get(nexil::kCancelTrainTask, "Q2")), QString("cancelled"));
    QCOMPARE(Status(Post(nexil::kStartTrainTask, "Q4",
                         ConfigBody(WriteTrainConfig(empty, "V2024-01-01_00-00-03", false, 2, classes)))),
             QString("queued"));

    WaitFor(nexil::kGetTrainStatus, "Q1", {"running"});
    Get(nexil::kCancelTrainTask, "Q1");
    QCOMPARE(Status(WaitFor(nexil::kGetTrainStatus, "Q1", {"cancelled", "done", "failed"})),
             QString("cancelled"));
    const Reply failed = WaitFor(nexil::kGetTrainStatus, "Q4", {"failed", "done"});
    QCOMPARE(Status(failed), QString("failed"));
    QVERIFY(failed.body.value("message").toString().contains("no annotated images"));
    QCOMPARE(Status(Get(nexil::kGetTrainStatus, "Q2")), QString("cancelled"));
    QVERIFY(!QFileInfo::exists(project + "/train/V2024-01-01_00-00-01/model"));
    QVERIFY(!QFileInfo::exists(empty + "/train/V2024-01-01_00-00-02/model"));
}

void tst_TrainService::cancelMidEpoch()
{
    const QString project = m_dir.filePath("cancel");
    const QStringList classes = MakeProject(project, true, 24, 48);
    const QString config = WriteTrainConfig(project, "V2024-01-01_00-00-04", true, 300, classes, 160);
    QVERIFY(QStringList({"queued", "running"})
                .contains(Status(Post(nexil::kStartTrainTask, "C1", ConfigBody(config)))));

    Reply running;
    QTRY_VERIFY_WITH_TIMEOUT(
        (running = Get(nexil::kGetTrainStatus, "C1"), running.body.value("batch").toInt() >= 1),
        kJobTimeoutMs);
    QCOMPARE(Status(running), QString("running"));
    // The loss group is sent whole or not at all: before the first validation there is none.
    QVERIFY(running.body.contains("val_loss") ? running.body.value("all_epoch").toInt() == 300
                                              : !running.body.contains("epoch"));
    QVERIFY(running.body.value("all_batch").toInt() >= 1);
    QVERIFY(running.body.contains("remain_time"));
    Get(nexil::kCancelTrainTask, "C1");
    QCOMPARE(Status(WaitFor(nexil::kGetTrainStatus, "C1", {"cancelled", "done", "failed"})),
             QString("cancelled"));
    QVERIFY(!QFileInfo::exists(project + "/train/V2024-01-01_00-00-04/model"));
    QVERIFY(!QFileInfo::exists(project + "/train/V2024-01-01_00-00-04/model.part"));
}

void tst_TrainService::trainAndTest_data()
{
    QTest::addColumn<bool>("object");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("input");
    QTest::newRow("Segment") << false << 48 << 48;
    QTest::newRow("Object") << true << 48 << 48;
    // Images three times the input: trained on crops and predicted by tiles at native resolution.
    QTest::newRow("SegmentTiles") << false << 96 << 32;
    QTest::newRow("ObjectTiles") << true << 96 << 32;
}

void tst_TrainService::trainAndTest()
{
    QFETCH(bool, object);
    QFETCH(int, size);
    QFETCH(int, input);
    const QString tag = QTest::currentDataTag();
    const QString project = m_dir.filePath("train" + tag);
    const QString version = "V2024-01-01_00-00-05";
    const QStringList classes = MakeProject(project, object, 60, size);
    const QString config = WriteTrainConfig(project, version, object, 2, classes, input);

    const QString id = "T" + tag;
    QVERIFY(QStringList({"queued", "running"})
                .contains(Status(Post(nexil::kStartTrainTask, id, ConfigBody(config)))));
    const Reply done = WaitFor(nexil::kGetTrainStatus, id, {"done", "failed", "cancelled"});
    QVERIFY2(Status(done) == "done", qPrintable(done.body.value("message").toString()));
    QCOMPARE(done.body.value("all_epoch").toInt(), 2);
    QVERIFY(done.body.contains("val_loss"));

    // The version: classes in order, a falling loss, weights that load.
    const QString modelDir = project + "/train/" + version + nexil::kModelDir;
    QVERIFY(trainsvc::IsMarkedDir(modelDir));
    const QJsonObject modelConfig = ReadJson(modelDir + "/Config.json");
    const QJsonArray names = modelConfig.value("classes").toArray();
    QCOMPARE(names.size(), classes.size());
    for (int i = 0; i < classes.size(); ++i)
        QCOMPARE(names.at(i).toObject().value("name").toString(), classes.at(i));
    const QJsonArray history = modelConfig.value("history").toArray();
    QCOMPARE(history.size(), 2);
    // The training loss is the mean over all batches of an epoch, the first epoch's holding the untrained
    // net's: far steadier than the validation loss of a dozen images, which may rise for an epoch.
    QVERIFY2(history.at(1).toObject().value("total_loss").toDouble() <
                 history.at(0).toObject().value("total_loss").toDouble(),
             QJsonDocument(history).toJson().constData());

    // The record names what the run used: settings with their defaults, the data and its split.
    comlib::protocol::ModelRecord record;
    QString error;
    QVERIFY2(comlib::protocol::ModelRecord::FromJson(modelConfig, record, error), qPrintable(error));
    QCOMPARE(modelConfig.value("weights").toString(), QString("weights.pt"));
    QCOMPARE(record.aiType, QString(object ? "Object" : "Segment"));
    QCOMPARE(record.version, version);
    QCOMPARE(record.inputSize, input);
    QCOMPARE(record.epochs, 2);
    QCOMPARE(record.batchSize, 4);
    QCOMPARE(record.seed, 3);
    QCOMPARE(record.trainPercent, 0.8);
    QVERIFY(record.learningRate > 0.0);
    QVERIFY(record.threads >= 1);
    QVERIFY2(QRegularExpression("^\\d+\\.\\d+\\.\\d+$").match(record.libtorch).hasMatch(),
             qPrintable(record.libtorch));
    QCOMPARE(record.settings.value("tiling").toObject().value("scale").toDouble(), 1.0);
    QVERIFY(record.settings.value("intensity_window").toObject().contains("low_quantile"));
    QVERIFY(record.settings.value("training").toObject().contains("weight_decay"));
    QCOMPARE(record.history.size(), 2);
    QCOMPARE(record.history[1].totalLoss, history.at(1).toObject().value("total_loss").toDouble());
    const QString datas = project + nexil::kDatasDir;
    DataSet data;
    data.Load(datas, classes);
    QCOMPARE(record.dataFingerprint, data.Fingerprint());
    QCOMPARE(record.trainImages, 48);
    QCOMPARE(record.valImages, 12);
    // The validation split by name, so that the version can be tested on it later.
    std::vector<trainsvc::Sample> trainSplit, valSplit;
    data.Split(record.trainPercent, unsigned(record.seed), trainSplit, valSplit);
    QStringList valPaths;
    for (const trainsvc::Sample& sample : valSplit)
        valPaths.append(QDir(datas).relativeFilePath(QString::fromStdString(sample.imagePath)));
    valPaths.sort();
    QCOMPARE(record.valPaths, valPaths);
    QCOMPARE(record.classCounts.size(), classes.size());
    for (int c = 0; c < classes.size(); ++c)
    {
        const int holding =
            int(std::count_if(data.Samples().begin(), data.Samples().end(),
                              [c](const trainsvc::Sample& sample)
                              {
                                  return std::any_of(sample.shapes.begin(), sample.shapes.end(),
                                                     [c](const Shape& shape) { return shape.cls == c; });
                              }));
        QCOMPARE(record.classCounts[c].name, classes.at(c));
        QCOMPARE(record.classCounts[c].train + record.classCounts[c].val, holding);
        QVERIFY(record.classCounts[c].val > 0);
    }

    ModelEngine engine;
    QStringList loadedClasses;
    QVERIFY2(TestJob::LoadModel(modelDir, engine, loadedClasses, error), qPrintable(error));
    QCOMPARE(engine.Layout().detection, object);
    QCOMPARE(engine.Layout().inputSize, input);
    QCOMPARE(engine.Layout().tileScale, 1.0);

    // An image that fits the input gives by tiles what it gives in one pass.
    const QStringList images = DataSet::ImageFiles(datas);
    QCOMPARE(images.size(), 60);
    for (int i = 0; i < 3; ++i)
    {
        cv::Mat fits;
        cv::resize(trainsvc::raster::ReadImage(images.at(i).toStdString()), fits, cv::Size(input, input));
        const trainsvc::Prediction single = engine.Predict(fits);
        const trainsvc::Prediction tiled = engine.Predict(fits, true);
        if (object)
        {
            QCOMPARE(tiled.boxes.size(), single.boxes.size());
            for (size_t b = 0; b < single.boxes.size(); ++b)
            {
                QCOMPARE(tiled.boxes[b].rect, single.boxes[b].rect);
                QCOMPARE(tiled.boxes[b].score, single.boxes[b].score);
            }
            continue;
        }
        QCOMPARE(cv::countNonZero(tiled.labels != single.labels), 0);
        QVERIFY(cv::norm(tiled.probability, single.probability, cv::NORM_INF) < 1e-5);
    }

    // A labelled test over the project's images.
    const QString save = project + nexil::kTestDir + "/" + version;
    const QString testConfig = project + "/train/" + version + "/test.json";
    QVERIFY(WriteJson(testConfig, {{"predict_mode", "labeled"},
                                   {"predict_path", datas},
                                   {"save_predict_path", save},
                                   {"test_model_path", modelDir}}));
    const QString testId = "L" + tag;
    QVERIFY(QStringList({"queued", "running"})
                .contains(Status(Post(nexil::kTestModel, testId, ConfigBody(testConfig)))));
    const Reply tested = WaitFor(nexil::kGetTestStatus, testId, {"done", "failed", "cancelled"});
    QVERIFY2(Status(tested) == "done", qPrintable(tested.body.value("message").toString()));

    // Every image has its prediction file at its place, in the image's own pixels, every shape with
    // its score; the rates and the summary follow from those files.
    comlib::protocol::TestSummary summary;
    QVERIFY2(comlib::protocol::TestSummary::FromJson(ReadJson(save + "/test_summary.result"), summary, error),
             qPrintable(error));
    QCOMPARE(summary.classes, classes);
    QCOMPARE(summary.images.size(), images.size());
    TestRates expected(int(classes.size()));
    for (int i = 0; i < images.size(); ++i)
    {
        const QString& image = images.at(i);
        const QString predicted =
            save + "/" + kStamp + "/RawDatas/" + QFileInfo(image).completeBaseName() + ".json";
        QVERIFY2(QFileInfo::exists(predicted), qPrintable(predicted));
        const QJsonObject predictionFile = ReadJson(predicted);
        QCOMPARE(predictionFile.value("imagePath").toString(), QFileInfo(image).fileName());
        QCOMPARE(predictionFile.value("imageWidth").toInt(), size);
        trainsvc::Sample truth, prediction;
        int unknown = 0;
        QVERIFY(DataSet::ReadAnnotation(ImageFiles::AnnotationPath(image), classes, truth, unknown));
        QVERIFY(DataSet::ReadAnnotation(predicted, classes, prediction, unknown));
        QCOMPARE(unknown, 0);
        for (const Shape& shape : prediction.shapes)
        {
            for (const cv::Point2f& p : shape.points)
                QVERIFY(p.x >= 0 && p.y >= 0 && p.x <= size && p.y <= size);
        }
        expected.Add(image, cv::Size(size, size), truth.shapes, prediction.shapes);
        const comlib::protocol::TestSummary::Image& row = summary.images.at(i);
        QCOMPARE(row.path, image);
        QCOMPARE(row.scores, HighestScores(predictionFile, classes));
        QVERIFY(row.truth.has_value() && row.hits.has_value());
        for (int c = 0; c < classes.size(); ++c)
        {
            QCOMPARE(row.truth->at(c), std::any_of(truth.shapes.begin(), truth.shapes.end(),
                                                   [c](const Shape& shape) { return shape.cls == c; }));
            // A shape that meets the truth is one of the class's shapes; without truth none meets it.
            QVERIFY(row.hits->at(c) <= row.scores.at(c));
            if (!row.truth->at(c))
                QCOMPARE(row.hits->at(c), 0.0);
        }
    }
    const QJsonArray missed = tested.body.value("loss_rate").toArray();
    const QJsonArray overkill = tested.body.value("overkill_rate").toArray();
    QCOMPARE(missed.size(), classes.size());
    QCOMPARE(overkill.size(), classes.size());
    for (int c = 0; c < classes.size(); ++c)
    {
        QCOMPARE(missed.at(c).toDouble(), expected.MissedRates()[size_t(c)]);
        QCOMPARE(overkill.at(c).toDouble(), expected.OverkillRates()[size_t(c)]);
    }
    QCOMPARE(tested.body.value("loss_image_path").toVariant().toStringList(), expected.MissedImages());
    QCOMPARE(tested.body.value("overkill_image_path").toVariant().toStringList(), expected.OverkillImages());

    // The validation images alone, named as the program names them.
    const QString valSave = project + nexil::kTestDir + "/val";
    comlib::protocol::TestRequest valRequest;
    valRequest.labeled = true;
    valRequest.predictPath = datas;
    valRequest.savePredictPath = valSave;
    valRequest.modelPath = modelDir;
    valRequest.images = record.valPaths;
    QVERIFY(WriteJson(testConfig, valRequest.ToJson()));
    QVERIFY(!Post(nexil::kTestModel, "V" + tag, ConfigBody(testConfig)).body.isEmpty());
    const Reply valTested = WaitFor(nexil::kGetTestStatus, "V" + tag, {"done", "failed", "cancelled"});
    QVERIFY2(Status(valTested) == "done", qPrintable(valTested.body.value("message").toString()));
    QVERIFY(
        comlib::protocol::TestSummary::FromJson(ReadJson(valSave + "/test_summary.result"), summary, error));
    QStringList valTestedPaths;
    for (const auto& row : summary.images)
        valTestedPaths.append(QDir(datas).relativeFilePath(row.path));
    QCOMPARE(valTestedPaths, record.valPaths);

    // An unlabelled test of a plain folder: predictions beside the folder's layout, no rates, a summary
    // without truth.
    const QString folder = m_dir.filePath("plain" + tag);
    QDir().mkpath(folder + "/sub");
    QVERIFY(QFile::copy(images.at(0), folder + "/first.png"));
    QVERIFY(QFile::copy(images.at(1), folder + "/sub/second.png"));
    const QString plainSave = project + nexil::kTestDir + "/plain";
    QVERIFY(WriteJson(testConfig, {{"predict_mode", "unlabeled"},
                                   {"predict_path", folder},
                                   {"save_predict_path", plainSave},
                                   {"test_model_path", modelDir}}));
    QVERIFY(!Post(nexil::kTestModel, "U" + tag, ConfigBody(testConfig)).body.isEmpty());
    const Reply plain = WaitFor(nexil::kGetTestStatus, "U" + tag, {"done", "failed", "cancelled"});
    QCOMPARE(Status(plain), QString("done"));
    QVERIFY(plain.body.value("loss_rate").toArray().isEmpty());
    QVERIFY(plain.body.contains("overkill_image_path"));
    QVERIFY(QFileInfo::exists(plainSave + "/first.json"));
    QVERIFY(QFileInfo::exists(plainSave + "/sub/second.json"));
    QVERIFY(
        comlib::protocol::TestSummary::FromJson(ReadJson(plainSave + "/test_summary.result"), summary, error));
    QCOMPARE(summary.images.size(), 2);
    QCOMPARE(summary.images.at(0).path, QDir::cleanPath(folder + "/first.png"));
    QVERIFY(!summary.images.at(0).truth.has_value());
    QCOMPARE(summary.images.at(0).scores, HighestScores(ReadJson(plainSave + "/first.json"), classes));
}

// The same data, config and seed give the same weights file, byte for byte, and the same record; a
// moved project keeps its data fingerprint. Another seed gives other weights.
void tst_TrainService::sameSeedSameWeights()
{
    const QString version = "V2024-01-01_00-00-06";
    QStringList hashes;
    QList<QJsonObject> records;
    for (const QString name : {"seedA", "seedB", "seedC"})
    {
        const QString project = m_dir.filePath(name);
        const QStringList classes = MakeProject(project, false, 16, 48);
        const QJsonObject extra{{"threads", 2}, {"seed", name == QString("seedC") ? 4 : 3}};
        const QString config = WriteTrainConfig(project, version, false, 1, classes, 32, extra);
        Post(nexil::kStartTrainTask, name, ConfigBody(config));
        const Reply done = WaitFor(nexil::kGetTrainStatus, name, {"done", "failed", "cancelled"});
        QVERIFY2(Status(done) == "done", qPrintable(done.body.value("message").toString()));
        const QString modelDir = project + "/train/" + version + nexil::kModelDir;
        hashes.append(QString::fromLatin1(FileHash(modelDir + "/weights.pt").toHex()));
        records.append(ReadJson(modelDir + "/Config.json"));
    }
    QCOMPARE(hashes.at(1), hashes.at(0));
    QCOMPARE(records.at(1), records.at(0));
    QCOMPARE(records.at(0).value("threads").toInt(), 2);
    QVERIFY(hashes.at(2) != hashes.at(0));
    QCOMPARE(records.at(2).value("data").toObject().value("fingerprint"),
             records.at(0).value("data").toObject().value("fingerprint"));
}

QTEST_GUILESS_MAIN(tst_TrainService)
#include "tst_TrainService.moc"
