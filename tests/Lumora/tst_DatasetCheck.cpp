#include "CallbackLog.h"
#include "ProjectRecord.h"

#include "ModelTraining/DatasetCheck.h"
#include "ModelTraining/DatasetCheckModel.h"

#include "Nexil/NexilApi.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

namespace
{

// One image of a test project.
struct Pic
{
    // "r <title> x y w h" or "p <title> x0 y0 x1 y1 ...", several joined by ';'.
    QString shapes;
    QSize size = QSize(32, 24);
    bool ok = false;
    // What happens to its annotation file once stored: 'k' kept, 'd' deleted, 'g' garbage written,
    // 'm' a point moved, 's' one written for an image the database holds as not annotated.
    char file = 'k';
    bool broken = false;
};

const QStringList kIssueNames{"NoRoi",
                              "AnnotationMissing",
                              "AnnotationUnreadable",
                              "AnnotationDiffers",
                              "ImageUnreadable",
                              "UnknownCategory",
                              "FewImages",
                              "TinyRoi",
                              "RectInSegment",
                              "SizeDiffers"};

QList<Pic> Many(int count, const QString& shapes)
{
    QList<Pic> pics;
    for (int i = 0; i < count; ++i)
        pics.append(Pic{shapes});
    return pics;
}

QList<Pic> With(QList<Pic> pics, int at, const Pic& pic)
{
    pics[at] = pic;
    return pics;
}

ROIList ParseShapes(const QString& text)
{
    ROIList rois;
    for (const QString& item : text.split(';', Qt::SkipEmptyParts))
    {
        const QStringList parts = item.split(' ', Qt::SkipEmptyParts);
        QVector<double> v;
        for (int i = 2; i < parts.size(); ++i)
            v.append(parts[i].toDouble());
        if (parts[0] == "r")
            rois.append(std::make_shared<RectROIItem>(QRectF(v[0], v[1], v[2], v[3]), 0, parts[1]));
        else
        {
            QPolygonF polygon;
            for (int i = 0; i + 1 < v.size(); i += 2)
                polygon.append(QPointF(v[i], v[i + 1]));
            rois.append(std::make_shared<PolygonROIItem>(polygon, 0, parts[1]));
        }
    }
    return rois;
}

QString AnnotationOf(const QString& imagePath)
{
    return imagePath.left(imagePath.lastIndexOf('.')) + ".json";
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

Q_DECLARE_METATYPE(QList<Pic>)

class tst_DatasetCheck : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void findings_data();
    void findings();
    void counts();
    void reopenedProjectAgreesWithFiles();
    void classModel();

private:
    // A project of the core library with the pictures stored through it, then its files tampered with.
    void Build(int type, const QStringList& classes, const QList<Pic>& pics);

    std::unique_ptr<QTemporaryDir> m_dir;
    CallbackLog m_saved;
};

void tst_DatasetCheck::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(m_dir->path() + "/ws") && QDir().mkpath(m_dir->path() + "/src"));
    CreateNexil();
    QVERIFY(NexilIns().lock()->Init(m_dir->path() + "/ws"));
    m_saved = CallbackLog();
}

void tst_DatasetCheck::cleanup()
{
    ReleaseNexil();
    m_dir.reset();
}

void tst_DatasetCheck::Build(int type, const QStringList& classes, const QList<Pic>& pics)
{
    const auto spCore = NexilIns().lock();
    QVERIFY(spCore->AddPro(MakeInfo("P1", "check", type)));
    spCore->OpenPro("P1");
    const auto spPrj = PrjIns().lock();
    QVERIFY(spPrj);
    spPrj->SetSaveCallback(&CallbackLog::Record, &m_saved);
    for (const QString& name : classes)
        QVERIFY(spPrj->AddMarkType(name));
    QStringList ids;
    for (int i = 0; i < pics.size(); ++i)
    {
        const QString path = QString("%1/src/img%2.png").arg(m_dir->path()).arg(i);
        if (pics[i].broken)
            QVERIFY(WriteFile(path, "no image"));
        else
            QVERIFY(cv::imwrite(path.toStdString(), cv::Mat(pics[i].size.height(), pics[i].size.width(),
                                                            CV_8UC3, cv::Scalar(40, 80, 120))));
        auto spImg = std::make_shared<pro::ImageInfo>();
        spImg->path = path;
        spImg->fileName = QFileInfo(path).fileName();
        spImg->addTime = "2024-05-06_07-08-09-010";
        spImg->rois = ParseShapes(pics[i].shapes);
        spImg->markAsOK = pics[i].ok;
        ids.append(spPrj->AddImage(spImg));
    }
    QTRY_COMPARE(m_saved.results.size(), pics.size());

    for (int i = 0; i < pics.size(); ++i)
    {
        const QString json = AnnotationOf(spPrj->ImageById(ids[i])->path);
        QJsonObject object = QJsonDocument::fromJson(
                                 [&]
                                 {
                                     QFile file(json);
                                     return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
                                 }())
                                 .object();
        switch (pics[i].file)
        {
        case 'd':
            QVERIFY(QFile::remove(json));
            break;
        case 'g':
            QVERIFY(WriteFile(json, "{\"shapes\":["));
            break;
        case 'm':
        {
            QJsonArray shapes = object["shapes"].toArray();
            QJsonObject shape = shapes[0].toObject();
            QJsonArray points = shape["points"].toArray();
            points[0] = QJsonArray{points[0].toArray()[0].toDouble() + 0.5, points[0].toArray()[1]};
            shape["points"] = points;
            shapes[0] = shape;
            object["shapes"] = shapes;
            QVERIFY(WriteFile(json, QJsonDocument(object).toJson()));
            break;
        }
        case 's':
            QVERIFY(!QFile::exists(json));
            QVERIFY(WriteFile(
                json, R"({"shapes":[{"label":"a","points":[[1,1],[9,9]],"shape_type":"rectangle"}]})"));
            break;
        default:
            break;
        }
    }
}

void tst_DatasetCheck::findings_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("classes");
    QTest::addColumn<QList<Pic>>("pics");
    // "<issue> <count> <subject>"; a subject "*" stands for any.
    QTest::addColumn<QStringList>("expected");
    // The file named first in the only finding, when given.
    QTest::addColumn<QString>("example");

    const QString rect = "r a 2 2 10 10";
    const QString polygon = "p a 2 2 12 2 12 12";
    const QList<Pic> ten = Many(10, rect);
    QTest::newRow("healthy detection")
        << 2 << QStringList{"a"} << ten + QList<Pic>{Pic{"", {32, 24}, true}} << QStringList() << "";
    QTest::newRow("healthy segmentation")
        << 1 << QStringList{"a"} << Many(10, polygon) << QStringList() << "";
    QTest::newRow("few images") << 2 << QStringList{"a"} << Many(9, rect + ";" + rect)
                                << QStringList{"FewImages 1 "} << "a";
    QTest::newRow("category without ROI")
        << 2 << QStringList{"a", "b"} << ten << QStringList{"NoRoi 1 "} << "b";
    QTest::newRow("thin rectangle") << 2 << QStringList{"a"} << With(ten, 3, Pic{"r a 2 2 3.9 40"})
                                    << QStringList{"TinyRoi 1 "} << "img3.png";
    QTest::newRow("flat polygon") << 1 << QStringList{"a"}
                                  << With(Many(10, polygon), 7, Pic{"p a 0 0 20 1 40 2"})
                                  << QStringList{"TinyRoi 1 "} << "img7.png";
    QList<Pic> mixed = ten;
    for (int i = 0; i < 5; ++i)
        mixed[i].size = QSize(40, 30);
    QTest::newRow("sizes differ") << 2 << QStringList{"a"} << mixed << QStringList{"SizeDiffers 5 *"} << "";
    QTest::newRow("rectangles in segmentation")
        << 1 << QStringList{"a"} << With(Many(10, polygon), 4, Pic{polygon + ";" + rect})
        << QStringList{"RectInSegment 1 "} << "img4.png";
    QTest::newRow("unknown category") << 2 << QStringList{"a"} << With(ten, 5, Pic{rect + ";r zz 1 1 9 9"})
                                      << QStringList{"UnknownCategory 1 "} << "zz";
    QTest::newRow("annotation file missing")
        << 2 << QStringList{"a"} << With(ten, 2, Pic{rect, {32, 24}, false, 'd'})
        << QStringList{"AnnotationMissing 1 "} << "img2.png";
    QTest::newRow("OK image without annotation file")
        << 2 << QStringList{"a"} << ten + QList<Pic>{Pic{"", {32, 24}, true, 'd'}}
        << QStringList{"AnnotationMissing 1 "} << "img10.png";
    QTest::newRow("annotation file unparsable")
        << 2 << QStringList{"a"} << With(ten, 6, Pic{rect, {32, 24}, false, 'g'})
        << QStringList{"AnnotationUnreadable 1 "} << "img6.png";
    QTest::newRow("annotation file with other ROIs")
        << 2 << QStringList{"a"} << With(ten, 1, Pic{rect, {32, 24}, false, 'm'})
        << QStringList{"AnnotationDiffers 1 "} << "img1.png";
    QTest::newRow("annotation file of an unannotated image")
        << 2 << QStringList{"a"} << ten + QList<Pic>{Pic{"", {32, 24}, false, 's'}}
        << QStringList{"AnnotationDiffers 1 "} << "img10.png";
    QTest::newRow("unreadable image")
        << 2 << QStringList{"a"} << ten + QList<Pic>{Pic{rect, {}, false, 'k', true}}
        << QStringList{"ImageUnreadable 1 "} << "img10.png";
    QTest::newRow("several at once") << 1 << QStringList{"a", "b"} << Many(3, rect)
                                     << QStringList{"NoRoi 1 ", "FewImages 1 ", "RectInSegment 3 "} << "b";
}

void tst_DatasetCheck::findings()
{
    QFETCH(int, type);
    QFETCH(QStringList, classes);
    QFETCH(QList<Pic>, pics);
    QFETCH(QStringList, expected);
    QFETCH(QString, example);

    Build(type, classes, pics);
    const DatasetCheck::Result result = DatasetCheck::Run(DatasetCheck::Snapshot(*PrjIns().lock()));
    QStringList found;
    for (const DatasetCheck::Finding& finding : result.findings)
        found.append(QString("%1 %2 %3")
                         .arg(kIssueNames.value(int(finding.issue)))
                         .arg(finding.count)
                         .arg(finding.subject));
    QCOMPARE(found.size(), expected.size());
    for (int i = 0; i < found.size(); ++i)
    {
        const QString want = expected[i].endsWith('*') ? expected[i].chopped(1) : expected[i];
        QVERIFY2(expected[i].endsWith('*') ? found[i].startsWith(want) : found[i] == want,
                 qPrintable(found.join(" | ")));
    }
    if (!example.isEmpty())
        QCOMPARE(result.findings.value(0).examples.value(0), example);
}

void tst_DatasetCheck::counts()
{
    const QList<Pic> pics{Pic{"r a 0 0 9 9;p a 0 0 9 0 9 9"},
                          Pic{"r a 0 0 9 9;r b 0 0 9 9"},
                          Pic{"r a 1 1 9 9"},
                          Pic{"", {32, 24}, true},
                          Pic{"", {32, 24}, true},
                          Pic{""},
                          Pic{"r zz 0 0 9 9"}};
    Build(2, {"a", "b", "c"}, pics);
    const DatasetCheck::Result result = DatasetCheck::Run(DatasetCheck::Snapshot(*PrjIns().lock()));
    QCOMPARE(result.images, 7);
    QCOMPARE(result.defectImages, 4);
    QCOMPARE(result.okImages, 2);
    QCOMPARE(result.unmarked, 1);
    QCOMPARE(result.trainableRois, 5);
    QCOMPARE(result.classes.size(), 3);
    const QVector<QVector<int>> perClass{{3, 4}, {1, 1}, {0, 0}};
    for (int i = 0; i < 3; ++i)
    {
        QCOMPARE(result.classes[i].name, QStringList({"a", "b", "c"})[i]);
        QCOMPARE(QVector<int>({result.classes[i].images, result.classes[i].rois}), perClass[i]);
    }

    // A check that is no longer wanted stops before it has counted anything.
    const DatasetCheck::Result stopped =
        DatasetCheck::Run(DatasetCheck::Snapshot(*PrjIns().lock()), [] { return true; });
    QCOMPARE(stopped.defectImages + stopped.okImages + stopped.unmarked, 0);
}

void tst_DatasetCheck::reopenedProjectAgreesWithFiles()
{
    // The database keeps two decimals, the annotation files every digit.
    Build(1, {"a"},
          Many(10, "p a 2.123456 3.987654 20.5555 3.3333 11.0049 19.9951;r a 1.111 2.226 9.994 8.888"));
    ReleaseNexil();
    CreateNexil();
    QVERIFY(NexilIns().lock()->Init(m_dir->path() + "/ws"));
    NexilIns().lock()->OpenPro("P1");
    QTRY_COMPARE(PrjIns().lock()->Images().size(), 10);
    const DatasetCheck::Result result = DatasetCheck::Run(DatasetCheck::Snapshot(*PrjIns().lock()));
    QCOMPARE(result.findings.size(), 1);
    QCOMPARE(result.findings[0].issue, DatasetCheck::Issue::RectInSegment);
}

void tst_DatasetCheck::classModel()
{
    DatasetCheckModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.SetClasses({{"a", 12, 30}, {"b", 3, 4}, {"c", 0, 0}});
    QCOMPARE(resets.size(), 1);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.index(0, DatasetCheckModel::ColName).data().toString(), QString("a"));
    QCOMPARE(model.index(0, DatasetCheckModel::ColImages).data().toInt(), 12);
    QCOMPARE(model.index(0, DatasetCheckModel::ColRois).data().toInt(), 30);
    // Thin categories show in the colours of their warnings.
    QVERIFY(!model.index(0, 0).data(Qt::ForegroundRole).isValid());
    QCOMPARE(model.index(1, 1).data(Qt::ForegroundRole).value<QColor>(), DatasetCheckModel::WarningColor());
    QCOMPARE(model.index(2, 2).data(Qt::ForegroundRole).value<QColor>(), DatasetCheckModel::ErrorColor());
    model.SetClasses({});
    QCOMPARE(model.rowCount(), 0);
}

QTEST_MAIN(tst_DatasetCheck)
#include "tst_DatasetCheck.moc"
