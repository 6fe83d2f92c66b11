#include "ProjectRecord.h"

#include "ImgMarks/ImageOrder.h"
#include "ImgMarks/ImgROIListModel.h"

#include "ComUi/CategoryPalette.h"
#include "ImgMarks/MarksImgModel.h"
#include "ImgMarks/ROIListDelegate.h"
#include "ImgMarks/SourceImgModel.h"
#include "ImgMarks/StatusFilterProxyModel.h"

#include "ComUi/Skin.h"
#include "Nexil/NexilApi.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QAbstractItemModelTester>
#include <QIcon>
#include <QTemporaryDir>
#include <QtTest>

#include <set>

namespace
{

const QString kWait = QStringLiteral("待确认");
const QString kOk = QStringLiteral("OK");
const QString kNg = QStringLiteral("NG");

using Records = QList<std::shared_ptr<pro::ImageInfo>>;

std::shared_ptr<pro::ImageInfo> Img(const QString& name, const QString& status = kWait, bool checked = false)
{
    auto img = std::make_shared<pro::ImageInfo>();
    img->fileName = name;
    img->path = QStringLiteral("/nowhere/") + name;
    img->filter = status;
    img->checked = checked;
    return img;
}

// A marked record with one rectangle per title.
std::shared_ptr<pro::ImageInfo> Marked(const QString& name, const QStringList& titles, bool ok = false)
{
    auto img = Img(name);
    for (const QString& title : titles)
        img->rois << std::make_shared<RectROIItem>(QRectF(0, 0, 5, 5), 0, title);
    img->markAsOK = ok;
    img->marked = ok || !titles.isEmpty();
    return img;
}

// Statuses given as letters: w 待确认, o OK, n NG; upper case = checked.
Records Table(const QString& rows)
{
    Records records;
    for (int i = 0; i < rows.size(); ++i)
    {
        const QChar c = rows.at(i);
        const QString status = c.toLower() == 'o' ? kOk : c.toLower() == 'n' ? kNg : kWait;
        records << Img(QStringLiteral("%1.png").arg(i), status, c.isUpper());
    }
    return records;
}

QString Checks(const Records& records)
{
    QString text;
    for (const auto& r : records)
        text += r->checked ? '1' : '0';
    return text;
}

// Rows named by the dataChanged signals of a spy, column 0 and the check-state role only.
std::set<int> ChangedRows(const QSignalSpy& spy)
{
    std::set<int> rows;
    for (const QList<QVariant>& args : spy)
    {
        const auto from = args.at(0).toModelIndex();
        const auto to = args.at(1).toModelIndex();
        const auto roles = args.at(2).value<QVector<int>>();
        if (from.column() != 0 || to.column() != 0 || roles != QVector<int>{Qt::CheckStateRole})
            continue;
        for (int row = from.row(); row <= to.row(); ++row)
            rows.insert(row);
    }
    return rows;
}

QStringList Tree(const QAbstractItemModel& model)
{
    QStringList lines;
    for (int g = 0; g < model.rowCount(); ++g)
    {
        const QModelIndex group = model.index(g, 0);
        QStringList names;
        for (int i = 0; i < model.rowCount(group); ++i)
            names << model.index(i, 0, group).data().toString();
        lines << group.data().toString() + ':' + names.join(',');
    }
    return lines;
}

} // namespace

class tst_ImgModels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void sourceData();
    void sourceAppend();
    void headerCheckState_data();
    void headerCheckState();
    void statusRowsChecked_data();
    void statusRowsChecked();
    void headerCheckBox();
    void proxyFilterAndCaption();
    void takeCheckedImages();
    void refreshRecord();

    void treeGrouping_data();
    void treeGrouping();
    void treeBatchesStaySorted();
    void naturalOrder_data();
    void naturalOrder();
    void keptSortKeys();
    void treeRemoveAndIndexes();
    void treeReload();
    void treeNeighbour_data();
    void treeNeighbour();

    void roiList();
    void roiListColours();

private:
    void OpenProject(QTemporaryDir& ws);
};

void tst_ImgModels::initTestCase()
{
    qRegisterMetaType<Qt::Orientation>();
    qRegisterMetaType<QList<QPersistentModelIndex>>();
    qRegisterMetaType<QAbstractItemModel::LayoutChangeHint>();
    InitComUiResources();
}

void tst_ImgModels::cleanup()
{
    // Also after a failed check, so the next test starts without a project.
    ReleaseNexil();
}

void tst_ImgModels::OpenProject(QTemporaryDir& ws)
{
    CreateNexil();
    QVERIFY(NexilIns().lock()->Init(ws.path()));
    QVERIFY(NexilIns().lock()->AddPro(MakeInfo("P1", "prj", 2)));
    NexilIns().lock()->OpenPro("P1");
    QVERIFY(!PrjIns().expired());
}

void tst_ImgModels::sourceData()
{
    SourceImgModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto img = Img("a.png", kNg, true);
    img->marked = true;
    model.appendImages({img, Img("b.png")});

    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(model.index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(model.index(1, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(model.index(0, 1).data().toString(), QStringLiteral("a.png"));
    QCOMPARE(model.index(0, 1).data(SourceImgModel::kStatusRole).toString(), kNg);
    QVERIFY(!model.index(0, 2).data(Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(model.index(1, 2).data(Qt::DecorationRole).value<QIcon>().isNull());
    QCOMPARE(model.index(1, 2).data(Qt::TextAlignmentRole).toInt(), 132);
    QVERIFY(!model.index(0, 0).data(Qt::DisplayRole).isValid());
    QVERIFY(!model.index(0, 1).data(Qt::CheckStateRole).isValid());
    QVERIFY(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsUserCheckable));
    QVERIFY(!model.flags(model.index(0, 1)).testFlag(Qt::ItemIsUserCheckable));

    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("图片（2张）"));
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("标注"));
    QCOMPARE(model.headerData(0, Qt::Vertical).toInt(), 1);

    // Only column 0 with the check-state role is editable; PartiallyChecked counts as checked.
    QVERIFY(!model.setData(model.index(1, 1), Qt::Checked, Qt::CheckStateRole));
    QVERIFY(!model.setData(model.index(1, 0), Qt::Checked, Qt::EditRole));
    QVERIFY(model.setData(model.index(1, 0), Qt::PartiallyChecked, Qt::CheckStateRole));
    QVERIFY(model.imageAt(model.index(1, 0)).lock()->checked);
    QVERIFY(model.imageAt(QModelIndex()).expired());
}

void tst_ImgModels::sourceAppend()
{
    SourceImgModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.appendImages({});
    QCOMPARE(inserted.count(), 0);

    auto img = Img("a.png");
    model.appendImage(img);
    model.appendImage(img);
    // Another record of the same file, and one whose source is that file, is that image again.
    model.appendImage(Img("a.png"));
    auto copy = Img("copy.png");
    copy->source = img->path;
    QCOMPARE(model.appendImages({copy, Img("b.png"), Img("b.png")}), 1);
    QCOMPARE(model.rowCount(), 2);
    model.clearImages();
    QCOMPARE(model.rowCount(), 0);
    // After clearing, the same record may be listed again.
    model.appendImage(img);
    QCOMPARE(model.rowCount(), 1);
}

void tst_ImgModels::headerCheckState_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<int>("state");
    QTest::newRow("empty table") << "" << int(Qt::Unchecked);
    QTest::newRow("no row of the status") << "ONO" << int(Qt::Unchecked);
    QTest::newRow("none checked") << "wwO" << int(Qt::Unchecked);
    QTest::newRow("all checked") << "WoW" << int(Qt::Checked);
    QTest::newRow("some checked") << "Wwo" << int(Qt::PartiallyChecked);
}

void tst_ImgModels::headerCheckState()
{
    QFETCH(QString, rows);
    QFETCH(int, state);
    SourceImgModel model;
    model.appendImages(Table(rows));
    model.setCurrentStatus(kWait);
    QCOMPARE(int(model.headerCheckState()), state);
}

void tst_ImgModels::statusRowsChecked_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("checks");
    QTest::newRow("check") << "wWoOw" << int(Qt::Checked) << "11011";
    QTest::newRow("uncheck") << "wWoOW" << int(Qt::Unchecked) << "00010";
    QTest::newRow("invert") << "wWoOwW" << int(Qt::PartiallyChecked) << "100110";
    QTest::newRow("no row of the status") << "oO" << int(Qt::PartiallyChecked) << "01";
}

void tst_ImgModels::statusRowsChecked()
{
    QFETCH(QString, rows);
    QFETCH(int, state);
    QFETCH(QString, checks);
    SourceImgModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const Records records = Table(rows);
    model.appendImages(records);
    model.setCurrentStatus(kWait);
    const QString before = Checks(records);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setStatusRowsChecked(Qt::CheckState(state));
    QCOMPARE(Checks(records), checks);
    // Exactly the rows that changed are announced.
    std::set<int> expected;
    for (int i = 0; i < checks.size(); ++i)
    {
        if (checks.at(i) != before.at(i))
            expected.insert(i);
    }
    QCOMPARE(ChangedRows(changed), expected);
}

void tst_ImgModels::headerCheckBox()
{
    SourceImgModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const Records records = Table("wOw");
    model.appendImages(records);
    model.setCurrentStatus(kWait);
    QSignalSpy header(&model, &QAbstractItemModel::headerDataChanged);
    QVERIFY(!model.setHeaderData(0, Qt::Horizontal, false, Qt::CheckStateRole));
    QVERIFY(!model.setHeaderData(1, Qt::Horizontal, true, Qt::CheckStateRole));
    QVERIFY(model.setHeaderData(0, Qt::Horizontal, true, Qt::CheckStateRole));
    QCOMPARE(Checks(records), QStringLiteral("111"));
    QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(header.count(), 1);
    QCOMPARE(header.at(0).at(1).toInt(), 0);
    QCOMPARE(header.at(0).at(2).toInt(), 0);
    QVERIFY(!model.setHeaderData(0, Qt::Horizontal, true, Qt::CheckStateRole));
    QVERIFY(model.setHeaderData(0, Qt::Horizontal, false, Qt::CheckStateRole));
    QCOMPARE(Checks(records), QStringLiteral("010"));
}

void tst_ImgModels::proxyFilterAndCaption()
{
    SourceImgModel model;
    StatusFilterProxyModel proxy;
    proxy.setSourceModel(&model);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester proxyTester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.appendImages(Table("wowno"));
    QCOMPARE(proxy.rowCount(), 5);

    QSignalSpy header(&proxy, &QAbstractItemModel::headerDataChanged);
    proxy.setFilterStatus(kOk);
    QCOMPARE(proxy.rowCount(), 2);
    QCOMPARE(proxy.index(1, 1).data().toString(), QStringLiteral("4.png"));
    QCOMPARE(proxy.headerData(1, Qt::Horizontal).toString(), QStringLiteral("图片（2张）"));
    QCOMPARE(proxy.headerData(2, Qt::Horizontal).toString(), QStringLiteral("标注"));
    QVERIFY(header.wait());

    // Rows arriving later count in the caption too.
    model.appendImages({Img("5.png", kOk)});
    QCOMPARE(proxy.rowCount(), 3);
    QCOMPARE(proxy.headerData(1, Qt::Horizontal).toString(), QStringLiteral("图片（3张）"));
    proxy.setFilterStatus(QString());
    QCOMPARE(proxy.rowCount(), 6);
    proxy.setFilterStatus(QStringLiteral("手动添加"));
    QCOMPARE(proxy.rowCount(), 0);
}

void tst_ImgModels::takeCheckedImages()
{
    QTemporaryDir ws;
    OpenProject(ws);
    const auto core = PrjIns().lock();
    // A project image: its copy, annotation file and row go with it.
    const QString source = ws.filePath("p.png");
    QImage(8, 8, QImage::Format_RGB888).save(source);
    auto inProject = Img("p.png", kWait, true);
    inProject->path = source;
    const QString id = core->AddImage(inProject);
    QVERIFY(core->ImageById(id));

    SourceImgModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const Records records = Table("WwOW");
    model.appendImages(records);
    model.appendImage(inProject);
    const QStringList paths = model.takeCheckedImages(kWait);
    QCOMPARE(paths, (QStringList{records.at(0)->path, records.at(3)->path, source}));
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.imageAt(model.index(1, 0)).lock(), records.at(2));
    QVERIFY(!core->ImageById(id));
    // A taken record may be listed again.
    model.appendImage(records.at(0));
    QCOMPARE(model.rowCount(), 3);
    ReleaseNexil();
}

void tst_ImgModels::refreshRecord()
{
    SourceImgModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const Records rows = Table("www");
    model.appendImages(rows);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    rows.at(1)->marked = true;
    model.refreshRecord(rows.at(1));
    QCOMPARE(changed.count(), 1);
    const QModelIndex cell = changed.at(0).at(0).toModelIndex();
    QCOMPARE(cell, model.index(1, SourceImgModel::kMarkedColumn));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), cell);
    QCOMPARE(changed.at(0).at(2).value<QVector<int>>(), QVector<int>{Qt::DecorationRole});
    QVERIFY(!cell.data(Qt::DecorationRole).value<QIcon>().isNull());

    // A record that is not listed, or none, changes no row.
    model.refreshRecord(Img("other.png"));
    model.refreshRecord(nullptr);
    QCOMPARE(changed.count(), 1);
    model.clearImages();
    changed.clear();
    model.refreshRecord(rows.at(1));
    QCOMPARE(changed.count(), 0);
}

void tst_ImgModels::treeGrouping_data()
{
    QTest::addColumn<bool>("includeUnmarked");
    QTest::addColumn<QStringList>("tree");
    QTest::newRow("annotated only") << false
                                    << QStringList{"OK（1张）:ok.png", "x（2张）:a.png,b.png",
                                                   "y（1张）:a.png"};
    QTest::newRow("with unmarked") << true
                                   << QStringList{"OK（1张）:ok.png", "x（2张）:a.png,b.png",
                                                  "y（1张）:a.png", "无标注（1张）:plain.png"};
}

void tst_ImgModels::treeGrouping()
{
    QFETCH(bool, includeUnmarked);
    QFETCH(QStringList, tree);
    MarksImgModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.includeUnmarked = includeUnmarked;
    // Two ROIs of one title and one of another: once in each group. OK: only under "OK", even with
    // ROIs. An empty title makes no group here.
    model.addImages({Marked("b.png", {"x"}), Marked("a.png", {"x", "y", "x", ""}),
                     Marked("ok.png", {"x"}, true), Img("plain.png"), nullptr});
    QCOMPARE(Tree(model), tree);

    const QModelIndex image = model.index(0, 0, model.index(1, 0));
    QCOMPARE(model.imageAt(image).lock()->fileName, QStringLiteral("a.png"));
    QCOMPARE(image.data(Qt::UserRole).value<std::shared_ptr<pro::ImageInfo>>(), model.imageAt(image).lock());
    QVERIFY(!image.data(Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(model.imageAt(model.index(1, 0)).expired());
    QVERIFY(!model.index(1, 0).data(Qt::UserRole).isValid());
    // Adding the same records again lists nothing twice.
    model.addImages({model.imageAt(image).lock()});
    QCOMPARE(Tree(model), tree);
}

void tst_ImgModels::treeBatchesStaySorted()
{
    MarksImgModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addImages({Marked("m.png", {"b"}), Marked("c.png", {"b"})});
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
    model.addImages(
        {Marked("a.png", {"b"}), Marked("z.png", {"b"}), Marked("k.png", {"c"}), Marked("d.png", {"a"})});
    QCOMPARE(Tree(model),
             (QStringList{"a（1张）:d.png", "b（4张）:a.png,c.png,m.png,z.png", "c（1张）:k.png"}));
    QCOMPARE(layout.count(), 0);
}

void tst_ImgModels::naturalOrder_data()
{
    QTest::addColumn<QStringList>("batches");
    QTest::addColumn<QString>("expected");
    QTest::newRow("numbers by value")
        << QStringList{"img_10.png,img_2.png,img_1.png"} << "img_1.png,img_2.png,img_10.png";
    QTest::newRow("batches merge") << QStringList{"img_0034.png,img_0014.png", "img_0025.png,img_0001.png",
                                                  "img_0100.png"}
                                   << "img_0001.png,img_0014.png,img_0025.png,img_0034.png,img_0100.png";
    QTest::newRow("case and leading zeros")
        << QStringList{"B2.png,a10.png", "a02.png,A2.png"} << "A2.png,a02.png,a10.png,B2.png";
    QTest::newRow("shorter stem first")
        << QStringList{"imgs.png", "img.png,im.png"} << "im.png,img.png,imgs.png";
    QTest::newRow("long numbers") << QStringList{"p99999999999999999999.png,p100000000000000000000.png"}
                                  << "p99999999999999999999.png,p100000000000000000000.png";
}

void tst_ImgModels::naturalOrder()
{
    QFETCH(QStringList, batches);
    QFETCH(QString, expected);
    SourceImgModel model;
    StatusFilterProxyModel proxy;
    proxy.setSourceModel(&model);
    MarksImgModel tree;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester proxyTester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester treeTester(&tree, QAbstractItemModelTester::FailureReportingMode::QtTest);
    proxy.setFilterStatus(kWait);
    for (const QString& batch : batches)
    {
        Records listed;
        Records marked;
        for (const QString& name : batch.split(','))
        {
            listed << Img(name);
            marked << Marked(name, {"x"});
        }
        model.appendImages(listed);
        tree.addImages(marked);
    }
    QStringList shown;
    for (int row = 0; row < proxy.rowCount(); ++row)
        shown << proxy.index(row, SourceImgModel::kNameColumn).data().toString();
    QCOMPARE(shown.join(','), expected);
    QCOMPARE(Tree(tree), QStringList{QStringLiteral("x（%1张）:").arg(shown.size()) + expected});
}

// Both lists take a record's kept sort key only when it was made for the record's present path.
void tst_ImgModels::keptSortKeys()
{
    SourceImgModel model;
    StatusFilterProxyModel proxy;
    proxy.setSourceModel(&model);
    MarksImgModel tree;
    QAbstractItemModelTester proxyTester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    proxy.setFilterStatus(kWait);
    Records listed{Img("img_10.png"), Img("img_2.png"), Img("img_3.png")};
    Records marked{Marked("img_10.png", {"x"}), Marked("img_2.png", {"x"}), Marked("img_3.png", {"x"})};
    const QString early = "/nowhere/img_1.png";
    for (const Records& records : {listed, marked})
    {
        // Made for a path the record no longer has: taken, it would put img_10 first.
        records[0]->sortKey = ImageOrder::SortKey(early);
        // Made for its present path, placing it as img_1 would be: taken, it puts img_3 first.
        records[2]->sortKey = ImageOrder::SortKey(early).chopped(early.size()) + records[2]->path;
    }
    model.appendImages(listed);
    tree.addImages(marked);
    QStringList shown;
    for (int row = 0; row < proxy.rowCount(); ++row)
        shown << proxy.index(row, SourceImgModel::kNameColumn).data().toString();
    QCOMPARE(shown.join(','), QString("img_3.png,img_2.png,img_10.png"));
    QCOMPARE(Tree(tree), QStringList{"x（3张）:img_3.png,img_2.png,img_10.png"});
}

void tst_ImgModels::treeRemoveAndIndexes()
{
    MarksImgModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addImages({Marked("a.png", {"x"}), Marked("b.png", {"x"}), Marked("c.png", {"y"})});
    QList<QModelIndex> indexes = model.imageIndexes();
    QCOMPARE(indexes.size(), 3);
    QCOMPARE(indexes.at(2).data().toString(), QStringLiteral("c.png"));

    // Removing the last image of a group keeps the group, counting 0.
    model.removeImage(indexes.at(2));
    QCOMPARE(Tree(model), (QStringList{"x（2张）:a.png,b.png", "y（0张）:"}));
    indexes = model.imageIndexes();
    QCOMPARE(indexes.size(), 2);
    model.removeImage(indexes.at(0));
    indexes = model.imageIndexes();
    QCOMPARE(indexes.size(), 1);
    QCOMPARE(indexes.at(0).data().toString(), QStringLiteral("b.png"));

    // Group nodes and invalid indexes are not removed.
    model.removeImage(model.index(0, 0));
    model.removeImage(QModelIndex());
    QCOMPARE(model.rowCount(), 2);

    model.addImages({Marked("0.png", {"y"})});
    QCOMPARE(model.imageIndexes().size(), 2);
    model.clearTree();
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(model.imageIndexes().isEmpty());
}

void tst_ImgModels::treeReload()
{
    MarksImgModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.reload();
    QCOMPARE(model.rowCount(), 0);

    QTemporaryDir ws;
    OpenProject(ws);
    const auto core = PrjIns().lock();
    for (const auto& img :
         {Marked("b.png", {"x", ""}), Marked("a.png", {"x"}), Marked("ok.png", {}, true), Img("plain.png")})
        core->AddImage(img);
    model.includeUnmarked = true;
    model.reload();
    // From the project an empty title is a group of its own; records without ROIs or OK are left out.
    QCOMPARE(Tree(model), (QStringList{"（1张）:b.png", "OK（1张）:ok.png", "x（2张）:a.png,b.png"}));
    ReleaseNexil();
}

void tst_ImgModels::treeNeighbour_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<QString>("expected");
    // Tree order: group x holds a.png, b.png; group y holds c.png.
    QTest::newRow("next within a group") << "a.png" << true << "b.png";
    QTest::newRow("next across groups") << "b.png" << true << "c.png";
    QTest::newRow("next after the last wraps") << "c.png" << true << "a.png";
    QTest::newRow("previous before the first wraps") << "a.png" << false << "c.png";
    QTest::newRow("previous across groups") << "c.png" << false << "b.png";
    QTest::newRow("next from a group node") << "x" << true << "a.png";
    QTest::newRow("previous from nothing") << "" << false << "c.png";
}

void tst_ImgModels::treeNeighbour()
{
    QFETCH(QString, current);
    QFETCH(bool, forward);
    QFETCH(QString, expected);

    MarksImgModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(!model.neighbour(QModelIndex(), forward).isValid());
    model.addImages({Marked("c.png", {"y"}), Marked("b.png", {"x"}), Marked("a.png", {"x"})});
    QModelIndex from;
    if (current == "x")
        from = model.index(0, 0);
    for (const QModelIndex& image : model.imageIndexes())
    {
        if (image.data().toString() == current)
            from = image;
    }
    QCOMPARE(model.neighbour(from, forward).data().toString(), expected);
}

void tst_ImgModels::roiList()
{
    ImgROIListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto first = std::make_shared<RectROIItem>(QRectF(), 0, "first");
    auto second = std::make_shared<PolygonROIItem>(QPolygonF(), 0, "second");
    auto gone = std::make_shared<RectROIItem>(QRectF(), 0, "gone");
    model.addItem(first);
    model.addItem(gone);
    model.addItem(second);
    gone.reset();
    second->setSelected(true);

    QCOMPARE(model.index(0).data().toString(), QStringLiteral("first"));
    QVERIFY(!model.index(0).data(Qt::DecorationRole).isValid());
    QVERIFY(!model.index(2).data(Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(!model.index(1).data().isValid());
    QCOMPARE(model.indexOfItem(second).row(), 2);
    // A ROI that is gone matches the first row whose ROI is gone.
    QCOMPARE(model.indexOfItem(std::weak_ptr<ROIItem>()).row(), 1);
    QVERIFY(!model.indexOfItem(std::make_shared<RectROIItem>(QRectF(), 0, "x")).isValid());
    QCOMPARE(model.itemAt(0).lock(), std::shared_ptr<ROIItem>(first));
    QVERIFY(model.itemAt(3).expired());

    ROIListDelegate delegate;
    QStyleOptionViewItem option;
    QStyledItemDelegate plain;
    QCOMPARE(delegate.sizeHint(option, model.index(0)),
             plain.sizeHint(option, model.index(0)) + QSize(48, 0));

    QSignalSpy cleared(&model, &ImgROIListModel::allItemsCleared);
    model.clearItems();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(cleared.count(), 1);
}

void tst_ImgModels::roiListColours()
{
    ImgROIListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto b = std::make_shared<RectROIItem>(QRectF(), 0, "b");
    auto a = std::make_shared<RectROIItem>(QRectF(), 0, "a");
    model.addItem(b);
    model.addItem(a);
    QCOMPARE(model.index(1).data(ImgROIListModel::kColorRole).value<QColor>(), CategoryPalette::Unknown());
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setCategories({"a", "b"});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.index(0).data(ImgROIListModel::kColorRole).value<QColor>(), CategoryPalette::At(1));
    QCOMPARE(model.index(1).data(ImgROIListModel::kColorRole).value<QColor>(), CategoryPalette::At(0));
    model.setCategories({"a", "b"});
    QCOMPARE(changed.count(), 1);
}

QTEST_MAIN(tst_ImgModels)
#include "tst_ImgModels.moc"
