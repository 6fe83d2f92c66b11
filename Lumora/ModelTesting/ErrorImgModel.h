#pragma once

#include "ThresholdRates.h"

#include <QAbstractItemModel>
#include <QList>
#include <QString>
#include <QVector>

#include <memory>

// The images behind a labelled test's missed and overkill rates, grouped by the class actually missed
// or falsely found: one group per kind and class, the images below it. An image wrong in two classes
// is listed in both groups.
class ErrorImgModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit ErrorImgModel(QObject* parent = nullptr);

    void SetErrors(std::shared_ptr<const ThresholdRates> rates, const QVector<double>& thresholds);
    void Clear();
    // The image path of an image row, empty for groups.
    QString PathAt(const QModelIndex& index) const;
    // The image rows in tree order.
    QList<QModelIndex> ImageIndexes() const;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    struct Group
    {
        bool missed = false;
        int cls = 0;
        QVector<int> images;
    };

    QString ImageText(const Group& group, int image) const;

    std::shared_ptr<const ThresholdRates> m_rates;
    QVector<Group> m_groups;
};
