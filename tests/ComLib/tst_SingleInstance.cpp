#include "ComLib/SingleInstance.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <filesystem>

#include <unistd.h>

using comlib::SingleInstance;
using Lock = comlib::SingleInstance::Lock;

Q_DECLARE_METATYPE(comlib::SingleInstance::Lock)

namespace
{

const QString kName = QStringLiteral("qarno.velta.Mutex");

void WriteFile(const QString& path, const QByteArray& bytes, const QDateTime& modified = QDateTime())
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    // Written out first, or the close would stamp the file again.
    QVERIFY(file.flush());
    if (modified.isValid())
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void secondCopyHandsOverToFirst();
    void lockOfAKilledRunIsTakenOver();
    void lockStates_data();
    void lockStates();
};

void TestSingleInstance::secondCopyHandsOverToFirst()
{
    QTemporaryDir dir;
    SingleInstance first(kName, dir.path());
    QCOMPARE(first.TryAcquire(), Lock::Acquired);
    QSignalSpy activated(&first, &SingleInstance::Signal_Activate);

    SingleInstance second(kName, dir.path());
    QCOMPARE(second.TryAcquire(), Lock::HeldByRunningCopy);
    QVERIFY(second.ErrorString().isEmpty());
    QVERIFY(second.NotifyRunning(1000));
    QVERIFY(activated.wait(10000));

    // Once the first copy ends, the next one becomes the first.
    first.Release();
    SingleInstance third(kName, dir.path());
    QCOMPARE(third.TryAcquire(), Lock::Acquired);
}

void TestSingleInstance::lockOfAKilledRunIsTakenOver()
{
    QTemporaryDir dir;
    // A lock file whose process no longer exists, and the socket file the killed run left.
    WriteFile(dir.filePath(kName + ".lock"), "999999\n" + QCoreApplication::applicationName().toUtf8() +
                                                 "\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    WriteFile(dir.filePath(kName), QByteArray());

    SingleInstance instance(kName, dir.path());
    QCOMPARE(instance.TryAcquire(), Lock::Acquired);
    QSignalSpy activated(&instance, &SingleInstance::Signal_Activate);
    SingleInstance later(kName, dir.path());
    QCOMPARE(later.TryAcquire(), Lock::HeldByRunningCopy);
    QVERIFY(later.NotifyRunning(1000));
    QVERIFY(activated.wait(10000));
}

// Only a live holder means another copy runs; every other failure is told apart with its reason.
void TestSingleInstance::lockStates_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<Lock>("expected");
    QTest::addColumn<bool>("lockFileStays"); // the content written by setup is still there afterwards

    QTest::newRow("damaged lock of an earlier run") << "old garbage" << Lock::Acquired << false;
    QTest::newRow("empty lock of an earlier run") << "old empty" << Lock::Acquired << false;
    QTest::newRow("lock being written by a starting copy")
        << "fresh empty" << Lock::HeldByRunningCopy << true;
    QTest::newRow("folder under a file") << "folder under file" << Lock::Failed << false;
    QTest::newRow("folder in place of the lock") << "old folder" << Lock::Failed << true;
    QTest::newRow("unwritable folder") << "read-only folder" << Lock::Failed << false;
}

void TestSingleInstance::lockStates()
{
    QFETCH(QString, setup);
    QFETCH(Lock, expected);
    QFETCH(bool, lockFileStays);

    QTemporaryDir dir;
    QString folder = dir.filePath("run");
    QVERIFY(QDir().mkpath(folder));
    const QString lockFile = folder + "/" + kName + ".lock";
    const QDateTime hourAgo = QDateTime::currentDateTime().addSecs(-3600);
    const QByteArray garbage = "\xff\xfe garbage";
    if (setup == "old garbage")
        WriteFile(lockFile, garbage, hourAgo);
    else if (setup == "old empty")
        WriteFile(lockFile, QByteArray(), hourAgo);
    else if (setup == "fresh empty")
        WriteFile(lockFile, QByteArray());
    else if (setup == "folder under file")
    {
        WriteFile(dir.filePath("file"), "x");
        folder = dir.filePath("file/run");
    }
    else if (setup == "old folder")
    {
        QVERIFY(QDir().mkpath(lockFile + "/inside"));
        WriteFile(lockFile + "/inside/x", "x");
        std::filesystem::last_write_time(
            lockFile.toStdString(), std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    }
    else if (setup == "read-only folder")
    {
        if (geteuid() == 0)
            QSKIP("Permissions do not bind the superuser.");
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }

    SingleInstance instance(kName, folder);
    const Lock result = instance.TryAcquire();
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(result, expected);
    QCOMPARE(instance.ErrorString().isEmpty(), expected != Lock::Failed);
    if (expected == Lock::Acquired)
    {
        // A later copy now finds a live holder.
        SingleInstance later(kName, folder);
        QCOMPARE(later.TryAcquire(), Lock::HeldByRunningCopy);
    }
    if (lockFileStays)
        QVERIFY(QFileInfo::exists(lockFile));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
