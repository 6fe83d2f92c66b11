#include "CallbackLog.h"
#include "ProjectRecord.h"

#include "LumoraExport/CocoWriter.h"
#include "LumoraExport/DatasetExporter.h"
#include "LumoraExport/DatasetSplit.h"
#include "LumoraExport/ExportPaths.h"
#include "LumoraExport/ProjectReader.h"
#include "LumoraExport/VocWriter.h"
#include "LumoraExport/YoloWriter.h"

#include "Nexil/NexilApi.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QCryptographicHash>
#include <QDomDocument>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

namespace
{

const QString kProject = QStringLiteral("螺丝 检测");
const QStringList kCategories{"划痕", "脏污", "点"};
// Import batches: the marked images, and an image neither annotated nor marked OK.
const QString kBatch = QStringLiteral("2024-01-02_03-04-05-006");
const QString kUnmarkedBatch = QStringLiteral("2024-01-02_09-00-00-000");

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Everything under folder, relative, sorted: what an export left behind.
QStringList Tree(const QString& folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(folder).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

// Everything under folder with the bytes of every file and the target of every link, links not
// followed: two equal snapshots mean nothing was touched.
QStringList Snapshot(const QString& folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
    {
        const QFileInfo info(it.next());
        const QString name = QDir(folder).relativeFilePath(info.filePath());
        if (info.isSymLink())
            entries << name + " -> " + info.symLinkTarget();
        else if (info.isDir())
            entries << name + "/";
        else
            entries
                << name + " " +
                       QCryptographicHash::hash(ReadAll(info.filePath()), QCryptographicHash::Sha1).toHex();
    }
    entries.sort();
    return entries;
}

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run RunExport(const QStringList& args)
{
    QProcess process;
    process.start(LUMORA_EXPORT_BIN, args);
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

bool MakeFile(const QString& path, const QByteArray& bytes = "x")
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size();
}

// COCO read back: ids consistent, every bbox and vertex inside its image. Annotations as
// "file category bbox | segmentation | area" lines.
QStringList ReadCoco(const QString& file)
{
    QJsonParseError error;
    const QJsonObject doc = QJsonDocument::fromJson(ReadAll(file), &error).object();
    if (error.error != QJsonParseError::NoError)
        return {"invalid JSON: " + error.errorString()};
    QHash<int, QJsonObject> images;
    for (const QJsonValue& v : doc["images"].toArray())
        images.insert(v["id"].toInt(), v.toObject());
    QHash<int, QString> categories;
    for (const QJsonValue& v : doc["categories"].toArray())
        categories.insert(v["id"].toInt(), v["name"].toString());
    QStringList lines;
    QSet<int> annotationIds;
    for (const QJsonValue& v : doc["annotations"].toArray())
    {
        const QJsonObject image = images.value(v["image_id"].toInt());
        const QJsonArray box = v["bbox"].toArray();
        const double w = image["width"].toDouble(), h = image["height"].toDouble();
        if (image.isEmpty() || !categories.contains(v["category_id"].toInt()) ||
            annotationIds.contains(v["id"].toInt()) || box[0].toDouble() < 0 || box[1].toDouble() < 0 ||
            box[0].toDouble() + box[2].toDouble() > w || box[1].toDouble() + box[3].toDouble() > h)
            return {"inconsistent annotation " + QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact)};
        annotationIds.insert(v["id"].toInt());
        QStringList numbers;
        for (const QJsonValue& n : box)
            numbers << QString::number(n.toDouble());
        numbers << "|";
        for (const QJsonValue& n : v["segmentation"].toArray()[0].toArray())
            numbers << QString::number(n.toDouble());
        lines << QStringLiteral("%1 %2 %3 | %4")
                     .arg(image["file_name"].toString(), categories.value(v["category_id"].toInt()),
                          numbers.join(' '), QString::number(v["area"].toDouble()));
    }
    return lines;
}

// YOLO labels read back, every number in [0, 1]: "stem: line; line".
QStringList ReadYolo(const QString& folder)
{
    QStringList result;
    for (const QFileInfo& info : QDir(folder).entryInfoList({"*.txt"}, QDir::Files, QDir::Name))
    {
        const QStringList lines = QString::fromUtf8(ReadAll(info.filePath())).split('\n', Qt::SkipEmptyParts);
        for (const QString& line : lines)
        {
            const QStringList fields = line.split(' ');
            for (int i = 1; i < fields.size(); ++i)
            {
                bool ok = false;
                const double value = fields[i].toDouble(&ok);
                if (!ok || value < 0 || value > 1)
                    return {"out of range: " + line};
            }
        }
        result << info.completeBaseName() + ": " + lines.join("; ");
    }
    return result;
}

// VOC annotation read back: "file WxH name xmin ymin xmax ymax truncated; ...".
QString ReadVoc(const QString& file)
{
    QDomDocument doc;
    if (!doc.setContent(ReadAll(file)))
        return "invalid XML";
    const QDomElement root = doc.documentElement();
    const QDomElement size = root.firstChildElement("size");
    QStringList objects;
    for (QDomElement o = root.firstChildElement("object"); !o.isNull(); o = o.nextSiblingElement("object"))
    {
        const QDomElement box = o.firstChildElement("bndbox");
        QStringList fields{o.firstChildElement("name").text()};
        for (const char* key : {"xmin", "ymin", "xmax", "ymax"})
            fields << box.firstChildElement(key).text();
        fields << o.firstChildElement("truncated").text();
        objects << fields.join(' ');
    }
    return QStringLiteral("%1 %2x%3 %4")
        .arg(root.firstChildElement("filename").text(), size.firstChildElement("width").text(),
             size.firstChildElement("height").text(), objects.join("; "));
}

} // namespace

class tst_DatasetExport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void split_data();
    void split();
    void shapes_data();
    void shapes();
    void formats_data();
    void formats();
    void sameNamesStayApart();
    void cancelLeavesNothing();
    void commandLine_data();
    void commandLine();
    void refusals_data();
    void refusals();
    void replaceEarlierExport();
    void cocoTwoDecimals_data();
    void cocoTwoDecimals();
    void damagedDatabase();
    void linkedImage();
    void pathsOutOfProject_data();
    void pathsOutOfProject();

private:
    // A project of type with four images: "a b.png" with a rectangle and a triangle, "c.png" with a
    // rectangle that runs out of the image, "ok.png" marked OK and "d.png" neither; all 200 x 100.
    void MakeProject(int type);
    QString Project() const { return m_dir->filePath("ws/" + kProject); }
    ExportSet Read();
    // The stored path of the image named name, relative to the project.
    QString StoredPath(const QString& name);
    QString Expand(QString text) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_DatasetExport::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_DatasetExport::cleanup()
{
    ReleaseNexil();
    m_dir.reset();
}

void tst_DatasetExport::MakeProject(int type)
{
    QDir().mkpath(m_dir->filePath("ws"));
    QDir().mkpath(m_dir->filePath("src"));
    CreateNexil();
    QVERIFY(NexilIns().lock()->Init(m_dir->filePath("ws")));
    QVERIFY(NexilIns().lock()->AddPro(MakeInfo("P1", kProject, type)));
    NexilIns().lock()->OpenPro("P1");
    const auto prj = PrjIns().lock();
    for (const QString& category : kCategories)
        QVERIFY(prj->AddMarkType(category));
    CallbackLog log;
    prj->SetSaveCallback(&CallbackLog::Record, &log);
    const auto add = [&](const QString& name, const ROIList& rois, bool ok, const QString& batch = kBatch)
    {
        QImage picture(200, 100, QImage::Format_RGB888);
        picture.fill(Qt::gray);
        QVERIFY(picture.save(m_dir->filePath("src/" + name)));
        auto img = std::make_shared<pro::ImageInfo>();
        img->path = m_dir->filePath("src/" + name);
        img->fileName = name;
        img->rois = rois;
        img->markAsOK = ok;
        img->addTime = batch;
        prj->AddImage(img);
    };
    add("a b.png",
        {std::make_shared<RectROIItem>(QRectF(QPointF(10, 20), QPointF(30, 40.5)), 0, "划痕"),
         std::make_shared<PolygonROIItem>(QPolygonF({{50, 10}, {90, 10}, {70, 60}}), 0, "脏污")},
        false);
    add("c.png", {std::make_shared<RectROIItem>(QRectF(180, 90, 40, 30), 0, "点")}, false);
    add("ok.png", {}, true);
    add("d.png", {}, false, kUnmarkedBatch);
    QTRY_COMPARE(log.results, QList<bool>({true, true, true, true}));
}

QString tst_DatasetExport::StoredPath(const QString& name)
{
    for (const ExportImage& image : Read().images)
    {
        if (image.fileName == name)
            return image.key;
    }
    return QString();
}

QString tst_DatasetExport::Expand(QString text) const
{
    return text.replace("<project>", Project()).replace("<dir>", m_dir->path());
}

ExportSet tst_DatasetExport::Read()
{
    ExportSet set;
    QString error;
    if (ProjectReader::Read(Project(), set, error) != ProjectReader::Status::Ok)
        qWarning() << error;
    return set;
}

void tst_DatasetExport::split_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<quint32>("seed");
    // Worked out with an independent mt19937 and the documented shuffle.
    QTest::addColumn<QString>("mask");
    QTest::newRow("10 at 0.3") << 10 << 0.3 << 42u << "0101000001";
    QTest::newRow("at least one") << 7 << 0.2 << 0u << "0000001";
    QTest::newRow("largest seed, half rounds up") << 5 << 0.5 << 4294967295u << "10011";
    QTest::newRow("tiny fraction") << 2 << 0.01 << 1u << "10";
    QTest::newRow("never all") << 4 << 0.99 << 3u << "1101";
    QTest::newRow("no split") << 6 << 0.0 << 9u << "000000";
    QTest::newRow("one image") << 1 << 0.5 << 9u << "0";
}

void tst_DatasetExport::split()
{
    QFETCH(int, n);
    QFETCH(double, fraction);
    QFETCH(quint32, seed);
    QFETCH(QString, mask);
    QString got;
    for (bool val : DatasetSplit::ValidationMask(n, fraction, seed))
        got += val ? '1' : '0';
    QCOMPARE(got, mask);
    QCOMPARE(DatasetSplit::ValidationMask(n, fraction, seed),
             DatasetSplit::ValidationMask(n, fraction, seed));
}

void tst_DatasetExport::shapes_data()
{
    QTest::addColumn<bool>("polygon");
    QTest::addColumn<QPolygonF>("points");
    // "x y w h area clipped", empty when the shape is dropped; the image is 200 x 100.
    QTest::addColumn<QString>("expected");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("rectangle inside")
        << false << QPolygonF(QVector<QPointF>{{10, 20}, {30, 40.5}}) << "10 20 20 20.5 410 0";
    QTest::newRow("rectangle over the corner")
        << false << QPolygonF(QVector<QPointF>{{180, 90}, {220, 120}}) << "180 90 20 10 200 1";
    QTest::newRow("rectangle outside") << false << QPolygonF(QVector<QPointF>{{210, 0}, {250, 50}}) << "";
    QTest::newRow("triangle cut by two edges")
        << true << QPolygonF(QVector<QPointF>{{-10, -10}, {10, -10}, {10, 10}}) << "0 0 10 10 50 1";
    QTest::newRow("two vertices") << true << QPolygonF(QVector<QPointF>{{0, 0}, {10, 10}}) << "";
    QTest::newRow("vertices on a line")
        << true << QPolygonF(QVector<QPointF>{{0, 0}, {10, 10}, {20, 20}}) << "";
    QTest::newRow("not a number") << true << QPolygonF(QVector<QPointF>{{0, 0}, {10, nan}, {20, 0}}) << "";
}

void tst_DatasetExport::shapes()
{
    QFETCH(bool, polygon);
    QFETCH(QPolygonF, points);
    QFETCH(QString, expected);
    ExportRoi roi;
    roi.polygon = polygon;
    if (polygon)
        roi.points = points;
    else
        roi.rect = QRectF(points[0], points[1]);
    const auto shape = ExportShape::Make(roi, 0, QSize(200, 100));
    QString got;
    if (shape)
    {
        const QRectF box = shape->Box();
        got = QStringLiteral("%1 %2 %3 %4 %5 %6")
                  .arg(box.x())
                  .arg(box.y())
                  .arg(box.width())
                  .arg(box.height())
                  .arg(shape->Area())
                  .arg(shape->Clipped() ? 1 : 0);
    }
    QCOMPARE(got, expected);
}

void tst_DatasetExport::formats_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("files");

    const QStringList coco{"a b.png 划痕 10 20 20 20.5 | 10 20 30 20 30 40.5 10 40.5 | 410",
                           "a b.png 脏污 50 10 40 50 | 50 10 90 10 70 60 | 1000",
                           "c.png 点 180 90 20 10 | 180 100 180 90 200 90 200 100 | 200"};
    const QStringList cocoFiles{"annotations/instances_train.json", "images/train/a b.png",
                                "images/train/c.png", "images/train/ok.png"};
    QTest::newRow("coco detection") << 2 << int(ExportFormat::Coco) << coco << cocoFiles;
    QTest::newRow("coco segmentation") << 1 << int(ExportFormat::Coco) << coco << cocoFiles;
    const QStringList yoloFiles{"data.yaml", "images/train/a b.png", "labels/train/a b.txt",
                                "labels/train/ok.txt"};
    QTest::newRow("yolo detection")
        << 2 << int(ExportFormat::Yolo)
        << QStringList{"a b: 0 0.100000 0.302500 0.100000 0.205000; 1 0.350000 0.350000 0.200000 0.500000",
                       "c: 2 0.950000 0.950000 0.100000 0.100000", "ok: "}
        << yoloFiles;
    QTest::newRow("yolo segmentation")
        << 1 << int(ExportFormat::Yolo)
        << QStringList{"a b: 0 0.050000 0.200000 0.150000 0.200000 0.150000 0.405000 0.050000 0.405000; "
                       "1 0.250000 0.100000 0.450000 0.100000 0.350000 0.600000",
                       "c: 2 0.900000 1.000000 0.900000 0.900000 1.000000 0.900000 1.000000 1.000000", "ok: "}
        << yoloFiles;
    QTest::newRow("voc") << 2 << int(ExportFormat::Voc)
                         << QStringList{"a b.png 200x100 划痕 11 21 30 41 0; 脏污 51 11 90 60 0",
                                        "c.png 200x100 点 181 91 200 100 1", "ok.png 200x100 "}
                         << QStringList{"Annotations/a b.xml", "ImageSets/Main/train.txt",
                                        "JPEGImages/ok.png", "labels.txt"};
}

void tst_DatasetExport::formats()
{
    QFETCH(int, type);
    QFETCH(int, format);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, files);
    MakeProject(type);
    // Read while the project is open, as the command line may do beside the program.
    const ExportSet set = Read();
    QCOMPARE(set.type, type);
    QCOMPARE(set.categories, kCategories);
    QCOMPARE(set.images.size(), 3);

    ExportOptions options;
    options.format = ExportFormat(format);
    options.outputDir = m_dir->filePath("out/set");
    const ExportSummary summary = DatasetExporter(set, options).Run();
    QCOMPARE(int(summary.status), int(ExportStatus::Ok));
    QCOMPARE(summary.trainImages, 3);
    QCOMPARE(summary.okImages, 1);
    QCOMPARE(summary.objects, 3);
    const QString out = options.outputDir;
    for (const QString& file : files)
        QVERIFY2(QFileInfo(out + "/" + file).isFile(), qPrintable(file));
    QCOMPARE(QDir(m_dir->filePath("out")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"set"});

    if (options.format == ExportFormat::Coco)
    {
        QCOMPARE(ReadCoco(out + "/" + CocoWriter::AnnotationFile(DatasetPart::Train)), expected);
        QVERIFY(!QFileInfo::exists(out + "/" + CocoWriter::AnnotationFile(DatasetPart::Val)));
    }
    else if (options.format == ExportFormat::Yolo)
    {
        QCOMPARE(ReadYolo(out + "/labels/train"), expected);
        const QString yaml = QString::fromUtf8(ReadAll(out + "/data.yaml"));
        QVERIFY2(
            yaml.contains("val: images/train\nnc: 3\nnames:\n  0: \"划痕\"\n  1: \"脏污\"\n  2: \"点\"\n"),
            qPrintable(yaml));
    }
    else
    {
        QStringList got;
        for (const QString& stem : QStringList{"a b", "c", "ok"})
            got << ReadVoc(out + "/" + VocWriter::AnnotationFile(stem));
        QCOMPARE(got, expected);
        QCOMPARE(ReadAll(out + "/labels.txt"), QString("划痕\n脏污\n点\n").toUtf8());
    }
}

void tst_DatasetExport::sameNamesStayApart()
{
    QImage picture(8, 4, QImage::Format_RGB888);
    picture.fill(Qt::gray);
    ExportSet set;
    set.type = 2;
    for (const QString& batch : QStringList{"b1", "b2"})
    {
        QDir().mkpath(m_dir->filePath(batch));
        QVERIFY(picture.save(m_dir->filePath(batch + "/X.png")));
        set.images.append({m_dir->filePath(batch + "/X.png"), "X.png", batch, true, {}});
    }
    QVERIFY(picture.save(m_dir->filePath("b2/x.jpg"), "PNG"));
    set.images.append({m_dir->filePath("b2/x.jpg"), "x.jpg", "b3", true, {}});
    ExportOptions options;
    options.format = ExportFormat::Yolo;
    options.outputDir = m_dir->filePath("out");
    options.valFraction = 0.5;
    QCOMPARE(int(DatasetExporter(set, options).Run().status), int(ExportStatus::Ok));
    QStringList labels = Tree(m_dir->filePath("out/labels")).filter(".txt");
    for (QString& label : labels)
        label = QFileInfo(label).fileName();
    labels.sort();
    QCOMPARE(labels, QStringList({"X.txt", "X_2.txt", "x_3.txt"}));
}

void tst_DatasetExport::cancelLeavesNothing()
{
    MakeProject(2);
    std::atomic_bool cancel{false};
    ExportOptions options;
    options.outputDir = m_dir->filePath("out/set");
    DatasetExporter exporter(Read(), options);
    exporter.SetCancelFlag(&cancel);
    exporter.SetProgress([&](int, int) { cancel = true; });
    QCOMPARE(int(exporter.Run().status), int(ExportStatus::Cancelled));
    // The folder made on the way to the output goes too.
    QVERIFY(!QFileInfo::exists(m_dir->filePath("out")));
}

void tst_DatasetExport::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("output");

    const QString project = "<project>";
    QTest::newRow("done")
        << QStringList{project, "-f", "voc", "-o", "<dir>/out/set", "--val", "0.3"} << 0
        << "LumoraExport: done: format=voc images=3 train=2 val=1 ok=1 objects=3 categories=3"
        << "set";
    QTest::newRow("missing project") << QStringList{"<dir>/nothing", "-f", "coco", "-o", "<dir>/out/set"} << 2
                                     << "no project at"
                                     << "file";
    QTest::newRow("unknown format") << QStringList{project, "-f", "tiff", "-o", "<dir>/out/set"} << 1
                                    << "unknown format \"tiff\""
                                    << "file";
    QTest::newRow("output under a file")
        << QStringList{project, "-f", "yolo", "-o", "<dir>/out/file/set"} << 3 << "cannot write"
        << "file";
    QTest::newRow("output not empty")
        << QStringList{project, "-f", "yolo", "-o", "<dir>/out"} << 3 << "is not empty"
        << "file";
    QTest::newRow("replace the project") << QStringList{project, "-f", "coco", "-o", project, "--replace"}
                                         << 3 << "is a project folder or workspace"
                                         << "file";
}

void tst_DatasetExport::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(QString, output);
    MakeProject(1);
    ReleaseNexil();
    const QStringList before = Tree(Project());
    QVERIFY(QDir().mkpath(m_dir->filePath("out")));
    if (QTest::currentDataTag() != QByteArray("done"))
    {
        QFile file(m_dir->filePath("out/file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    for (QString& arg : args)
        arg.replace("<project>", Project()).replace("<dir>", m_dir->path());

    QProcess process;
    process.start(LUMORA_EXPORT_BIN, args);
    QVERIFY(process.waitForFinished(60000));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2((exitCode == 0 ? out : err).contains(message), qPrintable(out + err));
    QCOMPARE((exitCode == 0 ? out : err).count('\n'), 1);
    QCOMPARE(QDir(m_dir->filePath("out")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{output});
    QCOMPARE(Tree(Project()), before);
}

void tst_DatasetExport::refusals_data()
{
    QTest::addColumn<QString>("project");
    QTest::addColumn<QString>("output");
    // "link=>target" pairs and files made before the run.
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("message");

    const QString models = "<project>/train/v1/model/weights.pt";
    QTest::newRow("output is a link to the project")
        << "<project>"
        << "<dir>/out/link" << QStringList{"<dir>/out/link=><project>"} << QStringList()
        << "output <dir>/out/link is a symbolic link";
    QTest::newRow("the project through a linked workspace")
        << "<dir>/wsl/" + kProject << "<project>" << QStringList{"<dir>/wsl=><dir>/ws"} << QStringList()
        << "output folder <project> is a project folder or workspace";
    QTest::newRow("an import batch with no marked image")
        << "<project>"
        << "<project>/datas/" + kUnmarkedBatch << QStringList() << QStringList()
        << "lies inside the project or workspace <project>";
    QTest::newRow("trained models") << "<project>"
                                    << "<project>/train" << QStringList() << QStringList{models}
                                    << "lies inside the project or workspace <project>";
    QTest::newRow("the workspace") << "<project>"
                                   << "<dir>/ws" << QStringList() << QStringList()
                                   << "output folder <dir>/ws is a project folder or workspace";
    // Compared without case, as on the systems where the spelling names the same folder.
    QTest::newRow("the workspace in other case") << "<project>"
                                                 << "<dir>/WS" << QStringList() << QStringList()
                                                 << "output folder <dir>/WS is a project folder or workspace";
    QTest::newRow("a folder around the workspace")
        << "<project>"
        << "<dir>" << QStringList() << QStringList()
        << "output folder <dir> contains the project or workspace <dir>/ws; not replaced";
    QTest::newRow("dot-dot spelling") << "<project>"
                                      << "<project>/datas/../train" << QStringList() << QStringList{models}
                                      << "lies inside the project or workspace <project>";
    // Read by its spelling, the path leads to <dir>/train; the system goes to the link's parent.
    QTest::newRow("dot-dot after a link")
        << "<project>"
        << "<dir>/dl/../train" << QStringList{"<dir>/dl=><project>/datas"} << QStringList{models}
        << "lies inside the project or workspace <project>";
    QTest::newRow("inside another project")
        << "<project>"
        << "<dir>/other/set" << QStringList() << QStringList{"<dir>/other/PrjData.db"}
        << "lies inside the project or workspace <dir>/other";
    QTest::newRow("a folder no export made")
        << "<project>"
        << "<dir>/out/keep" << QStringList() << QStringList{"<dir>/out/keep/keep.txt"}
        << "output folder <dir>/out/keep was not made by an export (no .lumora-export file)";
    QTest::newRow("an export marker that is a link")
        << "<project>"
        << "<dir>/out/old" << QStringList{"<dir>/out/old/.lumora-export=><dir>/marker"}
        << QStringList{"<dir>/marker", "<dir>/out/old/a.txt"} << "was not made by an export";
    QTest::newRow("an export holding a project")
        << "<project>"
        << "<dir>/out/old" << QStringList()
        << QStringList{"<dir>/out/old/.lumora-export", "<dir>/out/old/copy/PrjData.db"}
        << "contains the project or workspace <dir>/out/old/copy";
}

void tst_DatasetExport::refusals()
{
    QFETCH(QString, project);
    QFETCH(QString, output);
    QFETCH(QStringList, links);
    QFETCH(QStringList, files);
    QFETCH(QString, message);
    MakeProject(1);
    ReleaseNexil();
    for (const QString& file : files)
        QVERIFY(MakeFile(Expand(file)));
    for (const QString& pair : links)
    {
        const QStringList ends = Expand(pair).split("=>");
        QVERIFY(QDir().mkpath(QFileInfo(ends[0]).path()));
        QVERIFY(QFile::link(ends[1], ends[0]));
    }
    const QStringList before = Snapshot(m_dir->path());
    QVERIFY(before.indexOf(QRegularExpression(
                "^" + QRegularExpression::escape("ws/" + kProject + "/PrjData.db ") + "[0-9a-f]+$")) >= 0);

    const Run run = RunExport({Expand(project), "-f", "yolo", "-o", Expand(output), "--replace"});
    QCOMPARE(run.exitCode, 3);
    QVERIFY2(run.err.startsWith("LumoraExport: error: ") && run.err.contains(Expand(message)),
             qPrintable(run.err));
    QCOMPARE(run.err.count('\n'), 1);
    // Nothing touched, nothing partial, no folder made on the way.
    QCOMPARE(Snapshot(m_dir->path()), before);
}

void tst_DatasetExport::replaceEarlierExport()
{
    MakeProject(2);
    ReleaseNexil();
    // An empty folder is taken as it is.
    const QString output = m_dir->filePath("out/set");
    QVERIFY(QDir().mkpath(output));
    QCOMPARE(RunExport({Project(), "-f", "coco", "-o", output}).exitCode, 0);
    QVERIFY(QFileInfo(output + "/" + ExportPaths::kMarkerFile).isFile());
    // Links left in an earlier export go as links.
    const QString image = Project() + StoredPath("c.png");
    QVERIFY(QFile::link(Project(), output + "/project"));
    QVERIFY(QFile::link(image, output + "/images/train/linked.png"));
    const QStringList project = Snapshot(m_dir->filePath("ws"));

    const Run run = RunExport({Project(), "-f", "yolo", "-o", output, "--replace"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(QFileInfo(output + "/data.yaml").isFile());
    QVERIFY(QFileInfo(output + "/" + ExportPaths::kMarkerFile).isFile());
    QVERIFY(!QFileInfo::exists(output + "/annotations"));
    QVERIFY(!QFileInfo::exists(output + "/project"));
    QCOMPARE(QDir(m_dir->filePath("out")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"set"});
    QCOMPARE(Snapshot(m_dir->filePath("ws")), project);
}

void tst_DatasetExport::cocoTwoDecimals_data()
{
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<QString>("bbox");
    QTest::newRow("width") << QRectF(QPointF(10.5, 20), QPointF(70.1, 40)) << "[10.5,20,59.6,20]";
    QTest::newRow("height") << QRectF(QPointF(0, 1.1), QPointF(5, 12.3)) << "[0,1.1,5,11.2]";
    QTest::newRow("more decimals") << QRectF(QPointF(0.123, 0.456), QPointF(33.333, 44.444))
                                   << "[0.12,0.46,33.21,43.98]";
}

void tst_DatasetExport::cocoTwoDecimals()
{
    QFETCH(QRectF, rect);
    QFETCH(QString, bbox);
    QImage picture(200, 100, QImage::Format_RGB888);
    picture.fill(Qt::gray);
    QVERIFY(picture.save(m_dir->filePath("a.png")));
    ExportRoi roi;
    roi.category = "c";
    roi.rect = rect;
    ExportSet set;
    set.type = 2;
    set.images.append({m_dir->filePath("a.png"), "a.png", "a", false, {roi}});
    ExportOptions options;
    options.outputDir = m_dir->filePath("out");
    QCOMPARE(int(DatasetExporter(set, options).Run().status), int(ExportStatus::Ok));
    const QString json =
        QString::fromUtf8(ReadAll(options.outputDir + "/" + CocoWriter::AnnotationFile(DatasetPart::Train)));
    QVERIFY2(json.contains("\"bbox\":" + bbox), qPrintable(json));
    QVERIFY2(!json.contains(QRegularExpression("\\d\\.\\d{3}")), qPrintable(json));
}

void tst_DatasetExport::damagedDatabase()
{
    // Enough rows for the table to span several pages.
    QDir().mkpath(m_dir->filePath("ws"));
    CreateNexil();
    QVERIFY(NexilIns().lock()->Init(m_dir->filePath("ws")));
    QVERIFY(NexilIns().lock()->AddPro(MakeInfo("P1", kProject, 2)));
    NexilIns().lock()->OpenPro("P1");
    // The project is closed when the last reference goes.
    {
        const auto prj = PrjIns().lock();
        CallbackLog log;
        prj->SetSaveCallback(&CallbackLog::Record, &log);
        QImage picture(8, 8, QImage::Format_RGB888);
        picture.fill(Qt::gray);
        const int count = 150;
        for (int i = 0; i < count; ++i)
        {
            auto img = std::make_shared<pro::ImageInfo>();
            img->fileName = QStringLiteral("n%1.png").arg(i, 3, 10, QChar('0'));
            img->path = m_dir->filePath(img->fileName);
            QVERIFY(picture.save(img->path));
            img->markAsOK = true;
            img->addTime = kBatch;
            prj->AddImage(img);
        }
        QTRY_COMPARE_WITH_TIMEOUT(log.results.size(), count, 60000);
    }
    ReleaseNexil();
    const QString db = Project() + "/PrjData.db";
    QVERIFY(!QFileInfo::exists(db + "-wal"));

    // Breaks the header of the page that holds a row in the middle.
    QFile file(db);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray bytes = file.readAll();
    const int pageSize = (uchar(bytes[16]) << 8) | uchar(bytes[17]);
    const int at = bytes.indexOf("n075.png");
    QVERIFY(pageSize >= 512 && at > pageSize && bytes.size() > 4 * pageSize);
    QVERIFY(file.seek(at / pageSize * pageSize));
    QCOMPARE(file.write(QByteArray(8, '\xff')), 8);
    file.close();

    ExportSet set;
    QString error;
    QCOMPARE(int(ProjectReader::Read(Project(), set, error)), int(ProjectReader::Status::Unreadable));
    QVERIFY2(error.contains("malformed"), qPrintable(error));
    const Run run = RunExport({Project(), "-f", "coco", "-o", m_dir->filePath("out/set")});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("malformed"), qPrintable(run.err));
    QVERIFY(!QFileInfo::exists(m_dir->filePath("out")));
}

void tst_DatasetExport::linkedImage()
{
    MakeProject(2);
    ReleaseNexil();
    // The image becomes a link relative to its folder, which means nothing at another place.
    const QString image = Project() + StoredPath("c.png");
    const QByteArray bytes = ReadAll(image);
    QVERIFY(QFile::rename(image, image + ".real"));
    QVERIFY(QFile::link("c.png.real", image));

    ExportOptions options;
    options.format = ExportFormat::Yolo;
    options.outputDir = m_dir->filePath("out/set");
    options.transfer = ImageTransfer::Link;
    const ExportSummary summary = DatasetExporter(Read(), options).Run();
    QCOMPARE(int(summary.status), int(ExportStatus::Ok));
    QCOMPARE(summary.trainImages, 3);
    const QFileInfo exported(options.outputDir + "/images/train/c.png");
    QVERIFY(!exported.isSymLink());
    QCOMPARE(ReadAll(exported.filePath()), bytes);
}

void tst_DatasetExport::pathsOutOfProject_data()
{
    // The stored path of "c.png" becomes key; or the image itself a link to target.
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("target");
    QTest::newRow("dot-dot") << "/datas/" + kBatch + "/RawDatas/../../../../outside.png" << QString();
    QTest::newRow("dot-dot back into datas")
        << "/datas/" + kBatch + "/../../../" + kProject + "/datas/" + kBatch + "/RawDatas/c.png" << QString();
    QTest::newRow("outside the datas folder") << "/outside.png" << QString();
    QTest::newRow("link out of the project") << QString() << "<dir>/ws/outside.png";
}

void tst_DatasetExport::pathsOutOfProject()
{
    QFETCH(QString, key);
    QFETCH(QString, target);
    MakeProject(2);
    ReleaseNexil();
    const QString stored = StoredPath("c.png");
    QVERIFY(QFile::copy(Project() + stored, m_dir->filePath("ws/outside.png")));
    QVERIFY(QFile::copy(Project() + stored, Project() + "/outside.png"));
    if (!target.isEmpty())
    {
        QVERIFY(QFile::remove(Project() + stored));
        QVERIFY(QFile::link(Expand(target), Project() + stored));
    }
    if (!key.isEmpty())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "edit");
        db.setDatabaseName(Project() + "/PrjData.db");
        QVERIFY(db.open());
        QSqlQuery query(db);
        query.prepare("update tbl_project_data set image=:key where image=:stored");
        query.bindValue(":key", key);
        query.bindValue(":stored", stored);
        QVERIFY(query.exec());
        QCOMPARE(query.numRowsAffected(), 1);
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase("edit");

    const ExportSet set = Read();
    QCOMPARE(set.refusedPaths, QStringList{key.isEmpty() ? stored : key});
    QCOMPARE(set.images.size(), 2);
    const Run run = RunExport({Project(), "-f", "coco", "-o", m_dir->filePath("out/set")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains("images=2 ") && run.out.contains("skipped=1 "), qPrintable(run.out));
    QVERIFY2(run.err.contains("1 stored image paths lead out of the project folder"), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(tst_DatasetExport)
#include "tst_DatasetExport.moc"
