#pragma once

#include <QLabel>

// A label that keeps to one line of the width it is given: line breaks show as spaces, text that does
// not fit ends in "…", and the whole text is its tool tip then. A long text never widens its window.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // What the label shows in its current width.
    QString ShownText() const;
    bool IsElided() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString OneLine() const;
};
