#pragma once

#include <QDialog>

#include <functional>
#include <memory>

class QTimer;

namespace Ui
{
class CMsgWnd;
}

// Kinds of message windows: the icon shown, or the wait page for NOTIFY_WAIT. Any other value
// gives a message without icon.
enum NotifyKind
{
    NOTIFY_COMPLETE = 0,
    NOTIFY_WARNING = 1,
    NOTIFY_ERROR = 2,
    NOTIFY_ABOUT = 3,
    NOTIFY_QUERY = 4,
    NOTIFY_WAIT = 5,
};

// The program's message window: notices, questions and the wait window of long operations.
// Windows made by the static entries are modal and delete themselves when closed.
class CMsgWnd : public QDialog
{
    Q_OBJECT

public:
    // Milliseconds after which the wait window offers its close link.
    static constexpr int kWaitCloseDelayMs = 20000;

    CMsgWnd(QWidget* parent, const QString& title, const QString& text, int kind);
    ~CMsgWnd() override;

    // The kind the window was made with, as given (also values without an icon).
    int Kind() const { return m_kind; }
    // Offers the wait window's close link delayMs after this call instead of kWaitCloseDelayMs
    // after construction. Message windows have no close link and ignore it.
    void SetWaitCloseDelay(int delayMs);

    // Shows the message with its OK button and returns when the window is closed. Empty button
    // texts keep "确定" and "取消".
    static void Information(QWidget* parent, const QString& title, const QString& text,
                            int kind = NOTIFY_ABOUT, const QString& okText = QString(),
                            const QString& cancelText = QString());
    // Asks with OK and Cancel; 1 for OK, 0 for Cancel or the close button.
    static int Question(QWidget* parent, const QString& title, const QString& text, int kind = NOTIFY_QUERY,
                        const QString& okText = QString(), const QString& cancelText = QString());
    // Shows the window without waiting; the callback gets it first, to connect the end of the
    // operation to its close().
    static void ShowWait(QWidget* parent, const QString& title, const QString& text, int kind = NOTIFY_WAIT,
                         const QString& okText = QString(), const QString& cancelText = QString(),
                         const std::function<void(CMsgWnd*)>& callback = {});

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    static CMsgWnd* Make(QWidget* parent, const QString& title, const QString& text, int kind,
                         const QString& okText, const QString& cancelText);
    void BuildWaitPage(const QString& text);
    void BuildMessagePage(const QString& title, const QString& text, int kind);
    void CentreOnScreen();
    void ElideTip();

    std::unique_ptr<Ui::CMsgWnd> ui;
    int m_kind;
    QTimer* m_waitCloseTimer = nullptr;
};
