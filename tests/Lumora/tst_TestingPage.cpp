#include "CallbackLog.h"
#include "Child.h"
#include "FakeTrainService.h"
#include "MsgWndProbe.h"
#include "PageFixture.h"
#include "ShownWindows.h"

#include "Canvas/datawidget.h"
#include "ImgMarks/MarksResultWid.h"
#include "ModelTesting/ErrorImgModel.h"
#include "ModelTesting/LoadModelWork.h"
#include "ModelTesting/ModelTestingWid.h"
#include "ModelTesting/SingleTestWid.h"
#include "ModelTesting/TestContainerWid.h"

#include "ComLib/Service/ServiceClient.h"
#include "ComLib/Service/ServiceProtocol.h"
#include "ComLib/Service/ServiceRun.h"
#include "ComUi/CMsgWnd.h"
#include "ComUi/CategoryPalette.h"
#include "ComUi/PathWid.h"
#include "ComUi/Skin.h"
#include "Nexil/NexilApi.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkReply>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTextDocument>
#include <QTreeView>
#include <QtCharts/QChartView>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

namespace
{

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

bool Touch(const QString& path, const QByteArray& text = "x")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

bool WriteImage(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    return cv::imwrite(path.toStdString(), cv::Mat(12, 16, CV_8UC3, cv::Scalar(40, 80, 120)));
}

// A prediction file with one rectangle of the given category.
QByteArray Prediction(const QString& label)
{
    return QStringLiteral(R"({"imagePath":"x.png","imageData":null,"shapes":[{"label":"%1",)"
                          R"("shape_type":"rectangle","points":[[1,1],[5,5]]}]})")
        .arg(label)
        .toUtf8();
}

QJsonObject ReadJson(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

// The text of a label showing rich text, as read on screen.
QString Shown(const QLabel* label)
{
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}

QStringList Titles(const std::weak_ptr<pro::ImageInfo>& record)
{
    QStringList titles;
    if (const auto sp = record.lock())
    {
        for (const auto& roi : sp->rois)
            titles.append(roi->title());
    }
    return titles;
}

} // namespace

class tst_TestingPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void versionsListed();
    void testJson_data();
    void testJson();
    void refusedStarts_data();
    void refusedStarts();
    void requestsInOrder();
    void statusReplies_data();
    void statusReplies();
    void resultTable_data();
    void resultTable();
    void firstPanelFillsTrees();
    void panelLimit();
    void predictionPath_data();
    void predictionPath();
    void predictionShown_data();
    void predictionShown();
    void clearKeepsPredictions();
    void clearRefusedWhileTesting();
    void stepWraps_data();
    void stepWraps();
    void deletedRunningPanelStaysQuiet();
    void neverAnswered();
    void predictionsInCategoryColours();
    void operatingPoints();
    void errorBrowserAnyPanel();
    void heldOutFolderIsLabelled();
    void comparisonReport();
    void validationSetInOneAction();
    void errorBrowserOverlaysTruth();

private:
    // Runs a labelled test of the annotated images on the panel whose service leaves the summary.
    void RunLabelled(SingleTestWid& panel, const QString& version,
                     const comlib::protocol::TestSummary& summary);

    // A project with marked images, each with one ROI of "scratch".
    void OpenProject(int images);
    QString PrjPath() const { return m_fixture.ProjectPath(); }
    // A trained version with its model folder and Config.json naming the classes.
    QString MakeVersion(const QString& name, const QStringList& classes);
    std::unique_ptr<ModelTestingWid> MakePage();
    QList<SingleTestWid*> Panels(ModelTestingWid& page)
    {
        return page.findChild<TestContainerWid*>()->Panels();
    }
    // Chooses the version in the panel, clicks start and waits for the service to have the start.
    void Start(SingleTestWid& panel, const QString& version);
    void ChooseInDialog(const QString& path);

    static bool Running(SingleTestWid& panel)
    {
        return Child<QPushButton>(panel, "btnRunTest")->text() == U("停止测试");
    }
    static QTreeView* Tree(ModelTestingWid& page, const char* name) { return Child<QTreeView>(page, name); }
    static QStringList Names(QTreeView* tree);

    PageFixture m_fixture;
    std::unique_ptr<FakeTrainService> m_service;
    std::unique_ptr<MsgWndProbe> m_probe;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> m_testers;
};

void tst_TestingPage::initTestCase()
{
    qRegisterMetaType<QNetworkReply*>();
    InitComUiResources();
}

void tst_TestingPage::init()
{
    QVERIFY(m_fixture.Init());
    PageFixture::RedirectHome(m_fixture.Path());
    m_service = std::make_unique<FakeTrainService>();
    QVERIFY(m_service->Listen());
    qputenv(comlib::ServiceClient::kUrlVariable, m_service->BaseUrl().toUtf8());
    m_probe = std::make_unique<MsgWndProbe>();
}

void tst_TestingPage::cleanup()
{
    m_testers.clear();
    m_probe.reset();
    m_service.reset();
    qunsetenv(comlib::ServiceClient::kUrlVariable);
    m_fixture.Cleanup();
}

void tst_TestingPage::OpenProject(int images)
{
    QVERIFY(m_fixture.OpenProject(2, {"scratch"}));
    for (int i = 0; i < images; ++i)
    {
        const auto spImg = m_fixture.Picture(QString("img%1.png").arg(i), QSize(16, 12));
        spImg->rois.append(std::make_shared<RectROIItem>(QRectF(0, 0, 2, 2), 0, "scratch"));
        spImg->marked = true;
        m_fixture.Store(spImg);
    }
    QVERIFY(m_fixture.WaitForStored(images));
}

QString tst_TestingPage::MakeVersion(const QString& name, const QStringList& classes)
{
    const QString dir = PrjPath() + "/train/" + name;
    QJsonArray list;
    for (const QString& cls : classes)
        list.append(QJsonObject{{"name", cls}, {"id", list.size()}});
    Touch(dir + "/model/Config.json", QJsonDocument(QJsonObject{{"classes", list}}).toJson());
    return dir;
}

std::unique_ptr<ModelTestingWid> tst_TestingPage::MakePage()
{
    auto page = std::make_unique<ModelTestingWid>();
    auto* combo = Panels(*page).first()->findChild<QComboBox*>("cbModel");
    m_testers.push_back(std::make_unique<QAbstractItemModelTester>(combo->model()));
    for (const char* name : {"treeViewTest", "treeViewLossRate", "treeViewOverKill"})
        m_testers.push_back(std::make_unique<QAbstractItemModelTester>(Tree(*page, name)->model()));
    page->ReloadModels();
    return page;
}

void tst_TestingPage::Start(SingleTestWid& panel, const QString& version)
{
    panel.findChild<comlib::ServiceClient*>()->SetTimeoutMs(1000);
    panel.findChild<comlib::ServiceRun*>()->SetIntervalMs(100);
    auto* combo = Child<QComboBox>(panel, "cbModel");
    QTRY_VERIFY(combo->findText(version) >= 0);
    combo->setCurrentIndex(combo->findText(version));
    const int before = m_service->RequestsTo("/test_model").size();
    Child<QPushButton>(panel, "btnRunTest")->click();
    QTRY_COMPARE(m_service->RequestsTo("/test_model").size(), before + 1);
}

void tst_TestingPage::ChooseInDialog(const QString& path)
{
    WhenShown<QFileDialog>(
        this,
        [path](QFileDialog* dialog)
        {
            // Typed as a user would: selectFile leaves a focused name field alone.
            const QFileInfo info(path);
            dialog->setDirectory(info.absolutePath());
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(info.fileName());
            QMetaObject::invokeMethod(dialog, "accept");
        });
}

QStringList tst_TestingPage::Names(QTreeView* tree)
{
    QStringList names;
    auto* model = tree->model();
    for (int g = 0; g < model->rowCount(); ++g)
    {
        const QModelIndex group = model->index(g, 0);
        for (int i = 0; i < model->rowCount(group); ++i)
            names.append(model->index(i, 0, group).data().toString());
    }
    return names;
}

void tst_TestingPage::versionsListed()
{
    OpenProject(0);
    const QString newest = MakeVersion("V2024-03-01_00-00-00", {"a"});
    const QString middle = MakeVersion("V2024-01-02_03-04-05", {"a"});
    const QString oldest = MakeVersion("V2023-12-31_23-59-59", {"a"});
    for (const char* name : {"V2024-01-02_03-04-0", "V2024-01-02_03-04-055", "v2024-09-02_03-04-05"})
        MakeVersion(name, {"a"});
    QVERIFY(QDir().mkpath(PrjPath() + "/train/V2025-01-02_03-04-05/logs"));
    QVERIFY(Touch(PrjPath() + "/train/V2025-01-02_03-04-06/model"));
    QVERIFY(Touch(PrjPath() + "/train/V2025-01-02_03-04-07"));

    auto page = MakePage();
    Child<QPushButton>(*page, "btnAddTest")->click();
    QCOMPARE(Panels(*page).size(), 2);
    for (SingleTestWid* panel : Panels(*page))
    {
        auto* combo = Child<QComboBox>(*panel, "cbModel");
        QTRY_COMPARE(combo->count(), 3);
        QCOMPARE(combo->itemText(0), QString("V2024-03-01_00-00-00"));
        QCOMPARE(combo->itemData(0).toString(), newest);
        QCOMPARE(combo->itemData(1).toString(), middle);
        QCOMPARE(combo->itemData(2).toString(), oldest);
    }
    // Listed again, not added to; each panel keeps its choice, a version that is gone gives the newest.
    auto* keeps = Child<QComboBox>(*Panels(*page).first(), "cbModel");
    auto* loses = Child<QComboBox>(*Panels(*page).last(), "cbModel");
    keeps->setCurrentIndex(2);
    loses->setCurrentIndex(1);
    QVERIFY(QDir(middle).removeRecursively());
    MakeVersion("V2024-05-01_00-00-00", {"a"});
    QSignalSpy listed(page->findChild<TestContainerWid*>(), &TestContainerWid::Signal_GetModels);
    page->ReloadModels();
    QCOMPARE(listed.size(), 1);
    QCOMPARE(listed.at(0).at(0).toString(), PrjPath() + "/train");
    QTRY_COMPARE(keeps->itemText(0), QString("V2024-05-01_00-00-00"));
    QCOMPARE(keeps->count(), 3);
    QCOMPARE(keeps->currentText(), QString("V2023-12-31_23-59-59"));
    QCOMPARE(loses->currentText(), QString("V2024-05-01_00-00-00"));
}

void tst_TestingPage::testJson_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("mode");
    QTest::newRow("annotated images") << "mark"
                                      << "labeled";
    QTest::newRow("chosen folder") << "dir"
                                   << "unlabeled";
    QTest::newRow("chosen image") << "img"
                                  << "unlabeled";
}

void tst_TestingPage::testJson()
{
    QFETCH(QString, source);
    QFETCH(QString, mode);

    OpenProject(2);
    const QString version = "V2024-01-02_03-04-05";
    const QString versionDir = MakeVersion(version, {"scratch"});
    const QString resultDir = PrjPath() + "/test/" + version;
    QVERIFY(Touch(resultDir + "/old/stale.json"));
    const QString folder = m_fixture.Path() + "/pick";
    QVERIFY(WriteImage(folder + "/a.png"));
    auto page = MakePage();
    // An annotated import before switches back; the last import decides.
    Child<QPushButton>(*page, "btnImportMark")->click();
    QString predictPath = PrjPath() + "/datas";
    if (source == "dir")
    {
        ChooseInDialog(folder);
        Child<QPushButton>(*page, "btnImportDir")->click();
        predictPath = folder;
    }
    else if (source == "img")
    {
        ChooseInDialog(folder + "/a.png");
        Child<QPushButton>(*page, "btnImportImg")->click();
        predictPath = folder;
    }
    QTRY_COMPARE(Names(Tree(*page, "treeViewTest")).size(), source == "mark" ? 2 : 1);

    bool staleAtStart = true;
    connect(m_service.get(), &FakeTrainService::Signal_Request, this,
            [&] { staleAtStart = staleAtStart && QFile::exists(resultDir + "/old/stale.json"); });
    Start(*Panels(*page).first(), version);
    QVERIFY(!staleAtStart);

    const auto start = m_service->RequestsTo("/test_model").first();
    QCOMPARE(start.method, QByteArray("POST"));
    const QString configPath = QJsonDocument::fromJson(start.body).object().value("config_path").toString();
    QCOMPARE(configPath, versionDir + "/test.json");
    const QJsonObject config = ReadJson(configPath);
    const QJsonObject expected{{"predict_mode", mode},
                               {"predict_path", predictPath},
                               {"save_predict_path", resultDir},
                               {"test_model_path", versionDir + "/model"}};
    QCOMPARE(config, expected);
    QVERIFY(m_probe->Messages().isEmpty());
}

void tst_TestingPage::refusedStarts_data()
{
    QTest::addColumn<bool>("images");
    QTest::addColumn<bool>("versions");
    QTest::addColumn<QString>("text");
    QTest::newRow("no test images") << false << true << U("请导入测试图片！");
    QTest::newRow("no model version") << true << false << U("请选中模型！");
}

void tst_TestingPage::refusedStarts()
{
    QFETCH(bool, images);
    QFETCH(bool, versions);
    QFETCH(QString, text);

    OpenProject(1);
    if (versions)
        MakeVersion("V2024-01-02_03-04-05", {"scratch"});
    auto page = MakePage();
    if (images)
        Child<QPushButton>(*page, "btnImportMark")->click();
    SingleTestWid& panel = *Panels(*page).first();
    if (versions)
        QTRY_COMPARE(Child<QComboBox>(panel, "cbModel")->count(), 1);
    QSignalSpy requests(m_service.get(), &FakeTrainService::Signal_Request);
    Child<QPushButton>(panel, "btnRunTest")->click();
    QCOMPARE(m_probe->Messages().size(), 1);
    QCOMPARE(m_probe->Messages()[0].title, U("提示"));
    QCOMPARE(m_probe->Messages()[0].text, text);
    QCOMPARE(m_probe->Messages()[0].kind, int(NOTIFY_ABOUT));
    QVERIFY(!Running(panel));
    QVERIFY(!QFile::exists(PrjPath() + "/train/V2024-01-02_03-04-05/test.json"));
    // A request would reach the service within a few polls.
    QVERIFY(!requests.wait(500));
    QVERIFY(m_service->Requests().isEmpty());
}

void tst_TestingPage::requestsInOrder()
{
    OpenProject(1);
    MakeVersion("V2024-01-02_03-04-05", {"scratch"});
    m_service->Script("/test_model", {FakeTrainService::Json(R"({"status":"running"})")});
    auto page = MakePage();
    Child<QPushButton>(*page, "btnImportMark")->click();
    SingleTestWid& panel = *Panels(*page).first();
    Start(panel, "V2024-01-02_03-04-05");
    QVERIFY(Running(panel));
    QVERIFY(!Child<QComboBox>(panel, "cbModel")->isEnabled());
    QVERIFY(!Child<QPushButton>(panel, "btnDelTest")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(m_service->RequestsTo("/get_test_status").size() >= 2, 10000);
    Child<QPushButton>(panel, "btnRunTest")->click();
    QVERIFY(!Running(panel));
    QVERIFY(Child<QComboBox>(panel, "cbModel")->isEnabled());
    QTRY_COMPARE(m_service->RequestsTo("/test_model").size(), 2);

    const auto requests = m_service->Requests();
    const QString id = requests.first().path.section('/', 2);
    QVERIFY2(QRegularExpression("^[0-9A-F]{11,32}$").match(id).hasMatch(), qPrintable(id));
    QStringList sent;
    for (const auto& request : requests)
    {
        sent.append(request.method + " " + request.path);
        QCOMPARE(request.contentType, QByteArray("application/json"));
    }
    QCOMPARE(sent.first(), "POST /test_model/" + id);
    QCOMPARE(sent.last(), "GET /test_model/" + id);
    for (const QString& poll : sent.mid(1, sent.size() - 2))
        QCOMPARE(poll, "GET /get_test_status/" + id);
}

void tst_TestingPage::statusReplies_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("running");
    QTest::newRow("running") << "running" << U("<span style=\"color:Blue;\">测试中</span>") << true;
    QTest::newRow("cancelled keeps running")
        << "cancelled" << U("<span style=\"color:Black;\">测试取消</span>") << true;
    QTest::newRow("failed") << "failed" << U("测试失败") << false;
    QTest::newRow("done") << "done" << U("完成") << false;
    QTest::newRow("other text") << "<queued>"
                                << "&lt;queued&gt;" << true;
}

void tst_TestingPage::statusReplies()
{
    QFETCH(QString, status);
    QFETCH(QString, shown);
    QFETCH(bool, running);

    OpenProject(1);
    MakeVersion("V2024-01-02_03-04-05", {"scratch"});
    const QByteArray reply = QJsonDocument(QJsonObject{{"status", status}}).toJson(QJsonDocument::Compact);
    m_service->Script("/test_model", {FakeTrainService::Json(reply)});
    m_service->Script("/get_test_status", {FakeTrainService::Json(reply)});
    auto page = MakePage();
    Child<QPushButton>(*page, "btnImportMark")->click();
    SingleTestWid& panel = *Panels(*page).first();
    Start(panel, "V2024-01-02_03-04-05");
    QTRY_COMPARE(Child<QLabel>(panel, "lbStatuVal")->text(), shown);
    QCOMPARE(Running(panel), running);
    if (running)
        QTRY_VERIFY_WITH_TIMEOUT(m_service->RequestsTo("/get_test_status").size() >= 2, 10000);
    QVERIFY(m_probe->Messages().isEmpty());
}

void tst_TestingPage::resultTable_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QStringList>("header");
    QTest::addColumn<QStringList>("missed");
    QTest::addColumn<QStringList>("overkill");
    const QByteArray three = R"({"classes":[{"name":"a"},{"id":7},{"name":"b"},{"name":"c"}]})";
    QTest::newRow("three classes, two rates")
        << three << QStringList{U("测试项目"), "a", "b", "c"} << QStringList{U("漏检率"), "1.00", "0.50", ""}
        << QStringList{U("过杀率"), "0.25", "0.00", ""};
    QTest::newRow("unreadable model configuration keeps the table")
        << QByteArray() << QStringList{U("测试项目"), "old"} << QStringList{U("漏检率"), "0.10"}
        << QStringList{U("过杀率"), "0.20"};
    QTest::newRow("not a JSON object keeps the table")
        << QByteArray("[1,2]") << QStringList{U("测试项目"), "old"} << QStringList{U("漏检率"), "0.10"}
        << QStringList{U("过杀率"), "0.20"};
}

void tst_TestingPage::resultTable()
{
    QFETCH(QByteArray, config);
    QFETCH(QStringList, header);
    QFETCH(QStringList, missed);
    QFETCH(QStringList, overkill);

    OpenProject(1);
    const QString oldDir = MakeVersion("V2024-01-01_00-00-00", {"old"});
    const QString newDir = MakeVersion("V2024-01-02_03-04-05", {"x"});
    if (config.isEmpty())
        QVERIFY(QFile::remove(newDir + "/model/Config.json"));
    else
        QVERIFY(Touch(newDir + "/model/Config.json", config));
    m_service->Script("/test_model", {FakeTrainService::Json(R"({"status":"done","loss_rate":[0.1],
                                                                 "overkill_rate":[0.2]})"),
                                      FakeTrainService::Json(R"({"status":"done","loss_rate":[1,0.5],
                                                                 "overkill_rate":[0.25,0]})")});
    auto page = MakePage();
    Child<QPushButton>(*page, "btnImportMark")->click();
    SingleTestWid& panel = *Panels(*page).first();
    auto* table = Child<QTableView>(panel, "tblViewRlt");
    Start(panel, "V2024-01-01_00-00-00");
    QTRY_COMPARE(table->model()->columnCount(), 2);
    Start(panel, "V2024-01-02_03-04-05");
    QTRY_COMPARE(Child<QLabel>(panel, "lbStatuVal")->text(), U("完成"));

    QAbstractItemModel* model = table->model();
    QAbstractItemModelTester tester(model);
    QStringList shownHeader;
    for (int c = 0; c < model->columnCount(); ++c)
        shownHeader.append(model->headerData(c, Qt::Horizontal).toString());
    QCOMPARE(shownHeader, header);
    QCOMPARE(model->rowCount(), 2);
    for (int row = 0; row < 2; ++row)
    {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells.append(model->index(row, c).data().toString());
        QCOMPARE(cells, row == 0 ? missed : overkill);
        QCOMPARE(model->headerData(row, Qt::Vertical).toInt(), row + 1);
    }
    QCOMPARE(model->index(0, 1).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
}

void tst_TestingPage::firstPanelFillsTrees()
{
    OpenProject(3);
    MakeVersion("V2024-01-02_03-04-05", {"scratch"});
    const auto images = PrjIns().lock()->Images().values();
    const QString outside = m_fixture.Path() + "/elsewhere/x.png";
    const auto reply = [&](int missed, int overkill)
    {
        const QJsonObject body{{"status", "done"},
                               {"loss_image_path", QJsonArray{images[missed]->path, outside}},
                               {"overkill_image_path", QJsonArray{images[overkill]->path}}};
        return FakeTrainService::Json(QJsonDocument(body).toJson());
    };
    m_service->Script("/test_model", {reply(0, 1), reply(2, 2)});
    auto page = MakePage();
    Child<QPushButton>(*page, "btnImportMark")->click();
    // Panels are kept in id order, so the one made with the page is known only before the second comes.
    SingleTestWid* first = Panels(*page).first();
    Child<QPushButton>(*page, "btnAddTest")->click();
    const auto panels = Panels(*page);
    SingleTestWid* second = panels.first() == first ? panels.last() : panels.first();

    Start(*first, "V2024-01-02_03-04-05");
    QTRY_COMPARE(Names(Tree(*page, "treeViewLossRate")), QStringList{images[0]->fileName});
    QCOMPARE(Names(Tree(*page, "treeViewOverKill")), QStringList{images[1]->fileName});
    QVERIFY(
        Tree(*page, "treeViewLossRate")->isExpanded(Tree(*page, "treeViewLossRate")->model()->index(0, 0)));

    Start(*second, "V2024-01-02_03-04-05");
    QTRY_COMPARE(Child<QLabel>(*second, "lbStatuVal")->text(), U("完成"));
    QCOMPARE(Child<QTableView>(*second, "tblViewRlt")->model()->rowCount(), 2);
    QCOMPARE(Names(Tree(*page, "treeViewLossRate")), QStringList{images[0]->fileName});
    QCOMPARE(Names(Tree(*page, "treeViewOverKill")), QStringList{images[1]->fileName});
}

void tst_TestingPage::panelLimit()
{
    auto page = MakePage();
    auto* add = Child<QPushButton>(*page, "btnAddTest");
    add->click();
    add->click();
    QCOMPARE(Panels(*page).size(), 3);
    add->click();
    QCOMPARE(Panels(*page).size(), 3);
    QCOMPARE(m_probe->Messages().size(), 1);
    QCOMPARE(m_probe->Messages()[0].title, U("提示"));
    QCOMPARE(m_probe->Messages()[0].text, U("已达上限。"));
    QCOMPARE(m_probe->Messages()[0].kind, int(NOTIFY_ABOUT));

    // Deleting one makes room; the last one can go too.
    QPointer<SingleTestWid> gone = Panels(*page).at(1);
    Child<QPushButton>(*gone, "btnDelTest")->click();
    QCOMPARE(Panels(*page).size(), 2);
    QTRY_VERIFY(gone.isNull());
    add->click();
    QCOMPARE(Panels(*page).size(), 3);
    for (SingleTestWid* panel : Panels(*page))
        Child<QPushButton>(*panel, "btnDelTest")->click();
    QCOMPARE(Panels(*page).size(), 0);
    add->click();
    QCOMPARE(Panels(*page).size(), 1);
    QCOMPARE(m_probe->Messages().size(), 1);
}

void tst_TestingPage::predictionPath_data()
{
    QTest::addColumn<QString>("imagePath");
    QTest::addColumn<bool>("marked");
    QTest::addColumn<QString>("testPath");
    QTest::addColumn<QString>("expected");
    const QString prj = "/w/datasets/P";
    QTest::newRow("annotated, workspace below a datas-like folder")
        << prj + "/datas/2024_a/RawDatas/img.1.png" << true << prj + "/datas"
        << "/r/2024_a/RawDatas/img.1.json";
    QTest::newRow("annotated elsewhere") << "/x/datas/a/b.bmp" << true << ""
                                         << "/r/a/b.json";
    QTest::newRow("annotated without datas") << "/x/a/b.bmp" << true << ""
                                             << "";
    QTest::newRow("folder named like the suffix") << "/in/png/a.png" << false << "/in"
                                                  << "/r/png/a.json";
    QTest::newRow("backslashes") << "C:\\in\\sub\\a.JPG" << false << "C:\\in"
                                 << "/r/sub/a.json";
    QTest::newRow("test folder with a slash at the end") << "/in/a.png" << false << "/in/"
                                                         << "/r/a.json";
    QTest::newRow("outside the test folder") << "/input/a.png" << false << "/in"
                                             << "";
    // The service writes "a.json" for it.
    QTest::newRow("no suffix") << "/in/a" << false << "/in"
                               << "/r/a.json";
}

void tst_TestingPage::predictionPath()
{
    QFETCH(QString, imagePath);
    QFETCH(bool, marked);
    QFETCH(QString, testPath);
    QFETCH(QString, expected);

    pro::ImageInfo img;
    img.path = imagePath;
    img.marked = marked;
    QCOMPARE(SingleTestWid::PredictionPath("/r", "/w/datasets/P", testPath, img), expected);
}

void tst_TestingPage::predictionShown_data()
{
    QTest::addColumn<bool>("annotated");
    QTest::newRow("annotated image") << true;
    QTest::newRow("image of a chosen folder") << false;
}

void tst_TestingPage::predictionShown()
{
    QFETCH(bool, annotated);

    OpenProject(1);
    MakeVersion("V2024-01-02_03-04-05", {"scratch"});
    MakeVersion("V2024-02-02_03-04-05", {"scratch"});
    m_service->Script("/test_model", {FakeTrainService::Json(R"({"status":"done"})")});
    auto page = MakePage();
    const QString folder = m_fixture.Path() + "/pick";
    QString relative = "/png/a.json";
    if (annotated)
    {
        Child<QPushButton>(*page, "btnImportMark")->click();
        const QString path = PrjIns().lock()->Images().first()->path;
        relative = path.mid(PrjPath().size() + 6).replace(".png", ".json");
    }
    else
    {
        QVERIFY(WriteImage(folder + "/png/a.png"));
        ChooseInDialog(folder);
        Child<QPushButton>(*page, "btnImportDir")->click();
    }
    QTRY_COMPARE(Names(Tree(*page, "treeViewTest")).size(), 1);
    SingleTestWid& panel = *Panels(*page).first();
    Start(panel, "V2024-01-02_03-04-05");
    QTRY_VERIFY(!Running(panel));
    QVERIFY(Touch(PrjPath() + "/test/V2024-01-02_03-04-05" + relative, Prediction("used")));
    QVERIFY(Touch(PrjPath() + "/test/V2024-02-02_03-04-05" + relative, Prediction("other")));
    // Choosing another version without a run changes nothing of what is looked up.
    Child<QComboBox>(panel, "cbModel")->setCurrentIndex(0);
    QCOMPARE(Child<QComboBox>(panel, "cbModel")->currentText(), QString("V2024-02-02_03-04-05"));

    Child<QPushButton>(*page, "btnNextImg")->click();
    auto* canvas = Child<DataWidget>(panel, "widImgView");
    QCOMPARE(Titles(canvas->record()), QStringList{"used"});
    QCOMPARE(canvas->roiHitTesting(), 0);
    const auto shown = canvas->record().lock();
    QVERIFY(shown->marked && !shown->markAsOK);
    QCOMPARE(shown->path, Tree(*page, "treeViewTest")
                              ->currentIndex()
                              .data(Qt::UserRole)
                              .value<std::shared_ptr<pro::ImageInfo>>()
                              ->path);
}

void tst_TestingPage::clearKeepsPredictions()
{
    OpenProject(1);
    MakeVersion("V2024-01-02_03-04-05", {"scratch"});
    const QString path = PrjIns().lock()->Images().first()->path;
    QJsonObject body{
        {"status", "done"}, {"loss_image_path", QJsonArray{path}}, {"overkill_image_path", QJsonArray{path}}};
    m_service->Script("/test_model", {FakeTrainService::Json(QJsonDocument(body).toJson())});
    auto page = MakePage();
    Child<QPushButton>(*page, "btnImportMark")->click();
    SingleTestWid& panel = *Panels(*page).first();
    Start(panel, "V2024-01-02_03-04-05");
    QTRY_COMPARE(Names(Tree(*page, "treeViewOverKill")).size(), 1);
    QVERIFY(Touch(PrjPath() + "/test/V2024-01-02_03-04-05" +
                      path.mid(PrjPath().size() + 6).replace(".png", ".json"),
                  Prediction("kept")));
    auto* showMark = Child<QCheckBox>(*page, "ckShowMark");
    auto* markView = page->findChild<MarksResultWid*>();
    QVERIFY(markView->isHidden());
    showMark->setChecked(true);
    QVERIFY(!markView->isHidden());
    emit Tree(*page, "treeViewTest")
        ->clicked(Tree(*page, "treeViewTest")
                      ->model()
                      ->index(0, 0, Tree(*page, "treeViewTest")->model()->index(0, 0)));
    QCOMPARE(Titles(markView->canvas()->record()), QStringList{"scratch"});
    QCOMPARE(Child<PathWid>(*page, "widPath")->Path(), path);

    Child<QPushButton>(*page, "btnClearup")->click();
    QVERIFY(m_probe->Messages().isEmpty());
    QVERIFY(markView->canvas()->record().expired());
    QCOMPARE(Titles(Child<DataWidget>(panel, "widImgView")->record()), QStringList{"kept"});
    for (const char* tree : {"treeViewTest", "treeViewLossRate", "treeViewOverKill"})
        QCOMPARE(Tree(*page, tree)->model()->rowCount(), 0);
    QCOMPARE(PrjIns().lock()->TestPath(), QString());
    QCOMPARE(PrjIns().lock()->TestLabeled(), 0);
    showMark->setChecked(false);
    QVERIFY(markView->isHidden());
}

void tst_TestingPage::clearRefusedWhileTesting()
{
    OpenProject(2);
    MakeVersion("V2024-01-02_03-04-05", {"scratch"});
    m_service->Script("/test_model",
                      {FakeTrainService::Json(R"({"status":"running"})"), FakeTrainService::Json("{}")});
    auto page = MakePage();
    Child<QPushButton>(*page, "btnImportMark")->click();
    SingleTestWid& panel = *Panels(*page).first();
    Start(panel, "V2024-01-02_03-04-05");
    Child<QPushButton>(*page, "btnClearup")->click();
    QCOMPARE(m_probe->Messages().size(), 1);
    QCOMPARE(m_probe->Messages()[0].text, U("测试中无法清空测试图片。"));
    QCOMPARE(m_probe->Messages()[0].kind, int(NOTIFY_ABOUT));
    QCOMPARE(Names(Tree(*page, "treeViewTest")).size(), 2);
    QCOMPARE(PrjIns().lock()->TestLabeled(), 1);

    // Stopped, the images may go.
    Child<QPushButton>(panel, "btnRunTest")->click();
    Child<QPushButton>(*page, "btnClearup")->click();
    QCOMPARE(m_probe->Messages().size(), 1);
    QCOMPARE(Names(Tree(*page, "treeViewTest")).size(), 0);
}

void tst_TestingPage::stepWraps_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("current");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<int>("expected");
    // -1: nothing current, -2: the first group
    QTest::newRow("next without a current item") << 0 << -1 << true << 0;
    QTest::newRow("previous without a current item") << 0 << -1 << false << 2;
    QTest::newRow("next on a group") << 0 << -2 << true << 0;
    QTest::newRow("next in the middle") << 0 << 1 << true << 2;
    QTest::newRow("next on the last wraps") << 0 << 2 << true << 0;
    QTest::newRow("previous on the first wraps") << 0 << 0 << false << 2;
    QTest::newRow("missed tab, next on the last wraps") << 1 << 1 << true << 0;
    QTest::newRow("missed tab, previous on the first wraps") << 1 << 0 << false << 1;
}

void tst_TestingPage::stepWraps()
{
    QFETCH(int, tab);
    QFETCH(int, current);
    QFETCH(bool, forward);
    QFETCH(int, expected);

    OpenProject(3);
    auto page = MakePage();
    Child<QPushButton>(*page, "btnImportMark")->click();
    const auto images = PrjIns().lock()->Images().values();
    page->Slot_TestRlt({images[2]->path, images[0]->path}, {});
    Child<QTabWidget>(*page, "tabWidget")->setCurrentIndex(tab);
    QTreeView* tree = Tree(*page, tab == 0 ? "treeViewTest" : "treeViewLossRate");
    const QModelIndex group = tree->model()->index(0, 0);
    if (current == -2)
        tree->setCurrentIndex(group);
    else if (current >= 0)
        tree->setCurrentIndex(tree->model()->index(current, 0, group));

    Child<QPushButton>(*page, forward ? "btnNextImg" : "btnPreImg")->click();
    QCOMPARE(tree->currentIndex(), tree->model()->index(expected, 0, group));
    const QString shown = tree->currentIndex().data().toString();
    QVERIFY(Child<PathWid>(*page, "widPath")->Path().endsWith("/" + shown));
}

void tst_TestingPage::deletedRunningPanelStaysQuiet()
{
    OpenProject(1);
    MakeVersion("V2024-01-02_03-04-05", {"scratch"});
    m_service->Script("/test_model", {FakeTrainService::Json(R"({"status":"running"})")});
    auto page = MakePage();
    Child<QPushButton>(*page, "btnImportMark")->click();
    Child<QPushButton>(*page, "btnAddTest")->click();
    auto* container = page->findChild<TestContainerWid*>();
    QPointer<SingleTestWid> doomed = Panels(*page).at(0);
    SingleTestWid* kept = Panels(*page).at(1);
    Start(*doomed, "V2024-01-02_03-04-05");
    Start(*kept, "V2024-01-02_03-04-05");
    const QString doomedId = m_service->RequestsTo("/test_model").at(0).path.section('/', 2);
    // Its poll hangs until after the panel is gone.
    m_service->Script("/get_test_status/" + doomedId, {FakeTrainService::Hold()});
    QTRY_VERIFY_WITH_TIMEOUT(m_service->HeldCount() == 1, 10000);

    container->Slot_DelTestItem(doomed->Id());
    const int sent = m_service->Requests().size();
    QTRY_VERIFY(doomed.isNull());
    m_service->ReleaseHeld(R"({"status":"failed"})");
    // The remaining panel's polls mark the time passing.
    QTRY_VERIFY_WITH_TIMEOUT(m_service->Requests().size() >= sent + 2, 10000);
    for (const auto& request : m_service->Requests().mid(sent))
        QVERIFY2(!request.path.endsWith(doomedId), qPrintable(request.path));
    QVERIFY(Running(*kept));
    QVERIFY(container->Testing());
    Child<QPushButton>(*kept, "btnRunTest")->click();
    QVERIFY(!container->Testing());
    QVERIFY(m_probe->Messages().isEmpty());
}

void tst_TestingPage::neverAnswered()
{
    OpenProject(1);
    MakeVersion("V2024-01-02_03-04-05", {"scratch"});
    m_service->Script("/test_model", {FakeTrainService::Hold()});
    auto page = MakePage();
    Child<QPushButton>(*page, "btnImportMark")->click();
    SingleTestWid& panel = *Panels(*page).first();
    Start(panel, "V2024-01-02_03-04-05");
    QTRY_COMPARE_WITH_TIMEOUT(m_probe->Messages().size(), 1, 15000);
    QCOMPARE(m_probe->Messages()[0].title, U("错误"));
    QCOMPARE(m_probe->Messages()[0].kind, int(NOTIFY_ERROR));
    QVERIFY(m_probe->Messages()[0].text.startsWith(U("通讯异常：")));
    QVERIFY(!Running(panel));
    QVERIFY(!page->findChild<TestContainerWid*>()->Testing());
}

void tst_TestingPage::predictionsInCategoryColours()
{
    OpenProject(1);
    QVERIFY(PrjIns().lock()->AddMarkType("spot"));
    MakeVersion("V2024-01-02_03-04-05", {"scratch", "spot"});
    m_service->Script("/test_model", {FakeTrainService::Json(R"({"status":"done"})")});
    auto page = MakePage();
    Child<QPushButton>(*page, "btnImportMark")->click();
    QTRY_COMPARE(Names(Tree(*page, "treeViewTest")).size(), 1);
    SingleTestWid& panel = *Panels(*page).first();
    Start(panel, "V2024-01-02_03-04-05");
    QTRY_VERIFY(!Running(panel));
    // One place predicted as both categories.
    const QString path = PrjIns().lock()->Images().first()->path;
    const QString relative = path.mid(PrjPath().size() + 6).replace(".png", ".json");
    QVERIFY(Touch(PrjPath() + "/test/V2024-01-02_03-04-05" + relative,
                  R"({"imagePath":"x.png","imageData":null,"shapes":[)"
                  R"({"label":"spot","shape_type":"rectangle","points":[[1,1],[5,5]]},)"
                  R"({"label":"scratch","shape_type":"rectangle","points":[[1,1],[5,5]]}]})"));
    Child<QPushButton>(*page, "btnNextImg")->click();
    auto* canvas = Child<DataWidget>(panel, "widImgView");
    QTRY_COMPARE(Titles(canvas->record()), (QStringList{"spot", "scratch"}));
    QCOMPARE(canvas->categories(), (QStringList{"scratch", "spot"}));
    canvas->grab();
    const auto rois = canvas->record().lock()->rois;
    QCOMPARE(rois.at(0)->outlineColor(), CategoryPalette::At(1));
    QCOMPARE(rois.at(1)->outlineColor(), CategoryPalette::At(0));
    // The canvas writes the titles itself, apart from each other.
    QVERIFY(!rois.at(0)->titleShown() && !rois.at(1)->titleShown());
}

void tst_TestingPage::RunLabelled(SingleTestWid& panel, const QString& version,
                                  const comlib::protocol::TestSummary& summary)
{
    // The status is held until the summary lies where the service leaves it.
    m_service->Script("/test_model", {FakeTrainService::Json(R"({"status":"running"})")});
    m_service->Script("/get_test_status", {FakeTrainService::Hold()});
    Start(panel, version);
    // Held on purpose, which must not count as a service that hangs.
    panel.findChild<comlib::ServiceClient*>()->SetTimeoutMs(60000);
    QTRY_VERIFY_WITH_TIMEOUT(m_service->HeldCount() >= 1, 10000);
    QVERIFY(Touch(PrjPath() + "/test/" + version + "/test_summary.result",
                  QJsonDocument(summary.ToJson()).toJson()));
    m_service->ReleaseHeld(R"({"status":"done","loss_rate":[0.5,0],"overkill_rate":[0,0]})");
    QTRY_VERIFY(!Running(panel));
}

void tst_TestingPage::operatingPoints()
{
    OpenProject(4);
    const QString version = "V2024-01-02_03-04-05";
    const QString versionDir = MakeVersion(version, {"scratch", "spot"});
    const auto images = PrjIns().lock()->Images().values();
    comlib::protocol::TestSummary summary;
    summary.classes = QStringList{"scratch", "spot"};
    // scratch: held by 0, 1 and 2, scored 0.9, 0.6 and 0.3; 3 is scored 0.5 without it.
    summary.images = {{images[0]->path, {0.9, 0}, QVector<bool>{true, false}},
                      {images[1]->path, {0.6, 0}, QVector<bool>{true, false}},
                      {images[2]->path, {0.3, 0.2}, QVector<bool>{true, true}},
                      {images[3]->path, {0.5, 0}, QVector<bool>{false, false}}};
    auto page = MakePage();
    Child<QPushButton>(*page, "btnImportMark")->click();
    SingleTestWid& panel = *Panels(*page).first();
    auto* rates = Child<QLabel>(panel, "lbClassRates");
    auto* threshold = Child<QDoubleSpinBox>(panel, "spinThreshold");
    QCOMPARE(Child<QLabel>(panel, "lbSavedThresholds")->text(), U("阈值：服务默认"));
    RunLabelled(panel, version, summary);

    auto* classes = Child<QComboBox>(panel, "cbClass");
    QCOMPARE(classes->count(), 2);
    QVERIFY(!Child<QWidget>(panel, "OperatingPointWid")->isHidden());
    QCOMPARE(threshold->value(), 0.0);
    QCOMPARE(Shown(rates), U("漏检 0/3 (0.0%)\n过杀 1/1 (100.0%)"));
    QVERIFY(Child<QtCharts::QChartView>(panel, "chartRates")->chart()->title().contains(U("4 张带标注")));
    threshold->setValue(0.55);
    QCOMPARE(Shown(rates), U("漏检 1/3 (33.3%)\n过杀 0/1 (0.0%)"));
    // Nothing missed costs the overkill of image 3; a third missed allows 0.6.
    Child<QPushButton>(panel, "btnLowestOverkill")->click();
    QCOMPARE(threshold->value(), 0.3);
    Child<QDoubleSpinBox>(panel, "spinMaxMissed")->setValue(33.4);
    Child<QPushButton>(panel, "btnLowestOverkill")->click();
    QCOMPARE(threshold->value(), 0.6);
    classes->setCurrentIndex(1);
    QCOMPARE(Shown(rates), U("漏检 0/1 (0.0%)\n过杀 0/3 (0.0%)"));
    threshold->setValue(0.25);
    QCOMPARE(Shown(rates), U("漏检 1/1 (100.0%)\n过杀 0/3 (0.0%)"));
    QCOMPARE(panel.Thresholds(), (QVector<double>{0.6, 0.25}));

    Child<QPushButton>(panel, "btnSaveThresholds")->click();
    comlib::protocol::ClassThresholds saved;
    QString error;
    QVERIFY2(comlib::protocol::ClassThresholds::FromJson(ReadJson(versionDir + "/model/thresholds.json"),
                                                         saved, error),
             qPrintable(error));
    QCOMPARE(saved.thresholds, (QVector<double>{0.6, 0.25}));
    QCOMPARE(saved.testSet.images, 4);
    QCOMPARE(saved.testSet.fingerprint, summary.Fingerprint());
    QCOMPARE(Child<QLabel>(panel, "lbSavedThresholds")->text(), U("阈值：scratch 0.60，spot 0.25"));
    QVERIFY(m_probe->Messages().isEmpty());

    // The next test of the version starts from the saved thresholds.
    RunLabelled(panel, version, summary);
    QCOMPARE(panel.Thresholds(), (QVector<double>{0.6, 0.25}));
}

void tst_TestingPage::errorBrowserAnyPanel()
{
    OpenProject(3);
    const QString version = "V2024-01-02_03-04-05";
    MakeVersion(version, {"scratch", "spot"});
    const auto images = PrjIns().lock()->Images().values();
    comlib::protocol::TestSummary summary;
    summary.classes = QStringList{"scratch", "spot"};
    // Image 0 holds scratch but is seen as spot: missed under scratch, overkill under spot.
    summary.images = {{images[0]->path, {0, 0.8}, QVector<bool>{true, false}},
                      {images[1]->path, {0.9, 0}, QVector<bool>{true, false}},
                      {images[2]->path, {0, 0.4}, QVector<bool>{false, false}}};
    auto page = MakePage();
    auto* tree = Tree(*page, "treeViewErrors");
    m_testers.push_back(std::make_unique<QAbstractItemModelTester>(tree->model()));
    Child<QPushButton>(*page, "btnImportMark")->click();
    Child<QPushButton>(*page, "btnAddTest")->click();
    auto* panelChoice = Child<QComboBox>(*page, "cbErrorPanel");
    QCOMPARE(panelChoice->count(), 2);
    // The second panel in the row, not the first made.
    SingleTestWid* second = page->findChild<TestContainerWid*>()->PanelsInRow().at(1);
    RunLabelled(*second, version, summary);
    QCOMPARE(panelChoice->itemText(1), U("面板 2：") + version);
    panelChoice->setCurrentIndex(1);
    const auto groups = [tree]
    {
        QStringList texts;
        for (int g = 0; g < tree->model()->rowCount(); ++g)
            texts.append(tree->model()->index(g, 0).data().toString());
        return texts;
    };
    QCOMPARE(groups(), (QStringList{U("漏检 · scratch (1)"), U("过杀 · spot (2)")}));
    QCOMPARE(Names(tree), (QStringList{images[0]->fileName + "  0.00", images[0]->fileName + "  0.80",
                                       images[2]->fileName + "  0.40"}));

    // D steps through the images of the browser and shows each.
    Child<QTabWidget>(*page, "tabWidget")->setCurrentWidget(Child<QWidget>(*page, "tabErrors"));
    Child<QPushButton>(*page, "btnNextImg")->click();
    Child<QPushButton>(*page, "btnNextImg")->click();
    Child<QPushButton>(*page, "btnNextImg")->click();
    QCOMPARE(Child<PathWid>(*page, "widPath")->Path(), images[2]->path);

    // A threshold moved on the panel changes the groups at once.
    Child<QComboBox>(*second, "cbClass")->setCurrentIndex(1);
    Child<QDoubleSpinBox>(*second, "spinThreshold")->setValue(0.5);
    QCOMPARE(groups(), (QStringList{U("漏检 · scratch (1)"), U("过杀 · spot (1)")}));

    // Other test images: the results of every panel go, the browser's too.
    Child<QPushButton>(*page, "btnClearup")->click();
    QCOMPARE(tree->model()->rowCount(), 0);
    QCOMPARE(Child<QTableView>(*second, "tblViewRlt")->model()->rowCount(), 0);
    QVERIFY(!second->Rates());
    QVERIFY(Child<QWidget>(*second, "OperatingPointWid")->isHidden());
}

void tst_TestingPage::heldOutFolderIsLabelled()
{
    OpenProject(1);
    const QString version = "V2024-01-02_03-04-05";
    const QString versionDir = MakeVersion(version, {"scratch"});
    const QString folder = m_fixture.Path() + "/held";
    QVERIFY(WriteImage(folder + "/a.png"));
    QVERIFY(WriteImage(folder + "/sub/b.png"));
    QVERIFY(WriteImage(folder + "/c.png"));
    QVERIFY(Touch(folder + "/a.json", Prediction("scratch")));
    QVERIFY(Touch(folder + "/sub/b.json", Prediction("scratch")));
    auto page = MakePage();
    auto* note = Child<QLabel>(*page, "lbTestTruth");
    Child<QPushButton>(*page, "btnImportMark")->click();
    QVERIFY(note->text().contains(U("训练用过")));

    ChooseInDialog(folder);
    Child<QPushButton>(*page, "btnImportDir")->click();
    QTRY_COMPARE(Names(Tree(*page, "treeViewTest")).size(), 3);
    QCOMPARE(note->text(), U("3 张图片，其中 2 张带标注（图片旁的标注文件），按带标注测试。"));
    Start(*Panels(*page).first(), version);
    const QJsonObject config = ReadJson(versionDir + "/test.json");
    QCOMPARE(config.value("predict_mode").toString(), QString("labeled"));
    QCOMPARE(config.value("predict_path").toString(), folder);
    Child<QPushButton>(*Panels(*page).first(), "btnRunTest")->click();

    // A folder without annotation files stays unlabelled.
    QVERIFY(QFile::remove(folder + "/a.json"));
    QVERIFY(QFile::remove(folder + "/sub/b.json"));
    ChooseInDialog(folder);
    Child<QPushButton>(*page, "btnImportDir")->click();
    QTRY_COMPARE(note->text(), U("3 张图片，无标注。"));
    QCOMPARE(PrjIns().lock()->TestLabeled(), 0);
}

void tst_TestingPage::comparisonReport()
{
    OpenProject(3);
    const QString before = "V2024-01-02_03-04-05";
    const QString after = "V2024-02-02_03-04-05";
    MakeVersion(before, {"scratch"});
    MakeVersion(after, {"scratch"});
    const auto images = PrjIns().lock()->Images().values();
    comlib::protocol::TestSummary earlier;
    earlier.classes = QStringList{"scratch"};
    // Image 0 missed before, found after; image 1 right before, falsely found after; image 2 right in both.
    earlier.images = {{images[0]->path, {0}, QVector<bool>{true}},
                      {images[1]->path, {0}, QVector<bool>{false}},
                      {images[2]->path, {0.9}, QVector<bool>{true}}};
    comlib::protocol::TestSummary later = earlier;
    later.images[0].scores = {0.7};
    later.images[1].scores = {0.6};
    auto page = MakePage();
    Child<QPushButton>(*page, "btnImportMark")->click();
    Child<QPushButton>(*page, "btnAddTest")->click();
    const auto panels = page->findChild<TestContainerWid*>()->PanelsInRow();

    Child<QPushButton>(*page, "btnCompare")->click();
    QCOMPARE(m_probe->Messages().size(), 1);
    QCOMPARE(m_probe->Messages()[0].kind, int(NOTIFY_ABOUT));
    RunLabelled(*panels[0], before, earlier);
    RunLabelled(*panels[1], after, later);

    const QString csvPath = m_fixture.Path() + "/report.csv";
    ChooseInDialog(csvPath);
    Child<QPushButton>(*page, "btnCompare")->click();
    QCOMPARE(m_probe->Messages().size(), 2);
    QCOMPARE(m_probe->Messages()[1].text, before + U(" → ") + after + U("：修复 1，破坏 1，净变化 0"));
    QFile csv(csvPath);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(csv.readAll());
    QVERIFY(text.contains(earlier.Fingerprint()));
    QVERIFY(text.contains(before + ",scratch 0.000"));
    QVERIFY(text.contains(before + " -> " + after + ",scratch,1,1,0"));
    QVERIFY(text.contains(before + " -> " + after + U(",scratch,修复,") + images[0]->path));
    QVERIFY(text.contains(before + " -> " + after + U(",scratch,破坏,") + images[1]->path));

    const QString htmlPath = m_fixture.Path() + "/report.html";
    ChooseInDialog(htmlPath);
    Child<QPushButton>(*page, "btnCompare")->click();
    QFile html(htmlPath);
    QVERIFY(html.open(QIODevice::ReadOnly));
    const QString page2 = QString::fromUtf8(html.readAll());
    QVERIFY(page2.startsWith("<!DOCTYPE html>"));
    QCOMPARE(page2.count("data:image/jpeg;base64,"), 2);
    QVERIFY(page2.contains(earlier.Fingerprint()));

    // Another set on one panel: nothing to compare.
    later.images.removeLast();
    RunLabelled(*panels[1], after, later);
    Child<QPushButton>(*page, "btnCompare")->click();
    QCOMPARE(m_probe->Messages().last().text, U("各面板不是在同一组带标注的图片上测试的，无法对比。"));
}

// One click tests the chosen version on the images it kept for validation, named by the record; every
// panel then tests that set, until other test images are chosen.
void tst_TestingPage::validationSetInOneAction()
{
    OpenProject(4);
    const auto images = PrjIns().lock()->Images().values();
    const QDir datas(PrjPath() + "/datas");
    QStringList kept{datas.relativeFilePath(images[2]->path), datas.relativeFilePath(images[0]->path)};
    kept.sort();
    const QString version = "V2024-01-02_03-04-05";
    const QString versionDir = MakeVersion(version, {"scratch"});
    comlib::protocol::ModelRecord record;
    record.classes = QStringList{"scratch"};
    // Names that are no image of the project are passed over.
    record.valPaths = kept + QStringList{"../../escape.png", "RawDatas/gone.png"};
    QVERIFY(Touch(versionDir + "/model/Config.json", QJsonDocument(record.ToJson()).toJson()));
    const QString oldVersion = "V2023-01-02_03-04-05";
    MakeVersion(oldVersion, {"scratch"});

    auto page = MakePage();
    Child<QPushButton>(*page, "btnAddTest")->click();
    const QList<SingleTestWid*> panels = page->findChild<TestContainerWid*>()->PanelsInRow();
    SingleTestWid& first = *panels.at(0);
    auto* combo = Child<QComboBox>(first, "cbModel");
    QTRY_VERIFY(combo->findText(oldVersion) >= 0);
    combo->setCurrentIndex(combo->findText(oldVersion));
    Child<QPushButton>(first, "btnTestValSet")->click();
    QCOMPARE(m_probe->Messages().size(), 1);
    QVERIFY(m_probe->Messages().first().text.contains(U("没有记录验证集")));
    QVERIFY(m_service->RequestsTo("/test_model").isEmpty());

    combo->setCurrentIndex(combo->findText(version));
    m_service->Script("/test_model", {FakeTrainService::Json(R"({"status":"running"})")});
    // The first poll waits for the summary; later runs keep running until stopped.
    m_service->Script("/get_test_status",
                      {FakeTrainService::Hold(), FakeTrainService::Json(R"({"status":"running"})")});
    first.findChild<comlib::ServiceClient*>()->SetTimeoutMs(60000);
    first.findChild<comlib::ServiceRun*>()->SetIntervalMs(100);
    Child<QPushButton>(first, "btnTestValSet")->click();
    QTRY_COMPARE(m_service->RequestsTo("/test_model").size(), 1);
    const QJsonObject config = ReadJson(versionDir + "/test.json");
    QCOMPARE(config.value("predict_mode").toString(), QString("labeled"));
    QCOMPARE(config.value("predict_path").toString(), PrjPath() + "/datas");
    QCOMPARE(config.value("predict_images").toVariant().toStringList(), kept);
    QCOMPARE(Names(Tree(*page, "treeViewTest")).size(), 2);
    QVERIFY(Child<QLabel>(*page, "lbTestTruth")->text().contains(U("验证集")));
    QVERIFY(!Child<QPushButton>(first, "btnTestValSet")->isEnabled());

    // The result says which set it was measured on.
    QTRY_VERIFY_WITH_TIMEOUT(m_service->HeldCount() >= 1, 10000);
    comlib::protocol::TestSummary summary;
    summary.classes = QStringList{"scratch"};
    summary.images = {{images[0]->path, {0.9}, QVector<bool>{true}},
                      {images[2]->path, {0.1}, QVector<bool>{true}}};
    QVERIFY(Touch(PrjPath() + "/test/" + version + "/test_summary.result",
                  QJsonDocument(summary.ToJson()).toJson()));
    m_service->ReleaseHeld(R"({"status":"done","loss_rate":[0],"overkill_rate":[0]})");
    QTRY_VERIFY(!Running(first));
    QVERIFY(Child<QPushButton>(first, "btnTestValSet")->isEnabled());
    QCOMPARE(first.TestSet().name, version + U(" 验证集"));
    QCOMPARE(first.TestSet().images, 2);

    // Another panel compares on the same images, also when it asks for the same set again: the first
    // panel keeps its results. Choosing other test images ends the set.
    panels.at(1)->findChild<comlib::ServiceClient*>()->SetTimeoutMs(1000);
    panels.at(1)->findChild<comlib::ServiceRun*>()->SetIntervalMs(100);
    auto* secondCombo = Child<QComboBox>(*panels.at(1), "cbModel");
    secondCombo->setCurrentIndex(secondCombo->findText(version));
    Child<QPushButton>(*panels.at(1), "btnTestValSet")->click();
    QTRY_COMPARE(m_service->RequestsTo("/test_model").size(), 2);
    QCOMPARE(ReadJson(versionDir + "/test.json").value("predict_images").toVariant().toStringList(), kept);
    QCOMPARE(first.TestSet().name, version + U(" 验证集"));
    QVERIFY(!Child<QLabel>(first, "lbStatuVal")->text().isEmpty());
    QCOMPARE(Names(Tree(*page, "treeViewTest")).size(), 2);
    Child<QPushButton>(*panels.at(1), "btnRunTest")->click();
    // The stop request reaches the service before the next start is counted.
    QTRY_COMPARE(m_service->RequestsTo("/test_model").size(), 3);
    Child<QPushButton>(*page, "btnImportMark")->click();
    Start(first, version);
    QVERIFY(!ReadJson(versionDir + "/test.json").contains("predict_images"));
    QCOMPARE(m_probe->Messages().size(), 1);
}

// An image shown from the error browser carries its truth under the prediction, each in its class's
// colour, the predicted shapes with their scores; the image's own record is left as it was.
void tst_TestingPage::errorBrowserOverlaysTruth()
{
    OpenProject(1);
    QVERIFY(PrjIns().lock()->AddMarkType("spot"));
    const QString version = "V2024-01-02_03-04-05";
    MakeVersion(version, {"scratch", "spot"});
    const auto image = PrjIns().lock()->Images().first();
    comlib::protocol::TestSummary summary;
    summary.classes = QStringList{"scratch", "spot"};
    summary.images = {{image->path, {0, 0.8}, QVector<bool>{true, false}}};
    auto page = MakePage();
    Child<QPushButton>(*page, "btnImportMark")->click();
    SingleTestWid& panel = *Panels(*page).first();
    RunLabelled(panel, version, summary);
    const QString relative = image->path.mid(PrjPath().size() + 6).replace(".png", ".json");
    QVERIFY(Touch(PrjPath() + "/test/" + version + relative,
                  R"({"imagePath":"x.png","imageData":null,"shapes":[)"
                  R"({"label":"spot","shape_type":"rectangle","points":[[1,1],[5,5]],"score":0.8125},)"
                  R"({"label":"gone","shape_type":"line","points":[[1,1]],"score":0.5},)"
                  R"({"label":"scratch","shape_type":"rectangle","points":[[2,2],[6,6]]}]})"));

    Child<QTabWidget>(*page, "tabWidget")->setCurrentWidget(Child<QWidget>(*page, "tabErrors"));
    Child<QPushButton>(*page, "btnNextImg")->click();
    auto* canvas = Child<DataWidget>(panel, "widImgView");
    QTRY_COMPARE(Titles(canvas->record()), (QStringList{U("标注 scratch"), "spot 0.81", "scratch"}));
    canvas->grab();
    const auto rois = canvas->record().lock()->rois;
    QCOMPARE(rois.at(0)->outlineColor(), CategoryPalette::At(0).lighter(150));
    QCOMPARE(rois.at(1)->outlineColor(), CategoryPalette::At(1));
    QCOMPARE(rois.at(2)->outlineColor(), CategoryPalette::At(0));
    QCOMPARE(Titles(image), QStringList{"scratch"});
    QVERIFY(image->rois.first() != rois.first());

    // D steps on through the browser; the test images' tree shows the prediction alone again.
    Child<QPushButton>(*page, "btnNextImg")->click();
    QCOMPARE(Titles(canvas->record()).size(), 3);
    Child<QTabWidget>(*page, "tabWidget")->setCurrentIndex(0);
    Child<QPushButton>(*page, "btnNextImg")->click();
    QTRY_COMPARE(Titles(canvas->record()), (QStringList{"spot", "scratch"}));
    canvas->grab();
    QCOMPARE(canvas->record().lock()->rois.at(0)->outlineColor(), CategoryPalette::At(1));
}

QTEST_MAIN(tst_TestingPage)
#include "tst_TestingPage.moc"
