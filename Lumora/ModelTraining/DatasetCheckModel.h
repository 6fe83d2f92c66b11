#pragma once

#include "DatasetCheck.h"

#include <QAbstractTableModel>
#include <QColor>

// Images and ROIs per category of the last data set check; categories too thin to train are
// coloured as their warnings.
class DatasetCheckModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        ColName,
        ColImages,
        ColRois,
        ColCount,
    };

    explicit DatasetCheckModel(QObject* parent = nullptr);
    ~DatasetCheckModel() override;

    void SetClasses(const QVector<DatasetCheck::ClassCount>& classes);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    static const QColor& WarningColor();
    static const QColor& ErrorColor();

private:
    QVector<DatasetCheck::ClassCount> m_classes;
};
