#include "CallbackLog.h"
#include "ProjectRecord.h"
#include "SqlRows.h"

#include "Nexil/Nexil.h"
#include "Nexil/PrjMng.h"
#include "Nexil/SqliteConnection.h"

#include <QFile>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

} // namespace

// The inner classes of the core library: signals, connections and the shutdown of the workers.
class tst_NexilCore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void delProAlwaysSignals();
    void shutdownStoresQueuedChanges();
    void catalogueConnectionLifetime();
    void projectConnectionLifetime();
    void sqliteOpenAndClose_data();
    void sqliteOpenAndClose();
    void workerReportsReachProject();

private:
    std::unique_ptr<QTemporaryDir> m_ws;
};

void tst_NexilCore::init()
{
    m_ws = std::make_unique<QTemporaryDir>();
    QVERIFY(m_ws->isValid());
}

void tst_NexilCore::cleanup()
{
    m_ws.reset();
}

void tst_NexilCore::delProAlwaysSignals()
{
    Nexil core;
    QVERIFY(core.Init(m_ws->path()));
    QVERIFY(core.AddPro(MakeInfo("A", "a")));
    QSignalSpy spy(&core, &Nexil::Signal_DelPro);
    const QString json = m_ws->path() + "/AIProject.json";
    QVERIFY(QFile::remove(json));

    core.DelPro("unknown");
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QString("unknown"));
    // Nothing was removed, so the export is not rewritten.
    QVERIFY(!QFile::exists(json));

    core.DelPro("A");
    QCOMPARE(spy.count(), 2);
    QVERIFY(QFile::exists(json));
}

void tst_NexilCore::shutdownStoresQueuedChanges()
{
    const int count = 300;
    {
        Nexil core;
        QVERIFY(core.Init(m_ws->path()));
        for (int i = 0; i < count; ++i)
        {
            auto spInfo = MakeInfo(QString("P%1").arg(i, 4, 10, QChar('0')), "p");
            QVERIFY(core.AddPro(spInfo));
            // The worker stores the record as it was handed over, not as the caller changes it later.
            spInfo->tips = "changed afterwards";
        }
    }
    const auto rows = SqlRows::Select(m_ws->path() + "/AIPrj.db", "select tips from tbl_ai_project");
    QCOMPARE(rows.size(), count);
    for (const auto& row : rows)
    {
        QVERIFY(row["tips"].toString().isEmpty());
    }
}

void tst_NexilCore::catalogueConnectionLifetime()
{
    {
        Nexil core;
        QVERIFY(!QSqlDatabase::contains("sql_ai_project_database"));
        QVERIFY(core.Init(m_ws->path()));
        QVERIFY(QSqlDatabase::contains("sql_ai_project_database"));

        // A second core object cannot take the live catalogue's connection over.
        QTemporaryDir other;
        Nexil second;
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression("database failed\\. The connection is in use"));
        QVERIFY(!second.Init(other.path()));
        QVERIFY(QSqlDatabase::contains("sql_ai_project_database"));
        QVERIFY(core.AddPro(MakeInfo("A", "a")));
    }
    QVERIFY(!QSqlDatabase::contains("sql_ai_project_database"));
    QCOMPARE(SqlRows::Select(m_ws->path() + "/AIPrj.db", "select id from tbl_ai_project").size(), 1);
}

void tst_NexilCore::projectConnectionLifetime()
{
    {
        PrjMng prj(m_ws->path(), MakeInfo("A", "a"));
        QTRY_VERIFY(QSqlDatabase::contains("sql_project_data_database"));
    }
    QVERIFY(!QSqlDatabase::contains("sql_project_data_database"));
    QVERIFY(QFile::exists(m_ws->path() + "/a/PrjData.db"));
}

void tst_NexilCore::sqliteOpenAndClose_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("nameInUse");
    QTest::addColumn<QString>("failure");

    QTest::newRow("opens") << "data.db" << false << QString();
    QTest::newRow("name in use") << "data.db" << true
                                 << "^Open .*/data\\.db database failed\\. The connection is in use\\.$";
    QTest::newRow("folder missing") << "missing/data.db" << false
                                    << "^Open .*/missing/data\\.db database failed\\. \\S";
}

void tst_NexilCore::sqliteOpenAndClose()
{
    QFETCH(QString, file);
    QFETCH(bool, nameInUse);
    QFETCH(QString, failure);
    const QString name = "tst_sqlite_connection";
    const QString path = m_ws->path() + "/" + file;

    QSqlDatabase other;
    if (nameInUse)
        other = QSqlDatabase::addDatabase("QSQLITE", name);
    QSqlDatabase db;
    if (!failure.isEmpty())
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(failure));
    QCOMPARE(OpenSqlite(db, name, path, "The connection is in use."), failure.isEmpty());
    QCOMPARE(db.isOpen(), failure.isEmpty());
    QCOMPARE(QFile::exists(path), failure.isEmpty());
    // A refused name is left to its owner.
    QCOMPARE(db.connectionName(), nameInUse ? QString() : name);
    QVERIFY(QSqlDatabase::contains(name));

    CloseSqlite(db);
    QVERIFY(!db.isValid());
    QCOMPARE(QSqlDatabase::contains(name), nameInUse);
    CloseSqlite(other);
    QVERIFY(!QSqlDatabase::contains(name));
}

void tst_NexilCore::workerReportsReachProject()
{
    PrjMng prj(m_ws->path(), MakeInfo("A", "a"));
    QSignalSpy spyAdd(&prj, &PrjMng::Signal_AddMarkType);
    prj.Slot_MarkTypeInfo("scratch");
    prj.Slot_MarkTypeInfo("dent");
    prj.Slot_MarkTypeInfo("scratch");
    QCOMPARE(prj.MarkTypes(), QStringList({"scratch", "dent"}));
    // Categories that come from the database are not sent back to it.
    QCOMPARE(spyAdd.count(), 0);

    prj.Slot_ConfigInfo("LastFilePath", "/first");
    prj.Slot_ConfigInfo("LastFilePath", "/second");
    QCOMPARE(prj.GetLastFilePath(), QString("/second"));

    QSignalSpy spyConfig(&prj, &PrjMng::Signal_ConfigInfo);
    prj.SetLastFilePath("/third");
    QCOMPARE(spyConfig.count(), 1);
    QCOMPARE(spyConfig.at(0), QVariantList({"LastFilePath", "/third"}));

    // Results without a callback are dropped; with one they reach it with the user data.
    prj.Slot_ModMarkImgRlt("X", true, "dropped");
    CallbackLog log;
    prj.SetSaveCallback(&CallbackLog::Record, &log);
    prj.Slot_ModMarkImgRlt("ID1", true, QString::fromUtf8("保存成功！"));
    QCOMPARE(log.ids, QStringList({"ID1"}));
    QCOMPARE(log.results, QList<bool>({true}));
    QCOMPARE(log.messages, QStringList({QString::fromUtf8("保存成功！")}));
}

QTEST_GUILESS_MAIN(tst_NexilCore)
#include "tst_NexilCore.moc"
