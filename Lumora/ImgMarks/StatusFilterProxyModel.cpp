#include "StatusFilterProxyModel.h"

#include "SourceImgModel.h"

#include <QTimer>

StatusFilterProxyModel::StatusFilterProxyModel(QObject* parent) : QSortFilterProxyModel(parent)
{
    // Rows arriving later are placed among the sorted ones, so the order holds as batches arrive.
    setSortRole(SourceImgModel::kSortKeyRole);
    setDynamicSortFilter(true);
    sort(SourceImgModel::kNameColumn, Qt::AscendingOrder);
}

void StatusFilterProxyModel::setFilterStatus(const QString& status)
{
    m_filterStatus = status;
    invalidateFilter();
    // The caption's count follows once the view has taken the new rows.
    QTimer::singleShot(0, this,
                       [this] {
                           emit headerDataChanged(Qt::Horizontal, SourceImgModel::kNameColumn,
                                                  SourceImgModel::kNameColumn);
                       });
}

void StatusFilterProxyModel::setSourceModel(QAbstractItemModel* sourceModel)
{
    m_table = qobject_cast<const SourceImgModel*>(sourceModel);
    QSortFilterProxyModel::setSourceModel(sourceModel);
}

bool StatusFilterProxyModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    if (m_table && sortRole() == SourceImgModel::kSortKeyRole)
        return m_table->sortKeyAt(left.row()) < m_table->sortKeyAt(right.row());
    return QSortFilterProxyModel::lessThan(left, right);
}

bool StatusFilterProxyModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (m_filterStatus.isEmpty())
        return true;
    if (m_table && !sourceParent.isValid())
        return m_table->statusAt(sourceRow) == m_filterStatus;
    const QModelIndex index = sourceModel()->index(sourceRow, SourceImgModel::kNameColumn, sourceParent);
    return sourceModel()->data(index, SourceImgModel::kStatusRole).toString() == m_filterStatus;
}

QVariant StatusFilterProxyModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || !sourceModel())
        return QSortFilterProxyModel::headerData(section, orientation, role);
    const QVariant value = sourceModel()->headerData(section, orientation, role);
    if (section != SourceImgModel::kNameColumn)
        return value;
    const QString caption = value.toString();
    const int cut = caption.indexOf(QChar(0xFF08));
    return QStringLiteral("%1（%2张）").arg(cut < 0 ? caption : caption.left(cut)).arg(rowCount());
}
