// A stand-in training service for watching the training and testing pages by eye, and a seeder of a
// small annotated project with two trained versions.
//   ServiceSim serve <port> [fail-after-polls]   answers the training requests with a falling loss curve and
//                                                leaves the model's record when done, and test runs with
//                                                predictions and rates after a few polls
//   ServiceSim seed <workspace> <project> <type>  makes a project with a few annotated images
#include "ComLib/Service/ServiceProtocol.h"
#include "Nexil/ImageFiles.h"
#include "Nexil/NexilApi.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <functional>
#include <iostream>

namespace
{

namespace protocol = comlib::protocol;
using protocol::StatusReply;

struct Run
{
    int epochs = 10;
    int polls = 0;
    protocol::TrainRequest request;
    QVector<protocol::ModelRecord::EpochLoss> history;
};

// The model's record as a trainer leaves it when the run is done, with the losses of every epoch.
void WriteModelRecord(const Run& run)
{
    protocol::ModelRecord record;
    record.classes = run.request.classes;
    record.aiType = run.request.aiType;
    record.netType = run.request.netType;
    record.version = run.request.version;
    record.fineness = run.request.fineness;
    record.inputSize = protocol::FinenessLevelOf(run.request.fineness).inputSize;
    record.width = protocol::FinenessLevelOf(run.request.fineness).width;
    record.epochs = run.epochs;
    record.trainPercent = run.request.trainPercent;
    // Every tenth annotated image is a validation image; a class counts the images holding it.
    QHash<QString, protocol::ModelRecord::ClassCount> counts;
    QDirIterator it(run.request.datasPath, {"*.json"}, QDir::Files, QDirIterator::Subdirectories);
    for (int n = 0; it.hasNext(); ++n)
    {
        QFile annotation(it.next());
        annotation.open(QIODevice::ReadOnly);
        const bool val = n % 10 == 9;
        ++(val ? record.valImages : record.trainImages);
        for (const QString& suffix : ImageFiles::Suffixes())
        {
            const QString image = annotation.fileName().chopped(4) + suffix;
            if (val && QFileInfo::exists(image))
                record.valPaths.append(QDir(run.request.datasPath).relativeFilePath(image));
        }
        QSet<QString> labels;
        for (const QJsonValue& shape : QJsonDocument::fromJson(annotation.readAll())["shapes"].toArray())
            labels.insert(shape["label"].toString());
        for (const QString& label : labels)
            ++(val ? counts[label].val : counts[label].train);
    }
    for (const QString& name : run.request.classes)
        record.classCounts.append({name, counts.value(name).train, counts.value(name).val});
    record.history = run.history;
    const QString modelDir = run.request.trainPath + "/" + protocol::kModelDir;
    QDir().mkpath(modelDir);
    QFile file(modelDir + "/" + protocol::kModelConfigFile);
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(record.ToJson()).toJson());
}

QByteArray Json(const StatusReply& status)
{
    return QJsonDocument(status.ToJson()).toJson();
}

QByteArray StatusOnly(const char* text)
{
    StatusReply status;
    status.status = QLatin1String(text);
    return Json(status);
}

QByteArray StatusOf(Run& run)
{
    ++run.polls;
    // Two polls per epoch, so the curve fills at a pace one can watch.
    const double epoch = run.polls / 2.0;
    if (epoch > run.epochs + 1)
    {
        WriteModelRecord(run);
        return StatusOnly(protocol::kStatusDone);
    }
    if (epoch > run.epochs)
        return StatusOnly(protocol::kStatusExport);
    const double total = 2.0 * std::exp(-0.25 * epoch) + 0.05 + 0.03 * std::sin(epoch * 3);
    StatusReply status;
    status.status = QLatin1String(protocol::kStatusRunning);
    status.batch = {run.polls % 2 == 0 ? 40 : 20, 40};
    status.loss = {epoch, run.epochs, total, total * 1.15 + 0.04};
    status.remainTime = (run.epochs - epoch) * 3.7;
    if (run.polls % 2 == 0)
        run.history.append({int(epoch), total, total * 1.15 + 0.04});
    return Json(status);
}

// The request a start body names; false when the file cannot be read as one.
template <typename Request> bool ReadRequest(const QByteArray& body, Request& request)
{
    QFile file(QJsonDocument::fromJson(body).object().value(QLatin1String(protocol::kConfigPath)).toString());
    QString error;
    return file.open(QIODevice::ReadOnly) &&
           Request::FromJson(QJsonDocument::fromJson(file.readAll()).object(), request, error);
}

struct TestRun
{
    int polls = 0;
    QStringList images;
};

// A score from 0 to 1 that stays the same for the same version, image and class.
double Score(const QString& version, const QString& image, const QString& cls)
{
    return double(std::hash<std::string>()((version + image + cls).toStdString()) % 1000) / 1000;
}

// The summary of a test: scores that favour the annotated classes, and for a labelled test the truth
// from the annotation file beside each image.
void WriteSummary(const protocol::TestRequest& config, const QStringList& images)
{
    QFile modelConfig(config.modelPath + "/" + protocol::kModelConfigFile);
    modelConfig.open(QIODevice::ReadOnly);
    protocol::TestSummary summary;
    summary.classes = protocol::ModelClassesFromJson(QJsonDocument::fromJson(modelConfig.readAll()).object());
    for (const QString& image : images)
    {
        QFile annotation(ImageFiles::AnnotationPath(image));
        QStringList labels;
        if (annotation.open(QIODevice::ReadOnly))
        {
            for (const QJsonValue& shape :
                 QJsonDocument::fromJson(annotation.readAll()).object().value("shapes").toArray())
                labels.append(shape.toObject().value("label").toString());
        }
        protocol::TestSummary::Image row{image, {}, std::nullopt};
        QVector<bool> truth;
        for (const QString& cls : summary.classes)
        {
            const double score = Score(config.savePredictPath, image, cls);
            truth.append(labels.contains(cls));
            row.scores.append(truth.last() ? 0.3 + 0.7 * score : (score < 0.5 ? 0 : score - 0.3));
        }
        if (config.labeled && annotation.exists())
            row.truth = truth;
        summary.images.append(row);
    }
    QFile out(config.savePredictPath + "/" + protocol::kTestSummaryFile);
    out.open(QIODevice::WriteOnly);
    out.write(QJsonDocument(summary.ToJson()).toJson());
}

// Writes a prediction beside each tested image's place under save_predict_path: a box that moves with
// the version, so two panels show different shapes; and the test's summary.
TestRun StartTest(const protocol::TestRequest& config)
{
    const QString& from = config.predictPath;
    const QString& to = config.savePredictPath;
    const int shift = int(std::hash<std::string>()(to.toStdString()) % 160);
    TestRun run;
    QStringList images;
    QDirIterator it(from, ImageFiles::NameFilters(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        images.append(it.next());
    // A stand-in trusts the listed names; the real service confines them.
    if (config.images)
    {
        images.clear();
        for (const QString& relative : *config.images)
            images.append(from + "/" + relative);
    }
    for (const QString& image : images)
    {
        run.images.append(image);
        const QString target = protocol::PredictionPath(from, to, image);
        QDir().mkpath(QFileInfo(target).path());
        const double x = 100 + shift + 25 * (run.images.size() % 4);
        const QJsonObject shape{{"label", run.images.size() % 2 ? "dent" : "scratch"},
                                {"shape_type", "rectangle"},
                                {"points", QJsonArray{QJsonArray{x, 180}, QJsonArray{x + 110, 290}}},
                                {"score", 0.55 + 0.1 * (run.images.size() % 4)}};
        QFile out(target);
        out.open(QIODevice::WriteOnly);
        out.write(QJsonDocument(QJsonObject{{"imagePath", QFileInfo(image).fileName()},
                                            {"imageData", QJsonValue()},
                                            {"shapes", QJsonArray{shape}}})
                      .toJson());
    }
    QDir().mkpath(to);
    WriteSummary(config, run.images);
    return run;
}

QByteArray TestStatusOf(TestRun& run)
{
    if (++run.polls < 4)
        return StatusOnly(protocol::kStatusRunning);
    const double spread = (run.images.size() % 5) / 20.0;
    StatusReply status;
    status.status = QLatin1String(protocol::kStatusDone);
    status.lossRate = QVector<double>{0.05 + spread, 0.125};
    status.overkillRate = QVector<double>{0.1, 0.0 + spread};
    status.lossImagePaths = run.images.mid(0, 2);
    status.overkillImagePaths = run.images.mid(2, 1);
    return Json(status);
}

void Answer(QTcpSocket* socket, int code, const QByteArray& body)
{
    socket->write("HTTP/1.1 " + QByteArray::number(code) + (code == 200 ? " OK" : " Error") +
                  "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
                  "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

int Serve(int port, int failAfter)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, quint16(port)))
    {
        std::cerr << "cannot listen on " << port << "\n";
        return 1;
    }
    QHash<QString, Run> runs;
    QHash<QString, TestRun> tests;
    QHash<QTcpSocket*, QByteArray> buffers;
    int polls = 0;
    QObject::connect(
        &server, &QTcpServer::newConnection, &server,
        [&]
        {
            QTcpSocket* socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::disconnected, socket,
                             [&buffers, socket]
                             {
                                 buffers.remove(socket);
                                 socket->deleteLater();
                             });
            QObject::connect(
                socket, &QTcpSocket::readyRead, socket,
                [&, socket]
                {
                    QByteArray& buffer = buffers[socket];
                    buffer += socket->readAll();
                    const int end = buffer.indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    const QByteArray head = buffer.left(end);
                    const int lengthAt = head.toLower().indexOf("content-length:");
                    const int length =
                        lengthAt < 0 ? 0 : head.mid(lengthAt + 15).split('\r').first().trimmed().toInt();
                    if (buffer.size() < end + 4 + length)
                        return;
                    const QList<QByteArray> first = head.split('\r').first().split(' ');
                    const QString path = QString::fromUtf8(first.value(1));
                    const QString id = path.section('/', 2);
                    std::cout << first.value(0).constData() << " " << path.toStdString() << std::endl;
                    const QByteArray body = buffer.mid(end + 4, length);
                    if (path.startsWith(protocol::kStartTrainTask))
                    {
                        protocol::TrainRequest request;
                        if (!ReadRequest(body, request))
                        {
                            Answer(socket, 200, StatusOnly(protocol::kStatusFailed));
                            return;
                        }
                        Run run;
                        run.epochs = request.epochs;
                        run.request = request;
                        runs.insert(id, run);
                        // A busy trainer queues the run first.
                        Answer(socket, 200, StatusOnly(protocol::kStatusQueued));
                    }
                    else if (path.startsWith(protocol::kGetTrainStatus) && runs.contains(id))
                    {
                        if (failAfter > 0 && ++polls > failAfter)
                            Answer(socket, 500, R"({"detail":"trainer crashed"})");
                        else
                            Answer(socket, 200, StatusOf(runs[id]));
                    }
                    else if (path.startsWith(protocol::kTestModel) && first.value(0) == "POST")
                    {
                        protocol::TestRequest request;
                        if (!ReadRequest(body, request))
                        {
                            Answer(socket, 200, StatusOnly(protocol::kStatusFailed));
                            return;
                        }
                        tests.insert(id, StartTest(request));
                        Answer(socket, 200, StatusOnly(protocol::kStatusRunning));
                    }
                    else if (path.startsWith(protocol::kTestModel))
                    {
                        tests.remove(id);
                        Answer(socket, 200, StatusOnly(protocol::kStatusCancelled));
                    }
                    else if (path.startsWith(protocol::kGetTestStatus) && tests.contains(id))
                    {
                        Answer(socket, 200, TestStatusOf(tests[id]));
                    }
                    else if (path.startsWith(protocol::kCancelTrainTask))
                    {
                        runs.remove(id);
                        Answer(socket, 200, StatusOnly(protocol::kStatusCancelled));
                    }
                    else
                    {
                        Answer(socket, 404, R"({"detail":"unknown task"})");
                    }
                });
        });
    std::cout << "listening on " << port << std::endl;
    return QCoreApplication::exec();
}

int Seed(const QString& workspace, const QString& name, int type)
{
    QDir().mkpath(workspace);
    CreateNexil();
    const auto spCore = NexilIns().lock();
    if (!spCore || !spCore->Init(workspace))
        return 1;
    auto spInfo = std::make_shared<pro::info>();
    spInfo->id = "SEED" + QString::number(type);
    spInfo->name = name;
    spInfo->type = type;
    spInfo->createTime = spInfo->lastUsedTime = "2024-01-01 00:00:00";
    spCore->AddPro(spInfo);
    spCore->OpenPro(spInfo->id);
    const auto spPrj = PrjIns().lock();
    if (!spPrj)
        return 1;
    int pending = 6;
    spPrj->SetSaveCallback(
        [](const QString&, bool, const QString&, void* left) { --*static_cast<int*>(left); }, &pending);
    for (const char* category : {"scratch", "dent"})
        spPrj->AddMarkType(category);
    const QString src = workspace + "/seed-src";
    QDir().mkpath(src);
    for (int i = 0; i < 6; ++i)
    {
        cv::Mat image(480, 640, CV_8UC3, cv::Scalar(60 + 20 * i, 90, 120));
        cv::circle(image, cv::Point(200 + 30 * i, 240), 40, cv::Scalar(20, 20, 200), -1);
        const QString path = QString("%1/part%2.png").arg(src).arg(i);
        cv::imwrite(path.toStdString(), image);
        auto spImg = std::make_shared<pro::ImageInfo>();
        spImg->path = path;
        spImg->fileName = QFileInfo(path).fileName();
        spImg->addTime = "2024-01-01_00-00-00-000";
        spImg->filter = QString::fromUtf8("手动添加");
        spImg->rois.append(
            std::make_shared<RectROIItem>(QRectF(160 + 30 * i, 200, 80, 80), 0, i % 2 ? "dent" : "scratch"));
        spPrj->AddImage(spImg);
    }
    QElapsedTimer waited;
    waited.start();
    while (pending > 0 && waited.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    // Two finished runs to test, with the categories as the trainer names them and two images kept
    // for validation.
    protocol::ModelRecord record;
    record.classes = QStringList{"scratch", "dent"};
    QStringList stored;
    for (const auto& spImg : spPrj->Images())
        stored.append(QDir(spPrj->PrjPath() + "/datas").relativeFilePath(spImg->path));
    stored.sort();
    record.valPaths = QStringList{stored.value(1), stored.value(4)};
    for (const char* version : {"V2024-01-01_08-00-00", "V2024-02-01_08-00-00"})
    {
        const QString model = spPrj->PrjPath() + "/train/" + version + "/model";
        QDir().mkpath(model);
        QFile config(model + "/Config.json");
        config.open(QIODevice::WriteOnly);
        config.write(QJsonDocument(record.ToJson()).toJson());
    }
    ReleaseNexil();
    return pending == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == "serve")
        return Serve(args[2].toInt(), args.value(3).toInt());
    if (args.size() >= 5 && args[1] == "seed")
        return Seed(args[2], args[3], args[4].toInt());
    std::cerr << "usage: ServiceSim serve <port> [fail-after-polls] | seed <workspace> <project> <type>\n";
    return 2;
}
