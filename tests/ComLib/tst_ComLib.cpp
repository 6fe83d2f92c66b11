#include "ComLib/AtomicFile.h"
#include "ComLib/ComFunc.h"
#include "ComLib/IniFile.h"
#include "ComLib/Platform.h"
#include "ComLib/ProjectName.h"
#include "ComLib/WorkerThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>

#include <unistd.h>

using comlib::IniFile;

namespace
{

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

std::string S(const QString& s)
{
    return s.toStdString();
}

} // namespace

class TestComLib : public QObject
{
    Q_OBJECT

private slots:
    void iniRewriteOfHandWrittenFile();
    void iniKeysKeepTheirSpaces();
    void iniReadDefaults();
    void iniChangedObjectSavesOnDestruction();
    void iniSaveFailsOnUnwritablePath();
    void iniSaveReplacesTheFileWhole();
    void iniUnreadableFileIsKept_data();
    void iniUnreadableFileIsKept();
    void safeProjectNames_data();
    void safeProjectNames();
    void workspaceDefaultsAndEmptyPath();
    void workspaceThatCannotBeCreatedRaises_data();
    void workspaceThatCannotBeCreatedRaises();
    void fileShortcuts();
    void uniqueIdsHaveTheirFormAndDiffer();
    void locationsFollowTheProgram();
    void rootFolderOfAnInstalledCopy();
    void userDataFolderIgnoresARelativeSetting();
    void nowStringLayout();
    void installRecordKeepsUnicode();
    void atomicWrite_data();
    void atomicWrite();
    void workerThreadEnds();
};

void TestComLib::iniRewriteOfHandWrittenFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Config.ini");
    WriteAll(path, "; hand written\n"
                   "\n"
                   "[Log]\n"
                   "Level=0\n"
                   "[Config]\n"
                   "Project=\n"
                   "LoadImgPath=D:/imgs\n"
                   "# note = kept as an entry\n"
                   "DatasPath=D:/AIProject\n"
                   "\n");
    IniFile::WriteString("Config", "aiType", "Object", S(path));
    QCOMPARE(ReadAll(path), QByteArray("\xEF\xBB\xBF"
                                       "[Config]\r\n"
                                       "# note = kept as an entry\r\n"
                                       "DatasPath=D:/AIProject\r\n"
                                       "LoadImgPath=D:/imgs\r\n"
                                       "aiType=Object\r\n"
                                       "[Log]\r\n"
                                       "Level=0\r\n"));

    // Reading what was written gives the same entries back, the BOM skipped.
    IniFile again;
    QVERIFY(again.Load(S(path)));
    QCOMPARE(QString::fromStdString(again.Value("Config", "DatasPath")), QStringLiteral("D:/AIProject"));
    QCOMPARE(again.Entries().size(), std::size_t(5));
    QVERIFY(again.Value("Config", "Project").empty());
}

void TestComLib::iniKeysKeepTheirSpaces()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.ini");
    WriteAll(path, "[Log]\r\nLevel = 2\r\n");
    IniFile ini;
    QVERIFY(ini.Load(S(path)));
    QVERIFY(ini.Value("Log", "Level").empty());
    QCOMPARE(QString::fromStdString(ini.Value("Log", "Level ")), QStringLiteral(" 2"));
    QVERIFY(!ini.IsChanged());
}

void TestComLib::iniReadDefaults()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Config.ini");
    QCOMPARE(IniFile::ReadString("Log", "Level", "1", S(path)), std::string("1"));
    WriteAll(path, "[Log]\nLevel=\nOther=x=y\n");
    QCOMPARE(IniFile::ReadString("Log", "Level", "1", S(path)), std::string("1"));
    QCOMPARE(IniFile::ReadString("Log", "Other", "", S(path)), std::string("x=y"));
    IniFile missing;
    QVERIFY(!missing.Load(S(dir.filePath("none.ini"))));
}

void TestComLib::iniChangedObjectSavesOnDestruction()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Config.ini");
    WriteAll(path, "[Config]\nDatasPath=/data\n");
    {
        IniFile ini;
        QVERIFY(ini.Load(S(path)));
        ini.Set("Config", "Project", "P1");
    }
    QCOMPARE(ReadAll(path), QByteArray("\xEF\xBB\xBF[Config]\r\nDatasPath=/data\r\nProject=P1\r\n"));

    // An empty value is written, and reads back as absent.
    IniFile::WriteString("Config", "Project", "", S(path));
    QCOMPARE(ReadAll(path), QByteArray("\xEF\xBB\xBF[Config]\r\nDatasPath=/data\r\nProject=\r\n"));
    QCOMPARE(IniFile::ReadString("Config", "Project", "none", S(path)), std::string("none"));
}

void TestComLib::iniSaveFailsOnUnwritablePath()
{
    QTemporaryDir dir;
    IniFile ini;
    ini.Set("A", "b", "c");
    QCOMPARE(ini.Save(S(dir.filePath("missing/sub/x.ini"))), -1);
    QCOMPARE(ini.Save(S(dir.filePath("x.ini"))), 0);
}

void TestComLib::iniSaveReplacesTheFileWhole()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Config.ini");
    const QByteArray before = "[Config]\r\nDatasPath=/data/ws\r\n";
    WriteAll(path, before);
    // A second name of the old file: a write in place would change it too, a rename leaves it.
    QVERIFY(::link(QFile::encodeName(path).constData(),
                   QFile::encodeName(dir.filePath("old.ini")).constData()) == 0);

    QVERIFY(IniFile::WriteString("Config", "Project", "P1", S(path)));
    QCOMPARE(ReadAll(dir.filePath("old.ini")), before);
    QCOMPARE(ReadAll(path), QByteArray("\xEF\xBB\xBF[Config]\r\nDatasPath=/data/ws\r\nProject=P1\r\n"));
    // No temporary file stays beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"Config.ini", "old.ini"}));
}

void TestComLib::iniUnreadableFileIsKept_data()
{
    const QString text = "[Config]\r\nDatasPath=/data/ws\r\n";
    const auto utf16 = [&text](QDataStream::ByteOrder order, bool bom)
    {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setByteOrder(order);
        if (bom)
            out << quint16(0xFEFF);
        for (const QChar c : text)
            out << quint16(c.unicode());
        return bytes;
    };
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("readable"); // false: the test takes the read permission away

    QTest::newRow("UTF-16 LE with BOM") << utf16(QDataStream::LittleEndian, true) << true;
    QTest::newRow("UTF-16 BE with BOM") << utf16(QDataStream::BigEndian, true) << true;
    QTest::newRow("UTF-16 LE without BOM") << utf16(QDataStream::LittleEndian, false) << true;
    QTest::newRow("no read permission") << text.toUtf8() << false;
}

void TestComLib::iniUnreadableFileIsKept()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, readable);

    QTemporaryDir dir;
    const QString path = dir.filePath("Config.ini");
    WriteAll(path, bytes);
    if (!readable)
    {
        if (::geteuid() == 0)
            QSKIP("Permissions do not bind the superuser.");
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    }
    const QString def = dir.filePath("AIProject");

    {
        IniFile ini;
        QVERIFY(!ini.Load(S(path)));
        QVERIFY(ini.IsUnreadable());
        QVERIFY(!ini.Error().empty());
        QCOMPARE(ini.Save(S(path)), -1);
        // Nor when a changed object goes.
        ini.Set("Config", "Project", "P1");
    }
    QVERIFY(!IniFile::WriteString("Config", "LoadImgPath", "/img", S(path)));
    QCOMPARE(IniFile::ReadString("Config", "DatasPath", S(def), S(path)), S(def));
    QCOMPARE(QString::fromStdString(comlib::WorkspaceDirFrom(S(path), S(def))), def);

    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(ReadAll(path), bytes);
}

void TestComLib::safeProjectNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("safe");

    QTest::newRow("plain") << "Wafer 2" << true;
    QTest::newRow("chinese") << "晶圆检测" << true;
    QTest::newRow("dots inside") << "v1.2" << true;
    QTest::newRow("leading dot") << ".hidden" << true;
    QTest::newRow("device-like but longer") << "CONSOLE" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("dot") << "." << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("slash") << "a/b" << false;
    QTest::newRow("backslash") << "a\\b" << false;
    QTest::newRow("colon") << "C:x" << false;
    QTest::newRow("question") << "a?" << false;
    QTest::newRow("quote") << "a\"b" << false;
    QTest::newRow("angles") << "<a>" << false;
    QTest::newRow("pipe") << "a|b" << false;
    QTest::newRow("newline") << "a\nb" << false;
    QTest::newRow("nul char") << QString(QChar(0)) + "a" << false;
    QTest::newRow("trailing space") << "abc " << false;
    QTest::newRow("trailing dot") << "abc." << false;
    QTest::newRow("reserved") << "nul" << false;
    QTest::newRow("reserved with extension") << "COM1.txt" << false;
    // The file systems take 255 bytes of UTF-8 for one name; a Chinese character takes 3.
    QTest::newRow("255 bytes") << QString(255, 'a') << true;
    QTest::newRow("256 bytes") << QString(256, 'a') << false;
    QTest::newRow("85 Chinese characters") << QString(85, QChar(0x6676)) << true;
    QTest::newRow("86 Chinese characters") << QString(86, QChar(0x6676)) << false;
}

void TestComLib::safeProjectNames()
{
    QFETCH(QString, name);
    QFETCH(bool, safe);
    QCOMPARE(comlib::IsSafeProjectName(name), safe);
}

void TestComLib::workspaceDefaultsAndEmptyPath()
{
    QTemporaryDir dir;
    const QString config = dir.filePath("Config.ini");
    const QString def = dir.filePath("AIProject");

    // No Config.ini: the default is written and created.
    QCOMPARE(QString::fromStdString(comlib::WorkspaceDirFrom(S(config), S(def))), def);
    QVERIFY(QFileInfo(def).isDir());
    QCOMPARE(ReadAll(config), QByteArray("\xEF\xBB\xBF[Config]\r\nDatasPath=") + def.toUtf8() + "\r\n");

    // An empty DatasPath falls back to the default and leaves the file alone.
    const QByteArray handWritten = "[Config]\nDatasPath=\n[Log]\nLevel=1\n";
    WriteAll(config, handWritten);
    QCOMPARE(QString::fromStdString(comlib::WorkspaceDirFrom(S(config), S(def))), def);
    QCOMPARE(ReadAll(config), handWritten);

    // A configured path is created with its parents.
    const QString custom = dir.filePath("deep/er/ws");
    WriteAll(config, "[Config]\nDatasPath=" + custom.toUtf8() + "\n");
    QCOMPARE(QString::fromStdString(comlib::WorkspaceDirFrom(S(config), S(def))), custom);
    QVERIFY(QFileInfo(custom).isDir());
}

void TestComLib::workspaceThatCannotBeCreatedRaises_data()
{
    QTest::addColumn<QString>("datasPath"); // under the test's folder, which holds a file "file"
    QTest::newRow("under a file") << "file/ws";
    QTest::newRow("a file") << "file";
}

void TestComLib::workspaceThatCannotBeCreatedRaises()
{
    QFETCH(QString, datasPath);
    QTemporaryDir dir;
    WriteAll(dir.filePath("file"), "x");
    const QString config = dir.filePath("Config.ini");
    WriteAll(config, "[Config]\nDatasPath=" + dir.filePath(datasPath).toUtf8() + "\n");
    bool raised = false;
    try
    {
        comlib::WorkspaceDirFrom(S(config), S(dir.filePath("def")));
    }
    catch (const std::filesystem::filesystem_error& e)
    {
        raised = QString::fromUtf8(e.what()).contains("create_directories");
    }
    QVERIFY(raised);
}

void TestComLib::fileShortcuts()
{
    QTemporaryDir dir;
    const std::string deep = S(dir.filePath("a/b/c"));
    QVERIFY(!comlib::PathExists(deep));
    comlib::EnsureDir(deep);
    QVERIFY(comlib::PathExists(deep));
    comlib::EnsureDir(deep);
    WriteAll(dir.filePath("a/b/c/f.txt"), "x");
    comlib::RemovePath(S(dir.filePath("a")));
    QVERIFY(!comlib::PathExists(S(dir.filePath("a"))));
    comlib::RemovePath(S(dir.filePath("a")));

    const QString blocker = dir.filePath("file");
    WriteAll(blocker, "x");
    QVERIFY_EXCEPTION_THROWN(comlib::EnsureDir(S(blocker + "/sub")), std::filesystem::filesystem_error);
}

void TestComLib::uniqueIdsHaveTheirFormAndDiffer()
{
    const QRegularExpression form(QStringLiteral("^[0-9A-F]{11,32}$"));
    QSet<QString> seen;
    for (int i = 0; i < 2000; ++i)
    {
        const QString id = QString::fromStdString(comlib::MakeUniqueId());
        QVERIFY2(form.match(id).hasMatch(), qPrintable(id));
        QVERIFY(!seen.contains(id));
        seen.insert(id);
    }
}

void TestComLib::locationsFollowTheProgram()
{
    const QString app = QString::fromStdString(comlib::AppDir());
    QCOMPARE(app, QCoreApplication::applicationDirPath());
    QDir up(app);
    QVERIFY(up.cdUp());
    QCOMPARE(QString::fromStdString(comlib::RootDir()), up.absolutePath());
}

void TestComLib::rootFolderOfAnInstalledCopy()
{
    QTemporaryDir dir;
    const QString prefix = dir.filePath("usr");
    const QString data = dir.filePath("home/.local/share/Lumora");
    QVERIFY(QDir().mkpath(prefix + "/bin"));

    // A folder the program may write in stays the root folder, and nothing is made for the user.
    QCOMPARE(QString::fromStdString(comlib::RootDirFor(S(prefix + "/bin"), S(data))), prefix);
    QVERIFY(!QFileInfo::exists(data));

    // The installed copy's marker wins over write permission, which an administrator always has.
    QVERIFY(QDir().mkpath(prefix + "/share/lumora"));
    WriteAll(prefix + "/" + comlib::kInstalledMarker, "");
    QCOMPARE(QString::fromStdString(comlib::RootDirFor(S(prefix + "/bin"), S(data))), data);
    QVERIFY(QFileInfo(data).isDir());
    // Without a data folder of the user the program's own folder is all there is.
    QCOMPARE(QString::fromStdString(comlib::RootDirFor(S(prefix + "/bin"), std::string())), prefix);

    const QString locked = dir.filePath("opt/app");
    QVERIFY(QDir().mkpath(locked + "/bin"));
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
    if (::access(QFile::encodeName(locked).constData(), W_OK) != 0)
        QCOMPARE(QString::fromStdString(comlib::RootDirFor(S(locked + "/bin"), S(data))), data);
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TestComLib::userDataFolderIgnoresARelativeSetting()
{
    QTemporaryDir dir;
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", QFile::encodeName(dir.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
    const QString absolute = QString::fromStdString(comlib::platform::UserDataDir());
    qputenv("XDG_DATA_HOME", "relative/data");
    const QString relative = QString::fromStdString(comlib::platform::UserDataDir());
    qputenv("HOME", oldHome);
    oldData.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", oldData);
    QCOMPARE(absolute, dir.filePath("data/Lumora"));
    QCOMPARE(relative, dir.filePath(".local/share/Lumora"));
}

void TestComLib::nowStringLayout()
{
    const QString now = QString::fromStdString(comlib::NowString());
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$"))
                 .match(now)
                 .hasMatch(),
             qPrintable(now));
}

void TestComLib::installRecordKeepsUnicode()
{
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    const std::map<std::string, std::string> values = {
        {"Version", "1.0.0"}, {"Path", "/opt/训练/bin"}, {"Startup", "2026-12-07 08:00:00"}};
    QVERIFY(comlib::WriteRegValues("QARNO", "VELTA", values));
    QSettings read(QSettings::NativeFormat, QSettings::UserScope, "QARNO", "VELTA");
    QCOMPARE(read.value("Path").toString(), QStringLiteral("/opt/训练/bin"));
    QCOMPARE(read.value("Version").toString(), QStringLiteral("1.0.0"));
}

void TestComLib::atomicWrite_data()
{
    QTest::addColumn<QString>("target");
    // What is at the target before: "", "old" (a file), "dir" (a folder with a file), "link" (a link to
    // a file outside the folder), "file-parent" (a file where the folder should be).
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("ok");

    QTest::newRow("new file") << "out/a.json"
                              << "" << true;
    QTest::newRow("replaces a file") << "out/a.json"
                                     << "old" << true;
    QTest::newRow("replaces a link, not its target") << "out/a.json"
                                                     << "link" << true;
    QTest::newRow("folder missing") << "missing/a.json"
                                    << "" << false;
    QTest::newRow("folder is a file") << "out/a.json/b.json"
                                      << "file-parent" << false;
    QTest::newRow("target is a folder") << "out/a.json"
                                        << "dir" << false;
}

void TestComLib::atomicWrite()
{
    QFETCH(QString, target);
    QFETCH(QString, before);
    QFETCH(bool, ok);

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("out"));
    const QString path = dir.filePath(target);
    const QString outside = dir.filePath("outside.txt");
    WriteAll(outside, "outside");
    if (before == "old" || before == "file-parent")
        WriteAll(dir.filePath("out/a.json"), "old content that is longer than the new one");
    else if (before == "dir")
        QVERIFY(QDir(dir.path()).mkpath("out/a.json/inner"));
    else if (before == "link")
        QVERIFY(QFile::link(outside, path));

    QString error;
    QCOMPARE(comlib::WriteFileAtomically(path, "{\"new\": 1}", error), ok);
    QCOMPARE(ReadAll(outside), QByteArray("outside"));
    // No temporary file is left beside the target, whatever happened.
    const QStringList left = QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Hidden | QDir::System);
    QVERIFY2(left.filter(".tmp").isEmpty(), qPrintable(left.join(' ')));
    if (!ok)
    {
        QVERIFY2(error.contains(path), qPrintable(error));
        return;
    }
    QVERIFY(!QFileInfo(path).isSymLink());
    QCOMPARE(ReadAll(path), QByteArray("{\"new\": 1}"));
}

// A store's worker runs every call queued before its owner goes; every worker is deleted in its own
// thread, one that never started included.
void TestComLib::workerThreadEnds()
{
    std::atomic_int calls{0};
    std::atomic_bool deletedInItsThread{false};
    QString threadName;
    {
        comlib::WorkerThread thread("StoreWork", comlib::WorkerThread::Ending::AfterQueuedCalls);
        auto* worker = thread.Adopt(new QObject);
        QObject::connect(
            worker, &QObject::destroyed, worker,
            [&] { deletedInItsThread = QThread::currentThread() == &thread.Thread(); }, Qt::DirectConnection);
        thread.Start();
        for (int i = 0; i < 200; ++i)
            QMetaObject::invokeMethod(worker,
                                      [&] { threadName = QThread::currentThread()->objectName(), ++calls; });
    }
    QCOMPARE(calls.load(), 200);
    QVERIFY(deletedInItsThread);
    QCOMPARE(threadName, QString("StoreWork"));

    // A long call stops when its owner goes, instead of holding the owner's destructor.
    std::atomic_bool looping{false};
    {
        comlib::WorkerThread thread("Scan");
        auto* worker = thread.Adopt(new QObject);
        thread.Start();
        QMetaObject::invokeMethod(worker,
                                  [&]
                                  {
                                      looping = true;
                                      while (!QThread::currentThread()->isInterruptionRequested())
                                          QThread::msleep(1);
                                  });
        QTRY_VERIFY(looping);
    }

    QPointer<QObject> idle;
    {
        comlib::WorkerThread thread("Idle");
        idle = thread.Adopt(new QObject);
    }
    QVERIFY(idle.isNull());
}

QTEST_GUILESS_MAIN(TestComLib)
#include "tst_ComLib.moc"
