#include "Child.h"
#include "HostileImage.h"
#include "Nexil/ImageFiles.h"
#include "PageFixture.h"

#include "Canvas/CanvasImage.h"
#include "Canvas/datawidget.h"
#include "ImgMarks/DisplayAdjustWid.h"
#include "ImgMarks/ImgMarksWid.h"
#include "ImgMarks/LoadImgWork.h"
#include "ImgMarks/SourceImgModel.h"

#include "ComUi/Skin.h"
#include "Nexil/NexilApi.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace
{

// Values spread evenly between low and high, the same on every run.
cv::Mat Noise(int type, int width, int height, double low, double high)
{
    cv::Mat mat(height, width, type);
    cv::RNG rng(7);
    rng.fill(mat, cv::RNG::UNIFORM, low, high);
    return mat;
}

bool Write(const QString& path, const cv::Mat& mat)
{
    QDir().mkpath(QFileInfo(path).path());
    return cv::imwrite(QFile::encodeName(path).toStdString(), mat);
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

cv::Scalar Mean(const QImage& image, cv::Scalar* stdDev = nullptr)
{
    const cv::Mat view(image.height(), image.width(),
                       image.format() == QImage::Format_Grayscale8 ? CV_8UC1 : CV_8UC3,
                       const_cast<uchar*>(image.constBits()), size_t(image.bytesPerLine()));
    cv::Scalar mean;
    cv::Scalar deviation;
    cv::meanStdDev(view, mean, deviation);
    if (stdDev)
        *stdDev = deviation;
    return mean;
}

// A JPEG whose EXIF block turns it a quarter (orientation 6).
QByteArray TurnedJpeg(int width, int height)
{
    std::vector<uchar> encoded;
    cv::imencode(".jpg", cv::Mat(height, width, CV_8UC3, cv::Scalar(10, 90, 200)), encoded);
    const QByteArray jpeg(reinterpret_cast<const char*>(encoded.data()), int(encoded.size()));
    const QByteArray tiff("II\x2A\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 26);
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const int length = payload.size() + 2;
    return jpeg.left(2) + QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) + payload +
           jpeg.mid(2);
}

std::shared_ptr<pro::ImageInfo> Record(const QString& path)
{
    auto record = std::make_shared<pro::ImageInfo>();
    record->path = path;
    record->fileName = QFileInfo(path).fileName();
    return record;
}

} // namespace

Q_DECLARE_METATYPE(cv::Mat)

// The canvas's screen mapping: full-depth decoding, the percentile window, the user's adjustment on
// top, the file's own values under the pointer, and nothing of it in any file.
class tst_DisplayAdjust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void percentiles_data();
    void percentiles();
    void window_data();
    void window();
    void adjustments_data();
    void adjustments();
    void originalValuesUnderPointer();
    void exifOrientationKept();
    void panel();
    void pageKeepsAdjustmentAndFilesClean();
    void tiffImported();
    void hostileImageImportedAndShown();

private:
    std::unique_ptr<ImgMarksWid> MakePage();

    std::unique_ptr<QTemporaryDir> m_home;
    PageFixture m_fixture;
};

void tst_DisplayAdjust::initTestCase()
{
    InitComUiResources();
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
    m_home = std::make_unique<QTemporaryDir>();
    PageFixture::RedirectHome(m_home->path());
}

void tst_DisplayAdjust::init()
{
    QVERIFY(m_fixture.Init());
}

void tst_DisplayAdjust::cleanup()
{
    m_fixture.Cleanup();
}

void tst_DisplayAdjust::percentiles_data()
{
    QTest::addColumn<cv::Mat>("mat");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");

    cv::Mat ramp(1, 1000, CV_16UC1);
    for (int x = 0; x < ramp.cols; ++x)
        ramp.at<ushort>(0, x) = ushort(999 - x);
    cv::Mat two(1, 2, CV_16UC1);
    two.at<ushort>(0, 0) = 4000;
    two.at<ushort>(0, 1) = 1000;
    cv::Mat floats(1, 1000, CV_32FC1);
    for (int x = 0; x < floats.cols; ++x)
        floats.at<float>(0, x) = float(x) / 1000;

    // Ranks are taken outwards: the 0.5 % rank of 1000 samples is 4, the 99.5 % rank 995.
    QTest::newRow("ramp of 1000") << ramp << 4.0 << 995.0;
    QTest::newRow("constant") << cv::Mat(5, 7, CV_16UC1, cv::Scalar(3000)) << 3000.0 << 3000.0;
    QTest::newRow("one pixel") << cv::Mat(1, 1, CV_16UC1, cv::Scalar(17)) << 17.0 << 17.0;
    QTest::newRow("two pixels") << two << 1000.0 << 4000.0;
    QTest::newRow("8-bit colour counts every channel")
        << cv::Mat(2, 2, CV_8UC3, cv::Scalar(10, 20, 30)) << 10.0 << 30.0;
    QTest::newRow("floats") << floats << 0.004 << 0.995;
    QTest::newRow("empty") << cv::Mat() << 0.0 << 0.0;
}

void tst_DisplayAdjust::percentiles()
{
    QFETCH(cv::Mat, mat);
    QFETCH(double, low);
    QFETCH(double, high);
    const auto [lowValue, highValue] =
        CanvasImage::percentiles(mat, CanvasImage::kLowPercentile, CanvasImage::kHighPercentile);
    QCOMPARE(float(lowValue), float(low));
    QCOMPARE(float(highValue), float(high));
}

void tst_DisplayAdjust::window_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<cv::Mat>("mat");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("minSpread"); // least difference of the darkest and brightest shown pixel

    cv::Mat flat(40, 40, CV_16UC1, cv::Scalar(2000));
    flat.at<ushort>(3, 5) = 2500;
    // A 12-bit camera stored in 16 bits would be almost black mapped over the whole 16-bit range.
    QTest::newRow("16-bit PNG 1000-4000") << "a.png" << Noise(CV_16UC1, 64, 48, 1000, 4001) << 16 << 240;
    QTest::newRow("16-bit TIFF 1000-4000") << "a.tif" << Noise(CV_16UC1, 64, 48, 1000, 4001) << 16 << 240;
    QTest::newRow("16-bit colour PNG") << "c.png" << Noise(CV_16UC3, 30, 20, 200, 900) << 16 << 240;
    QTest::newRow("float TIFF") << "f.tiff" << Noise(CV_32FC1, 30, 20, 0.25, 0.5) << 32 << 240;
    QTest::newRow("flat 16-bit with one outlier") << "o.png" << flat << 16 << 255;
    QTest::newRow("constant 16-bit") << "k.png" << cv::Mat(9, 9, CV_16UC1, cv::Scalar(3000)) << 16 << 0;
    QTest::newRow("one 16-bit pixel") << "p.tif" << cv::Mat(1, 1, CV_16UC1, cv::Scalar(65535)) << 16 << 0;
    // 8-bit files are shown as they are, not stretched.
    QTest::newRow("8-bit grey 20-60") << "g.png" << Noise(CV_8UC1, 30, 20, 20, 61) << 8 << 30;
}

void tst_DisplayAdjust::window()
{
    QFETCH(QString, name);
    QFETCH(cv::Mat, mat);
    QFETCH(int, bits);
    QFETCH(int, minSpread);
    const QString path = m_fixture.FilePath(name);
    QVERIFY(Write(path, mat));

    CanvasImage image;
    QVERIFY(image.load(path));
    QCOMPARE(image.bitsPerSample(), bits);
    QCOMPARE(image.shown().size(), QSize(mat.cols, mat.rows));
    QVERIFY(image.windowHigh() > image.windowLow());
    const QImage& shown = image.shown();
    const cv::Mat view(shown.height(), shown.width(),
                       shown.format() == QImage::Format_Grayscale8 ? CV_8UC1 : CV_8UC3,
                       const_cast<uchar*>(shown.constBits()), size_t(shown.bytesPerLine()));
    double darkest = 0;
    double brightest = 0;
    cv::minMaxLoc(view.reshape(1), &darkest, &brightest);
    QVERIFY2(brightest - darkest >= minSpread,
             qPrintable(QStringLiteral("%1..%2").arg(darkest).arg(brightest)));
    if (bits == 8)
        QCOMPARE(shown.pixelColor(2, 1).red(), int(mat.at<uchar>(1, 2)));
    if (name == "k.png")
        QCOMPARE(shown.pixelColor(0, 0).red(), qRound(3000 * 255 / 65535.0));
    if (name == "p.tif")
        QCOMPARE(shown.pixelColor(0, 0).red(), 255);
    // The stored value, red first: OpenCV keeps colour as blue-green-red.
    cv::Mat samples;
    mat.reshape(1).convertTo(samples, CV_64F);
    const QVector<double> values = image.valuesAt(QPoint(0, 0));
    QCOMPARE(values.size(), mat.channels());
    QCOMPARE(float(values.first()), float(samples.at<double>(0, mat.channels() == 3 ? 2 : 0)));
}

void tst_DisplayAdjust::adjustments_data()
{
    QTest::addColumn<int>("brightness");
    QTest::addColumn<int>("contrast");
    QTest::addColumn<int>("gamma");
    QTest::addColumn<int>("meanChange");   // sign of the change of the mean
    QTest::addColumn<int>("spreadChange"); // sign of the change of the standard deviation

    QTest::newRow("brighter") << 50 << 0 << 100 << 1 << 0;
    QTest::newRow("darker") << -50 << 0 << 100 << -1 << 0;
    // Contrast turns about the picture's median: a dark picture keeps its level instead of going black.
    QTest::newRow("more contrast") << 0 << 60 << 100 << 0 << 1;
    QTest::newRow("less contrast") << 0 << -60 << 100 << 0 << -1;
    QTest::newRow("gamma above one brightens") << 0 << 0 << 250 << 1 << 1;
    QTest::newRow("gamma below one darkens") << 0 << 0 << 50 << -1 << -1;
}

// A dark 8-bit picture, as of dark metal: each adjustment moves the screen the way it says, stays for
// the next image, and leaves the file's values alone.
void tst_DisplayAdjust::adjustments()
{
    QFETCH(int, brightness);
    QFETCH(int, contrast);
    QFETCH(int, gamma);
    QFETCH(int, meanChange);
    QFETCH(int, spreadChange);
    const QString first = m_fixture.FilePath("dark1.png");
    const QString second = m_fixture.FilePath("dark2.bmp");
    QVERIFY(Write(first, Noise(CV_8UC1, 60, 40, 20, 61)));
    QVERIFY(Write(second, Noise(CV_8UC3, 60, 40, 20, 61)));
    const QByteArray bytes = ReadAll(first);

    DataWidget canvas;
    const auto record1 = Record(first);
    const auto record2 = Record(second);
    canvas.dataUpdated(record1);
    const QImage plain = canvas.image();
    cv::Scalar plainSpread;
    const double plainMean = Mean(plain, &plainSpread)[0];

    canvas.setDisplayAdjust(CanvasImage::Adjust{brightness, contrast, gamma});
    cv::Scalar spread;
    const double mean = Mean(canvas.image(), &spread)[0];
    const auto sign = [](double d) { return std::abs(d) < 0.5 ? 0 : (d > 0 ? 1 : -1); };
    QCOMPARE(sign(mean - plainMean), meanChange);
    if (spreadChange != 0)
        QCOMPARE(sign(spread[0] - plainSpread[0]), spreadChange);
    QCOMPARE(canvas.canvasImage().valuesAt(QPoint(5, 5)).first(), double(plain.pixelColor(5, 5).red()));

    // The next image comes up with the same adjustment.
    canvas.dataUpdated(record2);
    QCOMPARE(canvas.displayAdjust(), (CanvasImage::Adjust{brightness, contrast, gamma}));
    CanvasImage reference;
    QVERIFY(reference.load(second));
    reference.setAdjust(CanvasImage::Adjust{brightness, contrast, gamma});
    QCOMPARE(canvas.image(), reference.shown());

    // Neutral again: the screen is the file.
    canvas.dataUpdated(record1);
    canvas.setDisplayAdjust(CanvasImage::Adjust());
    QCOMPARE(canvas.image(), plain);
    QCOMPARE(ReadAll(first), bytes);
}

void tst_DisplayAdjust::originalValuesUnderPointer()
{
    cv::Mat deep = Noise(CV_16UC1, 200, 100, 1000, 4001);
    deep.at<ushort>(20, 30) = 3000;
    cv::Mat colour(100, 200, CV_8UC3, cv::Scalar(5, 20, 250));
    QVERIFY(Write(m_fixture.FilePath("deep.tif"), deep));
    QVERIFY(Write(m_fixture.FilePath("colour.png"), colour));

    DataWidget canvas;
    canvas.resize(400, 200);
    canvas.show();
    QVERIFY(QTest::qWaitForWindowExposed(&canvas));
    QSignalSpy location(&canvas, &DataWidget::SignalSendLocation);
    QSignalSpy values(&canvas, &DataWidget::SignalSendPixelValues);
    const auto pointAt = [&canvas](double x, double y)
    {
        const QPoint pos = canvas.zoom().toWidget(QPointF(x, y)).toPoint();
        QMouseEvent event(QEvent::MouseMove, pos, canvas.mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                          Qt::NoModifier);
        QApplication::sendEvent(&canvas, &event);
    };

    for (const CanvasImage::Adjust& adjust : {CanvasImage::Adjust(), CanvasImage::Adjust{80, 50, 300}})
    {
        canvas.setDisplayAdjust(adjust);
        canvas.dataUpdated(Record(m_fixture.FilePath("deep.tif")));
        canvas.zoomFit();
        pointAt(30.5, 20.5);
        QCOMPARE(values.last().at(1).value<QVector<double>>(), QVector<double>{3000});
        // The older signal keeps its 8-bit meaning: the high byte of the sample.
        QCOMPARE(location.last().at(1).value<QRgb>(), qRgb(3000 >> 8, 3000 >> 8, 3000 >> 8));

        canvas.dataUpdated(Record(m_fixture.FilePath("colour.png")));
        // A readout of the previous image must not stay up for the new one.
        QVERIFY(values.last().at(1).value<QVector<double>>().isEmpty());
        pointAt(10.5, 10.5);
        QCOMPARE(values.last().at(1).value<QVector<double>>(), (QVector<double>{250, 20, 5}));
        QCOMPARE(location.last().at(1).value<QRgb>(), qRgb(250, 20, 5));
        pointAt(-3, 10);
        QVERIFY(values.last().at(1).value<QVector<double>>().isEmpty());
        QCOMPARE(location.last().at(1).value<QRgb>(), QRgb(0));
    }
    // One pair per pointer move, and one cleared readout per image shown.
    QCOMPARE(location.count() + 4, values.count());
}

void tst_DisplayAdjust::exifOrientationKept()
{
    const QString path = m_fixture.FilePath("turned.jpg");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(TurnedJpeg(50, 20));
    file.close();
    DataWidget canvas;
    canvas.dataUpdated(Record(path));
    QCOMPARE(canvas.image().size(), QSize(20, 50));
    QCOMPARE(canvas.canvasImage().bitsPerSample(), 8);
}

void tst_DisplayAdjust::panel()
{
    DisplayAdjustWid panel;
    QSignalSpy changed(&panel, &DisplayAdjustWid::Signal_AdjustChanged);
    auto* reset = Child<QPushButton>(panel, "btnReset");
    QVERIFY(!reset->isEnabled());
    Child<QSlider>(panel, "sldBrightness")->setValue(30);
    // The gamma slider's middle is 1.00; its end is the largest gamma.
    QCOMPARE(panel.Adjust().gamma, 100);
    Child<QSlider>(panel, "sldGamma")->setValue(Child<QSlider>(panel, "sldGamma")->maximum());
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.last().at(0).value<CanvasImage::Adjust>(),
             (CanvasImage::Adjust{30, 0, CanvasImage::kMaxGamma}));
    QCOMPARE(Child<QLabel>(panel, "lbGammaValue")->text(), QString("5.00"));
    QVERIFY(reset->isEnabled());
    reset->click();
    QCOMPARE(changed.count(), 3);
    QVERIFY(changed.last().at(0).value<CanvasImage::Adjust>().isNeutral());
    QVERIFY(!reset->isEnabled());
    // Values set from outside are shown, not sent back.
    panel.SetAdjust(CanvasImage::Adjust{-10, 20, 80});
    QCOMPARE(changed.count(), 3);
    QCOMPARE(panel.Adjust(), (CanvasImage::Adjust{-10, 20, 80}));
}

std::unique_ptr<ImgMarksWid> tst_DisplayAdjust::MakePage()
{
    auto page = std::make_unique<ImgMarksWid>();
    page->SetConfigFile(m_fixture.FilePath("Config.ini"));
    page->resize(1400, 700);
    page->show();
    if (!QTest::qWaitForWindowExposed(page.get()))
        qWarning("page not exposed");
    return page;
}

// Operators brighten a series and walk through it; storing an image writes the annotation file and
// the project's copy exactly as without the adjustment.
void tst_DisplayAdjust::pageKeepsAdjustmentAndFilesClean()
{
    QVERIFY(m_fixture.OpenProject(2, {"划痕"}));
    const QString src = m_fixture.FilePath("src");
    QVERIFY(Write(src + "/a.png", Noise(CV_16UC1, 80, 60, 1000, 4001)));
    QVERIFY(Write(src + "/b.tif", Noise(CV_8UC1, 80, 60, 20, 61)));
    const QByteArray bytesA = ReadAll(src + "/a.png");
    auto page = MakePage();
    auto* table = Child<QTableView>(*page, "tblViewUnmarks");
    emit page->Signal_LoadImgPath(src);
    QTRY_COMPARE(table->model()->rowCount(), 2);
    auto* canvas = Child<DataWidget>(*page, "widImgView");
    auto* proxy = qobject_cast<QSortFilterProxyModel*>(table->model());
    auto* source = qobject_cast<SourceImgModel*>(proxy->sourceModel());
    const int rowA =
        source->imageAt(proxy->mapToSource(proxy->index(0, 1))).lock()->fileName == "a.png" ? 0 : 1;
    table->setCurrentIndex(table->model()->index(rowA, 1));
    QTRY_VERIFY(!canvas->record().expired());

    // The popup's sliders drive the canvas; the button shows that the screen is adjusted.
    auto* button = Child<QToolButton>(*page, "btnDisplayAdjust");
    auto* panel = page->findChild<DisplayAdjustWid*>();
    QVERIFY(panel);
    QVERIFY(button->menu());
    emit button->menu()->aboutToShow();
    QVERIFY(Child<QLabel>(*panel, "lbWindow")->text().contains("16"));
    Child<QSlider>(*panel, "sldBrightness")->setValue(40);
    Child<QSlider>(*panel, "sldGamma")->setValue(40);
    const CanvasImage::Adjust adjust = panel->Adjust();
    QCOMPARE(adjust.brightness, 40);
    QVERIFY(adjust.gamma > 100);
    QCOMPARE(canvas->displayAdjust(), adjust);
    QVERIFY(!button->styleSheet().isEmpty());

    const auto shownA = canvas->record().lock();
    QTest::keyClick(page.get(), Qt::Key_Space);
    QTRY_VERIFY(!shownA->image.isEmpty());
    QTest::keyClick(page.get(), rowA == 0 ? Qt::Key_D : Qt::Key_A);
    QTRY_VERIFY(canvas->record().lock() != shownA);
    QCOMPARE(canvas->displayAdjust(), adjust);
    QCOMPARE(panel->Adjust(), adjust);

    // The pixel readout gives the file's value at full depth.
    const QPoint pos = canvas->zoom().toWidget(QPointF(1.5, 1.5)).toPoint();
    QMouseEvent move(QEvent::MouseMove, pos, canvas->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(canvas, &move);
    const cv::Mat fileB = cv::imread(QFile::encodeName(src + "/b.tif").toStdString(), cv::IMREAD_UNCHANGED);
    QVERIFY(Child<QLabel>(*page, "lbPixelValue")->text().endsWith(QString::number(fileB.at<uchar>(1, 1))));

    const QString copy = PrjIns().lock()->PrjPath() + shownA->image;
    QTRY_VERIFY(QFile::exists(ImageFiles::AnnotationPath(copy)));
    QCOMPARE(ReadAll(copy), bytesA);
    QCOMPARE(ReadAll(src + "/a.png"), bytesA);
    const QByteArray annotation = ReadAll(ImageFiles::AnnotationPath(copy));
    const QJsonObject json = QJsonDocument::fromJson(annotation).object();
    QCOMPARE(json.keys(), (QStringList{"imageData", "imageHeight", "imagePath", "imageWidth", "shapes"}));
    QCOMPARE(json.value("imageWidth").toInt(), 80);
    for (const char* word : {"bright", "contrast", "gamma", "adjust", "window"})
        QVERIFY(!annotation.contains(word));
    page.reset();
    QVERIFY(!QFile::exists(m_fixture.FilePath("Config.ini")) ||
            !ReadAll(m_fixture.FilePath("Config.ini")).contains("gamma"));
}

void tst_DisplayAdjust::tiffImported()
{
    QVERIFY(m_fixture.OpenProject(2, {"划痕"}));
    const QString src = m_fixture.FilePath("import");
    QVERIFY(Write(src + "/deep.tiff", Noise(CV_16UC1, 70, 30, 1000, 4001)));
    QFile json(src + "/deep.json");
    QVERIFY(json.open(QIODevice::WriteOnly));
    json.write(R"({"imagePath":"deep.tiff","shapes":[{"label":"划痕","shape_type":"rectangle",)"
               R"("points":[[2,3],[20,10]]}]})");
    json.close();
    auto page = MakePage();
    emit page->Signal_ImportMarkImg(src, true);
    QTRY_COMPARE(PrjIns().lock()->Images().size(), 1);
    const auto spImg = PrjIns().lock()->Images().first();
    QCOMPARE(spImg->rois.size(), 1);
    QTRY_VERIFY(!spImg->image.isEmpty());
    const QString copy = PrjIns().lock()->PrjPath() + spImg->image;
    QVERIFY(copy.endsWith(".tiff"));
    QTRY_VERIFY(QFile::exists(ImageFiles::AnnotationPath(copy)));
    const QJsonObject stored = QJsonDocument::fromJson(ReadAll(ImageFiles::AnnotationPath(copy))).object();
    QCOMPARE(stored.value("imageWidth").toInt(), 70);
    QCOMPARE(stored.value("imageHeight").toInt(), 30);
}

// A PNG that claims 100000 x 100000 pixels made the decoder throw through the import, the store and
// the canvas; it is now stored as unreadable and shown as nothing.
void tst_DisplayAdjust::hostileImageImportedAndShown()
{
    QVERIFY(m_fixture.OpenProject(2, {"划痕"}));
    const QString src = m_fixture.FilePath("import");
    QVERIFY(QDir().mkpath(src));
    QFile bomb(src + "/bomb.png");
    QVERIFY(bomb.open(QIODevice::WriteOnly));
    bomb.write(PngClaiming(100000, 100000));
    bomb.close();
    QFile json(src + "/bomb.json");
    QVERIFY(json.open(QIODevice::WriteOnly));
    json.write(R"({"imagePath":"bomb.png","shapes":[{"label":"划痕","shape_type":"rectangle",)"
               R"("points":[[2,3],[20,10]]}]})");
    json.close();
    auto page = MakePage();
    emit page->Signal_ImportMarkImg(src, true);
    QTRY_COMPARE(PrjIns().lock()->Images().size(), 1);
    const auto spImg = PrjIns().lock()->Images().first();
    QTRY_VERIFY(!spImg->image.isEmpty());
    const QString copy = PrjIns().lock()->PrjPath() + spImg->image;
    QTRY_VERIFY(QFile::exists(ImageFiles::AnnotationPath(copy)));
    const QJsonObject stored = QJsonDocument::fromJson(ReadAll(ImageFiles::AnnotationPath(copy))).object();
    QCOMPARE(stored.value("imageWidth").toInt(), 0);

    auto* canvas = page->findChild<DataWidget*>();
    QVERIFY(canvas);
    canvas->dataUpdated(spImg);
    CanvasImage image;
    QVERIFY(!image.load(copy));
}

QTEST_MAIN(tst_DisplayAdjust)
#include "tst_DisplayAdjust.moc"
