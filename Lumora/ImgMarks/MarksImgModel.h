#pragma once

#include "Nexil/ImageInfo.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QList>
#include <QModelIndex>

#include <memory>
#include <unordered_set>
#include <vector>

// Image records grouped by category: one group per ROI title, plus "OK". A record with ROIs of
// several titles is listed once in each of their groups. Groups are sorted by name, the images of
// a group in the natural order of their paths (ImageOrder::SortKey); new records are inserted in
// place, so a batch never re-sorts the tree.
class MarksImgModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    struct TreeNode
    {
        enum Kind
        {
            kGroup = 0,
            kImage = 1,
        };
        int kind = kGroup;
        QString name;
        std::shared_ptr<pro::ImageInfo> image;
        // Owned by the model. Plain pointers: inserting in the middle of a large group is then a
        // single memory move.
        std::vector<TreeNode*> children;
        TreeNode* parent = nullptr;
        // The records listed under a group, for the same-record test at any group size.
        std::unordered_set<const pro::ImageInfo*> members;
        // An image node's sort key (ImageOrder::SortKey) when it was placed.
        QString key;

        TreeNode() = default;
        TreeNode(const TreeNode&) = delete;
        TreeNode& operator=(const TreeNode&) = delete;
        ~TreeNode();
    };

    static constexpr char kOkGroup[] = "OK";

    explicit MarksImgModel(QObject* parent = nullptr);
    ~MarksImgModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Rebuilds the tree from the open project; nothing without one.
    void reload();
    void addImages(const QList<std::shared_ptr<pro::ImageInfo>>& images);
    void clearTree();
    std::weak_ptr<pro::ImageInfo> imageAt(const QModelIndex& index) const;
    // Only an image node is removed; its group stays, also when empty.
    void removeImage(const QModelIndex& index);
    // All image nodes in tree order; cached until the tree changes.
    QList<QModelIndex> imageIndexes();
    // The image node after current in tree order, or before it, wrapping around at the ends; the
    // first or the last when current is no image node, invalid when there is none.
    QModelIndex neighbour(const QModelIndex& current, bool forward);

    // Lists records that are not annotated as well (in the group "无标注" when without ROIs).
    bool includeUnmarked = false;

private:
    TreeNode* nodeOf(const QModelIndex& index) const;
    int groupRow(const TreeNode* group) const;
    // Finds or makes the group; rows are announced only when notify is set (outside a reset).
    TreeNode* group(const QString& name, bool notify);
    // With notify, the image node waits in m_arrivals for the rest of its batch.
    void putInGroup(const QString& name, const std::shared_ptr<pro::ImageInfo>& spImg, bool notify);
    void placeRecord(const std::shared_ptr<pro::ImageInfo>& spImg, bool notify);
    // Places the image nodes of a batch waiting in m_arrivals among the sorted ones of their groups.
    void insertArrivals();
    void sortAll();
    void clearNodes();
    void collectImages(const QModelIndex& parent);

    std::unique_ptr<TreeNode> m_root;
    QHash<QString, TreeNode*> m_groups;
    QHash<TreeNode*, std::vector<TreeNode*>> m_arrivals;
    QList<QModelIndex> m_imageIndexes;
    bool m_cacheDirty = true;
};
