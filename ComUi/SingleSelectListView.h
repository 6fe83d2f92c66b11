#pragma once

#include <QListWidget>

class QAbstractButton;
class QButtonGroup;
class ListItemWidget;

// A list of texts of which exactly one is chosen with its radio button, each row with a delete
// button. Used for the annotation categories: deleting a row removes the category from the open
// project after the user confirms.
class SingleSelectListView : public QListWidget
{
    Q_OBJECT

public:
    explicit SingleSelectListView(QWidget* parent = nullptr);

    void AddItem(const QString& text);
    // Text of the current row, empty without one.
    QString CurrentText() const;
    // Makes the row current and checks its radio button.
    void SetCurrentRow(int row);

signals:
    // A row and its category were deleted.
    void Signal_ItemDeleted(const QString& text);

public slots:
    // Asks the user, then removes the row whose delete button was clicked and its category.
    void Slot_DeleteItem();

private:
    ListItemWidget* RowWidget(int row) const;
    // Each row shows the colour of its place in the list, which a deleted row above changes.
    void ColourRows();
    void Slot_RadioToggled(QAbstractButton* button, bool checked);

    QButtonGroup* m_group;
};
