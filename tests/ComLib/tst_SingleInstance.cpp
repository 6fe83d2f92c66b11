#include "ComLib/SingleInstance.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using comlib::SingleInstance;

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void secondCopyHandsOverToFirst();
    void lockOfAKilledRunIsTakenOver();
};

void TestSingleInstance::secondCopyHandsOverToFirst()
{
    QTemporaryDir dir;
    SingleInstance first("qarno.velta.Mutex", dir.path());
    QVERIFY(first.TryAcquire());
    QSignalSpy activated(&first, &SingleInstance::Signal_Activate);

    SingleInstance second("qarno.velta.Mutex", dir.path());
    QVERIFY(!second.TryAcquire());
    QVERIFY(second.NotifyRunning(1000));
    QVERIFY(activated.wait(10000));

    // Once the first copy ends, the next one becomes the first.
    first.Release();
    SingleInstance third("qarno.velta.Mutex", dir.path());
    QVERIFY(third.TryAcquire());
}

void TestSingleInstance::lockOfAKilledRunIsTakenOver()
{
    QTemporaryDir dir;
    // A lock file whose process no longer exists, and the socket file the killed run left.
    QFile lock(dir.filePath("qarno.velta.Mutex.lock"));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write("999999\n" + QCoreApplication::applicationName().toUtf8() + "\n" +
               QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();
    QFile socketFile(dir.filePath("qarno.velta.Mutex"));
    QVERIFY(socketFile.open(QIODevice::WriteOnly));
    socketFile.close();

    SingleInstance instance("qarno.velta.Mutex", dir.path());
    QVERIFY(instance.TryAcquire());
    QSignalSpy activated(&instance, &SingleInstance::Signal_Activate);
    SingleInstance later("qarno.velta.Mutex", dir.path());
    QVERIFY(!later.TryAcquire());
    QVERIFY(later.NotifyRunning(1000));
    QVERIFY(activated.wait(10000));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
