#include "CMsgWnd.h"
#include "ui_CMsgWnd.h"

#include "FramelessWindow.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMovie>
#include <QPainter>
#include <QScreen>
#include <QStyleOption>
#include <QTimer>

namespace
{

constexpr int kMinWidth = 470;
constexpr int kMaxWidth = 800;
constexpr int kWidthPadding = 220;
constexpr int kLineHeight = 30;
constexpr int kBaseHeight = 260;
constexpr int kWaitHeight = 150;
constexpr int kTitleHeight = 73;

QString IconOf(int kind)
{
    switch (kind)
    {
    case NOTIFY_COMPLETE:
        return QStringLiteral(":/ico/NOTIFY_COMPLETE.png");
    case NOTIFY_WARNING:
        return QStringLiteral(":/ico/NOTIFY_WARNING.png");
    case NOTIFY_ERROR:
        return QStringLiteral(":/ico/NOTIFY_ERROR.png");
    case NOTIFY_ABOUT:
        return QStringLiteral(":/ico/NOTIFY_ABOUT.png");
    case NOTIFY_QUERY:
        return QStringLiteral(":/ico/NOTIFY_QUERY.png");
    default:
        return QString();
    }
}

int WidestLine(const QStringList& lines, const QFont& font)
{
    const QFontMetrics metrics(font);
    int widest = 0;
    for (const QString& line : lines)
        widest = qMax(widest, metrics.horizontalAdvance(line));
    return widest;
}

} // namespace

CMsgWnd::CMsgWnd(QWidget* parent, const QString& title, const QString& text, int kind)
    : QDialog(parent), ui(std::make_unique<Ui::CMsgWnd>()), m_kind(kind)
{
    ui->setupUi(this);
    if (parent)
        setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    else
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(title);

    AddPanelShadow(ui->widShadow, QColor(QStringLiteral("#7FD4CD")), 8);

    if (kind == NOTIFY_WAIT)
        BuildWaitPage(text);
    else
        BuildMessagePage(title, text, kind);
    CentreOnScreen();

    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->btnWaitClose, &QPushButton::clicked, this, &QWidget::close);
    ui->labelTip->installEventFilter(this);
}

CMsgWnd::~CMsgWnd() = default;

void CMsgWnd::BuildWaitPage(const QString& text)
{
    ui->widgetWaitClose->hide();
    auto* movie = new QMovie(QStringLiteral(":/gif/Wait_Loading.gif"), QByteArray(), this);
    ui->labelWait->setMovie(movie);
    movie->start();
    ui->labelIng->setText(text);
    ui->btnWaitClose->setStyleSheet(
        QStringLiteral("QPushButton { border: none; background: transparent; color: red; font-size: 18px; }"
                       "QPushButton:hover { text-decoration: underline; }"));
    setFixedHeight(kWaitHeight);
    ui->stackedWidget->setCurrentWidget(ui->pageWait);
    // A coarse timer may fire up to 5 % early; the link must not show before the full delay.
    m_waitCloseTimer = new QTimer(this);
    m_waitCloseTimer->setSingleShot(true);
    m_waitCloseTimer->setTimerType(Qt::PreciseTimer);
    connect(m_waitCloseTimer, &QTimer::timeout, ui->widgetWaitClose, &QWidget::show);
    m_waitCloseTimer->start(kWaitCloseDelayMs);
}

void CMsgWnd::SetWaitCloseDelay(int delayMs)
{
    if (m_waitCloseTimer)
        m_waitCloseTimer->start(delayMs);
}

void CMsgWnd::BuildMessagePage(const QString& title, const QString& text, int kind)
{
    AttachFrameHelper(this, kTitleHeight, WindowResize::Fixed);

    ui->labelText->setText(title);
    ui->labelTip->setText(text);
    ui->labelTip->setToolTip(text);

    // The style sheets decide the label fonts, so measure after polishing.
    ensurePolished();
    const QStringList lines = text.split(QLatin1Char('\n'));
    const int widest = qMax(WidestLine(lines, ui->labelTip->font()),
                            WidestLine(title.split(QLatin1Char('\n')), ui->labelText->font()));
    const int width = qBound(kMinWidth, widest + kWidthPadding, kMaxWidth);
    setFixedSize(width, kLineHeight * lines.size() + kBaseHeight);

    const QString icon = IconOf(kind);
    if (icon.isEmpty())
        ui->lbMsgIcon->hide();
    else
        ui->lbMsgIcon->setPixmap(QPixmap(icon));
    ui->stackedWidget->setCurrentWidget(ui->pageMsg);
}

void CMsgWnd::CentreOnScreen()
{
    QScreen* screen = nullptr;
    if (parentWidget())
        screen = parentWidget()->window()->screen();
    if (!screen)
        screen = QGuiApplication::screenAt(pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void CMsgWnd::ElideTip()
{
    const QFontMetrics metrics(ui->labelTip->font());
    const int width = ui->labelTip->width();
    QStringList lines = ui->labelTip->toolTip().split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = metrics.elidedText(line, Qt::ElideRight, width);
    ui->labelTip->setText(lines.join(QLatin1Char('\n')));
}

bool CMsgWnd::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->labelTip && event->type() == QEvent::Resize)
        ElideTip();
    return QDialog::eventFilter(watched, event);
}

void CMsgWnd::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

CMsgWnd* CMsgWnd::Make(QWidget* parent, const QString& title, const QString& text, int kind,
                       const QString& okText, const QString& cancelText)
{
    auto* wnd = new CMsgWnd(parent, title, text, kind);
    wnd->setAttribute(Qt::WA_DeleteOnClose);
    wnd->setModal(true);
    if (!okText.isEmpty())
        wnd->ui->btnOK->setText(okText);
    if (!cancelText.isEmpty())
        wnd->ui->btnCancel->setText(cancelText);
    return wnd;
}

void CMsgWnd::Information(QWidget* parent, const QString& title, const QString& text, int kind,
                          const QString& okText, const QString& cancelText)
{
    CMsgWnd* wnd = Make(parent, title, text, kind, okText, cancelText);
    wnd->ui->btnCancel->hide();
    wnd->exec();
}

int CMsgWnd::Question(QWidget* parent, const QString& title, const QString& text, int kind,
                      const QString& okText, const QString& cancelText)
{
    return Make(parent, title, text, kind, okText, cancelText)->exec();
}

void CMsgWnd::ShowWait(QWidget* parent, const QString& title, const QString& text, int kind,
                       const QString& okText, const QString& cancelText,
                       const std::function<void(CMsgWnd*)>& callback)
{
    CMsgWnd* wnd = Make(parent, title, text, kind, okText, cancelText);
    wnd->ui->btnCancel->hide();
    if (callback)
        callback(wnd);
    wnd->show();
}
