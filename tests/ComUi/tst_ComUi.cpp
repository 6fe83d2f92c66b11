#include "ShownWindows.h"

#include "ComUi/CKBtn.h"
#include "ComUi/CMsgWnd.h"
#include "ComUi/CheckBoxHeaderView.h"
#include "ComUi/ComboListModel.h"
#include "ComUi/FramelessWindow.h"
#include "ComUi/GrayBtn.h"
#include "ComUi/GreenBtn.h"
#include "ComUi/ListItemWidget.h"
#include "ComUi/MainBtn.h"
#include "ComUi/PathWid.h"
#include "ComUi/PlainTestWid.h"
#include "ComUi/QFrameHelper.h"
#include "ComUi/SecBtn.h"
#include "ComUi/SingleSelectListView.h"
#include "ComUi/Skin.h"

#include "ComLib/DesktopPlatform.h"
#include "Nexil/NexilApi.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRubberBand>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <memory>

Q_DECLARE_METATYPE(WindowResize)
Q_DECLARE_METATYPE(WindowBackground)

namespace
{

const QStringList kSkin{QStringLiteral(":/qss/common.css"), QStringLiteral(":/qss/titleBar.css")};

QString ReadText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A frameless top-level window at a known place.
std::unique_ptr<QWidget> MakeFrameless(const QRect& geometry)
{
    auto window = std::make_unique<QWidget>(nullptr, Qt::Dialog | Qt::FramelessWindowHint);
    window->setGeometry(geometry);
    window->show();
    return window;
}

void SendMouse(QWidget* w, QEvent::Type type, const QPoint& global, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, w->mapFromGlobal(global), global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// Press at a point of the window, drag by delta in steps, release.
void Drag(QWidget* w, const QPoint& local, const QPoint& delta,
          const std::function<void()>& beforeRelease = {})
{
    const QPoint start = w->mapToGlobal(local);
    SendMouse(w, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseMove, start + delta / 2, Qt::NoButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseMove, start + delta, Qt::NoButton, Qt::LeftButton);
    if (beforeRelease)
        beforeRelease();
    SendMouse(w, QEvent::MouseButtonRelease, start + delta, Qt::LeftButton, Qt::NoButton);
}

QColor ColourAt(QWidget* w, const QPoint& p)
{
    return QColor(w->grab().toImage().pixel(p));
}

std::unique_ptr<QPushButton> MakeButton(const QString& cls)
{
    if (cls == QLatin1String("MainBtn"))
        return std::make_unique<MainBtn>();
    if (cls == QLatin1String("SecBtn"))
        return std::make_unique<SecBtn>();
    if (cls == QLatin1String("CKBtn"))
        return std::make_unique<CKBtn>();
    if (cls == QLatin1String("GreenBtn"))
        return std::make_unique<GreenBtn>();
    if (cls == QLatin1String("GrayBtn"))
        return std::make_unique<GrayBtn>();
    return std::make_unique<QPushButton>();
}

} // namespace

class TestComUi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void resourcesArePresent_data();
    void resourcesArePresent();
    void styleSheetImagesExist();
    void loadQssSkipsMissingSheets();
    void placeholderIsFadedUnderTheSkin_data();
    void placeholderIsFadedUnderTheSkin();
    void buttonClassesAreSkinned_data();
    void buttonClassesAreSkinned();
    void titleBarRules();
    void scrollBarHandleIsDarker();

    void dragMovesOnlyFromTitleArea_data();
    void dragMovesOnlyFromTitleArea();
    void titleHeightIsShared();
    void notMovableStaysPut();
    void resizeAtBorder_data();
    void resizeAtBorder();
    void cursorAtBorder_data();
    void cursorAtBorder();
    void rubberBandOnMove();
    void helperRestoresWidget();
    void widgetDestroyedBeforeHelper();
    void framelessDialogSetUp_data();
    void framelessDialogSetUp();

    void headerBoxCyclesThroughStates();
    void headerPressesElsewhere_data();
    void headerPressesElsewhere();
    void headerSetCheckStateIsSilent();

    void comboModelRolesAndInserts();

    void listSelectsOneRow();
    void listDeleteAsksFirst_data();
    void listDeleteAsksFirst();
    void listDeleteRemovesCategory();

    void plainTextLines();
    void pathWidget_data();
    void pathWidget();
};

void TestComUi::initTestCase()
{
    qRegisterMetaType<Qt::CheckState>();
    InitComUiResources();
    LoadQSS(kSkin);
}

void TestComUi::resourcesArePresent_data()
{
    QTest::addColumn<QString>("path");
    const QStringList images{"addImg",    "Find",        "drawdown_dis",  "min",          "checkbox-un",
                             "Mod",       "new",         "checkbox-ck",   "CheckBox1",    "CheckBox2",
                             "CheckBox3", "addMarks",    "arrow_down",    "rdo_unselect", "AddImgFlod",
                             "close",     "Import",      "add",           "clear2",       "save",
                             "ZoomAll",   "marks",       "delete1",       "del",          "clear",
                             "rect",      "dropdown",    "sliderHandler", "refresh",      "rdo_select",
                             "polygon",   "arrow-right", "Show",          "Hide"};
    QCOMPARE(images.size(), 34);
    for (const QString& name : images)
        QTest::newRow(qPrintable(name)) << QStringLiteral(":/image/%1.png").arg(name);
    for (const char* kind : {"COMPLETE", "WARNING", "ERROR", "ABOUT", "QUERY"})
        QTest::newRow(kind) << QStringLiteral(":/ico/NOTIFY_%1.png").arg(QLatin1String(kind));
    for (const char* path : {":/icons/project.png", ":/images/marks.png", ":/img/Resources/Rect.png",
                             ":/img/Resources/Polygon.png", ":/gif/Wait_Loading.gif"})
        QTest::newRow(path) << QString::fromLatin1(path);
}

void TestComUi::resourcesArePresent()
{
    QFETCH(QString, path);
    QVERIFY2(QFile::exists(path), qPrintable(path));
    const QImage image(path);
    QVERIFY(!image.isNull());
    QVERIFY(image.width() >= 16 && image.width() == image.height());
    if (path.endsWith(QLatin1String(".gif")))
    {
        QMovie movie(path);
        QVERIFY(movie.isValid());
        QVERIFY(movie.frameCount() > 1);
    }
}

void TestComUi::styleSheetImagesExist()
{
    const QRegularExpression url(QStringLiteral("url\\(([^)]+)\\)"));
    int count = 0;
    for (const QString& sheet : kSkin)
    {
        const QString text = ReadText(sheet);
        QVERIFY2(!text.isEmpty(), qPrintable(sheet));
        for (auto it = url.globalMatch(text); it.hasNext();)
        {
            const QString path = it.next().captured(1);
            QVERIFY2(QFile::exists(path), qPrintable(path));
            ++count;
        }
    }
    QVERIFY(count >= 12);
}

void TestComUi::loadQssSkipsMissingSheets()
{
    const QString missing = QStringLiteral(":/qss/missing.css");
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("missing\\.css")));
    LoadQSS({kSkin.at(0), missing, kSkin.at(1)});
    const QString applied = qApp->styleSheet();
    QVERIFY(applied.contains(ReadText(kSkin.at(0))));
    QVERIFY(applied.contains(ReadText(kSkin.at(1))));
    QVERIFY(applied.indexOf(QLatin1String("MainBtn")) < applied.indexOf(QLatin1String("#widTitleBar")));

    // Nothing readable: the skin in force stays.
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("missing\\.css")));
    LoadQSS({missing});
    QCOMPARE(qApp->styleSheet(), applied);
}

namespace
{

// How far apart two colours look: the sum of the differences of red, green and blue.
int Distance(const QColor& a, const QColor& b)
{
    return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue());
}

// The colour a translucent foreground gives on an opaque background.
QColor Over(const QColor& fore, const QColor& back)
{
    const auto mix = [&](int f, int b) { return (f * fore.alpha() + b * (255 - fore.alpha())) / 255; };
    return QColor(mix(fore.red(), back.red()), mix(fore.green(), back.green()),
                  mix(fore.blue(), back.blue()));
}

std::unique_ptr<QWidget> MakeEdit(const QString& cls)
{
    if (cls == QLatin1String("QTextEdit"))
        return std::make_unique<QTextEdit>();
    if (cls == QLatin1String("QPlainTextEdit"))
        return std::make_unique<QPlainTextEdit>();
    return std::make_unique<QLineEdit>();
}

} // namespace

void TestComUi::placeholderIsFadedUnderTheSkin_data()
{
    QTest::addColumn<QString>("cls");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("line edit") << "QLineEdit" << true;
    QTest::newRow("line edit disabled") << "QLineEdit" << false;
    QTest::newRow("text edit") << "QTextEdit" << true;
    QTest::newRow("plain text edit") << "QPlainTextEdit" << true;
}

void TestComUi::placeholderIsFadedUnderTheSkin()
{
    QFETCH(QString, cls);
    QFETCH(bool, enabled);

    // The skin colours edits' text; a hint must not look like typed text. Judged on the palette the
    // edit paints with, since how dark drawn glyphs come out depends on the fonts installed.
    const auto edit = MakeEdit(cls);
    QCOMPARE(QString::fromLatin1(edit->metaObject()->className()), cls);
    edit->setEnabled(enabled);
    edit->resize(260, 42);
    edit->show();
    QVERIFY(QTest::qWaitForWindowExposed(edit.get()));
    const QPalette palette = edit->palette();
    const QPalette::ColorGroup group = enabled ? QPalette::Active : QPalette::Disabled;
    const QColor text = palette.color(group, QPalette::Text);
    const QColor hint = palette.color(group, QPalette::PlaceholderText);
    if (cls == QLatin1String("QLineEdit"))
        QCOMPARE(palette.color(QPalette::Active, QPalette::Text), QColor("#145369"));
    QCOMPARE(hint.rgb(), text.rgb());
    QVERIFY2(Distance(Over(hint, palette.color(group, QPalette::Base)), text) > 100,
             qPrintable(QStringLiteral("%1 over %2").arg(hint.name(QColor::HexArgb), text.name())));
}

void TestComUi::buttonClassesAreSkinned_data()
{
    QTest::addColumn<QString>("cls");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QColor>("background");

    QTest::newRow("MainBtn") << "MainBtn" << false << true << QColor("#196E8B");
    QTest::newRow("MainBtn checked") << "MainBtn" << true << true << QColor("#B0B0B0");
    QTest::newRow("MainBtn disabled") << "MainBtn" << false << false << QColor("#B0B0B0");
    QTest::newRow("SecBtn") << "SecBtn" << false << true << QColor("#FFFFFF");
    QTest::newRow("SecBtn disabled") << "SecBtn" << false << false << QColor("#E0E0E0");
    QTest::newRow("CKBtn") << "CKBtn" << false << true << QColor("#FFFFFF");
    QTest::newRow("CKBtn checked") << "CKBtn" << true << true << QColor("#196E8B");
    QTest::newRow("GreenBtn") << "GreenBtn" << false << true << QColor("#24A900");
    QTest::newRow("GrayBtn") << "GrayBtn" << false << true << QColor("#C5C5C5");
}

void TestComUi::buttonClassesAreSkinned()
{
    QFETCH(QString, cls);
    QFETCH(bool, checked);
    QFETCH(bool, enabled);
    QFETCH(QColor, background);

    const auto button = MakeButton(cls);
    QCOMPARE(QString::fromLatin1(button->metaObject()->className()), cls);
    button->setCheckable(true);
    button->setChecked(checked);
    button->setEnabled(enabled);
    button->resize(120, 42);
    QCOMPARE(ColourAt(button.get(), QPoint(4, 4)), background);
}

void TestComUi::titleBarRules()
{
    QWidget window;
    window.resize(300, 200);
    auto* bar = new QWidget(&window);
    bar->setObjectName(QStringLiteral("widTitleBar"));
    bar->setGeometry(0, 0, 300, 60);
    auto* title = new QLabel(QStringLiteral("工程管理"), bar);
    title->setObjectName(QStringLiteral("lbTitle"));
    auto* content = new QWidget(&window);
    content->setObjectName(QStringLiteral("widContent"));
    content->setGeometry(0, 60, 300, 140);
    const QImage image = window.grab().toImage();
    QCOMPARE(QColor(image.pixel(150, 30)), QColor("#196E8B"));
    QCOMPARE(QColor(image.pixel(150, 100)), QColor(Qt::white));
    QCOMPARE(title->palette().color(QPalette::WindowText), QColor(Qt::white));
    QCOMPARE(title->font().pointSize(), 14);
}

void TestComUi::dragMovesOnlyFromTitleArea_data()
{
    QTest::addColumn<int>("titleHeight");
    QTest::addColumn<int>("pressY");
    QTest::addColumn<bool>("moves");

    QTest::newRow("61 below the top, title 60") << 60 << 61 << false;
    QTest::newRow("60 below the top, title 60") << 60 << 60 << false;
    QTest::newRow("last title row") << 60 << 59 << true;
    QTest::newRow("near the top") << 60 << 8 << true;
    QTest::newRow("message windows' 73") << 73 << 70 << true;
    QTest::newRow("default 30") << 30 << 31 << false;
}

void TestComUi::dragMovesOnlyFromTitleArea()
{
    QFETCH(int, titleHeight);
    QFETCH(int, pressY);
    QFETCH(bool, moves);

    const auto window = MakeFrameless(QRect(100, 100, 400, 300));
    auto* helper = new QFrameHelper(window.get());
    helper->activateOn(window.get());
    helper->setTitleHeight(titleHeight);
    helper->setWidgetMovable(true);
    helper->setWidgetResizable(false);

    const QPoint before = window->pos();
    Drag(window.get(), QPoint(200, pressY), QPoint(50, 40));
    QCOMPARE(window->pos(), moves ? before + QPoint(50, 40) : before);
    QCOMPARE(window->size(), QSize(400, 300));
}

void TestComUi::titleHeightIsShared()
{
    const auto first = MakeFrameless(QRect(100, 100, 400, 300));
    const auto second = MakeFrameless(QRect(150, 150, 300, 200));
    QFrameHelper helperOfFirst;
    helperOfFirst.activateOn(first.get());
    helperOfFirst.setTitleHeight(30);
    QFrameHelper helperOfSecond;
    helperOfSecond.activateOn(second.get());
    helperOfSecond.setTitleHeight(60);
    helperOfSecond.setTitleHeight(0);
    helperOfSecond.setTitleHeight(-5);
    QCOMPARE(QFrameHelper::titleHeight(), 60);

    // The first window now moves from 45 pixels below its top too.
    const QPoint before = first->pos();
    Drag(first.get(), QPoint(200, 45), QPoint(-20, 10));
    QCOMPARE(first->pos(), before + QPoint(-20, 10));
}

void TestComUi::notMovableStaysPut()
{
    const auto window = MakeFrameless(QRect(100, 100, 400, 300));
    QFrameHelper helper;
    helper.activateOn(window.get());
    helper.activateOn(window.get());
    helper.setTitleHeight(60);
    helper.setWidgetResizable(false);
    helper.setWidgetMovable(false);
    Drag(window.get(), QPoint(200, 10), QPoint(50, 40));
    QCOMPARE(window->geometry(), QRect(100, 100, 400, 300));

    // Other buttons than the left one do not drag.
    helper.setWidgetMovable(true);
    const QPoint start = window->mapToGlobal(QPoint(200, 10));
    SendMouse(window.get(), QEvent::MouseButtonPress, start, Qt::RightButton, Qt::RightButton);
    SendMouse(window.get(), QEvent::MouseMove, start + QPoint(30, 30), Qt::NoButton, Qt::RightButton);
    SendMouse(window.get(), QEvent::MouseButtonRelease, start + QPoint(30, 30), Qt::RightButton,
              Qt::NoButton);
    QCOMPARE(window->geometry(), QRect(100, 100, 400, 300));
}

void TestComUi::resizeAtBorder_data()
{
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<QPoint>("delta");
    QTest::addColumn<QRect>("geometry");

    // The window is at (100, 100), 400 x 300, at least 200 x 150; the moved edge follows the cursor.
    QTest::newRow("right edge") << QPoint(398, 150) << QPoint(30, 0) << QRect(100, 100, 429, 300);
    QTest::newRow("left edge") << QPoint(2, 150) << QPoint(-40, 0) << QRect(62, 100, 438, 300);
    QTest::newRow("bottom right corner") << QPoint(398, 298) << QPoint(20, 10) << QRect(100, 100, 419, 309);
    QTest::newRow("top edge resizes, does not move")
        << QPoint(200, 2) << QPoint(0, -20) << QRect(100, 82, 400, 318);
    QTest::newRow("left edge past the minimum")
        << QPoint(2, 150) << QPoint(300, 0) << QRect(300, 100, 200, 300);
    QTest::newRow("top edge past the minimum")
        << QPoint(200, 2) << QPoint(0, 500) << QRect(100, 250, 400, 150);
    QTest::newRow("right edge past the minimum")
        << QPoint(398, 150) << QPoint(-390, 0) << QRect(100, 100, 200, 300);
    QTest::newRow("inside, below the title")
        << QPoint(200, 200) << QPoint(30, 30) << QRect(100, 100, 400, 300);
}

void TestComUi::resizeAtBorder()
{
    QFETCH(QPoint, press);
    QFETCH(QPoint, delta);
    QFETCH(QRect, geometry);

    const auto window = MakeFrameless(QRect(100, 100, 400, 300));
    window->setMinimumSize(200, 150);
    QFrameHelper helper;
    helper.activateOn(window.get());
    helper.setTitleHeight(60);
    Drag(window.get(), press, delta);
    QCOMPARE(window->geometry(), geometry);
}

void TestComUi::cursorAtBorder_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<bool>("hoverEvent");
    QTest::addColumn<Qt::CursorShape>("shape");

    const QList<QPair<QPoint, Qt::CursorShape>> cases{
        {QPoint(398, 150), Qt::SizeHorCursor}, {QPoint(1, 150), Qt::SizeHorCursor},
        {QPoint(200, 2), Qt::SizeVerCursor},   {QPoint(200, 299), Qt::SizeVerCursor},
        {QPoint(2, 2), Qt::SizeFDiagCursor},   {QPoint(398, 298), Qt::SizeFDiagCursor},
        {QPoint(398, 2), Qt::SizeBDiagCursor}, {QPoint(2, 298), Qt::SizeBDiagCursor},
        {QPoint(200, 150), Qt::ArrowCursor},   {QPoint(6, 150), Qt::ArrowCursor},
    };
    for (const auto& c : cases)
    {
        for (const bool hover : {true, false})
        {
            QTest::addRow("%d,%d %s", c.first.x(), c.first.y(), hover ? "hover" : "mouse move")
                << c.first << hover << c.second;
        }
    }
}

void TestComUi::cursorAtBorder()
{
    QFETCH(QPoint, point);
    QFETCH(bool, hoverEvent);
    QFETCH(Qt::CursorShape, shape);

    const auto window = MakeFrameless(QRect(100, 100, 400, 300));
    window->setCursor(Qt::PointingHandCursor);
    QFrameHelper helper;
    helper.activateOn(window.get());

    const auto moveTo = [&](const QPoint& local)
    {
        if (hoverEvent)
        {
            QHoverEvent event(QEvent::HoverMove, local, local);
            QApplication::sendEvent(window.get(), &event);
        }
        else
        {
            SendMouse(window.get(), QEvent::MouseMove, window->mapToGlobal(local), Qt::NoButton,
                      Qt::NoButton);
        }
    };
    moveTo(point);
    // Away from the border the window keeps the cursor of its own.
    const Qt::CursorShape expected = shape == Qt::ArrowCursor ? Qt::PointingHandCursor : shape;
    QCOMPARE(window->cursor().shape(), expected);
    moveTo(QPoint(200, 150));
    QCOMPARE(window->cursor().shape(), Qt::PointingHandCursor);

    // Not resizable: the border shows no resize cursor.
    helper.setWidgetResizable(false);
    moveTo(point);
    QCOMPARE(window->cursor().shape(), Qt::PointingHandCursor);
}

void TestComUi::rubberBandOnMove()
{
    const auto window = MakeFrameless(QRect(100, 100, 400, 300));
    QFrameHelper helper;
    helper.setRubberBandOnMove(true);
    helper.activateOn(window.get());
    helper.setTitleHeight(60);
    helper.setWidgetResizable(false);

    bool bandShownAlone = false;
    Drag(window.get(), QPoint(200, 20), QPoint(60, 30),
         [&]
         {
             for (QWidget* w : QApplication::topLevelWidgets())
             {
                 if (qobject_cast<QRubberBand*>(w) && w->isVisible())
                     bandShownAlone =
                         w->geometry() == QRect(160, 130, 400, 300) && window->pos() == QPoint(100, 100);
             }
         });
    QVERIFY(bandShownAlone);
    QCOMPARE(window->pos(), QPoint(160, 130));
    for (QWidget* w : QApplication::topLevelWidgets())
        QVERIFY(!(qobject_cast<QRubberBand*>(w) && w->isVisible()));
}

void TestComUi::helperRestoresWidget()
{
    const auto window = MakeFrameless(QRect(100, 100, 400, 300));
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(!window->testAttribute(Qt::WA_Hover));
    auto* helper = new QFrameHelper(window.get());
    helper->setRubberBandOnResize(true);
    helper->activateOn(window.get());
    QVERIFY(window->testAttribute(Qt::WA_Hover));
    QVERIFY(window->hasMouseTracking());

    // A resize cursor left on the window is taken back too.
    SendMouse(window.get(), QEvent::MouseMove, window->mapToGlobal(QPoint(398, 150)), Qt::NoButton,
              Qt::NoButton);
    QCOMPARE(window->cursor().shape(), Qt::SizeHorCursor);
    delete helper;
    QVERIFY(!window->testAttribute(Qt::WA_Hover));
    QVERIFY(!window->hasMouseTracking());
    QCOMPARE(window->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(window->windowFlags(), flags);
    QVERIFY(window->isVisible());

    // Events no longer move it.
    const QPoint before = window->pos();
    Drag(window.get(), QPoint(200, 10), QPoint(50, 40));
    QCOMPARE(window->pos(), before);
}

void TestComUi::widgetDestroyedBeforeHelper()
{
    QFrameHelper helper;
    helper.setRubberBandOnMove(true);
    {
        const auto window = MakeFrameless(QRect(100, 100, 400, 300));
        helper.activateOn(window.get());
    }
    // Another window at the same address must be registered afresh.
    const auto next = MakeFrameless(QRect(100, 100, 400, 300));
    helper.activateOn(next.get());
    QVERIFY(next->testAttribute(Qt::WA_Hover));
}

namespace
{

struct HeaderFixture
{
    HeaderFixture()
    {
        model.setColumnCount(3);
        model.setRowCount(2);
        header = new CheckBoxHeaderView(Qt::Horizontal, &view);
        view.setHorizontalHeader(header);
        view.setModel(&model);
        view.resize(500, 300);
        header->resizeSection(0, 120);
        view.show();
    }

    QPoint BoxCentre() const
    {
        return QPoint(header->sectionViewportPosition(0) + header->sectionSize(0) / 2, header->height() / 2);
    }

    QStandardItemModel model;
    QTableView view;
    CheckBoxHeaderView* header = nullptr;
};

} // namespace

void TestComUi::framelessDialogSetUp_data()
{
    QTest::addColumn<WindowResize>("resize");
    QTest::addColumn<WindowBackground>("background");
    QTest::addColumn<int>("widthAfterEdgeDrag");

    QTest::newRow("fixed, opaque") << WindowResize::Fixed << WindowBackground::Opaque << 400;
    QTest::newRow("resizable, translucent") << WindowResize::AtBorder << WindowBackground::Translucent << 429;
}

void TestComUi::framelessDialogSetUp()
{
    QFETCH(WindowResize, resize);
    QFETCH(WindowBackground, background);
    QFETCH(int, widthAfterEdgeDrag);

    QWidget owner;
    auto* window = new QWidget(&owner);
    auto* panel = new QWidget(window);
    SetUpFramelessDialog(window, 50, resize, background);
    AddPanelShadow(panel, QColor(QStringLiteral("#7FD4CD")), 8);
    QCOMPARE(window->windowFlags() &
                 (Qt::WindowType_Mask | Qt::FramelessWindowHint | Qt::CustomizeWindowHint),
             Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    QCOMPARE(window->windowModality(), Qt::WindowModal);
    QCOMPARE(window->testAttribute(Qt::WA_TranslucentBackground),
             background == WindowBackground::Translucent);
    QCOMPARE(QFrameHelper::titleHeight(), 50);

    auto* shadow = qobject_cast<QGraphicsDropShadowEffect*>(panel->graphicsEffect());
    QVERIFY(shadow);
    QCOMPARE(shadow->color(), QColor(QStringLiteral("#7FD4CD")));
    QCOMPARE(shadow->blurRadius(), 8.0);
    QCOMPARE(shadow->offset(), QPointF(0, 0));

    window->setGeometry(100, 100, 400, 300);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    Drag(window, QPoint(200, 45), QPoint(20, 10));
    QCOMPARE(window->geometry(), QRect(120, 110, 400, 300));
    Drag(window, QPoint(398, 150), QPoint(30, 0));
    QCOMPARE(window->geometry(), QRect(120, 110, widthAfterEdgeDrag, 300));
}

void TestComUi::headerBoxCyclesThroughStates()
{
    HeaderFixture f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.view));
    QVERIFY(f.header->sectionsClickable());
    QVERIFY(!f.header->highlightSections());
    QSignalSpy spy(f.header, &CheckBoxHeaderView::toggleAll);

    const QColor blue("#196E8B");
    QVERIFY(ColourAt(f.header, f.BoxCentre()) != blue);
    const QList<Qt::CheckState> expected{Qt::Checked, Qt::PartiallyChecked, Qt::Unchecked, Qt::Checked};
    for (int i = 0; i < expected.size(); ++i)
    {
        QTest::mouseClick(f.header->viewport(), Qt::LeftButton, Qt::NoModifier, f.BoxCentre());
        QCOMPARE(spy.count(), i + 1);
        QCOMPARE(spy.at(i).at(0).value<Qt::CheckState>(), expected.at(i));
        QCOMPARE(f.header->checkState(), expected.at(i));
        // The partial image has a filled square in the middle of the box.
        QCOMPARE(ColourAt(f.header, f.BoxCentre()) == blue, expected.at(i) == Qt::PartiallyChecked);
    }
}

void TestComUi::headerPressesElsewhere_data()
{
    QTest::addColumn<int>("dx");
    QTest::addColumn<bool>("hideFirst");

    QTest::newRow("section 0 beside the box") << -(CheckBoxHeaderView::kBoxSize / 2 + 4) << false;
    QTest::newRow("section 0 just right of the box") << CheckBoxHeaderView::kBoxSize / 2 + 2 << false;
    QTest::newRow("section 1") << 120 << false;
    QTest::newRow("section 0 hidden") << 0 << true;
}

void TestComUi::headerPressesElsewhere()
{
    QFETCH(int, dx);
    QFETCH(bool, hideFirst);

    HeaderFixture f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.view));
    const QPoint point = f.BoxCentre() + QPoint(dx, 0);
    if (hideFirst)
        f.header->hideSection(0);
    QSignalSpy toggles(f.header, &CheckBoxHeaderView::toggleAll);
    QSignalSpy clicks(f.header, &QHeaderView::sectionClicked);
    QTest::mouseClick(f.header->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    QCOMPARE(toggles.count(), 0);
    QCOMPARE(f.header->checkState(), Qt::Unchecked);
    // The press went to the ordinary header handling.
    QCOMPARE(clicks.count(), 1);
}

void TestComUi::headerSetCheckStateIsSilent()
{
    HeaderFixture f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.view));
    QSignalSpy spy(f.header, &CheckBoxHeaderView::toggleAll);
    f.header->setCheckState(Qt::Checked);
    f.header->setCheckState(Qt::Checked);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(f.header->checkState(), Qt::Checked);
    QTest::mouseClick(f.header->viewport(), Qt::LeftButton, Qt::NoModifier, f.BoxCentre());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<Qt::CheckState>(), Qt::PartiallyChecked);
}

void TestComUi::comboModelRolesAndInserts()
{
    ComboListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

    model.AddItems(
        {{QStringLiteral("V1.0"), QStringLiteral("A1")}, {QStringLiteral("V2.0"), QStringLiteral("B2")}});
    model.AddItems({});
    model.AddItems({{QStringLiteral("V3.0"), QStringLiteral("C3")}});
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 1);
    QCOMPARE(inserted.at(1).at(1).toInt(), 2);
    QCOMPARE(inserted.at(1).at(2).toInt(), 2);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.rowCount(model.index(0, 0)), 0);

    QCOMPARE(model.data(model.index(1, 0), Qt::DisplayRole).toString(), QStringLiteral("V2.0"));
    QCOMPARE(model.data(model.index(1, 0), 256).toString(), QStringLiteral("B2"));
    QVERIFY(!model.data(model.index(1, 0), Qt::DecorationRole).isValid());
    QVERIFY(!model.data(model.index(7, 0), Qt::DisplayRole).isValid());

    // A combo box shows the text and hands out the value.
    QComboBox combo;
    combo.setModel(&model);
    combo.setCurrentIndex(2);
    QCOMPARE(combo.currentText(), QStringLiteral("V3.0"));
    QCOMPARE(combo.currentData().toString(), QStringLiteral("C3"));

    model.ClearItems();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), 0);
    model.AddItems({{QStringLiteral("V4.0"), QStringLiteral("D4")}});
    QCOMPARE(inserted.last().at(1).toInt(), 0);
}

void TestComUi::listSelectsOneRow()
{
    SingleSelectListView list;
    QAbstractItemModelTester tester(list.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    list.resize(300, 300);
    for (const char* text : {"划痕", "脏污", "缺角"})
        list.AddItem(QString::fromUtf8(text));
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QCOMPARE(list.count(), 3);
    QCOMPARE(list.selectionMode(), QAbstractItemView::NoSelection);
    QCOMPARE(list.CurrentText(), QString());

    const auto row = [&](int r) { return qobject_cast<ListItemWidget*>(list.itemWidget(list.item(r))); };
    const auto checkedRows = [&]
    {
        QList<int> rows;
        for (int r = 0; r < list.count(); ++r)
        {
            if (row(r)->RadioButton()->isChecked())
                rows << r;
        }
        return rows;
    };
    QCOMPARE(row(1)->Text(), QStringLiteral("脏污"));
    QCOMPARE(row(1)->DeleteButton()->text(), QString(QChar(0x00D7)));
    QCOMPARE(list.item(1)->sizeHint(), row(1)->sizeHint());

    list.SetCurrentRow(1);
    QCOMPARE(list.CurrentText(), QStringLiteral("脏污"));
    QCOMPARE(checkedRows(), QList<int>{1});

    // A click on the text of a row chooses that row.
    QTest::mouseClick(row(2)->findChild<QLabel*>(), Qt::LeftButton);
    QCOMPARE(checkedRows(), QList<int>{2});
    QCOMPARE(list.CurrentText(), QStringLiteral("缺角"));

    // A click right on the radio button chooses its row as well.
    QTest::mouseClick(row(0)->RadioButton(), Qt::LeftButton);
    QCOMPARE(checkedRows(), QList<int>{0});
    QCOMPARE(list.CurrentText(), QStringLiteral("划痕"));

    list.SetCurrentRow(7);
    list.SetCurrentRow(-1);
    QCOMPARE(list.CurrentText(), QStringLiteral("划痕"));
}

void TestComUi::listDeleteAsksFirst_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("rowsLeft");

    QTest::newRow("cancel") << QStringLiteral("btnCancel") << 3;
    QTest::newRow("close") << QStringLiteral("btnClose") << 3;
    // Without an open project the list is left as it is.
    QTest::newRow("OK without project") << QStringLiteral("btnOK") << 3;
}

void TestComUi::listDeleteAsksFirst()
{
    QFETCH(QString, answer);
    QFETCH(int, rowsLeft);

    SingleSelectListView list;
    list.resize(300, 300);
    for (const char* text : {"划痕", "脏污", "缺角"})
        list.AddItem(QString::fromUtf8(text));
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    QString asked;
    QString title;
    WhenShown<CMsgWnd>(this,
                       [&](CMsgWnd* wnd)
                       {
                           asked = wnd->findChild<QLabel*>(QStringLiteral("labelTip"))->toolTip();
                           title = wnd->findChild<QLabel*>(QStringLiteral("labelText"))->text();
                           QTest::mouseClick(wnd->findChild<QPushButton*>(answer), Qt::LeftButton);
                       });
    auto* row = qobject_cast<ListItemWidget*>(list.itemWidget(list.item(1)));
    QTest::mouseClick(row->DeleteButton(), Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("提示"));
    QCOMPARE(asked, QStringLiteral("确定删除标注类别：脏污吗？"));
    QCOMPARE(list.count(), rowsLeft);
}

void TestComUi::listDeleteRemovesCategory()
{
    QTemporaryDir workspace;
    QVERIFY(workspace.isValid());
    CreateNexil();
    const auto releaseCore = qScopeGuard([] { ReleaseNexil(); });
    {
        const std::shared_ptr<INexil> core = NexilIns().lock();
        QVERIFY(core);
        QVERIFY(core->Init(workspace.path()));
        auto record = std::make_shared<pro::info>();
        record->id = QStringLiteral("5F3A9C21D0E");
        record->name = QStringLiteral("外观检测");
        record->type = 1;
        record->createTime = record->lastUsedTime = QStringLiteral("2025-03-07 09:30:00");
        QVERIFY(core->AddPro(record));
        core->OpenPro(record->id);
    }
    std::weak_ptr<IPrjCore> project = PrjIns();
    QVERIFY(project.lock());

    SingleSelectListView list;
    list.resize(300, 300);
    for (const char* text : {"划痕", "脏污", "缺角"})
    {
        QVERIFY(project.lock()->AddMarkType(QString::fromUtf8(text)));
        list.AddItem(QString::fromUtf8(text));
    }
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.SetCurrentRow(2);

    WhenShown<CMsgWnd>(
        this, [](CMsgWnd* wnd)
        { QTest::mouseClick(wnd->findChild<QPushButton*>(QStringLiteral("btnOK")), Qt::LeftButton); });
    QTest::mouseClick(qobject_cast<ListItemWidget*>(list.itemWidget(list.item(1)))->DeleteButton(),
                      Qt::LeftButton);
    QCOMPARE(list.count(), 2);
    QCOMPARE(project.lock()->MarkTypes(), QStringList({QStringLiteral("划痕"), QStringLiteral("缺角")}));
    QCOMPARE(list.CurrentText(), QStringLiteral("缺角"));
    const auto second = qobject_cast<ListItemWidget*>(list.itemWidget(list.item(1)));
    QCOMPARE(second->Text(), QStringLiteral("缺角"));
    QVERIFY(second->RadioButton()->isChecked());
}

void TestComUi::plainTextLines()
{
    PlainTestWid wid;
    QCOMPARE(wid.size(), QSize(600, 400));
    wid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&wid));
    auto* view = wid.findChild<QPlainTextEdit*>();
    auto* btnShow = wid.findChild<QPushButton*>(QStringLiteral("btnShow"));
    QVERIFY(view && btnShow && btnShow->isCheckable());
    QCOMPARE(wid.findChild<QLabel*>(QStringLiteral("lbTitle"))->text(), QStringLiteral("日志信息"));
    QVERIFY(wid.findChild<QWidget*>(QStringLiteral("widRunInfo"))->minimumHeight() >= 34);

    wid.AppendLine(QStringLiteral("epoch 1"));
    wid.AppendLine(QStringLiteral("epoch 2"));
    QCOMPARE(view->toPlainText(), QStringLiteral("epoch 1\nepoch 2"));
    QCOMPARE(view->document()->blockCount(), 2);

    wid.Collapse();
    QVERIFY(btnShow->isChecked());
    QVERIFY(!view->isVisible());
    QTest::mouseClick(btnShow, Qt::LeftButton);
    QVERIFY(!btnShow->isChecked());
    QVERIFY(view->isVisible());
    QTest::mouseClick(btnShow, Qt::LeftButton);
    QVERIFY(!view->isVisible());

    wid.ClearLines();
    QCOMPARE(view->toPlainText(), QString());
}

void TestComUi::pathWidget_data()
{
    // "%1" stands for a folder of the test's, holding "0001.png" and "imgs".
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("revealed"); // empty: the file manager is not asked

    QTest::newRow("file") << "%1/0001.png"
                          << "%1/0001.png";
    QTest::newRow("folder") << "%1/imgs"
                            << "%1/imgs";
    QTest::newRow("missing file") << "%1/no/such/0001.png"
                                  << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestComUi::pathWidget()
{
    QFETCH(QString, path);
    QFETCH(QString, revealed);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("imgs")));
    QFile file(dir.filePath(QStringLiteral("0001.png")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    if (path.contains(QLatin1String("%1")))
        path = path.arg(dir.path());
    if (revealed.contains(QLatin1String("%1")))
        revealed = revealed.arg(dir.path());

    PathWid wid;
    QStringList asked;
    wid.SetRevealer(
        [&asked](const QString& shown)
        {
            asked << shown;
            return true;
        });
    wid.SetPath(path);
    QCOMPARE(wid.Path(), path);
    QCOMPARE(wid.findChild<QLineEdit*>(QStringLiteral("edtCurFile"))->text(), path);
    auto* where = wid.findChild<QPushButton*>(QStringLiteral("btnWhere"));
    QCOMPARE(where->text(), QStringLiteral("打开"));
    where->click();
    QCOMPARE(asked, revealed.isEmpty() ? QStringList() : QStringList{revealed});
    // The platform's own file manager call refuses what does not exist.
    if (revealed.isEmpty())
        QVERIFY(!comlib::platform::RevealInFileManager(path));
}

void TestComUi::scrollBarHandleIsDarker()
{
    // At value 0 the handle fills the first sixth of the bar; the rest is track.
    QScrollBar bar(Qt::Vertical);
    bar.setRange(0, 100);
    bar.setPageStep(20);
    bar.resize(16, 300);
    const QColor handle = ColourAt(&bar, QPoint(8, 20));
    const QColor track = ColourAt(&bar, QPoint(8, 280));
    QVERIFY2(handle.lightness() + 40 < track.lightness(), qPrintable(handle.name() + " on " + track.name()));
}

QTEST_MAIN(TestComUi)
#include "tst_ComUi.moc"
