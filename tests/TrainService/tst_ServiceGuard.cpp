#include "ComLib/Service/ServiceProtocol.h"
#include "Nexil/NexilConst.h"
#include "TrainService/JobQueue.h"
#include "TrainService/ModelEngine.h"
#include "TrainService/ProjectPaths.h"
#include "TrainService/ServiceHttp.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <mutex>
#include <thread>

namespace
{

// Only a guard against a hang: each request is answered at once.
constexpr int kWaitMs = 60000;
const QStringList kClasses{"scratch", "spot"};

struct Reply
{
    int code = 0;
    QByteArray head;
    QJsonObject body;
};

QString Status(const Reply& reply)
{
    return reply.body.value("status").toString();
}

QString Message(const Reply& reply)
{
    return reply.body.value("message").toString();
}

// A start that was queued; a job over an empty project may already have failed on it.
bool Started(const Reply& reply)
{
    return QStringList({"queued", "running"}).contains(Status(reply)) ||
           Message(reply).contains("no annotated images");
}

// One raw request on its own connection; the reply as read until the server closes.
Reply Send(int port, const QByteArray& request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    if (!socket.waitForConnected(kWaitMs))
        return {};
    socket.write(request);
    QByteArray data;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(kWaitMs))
        data += socket.readAll();
    data += socket.readAll();
    const int end = data.indexOf("\r\n\r\n");
    if (!data.startsWith("HTTP/1.1 ") || end < 0)
        return {};
    return {data.mid(9, 3).toInt(), data.left(end), QJsonDocument::fromJson(data.mid(end + 4)).object()};
}

QByteArray Request(const QByteArray& method, const QByteArray& path, const QByteArray& headers,
                   const QByteArray& body = QByteArray())
{
    QByteArray text = method + " " + path + " HTTP/1.1\r\n" + headers + "Connection: close\r\n";
    if (!body.isEmpty() && !headers.contains("Content-Length") && !headers.contains("Transfer-Encoding"))
        text += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return text + "\r\n" + body;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson();
}

// config.json as the program writes it: a short segmentation run of kClasses.
QByteArray TrainConfig(const QString& datasPath, const QString& trainPath)
{
    comlib::protocol::TrainRequest request;
    request.imageRows = 48;
    request.imageColumns = 48;
    request.classes = kClasses;
    request.datasPath = datasPath;
    request.trainPath = trainPath;
    request.version = QFileInfo(trainPath).fileName();
    request.projectName = "P";
    request.fineness = 1;
    request.epochs = 1;
    request.aiType = "Segment";
    request.netType = "DeepLabV3Plus";
    return Json(request.ToJson());
}

// Three annotated 32 x 32 images in folder.
void MakeImages(const QString& folder)
{
    QDir().mkpath(folder);
    for (int i = 0; i < 3; ++i)
    {
        const QString base = folder + QString("/img%1").arg(i);
        cv::imwrite((base + ".png").toStdString(), cv::Mat(32, 32, CV_8UC3, cv::Scalar(40 * i, 90, 160)));
        WriteFile(base + ".json",
                  Json({{"imagePath", QString("img%1.png").arg(i)},
                        {"shapes", QJsonArray{QJsonObject{
                                       {"label", "scratch"},
                                       {"shape_type", "rectangle"},
                                       {"points", QJsonArray{QJsonArray{2, 2}, QJsonArray{9, 9}}}}}}}));
    }
}

// An untrained version that loads and predicts.
bool MakeModel(const QString& modelDir)
{
    trainsvc::NetLayout layout;
    layout.numClasses = int(kClasses.size());
    layout.inputSize = 32;
    layout.width = 12;
    ModelEngine engine;
    engine.Create(layout, 1);
    std::string error;
    QDir().mkpath(modelDir);
    const QJsonArray classes{QJsonObject{{"name", kClasses.at(0)}}, QJsonObject{{"name", kClasses.at(1)}}};
    return engine.Save((modelDir + "/weights.pt").toStdString(), error) &&
           WriteFile(modelDir + "/Config.json",
                     Json({{"classes", classes}, {"ai_type", "Segment"}, {"input_size", 32}, {"width", 12}}));
}

// Every file below folder with its bytes.
QMap<QString, QByteArray> Snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
    {
        const QString path = it.next();
        files.insert(path, ReadFile(path));
    }
    return files;
}

// Messages come from the server's threads too.
std::mutex g_messagesMutex;
QStringList g_messages;

void Capture(QtMsgType, const QMessageLogContext&, const QString& message)
{
    std::lock_guard<std::mutex> lock(g_messagesMutex);
    g_messages.append(message);
}

} // namespace

class tst_ServiceGuard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void crossSiteAndHostileRequests_data();
    void crossSiteAndHostileRequests();
    void controlCharactersNeverReachTheLog();
    void failedStartsStayBounded();
    void slowClientsDoNotStarveStatus();
    void trainConfigConfined_data();
    void trainConfigConfined();
    void testConfigConfined_data();
    void testConfigConfined();
    void jobWithoutFinalStatusFails_data();
    void jobWithoutFinalStatusFails();
    void listedImagesConfined_data();
    void listedImagesConfined();

private:
    QByteArray Host() const { return "Host: 127.0.0.1:" + QByteArray::number(m_service->Port()) + "\r\n"; }
    Reply Get(const QString& path, const QString& id);
    Reply Start(const char* path, const QString& id, const QString& configPath);
    // Polls the status until it is final.
    Reply WaitFinal(const char* statusPath, const QString& id);
    // config.json of a version of an empty project, laid out as the program writes it.
    QString EmptyProjectConfig();

    QTemporaryDir m_dir;
    std::unique_ptr<ServiceHttp> m_service;
    std::thread m_thread;
};

void tst_ServiceGuard::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_service = std::make_unique<ServiceHttp>();
    std::string error;
    QVERIFY2(m_service->Bind("127.0.0.1", 0, error), error.c_str());
    m_thread = std::thread([this] { m_service->Run(); });
}

void tst_ServiceGuard::cleanupTestCase()
{
    m_service->Stop();
    m_thread.join();
    m_service.reset();
}

Reply tst_ServiceGuard::Get(const QString& path, const QString& id)
{
    return Send(m_service->Port(),
                Request("GET", (path + "/" + id).toUtf8(), Host() + "Content-Type: application/json\r\n"));
}

Reply tst_ServiceGuard::Start(const char* path, const QString& id, const QString& configPath)
{
    return Send(m_service->Port(),
                Request("POST", QByteArray(path) + "/" + id.toUtf8(),
                        Host() + "Content-Type: application/json\r\n", Json({{"config_path", configPath}})));
}

Reply tst_ServiceGuard::WaitFinal(const char* statusPath, const QString& id)
{
    Reply reply;
    const bool reached = QTest::qWaitFor(
        [&]
        {
            reply = Get(statusPath, id);
            return QStringList({"done", "failed", "cancelled"}).contains(Status(reply));
        },
        kWaitMs);
    if (!reached)
        qWarning() << "gave up waiting for the end of" << id;
    return reply;
}

QString tst_ServiceGuard::EmptyProjectConfig()
{
    static int count = 0;
    const QString project = m_dir.filePath(QString("empty%1").arg(++count));
    const QString version = project + "/train/V1";
    QDir().mkpath(project + nexil::kDatasDir);
    WriteFile(version + "/config.json", TrainConfig(project + nexil::kDatasDir, version));
    return version + "/config.json";
}

void tst_ServiceGuard::crossSiteAndHostileRequests_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("messagePart");

    const QByteArray json = "Content-Type: application/json\r\n";
    const QByteArray config = "{\"config_path\": \"%CONFIG%\"}";
    const QByteArray host = "Host: 127.0.0.1:%PORT%\r\n";
    QTest::newRow("text/plain") << QByteArray("POST") << host + "Content-Type: text/plain\r\n"
                                << config << 415 << "application/json";
    QTest::newRow("form") << QByteArray("POST")
                          << host + "Content-Type: application/x-www-form-urlencoded\r\n"
                          << QByteArray("config_path=%CONFIG%") << 415 << "application/json";
    QTest::newRow("no content type") << QByteArray("POST") << host << config << 415 << "application/json";
    QTest::newRow("foreign origin") << QByteArray("POST") << host + json + "Origin: http://evil.example\r\n"
                                    << config << 403 << "evil.example";
    QTest::newRow("null origin") << QByteArray("POST") << host + json + "Origin: null\r\n"
                                 << config << 403 << "origin";
    QTest::newRow("loopback look-alike origin")
        << QByteArray("POST") << host + json + "Origin: http://127.0.0.1.evil.example\r\n"
        << config << 403 << "origin";
    QTest::newRow("rebinding host") << QByteArray("POST") << "Host: rebind.example:%PORT%\r\n" + json
                                    << config << 403 << "rebind.example";
    QTest::newRow("another port") << QByteArray("POST") << "Host: 127.0.0.1:1\r\n" + json << config << 403
                                  << "host";
    QTest::newRow("no host") << QByteArray("POST") << json << config << 403 << "host";
    QTest::newRow("body over 64 KiB")
        << QByteArray("POST") << host + json
        << "{\"config_path\": \"%CONFIG%\", \"pad\": \"" + QByteArray(70000, 'a') + "\"}" << 413 << "larger";
    QTest::newRow("gzip body") << QByteArray("POST") << host + json + "Content-Encoding: gzip\r\n"
                               << QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) +
                                      QByteArray(64, 'z')
                               << 415 << "compressed";
    QTest::newRow("chunked body") << QByteArray("POST") << host + json + "Transfer-Encoding: chunked\r\n"
                                  << QByteArray("5\r\n{\"a\":\r\n0\r\n\r\n") << 411 << "Content-Length";
    QTest::newRow("OPTIONS preflight")
        << QByteArray("OPTIONS")
        << host + "Origin: http://evil.example\r\nAccess-Control-Request-Method: POST\r\n"
        << QByteArray() << 405 << "OPTIONS";
    QTest::newRow("loopback origin") << QByteArray("POST")
                                     << host + json + "Origin: http://127.0.0.1:5173\r\n"
                                     << config << 200 << QString();
    QTest::newRow("localhost origin") << QByteArray("POST") << host + json + "Origin: http://LOCALHOST\r\n"
                                      << config << 200 << QString();
    QTest::newRow("[::1] origin") << QByteArray("POST") << host + json + "Origin: http://[::1]:8080\r\n"
                                  << config << 200 << QString();
    QTest::newRow("localhost host, charset")
        << QByteArray("POST")
        << QByteArray("Host: localhost:%PORT%\r\nContent-Type: application/json; charset=utf-8\r\n") << config
        << 200 << QString();
}

void tst_ServiceGuard::crossSiteAndHostileRequests()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, body);
    QFETCH(int, code);
    QFETCH(QString, messagePart);

    const QString id = QString("X%1").arg(QTest::currentDataTag()).remove(QRegularExpression("[^A-Za-z]"));
    headers.replace("%PORT%", QByteArray::number(m_service->Port()));
    body.replace("%CONFIG%", EmptyProjectConfig().toUtf8());
    const Reply reply =
        Send(m_service->Port(), Request(method, nexil::kStartTrainTask + ("/" + id.toUtf8()), headers, body));
    QCOMPARE(reply.code, code);
    if (code == 200)
    {
        QVERIFY2(Started(reply), qPrintable(Message(reply)));
        return;
    }
    QCOMPARE(Status(reply), QString("failed"));
    QVERIFY2(Message(reply).contains(messagePart, Qt::CaseInsensitive), qPrintable(Message(reply)));
    QVERIFY(!reply.head.contains("Access-Control-Allow"));
    // Refused before anything was read or started.
    QVERIFY2(Message(Get(nexil::kGetTrainStatus, id)).contains("unknown task"), qPrintable(id));
}

void tst_ServiceGuard::controlCharactersNeverReachTheLog()
{
    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(Capture);
    const Reply forged = Get(nexil::kGetTrainStatus, "A%0A2024-01-01%20forged%20line");
    const Reply tooLong = Get(nexil::kGetTrainStatus, QString(65, 'A'));
    const Reply unknown = Get("/no_such%0Drequest", "A");
    qInstallMessageHandler(previous);
    std::lock_guard<std::mutex> lock(g_messagesMutex);

    QCOMPARE(forged.code, 400);
    QVERIFY(Message(forged).contains("invalid task id"));
    QCOMPARE(tooLong.code, 400);
    QCOMPARE(unknown.code, 404);
    QVERIFY(!Message(unknown).contains('\r'));
    QVERIFY(!g_messages.isEmpty());
    for (const QString& line : qAsConst(g_messages))
        QVERIFY2(!line.contains('\n') && !line.contains('\r'), qPrintable(line));
}

void tst_ServiceGuard::failedStartsStayBounded()
{
    // A long path fits in the body; its failure message is cut.
    const Reply longPath = Start(nexil::kStartTrainTask, "LONG", "/" + QString(60000, 'p') + "/config.json");
    QCOMPARE(Status(longPath), QString("failed"));
    QVERIFY2(Message(longPath).size() < 1000, qPrintable(QString::number(Message(longPath).size())));
    QVERIFY(Message(Get(nexil::kGetTrainStatus, "LONG")).size() < 1000);

    const int starts = int(JobQueue::kMaxFinished) + 5;
    for (int i = 0; i < starts; ++i)
        QCOMPARE(Status(Start(nexil::kStartTrainTask, QString("CAP%1").arg(i), "/missing/config.json")),
                 QString("failed"));
    // The oldest finished went first; the newest are kept.
    QVERIFY(Message(Get(nexil::kGetTrainStatus, "CAP0")).contains("unknown task"));
    QVERIFY(Message(Get(nexil::kGetTrainStatus, "LONG")).contains("unknown task"));
    QVERIFY(Message(Get(nexil::kGetTrainStatus, QString("CAP%1").arg(starts - 1))).contains("cannot read"));
}

void tst_ServiceGuard::slowClientsDoNotStarveStatus()
{
    // Each slow client sends its request a byte at a time; it would take minutes to complete.
    const QByteArray slowRequest =
        Request("GET", "/get_train_status/SLOW", Host() + "X-Pad: " + QByteArray(2000, 'a') + "\r\n");
    std::vector<std::unique_ptr<QTcpSocket>> slow;
    for (int i = 0; i < 8; ++i)
    {
        slow.push_back(std::make_unique<QTcpSocket>());
        slow.back()->connectToHost(QHostAddress::LocalHost, quint16(m_service->Port()));
        QVERIFY(slow.back()->waitForConnected(kWaitMs));
    }
    int sent = 0;
    QTimer trickle;
    trickle.setInterval(200);
    connect(&trickle, &QTimer::timeout, this,
            [&]
            {
                for (const auto& socket : slow)
                    socket->write(slowRequest.mid(sent, 1));
                ++sent;
            });
    trickle.start();
    QTRY_VERIFY(sent >= 3);

    QTcpSocket status;
    QByteArray answer;
    connect(&status, &QTcpSocket::readyRead, this, [&] { answer += status.readAll(); });
    status.connectToHost(QHostAddress::LocalHost, quint16(m_service->Port()));
    QVERIFY(status.waitForConnected(kWaitMs));
    status.write(Request("GET", "/get_train_status/FAST", Host()));
    QTRY_VERIFY_WITH_TIMEOUT(answer.contains("unknown task"), kWaitMs);
    QVERIFY(sent < slowRequest.size());
    for (const auto& socket : slow)
        QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);
}

void tst_ServiceGuard::trainConfigConfined_data()
{
    QTest::addColumn<QString>("configPath");
    QTest::addColumn<QString>("trainPath");
    QTest::addColumn<QString>("userFile");
    QTest::addColumn<QString>("messagePart");

    // %P is the project, %T the temporary folder; an empty message part means accepted.
    QTest::newRow("program's layout") << "%P/train/V1/config.json"
                                      << "%P/train/V1" << QString() << QString();
    QTest::newRow("train_path elsewhere") << "%P/train/V1/config.json"
                                          << "%T/elsewhere"
                                          << "%T/elsewhere/model/mine.txt"
                                          << "%T/elsewhere";
    QTest::newRow("train_path is the project") << "%P/train/V1/config.json"
                                               << "%P"
                                               << "%P/model/mine.txt"
                                               << "train_path";
    QTest::newRow("user's model folder") << "%P/train/V1/config.json"
                                         << "%P/train/V1"
                                         << "%P/train/V1/model/mine.txt"
                                         << "%P/train/V1/model";
    QTest::newRow("config outside train") << "%P/V1/config.json"
                                          << "%P/V1" << QString() << "%P/V1/config.json";
    QTest::newRow("config of another name") << "%P/train/V1/other.json"
                                            << "%P/train/V1" << QString() << "other.json";
}

void tst_ServiceGuard::trainConfigConfined()
{
    QFETCH(QString, configPath);
    QFETCH(QString, trainPath);
    QFETCH(QString, userFile);
    QFETCH(QString, messagePart);

    QTemporaryDir dir;
    const QString project = dir.filePath("P");
    QDir().mkpath(project + nexil::kDatasDir);
    for (QString* text : {&configPath, &trainPath, &userFile, &messagePart})
        text->replace("%P", project).replace("%T", dir.path());
    QVERIFY(WriteFile(configPath, TrainConfig(project + nexil::kDatasDir, trainPath)));
    if (!userFile.isEmpty())
        QVERIFY(WriteFile(userFile, "the user's own file"));

    const QString id = QString("TC%1").arg(QTest::currentDataTag()).remove(QRegularExpression("[^A-Za-z]"));
    const Reply reply = Start(nexil::kStartTrainTask, id, configPath);
    if (messagePart.isEmpty())
    {
        QVERIFY2(Started(reply), qPrintable(Message(reply)));
        QVERIFY(Message(WaitFinal(nexil::kGetTrainStatus, id)).contains("no annotated images"));
        return;
    }
    QCOMPARE(Status(reply), QString("failed"));
    QVERIFY2(Message(reply).contains(messagePart), qPrintable(Message(reply)));
    if (!userFile.isEmpty())
        QCOMPARE(ReadFile(userFile), QByteArray("the user's own file"));
}

void tst_ServiceGuard::testConfigConfined_data()
{
    QTest::addColumn<QString>("configPath");
    QTest::addColumn<QString>("predictPath");
    QTest::addColumn<QString>("savePath");
    // "refused" (with the message part), "done" or "failed" (a run that could not write).
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("messagePart");

    const QString config = "%P/train/V1/test.json";
    QTest::newRow("program's layout") << config << "%P/datas"
                                      << "%P/test/V1"
                                      << "done" << QString();
    QTest::newRow("images outside the project") << config << "%T/images"
                                                << "%P/test/V1"
                                                << "done" << QString();
    QTest::newRow("prediction cannot be written") << config << "%P/datas"
                                                  << "%P/test/V1"
                                                  << "failed"
                                                  << "cannot rename";
    QTest::newRow("save is predict: the data") << config << "%P/datas"
                                               << "%P/datas"
                                               << "refused"
                                               << "%P/datas";
    QTest::newRow("save is predict: test images") << config << "%P/test/imgs"
                                                  << "%P/test/imgs"
                                                  << "refused"
                                                  << "%P/test/imgs";
    QTest::newRow("save inside predict") << config << "%P/test/imgs"
                                         << "%P/test/imgs/out"
                                         << "refused"
                                         << "overlaps";
    QTest::newRow("save holds predict") << config << "%P/test/run/imgs"
                                        << "%P/test/run"
                                        << "refused"
                                        << "overlaps";
    QTest::newRow("save is the test folder") << config << "%P/datas"
                                             << "%P/test"
                                             << "refused"
                                             << "not inside";
    QTest::newRow("save outside the project") << config << "%P/datas"
                                              << "%T/out"
                                              << "refused"
                                              << "%T/out";
    QTest::newRow("save through a link to the data") << config << "%P/test/imgs"
                                                     << "%P/test/link/x"
                                                     << "refused"
                                                     << "%P/test/link/x";
    QTest::newRow("save climbs out with ..") << config << "%P/test/imgs"
                                             << "%P/test/../datas/x"
                                             << "refused"
                                             << "%P/test/../datas/x";
    QTest::newRow("config outside train") << "%P/test.json"
                                          << "%P/datas"
                                          << "%P/test/V1"
                                          << "refused"
                                          << "%P/test.json";
}

void tst_ServiceGuard::testConfigConfined()
{
    QFETCH(QString, configPath);
    QFETCH(QString, predictPath);
    QFETCH(QString, savePath);
    QFETCH(QString, outcome);
    QFETCH(QString, messagePart);

    QTemporaryDir dir;
    const QString project = dir.filePath("P");
    for (QString* text : {&configPath, &predictPath, &savePath, &messagePart})
        text->replace("%P", project).replace("%T", dir.path());
    MakeImages(project + "/datas/batch");
    MakeImages(project + "/test/imgs");
    MakeImages(project + "/test/run/imgs");
    MakeImages(dir.filePath("images"));
    QVERIFY(MakeModel(project + "/train/V1/model"));
    QVERIFY(QFile::link(project + "/datas", project + "/test/link"));
    // A killed service's unfinished version, and a folder of the same name the user made.
    QString error;
    QVERIFY(QDir().mkpath(project + "/train/V0"));
    QVERIFY2(trainsvc::MakeMarkedDir(project + "/train/V0/model.part", error), qPrintable(error));
    QVERIFY(WriteFile(project + "/train/V2/model.part/mine.txt", "mine"));
    const QString blocked = project + "/test/V1/batch/img1.json";
    if (QTest::currentDataTag() == QString("prediction cannot be written"))
        QVERIFY(WriteFile(blocked + "/inside.txt", "a folder where a prediction goes"));
    QVERIFY(WriteFile(configPath, Json({{"predict_mode", "labeled"},
                                        {"predict_path", predictPath},
                                        {"save_predict_path", savePath},
                                        {"test_model_path", project + "/train/V1/model"}})));
    const QMap<QString, QByteArray> before = Snapshot(dir.path());

    const QString id = QString("TT%1").arg(QTest::currentDataTag()).remove(QRegularExpression("[^A-Za-z]"));
    const Reply reply = Start(nexil::kTestModel, id, configPath);
    if (outcome == "refused")
    {
        QCOMPARE(Status(reply), QString("failed"));
        QVERIFY2(Message(reply).contains(messagePart), qPrintable(Message(reply)));
        QCOMPARE(Snapshot(dir.path()), before);
        return;
    }
    const Reply last = WaitFinal(nexil::kGetTestStatus, id);
    QCOMPARE(Status(last), outcome);
    QVERIFY2(Message(last).contains(messagePart), qPrintable(Message(last)));
    // The images' folder is left as it was; the stale unfinished version is gone, the user's is not.
    QMap<QString, QByteArray> after = Snapshot(dir.path());
    for (auto it = before.begin(); it != before.end(); ++it)
    {
        if (!it.key().contains("/model.part/"))
            QCOMPARE(after.value(it.key()), it.value());
    }
    QVERIFY(!QFileInfo::exists(project + "/train/V0/model.part"));
    QCOMPARE(ReadFile(project + "/train/V2/model.part/mine.txt"), QByteArray("mine"));
    if (outcome == "done")
    {
        const QString first = savePath + (predictPath.endsWith("datas") ? "/batch/img0.json" : "/img0.json");
        QCOMPARE(QJsonDocument::fromJson(ReadFile(first)).object().value("imagePath").toString(),
                 QString("img0.png"));
    }
}

void tst_ServiceGuard::jobWithoutFinalStatusFails_data()
{
    QTest::addColumn<QString>("lastReport");
    QTest::newRow("ends while running") << "running";
    QTest::newRow("ends while exporting") << "export";
    QTest::newRow("reports nothing") << QString();
}

void tst_ServiceGuard::jobWithoutFinalStatusFails()
{
    QFETCH(QString, lastReport);
    JobQueue queue;
    QVERIFY(queue.Submit("J",
                         [lastReport](const std::atomic_bool&, const JobQueue::Report& report)
                         {
                             if (!lastReport.isEmpty())
                                 report(QJsonObject{{"status", lastReport}});
                         }));
    QTRY_COMPARE(queue.Status("J").value("status").toString(), QString("failed"));
    QVERIFY(queue.Status("J").value("message").toString().contains("without a final status"));
}

QTEST_GUILESS_MAIN(tst_ServiceGuard)
void tst_ServiceGuard::listedImagesConfined_data()
{
    QTest::addColumn<QString>("predictPath");
    QTest::addColumn<QStringList>("images");
    // Empty: the run is done and tests exactly the listed images.
    QTest::addColumn<QString>("refusedEntry");

    QTest::newRow("listed, repeated")
        << "%P/datas" << QStringList{"b/img2.png", "b/img0.png", "b/img2.png"} << QString();
    QTest::newRow("missing image skipped")
        << "%P/datas" << QStringList{"b/img1.png", "b/gone.png"} << QString();
    QTest::newRow("climbs out with ..")
        << "%P/datas" << QStringList{"b/img0.png", "../test/imgs/img0.png"} << "../test/imgs/img0.png";
    QTest::newRow("dot part") << "%P/datas" << QStringList{"./b/img0.png"} << "./b/img0.png";
    QTest::newRow("absolute") << "%P/datas" << QStringList{"%P/datas/b/img0.png"} << "%P/datas/b/img0.png";
    QTest::newRow("backslash") << "%P/datas" << QStringList{"b\\img0.png"} << "b\\img0.png";
    QTest::newRow("through a link") << "%P/datas" << QStringList{"link/img0.png"} << "link/img0.png";
    QTest::newRow("not an image") << "%P/datas" << QStringList{"b/img0.json"} << "b/img0.json";
    QTest::newRow("below predict, outside the data")
        << "%P/test/imgs" << QStringList{"img0.png"} << "img0.png";
}

void tst_ServiceGuard::listedImagesConfined()
{
    QFETCH(QString, predictPath);
    QFETCH(QStringList, images);
    QFETCH(QString, refusedEntry);

    QTemporaryDir dir;
    const QString project = dir.filePath("P");
    predictPath.replace("%P", project);
    refusedEntry.replace("%P", project);
    for (QString& image : images)
        image.replace("%P", project);
    MakeImages(project + "/datas/b");
    MakeImages(project + "/test/imgs");
    QVERIFY(QFile::link(project + "/test/imgs", project + "/datas/link"));
    QVERIFY(MakeModel(project + "/train/V1/model"));
    comlib::protocol::TestRequest request;
    request.labeled = true;
    request.predictPath = predictPath;
    request.savePredictPath = project + "/test/V1";
    request.modelPath = project + "/train/V1/model";
    request.images = images;
    const QString configPath = project + "/train/V1/test.json";
    QVERIFY(WriteFile(configPath, Json(request.ToJson())));
    const QMap<QString, QByteArray> before = Snapshot(dir.path());

    const QString id = QString("LI%1").arg(QTest::currentDataTag()).remove(QRegularExpression("[^A-Za-z]"));
    const Reply reply = Start(nexil::kTestModel, id, configPath);
    if (!refusedEntry.isEmpty())
    {
        QCOMPARE(Status(reply), QString("failed"));
        QVERIFY2(Message(reply).contains("\"predict_images\" entry " + refusedEntry + " "),
                 qPrintable(Message(reply)));
        QCOMPARE(Snapshot(dir.path()), before);
        return;
    }
    QCOMPARE(Status(WaitFinal(nexil::kGetTestStatus, id)), QString("done"));
    comlib::protocol::TestSummary summary;
    QString error;
    QVERIFY2(comlib::protocol::TestSummary::FromJson(
                 QJsonDocument::fromJson(ReadFile(project + "/test/V1/" + comlib::protocol::kTestSummaryFile))
                     .object(),
                 summary, error),
             qPrintable(error));
    QStringList tested;
    for (const auto& row : summary.images)
    {
        tested.append(QDir(project + "/datas").relativeFilePath(row.path));
        // Labelled rows carry the scores that decide a miss.
        QVERIFY(row.truth && row.hits);
    }
    QStringList expected = images;
    expected.removeDuplicates();
    expected.removeAll("b/gone.png");
    expected.sort();
    QCOMPARE(tested, expected);
}

#include "tst_ServiceGuard.moc"
