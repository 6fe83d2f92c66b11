#pragma once

#include <QSortFilterProxyModel>

// Shows the rows of one status of a SourceImgModel, in the natural order of their paths; an
// empty status shows all. The caption of column 1 counts the shown rows.
class SourceImgModel;

class StatusFilterProxyModel : public QSortFilterProxyModel
{
public:
    explicit StatusFilterProxyModel(QObject* parent = nullptr);

    void setFilterStatus(const QString& status);
    const QString& filterStatus() const { return m_filterStatus; }

    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void setSourceModel(QAbstractItemModel* sourceModel) override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    QString m_filterStatus;
    // The source when it is a SourceImgModel: sorting and filtering then read its rows directly, as
    // each arriving row is compared with many others.
    const SourceImgModel* m_table = nullptr;
};
