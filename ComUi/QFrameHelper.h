#pragma once

#include <QObject>

#include <map>
#include <memory>

class QWidget;

// Makes frameless windows movable by their title area and, when enabled, resizable at their
// 5-pixel border. The title-area height is shared by every helper: the value set last is in force
// for all windows.
class QFrameHelper : public QObject
{
    Q_OBJECT

public:
    explicit QFrameHelper(QObject* parent = nullptr);
    ~QFrameHelper() override;

    // Starts handling the widget's mouse events; a widget already handled is left as it is.
    void activateOn(QWidget* widget);

    // Height of the title area for every helper; zero or less keeps the current value.
    void setTitleHeight(int height);
    void setWidgetMovable(bool movable);
    void setWidgetResizable(bool resizable);
    void setRubberBandOnMove(bool on);
    void setRubberBandOnResize(bool on);

    bool widgetMovable() const { return m_movable; }
    bool widgetResizable() const { return m_resizable; }
    bool rubberBandOnMove() const { return m_rubberBandOnMove; }
    bool rubberBandOnResize() const { return m_rubberBandOnResize; }

    static int titleHeight();
    static int borderWidth();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class WidgetState;

    void UpdateRubberBands();

    std::map<QWidget*, std::unique_ptr<WidgetState>> m_widgets;
    bool m_movable = true;
    bool m_resizable = true;
    bool m_rubberBandOnMove = false;
    bool m_rubberBandOnResize = false;
};
