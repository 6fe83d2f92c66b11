#include "MarksImgModel.h"

#include "ImageOrder.h"

#include "Nexil/NexilApi.h"
#include "Nexil/ROI/ROIItem.h"

#include <QIcon>

#include <algorithm>

namespace
{
using Node = MarksImgModel::TreeNode;

bool groupBefore(const Node* a, const Node* b)
{
    return a->name < b->name;
}

bool imageBefore(const Node* a, const Node* b)
{
    return a->key < b->key;
}

const QString& unmarkedGroup()
{
    static const QString name = QObject::tr("无标注");
    return name;
}
} // namespace

MarksImgModel::MarksImgModel(QObject* parent)
    : QAbstractItemModel(parent), m_root(std::make_unique<TreeNode>())
{
    qRegisterMetaType<std::shared_ptr<pro::ImageInfo>>("std::shared_ptr<pro::ImageInfo>");
}

MarksImgModel::~MarksImgModel() = default;

MarksImgModel::TreeNode::~TreeNode()
{
    for (TreeNode* child : children)
        delete child;
}

void MarksImgModel::clearNodes()
{
    for (TreeNode* child : m_root->children)
        delete child;
    m_root->children.clear();
    m_groups.clear();
}

MarksImgModel::TreeNode* MarksImgModel::nodeOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<TreeNode*>(index.internalPointer()) : m_root.get();
}

QModelIndex MarksImgModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    const TreeNode* node = nodeOf(parent);
    if (row >= static_cast<int>(node->children.size()))
        return QModelIndex();
    return createIndex(row, column, node->children[static_cast<size_t>(row)]);
}

QModelIndex MarksImgModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return QModelIndex();
    const TreeNode* node = nodeOf(child);
    if (node->kind != TreeNode::kImage || !node->parent)
        return QModelIndex();
    return createIndex(groupRow(node->parent), 0, node->parent);
}

int MarksImgModel::groupRow(const TreeNode* group) const
{
    // The groups are kept sorted by their unique names, so the row is a binary search away.
    const auto& groups = m_root->children;
    const auto it =
        std::lower_bound(groups.begin(), groups.end(), group->name,
                         [](const TreeNode* node, const QString& name) { return node->name < name; });
    if (it != groups.end() && *it == group)
        return static_cast<int>(it - groups.begin());
    for (size_t i = 0; i < groups.size(); ++i)
    {
        if (groups[i] == group)
            return static_cast<int>(i);
    }
    return -1;
}

int MarksImgModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    return static_cast<int>(nodeOf(parent)->children.size());
}

int MarksImgModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant MarksImgModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const TreeNode* node = nodeOf(index);
    const bool isImage = node->kind == TreeNode::kImage && node->image;
    switch (role)
    {
    case Qt::DisplayRole:
        if (isImage)
            return node->image->fileName;
        return QStringLiteral("%1（%2张）").arg(node->name).arg(node->children.size());
    case Qt::DecorationRole:
        if (isImage)
            return QIcon(QStringLiteral(":/icons/project.png"));
        break;
    case Qt::UserRole:
        if (isImage)
            return QVariant::fromValue(node->image);
        break;
    default:
        break;
    }
    return QVariant();
}

void MarksImgModel::reload()
{
    const auto spCore = PrjIns().lock();
    if (!spCore)
        return;
    m_cacheDirty = true;
    beginResetModel();
    clearNodes();
    for (const auto& spImg : spCore->Images())
    {
        if (!spImg)
            continue;
        if (spImg->markAsOK)
        {
            putInGroup(QString::fromLatin1(kOkGroup), spImg, false);
            continue;
        }
        for (const auto& roi : spImg->rois)
        {
            if (roi)
                putInGroup(roi->title(), spImg, false);
        }
    }
    sortAll();
    endResetModel();
}

void MarksImgModel::addImages(const QList<std::shared_ptr<pro::ImageInfo>>& images)
{
    for (const auto& spImg : images)
    {
        if (spImg && (includeUnmarked || spImg->marked))
            placeRecord(spImg, true);
    }
    insertArrivals();
    m_cacheDirty = true;
}

void MarksImgModel::insertArrivals()
{
    for (auto it = m_arrivals.begin(); it != m_arrivals.end(); ++it)
    {
        TreeNode* target = it.key();
        std::vector<TreeNode*>& arrivals = it.value();
        std::sort(arrivals.begin(), arrivals.end(), imageBefore);
        auto& images = target->children;
        const QModelIndex parent = createIndex(groupRow(target), 0, target);
        // From the last run back, so the places found for the earlier runs stay valid; a run of
        // arrivals that share a place is one insertion.
        size_t end = arrivals.size();
        while (end > 0)
        {
            const auto at = std::upper_bound(images.begin(), images.end(), arrivals[end - 1], imageBefore);
            size_t first = end - 1;
            while (first > 0 &&
                   std::upper_bound(images.begin(), images.end(), arrivals[first - 1], imageBefore) == at)
                --first;
            const int row = static_cast<int>(at - images.begin());
            beginInsertRows(parent, row, row + static_cast<int>(end - first) - 1);
            images.insert(at, arrivals.begin() + static_cast<std::ptrdiff_t>(first),
                          arrivals.begin() + static_cast<std::ptrdiff_t>(end));
            endInsertRows();
            end = first;
        }
    }
    m_arrivals.clear();
}

void MarksImgModel::placeRecord(const std::shared_ptr<pro::ImageInfo>& spImg, bool notify)
{
    if (spImg->markAsOK)
    {
        putInGroup(QString::fromLatin1(kOkGroup), spImg, notify);
        return;
    }
    if (includeUnmarked && spImg->rois.isEmpty())
    {
        putInGroup(unmarkedGroup(), spImg, notify);
        return;
    }
    for (const auto& roi : spImg->rois)
    {
        if (roi && !roi->title().isEmpty())
            putInGroup(roi->title(), spImg, notify);
    }
}

MarksImgModel::TreeNode* MarksImgModel::group(const QString& name, bool notify)
{
    if (TreeNode* found = m_groups.value(name))
        return found;
    auto* node = new TreeNode;
    node->kind = TreeNode::kGroup;
    node->name = name;
    node->parent = m_root.get();
    auto& groups = m_root->children;
    if (notify)
    {
        const auto at = std::upper_bound(groups.begin(), groups.end(), node, groupBefore);
        const int row = static_cast<int>(at - groups.begin());
        beginInsertRows(QModelIndex(), row, row);
        groups.insert(at, node);
        endInsertRows();
    }
    else
    {
        groups.push_back(node);
    }
    m_groups.insert(name, node);
    return node;
}

void MarksImgModel::putInGroup(const QString& name, const std::shared_ptr<pro::ImageInfo>& spImg, bool notify)
{
    TreeNode* target = group(name, notify);
    if (!target->members.insert(spImg.get()).second)
        return;
    auto* node = new TreeNode;
    node->kind = TreeNode::kImage;
    node->image = spImg;
    node->parent = target;
    node->key = ImageOrder::SortKeyOf(*spImg);
    if (notify)
        m_arrivals[target].push_back(node);
    else
        target->children.push_back(node);
}

void MarksImgModel::sortAll()
{
    std::stable_sort(m_root->children.begin(), m_root->children.end(), groupBefore);
    for (TreeNode* groupNode : m_root->children)
        std::stable_sort(groupNode->children.begin(), groupNode->children.end(), imageBefore);
}

void MarksImgModel::clearTree()
{
    m_cacheDirty = true;
    beginResetModel();
    clearNodes();
    endResetModel();
}

std::weak_ptr<pro::ImageInfo> MarksImgModel::imageAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return {};
    const TreeNode* node = nodeOf(index);
    if (node->kind != TreeNode::kImage)
        return {};
    return node->image;
}

void MarksImgModel::removeImage(const QModelIndex& index)
{
    if (!index.isValid() || index.model() != this)
        return;
    TreeNode* node = nodeOf(index);
    if (node->kind != TreeNode::kImage || !node->parent)
        return;
    TreeNode* groupNode = node->parent;
    const int row = index.row();
    if (row < 0 || row >= static_cast<int>(groupNode->children.size()) ||
        groupNode->children[static_cast<size_t>(row)] != node)
        return;
    beginRemoveRows(index.parent(), row, row);
    groupNode->members.erase(node->image.get());
    groupNode->children.erase(groupNode->children.begin() + row);
    delete node;
    endRemoveRows();
    m_cacheDirty = true;
}

QList<QModelIndex> MarksImgModel::imageIndexes()
{
    if (m_cacheDirty)
    {
        m_imageIndexes.clear();
        collectImages(QModelIndex());
        m_cacheDirty = false;
    }
    return m_imageIndexes;
}

QModelIndex MarksImgModel::neighbour(const QModelIndex& current, bool forward)
{
    const QList<QModelIndex> images = imageIndexes();
    if (images.isEmpty())
        return QModelIndex();
    const int n = images.size();
    const int p = images.indexOf(current);
    if (p < 0)
        return forward ? images.first() : images.last();
    return images.at(forward ? (p + 1) % n : (p + n - 1) % n);
}

void MarksImgModel::collectImages(const QModelIndex& parent)
{
    const int rows = rowCount(parent);
    for (int row = 0; row < rows; ++row)
    {
        const QModelIndex child = index(row, 0, parent);
        if (nodeOf(child)->kind == TreeNode::kImage)
            m_imageIndexes.append(child);
        else
            collectImages(child);
    }
}
