#include "ComLib/Log/Log.h"

#include <spdlog/spdlog.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <iostream>
#include <sstream>

namespace
{

// The file a logger created today. The check may run just after midnight, so the day before
// counts too.
QString TodayLog(const QString& dir, const QString& prefix)
{
    const QDate today = QDate::currentDate();
    for (const QDate& day : {today, today.addDays(-1)})
    {
        const QString path = dir + "/" + prefix + "_" + day.toString("yyyy-MM-dd") + ".log";
        if (QFile::exists(path))
            return path;
    }
    return dir + "/" + prefix + "_" + today.toString("yyyy-MM-dd") + ".log";
}

QString ReadText(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

void Touch(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("x");
}

// Captures what std::cout receives while alive.
class CoutCapture
{
public:
    CoutCapture() : m_old(std::cout.rdbuf(m_buffer.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(m_old); }
    std::string Text() const { return m_buffer.str(); }

private:
    std::ostringstream m_buffer;
    std::streambuf* m_old;
};

} // namespace

class TestLog : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void levelFiltersQtMessages_data();
    void levelFiltersQtMessages();
    void messageLayoutCutsAtLastBackslash();
    void bannerNamesVersionAndConfiguredLevel();
    void namedLoggerIsCreatedOnce();
    void cleanOldLogsKeepsThreeNewestDates();
    void cleanOldLogsWithoutPrefix();
};

void TestLog::cleanup()
{
    qInstallMessageHandler(nullptr);
    spdlog::drop_all();
}

void TestLog::levelFiltersQtMessages_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("debug");
    QTest::addColumn<bool>("info");
    QTest::addColumn<bool>("warning");
    QTest::addColumn<bool>("critical");
    QTest::newRow("0 debug") << 0 << true << true << true << true;
    QTest::newRow("1 info") << 1 << false << true << true << true;
    QTest::newRow("5 error") << 5 << false << false << false << true;
}

void TestLog::levelFiltersQtMessages()
{
    QFETCH(int, level);
    QTemporaryDir dir;
    comlib::Log::CreateLoggerIn(dir.path().toStdString(), "", level, false);
    qInstallMessageHandler(comlib::Log::customLogMessageHandler);
    qDebug("debug line");
    qInfo("info line");
    qWarning("warning line");
    qCritical("critical line");
    qInstallMessageHandler(nullptr);
    spdlog::default_logger()->flush();

    const QString text = ReadText(TodayLog(dir.path(), "Tarvik"));
    QTEST(text.contains("debug line"), "debug");
    QTEST(text.contains("[info] [") && text.contains("info line"), "info");
    QTEST(text.contains("[warning] [") && text.contains("warning line"), "warning");
    QTEST(text.contains("[critical] [") && text.contains("critical line"), "critical");
}

void TestLog::messageLayoutCutsAtLastBackslash()
{
    QTemporaryDir dir;
    comlib::Log::CreateLoggerIn(dir.path().toStdString(), "", 0, false);
    const QMessageLogContext windowsPath("C:\\src\\widget", 12, "f", "default");
    comlib::Log::customLogMessageHandler(QtWarningMsg, windowsPath, "x");
    const QMessageLogContext unixPath("/src/a/widget.cpp", 7, "f", "default");
    comlib::Log::customLogMessageHandler(QtInfoMsg, unixPath, QStringLiteral("{braces} 中文"));
    const QMessageLogContext none;
    comlib::Log::customLogMessageHandler(QtDebugMsg, none, "bare");
    spdlog::default_logger()->flush();

    const QStringList lines = ReadText(TodayLog(dir.path(), "Tarvik")).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines[0].endsWith("[warning] [widget:12] x"), qPrintable(lines[0]));
    QVERIFY2(lines[1].endsWith("[info] [/src/a/widget.cpp:7] {braces} 中文"), qPrintable(lines[1]));
    QVERIFY2(lines[2].endsWith("[debug] [:0] bare"), qPrintable(lines[2]));
}

void TestLog::bannerNamesVersionAndConfiguredLevel()
{
    QTemporaryDir dir;
    comlib::Log::CreateLoggerIn(dir.path().toStdString(), "", 1, true);
    const QStringList lines = ReadText(TodayLog(dir.path(), "Tarvik")).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].endsWith("[Tarvik] [info] **************************************      开始       "
                              "*****************************"));
    QVERIFY(lines[1].endsWith(QStringLiteral("软件版本：") + LUMORA_VERSION));
    QVERIFY(lines[2].endsWith(QStringLiteral("日志等级：1")));
    QCOMPARE(QString::fromStdString(comlib::Log::ProductVersion()), QStringLiteral(LUMORA_VERSION));
    QCOMPARE(spdlog::default_logger()->name(), std::string("Tarvik"));
    spdlog::drop_all();

    // Any other level maps to error, which filters the info-level banner out.
    QTemporaryDir quiet;
    comlib::Log::CreateLoggerIn(quiet.path().toStdString(), "", 7, true);
    QCOMPARE(spdlog::default_logger()->level(), spdlog::level::err);
    QVERIFY(QFile::exists(TodayLog(quiet.path(), "Tarvik")));
    QVERIFY(ReadText(TodayLog(quiet.path(), "Tarvik")).isEmpty());
}

void TestLog::namedLoggerIsCreatedOnce()
{
    QTemporaryDir dir;
    comlib::Log::CreateLoggerIn(dir.path().toStdString(), "", 1, false);
    comlib::Log::CreateLoggerIn(dir.path().toStdString(), "Operater", 1, true);
    comlib::Log::CreateLoggerIn(dir.path().toStdString(), "Operater", 1, true);
    auto op = spdlog::get("Operater");
    QVERIFY(op);
    op->info("删除{0}勾选图片", 3);
    const QString text = ReadText(TodayLog(dir.path(), "Operater"));
    QCOMPARE(text.count(QStringLiteral("开始")), 1);
    QVERIFY(text.contains(QStringLiteral("[Operater] [info] 删除3勾选图片")));
    // A named logger never replaces the default one.
    QCOMPARE(spdlog::default_logger()->name(), std::string("Tarvik"));
}

void TestLog::cleanOldLogsKeepsThreeNewestDates()
{
    QTemporaryDir dir;
    const QString d = dir.path();
    // Dates before and after any clock's today, which makes the third newest date.
    const QStringList old = {"Operater_1971-01-01.log", "Operater_1971-1-2.log", "Operater_1971-01-02.3.log"};
    const QStringList kept = {"Operater_9998-12-30.log", "Operater_9998-12-30.1.log",
                              "Operater_9999-03-01.2.log"};
    const QStringList untouched = {"Tarvik_2019-01-01.log", "Operater_2020-01-01.txt",
                                   "Operater_2020-13-45.log", "xOperater_2020-01-01.log"};
    for (const QStringList* list : {&old, &kept, &untouched})
        for (const QString& name : *list)
            Touch(d + "/" + name);
    QDir(d).mkdir("Operater_2018-01-01.log");

    std::string printed;
    {
        CoutCapture capture;
        comlib::Log::CreateLoggerIn(d.toStdString(), "Operater", 1, true);
        printed = capture.Text();
    }

    QVERIFY(QFile::exists(TodayLog(d, "Operater")));
    for (const QString& name : kept + untouched)
        QVERIFY2(QFile::exists(d + "/" + name), qPrintable(name));
    for (const QString& name : old)
        QVERIFY2(!QFile::exists(d + "/" + name), qPrintable(name));
    QVERIFY(QFileInfo(d + "/Operater_2018-01-01.log").isDir());

    const QString out = QString::fromStdString(printed);
    QCOMPARE(out.count("Deleted old log: "), 3);
    QVERIFY(out.contains("Deleted old log: \"Operater_1971-1-2.log\""));
}

void TestLog::cleanOldLogsWithoutPrefix()
{
    QTemporaryDir dir;
    Touch(dir.filePath("_2020-01-01.log"));
    comlib::Log::CleanOldLogs(dir.path().toStdString(), "", 0);
    QVERIFY(QFile::exists(dir.filePath("_2020-01-01.log")));
    // A missing folder is reported, not raised.
    comlib::Log::CleanOldLogs(dir.filePath("missing").toStdString(), "P", 0);
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_Log.moc"
