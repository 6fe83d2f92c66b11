#include "ComboListModel.h"

ComboListModel::ComboListModel(QObject* parent) : QAbstractListModel(parent) {}

int ComboListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_items.size();
}

QVariant ComboListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const Item& item = m_items.at(index.row());
    switch (role)
    {
    case Qt::DisplayRole:
        return item.first;
    case Qt::UserRole:
        return item.second;
    default:
        return QVariant();
    }
}

void ComboListModel::AddItems(const QList<Item>& items)
{
    if (items.isEmpty())
        return;
    const int first = m_items.size();
    beginInsertRows(QModelIndex(), first, first + items.size() - 1);
    m_items.append(items);
    endInsertRows();
}

void ComboListModel::ClearItems()
{
    beginResetModel();
    m_items.clear();
    endResetModel();
}
