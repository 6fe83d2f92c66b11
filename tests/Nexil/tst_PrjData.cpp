#include "CallbackLog.h"
#include "Nexil/ImageFiles.h"
#include "ProjectRecord.h"
#include "SqlRows.h"

#include "Nexil/PrjDataWork.h"
#include "Nexil/PrjMng.h"
#include "Nexil/ROI/AnnotationText.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

namespace
{

// Categories arrive after every image, so this one tells that a project has finished loading.
const char* const kLoaded = "loaded";
const char* const kBatch = "2024-05-06_07-08-09-010";

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// A real image file of the given size; the colour makes files of equal size differ.
bool WriteImage(const QString& path, int width, int height, int colour = 80)
{
    QDir().mkpath(QFileInfo(path).path());
    const cv::Mat image(height, width, CV_8UC3, cv::Scalar(colour, 255 - colour, 30));
    // Written as PNG whatever the name says, so names without a suffix work too.
    std::vector<uchar> bytes;
    if (!cv::imencode(".png", image, bytes))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(reinterpret_cast<const char*>(bytes.data()),
                                                         qint64(bytes.size())) == qint64(bytes.size());
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject ReadJson(const QString& path)
{
    return QJsonDocument::fromJson(ReadFile(path)).object();
}

std::shared_ptr<ROIItem> Rect(const QRectF& rect, const QString& title, int attr = 0)
{
    return std::make_shared<RectROIItem>(rect, attr, title);
}

std::shared_ptr<ROIItem> Polygon(const QPolygonF& polygon, const QString& title, int attr = 1)
{
    return std::make_shared<PolygonROIItem>(polygon, attr, title);
}

std::shared_ptr<pro::ImageInfo> MakeImage(const QString& path, const ROIList& rois, bool markAsOK = false,
                                          const QString& addTime = kBatch)
{
    auto spImg = std::make_shared<pro::ImageInfo>();
    spImg->path = path;
    spImg->fileName = QFileInfo(path).fileName();
    spImg->rois = rois;
    spImg->markAsOK = markAsOK;
    spImg->addTime = addTime;
    spImg->filter = U("手动添加");
    return spImg;
}

// Geometry, attribute and title of a ROI as comparable text.
QString Describe(const ROIItem& roi)
{
    QString text = roi.typeName() + " " + roi.title() + " " + QString::number(roi.roiAttr());
    if (const auto* rect = dynamic_cast<const RectROI*>(&roi))
    {
        const QRectF r = rect->rect();
        text += QString(" %1 %2 %3 %4").arg(r.left()).arg(r.top()).arg(r.width()).arg(r.height());
    }
    if (const auto* polygon = dynamic_cast<const PolygonROI*>(&roi))
    {
        for (const QPointF& p : polygon->polygon())
            text += QString(" %1,%2").arg(p.x()).arg(p.y());
    }
    return text;
}

QStringList Describe(const ROIList& rois)
{
    QStringList list;
    for (const auto& roi : rois)
        list.append(Describe(*roi));
    return list;
}

// Writes rows straight into a project database made with the store's own statement.
bool FillDatabase(const QString& dbFile, const QList<QVariantList>& rows)
{
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "tst_writer");
        db.setDatabaseName(dbFile);
        ok = db.open();
        QSqlQuery query(db);
        ok =
            ok && query.exec("CREATE TABLE IF NOT EXISTS tbl_project_data (id VARCHAR(64) PRIMARY KEY, image "
                             "VARCHAR(512), markAsOK BOOLEAN,filter VARCHAR(64), roiJson TEXT, json TEXT)");
        // The category tells the tests that the project has finished loading.
        ok = ok &&
             query.exec("CREATE TABLE IF NOT EXISTS tbl_ai_mark_category (name VARCHAR(256) PRIMARY KEY, "
                        "json TEXT)") &&
             query.exec(
                 QString("INSERT OR IGNORE INTO tbl_ai_mark_category (name) VALUES ('%1')").arg(kLoaded));
        ok = ok && db.transaction();
        query.prepare(
            "INSERT INTO tbl_project_data (id, image, filter, markAsOK, roiJson) VALUES (?, ?, ?, ?, ?)");
        for (const QVariantList& row : rows)
        {
            for (int i = 0; i < row.size(); ++i)
                query.bindValue(i, row.at(i));
            ok = ok && query.exec();
        }
        ok = ok && db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase("tst_writer");
    return ok;
}

} // namespace

Q_DECLARE_METATYPE(ROIList)

// The open project's store: images copied into the project with their annotation files and rows,
// reloaded at the next opening; categories; deleting.
class tst_PrjData : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void addThenReopen_data();
    void addThenReopen();
    void batchesOfHundred();
    void markAsOKReadBack_data();
    void markAsOKReadBack();
    void missingFileDropped();
    void fileStatesOfManyRows();
    void save_data();
    void save();
    void quoteInTitle_data();
    void quoteInTitle();
    void sameNameInOneBatch_data();
    void sameNameInOneBatch();
    void fileAtDestination_data();
    void fileAtDestination();
    void addFailures_data();
    void addFailures();
    void saveBeforeAddConfirmed();
    void delImage();
    void delImageBeforeAddConfirmed();
    void categories();
    void imageByPath_data();
    void imageByPath();
    void annotationWriteFails_data();
    void annotationWriteFails();
    void storedPathLeavesDatas_data();
    void storedPathLeavesDatas();
    void recordPathLeavesDatas_data();
    void recordPathLeavesDatas();
    void unreadableFolderKeepsRows_data();
    void unreadableFolderKeepsRows();
    void userChangesSurviveConfirmation();
    void resultsFollowTheCommit();
    void sourcesKept_data();
    void sourcesKept();
    void settingKept();

private:
    std::unique_ptr<PrjMng> Open(CallbackLog* log = nullptr);
    bool WaitLoaded(PrjMng& prj) const;
    QString Src(const QString& relative) const { return m_dir->path() + "/src/" + relative; }
    QString Prj() const { return m_dir->path() + "/ws/prj"; }
    QString Raw(const QString& addTime = kBatch) const { return Prj() + "/datas/" + addTime + "/RawDatas"; }
    QString Db() const { return Prj() + "/PrjData.db"; }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_PrjData::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_PrjData::cleanup()
{
    m_dir.reset();
}

std::unique_ptr<PrjMng> tst_PrjData::Open(CallbackLog* log)
{
    const bool fresh = !QFile::exists(Db());
    auto upPrj = std::make_unique<PrjMng>(m_dir->path() + "/ws", MakeInfo("P", "prj"));
    if (fresh)
        upPrj->AddMarkType(kLoaded);
    if (log)
        upPrj->SetSaveCallback(&CallbackLog::Record, log);
    return upPrj;
}

bool tst_PrjData::WaitLoaded(PrjMng& prj) const
{
    return QTest::qWaitFor([&] { return prj.MarkTypes().contains(kLoaded); }, 10000);
}

void tst_PrjData::addThenReopen_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<ROIList>("rois");
    QTest::addColumn<bool>("markAsOK");
    QTest::addColumn<QString>("annotationName");

    QTest::newRow("rectangle and polygon")
        << "cam1/part.png" << QSize(64, 48)
        << ROIList{Rect(QRectF(QPointF(10.25, 20), QPointF(30.5, 40.75)), "scratch"),
                   Polygon(QPolygonF({{1, 2}, {30.5, 4}, {12, 40.25}}), U("凹痕"))}
        << false << "part.json";
    QTest::newRow("OK without ROIs") << "cam1/good.bmp" << QSize(33, 17) << ROIList{} << true << "good.json";
    QTest::newRow("name without a dot") << "cam2/frame" << QSize(20, 10)
                                        << ROIList{Rect(QRectF(1, 1, 5, 5), "dent")} << false << "frame.json";
    QTest::newRow("two dots, non-ASCII")
        << U("相机/图像.v2.png") << QSize(16, 12) << ROIList{Rect(QRectF(0, 0, 3, 3), U("划痕"))} << false
        << U("图像.v2.json");
}

void tst_PrjData::addThenReopen()
{
    QFETCH(QString, source);
    QFETCH(QSize, size);
    QFETCH(ROIList, rois);
    QFETCH(bool, markAsOK);
    QFETCH(QString, annotationName);

    QVERIFY(WriteImage(Src(source), size.width(), size.height()));
    const QString fileName = QFileInfo(source).fileName();
    const QString image = QString("/datas/%1/RawDatas/%2").arg(kBatch, fileName);
    const QString roiText = AnnotationText::buildRoiListText(rois);
    QString id;
    {
        CallbackLog log;
        auto prj = Open(&log);
        auto spImg = MakeImage(Src(source), rois, markAsOK);
        id = prj->AddImage(spImg);
        QVERIFY(QRegularExpression("^[0-9A-F]{11,32}$").match(id).hasMatch());
        QCOMPARE(spImg->id, id);
        QVERIFY(spImg->marked);
        // The record is in the map at once, still with the user's file.
        QCOMPARE(prj->ImageById(id), spImg);
        QCOMPARE(spImg->path, Src(source));

        QTRY_COMPARE(log.ids, QStringList({id}));
        QCOMPARE(log.results, QList<bool>({true}));
        QCOMPARE(log.messages, QStringList({U("添加成功！")}));
        QCOMPARE(spImg->path, Prj() + image);
        QCOMPARE(spImg->image, image);
        QCOMPARE(spImg->prjPath, Prj());
        QCOMPARE(spImg->fileName, fileName);
        QCOMPARE(ReadFile(spImg->path), ReadFile(Src(source)));
    }

    const auto rows = SqlRows::Select(Db(), "select * from tbl_project_data");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0]["id"].toString(), id);
    QCOMPARE(rows[0]["image"].toString(), image);
    QCOMPARE(rows[0]["filter"].toString(), U("手动添加"));
    QCOMPARE(rows[0]["markAsOK"].toInt(), markAsOK ? 1 : 0);
    QCOMPARE(rows[0]["roiJson"].toString(), roiText);
    QVERIFY(rows[0]["json"].isNull());

    const QByteArray annotation = ReadFile(Raw() + "/" + annotationName);
    QCOMPARE(QString::fromUtf8(annotation),
             AnnotationText::buildAnnotationFileText(fileName, size.width(), size.height(), rois));
    const QJsonObject json = QJsonDocument::fromJson(annotation).object();
    QCOMPARE(json["imagePath"].toString(), fileName);
    QCOMPARE(json["imageWidth"].toInt(), size.width());
    QCOMPARE(json["imageHeight"].toInt(), size.height());
    QCOMPARE(json["shapes"].toArray().size(), rois.size());

    auto prj = Open();
    QVERIFY(WaitLoaded(*prj));
    QCOMPARE(prj->Images().keys(), QStringList({id}));
    const auto spImg = prj->ImageById(id);
    QCOMPARE(spImg->path, Prj() + image);
    QCOMPARE(spImg->image, image);
    QCOMPARE(spImg->fileName, fileName);
    QCOMPARE(spImg->prjPath, Prj());
    QCOMPARE(spImg->filter, U("手动添加"));
    QCOMPARE(spImg->markAsOK, markAsOK);
    QVERIFY(spImg->marked);
    QCOMPARE(Describe(spImg->rois), Describe(rois));
}

void tst_PrjData::batchesOfHundred()
{
    QList<QVariantList> rows;
    for (int i = 0; i < 250; ++i)
        rows.append({QString("ID%1").arg(i, 3, 10, QChar('0')), QString("/datas/b/RawDatas/%1.png").arg(i),
                     QString("OK"), i % 2, QString("[]")});
    QVERIFY(QDir().mkpath(Prj()));
    QVERIFY(FillDatabase(Db(), rows));

    PrjDataWork work;
    QSignalSpy spy(&work, &PrjDataWork::Signal_MarkImg);
    work.Slot_Init(Prj());
    QCOMPARE(spy.count(), 3);
    QStringList ids;
    QList<int> sizes;
    for (const QList<QVariant>& batch : spy)
    {
        const QStringList lstId = batch[0].toStringList();
        sizes.append(lstId.size());
        for (int column = 1; column < 5; ++column)
            QCOMPARE(batch[column].toStringList().size(), lstId.size());
        ids += lstId;
    }
    QCOMPARE(sizes, QList<int>({100, 100, 50}));
    QCOMPARE(ids.size(), 250);
    QCOMPARE(ids.first(), QString("ID000"));
    QCOMPARE(ids.last(), QString("ID249"));
    const QList<QVariant>& last = spy.last();
    QCOMPARE(last[1].toStringList().last(), QString("/datas/b/RawDatas/249.png"));
    QCOMPARE(last[3].toStringList().last(), QString("1"));
}

void tst_PrjData::markAsOKReadBack_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("delivered");

    QTest::newRow("1 from an insert") << QVariant(1) << "1";
    QTest::newRow("0 from an insert") << QVariant(0) << "0";
    QTest::newRow("true from an update") << QVariant("true") << "1";
    QTest::newRow("false from an update") << QVariant("false") << "0";
    QTest::newRow("NULL") << QVariant(QVariant::Int) << "0";
}

void tst_PrjData::markAsOKReadBack()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, delivered);
    QVERIFY(QDir().mkpath(Prj()));
    QVERIFY(FillDatabase(Db(), {{"A", "/datas/b/RawDatas/a.png", "", stored, ""}}));
    PrjDataWork work;
    QSignalSpy spy(&work, &PrjDataWork::Signal_MarkImg);
    work.Slot_Init(Prj());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy[0][3].toStringList(), QStringList({delivered}));
}

void tst_PrjData::missingFileDropped()
{
    QVERIFY(WriteImage(Src("keep.png"), 8, 8));
    QVERIFY(WriteImage(Src("gone.png"), 8, 8));
    QString keepId;
    QString goneId;
    {
        CallbackLog log;
        auto prj = Open(&log);
        keepId = prj->AddImage(MakeImage(Src("keep.png"), {Rect(QRectF(0, 0, 2, 2), "a")}));
        goneId = prj->AddImage(MakeImage(Src("gone.png"), {Rect(QRectF(0, 0, 2, 2), "a")}));
        QTRY_COMPARE(log.results, QList<bool>({true, true}));
    }
    QVERIFY(QFile::exists(Raw() + "/gone.json"));
    QVERIFY(QFile::remove(Raw() + "/gone.png"));

    {
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression(QRegularExpression::escape(
                                 U("文件%1丢失，直接通知数据库删掉").arg(Raw() + "/gone.png"))));
        auto prj = Open();
        QVERIFY(WaitLoaded(*prj));
        QCOMPARE(prj->Images().keys(), QStringList({keepId}));
        QVERIFY(!QFile::exists(Raw() + "/gone.json"));
    }
    const auto rows = SqlRows::Select(Db(), "select id from tbl_project_data");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0]["id"].toString(), keepId);
    QVERIFY(QFile::exists(Raw() + "/keep.png"));
    QVERIFY(QFile::exists(Raw() + "/keep.json"));
    // The user's own files are never touched.
    QVERIFY(QFile::exists(Src("gone.png")));
}

// The worker tells what stands at each row's file; past the first rows of a folder it answers from
// one listing of the folder, which must not change the answers. Only files surely gone lose their rows.
void tst_PrjData::fileStatesOfManyRows()
{
    QVERIFY(QDir().mkpath(Raw()));
    QList<QVariantList> rows;
    QMap<QString, int> expected;
    for (int i = 0; i < 250; ++i)
    {
        const QString name = QString("img%1.png").arg(i, 3, 10, QChar('0'));
        const QString id = QString("ID%1").arg(i, 3, 10, QChar('0'));
        int state = PrjDataWork::kFileThere;
        if (i % 40 == 5)
        {
            state = PrjDataWork::kFileMissing;
        }
        else if (i == 30 || i == 210)
        {
            QVERIFY(QDir(Raw()).mkdir(name));
            state = PrjDataWork::kNotAFile;
        }
        else if (i == 20 || i == 220)
        {
            QVERIFY(QFile::link(Raw() + "/img000.png", Raw() + "/" + name));
        }
        else if (i == 230)
        {
            QVERIFY(QFile::link(Raw() + "/none.png", Raw() + "/" + name));
            state = PrjDataWork::kFileMissing;
        }
        else
        {
            QVERIFY(QFile(Raw() + "/" + name).open(QIODevice::WriteOnly));
        }
        rows.append({id, QString("/datas/%1/RawDatas/%2").arg(kBatch, name), "", 0, "[]"});
        expected.insert(id, state);
    }
    rows.append({"OUT", "/datas/../out.png", "", 0, "[]"});
    expected.insert("OUT", PrjDataWork::kPathRefused);
    QVERIFY(FillDatabase(Db(), rows));

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Refused image path"));
    QMap<QString, int> states;
    {
        PrjDataWork work;
        QSignalSpy spy(&work, &PrjDataWork::Signal_MarkImg);
        work.Slot_Init(Prj());
        for (const QList<QVariant>& batch : spy)
        {
            const QStringList ids = batch[0].toStringList();
            const QList<int> batchStates = batch[5].value<QList<int>>();
            QCOMPARE(batchStates.size(), ids.size());
            for (int i = 0; i < ids.size(); ++i)
                states.insert(ids.at(i), batchStates.at(i));
        }
    }
    QCOMPARE(states, expected);

    QStringList listed;
    QStringList stored;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
    {
        if (it.value() == PrjDataWork::kFileThere)
            listed.append(it.key());
        if (it.value() != PrjDataWork::kFileMissing)
            stored.append(it.key());
    }
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Refused image path"));
    for (int i = 0; i < 2; ++i)
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(" is not a file: its image stays"));
    for (int i = 0; i < rows.size() - stored.size(); ++i)
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(U("丢失，直接通知数据库删掉")));
    {
        auto prj = Open();
        QVERIFY(WaitLoaded(*prj));
        QCOMPARE(prj->Images().keys(), listed);
    }
    QStringList left;
    for (const auto& row : SqlRows::Select(Db(), "select id from tbl_project_data order by id"))
        left.append(row["id"].toString());
    QCOMPARE(left, stored);
}

void tst_PrjData::save_data()
{
    QTest::addColumn<bool>("withRoi");
    QTest::addColumn<bool>("markAsOK");
    QTest::addColumn<QString>("storedOK");
    QTest::addColumn<int>("shapes"); // -1: no annotation file

    // ROIs win over OK.
    QTest::newRow("ROI and OK") << true << true << "false" << 1;
    QTest::newRow("OK only") << false << true << "true" << 0;
    QTest::newRow("neither") << false << false << "false" << -1;
}

void tst_PrjData::save()
{
    QFETCH(bool, withRoi);
    QFETCH(bool, markAsOK);
    QFETCH(QString, storedOK);
    QFETCH(int, shapes);

    QVERIFY(WriteImage(Src("s.png"), 40, 30));
    QString id;
    {
        CallbackLog log;
        auto prj = Open(&log);
        auto spImg = MakeImage(Src("s.png"), {Polygon(QPolygonF({{1, 1}, {9, 1}, {5, 7}}), "old")});
        id = prj->AddImage(spImg);
        QTRY_COMPARE(log.results, QList<bool>({true}));

        spImg->rois.clear();
        if (withRoi)
            spImg->rois.append(Rect(QRectF(2, 3, 4, 5), "new"));
        spImg->markAsOK = markAsOK;
        prj->SaveImage(id);
        QCOMPARE(spImg->marked, shapes >= 0);
        QCOMPARE(spImg->markAsOK, storedOK == "true");
        QTRY_COMPARE(log.results, QList<bool>({true, true}));
        QCOMPARE(log.messages.last(), U("保存成功！"));
    }

    const auto rows = SqlRows::Select(Db(), "select image, markAsOK, typeof(markAsOK) t, roiJson from "
                                            "tbl_project_data");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0]["markAsOK"].toString(), storedOK);
    QCOMPARE(rows[0]["t"].toString(), QString("text"));
    QCOMPARE(rows[0]["image"].toString(), QString("/datas/%1/RawDatas/s.png").arg(kBatch));
    if (shapes < 0)
    {
        QCOMPARE(rows[0]["roiJson"].toString(), QString(""));
        QVERIFY(!QFile::exists(Raw() + "/s.json"));
    }
    else
    {
        const QJsonObject json = ReadJson(Raw() + "/s.json");
        QCOMPARE(json["shapes"].toArray().size(), shapes);
        QCOMPARE(json["imageWidth"].toInt(), 40);
    }
    // No temporary file of the atomic write is left behind.
    QCOMPARE(QDir(Raw()).entryList(QDir::Files),
             shapes < 0 ? QStringList({"s.png"}) : QStringList({"s.json", "s.png"}));

    auto prj = Open();
    QVERIFY(WaitLoaded(*prj));
    const auto spImg = prj->ImageById(id);
    QVERIFY(spImg);
    QCOMPARE(spImg->markAsOK, storedOK == "true");
    QCOMPARE(spImg->marked, shapes >= 0);
    QCOMPARE(spImg->rois.size(), withRoi ? 1 : 0);
}

void tst_PrjData::quoteInTitle_data()
{
    QTest::addColumn<QString>("title");

    QTest::newRow("apostrophe") << "it's";
    QTest::newRow("breaks out of the value") << "x', image='/evil.png', roiJson='";
    QTest::newRow("ends the statement") << "a'; delete from tbl_project_data; --";
    QTest::newRow("quotes and non-ASCII") << U("\"引号\" ''");
}

void tst_PrjData::quoteInTitle()
{
    QFETCH(QString, title);
    QVERIFY(WriteImage(Src("one.png"), 10, 10));
    QVERIFY(WriteImage(Src("two.png"), 10, 10));
    QString id;
    QString otherId;
    {
        CallbackLog log;
        auto prj = Open(&log);
        auto spImg = MakeImage(Src("one.png"), {Rect(QRectF(0, 0, 2, 2), "a")});
        id = prj->AddImage(spImg);
        otherId = prj->AddImage(MakeImage(Src("two.png"), {Rect(QRectF(0, 0, 2, 2), "b")}));
        QTRY_COMPARE(log.results.size(), 2);
        QVERIFY(prj->AddMarkType(title));

        spImg->rois.first()->setTitle(title);
        prj->SaveImage(id);
        QTRY_COMPARE(log.results, QList<bool>({true, true, true}));
        QCOMPARE(log.messages.last(), U("保存成功！"));
    }

    const auto rows = SqlRows::Select(Db(), "select id, image, roiJson from tbl_project_data order by image");
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0]["image"].toString(), QString("/datas/%1/RawDatas/one.png").arg(kBatch));
    QCOMPARE(rows[1]["image"].toString(), QString("/datas/%1/RawDatas/two.png").arg(kBatch));
    QCOMPARE(rows[1]["roiJson"].toString(),
             AnnotationText::buildRoiListText({Rect(QRectF(0, 0, 2, 2), "b")}));
    QCOMPARE(ReadJson(Raw() + "/one.json")["shapes"].toArray()[0].toObject()["label"].toString(), title);

    auto prj = Open();
    QVERIFY(WaitLoaded(*prj));
    QCOMPARE(prj->ImageById(id)->rois.first()->title(), title);
    QCOMPARE(prj->ImageById(otherId)->rois.first()->title(), QString("b"));
    QVERIFY(prj->MarkTypes().contains(title));
}

void tst_PrjData::sameNameInOneBatch_data()
{
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("two folders") << QStringList({"OK/a.png", "NG/a.png"})
                                 << QStringList({"a.png", "a_1.png"});
    QTest::newRow("three folders") << QStringList({"x/a.png", "y/a.png", "z/a.png"})
                                   << QStringList({"a.png", "a_1.png", "a_2.png"});
    QTest::newRow("free name taken by a real file")
        << QStringList({"x/a.png", "y/a_1.png", "z/a.png"}) << QStringList({"a.png", "a_1.png", "a_2.png"});
    QTest::newRow("without a dot") << QStringList({"x/frame", "y/frame"})
                                   << QStringList({"frame", "frame_1"});
    // Both would write a.json.
    QTest::newRow("same base name") << QStringList({"x/a.png", "y/a.bmp"})
                                    << QStringList({"a.png", "a_1.bmp"});
}

void tst_PrjData::sameNameInOneBatch()
{
    QFETCH(QStringList, sources);
    QFETCH(QStringList, names);

    QList<std::shared_ptr<pro::ImageInfo>> images;
    {
        CallbackLog log;
        auto prj = Open(&log);
        for (int i = 0; i < sources.size(); ++i)
        {
            QVERIFY(WriteImage(Src(sources[i]), 10 + i, 5 + i, 40 * i));
            images.append(MakeImage(Src(sources[i]), {Rect(QRectF(i, i, 1, 1), QString("t%1").arg(i))}));
            prj->AddImage(images.last());
        }
        QTRY_COMPARE(log.results.size(), sources.size());
        QVERIFY(!log.results.contains(false));
        for (int i = 0; i < sources.size(); ++i)
        {
            const QString expected = Raw() + "/" + names[i];
            QCOMPARE(images[i]->path, expected);
            QCOMPARE(images[i]->fileName, names[i]);
            QCOMPARE(ReadFile(expected), ReadFile(Src(sources[i])));
            const QJsonObject json = ReadJson(Raw() + "/" + PrjDataWork::BaseName(names[i]) + ".json");
            QCOMPARE(json["imagePath"].toString(), names[i]);
            QCOMPARE(json["imageWidth"].toInt(), 10 + i);
            QCOMPARE(json["shapes"].toArray()[0].toObject()["label"].toString(), QString("t%1").arg(i));
        }
    }
    auto prj = Open();
    QVERIFY(WaitLoaded(*prj));
    for (const auto& spImg : images)
    {
        const auto spLoaded = prj->ImageById(spImg->id);
        QVERIFY(spLoaded);
        QCOMPARE(spLoaded->path, spImg->path);
        QCOMPARE(Describe(spLoaded->rois), Describe(spImg->rois));
    }
}

void tst_PrjData::fileAtDestination_data()
{
    QTest::addColumn<QString>("spelling");

    QTest::newRow("same text") << "%1/in.png";
    QTest::newRow("doubled separators and dot") << "%1//./in.png";
}

void tst_PrjData::fileAtDestination()
{
    QFETCH(QString, spelling);
    QVERIFY(WriteImage(Raw() + "/in.png", 12, 9));
    const QByteArray before = ReadFile(Raw() + "/in.png");

    CallbackLog log;
    auto prj = Open(&log);
    auto spImg = MakeImage(spelling.arg(Raw()), {Rect(QRectF(1, 1, 2, 2), "a")});
    spImg->fileName = "in.png";
    const QString id = prj->AddImage(spImg);
    QTRY_COMPARE(log.results, QList<bool>({true}));
    QCOMPARE(spImg->path, Raw() + "/in.png");
    QCOMPARE(ReadFile(Raw() + "/in.png"), before);
    QCOMPARE(QDir(Raw()).entryList(QDir::Files), QStringList({"in.json", "in.png"}));
    QCOMPARE(ReadJson(Raw() + "/in.json")["imageWidth"].toInt(), 12);
    prj.reset();
    const auto rows = SqlRows::Select(Db(), "select id, image from tbl_project_data");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0]["image"].toString(), QString("/datas/%1/RawDatas/in.png").arg(kBatch));
}

void tst_PrjData::addFailures_data()
{
    QTest::addColumn<QString>("blocker"); // a file that stands where a folder is needed
    QTest::addColumn<bool>("sourceExists");
    QTest::addColumn<QString>("addTime");
    QTest::addColumn<bool>("brokenTable");
    QTest::addColumn<QString>("message");

    QTest::newRow("source missing") << "" << false << kBatch << false
                                    << U("添加标注信息失败，原因：原图拷贝失败！");
    QTest::newRow("datas is a file") << "/datas" << true << kBatch << false
                                     << U("添加标注信息失败，原因：创建图片目录失败！");
    QTest::newRow("stamp leaves the project")
        << "" << true << "../../out" << false << U("添加标注信息失败，原因：创建图片目录失败！");
    QTest::newRow("insert fails") << "" << true << kBatch << true
                                  << U("添加标注信息失败，原因：数据库插入/更新失败！");
}

void tst_PrjData::addFailures()
{
    QFETCH(QString, blocker);
    QFETCH(bool, sourceExists);
    QFETCH(QString, addTime);
    QFETCH(bool, brokenTable);
    QFETCH(QString, message);

    if (sourceExists)
        QVERIFY(WriteImage(Src("f.png"), 4, 4));
    QVERIFY(QDir().mkpath(Prj()));
    if (!blocker.isEmpty())
    {
        QFile file(Prj() + blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    if (brokenTable)
    {
        // A table of that name without the store's columns: the insert cannot succeed.
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "tst_broken");
        db.setDatabaseName(Db());
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec("CREATE TABLE tbl_project_data (id VARCHAR(64) PRIMARY KEY)"));
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("tst_broken");
    }
    CallbackLog log;
    auto prj = Open(&log);
    auto spImg = MakeImage(Src("f.png"), {Rect(QRectF(0, 0, 1, 1), "a")}, false, addTime);
    QTest::ignoreMessage(QtCriticalMsg,
                         QRegularExpression(brokenTable ? U("^插入/更新失败:") : U("失败。$")));
    const QString id = prj->AddImage(spImg);
    QTRY_COMPARE(log.ids, QStringList({id}));
    QCOMPARE(log.results, QList<bool>({false}));
    QCOMPARE(log.messages, QStringList({message}));
    // The record is as before the add: no id, not in the project, so the next store adds it again.
    QVERIFY(!prj->ImageById(id));
    QVERIFY(prj->Images().isEmpty());
    QCOMPARE(spImg->id, QString());
    QCOMPARE(spImg->path, Src("f.png"));
    QVERIFY(!spImg->marked);
    prj.reset();
    QCOMPARE(SqlRows::Select(Db(), "select id from tbl_project_data").size(), 0);
    QVERIFY(!QFileInfo::exists(m_dir->path() + "/ws/out"));
    // Nothing is left in the project for an image that is not in it.
    QCOMPARE(QDir(Raw()).entryList(QDir::Files), QStringList());
    QVERIFY(QFile::exists(Src("f.png")) == sourceExists);
}

void tst_PrjData::saveBeforeAddConfirmed()
{
    QVERIFY(WriteImage(Src("x/a.png"), 10, 10));
    QVERIFY(WriteImage(Src("y/a.png"), 14, 7, 200));
    CallbackLog log;
    auto prj = Open(&log);
    prj->AddImage(MakeImage(Src("x/a.png"), {Rect(QRectF(0, 0, 1, 1), "first")}));
    auto spImg = MakeImage(Src("y/a.png"), {Rect(QRectF(0, 0, 1, 1), "old")});
    const QString id = prj->AddImage(spImg);
    // Stored again before the worker has confirmed the copy: the record does not know its path yet.
    spImg->rois.append(Polygon(QPolygonF({{1, 1}, {5, 1}, {3, 4}}), "second"));
    prj->SaveImage(id);
    QTRY_COMPARE(log.results, QList<bool>({true, true, true}));
    QCOMPARE(log.messages, QStringList({U("添加成功！"), U("添加成功！"), U("保存成功！")}));
    QCOMPARE(spImg->path, Raw() + "/a_1.png");

    const QJsonObject json = ReadJson(Raw() + "/a_1.json");
    QCOMPARE(json["imagePath"].toString(), QString("a_1.png"));
    QCOMPARE(json["shapes"].toArray().size(), 2);
    QCOMPARE(ReadJson(Raw() + "/a.json")["shapes"].toArray()[0].toObject()["label"].toString(),
             QString("first"));
    prj.reset();
    const auto rows =
        SqlRows::Select(Db(), "select image, roiJson from tbl_project_data where id='" + id + "'");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0]["image"].toString(), QString("/datas/%1/RawDatas/a_1.png").arg(kBatch));
    QVERIFY(rows[0]["roiJson"].toString().contains("second"));
}

void tst_PrjData::delImage()
{
    QVERIFY(WriteImage(Src("d.png"), 6, 6));
    QVERIFY(WriteImage(Src("e.png"), 6, 6));
    CallbackLog log;
    auto prj = Open(&log);
    const QString id = prj->AddImage(MakeImage(Src("d.png"), {Rect(QRectF(0, 0, 1, 1), "a")}));
    const QString keepId = prj->AddImage(MakeImage(Src("e.png"), {Rect(QRectF(0, 0, 1, 1), "a")}));
    QTRY_COMPARE(log.results.size(), 2);
    QVERIFY(QFile::exists(Raw() + "/d.json"));

    prj->DelImage("");
    prj->DelImage("unknown");
    prj->DelImage(id);
    QVERIFY(!prj->ImageById(id));
    QVERIFY(!QFile::exists(Raw() + "/d.png"));
    QVERIFY(!QFile::exists(Raw() + "/d.json"));
    QVERIFY(QFile::exists(Src("d.png")));
    QVERIFY(QFile::exists(Raw() + "/e.png"));
    QVERIFY(QFile::exists(Raw() + "/e.json"));
    prj.reset();
    const auto rows = SqlRows::Select(Db(), "select id from tbl_project_data");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0]["id"].toString(), keepId);
}

void tst_PrjData::delImageBeforeAddConfirmed()
{
    QVERIFY(WriteImage(Src("own.png"), 6, 6));
    QVERIFY(WriteImage(Src("own.json"), 1, 1));
    CallbackLog log;
    auto prj = Open(&log);
    const QString id = prj->AddImage(MakeImage(Src("own.png"), {Rect(QRectF(0, 0, 1, 1), "a")}));
    // The record still points at the user's file, which must survive the delete.
    prj->DelImage(id);
    QTRY_COMPARE(log.results, QList<bool>({true}));
    QVERIFY(QFile::exists(Src("own.png")));
    QVERIFY(QFile::exists(Src("own.json")));
    // The confirmation of the copy does not bring the image back.
    QVERIFY(prj->Images().isEmpty());
    prj.reset();
    QCOMPARE(SqlRows::Select(Db(), "select id from tbl_project_data").size(), 0);
    QCOMPARE(QDir(Raw()).entryList(QDir::Files), QStringList());
}

void tst_PrjData::categories()
{
    {
        auto prj = Open();
        QSignalSpy spy(prj.get(), &PrjMng::Signal_AddMarkType);
        QVERIFY(!prj->AddMarkType(""));
        QVERIFY(!prj->AddMarkType(kLoaded));
        QCOMPARE(spy.count(), 0);
        QVERIFY(prj->AddMarkType("scratch"));
        QVERIFY(prj->AddMarkType("dent"));
        QVERIFY(!prj->AddMarkType("scratch"));
        QCOMPARE(spy.count(), 2);
        prj->DelMarkType("scratch");
        QVERIFY(prj->AddMarkType("rust"));
    }
    auto prj = Open();
    QVERIFY(WaitLoaded(*prj));
    QCOMPARE(prj->MarkTypes(), QStringList({kLoaded, "dent", "rust"}));
}

void tst_PrjData::imageByPath_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("found");

    QTest::newRow("as stored") << "%1/RawDatas/q.png" << true;
    QTest::newRow("with ..") << "%1/RawDatas/../RawDatas/q.png" << true;
    QTest::newRow("doubled separators") << "%1//RawDatas///q.png" << true;
    QTest::newRow("other letter case") << "%1/RAWDATAS/Q.PNG" << true;
    QTest::newRow("other file") << "%1/RawDatas/q2.png" << false;
    QTest::newRow("empty") << "" << false;
}

void tst_PrjData::imageByPath()
{
    QFETCH(QString, query);
    QFETCH(bool, found);
    QVERIFY(WriteImage(Src("q.png"), 5, 5));
    CallbackLog log;
    auto prj = Open(&log);
    const QString id = prj->AddImage(MakeImage(Src("q.png"), {Rect(QRectF(0, 0, 1, 1), "a")}));
    QTRY_COMPARE(log.results.size(), 1);
    const QString folder = Prj() + "/datas/" + kBatch;
    const auto spImg = prj->ImageByPath(query.contains("%1") ? query.arg(folder) : query);
    QCOMPARE(spImg ? spImg->id : QString(), found ? id : QString());
}

void tst_PrjData::annotationWriteFails_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("message");

    QTest::newRow("add") << "add" << U("添加标注信息失败，原因：标注文件%1写入失败！");
    QTest::newRow("save") << "save" << U("保存标注信息失败，原因：标注文件%1写入失败！");
    QTest::newRow("save clearing the annotation")
        << "clear" << U("保存标注信息失败，原因：标注文件%1写入失败！");
}

// A folder stands where the annotation file must be written: the failure is reported with the
// file's name, the row keeps what the file says, and the next store after the folder is gone works.
void tst_PrjData::annotationWriteFails()
{
    QFETCH(QString, operation);
    QFETCH(QString, message);
    const QString annotation = Raw() + "/a.json";
    // An image added from where its copy would go: no other name is chosen for its annotation file.
    QVERIFY(WriteImage(Raw() + "/a.png", 20, 10));
    CallbackLog log;
    auto prj = Open(&log);
    auto spImg = MakeImage(Raw() + "/a.png", {Rect(QRectF(1, 1, 2, 2), "old")});
    if (operation != "add")
    {
        prj->AddImage(spImg);
        QTRY_COMPARE(log.results, QList<bool>({true}));
        QVERIFY(QFile::remove(annotation));
    }
    QVERIFY(QDir().mkpath(annotation));
    const QString storedRoi = operation == "add" ? QString() : AnnotationText::buildRoiListText(spImg->rois);

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("annotation file .*a\\.json failed"));
    if (operation == "add")
    {
        prj->AddImage(spImg);
    }
    else
    {
        spImg->rois = operation == "save" ? ROIList{Rect(QRectF(3, 3, 4, 4), "new")} : ROIList{};
        prj->SaveImage(spImg->id);
    }
    QTRY_COMPARE(log.results.size(), operation == "add" ? 1 : 2);
    QCOMPARE(log.results.last(), false);
    QCOMPARE(log.messages.last(), message.arg(annotation));
    QVERIFY(QFileInfo(annotation).isDir());
    const auto rows = SqlRows::Select(Db(), "select id, roiJson from tbl_project_data");
    if (operation == "add")
    {
        QCOMPARE(rows.size(), 0);
        QCOMPARE(spImg->id, QString());
        QVERIFY(!prj->ImageById(spImg->id));
    }
    else
    {
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0]["roiJson"].toString(), storedRoi);
    }

    // The page stores again: an add for a record without id, a save otherwise.
    QVERIFY(QDir().rmdir(annotation));
    if (spImg->id.isEmpty())
        prj->AddImage(spImg);
    else
        prj->SaveImage(spImg->id);
    QTRY_COMPARE(log.results.last(), true);
    prj.reset();
    const auto after = SqlRows::Select(Db(), "select id, roiJson from tbl_project_data");
    QCOMPARE(after.size(), 1);
    QCOMPARE(after[0]["id"].toString(), spImg->id);
    QCOMPARE(after[0]["roiJson"].toString(),
             spImg->rois.isEmpty() ? QString() : AnnotationText::buildRoiListText(spImg->rois));
    if (spImg->rois.isEmpty())
        QVERIFY(!QFileInfo::exists(annotation));
    else
        QCOMPARE(QString::fromUtf8(ReadFile(annotation)),
                 AnnotationText::buildAnnotationFileText("a.png", 20, 10, spImg->rois));
}

void tst_PrjData::storedPathLeavesDatas_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<bool>("imageExists");

    QTest::newRow("two folders up, present") << "/../../victim.png" << true;
    QTest::newRow("two folders up, missing") << "/../../victim.png" << false;
    QTest::newRow("through datas and out") << "/datas/b/RawDatas/../../../../victim.png" << false;
    QTest::newRow("inside the project, outside datas") << "/datas/../victim.png" << false;
    QTest::newRow("datas itself") << "/datas" << false;
}

// Rows naming files outside the datas folder are refused at opening: nothing is deleted, the row
// stays, the image is not listed.
void tst_PrjData::storedPathLeavesDatas()
{
    QFETCH(QString, image);
    QFETCH(bool, imageExists);
    const QString victim = QDir::cleanPath(Prj() + "/" + image);
    QVERIFY(QDir().mkpath(Raw()));
    QVERIFY(WriteImage(Raw() + "/fine.png", 4, 4));
    if (imageExists)
        QVERIFY(WriteImage(victim, 4, 4));
    const QString victimJson = ImageFiles::AnnotationPath(victim);
    if (!QFileInfo(victimJson).isDir())
    {
        QFile json(victimJson);
        QVERIFY(json.open(QIODevice::WriteOnly));
    }
    QVERIFY(FillDatabase(Db(), {{"BAD", image, "", 0, "[]"},
                                {"FINE", QString("/datas/%1/RawDatas/fine.png").arg(kBatch), "", 1, "[]"}}));

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Refused image path"));
    {
        auto prj = Open();
        QVERIFY(WaitLoaded(*prj));
        QCOMPARE(prj->Images().keys(), QStringList({"FINE"}));
    }
    QCOMPARE(QFileInfo::exists(victim), imageExists || QFileInfo(victim).isDir());
    QVERIFY(QFileInfo::exists(victimJson));
    QCOMPARE(SqlRows::Select(Db(), "select id from tbl_project_data").size(), 2);
}

void tst_PrjData::recordPathLeavesDatas_data()
{
    QTest::addColumn<QString>("operation");

    QTest::newRow("delete") << "delete";
    QTest::newRow("save") << "save";
    QTest::newRow("save clearing the annotation") << "clear";
}

// A record whose relative path was made to leave the datas folder: deleting it removes its row but
// no file outside, storing it writes nothing outside and says so.
void tst_PrjData::recordPathLeavesDatas()
{
    QFETCH(QString, operation);
    const QString victim = m_dir->path() + "/victim.png";
    QVERIFY(WriteImage(victim, 4, 4));
    QVERIFY(WriteImage(m_dir->path() + "/victim.json", 1, 1));
    const QByteArray victimJson = ReadFile(m_dir->path() + "/victim.json");
    QVERIFY(WriteImage(Src("r.png"), 4, 4));
    CallbackLog log;
    auto prj = Open(&log);
    auto spImg = MakeImage(Src("r.png"), {Rect(QRectF(0, 0, 1, 1), "a")});
    const QString id = prj->AddImage(spImg);
    QTRY_COMPARE(log.results, QList<bool>({true}));
    spImg->image = "/../../victim.png";

    QTest::ignoreMessage(QtCriticalMsg,
                         QRegularExpression("^Refused image path /\\.\\./\\.\\./victim\\.png"));
    if (operation == "delete")
    {
        prj->DelImage(id);
        QVERIFY(!prj->ImageById(id));
    }
    else
    {
        if (operation == "clear")
            spImg->rois.clear();
        prj->SaveImage(id);
        QTRY_COMPARE(log.results.size(), 2);
        QCOMPARE(log.results.last(), false);
        QCOMPARE(log.messages.last(),
                 U("保存标注信息失败，原因：图片路径%1不在工程目录内！").arg(spImg->image));
    }
    prj.reset();
    QVERIFY(QFile::exists(victim));
    QCOMPARE(ReadFile(m_dir->path() + "/victim.json"), victimJson);
    const auto rows = SqlRows::Select(Db(), "select image from tbl_project_data");
    QCOMPARE(rows.size(), operation == "delete" ? 0 : 1);
    if (!rows.isEmpty())
        QCOMPARE(rows[0]["image"].toString(), QString("/datas/%1/RawDatas/r.png").arg(kBatch));
}

void tst_PrjData::unreadableFolderKeepsRows_data()
{
    QTest::addColumn<QString>("folder"); // relative to the project
    QTest::addColumn<QString>("change"); // what happens to it before the opening

    QTest::newRow("datas missing") << "/datas"
                                   << "move";
    QTest::newRow("datas is a file") << "/datas"
                                     << "file";
    QTest::newRow("datas unreadable") << "/datas"
                                      << "chmod";
    QTest::newRow("batch folder missing") << QString("/datas/%1/RawDatas").arg(kBatch) << "move";
    QTest::newRow("batch folder unreadable") << QString("/datas/%1/RawDatas").arg(kBatch) << "chmod";
}

// While the images' folder cannot be read nothing is dropped: the rows and annotation files stay,
// the images are not listed, and they are all back once the folder is.
void tst_PrjData::unreadableFolderKeepsRows()
{
    QFETCH(QString, folder);
    QFETCH(QString, change);
    if (change == "chmod" && ::geteuid() == 0)
        QSKIP("Permissions do not keep the super-user out.");

    QVERIFY(WriteImage(Src("u1.png"), 4, 4));
    QVERIFY(WriteImage(Src("u2.png"), 4, 4));
    QStringList ids;
    {
        CallbackLog log;
        auto prj = Open(&log);
        ids << prj->AddImage(MakeImage(Src("u1.png"), {Rect(QRectF(0, 0, 1, 1), "a")}))
            << prj->AddImage(MakeImage(Src("u2.png"), {}, true));
        QTRY_COMPARE(log.results, QList<bool>({true, true}));
    }
    std::sort(ids.begin(), ids.end());
    const QString path = Prj() + folder;
    const QString aside = m_dir->path() + "/aside";
    if (change == "chmod")
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    else
        QVERIFY(QDir().rename(path, aside));
    if (change == "file")
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    QTest::ignoreMessage(
        QtCriticalMsg, QRegularExpression(" is missing or cannot be read: its images stay in the database"));
    {
        auto prj = Open();
        QVERIFY(WaitLoaded(*prj));
        QVERIFY(prj->Images().isEmpty());
    }
    QCOMPARE(SqlRows::Select(Db(), "select id from tbl_project_data").size(), 2);

    if (change == "chmod")
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner));
    else
        QVERIFY(QFile::remove(path) || !QFileInfo::exists(path));
    if (change != "chmod")
        QVERIFY(QDir().rename(aside, path));
    auto prj = Open();
    QVERIFY(WaitLoaded(*prj));
    QCOMPARE(prj->Images().keys(), ids);
    QVERIFY(QFile::exists(Raw() + "/u1.json"));
    QVERIFY(QFile::exists(Raw() + "/u2.json"));
}

// The user marks an image OK and changes its status before the add is confirmed: the confirmation
// does not bring the old values back, and the next save stores the user's.
void tst_PrjData::userChangesSurviveConfirmation()
{
    QVERIFY(WriteImage(Src("c.png"), 6, 6));
    CallbackLog log;
    auto prj = Open(&log);
    auto spImg = MakeImage(Src("c.png"), {Rect(QRectF(0, 0, 1, 1), "a")});
    const QString id = prj->AddImage(spImg);
    spImg->rois.clear();
    spImg->markAsOK = true;
    spImg->filter = "OK";
    prj->SaveImage(id);
    QTRY_COMPARE(log.results, QList<bool>({true, true}));
    QCOMPARE(spImg->path, Raw() + "/c.png");
    QVERIFY(spImg->markAsOK);
    QVERIFY(spImg->marked);
    QVERIFY(spImg->rois.isEmpty());
    QCOMPARE(spImg->filter, QString("OK"));

    // The page's automatic save when another image is shown.
    prj->SaveImage(id);
    QTRY_COMPARE(log.results.size(), 3);
    prj.reset();
    const auto rows = SqlRows::Select(Db(), "select markAsOK, roiJson from tbl_project_data");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0]["markAsOK"].toString(), QString("true"));
    QCOMPARE(ReadJson(Raw() + "/c.json")["shapes"].toArray().size(), 0);
}

namespace
{

// At every reported success, what another connection reads from the database file.
struct CommitProbe
{
    QString db;
    QHash<QString, QString> expectedRoi;
    QStringList missing;
    int successes = 0;

    static void Record(const QString& id, bool bSucc, const QString&, void* userData)
    {
        auto* probe = static_cast<CommitProbe*>(userData);
        if (!bSucc)
            return;
        ++probe->successes;
        const auto rows =
            SqlRows::Select(probe->db, "select roiJson from tbl_project_data where id='" + id + "'");
        if (rows.size() != 1 || rows[0]["roiJson"].toString() != probe->expectedRoi.value(id))
            probe->missing.append(id);
    }
};

} // namespace

// Adds and saves queued together share commits; each is reported only once another connection can
// read what it stored.
void tst_PrjData::resultsFollowTheCommit()
{
    CommitProbe probe;
    probe.db = Db();
    auto prj = Open();
    prj->SetSaveCallback(&CommitProbe::Record, &probe);
    QList<std::shared_ptr<pro::ImageInfo>> images;
    for (int i = 0; i < 60; ++i)
    {
        QVERIFY(WriteImage(Src(QString("p%1.png").arg(i)), 4, 4));
        images.append(MakeImage(Src(QString("p%1.png").arg(i)), {Rect(QRectF(i, 0, 1, 1), "a")}));
        const QString id = prj->AddImage(images.last());
        probe.expectedRoi.insert(id, AnnotationText::buildRoiListText(images.last()->rois));
    }
    QTRY_COMPARE(probe.successes, 60);
    for (const auto& spImg : images)
    {
        spImg->rois.append(Rect(QRectF(2, 2, 1, 1), "b"));
        probe.expectedRoi.insert(spImg->id, AnnotationText::buildRoiListText(spImg->rois));
        prj->SaveImage(spImg->id);
    }
    QTRY_COMPARE(probe.successes, 120);
    QCOMPARE(probe.missing, QStringList());
}

void tst_PrjData::sourcesKept_data()
{
    QTest::addColumn<bool>("olderProject");
    QTest::newRow("project made now") << false;
    QTest::newRow("project from before sources were kept") << true;
}

void tst_PrjData::sourcesKept()
{
    QFETCH(bool, olderProject);
    QVERIFY(WriteImage(Src("a.png"), 6, 6));
    QVERIFY(WriteImage(Src("b.png"), 6, 6, 120));
    QString oldId;
    if (olderProject)
    {
        QVERIFY(WriteImage(Raw() + "/old.png", 6, 6));
        oldId = "old-id";
        QVERIFY(
            FillDatabase(Db(), {{oldId, "/datas/" + QString(kBatch) + "/RawDatas/old.png", "OK", 1, ""}}));
    }
    QString idA;
    QString idB;
    {
        CallbackLog log;
        auto prj = Open(&log);
        QVERIFY(WaitLoaded(*prj));
        if (olderProject)
            QVERIFY(prj->ImageById(oldId) && prj->ImageById(oldId)->source.isEmpty());
        // The source is the user's file, cleaned, also after path has become the copy.
        auto spA = MakeImage(Src("./a.png"), {Rect(QRectF(0, 0, 2, 2), "a")});
        idA = prj->AddImage(spA);
        idB = prj->AddImage(MakeImage(Src("b.png"), {}, true));
        QTRY_COMPARE(log.results, QList<bool>({true, true}));
        QCOMPARE(spA->source, Src("a.png"));
        QCOMPARE(spA->path, Raw() + "/a.png");
        prj->DelImage(idB);
    }
    {
        auto prj = Open();
        QVERIFY(WaitLoaded(*prj));
        QCOMPARE(prj->ImageById(idA)->source, Src("a.png"));
        QVERIFY(!prj->ImageById(idB));
        if (olderProject)
            QVERIFY(prj->ImageById(oldId)->source.isEmpty());
    }
    // One row per stored image that has a source; the deleted one's went with it.
    const auto rows = SqlRows::Select(Db(), "select id from tbl_image_source");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0]["id"].toString(), idA);
    QCOMPARE(SqlRows::Select(Db(), "select id from tbl_project_data").size(), olderProject ? 2 : 1);
}

void tst_PrjData::settingKept()
{
    {
        auto prj = Open();
        QVERIFY(WaitLoaded(*prj));
        QVERIFY(prj->Setting("ImportedFolders").isEmpty());
        prj->SetSetting("ImportedFolders", "[\"/a\"]");
        prj->SetSetting("ImportedFolders", "[\"/a\",\"/b\"]");
        QCOMPARE(prj->Setting("ImportedFolders"), QString("[\"/a\",\"/b\"]"));
    }
    {
        auto prj = Open();
        QVERIFY(WaitLoaded(*prj));
        QCOMPARE(prj->Setting("ImportedFolders"), QString("[\"/a\",\"/b\"]"));
    }
    QCOMPARE(SqlRows::Select(Db(), "select sName from tbl_prj_config where sName='ImportedFolders'").size(),
             1);
}

QTEST_GUILESS_MAIN(tst_PrjData)
#include "tst_PrjData.moc"
