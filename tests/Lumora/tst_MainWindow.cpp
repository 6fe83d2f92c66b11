#include "Child.h"
#include "Lumora.h"
#include "ProjectRecord.h"

#include "ImgMarks/ImgMarksWid.h"
#include "ModelTesting/ModelTestingWid.h"
#include "ModelTesting/TestContainerWid.h"
#include "ModelTraining/ModelTrainingWid.h"

#include "ComUi/ElidedLabel.h"
#include "ComUi/Skin.h"
#include "Nexil/NexilApi.h"

#include <QFile>
#include <QHelpEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

namespace
{

// The tool tip the widget shows when the pointer rests at its centre; empty when it shows none.
QString TipOf(QWidget* widget)
{
    QToolTip::hideText();
    // A tip fades out; a new one would take over the fading label.
    if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }))
        return "<tip stays>";
    const QPoint centre = widget->rect().center();
    QHelpEvent help(QEvent::ToolTip, centre, widget->mapToGlobal(centre));
    QApplication::sendEvent(widget, &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void stripShowsNameAndNotes_data();
    void stripShowsNameAndNotes();
    void notesEditReachesCatalogue_data();
    void notesEditReachesCatalogue();
    void pages();
    void withoutOpenProject();
    void fitsTheScreen_data();
    void fitsTheScreen();
    void escCancelsNotesEdit_data();
    void escCancelsNotesEdit();

private:
    QString JsonNotes(const QString& name) const;
    void OpenProject(const QString& tips);

    std::unique_ptr<QTemporaryDir> m_ws;
};

void tst_MainWindow::initTestCase()
{
    InitComUiResources();
}

void tst_MainWindow::init()
{
    m_ws = std::make_unique<QTemporaryDir>();
    QVERIFY(m_ws->isValid());
    CreateNexil();
    QVERIFY(NexilIns().lock()->Init(m_ws->path()));
}

void tst_MainWindow::cleanup()
{
    ReleaseNexil();
    m_ws.reset();
}

void tst_MainWindow::OpenProject(const QString& tips)
{
    const auto spCore = NexilIns().lock();
    QVERIFY(spCore->AddPro(MakeInfo("P1", "螺丝", 2, tips)));
    QVERIFY(spCore->AddPro(MakeInfo("P2", "other", 2)));
    spCore->OpenPro("P1");
    QVERIFY(!PrjIns().expired());
}

QString tst_MainWindow::JsonNotes(const QString& name) const
{
    QFile file(m_ws->path() + "/AIProject.json");
    if (!file.open(QIODevice::ReadOnly))
        return "<no file>";
    for (const QJsonValue& project :
         QJsonDocument::fromJson(file.readAll()).object().value("projects").toArray())
    {
        if (project.toObject().value("name").toString() == name)
            return project.toObject().value("notes").toString();
    }
    return "<no project>";
}

void tst_MainWindow::stripShowsNameAndNotes_data()
{
    QTest::addColumn<QString>("tips");
    QTest::addColumn<QString>("shown");
    QTest::newRow("no notes") << ""
                              << "螺丝";
    QTest::newRow("notes") << "abc"
                           << "螺丝abc";
}

void tst_MainWindow::stripShowsNameAndNotes()
{
    QFETCH(QString, tips);
    QFETCH(QString, shown);

    OpenProject(tips);
    Lumora wnd;
    QCOMPARE(Child<QLabel>(wnd, "lbCurPrj")->text(), shown);
    QCOMPARE(Child<QLineEdit>(wnd, "edtModPrj")->text(), tips);
    QVERIFY(Child<QLineEdit>(wnd, "edtModPrj")->isHidden());
    QCOMPARE(Child<QPushButton>(wnd, "btnModPrj")->text(), QString("修改"));
}

void tst_MainWindow::notesEditReachesCatalogue_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::newRow("Return") << false;
    QTest::newRow("button") << true;
}

void tst_MainWindow::notesEditReachesCatalogue()
{
    QFETCH(bool, byButton);

    OpenProject("old");
    Lumora wnd;
    wnd.show();
    QVERIFY(QTest::qWaitForWindowActive(&wnd));
    auto* edit = Child<QLineEdit>(wnd, "edtModPrj");
    auto* label = Child<QLabel>(wnd, "lbCurPrj");
    auto* button = Child<QPushButton>(wnd, "btnModPrj");

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!edit->isHidden());
    QVERIFY(label->isHidden());
    QTRY_VERIFY(edit->hasFocus());
    QCOMPARE(button->text(), QString("完成"));

    edit->selectAll();
    QTest::keyClicks(edit, " abc ");
    if (byButton)
        QTest::mouseClick(button, Qt::LeftButton);
    else
        QTest::keyClick(edit, Qt::Key_Return);

    // The edit is over, whichever way it ended, and does not start again.
    QVERIFY(edit->isHidden());
    QVERIFY(!label->isHidden());
    QCOMPARE(button->text(), QString("修改"));
    QCOMPARE(label->text(), QString("螺丝 abc "));
    QCOMPARE(PrjIns().lock()->PrjInfo()->tips, QString(" abc "));
    QCOMPARE(JsonNotes("螺丝"), QString(" abc "));
    QCOMPARE(JsonNotes("other"), QString());
}

void tst_MainWindow::pages()
{
    OpenProject("");
    Lumora wnd;
    auto* pages = wnd.findChild<QStackedWidget*>();
    auto* testing = wnd.findChild<ModelTestingWid*>();
    QVERIFY(pages && testing);
    QSignalSpy reloads(testing->findChild<TestContainerWid*>(), &TestContainerWid::Signal_GetModels);
    QCOMPARE(pages->count(), 3);
    QVERIFY(qobject_cast<ImgMarksWid*>(pages->widget(0)));
    QVERIFY(qobject_cast<ModelTrainingWid*>(pages->widget(1)));
    QCOMPARE(pages->widget(2), testing);
    QVERIFY(qobject_cast<ImgMarksWid*>(pages->currentWidget()));
    QVERIFY(Child<QPushButton>(wnd, "btnImgMarks")->isChecked());

    QTest::mouseClick(Child<QPushButton>(wnd, "btnModelTraining"), Qt::LeftButton);
    QVERIFY(qobject_cast<ModelTrainingWid*>(pages->currentWidget()));
    QCOMPARE(reloads.size(), 0);

    QTest::mouseClick(Child<QPushButton>(wnd, "btnModelTesting"), Qt::LeftButton);
    QCOMPARE(pages->currentWidget(), testing);
    QCOMPARE(reloads.size(), 1);
    QTest::mouseClick(Child<QPushButton>(wnd, "btnModelTesting"), Qt::LeftButton);
    QCOMPARE(reloads.size(), 2);
    QVERIFY(Child<QPushButton>(wnd, "btnModelTesting")->isChecked());
    QVERIFY(!Child<QPushButton>(wnd, "btnModelTraining")->isChecked());

    QTest::mouseClick(Child<QPushButton>(wnd, "btnImgMarks"), Qt::LeftButton);
    QVERIFY(qobject_cast<ImgMarksWid*>(pages->currentWidget()));
    QCOMPARE(reloads.size(), 2);
}

void tst_MainWindow::withoutOpenProject()
{
    Lumora wnd;
    QCOMPARE(Child<QLabel>(wnd, "lbCurPrj")->text(), QString());
    wnd.Slot_BtnModPrjClicked();
    Child<QLineEdit>(wnd, "edtModPrj")->setText("x");
    wnd.Slot_BtnModPrjClicked();
    QCOMPARE(Child<QLabel>(wnd, "lbCurPrj")->text(), QString("x"));
    QVERIFY(Child<QLineEdit>(wnd, "edtModPrj")->isHidden());
}

void tst_MainWindow::fitsTheScreen_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tips");
    QTest::addColumn<bool>("elided");

    QTest::newRow("short") << "螺丝"
                           << "abc" << false;
    QTest::newRow("longest allowed name") << QString(85, QChar(0x87BA)) << "" << true;
    QTest::newRow("50-line notes") << "螺丝" << QString("note line\n").repeated(50) << true;
}

void tst_MainWindow::fitsTheScreen()
{
    QFETCH(QString, name);
    QFETCH(QString, tips);
    QFETCH(bool, elided);

    QVERIFY(NexilIns().lock()->AddPro(MakeInfo("P1", name, 1, tips)));
    NexilIns().lock()->OpenPro("P1");
    Lumora wnd;
    QCOMPARE(wnd.windowTitle(), QString("OrvaneAI训练平台"));
    wnd.ShowOnScreen();
    QVERIFY(QTest::qWaitForWindowExposed(&wnd));

    const QRect available = wnd.screen()->availableGeometry();
    QVERIFY(available.contains(wnd.frameGeometry()));
    for (const char* button : {"btnClose", "btnModelTesting"})
    {
        auto* shown = Child<QPushButton>(wnd, button);
        QVERIFY2(available.contains(QRect(shown->mapToGlobal(QPoint(0, 0)), shown->size())), button);
    }
    // One line in the strip; the whole text in the tip when cut short.
    auto* strip = Child<ElidedLabel>(wnd, "lbCurPrj");
    QCOMPARE(strip->text(), name + tips);
    QVERIFY(strip->height() < 2 * strip->fontMetrics().height());
    QVERIFY(!strip->ShownText().contains('\n'));
    QCOMPARE(strip->ShownText().endsWith(QChar(0x2026)), elided);
    QCOMPARE(TipOf(strip), elided ? name + tips : QString());
}

void tst_MainWindow::escCancelsNotesEdit_data()
{
    QTest::addColumn<QString>("stored");
    QTest::newRow("plain") << "old";
    QTest::newRow("with line breaks") << "first\nsecond";
}

void tst_MainWindow::escCancelsNotesEdit()
{
    QFETCH(QString, stored);

    OpenProject(stored);
    Lumora wnd;
    wnd.show();
    QVERIFY(QTest::qWaitForWindowActive(&wnd));
    auto* edit = Child<QLineEdit>(wnd, "edtModPrj");
    auto* button = Child<QPushButton>(wnd, "btnModPrj");
    const QString jsonBefore = JsonNotes("螺丝");

    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY(edit->hasFocus());
    QTest::keyClicks(edit, "typed");
    QTest::keyClick(edit, Qt::Key_Escape);
    QVERIFY(edit->isHidden());
    QCOMPARE(button->text(), QString("修改"));
    QCOMPARE(Child<QLabel>(wnd, "lbCurPrj")->text(), "螺丝" + stored);
    QCOMPARE(PrjIns().lock()->PrjInfo()->tips, stored);
    QCOMPARE(JsonNotes("螺丝"), jsonBefore);

    // The next edit starts from the stored notes, line breaks included, and stores as before.
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(edit->text(), stored);
    QTest::keyClick(edit, Qt::Key_End);
    QTest::keyClicks(edit, "+");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(PrjIns().lock()->PrjInfo()->tips, stored + "+");
}

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
