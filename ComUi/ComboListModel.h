#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QPair>
#include <QString>

// (text, value) pairs for combo boxes: Qt::DisplayRole gives the text, Qt::UserRole the value.
class ComboListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    using Item = QPair<QString, QString>;

    explicit ComboListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Appends the pairs after the present rows.
    void AddItems(const QList<Item>& items);
    void ClearItems();

private:
    QList<Item> m_items;
};
