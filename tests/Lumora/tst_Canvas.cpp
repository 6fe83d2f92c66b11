#include "Canvas/CanvasZoom.h"
#include "Canvas/RoiLabels.h"
#include "Canvas/datawidget.h"
#include "ImgMarks/MarksResultWid.h"

#include "ComUi/CategoryPalette.h"

#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace
{

// Image 200 × 100 in a 400 × 200 canvas: fitted at scale 2 with offset 0, so a widget point is twice
// its image point.
constexpr int kImageW = 200;
constexpr int kImageH = 100;

std::shared_ptr<pro::ImageInfo> MakeRecord(const QString& path)
{
    auto record = std::make_shared<pro::ImageInfo>();
    record->path = path;
    record->fileName = QFileInfo(path).fileName();
    return record;
}

std::shared_ptr<ROIItem> Rect(const QRectF& rect)
{
    return std::make_shared<RectROIItem>(rect, 0, QStringLiteral("r"));
}

QPoint W(const QPointF& imagePoint)
{
    return (imagePoint * 2).toPoint();
}

// QTest moves the cursor without a button held; drags need the button in the event.
void Move(QWidget* w, const QPoint& pos, Qt::MouseButtons buttons = Qt::NoButton)
{
    QMouseEvent event(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void Wheel(QWidget* w, const QPointF& pos, int delta)
{
    QWheelEvent event(pos, w->mapToGlobal(pos.toPoint()), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
}

bool Near(const QPointF& a, const QPointF& b, double tolerance = 1e-3)
{
    return std::abs(a.x() - b.x()) < tolerance && std::abs(a.y() - b.y()) < tolerance;
}

} // namespace

class tst_Canvas : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void mapping_data();
    void mapping();
    void fit_data();
    void fit();
    void wheelStepsReturn_data();
    void wheelStepsReturn();
    void zoomStaysBounded();

    void decodesGreyAndColour();
    void drawRectangle();
    void drawPolygon();
    void degenerateDrawingDiscarded_data();
    void degenerateDrawingDiscarded();
    void unclaimedDrawingEnds();
    void newImageEndsDrawing();
    void pickSmallest_data();
    void pickSmallest();
    void moveAndReshape();
    void panAndLocation();
    void hitTestingOff();
    void wheelKeepsPointerPoint();
    void paintFollowsRoiChanges();
    void polygonClosesOnFirstVertex_data();
    void polygonClosesOnFirstVertex();
    void rectangleInWholePixels();
    void categoryColours();
    void labelsKeptApart();

private:
    std::shared_ptr<pro::ImageInfo> Show(DataWidget& w, const QImage& image = QImage());

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DataWidget> m_w;
    std::shared_ptr<pro::ImageInfo> m_record;
};

void tst_Canvas::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
}

void tst_Canvas::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_w = std::make_unique<DataWidget>();
    m_w->resize(2 * kImageW, 2 * kImageH);
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    m_record = Show(*m_w);
}

void tst_Canvas::cleanup()
{
    m_w.reset();
    m_record.reset();
    m_dir.reset();
}

std::shared_ptr<pro::ImageInfo> tst_Canvas::Show(DataWidget& w, const QImage& image)
{
    QImage picture = image;
    if (picture.isNull())
    {
        picture = QImage(kImageW, kImageH, QImage::Format_RGB888);
        picture.fill(QColor(10, 20, 30));
    }
    static int count = 0;
    const QString path = m_dir->filePath(QStringLiteral("img%1.png").arg(++count));
    if (!picture.save(path))
        return nullptr;
    auto record = MakeRecord(path);
    w.dataUpdated(record);
    w.zoomFit();
    return record;
}

void tst_Canvas::mapping_data()
{
    QTest::addColumn<QSizeF>("widget");
    QTest::addColumn<QSizeF>("image");
    QTest::addColumn<QPointF>("widgetPoint");
    QTest::addColumn<QPointF>("imagePoint");
    QTest::newRow("scale 2, no offset")
        << QSizeF(400, 200) << QSizeF(200, 100) << QPointF(40, 20) << QPointF(20, 10);
    QTest::newRow("centred horizontally")
        << QSizeF(400, 100) << QSizeF(100, 100) << QPointF(150, 0) << QPointF(0, 0);
    QTest::newRow("centred vertically")
        << QSizeF(100, 400) << QSizeF(50, 50) << QPointF(50, 200) << QPointF(25, 25);
    QTest::newRow("left of the image")
        << QSizeF(400, 100) << QSizeF(100, 100) << QPointF(50, 50) << QPointF(-100, 50);
    QTest::newRow("scaled down") << QSizeF(100, 100) << QSizeF(1000, 500) << QPointF(50, 50)
                                 << QPointF(500, 250);
}

void tst_Canvas::mapping()
{
    QFETCH(QSizeF, widget);
    QFETCH(QSizeF, image);
    QFETCH(QPointF, widgetPoint);
    QFETCH(QPointF, imagePoint);

    CanvasZoom zoom;
    QVERIFY(zoom.fit(widget, image));
    QVERIFY(Near(zoom.toImage(widgetPoint), imagePoint));
    QVERIFY(Near(zoom.toWidget(imagePoint), widgetPoint));
    QVERIFY(Near(zoom.toImage(zoom.toWidget(imagePoint)), imagePoint));
}

void tst_Canvas::fit_data()
{
    QTest::addColumn<QSizeF>("widget");
    QTest::addColumn<QSizeF>("image");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<float>("scale");
    QTest::addColumn<QPointF>("offset");
    QTest::newRow("wide image") << QSizeF(400, 300) << QSizeF(800, 200) << true << 0.5f << QPointF(0, 100);
    QTest::newRow("tall image") << QSizeF(400, 300) << QSizeF(100, 600) << true << 0.5f << QPointF(175, 0);
    QTest::newRow("same shape") << QSizeF(400, 300) << QSizeF(40, 30) << true << 10.0f << QPointF(0, 0);
    QTest::newRow("no width") << QSizeF(400, 300) << QSizeF(0, 30) << false << 1.0f << QPointF(0, 0);
    QTest::newRow("no height") << QSizeF(400, 300) << QSizeF(30, 0) << false << 1.0f << QPointF(0, 0);
    QTest::newRow("hidden widget") << QSizeF(0, 0) << QSizeF(30, 30) << false << 1.0f << QPointF(0, 0);
}

void tst_Canvas::fit()
{
    QFETCH(QSizeF, widget);
    QFETCH(QSizeF, image);
    QFETCH(bool, fits);
    QFETCH(float, scale);
    QFETCH(QPointF, offset);

    CanvasZoom zoom;
    QCOMPARE(zoom.fit(widget, image), fits);
    QCOMPARE(zoom.scale(), scale);
    QVERIFY(Near(zoom.offset(), offset));
}

void tst_Canvas::wheelStepsReturn_data()
{
    QTest::addColumn<QPointF>("pointer");
    QTest::newRow("centre") << QPointF(200, 150);
    QTest::newRow("corner") << QPointF(0, 0);
    QTest::newRow("outside the image") << QPointF(390, 5);
}

void tst_Canvas::wheelStepsReturn()
{
    QFETCH(QPointF, pointer);

    CanvasZoom zoom;
    QVERIFY(zoom.fit(QSizeF(400, 300), QSizeF(300, 300)));
    const float start = zoom.scale();
    const QPointF q = zoom.toImage(pointer);
    for (bool in : {true, true, false, false})
    {
        QVERIFY(zoom.step(pointer, in));
        // The image point under the pointer stays put at every step.
        QVERIFY(Near(zoom.toWidget(q), pointer));
    }
    QVERIFY(std::abs(zoom.scale() - start) <= 4 * std::numeric_limits<float>::epsilon() * start);
}

void tst_Canvas::zoomStaysBounded()
{
    CanvasZoom zoom;
    QVERIFY(zoom.fit(QSizeF(400, 300), QSizeF(4000, 3000)));
    const QPointF pointer(123, 77);
    const QPointF q = zoom.toImage(pointer);
    int steps = 0;
    while (zoom.step(pointer, true))
        QVERIFY(++steps < 1000);
    QVERIFY(zoom.scale() <= CanvasZoom::kMaxScale);
    QVERIFY(zoom.scale() > CanvasZoom::kMaxScale / 1.2f);
    while (zoom.step(pointer, false))
        QVERIFY(++steps < 2000);
    QVERIFY(zoom.scale() >= zoom.fitScale() / CanvasZoom::kFitDivisor);
    QVERIFY(zoom.scale() > 0);
    QVERIFY(Near(zoom.toWidget(q), pointer, 1e-2));
    QVERIFY(Near(zoom.toImage(pointer), q, 1.0));
}

void tst_Canvas::decodesGreyAndColour()
{
    QImage grey(4, 3, QImage::Format_Grayscale8);
    grey.fill(77);
    Show(*m_w, grey);
    QCOMPARE(m_w->image().format(), QImage::Format_Grayscale8);
    QCOMPARE(m_w->image().pixel(3, 2), qRgb(77, 77, 77));

    QImage colour(4, 3, QImage::Format_RGB888);
    colour.fill(QColor(250, 20, 5));
    Show(*m_w, colour);
    QCOMPARE(m_w->image().format(), QImage::Format_RGB888);
    // OpenCV's blue-green-red order is undone.
    QCOMPARE(m_w->image().pixel(0, 0), qRgb(250, 20, 5));

    m_w->dataUpdated(std::weak_ptr<pro::ImageInfo>());
    QVERIFY(m_w->image().isNull());
    QVERIFY(m_w->record().expired());
}

void tst_Canvas::drawRectangle()
{
    std::shared_ptr<ROIItem> taken;
    int modeDuringEmission = -1;
    QList<bool> completions;
    connect(m_w.get(), &DataWidget::drawRoiCompleted, this,
            [&](bool accept)
            {
                completions << accept;
                modeDuringEmission = m_w->mode();
                taken = m_w->endDrawing(accept);
            });
    QSignalSpy clicked(m_w.get(), &DataWidget::clickedROI);

    m_w->startDrawRect(QStringLiteral("t"));
    QCOMPARE(m_w->mode(), int(DataWidget::kDrawingRect));
    QTest::mousePress(m_w.get(), Qt::LeftButton, Qt::NoModifier, W({10.4, 10.6}));
    Move(m_w.get(), W({20, 15}), Qt::LeftButton);
    Move(m_w.get(), W({30, 20}), Qt::LeftButton);
    QTest::mouseRelease(m_w.get(), Qt::LeftButton, Qt::NoModifier, W({30, 20}));

    QCOMPARE(completions, QList<bool>{true});
    QCOMPARE(modeDuringEmission, int(DataWidget::kDrawingRect));
    QCOMPARE(m_w->mode(), int(DataWidget::kIdle));
    QVERIFY(taken);
    const auto* rect = dynamic_cast<RectROIItem*>(taken.get());
    QVERIFY(rect);
    // The press corner is truncated to whole pixels.
    QCOMPARE(rect->rect(), QRectF(10, 10, 20, 10));
    QCOMPARE(rect->roiAttr(), 0);
    QCOMPARE(rect->title(), QStringLiteral("t"));
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(m_w->selectedRoi().lock(), taken);
}

void tst_Canvas::drawPolygon()
{
    std::shared_ptr<ROIItem> taken;
    QList<bool> completions;
    connect(m_w.get(), &DataWidget::drawRoiCompleted, this,
            [&](bool accept)
            {
                completions << accept;
                taken = m_w->endDrawing(accept);
            });
    m_w->startDrawPolygon(QString());
    QCOMPARE(m_w->cursor().shape(), Qt::CrossCursor);
    const QList<QPointF> vertices{{10, 10}, {50, 10}, {30, 40}};
    for (const QPointF& v : vertices)
    {
        Move(m_w.get(), W(v));
        QTest::mouseClick(m_w.get(), Qt::LeftButton, Qt::NoModifier, W(v));
        QCOMPARE(m_w->mode(), int(DataWidget::kDrawingPolygon));
    }
    // The pointer outside the image leaves the floating point at the last position inside.
    Move(m_w.get(), QPoint(-20, -20));
    QTest::mouseClick(m_w.get(), Qt::RightButton, Qt::NoModifier, QPoint(-20, -20));

    QCOMPARE(completions, QList<bool>{true});
    QCOMPARE(m_w->mode(), int(DataWidget::kIdle));
    QCOMPARE(m_w->cursor().shape(), Qt::ArrowCursor);
    const auto* polygon = dynamic_cast<PolygonROIItem*>(taken.get());
    QVERIFY(polygon);
    QCOMPARE(polygon->polygon(), QPolygonF(QVector<QPointF>(vertices.begin(), vertices.end())));
    QVERIFY(!polygon->hasFloatingPoint());
    QCOMPARE(polygon->roiAttr(), 0);
}

void tst_Canvas::degenerateDrawingDiscarded_data()
{
    QTest::addColumn<bool>("polygon");
    QTest::addColumn<int>("clicks");
    QTest::newRow("polygon of two vertices") << true << 2;
    QTest::newRow("polygon without vertices") << true << 0;
    QTest::newRow("rectangle of zero size") << false << 1;
    QTest::newRow("rectangle ended by the right button") << false << 0;
}

void tst_Canvas::degenerateDrawingDiscarded()
{
    QFETCH(bool, polygon);
    QFETCH(int, clicks);

    std::shared_ptr<ROIItem> taken = Rect({});
    QList<bool> completions;
    connect(m_w.get(), &DataWidget::drawRoiCompleted, this,
            [&](bool accept)
            {
                completions << accept;
                taken = m_w->endDrawing(accept);
            });
    QSignalSpy clicked(m_w.get(), &DataWidget::clickedROI);
    if (polygon)
        m_w->startDrawPolygon(QString());
    else
        m_w->startDrawRect(QString());
    for (int i = 0; i < clicks; ++i)
    {
        Move(m_w.get(), W({10.0 + 20 * i, 10}));
        QTest::mouseClick(m_w.get(), Qt::LeftButton, Qt::NoModifier, W({10.0 + 20 * i, 10}));
    }
    if (polygon || clicks == 0)
        QTest::mouseClick(m_w.get(), Qt::RightButton, Qt::NoModifier, W({60, 60}));

    QCOMPARE(completions, QList<bool>{true});
    QVERIFY(!taken);
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(m_w->mode(), int(DataWidget::kIdle));
}

void tst_Canvas::unclaimedDrawingEnds()
{
    // Without a receiver ending it, a drawing must not leave the canvas in a drawing mode.
    m_w->startDrawRect(QString());
    QTest::mousePress(m_w.get(), Qt::LeftButton, Qt::NoModifier, W({10, 10}));
    Move(m_w.get(), W({30, 30}), Qt::LeftButton);
    QTest::mouseRelease(m_w.get(), Qt::LeftButton, Qt::NoModifier, W({30, 30}));
    QCOMPARE(m_w->mode(), int(DataWidget::kIdle));
    QVERIFY(!m_w->endDrawing(true));

    m_w->startDrawPolygon(QString());
    Show(*m_w);
    QCOMPARE(m_w->mode(), int(DataWidget::kIdle));
}

void tst_Canvas::newImageEndsDrawing()
{
    auto roi = Rect({5, 5, 10, 10});
    m_record->rois << roi;
    m_w->roiSelectedChanged(roi);
    QVERIFY(roi->isSelected());

    QList<bool> completions;
    std::shared_ptr<ROIItem> taken;
    connect(m_w.get(), &DataWidget::drawRoiCompleted, this,
            [&](bool accept)
            {
                completions << accept;
                taken = m_w->endDrawing(accept);
            });
    m_w->startDrawPolygon(QString());
    for (const QPointF& v : {QPointF(10, 10), QPointF(50, 10), QPointF(30, 40)})
    {
        Move(m_w.get(), W(v));
        QTest::mouseClick(m_w.get(), Qt::LeftButton, Qt::NoModifier, W(v));
    }
    const auto other = Show(*m_w);
    QCOMPARE(completions, QList<bool>{false});
    QVERIFY(!taken);
    QCOMPARE(m_w->mode(), int(DataWidget::kIdle));
    QCOMPARE(m_w->record().lock(), other);
    // Nothing of the image shown before stays selected or draggable.
    QVERIFY(!roi->isSelected());
    QVERIFY(m_w->selectedRoi().expired());
}

void tst_Canvas::pickSmallest_data()
{
    QTest::addColumn<QPointF>("press");
    QTest::addColumn<int>("picked");
    QTest::newRow("inside both: the smaller") << QPointF(15, 15) << 1;
    QTest::newRow("inside the larger only") << QPointF(80, 60) << 0;
    QTest::newRow("equal areas: the earlier") << QPointF(150, 20) << 2;
    QTest::newRow("nothing") << QPointF(190, 90) << -1;
}

void tst_Canvas::pickSmallest()
{
    QFETCH(QPointF, press);
    QFETCH(int, picked);

    m_record->rois << Rect({0, 0, 100, 80}) << Rect({10, 10, 20, 20}) << Rect({140, 10, 20, 20})
                   << Rect({145, 15, 20, 20});
    QSignalSpy clicked(m_w.get(), &DataWidget::clickedROI);
    QSignalSpy mouse(m_w.get(), &DataWidget::mouseClicked);
    QTest::mousePress(m_w.get(), Qt::LeftButton, Qt::NoModifier, W(press));

    const auto expected = picked < 0 ? nullptr : m_record->rois.at(picked);
    QCOMPARE(m_w->selectedRoi().lock(), expected);
    QCOMPARE(m_w->mode(), int(picked < 0 ? DataWidget::kPanning : DataWidget::kMovingRoi));
    QCOMPARE(mouse.count(), 1);
    // Pressing on nothing with nothing selected is no change of the selection.
    QCOMPARE(clicked.count(), picked < 0 ? 0 : 1);
    for (const auto& roi : m_record->rois)
        QCOMPARE(roi->isSelected(), roi == expected);
    QTest::mouseRelease(m_w.get(), Qt::LeftButton, Qt::NoModifier, W(press));
    QCOMPARE(m_w->mode(), int(DataWidget::kIdle));
}

void tst_Canvas::moveAndReshape()
{
    auto roi = Rect({20, 20, 40, 30});
    m_record->rois << roi;
    QSignalSpy changing(m_w.get(), &DataWidget::roiChanging);

    // Press inside picks and moves the body.
    QTest::mousePress(m_w.get(), Qt::LeftButton, Qt::NoModifier, W({30, 30}));
    Move(m_w.get(), W({35, 32}), Qt::LeftButton);
    QTest::mouseRelease(m_w.get(), Qt::LeftButton, Qt::NoModifier, W({35, 32}));
    auto* rect = dynamic_cast<RectROIItem*>(roi.get());
    QCOMPARE(rect->rect(), QRectF(25, 22, 40, 30));
    QCOMPARE(changing.count(), 1);

    // A press on a corner of the selected ROI drags that handle.
    QTest::mousePress(m_w.get(), Qt::LeftButton, Qt::NoModifier, W({65, 52}));
    QCOMPARE(m_w->mode(), int(DataWidget::kDraggingHandle));
    QCOMPARE(roi->activeHandle(), 2);
    Move(m_w.get(), W({80, 70}), Qt::LeftButton);
    QCOMPARE(rect->rect(), QRectF(25, 22, 55, 48));
    // Outside the image the handle stays where it was.
    Move(m_w.get(), QPoint(-30, -30), Qt::LeftButton);
    QCOMPARE(rect->rect(), QRectF(25, 22, 55, 48));
    QTest::mouseRelease(m_w.get(), Qt::LeftButton, Qt::NoModifier, W({80, 70}));
    QCOMPARE(changing.count(), 2);
    QCOMPARE(m_w->mode(), int(DataWidget::kIdle));
}

void tst_Canvas::panAndLocation()
{
    QImage grey(kImageW, kImageH, QImage::Format_Grayscale8);
    grey.fill(0);
    grey.setPixelColor(30, 20, QColor(200, 200, 200));
    Show(*m_w, grey);
    QSignalSpy location(m_w.get(), &DataWidget::SignalSendLocation);
    Move(m_w.get(), W({30.5, 20.5}));
    QCOMPARE(location.count(), 1);
    QVERIFY(Near(location.at(0).at(0).toPointF(), QPointF(30.5, 20.5)));
    QCOMPARE(location.at(0).at(1).value<QRgb>(), qRgb(200, 200, 200));
    Move(m_w.get(), QPoint(-1, 5));
    QCOMPARE(location.at(1).at(1).value<QRgb>(), QRgb(0));

    const QPointF before = m_w->zoom().offset();
    QTest::mousePress(m_w.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QCOMPARE(m_w->mode(), int(DataWidget::kPanning));
    Move(m_w.get(), QPoint(130, 90), Qt::LeftButton);
    // The offset takes the pan only at the release.
    QCOMPARE(m_w->zoom().offset(), before);
    QTest::mouseRelease(m_w.get(), Qt::LeftButton, Qt::NoModifier, QPoint(130, 90));
    QVERIFY(Near(m_w->zoom().offset(), before + QPointF(30, -10)));
}

void tst_Canvas::hitTestingOff()
{
    MarksResultWid panel;
    panel.resize(400, 300);
    auto roi = Rect({0, 0, 200, 100});
    m_record->rois << roi;
    panel.showImage(m_record);
    DataWidget* canvas = panel.canvas();
    QCOMPARE(canvas->roiHitTesting(), 0);
    QCOMPARE(canvas->record().lock(), m_record);
    QSignalSpy clicked(canvas, &DataWidget::clickedROI);
    QTest::mousePress(canvas, Qt::LeftButton, Qt::NoModifier, canvas->zoom().toWidget({50, 50}).toPoint());
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(canvas->mode(), int(DataWidget::kPanning));
    QVERIFY(!roi->isSelected());
}

void tst_Canvas::wheelKeepsPointerPoint()
{
    const QPointF pointer(123, 45);
    const QPointF q = m_w->zoom().toImage(pointer);
    const float start = m_w->zoom().scale();
    Wheel(m_w.get(), pointer, 120);
    QVERIFY(m_w->zoom().scale() > start);
    Wheel(m_w.get(), pointer, 120);
    QVERIFY(Near(m_w->zoom().toWidget(q), pointer));
    Wheel(m_w.get(), pointer, -120);
    Wheel(m_w.get(), pointer, 0);
    QVERIFY(std::abs(m_w->zoom().scale() - start) <= 4 * std::numeric_limits<float>::epsilon() * start);
    QVERIFY(Near(m_w->zoom().toImage(pointer), q));

    // A resize fits again: the zoom level is lost.
    m_w->zoomIn();
    m_w->resize(600, 200);
    QCOMPARE(m_w->zoom().scale(), 2.0f);
    QVERIFY(Near(m_w->zoom().offset(), QPointF(100, 0)));
}

void tst_Canvas::paintFollowsRoiChanges()
{
    QImage black(kImageW, kImageH, QImage::Format_RGB888);
    black.fill(Qt::black);
    const auto record = Show(*m_w, black);
    auto roi = Rect({10, 10, 50, 30});
    auto other = Rect({100, 60, 50, 30});
    record->rois << roi << other;
    const auto outlineAt = [this](const QPointF& imagePoint)
    {
        QImage frame(m_w->size(), QImage::Format_RGB32);
        m_w->render(&frame);
        const QColor c = frame.pixelColor(W(imagePoint));
        // An outline (blue, yellow when selected) on the black image, whatever antialiasing made of it.
        return c.red() + c.green() + c.blue() > 200;
    };
    QVERIFY(outlineAt({35, 10}));
    QVERIFY(outlineAt({125, 60}));

    // Edits made by others (the page deletes or moves ROIs) show at the next paint.
    dynamic_cast<RectROIItem*>(roi.get())->setRect(QRectF(10, 50, 50, 30));
    m_w->roiEdited();
    QVERIFY(!outlineAt({35, 10}));
    QVERIFY(outlineAt({35, 50}));
    record->rois.removeOne(other);
    QVERIFY(!outlineAt({125, 60}));

    // A ROI dragged on the canvas is drawn where it goes, the others where they were.
    record->rois << other;
    QTest::mousePress(m_w.get(), Qt::LeftButton, Qt::NoModifier, W({20, 60}));
    Move(m_w.get(), W({20, 20}), Qt::LeftButton);
    QVERIFY(outlineAt({35, 10}));
    QVERIFY(outlineAt({125, 60}));
    QTest::mouseRelease(m_w.get(), Qt::LeftButton, Qt::NoModifier, W({20, 20}));
}

void tst_Canvas::polygonClosesOnFirstVertex_data()
{
    QTest::addColumn<QList<QPointF>>("clicks");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<int>("vertices"); // of the finished polygon, or of the one still drawn

    const QList<QPointF> triangle{{10, 10}, {50, 10}, {30, 40}};
    // The canvas shows the image at scale 2: 4 image pixels are 8 screen pixels, within the handle.
    QTest::newRow("on the first vertex") << triangle + QList<QPointF>{{10, 10}} << true << 3;
    QTest::newRow("near the first vertex") << triangle + QList<QPointF>{{13, 12}} << true << 3;
    QTest::newRow("beside the first vertex") << triangle + QList<QPointF>{{20, 10}} << false << 4;
    // Two vertices enclose nothing: the click neither ends the drawing nor repeats the vertex.
    QTest::newRow("too early") << QList<QPointF>{{10, 10}, {50, 10}, {11, 11}} << false << 2;
}

void tst_Canvas::polygonClosesOnFirstVertex()
{
    QFETCH(QList<QPointF>, clicks);
    QFETCH(bool, ended);
    QFETCH(int, vertices);

    std::shared_ptr<ROIItem> taken;
    QSignalSpy completed(m_w.get(), &DataWidget::drawRoiCompleted);
    connect(m_w.get(), &DataWidget::drawRoiCompleted, this,
            [&](bool accept) { taken = m_w->endDrawing(accept); });
    m_w->startDrawPolygon(QString());
    for (const QPointF& click : clicks)
    {
        Move(m_w.get(), W(click));
        QTest::mouseClick(m_w.get(), Qt::LeftButton, Qt::NoModifier, W(click));
    }
    QCOMPARE(completed.count(), ended ? 1 : 0);
    if (!ended)
    {
        QCOMPARE(m_w->mode(), int(DataWidget::kDrawingPolygon));
        // Taking back every vertex shows how many were placed.
        int placed = 0;
        while (m_w->removeLastDrawnVertex())
            ++placed;
        QCOMPARE(placed, vertices);
        return;
    }
    QCOMPARE(completed.first().first().toBool(), true);
    const auto* polygon = dynamic_cast<PolygonROIItem*>(taken.get());
    QVERIFY(polygon);
    QCOMPARE(polygon->polygon().size(), vertices);
    QVERIFY(polygon->polygon().first() != polygon->polygon().last());
}

void tst_Canvas::rectangleInWholePixels()
{
    std::shared_ptr<ROIItem> taken;
    connect(m_w.get(), &DataWidget::drawRoiCompleted, this,
            [&](bool accept) { taken = m_w->endDrawing(accept); });
    m_w->startDrawRect(QString());
    // Screen pixels fall on half image pixels at scale 2.
    QTest::mousePress(m_w.get(), Qt::LeftButton, Qt::NoModifier, QPoint(161, 165));
    Move(m_w.get(), QPoint(255, 191), Qt::LeftButton);
    QTest::mouseRelease(m_w.get(), Qt::LeftButton, Qt::NoModifier, QPoint(255, 191));
    const auto* rect = dynamic_cast<RectROIItem*>(taken.get());
    QVERIFY(rect);
    for (const qreal v :
         {rect->rect().left(), rect->rect().top(), rect->rect().right(), rect->rect().bottom()})
        QCOMPARE(v, std::trunc(v));
    QCOMPARE(rect->rect(), QRectF(QPointF(80, 82), QPointF(127, 95)));
}

void tst_Canvas::categoryColours()
{
    auto spot = Rect({10, 10, 20, 20});
    spot->setTitle(QStringLiteral("spot"));
    auto scratch = Rect({40, 10, 20, 20});
    scratch->setTitle(QStringLiteral("scratch"));
    auto gone = Rect({70, 10, 20, 20});
    gone->setTitle(QStringLiteral("deleted"));
    m_record->rois = {spot, scratch, gone};

    // Without categories the shapes keep the colour of their attribute and draw their own titles.
    m_w->grab();
    QVERIFY(!spot->displayColor().isValid());
    QVERIFY(spot->titleShown());

    m_w->setCategories({QStringLiteral("scratch"), QStringLiteral("spot")});
    m_w->grab();
    QCOMPARE(scratch->outlineColor(), CategoryPalette::At(0));
    QCOMPARE(spot->outlineColor(), CategoryPalette::At(1));
    QCOMPARE(gone->outlineColor(), CategoryPalette::Unknown());
    QVERIFY(!spot->titleShown());
    // Selection is shown by a tint, not by another colour.
    spot->setSelected(true);
    QCOMPARE(spot->outlineColor(), CategoryPalette::At(1));

    // A category deleted above another moves that one's colour with its place.
    m_w->setCategories({QStringLiteral("spot")});
    m_w->grab();
    QCOMPARE(spot->outlineColor(), CategoryPalette::At(0));
    QCOMPARE(scratch->outlineColor(), CategoryPalette::Unknown());
}

void tst_Canvas::labelsKeptApart()
{
    // A spot predicted as both spot and scratch: two chips at one anchor, a third elsewhere.
    const QVector<QSizeF> sizes{{30, 14}, {50, 14}, {30, 14}};
    const QVector<QPointF> anchors{{100, 100}, {100, 100}, {300, 100}};
    const QVector<QRectF> chips = RoiLabels::Place(sizes, anchors);
    QCOMPARE(chips.size(), 3);
    QCOMPARE(chips[0].bottomLeft().x(), 100.0);
    QVERIFY(chips[0].bottom() <= 100);
    QVERIFY(!chips[0].intersects(chips[1]));
    QVERIFY(chips[1].bottom() <= chips[0].top());
    QCOMPARE(chips[1].left(), 100.0);
    // One far away stays right above its own shape.
    QCOMPARE(chips[2].bottom(), chips[0].bottom());
}

QTEST_MAIN(tst_Canvas)
#include "tst_Canvas.moc"
