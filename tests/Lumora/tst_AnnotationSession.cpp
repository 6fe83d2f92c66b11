#include "PageFixture.h"

#include "ImgMarks/AnnotationSession.h"

#include "Nexil/NexilApi.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QUndoStack>
#include <QtTest>

namespace
{

using Record = std::shared_ptr<pro::ImageInfo>;

std::shared_ptr<ROIItem> Rect(const QRectF& rect, const QString& title = QStringLiteral("划痕"))
{
    return std::make_shared<RectROIItem>(rect, 0, title);
}

QRectF RectOf(const std::shared_ptr<ROIItem>& roi)
{
    const auto* rect = dynamic_cast<const RectROI*>(roi.get());
    return rect ? rect->rect() : QRectF();
}

// What an undo must give back of a record: the ROI objects in order with their titles and exact
// geometry, and the OK mark.
QString Dump(const pro::ImageInfo& img)
{
    QString text = QStringLiteral("ok=%1").arg(img.markAsOK);
    for (const auto& roi : img.rois)
    {
        text += QStringLiteral("|%1 %2:").arg(quintptr(roi.get())).arg(roi->title());
        QPolygonF points;
        if (const auto* rect = dynamic_cast<const RectROI*>(roi.get()))
            points << rect->rect().topLeft() << rect->rect().bottomRight();
        else if (const auto* polygon = dynamic_cast<const PolygonROI*>(roi.get()))
            points = polygon->polygon();
        for (const QPointF& p : points)
            text += QStringLiteral(" %1,%2").arg(p.x(), 0, 'g', 17).arg(p.y(), 0, 'g', 17);
    }
    return text;
}

// Every announcement of a session; the ROI changes as one letter each: s stored, n not.
struct Announcements
{
    explicit Announcements(AnnotationSession& session)
        : shown(&session, &AnnotationSession::shownChanged), rois(&session, &AnnotationSession::roisChanged),
          stores(&session, &AnnotationSession::storeStarted)
    {
    }
    void clear()
    {
        shown.clear();
        rois.clear();
        stores.clear();
    }
    QString changes() const
    {
        QString letters;
        for (const QList<QVariant>& change : rois)
            letters += change.at(1).toBool() ? QLatin1Char('s') : QLatin1Char('n');
        return letters;
    }

    QSignalSpy shown;
    QSignalSpy rois;
    QSignalSpy stores;
};

} // namespace

class tst_AnnotationSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void storeRule_data();
    void storeRule();
    void showingAnotherStoresAndRemembers();
    void listEdits_data();
    void listEdits();
    void geometryEdits_data();
    void geometryEdits();
    void unchangedEditIsNoStep();
    void carryOver_data();
    void carryOver();
    void deletedImages_data();
    void deletedImages();
    void destroyedWithCommands();
    void recordGoneBeforeUndo();

private:
    // A listed record of a picture that exists, not in the project.
    Record Listed(const QString& name);
    // A record of the project.
    Record Stored(const QString& name);

    std::unique_ptr<QTemporaryDir> m_home;
    PageFixture m_fixture;
};

void tst_AnnotationSession::initTestCase()
{
    qRegisterMetaType<std::shared_ptr<pro::ImageInfo>>();
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    PageFixture::RedirectHome(m_home->path());
}

void tst_AnnotationSession::init()
{
    QVERIFY(m_fixture.Init());
    QVERIFY(m_fixture.OpenProject(2));
}

void tst_AnnotationSession::cleanup()
{
    m_fixture.Cleanup();
}

Record tst_AnnotationSession::Listed(const QString& name)
{
    return m_fixture.Picture(name);
}

Record tst_AnnotationSession::Stored(const QString& name)
{
    auto img = Listed(name);
    img->rois << Rect(QRectF(1, 1, 10, 10));
    m_fixture.Store(img);
    return img;
}

void tst_AnnotationSession::storeRule_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("rois");
    QTest::addColumn<bool>("markAsOK");
    QTest::addColumn<bool>("projectOpen");
    QTest::addColumn<bool>("stored");
    QTest::newRow("listed, nobody worked on it") << "listed" << 0 << false << true << false;
    QTest::newRow("listed, with a ROI") << "listed" << 1 << false << true << true;
    QTest::newRow("listed, marked OK") << "listed" << 0 << true << true << true;
    QTest::newRow("of the project, unchanged") << "project" << 0 << false << true << true;
    QTest::newRow("of the project, changed") << "project" << 2 << false << true << true;
    QTest::newRow("deleted from the project meanwhile") << "deleted" << 1 << false << true << false;
    QTest::newRow("no project open") << "listed" << 1 << false << false << false;
}

void tst_AnnotationSession::storeRule()
{
    QFETCH(QString, kind);
    QFETCH(int, rois);
    QFETCH(bool, markAsOK);
    QFETCH(bool, projectOpen);
    QFETCH(bool, stored);

    const Record img = kind == "project" ? Stored("a.png") : Listed("a.png");
    img->rois.clear();
    for (int i = 0; i < rois; ++i)
        img->rois << Rect(QRectF(i, i, 5, 5));
    img->markAsOK = markAsOK;
    if (kind == "deleted")
        img->id = QStringLiteral("no-such-id");
    AnnotationSession session;
    QVERIFY(session.show(img));
    if (!projectOpen)
        ReleaseNexil();

    const auto spPrj = PrjIns().lock();
    QCOMPARE(AnnotationSession::ShouldStore(*img, spPrj.get()), stored);
    Announcements seen(session);
    const QString id = session.storeShown();
    QCOMPARE(!id.isEmpty(), stored);
    QCOMPARE(seen.stores.count(), stored ? 1 : 0);
    if (stored)
    {
        QCOMPARE(seen.stores.at(0).at(0).toString(), id);
        QCOMPARE(img->id, id);
        QCOMPARE(spPrj->ImageById(id), img);
    }
    else if (spPrj)
    {
        // Not brought (back) into the project.
        QVERIFY(!spPrj->ImageById(img->id));
        QVERIFY(!spPrj->ImageByPath(img->path));
    }
}

void tst_AnnotationSession::showingAnotherStoresAndRemembers()
{
    AnnotationSession session;
    Announcements seen(session);
    const Record a = Listed("a.png");
    const Record b = Listed("b.png");
    QVERIFY(!session.show(nullptr));
    QVERIFY(session.show(a));
    QCOMPARE(session.shown(), a);
    QVERIFY(!session.previous());
    QVERIFY(!session.show(a));
    QCOMPARE(seen.shown.count(), 1);

    session.addRoi(Rect(QRectF(5, 5, 20, 20)), QStringLiteral("点"));
    QVERIFY(!a->id.isEmpty());
    QCOMPARE(session.undoStack()->count(), 1);
    const QString idOfA = a->id;
    seen.clear();
    QVERIFY(session.show(b));
    QCOMPARE(seen.shown.count(), 1);
    QCOMPARE(seen.stores.count(), 1);
    QCOMPARE(seen.stores.at(0).at(0).toString(), idOfA);
    QCOMPARE(session.shown(), b);
    QCOMPARE(session.previous(), a);
    // The history belongs to the shown image.
    QCOMPARE(session.undoStack()->count(), 0);

    // b, untouched, stays out of the project when a is shown again.
    QVERIFY(session.show(a));
    QVERIFY(b->id.isEmpty());
    QCOMPARE(session.previous(), b);
}

void tst_AnnotationSession::listEdits_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<bool>("storedFirst");
    QTest::newRow("add") << "add" << true;
    QTest::newRow("remove one") << "remove" << false;
    QTest::newRow("remove all") << "remove all" << false;
    QTest::newRow("mark OK") << "ok" << true;
    QTest::newRow("carry over") << "carry" << true;
}

void tst_AnnotationSession::listEdits()
{
    QFETCH(QString, edit);
    QFETCH(bool, storedFirst);

    AnnotationSession session;
    const Record previous = Listed("p.png");
    previous->rois << Rect(QRectF(50, 50, 10, 10), QStringLiteral("点"));
    QVERIFY(session.show(previous));
    const Record img = Stored("a.png");
    img->rois << Rect(QRectF(20, 20, 30, 30), QStringLiteral("脏污"));
    QVERIFY(session.show(img));
    const QString before = Dump(*img);
    Announcements seen(session);

    if (edit == "add")
        session.addRoi(Rect(QRectF(2, 3, 4, 5)), QStringLiteral("点"));
    else if (edit == "remove")
        QVERIFY(session.removeRoi(img->rois.at(1)));
    else if (edit == "remove all")
        session.removeAllRois();
    else if (edit == "ok")
        session.markOk();
    else
        session.carryOver(QSize(200, 100));
    const QString after = Dump(*img);
    QVERIFY(after != before);
    QCOMPARE(session.undoStack()->count(), 1);
    QCOMPARE(seen.rois.at(0).at(0).value<Record>(), img);
    QCOMPARE(seen.changes(), QString(storedFirst ? "s" : "n"));

    seen.clear();
    session.undoStack()->undo();
    QCOMPARE(Dump(*img), before);
    QCOMPARE(seen.changes(), QStringLiteral("s"));
    seen.clear();
    session.undoStack()->redo();
    QCOMPARE(Dump(*img), after);
    QCOMPARE(seen.changes(), QStringLiteral("s"));
}

void tst_AnnotationSession::geometryEdits_data()
{
    QTest::addColumn<QList<QRectF>>("drags");
    QTest::addColumn<QStringList>("texts");
    const QRectF start(10, 10, 20, 20);
    QTest::newRow("one move") << QList<QRectF>{start.translated(5, 7)} << QStringList{"移动标注"};
    QTest::newRow("one resize") << QList<QRectF>{start.adjusted(0, 0, 8, 3)} << QStringList{"调整标注"};
    QTest::newRow("two drags stay two steps")
        << QList<QRectF>{start.translated(5, 0), start.translated(5, 0).adjusted(0, 0, 2, 2)}
        << QStringList{"移动标注", "调整标注"};
    QTest::newRow("three moves") << QList<QRectF>{start.translated(1, 0), start.translated(2, 0),
                                                  start.translated(3, 0)}
                                 << QStringList{"移动标注", "移动标注", "移动标注"};
}

void tst_AnnotationSession::geometryEdits()
{
    QFETCH(QList<QRectF>, drags);
    QFETCH(QStringList, texts);

    AnnotationSession session;
    const Record img = Stored("a.png");
    const auto roi = img->rois.at(0);
    static_cast<RectROIItem&>(*roi).setRect(QRectF(10, 10, 20, 20));
    const auto other = Rect(QRectF(100, 50, 5, 5));
    img->rois << other;
    QVERIFY(session.show(img));
    Announcements seen(session);

    QList<QRectF> states{RectOf(roi)};
    for (const QRectF& to : drags)
    {
        // The canvas moves the ROI itself and reports the drag once, with a copy from before it.
        const std::shared_ptr<const ROIItem> before(roi->clone());
        static_cast<RectROIItem&>(*roi).setRect(to);
        session.roiReshaped(roi, before);
        states << to;
        // The drag was not stored: nothing else is stored while dragging either.
        QCOMPARE(seen.changes(), QStringLiteral("n"));
        seen.clear();
    }
    QCOMPARE(session.undoStack()->count(), drags.size());
    for (int i = 0; i < texts.size(); ++i)
        QCOMPARE(session.undoStack()->text(i), texts.at(i));

    for (int i = drags.size(); i > 0; --i)
    {
        session.undoStack()->undo();
        QCOMPARE(RectOf(roi), states.at(i - 1));
        QCOMPARE(seen.changes(), QStringLiteral("s"));
        seen.clear();
    }
    QCOMPARE(RectOf(other), QRectF(100, 50, 5, 5));
    QCOMPARE(img->rois, (ROIList{roi, other}));
    session.undoStack()->redo();
    QCOMPARE(RectOf(roi), states.at(1));
    QCOMPARE(seen.changes(), QStringLiteral("s"));
}

void tst_AnnotationSession::unchangedEditIsNoStep()
{
    AnnotationSession session;
    const Record img = Stored("a.png");
    const auto roi = img->rois.at(0);
    QVERIFY(session.show(img));
    Announcements seen(session);

    // A drag that ends where it began, one of a ROI not in the image, marking OK twice.
    session.roiReshaped(roi, std::shared_ptr<const ROIItem>(roi->clone()));
    session.roiReshaped(Rect(QRectF(0, 0, 3, 3)), std::shared_ptr<const ROIItem>(Rect(QRectF(1, 1, 3, 3))));
    QVERIFY(!session.removeRoi(Rect(QRectF(0, 0, 3, 3))));
    QCOMPARE(seen.rois.count(), 0);
    session.markOk();
    QCOMPARE(session.undoStack()->count(), 1);
    seen.clear();
    session.markOk();
    // Only stored again.
    QCOMPARE(session.undoStack()->count(), 1);
    QCOMPARE(seen.changes(), QStringLiteral("s"));
}

void tst_AnnotationSession::carryOver_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("withPrevious");
    QTest::addColumn<QList<QRectF>>("carried");
    const QList<QRectF> all{QRectF(10, 10, 20, 20), QRectF(90, 40, 20, 20), QRectF(180, 80, 10, 10)};
    QTest::newRow("whole image") << QSize(200, 100) << true << all;
    QTest::newRow("smaller image: clamped, outside left behind")
        << QSize(100, 50) << true << QList<QRectF>{QRectF(10, 10, 20, 20), QRectF(90, 40, 10, 10)};
    QTest::newRow("size unknown: copied as they are") << QSize() << true << all;
    QTest::newRow("nothing shown before") << QSize(200, 100) << false << QList<QRectF>{};
}

void tst_AnnotationSession::carryOver()
{
    QFETCH(QSize, size);
    QFETCH(bool, withPrevious);
    QFETCH(QList<QRectF>, carried);

    AnnotationSession session;
    const Record previous = Listed("p.png");
    previous->rois << Rect(QRectF(10, 10, 20, 20), QStringLiteral("点"))
                   << Rect(QRectF(90, 40, 20, 20), QStringLiteral("脏污"))
                   << Rect(QRectF(180, 80, 10, 10), QStringLiteral("划痕"));
    if (withPrevious)
        QVERIFY(session.show(previous));
    const Record img = Listed("a.png");
    const auto own = Rect(QRectF(1, 1, 2, 2));
    img->rois << own;
    QVERIFY(session.show(img));
    const QString before = Dump(*img);
    const QString previousBefore = Dump(*previous);
    Announcements seen(session);

    session.carryOver(size);
    QCOMPARE(img->rois.size(), 1 + carried.size());
    QCOMPARE(Dump(*previous), previousBefore);
    if (carried.isEmpty())
    {
        QCOMPARE(seen.rois.count(), 0);
        QCOMPARE(session.undoStack()->count(), 0);
        return;
    }
    QCOMPARE(img->rois.at(0), own);
    for (int i = 0; i < carried.size(); ++i)
    {
        const auto copy = img->rois.at(i + 1);
        QVERIFY(!previous->rois.contains(copy));
        QCOMPARE(copy->title(), previous->rois.at(i)->title());
        QCOMPARE(RectOf(copy), carried.at(i));
    }
    QCOMPARE(seen.changes(), QStringLiteral("s"));
    QVERIFY(!img->id.isEmpty());
    session.undoStack()->undo();
    QCOMPARE(Dump(*img), before);
}

void tst_AnnotationSession::deletedImages_data()
{
    QTest::addColumn<bool>("shownDeleted");
    QTest::addColumn<bool>("previousDeleted");
    QTest::newRow("others deleted") << false << false;
    QTest::newRow("the shown one deleted") << true << false;
    QTest::newRow("the previous one deleted") << false << true;
    QTest::newRow("both deleted") << true << true;
}

void tst_AnnotationSession::deletedImages()
{
    QFETCH(bool, shownDeleted);
    QFETCH(bool, previousDeleted);

    AnnotationSession session;
    const Record previous = Listed("p.png");
    const Record shown = Listed("s.png");
    QVERIFY(session.show(previous));
    QVERIFY(session.show(shown));
    session.addRoi(Rect(QRectF(1, 1, 5, 5)), QStringLiteral("点"));
    const QString id = shown->id;
    QVERIFY(!id.isEmpty());
    Announcements seen(session);

    QStringList paths{m_fixture.FilePath("src/other.png")};
    if (shownDeleted)
        paths << shown->path;
    if (previousDeleted)
        paths << previous->path;
    session.imagesDeleted(paths);
    QVERIFY(!session.shown());
    QCOMPARE(seen.shown.count(), 1);
    QCOMPARE(session.undoStack()->count(), 0);
    // A kept shown image is stored before it goes off and can then be carried over.
    QCOMPARE(seen.stores.count(), shownDeleted ? 0 : 1);
    const Record expectedPrevious = shownDeleted ? (previousDeleted ? nullptr : previous) : shown;
    QCOMPARE(session.previous(), expectedPrevious);

    // A project image deleted: neither shown nor remembered any more.
    const Record img = Stored("a.png");
    const Record other = Listed("b.png");
    QVERIFY(session.show(img));
    QVERIFY(session.show(other));
    QCOMPARE(session.previous(), img);
    session.imageDeleted(img);
    QVERIFY(!session.previous());
    QVERIFY(session.shown());
    session.imageDeleted(other);
    QVERIFY(!session.shown());
}

void tst_AnnotationSession::destroyedWithCommands()
{
    const Record img = Stored("a.png");
    const auto roi = img->rois.at(0);
    auto session = std::make_unique<AnnotationSession>();
    QVERIFY(session->show(img));
    session->addRoi(Rect(QRectF(30, 30, 5, 5)), QStringLiteral("点"));
    const std::shared_ptr<const ROIItem> before(roi->clone());
    static_cast<RectROIItem&>(*roi).setRect(QRectF(40, 40, 10, 10));
    session->roiReshaped(roi, before);
    session->undoStack()->undo();
    QCOMPARE(session->undoStack()->count(), 2);
    const QString state = Dump(*img);

    // Whoever listens may be half gone itself when the session goes: nothing reaches it.
    int heard = 0;
    QObject listener;
    const auto count = [&heard] { ++heard; };
    connect(session.get(), &AnnotationSession::shownChanged, &listener, count);
    connect(session.get(), &AnnotationSession::roisChanged, &listener, count);
    connect(session.get(), &AnnotationSession::storeStarted, &listener, count);
    connect(session.get(), &AnnotationSession::canUndoChanged, &listener, count);
    connect(session.get(), &AnnotationSession::canRedoChanged, &listener, count);
    connect(session.get(), &AnnotationSession::undoIndexChanged, &listener, count);
    session.reset();
    QCOMPARE(heard, 0);
    // The record keeps the state it had; its ROIs are whole.
    QCOMPARE(Dump(*img), state);
}

void tst_AnnotationSession::recordGoneBeforeUndo()
{
    // Without a project nothing else holds the record.
    ReleaseNexil();
    AnnotationSession session;
    Record img = Listed("a.png");
    QVERIFY(session.show(img));
    session.addRoi(Rect(QRectF(1, 1, 5, 5)), QStringLiteral("点"));
    QCOMPARE(session.undoStack()->count(), 1);
    const std::weak_ptr<pro::ImageInfo> weak = img;
    img.reset();
    QVERIFY(weak.expired());
    QVERIFY(!session.shown());
    Announcements seen(session);
    session.undoStack()->undo();
    session.undoStack()->redo();
    QCOMPARE(seen.rois.count(), 0);
}

QTEST_GUILESS_MAIN(tst_AnnotationSession)
#include "tst_AnnotationSession.moc"
