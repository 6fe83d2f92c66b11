#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

// The outcome of one test run: a header of class names and one row per rate, cells centred.
class TestRltModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit TestRltModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void SetHeaderList(const QStringList& header);
    void AppendRow(const QStringList& row);

private:
    QList<QStringList> m_rows;
    QStringList m_header;
};
