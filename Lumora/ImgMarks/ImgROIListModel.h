#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QMutex>
#include <QStringList>

#include <memory>

class ROIItem;

// The ROIs of the shown image by title; the ROI selected on the canvas carries an icon. Holds the
// ROIs weakly: a ROI that is gone shows as an empty row.
class ImgROIListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    // The colour of the ROI's category (CategoryPalette), for the row's swatch.
    static constexpr int kColorRole = Qt::UserRole + 1;

    explicit ImgROIListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void addItem(std::weak_ptr<ROIItem> roi);
    void clearItems();
    // The project's categories in order, which give the rows their colours.
    void setCategories(const QStringList& categories);
    std::weak_ptr<ROIItem> itemAt(int row) const;
    // The first row holding the same ROI; a ROI that is gone matches a row whose ROI is gone.
    QModelIndex indexOfItem(std::weak_ptr<ROIItem> roi) const;

signals:
    void allItemsCleared();

private:
    QMutex m_mutex;
    QList<std::weak_ptr<ROIItem>> m_items;
    QStringList m_categories;
};
