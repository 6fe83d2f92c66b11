#include "Child.h"
#include "ShownWindows.h"

#include "ComUi/CMsgWnd.h"
#include "ComUi/QFrameHelper.h"
#include "ComUi/Skin.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMovie>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

namespace
{

// A line at least px wide in the font, built from the font's own glyph widths: the window's limits
// are then reached or missed whatever fonts the machine has.
QString LineOfWidth(QChar glyph, int px, const QFont& font)
{
    const QFontMetrics metrics(font);
    QString line(glyph);
    while (metrics.horizontalAdvance(line) < px && line.size() < px)
        line += glyph;
    return line;
}

} // namespace

class TestCMsgWnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void sizeFollowsTheText_data();
    void sizeFollowsTheText();
    void longLinesAreElidedWithFullTooltip();
    void iconOrPageByKind_data();
    void iconOrPageByKind();
    void centredOnTheScreen();
    void questionResult_data();
    void questionResult();
    void informationHasOnlyOk();
    void waitWindowOffersCloseAfterDelay();
    void waitWindowClosedByTheOperation();
};

void TestCMsgWnd::initTestCase()
{
    InitComUiResources();
    LoadQSS({QStringLiteral(":/qss/common.css"), QStringLiteral(":/qss/titleBar.css")});
    QVERIFY(QGuiApplication::primaryScreen());
}

void TestCMsgWnd::cleanup()
{
    // Windows of a failed case must not leak into the next one.
    for (QWidget* w : QApplication::topLevelWidgets())
    {
        if (qobject_cast<CMsgWnd*>(w))
            delete w;
    }
}

void TestCMsgWnd::sizeFollowsTheText_data()
{
    QTest::addColumn<QString>("title");
    // "%1" stands for a line about 400 pixels wide in the label's font.
    QTest::addColumn<QString>("text");
    // 0 means: the widest line in the label's font + 220.
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");

    QTest::newRow("one short line") << QStringLiteral("提示") << QStringLiteral("保存成功") << 470 << 290;
    QTest::newRow("three lines") << QStringLiteral("提示") << QStringLiteral("第一行\n第二行\n第三行") << 470
                                 << 350;
    QTest::newRow("empty text") << QStringLiteral("提示") << QString() << 470 << 290;
    QTest::newRow("very long line") << QStringLiteral("错误") << QString(300, QLatin1Char('W')) << 800 << 290;
    QTest::newRow("middle width") << QStringLiteral("提示") << QStringLiteral("%1") << 0 << 290;
    QTest::newRow("widest line decides")
        << QStringLiteral("提示") << QStringLiteral("短\n%1\n短") << 0 << 350;
    QTest::newRow("long title") << QString(300, QLatin1Char('T')) << QStringLiteral("短") << 800 << 290;
}

void TestCMsgWnd::sizeFollowsTheText()
{
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(int, height);

    if (text.contains(QLatin1String("%1")))
    {
        CMsgWnd measure(nullptr, title, QString(), NOTIFY_ABOUT);
        text = text.arg(LineOfWidth(QChar(0x6D4B), 400, Child<QLabel>(measure, "labelTip")->font()));
    }
    CMsgWnd wnd(nullptr, title, text, NOTIFY_ABOUT);
    auto* tip = Child<QLabel>(wnd, "labelTip");
    auto* caption = Child<QLabel>(wnd, "labelText");
    QVERIFY(tip && caption);
    // The sizes are measured in the fonts the window's style gives its labels.
    QCOMPARE(tip->font().pixelSize(), 20);
    QCOMPARE(caption->font().pixelSize(), 22);
    QVERIFY(caption->font().bold());
    if (width == 0)
    {
        int widest = 0;
        for (const QString& line : text.split(QLatin1Char('\n')))
            widest = qMax(widest, QFontMetrics(tip->font()).horizontalAdvance(line));
        width = widest + 220;
        QVERIFY2(width > 470 && width < 800, "the row must fall between the limits");
    }
    QCOMPARE(wnd.width(), width);
    QCOMPARE(wnd.height(), height);
    QCOMPARE(wnd.minimumSize(), wnd.maximumSize());
    QCOMPARE(caption->text(), title);
    QCOMPARE(tip->toolTip(), text);
}

void TestCMsgWnd::longLinesAreElidedWithFullTooltip()
{
    const QString longLine =
        QStringLiteral("D:/MyImg/") + QString(200, QLatin1Char('a')) + QStringLiteral(".png");
    const QString text = QStringLiteral("无法读取：\n") + longLine + QStringLiteral("\n请检查");
    CMsgWnd wnd(nullptr, QStringLiteral("错误"), text, NOTIFY_ERROR);
    wnd.show();
    QVERIFY(QTest::qWaitForWindowExposed(&wnd));
    QCOMPARE(wnd.width(), 800);

    auto* tip = Child<QLabel>(wnd, "labelTip");
    QTRY_VERIFY(tip->text() != text);
    const QStringList shown = tip->text().split(QLatin1Char('\n'));
    QCOMPARE(shown.size(), 3);
    QCOMPARE(shown.at(0), QStringLiteral("无法读取："));
    QVERIFY(shown.at(1).endsWith(QChar(0x2026)));
    QVERIFY(longLine.startsWith(shown.at(1).chopped(1)));
    QVERIFY(QFontMetrics(tip->font()).horizontalAdvance(shown.at(1)) <= tip->width());
    QCOMPARE(shown.at(2), QStringLiteral("请检查"));
    QCOMPARE(tip->toolTip(), text);
}

void TestCMsgWnd::iconOrPageByKind_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("icon");

    QTest::newRow("complete") << int(NOTIFY_COMPLETE) << QStringLiteral(":/ico/NOTIFY_COMPLETE.png");
    QTest::newRow("warning") << int(NOTIFY_WARNING) << QStringLiteral(":/ico/NOTIFY_WARNING.png");
    QTest::newRow("error") << int(NOTIFY_ERROR) << QStringLiteral(":/ico/NOTIFY_ERROR.png");
    QTest::newRow("about") << int(NOTIFY_ABOUT) << QStringLiteral(":/ico/NOTIFY_ABOUT.png");
    QTest::newRow("query") << int(NOTIFY_QUERY) << QStringLiteral(":/ico/NOTIFY_QUERY.png");
    QTest::newRow("wait") << int(NOTIFY_WAIT) << QString();
    QTest::newRow("unknown kind") << 17 << QString();
    QTest::newRow("negative kind") << -1 << QString();
}

void TestCMsgWnd::iconOrPageByKind()
{
    QFETCH(int, kind);
    QFETCH(QString, icon);

    CMsgWnd wnd(nullptr, QStringLiteral("提示"), QStringLiteral("内容"), kind);
    QCOMPARE(wnd.Kind(), kind);
    auto* pages = Child<QStackedWidget>(wnd, "stackedWidget");
    auto* msgIcon = Child<QLabel>(wnd, "lbMsgIcon");
    QVERIFY(pages && msgIcon);
    if (kind == NOTIFY_WAIT)
    {
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("pageWait"));
        QCOMPARE(wnd.height(), 150);
        return;
    }
    QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("pageMsg"));
    if (icon.isEmpty())
    {
        QVERIFY(msgIcon->isHidden());
        return;
    }
    QVERIFY(!msgIcon->isHidden());
    const QPixmap shown = msgIcon->pixmap(Qt::ReturnByValue);
    QVERIFY(!shown.isNull());
    // A pixmap loaded from a file is shared through Qt's pixmap cache, so the file shown has the
    // same key; pixels are not compared, as converting them rounds differently on other CPUs.
    QCOMPARE(shown.cacheKey(), QPixmap(icon).cacheKey());
}

void TestCMsgWnd::centredOnTheScreen()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    CMsgWnd lone(nullptr, QStringLiteral("提示"), QStringLiteral("内容"), NOTIFY_ABOUT);
    QCOMPARE(lone.pos(), QPoint(screen.x() + (screen.width() - lone.width()) / 2,
                                screen.y() + (screen.height() - lone.height()) / 2));

    QWidget owner;
    owner.setGeometry(10, 10, 200, 100);
    owner.show();
    CMsgWnd child(&owner, QStringLiteral("提示"), QStringLiteral("一\n二"), NOTIFY_ABOUT);
    QVERIFY(child.isWindow());
    QCOMPARE(child.pos(), QPoint(screen.x() + (screen.width() - child.width()) / 2,
                                 screen.y() + (screen.height() - child.height()) / 2));
}

void TestCMsgWnd::questionResult_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("result");

    QTest::newRow("OK") << QStringLiteral("btnOK") << 1;
    QTest::newRow("Cancel") << QStringLiteral("btnCancel") << 0;
    QTest::newRow("title-bar close") << QStringLiteral("btnClose") << 0;
}

void TestCMsgWnd::questionResult()
{
    QFETCH(QString, button);
    QFETCH(int, result);

    QPointer<CMsgWnd> seen;
    bool bothShown = false;
    QString okText;
    QString cancelText;
    WhenShown<CMsgWnd>(this,
                       [&](CMsgWnd* wnd)
                       {
                           seen = wnd;
                           bothShown = wnd->isModal() && Child<QPushButton>(wnd, "btnOK")->isVisible() &&
                                       Child<QPushButton>(wnd, "btnCancel")->isVisible();
                           okText = Child<QPushButton>(wnd, "btnOK")->text();
                           cancelText = Child<QPushButton>(wnd, "btnCancel")->text();
                           auto* target = wnd->findChild<QPushButton*>(button);
                           if (target)
                               QTest::mouseClick(target, Qt::LeftButton);
                           else
                               wnd->reject();
                       });
    const int answer = CMsgWnd::Question(nullptr, QStringLiteral("提示"), QStringLiteral("确定删除吗？"));
    QCOMPARE(answer, result);
    QVERIFY(bothShown);
    QCOMPARE(okText, QStringLiteral("确定"));
    QCOMPARE(cancelText, QStringLiteral("取消"));
    // The window deletes itself once closed.
    QTRY_VERIFY(seen.isNull());
}

void TestCMsgWnd::informationHasOnlyOk()
{
    QPointer<CMsgWnd> seen;
    bool cancelHidden = false;
    QString okText;
    WhenShown<CMsgWnd>(this,
                       [&](CMsgWnd* wnd)
                       {
                           seen = wnd;
                           cancelHidden = Child<QPushButton>(wnd, "btnCancel")->isHidden();
                           okText = Child<QPushButton>(wnd, "btnOK")->text();
                           QTest::mouseClick(Child<QPushButton>(wnd, "btnOK"), Qt::LeftButton);
                       });
    CMsgWnd::Information(nullptr, QStringLiteral("提示"), QStringLiteral("保存失败！"), NOTIFY_ABOUT,
                         QStringLiteral("知道了"));
    QVERIFY(cancelHidden);
    QCOMPARE(okText, QStringLiteral("知道了"));
    QTRY_VERIFY(seen.isNull());
}

void TestCMsgWnd::waitWindowOffersCloseAfterDelay()
{
    QFrameHelper other;
    other.setTitleHeight(60);

    constexpr int kDelayMs = 300;
    QElapsedTimer clock;
    QPointer<CMsgWnd> wnd;
    bool shownBeforeCallback = true;
    int calls = 0;
    CMsgWnd::ShowWait(nullptr, QString(), QStringLiteral("正在导入图片…"), NOTIFY_WAIT, QString(), QString(),
                      [&](CMsgWnd* w)
                      {
                          wnd = w;
                          shownBeforeCallback = w->isVisible();
                          ++calls;
                          clock.start();
                          w->SetWaitCloseDelay(kDelayMs);
                      });
    QCOMPARE(calls, 1);
    QVERIFY(!shownBeforeCallback);
    QVERIFY(wnd);
    QVERIFY(wnd->isVisible());
    QVERIFY(wnd->isModal());
    // No frame helper on the wait window: the title height in force stays.
    QCOMPARE(QFrameHelper::titleHeight(), 60);
    QCOMPARE(Child<QLabel>(wnd, "labelIng")->text(), QStringLiteral("正在导入图片…"));
    QMovie* movie = Child<QLabel>(wnd, "labelWait")->movie();
    QVERIFY(movie && movie->isValid());
    QCOMPARE(movie->state(), QMovie::Running);
    QVERIFY(movie->frameCount() > 1);

    // A window left at the program's delay keeps its link hidden meanwhile.
    QElapsedTimer usualClock;
    usualClock.start();
    CMsgWnd usual(nullptr, QString(), QStringLiteral("正在处理"), NOTIFY_WAIT);
    usual.show();
    auto* usualBar = Child<QWidget>(usual, "widgetWaitClose");

    auto* closeBar = Child<QWidget>(wnd, "widgetWaitClose");
    QVERIFY(!closeBar->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(wnd && closeBar->isVisible(), kDelayMs + 10000);
    // Seen no earlier than the delay: a coarse timer would have offered it up to 5 % early.
    QVERIFY2(clock.elapsed() >= kDelayMs, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!usualBar->isVisible() || usualClock.elapsed() >= CMsgWnd::kWaitCloseDelayMs);

    QTest::mouseClick(Child<QPushButton>(wnd, "btnWaitClose"), Qt::LeftButton);
    QTRY_VERIFY(wnd.isNull());
}

void TestCMsgWnd::waitWindowClosedByTheOperation()
{
    QTimer operation;
    operation.setSingleShot(true);
    QPointer<CMsgWnd> wnd;
    CMsgWnd::ShowWait(nullptr, QString(), QStringLiteral("正在处理"), NOTIFY_WAIT, QString(), QString(),
                      [&](CMsgWnd* w)
                      {
                          wnd = w;
                          connect(&operation, &QTimer::timeout, w, &QWidget::close);
                      });
    QVERIFY(wnd && wnd->isVisible());
    operation.start(50);
    QTRY_VERIFY(wnd.isNull());

    // A message window sets the class-wide title height to 73.
    CMsgWnd msg(nullptr, QStringLiteral("提示"), QStringLiteral("内容"), NOTIFY_ABOUT);
    QCOMPARE(QFrameHelper::titleHeight(), 73);
}

QTEST_MAIN(TestCMsgWnd)
#include "tst_CMsgWnd.moc"
