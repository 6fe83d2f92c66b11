#include "FakeTrainService.h"

#include "ComLib/Service/ServiceClient.h"
#include "ComLib/Service/ServicePoll.h"
#include "ComLib/Service/ServiceReply.h"
#include "ComLib/Service/ServiceRun.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QtTest>

using comlib::ServiceClient;
using comlib::ServiceReply;
using comlib::ServiceRun;

namespace
{

QString Join(const QVector<double>& numbers)
{
    QStringList texts;
    for (double n : numbers)
        texts.append(QString::number(n));
    return texts.join(',');
}

// The groups a reply was read into, as one comparable line.
QString Describe(const ServiceReply& r)
{
    QStringList parts;
    parts.append(r.isObject ? "object" : "not object");
    if (r.status)
        parts.append("status=" + *r.status);
    if (r.batch)
        parts.append(QString("batch=%1/%2").arg(r.batch->batch).arg(r.batch->allBatch));
    if (r.loss)
        parts.append(QString("loss=%1/%2/%3/%4")
                         .arg(r.loss->epoch)
                         .arg(r.loss->allEpoch)
                         .arg(r.loss->totalLoss)
                         .arg(r.loss->valLoss));
    if (r.remainTime)
        parts.append(QString("remain=%1").arg(*r.remainTime));
    if (r.lossRate)
        parts.append("lossRate=" + Join(*r.lossRate));
    if (r.overkillRate)
        parts.append("overkillRate=" + Join(*r.overkillRate));
    if (r.lossImagePaths)
        parts.append("lossImages=" + r.lossImagePaths->join(','));
    if (r.overkillImagePaths)
        parts.append("overkillImages=" + r.overkillImagePaths->join(','));
    return parts.join(' ');
}

} // namespace

Q_DECLARE_METATYPE(FakeTrainService::Response)

class TestServiceClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void baseUrl_data();
    void baseUrl();
    void requestsCarryHeaderTaskIdAndBody();
    void networkErrors_data();
    void networkErrors();
    void groups_data();
    void groups();
    void pollPacing();
    void runPollsUntilFinalStatus_data();
    void runPollsUntilFinalStatus();
    void runIgnoresRepliesOfOtherRuns();
};

void TestServiceClient::initTestCase()
{
    // The spies carry the replies.
    qRegisterMetaType<QNetworkReply*>();
    qRegisterMetaType<ServiceReply>();
}

void TestServiceClient::cleanup()
{
    qunsetenv(ServiceClient::kUrlVariable);
}

void TestServiceClient::baseUrl_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::newRow("unset") << ""
                           << "http://127.0.0.1" << 8000;
    QTest::newRow("test service") << "http://127.0.0.1:5123"
                                  << "http://127.0.0.1" << 5123;
    QTest::newRow("path dropped") << "http://localhost:5124/x?y"
                                  << "http://localhost" << 5124;
    QTest::newRow("no port") << "http://127.0.0.1"
                             << "http://127.0.0.1" << 8000;
    QTest::newRow("no scheme") << "127.0.0.1:5123"
                               << "http://127.0.0.1" << 8000;
    QTest::newRow("other scheme") << "https://127.0.0.1:5123"
                                  << "http://127.0.0.1" << 8000;
    QTest::newRow("garbage") << "::::"
                             << "http://127.0.0.1" << 8000;
}

void TestServiceClient::baseUrl()
{
    QFETCH(QString, variable);
    QFETCH(QString, address);
    QFETCH(int, port);

    if (!variable.isEmpty())
        qputenv(ServiceClient::kUrlVariable, variable.toUtf8());
    // A value that is not used is reported, so a mistyped test address does not go unnoticed.
    if (port == 8000 && !variable.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("LUMORA_SERVICE_URL is not an http address"));
    QNetworkAccessManager manager;
    ServiceClient client(&manager);
    QCOMPARE(client.Address(), address);
    QCOMPARE(client.Port(), port);
}

void TestServiceClient::requestsCarryHeaderTaskIdAndBody()
{
    FakeTrainService service;
    QVERIFY(service.Listen());
    service.Script("/get", {FakeTrainService::Json(R"({"status":"running"})")});
    qputenv(ServiceClient::kUrlVariable, service.BaseUrl().toUtf8());
    QNetworkAccessManager manager;
    ServiceClient client(&manager);
    QSignalSpy finished(&manager, &QNetworkAccessManager::finished);

    const QJsonObject body{{"config_path", "/p/train/V1/config.json"}};
    client.Post("/start_train_task", "ABC12", body);
    QVERIFY(finished.wait());
    client.Get("/get_train_status", "ABC12");
    QVERIFY(finished.wait());

    const auto requests = service.Requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].method, QByteArray("POST"));
    QCOMPARE(requests[0].path, QString("/start_train_task/ABC12"));
    QCOMPARE(requests[0].body, QJsonDocument(body).toJson(QJsonDocument::Indented));
    QCOMPARE(requests[1].method, QByteArray("GET"));
    QCOMPARE(requests[1].path, QString("/get_train_status/ABC12"));
    QVERIFY(requests[1].body.isEmpty());
    for (const auto& request : requests)
        QCOMPARE(request.contentType, QByteArray("application/json"));

    auto* reply = finished.at(1).at(0).value<QNetworkReply*>();
    const ServiceReply read = ServiceReply::Read(reply);
    QCOMPARE(read.taskId, QString("ABC12"));
    QVERIFY(!read.networkError);
    QCOMPARE(read.status, std::optional<QString>("running"));
    for (const auto& args : finished)
        args.at(0).value<QNetworkReply*>()->deleteLater();
}

void TestServiceClient::networkErrors_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("errorPart");
    QTest::newRow("refused") << "refused"
                             << "refused";
    QTest::newRow("never answers") << "hold" << QString::fromUtf8("无应答");
    QTest::newRow("http error") << "500"
                                << "";
}

void TestServiceClient::networkErrors()
{
    QFETCH(QString, kind);
    QFETCH(QString, errorPart);

    FakeTrainService service;
    QVERIFY(service.Listen());
    QString url = service.BaseUrl();
    if (kind == "refused")
    {
        // A port that was free a moment ago and has no listener now.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        url = QString("http://127.0.0.1:%1").arg(closed.serverPort());
    }
    service.Script(
        "/", {kind == "hold" ? FakeTrainService::Hold() : FakeTrainService::Response{"{}", 500, false}});
    qputenv(ServiceClient::kUrlVariable, url.toUtf8());
    QNetworkAccessManager manager;
    ServiceClient client(&manager);
    client.SetTimeoutMs(200);
    QSignalSpy finished(&manager, &QNetworkAccessManager::finished);

    client.Get("/get_train_status", "T1");
    QVERIFY(finished.wait(10000));
    auto* reply = finished.at(0).at(0).value<QNetworkReply*>();
    const ServiceReply read = ServiceReply::Read(reply);
    reply->deleteLater();
    QVERIFY(read.networkError);
    QCOMPARE(read.taskId, QString("T1"));
    QVERIFY2(read.errorText.contains(errorPart, Qt::CaseInsensitive), qPrintable(read.errorText));
    QVERIFY(!read.errorText.isEmpty());
    QVERIFY(!read.status);
}

void TestServiceClient::groups_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("groups");
    QTest::newRow("not JSON") << QByteArray("busy") << "not object";
    QTest::newRow("array") << QByteArray("[1,2]") << "not object";
    QTest::newRow("empty object") << QByteArray("{}") << "object";
    QTest::newRow("status only") << QByteArray(R"({"status":"running"})") << "object status=running";
    QTest::newRow("batch without all_batch") << QByteArray(R"({"batch":3})") << "object";
    QTest::newRow("batch") << QByteArray(R"({"batch":3,"all_batch":10.0})") << "object batch=3/10";
    QTest::newRow("losses without val_loss")
        << QByteArray(R"({"epoch":1.5,"all_epoch":50,"total_loss":0.4})") << "object";
    QTest::newRow("loss group") << QByteArray(
                                       R"({"epoch":1.5,"all_epoch":50,"total_loss":0.4,"val_loss":0.3})")
                                << "object loss=1.5/50/0.4/0.3";
    QTest::newRow("remaining time") << QByteArray(R"({"remain_time":3725.9})") << "object remain=3725.9";
    QTest::newRow("test result")
        << QByteArray(
               R"({"status":"done","loss_rate":[0.5,0],"overkill_rate":[0.25],"loss_image_path":["/a.png"],)"
               R"("overkill_image_path":[]})")
        << "object status=done lossRate=0.5,0 overkillRate=0.25 lossImages=/a.png overkillImages=";
    QTest::newRow("status of another type") << QByteArray(R"({"status":7})") << "object status=";
}

void TestServiceClient::groups()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, groups);

    const ServiceReply reply = ServiceReply::FromBody(body);
    QCOMPARE(Describe(reply), groups);
    QCOMPARE(reply.body, body);
    QVERIFY(!reply.networkError);
}

void TestServiceClient::pollPacing()
{
    comlib::ServicePoll poll;
    poll.Start(10000);
    // The first poll waits a whole interval, a tick a millisecond early still counts, and a poll
    // starts the next interval.
    const QList<QPair<qint64, bool>> ticks{{10500, false}, {10998, false}, {10999, true},
                                           {11500, false}, {11998, true},  {12000, false}};
    for (const auto& [at, due] : ticks)
        QVERIFY2(poll.Due(at) == due, qPrintable(QString::number(at)));
    QCOMPARE(poll.ElapsedSeconds(12999), qint64(2));

    QCOMPARE(comlib::ServicePoll::HmsText(-5), QString("0:0:0"));
    QCOMPARE(comlib::ServicePoll::HmsText(3725), QString("1:2:5"));
    QCOMPARE(comlib::ServicePoll::HmsText(90061), QString("25:1:1"));
}

void TestServiceClient::runPollsUntilFinalStatus_data()
{
    QTest::addColumn<FakeTrainService::Response>("final");
    QTest::addColumn<bool>("networkError");
    QTest::newRow("done") << FakeTrainService::Json(R"({"status":"done"})") << false;
    QTest::newRow("failed") << FakeTrainService::Json(R"({"status":"failed"})") << false;
    QTest::newRow("HTTP error") << FakeTrainService::Response{"{}", 500, false} << true;
}

// A run posts its start, polls at its pace, and ends at a final status or a network error: the pages
// are told once and nothing is sent after it.
void TestServiceClient::runPollsUntilFinalStatus()
{
    QFETCH(FakeTrainService::Response, final);
    QFETCH(bool, networkError);
    FakeTrainService service;
    QVERIFY(service.Listen());
    service.Script("/status", {FakeTrainService::Json(R"({"status":"running"})"), final});
    qputenv(ServiceClient::kUrlVariable, service.BaseUrl().toUtf8());
    ServiceRun run({"/start", "/status", "/stop"});
    run.SetIntervalMs(20);
    QSignalSpy sent(&run, &ServiceRun::Signal_Sent);
    QSignalSpy replies(&run, &ServiceRun::Signal_Reply);
    QSignalSpy errors(&run, &ServiceRun::Signal_NetworkError);

    run.Start(QJsonObject{{"config_path", "/p/config.json"}});
    const QString taskId = run.TaskId();
    QVERIFY(run.IsRunning());
    QCOMPARE(sent.takeFirst(), QVariantList({"/start", taskId}));
    QTRY_VERIFY(!run.IsRunning());
    QCOMPARE(errors.size(), networkError ? 1 : 0);
    // The start reply, "running", then the final status when it is not an error.
    QCOMPARE(replies.size(), networkError ? 2 : 3);
    QCOMPARE(service.RequestsTo("/status").size(), 2);
    QCOMPARE(service.RequestsTo("/start").first().path, "/start/" + taskId);
    for (const QVariantList& request : sent)
        QCOMPARE(request, QVariantList({"/status", taskId}));
    QVERIFY(!sent.wait(200));
    QCOMPARE(service.RequestsTo("/stop").size(), 0);
}

// Once stopped, neither the stop reply nor a late reply of the earlier run reaches the next run.
void TestServiceClient::runIgnoresRepliesOfOtherRuns()
{
    FakeTrainService service;
    QVERIFY(service.Listen());
    service.Script("/start", {FakeTrainService::Hold()});
    service.Script("/stop", {FakeTrainService::Json(R"({"status":"cancelled"})")});
    qputenv(ServiceClient::kUrlVariable, service.BaseUrl().toUtf8());
    ServiceRun run({"/start", "/status", "/stop"});
    run.SetIntervalMs(60000);
    QSignalSpy replies(&run, &ServiceRun::Signal_Reply);

    run.Start(QJsonObject());
    QTRY_COMPARE(service.HeldCount(), 1);
    run.Stop();
    QVERIFY(!run.IsRunning());
    QTRY_COMPARE(service.RequestsTo("/stop").size(), 1);
    run.Start(QJsonObject());
    const QString second = run.TaskId();
    QTRY_COMPARE(service.HeldCount(), 2);
    service.ReleaseHeld(R"({"status":"running"})");
    QTRY_COMPARE(replies.size(), 1);
    QCOMPARE(replies.first().first().value<ServiceReply>().taskId, second);
    QVERIFY(!replies.wait(200));
}

QTEST_GUILESS_MAIN(TestServiceClient)
#include "tst_ServiceClient.moc"
