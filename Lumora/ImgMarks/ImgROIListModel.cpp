#include "ImgROIListModel.h"

#include "ComUi/CategoryPalette.h"
#include "Nexil/ROI/ROIItem.h"

#include <QIcon>
#include <QMutexLocker>

ImgROIListModel::ImgROIListModel(QObject* parent) : QAbstractListModel(parent) {}

int ImgROIListModel::rowCount(const QModelIndex& parent) const
{
    // A list has no children; the model tester asks for them.
    return parent.isValid() ? 0 : m_items.size();
}

QVariant ImgROIListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_items.size())
        return QVariant();
    const auto roi = m_items.at(index.row()).lock();
    if (!roi)
        return QVariant();
    if (role == Qt::DisplayRole)
        return roi->title();
    if (role == Qt::DecorationRole && roi->isSelected())
        return QIcon(QStringLiteral(":/images/marks.png"));
    if (role == kColorRole)
        return CategoryPalette::Of(m_categories, roi->title());
    return QVariant();
}

void ImgROIListModel::setCategories(const QStringList& categories)
{
    if (categories == m_categories)
        return;
    m_categories = categories;
    if (!m_items.isEmpty())
        emit dataChanged(index(0, 0), index(m_items.size() - 1, 0), {kColorRole});
}

void ImgROIListModel::addItem(std::weak_ptr<ROIItem> roi)
{
    QMutexLocker locker(&m_mutex);
    beginInsertRows(QModelIndex(), m_items.size(), m_items.size());
    m_items.append(roi);
    endInsertRows();
}

void ImgROIListModel::clearItems()
{
    beginResetModel();
    m_items.clear();
    endResetModel();
    emit allItemsCleared();
}

std::weak_ptr<ROIItem> ImgROIListModel::itemAt(int row) const
{
    if (row < 0 || row >= m_items.size())
        return {};
    return m_items.at(row);
}

QModelIndex ImgROIListModel::indexOfItem(std::weak_ptr<ROIItem> roi) const
{
    const auto wanted = roi.lock();
    for (int row = 0; row < m_items.size(); ++row)
    {
        if (m_items.at(row).lock() == wanted)
            return index(row, 0);
    }
    return QModelIndex();
}
