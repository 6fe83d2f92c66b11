#pragma once

#include "Nexil/ProInfo.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <memory>
#include <vector>

// The projects of the project manager's table: name, type, notes and status, in the order they were added.
class ProjectViewModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // Role of column 0 that gives the project's id.
    static constexpr int IdRole = Qt::UserRole + 1;

    explicit ProjectViewModel(QObject* parent = nullptr);
    ~ProjectViewModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // One caption per column.
    void SetHeaders(const QStringList& headers);
    // Appends the record unless this very record is a row already.
    void AddProject(const std::shared_ptr<pro::info>& spPInfo);
    void ClearProjects();
    // The row's record, or empty for an invalid index.
    std::shared_ptr<pro::info> ProjectAt(const QModelIndex& index) const;
    void RemoveProject(const QModelIndex& index);

private:
    // A valid index of this model that names an existing cell.
    bool IsCell(const QModelIndex& index) const;

    std::vector<std::shared_ptr<pro::info>> m_projects;
    QStringList m_headers;
};
