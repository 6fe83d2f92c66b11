#pragma once

#include <QStyledItemDelegate>

// Shows each cell's text on one line (line breaks as spaces), ending in "…" where the cell is too
// narrow, and gives the whole text as the cell's tool tip then.
class ElidedTextDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ElidedTextDelegate(QObject* parent = nullptr);

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
