#include "ComLib/SeededShuffle.h"
#include "ComLib/Service/ServiceProtocol.h"
#include "TrainService/DataSet.h"
#include "TrainService/JobConfig.h"
#include "TrainService/ModelSettings.h"
#include "TrainService/PredictionFile.h"
#include "TrainService/Raster.h"
#include "TrainService/TestRates.h"
#include "TrainService/Tiling.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

using trainsvc::Box;
using trainsvc::Sample;
using trainsvc::Shape;

Q_DECLARE_METATYPE(std::vector<Shape>)

namespace
{

Shape Rect(int cls, float x0, float y0, float x1, float y1)
{
    return {cls, true, {{x0, y0}, {x1, y1}}};
}

Shape Poly(int cls, std::vector<cv::Point2f> points)
{
    return {cls, false, std::move(points)};
}

bool WriteText(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

bool WriteImage(const QString& path, int width, int height)
{
    QDir().mkpath(QFileInfo(path).path());
    return cv::imwrite(path.toStdString(), cv::Mat(height, width, CV_8UC3, cv::Scalar(90, 120, 150)));
}

// An annotation file in the project's format with (label, shape_type, points) shapes.
QByteArray Annotation(const QJsonArray& shapes)
{
    return QJsonDocument(QJsonObject{{"imageData", QJsonValue::Null},
                                     {"imageHeight", 40},
                                     {"imagePath", "x.png"},
                                     {"imageWidth", 60},
                                     {"shapes", shapes}})
        .toJson(QJsonDocument::Compact);
}

QJsonObject JsonShape(const QString& label, const QString& type, const QJsonArray& points)
{
    return {{"label", label}, {"points", points}, {"shape_type", type}};
}

QJsonObject FullTrainConfig()
{
    return {{"image_size", QJsonArray{256, 256}},
            {"num_classes", 2},
            {"classes_name", QJsonArray{"scratch", "spot"}},
            {"pre_model_path", QJsonValue::Null},
            {"train_percent", 0.9},
            {"datas_path", "/p/datas"},
            {"train_path", "/p/train/V2024-01-02_03-04-05"},
            {"version", "V2024-01-02_03-04-05"},
            {"project_name", "p"},
            {"fineness", 3},
            {"unfreeze_train_epoch", 12},
            {"ai_type", "Object"},
            {"net_type", "YOLOV8"}};
}

int CountValue(const cv::Mat& labels, int value)
{
    return cv::countNonZero(labels == value);
}

} // namespace

class tst_TrainData : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readTrainConfig_data();
    void readTrainConfig();
    void optionalTrainKeys();
    void readTestConfig();
    void loadDataSet();
    void deepTiffRead();
    void splitIsFixedAndCoversAll();
    void rasterMask_data();
    void rasterMask();
    void shapeBoxes();
    void maskToShapes();
    void rates_data();
    void rates();
    void predictionPath_data();
    void predictionPath();
    void predictionFileFormat();
    void dataFingerprint();
    void tilesCoverTheImage_data();
    void tilesCoverTheImage();
    void stitchedLogitsEqualOnePass();
    void tileBoxesJoined();
    void regionScores();
};

void tst_TrainData::readTrainConfig_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("errorPart");
    QTest::addColumn<int>("inputSize");

    const QJsonObject full = FullTrainConfig();
    auto without = [&](const char* key)
    {
        QJsonObject o = full;
        o.remove(key);
        return QJsonDocument(o).toJson();
    };
    auto with = [&](const char* key, const QJsonValue& value)
    {
        QJsonObject o = full;
        o.insert(key, value);
        return QJsonDocument(o).toJson();
    };
    QTest::newRow("full, fineness 3") << QJsonDocument(full).toJson() << true << QString() << 256;
    QTest::newRow("fineness 1") << with("fineness", 1) << true << QString() << 128;
    QTest::newRow("fineness above 5 clamps") << with("fineness", 9) << true << QString() << 384;
    QTest::newRow("input size override") << with("input_size", 70) << true << QString() << 64;
    QTest::newRow("no datas_path") << without("datas_path") << false << "datas_path" << 0;
    QTest::newRow("no train_path") << without("train_path") << false << "train_path" << 0;
    QTest::newRow("no ai_type") << without("ai_type") << false << "ai_type" << 0;
    QTest::newRow("unknown ai_type") << with("ai_type", "Classify") << false << "Classify" << 0;
    QTest::newRow("no classes") << with("classes_name", QJsonArray()) << false << "classes" << 0;
    QTest::newRow("not json") << QByteArray("{\"datas_path\": ") << false << "not a JSON object" << 0;
    QTest::newRow("array") << QByteArray("[1, 2]") << false << "not a JSON object" << 0;
}

void tst_TrainData::readTrainConfig()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(QString, errorPart);
    QFETCH(int, inputSize);

    QTemporaryDir dir;
    const QString path = dir.filePath("config.json");
    QVERIFY(WriteText(path, text));
    trainsvc::TrainConfig config;
    QString error;
    QCOMPARE(trainsvc::ReadTrainConfig(path, config, error), ok);
    if (!ok)
    {
        QVERIFY2(error.contains(errorPart), qPrintable(error));
        return;
    }
    QCOMPARE(config.classes, QStringList({"scratch", "spot"}));
    QCOMPARE(config.net.numClasses, 2);
    QVERIFY(config.net.detection);
    QCOMPARE(config.net.inputSize, inputSize);
    QCOMPARE(config.settings.epochs, 12);
    QCOMPARE(config.trainPath, QString("/p/train/V2024-01-02_03-04-05"));

    QVERIFY(!trainsvc::ReadTrainConfig(dir.filePath("missing.json"), config, error));
    QVERIFY(error.contains("missing.json"));
}

// The tile scale and thread count as the program's request writes them; out-of-range values clamp.
void tst_TrainData::optionalTrainKeys()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.json");
    comlib::protocol::TrainRequest request;
    QString error;
    QVERIFY(comlib::protocol::TrainRequest::FromJson(FullTrainConfig(), request, error));
    trainsvc::TrainConfig config;
    const auto read = [&]
    {
        return WriteText(path, QJsonDocument(request.ToJson()).toJson()) &&
               trainsvc::ReadTrainConfig(path, config, error);
    };
    QVERIFY(read());
    QCOMPARE(config.net.tileScale, 1.0);
    QVERIFY(config.settings.threads >= 1);
    request.tileScale = 0.5;
    request.threads = 3;
    QVERIFY(read());
    QCOMPARE(config.net.tileScale, 0.5);
    QCOMPARE(config.settings.threads, 3);
    // 0 stretches every image as before tiling.
    request.tileScale = 0.0;
    request.threads = 0;
    QVERIFY(read());
    QCOMPARE(config.net.tileScale, 0.0);
    QCOMPARE(config.settings.threads, 1);
    request.tileScale = 50.0;
    QVERIFY(read());
    QCOMPARE(config.net.tileScale, 2.0);
}

void tst_TrainData::readTestConfig()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("test.json");
    QJsonObject object{{"predict_mode", "labeled"},
                       {"predict_path", "/p/datas"},
                       {"save_predict_path", "/p/test/V1"},
                       {"test_model_path", "/p/train/V1/model"}};
    QVERIFY(WriteText(path, QJsonDocument(object).toJson()));
    trainsvc::TestConfig config;
    QString error;
    QVERIFY(trainsvc::ReadTestConfig(path, config, error));
    QVERIFY(config.labeled);
    QCOMPARE(config.modelPath, QString("/p/train/V1/model"));

    object.insert("predict_mode", "unlabeled");
    object.remove("test_model_path");
    QVERIFY(WriteText(path, QJsonDocument(object).toJson()));
    QVERIFY(!trainsvc::ReadTestConfig(path, config, error));
    QVERIFY(error.contains("test_model_path"));
}

void tst_TrainData::loadDataSet()
{
    QTemporaryDir dir;
    const QString raw = dir.filePath("datas/2024-01-01_00-00-00-000/RawDatas/");
    // Annotated with two classes and an unknown title.
    QVERIFY(WriteImage(raw + "a.png", 60, 40));
    QVERIFY(WriteText(raw + "a.json",
                      Annotation({JsonShape("spot", "rectangle", {QJsonArray{1, 2}, QJsonArray{10, 12}}),
                                  JsonShape("rust", "rectangle", {QJsonArray{1, 2}, QJsonArray{5, 5}}),
                                  JsonShape("scratch", "polygon",
                                            {QJsonArray{1, 1}, QJsonArray{20, 1}, QJsonArray{20, 5}})})));
    // Good image: a file without shapes.
    QVERIFY(WriteImage(raw + "b.jpg", 60, 40));
    QVERIFY(WriteText(raw + "b.json", Annotation({})));
    // Not annotated: no file beside it.
    QVERIFY(WriteImage(raw + "c.png", 60, 40));
    // Annotated but not an image.
    QVERIFY(WriteText(raw + "d.png", "not an image"));
    QVERIFY(WriteText(raw + "d.json", Annotation({})));
    // Image with a broken annotation file.
    QVERIFY(WriteImage(raw + "e.bmp", 60, 40));
    QVERIFY(WriteText(raw + "e.json", "{broken"));
    // Degenerate shapes: a polygon of two points, a rectangle of one.
    QVERIFY(WriteImage(dir.filePath("datas/other/f.png"), 30, 20));
    QVERIFY(WriteText(dir.filePath("datas/other/f.json"),
                      Annotation({JsonShape("spot", "polygon", {QJsonArray{1, 1}, QJsonArray{2, 2}}),
                                  JsonShape("spot", "rectangle", {QJsonArray{1, 1}})})));

    DataSet data;
    data.Load(dir.filePath("datas"), {"scratch", "spot"});
    QCOMPARE(int(data.Samples().size()), 3);
    QCOMPARE(data.Skipped(), 2);
    QCOMPARE(data.UnknownTitles(), 1);

    const Sample& a = data.Samples()[0];
    QVERIFY(QString::fromStdString(a.imagePath).endsWith("RawDatas/a.png"));
    QCOMPARE(a.imageSize, cv::Size(60, 40));
    QCOMPARE(int(a.shapes.size()), 2);
    QCOMPARE(a.shapes[0].cls, 1);
    QVERIFY(a.shapes[0].rect);
    QCOMPARE(a.shapes[1].cls, 0);
    QVERIFY(!a.shapes[1].rect);
    QCOMPARE(int(a.shapes[1].points.size()), 3);
    QVERIFY(data.Samples()[1].shapes.empty());
    QVERIFY(QString::fromStdString(data.Samples()[2].imagePath).endsWith("other/f.png"));
    QVERIFY(data.Samples()[2].shapes.empty());
}

// A 12-bit camera's grey image stored as 16-bit TIFF is found, and reaches the networks stretched.
void tst_TrainData::deepTiffRead()
{
    QTemporaryDir dir;
    const QString raw = dir.filePath("datas/RawDatas/");
    QDir().mkpath(raw);
    cv::Mat deep(40, 60, CV_16UC1);
    cv::RNG(5).fill(deep, cv::RNG::UNIFORM, 1000, 4001);
    QVERIFY(cv::imwrite((raw + "g.tif").toStdString(), deep));
    QVERIFY(WriteText(raw + "g.json", Annotation({})));
    QVERIFY(cv::imwrite((raw + "k.tiff").toStdString(), cv::Mat(4, 4, CV_16UC1, cv::Scalar(3000))));

    DataSet data;
    data.Load(dir.filePath("datas"), {"spot"});
    QCOMPARE(int(data.Samples().size()), 1);
    QCOMPARE(data.Samples()[0].imageSize, cv::Size(60, 40));
    const cv::Mat image = trainsvc::raster::ReadImage(data.Samples()[0].imagePath);
    QCOMPARE(image.type(), CV_8UC3);
    double darkest = 0;
    double brightest = 0;
    cv::minMaxLoc(image.reshape(1), &darkest, &brightest);
    QVERIFY(brightest - darkest > 240);
    // A version's window rule is what a test applies: a narrower window saturates more pixels.
    trainsvc::IntensityWindow narrow;
    narrow.low = 0.25;
    narrow.high = 0.75;
    const cv::Mat narrowed = trainsvc::raster::ReadImage(data.Samples()[0].imagePath, narrow);
    const auto saturated = [](const cv::Mat& m)
    { return cv::countNonZero(m.reshape(1) == 0) + cv::countNonZero(m.reshape(1) == 255); };
    QVERIFY(saturated(narrowed) > saturated(image) + int(image.total()));
    trainsvc::NetLayout layout;
    layout.tileScale = 0.5;
    trainsvc::TrainSettings settings;
    settings.window = narrow;
    trainsvc::NetLayout readLayout;
    trainsvc::IntensityWindow readWindow;
    trainsvc::modelsettings::FromJson(trainsvc::modelsettings::ToJson(layout, settings, false), readLayout,
                                      readWindow);
    QCOMPARE(readLayout.tileScale, 0.5);
    QCOMPARE(readWindow.low, 0.25);
    QCOMPARE(readWindow.high, 0.75);
    // A version without settings predates tiling and went through the default window.
    trainsvc::modelsettings::FromJson(QJsonObject(), readLayout, readWindow);
    QCOMPARE(readLayout.tileScale, 0.0);
    QCOMPARE(readWindow.low, trainsvc::IntensityWindow().low);
    QCOMPARE(readWindow.high, trainsvc::IntensityWindow().high);
    // A constant image has no window; it comes out flat instead of failing.
    const cv::Mat flat = trainsvc::raster::ReadImage((raw + "k.tiff").toStdString());
    QCOMPARE(flat.type(), CV_8UC3);
    QCOMPARE(cv::countNonZero(flat.reshape(1) != flat.at<cv::Vec3b>(0, 0)[0]), 0);
}

void tst_TrainData::splitIsFixedAndCoversAll()
{
    QTemporaryDir dir;
    for (int i = 0; i < 10; ++i)
    {
        const QString base = dir.filePath(QString("img%1").arg(i));
        QVERIFY(WriteImage(base + ".png", 8, 8));
        QVERIFY(WriteText(base + ".json", Annotation({})));
    }
    DataSet data;
    data.Load(dir.path(), {"a"});
    std::vector<Sample> train1, val1, train2, val2;
    data.Split(0.9, 5, train1, val1);
    data.Split(0.9, 5, train2, val2);
    QCOMPARE(int(train1.size()), 9);
    QCOMPARE(int(val1.size()), 1);
    QCOMPARE(val1[0].imagePath, val2[0].imagePath);
    // The order is the seeded shuffle's, the same on every standard library.
    const QVector<int> order = comlib::SeededShuffle(10, 5);
    QCOMPARE(val1[0].imagePath, data.Samples()[size_t(order.last())].imagePath);
    for (int i = 0; i < 9; ++i)
        QCOMPARE(train1[size_t(i)].imagePath, data.Samples()[size_t(order[i])].imagePath);
    // Even a split of everything for training keeps one image to validate on.
    data.Split(1.0, 5, train1, val1);
    QCOMPARE(int(val1.size()), 1);
    QStringList all;
    for (const auto& part : {train1, val1})
        for (const Sample& s : part)
            all.append(QString::fromStdString(s.imagePath));
    all.removeDuplicates();
    QCOMPARE(all.size(), 10);
}

void tst_TrainData::rasterMask_data()
{
    QTest::addColumn<std::vector<Shape>>("shapes");
    QTest::addColumn<int>("imageWidth");
    QTest::addColumn<int>("imageHeight");
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("counts"); // pixels of background, class 0, class 1

    QTest::newRow("rectangle, same scale") << std::vector<Shape>{Rect(0, 10, 10, 30, 20)} << 100 << 100 << 100
                                           << QList<int>{10000 - 200, 200, 0};
    QTest::newRow("rectangle corners swapped") << std::vector<Shape>{Rect(1, 30, 20, 10, 10)} << 100 << 100
                                               << 100 << QList<int>{10000 - 200, 0, 200};
    QTest::newRow("rectangle, halved")
        << std::vector<Shape>{Rect(0, 10, 10, 30, 20)} << 100 << 100 << 50 << QList<int>{2500 - 50, 50, 0};
    QTest::newRow("wide image squeezed")
        << std::vector<Shape>{Rect(1, 0, 0, 100, 50)} << 200 << 50 << 50 << QList<int>{2500 - 1250, 0, 1250};
    QTest::newRow("later shape covers earlier")
        << std::vector<Shape>{Rect(0, 0, 0, 20, 20), Rect(1, 10, 0, 20, 20)} << 20 << 20 << 20
        << QList<int>{0, 200, 200};
    QTest::newRow("thin rectangle keeps a pixel") << std::vector<Shape>{Rect(0, 10, 10, 10.2f, 30)} << 100
                                                  << 100 << 100 << QList<int>{10000 - 20, 20, 0};
}

void tst_TrainData::rasterMask()
{
    QFETCH(std::vector<Shape>, shapes);
    QFETCH(int, imageWidth);
    QFETCH(int, imageHeight);
    QFETCH(int, size);
    QFETCH(QList<int>, counts);

    const cv::Mat labels = trainsvc::raster::RasterMask(shapes, cv::Size(imageWidth, imageHeight), size);
    QCOMPARE(labels.size(), cv::Size(size, size));
    for (int value = 0; value < counts.size(); ++value)
        QCOMPARE(CountValue(labels, value), counts[value]);
}

void tst_TrainData::shapeBoxes()
{
    // A triangle's bounds, a rectangle half outside the image, and one wholly outside it.
    const std::vector<Shape> shapes{Poly(1, {{10, 20}, {50, 30}, {30, 60}}), Rect(0, 80, 80, 120, 90),
                                    Rect(0, 150, 150, 160, 160)};
    const std::vector<Box> boxes = trainsvc::raster::ShapeBoxes(shapes, cv::Size(100, 100), 50);
    QCOMPARE(int(boxes.size()), 2);
    QCOMPARE(boxes[0].cls, 1);
    QCOMPARE(boxes[0].rect, cv::Rect2f(5, 10, 20, 20));
    QCOMPARE(boxes[1].cls, 0);
    QCOMPARE(boxes[1].rect, cv::Rect2f(40, 40, 10, 5));

    const std::vector<Shape> back = trainsvc::raster::BoxesToShapes(boxes);
    QVERIFY(back[0].rect);
    QCOMPARE(back[0].points[0], cv::Point2f(5, 10));
    QCOMPARE(back[0].points[1], cv::Point2f(25, 30));
}

void tst_TrainData::maskToShapes()
{
    cv::Mat labels = cv::Mat::zeros(100, 100, CV_8U);
    labels(cv::Rect(10, 10, 30, 20)).setTo(2);
    labels(cv::Rect(60, 60, 2, 2)).setTo(1);
    labels(cv::Rect(70, 10, 20, 20)).setTo(1);

    const std::vector<Shape> shapes = trainsvc::raster::MaskToShapes(labels, 10.0);
    QCOMPARE(int(shapes.size()), 2);
    QCOMPARE(shapes[0].cls, 0);
    QCOMPARE(shapes[1].cls, 1);
    // Traced outlines rasterise back onto the regions they came from.
    const cv::Mat again = trainsvc::raster::RasterMask(shapes, labels.size(), 100);
    QVERIFY(CountValue(again, 2) >= 30 * 20 * 8 / 10);
    QCOMPARE(CountValue(again(cv::Rect(10, 10, 30, 20)), 2), CountValue(again, 2));
    QCOMPARE(CountValue(again(cv::Rect(60, 60, 2, 2)), 1), 0);
}

void tst_TrainData::rates_data()
{
    QTest::addColumn<QList<std::vector<Shape>>>("truths");
    QTest::addColumn<QList<std::vector<Shape>>>("predictions");
    QTest::addColumn<QList<double>>("missed");
    QTest::addColumn<QList<double>>("overkill");
    QTest::addColumn<QStringList>("missedImages");
    QTest::addColumn<QStringList>("overkillImages");

    const Shape a = Rect(0, 10, 10, 30, 30);
    const Shape aElsewhere = Rect(0, 60, 60, 80, 80);
    const Shape b = Poly(1, {{50, 50}, {90, 50}, {90, 90}});
    QTest::newRow("all found") << QList<std::vector<Shape>>{{a}, {b}, {}}
                               << QList<std::vector<Shape>>{{a}, {b}, {}} << QList<double>{0, 0}
                               << QList<double>{0, 0} << QStringList() << QStringList();
    QTest::newRow("class found elsewhere is missed and not overkill")
        << QList<std::vector<Shape>>{{a}, {a}} << QList<std::vector<Shape>>{{aElsewhere}, {a}}
        << QList<double>{0.5, 0} << QList<double>{0, 0} << QStringList{"0"} << QStringList();
    QTest::newRow("good image predicted bad")
        << QList<std::vector<Shape>>{{}, {}, {}, {a}} << QList<std::vector<Shape>>{{b}, {}, {}, {a}}
        << QList<double>{0, 0} << QList<double>{0, 0.25} << QStringList() << QStringList{"0"};
    QTest::newRow("wrong class: missed one, overkill the other")
        << QList<std::vector<Shape>>{{a}, {b}} << QList<std::vector<Shape>>{{Rect(1, 10, 10, 30, 30)}, {b}}
        << QList<double>{1, 0} << QList<double>{0, 1} << QStringList{"0"} << QStringList{"0"};
    QTest::newRow("no image with the class")
        << QList<std::vector<Shape>>{{}, {}} << QList<std::vector<Shape>>{{}, {}} << QList<double>{0, 0}
        << QList<double>{0, 0} << QStringList() << QStringList();
}

void tst_TrainData::rates()
{
    QFETCH(QList<std::vector<Shape>>, truths);
    QFETCH(QList<std::vector<Shape>>, predictions);
    QFETCH(QList<double>, missed);
    QFETCH(QList<double>, overkill);
    QFETCH(QStringList, missedImages);
    QFETCH(QStringList, overkillImages);

    TestRates rates(2);
    for (int i = 0; i < truths.size(); ++i)
        rates.Add(QString::number(i), cv::Size(100, 100), truths[i], predictions[i]);
    const std::vector<double> missedRates = rates.MissedRates();
    const std::vector<double> overkillRates = rates.OverkillRates();
    QCOMPARE(QList<double>(missedRates.begin(), missedRates.end()), missed);
    QCOMPARE(QList<double>(overkillRates.begin(), overkillRates.end()), overkill);
    QCOMPARE(rates.MissedImages(), missedImages);
    QCOMPARE(rates.OverkillImages(), overkillImages);
}

void tst_TrainData::predictionPath_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("expected");

    QTest::newRow("labeled, below datas") << "/p/datas"
                                          << "/p/datas/2024/RawDatas/a.png"
                                          << "/s/V1/2024/RawDatas/a.json";
    QTest::newRow("unlabeled, top level") << "/u/imgs"
                                          << "/u/imgs/b.bmp"
                                          << "/s/V1/b.json";
    QTest::newRow("two dots") << "/u/imgs"
                              << "/u/imgs/x/c.v2.jpg"
                              << "/s/V1/x/c.v2.json";
    QTest::newRow("trailing slash") << "/u/imgs/"
                                    << "/u/imgs/d.png"
                                    << "/s/V1/d.json";
    QTest::newRow("no extension") << "/u/imgs"
                                  << "/u/imgs/e"
                                  << "/s/V1/e.json";
    QTest::newRow("outside the root") << "/u/imgs"
                                      << "/u/imgs2/f.png"
                                      << "";
}

void tst_TrainData::predictionPath()
{
    QFETCH(QString, root);
    QFETCH(QString, image);
    QFETCH(QString, expected);
    QCOMPARE(comlib::protocol::PredictionPath(root, "/s/V1", image), expected);
}

void tst_TrainData::predictionFileFormat()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("deep/x/a.json");
    QString error;
    std::vector<Shape> shapes{Rect(1, 1.5f, 2, 3, 4), Poly(0, {{1, 1}, {5, 1}, {5, 5}}), Rect(7, 0, 0, 1, 1)};
    shapes[1].score = 0.625f;
    QVERIFY(trainsvc::WritePredictionFile(path, "a.png", cv::Size(60, 40), shapes, {"划痕", "spot"}, error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(!text.contains('\n'));
    const QJsonObject root = QJsonDocument::fromJson(text).object();
    QCOMPARE(root.value("imagePath").toString(), QString("a.png"));
    QCOMPARE(root.value("imageWidth").toInt(), 60);
    QVERIFY(root.value("imageData").isNull());
    // Each shape carries its confidence beside the annotation keys.
    const QJsonArray written = root.value("shapes").toArray();
    QCOMPARE(written.size(), 2);
    QCOMPARE(written.at(0).toObject().value("score").toDouble(), 1.0);
    QCOMPARE(written.at(1).toObject().value("score").toDouble(), 0.625);
    QCOMPARE(written.at(1).toObject().keys(), QStringList({"label", "points", "score", "shape_type"}));

    // Read back as the service reads annotations: the class outside the list is left out.
    Sample sample;
    int unknown = 0;
    QVERIFY(DataSet::ReadAnnotation(path, {"划痕", "spot"}, sample, unknown));
    QCOMPARE(int(sample.shapes.size()), 2);
    QCOMPARE(sample.shapes[0].cls, 1);
    QVERIFY(sample.shapes[0].rect);
    QCOMPARE(sample.shapes[0].points[0], cv::Point2f(1.5f, 2));
    QCOMPARE(sample.shapes[1].cls, 0);
    QCOMPARE(int(sample.shapes[1].points.size()), 3);
}

// The fingerprint follows the data, not where the project lies.
void tst_TrainData::dataFingerprint()
{
    QTemporaryDir dir;
    const auto makeSet = [&dir](const QString& name)
    {
        for (int i = 0; i < 3; ++i)
        {
            const QString base = dir.filePath(name + QString("/sub/img%1").arg(i));
            WriteImage(base + ".png", 8 + i, 8);
            WriteText(base + ".json",
                      Annotation({JsonShape("a", "rectangle", {QJsonArray{1, 1}, QJsonArray{3, 3}})}));
        }
    };
    makeSet("one");
    makeSet("two");
    const auto fingerprint = [&dir](const QString& name)
    {
        DataSet data;
        data.Load(dir.filePath(name), {"a"});
        return data.Fingerprint();
    };
    const QString first = fingerprint("one");
    QCOMPARE(first.size(), 64);
    QCOMPARE(fingerprint("two"), first);
    QVERIFY(WriteText(dir.filePath("two/sub/img1.json"), Annotation({})));
    QVERIFY(fingerprint("two") != first);
    makeSet("two");
    QCOMPARE(fingerprint("two"), first);
    QVERIFY(WriteImage(dir.filePath("two/sub/img2.png"), 30, 8));
    QVERIFY(fingerprint("two") != first);
    QVERIFY(QFile::rename(dir.filePath("one/sub/img0.png"), dir.filePath("one/sub/img9.png")));
    QVERIFY(QFile::rename(dir.filePath("one/sub/img0.json"), dir.filePath("one/sub/img9.json")));
    QVERIFY(fingerprint("one") != first);
}

void tst_TrainData::tilesCoverTheImage_data()
{
    QTest::addColumn<QSize>("area");
    QTest::addColumn<int>("tile");
    QTest::newRow("one tile") << QSize(48, 48) << 48;
    QTest::newRow("square") << QSize(1024, 1024) << 256;
    QTest::newRow("not a multiple") << QSize(2448, 2048) << 256;
    QTest::newRow("strip") << QSize(1000, 40) << 40;
    QTest::newRow("just over") << QSize(49, 97) << 48;
}

void tst_TrainData::tilesCoverTheImage()
{
    QFETCH(QSize, area);
    QFETCH(int, tile);
    const cv::Size size(area.width(), area.height());
    const int overlap = trainsvc::tiling::Overlap(tile);
    const std::vector<cv::Rect> tiles = trainsvc::tiling::TileRects(size, tile, overlap);
    cv::Mat covered = cv::Mat::zeros(size, CV_8U);
    for (const cv::Rect& r : tiles)
    {
        QCOMPARE(r.size(), cv::Size(tile, tile));
        QCOMPARE(r & cv::Rect(cv::Point(), size), r);
        covered(r) = 1;
    }
    QCOMPARE(cv::countNonZero(covered), size.area());
    // Neighbours in a row or a column overlap by at least the overlap, so a defect that small lies
    // whole in one tile.
    for (size_t i = 0; i + 1 < tiles.size(); ++i)
    {
        const cv::Rect& a = tiles[i];
        const cv::Rect& b = tiles[i + 1];
        if (a.y == b.y)
            QVERIFY2(a.br().x - b.x >= overlap, qPrintable(QString("%1 then %2").arg(a.x).arg(b.x)));
    }
    QCOMPARE(trainsvc::tiling::TileRects(size, tile, overlap).size(), tiles.size());
    trainsvc::NetLayout layout;
    layout.inputSize = tile;
    layout.tileScale = 1.0;
    QCOMPARE(trainsvc::tiling::UsesTiles(size, layout),
             std::max(size.width, size.height) > trainsvc::tiling::kTileFactor * tile);
    layout.tileScale = 0.0;
    QVERIFY(!trainsvc::tiling::UsesTiles(size, layout));
}

// Logits that depend on each pixel alone come out of overlapping tiles exactly as from one pass over
// the whole area: labels, and the probability of the label.
void tst_TrainData::stitchedLogitsEqualOnePass()
{
    const cv::Size area(150, 90);
    const int channels = 3;
    const int tile = 40;
    std::vector<cv::Mat> logits(channels);
    for (int c = 0; c < channels; ++c)
    {
        logits[size_t(c)].create(area, CV_32F);
        cv::RNG(17 + c).fill(logits[size_t(c)], cv::RNG::UNIFORM, -4.0, 4.0);
    }
    trainsvc::tiling::LogitStitcher stitcher(area, channels);
    for (const cv::Rect& r : trainsvc::tiling::TileRects(area, tile, trainsvc::tiling::Overlap(tile)))
    {
        std::vector<float> planes;
        for (int c = 0; c < channels; ++c)
        {
            const cv::Mat part = logits[size_t(c)](r).clone();
            planes.insert(planes.end(), part.begin<float>(), part.end<float>());
        }
        stitcher.Add(r, planes.data());
    }
    cv::Mat probability;
    const cv::Mat labels = stitcher.Labels(&probability);
    int wrong = 0;
    double worst = 0.0;
    for (int y = 0; y < area.height; ++y)
    {
        for (int x = 0; x < area.width; ++x)
        {
            int best = 0;
            double sum = 0.0;
            for (int c = 1; c < channels; ++c)
                best = logits[size_t(c)].at<float>(y, x) > logits[size_t(best)].at<float>(y, x) ? c : best;
            for (int c = 0; c < channels; ++c)
                sum += std::exp(
                    double(logits[size_t(c)].at<float>(y, x) - logits[size_t(best)].at<float>(y, x)));
            wrong += labels.at<uint8_t>(y, x) != best;
            worst = std::max(worst, std::abs(probability.at<float>(y, x) - 1.0 / sum));
        }
    }
    QCOMPARE(wrong, 0);
    QVERIFY2(worst < 1e-5, qPrintable(QString::number(worst)));
}

// Boxes of one defect found in two overlapping tiles become one box in the image's pixels.
void tst_TrainData::tileBoxesJoined()
{
    using trainsvc::tiling::JoinTileBoxes;
    const cv::Size area(200, 100);
    const cv::Rect left(0, 0, 100, 100), right(75, 0, 100, 100);
    // A spot at x 90–105: cut by the left tile's edge at 100, whole in the right tile.
    const Box cut{0, 0.9f, cv::Rect2f(90, 40, 10, 10)};
    const Box whole{0, 0.7f, cv::Rect2f(90, 40, 15, 10)};
    // A box of another class at the same place, and a box far away, stay.
    const Box other{1, 0.5f, cv::Rect2f(90, 40, 10, 10)};
    const Box far{0, 0.4f, cv::Rect2f(10, 10, 5, 5)};
    std::vector<Box> joined =
        JoinTileBoxes({cut, whole, other, far}, {left, right, left, left}, area, 0.5f, 100);
    QCOMPARE(int(joined.size()), 3);
    QCOMPARE(joined[0].rect, whole.rect);
    QCOMPARE(joined[1].cls, 1);
    QCOMPARE(joined[2].rect, far.rect);
    // A scratch longer than the overlap: the left tile sees its cut head, the right one most of it.
    const Box head{0, 0.6f, cv::Rect2f(30, 50, 70, 4)};
    const Box tail{0, 0.8f, cv::Rect2f(80, 50, 80, 4)};
    joined = JoinTileBoxes({head, tail}, {left, right}, area, 0.5f, 100);
    QCOMPARE(int(joined.size()), 1);
    QCOMPARE(joined[0].rect, cv::Rect2f(30, 50, 130, 4));
    QCOMPARE(joined[0].score, 0.8f);
    // In one tile boxes touching the image's border are not cut; overlapping ones are suppressed.
    const cv::Rect all(cv::Point(), area);
    joined = JoinTileBoxes({Box{0, 0.3f, cv::Rect2f(0, 0, 10, 10)}, Box{0, 0.9f, cv::Rect2f(1, 0, 10, 10)}},
                           {all, all}, area, 0.5f, 100);
    QCOMPARE(int(joined.size()), 1);
    QCOMPARE(joined[0].score, 0.9f);
}

// A predicted region's score is the highest probability inside it, not its neighbour's.
void tst_TrainData::regionScores()
{
    cv::Mat labels = cv::Mat::zeros(40, 60, CV_8U);
    labels(cv::Rect(5, 5, 10, 10)) = 1;
    labels(cv::Rect(16, 5, 10, 10)) = 2;
    cv::Mat probability(labels.size(), CV_32F, cv::Scalar(0.99f));
    probability(cv::Rect(5, 5, 10, 10)) = 0.6f;
    probability.at<float>(7, 8) = 0.75f;
    probability(cv::Rect(16, 5, 10, 10)) = 0.55f;
    const std::vector<Shape> shapes = trainsvc::raster::MaskToShapes(labels, 4.0, probability);
    QCOMPARE(int(shapes.size()), 2);
    QCOMPARE(shapes[0].cls, 0);
    QCOMPARE(shapes[0].score, 0.75f);
    QCOMPARE(shapes[1].score, 0.55f);
    // Without probabilities every region is certain, as before.
    QCOMPARE(trainsvc::raster::MaskToShapes(labels, 4.0)[0].score, 1.0f);
}

QTEST_GUILESS_MAIN(tst_TrainData)
#include "tst_TrainData.moc"
