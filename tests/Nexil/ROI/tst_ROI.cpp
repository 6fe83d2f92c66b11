#include "Nexil/ROI/AnnotationText.h"
#include "Nexil/ROI/PolygonROI.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROI.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

#include <opencv2/core.hpp>

namespace
{

QPolygonF Poly(std::initializer_list<QPointF> points)
{
    QPolygonF polygon;
    for (const QPointF& p : points)
        polygon << p;
    return polygon;
}

QImage WhiteImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

int CountColour(const QImage& image, const QColor& colour)
{
    const QRgb wanted = colour.rgb();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
    {
        for (int x = 0; x < image.width(); ++x)
        {
            if (image.pixel(x, y) == wanted)
                ++count;
        }
    }
    return count;
}

QString Hex(const QImage& image, int x, int y)
{
    return QColor(image.pixel(x, y)).name(QColor::HexRgb).toUpper();
}

// Paints with the painter scaled like the canvas at the given zoom; antialiasing stays off so
// pixels can be checked exactly.
QImage PaintOnImage(const ROIItem& roi, float scale, int size = 200)
{
    QImage image = WhiteImage(size, size);
    QPainter painter(&image);
    painter.scale(scale > 0 ? scale : 1, scale > 0 ? scale : 1);
    roi.paint(&painter, scale);
    return image;
}

cv::Mat ExpectedMask(int rows, int cols, int x0, int y0, int x1, int y1, uchar value)
{
    cv::Mat mask = cv::Mat::zeros(rows, cols, CV_8UC1);
    for (int y = y0; y <= y1; ++y)
    {
        for (int x = x0; x <= x1; ++x)
            mask.at<uchar>(y, x) = value;
    }
    return mask;
}

QString MaskDiff(const cv::Mat& actual, const cv::Mat& expected)
{
    QString diff;
    for (int y = 0; y < actual.rows; ++y)
    {
        for (int x = 0; x < actual.cols; ++x)
        {
            if (actual.at<uchar>(y, x) != expected.at<uchar>(y, x))
                diff += QStringLiteral("(%1,%2)=%3 ").arg(x).arg(y).arg(actual.at<uchar>(y, x));
        }
    }
    return diff;
}

} // namespace

class TestROI : public QObject
{
    Q_OBJECT

private slots:
    void kinds();
    void colourTable_data();
    void colourTable();
    void rectCornerDrag_data();
    void rectCornerDrag();
    void rectMoveByHandle();
    void polygonHitHandle_data();
    void polygonHitHandle();
    void handleToleranceAtZoom_data();
    void handleToleranceAtZoom();
    void handleRadiusAtZoomTwo();
    void dragFromPress();
    void containsUsesOddEvenRule();
    void areaAndBoundingBox_data();
    void areaAndBoundingBox();
    void rectMask_data();
    void rectMask();
    void polygonMask();
    void paintOutlineAndHandles();
    void paintNothingAtScaleZero();
    void paintPolygonInDrawing();
    void paintKeepsPenAndBrush();
    void cloneIsIndependent();
    void propertiesRoundTrip();
    void exactTexts_data();
    void exactTexts();
    void okImageHasEmptyShapes();
    void roundTripIsByteIdentical_data();
    void roundTripIsByteIdentical();
    void parseRoiList_data();
    void parseRoiList();
    void nonAsciiLabelIsUtf8();
};

void TestROI::kinds()
{
    const ROI plain;
    QCOMPARE(plain.kind(), 0);
    RectROIItem rect(QRectF(0, 0, 1, 1), 0, QString());
    PolygonROIItem polygon(QPolygonF(), 0, QString());
    ROIItem* items[] = {&rect, &polygon};
    QCOMPARE(dynamic_cast<ROI*>(items[0])->kind(), int(ROI::KindRect));
    QCOMPARE(dynamic_cast<ROI*>(items[1])->kind(), int(ROI::KindPolygon));
    QCOMPARE(int(ROI::KindRect), 1);
    QCOMPARE(int(ROI::KindPolygon), 16);
}

void TestROI::colourTable_data()
{
    QTest::addColumn<int>("attr");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0") << 0 << false << "#03A9F4";
    QTest::newRow("0 selected") << 0 << true << "#FFEB3B";
    QTest::newRow("1") << 1 << false << "#E040FB";
    QTest::newRow("2 selected") << 2 << true << "#FFEB3B";
    QTest::newRow("3") << 3 << false << "#E040FB";
    QTest::newRow("4") << 4 << false << "#8BC34A";
    QTest::newRow("4 selected") << 4 << true << "#8BC34A";
    QTest::newRow("5 selected") << 5 << true << "#FF5722";
    QTest::newRow("6") << 6 << false << "#FFEB3B";
    QTest::newRow("7 unknown") << 7 << false << QString();
    QTest::newRow("7 unknown selected") << 7 << true << QString();
    QTest::newRow("-1 unknown") << -1 << false << QString();
}

void TestROI::colourTable()
{
    QFETCH(int, attr);
    QFETCH(bool, selected);
    QFETCH(QString, expected);

    RectROIItem roi(QRectF(0, 0, 4, 4), attr, QString());
    roi.setSelected(selected);
    const QColor colour = roi.outlineColor();
    if (expected.isEmpty())
    {
        QVERIFY(!colour.isValid());
        return;
    }
    QVERIFY(colour.isValid());
    QCOMPARE(colour.name().toUpper(), expected);
}

void TestROI::rectCornerDrag_data()
{
    QTest::addColumn<int>("corner");
    QTest::addColumn<QPointF>("target");
    QTest::addColumn<QRectF>("expected");
    QTest::addColumn<int>("expectedHandle");

    // The rectangle runs from (10, 10) to (20, 20).
    QTest::newRow("0 past the right edge")
        << 0 << QPointF(30, 15) << QRectF(QPointF(20, 15), QPointF(30, 20)) << 1;
    QTest::newRow("0 past the bottom edge")
        << 0 << QPointF(12, 25) << QRectF(QPointF(12, 20), QPointF(20, 25)) << 3;
    QTest::newRow("0 within") << 0 << QPointF(12, 14) << QRectF(QPointF(12, 14), QPointF(20, 20)) << 0;
    QTest::newRow("1 past left and bottom")
        << 1 << QPointF(5, 30) << QRectF(QPointF(5, 20), QPointF(10, 30)) << 3;
    QTest::newRow("2 past top-left") << 2 << QPointF(0, 2) << QRectF(QPointF(0, 2), QPointF(10, 10)) << 0;
    QTest::newRow("3 past the right edge")
        << 3 << QPointF(25, 18) << QRectF(QPointF(20, 10), QPointF(25, 18)) << 2;
}

void TestROI::rectCornerDrag()
{
    QFETCH(int, corner);
    QFETCH(QPointF, target);
    QFETCH(QRectF, expected);
    QFETCH(int, expectedHandle);

    RectROIItem roi(QRectF(QPointF(10, 10), QPointF(20, 20)), 0, QString());
    roi.setSelected(true);
    const QPointF corners[] = {QPointF(10, 10), QPointF(20, 10), QPointF(20, 20), QPointF(10, 20)};
    // At zoom 4 the reach is 2.5 image pixels, so only the pressed corner is in range.
    QVERIFY(roi.hitHandle(corners[corner] + QPointF(1, 1), 4.0f));
    QCOMPARE(roi.activeHandle(), corner);

    roi.setHandlePos(target);
    QCOMPARE(roi.rect(), expected);
    QVERIFY(roi.rect().width() >= 0 && roi.rect().height() >= 0);
    QCOMPARE(roi.activeHandle(), expectedHandle);
}

void TestROI::rectMoveByHandle()
{
    RectROIItem roi(QRectF(10, 10, 10, 10), 0, QString());
    roi.moveBy(QPointF(5, -2));
    QCOMPARE(roi.rect(), QRectF(15, 8, 10, 10));

    roi.setActiveHandle(2);
    roi.moveBy(QPointF(3, 4));
    QCOMPARE(roi.rect(), QRectF(15, 8, 13, 14));

    roi.setActiveHandle(0);
    roi.moveBy(QPointF(1, 1));
    QCOMPARE(roi.rect(), QRectF(16, 9, 12, 13));
}

void TestROI::polygonHitHandle_data()
{
    QTest::addColumn<QPointF>("press");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<float>("scale");
    QTest::addColumn<bool>("hit");
    QTest::addColumn<int>("handle");
    QTest::addColumn<int>("vertexCount");
    QTest::addColumn<QPointF>("activeVertex");

    // Triangle (0, 0), (100, 0), (0, 100); the closing edge runs along x = 0.
    QTest::newRow("closing edge") << QPointF(-3, 50) << true << 1.0f << true << 3 << 4 << QPointF(0, 50);
    QTest::newRow("first edge") << QPointF(40, 4) << true << 1.0f << true << 1 << 4 << QPointF(40, 0);
    QTest::newRow("diagonal edge") << QPointF(52, 52) << true << 1.0f << true << 2 << 4 << QPointF(50, 50);
    QTest::newRow("vertex wins over edge")
        << QPointF(98, 3) << true << 1.0f << true << 1 << 3 << QPointF(100, 0);
    QTest::newRow("beyond reach") << QPointF(30, 30) << true << 1.0f << false << -1 << 3 << QPointF();
    QTest::newRow("not selected") << QPointF(0, 0) << false << 1.0f << false << -1 << 3 << QPointF();
    QTest::newRow("scale zero") << QPointF(0, 0) << true << 0.0f << false << -1 << 3 << QPointF();
    QTest::newRow("zoomed out reaches further")
        << QPointF(-15, 50) << true << 0.5f << true << 3 << 4 << QPointF(0, 50);
}

void TestROI::polygonHitHandle()
{
    QFETCH(QPointF, press);
    QFETCH(bool, selected);
    QFETCH(float, scale);
    QFETCH(bool, hit);
    QFETCH(int, handle);
    QFETCH(int, vertexCount);
    QFETCH(QPointF, activeVertex);

    PolygonROIItem roi(Poly({{0, 0}, {100, 0}, {0, 100}}), 0, QString());
    roi.setSelected(selected);
    roi.setActiveHandle(0);
    QCOMPARE(roi.hitHandle(press, scale), hit);
    if (selected && scale > 0)
        QCOMPARE(roi.activeHandle(), handle);
    QCOMPARE(roi.polygon().size(), vertexCount);
    if (hit)
        QCOMPARE(roi.polygon().at(handle), activeVertex);
}

void TestROI::handleToleranceAtZoom_data()
{
    QTest::addColumn<bool>("polygon");
    QTest::addColumn<QPointF>("press");
    QTest::addColumn<bool>("hit");

    // At zoom 2 the 10 screen pixels are 5 image pixels.
    QTest::newRow("rect corner 4.9") << false << QPointF(14.9, 10) << true;
    QTest::newRow("rect corner 5.1") << false << QPointF(15.1, 10) << false;
    QTest::newRow("vertex 4.9") << true << QPointF(10, 5.1) << true;
    QTest::newRow("edge 4.9") << true << QPointF(30, 5.1) << true;
    QTest::newRow("edge 5.1") << true << QPointF(30, 4.9) << false;
}

void TestROI::handleToleranceAtZoom()
{
    QFETCH(bool, polygon);
    QFETCH(QPointF, press);
    QFETCH(bool, hit);

    std::unique_ptr<ROIItem> roi;
    if (polygon)
        roi = std::make_unique<PolygonROIItem>(Poly({{10, 10}, {60, 10}, {60, 60}}), 0, QString());
    else
        roi = std::make_unique<RectROIItem>(QRectF(10, 10, 50, 50), 0, QString());
    roi->setSelected(true);
    QCOMPARE(roi->hitHandle(press, 2.0f), hit);
}

void TestROI::handleRadiusAtZoomTwo()
{
    // Corner 0 at image (20, 20) lies at screen (40, 40); its circle reaches 10 screen pixels.
    RectROIItem roi(QRectF(20, 20, 60, 60), 0, QString());
    roi.setSelected(true);
    const QImage plain = PaintOnImage(roi, 2.0f);
    QCOMPARE(Hex(plain, 31, 40), QStringLiteral("#FF9800"));
    QCOMPARE(Hex(plain, 40, 31), QStringLiteral("#FF9800"));
    QCOMPARE(Hex(plain, 29, 40), QStringLiteral("#FFFFFF"));
    QCOMPARE(Hex(plain, 40, 29), QStringLiteral("#FFFFFF"));

    // The active corner 2, at screen (160, 160), is 15 screen pixels wide with a 4-pixel rim.
    roi.setActiveHandle(2);
    const QImage active = PaintOnImage(roi, 2.0f);
    QCOMPARE(Hex(active, 172, 160), QStringLiteral("#D32F2F"));
    QCOMPARE(Hex(active, 175, 160), QStringLiteral("#FF4081"));
    QCOMPARE(Hex(active, 179, 160), QStringLiteral("#FFFFFF"));
    QCOMPARE(Hex(active, 31, 40), QStringLiteral("#FF9800"));
}

void TestROI::dragFromPress()
{
    RectROIItem rect(QRectF(10, 10, 20, 20), 0, QString());
    rect.beginDrag(QPointF(15, 15));
    rect.dragFromPress(QPointF(20, 25));
    rect.dragFromPress(QPointF(18, 14));
    // Every move is measured from the press, not from the previous move.
    QCOMPARE(rect.rect(), QRectF(13, 9, 20, 20));

    PolygonROIItem polygon(Poly({{0, 0}, {10, 0}, {0, 10}}), 0, QString());
    polygon.beginDrag(QPointF(1, 1));
    polygon.dragFromPress(QPointF(4, 5));
    polygon.dragFromPress(QPointF(3, 2));
    QCOMPARE(polygon.polygon(), Poly({{2, 1}, {12, 1}, {2, 11}}));

    polygon.setActiveHandle(1);
    polygon.moveBy(QPointF(1, 1));
    polygon.setActiveHandle(-1);
    polygon.moveBy(QPointF(-2, 0));
    QCOMPARE(polygon.polygon(), Poly({{0, 1}, {11, 2}, {0, 11}}));
}

void TestROI::containsUsesOddEvenRule()
{
    // A five-pointed star drawn in one stroke: its centre is covered twice, so it lies outside.
    PolygonROIItem star(Poly({{50, 0}, {79, 90}, {2, 35}, {98, 35}, {21, 90}}), 0, QString());
    QVERIFY(!star.contains(QPointF(50, 50)));
    QVERIFY(star.contains(QPointF(50, 10)));
    QVERIFY(!star.contains(QPointF(5, 80)));

    RectROIItem rect(QRectF(10, 10, 5, 5), 0, QString());
    QVERIFY(rect.contains(QPointF(12, 12)));
    QVERIFY(!rect.contains(QPointF(16, 12)));
}

void TestROI::areaAndBoundingBox_data()
{
    QTest::addColumn<QPolygonF>("vertices");
    QTest::addColumn<double>("area");
    QTest::addColumn<QRectF>("box");

    QTest::newRow("vertices truncated")
        << Poly({{0.9, 0}, {10.9, 0}, {10.9, 10.9}, {0, 10.9}}) << 100.0 << QRectF(0, 0, 10.9, 10.9);
    QTest::newRow("clockwise is not negative")
        << Poly({{0, 0}, {0, 4}, {4, 4}, {4, 0}}) << 16.0 << QRectF(0, 0, 4, 4);
    QTest::newRow("negative truncated toward zero")
        << Poly({{-2.7, -2.7}, {2, -2.7}, {2, 2}, {-2.7, 2}}) << 16.0 << QRectF(-2.7, -2.7, 4.7, 4.7);
    QTest::newRow("two vertices") << Poly({{0, 0}, {5, 5}}) << 0.0 << QRectF(0, 0, 5, 5);
    QTest::newRow("empty") << QPolygonF() << 0.0 << QRectF();
}

void TestROI::areaAndBoundingBox()
{
    QFETCH(QPolygonF, vertices);
    QFETCH(double, area);
    QFETCH(QRectF, box);

    const PolygonROIItem roi(vertices, 0, QString());
    QCOMPARE(roi.area(), area);
    const ROIItem::Box bounds = roi.boundingBox();
    QCOMPARE(bounds.x, float(box.x()));
    QCOMPARE(bounds.y, float(box.y()));
    QCOMPARE(bounds.width, float(box.width()));
    QCOMPARE(bounds.height, float(box.height()));

    const RectROIItem rect(QRectF(1.5, 2, 3, 4.5), 0, QString());
    QCOMPARE(rect.area(), 13.5);
}

void TestROI::rectMask_data()
{
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<float>("dx");
    QTest::addColumn<float>("dy");
    QTest::addColumn<QRect>("filled");

    QTest::newRow("plain") << QRectF(1, 2, 3, 2) << 0.0f << 0.0f << QRect(1, 2, 3, 2);
    // 1.9 - 0.5 = 1.4 -> 1, 2.7 - 0.5 = 2.2 -> 2; width 3.9 -> 3, height 2.2 -> 2.
    QTest::newRow("fractions truncated") << QRectF(1.9, 2.7, 3.9, 2.2) << 0.5f << 0.5f << QRect(1, 2, 3, 2);
    // 0.3 - 1 = -0.7 truncates to 0, not -1.
    QTest::newRow("toward zero, not down") << QRectF(0.3, 0.3, 2.9, 2.9) << 1.0f << 1.0f << QRect(0, 0, 2, 2);
    QTest::newRow("clipped at the border") << QRectF(6, -3, 10, 5) << 0.0f << 0.0f << QRect(6, 0, 2, 2);
    QTest::newRow("zero width") << QRectF(2, 2, 0.9, 3) << 0.0f << 0.0f << QRect();
}

void TestROI::rectMask()
{
    QFETCH(QRectF, rect);
    QFETCH(float, dx);
    QFETCH(float, dy);
    QFETCH(QRect, filled);

    cv::Mat mask = cv::Mat::zeros(8, 8, CV_8UC1);
    RectROIItem(rect, 0, QString()).drawToMask(mask, dx, dy, 7);
    const cv::Mat expected = filled.isEmpty() ? cv::Mat::zeros(8, 8, CV_8UC1)
                                              : ExpectedMask(8, 8, filled.left(), filled.top(),
                                                             filled.right(), filled.bottom(), 7);
    QVERIFY2(MaskDiff(mask, expected).isEmpty(), qPrintable(MaskDiff(mask, expected)));
}

void TestROI::polygonMask()
{
    // (1, 1) .. (5.9, 4.5) truncates to (1, 1) .. (5, 4); the filled polygon includes its border.
    cv::Mat mask = cv::Mat::zeros(8, 8, CV_8UC1);
    PolygonROIItem(Poly({{1, 1}, {5.9, 1}, {5.9, 4.5}, {1, 4.5}}), 0, QString()).drawToMask(mask, 0, 0, 255);
    cv::Mat expected = ExpectedMask(8, 8, 1, 1, 5, 4, 255);
    QVERIFY2(MaskDiff(mask, expected).isEmpty(), qPrintable(MaskDiff(mask, expected)));

    // Shifted by (2.5, 0.5): 1 - 2.5 = -1.5 -> -1 and 5.9 - 2.5 = 3.4 -> 3; the part left of 0 is clipped.
    mask = cv::Mat::zeros(8, 8, CV_8UC1);
    PolygonROIItem(Poly({{1, 1}, {5.9, 1}, {5.9, 4.5}, {1, 4.5}}), 0, QString())
        .drawToMask(mask, 2.5f, 0.5f, 3);
    expected = ExpectedMask(8, 8, 0, 0, 3, 4, 3);
    QVERIFY2(MaskDiff(mask, expected).isEmpty(), qPrintable(MaskDiff(mask, expected)));

    // Nothing to draw into or nothing to draw: no change, no failure.
    cv::Mat empty;
    PolygonROIItem(Poly({{0, 0}, {3, 0}, {3, 3}}), 0, QString()).drawToMask(empty, 0, 0, 1);
    QVERIFY(empty.empty());
    mask = cv::Mat::zeros(4, 4, CV_8UC1);
    PolygonROIItem(QPolygonF(), 0, QString()).drawToMask(mask, 0, 0, 1);
    QCOMPARE(cv::countNonZero(mask), 0);
}

void TestROI::paintOutlineAndHandles()
{
    RectROIItem rect(QRectF(20, 20, 100, 80), 0, QStringLiteral("dent"));
    QImage image = PaintOnImage(rect, 1.0f);
    QVERIFY(CountColour(image, QColor("#03A9F4")) > 0);
    QCOMPARE(Hex(image, 70, 20), QStringLiteral("#03A9F4"));
    QCOMPARE(CountColour(image, QColor("#FF9800")), 0);

    rect.setSelected(true);
    image = PaintOnImage(rect, 1.0f);
    QCOMPARE(Hex(image, 70, 20), QStringLiteral("#FFEB3B"));
    for (const QPoint& corner : {QPoint(20, 20), QPoint(120, 20), QPoint(120, 100), QPoint(20, 100)})
        QCOMPARE(Hex(image, corner.x(), corner.y()), QStringLiteral("#FF9800"));
    QCOMPARE(CountColour(image, QColor("#D32F2F")), 0);

    PolygonROIItem polygon(Poly({{20, 20}, {150, 30}, {60, 150}}), 5, QString());
    polygon.setSelected(true);
    polygon.setActiveHandle(1);
    image = PaintOnImage(polygon, 1.0f);
    QVERIFY(CountColour(image, QColor("#FF5722")) > 0);
    QCOMPARE(Hex(image, 20, 20), QStringLiteral("#FF9800"));
    QCOMPARE(Hex(image, 60, 150), QStringLiteral("#FF9800"));
    QCOMPARE(Hex(image, 150, 30), QStringLiteral("#D32F2F"));
    QVERIFY(CountColour(image, QColor("#FF4081")) > 0);
    // The shape is outlined only, never filled.
    QCOMPARE(Hex(image, 70, 60), QStringLiteral("#FFFFFF"));
}

void TestROI::paintNothingAtScaleZero()
{
    RectROIItem rect(QRectF(20, 20, 100, 80), 2, QStringLiteral("dent"));
    rect.setSelected(true);
    QImage image = PaintOnImage(rect, 0.0f);
    QCOMPARE(CountColour(image, Qt::white), image.width() * image.height());

    PolygonROIItem empty(QPolygonF(), 0, QStringLiteral("hole"));
    empty.setSelected(true);
    image = PaintOnImage(empty, 1.0f);
    QCOMPARE(CountColour(image, Qt::white), image.width() * image.height());
}

void TestROI::paintPolygonInDrawing()
{
    PolygonROIItem polygon(Poly({{20, 20}, {150, 20}}), ROIItem::kDrawingAttr, QString());
    polygon.setFloatingPoint(QPointF(100, 150));
    const QImage image = PaintOnImage(polygon, 1.0f);
    QVERIFY(CountColour(image, QColor("#FFEB3B")) > 0);
    // Every vertex and the floating point carry a circle, selected or not.
    QCOMPARE(Hex(image, 20, 20), QStringLiteral("#FF9800"));
    QCOMPARE(Hex(image, 150, 20), QStringLiteral("#FF9800"));
    QCOMPARE(Hex(image, 100, 150), QStringLiteral("#FF9800"));

    polygon.clearFloatingPoint();
    QCOMPARE(Hex(PaintOnImage(polygon, 1.0f), 100, 150), QStringLiteral("#FFFFFF"));
}

void TestROI::paintKeepsPenAndBrush()
{
    QImage image = WhiteImage(64, 64);
    QPainter painter(&image);
    const QPen pen(Qt::red, 3);
    painter.setPen(pen);
    painter.setBrush(Qt::green);
    RectROIItem rect(QRectF(5, 5, 40, 40), 0, QStringLiteral("t"));
    rect.setSelected(true);
    rect.setActiveHandle(0);
    rect.paint(&painter, 1.0f);
    PolygonROIItem polygon(Poly({{5, 5}, {40, 5}}), ROIItem::kDrawingAttr, QString());
    polygon.paint(&painter, 1.0f);
    QCOMPARE(painter.pen(), pen);
    QCOMPARE(painter.brush(), QBrush(Qt::green));
}

void TestROI::cloneIsIndependent()
{
    RectROIItem rect(QRectF(1, 2, 3, 4), 3, QStringLiteral("crack"));
    rect.setSelected(true);
    rect.setActiveHandle(2);
    std::unique_ptr<ROIItem> rectCopy = rect.clone();
    auto* rectClone = dynamic_cast<RectROIItem*>(rectCopy.get());
    QVERIFY(rectClone);
    QCOMPARE(rectClone->rect(), QRectF(1, 2, 3, 4));
    QCOMPARE(rectClone->roiAttr(), 3);
    QCOMPARE(rectClone->title(), QStringLiteral("crack"));
    QVERIFY(!rectClone->isSelected());
    QCOMPARE(rectClone->activeHandle(), -1);
    rectClone->moveBy(QPointF(10, 10));
    QCOMPARE(rect.rect(), QRectF(1, 2, 3, 4));

    PolygonROIItem polygon(Poly({{0, 0}, {4, 0}, {0, 4}}), 1, QStringLiteral("dot"));
    polygon.setSelected(true);
    polygon.setFloatingPoint(QPointF(9, 9));
    std::unique_ptr<ROIItem> polygonCopy = polygon.clone();
    auto* polygonClone = dynamic_cast<PolygonROIItem*>(polygonCopy.get());
    QVERIFY(polygonClone);
    QCOMPARE(polygonClone->polygon(), polygon.polygon());
    QCOMPARE(polygonClone->roiAttr(), 1);
    QCOMPARE(polygonClone->title(), QStringLiteral("dot"));
    QVERIFY(!polygonClone->isSelected());
    QVERIFY(!polygonClone->hasFloatingPoint());
    polygonClone->setSelected(true);
    QVERIFY(polygonClone->hitHandle(QPointF(2, -1), 1.0f));
    QCOMPARE(polygon.polygon().size(), 3);
}

void TestROI::propertiesRoundTrip()
{
    RectROIItem rect(QRectF(1.5, 2.5, 30, 40), 0, QString());
    QStringList headers;
    rect.propertyHeaders(headers);
    QVERIFY(headers.isEmpty());
    QStringList names;
    ROIItem::PropertyRows rows;
    rect.properties(names, rows);
    QCOMPARE(names, (QStringList{"X", "Y", "Width", "Height"}));
    QCOMPARE(rows, (ROIItem::PropertyRows{{1.5f}, {2.5f}, {30.0f}, {40.0f}}));
    rect.setPoints({{5}, {6}, {7}, {8}});
    QCOMPARE(rect.rect(), QRectF(5, 6, 7, 8));
    // A short table leaves the rectangle as it was.
    rect.setPoints({{1}, {2}, {}, {4}});
    QCOMPARE(rect.rect(), QRectF(5, 6, 7, 8));

    PolygonROIItem polygon(Poly({{1, 2}, {3, 4}, {5, 6}}), 0, QString());
    polygon.propertyHeaders(headers);
    QCOMPARE(headers, (QStringList{"X", "Y"}));
    names.clear();
    rows.clear();
    polygon.properties(names, rows);
    QCOMPARE(names, (QStringList{"1", "2", "3"}));
    QCOMPARE(rows, (ROIItem::PropertyRows{{1, 2}, {3, 4}, {5, 6}}));
    polygon.setPoints({{7, 8}, {9}, {10, 11, 12}});
    QCOMPARE(polygon.polygon(), Poly({{7, 8}, {10, 11}}));
}

void TestROI::exactTexts_data()
{
    QTest::addColumn<bool>("polygon");
    QTest::addColumn<QString>("roiList");
    QTest::addColumn<QString>("annotationFile");

    // The rectangle keeps its right edge as left + width, so 30.126 comes back as the nearest
    // double of 10.004 + 20.122.
    QTest::newRow("rectangle")
        << false
        << R"([{"type":"rectangle","value":{"rectangle":[10,20,30.13,40.5],"roiAttr":2,"title":"scratch"}}])"
        << R"({"imageData":null,"imageHeight":480,"imagePath":"a.png","imageWidth":640,"shapes":[{"label":"scratch",)"
           R"("points":[[10.004,20],[30.125999999999998,40.5]],"shape_type":"rectangle"}]})";
    QTest::newRow("polygon")
        << true
        << R"([{"type":"Polygon","value":{"Points":[1.01,2,3.33,4.44,-5,6.5],"roiAttr":0,"title":"scratch"}}])"
        << R"({"imageData":null,"imageHeight":480,"imagePath":"a.png","imageWidth":640,"shapes":[{"label":"scratch",)"
           R"("points":[[1.006,2],[3.333,4.444],[-5,6.5]],"shape_type":"polygon"}]})";
}

void TestROI::exactTexts()
{
    QFETCH(bool, polygon);
    QFETCH(QString, roiList);
    QFETCH(QString, annotationFile);

    ROIList rois;
    if (polygon)
        rois << std::make_shared<PolygonROIItem>(Poly({{1.006, 2}, {3.333, 4.444}, {-5, 6.5}}), 0,
                                                 QStringLiteral("scratch"));
    else
        rois << std::make_shared<RectROIItem>(QRectF(QPointF(10.004, 20), QPointF(30.126, 40.5)), 2,
                                              QStringLiteral("scratch"));
    QCOMPARE(AnnotationText::buildRoiListText(rois), roiList);
    QCOMPARE(AnnotationText::buildAnnotationFileText(QStringLiteral("a.png"), 640, 480, rois),
             annotationFile);
}

void TestROI::okImageHasEmptyShapes()
{
    QCOMPARE(AnnotationText::buildAnnotationFileText(QStringLiteral("ok.bmp"), 0, 0, ROIList()),
             QStringLiteral(
                 R"({"imageData":null,"imageHeight":0,"imagePath":"ok.bmp","imageWidth":0,"shapes":[]})"));
    QCOMPARE(AnnotationText::buildRoiListText(ROIList()), QStringLiteral("[]"));
}

void TestROI::roundTripIsByteIdentical_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << "[]";
    QTest::newRow("mixed")
        << R"([{"type":"Polygon","value":{"Points":[0.5,1,100.25,3.75,-7,2],"roiAttr":4,"title":"a"}},)"
           R"({"type":"rectangle","value":{"rectangle":[1.5,2,300,400.01],"roiAttr":0,"title":""}},)"
           R"({"type":"rectangle","value":{"rectangle":[0,0,0,0],"roiAttr":-3,"title":"划痕 \"x\""}}])";
    QTest::newRow("large coordinates")
        << R"([{"type":"Polygon","value":{"Points":[12345.67,98765.43,1e+20,-1e+20],"roiAttr":1,"title":"z"}}])";
}

void TestROI::roundTripIsByteIdentical()
{
    QFETCH(QString, text);
    const ROIList rois = AnnotationText::parseRoiListText(text);
    QCOMPARE(AnnotationText::buildRoiListText(rois), text);
    QCOMPARE(AnnotationText::buildRoiListText(rois).toUtf8(), text.toUtf8());
}

void TestROI::parseRoiList_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("types");
    QTest::addColumn<QString>("rebuilt");

    QTest::newRow("unknown type dropped")
        << R"([{"type":"circle","value":{"r":3}},{"type":"rectangle","value":{"rectangle":[1,2,3,4],"roiAttr":1,"title":"a"}},)"
           R"({"type":"polygon","value":{"Points":[1,1,2,2,3,1]}},{"type":"Polygon","value":{"Points":[1,1,2,2,3,1],"title":"b"}}])"
        << QStringList{"rectangle", "Polygon"}
        << R"([{"type":"rectangle","value":{"rectangle":[1,2,3,4],"roiAttr":1,"title":"a"}},)"
           R"({"type":"Polygon","value":{"Points":[1,1,2,2,3,1],"roiAttr":0,"title":"b"}}])";
    QTest::newRow("missing keys read as zero and empty")
        << R"([{"type":"rectangle","value":{}},{"type":"Polygon"}])" << QStringList{"rectangle", "Polygon"}
        << R"([{"type":"rectangle","value":{"rectangle":[0,0,0,0],"roiAttr":0,"title":""}},)"
           R"({"type":"Polygon","value":{"Points":[],"roiAttr":0,"title":""}}])";
    QTest::newRow("odd point count")
        << R"([{"type":"Polygon","value":{"Points":[1,2,3,4,5]}}])" << QStringList{"Polygon"}
        << R"([{"type":"Polygon","value":{"Points":[1,2,3,4],"roiAttr":0,"title":""}}])";
    QTest::newRow("non-integral attribute")
        << R"([{"type":"rectangle","value":{"roiAttr":2.5,"title":7}}])" << QStringList{"rectangle"}
        << R"([{"type":"rectangle","value":{"rectangle":[0,0,0,0],"roiAttr":0,"title":""}}])";
    QTest::newRow("unparsable") << R"([{"type":"rectangle","value":{"rectangle":[1,2,3,4]}})" << QStringList()
                                << "[]";
    QTest::newRow("object, not array") << R"({"type":"rectangle"})" << QStringList() << "[]";
    QTest::newRow("empty text") << "" << QStringList() << "[]";
}

void TestROI::parseRoiList()
{
    QFETCH(QString, text);
    QFETCH(QStringList, types);
    QFETCH(QString, rebuilt);

    const ROIList rois = AnnotationText::parseRoiListText(text);
    QStringList parsedTypes;
    for (const auto& roi : rois)
        parsedTypes << roi->typeName();
    QCOMPARE(parsedTypes, types);
    QCOMPARE(AnnotationText::buildRoiListText(rois), rebuilt);
    for (const auto& roi : rois)
    {
        QVERIFY(!roi->isSelected());
        QCOMPARE(roi->activeHandle(), -1);
    }
}

void TestROI::nonAsciiLabelIsUtf8()
{
    const QString label = QStringLiteral("划痕");
    ROIList rois;
    rois << std::make_shared<RectROIItem>(QRectF(0, 0, 1, 1), 0, label);
    const QByteArray utf8Label = label.toUtf8();
    for (const QString& text :
         {AnnotationText::buildRoiListText(rois),
          AnnotationText::buildAnnotationFileText(QStringLiteral("图.png"), 1, 1, rois)})
    {
        const QByteArray bytes = text.toUtf8();
        QVERIFY2(bytes.contains(utf8Label), bytes.constData());
        QVERIFY2(!bytes.contains("\\u"), bytes.constData());
    }
    QCOMPARE(AnnotationText::parseRoiListText(AnnotationText::buildRoiListText(rois)).first()->title(),
             label);
}

QTEST_MAIN(TestROI)
#include "tst_ROI.moc"
