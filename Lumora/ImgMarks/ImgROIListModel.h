#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QMutex>

#include <memory>

class ROIItem;

// The ROIs of the shown image by title; the ROI selected on the canvas carries an icon. Holds the
// ROIs weakly: a ROI that is gone shows as an empty row.
class ImgROIListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit ImgROIListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void addItem(std::weak_ptr<ROIItem> roi);
    void clearItems();
    std::weak_ptr<ROIItem> itemAt(int row) const;
    // The first row holding the same ROI; a ROI that is gone matches a row whose ROI is gone.
    QModelIndex indexOfItem(std::weak_ptr<ROIItem> roi) const;

signals:
    void allItemsCleared();

private:
    QMutex m_mutex;
    QList<std::weak_ptr<ROIItem>> m_items;
};
