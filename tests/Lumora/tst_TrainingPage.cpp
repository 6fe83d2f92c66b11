#include "CallbackLog.h"
#include "Child.h"
#include "FakeTrainService.h"
#include "MsgWndProbe.h"
#include "PageFixture.h"

#include "ModelTraining/DatasetCheckWid.h"
#include "ModelTraining/ModelTrainingWid.h"

#include "ComLib/Service/ServiceClient.h"
#include "ComLib/Service/ServiceProtocol.h"
#include "ComLib/Service/ServiceRun.h"
#include "ComUi/CMsgWnd.h"
#include "ComUi/Skin.h"
#include "Nexil/NexilApi.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegend>
#include <QtCharts/QValueAxis>
#include <QtCharts/QXYSeries>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

using namespace QtCharts;

namespace
{

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QByteArray Body(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject ReadJson(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

QString Points(const QAbstractSeries* series)
{
    QStringList points;
    for (const QPointF& p : static_cast<const QXYSeries*>(series)->pointsVector())
        points.append(QString("%1:%2").arg(p.x()).arg(p.y()));
    return points.join(' ');
}

// One image of a test project: its size and whether it carries a shape.
struct Picture
{
    QSize size;
    bool marked = true;
    // Bytes that are no image at all.
    bool broken = false;
    // The shape's title when it is not the first category.
    QString title = QString();
    bool ok = false;
};

} // namespace

Q_DECLARE_METATYPE(Picture)

// A version folder as the service leaves it: its model record written seconds after its start.
bool WriteVersion(const QString& prjPath, const QString& name, const QJsonObject& record, int seconds)
{
    const QString modelDir = prjPath + "/train/" + name + "/model";
    if (!QDir().mkpath(modelDir))
        return false;
    QFile file(modelDir + "/Config.json");
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(record).toJson()) <= 0)
        return false;
    // Closing after the write would stamp the file with the present.
    file.close();
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QDateTime written = QDateTime::fromString(name.mid(1), "yyyy-MM-dd_hh-mm-ss").addSecs(seconds);
    return file.setFileTime(written, QFileDevice::FileModificationTime);
}

comlib::protocol::ModelRecord FullRecord()
{
    comlib::protocol::ModelRecord record;
    record.classes = QStringList{"a", "b"};
    record.fineness = 3;
    record.epochs = 4;
    record.inputSize = 256;
    record.width = 16;
    record.trainImages = 8;
    record.valImages = 2;
    record.classCounts = {{"a", 5, 1}, {"b", 3, 1}};
    record.history = {{1, 0.9, 0.8}, {2, 0.6, 0.55}, {3, 0.4, 0.42}, {4, 0.3, 0.35}};
    return record;
}

class tst_TrainingPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sliderLabels_data();
    void sliderLabels();
    void configJson_data();
    void configJson();
    void refusedStarts_data();
    void refusedStarts();
    void versionDirectoryNeverShared();
    void requestsInOrderAndStopIgnoresLateReplies();
    void earlierRunsReplyIgnored();
    void statusEndsRun_data();
    void statusEndsRun();
    void repliesShown_data();
    void repliesShown();
    void secondRunKeepsLossAxis();
    void networkErrors_data();
    void networkErrors();
    void deviceLines_data();
    void deviceLines();
    void checkShownAndStartStillWorks();
    void checkRefreshedWhenPageShown();
    void staleCheckNotShown();
    void versionHistoryShown();
    void finishedRunJoinsHistory();
    void readableEventsAndQueue();
    void processorWithoutOpenCl();

private:
    void OpenProject(int type, const QStringList& classes, const QList<Picture>& pictures);
    // A page against the fake service, with a short time limit for its requests.
    std::unique_ptr<ModelTrainingWid> MakePage();
    // Clicks start and waits until the service has the start request.
    void Start(ModelTrainingWid& page);
    QString PrjPath() const;
    // Shows the page and waits for the data set check it makes.
    void ShowChecked(ModelTrainingWid& page);

    QString Text(ModelTrainingWid& page, const char* label) { return Child<QLabel>(page, label)->text(); }
    QString Log(ModelTrainingWid& page)
    {
        return page.findChild<QPlainTextEdit*>(QStringLiteral("plainTextEdit"))->toPlainText();
    }
    bool Running(ModelTrainingWid& page)
    {
        return Child<QPushButton>(page, "btnTraining")->text() == U("停止训练");
    }
    QChart* Chart(ModelTrainingWid& page) { return Child<QChartView>(page, "lostView")->chart(); }
    QValueAxis* Axis(ModelTrainingWid& page, Qt::Orientation orientation)
    {
        return static_cast<QValueAxis*>(Chart(page)->axes(orientation).value(0));
    }

    PageFixture m_fixture;
    std::unique_ptr<FakeTrainService> m_service;
    std::unique_ptr<MsgWndProbe> m_probe;
};

void tst_TrainingPage::initTestCase()
{
    qRegisterMetaType<QNetworkReply*>();
    InitComUiResources();
}

void tst_TrainingPage::init()
{
    QVERIFY(m_fixture.Init());
    PageFixture::RedirectHome(m_fixture.Path());
    m_service = std::make_unique<FakeTrainService>();
    QVERIFY(m_service->Listen());
    qputenv(comlib::ServiceClient::kUrlVariable, m_service->BaseUrl().toUtf8());
    // Any message window is answered and recorded, so none can block a test.
    m_probe = std::make_unique<MsgWndProbe>();
}

void tst_TrainingPage::cleanup()
{
    m_probe.reset();
    m_service.reset();
    qunsetenv(comlib::ServiceClient::kUrlVariable);
    m_fixture.Cleanup();
}

QString tst_TrainingPage::PrjPath() const
{
    return m_fixture.ProjectPath();
}

void tst_TrainingPage::OpenProject(int type, const QStringList& classes, const QList<Picture>& pictures)
{
    QVERIFY(m_fixture.OpenProject(type, classes));
    for (int i = 0; i < pictures.size(); ++i)
    {
        const Picture& picture = pictures[i];
        const auto spImg = m_fixture.Picture(QString("img%1.png").arg(i), picture.size);
        if (picture.broken)
        {
            QFile file(spImg->path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("no image") > 0);
        }
        spImg->filter = U("手动添加");
        if (picture.marked)
            spImg->rois.append(std::make_shared<RectROIItem>(
                QRectF(0, 0, 2, 2), 0, picture.title.isEmpty() ? classes.value(0, "a") : picture.title));
        spImg->markAsOK = picture.ok;
        m_fixture.Store(spImg);
    }
    QTRY_COMPARE(m_fixture.Saved().results.size(), pictures.size());
}

std::unique_ptr<ModelTrainingWid> tst_TrainingPage::MakePage()
{
    auto page = std::make_unique<ModelTrainingWid>();
    page->findChild<comlib::ServiceClient*>()->SetTimeoutMs(500);
    // Polls come every 100 ms instead of every second.
    page->findChild<comlib::ServiceRun*>()->SetIntervalMs(100);
    return page;
}

void tst_TrainingPage::Start(ModelTrainingWid& page)
{
    const int before = m_service->RequestsTo("/start_train_task").size();
    Child<QPushButton>(page, "btnTraining")->click();
    QTRY_COMPARE(m_service->RequestsTo("/start_train_task").size(), before + 1);
}

void tst_TrainingPage::sliderLabels_data()
{
    QTest::addColumn<QString>("slider");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("text");
    QTest::newRow("fewest epochs") << "sliderEpochs" << 1 << "lbEpochs" << U("轮数(1):");
    QTest::newRow("most epochs") << "sliderEpochs" << 300 << "lbEpochs" << U("轮数(300):");
    QTest::newRow("beyond epochs") << "sliderEpochs" << 400 << "lbEpochs" << U("轮数(300):");
    QTest::newRow("finest") << "sliderPrecision" << 5 << "lbPrecision" << U("精度(5):");
    QTest::newRow("coarsest") << "sliderPrecision" << 0 << "lbPrecision" << U("精度(1):");
}

void tst_TrainingPage::sliderLabels()
{
    QFETCH(QString, slider);
    QFETCH(int, value);
    QFETCH(QString, label);
    QFETCH(QString, text);

    auto page = MakePage();
    QCOMPARE(Text(*page, "lbEpochs"), U("轮数(50):"));
    QCOMPARE(Text(*page, "lbPrecision"), U("精度(2):"));
    Child<QSlider>(*page, slider.toLatin1())->setValue(value);
    QCOMPARE(Text(*page, label.toLatin1()), text);
}

void tst_TrainingPage::configJson_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("aiType");
    QTest::addColumn<QString>("netType");
    QTest::newRow("segment") << 1 << "Segment"
                             << "DeepLabV3Plus";
    QTest::newRow("object") << 2 << "Object"
                            << "YOLOV8";
}

void tst_TrainingPage::configJson()
{
    QFETCH(int, type);
    QFETCH(QString, aiType);
    QFETCH(QString, netType);

    // Not in alphabetical order, so a sorted list shows; sizes differ, so the wrong image shows.
    const QStringList classes{"scratch", "dent", "rust"};
    OpenProject(type, classes, {{QSize(30, 20)}, {QSize(50, 40)}, {QSize(70, 10), false}});
    m_service->Script("/start_train_task", {FakeTrainService::Json(R"({"status":"running"})")});
    auto page = MakePage();
    Child<QSlider>(*page, "sliderEpochs")->setValue(120);
    Child<QSlider>(*page, "sliderPrecision")->setValue(4);
    Start(*page);

    QVERIFY(Running(*page));
    QVERIFY(!Child<QSlider>(*page, "sliderEpochs")->isEnabled());
    QVERIFY(!Child<QSlider>(*page, "sliderPrecision")->isEnabled());

    const auto request = m_service->RequestsTo("/start_train_task").at(0);
    const QString configPath = QJsonDocument::fromJson(request.body).object().value("config_path").toString();
    const QJsonObject config = ReadJson(configPath);
    QStringList keys = config.keys();
    keys.sort();
    QCOMPARE(keys, QStringList({"ai_type", "classes_name", "datas_path", "fineness", "image_size", "net_type",
                                "num_classes", "pre_model_path", "project_name", "train_logs_path",
                                "train_model_path", "train_path", "train_percent", "unfreeze_train_epoch",
                                "version"}));

    const auto spPrj = PrjIns().lock();
    const cv::Mat first = cv::imread(spPrj->Images().first()->path.toStdString());
    QCOMPARE(config.value("image_size").toArray(), QJsonArray({first.rows, first.cols}));
    QCOMPARE(config.value("num_classes").toVariant(), QVariant(qlonglong(3)));
    QCOMPARE(config.value("classes_name").toArray(), QJsonArray::fromStringList(classes));
    for (const char* key : {"pre_model_path", "train_model_path", "train_logs_path"})
        QVERIFY2(config.value(key).isNull(), key);
    QCOMPARE(config.value("train_percent").toDouble(), 0.9);
    QCOMPARE(config.value("datas_path").toString(), PrjPath() + "/datas");
    const QString version = config.value("version").toString();
    QVERIFY2(QRegularExpression(R"(^V\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d$)").match(version).hasMatch(),
             qPrintable(version));
    QCOMPARE(version.size(), 20);
    QCOMPARE(config.value("train_path").toString(), PrjPath() + "/train/" + version);
    QCOMPARE(configPath, PrjPath() + "/train/" + version + "/config.json");
    QCOMPARE(config.value("project_name").toString(), U("螺丝"));
    QCOMPARE(config.value("fineness").toVariant(), QVariant(qlonglong(4)));
    QCOMPARE(config.value("unfreeze_train_epoch").toVariant(), QVariant(qlonglong(120)));
    QCOMPARE(config.value("ai_type").toString(), aiType);
    QCOMPARE(config.value("net_type").toString(), netType);
    QVERIFY(m_probe->Messages().isEmpty());
    // Written aside and renamed: nothing else is left in the run directory.
    QCOMPARE(QDir(PrjPath() + "/train/" + version).entryList(QDir::Files), QStringList({"config.json"}));
}

void tst_TrainingPage::refusedStarts_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("classes");
    QTest::addColumn<QList<Picture>>("pictures");
    // A file where the run directories go.
    QTest::addColumn<bool>("trainIsFile");
    QTest::addColumn<QString>("title");
    // %1: the first image's path, %2: the project's path; the rest is taken as it stands, but "*".
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    const QStringList classes{"scratch"};
    const QList<Picture> good{{QSize(8, 6)}};
    QTest::newRow("no image") << 1 << classes << QList<Picture>() << false << U("提示") << U("无标注图片。")
                              << int(NOTIFY_ABOUT);
    QTest::newRow("no annotated image") << 1 << classes << QList<Picture>{{QSize(8, 6), false}} << false
                                        << U("提示") << U("无标注图片。") << int(NOTIFY_ABOUT);
    QTest::newRow("no category") << 1 << QStringList() << good << false << U("提示") << U("无标注类别。")
                                 << int(NOTIFY_ABOUT);
    QTest::newRow("no ROI of a category")
        << 2 << classes << QList<Picture>{{QSize(8, 6), true, false, "rust"}} << false << U("错误")
        << U("没有任何类别的ROI，无法训练。") << int(NOTIFY_ERROR);
    QTest::newRow("only OK images") << 1 << classes << QList<Picture>{{QSize(8, 6), false, false, "", true}}
                                    << false << U("错误") << U("没有任何类别的ROI，无法训练。")
                                    << int(NOTIFY_ERROR);
    QTest::newRow("unreadable image") << 2 << classes << QList<Picture>{{QSize(8, 6), true, true}} << false
                                      << U("错误") << U("图像异常，未取得%1图像宽高") << int(NOTIFY_ERROR);
    QTest::newRow("unknown type") << 3 << classes << good << false << U("错误") << U("暂不支持类型训练.")
                                  << int(NOTIFY_ERROR);
    QTest::newRow("run directory cannot be made")
        << 1 << classes << good << true << U("错误") << U("训练配置%2/train/V*/config.json写入失败.")
        << int(NOTIFY_ERROR);
}

void tst_TrainingPage::refusedStarts()
{
    QFETCH(int, type);
    QFETCH(QStringList, classes);
    QFETCH(QList<Picture>, pictures);
    QFETCH(bool, trainIsFile);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, kind);

    OpenProject(type, classes, pictures);
    if (trainIsFile)
    {
        QFile file(PrjPath() + "/train");
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const auto& images = PrjIns().lock()->Images();
    const QString expected = QString(text)
                                 .replace("%1", images.isEmpty() ? QString() : images.first()->path)
                                 .replace("%2", PrjPath());
    const QString pattern = QRegularExpression::escape(expected).replace("\\*", "[^/]{19}");
    auto page = MakePage();
    QSignalSpy requests(m_service.get(), &FakeTrainService::Signal_Request);
    Child<QPushButton>(*page, "btnTraining")->click();

    QCOMPARE(m_probe->Messages().size(), 1);
    QCOMPARE(m_probe->Messages()[0].title, title);
    const QString shown = m_probe->Messages()[0].text;
    QVERIFY2(QRegularExpression("^" + pattern + "$").match(shown).hasMatch(),
             qPrintable(shown + " / " + pattern));
    QCOMPARE(m_probe->Messages()[0].kind, kind);
    QVERIFY(!Running(*page));
    QVERIFY(QDir(PrjPath() + "/train").entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    // A request would reach the service within a few polls.
    QVERIFY(!requests.wait(500));
    QVERIFY(m_service->Requests().isEmpty());
}

void tst_TrainingPage::versionDirectoryNeverShared()
{
    OpenProject(1, {"scratch"}, {{QSize(8, 6)}});
    // The names of this second and the next ones are taken already, as by earlier starts.
    const QString train = PrjPath() + "/train/";
    QStringList taken;
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = -1; i <= 3; ++i)
    {
        taken.append("V" + now.addSecs(i).toString("yyyy-MM-dd_hh-mm-ss"));
        QVERIFY(QDir().mkpath(train + taken.last()));
        QFile marker(train + taken.last() + "/config.json");
        QVERIFY(marker.open(QIODevice::WriteOnly) && marker.write("earlier run") > 0);
    }

    auto page = MakePage();
    Start(*page);
    const QString configPath =
        QJsonDocument::fromJson(m_service->Requests().at(0).body).object().value("config_path").toString();
    const QString version = ReadJson(configPath).value("version").toString();
    QVERIFY2(!taken.contains(version), qPrintable(version));
    QCOMPARE(version.size(), 20);
    for (const QString& name : taken)
    {
        QFile marker(train + name + "/config.json");
        QVERIFY(marker.open(QIODevice::ReadOnly));
        QCOMPARE(marker.readAll(), QByteArray("earlier run"));
    }
}

void tst_TrainingPage::requestsInOrderAndStopIgnoresLateReplies()
{
    OpenProject(1, {"scratch"}, {{QSize(8, 6)}});
    m_service->Script("/start_train_task", {FakeTrainService::Json(R"({"status":"running"})")});
    m_service->Script("/get_train_status",
                      {FakeTrainService::Json(R"({"status":"running","batch":1,"all_batch":9})"),
                       FakeTrainService::Hold()});
    m_service->Script("/cancel_train_task", {FakeTrainService::Json(R"({"status":"cancelled"})")});
    auto page = MakePage();
    // The held poll must outlive the test's steps.
    page->findChild<comlib::ServiceClient*>()->SetTimeoutMs(60000);
    auto* manager = page->findChild<QNetworkAccessManager*>();
    QSignalSpy finished(manager, &QNetworkAccessManager::finished);
    Start(*page);
    QTRY_COMPARE_WITH_TIMEOUT(m_service->HeldCount(), 1, 10000);
    const QString shownBefore = Text(*page, "lbStatuVal") + Text(*page, "lbIterationVal");
    QCOMPARE(shownBefore, U("<font color='#196E8B'>训练中</font>1/9"));

    Child<QPushButton>(*page, "btnTraining")->click();
    // Idle at once, before the service has even seen the cancel request.
    QVERIFY(!Running(*page));
    QVERIFY(Child<QSlider>(*page, "sliderEpochs")->isEnabled());
    QCOMPARE(Text(*page, "lbStatuVal"), U("<font color='#196E8B'>训练取消</font>"));
    const QString shownAfterStop = Text(*page, "lbStatuVal") + Text(*page, "lbIterationVal");
    const QString logBefore = Log(*page);
    QTRY_COMPARE(m_service->RequestsTo("/cancel_train_task").size(), 1);
    m_service->ReleaseHeld(R"({"status":"failed","batch":5,"all_batch":9,"epoch":2,"all_epoch":5,)"
                           R"("total_loss":0.5,"val_loss":0.4,"remain_time":60})");
    // The cancel reply and the held status reply both arrive and change nothing.
    QTRY_COMPARE(finished.size(), 4);
    QCOMPARE(Text(*page, "lbStatuVal") + Text(*page, "lbIterationVal"), shownAfterStop);
    QCOMPARE(Text(*page, "lbEpochVal"), QString());
    QCOMPARE(Text(*page, "lbElapseTime"), QString());
    QCOMPARE(Points(Chart(*page)->series().at(0)), QString());
    QCOMPARE(Log(*page), logBefore);
    QVERIFY(m_probe->Messages().isEmpty());

    const auto requests = m_service->Requests();
    QCOMPARE(requests.size(), 4);
    const QString id = requests[0].path.section('/', 2);
    QVERIFY2(QRegularExpression("^[0-9A-F]{11,32}$").match(id).hasMatch(), qPrintable(id));
    const QStringList expected{"POST /start_train_task/" + id, "GET /get_train_status/" + id,
                               "GET /get_train_status/" + id, "GET /cancel_train_task/" + id};
    QStringList sent;
    for (const auto& request : requests)
    {
        sent.append(request.method + " " + request.path);
        QCOMPARE(request.contentType, QByteArray("application/json"));
    }
    QCOMPARE(sent, expected);
    const QJsonObject startBody = QJsonDocument::fromJson(requests[0].body).object();
    QCOMPARE(startBody.keys(), QStringList({"config_path"}));
    QCOMPARE(requests[0].body, QJsonDocument(startBody).toJson(QJsonDocument::Indented));
    for (int i = 1; i < requests.size(); ++i)
        QVERIFY(requests[i].body.isEmpty());

    // One log line per request, the status polls with their full-width colon.
    const QString base = QString("%1/").arg(m_service->BaseUrl());
    const QStringList lines = logBefore.split('\n');
    QCOMPARE(lines.first(), U("发送请求: ") + base.chopped(1) + "/start_train_task/" + id);
    QVERIFY(lines.contains(U("发送请求： ") + base.chopped(1) + "/get_train_status/" + id));
    QCOMPARE(lines.last(), U("发送请求: ") + base.chopped(1) + "/cancel_train_task/" + id);
}

void tst_TrainingPage::earlierRunsReplyIgnored()
{
    OpenProject(1, {"scratch"}, {{QSize(8, 6)}});
    m_service->Script("/start_train_task", {FakeTrainService::Json(R"({"status":"running"})")});
    m_service->Script("/get_train_status", {FakeTrainService::Hold(), FakeTrainService::Json("{}")});
    auto page = MakePage();
    page->findChild<comlib::ServiceClient*>()->SetTimeoutMs(60000);
    // Connected after the page, so a path is listed once the page has handled its reply.
    QStringList handled;
    connect(page->findChild<QNetworkAccessManager*>(), &QNetworkAccessManager::finished, this,
            [&handled](QNetworkReply* reply) { handled.append(reply->url().path()); });
    Start(*page);
    QTRY_COMPARE_WITH_TIMEOUT(m_service->HeldCount(), 1, 10000);
    const QString firstPoll = m_service->RequestsTo("/get_train_status").at(0).path;
    Child<QPushButton>(*page, "btnTraining")->click();
    Start(*page);
    QVERIFY(Running(*page));

    // The first run's poll, answered only now, must not end the second run.
    m_service->ReleaseHeld(R"({"status":"failed","batch":5,"all_batch":9})");
    QTRY_VERIFY(handled.contains(firstPoll));
    QVERIFY(Running(*page));
    QCOMPARE(Text(*page, "lbStatuVal"), U("<font color='#196E8B'>训练中</font>"));
    QCOMPARE(Text(*page, "lbIterationVal"), QString());
}

void tst_TrainingPage::statusEndsRun_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("running");
    QTest::newRow("running") << "running" << U("<font color='#196E8B'>训练中</font>") << true;
    QTest::newRow("cancelled") << "cancelled" << U("<font color='#196E8B'>训练取消</font>") << true;
    QTest::newRow("export") << "export" << U("<font color='#196E8B'>模型导出中</font>") << true;
    QTest::newRow("failed") << "failed" << U("<font color='red'>训练失败</font>") << false;
    QTest::newRow("done") << "done" << U("<font color='#196E8B'>完成</font>") << false;
    QTest::newRow("queued") << "queued" << U("<font color='#196E8B'>排队中</font>") << true;
    QTest::newRow("other text") << "paused"
                                << "paused" << true;
}

void tst_TrainingPage::statusEndsRun()
{
    QFETCH(QString, status);
    QFETCH(QString, shown);
    QFETCH(bool, running);

    OpenProject(1, {"scratch"}, {{QSize(8, 6)}});
    // The start reply already carries the status.
    m_service->Script("/start_train_task", {FakeTrainService::Json(Body({{"status", status}}))});
    auto page = MakePage();
    Start(*page);
    QTRY_COMPARE(Text(*page, "lbStatuVal"), shown);
    QCOMPARE(Running(*page), running);
    QCOMPARE(Child<QSlider>(*page, "sliderEpochs")->isEnabled(), !running);
    if (running)
        QTRY_VERIFY_WITH_TIMEOUT(!m_service->RequestsTo("/get_train_status").isEmpty(), 10000);
    QVERIFY(m_probe->Messages().isEmpty());
}

void tst_TrainingPage::repliesShown_data()
{
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<QString>("total");
    QTest::addColumn<QString>("validation");
    // lbEpochVal, lbLoseVal, lbIterationVal, lbElapseTime, lbStatuVal
    QTest::addColumn<QStringList>("labels");

    const QString running = U("<font color='#196E8B'>训练中</font>");
    auto loss = [](double epoch, double total, double val, int all = 5)
    {
        return Body({{"status", "running"},
                     {"epoch", epoch},
                     {"all_epoch", all},
                     {"total_loss", total},
                     {"val_loss", val}});
    };
    QTest::newRow("epoch without val_loss")
        << QList<QByteArray>{Body(
               {{"status", "running"}, {"epoch", 1}, {"all_epoch", 5}, {"total_loss", 0.5}})}
        << ""
        << "" << QStringList{"", "", "", "", running};
    QTest::newRow("repeated epochs plot one point")
        << QList<QByteArray>{loss(1, 0.5, 0.4), loss(1, 0.5, 0.4), loss(1.04, 0.45, 0.35)} << "1:0.5"
        << "1:0.4" << QStringList{"1.04/5", "0.45", "", "", running};
    QTest::newRow("losses at the floor keep the last epoch")
        << QList<QByteArray>{loss(1, 0.5, 0.4), loss(2, 0.001, 0.0005), loss(2, 0.3, 0.2)} << "1:0.5 2:0.3"
        << "1:0.4 2:0.2" << QStringList{"2.00/5", "0.30", "", "", running};
    QTest::newRow("only the validation loss") << QList<QByteArray>{loss(1, 0.0005, 0.4)} << ""
                                              << "1:0.4" << QStringList{"1.00/5", "0.00", "", "", running};
    QTest::newRow("all_epoch 0 updates labels only")
        << QList<QByteArray>{Body({{"status", "running"},
                                   {"epoch", 1.5},
                                   {"all_epoch", 0},
                                   {"total_loss", 0.5},
                                   {"val_loss", 0.4},
                                   {"batch", 3},
                                   {"all_batch", 10}})}
        << ""
        << "" << QStringList{"1.50/0", "0.50", "3/10", "", running};
    QTest::newRow("remaining time") << QList<QByteArray>{Body(
                                           {{"status", "running"}, {"remain_time", 3725.9}})}
                                    << ""
                                    << "" << QStringList{"", "", "", "1:2:5", running};
    QTest::newRow("groups need a status") << QList<QByteArray>{Body({{"epoch", 1},
                                                                     {"all_epoch", 5},
                                                                     {"total_loss", 0.5},
                                                                     {"val_loss", 0.4},
                                                                     {"batch", 3},
                                                                     {"all_batch", 10},
                                                                     {"remain_time", 61}})}
                                          << ""
                                          << "" << QStringList{"", "", "", "", ""};
    QTest::newRow("not JSON") << QList<QByteArray>{"not json"} << ""
                              << "" << QStringList{"", "", "", "", ""};
}

void tst_TrainingPage::repliesShown()
{
    QFETCH(QList<QByteArray>, replies);
    QFETCH(QString, total);
    QFETCH(QString, validation);
    QFETCH(QStringList, labels);

    OpenProject(1, {"scratch"}, {{QSize(8, 6)}});
    // The first reply answers the start, the others the polls; then empty objects.
    m_service->Script("/start_train_task", {FakeTrainService::Json(replies.first())});
    QList<FakeTrainService::Response> polls;
    for (const QByteArray& body : replies.mid(1))
        polls.append(FakeTrainService::Json(body));
    polls.append(FakeTrainService::Json("{}"));
    m_service->Script("/get_train_status", polls);
    auto page = MakePage();
    Start(*page);
    QTRY_VERIFY_WITH_TIMEOUT(Log(*page).count(U("收到响应：")) >= replies.size(), 15000);

    QCOMPARE(Points(Chart(*page)->series().at(0)), total);
    QCOMPARE(Points(Chart(*page)->series().at(1)), validation);
    const QStringList shown{Text(*page, "lbEpochVal"), Text(*page, "lbLoseVal"),
                            Text(*page, "lbIterationVal"), Text(*page, "lbElapseTime"),
                            Text(*page, "lbStatuVal")};
    QCOMPARE(shown, labels);
    QVERIFY(Running(*page));
    QVERIFY(Log(*page).contains(U("收到响应：") + QString::fromUtf8(replies.last())));
    QVERIFY(m_probe->Messages().isEmpty());
}

void tst_TrainingPage::secondRunKeepsLossAxis()
{
    OpenProject(2, {"scratch"}, {{QSize(8, 6)}});
    m_service->Script(
        "/start_train_task",
        {FakeTrainService::Json(
             Body({{"status", "done"}, {"epoch", 2}, {"all_epoch", 50}, {"total_loss", 3}, {"val_loss", 2}})),
         FakeTrainService::Json(Body({{"status", "running"},
                                      {"epoch", 1},
                                      {"all_epoch", 80},
                                      {"total_loss", 1},
                                      {"val_loss", 0.5}}))});
    auto page = MakePage();
    Start(*page);
    QTRY_VERIFY(!Running(*page));
    QCOMPARE(Points(Chart(*page)->series().at(0)), QString("2:3"));
    QCOMPARE(Axis(*page, Qt::Vertical)->max(), 4.0);
    const QString firstLog = Log(*page);

    Child<QSlider>(*page, "sliderEpochs")->setValue(80);
    Child<QPushButton>(*page, "btnTraining")->click();
    // Before any reply: empty curves, the new epoch count, the old loss scale, a fresh log.
    QCOMPARE(static_cast<QXYSeries*>(Chart(*page)->series().at(0))->count(), 0);
    QCOMPARE(static_cast<QXYSeries*>(Chart(*page)->series().at(1))->count(), 0);
    QCOMPARE(Axis(*page, Qt::Horizontal)->max(), 80.0);
    QCOMPARE(Axis(*page, Qt::Vertical)->max(), 4.0);
    QVERIFY(!Log(*page).contains(firstLog));
    QCOMPARE(Text(*page, "lbStatuVal") + Text(*page, "lbEpochVal") + Text(*page, "lbLoseVal"), QString());

    // A point at an epoch below the first run's last one is plotted: the last epoch starts again.
    QTRY_COMPARE(Points(Chart(*page)->series().at(0)), QString("1:1"));
    QCOMPARE(Points(Chart(*page)->series().at(1)), QString("1:0.5"));
    QCOMPARE(Axis(*page, Qt::Vertical)->max(), 4.0);
    const auto starts = m_service->RequestsTo("/start_train_task");
    QCOMPARE(starts.size(), 2);
    QVERIFY(starts[0].path != starts[1].path);
    QVERIFY(starts[0].body != starts[1].body);
}

void tst_TrainingPage::networkErrors_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("atStart");
    QTest::newRow("connection refused") << "refused" << true;
    QTest::newRow("start never answered") << "hold" << true;
    QTest::newRow("poll never answered") << "hold" << false;
    QTest::newRow("http error on a poll") << "500" << false;
}

void tst_TrainingPage::networkErrors()
{
    QFETCH(QString, kind);
    QFETCH(bool, atStart);

    OpenProject(1, {"scratch"}, {{QSize(8, 6)}});
    if (kind == "refused")
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        qputenv(comlib::ServiceClient::kUrlVariable,
                QString("http://127.0.0.1:%1").arg(closed.serverPort()).toUtf8());
    }
    const FakeTrainService::Response failing =
        kind == "hold" ? FakeTrainService::Hold() : FakeTrainService::Response{"{}", 500, false};
    m_service->Script(atStart ? "/start_train_task" : "/get_train_status", {failing});
    auto page = MakePage();
    Child<QPushButton>(*page, "btnTraining")->click();
    QVERIFY(Running(*page));

    QTRY_COMPARE_WITH_TIMEOUT(m_probe->Messages().size(), 1, 15000);
    const MsgWndProbe::Message message = m_probe->Messages().at(0);
    QCOMPARE(message.title, U("错误"));
    QCOMPARE(message.kind, int(NOTIFY_ERROR));
    QVERIFY2(message.text.startsWith(U("通讯异常：")) && message.text.endsWith(U("，请联系技术员。")) &&
                 message.text.size() > 15,
             qPrintable(message.text));
    QVERIFY(!Running(*page));
    QVERIFY(Child<QSlider>(*page, "sliderPrecision")->isEnabled());
    const QString reason = message.text.mid(5).chopped(8);
    QVERIFY(Log(*page).split('\n').contains(U("通讯异常：") + reason));
}

void tst_TrainingPage::deviceLines_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::newRow("no device") << QStringList();
    QTest::newRow("two devices") << QStringList{
        "Device A", "A graphics device with a very long name that does not fit in "
                    "the column beside its label"};
}

void tst_TrainingPage::deviceLines()
{
    QFETCH(QStringList, names);

    auto page = MakePage();
    auto* grid = page->findChild<QGridLayout*>(QStringLiteral("gridDev"));
    QVERIFY(grid);
    QCOMPARE(grid->itemAtPosition(0, 0)->widget()->objectName(), QString("lbDev"));
    page->Slot_SetGPUInfo(names);
    // The page's own query may add the machine's devices too; only these names are looked at.
    for (int i = 0; i < names.size(); ++i)
    {
        QLineEdit* line = nullptr;
        for (QLineEdit* candidate : page->findChildren<QLineEdit*>())
        {
            if (candidate->text() == names[i])
                line = candidate;
        }
        QVERIFY(line);
        QVERIFY(line->isReadOnly());
        QCOMPARE(line->cursorPosition(), 0);
        int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(grid->indexOf(line), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(row, i);
        QCOMPARE(column, 1);
    }
}

void tst_TrainingPage::ShowChecked(ModelTrainingWid& page)
{
    auto* check = Child<DatasetCheckWid>(page, "widDataCheck");
    QSignalSpy checked(check, &DatasetCheckWid::Signal_Checked);
    page.show();
    QTRY_COMPARE(checked.size(), 1);
}

void tst_TrainingPage::checkShownAndStartStillWorks()
{
    // Two thin categories, one without a ROI, tiny rectangles in a segmentation project, two sizes.
    OpenProject(1, {"scratch", "dent"}, {{QSize(30, 20)}, {QSize(50, 40)}});
    m_service->Script("/start_train_task", {FakeTrainService::Json(R"({"status":"running"})")});
    auto page = MakePage();
    ShowChecked(*page);

    QCOMPARE(Text(*page, "lbCheckSummary"), U("共2张图片：缺陷图片2张，OK图片0张，未标注0张。"));
    const auto* table = Child<QTableView>(*page, "tblCheckClasses");
    QCOMPARE(table->model()->rowCount(), 2);
    QCOMPARE(table->model()->index(0, 1).data().toInt(), 2);
    QCOMPARE(table->model()->index(1, 2).data().toInt(), 0);
    const QString warnings = Text(*page, "lbCheckWarnings");
    using Issue = DatasetCheck::Issue;
    for (const DatasetCheck::Finding& finding : {DatasetCheck::Finding{Issue::FewImages, 1, "", {"scratch"}},
                                                 DatasetCheck::Finding{Issue::NoRoi, 1, "", {"dent"}}})
        QVERIFY2(warnings.contains(DatasetCheckWid::FindingText(finding).toHtmlEscaped()),
                 qPrintable(warnings));
    for (const QString& part :
         {U("2个ROI小于4×4像素"), U("分割工程中有2个矩形ROI"), U("1张图片的尺寸与第一张图片")})
        QVERIFY2(warnings.contains(part), qPrintable(warnings));
    QVERIFY(!warnings.contains(U("无法训练")));
    QVERIFY(warnings.contains(U("这些问题不妨碍开始训练")));

    Start(*page);
    QVERIFY(Running(*page));
    QVERIFY(m_probe->Messages().isEmpty());
}

void tst_TrainingPage::checkRefreshedWhenPageShown()
{
    OpenProject(2, {"scratch"}, {{QSize(8, 6)}});
    auto page = MakePage();
    ShowChecked(*page);
    QCOMPARE(Child<QTableView>(*page, "tblCheckClasses")->model()->rowCount(), 1);

    // As on the annotation page while the training page is hidden.
    page->hide();
    QVERIFY(PrjIns().lock()->AddMarkType("dent"));
    ShowChecked(*page);
    QCOMPARE(Child<QTableView>(*page, "tblCheckClasses")->model()->rowCount(), 2);
    QVERIFY(Text(*page, "lbCheckWarnings").contains(U("类别“dent”没有任何ROI")));
}

void tst_TrainingPage::staleCheckNotShown()
{
    OpenProject(2, {"scratch"}, {{QSize(8, 6)}});
    auto page = MakePage();
    auto* check = Child<DatasetCheckWid>(*page, "widDataCheck");
    QSignalSpy checked(check, &DatasetCheckWid::Signal_Checked);
    page->show();
    // The second check is asked for before the first one's result can be shown.
    QVERIFY(PrjIns().lock()->AddMarkType("dent"));
    page->hide();
    page->show();
    auto* model = Child<QTableView>(*page, "tblCheckClasses")->model();
    QTRY_COMPARE(model->rowCount(), 2);
    // Results come back in order, so the first one has been dealt with by now: it was never shown.
    QCOMPARE(checked.size(), 1);
}

void tst_TrainingPage::versionHistoryShown()
{
    OpenProject(2, {"a", "b"}, QVector<Picture>(10, Picture{QSize(8, 6)}).toList());
    // A large project's validation list takes the record past a few megabytes; it still reads.
    comlib::protocol::ModelRecord large = FullRecord();
    for (int i = 0; i < 70000; ++i)
        large.valPaths << QString("RawDatas/inspection_line_%1/camera_top/image_%2.png")
                              .arg(i % 50)
                              .arg(i, 8, 10, QChar('0'));
    QVERIFY(WriteVersion(PrjPath(), "V2026-01-02_10-00-00", large.ToJson(), 120));
    QVERIFY(QFileInfo(PrjPath() + "/train/V2026-01-02_10-00-00/model/Config.json").size() > 4 << 20);
    // A version trained before the record had more than these keys.
    const QJsonObject old{
        {"classes", QJsonArray{QJsonObject{{"name", "a"}}}},
        {"fineness", 1},
        {"input_size", 128},
        {"width", 12},
        {"history", QJsonArray{QJsonObject{{"epoch", 1}, {"total_loss", 0.7}, {"val_loss", 0.6}},
                               QJsonObject{{"epoch", 2}, {"total_loss", 0.5}, {"val_loss", 0.45}}}}};
    QVERIFY(WriteVersion(PrjPath(), "V2026-01-01_09-00-00", old, 60));
    // No versions: a folder not named like a run, one without a model, a link to a version, a
    // record that is a link, a record without its classes.
    QVERIFY(QDir().mkpath(PrjPath() + "/train/Vcopy/model"));
    QVERIFY(QFile::copy(PrjPath() + "/train/V2026-01-02_10-00-00/model/Config.json",
                        PrjPath() + "/train/Vcopy/model/Config.json"));
    QVERIFY(QDir().mkpath(PrjPath() + "/train/V2026-01-03_10-00-00"));
    QVERIFY(
        QFile::link(PrjPath() + "/train/V2026-01-02_10-00-00", PrjPath() + "/train/V2026-01-04_10-00-00"));
    QVERIFY(QDir().mkpath(PrjPath() + "/train/V2026-01-05_10-00-00/model"));
    QVERIFY(QFile::link(PrjPath() + "/train/V2026-01-02_10-00-00/model/Config.json",
                        PrjPath() + "/train/V2026-01-05_10-00-00/model/Config.json"));
    QVERIFY(WriteVersion(PrjPath(), "V2026-01-06_10-00-00", QJsonObject{{"history", QJsonArray()}}, 10));

    auto page = MakePage();
    page->resize(1400, 900);
    page->show();
    auto* list = Child<QListWidget>(*page, "lstVersions");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->currentRow(), 0);
    QCOMPARE(list->item(0)->text(), U("2026-01-02 10:00 · 4轮 · 精度3 · 验证损失 0.3500"));
    QCOMPARE(list->item(1)->text(), U("2026-01-01 09:00 · 2轮 · 精度1 · 验证损失 0.4500"));
    const QString details = Text(*page, "lbVersionInfo");
    for (const char* part :
         {"轮数 4，精度 3，输入 256，宽度 16", "训练图 8 张，验证图 2 张",
          "每类图片（训练/验证）：a 5/1，b 3/1", "最终损失：训练 0.3000，验证 0.3500", "本机用时约 30 秒/轮"})
        QVERIFY2(details.contains(U(part)), qPrintable(details));
    QCOMPARE(Points(Chart(*page)->series().at(0)), QString("1:0.9 2:0.6 3:0.4 4:0.3"));
    QCOMPARE(Points(Chart(*page)->series().at(1)), QString("1:0.8 2:0.55 3:0.42 4:0.35"));
    // Reopened, the page goes on with the newest version's settings.
    QCOMPARE(Child<QSlider>(*page, "sliderEpochs")->value(), 4);
    QCOMPARE(Child<QSlider>(*page, "sliderPrecision")->value(), 3);
    // Each level's network, measured where a version of it ran, else scaled from the newest measure.
    const QString tip = Child<QSlider>(*page, "sliderPrecision")->toolTip();
    QVERIFY2(tip.contains(U("精度3：输入 256×256，宽度 16，本机实测约 30 秒/轮")), qPrintable(tip));
    QVERIFY2(tip.contains(U("精度2：输入 192×192，宽度 16，估计约 17 秒/轮")), qPrintable(tip));
    QVERIFY2(tip.contains(U("精度1：输入 128×128，宽度 12，本机实测约 30 秒/轮")), qPrintable(tip));

    // The older version, chosen with the mouse, shows what its record holds, and its settings are
    // taken with one click.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    QCOMPARE(list->currentRow(), 1);
    const QString oldDetails = Text(*page, "lbVersionInfo");
    QVERIFY2(oldDetails.contains(U("轮数 2，精度 1，输入 128，宽度 12")), qPrintable(oldDetails));
    QVERIFY(oldDetails.contains(U("类别：a")));
    QVERIFY(!oldDetails.contains(U("训练图")));
    QCOMPARE(Points(Chart(*page)->series().at(1)), QString("1:0.6 2:0.45"));
    QTest::mouseClick(Child<QPushButton>(*page, "btnUseVersion"), Qt::LeftButton);
    QCOMPARE(Child<QSlider>(*page, "sliderEpochs")->value(), 2);
    QCOMPARE(Child<QSlider>(*page, "sliderPrecision")->value(), 1);
    QCOMPARE(Text(*page, "lbEpochs"), U("轮数(2):"));
}

void tst_TrainingPage::finishedRunJoinsHistory()
{
    OpenProject(2, {"a"}, {{QSize(8, 6)}});
    m_service->Script("/start_train_task", {FakeTrainService::Json(Body({{"status", "queued"}}))});
    m_service->Script("/get_train_status", {FakeTrainService::Hold()});
    auto page = MakePage();
    page->show();
    auto* list = Child<QListWidget>(*page, "lstVersions");
    QCOMPARE(list->count(), 0);
    QVERIFY(!Child<QPushButton>(*page, "btnUseVersion")->isEnabled());
    Start(*page);
    const QString config = QJsonDocument::fromJson(m_service->RequestsTo("/start_train_task").first().body)
                               .object()["config_path"]
                               .toString();
    const QString version = QFileInfo(config).dir().dirName();
    QTRY_VERIFY(m_service->HeldCount() > 0);
    // The service writes the record before it says the run is done.
    auto record = FullRecord();
    record.classes = QStringList{"a"};
    QVERIFY(WriteVersion(PrjPath(), version, record.ToJson(), 0));
    m_service->ReleaseHeld(Body({{"status", "done"}}));
    QTRY_VERIFY(!Running(*page));
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->currentRow(), 0);
    QVERIFY(list->item(0)->text().contains(U("4轮 · 精度3")));
    QVERIFY(Child<QPushButton>(*page, "btnUseVersion")->isEnabled());
    QCOMPARE(Points(Chart(*page)->series().at(0)), QString("1:0.9 2:0.6 3:0.4 4:0.3"));
}

void tst_TrainingPage::readableEventsAndQueue()
{
    OpenProject(1, {"scratch"}, {{QSize(8, 6)}});
    auto loss = [](double epoch, double total, double val)
    {
        return FakeTrainService::Json(Body({{"status", "running"},
                                            {"epoch", epoch},
                                            {"all_epoch", 3},
                                            {"total_loss", total},
                                            {"val_loss", val}}));
    };
    m_service->Script("/start_train_task", {FakeTrainService::Json(Body({{"status", "queued"}}))});
    m_service->Script("/get_train_status",
                      {FakeTrainService::Json(Body({{"status", "queued"}})), loss(0.5, 0.9, 0.8),
                       loss(1, 0.123456789, 0.2), loss(1.5, 0.11, 0.19),
                       FakeTrainService::Json(Body({{"status", "failed"}, {"message", "disk full"}}))});
    auto page = MakePage();
    auto* status = Child<QLabel>(*page, "lbStatuVal");
    QStringList statuses;
    connect(m_service.get(), &FakeTrainService::Signal_Request, this, [&] { statuses << status->text(); });
    Start(*page);
    QTRY_VERIFY_WITH_TIMEOUT(!Running(*page), 15000);
    QVERIFY(statuses.contains(U("<font color='#196E8B'>排队中</font>")));
    const QStringList events = Child<QPlainTextEdit>(*page, "edtEvents")->toPlainText().split('\n');
    QCOMPARE(events.size(), 5);
    QVERIFY(events[0].startsWith(U("开始训练：版本 V")));
    QVERIFY(events[0].endsWith(U("，50 轮，精度 2")));
    QCOMPARE(events.mid(1), (QStringList{U("状态：排队中"), U("状态：训练中"),
                                         U("第 1/3 轮：训练损失 0.1235，验证损失 0.2000"),
                                         U("状态：训练失败（disk full）")}));
    // The exchange as sent and received stays behind the toggle.
    auto* raw = Child<QCheckBox>(*page, "chkRawLog");
    page->show();
    QVERIFY(!Child<QWidget>(*page, "widLog")->isVisible());
    QTest::mouseClick(raw, Qt::LeftButton, {}, QPoint(5, raw->height() / 2));
    QVERIFY(Child<QWidget>(*page, "widLog")->isVisible());
    QVERIFY(Log(*page).contains(U("收到响应：")));
    // The legend names both curves.
    QCOMPARE(Chart(*page)->series().at(0)->name(), U("训练损失"));
    QCOMPARE(Chart(*page)->series().at(1)->name(), U("验证损失"));
    QVERIFY(Chart(*page)->legend()->isVisible());
}

void tst_TrainingPage::processorWithoutOpenCl()
{
    auto page = MakePage();
    page->Slot_SetGPUInfo({});
    bool shown = false;
    for (QLineEdit* line : page->findChildren<QLineEdit*>())
        shown = shown || line->text().endsWith(U("（%1 核）").arg(QThread::idealThreadCount()));
    QVERIFY(shown);
}

QTEST_MAIN(tst_TrainingPage)
#include "tst_TrainingPage.moc"
