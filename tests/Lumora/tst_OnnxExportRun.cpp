// The testing page's ONNX export through the inspector program, with stand-in programs: the arguments
// it is given, its outcome and reason, one export at a time.
#include "ModelTesting/OnnxExportRun.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace
{

// A shell script standing in for the inspector: writes its arguments to args.txt, waits for a file
// "go" when asked to, then runs body.
QString StandIn(const QTemporaryDir& dir, const QString& name, const QByteArray& body, bool wait = false)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    const QByteArray folder = dir.path().toUtf8();
    file.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + folder + "/args.txt'\n");
    if (wait)
        file.write("while [ ! -f '" + folder + "/go' ]; do sleep 0.05; done\n");
    file.write(body + "\n");
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

} // namespace

class tst_OnnxExportRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void outcomes_data();
    void outcomes();
    void oneAtATime();
};

void tst_OnnxExportRun::outcomes_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("message");
    QTest::newRow("written") << QByteArray("echo 'LumoraInspect: exported: bytes=10'; exit 0") << true
                             << "/out/v1.onnx";
    QTest::newRow("refused") << QByteArray(
                                    "echo 'LumoraInspect: warning: x' >&2; echo 'LumoraInspect: error: the "
                                    "exported model does not agree with libtorch' >&2; exit 6")
                             << false << "the exported model does not agree with libtorch";
    QTest::newRow("paths shortened") << QByteArray("echo 'LumoraInspect: error: /train/v1/model/Config.json "
                                                   "does not fit /out/v1.onnx' >&2; exit 2")
                                     << false << "v1/model/Config.json does not fit v1.onnx";
    QTest::newRow("silent failure") << QByteArray("exit 4") << false << "exit status 4";
    QTest::newRow("crash") << QByteArray("kill -9 $$") << false << "the inspector did not finish";
}

void tst_OnnxExportRun::outcomes()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    OnnxExportRun run(nullptr, StandIn(dir, "inspect", body));
    QSignalSpy finished(&run, &OnnxExportRun::Signal_Finished);
    QVERIFY(run.Start("/train/v1/model", "/out/v1.onnx"));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), ok);
    QCOMPARE(finished.at(0).at(1).toString(), message);
    QVERIFY(!run.IsRunning());
    QFile args(dir.filePath("args.txt"));
    QVERIFY(args.open(QIODevice::ReadOnly));
    QCOMPARE(args.readAll(), QByteArray("/train/v1/model\n--export\n/out/v1.onnx\n"));
}

void tst_OnnxExportRun::oneAtATime()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(!OnnxExportRun(nullptr, dir.filePath("missing")).Start("/m", "/o.onnx"));

    OnnxExportRun run(nullptr, StandIn(dir, "inspect", "exit 0", true));
    QSignalSpy finished(&run, &OnnxExportRun::Signal_Finished);
    QVERIFY(run.Start("/m", "/a.onnx"));
    QVERIFY(run.IsRunning());
    QVERIFY(!run.Start("/m", "/b.onnx"));
    QFile go(dir.filePath("go"));
    QVERIFY(go.open(QIODevice::WriteOnly));
    go.close();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.at(0).at(1).toString(), QString("/a.onnx"));
    // Done, so the next one may start.
    QVERIFY(run.Start("/m", "/c.onnx"));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.size(), 2);
}

QTEST_GUILESS_MAIN(tst_OnnxExportRun)
#include "tst_OnnxExportRun.moc"
