#include "Nexil/ImageFiles.h"
#include "Nexil/ROI/AnnotationText.h"
#include "ProjectRecord.h"

#include "ImgMarks/ImageOrder.h"
#include "ImgMarks/ImgStatus.h"
#include "ImgMarks/LoadImgWork.h"
#include "ImgMarks/ProjectImport.h"

#include "Nexil/NexilApi.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cmath>

namespace
{

using Records = QList<std::shared_ptr<pro::ImageInfo>>;

bool Touch(const QString& path, const QByteArray& content = QByteArray())
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray Annotation(const QString& shapes, const QString& extra = QString())
{
    return QStringLiteral(R"({"imagePath":"x.png","imageData":null%1,"shapes":%2})")
        .arg(extra, shapes)
        .toUtf8();
}

// All records of the batches a call emits, run directly on the test thread.
QList<Records> Batches(const std::function<void(LoadImgWork&)>& call, LoadImgWork& work)
{
    QList<Records> batches;
    QObject context;
    QObject::connect(&work, &LoadImgWork::Signal_ImgList, &context,
                     [&](const Records& list) { batches << list; });
    call(work);
    return batches;
}

Records All(const QList<Records>& batches)
{
    Records all;
    for (const Records& b : batches)
        all << b;
    return all;
}

std::shared_ptr<pro::ImageInfo> ByName(const Records& records, const QString& name)
{
    for (const auto& r : records)
    {
        if (r->fileName == name)
            return r;
    }
    return nullptr;
}

QString Describe(const ROIList& rois)
{
    QStringList parts;
    for (const auto& roi : rois)
    {
        QStringList numbers;
        if (const auto* rect = dynamic_cast<const RectROI*>(roi.get()))
        {
            const QRectF r = rect->rect();
            numbers << QString::number(r.left()) << QString::number(r.top()) << QString::number(r.right())
                    << QString::number(r.bottom());
        }
        else if (const auto* polygon = dynamic_cast<const PolygonROI*>(roi.get()))
        {
            for (const QPointF& p : polygon->polygon())
                numbers << QString::number(p.x()) << QString::number(p.y());
        }
        parts << roi->typeName() + ':' + roi->title() + ':' + numbers.join(',');
    }
    return parts.join(';');
}

} // namespace

class tst_LoadImgWork : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void batchesOfOneScan();
    void statusFromNearestFolder_data();
    void statusFromNearestFolder();
    void scanFindsOnlyImages();
    void linkLoopEnds();
    void singleFile();
    void deleteFiles();

    void rounding_data();
    void rounding();
    void parseShapes_data();
    void parseShapes();
    void hostileFiles();

    void importReachesProjectFirst_data();
    void importReachesProjectFirst();
    void annotationsTaken_data();
    void annotationsTaken();
    void naturalOrderInFolder();
    void knownImages_data();
    void knownImages();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_LoadImgWork::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_LoadImgWork::cleanup()
{
    // Also after a failed check, so the next test starts without a project.
    ReleaseNexil();
    m_dir.reset();
}

void tst_LoadImgWork::batchesOfOneScan()
{
    for (int i = 0; i < 120; ++i)
        QVERIFY(Touch(m_dir->filePath(QStringLiteral("d%1/%2.png").arg(i % 3).arg(i))));
    LoadImgWork work;
    const auto batches = Batches([&](LoadImgWork& w) { w.Slot_LoadImgPath(m_dir->path()); }, work);
    QCOMPARE(batches.size(), 3);
    QCOMPARE(batches.at(0).size(), 51);
    QCOMPARE(batches.at(1).size(), 51);
    QCOMPARE(batches.at(2).size(), 18);
    const Records all = All(batches);
    const QString stamp = all.first()->addTime;
    QVERIFY(QRegularExpression(R"(^\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d-\d{3}$)").match(stamp).hasMatch());
    QSet<QString> paths;
    for (const auto& r : all)
    {
        QCOMPARE(r->addTime, stamp);
        QCOMPARE(r->filter, QStringLiteral("待确认"));
        QCOMPARE(QFileInfo(r->path).fileName(), r->fileName);
        QVERIFY(QFileInfo::exists(r->path));
        QVERIFY(r->id.isEmpty() && !r->marked && r->rois.isEmpty());
        paths.insert(r->path);
    }
    QCOMPARE(paths.size(), 120);
}

void tst_LoadImgWork::statusFromNearestFolder_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("status");
    QTest::newRow("OK folder") << ""
                               << "OK/a.png"
                               << "OK";
    QTest::newRow("NG deeper up") << ""
                                  << "NG/x/y/a.png"
                                  << "NG";
    QTest::newRow("nearest decides") << ""
                                     << "OK/待确认/a.png"
                                     << "待确认";
    QTest::newRow("manual inside NG") << ""
                                      << "NG/手动添加/a.png"
                                      << "手动添加";
    QTest::newRow("case matters") << ""
                                  << "ok/a.png"
                                  << "待确认";
    QTest::newRow("none") << ""
                          << "x/a.png"
                          << "待确认";
    QTest::newRow("above the scanned folder") << "NG/scan"
                                              << "NG/scan/sub/a.png"
                                              << "NG";
    QTest::newRow("scanned folder itself") << "OK"
                                           << "OK/a.png"
                                           << "OK";
}

void tst_LoadImgWork::statusFromNearestFolder()
{
    QFETCH(QString, root);
    QFETCH(QString, image);
    QFETCH(QString, status);
    QVERIFY(Touch(m_dir->filePath(image)));
    LoadImgWork work;
    const Records all =
        All(Batches([&](LoadImgWork& w) { w.Slot_LoadImgPath(m_dir->filePath(root)); }, work));
    QCOMPARE(all.size(), 1);
    QCOMPARE(all.at(0)->filter, status);
    QCOMPARE(ImgStatus::CodeOfPath(QDir::rootPath()), 0);
}

void tst_LoadImgWork::scanFindsOnlyImages()
{
    for (const char* name : {"a.jpg", "b.JPG", "c.jpeg", "d.png", "e.bmp", "sub/f.Png", "t.tif", "u.TIFF"})
        QVERIFY(Touch(m_dir->filePath(name)));
    for (const char* name : {"g.gif", "h.txt", "a.json", "png", ".hidden.png", "empty/x.json"})
        QVERIFY(Touch(m_dir->filePath(name)));
    LoadImgWork work;
    QStringList names;
    // The scan gives each record the keys the lists and the duplicate tests would make of its path.
    for (const auto& r :
         All(Batches([&](LoadImgWork& w) { w.Slot_LoadImgPath(m_dir->path() + "/."); }, work)))
    {
        names << r->fileName;
        QCOMPARE(r->sortKey, ImageOrder::SortKey(r->path));
        QCOMPARE(r->source, ImageOrder::PathKey(r->path));
    }
    names.sort();
    QCOMPARE(names, (QStringList{"a.jpg", "b.JPG", "c.jpeg", "d.png", "e.bmp", "f.Png", "t.tif", "u.TIFF"}));

    // A folder without images, or no folder at all, emits nothing.
    QCOMPARE(Batches([&](LoadImgWork& w) { w.Slot_LoadImgPath(m_dir->filePath("empty")); }, work).size(), 0);
    QCOMPARE(Batches([&](LoadImgWork& w) { w.Slot_LoadImgPath(m_dir->filePath("missing")); }, work).size(),
             0);
}

void tst_LoadImgWork::linkLoopEnds()
{
    QVERIFY(Touch(m_dir->filePath("top/a.png")));
    QVERIFY(QDir().mkpath(m_dir->filePath("top/sub")));
    QVERIFY(QFile::link(m_dir->filePath("top"), m_dir->filePath("top/sub/up")));
    LoadImgWork work;
    const Records all =
        All(Batches([&](LoadImgWork& w) { w.Slot_LoadImgPath(m_dir->filePath("top")); }, work));
    QCOMPARE(all.size(), 1);
}

void tst_LoadImgWork::singleFile()
{
    const QString path = m_dir->filePath("OK/one.png");
    QVERIFY(Touch(path));
    LoadImgWork work;
    const auto batches = Batches([&](LoadImgWork& w) { w.Slot_LoadImg(path); }, work);
    QCOMPARE(batches.size(), 1);
    QCOMPARE(batches.at(0).size(), 1);
    const auto record = batches.at(0).at(0);
    QCOMPARE(record->path, path);
    QCOMPARE(record->fileName, QStringLiteral("one.png"));
    // A single file is always to be confirmed, whatever its folder.
    QCOMPARE(record->filter, QStringLiteral("待确认"));
    QVERIFY(!record->addTime.isEmpty());

    QCOMPARE(Batches([&](LoadImgWork& w) { w.Slot_LoadImg(m_dir->filePath("gone.png")); }, work).size(), 0);
    QCOMPARE(Batches([&](LoadImgWork& w) { w.Slot_LoadImg(m_dir->filePath("OK")); }, work).size(), 0);
}

void tst_LoadImgWork::deleteFiles()
{
    for (const char* name :
         {"a.png", "a.json", "b.c.png", "b.c.json", "b.json", "noext", "noext.json", "keep.png"})
        QVERIFY(Touch(m_dir->filePath(name)));
    LoadImgWork work;
    QSignalSpy done(&work, &LoadImgWork::Signal_DeleteCompleted);
    work.Slot_DelImg({m_dir->filePath("a.png"), m_dir->filePath("missing.png"), m_dir->filePath("b.c.png"),
                      m_dir->filePath("noext"), QString()});
    QCOMPARE(done.count(), 1);
    QStringList left = QDir(m_dir->path()).entryList(QDir::Files);
    left.sort();
    QCOMPARE(left, (QStringList{"b.json", "keep.png"}));
    work.Slot_DelImg({});
    QCOMPARE(done.count(), 2);
}

void tst_LoadImgWork::rounding_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("rounded");
    QTest::newRow("up") << 10.126 << 10.13;
    QTest::newRow("down") << 10.124 << 10.12;
    QTest::newRow("half up") << 0.125 << 0.13;
    QTest::newRow("negative half away from zero") << -0.125 << -0.13;
    QTest::newRow("whole") << 5.0 << 5.0;
    QTest::newRow("huge stays") << 1e300 << 1e300;
    QTest::newRow("infinity") << qInf() << 0.0;
    QTest::newRow("NaN") << qQNaN() << 0.0;
}

void tst_LoadImgWork::rounding()
{
    QFETCH(double, value);
    QFETCH(double, rounded);
    QCOMPARE(ROIItem::roundCoord(value), rounded);
}

void tst_LoadImgWork::parseShapes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("rois");
    const auto polygon = [](const QString& points)
    { return QStringLiteral(R"({"label":"p","shape_type":"polygon","points":%1})").arg(points); };
    QTest::newRow("rounded point") << Annotation("[" + polygon("[[10.126,5],[20,5],[20,9.004]]") + "]")
                                   << true << "Polygon:p:10.13,5,20,5,20,9";
    QTest::newRow("rectangle, corners in any order")
        << Annotation(R"([{"label":"缺陷","shape_type":"Rectangle","points":[[30,40],[10.5,20]]}])") << true
        << "rectangle:缺陷:10.5,20,30,40";
    QTest::newRow("no imagePath") << QByteArray(R"({"shapes":[]})") << false << "";
    QTest::newRow("no shapes") << QByteArray(R"({"imagePath":"x.png"})") << false << "";
    QTest::newRow("null shapes") << Annotation("null") << true << "";
    QTest::newRow("shapes not a list") << Annotation(R"({"a":1})") << false << "";
    QTest::newRow("shapes a string") << Annotation(R"("abc")") << false << "";
    QTest::newRow("other shape types skipped")
        << Annotation(R"([{"label":"c","shape_type":"circle","points":[[1,1],[2,2]]},)"
                      R"({"label":"l","shape_type":"linestrip","points":[[1,1],[2,2]]},)"
                      R"({"label":"m","shape_type":"mask","points":[[1,1],[2,2]]},)" +
                      polygon("[[0,0],[4,0],[4,4]]") + "]")
        << true << "Polygon:p:0,0,4,0,4,4";
    QTest::newRow("points that are not pairs skipped")
        << Annotation("[" + polygon(R"([[1],[1,2,3],"x",7,[0,0],[4,0],{"a":1},[4,"y"]])") + "]") << true
        << "Polygon:p:0,0,4,0,4,0";
    QTest::newRow("elements lacking keys skipped")
        << Annotation(R"([{"shape_type":"polygon","points":[[0,0],[1,0],[1,1]]},3,"s",null,)" +
                      polygon("[[0,0],[2,0],[2,2]]") + "]")
        << true << "Polygon:p:0,0,2,0,2,2";
    QTest::newRow("extra keys of other tools")
        << Annotation(R"([{"label":"p","shape_type":"polygon","points":[[0,0],[3,0],[3,3]],)"
                      R"("group_id":null,"flags":{},"description":"d"}])",
                      R"(,"version":"5.0","flags":{"a":true},"imageData":"iVBORw0KGgo=")")
        << true << "Polygon:p:0,0,3,0,3,3";
    QTest::newRow("degenerate shapes skipped")
        << Annotation(R"([{"label":"r","shape_type":"rectangle","points":[[1,1]]},)" +
                      polygon("[[0,0],[1,1]]") + "]")
        << true << "";
    QTest::newRow("coordinates out of reach")
        << Annotation("[" + polygon("[[0,0],[2e7,0],[2,2]]") + "]") << true << "";
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11) << false << "";
    QTest::newRow("truncated") << Annotation("[" + polygon("[[0,0],[2,0],[2,2]]") + "]").left(40) << false
                               << "";
}

void tst_LoadImgWork::parseShapes()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, taken);
    QFETCH(QString, rois);

    // The same text through the file beside an image.
    const QString image = m_dir->filePath("img.v1.png");
    QVERIFY(Touch(image));
    QVERIFY(Touch(m_dir->filePath("img.v1.json"), text));
    ROIList read;
    QCOMPARE(LoadImgWork::readAnnotationFile(image, read), taken);
    QCOMPARE(Describe(read), rois);
    for (const auto& roi : read)
        QCOMPARE(roi->roiAttr(), 0);
}

void tst_LoadImgWork::hostileFiles()
{
    const QByteArray valid =
        Annotation(R"([{"label":"a","shape_type":"polygon","points":[[1.5,2],[30,2],[30,40]]},)"
                   R"({"label":"b","shape_type":"rectangle","points":[[1,2],[3,4]]}])");
    QList<QByteArray> texts;
    for (int cut = 0; cut < valid.size(); ++cut)
        texts << valid.left(cut);
    texts << QByteArray(100000, '[') << QByteArray(5000, '{') + QByteArray(5000, '}');
    texts << Annotation(R"([{"label":1,"shape_type":2,"points":3}])");
    texts << Annotation(R"([{"label":"n","shape_type":"polygon","points":[[1e400,1],[-1e400,2],[3,4]]}])");
    texts << Annotation(R"([{"label":"n","shape_type":"rectangle","points":[[1e308,1e308],[-1e308,5]]}])");
    QRandomGenerator random(20240611);
    for (int i = 0; i < 2000; ++i)
    {
        QByteArray mutated = valid;
        for (int n = random.bounded(1, 8); n > 0; --n)
            mutated[random.bounded(mutated.size())] = char(random.bounded(256));
        texts << mutated;
    }
    for (int i = 0; i < 200; ++i)
    {
        QByteArray noise(random.bounded(1, 400), '\0');
        for (char& c : noise)
            c = char(random.bounded(256));
        texts << noise;
    }

    for (const QByteArray& text : texts)
    {
        ROIList rois;
        AnnotationText::parseAnnotationFileText(QString::fromUtf8(text), rois);
        for (const auto& roi : rois)
        {
            const ROIItem::Box box = roi->boundingBox();
            QVERIFY(std::isfinite(box.x) && std::isfinite(box.y));
            QVERIFY(box.width >= 0 && box.height >= 0);
        }
    }

    // A scan over such files lists every image and takes none as annotated by mistake.
    QVERIFY(Touch(m_dir->filePath("a.png")));
    QVERIFY(Touch(m_dir->filePath("a.json"), QByteArray(100000, '[')));
    QVERIFY(Touch(m_dir->filePath("b.png")));
    QVERIFY(Touch(m_dir->filePath("b.json"), QByteArray("\xff\xfe\0\x01", 4)));
    LoadImgWork work;
    const Records all =
        All(Batches([&](LoadImgWork& w) { w.Slot_ImportMarkImg(m_dir->path(), true); }, work));
    QCOMPARE(all.size(), 2);
    for (const auto& r : all)
        QVERIFY(!r->marked);
}

void tst_LoadImgWork::importReachesProjectFirst_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("rects");
    QTest::addColumn<QString>("mixed");
    QTest::newRow("Segment: polygons only") << 1 << "OK:"
                                            << "poly";
    QTest::newRow("Object: both kinds") << 2 << "rect,rect"
                                        << "poly,rect";
}

void tst_LoadImgWork::importReachesProjectFirst()
{
    QFETCH(int, type);
    QFETCH(QString, rects);
    QFETCH(QString, mixed);

    QTemporaryDir ws;
    CreateNexil();
    QVERIFY(NexilIns().lock()->Init(ws.path()));
    QVERIFY(NexilIns().lock()->AddPro(MakeInfo("P1", "prj", type)));
    NexilIns().lock()->OpenPro("P1");
    const auto core = PrjIns().lock();
    QVERIFY(core);

    const auto rect = [](const QString& label) {
        return QStringLiteral(R"({"label":"%1","shape_type":"rectangle","points":[[1,1],[5,5]]})").arg(label);
    };
    const QString poly = R"({"label":"poly","shape_type":"polygon","points":[[0,0],[9,0],[9,9]]})";
    QVERIFY(Touch(m_dir->filePath("rects.png")) &&
            Touch(m_dir->filePath("rects.json"), Annotation("[" + rect("rect") + "," + rect("rect") + "]")));
    QVERIFY(Touch(m_dir->filePath("mixed.png")) &&
            Touch(m_dir->filePath("mixed.json"), Annotation("[" + poly + "," + rect("rect") + "]")));
    QVERIFY(Touch(m_dir->filePath("null.png")) && Touch(m_dir->filePath("null.json"), Annotation("null")));
    QVERIFY(Touch(m_dir->filePath("nopath.png")) &&
            Touch(m_dir->filePath("nopath.json"), R"({"shapes":[]})"));
    QVERIFY(Touch(m_dir->filePath("plain.png")));

    // The worker in its own thread, the page's part in this one, as the annotation page runs them.
    QThread thread;
    auto* work = new LoadImgWork;
    work->moveToThread(&thread);
    connect(&thread, &QThread::finished, work, &QObject::deleteLater);
    thread.start();
    Records listed;
    QStringList problems;
    connect(work, &LoadImgWork::Signal_ImgList, this,
            [&](const Records& batch)
            {
                ProjectImport::AddToProject(batch);
                for (const auto& r : batch)
                {
                    if (r->marked && core->ImageById(r->id) != r)
                        problems << r->fileName + " listed before it reached the project";
                    for (const auto& roi : r->rois)
                    {
                        if (roi->thread() != QThread::currentThread())
                            problems << r->fileName + " has a ROI of the worker's thread";
                    }
                }
                listed << batch;
            });
    QMetaObject::invokeMethod(work, [&] { work->Slot_ImportMarkImg(m_dir->path(), true); });
    QTRY_COMPARE(listed.size(), 5);
    thread.exit(0);
    thread.wait();
    QCOMPARE(problems, QStringList());

    const auto titles = [](const std::shared_ptr<pro::ImageInfo>& r)
    {
        QStringList t;
        for (const auto& roi : r->rois)
            t << roi->title();
        return (r->markAsOK ? QStringLiteral("OK:") : QString()) + t.join(',');
    };
    QCOMPARE(titles(ByName(listed, "rects.png")), rects);
    QCOMPARE(titles(ByName(listed, "mixed.png")), mixed);
    QCOMPARE(titles(ByName(listed, "null.png")), QStringLiteral("OK:"));
    for (const char* name : {"rects.png", "mixed.png", "null.png"})
    {
        QVERIFY(ByName(listed, name)->marked);
        QVERIFY(!ByName(listed, name)->id.isEmpty());
    }
    for (const char* name : {"nopath.png", "plain.png"})
    {
        QVERIFY(!ByName(listed, name)->marked);
        QVERIFY(ByName(listed, name)->id.isEmpty());
    }
    QCOMPARE(core->Images().size(), 3);
    QVERIFY(core->MarkTypes().contains("poly"));
    QCOMPARE(core->MarkTypes().contains("rect"), type == 2);
    ReleaseNexil();
}

void tst_LoadImgWork::annotationsTaken_data()
{
    QTest::addColumn<int>("call");
    QTest::addColumn<bool>("marked");
    QTest::newRow("plain folder scan") << 0 << false;
    QTest::newRow("import") << 1 << true;
    QTest::newRow("import without annotations") << 2 << false;
    QTest::newRow("single file") << 3 << false;
}

void tst_LoadImgWork::annotationsTaken()
{
    QFETCH(int, call);
    QFETCH(bool, marked);
    QVERIFY(Touch(m_dir->filePath("a.png")));
    QVERIFY(Touch(m_dir->filePath("a.json"), Annotation("null")));
    LoadImgWork work;
    QSignalSpy finished(&work, &LoadImgWork::Signal_ScanFinished);
    const Records all = All(Batches(
        [&](LoadImgWork& w)
        {
            if (call == 0)
                w.Slot_LoadImgPath(m_dir->path());
            else if (call == 3)
                w.Slot_LoadImg(m_dir->filePath("a.png"));
            else
                w.Slot_ImportMarkImg(m_dir->path(), call == 1);
        },
        work));
    QCOMPARE(all.size(), 1);
    QCOMPARE(all.at(0)->marked, marked);
    QCOMPARE(finished.size(), 1);
    // Without an open project an annotated record is listed as not annotated.
    QCOMPARE(ProjectImport::AddToProject(all), 0);
    QVERIFY(!all.at(0)->marked);
}

void tst_LoadImgWork::naturalOrderInFolder()
{
    for (const char* name :
         {"img_10.png", "img_2.png", "IMG_3.png", "img_02.png", "img_1.png", "b.png", "a10.png"})
        QVERIFY(Touch(m_dir->filePath(name)));
    LoadImgWork work;
    QStringList names;
    // The scan gives each record the keys the lists and the duplicate tests would make of its path.
    for (const auto& r :
         All(Batches([&](LoadImgWork& w) { w.Slot_LoadImgPath(m_dir->path() + "/."); }, work)))
    {
        names << r->fileName;
        QCOMPARE(r->sortKey, ImageOrder::SortKey(r->path));
        QCOMPARE(r->source, ImageOrder::PathKey(r->path));
    }
    QCOMPARE(names, QStringList({"a10.png", "b.png", "img_1.png", "img_02.png", "img_2.png", "IMG_3.png",
                                 "img_10.png"}));
}

void tst_LoadImgWork::knownImages_data()
{
    QTest::addColumn<QString>("scanned");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("id");
    QTest::newRow("the source") << "src/a.png" << QByteArray("AAAA") << "id-a";
    QTest::newRow("the project's copy") << "prj/b/b.png" << QByteArray("BBBB") << "id-b";
    QTest::newRow("moved, same content") << "moved/renamed.png" << QByteArray("AAAA") << "id-a";
    QTest::newRow("same size, other content") << "other/c.png" << QByteArray("AAAB") << "";
    QTest::newRow("other size") << "other/d.png" << QByteArray("AAAAA") << "";
}

void tst_LoadImgWork::knownImages()
{
    QFETCH(QString, scanned);
    QFETCH(QByteArray, content);
    QFETCH(QString, id);
    // Copies in the project; a's source file is gone since, b's is unknown (an older project).
    QVERIFY(Touch(m_dir->filePath("prj/a/a.png"), "AAAA"));
    QVERIFY(Touch(m_dir->filePath("prj/b/b.png"), "BBBB"));
    if (scanned != "src/a.png")
        QVERIFY(Touch(m_dir->filePath(scanned), content));
    else
        QVERIFY(Touch(m_dir->filePath(scanned), "AAAA"));
    LoadImgWork work;
    work.Slot_SetKnownImages({{"id-a", m_dir->filePath("prj/a/a.png"), m_dir->filePath("src/a.png")},
                              {"id-b", m_dir->filePath("prj/b/b.png"), QString()}});
    const QString folder = QFileInfo(m_dir->filePath(scanned)).path();
    QVERIFY(Touch(ImageFiles::AnnotationPath(m_dir->filePath(scanned)), Annotation("null")));
    const Records all = All(Batches([&](LoadImgWork& w) { w.Slot_ImportMarkImg(folder, true); }, work));
    QCOMPARE(all.size(), 1);
    QCOMPARE(all.at(0)->id, id);
    // A known image is the project's: the annotation file beside the scanned file is not taken.
    QCOMPARE(all.at(0)->marked, id.isEmpty());
}

QTEST_MAIN(tst_LoadImgWork)
#include "tst_LoadImgWork.moc"
