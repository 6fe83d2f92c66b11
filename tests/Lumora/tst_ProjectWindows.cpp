#include "MsgWndProbe.h"
#include "ProjectRecord.h"
#include "ShownWindows.h"

#include "projects/ProInfoWid.h"
#include "projects/ProMngWid.h"
#include "projects/ProjectViewModel.h"

#include "ComUi/CMsgWnd.h"
#include "ComUi/Skin.h"
#include "Nexil/NexilApi.h"

#include <QAbstractItemModelTester>
#include <QButtonGroup>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGridLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolButton>
#include <QToolTip>
#include <QtTest>

namespace
{

QStringList Names(const QAbstractItemModel* model)
{
    QStringList names;
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->index(row, 0).data().toString();
    return names;
}

// The tool tip shown when the pointer rests at pos of the widget; empty when none is shown.
QString TipAt(QWidget* widget, const QPoint& pos)
{
    QToolTip::hideText();
    // A tip fades out; a new one would take over the fading label.
    if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }))
        return "<tip stays>";
    QHelpEvent help(QEvent::ToolTip, pos, widget->mapToGlobal(pos));
    QApplication::sendEvent(widget, &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

QString FocusName()
{
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
}

// As the system delivers it: a click, then a press that comes as a double click.
void DoubleClick(QWidget* widget, const QPoint& pos)
{
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseDClick(widget, Qt::LeftButton, Qt::NoModifier, pos);
}

} // namespace

class tst_ProjectWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void model();
    void modelData();
    void listFillsAfterDelay();
    void keywordSearch_data();
    void keywordSearch();
    void doubleClickOpens();
    void doubleClickOutsideRows_data();
    void doubleClickOutsideRows();
    void deleteProject_data();
    void deleteProject();
    void deleteWithoutCurrentRow();
    void contextMenuOnRowsOnly();
    void newProjectRefreshesList_data();
    void newProjectRefreshesList();
    void newProjectNames_data();
    void newProjectNames();
    void newProjectCatalogueClosed();
    void newProjectRecord_data();
    void newProjectRecord();
    void escKeepsManagerOpen_data();
    void escKeepsManagerOpen();
    void enterInManager_data();
    void enterInManager();
    void unopenableProject_data();
    void unopenableProject();
    void longCellsStayOnOneLine();
    void dialogKeys();
    void dialogEsc();
    void newProjectNeedsType();

private:
    std::shared_ptr<INexil> Core() const { return NexilIns().lock(); }
    // A shown, active manager with the three projects listed.
    void ShowManager(ProMngWid& wid);
    QTableView* Table(ProMngWid& wid) const { return wid.findChild<QTableView*>("tableView"); }
    // Saves the dialog with this name, type button (-1: none) and notes.
    void Fill(ProInfoWid& dlg, const QString& name, int typeButton, const QString& notes);
    // Waits for the delayed first fill of a manager just built, so that it cannot refill the list
    // in the middle of a case, however slowly the machine runs.
    static bool FirstFillDone(ProMngWid& wid);

    std::unique_ptr<QTemporaryDir> m_ws;
};

void tst_ProjectWindows::initTestCase()
{
    InitComUiResources();
}

void tst_ProjectWindows::init()
{
    m_ws = std::make_unique<QTemporaryDir>();
    QVERIFY(m_ws->isValid());
    CreateNexil();
    QVERIFY(Core()->Init(m_ws->path()));
    QVERIFY(Core()->AddPro(MakeInfo("A1", "abcd", 1, "")));
    QVERIFY(Core()->AddPro(MakeInfo("A2", "xyz", 2, "1bc2")));
    QVERIFY(Core()->AddPro(MakeInfo("A3", "other", 2, "note")));
}

void tst_ProjectWindows::cleanup()
{
    ReleaseNexil();
    m_ws.reset();
}

void tst_ProjectWindows::Fill(ProInfoWid& dlg, const QString& name, int typeButton, const QString& notes)
{
    dlg.findChild<QLineEdit*>("edtName")->setText(name);
    const auto buttons = dlg.findChild<QWidget*>("gridLayoutWidget")->findChildren<QRadioButton*>();
    // A click in the middle of a radio button misses it when its text is drawn narrower than the
    // button, as it is in other fonts; click() presses it wherever its text ends.
    if (typeButton >= 0)
        buttons.at(typeButton)->click();
    dlg.findChild<QTextEdit*>("edtTips")->setPlainText(notes);
    QTest::mouseClick(dlg.findChild<QPushButton*>("btnSave"), Qt::LeftButton);
}

bool tst_ProjectWindows::FirstFillDone(ProMngWid& wid)
{
    QSignalSpy filled(wid.findChild<QTableView*>("tableView")->model(), &QAbstractItemModel::modelReset);
    return filled.wait(30000);
}

void tst_ProjectWindows::ShowManager(ProMngWid& wid)
{
    wid.show();
    QVERIFY(QTest::qWaitForWindowActive(&wid));
    QTRY_COMPARE_WITH_TIMEOUT(Table(wid)->model()->rowCount(), 3, 30000);
}

void tst_ProjectWindows::model()
{
    ProjectViewModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.SetHeaders({"名称", "类型", "备注", "状态"});
    const auto one = MakeInfo("1", "one", 1, "");
    const auto two = MakeInfo("2", "two", 2, "");
    model.AddProject(one);
    model.AddProject(two);
    // The very same record is not listed twice; an equal copy is.
    model.AddProject(one);
    QCOMPARE(model.rowCount(), 2);
    model.AddProject(MakeInfo("1", "one", 1, ""));
    QCOMPARE(model.rowCount(), 3);
    model.AddProject(nullptr);
    QCOMPARE(model.rowCount(), 3);

    QCOMPARE(model.ProjectAt(model.index(1, 3)), two);
    QVERIFY(!model.ProjectAt(QModelIndex()));
    model.RemoveProject(QModelIndex());
    QCOMPARE(model.rowCount(), 3);
    model.RemoveProject(model.index(0, 0));
    QCOMPARE(Names(&model), (QStringList{"two", "one"}));
    model.ClearProjects();
    QCOMPARE(model.rowCount(), 0);
}

void tst_ProjectWindows::modelData()
{
    ProjectViewModel model;
    model.SetHeaders({"名称", "类型", "备注", "状态"});
    auto spPInfo = MakeInfo("ID7", "name", 2, "tips");
    spPInfo->status = "busy";
    model.AddProject(spPInfo);
    model.AddProject(MakeInfo("ID8", "typeless", 0, ""));

    QCOMPARE(model.columnCount(), 4);
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QString("备注"));
    QCOMPARE(model.headerData(1, Qt::Vertical).toInt(), 2);
    const QStringList shown{model.index(0, 0).data().toString(), model.index(0, 1).data().toString(),
                            model.index(0, 2).data().toString(), model.index(0, 3).data().toString()};
    QCOMPARE(shown, (QStringList{"name", "目标", "tips", "busy"}));
    QCOMPARE(model.index(1, 1).data().toString(), QString());
    QCOMPARE(model.index(0, 0).data(ProjectViewModel::IdRole).toString(), QString("ID7"));
    QCOMPARE(ProjectViewModel::IdRole, 257);
    QVERIFY(!model.index(0, 1).data(ProjectViewModel::IdRole).isValid());
    QCOMPARE(model.index(1, 2).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
    QVERIFY(!model.index(0, 0).data(Qt::ToolTipRole).isValid());

    // The type's name comes from the core library at each paint.
    ReleaseNexil();
    QCOMPARE(model.index(0, 1).data().toString(), QString());
}

void tst_ProjectWindows::listFillsAfterDelay()
{
    // Measured from before the window is built, the delay is a lower bound whatever the machine's load.
    QElapsedTimer clock;
    clock.start();
    ProMngWid wid;
    auto* model = Table(wid)->model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model->rowCount(), 0);
    qint64 filledAt = -1;
    connect(model, &QAbstractItemModel::rowsInserted, &wid,
            [&]
            {
                if (filledAt < 0)
                    filledAt = clock.elapsed();
            });
    QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(), 3, 30000);
    // A coarse timer may fire up to 5 % early.
    QVERIFY2(filledAt >= ProMngWid::kInitialFillMs * 95 / 100, qPrintable(QString::number(filledAt)));
    QCOMPARE(Names(model), (QStringList{"abcd", "xyz", "other"}));
}

void tst_ProjectWindows::keywordSearch_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("empty lists all") << "" << QStringList{"abcd", "xyz", "other"};
    QTest::newRow("middle of a name or in notes") << "bc" << QStringList{"abcd", "xyz"};
    QTest::newRow("other letter case") << "BC" << QStringList();
    QTest::newRow("notes only") << "not" << QStringList{"other"};
    QTest::newRow("not trimmed") << " bc" << QStringList();
    QTest::newRow("nowhere") << "zz" << QStringList();
}

void tst_ProjectWindows::keywordSearch()
{
    QFETCH(QString, keyword);
    QFETCH(QStringList, names);

    ProMngWid wid;
    wid.findChild<QLineEdit*>("edtKeyWord")->setText(keyword);
    QTest::mouseClick(wid.findChild<QToolButton*>("btnSchPro"), Qt::LeftButton);
    QCOMPARE(Names(Table(wid)->model()), names);
    // Searching again lists each project once.
    QTest::mouseClick(wid.findChild<QToolButton*>("btnSchPro"), Qt::LeftButton);
    QCOMPARE(Names(Table(wid)->model()), names);
}

void tst_ProjectWindows::doubleClickOpens()
{
    ProMngWid wid;
    wid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&wid));
    QTableView* table = Table(wid);
    QTRY_COMPARE(table->model()->rowCount(), 3);

    const QRect cell = table->visualRect(table->model()->index(1, 2));
    DoubleClick(table->viewport(), cell.center());
    QCOMPARE(wid.result(), int(QDialog::Accepted));
    QVERIFY(!wid.isVisible());
    const auto spPrj = PrjIns().lock();
    QVERIFY(spPrj);
    QCOMPARE(spPrj->PrjInfo()->id, QString("A2"));
}

void tst_ProjectWindows::doubleClickOutsideRows_data()
{
    QTest::addColumn<bool>("onHeader");
    QTest::newRow("empty space") << false;
    QTest::newRow("header") << true;
}

void tst_ProjectWindows::doubleClickOutsideRows()
{
    QFETCH(bool, onHeader);

    ProMngWid wid;
    wid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&wid));
    QTableView* table = Table(wid);
    QTRY_COMPARE(table->model()->rowCount(), 3);

    if (onHeader)
    {
        QHeaderView* header = table->horizontalHeader();
        DoubleClick(header->viewport(), QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
    }
    else
    {
        const QRect last = table->visualRect(table->model()->index(2, 0));
        const QPoint below(last.center().x(), last.bottom() + last.height());
        QVERIFY(below.y() < table->viewport()->height());
        QVERIFY(!table->indexAt(below).isValid());
        DoubleClick(table->viewport(), below);
    }
    QCOMPARE(wid.result(), 0);
    QVERIFY(wid.isVisible());
    QVERIFY(PrjIns().expired());
}

void tst_ProjectWindows::deleteProject_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("confirmed") << true;
    QTest::newRow("cancelled") << false;
}

void tst_ProjectWindows::deleteProject()
{
    QFETCH(bool, confirm);

    const QString folder = m_ws->path() + "/xyz";
    QVERIFY(QDir().mkpath(folder));
    ProMngWid wid;
    QVERIFY(FirstFillDone(wid));
    QTableView* table = Table(wid);
    table->setCurrentIndex(table->model()->index(1, 2));

    MsgWndProbe probe(confirm);
    wid.Slot_DelPrjItem(false);

    QCOMPARE(probe.Messages().size(), 1);
    QCOMPARE(probe.Messages().first().title, QString("提示"));
    QCOMPARE(probe.Messages().first().text, QString("删除：xyz\n工程删除后工程目录需手动删除，确定删除吗？"));
    QCOMPARE(probe.Messages().first().kind, int(NOTIFY_QUERY));

    const QStringList expected = confirm ? QStringList{"abcd", "other"} : QStringList{"abcd", "xyz", "other"};
    QCOMPARE(Names(table->model()), expected);
    QStringList catalogue;
    for (const auto& spPInfo : Core()->ProList())
        catalogue << spPInfo->name;
    QCOMPARE(catalogue, expected);
    QFile json(m_ws->path() + "/AIProject.json");
    QVERIFY(json.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(json.readAll()).object().value("projects").toArray().size(),
             expected.size());
    // The project's folder is the user's to remove.
    QVERIFY(QDir(folder).exists());
}

void tst_ProjectWindows::deleteWithoutCurrentRow()
{
    ProMngWid wid;
    QVERIFY(FirstFillDone(wid));
    MsgWndProbe probe;
    wid.Slot_DelPrjItem(false);
    QCoreApplication::processEvents();
    QVERIFY(probe.Messages().isEmpty());
    QCOMPARE(Table(wid)->model()->rowCount(), 3);
    QCOMPARE(Core()->ProList().size(), 3);
}

void tst_ProjectWindows::contextMenuOnRowsOnly()
{
    ProMngWid wid;
    QVERIFY(FirstFillDone(wid));
    wid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&wid));
    QTableView* table = Table(wid);
    auto* menu = wid.findChild<QMenu*>();
    QVERIFY(menu);

    const QRect last = table->visualRect(table->model()->index(2, 0));
    wid.Slot_ShowContextMenu(QPoint(last.center().x(), last.bottom() + last.height()));
    QVERIFY(!menu->isVisible());
    wid.Slot_ShowContextMenu(last.center());
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().first()->text(), QString("删除"));
    menu->close();
}

void tst_ProjectWindows::newProjectRefreshesList_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("saved") << true << "" << QStringList{"abcd", "xyz", "other", "abc2", "new"};
    QTest::newRow("closed") << false << "" << QStringList{"abcd", "xyz", "other", "abc2"};
    QTest::newRow("saved, keyword in force") << true << "bc" << QStringList{"abcd", "xyz", "abc2"};
}

void tst_ProjectWindows::newProjectRefreshesList()
{
    QFETCH(bool, save);
    QFETCH(QString, keyword);
    QFETCH(QStringList, names);

    ProMngWid wid;
    wid.findChild<QLineEdit*>("edtKeyWord")->setText(keyword);
    QVERIFY(FirstFillDone(wid));
    // A project the list has not seen yet: whatever shows it afterwards is the refresh.
    QVERIFY(Core()->AddPro(MakeInfo("A4", "abc2", 1, "")));
    QVERIFY(!Names(Table(wid)->model()).contains("abc2"));
    WhenShown<ProInfoWid>(this,
                          [this, save](ProInfoWid* dlg)
                          {
                              if (save)
                                  Fill(*dlg, "new", 1, "");
                              else
                                  QTest::mouseClick(dlg->findChild<QPushButton*>("btnClose"), Qt::LeftButton);
                          });
    wid.Slot_BtnNewPrjClicked();
    // New ids are random, so the new project's place in the id order is too.
    QStringList shown = Names(Table(wid)->model());
    shown.sort();
    names.sort();
    QCOMPARE(shown, names);
    QCOMPARE(!Core()->ProIdByName("new").isEmpty(), save);
}

void tst_ProjectWindows::newProjectNames_data()
{
    const QString unsafe = "工程名不能包含 \\ / : * ? \" < > | 或控制字符，\n"
                           "不能是“.”、“..”或系统保留名（如CON、NUL），\n也不能以点或空格结尾。";
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message"); // empty: saved
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("stored");

    QTest::newRow("blank") << "   "
                           << "保存失败！\n请输入工程名称。" << int(NOTIFY_ABOUT) << "";
    QTest::newRow("empty") << ""
                           << "保存失败！\n请输入工程名称。" << int(NOTIFY_ABOUT) << "";
    QTest::newRow("duplicate after trimming") << "  abcd\t"
                                              << "工程名已存在，请更换。" << int(NOTIFY_WARNING) << "";
    QTest::newRow("other letter case") << "ABCD"
                                       << "" << 0 << "ABCD";
    QTest::newRow("trimmed when stored") << "  晶圆 检测  "
                                         << "" << 0 << "晶圆 检测";
    QTest::newRow("slash") << "a/b" << unsafe << int(NOTIFY_WARNING) << "";
    QTest::newRow("backslash") << "a\\b" << unsafe << int(NOTIFY_WARNING) << "";
    QTest::newRow("parent folder") << ".." << unsafe << int(NOTIFY_WARNING) << "";
    QTest::newRow("star") << "a*" << unsafe << int(NOTIFY_WARNING) << "";
    QTest::newRow("tab inside") << "a\tb" << unsafe << int(NOTIFY_WARNING) << "";
    QTest::newRow("trailing dot") << "abc." << unsafe << int(NOTIFY_WARNING) << "";
    QTest::newRow("longest") << QString(85, QChar(0x6676)) << "" << 0 << QString(85, QChar(0x6676));
    QTest::newRow("too long") << QString(86, QChar(0x6676))
                              << "工程名过长，请缩短（最多255字节，一个汉字占3字节）。" << int(NOTIFY_WARNING)
                              << "";
    // "%ws" stands for the workspace, where a deleted project left its folder "旧工程".
    QTest::newRow("folder left in the workspace")
        << "旧工程"
        << "工程目录已存在：%ws/旧工程\n请更换工程名，或先移走该目录。" << int(NOTIFY_WARNING) << "";
}

void tst_ProjectWindows::newProjectNames()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    QFETCH(int, kind);
    QFETCH(QString, stored);

    message.replace("%ws", QDir::toNativeSeparators(m_ws->path()));
    QVERIFY(QDir(m_ws->path()).mkpath("旧工程/datas"));
    ProInfoWid dlg;
    dlg.show();
    MsgWndProbe probe;
    Fill(dlg, name, 1, "");

    if (message.isEmpty())
    {
        QVERIFY(probe.Messages().isEmpty());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(!Core()->ProIdByName(stored).isEmpty());
        QCOMPARE(Core()->ProList().size(), 4);
    }
    else
    {
        QCOMPARE(probe.Messages().size(), 1);
        QCOMPARE(probe.Messages().first().title, QString("提示"));
        QCOMPARE(probe.Messages().first().text, message);
        QCOMPARE(probe.Messages().first().kind, kind);
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.result(), 0);
        QCOMPARE(Core()->ProList().size(), 3);
    }
}

void tst_ProjectWindows::newProjectCatalogueClosed()
{
    // Init failed on a damaged catalogue: the dialog must not close as if the project were saved.
    ReleaseNexil();
    QTemporaryDir ws;
    QFile garbage(ws.filePath("AIPrj.db"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(2048, 'z'));
    garbage.close();
    CreateNexil();
    QVERIFY(!Core()->Init(ws.path()));

    ProInfoWid dlg;
    dlg.show();
    MsgWndProbe probe;
    Fill(dlg, "new", 1, "");

    QCOMPARE(probe.Messages().size(), 1);
    QCOMPARE(probe.Messages().first().title, QString("错误"));
    QCOMPARE(probe.Messages().first().text, "工程保存失败。\n原因：" + Core()->LastError());
    QVERIFY(!Core()->LastError().isEmpty());
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.result(), 0);
    QVERIFY(Core()->ProList().isEmpty());
}

void tst_ProjectWindows::newProjectRecord_data()
{
    QTest::addColumn<int>("typeButton");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("notes");

    QTest::newRow("segment") << 0 << 1 << "";
    QTest::newRow("object, notes with line breaks") << 1 << 2 << "  first\n\nsecond line \n";
}

void tst_ProjectWindows::newProjectRecord()
{
    QFETCH(int, typeButton);
    QFETCH(int, type);
    QFETCH(QString, notes);

    ProInfoWid dlg;
    auto* grid = dlg.findChild<QGridLayout*>("gridType");
    QCOMPARE(grid->count(), 2);
    auto* first = qobject_cast<QRadioButton*>(grid->itemAtPosition(0, 0)->widget());
    auto* second = qobject_cast<QRadioButton*>(grid->itemAtPosition(0, 1)->widget());
    QCOMPARE(first->text(), QString("分割"));
    QCOMPARE(second->text(), QString("目标"));
    QVERIFY(!first->isChecked() && !second->isChecked());

    Fill(dlg, "new", typeButton, notes);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    const QString id = Core()->ProIdByName("new");
    std::shared_ptr<pro::info> spPInfo;
    for (const auto& p : Core()->ProList())
    {
        if (p->id == id)
            spPInfo = p;
    }
    QVERIFY(spPInfo);
    QCOMPARE(spPInfo->type, type);
    QCOMPARE(spPInfo->tips, notes);
    QVERIFY(QRegularExpression("^[0-9A-F]{11,32}$").match(spPInfo->id).hasMatch());
    QVERIFY(QRegularExpression("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$")
                .match(spPInfo->createTime)
                .hasMatch());
    QCOMPARE(spPInfo->lastUsedTime, spPInfo->createTime);
    QVERIFY(spPInfo->status.isEmpty());
}

void tst_ProjectWindows::escKeepsManagerOpen_data()
{
    QTest::addColumn<QString>("focus");
    QTest::newRow("search field") << "edtKeyWord";
    QTest::newRow("table") << "tableView";
}

void tst_ProjectWindows::escKeepsManagerOpen()
{
    QFETCH(QString, focus);

    ProMngWid wid;
    ShowManager(wid);
    QCOMPARE(wid.windowTitle(), QString("工程管理"));
    auto* field = wid.findChild<QLineEdit*>("edtKeyWord");
    QTest::keyClicks(field, "bc");
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(Table(wid)->model()->rowCount(), 2);

    // The first Esc clears the keyword and lists all again, the second does nothing.
    for (int i = 0; i < 2; ++i)
    {
        QTest::keyClick(wid.findChild<QWidget*>(focus), Qt::Key_Escape);
        QVERIFY(wid.isVisible());
        QCOMPARE(field->text(), QString());
        QCOMPARE(Table(wid)->model()->rowCount(), 3);
    }
}

void tst_ProjectWindows::enterInManager_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<int>("downs"); // Down presses first
    QTest::addColumn<int>("listed");
    QTest::addColumn<QString>("opened"); // id, empty: nothing opened

    QTest::newRow("search field searches") << "edtKeyWord"
                                           << "bc" << 0 << 2 << "";
    QTest::newRow("search button searches") << "btnSchPro"
                                            << "bc" << 0 << 2 << "";
    // Entering the table by keyboard selects its first row.
    QTest::newRow("first row opens") << "tableView"
                                     << "" << 0 << 3 << "A1";
    QTest::newRow("selected row opens") << "tableView"
                                        << "" << 1 << 3 << "A2";
    QTest::newRow("empty table") << "tableView"
                                 << "zz" << 0 << 0 << "";
}

void tst_ProjectWindows::enterInManager()
{
    QFETCH(QString, focus);
    QFETCH(QString, keyword);
    QFETCH(int, downs);
    QFETCH(int, listed);
    QFETCH(QString, opened);

    ProMngWid wid;
    ShowManager(wid);
    auto* field = wid.findChild<QLineEdit*>("edtKeyWord");
    field->setText(keyword);
    if (focus == "tableView")
        QTest::keyClick(field, Qt::Key_Return);
    bool newDialog = false;
    QObject watch; // ends with this test
    WhenShown<ProInfoWid>(&watch,
                          [&newDialog](ProInfoWid* dlg)
                          {
                              newDialog = true;
                              dlg->reject();
                          });
    auto* target = wid.findChild<QWidget*>(focus);
    target->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < downs; ++i)
        QTest::keyClick(target, Qt::Key_Down);
    QTest::keyClick(target, Qt::Key_Return);
    QTest::keyClick(target, Qt::Key_Enter);

    QVERIFY(!newDialog);
    QCOMPARE(Table(wid)->model()->rowCount(), listed);
    QCOMPARE(wid.result(), opened.isEmpty() ? 0 : int(QDialog::Accepted));
    const auto spPrj = PrjIns().lock();
    QCOMPARE(spPrj ? spPrj->PrjInfo()->id : QString(), opened);
}

void tst_ProjectWindows::unopenableProject_data()
{
    QTest::addColumn<QString>("file");     // made in the workspace before opening
    QTest::addColumn<QByteArray>("bytes"); // its content
    QTest::addColumn<bool>("opens");

    QTest::newRow("fine") << "" << QByteArray() << true;
    QTest::newRow("empty database") << "xyz/PrjData.db" << QByteArray() << true;
    QTest::newRow("file in place of the folder") << "xyz" << QByteArray("x") << false;
    QTest::newRow("database is a folder") << "xyz/PrjData.db/x" << QByteArray("x") << false;
    QTest::newRow("no database") << "xyz/PrjData.db" << QByteArray("not SQLite") << false;
}

void tst_ProjectWindows::unopenableProject()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, opens);

    if (!file.isEmpty())
    {
        QVERIFY(QDir(m_ws->path()).mkpath(QFileInfo(file).path()));
        QFile blocker(m_ws->path() + "/" + file);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.write(bytes);
    }
    ProMngWid wid;
    ShowManager(wid);
    QTableView* table = Table(wid);
    table->setFocus(Qt::TabFocusReason);
    QTest::keyClick(table, Qt::Key_Down);
    MsgWndProbe probe;
    QTest::keyClick(table, Qt::Key_Return);

    QCOMPARE(wid.result(), opens ? int(QDialog::Accepted) : 0);
    QCOMPARE(PrjIns().expired(), !opens);
    QCOMPARE(probe.Messages().size(), opens ? 0 : 1);
    if (!opens)
    {
        QCOMPARE(probe.Messages().first().title, QString("错误"));
        QVERIFY2(probe.Messages().first().text.contains(m_ws->path() + "/xyz"),
                 qPrintable(probe.Messages().first().text));
        QVERIFY(wid.isVisible());
    }
}

void tst_ProjectWindows::longCellsStayOnOneLine()
{
    const QString longName(255, 'L');
    const QString lines = QString("line\n").repeated(50);
    QVERIFY(Core()->AddPro(MakeInfo("A4", longName, 1, lines)));
    ProMngWid wid;
    wid.show();
    QTableView* table = Table(wid);
    QTRY_COMPARE(table->model()->rowCount(), 4);

    const auto tipOf = [table](int row, int column)
    { return TipAt(table->viewport(), table->visualRect(table->model()->index(row, column)).center()); };
    QCOMPARE(tipOf(2, 2), QString());
    QCOMPARE(tipOf(3, 0), longName);
    QCOMPARE(tipOf(3, 2), lines);
    // Fifty lines of notes take the height of one.
    QStyleOptionViewItem option;
    option.initFrom(table);
    QCOMPARE(table->itemDelegate()->sizeHint(option, table->model()->index(3, 2)).height(),
             table->itemDelegate()->sizeHint(option, table->model()->index(2, 2)).height());
}

void tst_ProjectWindows::dialogKeys()
{
    ProInfoWid dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QCOMPARE(dlg.windowTitle(), QString("新建工程"));
    const auto types = dlg.findChild<QWidget*>("gridLayoutWidget")->findChildren<QRadioButton*>();
    types.at(0)->setObjectName("type1");
    types.at(1)->setObjectName("type2");
    auto* name = dlg.findChild<QLineEdit*>("edtName");
    name->setFocus();

    // The type buttons are one stop, as radio buttons are; the arrow keys move between them. Tab leaves
    // the notes instead of typing into them.
    QStringList seen{FocusName()};
    for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Right, Qt::Key_Tab, Qt::Key_A, Qt::Key_Tab, Qt::Key_Backtab,
                        Qt::Key_Backtab, Qt::Key_Backtab})
    {
        QTest::keyClick(QApplication::focusWidget(), key);
        if (key != Qt::Key_A)
            seen << FocusName();
    }
    QCOMPARE(seen,
             (QStringList{"edtName", "type1", "type2", "edtTips", "btnSave", "edtTips", "type2", "edtName"}));
    QCOMPARE(dlg.findChild<QTextEdit*>("edtTips")->toPlainText(), QString("a"));

    // Enter in the name saves once: a second save would meet the name just stored.
    MsgWndProbe probe;
    QTest::keyClick(types.at(1), Qt::Key_Space);
    QVERIFY(types.at(1)->isChecked());
    QTest::keyClicks(name, "keyboard");
    QTest::keyClick(name, Qt::Key_Return);
    QVERIFY(probe.Messages().isEmpty());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    const auto added = Core()->ProList();
    QCOMPARE(added.size(), 4);
    QVERIFY(std::any_of(added.begin(), added.end(),
                        [](const auto& p)
                        { return p->name == "keyboard" && p->type == 2 && p->tips == "a"; }));
}

void tst_ProjectWindows::dialogEsc()
{
    // Esc asks before it throws typed notes away, and closes at once when nothing was typed.
    for (const QString& notes : {QString("n"), QString()})
    {
        ProInfoWid dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* edit = dlg.findChild<QTextEdit*>("edtTips");
        QTest::keyClicks(edit, notes);
        for (bool answerOk : {false, true})
        {
            MsgWndProbe probe(answerOk);
            QTest::keyClick(edit, Qt::Key_Escape);
            QCOMPARE(probe.Messages().size(), notes.isEmpty() ? 0 : 1);
            QCOMPARE(dlg.isVisible(), !answerOk && !notes.isEmpty());
            QCOMPARE(edit->toPlainText(), notes);
            if (!dlg.isVisible())
                break;
        }
    }
    QCOMPARE(Core()->ProList().size(), 3);
}

void tst_ProjectWindows::newProjectNeedsType()
{
    ProInfoWid dlg;
    dlg.show();
    MsgWndProbe probe;
    Fill(dlg, "new", -1, "x");
    QCOMPARE(probe.Messages().size(), 1);
    QCOMPARE(probe.Messages().first().text, QString("请选择工程类型"));
    QVERIFY(dlg.isVisible());
    QVERIFY(Core()->ProIdByName("new").isEmpty());

    // Choosing one afterwards saves with it.
    Fill(dlg, "new", 1, "x");
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(!Core()->ProIdByName("new").isEmpty());
}

QTEST_MAIN(tst_ProjectWindows)
#include "tst_ProjectWindows.moc"
