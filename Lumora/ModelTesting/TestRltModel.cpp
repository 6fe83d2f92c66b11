#include "TestRltModel.h"

TestRltModel::TestRltModel(QObject* parent) : QAbstractTableModel(parent) {}

int TestRltModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int TestRltModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_header.size();
}

QVariant TestRltModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    // A service that reports fewer rates than there are classes leaves the last cells empty.
    const QStringList& row = m_rows.at(index.row());
    if (index.column() >= row.size())
        return QVariant();
    switch (role)
    {
    case Qt::DisplayRole:
        return row.at(index.column());
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    default:
        return QVariant();
    }
}

QVariant TestRltModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section >= 0 && section < m_rows.size() ? QVariant(section + 1) : QVariant();
    return section >= 0 && section < m_header.size() ? QVariant(m_header.at(section)) : QVariant();
}

void TestRltModel::SetHeaderList(const QStringList& header)
{
    // The column count changes with the header, so the views start over.
    beginResetModel();
    m_header = header;
    endResetModel();
}

void TestRltModel::AppendRow(const QStringList& row)
{
    const int at = m_rows.size();
    beginInsertRows(QModelIndex(), at, at);
    m_rows.append(row);
    endInsertRows();
}
