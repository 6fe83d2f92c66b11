#include "Child.h"
#include "Lumora.h"
#include "MsgWndProbe.h"
#include "Nexil/ImageFiles.h"
#include "PageFixture.h"
#include "ProjectRecord.h"
#include "ShownWindows.h"

#include "Canvas/datawidget.h"
#include "ImgMarks/ImgMarksWid.h"
#include "ImgMarks/ImgROIListModel.h"
#include "ImgMarks/LoadImgWork.h"
#include "ImgMarks/MarksImgModel.h"
#include "ImgMarks/SourceImgModel.h"

#include "ComUi/CMsgWnd.h"
#include "ComUi/CategoryPalette.h"
#include "ComUi/SingleSelectListView.h"
#include "ComUi/Skin.h"
#include "Nexil/NexilApi.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QUndoStack>

#include <QAbstractItemModelTester>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include <tuple>

namespace
{

using Records = QList<std::shared_ptr<pro::ImageInfo>>;
const QStringList kCategories{"脏污", "划痕", "点"};

// QTest moves the cursor without a button held; drags need the button in the event.
void Move(QWidget* w, const QPoint& pos, Qt::MouseButtons buttons = Qt::NoButton)
{
    QMouseEvent event(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// Answers the category menu once it is up: records its texts, then clicks the action of that
// text, or presses Escape when the text is empty.
void AnswerMenu(QObject* owner, const QString& choice, QStringList* shown)
{
    WhenShown<QMenu>(owner,
                     [choice, shown](QMenu* menu)
                     {
                         for (QAction* action : menu->actions())
                             shown->append(action->text());
                         for (QAction* action : menu->actions())
                         {
                             if (!choice.isEmpty() && action->text() == choice)
                             {
                                 QTest::mouseClick(menu, Qt::LeftButton, {},
                                                   menu->actionGeometry(action).center());
                                 return;
                             }
                         }
                         QTest::keyClick(menu, Qt::Key_Escape);
                     });
}

// What an undo must give back of a record: the ROI objects in order with their titles, attributes
// and exact geometry, markAsOK and marked.
QString Dump(const pro::ImageInfo& img)
{
    QString text = QStringLiteral("ok=%1 marked=%2").arg(img.markAsOK).arg(img.marked);
    for (const auto& roi : img.rois)
    {
        text += QStringLiteral("|%1 %2 %3:").arg(quintptr(roi.get())).arg(roi->title()).arg(roi->roiAttr());
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

QRectF RectOf(const std::shared_ptr<ROIItem>& roi)
{
    const auto* rect = dynamic_cast<const RectROI*>(roi.get());
    return rect ? rect->rect() : QRectF();
}

// OK/ok_1.png … ok_<ok>.png and NG/ng_1.png … below root; the first okMarked and ngMarked of them
// with an annotation file (one rectangle of "划痕") beside them when withAnnotations.
bool MakeInspectionFolder(const QString& root, int ok, int ng, int okMarked, int ngMarked,
                          bool withAnnotations)
{
    const QByteArray annotation =
        R"({"imagePath":"x.png","shapes":[{"label":"划痕","shape_type":"rectangle","points":[[5,5],[40,30]]}]})";
    for (const auto& [folder, prefix, count, marked] :
         {std::make_tuple("OK", "ok", ok, okMarked), std::make_tuple("NG", "ng", ng, ngMarked)})
    {
        for (int i = 1; i <= count; ++i)
        {
            const QString base = QStringLiteral("%1/%2/%3_%4").arg(root, folder, prefix).arg(i);
            if (!QFileInfo::exists(base + ".png") && !PageFixture::MakePicture(base + ".png"))
                return false;
            QFile json(base + ".json");
            if (withAnnotations && i <= marked &&
                (!json.open(QIODevice::WriteOnly) || json.write(annotation) < 0))
                return false;
        }
    }
    return true;
}

SourceImgModel* SourceOf(QTableView* table)
{
    return qobject_cast<SourceImgModel*>(qobject_cast<QSortFilterProxyModel*>(table->model())->sourceModel());
}

// The files every row of the not-annotated list (all statuses) and of the tree stand for.
QStringList TableFiles(QTableView* table)
{
    SourceImgModel* source = SourceOf(table);
    QStringList files;
    for (int row = 0; row < source->rowCount(); ++row)
        files << SourceImgModel::sourceKey(*source->imageAt(source->index(row, 1)).lock());
    return files;
}

QStringList TreeFiles(QTreeView* tree)
{
    auto* model = qobject_cast<MarksImgModel*>(tree->model());
    QStringList files;
    for (const QModelIndex& index : model->imageIndexes())
        files << SourceImgModel::sourceKey(*model->imageAt(index).lock());
    return files;
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("absent");
}

} // namespace

class tst_AnnotationPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void drawAndLabel_data();
    void drawAndLabel();
    void dismissedMenuAddsNothing();
    void showingAnotherStoresPrevious_data();
    void showingAnotherStoresPrevious();
    void clickShownAgainDoesNothing();
    void spaceMarksOk();
    void tableNavigation();
    void treeNavigationWraps_data();
    void treeNavigationWraps();
    void refreshTwiceAddsNoRows();
    void deleteChecked_data();
    void deleteChecked();
    void categories();
    void saveFailureBox();
    void closeKeepsLastImageWork();
    void undoRedoRestoresRecord_data();
    void undoRedoRestoresRecord();
    void historyBelongsToShownImage();
    void undoWhileDrawingPolygon();
    void carryOverPrevious_data();
    void carryOverPrevious();
    void importsGiveOneRowPerImage_data();
    void importsGiveOneRowPerImage();
    void waitingListSurvivesRestart();
    void noteAndFilterAfterImport();

    void polygonClosedOnFirstVertex();
    void deleteKeyRemovesSelected_data();
    void deleteKeyRemovesSelected();
    void previousTwiceSelectsOnlyShown();
    void categoryColoursInLists();

private:
    // Every file once, in the table or the tree, never in both; the project holds each tree image once.
    void CheckOneRowPerFile(ImgMarksWid& page, int files, int annotated);
    void OpenProject(int type);
    std::unique_ptr<ImgMarksWid> MakePage();
    void WaitForCategories(ImgMarksWid& page);
    // The table's records in row order once the scan of count new pictures has listed them.
    bool LoadPictures(ImgMarksWid& page, int count, Records& rows, const QString& folder = "src");
    void ClickRow(ImgMarksWid& page, int row);
    // Starts with W and draws on the shown image; the category menu is answered with choice.
    void Draw(ImgMarksWid& page, int type, const QString& choice, QStringList* menuTexts,
              const QPointF& offset = QPointF());
    // Drags on the canvas from one image point to another in steps moves.
    void Drag(ImgMarksWid& page, const QPointF& from, const QPointF& to, int steps = 1);
    std::shared_ptr<pro::ImageInfo> Shown(ImgMarksWid& page);
    void ReopenProject();

    std::unique_ptr<QTemporaryDir> m_home;
    PageFixture m_fixture;
};

void tst_AnnotationPage::initTestCase()
{
    InitComUiResources();
    m_home = std::make_unique<QTemporaryDir>();
    PageFixture::RedirectHome(m_home->path());
}

void tst_AnnotationPage::init()
{
    QVERIFY(m_fixture.Init());
}

void tst_AnnotationPage::cleanup()
{
    m_fixture.Cleanup();
}

void tst_AnnotationPage::OpenProject(int type)
{
    // A second project to switch to and back.
    QVERIFY(NexilIns().lock()->AddPro(MakeInfo("P2", "other", type)));
    QVERIFY(m_fixture.OpenProject(type, kCategories));
}

void tst_AnnotationPage::ReopenProject()
{
    const auto spCore = NexilIns().lock();
    spCore->OpenPro("P2");
    spCore->OpenPro("P1");
    QVERIFY(!PrjIns().expired());
}

std::unique_ptr<ImgMarksWid> tst_AnnotationPage::MakePage()
{
    auto page = std::make_unique<ImgMarksWid>();
    page->SetConfigFile(m_fixture.FilePath("Config.ini"));
    page->resize(1400, 700);
    page->show();
    if (!QTest::qWaitForWindowActive(page.get()))
        qWarning("page not active");
    new QAbstractItemModelTester(Child<QTableView>(*page, "tblViewUnmarks")->model(),
                                 QAbstractItemModelTester::FailureReportingMode::QtTest, page.get());
    new QAbstractItemModelTester(Child<QTreeView>(*page, "treeViewMarks")->model(),
                                 QAbstractItemModelTester::FailureReportingMode::QtTest, page.get());
    return page;
}

void tst_AnnotationPage::WaitForCategories(ImgMarksWid& page)
{
    // The initial load fills the categories and registers the save callback.
    QTRY_COMPARE(Child<SingleSelectListView>(page, "lstWidMarkType")->count(), kCategories.size());
}

bool tst_AnnotationPage::LoadPictures(ImgMarksWid& page, int count, Records& rows, const QString& folder)
{
    const QString dir = m_fixture.FilePath(folder);
    for (int i = 0; i < count; ++i)
        PageFixture::MakePicture(QStringLiteral("%1/pic_%2.png").arg(dir).arg(i));
    auto* table = Child<QTableView>(page, "tblViewUnmarks");
    const int before = table->model()->rowCount();
    emit page.Signal_LoadImgPath(dir);
    if (!QTest::qWaitFor([&] { return table->model()->rowCount() == before + count; }, 10000))
        return false;
    auto* model = qobject_cast<QSortFilterProxyModel*>(table->model());
    auto* source = qobject_cast<SourceImgModel*>(model->sourceModel());
    rows.clear();
    for (int r = 0; r < model->rowCount(); ++r)
        rows << source->imageAt(model->mapToSource(model->index(r, 1))).lock();
    return true;
}

void tst_AnnotationPage::ClickRow(ImgMarksWid& page, int row)
{
    auto* table = Child<QTableView>(page, "tblViewUnmarks");
    const QModelIndex index = table->model()->index(row, 1);
    table->scrollTo(index);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(index).center());
}

std::shared_ptr<pro::ImageInfo> tst_AnnotationPage::Shown(ImgMarksWid& page)
{
    return Child<DataWidget>(page, "widImgView")->record().lock();
}

void tst_AnnotationPage::Drag(ImgMarksWid& page, const QPointF& from, const QPointF& to, int steps)
{
    auto* canvas = Child<DataWidget>(page, "widImgView");
    const auto at = [canvas](const QPointF& q) { return canvas->zoom().toWidget(q).toPoint(); };
    QTest::mousePress(canvas, Qt::LeftButton, {}, at(from));
    for (int i = 1; i <= steps; ++i)
        Move(canvas, at(from + (to - from) * i / steps), Qt::LeftButton);
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, at(to));
}

void tst_AnnotationPage::Draw(ImgMarksWid& page, int type, const QString& choice, QStringList* menuTexts,
                              const QPointF& offset)
{
    auto* canvas = Child<DataWidget>(page, "widImgView");
    const auto at = [canvas, offset](double x, double y)
    { return canvas->zoom().toWidget(QPointF(x, y) + offset).toPoint(); };
    QTest::keyClick(&page, Qt::Key_W);
    QTRY_VERIFY(canvas->mode() == (type == 2 ? DataWidget::kDrawingRect : DataWidget::kDrawingPolygon));
    AnswerMenu(this, choice, menuTexts);
    if (type == 2)
    {
        QTest::mousePress(canvas, Qt::LeftButton, {}, at(20, 20));
        Move(canvas, at(60, 50), Qt::LeftButton);
        QTest::mouseRelease(canvas, Qt::LeftButton, {}, at(60, 50));
        return;
    }
    for (const QPointF& p : {QPointF(20, 20), QPointF(80, 20), QPointF(50, 70)})
    {
        Move(canvas, at(p.x(), p.y()));
        QTest::mousePress(canvas, Qt::LeftButton, {}, at(p.x(), p.y()));
        QTest::mouseRelease(canvas, Qt::LeftButton, {}, at(p.x(), p.y()));
    }
    QTest::mousePress(canvas, Qt::RightButton, {}, at(50, 70));
    QTest::mouseRelease(canvas, Qt::RightButton, {}, at(50, 70));
}

void tst_AnnotationPage::drawAndLabel_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("shapeType");
    QTest::newRow("Object: rectangle") << 2 << RectROIItem::staticTypeName();
    QTest::newRow("Segment: polygon") << 1 << PolygonROIItem::staticTypeName();
}

void tst_AnnotationPage::drawAndLabel()
{
    QFETCH(int, type);
    QFETCH(QString, shapeType);

    OpenProject(type);
    auto page = MakePage();
    WaitForCategories(*page);
    auto* rect = Child<QRadioButton>(*page, "btnRect");
    auto* polygon = Child<QRadioButton>(*page, "btnPolygon");
    QCOMPARE(rect->isVisible(), type == 2);
    QCOMPARE(polygon->isVisible(), type == 1);
    QCOMPARE(rect->isChecked(), type == 2);
    QCOMPARE(polygon->isChecked(), type == 1);

    Records rows;
    QVERIFY(LoadPictures(*page, 2, rows));
    ClickRow(*page, 0);
    QCOMPARE(Shown(*page), rows.at(0));
    QCOMPARE(Child<QLineEdit>(*page, "edtCurFile")->text(), rows.at(0)->path);

    // The current category first, then the others in category order.
    Child<SingleSelectListView>(*page, "lstWidMarkType")->SetCurrentRow(1);
    QSignalSpy saved(page.get(), &ImgMarksWid::Signal_SaveMarkResult);
    QStringList menu;
    Draw(*page, type, "点", &menu);
    QCOMPARE(menu, QStringList({"划痕", "脏污", "点"}));

    const auto spImg = rows.at(0);
    QCOMPARE(spImg->rois.size(), 1);
    QCOMPARE(spImg->rois.first()->title(), QString("点"));
    QCOMPARE(spImg->rois.first()->typeName(), shapeType);
    QVERIFY(!spImg->id.isEmpty());
    QCOMPARE(Child<QListView>(*page, "lstWidCurImgMark")->model()->rowCount(), 1);
    QVERIFY(saved.wait());
    QCOMPARE(saved.first().at(0).toString(), spImg->id);
    QCOMPARE(saved.first().at(1).toBool(), true);
    QTRY_VERIFY(!spImg->image.isEmpty());
    QTRY_VERIFY(QFile::exists(ImageFiles::AnnotationPath(PrjIns().lock()->PrjPath() + spImg->image)));

    // The row survives a reopen of the project: it is in PrjData.db.
    page.reset();
    ReopenProject();
    QTRY_COMPARE(PrjIns().lock()->Images().size(), 1);
    const auto stored = PrjIns().lock()->Images().first();
    QCOMPARE(stored->rois.size(), 1);
    QCOMPARE(stored->rois.first()->title(), QString("点"));
}

void tst_AnnotationPage::dismissedMenuAddsNothing()
{
    OpenProject(2);
    auto page = MakePage();
    WaitForCategories(*page);
    Records rows;
    QVERIFY(LoadPictures(*page, 1, rows));
    ClickRow(*page, 0);
    QSignalSpy saved(page.get(), &ImgMarksWid::Signal_SaveMarkResult);
    QStringList menu;
    Draw(*page, 2, QString(), &menu);
    QCOMPARE(menu.size(), kCategories.size());
    QVERIFY(rows.at(0)->rois.isEmpty());
    QVERIFY(rows.at(0)->id.isEmpty());
    QCOMPARE(Child<DataWidget>(*page, "widImgView")->mode(), int(DataWidget::kIdle));
    QVERIFY(PrjIns().lock()->Images().isEmpty());
    QCOMPARE(saved.count(), 0);
}

void tst_AnnotationPage::showingAnotherStoresPrevious_data()
{
    QTest::addColumn<bool>("labelFirst");
    QTest::newRow("untouched image stays out") << false;
    QTest::newRow("removed ROIs are stored") << true;
}

void tst_AnnotationPage::showingAnotherStoresPrevious()
{
    QFETCH(bool, labelFirst);

    OpenProject(2);
    auto page = MakePage();
    WaitForCategories(*page);
    Records rows;
    QVERIFY(LoadPictures(*page, 2, rows));
    ClickRow(*page, 0);
    QSignalSpy saved(page.get(), &ImgMarksWid::Signal_SaveMarkResult);
    if (labelFirst)
    {
        QStringList menu;
        Draw(*page, 2, "脏污", &menu);
        QVERIFY(saved.wait());
        // Removed on the page only; the next image's showing stores it.
        QTest::mouseClick(Child<QPushButton>(*page, "btnDelImgMark"), Qt::LeftButton);
        QTest::mouseClick(Child<QPushButton>(*page, "btnDelImgAllMark"), Qt::LeftButton);
        QVERIFY(rows.at(0)->rois.isEmpty());
        QCOMPARE(saved.count(), 1);
    }
    ClickRow(*page, 1);
    QCOMPARE(Shown(*page), rows.at(1));
    if (!labelFirst)
    {
        QVERIFY(rows.at(0)->id.isEmpty());
        QVERIFY(PrjIns().lock()->Images().isEmpty());
        QCOMPARE(Child<QPushButton>(*page, "btnSaveMark")->text(), QString("保存"));
        return;
    }
    QCOMPARE(Child<QPushButton>(*page, "btnSaveMark")->text(), QString("保存中..."));
    QVERIFY(!Child<QPushButton>(*page, "btnSaveMark")->isEnabled());
    QVERIFY(saved.wait());
    QCOMPARE(saved.last().at(0).toString(), rows.at(0)->id);
    QCOMPARE(Child<QPushButton>(*page, "btnSaveMark")->text(), QString("保存"));
    QVERIFY(Child<QPushButton>(*page, "btnSaveMark")->isEnabled());
    page.reset();
    ReopenProject();
    QTRY_COMPARE(PrjIns().lock()->Images().size(), 1);
    QVERIFY(PrjIns().lock()->Images().first()->rois.isEmpty());
    QVERIFY(!PrjIns().lock()->Images().first()->marked);
}

void tst_AnnotationPage::clickShownAgainDoesNothing()
{
    OpenProject(2);
    auto page = MakePage();
    WaitForCategories(*page);
    Records rows;
    QVERIFY(LoadPictures(*page, 2, rows));
    ClickRow(*page, 0);
    QStringList menu;
    QSignalSpy saved(page.get(), &ImgMarksWid::Signal_SaveMarkResult);
    Draw(*page, 2, "脏污", &menu);
    QVERIFY(saved.wait());
    auto* canvas = Child<DataWidget>(*page, "widImgView");
    canvas->zoomIn();
    const float scale = canvas->zoom().scale();
    ClickRow(*page, 0);
    // No store started, and the view was not fitted again.
    QCOMPARE(Child<QPushButton>(*page, "btnSaveMark")->text(), QString("保存"));
    QCOMPARE(canvas->zoom().scale(), scale);
    QCOMPARE(Shown(*page), rows.at(0));
}

void tst_AnnotationPage::spaceMarksOk()
{
    OpenProject(2);
    auto page = MakePage();
    WaitForCategories(*page);
    Records rows;
    QVERIFY(LoadPictures(*page, 1, rows));
    ClickRow(*page, 0);
    QSignalSpy saved(page.get(), &ImgMarksWid::Signal_SaveMarkResult);
    QStringList menu;
    Draw(*page, 2, "脏污", &menu);
    QVERIFY(saved.wait());
    QTest::keyClick(page.get(), Qt::Key_Space);
    QTRY_VERIFY(rows.at(0)->rois.isEmpty());
    QVERIFY(rows.at(0)->markAsOK);
    QCOMPARE(Child<QListView>(*page, "lstWidCurImgMark")->model()->rowCount(), 0);
    QTRY_COMPARE(saved.count(), 2);
    QVERIFY(saved.last().at(1).toBool());
    page.reset();
    ReopenProject();
    QTRY_COMPARE(PrjIns().lock()->Images().size(), 1);
    QVERIFY(PrjIns().lock()->Images().first()->markAsOK);
    QVERIFY(PrjIns().lock()->Images().first()->rois.isEmpty());
}

void tst_AnnotationPage::tableNavigation()
{
    OpenProject(2);
    auto page = MakePage();
    WaitForCategories(*page);
    Records rows;
    QVERIFY(LoadPictures(*page, 3, rows));
    auto* table = Child<QTableView>(*page, "tblViewUnmarks");
    auto* next = Child<QPushButton>(*page, "btnNextImg");
    auto* previous = Child<QPushButton>(*page, "btnPreImg");
    QSignalSpy nextClicked(next, &QPushButton::clicked);
    QSignalSpy previousClicked(previous, &QPushButton::clicked);
    // A key clicks its button after the button's press animation.
    const auto press = [&](Qt::Key key)
    {
        QSignalSpy& spy = key == Qt::Key_D ? nextClicked : previousClicked;
        const int before = spy.count();
        QTest::keyClick(page.get(), key);
        QTRY_COMPARE(spy.count(), before + 1);
    };
    // Nothing current: no key shows anything.
    press(Qt::Key_D);
    QVERIFY(!Shown(*page));
    ClickRow(*page, 0);
    press(Qt::Key_A);
    QCOMPARE(table->currentIndex().row(), 0);
    QCOMPARE(Shown(*page), rows.at(0));
    press(Qt::Key_D);
    press(Qt::Key_D);
    QCOMPARE(table->currentIndex().row(), 2);
    QCOMPARE(Shown(*page), rows.at(2));
    press(Qt::Key_D);
    QCOMPARE(table->currentIndex().row(), 2);
    QCOMPARE(Shown(*page), rows.at(2));
    press(Qt::Key_A);
    QCOMPARE(Shown(*page), rows.at(1));
}

void tst_AnnotationPage::treeNavigationWraps_data()
{
    // Keys pressed on the tree with nothing current, and the image position reached after each.
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QList<int>>("positions");
    QTest::newRow("D from nothing: first, then on") << "DDDD" << QList<int>{0, 1, 2, 0};
    QTest::newRow("A from nothing: last, then back") << "AAAA" << QList<int>{2, 1, 0, 2};
    QTest::newRow("there and back") << "DAA" << QList<int>{0, 2, 1};
}

void tst_AnnotationPage::treeNavigationWraps()
{
    QFETCH(QString, keys);
    QFETCH(QList<int>, positions);

    OpenProject(2);
    const QString folder = m_fixture.FilePath("marked");
    for (int i = 0; i < 3; ++i)
    {
        const QString picture = QStringLiteral("%1/m_%2.png").arg(folder).arg(i);
        QVERIFY(PageFixture::MakePicture(picture));
        QFile json(QStringLiteral("%1/m_%2.json").arg(folder).arg(i));
        QVERIFY(json.open(QIODevice::WriteOnly));
        json.write(
            QStringLiteral(R"({"imagePath":"m_%1.png","shapes":[{"label":"划痕","shape_type":"rectangle",)"
                           R"("points":[[10,10],[40,30]]}]})")
                .arg(i)
                .toUtf8());
    }
    auto page = MakePage();
    WaitForCategories(*page);
    auto* tree = Child<QTreeView>(*page, "treeViewMarks");
    emit page->Signal_ImportMarkImg(folder, true);
    QTRY_COMPARE_WITH_TIMEOUT(PrjIns().lock()->Images().size(), 3, 10000);
    QTest::mouseClick(Child<QTabWidget>(*page, "tabWidget")->tabBar(), Qt::LeftButton, {},
                      Child<QTabWidget>(*page, "tabWidget")->tabBar()->tabRect(0).center());
    auto* model = qobject_cast<MarksImgModel*>(tree->model());
    QTRY_COMPARE(model->imageIndexes().size(), 3);
    const QList<QModelIndex> images = model->imageIndexes();
    for (int i = 0; i < keys.size(); ++i)
    {
        QTest::keyClick(page.get(), keys.at(i) == 'D' ? Qt::Key_D : Qt::Key_A);
        QTRY_COMPARE(tree->currentIndex(), images.at(positions.at(i)));
        QCOMPARE(Shown(*page), model->imageAt(images.at(positions.at(i))).lock());
    }
}

void tst_AnnotationPage::refreshTwiceAddsNoRows()
{
    OpenProject(2);
    const auto spPrj = PrjIns().lock();
    for (int i = 0; i < 2; ++i)
    {
        auto spImg = std::make_shared<pro::ImageInfo>();
        spImg->path = m_fixture.FilePath(QStringLiteral("p/%1.png").arg(i));
        spImg->fileName = QStringLiteral("%1.png").arg(i);
        spImg->filter = "待确认";
        QVERIFY(PageFixture::MakePicture(spImg->path));
        QVERIFY(!spPrj->AddImage(spImg).isEmpty());
    }
    auto page = MakePage();
    WaitForCategories(*page);
    auto* table = Child<QTableView>(*page, "tblViewUnmarks");
    QTRY_COMPARE(table->model()->rowCount(), 2);
    auto* tree = Child<QTreeView>(*page, "treeViewMarks");
    // On either tab: the table keeps its rows, the tree is rebuilt.
    for (int tab : {1, 0})
    {
        Child<QTabWidget>(*page, "tabWidget")->setCurrentIndex(tab);
        for (int i = 0; i < 2; ++i)
        {
            QSignalSpy rebuilt(tree->model(), &QAbstractItemModel::modelReset);
            QTest::keyClick(page.get(), Qt::Key_F5);
            QTRY_COMPARE(rebuilt.count(), 1);
            QCOMPARE(table->model()->rowCount(), 2);
        }
    }
}

void tst_AnnotationPage::deleteChecked_data()
{
    QTest::addColumn<QList<int>>("checkedRows");
    QTest::addColumn<bool>("otherStatus");
    QTest::newRow("none checked") << QList<int>{} << false;
    QTest::newRow("two checked") << QList<int>{0, 2} << false;
    QTest::newRow("checked under another status") << QList<int>{1} << true;
}

void tst_AnnotationPage::deleteChecked()
{
    QFETCH(QList<int>, checkedRows);
    QFETCH(bool, otherStatus);

    OpenProject(2);
    auto page = MakePage();
    WaitForCategories(*page);
    Records rows;
    QVERIFY(LoadPictures(*page, 3, rows));
    auto* table = Child<QTableView>(*page, "tblViewUnmarks");
    for (int row : checkedRows)
    {
        QStyleOptionViewItem option;
        option.initFrom(table->viewport());
        option.rect = table->visualRect(table->model()->index(row, 0));
        option.features = QStyleOptionViewItem::HasCheckIndicator;
        const QRect box =
            table->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, table);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, box.center());
        QVERIFY(rows.at(row)->checked);
    }
    if (otherStatus)
        QTest::mouseClick(Child<QRadioButton>(*page, "rdoOK"), Qt::LeftButton);
    MsgWndProbe probe(true);
    QTest::mouseClick(Child<QPushButton>(*page, "btnDelUnMarkImg"), Qt::LeftButton);
    QCOMPARE(probe.Messages().size(), 1);
    QCOMPARE(probe.Messages().first().kind, int(NOTIFY_QUERY));
    // The wait window is up until the worker reports the end of the deletes.
    bool waitShown = false;
    VisitShownWindows<CMsgWnd>(
        [&](CMsgWnd* wnd)
        {
            waitShown = wnd->Kind() == NOTIFY_WAIT;
            return waitShown;
        });
    const bool deletes = !checkedRows.isEmpty() && !otherStatus;
    QCOMPARE(waitShown, deletes);
    if (otherStatus)
        QTest::mouseClick(Child<QRadioButton>(*page, "rdoUnConfirm"), Qt::LeftButton);
    QCOMPARE(table->model()->rowCount(), rows.size() - (deletes ? checkedRows.size() : 0));
    for (int i = 0; i < rows.size(); ++i)
        QTRY_COMPARE(QFile::exists(rows.at(i)->path), !(deletes && checkedRows.contains(i)));
}

void tst_AnnotationPage::categories()
{
    OpenProject(2);
    auto page = MakePage();
    WaitForCategories(*page);
    auto* list = Child<SingleSelectListView>(*page, "lstWidMarkType");
    auto* input = Child<QWidget>(*page, "widInputMarkType");
    auto* edit = Child<QLineEdit>(*page, "edtMarkType");
    const auto add = [&](const QString& name)
    {
        QTest::mouseClick(Child<QPushButton>(*page, "btnAddMarkType"), Qt::LeftButton);
        QVERIFY(input->isVisible());
        QVERIFY(edit->text().isEmpty());
        for (const QChar c : name)
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::mouseClick(Child<QPushButton>(*page, "btnSaveMarkType"), Qt::LeftButton);
        QVERIFY(input->isHidden());
    };
    MsgWndProbe probe(true);
    // Letters typed into the name are text, not the page's shortcuts.
    add(" 裂纹 ad");
    QCOMPARE(list->count(), 4);
    QCOMPARE(PrjIns().lock()->MarkTypes().last(), QString("裂纹 ad"));
    QVERIFY(probe.Messages().isEmpty());
    add("划痕");
    QCOMPARE(list->count(), 4);
    QCOMPARE(probe.Messages().size(), 1);
    QCOMPARE(probe.Messages().first().text, QString("类别(划痕)已存在"));
    add("   ");
    QCOMPARE(list->count(), 4);
    QCOMPARE(probe.Messages().size(), 1);
}

void tst_AnnotationPage::saveFailureBox()
{
    OpenProject(2);
    auto page = MakePage();
    WaitForCategories(*page);
    Records rows;
    QVERIFY(LoadPictures(*page, 2, rows));
    ClickRow(*page, 0);
    QSignalSpy saved(page.get(), &ImgMarksWid::Signal_SaveMarkResult);
    QStringList menu;
    Draw(*page, 2, "脏污", &menu);
    QVERIFY(saved.wait());
    ClickRow(*page, 1);
    QCOMPARE(Shown(*page), rows.at(1));
    auto* button = Child<QPushButton>(*page, "btnSaveMark");
    QCOMPARE(button->text(), QString("保存中..."));
    QVERIFY(!button->isEnabled());
    // A failure as the core's callback reports it, for the store under way.
    MsgWndProbe probe(true);
    emit page->Signal_SaveMarkResult(rows.at(0)->id, false, "磁盘已满");
    QCOMPARE(probe.Messages().size(), 1);
    QCOMPARE(probe.Messages().first().title, QString("错误"));
    QCOMPARE(probe.Messages().first().text, QString("磁盘已满"));
    QCOMPARE(probe.Messages().first().kind, int(NOTIFY_ERROR));
    QCOMPARE(button->text(), QString("保存"));
    QVERIFY(button->isEnabled());
}

void tst_AnnotationPage::closeKeepsLastImageWork()
{
    OpenProject(2);
    {
        Lumora wnd;
        wnd.show();
        QVERIFY(QTest::qWaitForWindowActive(&wnd));
        auto* page = wnd.findChild<ImgMarksWid*>();
        QVERIFY(page);
        page->SetConfigFile(m_fixture.FilePath("Config.ini"));
        WaitForCategories(*page);
        Records rows;
        QVERIFY(LoadPictures(*page, 1, rows));
        ClickRow(*page, 0);
        QSignalSpy saved(page, &ImgMarksWid::Signal_SaveMarkResult);
        QStringList menu;
        Draw(*page, 2, "脏污", &menu);
        QVERIFY(saved.wait());
        Draw(*page, 2, "划痕", &menu);
        QVERIFY(saved.wait());
        auto* rois = Child<QListView>(*page, "lstWidCurImgMark");
        QCOMPARE(rois->model()->rowCount(), 2);
        QTest::mouseClick(rois->viewport(), Qt::LeftButton, {},
                          rois->visualRect(rois->model()->index(0, 0)).center());
        QTest::mouseClick(Child<QPushButton>(*page, "btnDelImgMark"), Qt::LeftButton);
        QTest::mouseClick(Child<QPushButton>(*page, "btnDelImgOneMark"), Qt::LeftButton);
        QCOMPARE(rois->model()->rowCount(), 1);
        wnd.close();
    }
    ReopenProject();
    QTRY_COMPARE(PrjIns().lock()->Images().size(), 1);
    const auto stored = PrjIns().lock()->Images().first();
    QCOMPARE(stored->rois.size(), 1);
    QCOMPARE(stored->rois.first()->title(), QString("划痕"));
}

void tst_AnnotationPage::undoRedoRestoresRecord_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<bool>("storedAtOnce");
    QTest::addColumn<QKeySequence>("redoKey");
    const QKeySequence y("Ctrl+Y");
    const QKeySequence shiftZ("Ctrl+Shift+Z");
    QTest::newRow("rectangle: draw and label") << 2 << "draw" << true << y;
    QTest::newRow("rectangle: move in many steps") << 2 << "move" << false << shiftZ;
    QTest::newRow("rectangle: corner drag") << 2 << "handle" << false << y;
    QTest::newRow("rectangle: delete one") << 2 << "deleteOne" << false << shiftZ;
    QTest::newRow("rectangle: delete all") << 2 << "deleteAll" << false << y;
    QTest::newRow("rectangle: mark OK") << 2 << "ok" << true << shiftZ;
    QTest::newRow("polygon: draw and label") << 1 << "draw" << true << shiftZ;
    QTest::newRow("polygon: vertex drag") << 1 << "handle" << false << y;
    QTest::newRow("polygon: vertex added on an edge") << 1 << "edge" << false << shiftZ;
}

void tst_AnnotationPage::undoRedoRestoresRecord()
{
    QFETCH(int, type);
    QFETCH(QString, edit);
    QFETCH(bool, storedAtOnce);
    QFETCH(QKeySequence, redoKey);

    OpenProject(type);
    auto page = MakePage();
    WaitForCategories(*page);
    Records rows;
    QVERIFY(LoadPictures(*page, 1, rows));
    ClickRow(*page, 0);
    QSignalSpy saved(page.get(), &ImgMarksWid::Signal_SaveMarkResult);
    QStringList menu;
    Draw(*page, type, "脏污", &menu);
    QVERIFY(saved.wait());
    Draw(*page, type, "划痕", &menu, QPointF(100, 10));
    QVERIFY(saved.wait());
    const auto spImg = rows.at(0);
    const QString annotation = ImageFiles::AnnotationPath(PrjIns().lock()->PrjPath() + spImg->image);
    auto* stack = page->findChild<QUndoStack*>();
    QVERIFY(stack);
    auto* rois = Child<QListView>(*page, "lstWidCurImgMark");
    const int steps = stack->count();
    const QString before = Dump(*spImg);
    const QByteArray fileBefore = ReadFile(annotation);
    int stores = saved.count();

    if (edit == "draw")
    {
        Draw(*page, type, "点", &menu, QPointF(40, 25));
    }
    else if (edit == "move")
    {
        Drag(*page, QPointF(40, 35), QPointF(52, 41), 12);
    }
    else if (edit == "handle" || edit == "edge")
    {
        Drag(*page, QPointF(40, 35), QPointF(40, 35));
        // The first corner or vertex, or the middle of the top edge.
        const QPointF from = edit == "handle" ? QPointF(20, 20) : QPointF(50, 20);
        Drag(*page, from, from - QPointF(12, 9), 5);
    }
    else if (edit == "deleteOne" || edit == "deleteAll")
    {
        QTest::mouseClick(rois->viewport(), Qt::LeftButton, {},
                          rois->visualRect(rois->model()->index(0, 0)).center());
        QTest::mouseClick(Child<QPushButton>(*page, "btnDelImgMark"), Qt::LeftButton);
        QTest::mouseClick(
            Child<QPushButton>(*page, edit == "deleteOne" ? "btnDelImgOneMark" : "btnDelImgAllMark"),
            Qt::LeftButton);
    }
    else
    {
        QTest::keyClick(page.get(), Qt::Key_Space);
    }
    // One step, however many moves the edit had.
    QTRY_COMPARE(stack->count(), steps + 1);
    stores += storedAtOnce ? 1 : 0;
    QTRY_COMPARE(saved.count(), stores);
    page->Slot_BtnSaveMarkClicked();
    QTRY_COMPARE(saved.count(), stores + 1);
    ++stores;
    const QString after = Dump(*spImg);
    QVERIFY(after != before);
    // The moved ROI stays the list's current one, so the delete button still finds it.
    if (edit == "move")
        QCOMPARE(rois->currentIndex().row(), 0);
    if (edit == "edge")
        QCOMPARE(dynamic_cast<const PolygonROI*>(spImg->rois.first().get())->polygon().size(), 4);
    const QByteArray fileAfter = ReadFile(annotation);
    QCOMPARE(rois->model()->rowCount(), spImg->rois.size());

    QTest::keyClick(page.get(), Qt::Key_Z, Qt::ControlModifier);
    QTRY_COMPARE(Dump(*spImg), before);
    QCOMPARE(rois->model()->rowCount(), spImg->rois.size());
    QTRY_COMPARE(saved.count(), stores + 1);
    ++stores;
    QCOMPARE(ReadFile(annotation), fileBefore);
    QVERIFY(Child<QToolButton>(*page, "btnRedo")->isEnabled());

    QTest::keySequence(page.get(), redoKey);
    QTRY_COMPARE(Dump(*spImg), after);
    QTRY_COMPARE(saved.count(), stores + 1);
    ++stores;
    QCOMPARE(ReadFile(annotation), fileAfter);
    QCOMPARE(rois->model()->rowCount(), spImg->rois.size());
    QVERIFY(saved.last().at(1).toBool());
}

void tst_AnnotationPage::historyBelongsToShownImage()
{
    OpenProject(2);
    auto page = MakePage();
    WaitForCategories(*page);
    Records rows;
    QVERIFY(LoadPictures(*page, 2, rows));
    ClickRow(*page, 0);
    auto* stack = page->findChild<QUndoStack*>();
    auto* undo = Child<QToolButton>(*page, "btnUndo");
    auto* redo = Child<QToolButton>(*page, "btnRedo");
    QVERIFY(!undo->isEnabled() && !redo->isEnabled());
    QStringList menu;
    Draw(*page, 2, "脏污", &menu);
    QTRY_COMPARE(rows.at(0)->rois.size(), 1);
    // Not while a shape is being drawn.
    QTest::keyClick(page.get(), Qt::Key_W);
    QTRY_COMPARE(Child<DataWidget>(*page, "widImgView")->mode(), int(DataWidget::kDrawingRect));
    QTest::mouseClick(undo, Qt::LeftButton);
    QCOMPARE(rows.at(0)->rois.size(), 1);
    Child<DataWidget>(*page, "widImgView")->endDrawing(false);
    QTest::mouseClick(undo, Qt::LeftButton);
    QVERIFY(rows.at(0)->rois.isEmpty());
    QVERIFY(redo->isEnabled());
    // A new edit drops what could have been redone.
    Draw(*page, 2, "划痕", &menu);
    QTRY_COMPARE(rows.at(0)->rois.size(), 1);
    QVERIFY(!stack->canRedo());
    QVERIFY(!redo->isEnabled());
    QCOMPARE(rows.at(0)->rois.first()->title(), QString("划痕"));

    ClickRow(*page, 1);
    QCOMPARE(Shown(*page), rows.at(1));
    QCOMPARE(stack->count(), 0);
    QVERIFY(!undo->isEnabled());
    QTest::keyClick(page.get(), Qt::Key_Z, Qt::ControlModifier);
    ClickRow(*page, 0);
    QCOMPARE(stack->count(), 0);
    QCOMPARE(rows.at(0)->rois.size(), 1);
}

void tst_AnnotationPage::undoWhileDrawingPolygon()
{
    OpenProject(1);
    auto page = MakePage();
    WaitForCategories(*page);
    Records rows;
    QVERIFY(LoadPictures(*page, 1, rows));
    ClickRow(*page, 0);
    auto* stack = page->findChild<QUndoStack*>();
    auto* canvas = Child<DataWidget>(*page, "widImgView");
    const auto at = [canvas](double x, double y) { return canvas->zoom().toWidget(QPointF(x, y)).toPoint(); };
    const auto place = [&](double x, double y)
    {
        Move(canvas, at(x, y));
        QTest::mousePress(canvas, Qt::LeftButton, {}, at(x, y));
        QTest::mouseRelease(canvas, Qt::LeftButton, {}, at(x, y));
    };

    // Ctrl+Z takes back the misplaced vertex, even with nothing on the stack, and keeps drawing.
    QTest::keyClick(page.get(), Qt::Key_W);
    QTRY_COMPARE(canvas->mode(), int(DataWidget::kDrawingPolygon));
    place(20, 20);
    place(80, 20);
    place(150, 90);
    QTest::keyClick(page.get(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(canvas->mode(), int(DataWidget::kDrawingPolygon));
    QCOMPARE(stack->count(), 0);
    place(80, 70);
    QStringList menu;
    AnswerMenu(this, "脏污", &menu);
    QTest::mousePress(canvas, Qt::RightButton, {}, at(80, 70));
    QTest::mouseRelease(canvas, Qt::RightButton, {}, at(80, 70));
    QTRY_COMPARE(rows.at(0)->rois.size(), 1);
    const auto* polygon = dynamic_cast<PolygonROIItem*>(rows.at(0)->rois.first().get());
    QVERIFY(polygon);
    QCOMPARE(polygon->polygon().size(), 3);
    const QPointF expected[] = {QPointF(20, 20), QPointF(80, 20), QPointF(80, 70)};
    for (int i = 0; i < 3; ++i)
        QVERIFY2((polygon->polygon().at(i) - expected[i]).manhattanLength() < 2,
                 qPrintable(QString::number(i)));
    QCOMPARE(stack->count(), 1);
}

void tst_AnnotationPage::carryOverPrevious_data()
{
    // The previous image (200 x 100) gets three rectangles at these offsets from (20, 20)-(60, 50).
    QTest::addColumn<bool>("previousShown");
    QTest::addColumn<bool>("previousAnnotated");
    QTest::addColumn<QSize>("shownSize");
    // How many are carried over, each as the part of it inside the shown image.
    QTest::addColumn<int>("carried");
    QTest::newRow("same size: all copied") << true << true << QSize(200, 100) << 3;
    QTest::newRow("smaller: clipped, outside left out") << true << true << QSize(100, 50) << 2;
    QTest::newRow("previous without ROIs") << true << false << QSize(200, 100) << 0;
    QTest::newRow("no previous image") << false << false << QSize(200, 100) << 0;
}

void tst_AnnotationPage::carryOverPrevious()
{
    QFETCH(bool, previousShown);
    QFETCH(bool, previousAnnotated);
    QFETCH(QSize, shownSize);
    QFETCH(int, carried);

    OpenProject(2);
    auto page = MakePage();
    WaitForCategories(*page);
    const QString folder = m_fixture.FilePath("carry");
    QVERIFY(PageFixture::MakePicture(folder + "/a.png"));
    QImage small(shownSize, QImage::Format_RGB888);
    small.fill(Qt::darkGray);
    QVERIFY(small.save(folder + "/b.png"));
    emit page->Signal_LoadImgPath(folder);
    auto* table = Child<QTableView>(*page, "tblViewUnmarks");
    QTRY_COMPARE(table->model()->rowCount(), 2);
    const int previousRow = table->model()->index(0, 1).data().toString() == "a.png" ? 0 : 1;
    QSignalSpy saved(page.get(), &ImgMarksWid::Signal_SaveMarkResult);
    QStringList menu;
    if (previousShown)
        ClickRow(*page, previousRow);
    const auto spPrevious = Shown(*page);
    for (const QPointF& offset : {QPointF(0, 0), QPointF(60, 10), QPointF(120, 40)})
    {
        if (previousAnnotated)
            Draw(*page, 2, "点", &menu, offset);
    }
    QTRY_COMPARE(saved.count(), previousAnnotated ? 3 : 0);
    const QString previousBefore = spPrevious ? Dump(*spPrevious) : QString();
    ClickRow(*page, 1 - previousRow);
    const auto spShown = Shown(*page);
    QVERIFY(spShown && spShown != spPrevious);
    auto* button = Child<QToolButton>(*page, "btnCarryRois");
    QSignalSpy clicked(button, &QToolButton::clicked);
    QTest::keyClick(page.get(), Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_COMPARE(clicked.count(), 1);
    QCOMPARE(spShown->rois.size(), carried);
    auto* stack = page->findChild<QUndoStack*>();
    QCOMPARE(stack->count(), carried == 0 ? 0 : 1);
    if (carried == 0)
        return;
    for (int i = 0; i < carried; ++i)
    {
        QCOMPARE(RectOf(spShown->rois.at(i)),
                 RectOf(spPrevious->rois.at(i)).intersected(QRectF(QPointF(0, 0), QSizeF(shownSize))));
        QCOMPARE(spShown->rois.at(i)->title(), QString("点"));
        QVERIFY(!spPrevious->rois.contains(spShown->rois.at(i)));
    }
    QTRY_COMPARE(Child<QListView>(*page, "lstWidCurImgMark")->model()->rowCount(), carried);
    // Moving a copy leaves the previous image's ROI where it was.
    const QRectF copied = RectOf(spShown->rois.first());
    Drag(*page, QPointF(30, 30), QPointF(35, 34), 3);
    QVERIFY(RectOf(spShown->rois.first()) != copied);
    QCOMPARE(Dump(*spPrevious), previousBefore);
    QCOMPARE(stack->count(), 2);
    for (int steps = 1; steps >= 0; --steps)
    {
        QTest::keyClick(page.get(), Qt::Key_Z, Qt::ControlModifier);
        QTRY_COMPARE(stack->index(), steps);
    }
    QVERIFY(spShown->rois.isEmpty());
}

void tst_AnnotationPage::CheckOneRowPerFile(ImgMarksWid& page, int files, int annotated)
{
    const QStringList table = TableFiles(Child<QTableView>(page, "tblViewUnmarks"));
    const QStringList tree = TreeFiles(Child<QTreeView>(page, "treeViewMarks"));
    QCOMPARE(table.size() + tree.size(), files);
    QCOMPARE(tree.size(), annotated);
    QSet<QString> all(table.begin(), table.end());
    all.unite(QSet<QString>(tree.begin(), tree.end()));
    QCOMPARE(all.size(), files);
    QCOMPARE(PrjIns().lock()->Images().size(), annotated);
}

void tst_AnnotationPage::importsGiveOneRowPerImage_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("annotateBetween");
    QTest::addColumn<QString>("firstNote");
    QTest::addColumn<QString>("secondNote");
    // OK: 6 images, 2 annotated; NG: 4 images, 1 annotated.
    QTest::newRow("same folder twice") << ""
                                       << "" << false << "新增 10 张：OK 6，NG 4；已标注 3"
                                       << "没有新增图片：10 张已在列表或工程中";
    QTest::newRow("a subfolder, then the whole folder") << "NG"
                                                        << "" << false << "新增 4 张：NG 4；已标注 1"
                                                        << "新增 6 张：OK 6；已标注 2；4 张已在列表或工程中";
    QTest::newRow("the whole folder, then a subfolder") << ""
                                                        << "NG" << false << "新增 10 张：OK 6，NG 4；已标注 3"
                                                        << "没有新增图片：4 张已在列表或工程中";
    // The annotated images move from the list to the tree.
    QTest::newRow("annotation files written between") << ""
                                                      << "" << true << "新增 10 张：OK 6，NG 4；已标注 0"
                                                      << "新增 0 张；已标注 3；10 张已在列表或工程中";
}

void tst_AnnotationPage::importsGiveOneRowPerImage()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, annotateBetween);
    QFETCH(QString, firstNote);
    QFETCH(QString, secondNote);
    OpenProject(2);
    const QString root = m_fixture.FilePath("inspect");
    QVERIFY(MakeInspectionFolder(root, 6, 4, 2, 1, !annotateBetween));
    auto page = MakePage();
    WaitForCategories(*page);
    auto* note = Child<QLabel>(*page, "lbImportNote");
    page->ImportFolder(first.isEmpty() ? root : root + "/" + first);
    QTRY_COMPARE(note->text(), firstNote);
    if (annotateBetween)
        QVERIFY(MakeInspectionFolder(root, 6, 4, 2, 1, true));
    page->ImportFolder(second.isEmpty() ? root : root + "/" + second);
    QTRY_COMPARE(note->text(), secondNote);
    QVERIFY(note->isVisible());
    CheckOneRowPerFile(*page, 10, 3);
    // The annotated images carry their shapes in the project.
    for (const auto& spImg : PrjIns().lock()->Images())
        QCOMPARE(spImg->rois.size(), 1);
}

void tst_AnnotationPage::waitingListSurvivesRestart()
{
    OpenProject(2);
    const QString root = m_fixture.FilePath("inspect");
    QVERIFY(MakeInspectionFolder(root, 6, 4, 2, 1, true));
    {
        auto page = MakePage();
        WaitForCategories(*page);
        page->ImportFolder(root);
        QTRY_COMPARE(Child<QLabel>(*page, "lbImportNote")->text(),
                     QStringLiteral("新增 10 张：OK 6，NG 4；已标注 3"));
        CheckOneRowPerFile(*page, 10, 3);
    }
    // The program's own folder is the same one: it is scanned once.
    QFile ini(m_fixture.FilePath("Config.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[Config]\nLoadImgPath=%1\n").arg(root).toUtf8());
    ini.close();
    for (int restart = 0; restart < 2; ++restart)
    {
        ReopenProject();
        auto page = MakePage();
        // The shown status had none of the rescanned images: the page turns to where they are.
        QTRY_VERIFY(Child<QRadioButton>(*page, "rdoOK")->isChecked());
        CheckOneRowPerFile(*page, 10, 3 + restart);
        QVERIFY(Child<QLabel>(*page, "lbImportNote")->text().isEmpty());
        if (restart == 0)
        {
            // Labelling a listed image stores it once; after the next restart it is the project's.
            ClickRow(*page, 0);
            QTRY_VERIFY(Shown(*page));
            QTest::keyClick(page.get(), Qt::Key_Space);
            QTRY_VERIFY(!Shown(*page)->id.isEmpty());
            QCOMPARE(PrjIns().lock()->Images().size(), 4);
        }
    }
}

void tst_AnnotationPage::noteAndFilterAfterImport()
{
    OpenProject(2);
    const QString root = m_fixture.FilePath("inspect");
    QVERIFY(MakeInspectionFolder(root, 4, 2, 1, 0, true));
    auto page = MakePage();
    WaitForCategories(*page);
    auto* table = Child<QTableView>(*page, "tblViewUnmarks");
    auto* note = Child<QLabel>(*page, "lbImportNote");
    QVERIFY(note->isHidden());
    QVERIFY(Child<QRadioButton>(*page, "rdoUnConfirm")->isChecked());
    page->ImportFolder(root);
    QTRY_COMPARE(note->text(), QStringLiteral("新增 6 张：OK 4，NG 2；已标注 1"));
    // Most of the listed images went to OK, and 待确认 shows none.
    QTRY_VERIFY(Child<QRadioButton>(*page, "rdoOK")->isChecked());
    QCOMPARE(table->model()->rowCount(), 3);
    QCOMPARE(table->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("图片（3张）"));
    QStringList names;
    for (int row = 0; row < table->model()->rowCount(); ++row)
        names << table->model()->index(row, 1).data().toString();
    QCOMPARE(names, QStringList({"ok_2.png", "ok_3.png", "ok_4.png"}));

    // A shown status that holds images stays.
    Child<QRadioButton>(*page, "rdoNG")->click();
    QCOMPARE(table->model()->rowCount(), 2);
    page->ImportFolder(root);
    QTRY_COMPARE(note->text(), QStringLiteral("没有新增图片：6 张已在列表或工程中"));
    QVERIFY(Child<QRadioButton>(*page, "rdoNG")->isChecked());
    QCOMPARE(table->model()->rowCount(), 2);
}

void tst_AnnotationPage::polygonClosedOnFirstVertex()
{
    OpenProject(1);
    auto page = MakePage();
    WaitForCategories(*page);
    Records rows;
    QVERIFY(LoadPictures(*page, 1, rows));
    ClickRow(*page, 0);
    auto* canvas = Child<DataWidget>(*page, "widImgView");
    auto* hint = Child<QLabel>(*page, "lbDrawHint");
    const auto at = [canvas](double x, double y) { return canvas->zoom().toWidget(QPointF(x, y)).toPoint(); };
    QVERIFY(!hint->isVisible());

    QTest::keyClick(page.get(), Qt::Key_W);
    QTRY_COMPARE(canvas->mode(), int(DataWidget::kDrawingPolygon));
    QVERIFY(hint->isVisible());
    QCOMPARE(hint->text(), QString("左键加点，点击起点或右键结束，Ctrl+Z 撤回一点"));
    QStringList menu;
    AnswerMenu(this, "划痕", &menu);
    const QList<QPointF> vertices{{20, 20}, {80, 20}, {50, 70}};
    // The last click lands a little beside the first vertex, as a hand does.
    for (const QPointF& p : vertices + QList<QPointF>{{21, 21}})
    {
        Move(canvas, at(p.x(), p.y()));
        QTest::mouseClick(canvas, Qt::LeftButton, {}, at(p.x(), p.y()));
    }
    QTRY_COMPARE(rows.at(0)->rois.size(), 1);
    const auto* polygon = dynamic_cast<PolygonROIItem*>(rows.at(0)->rois.first().get());
    QVERIFY(polygon);
    // Three vertices where the clicks were, in whole screen pixels, and no fourth one repeating the first.
    QCOMPARE(polygon->polygon().size(), vertices.size());
    for (int i = 0; i < vertices.size(); ++i)
        QVERIFY(QLineF(polygon->polygon().at(i), vertices.at(i)).length() < 1);
    QCOMPARE(polygon->title(), QString("划痕"));
    QVERIFY(!hint->isVisible());
}

void tst_AnnotationPage::deleteKeyRemovesSelected_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Delete") << int(Qt::Key_Delete);
    QTest::newRow("Backspace") << int(Qt::Key_Backspace);
}

void tst_AnnotationPage::deleteKeyRemovesSelected()
{
    QFETCH(int, key);

    OpenProject(2);
    auto page = MakePage();
    WaitForCategories(*page);
    Records rows;
    QVERIFY(LoadPictures(*page, 1, rows));
    ClickRow(*page, 0);
    QStringList menu;
    Draw(*page, 2, "脏污", &menu);
    QTRY_COMPARE(rows.at(0)->rois.size(), 1);
    Draw(*page, 2, "划痕", &menu, QPointF(100, 0));
    QTRY_COMPARE(rows.at(0)->rois.size(), 2);
    const auto kept = rows.at(0)->rois.at(1);
    const auto removed = rows.at(0)->rois.at(0);

    // Nothing selected: the key removes nothing.
    auto* canvas = Child<DataWidget>(*page, "widImgView");
    QTest::mouseClick(canvas, Qt::LeftButton, {}, canvas->zoom().toWidget(QPointF(90, 90)).toPoint());
    QVERIFY(canvas->selectedRoi().expired());
    QTest::keyClick(page.get(), Qt::Key(key));
    QCOMPARE(rows.at(0)->rois.size(), 2);

    QTest::mouseClick(canvas, Qt::LeftButton, {}, canvas->zoom().toWidget(QPointF(40, 35)).toPoint());
    QCOMPARE(canvas->selectedRoi().lock(), removed);
    QTest::keyClick(page.get(), Qt::Key(key));
    QCOMPARE(rows.at(0)->rois, ROIList{kept});
    QCOMPARE(Child<QListView>(*page, "lstWidCurImgMark")->model()->rowCount(), 1);
    // One step back brings the very shape back in its place.
    QTest::keyClick(page.get(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(rows.at(0)->rois, (ROIList{removed, kept}));

    // While a shape is being drawn the key leaves the others alone.
    QTest::mouseClick(canvas, Qt::LeftButton, {}, canvas->zoom().toWidget(QPointF(40, 35)).toPoint());
    QTest::keyClick(page.get(), Qt::Key_W);
    QTRY_COMPARE(canvas->mode(), int(DataWidget::kDrawingRect));
    QTest::keyClick(page.get(), Qt::Key(key));
    QCOMPARE(rows.at(0)->rois.size(), 2);
    canvas->endDrawing(false);
}

void tst_AnnotationPage::previousTwiceSelectsOnlyShown()
{
    OpenProject(2);
    auto page = MakePage();
    WaitForCategories(*page);
    Records rows;
    QVERIFY(LoadPictures(*page, 4, rows));
    auto* table = Child<QTableView>(*page, "tblViewUnmarks");
    auto* previous = Child<QPushButton>(*page, "btnPreImg");
    ClickRow(*page, 3);
    QStringList menu;
    Draw(*page, 2, "脏污", &menu);
    QTRY_COMPARE(rows.at(3)->rois.size(), 1);
    for (int expected : {2, 1})
    {
        QSignalSpy clicked(previous, &QPushButton::clicked);
        QTest::keyClick(page.get(), Qt::Key_A);
        QTRY_COMPARE(clicked.count(), 1);
        QCOMPARE(Shown(*page), rows.at(expected));
        const QModelIndexList selected = table->selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first().row(), expected);
        QCOMPARE(table->currentIndex().row(), expected);
    }
}

void tst_AnnotationPage::categoryColoursInLists()
{
    OpenProject(2);
    auto page = MakePage();
    WaitForCategories(*page);
    auto* categories = Child<SingleSelectListView>(*page, "lstWidMarkType");
    const auto swatchOf = [categories](int row)
    { return categories->itemWidget(categories->item(row))->findChild<QLabel*>("lbSwatch")->styleSheet(); };
    for (int row = 0; row < kCategories.size(); ++row)
        QVERIFY(swatchOf(row).contains(CategoryPalette::At(row).name()));

    Records rows;
    QVERIFY(LoadPictures(*page, 1, rows));
    ClickRow(*page, 0);
    QStringList menu;
    Draw(*page, 2, "点", &menu);
    QTRY_COMPARE(rows.at(0)->rois.size(), 1);
    auto* rois = Child<QListView>(*page, "lstWidCurImgMark");
    new QAbstractItemModelTester(rois->model(), QAbstractItemModelTester::FailureReportingMode::QtTest,
                                 page.get());
    const QModelIndex first = rois->model()->index(0, 0);
    QCOMPARE(first.data(ImgROIListModel::kColorRole).value<QColor>(), CategoryPalette::At(2));
    Child<DataWidget>(*page, "widImgView")->grab();
    QCOMPARE(rows.at(0)->rois.first()->outlineColor(), CategoryPalette::At(2));

    // A category added later takes the next colour, on the canvas as in both lists.
    QTest::mouseClick(Child<QPushButton>(*page, "btnAddMarkType"), Qt::LeftButton);
    Child<QLineEdit>(*page, "edtMarkType")->setText("新");
    QTest::keyClick(Child<QLineEdit>(*page, "edtMarkType"), Qt::Key_Return);
    QTRY_COMPARE(categories->count(), kCategories.size() + 1);
    QVERIFY(swatchOf(kCategories.size()).contains(CategoryPalette::At(kCategories.size()).name()));
    QCOMPARE(Child<DataWidget>(*page, "widImgView")->categories(), kCategories + QStringList{"新"});
}

QTEST_MAIN(tst_AnnotationPage)
#include "tst_AnnotationPage.moc"
