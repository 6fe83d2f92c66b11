#include "ComLib/Service/ServiceClient.h"
#include "ComLib/Service/ServiceStarter.h"

#include "FakeTrainService.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using comlib::ServiceStarter;
using State = comlib::ServiceStarter::State;

namespace
{

// A loopback port that nothing listens on right now.
int FreePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}

void UseAddress(const QString& url)
{
    qputenv(comlib::ServiceClient::kUrlVariable, url.toUtf8());
}

// An executable shell script in dir.
QString Script(const QTemporaryDir& dir, const QString& name, const QByteArray& body)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

} // namespace

class TestServiceStarter : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void serviceRunningAlreadyIsLeftAlone();
    void otherProgramOnThePortIsNamed();
    void missingOrFailingProgramGivesTheReason();
    void startedServiceAnswersAndIsStopped();
};

void TestServiceStarter::cleanup()
{
    qunsetenv(comlib::ServiceClient::kUrlVariable);
}

void TestServiceStarter::serviceRunningAlreadyIsLeftAlone()
{
    FakeTrainService service;
    QVERIFY(service.Listen());
    service.Script("/get_train_status", {FakeTrainService::Json(R"({"status":"failed"})")});
    UseAddress(service.BaseUrl());
    QTemporaryDir dir;
    // The program would leave a trace if it were started.
    const QString program = Script(dir, "TrainService", "touch \"$4/started\"");
    ServiceStarter starter(program, dir.path());
    starter.Ensure();
    QTRY_COMPARE(starter.CurrentState(), State::Running);
    QVERIFY(!starter.StartedService());
    QVERIFY(!QFile::exists(dir.filePath("started")));
    QCOMPARE(service.RequestsTo("/get_train_status").size(), 1);
}

void TestServiceStarter::otherProgramOnThePortIsNamed()
{
    FakeTrainService service;
    QVERIFY(service.Listen());
    service.Script("/", {FakeTrainService::Json("<html>hello</html>")});
    UseAddress(service.BaseUrl());
    QTemporaryDir dir;
    ServiceStarter starter(dir.filePath("TrainService"), dir.path());
    starter.Ensure();
    QTRY_COMPARE(starter.CurrentState(), State::NotAvailable);
    QVERIFY2(starter.Reason().contains(QString::number(QUrl(service.BaseUrl()).port())),
             qPrintable(starter.Reason()));
}

void TestServiceStarter::missingOrFailingProgramGivesTheReason()
{
    QTemporaryDir dir;
    UseAddress(QStringLiteral("http://127.0.0.1:%1").arg(FreePort()));
    {
        ServiceStarter starter(dir.filePath("TrainService"), dir.path());
        starter.Ensure();
        QTRY_COMPARE(starter.CurrentState(), State::NotAvailable);
        QVERIFY2(starter.Reason().contains(dir.filePath("TrainService")), qPrintable(starter.Reason()));
    }
    {
        const QString program = Script(dir, "Failing", "echo first >&2\necho 'cannot listen' >&2\nexit 3");
        ServiceStarter starter(program, dir.path());
        starter.Ensure();
        QTRY_COMPARE(starter.CurrentState(), State::NotAvailable);
        QVERIFY2(starter.Reason().contains("3") && starter.Reason().contains("cannot listen"),
                 qPrintable(starter.Reason()));
        QVERIFY(!starter.Reason().contains("first"));
    }
    {
        // Started, but it never answers: it is stopped when the time allowed has passed.
        const QString program = Script(dir, "Silent", "echo $$ > \"$4/pid\"\nexec sleep 600");
        ServiceStarter starter(program, dir.path());
        starter.SetStartLimitMs(300);
        starter.Ensure();
        QTRY_COMPARE(starter.CurrentState(), State::NotAvailable);
        QVERIFY2(starter.Reason().contains("没有应答"), qPrintable(starter.Reason()));
        QFile pid(dir.filePath("pid"));
        QVERIFY(pid.open(QIODevice::ReadOnly));
        QVERIFY(!QFileInfo::exists("/proc/" + pid.readAll().trimmed()));
    }
    // A service elsewhere is not started from here.
    UseAddress(QStringLiteral("http://192.0.2.1:9"));
    ServiceStarter starter(Script(dir, "Remote", "touch \"$4/started\""), dir.path());
    starter.Ensure();
    QTRY_COMPARE_WITH_TIMEOUT(starter.CurrentState(), State::NotAvailable, 30000);
    QVERIFY(!QFile::exists(dir.filePath("started")));
}

void TestServiceStarter::startedServiceAnswersAndIsStopped()
{
    QTemporaryDir dir;
    const int port = FreePort();
    UseAddress(QStringLiteral("http://127.0.0.1:%1").arg(port));
    // Records what it was given, then serves as the stand-in service does.
    const QString program =
        Script(dir, "TrainService",
               "echo \"$OMP_WAIT_POLICY $*\" > \"$4/given\"\nexec '" LUMORA_SERVICE_SIM "' serve \"$2\"");
    ServiceStarter starter(program, dir.filePath("Log"));
    QSignalSpy states(&starter, &ServiceStarter::Signal_StateChanged);
    starter.Ensure();
    QTRY_COMPARE_WITH_TIMEOUT(starter.CurrentState(), State::Running, 60000);
    QVERIFY(starter.StartedService());
    QCOMPARE(states.first().first().value<State>(), State::Starting);
    QFile given(dir.filePath("Log/given"));
    QVERIFY(given.open(QIODevice::ReadOnly));
    QCOMPARE(given.readAll().trimmed(),
             QStringLiteral("PASSIVE --port %1 --log-dir %2").arg(port).arg(dir.filePath("Log")).toUtf8());

    starter.StopStarted();
    QCOMPARE(starter.CurrentState(), State::NotAvailable);
    QTcpSocket socket;
    QSignalSpy refused(&socket, &QTcpSocket::errorOccurred);
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    QVERIFY(refused.wait());
}

QTEST_GUILESS_MAIN(TestServiceStarter)
#include "tst_ServiceStarter.moc"
