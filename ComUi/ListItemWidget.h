#pragma once

#include <QWidget>

class QButtonGroup;
class QColor;
class QLabel;
class QRadioButton;
class QToolButton;

// One row of a SingleSelectListView: a radio button, the text and a delete button "×".
// A press anywhere on the row checks its radio button.
class ListItemWidget : public QWidget
{
    Q_OBJECT

public:
    ListItemWidget(const QString& text, QButtonGroup* group, QWidget* parent = nullptr);

    QString Text() const;
    // The colour of the row's category, shown as a swatch before its text.
    void SetColor(const QColor& color);
    QRadioButton* RadioButton() const { return m_radio; }
    QToolButton* DeleteButton() const { return m_btnDelete; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QRadioButton* m_radio;
    QLabel* m_swatch;
    QLabel* m_label;
    QToolButton* m_btnDelete;
};
