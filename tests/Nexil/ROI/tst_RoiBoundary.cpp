#include "RoiBoundaryLib.h"

#include "Nexil/ROI/AnnotationText.h"
#include "Nexil/ROI/PolygonROI.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROI.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

#include <opencv2/core.hpp>

#include <dlfcn.h>

// The library (like Nexil) hides its copy of the ROI classes; this program compiles its own copy
// (like Lumora). ROIs cross between the two as std::shared_ptr<ROIItem>.
class TestRoiBoundary : public QObject
{
    Q_OBJECT

private slots:
    void libraryHidesItsCopy();
    void libraryMadeRoisWorkHere_data();
    void libraryMadeRoisWorkHere();
    void programMadeRoisWorkInLibrary();
    void cloneAcrossTheBoundary();
    void libraryMadeRoisAreDestroyed();

private:
    int countDestroyed(const ROIList& rois);

    int m_destroyed = 0;
};

namespace
{
const QString kListText = QStringLiteral(
    R"([{"type":"rectangle","value":{"rectangle":[2,3,12,9],"roiAttr":1,"title":"划痕"}},)"
    R"({"type":"Polygon","value":{"Points":[20,20,40,20,40,40,20,40],"roiAttr":2,"title":"dot"}}])");

QPolygonF Square(double x, double y, double side)
{
    QPolygonF polygon;
    polygon << QPointF(x, y) << QPointF(x + side, y) << QPointF(x + side, y + side) << QPointF(x, y + side);
    return polygon;
}
} // namespace

int TestRoiBoundary::countDestroyed(const ROIList& rois)
{
    for (const auto& roi : rois)
        connect(roi.get(), &QObject::destroyed, this, [this] { ++m_destroyed; });
    return rois.size();
}

void TestRoiBoundary::libraryHidesItsCopy()
{
    // Precondition of the other cases: two distinct copies of the classes exist.
    QVERIFY2(&RoiBoundary_RectItemType() != &typeid(RectROIItem),
             "the library shares the program's type information");
    // Type identity still holds by name, which dynamic_cast relies on.
    QVERIFY(RoiBoundary_RectItemType() == typeid(RectROIItem));

    Dl_info info{};
    QVERIFY(dladdr(reinterpret_cast<void*>(&RoiBoundary_Parse), &info) != 0);
    void* handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    QVERIFY(handle);
    QVERIFY(dlsym(handle, "_Z17RoiBoundary_ParseRK7QString"));
    QVERIFY2(!dlsym(handle, "_ZTI11RectROIItem"), "the library exports the ROI type information");
    QVERIFY2(!dlsym(handle, "_ZN14AnnotationText16parseRoiListTextERK7QString"),
             "the library exports the ROI code");
    dlclose(handle);
}

void TestRoiBoundary::libraryMadeRoisWorkHere_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<double>("area");
    QTest::addColumn<QPointF>("inside");
    QTest::addColumn<QPointF>("handle");

    QTest::newRow("rectangle") << 0 << 1 << "rectangle" << 60.0 << QPointF(5, 5) << QPointF(12, 9);
    QTest::newRow("polygon") << 1 << 16 << "Polygon" << 400.0 << QPointF(30, 30) << QPointF(40, 20);
}

void TestRoiBoundary::libraryMadeRoisWorkHere()
{
    QFETCH(int, index);
    QFETCH(int, kind);
    QFETCH(QString, typeName);
    QFETCH(double, area);
    QFETCH(QPointF, inside);
    QFETCH(QPointF, handle);

    const ROIList rois = RoiBoundary_Parse(kListText);
    QCOMPARE(rois.size(), 2);
    const std::shared_ptr<ROIItem> roi = rois.at(index);

    // Virtual calls land in the library's code.
    QCOMPARE(roi->typeName(), typeName);
    QCOMPARE(roi->area(), area);
    QVERIFY(roi->contains(inside));
    roi->setSelected(true);
    QVERIFY(roi->hitHandle(handle, 1.0f));

    // Casts made here, on objects whose type information is the library's.
    const ROI* shape = dynamic_cast<const ROI*>(roi.get());
    QVERIFY(shape);
    QCOMPARE(shape->kind(), kind);
    QCOMPARE(dynamic_cast<const RectROI*>(roi.get()) != nullptr, kind == ROI::KindRect);
    QCOMPARE(dynamic_cast<const PolygonROI*>(roi.get()) != nullptr, kind == ROI::KindPolygon);
    QCOMPARE(std::dynamic_pointer_cast<RectROIItem>(roi) != nullptr, kind == ROI::KindRect);
    QCOMPARE(std::dynamic_pointer_cast<PolygonROIItem>(roi) != nullptr, kind == ROI::KindPolygon);
    QCOMPARE(RoiBoundary_Kind(*roi), kind);

    // The program's own code reads and edits them.
    cv::Mat mask = cv::Mat::zeros(48, 64, CV_8UC1);
    roi->drawToMask(mask, 0, 0, 1);
    QCOMPARE(cv::countNonZero(mask), kind == ROI::KindRect ? 60 : 21 * 21);
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    roi->paint(&painter, 1.0f);
    painter.end();
    QCOMPARE(QColor(image.pixel(handle.toPoint())).name(), QStringLiteral("#d32f2f"));

    if (auto polygon = std::dynamic_pointer_cast<PolygonROIItem>(roi))
    {
        polygon->setFloatingPoint(QPointF(1, 1));
        QVERIFY(polygon->hasFloatingPoint());
        polygon->appendVertex(QPointF(25, 45));
        QCOMPARE(polygon->polygon().size(), 5);
    }
}

void TestRoiBoundary::programMadeRoisWorkInLibrary()
{
    ROIList rois;
    rois << std::make_shared<RectROIItem>(QRectF(1.004, 2, 3, 4), 0, QStringLiteral("a"))
         << std::make_shared<PolygonROIItem>(Square(5, 5, 10), 3, QStringLiteral("坑"));
    QCOMPARE(RoiBoundary_Kind(*rois.at(0)), int(ROI::KindRect));
    QCOMPARE(RoiBoundary_Kind(*rois.at(1)), int(ROI::KindPolygon));

    // The library's annotation file needs its cross-cast to the geometry; a failed cast would drop the shape.
    const QString annotation = RoiBoundary_BuildAnnotationFileText(rois);
    QCOMPARE(annotation, AnnotationText::buildAnnotationFileText(QStringLiteral("img.png"), 64, 48, rois));
    QVERIFY(annotation.contains(QStringLiteral("\"shape_type\":\"rectangle\"")));
    QVERIFY(annotation.contains(QStringLiteral("\"shape_type\":\"polygon\"")));

    const QString list = RoiBoundary_BuildRoiListText(rois);
    QCOMPARE(list, AnnotationText::buildRoiListText(rois));
    // Library-made ROIs give the program the same text back.
    QCOMPARE(AnnotationText::buildRoiListText(RoiBoundary_Parse(list)), list);
}

void TestRoiBoundary::cloneAcrossTheBoundary()
{
    const ROIList libraryMade = RoiBoundary_Parse(kListText);
    m_destroyed = 0;
    {
        std::unique_ptr<ROIItem> copy = libraryMade.at(0)->clone();
        connect(copy.get(), &QObject::destroyed, this, [this] { ++m_destroyed; });
        auto* rect = dynamic_cast<RectROIItem*>(copy.get());
        QVERIFY(rect);
        QCOMPARE(rect->rect(), QRectF(2, 3, 10, 6));
        QCOMPARE(rect->title(), QStringLiteral("划痕"));
        rect->moveBy(QPointF(1, 1));
        QCOMPARE(std::dynamic_pointer_cast<RectROIItem>(libraryMade.at(0))->rect(), QRectF(2, 3, 10, 6));
    }
    QCOMPARE(m_destroyed, 1);

    PolygonROIItem programMade(Square(0, 0, 4), 4, QStringLiteral("p"));
    std::shared_ptr<ROIItem> copy = RoiBoundary_Clone(programMade);
    auto polygon = std::dynamic_pointer_cast<PolygonROIItem>(copy);
    QVERIFY(polygon);
    QCOMPARE(polygon->polygon(), programMade.polygon());
    QCOMPARE(polygon->roiAttr(), 4);
    QCOMPARE(polygon->area(), 16.0);
}

void TestRoiBoundary::libraryMadeRoisAreDestroyed()
{
    m_destroyed = 0;
    {
        ROIList rois = RoiBoundary_Parse(kListText);
        QCOMPARE(countDestroyed(rois), 2);
        std::weak_ptr<ROIItem> weak = rois.at(1);
        rois.removeFirst();
        QCOMPARE(m_destroyed, 1);
        QVERIFY(!weak.expired());
        rois.clear();
        QVERIFY(weak.expired());
    }
    QCOMPARE(m_destroyed, 2);
}

QTEST_MAIN(TestRoiBoundary)
#include "tst_RoiBoundary.moc"
