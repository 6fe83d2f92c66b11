#include "MsgWndProbe.h"

#include "CommandLine.h"
#include "FakeTrainService.h"
#include "ModelTraining/ServiceStateLabel.h"
#include "Startup.h"
#include "projects/ProMngWid.h"

#include "ComLib/IniFile.h"
#include "ComLib/Service/ServiceClient.h"
#include "ComLib/Service/ServiceStarter.h"
#include "ComUi/CMsgWnd.h"
#include "ComUi/Skin.h"
#include "Nexil/NexilApi.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QWidget>
#include <QtTest>

namespace
{

// What a window turn saw of the core library.
struct Turn
{
    QChar window;         // 'M' project manager, 'W' main window
    QStringList projects; // "name:type", in catalogue order
    QString openId;
    QString openName;
};

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT

public:
    static void initMain();

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startupJson_data();
    void startupJson();
    void sameFileOpensSameProject();
    void blockedProjectFolderStartsManager();
    void configKeysEmptiedOnEveryStart();
    void loopTurns_data();
    void loopTurns();
    void workspaceCannotBeCreated();
    void installRecord();
    void activateRestoresTheTurnWindow();
    void lockFailureIsShown();
    void unusableCatalogueIsShown_data();
    void unusableCatalogueIsShown();
    void unreadableConfigIsKept();
    void commandLine();
    void selfCheckReports();
    void serviceStateIsShownAndAskedAgain();

private:
    QString Root() const { return m_root->path(); }
    QString ConfigPath() const { return Root() + "/Config.ini"; }
    QString Config(const char* key) const
    {
        return QString::fromStdString(
            comlib::IniFile::ReadString("Config", key, "", ConfigPath().toStdString()));
    }
    // A start-up whose window turns are recorded instead of shown.
    std::unique_ptr<Startup> MakeStartup(int managerResult = 0, int mainResult = 0);

    std::unique_ptr<QTemporaryDir> m_root;
    QVector<Turn> m_turns;
};

void tst_Startup::initMain()
{
    // The installation record and the default workspace go to a home of this run, never the
    // user's, and nothing an earlier run wrote is read back. Set before the application reads them.
    static QTemporaryDir home;
    if (!home.isValid())
        qFatal("no temporary home folder");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(".local/share")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(".cache")));
}

void tst_Startup::initTestCase()
{
    QCOMPARE(QDir::homePath(), QFileInfo(qEnvironmentVariable("HOME")).absoluteFilePath());
    InitComUiResources();
}

void tst_Startup::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    QVERIFY(QDir(Root()).mkpath("bin"));
    comlib::IniFile::WriteString("Config", "DatasPath", (Root() + "/ws").toStdString(),
                                 ConfigPath().toStdString());
    m_turns.clear();
}

void tst_Startup::cleanup()
{
    ReleaseNexil();
    m_root.reset();
}

std::unique_ptr<Startup> tst_Startup::MakeStartup(int managerResult, int mainResult)
{
    auto startup = std::make_unique<Startup>(Root(), Root() + "/bin");
    auto record = [this](QChar window)
    {
        Turn turn;
        turn.window = window;
        if (const auto spCore = NexilIns().lock())
        {
            for (const auto& spPInfo : spCore->ProList())
                turn.projects << QString("%1:%2").arg(spPInfo->name).arg(spPInfo->type);
        }
        if (const auto spPrj = PrjIns().lock())
        {
            turn.openId = spPrj->PrjInfo()->id;
            turn.openName = spPrj->PrjInfo()->name;
        }
        m_turns.append(turn);
    };
    startup->SetProjectManagerRunner(
        [record, managerResult]
        {
            record('M');
            return managerResult;
        });
    startup->SetMainWindowRunner(
        [record, mainResult]
        {
            record('W');
            return mainResult;
        });
    return startup;
}

void tst_Startup::startupJson_data()
{
    QTest::addColumn<QByteArray>("json"); // empty: no Startup.json
    QTest::addColumn<QString>("turns");
    QTest::addColumn<QStringList>("projects");
    QTest::addColumn<QString>("openName");
    QTest::addColumn<QString>("loadImgPath");
    QTest::addColumn<QString>("project");
    QTest::addColumn<QString>("aiType");

    QTest::newRow("no file") << QByteArray() << "M" << QStringList() << ""
                             << ""
                             << ""
                             << "";
    QTest::newRow("new Object project")
        << QByteArray(R"({"toolDataPath":"/data/img","aiProjectName":"晶圆","aiType":"Object"})") << "W"
        << QStringList{"晶圆:2"} << "晶圆"
        << "/data/img"
        << "晶圆"
        << "Object";
    QTest::newRow("new Segment project") << QByteArray(R"({"aiProjectName":"Glass","aiType":"Segment"})")
                                         << "W" << QStringList{"Glass:1"} << "Glass"
                                         << ""
                                         << "Glass"
                                         << "Segment";
    QTest::newRow("other type text") << QByteArray(R"({"aiProjectName":"Glass","aiType":"Classify"})") << "W"
                                     << QStringList{"Glass:1"} << "Glass"
                                     << ""
                                     << "Glass"
                                     << "Classify";
    QTest::newRow("without aiType") << QByteArray(R"({"toolDataPath":"/data/img","aiProjectName":"Glass"})")
                                    << "M" << QStringList() << ""
                                    << "/data/img"
                                    << ""
                                    << "";
    QTest::newRow("without name") << QByteArray(R"({"aiType":"Object"})") << "M" << QStringList() << ""
                                  << ""
                                  << ""
                                  << "";
    QTest::newRow("empty name") << QByteArray(R"({"aiProjectName":"","aiType":"Object"})") << "M"
                                << QStringList() << ""
                                << ""
                                << ""
                                << "Object";
    QTest::newRow("unparsable") << QByteArray(R"({"aiProjectName":"Glass","aiType":"Object")") << "M"
                                << QStringList() << ""
                                << ""
                                << ""
                                << "";
    QTest::newRow("not an object") << QByteArray(R"(["Glass","Object"])") << "M" << QStringList() << ""
                                   << ""
                                   << ""
                                   << "";
    QTest::newRow("name leaving the workspace")
        << QByteArray(R"({"aiProjectName":"../outside","aiType":"Object"})") << "M" << QStringList() << ""
        << ""
        << ""
        << "";
    QTest::newRow("name with a colon")
        << QByteArray(R"({"aiProjectName":"a:b","aiType":"Object"})") << "M" << QStringList() << ""
        << ""
        << ""
        << "";
    // A line break would add entries of its own to Config.ini.
    QTest::newRow("path with a line break")
        << QByteArray(
               R"({"toolDataPath":"/img\r\n[Log]\r\nLevel=0","aiProjectName":"Glass","aiType":"Object"})")
        << "W" << QStringList{"Glass:2"} << "Glass"
        << ""
        << "Glass"
        << "Object";
}

void tst_Startup::startupJson()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, turns);
    QFETCH(QStringList, projects);
    QFETCH(QString, openName);
    QFETCH(QString, loadImgPath);
    QFETCH(QString, project);
    QFETCH(QString, aiType);

    if (!json.isEmpty())
        WriteFile(Root() + "/Startup.json", json);
    QCOMPARE(MakeStartup()->Start(), 0);

    QString windows;
    for (const Turn& turn : m_turns)
        windows += turn.window;
    QCOMPARE(windows, turns);
    QCOMPARE(m_turns.first().projects, projects);
    QCOMPARE(m_turns.first().openName, openName);
    QCOMPARE(Config("LoadImgPath"), loadImgPath);
    QCOMPARE(Config("Project"), project);
    QCOMPARE(Config("aiType"), aiType);
    QCOMPARE(Config("DatasPath"), Root() + "/ws");
    QCOMPARE(
        QString::fromStdString(comlib::IniFile::ReadString("Log", "Level", "", ConfigPath().toStdString())),
        QString());
    // The file is only read.
    QCOMPARE(QFile::exists(Root() + "/Startup.json"), !json.isEmpty());
    QVERIFY(!QFile::exists(Root() + "/outside"));
    QVERIFY(NexilIns().expired());
}

void tst_Startup::sameFileOpensSameProject()
{
    WriteFile(Root() + "/Startup.json", R"({"aiProjectName":"Wafer","aiType":"Object"})");
    QCOMPARE(MakeStartup()->Start(), 0);
    QCOMPARE(MakeStartup()->Start(), 0);
    // A name that exists is opened whatever the type says.
    WriteFile(Root() + "/Startup.json", R"({"aiProjectName":"Wafer","aiType":"Segment"})");
    QCOMPARE(MakeStartup()->Start(), 0);

    QCOMPARE(m_turns.size(), 3);
    for (const Turn& turn : m_turns)
    {
        QCOMPARE(turn.window, QChar('W'));
        QCOMPARE(turn.projects, QStringList{"Wafer:2"});
        QCOMPARE(turn.openId, m_turns.first().openId);
    }
    QVERIFY(!m_turns.first().openId.isEmpty());
}

void tst_Startup::blockedProjectFolderStartsManager()
{
    QVERIFY(QDir(Root()).mkpath("ws"));
    WriteFile(Root() + "/ws/Wafer", "a file where the project's folder belongs");
    WriteFile(Root() + "/Startup.json", R"({"aiProjectName":"Wafer","aiType":"Object"})");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Startup.json: the project Wafer did not open"));
    QCOMPARE(MakeStartup()->Start(), 0);
    QCOMPARE(m_turns.size(), 1);
    QCOMPARE(m_turns.first().window, QChar('M'));
}

void tst_Startup::configKeysEmptiedOnEveryStart()
{
    for (const char* key : {"Project", "LoadImgPath", "aiType"})
        comlib::IniFile::WriteString("Config", key, "left over", ConfigPath().toStdString());
    comlib::IniFile::WriteString("Log", "Level", "2", ConfigPath().toStdString());
    WriteFile(Root() + "/Startup.json", R"({"aiProjectName":"Wafer","aiType":"Object"})");

    QCOMPARE(MakeStartup()->Start(), 0);
    QCOMPARE(Config("LoadImgPath"), QString());
    QCOMPARE(Config("Project"), QString("Wafer"));

    QVERIFY(QFile::remove(Root() + "/Startup.json"));
    QCOMPARE(MakeStartup()->Start(), 0);
    QCOMPARE(Config("LoadImgPath"), QString());
    QCOMPARE(Config("Project"), QString());
    QCOMPARE(Config("aiType"), QString());
    // Other entries stay.
    QCOMPARE(Config("DatasPath"), Root() + "/ws");
    QCOMPARE(
        QString::fromStdString(comlib::IniFile::ReadString("Log", "Level", "", ConfigPath().toStdString())),
        QString("2"));
}

void tst_Startup::loopTurns_data()
{
    QTest::addColumn<bool>("directMode");
    QTest::addColumn<QVector<int>>("managerResults");
    QTest::addColumn<int>("mainResult");
    QTest::addColumn<QString>("turns");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("manager closed at once") << false << QVector<int>{0} << 0 << "M" << 0;
    QTest::newRow("two projects in turn") << false << QVector<int>{1, 1, 0} << 5 << "MWMWM" << 0;
    QTest::newRow("other result ends the loop") << false << QVector<int>{1, 2} << 0 << "MWM" << 2;
    QTest::newRow("direct mode") << true << QVector<int>{1} << 3 << "W" << 3;
}

void tst_Startup::loopTurns()
{
    QFETCH(bool, directMode);
    QFETCH(QVector<int>, managerResults);
    QFETCH(int, mainResult);
    QFETCH(QString, turns);
    QFETCH(int, exitCode);

    Startup startup(Root(), Root() + "/bin");
    QString seen;
    int next = 0;
    startup.SetProjectManagerRunner(
        [&]
        {
            seen += 'M';
            return next < managerResults.size() ? managerResults[next++] : 0;
        });
    startup.SetMainWindowRunner(
        [&]
        {
            seen += 'W';
            return mainResult;
        });
    QCOMPARE(startup.RunLoop(directMode), exitCode);
    QCOMPARE(seen, turns);
}

void tst_Startup::workspaceCannotBeCreated()
{
    // A file stands where a folder of the workspace path has to be.
    WriteFile(Root() + "/blocker", "x");
    const QString workspace = Root() + "/blocker/ws";
    comlib::IniFile::WriteString("Config", "DatasPath", workspace.toStdString(), ConfigPath().toStdString());

    MsgWndProbe probe;
    QCOMPARE(MakeStartup()->Start(), 1);

    QVERIFY(m_turns.isEmpty());
    QVERIFY(NexilIns().expired());
    QCOMPARE(probe.Messages().size(), 1);
    QCOMPARE(probe.Messages().first().title, QString("错误"));
    QCOMPARE(probe.Messages().first().kind, int(NOTIFY_ERROR));
    QVERIFY2(probe.Messages().first().text.contains(workspace), qPrintable(probe.Messages().first().text));
}

void tst_Startup::installRecord()
{
    QSettings record(QSettings::NativeFormat, QSettings::UserScope, "QARNO", "VELTA");
    QVERIFY2(record.fileName().startsWith(QDir::homePath() + "/"), qPrintable(record.fileName()));
    record.clear();
    record.sync();
    QCOMPARE(MakeStartup()->Start(), 0);
    record.sync();
    QCOMPARE(record.value("Path").toString(), Root());
    QCOMPARE(record.value("ProjectPath").toString(), Root() + "/ws");
    QCOMPARE(record.value("Startup").toString(), Root() + "/bin/Lumora.exe");
    QVERIFY(record.contains("Version"));
}

void tst_Startup::activateRestoresTheTurnWindow()
{
    QWidget other;
    other.setWindowTitle("工程管理");
    other.show();
    // The project manager keeps its own title; the hand-over finds it all the same.
    ProMngWid window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.showMinimized();
    QTRY_VERIFY(window.isMinimized());
    other.showMinimized();

    Startup::ActivateMainWindow();
    QTRY_VERIFY(!window.isMinimized());
    QVERIFY(window.isVisible());
    QVERIFY(other.isMinimized());
}

void tst_Startup::lockFailureIsShown()
{
    const QString file = "/run/user/1000/qarno.velta.Mutex.lock";
    const QString reason = "it cannot be created: Permission denied";
    MsgWndProbe probe;
    QTest::ignoreMessage(QtCriticalMsg, qPrintable("Single instance lock " + file + " failed: " + reason));
    QVERIFY(Startup::ReportLockFailure(file, reason) != 0);
    QCOMPARE(probe.Messages().size(), 1);
    QCOMPARE(probe.Messages().first().title, QString("错误"));
    QCOMPARE(probe.Messages().first().text,
             "无法确认程序是否已在运行，程序将退出。\n锁文件：" + file + "\n原因：" + reason);
}

void tst_Startup::unusableCatalogueIsShown_data()
{
    QTest::addColumn<bool>("folder"); // a folder stands where AIPrj.db belongs, else garbage bytes
    QTest::addColumn<QString>("reason");
    QTest::newRow("garbage bytes") << false << "file is not a database";
    QTest::newRow("folder in its place") << true << "";
}

void tst_Startup::unusableCatalogueIsShown()
{
    QFETCH(bool, folder);
    QFETCH(QString, reason);

    const QString file = Root() + "/ws/AIPrj.db";
    QVERIFY(QDir(Root()).mkpath(folder ? "ws/AIPrj.db" : "ws"));
    if (!folder)
        WriteFile(file, QByteArray(2048, 'z'));
    // Even a Startup.json cannot add its project to a catalogue that is not open.
    WriteFile(Root() + "/Startup.json", R"({"aiProjectName":"Wafer","aiType":"Object"})");

    MsgWndProbe probe;
    QCOMPARE(MakeStartup()->Start(), 0);

    QCOMPARE(probe.Messages().size(), 1);
    const MsgWndProbe::Message message = probe.Messages().first();
    QCOMPARE(message.title, QString("错误"));
    QVERIFY2(message.text.startsWith("工程列表无法打开：" + file + "\n原因："), qPrintable(message.text));
    QVERIFY2(message.text.contains(reason), qPrintable(message.text));
    // The project manager follows, with nothing in it.
    QCOMPARE(m_turns.size(), 1);
    QCOMPARE(m_turns.first().window, QChar('M'));
    QVERIFY(m_turns.first().projects.isEmpty());
    QCOMPARE(QFileInfo(file).isDir(), folder);
}

void tst_Startup::unreadableConfigIsKept()
{
    // Saved by an editor as UTF-16: nothing in it can be read.
    const QString text = "\uFEFF[Config]\r\nDatasPath=" + Root() + "/ws\r\n";
    const QByteArray bytes(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    WriteFile(ConfigPath(), bytes);
    WriteFile(Root() + "/Startup.json",
              R"({"toolDataPath":"/data/img","aiProjectName":"Wafer","aiType":"Object"})");
    // The default workspace lies in the home folder.
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(Root() + "/home"));

    MsgWndProbe probe;
    const int result = MakeStartup()->Start();
    qputenv("HOME", home);

    QCOMPARE(result, 0);
    QCOMPARE(probe.Messages().size(), 1);
    QCOMPARE(probe.Messages().first().title, QString("提示"));
    QVERIFY2(probe.Messages().first().text.contains(ConfigPath()), qPrintable(probe.Messages().first().text));
    QCOMPARE(m_turns.size(), 1);
    QVERIFY(QFileInfo(Root() + "/home/AIProject/AIPrj.db").isFile());
    QFile config(ConfigPath());
    QVERIFY(config.open(QIODevice::ReadOnly));
    QCOMPARE(config.readAll(), bytes);
}

void tst_Startup::commandLine()
{
    const CommandLine version({"Lumora", "--version"});
    QVERIFY(version.LeavesNow());
    QCOMPARE(version.ExitCode(), 0);
    QCOMPARE(version.Output(), QString("Lumora %1\n").arg(LUMORA_VERSION));
    const CommandLine help({"Lumora", "-platform", "offscreen", "-h"});
    QVERIFY(help.LeavesNow());
    QVERIFY(help.Output().contains("--self-check"));
    // Qt's own options and a desktop's file arguments start the program as usual.
    const CommandLine check({"Lumora", "-platform", "offscreen", "--self-check", "/tmp/x.png"});
    QVERIFY(!check.LeavesNow());
    QVERIFY(check.SelfCheck());
    QVERIFY(!CommandLine({"Lumora", "-style", "fusion"}).SelfCheck());
}

void tst_Startup::selfCheckReports()
{
    FakeTrainService service;
    QVERIFY(service.Listen());
    service.Script("/", {FakeTrainService::Json(R"({"status":"failed"})")});
    qputenv(comlib::ServiceClient::kUrlVariable, service.BaseUrl().toUtf8());
    QString text;
    QTextStream out(&text);
    const int found = Startup(Root(), Root() + "/bin").SelfCheck(out);
    out.flush();
    QCOMPARE(found, 0);
    QCOMPARE(text, QString("Root folder: %1\nWorkspace: %1/ws\nService: running\n").arg(Root()));
    QVERIFY(QFileInfo(Root() + "/ws/AIPrj.db").isFile());

    // Nothing answers and no service program lies beside the program.
    qputenv(comlib::ServiceClient::kUrlVariable, "http://127.0.0.1:1");
    text.clear();
    const int missing = Startup(Root(), Root() + "/bin").SelfCheck(out);
    out.flush();
    qunsetenv(comlib::ServiceClient::kUrlVariable);
    QCOMPARE(missing, 1);
    QVERIFY2(text.contains("Service: not available: ") && text.contains(Root() + "/bin/TrainService"),
             qPrintable(text));
}

void tst_Startup::serviceStateIsShownAndAskedAgain()
{
    auto service = std::make_unique<FakeTrainService>();
    QVERIFY(service->Listen());
    service->Script("/", {FakeTrainService::Json(R"({"status":"failed"})")});
    qputenv(comlib::ServiceClient::kUrlVariable, service->BaseUrl().toUtf8());
    comlib::ServiceStarter starter(Root() + "/bin/TrainService", Root() + "/Log");
    qunsetenv(comlib::ServiceClient::kUrlVariable);
    QWidget page;
    auto* label = new ServiceStateLabel(&starter, &page);
    QCOMPARE(label->text(), QString("训练服务：正在检查"));
    page.show();
    QTRY_COMPARE(label->text(), QString("训练服务：运行中"));
    QVERIFY(label->toolTip().isEmpty());

    // The service has gone when the page comes into view again.
    service.reset();
    page.hide();
    page.show();
    QTRY_VERIFY2(label->text().startsWith("训练服务：不可用"), qPrintable(label->text()));
    QVERIFY2(label->toolTip().contains(Root() + "/bin/TrainService"), qPrintable(label->toolTip()));
}

QTEST_MAIN(tst_Startup)
#include "tst_Startup.moc"
