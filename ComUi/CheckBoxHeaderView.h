#pragma once

#include <QHeaderView>

// A header whose first section carries a tri-state check box, for "check all" over a table.
class CheckBoxHeaderView : public QHeaderView
{
    Q_OBJECT

public:
    // Side of the square box drawn in section 0.
    static constexpr int kBoxSize = 24;

    explicit CheckBoxHeaderView(Qt::Orientation orientation = Qt::Horizontal, QWidget* parent = nullptr);

    Qt::CheckState checkState() const { return m_state; }
    // Shows the state without emitting toggleAll.
    void setCheckState(Qt::CheckState state);

signals:
    void toggleAll(Qt::CheckState state);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QRect BoxRect(const QRect& sectionRect) const;

    Qt::CheckState m_state = Qt::Unchecked;
};
