// LumoraInspect run as a process on a tiny trained version: exit codes and messages for bad arguments
// and unusable outputs, prediction files and CSV lines for readable images, unreadable ones counted.
#include "TinyVersion.h"

#include "ComLib/Service/ServiceProtocol.h"
#include "TrainService/DataSet.h"
#include "TrainService/ModelEngine.h"
#include "TrainService/OnnxModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace
{

struct Result
{
    int code = -1;
    QString out;
    QString err;
};

Result Inspect(const QStringList& arguments)
{
    QProcess process;
    process.start(LUMORA_INSPECT_BIN, arguments);
    if (!process.waitForFinished(120000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QStringList CsvRows(const QString& text)
{
    return text.split('\n', Qt::SkipEmptyParts);
}

QJsonObject ReadJson(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

} // namespace

using trainsvc::NetLayout;
namespace onnxmodel = trainsvc::onnxmodel;

class tst_LumoraInspect : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void badArguments_data();
    void badArguments();
    void inspectFolder_data();
    void inspectFolder();
    void nothingToInspect();
    void thresholdFileAndQuoting();
    void modelNotFittingItsRecord();
    void unusableOutputs();

private:
    QTemporaryDir m_dir;
    QString m_model;
    QString m_onnx;
    QString m_images;
};

void tst_LumoraInspect::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QString error;
    QVERIFY2(MakeTinyVersion(m_dir.path(), false, error), qPrintable(error));
    m_model = m_dir.path() + "/model";
    m_images = m_dir.path() + "/images";
    // One image in a sub-folder, and a file with an image's name that is none.
    QVERIFY(QDir().mkpath(m_images + "/line2"));
    QVERIFY(QFile::copy(m_images + "/img_0000.png", m_images + "/line2/img_0000.png"));
    QVERIFY(WriteTestFile(m_images + "/broken.png", "not an image"));
    QVERIFY(QDir().mkpath(m_dir.path() + "/undescribed"));
    QVERIFY(WriteTestFile(m_dir.path() + "/undescribed/Config.json", "{}"));
    m_onnx = m_dir.path() + "/exported/model.onnx";
    QVERIFY(QDir().mkpath(m_dir.path() + "/exported"));
    const Result exported = Inspect({m_model, "--export", m_onnx});
    QVERIFY2(exported.code == 0, qPrintable(exported.err));
    QVERIFY(exported.out.startsWith("LumoraInspect: exported:"));
    QVERIFY(QFileInfo(m_onnx).size() > 1000);
}

void tst_LumoraInspect::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    const QString root = m_dir.path();
    QTest::newRow("nothing") << QStringList() << 1 << "give a model";
    QTest::newRow("no images") << QStringList{root + "/model"} << 1 << "give a model";
    QTest::newRow("runtime") << QStringList{root + "/model", root + "/images", "--runtime", "gpu"} << 1
                             << "--runtime";
    QTest::newRow("jobs") << QStringList{root + "/model", root + "/images", "--jobs", "0"} << 1 << "--jobs";
    QTest::newRow("thresholds file missing")
        << QStringList{root + "/model", root + "/images", "--thresholds", root + "/none.json"} << 1
        << "--thresholds";
    QTest::newRow("thresholds file bad")
        << QStringList{root + "/model", root + "/images", "--thresholds", root + "/images/img_0000.json"} << 1
        << "thresholds file";
    QTest::newRow("images missing") << QStringList{root + "/model", root + "/nowhere"} << 1
                                    << "no image or folder";
    QTest::newRow("torch on onnx") << QStringList{root + "/exported/model.onnx", root + "/images",
                                                  "--runtime", "torch"}
                                   << 1 << "model folder";
    QTest::newRow("export name") << QStringList{root + "/model", "--export", root + "/model.bin"} << 1
                                 << ".onnx";
    QTest::newRow("export with images")
        << QStringList{root + "/model", root + "/images", "--export", root + "/m.onnx"} << 1 << "--export";
    QTest::newRow("model missing") << QStringList{root + "/nomodel", root + "/images"} << 2 << "no model";
    QTest::newRow("folder without model")
        << QStringList{root + "/images", root + "/images"} << 2 << "no model";
    QTest::newRow("not onnx") << QStringList{root + "/images/img_0000.png", root + "/images"} << 2 << "ONNX";
    QTest::newRow("export no model") << QStringList{root + "/images", "--export", root + "/m.onnx"} << 2
                                     << "no model";
    QTest::newRow("export undescribed model")
        << QStringList{root + "/undescribed", "--export", root + "/m.onnx"} << 2
        << "does not describe a model";
}

void tst_LumoraInspect::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, message);
    const Result result = Inspect(arguments);
    QCOMPARE(result.code, code);
    QVERIFY2(result.err.startsWith("LumoraInspect: error: ") && result.err.contains(message),
             qPrintable(result.err));
    QVERIFY(result.out.isEmpty());
}

void tst_LumoraInspect::inspectFolder_data()
{
    QTest::addColumn<QString>("runtime");
    QTest::addColumn<bool>("fromOnnx");
    QTest::newRow("torch") << "torch" << false;
    QTest::newRow("opencv from the folder") << "opencv" << false;
    QTest::newRow("opencv from the file") << "opencv" << true;
}

void tst_LumoraInspect::inspectFolder()
{
    QFETCH(QString, runtime);
    QFETCH(bool, fromOnnx);
    const QString out = m_dir.path() + "/out-" + QString(QTest::currentDataTag()).replace(' ', '-');
    const Result result =
        Inspect({fromOnnx ? m_onnx : m_model, m_images, "--out", out, "--runtime", runtime, "--jobs", "2"});
    QVERIFY2(result.code == 0, qPrintable(result.err));
    QVERIFY2(result.out.startsWith("LumoraInspect: done: images=11 "), qPrintable(result.out));
    QVERIFY(result.out.contains(" skipped=1 ") && result.out.contains(" runtime=" + runtime));
    QVERIFY(result.err.contains("1 unreadable images skipped"));

    QFile csvFile(out + "/inspection.csv");
    QVERIFY(csvFile.open(QIODevice::ReadOnly));
    const QStringList rows = CsvRows(QString::fromUtf8(csvFile.readAll()));
    QCOMPARE(rows.size(), 13);
    QCOMPARE(rows.first(),
             QString("path,decision,score:scratch,score:spot,decision:scratch,decision:spot,milliseconds"));
    int ng = 0;
    for (const QString& row : rows.mid(1))
    {
        const QStringList fields = row.split(',');
        QCOMPARE(fields.size(), 7);
        const QString image = fields.at(0);
        if (image.endsWith("broken.png"))
        {
            QCOMPARE(fields.at(1), QString("unreadable"));
            QVERIFY(!QFileInfo::exists(out + "/broken.json"));
            continue;
        }
        // The prediction file at the image's place holds the shapes of the classes decided NG, each at
        // or above its saved threshold (0 for the first class, 0.3 for the second).
        const QString relative = QDir(m_images).relativeFilePath(image);
        const QJsonObject prediction = ReadJson(out + "/" + QFileInfo(relative).path() + "/" +
                                                QFileInfo(relative).completeBaseName() + ".json");
        QCOMPARE(prediction.value("imagePath").toString(), QFileInfo(image).fileName());
        QSet<QString> labels;
        for (const QJsonValue& shape : prediction.value("shapes").toArray())
        {
            labels << shape.toObject().value("label").toString();
            QVERIFY(shape.toObject().value("label").toString() != "spot" ||
                    shape.toObject().value("score").toDouble() >= 0.3 - 1e-6);
        }
        QCOMPARE(fields.at(4), labels.contains("scratch") ? QString("NG") : QString("OK"));
        QCOMPARE(fields.at(5), labels.contains("spot") ? QString("NG") : QString("OK"));
        QCOMPARE(fields.at(1), labels.isEmpty() ? QString("OK") : QString("NG"));
        // A class below its threshold keeps its score but is not NG.
        if (fields.at(5) == "OK")
            QVERIFY(fields.at(3).toDouble() < 0.3);
        ng += fields.at(1) == "NG";
    }
    QVERIFY(result.out.contains(QString(" ng=%1 ").arg(ng)));

    // The runtimes decide alike, image by image (rows are in path order whatever the workers).
    QFile torchCsv(m_dir.path() + "/out-torch/inspection.csv");
    if (runtime == "opencv" && torchCsv.open(QIODevice::ReadOnly))
    {
        const QStringList torchRows = CsvRows(QString::fromUtf8(torchCsv.readAll()));
        QCOMPARE(torchRows.size(), rows.size());
        for (int i = 1; i < rows.size(); ++i)
        {
            const QStringList mine = rows.at(i).split(','), theirs = torchRows.at(i).split(',');
            for (const int field : {0, 1, 4, 5})
                QCOMPARE(mine.at(field), theirs.at(field));
        }
    }

    // Run again into the same folder: it is this program's, so the files are replaced.
    const Result again = Inspect({fromOnnx ? m_onnx : m_model, m_images, "--out", out, "--runtime", runtime});
    QVERIFY2(again.code == 0, qPrintable(again.err));
}

void tst_LumoraInspect::nothingToInspect()
{
    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    Result result = Inspect({m_onnx, empty.path()});
    QCOMPARE(result.code, 5);
    QVERIFY(result.err.contains("no images"));

    // Only unreadable images: each row says so, and nothing was inspected.
    QVERIFY(WriteTestFile(empty.path() + "/a.png", "x"));
    QVERIFY(WriteTestFile(empty.path() + "/b.jpg", ""));
    result = Inspect({m_onnx, empty.path()});
    QCOMPARE(result.code, 5);
    QVERIFY(result.err.contains("no image could be inspected (2 unreadable, 0 not predicted)"));
    const QStringList rows = CsvRows(result.out);
    QCOMPARE(rows.size(), 3);
    QVERIFY(rows.at(1).contains("a.png,unreadable,,,,,"));

    // One image, CSV on standard output, the summary on standard error; every prediction counts by
    // default thresholds.
    result = Inspect({m_model, m_images + "/img_0001.png", "--thresholds", "default"});
    QCOMPARE(result.code, 0);
    QCOMPARE(CsvRows(result.out).size(), 2);
    QVERIFY(result.err.startsWith("LumoraInspect: done: images=1 "));
}

void tst_LumoraInspect::thresholdFileAndQuoting()
{
    // Every class at 1: the tiny version is never that sure, so every image is OK whatever its scores.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString strict = m_dir.filePath("strict.json");
    comlib::protocol::ClassThresholds thresholds;
    thresholds.classes = QStringList{"scratch", "spot"};
    thresholds.thresholds = {1.0, 1.0};
    QVERIFY(WriteTestFile(strict, QJsonDocument(thresholds.ToJson()).toJson()));
    // A name a spreadsheet would split or misquote.
    const QString odd = dir.filePath("line \"7\", left.png");
    QVERIFY(QFile::copy(m_images + "/img_0000.png", odd));
    Result result = Inspect({m_model, dir.path(), "--thresholds", strict});
    QVERIFY2(result.code == 0, qPrintable(result.err));
    QStringList rows = CsvRows(result.out);
    QCOMPARE(rows.size(), 2);
    QVERIFY2(rows.at(1).startsWith("\"" + QString(odd).replace("\"", "\"\"") + "\",OK,"),
             qPrintable(rows.at(1)));
    QVERIFY(rows.at(1).contains(",OK,OK,"));
    // The same image at default thresholds: every prediction counts.
    result = Inspect({m_model, dir.path(), "--thresholds", "default"});
    QCOMPARE(result.code, 0);
    rows = CsvRows(result.out);
    const QStringList fields = rows.at(1).mid(rows.at(1).lastIndexOf('"') + 2).split(',');
    QCOMPARE(fields.size(), 6);
    for (int c = 0; c < 2; ++c)
        QCOMPARE(fields.at(3 + c), fields.at(1 + c).toDouble() > 0 ? QString("NG") : QString("OK"));
}

void tst_LumoraInspect::modelNotFittingItsRecord()
{
    // A network of one class in a file whose record names two: its outputs do not fit, and no image
    // may pass as good.
    NetLayout layout;
    layout.inputSize = 64;
    layout.width = 4;
    ModelEngine engine;
    engine.Create(layout, 1);
    comlib::protocol::ModelRecord record;
    record.classes = QStringList{"scratch", "spot"};
    record.aiType = "Segment";
    record.inputSize = 64;
    record.width = 4;
    std::string bytes, why;
    const std::string json = QJsonDocument(record.ToJson()).toJson(QJsonDocument::Compact).toStdString();
    QVERIFY(
        onnxmodel::Build(layout, engine.State(), {{comlib::protocol::kOnnxModelRecord, json}}, bytes, why));
    const QString file = m_dir.filePath("mismatched.onnx");
    QVERIFY(WriteTestFile(file, QByteArray::fromStdString(bytes)));
    const Result result = Inspect({file, m_images + "/img_0001.png"});
    QCOMPARE(result.code, 5);
    QVERIFY2(result.err.contains("could not predict 1 images") &&
                 result.err.contains("no image could be inspected (0 unreadable, 1 not predicted)"),
             qPrintable(result.err));
    const QStringList rows = CsvRows(result.out);
    QCOMPARE(rows.size(), 2);
    QVERIFY(rows.at(1).contains(",error,,,,,"));
}

void tst_LumoraInspect::unusableOutputs()
{
    const QString root = m_dir.path();
    // A project folder with a output folder inside it, a link, a foreign folder, the images' own.
    QVERIFY(QDir().mkpath(root + "/project/out"));
    QVERIFY(WriteTestFile(root + "/project/PrjData.db", ""));
    QVERIFY(QDir().mkpath(root + "/foreign"));
    QVERIFY(WriteTestFile(root + "/foreign/keep.txt", "mine"));
    QVERIFY(QFile::link(root + "/foreign", root + "/link"));
    const struct
    {
        QString out;
        QString message;
    } cases[] = {{root + "/project/out", "lies in the project"},
                 {root + "/project", "lies in the project"},
                 {root + "/link", "symbolic link"},
                 {root + "/foreign", "not made by LumoraInspect"},
                 {m_images, "among the images"},
                 {m_images + "/line2/out", "among the images"},
                 {root + "/images/img_0000.png", "not a folder"}};
    for (const auto& c : cases)
    {
        const Result result = Inspect({m_onnx, m_images, "--out", c.out});
        QCOMPARE(result.code, 3);
        QVERIFY2(result.err.contains(c.message), qPrintable(c.out + ": " + result.err));
    }
    QVERIFY(!QFileInfo::exists(m_images + "/line2/out"));
    QVERIFY(!QFileInfo::exists(root + "/foreign/inspection.csv"));
    QCOMPARE(QDir(root + "/images").entryList({"*.json"}).size(), 10);

    // The export writes no file through a link, nor into a project.
    QVERIFY(QFile::link(root + "/foreign/keep.txt", root + "/linked.onnx"));
    Result result = Inspect({m_model, "--export", root + "/linked.onnx"});
    QCOMPARE(result.code, 3);
    result = Inspect({m_model, "--export", root + "/project/m.onnx"});
    QCOMPARE(result.code, 3);
    QVERIFY(!QFileInfo::exists(root + "/project/m.onnx"));
    QFile kept(root + "/foreign/keep.txt");
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("mine"));
}

QTEST_GUILESS_MAIN(tst_LumoraInspect)
#include "tst_LumoraInspect.moc"
