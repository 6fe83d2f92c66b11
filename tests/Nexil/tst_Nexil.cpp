#include "MessageCapture.h"
#include "ProjectRecord.h"
#include "SqlRows.h"

#include "Nexil/NexilApi.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace
{

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A catalogue as another program may have left it: one project "P" of the given name.
void WriteCatalogue(const QString& dbFile, const QString& name)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "tst_catalogue_writer");
        db.setDatabaseName(dbFile);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(
            query.exec("CREATE TABLE tbl_ai_project (id VARCHAR(64) PRIMARY KEY, name VARCHAR(256), type "
                       "INTEGER, tips TEXT, createTime VARCHAR(64), lastUsedTime VARCHAR(64), col1 INTEGER, "
                       "col2 INTEGER, col3 VARCHAR(256), col4 VARCHAR(256), col5 TEXT, json TEXT)"));
        QVERIFY(query.prepare("INSERT INTO tbl_ai_project (id, name, type) VALUES ('P', :name, 1)"));
        query.bindValue(":name", name);
        QVERIFY(query.exec());
    }
    QSqlDatabase::removeDatabase("tst_catalogue_writer");
}

} // namespace

// The core library as the program sees it: the entry points of the shared library and its interfaces.
class tst_Nexil : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void entryPoints();
    void initFreshWorkspace();
    void initSecondRun();
    void initRefused_data();
    void initRefused();
    void unusableCatalogue_data();
    void unusableCatalogue();
    void storedNames_data();
    void storedNames();
    void changesReachDatabase();
    void duplicateIdRefused();
    void proIdByName_data();
    void proIdByName();
    void projectJson_data();
    void projectJson();
    void openUnknownLeavesNoProject();
    void openCreatesProjectDatabase();
    void openProjectCategories();

private:
    std::shared_ptr<INexil> InitCore();
    QString DbFile() const { return m_ws->path() + "/AIPrj.db"; }
    QString JsonFile() const { return m_ws->path() + "/AIProject.json"; }

    std::unique_ptr<QTemporaryDir> m_ws;
};

void tst_Nexil::init()
{
    m_ws = std::make_unique<QTemporaryDir>();
    QVERIFY(m_ws->isValid());
}

void tst_Nexil::cleanup()
{
    ReleaseNexil();
    m_ws.reset();
}

std::shared_ptr<INexil> tst_Nexil::InitCore()
{
    CreateNexil();
    auto spCore = NexilIns().lock();
    if (spCore && !spCore->Init(m_ws->path()))
    {
        return nullptr;
    }
    return spCore;
}

void tst_Nexil::entryPoints()
{
    QVERIFY(NexilIns().expired());
    QVERIFY(PrjIns().expired());

    CreateNexil();
    std::weak_ptr<INexil> wpFirst = NexilIns();
    QVERIFY(!wpFirst.expired());
    QVERIFY(PrjIns().expired());

    // A second call replaces the object; nobody else holds the first one, so it is gone.
    CreateNexil();
    QVERIFY(wpFirst.expired());
    auto spCore = NexilIns().lock();
    QVERIFY(spCore);
    QVERIFY(spCore->Init(m_ws->path()));
    QVERIFY(spCore->AddPro(MakeInfo("P1", "one")));
    spCore->OpenPro("P1");
    std::weak_ptr<IPrjCore> wpPrj = PrjIns();
    QVERIFY(!wpPrj.expired());
    spCore.reset();

    ReleaseNexil();
    QVERIFY(NexilIns().expired());
    QVERIFY(PrjIns().expired());
    QVERIFY(wpPrj.expired());
}

void tst_Nexil::initFreshWorkspace()
{
    MessageCapture capture;
    auto spCore = InitCore();
    QVERIFY(spCore);
    QVERIFY(QFile::exists(DbFile()));
    QVERIFY(spCore->ProList().isEmpty());
    QCOMPARE(ReadFile(JsonFile()), QByteArray(R"({"projects":[]})"));
    spCore.reset();
    ReleaseNexil();

    QCOMPARE(capture.Problems(), QStringList());
    QCOMPARE(SqlRows::Tables(DbFile()), QStringList({"tbl_ai_config", "tbl_ai_project"}));
    QCOMPARE(SqlRows::Columns(DbFile(), "tbl_ai_project"),
             QStringList({"id", "name", "type", "tips", "createTime", "lastUsedTime", "col1", "col2", "col3",
                          "col4", "col5", "json"}));
    QCOMPARE(SqlRows::Columns(DbFile(), "tbl_ai_config"), QStringList({"sName", "sValue"}));
}

void tst_Nexil::initSecondRun()
{
    auto spCore = InitCore();
    QVERIFY(spCore);
    QVERIFY(spCore->AddPro(MakeInfo("B", "second", 2, "notes b")));
    QVERIFY(spCore->AddPro(MakeInfo("A", "first", 1, "notes a")));
    spCore.reset();
    ReleaseNexil();
    QVERIFY(QFile::remove(JsonFile()));

    MessageCapture capture;
    spCore = InitCore();
    QVERIFY(spCore);
    const auto list = spCore->ProList();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[0]->id, QString("A"));
    QCOMPARE(list[0]->name, QString("first"));
    QCOMPARE(list[0]->type, 1);
    QCOMPARE(list[0]->tips, QString("notes a"));
    QCOMPARE(list[0]->createTime, QString("2024-01-02 03:04:05"));
    QCOMPARE(list[0]->lastUsedTime, QString("2024-01-02 03:04:05"));
    QCOMPARE(list[1]->id, QString("B"));
    QCOMPARE(list[1]->type, 2);
    QVERIFY(list[1]->status.isEmpty());
    // Init rewrites the export from the database.
    QCOMPARE(ReadFile(JsonFile()),
             QByteArray(R"({"projects":[{"name":"first","notes":"notes a","type":"Segment"},)"
                        R"({"name":"second","notes":"notes b","type":"Object"}]})"));
    QCOMPARE(capture.Problems(), QStringList());
}

void tst_Nexil::initRefused_data()
{
    QTest::addColumn<QString>("sub");
    QTest::newRow("missing folder") << "missing/deeper";
    QTest::newRow("file instead of folder") << "plain.txt";
}

void tst_Nexil::initRefused()
{
    QFETCH(QString, sub);
    QFile plain(m_ws->filePath("plain.txt"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();

    const QString bad = m_ws->filePath(sub);
    CreateNexil();
    auto spCore = NexilIns().lock();
    QTest::ignoreMessage(QtCriticalMsg,
                         QRegularExpression("^Open " + QRegularExpression::escape(bad + "/AIPrj.db") +
                                            " database failed\\. "));
    QVERIFY(!spCore->Init(bad));
    QVERIFY(!spCore->AddPro(MakeInfo("P", "p")));
    QVERIFY(!QFile::exists(bad + "/AIProject.json"));

    // The failed attempt leaves nothing behind that blocks a good workspace.
    QVERIFY(spCore->Init(m_ws->path()));
    QVERIFY(spCore->AddPro(MakeInfo("P", "p")));
    // A catalogue is opened once per core object.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Init: the catalogue of .* is open already\\.$"));
    QVERIFY(!spCore->Init(m_ws->path()));
    QCOMPARE(spCore->ProList().size(), 1);
}

void tst_Nexil::unusableCatalogue_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("reason"); // pattern of LastError

    QTest::newRow("garbage bytes") << "garbage"
                                   << "not a database";
    QTest::newRow("folder in its place") << "folder"
                                         << ".";
    QTest::newRow("no read permission") << "unreadable"
                                        << ".";
    QTest::newRow("read-only file") << "read-only file"
                                    << "^the file is read-only$";
    QTest::newRow("read-only workspace") << "read-only folder"
                                         << "^the workspace folder is read-only$";
}

// A catalogue that cannot be read or written is left as it is and says why; the core stays closed.
void tst_Nexil::unusableCatalogue()
{
    QFETCH(QString, setup);
    QFETCH(QString, reason);

    const bool permissions = setup.startsWith("unreadable") || setup.startsWith("read-only");
    if (permissions && ::geteuid() == 0)
        QSKIP("Permissions do not bind the superuser.");
    if (setup == "garbage" || setup == "unreadable")
        WriteFile(DbFile(), QByteArray(4096, '\x5a'));
    else if (setup == "folder")
        QVERIFY(QDir(m_ws->path()).mkpath("AIPrj.db/inside"));
    else
        WriteCatalogue(DbFile(), "kept");
    const QByteArray before = ReadFile(DbFile());
    if (setup == "unreadable")
        QVERIFY(QFile::setPermissions(DbFile(), QFileDevice::WriteOwner));
    else if (setup == "read-only file")
        QVERIFY(QFile::setPermissions(DbFile(), QFileDevice::ReadOwner));
    else if (setup == "read-only folder")
        QVERIFY(QFile::setPermissions(m_ws->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    CreateNexil();
    auto spCore = NexilIns().lock();
    const bool opened = spCore->Init(m_ws->path());
    const QString error = spCore->LastError();
    const bool added = spCore->AddPro(MakeInfo("N", "new"));
    const QString addError = spCore->LastError();
    spCore.reset();
    ReleaseNexil();
    QFile::setPermissions(m_ws->path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile::setPermissions(DbFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    QVERIFY(!opened);
    QVERIFY2(QRegularExpression(reason).match(error).hasMatch(), qPrintable(error));
    QVERIFY(!added);
    QVERIFY2(addError.contains("not open"), qPrintable(addError));
    QCOMPARE(ReadFile(DbFile()), before);
    QVERIFY(!QFile::exists(JsonFile()));
}

void tst_Nexil::storedNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("opens");

    QTest::newRow("plain") << "Wafer 2" << true;
    QTest::newRow("longest") << QString(85, QChar(0x6676)) << true;
    QTest::newRow("parent folder") << ".." << false;
    QTest::newRow("leads outside") << "../outside" << false;
    QTest::newRow("absolute") << "/tmp" << false;
    QTest::newRow("sub folder") << "a/b" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("too long") << QString(86, QChar(0x6676)) << false;
}

// Names read from AIPrj.db become folders only when they are safe folder names.
void tst_Nexil::storedNames()
{
    QFETCH(QString, name);
    QFETCH(bool, opens);

    // The workspace is a level down, so that "../outside" would land in the test's own folder.
    const QString ws = m_ws->filePath("ws");
    QVERIFY(QDir().mkpath(ws));
    WriteCatalogue(ws + "/AIPrj.db", name);
    CreateNexil();
    auto spCore = NexilIns().lock();
    QVERIFY(spCore->Init(ws));
    QCOMPARE(spCore->WorkspacePath(), ws);
    // Listed, so that the user can delete it.
    QCOMPARE(spCore->ProList().size(), 1);

    spCore->OpenPro("P");
    QCOMPARE(!PrjIns().expired(), opens);
    QCOMPARE(spCore->LastError().isEmpty(), opens);
    // A new record of that name is refused alike.
    QCOMPARE(spCore->AddPro(MakeInfo("Q", name)), opens);
    QCOMPARE(spCore->LastError().isEmpty(), opens);
    spCore.reset();
    ReleaseNexil();

    QCOMPARE(QDir(m_ws->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"ws"});
    const QStringList folders = QDir(ws).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(folders, opens ? QStringList{name} : QStringList());
}

void tst_Nexil::changesReachDatabase()
{
    auto spCore = InitCore();
    QVERIFY(spCore);
    QVERIFY(spCore->AddPro(MakeInfo("A1", "alpha", 1, "old notes")));
    QVERIFY(spCore->AddPro(MakeInfo("B2", "beta", 2)));

    auto spA = spCore->ProList().at(0);
    spA->name = "renamed";
    spA->type = 2;
    spA->tips = "new notes";
    spA->createTime = "2030-01-01 00:00:00";
    spA->lastUsedTime = "2025-05-06 07:08:09";
    QVERIFY(spCore->ModPro("A1"));
    QVERIFY(!spCore->ModPro("unknown"));
    spCore->DelPro("B2");
    spCore.reset();
    ReleaseNexil();

    const auto rows = SqlRows::Select(DbFile(), "select * from tbl_ai_project");
    QCOMPARE(rows.size(), 1);
    const QVariantMap& row = rows.first();
    QCOMPARE(row["id"].toString(), QString("A1"));
    // The name and the creation time are never updated.
    QCOMPARE(row["name"].toString(), QString("alpha"));
    QCOMPARE(row["createTime"].toString(), QString("2024-01-02 03:04:05"));
    QCOMPARE(row["type"].toInt(), 2);
    QCOMPARE(row["tips"].toString(), QString("new notes"));
    QCOMPARE(row["lastUsedTime"].toString(), QString("2025-05-06 07:08:09"));
    for (const char* reserved : {"col1", "col2", "col3", "col4", "col5", "json"})
    {
        QVERIFY2(row[reserved].isNull(), reserved);
    }
}

void tst_Nexil::duplicateIdRefused()
{
    auto spCore = InitCore();
    QVERIFY(spCore);
    auto spFirst = MakeInfo("ID", "first");
    QVERIFY(spCore->AddPro(spFirst));
    QVERIFY(!spCore->AddPro(MakeInfo("ID", "second", 2)));
    QVERIFY(!spCore->AddPro(nullptr));
    QCOMPARE(spCore->ProList(), QList<std::shared_ptr<pro::info>>({spFirst}));
    QCOMPARE(ReadFile(JsonFile()),
             QByteArray(R"({"projects":[{"name":"first","notes":"","type":"Segment"}]})"));
    spCore.reset();
    ReleaseNexil();

    const auto rows = SqlRows::Select(DbFile(), "select id, name, type from tbl_ai_project");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0]["name"].toString(), QString("first"));
    QCOMPARE(rows[0]["type"].toInt(), 1);
}

void tst_Nexil::proIdByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("id");
    QTest::newRow("equal names: smaller id") << "same"
                                             << "A";
    QTest::newRow("single") << "other"
                            << "C";
    QTest::newRow("other letter case") << "SAME"
                                       << "";
    QTest::newRow("unknown") << "none"
                             << "";
    QTest::newRow("empty") << ""
                           << "";
}

void tst_Nexil::proIdByName()
{
    QFETCH(QString, name);
    QFETCH(QString, id);
    auto spCore = InitCore();
    QVERIFY(spCore);
    QVERIFY(spCore->AddPro(MakeInfo("B", "same")));
    QVERIFY(spCore->AddPro(MakeInfo("C", "other")));
    QVERIFY(spCore->AddPro(MakeInfo("A", "same")));
    QCOMPARE(spCore->ProIdByName(name), id);
}

void tst_Nexil::projectJson_data()
{
    QTest::addColumn<QList<std::shared_ptr<pro::info>>>("records");
    QTest::addColumn<QString>("deleted");
    QTest::addColumn<QByteArray>("json");

    QTest::newRow("empty") << QList<std::shared_ptr<pro::info>>() << "" << QByteArray(R"({"projects":[]})");
    QTest::newRow("two in id order, UTF-8 and escapes")
        << QList<std::shared_ptr<pro::info>>(
               {MakeInfo("P2", "二号", 2, "line\n\"quoted\""), MakeInfo("P1", "一号", 1, "备注")})
        << ""
        << QByteArray(u8R"({"projects":[{"name":"一号","notes":"备注","type":"Segment"},)"
                      u8R"({"name":"二号","notes":"line\n\"quoted\"","type":"Object"}]})");
    QTest::newRow("unknown type, one deleted")
        << QList<std::shared_ptr<pro::info>>({MakeInfo("X", "x", 7), MakeInfo("Y", "y", 1)}) << "Y"
        << QByteArray(R"({"projects":[{"name":"x","notes":"","type":""}]})");
}

void tst_Nexil::projectJson()
{
    QFETCH(QList<std::shared_ptr<pro::info>>, records);
    QFETCH(QString, deleted);
    QFETCH(QByteArray, json);
    auto spCore = InitCore();
    QVERIFY(spCore);
    for (const auto& spInfo : records)
    {
        QVERIFY(spCore->AddPro(spInfo));
    }
    if (!deleted.isEmpty())
    {
        spCore->DelPro(deleted);
    }
    QCOMPARE(ReadFile(JsonFile()), json);
    // The file is replaced whole; no temporary file stays beside it.
    QCOMPARE(QDir(m_ws->path()).entryList({"AIProject*"}, QDir::Files), QStringList({"AIProject.json"}));
}

void tst_Nexil::openUnknownLeavesNoProject()
{
    auto spCore = InitCore();
    QVERIFY(spCore);
    QVERIFY(spCore->AddPro(MakeInfo("P1", "one")));
    spCore->OpenPro("P1");
    std::weak_ptr<IPrjCore> wpPrj = PrjIns();
    QVERIFY(!wpPrj.expired());
    spCore->OpenPro("missing");
    QVERIFY(wpPrj.expired());
    QVERIFY(PrjIns().expired());
    QVERIFY(spCore->PrjCore().expired());
}

void tst_Nexil::openCreatesProjectDatabase()
{
    MessageCapture capture;
    auto spCore = InitCore();
    QVERIFY(spCore);
    auto spA = MakeInfo("A", "Project A");
    QVERIFY(spCore->AddPro(spA));
    QVERIFY(spCore->AddPro(MakeInfo("B", "项目B")));
    spCore->OpenPro("A");
    {
        auto spPrj = PrjIns().lock();
        QVERIFY(spPrj);
        QCOMPARE(spPrj->PrjPath(), m_ws->path() + "/Project A");
        QCOMPARE(spPrj->PrjInfo(), spA);
    }
    // Reopening and switching: each project gets its database connection in turn.
    spCore->OpenPro("A");
    spCore->OpenPro("B");
    spCore.reset();
    ReleaseNexil();

    QCOMPARE(capture.Problems(), QStringList());
    for (const QString& name : QStringList({"Project A", QString::fromUtf8("项目B")}))
    {
        QVERIFY2(QFileInfo(m_ws->path() + "/" + name).isDir(), qPrintable(name));
        QVERIFY2(QFile::exists(m_ws->path() + "/" + name + "/PrjData.db"), qPrintable(name));
    }
}

void tst_Nexil::openProjectCategories()
{
    auto spCore = InitCore();
    QVERIFY(spCore);
    QVERIFY(spCore->AddPro(MakeInfo("A", "a")));
    spCore->OpenPro("A");
    auto spPrj = PrjIns().lock();
    QVERIFY(spPrj);
    QVERIFY(!spPrj->AddMarkType(""));
    QVERIFY(spPrj->AddMarkType("scratch"));
    QVERIFY(spPrj->AddMarkType("dent"));
    QVERIFY(!spPrj->AddMarkType("scratch"));
    spPrj->DelMarkType("unknown");
    spPrj->DelMarkType("scratch");
    QCOMPARE(spPrj->MarkTypes(), QStringList({"dent"}));
}

QTEST_GUILESS_MAIN(tst_Nexil)
#include "tst_Nexil.moc"
