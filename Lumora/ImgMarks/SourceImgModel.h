#pragma once

#include "Nexil/ImageInfo.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

#include <memory>

// The images that are not annotated yet, one row per image file (a record or another record of the
// same source file is never listed twice), in order of arrival, with a check box. Views show them
// sorted by kSortKeyRole. The check-box operations act on the rows of the current status only.
class SourceImgModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        kCheckColumn = 0,
        kNameColumn = 1,
        kMarkedColumn = 2,
    };
    // Role of column 1 that gives the row's status text.
    static constexpr int kStatusRole = Qt::UserRole + 1;
    // Role of column 1 whose text order is the natural order of the paths (ImageOrder::SortKey).
    static constexpr int kSortKeyRole = Qt::UserRole + 2;

    explicit SourceImgModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Nothing when this record or one of the same source file is listed already.
    void appendImage(std::shared_ptr<pro::ImageInfo> spImg);
    // Returns how many rows were added.
    int appendImages(const QList<std::shared_ptr<pro::ImageInfo>>& images);
    bool isListed(const pro::ImageInfo& img) const;
    // Removes the rows of other records of the same source files (the images went to the
    // annotated tree); returns how many.
    int removeOtherRecords(const QList<std::shared_ptr<pro::ImageInfo>>& images);
    // The file a record stands for: its source, or its path when it has none.
    static QString sourceKey(const pro::ImageInfo& img);
    void clearImages();
    std::weak_ptr<pro::ImageInfo> imageAt(const QModelIndex& index) const;
    // What kSortKeyRole and kStatusRole give for a valid row, without a QVariant.
    const QString& sortKeyAt(int row) const;
    const QString& statusAt(int row) const;
    // The record's ROIs or OK mark changed: its row shows them anew. Nothing when it is not listed.
    void refreshRecord(const std::shared_ptr<pro::ImageInfo>& spImg);

    void setCurrentStatus(const QString& status);
    const QString& currentStatus() const { return m_currentStatus; }
    Qt::CheckState headerCheckState() const;
    // PartiallyChecked inverts each row of the current status.
    void setStatusRowsChecked(Qt::CheckState state);
    // Removes the checked rows of the status; project images among them are deleted from the
    // project. Returns the paths of the removed rows in row order, for deleting the files.
    QStringList takeCheckedImages(const QString& status);

private:
    // Sets the rows of the current status, announcing each run of changed rows once.
    void setStatusRows(bool (*next)(bool));
    void announceWholeTable();

    QList<std::shared_ptr<pro::ImageInfo>> m_rows;
    // The sort key of each row, computed once: a sorting view asks for it at every comparison.
    QList<QString> m_sortKeys;
    QStringList m_headers;
    bool m_allChecked = false;
    QString m_currentStatus;
    // The listed records, for the duplicate test of appendImage at any list length.
    QSet<const pro::ImageInfo*> m_listed;
    QHash<QString, const pro::ImageInfo*> m_sources;
};
