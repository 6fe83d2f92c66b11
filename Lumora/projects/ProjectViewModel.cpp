#include "ProjectViewModel.h"

#include "Nexil/NexilApi.h"

#include <algorithm>

ProjectViewModel::ProjectViewModel(QObject* parent) : QAbstractTableModel(parent) {}

bool ProjectViewModel::IsCell(const QModelIndex& index) const
{
    return index.isValid() && index.model() == this && index.row() < static_cast<int>(m_projects.size()) &&
           index.column() < m_headers.size();
}

ProjectViewModel::~ProjectViewModel() = default;

int ProjectViewModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_projects.size());
}

int ProjectViewModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_headers.size();
}

QVariant ProjectViewModel::data(const QModelIndex& index, int role) const
{
    if (!IsCell(index))
        return QVariant();
    const auto& spPInfo = m_projects[static_cast<std::size_t>(index.row())];
    switch (role)
    {
    case Qt::DisplayRole:
        switch (index.column())
        {
        case 0:
            return spPInfo->name;
        case 1:
        {
            // The type's name belongs to the core library, which may be gone.
            const auto spCore = NexilIns().lock();
            return spCore ? spCore->TypeName(spPInfo->type) : QString();
        }
        case 2:
            return spPInfo->tips;
        case 3:
            return spPInfo->status;
        default:
            return QVariant();
        }
    case IdRole:
        return index.column() == 0 ? QVariant(spPInfo->id) : QVariant();
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    default:
        return QVariant();
    }
}

QVariant ProjectViewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || section < 0)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return section < m_headers.size() ? QVariant(m_headers.at(section)) : QVariant();
    return section + 1;
}

void ProjectViewModel::SetHeaders(const QStringList& headers)
{
    beginResetModel();
    m_headers = headers;
    endResetModel();
}

void ProjectViewModel::AddProject(const std::shared_ptr<pro::info>& spPInfo)
{
    if (!spPInfo || std::find(m_projects.begin(), m_projects.end(), spPInfo) != m_projects.end())
        return;
    const int row = static_cast<int>(m_projects.size());
    beginInsertRows(QModelIndex(), row, row);
    m_projects.push_back(spPInfo);
    endInsertRows();
}

void ProjectViewModel::ClearProjects()
{
    beginResetModel();
    m_projects.clear();
    endResetModel();
}

std::shared_ptr<pro::info> ProjectViewModel::ProjectAt(const QModelIndex& index) const
{
    if (!IsCell(index))
        return nullptr;
    return m_projects[static_cast<std::size_t>(index.row())];
}

void ProjectViewModel::RemoveProject(const QModelIndex& index)
{
    if (!IsCell(index))
        return;
    const int row = index.row();
    beginRemoveRows(QModelIndex(), row, row);
    m_projects.erase(m_projects.begin() + row);
    endRemoveRows();
}
