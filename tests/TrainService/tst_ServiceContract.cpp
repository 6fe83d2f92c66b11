#include "CallbackLog.h"
#include "ProjectRecord.h"

#include "ComLib/Service/ServiceProtocol.h"
#include "ComLib/Service/ServiceReply.h"
#include "ModelTesting/ThresholdRates.h"
#include "ModelTraining/TrainConfig.h"
#include "Nexil/ImageFiles.h"
#include "Nexil/NexilApi.h"
#include "Nexil/ROI/RectROIItem.h"
#include "TrainService/JobConfig.h"
#include "TrainService/JobQueue.h"
#include "TrainService/TestJob.h"
#include "TrainService/TestRates.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

// The program and the service read each other's files and replies: what the training page writes is
// what the service reads, and a status the service builds is what the pages are shown.
class tst_ServiceContract : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void trainConfigReadAsWritten_data();
    void trainConfigReadAsWritten();
    void missingKeyIsNamed_data();
    void missingKeyIsNamed();
    void statusReadAsBuilt();
    void modelRecordAndSummaryReadAsWritten();
    void thresholdsReadAsWritten();
    void savedThresholdsApplied();
    void pageRatesAgreeWithTheTable();

private:
    // config.json of a one-image project of the given type, as the training page writes it.
    QString WriteProgramConfig(int type, int epochs, int fineness);

    std::unique_ptr<QTemporaryDir> m_dir;
    CallbackLog m_saved;
};

void tst_ServiceContract::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(m_dir->path() + "/ws"));
    CreateNexil();
    QVERIFY(NexilIns().lock()->Init(m_dir->path() + "/ws"));
    m_saved = CallbackLog();
}

void tst_ServiceContract::cleanup()
{
    ReleaseNexil();
    m_dir.reset();
}

QString tst_ServiceContract::WriteProgramConfig(int type, int epochs, int fineness)
{
    const auto spCore = NexilIns().lock();
    const auto info = MakeInfo("P1", "contract", type);
    if (!spCore->AddPro(info))
        return QString();
    spCore->OpenPro("P1");
    const auto spPrj = PrjIns().lock();
    spPrj->SetSaveCallback(&CallbackLog::Record, &m_saved);
    spPrj->AddMarkType("scratch");
    spPrj->AddMarkType("spot");
    const QString source = m_dir->path() + "/img.png";
    cv::imwrite(source.toStdString(), cv::Mat(30, 40, CV_8UC3, cv::Scalar(10, 20, 30)));
    auto spImg = std::make_shared<pro::ImageInfo>();
    spImg->path = source;
    spImg->fileName = "img.png";
    spImg->addTime = "2024-05-06_07-08-09-010";
    spImg->rois.append(std::make_shared<RectROIItem>(QRectF(1, 1, 5, 5), 0, "spot"));
    spPrj->AddImage(spImg);
    if (!QTest::qWaitFor([this] { return !m_saved.results.isEmpty(); }))
        return QString();
    const TrainConfig::Result written = TrainConfig::Write(*spPrj, *info, epochs, fineness);
    return written.status == TrainConfig::Status::Ok ? written.configPath : QString();
}

void tst_ServiceContract::trainConfigReadAsWritten_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("epochs");
    QTest::addColumn<int>("fineness");
    QTest::addColumn<QString>("aiType");
    QTest::newRow("segmentation") << 1 << 7 << 2 << "Segment";
    QTest::newRow("detection") << 2 << 300 << 5 << "Object";
}

void tst_ServiceContract::trainConfigReadAsWritten()
{
    QFETCH(int, type);
    QFETCH(int, epochs);
    QFETCH(int, fineness);
    QFETCH(QString, aiType);
    const QString path = WriteProgramConfig(type, epochs, fineness);
    QVERIFY(!path.isEmpty());

    trainsvc::TrainConfig config;
    QString error;
    QVERIFY2(trainsvc::ReadTrainConfig(path, config, error), qPrintable(error));
    const QString prj = m_dir->path() + "/ws/contract";
    QCOMPARE(config.classes, QStringList({"scratch", "spot"}));
    QCOMPARE(config.datasPath, prj + "/datas");
    QCOMPARE(config.trainPath, QFileInfo(path).path());
    QCOMPARE(config.version, QFileInfo(config.trainPath).fileName());
    QCOMPARE(config.aiType, aiType);
    QCOMPARE(config.fineness, fineness);
    QCOMPARE(config.settings.epochs, epochs);
    QCOMPARE(config.trainPercent, 0.9);
    QCOMPARE(config.net.detection, type == 2);
}

void tst_ServiceContract::missingKeyIsNamed_data()
{
    QTest::addColumn<QString>("key");
    for (const char* key :
         {"image_size", "num_classes", "classes_name", "train_percent", "datas_path", "train_path", "version",
          "project_name", "fineness", "unfreeze_train_epoch", "ai_type", "net_type"})
        QTest::newRow(key) << key;
}

// A key the program writes and the service needs is never replaced by a default when it is missing.
void tst_ServiceContract::missingKeyIsNamed()
{
    QFETCH(QString, key);
    const QString path = WriteProgramConfig(1, 3, 1);
    QVERIFY(!path.isEmpty());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    QVERIFY(object.contains(key));
    object.remove(key);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QJsonDocument(object).toJson());
    file.close();

    trainsvc::TrainConfig config;
    QString error;
    QVERIFY(!trainsvc::ReadTrainConfig(path, config, error));
    QVERIFY2(error.contains('"' + key + '"'), qPrintable(error));
}

void tst_ServiceContract::statusReadAsBuilt()
{
    const comlib::ServiceReply failed =
        comlib::ServiceReply::FromBody(QJsonDocument(JobQueue::Failed("no model")).toJson());
    QCOMPARE(failed.status.value_or(""), QString("failed"));
    QCOMPARE(failed.message.value_or(""), QString("no model"));
    const comlib::ServiceReply cancelled =
        comlib::ServiceReply::FromBody(QJsonDocument(JobQueue::Cancelled()).toJson());
    QCOMPARE(cancelled.status.value_or(""), QString("cancelled"));

    comlib::protocol::StatusReply done;
    done.status = "done";
    done.batch = {3, 9};
    done.loss = {1.5, 4, 0.25, 0.5};
    done.remainTime = 12.5;
    done.lossRate = QVector<double>{0.5, 0};
    done.overkillRate = QVector<double>{0, 0.25};
    done.lossImagePaths = QStringList{"/p/a.png"};
    done.overkillImagePaths = QStringList{"/p/b.png", "/p/c.png"};
    const comlib::ServiceReply read = comlib::ServiceReply::FromBody(QJsonDocument(done.ToJson()).toJson());
    QCOMPARE(read.ToJson(), done.ToJson());
    QCOMPARE(read.loss->valLoss, 0.5);
    QCOMPARE(*read.overkillImagePaths, *done.overkillImagePaths);
}

void tst_ServiceContract::modelRecordAndSummaryReadAsWritten()
{
    using comlib::protocol::ModelRecord;
    using comlib::protocol::TestSummary;
    ModelRecord record;
    record.classes = QStringList{"scratch", "spot"};
    record.fineness = 3;
    record.epochs = 40;
    record.seed = 11;
    record.settings = QJsonObject{{"tile", 256}};
    record.classCounts = {{"scratch", 30, 8}, {"spot", 12, 3}};
    record.history = {{1, 0.9, 1.1}, {2, 0.5, 0.7}};
    record.valPaths = QStringList{"RawDatas/b1/a.png", "RawDatas/b2/c d.png"};
    ModelRecord read;
    QString error;
    QVERIFY2(ModelRecord::FromJson(record.ToJson(), read, error), qPrintable(error));
    QCOMPARE(read.ToJson(), record.ToJson());
    QCOMPARE(read.history.size(), 2);
    QCOMPARE(read.classCounts.at(1).val, 3);

    // A version trained before the record grew still loads with what it has.
    const QJsonObject old = QJsonDocument::fromJson(R"({"classes": [{"name": "dent"}], "fineness": 2,
        "history": [{"epoch": 1, "total_loss": 0.4, "val_loss": 0.6}]})")
                                .object();
    QVERIFY(ModelRecord::FromJson(old, read, error));
    QCOMPARE(read.classes, QStringList{"dent"});
    QCOMPARE(read.history.size(), 1);
    QCOMPARE(read.epochs, 0);
    QVERIFY(read.valPaths.isEmpty());
    QVERIFY(!ModelRecord::FromJson(QJsonObject{{"history", QJsonArray()}}, read, error));

    // test.json names single images only when asked to; a list that is not all texts is refused.
    comlib::protocol::TestRequest request{true, "/p/datas", "/p/test/V1", "/p/train/V1/model", std::nullopt};
    comlib::protocol::TestRequest readRequest;
    QVERIFY(comlib::protocol::TestRequest::FromJson(request.ToJson(), readRequest, error));
    QVERIFY(!request.ToJson().contains("predict_images") && !readRequest.images);
    request.images = record.valPaths;
    QVERIFY(comlib::protocol::TestRequest::FromJson(request.ToJson(), readRequest, error));
    QCOMPARE(readRequest.images, request.images);
    QJsonObject mixed = request.ToJson();
    mixed.insert("predict_images", QJsonArray{"a.png", 3});
    QVERIFY(!comlib::protocol::TestRequest::FromJson(mixed, readRequest, error));
    QVERIFY2(error.contains("predict_images"), qPrintable(error));

    TestSummary summary;
    summary.classes = QStringList{"scratch", "spot"};
    summary.images = {{"/t/a.png", {0.75, 0}, QVector<bool>{true, false}},
                      {"/t/b.png", {0, 0.5}, std::nullopt}};
    TestSummary readSummary;
    QVERIFY2(TestSummary::FromJson(summary.ToJson(), readSummary, error), qPrintable(error));
    QCOMPARE(readSummary.ToJson(), summary.ToJson());
    QVERIFY(!readSummary.images.at(1).truth);

    // No image's prediction file can take the summary's place.
    for (const QString& suffix : ImageFiles::Suffixes())
        QVERIFY(comlib::protocol::PredictionPath("/p", "/s", "/p/test_summary." + suffix) !=
                QString("/s/") + comlib::protocol::kTestSummaryFile);

    QJsonObject broken = summary.ToJson();
    QJsonArray rows = broken.value("images").toArray();
    rows.append(QJsonObject{{"path", "/t/c.png"}, {"scores", QJsonArray{0.5}}});
    broken.insert("images", rows);
    QVERIFY(!TestSummary::FromJson(broken, readSummary, error));
    QVERIFY2(error.contains("/t/c.png"), qPrintable(error));
}

void tst_ServiceContract::thresholdsReadAsWritten()
{
    using comlib::protocol::ClassThresholds;
    ClassThresholds saved;
    saved.classes = QStringList{"scratch", "spot"};
    saved.thresholds = {0.35, 1};
    saved.testSet = {"held-out", 120, "ab12"};
    ClassThresholds read;
    QString error;
    QVERIFY2(ClassThresholds::FromJson(saved.ToJson(), read, error), qPrintable(error));
    QCOMPARE(read.ToJson(), saved.ToJson());
    QCOMPARE(read.testSet.images, 120);
    QCOMPARE(read.ThresholdOf("spot", 0.5), 1.0);
    QCOMPARE(read.ThresholdOf("dent", 0.5), 0.5);

    // A file edited by hand is refused rather than half applied.
    const QList<QByteArray> refused{
        R"({"classes":[{"name":"a","threshold":1.5}]})", R"({"classes":[{"name":"a","threshold":"0.5"}]})",
        R"({"classes":[{"name":"a","threshold":0.1},{"name":"a","threshold":0.2}]})",
        R"({"classes":{"a":0.5}})"};
    for (const QByteArray& text : refused)
        QVERIFY2(!ClassThresholds::FromJson(QJsonDocument::fromJson(text).object(), read, error), text);
}

void tst_ServiceContract::savedThresholdsApplied()
{
    const QString model = m_dir->path() + "/model";
    QVERIFY(QDir().mkpath(model));
    const QStringList classes{"scratch", "spot", "dent"};
    // Without a file every shape counts.
    QCOMPARE(TestJob::SavedThresholds(model, classes), (std::vector<float>{0, 0, 0}));

    comlib::protocol::ClassThresholds saved;
    saved.classes = QStringList{"spot", "scratch", "gone"};
    saved.thresholds = {0.75, 0.5, 0.9};
    QFile file(model + "/" + comlib::protocol::kThresholdsFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(saved.ToJson()).toJson());
    file.close();
    const std::vector<float> thresholds = TestJob::SavedThresholds(model, classes);
    QCOMPARE(thresholds, (std::vector<float>{0.5f, 0.75f, 0.0f}));

    std::vector<trainsvc::Shape> shapes(4);
    shapes[0] = {0, true, {}, 0.5f};  // scratch at its threshold: kept
    shapes[1] = {0, true, {}, 0.49f}; // below: dropped
    shapes[2] = {1, true, {}, 0.7f};  // spot below 0.75: dropped
    shapes[3] = {2, true, {}, 0.01f}; // dent without a threshold: kept
    const std::vector<trainsvc::Shape> kept = TestJob::AtThresholds(shapes, thresholds);
    QCOMPARE(int(kept.size()), 2);
    QCOMPARE(kept[0].score, 0.5f);
    QCOMPARE(kept[1].cls, 2);

    // A file edited into nonsense is ignored, not half applied.
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(R"({"classes":[{"name":"spot","threshold":7}]})");
    file.close();
    QCOMPARE(TestJob::SavedThresholds(model, classes), (std::vector<float>{0, 0, 0}));
}

QTEST_GUILESS_MAIN(tst_ServiceContract)
// The rates the panel recounts from the summary at any thresholds are those the service puts in the
// table for the same thresholds: a shape of the right class in the wrong place finds nothing.
void tst_ServiceContract::pageRatesAgreeWithTheTable()
{
    using trainsvc::Shape;
    const auto rect = [](int cls, float x0, float y0, float x1, float y1, float score)
    {
        Shape shape;
        shape.cls = cls;
        shape.rect = true;
        shape.points = {{x0, y0}, {x1, y1}};
        shape.score = score;
        return shape;
    };
    const cv::Size size(100, 100);
    struct Case
    {
        QString path;
        std::vector<Shape> truth;
        std::vector<Shape> predicted;
    };
    // Classes 0 "scratch" and 1 "spot".
    const QVector<Case> cases{
        // scratch truth; a strong scratch far off, a weak one on it.
        {"/t/a.png",
         {rect(0, 10, 10, 30, 30, 1)},
         {rect(0, 60, 60, 80, 80, 0.9f), rect(0, 12, 12, 20, 20, 0.4f)}},
        // spot truth, seen as scratch.
        {"/t/b.png", {rect(1, 40, 40, 50, 50, 1)}, {rect(0, 40, 40, 50, 50, 0.7f)}},
        // a good image with a faint spot.
        {"/t/c.png", {}, {rect(1, 5, 5, 9, 9, 0.2f)}},
        // both held, spot found on it, scratch nowhere.
        {"/t/d.png",
         {rect(0, 0, 0, 10, 10, 1), rect(1, 70, 70, 90, 90, 1)},
         {rect(1, 75, 75, 95, 95, 0.6f), rect(1, 0, 50, 5, 55, 0.95f)}},
        // scratch truth found strongly, with a spot beside it.
        {"/t/e.png",
         {rect(0, 20, 60, 40, 80, 1)},
         {rect(0, 25, 65, 35, 75, 0.8f), rect(1, 80, 0, 90, 10, 0.3f)}},
    };
    comlib::protocol::TestSummary written;
    written.classes = QStringList{"scratch", "spot"};
    for (const Case& c : cases)
        written.images.append(TestJob::SummaryRow(c.path, size, c.predicted, &c.truth, 2));
    // The panel reads the summary from its file. Thresholds typed as 0.7 and 0.6 meet scores of exactly
    // those values, which the service holds in single precision.
    comlib::protocol::TestSummary summary;
    QString error;
    QVERIFY2(comlib::protocol::TestSummary::FromJson(written.ToJson(), summary, error), qPrintable(error));
    const ThresholdRates page(summary);

    for (const QVector<double>& thresholds : QVector<QVector<double>>{
             {0, 0}, {0.3, 0.3}, {0.5, 0.5}, {0.7, 0.6}, {0.85, 0.1}, {0.95, 0.96}, {1, 1}})
    {
        TestRates table(2);
        for (const Case& c : cases)
            table.Add(c.path, size, c.truth,
                      TestJob::AtThresholds(c.predicted, {float(thresholds[0]), float(thresholds[1])}));
        const QVector<ThresholdRates::ClassRate> rates = page.Rates(thresholds);
        const QByteArray at = QByteArray::number(thresholds[0]) + "/" + QByteArray::number(thresholds[1]);
        for (int cls = 0; cls < 2; ++cls)
        {
            QVERIFY2(qFuzzyCompare(1 + rates[cls].MissedRate(), 1 + table.MissedRates()[size_t(cls)]), at);
            QVERIFY2(qFuzzyCompare(1 + rates[cls].OverkillRate(), 1 + table.OverkillRates()[size_t(cls)]),
                     at);
        }
        QStringList missed, overkill;
        for (const auto& wrong : page.Errors(thresholds))
        {
            if (!wrong.missed.isEmpty())
                missed.append(page.Image(wrong.image).path);
            if (!wrong.overkill.isEmpty())
                overkill.append(page.Image(wrong.image).path);
        }
        QVERIFY2(missed == table.MissedImages(), at);
        QVERIFY2(overkill == table.OverkillImages(), at);
    }
    // At 0.5 the strong scratch off the defect does not hide the miss on a.
    QCOMPARE(page.Rate(0, 0.5).missed, 2);
    QCOMPARE(page.Rate(0, 0.3).missed, 1);
}

#include "tst_ServiceContract.moc"
