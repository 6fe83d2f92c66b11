#include "SourceImgModel.h"

#include "ImageOrder.h"

#include "Nexil/NexilApi.h"

#include <QIcon>

SourceImgModel::SourceImgModel(QObject* parent)
    : QAbstractTableModel(parent), m_headers{QString(), tr("图片"), tr("标注")}
{
}

int SourceImgModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int SourceImgModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_headers.size();
}

QVariant SourceImgModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_rows.size())
        return QVariant();
    const pro::ImageInfo& img = *m_rows.at(index.row());
    switch (index.column())
    {
    case kCheckColumn:
        if (role == Qt::CheckStateRole)
            return img.checked ? Qt::Checked : Qt::Unchecked;
        break;
    case kNameColumn:
        if (role == Qt::DisplayRole)
            return img.fileName;
        if (role == kStatusRole)
            return img.filter;
        if (role == kSortKeyRole)
            return m_sortKeys.at(index.row());
        break;
    case kMarkedColumn:
        if (role == Qt::DecorationRole)
            return img.marked ? QIcon(QStringLiteral(":/image/marks.png")) : QIcon();
        if (role == Qt::TextAlignmentRole)
            return static_cast<int>(Qt::AlignCenter);
        break;
    default:
        break;
    }
    return QVariant();
}

bool SourceImgModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.column() != kCheckColumn || role != Qt::CheckStateRole ||
        index.row() >= m_rows.size())
        return false;
    m_rows.at(index.row())->checked = value.toBool();
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

QVariant SourceImgModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical)
        return role == Qt::DisplayRole ? QVariant(section + 1) : QVariant();
    if (section < 0 || section >= m_headers.size())
        return QVariant();
    if (role == Qt::DisplayRole)
    {
        if (section == kNameColumn)
            return QStringLiteral("%1（%2张）").arg(m_headers.at(section)).arg(m_rows.size());
        return m_headers.at(section);
    }
    if (role == Qt::CheckStateRole && section == kCheckColumn)
        return m_allChecked ? Qt::Checked : Qt::Unchecked;
    return QVariant();
}

bool SourceImgModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role)
{
    if (section != kCheckColumn || orientation != Qt::Horizontal || role != Qt::CheckStateRole)
        return false;
    const bool checked = value.toBool();
    if (checked == m_allChecked)
        return false;
    m_allChecked = checked;
    setStatusRowsChecked(checked ? Qt::Checked : Qt::Unchecked);
    emit headerDataChanged(Qt::Horizontal, 0, 0);
    return true;
}

Qt::ItemFlags SourceImgModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == kCheckColumn)
        result |= Qt::ItemIsUserCheckable | Qt::ItemIsEnabled;
    return result;
}

QString SourceImgModel::sourceKey(const pro::ImageInfo& img)
{
    return img.source.isEmpty() ? ImageOrder::PathKey(img.path) : img.source;
}

bool SourceImgModel::isListed(const pro::ImageInfo& img) const
{
    return m_listed.contains(&img) || m_sources.contains(sourceKey(img));
}

void SourceImgModel::appendImage(std::shared_ptr<pro::ImageInfo> spImg)
{
    if (spImg)
        appendImages({spImg});
}

int SourceImgModel::appendImages(const QList<std::shared_ptr<pro::ImageInfo>>& images)
{
    QList<std::shared_ptr<pro::ImageInfo>> valid;
    QSet<QString> batchSources;
    valid.reserve(images.size());
    for (const auto& spImg : images)
    {
        // An empty pointer would be a row that every operation has to step around.
        if (!spImg || isListed(*spImg))
            continue;
        const QString key = sourceKey(*spImg);
        if (batchSources.contains(key))
            continue;
        batchSources.insert(key);
        valid.append(spImg);
    }
    if (valid.isEmpty())
        return 0;
    const int first = m_rows.size();
    beginInsertRows(QModelIndex(), first, first + valid.size() - 1);
    for (const auto& spImg : valid)
    {
        m_rows.append(spImg);
        m_sortKeys.append(ImageOrder::SortKeyOf(*spImg));
        m_listed.insert(spImg.get());
        m_sources.insert(sourceKey(*spImg), spImg.get());
    }
    endInsertRows();
    // Only the new rows' check boxes, which the header's box follows: a change over the whole table
    // makes a filter proxy test every row again, and one in the name column makes a sorting proxy
    // place the rows again.
    emit dataChanged(index(first, kCheckColumn), index(m_rows.size() - 1, kCheckColumn),
                     {Qt::CheckStateRole});
    emit headerDataChanged(Qt::Horizontal, 0, m_headers.size() - 1);
    return valid.size();
}

int SourceImgModel::removeOtherRecords(const QList<std::shared_ptr<pro::ImageInfo>>& images)
{
    QSet<const pro::ImageInfo*> leaving;
    for (const auto& spImg : images)
    {
        if (!spImg)
            continue;
        const pro::ImageInfo* listed = m_sources.value(sourceKey(*spImg));
        if (listed && listed != spImg.get())
            leaving.insert(listed);
    }
    if (leaving.isEmpty())
        return 0;
    // From the bottom up, one notification per run of adjacent rows.
    for (int row = m_rows.size() - 1; row >= 0; --row)
    {
        if (!leaving.contains(m_rows.at(row).get()))
            continue;
        int first = row;
        while (first > 0 && leaving.contains(m_rows.at(first - 1).get()))
            --first;
        beginRemoveRows(QModelIndex(), first, row);
        for (int i = row; i >= first; --i)
        {
            m_listed.remove(m_rows.at(i).get());
            m_sources.remove(sourceKey(*m_rows.at(i)));
            m_rows.removeAt(i);
            m_sortKeys.removeAt(i);
        }
        endRemoveRows();
        row = first;
    }
    announceWholeTable();
    return leaving.size();
}

void SourceImgModel::clearImages()
{
    beginResetModel();
    m_rows.clear();
    m_sortKeys.clear();
    m_listed.clear();
    m_sources.clear();
    endResetModel();
    announceWholeTable();
}

const QString& SourceImgModel::sortKeyAt(int row) const
{
    return m_sortKeys.at(row);
}

const QString& SourceImgModel::statusAt(int row) const
{
    return m_rows.at(row)->filter;
}

std::weak_ptr<pro::ImageInfo> SourceImgModel::imageAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_rows.size())
        return {};
    return m_rows.at(index.row());
}

void SourceImgModel::refreshRecord(const std::shared_ptr<pro::ImageInfo>& spImg)
{
    if (!spImg || !m_listed.contains(spImg.get()))
        return;
    const int row = m_rows.indexOf(spImg);
    if (row < 0)
        return;
    const QModelIndex cell = index(row, kMarkedColumn);
    emit dataChanged(cell, cell, {Qt::DecorationRole});
}

void SourceImgModel::setCurrentStatus(const QString& status)
{
    m_currentStatus = status;
    announceWholeTable();
}

Qt::CheckState SourceImgModel::headerCheckState() const
{
    int total = 0;
    int checked = 0;
    for (const auto& spImg : m_rows)
    {
        if (spImg->filter != m_currentStatus)
            continue;
        ++total;
        if (spImg->checked)
            ++checked;
    }
    if (checked == 0)
        return Qt::Unchecked;
    return checked == total ? Qt::Checked : Qt::PartiallyChecked;
}

void SourceImgModel::setStatusRowsChecked(Qt::CheckState state)
{
    switch (state)
    {
    case Qt::Checked:
        setStatusRows([](bool) { return true; });
        break;
    case Qt::Unchecked:
        setStatusRows([](bool) { return false; });
        break;
    default:
        setStatusRows([](bool checked) { return !checked; });
        break;
    }
}

void SourceImgModel::setStatusRows(bool (*next)(bool))
{
    // One dataChanged per run of changed rows: a check-all over 100,000 rows is one signal, not
    // 100,000 that each make the header count the rows again.
    int runStart = -1;
    auto closeRun = [this, &runStart](int end)
    {
        if (runStart < 0)
            return;
        emit dataChanged(index(runStart, kCheckColumn), index(end, kCheckColumn), {Qt::CheckStateRole});
        runStart = -1;
    };
    for (int row = 0; row < m_rows.size(); ++row)
    {
        pro::ImageInfo& img = *m_rows.at(row);
        const bool changes = img.filter == m_currentStatus && next(img.checked) != img.checked;
        if (changes)
        {
            img.checked = next(img.checked);
            if (runStart < 0)
                runStart = row;
        }
        else
        {
            closeRun(row - 1);
        }
    }
    closeRun(m_rows.size() - 1);
}

QStringList SourceImgModel::takeCheckedImages(const QString& status)
{
    QStringList paths;
    const auto spCore = PrjIns().lock();
    beginResetModel();
    QList<std::shared_ptr<pro::ImageInfo>> kept;
    QList<QString> keptKeys;
    kept.reserve(m_rows.size());
    for (int row = 0; row < m_rows.size(); ++row)
    {
        const auto& spImg = m_rows.at(row);
        if (spImg->filter != status || !spImg->checked)
        {
            kept.append(spImg);
            keptKeys.append(m_sortKeys.at(row));
            continue;
        }
        m_listed.remove(spImg.get());
        m_sources.remove(sourceKey(*spImg));
        if (!spImg->id.isEmpty() && spCore)
            spCore->DelImage(spImg->id);
        paths.append(spImg->path);
    }
    m_rows = kept;
    m_sortKeys = keptKeys;
    endResetModel();
    announceWholeTable();
    return paths;
}

void SourceImgModel::announceWholeTable()
{
    // Views and model testers take a dataChanged only over existing cells; the header (the check
    // box follows the rows of the current status, the caption counts them) is announced always,
    // so an emptied table still updates its header.
    // The name column is left out: its texts never change, and a change there makes a sorting view
    // sort every row again.
    if (!m_rows.isEmpty())
    {
        emit dataChanged(index(0, kCheckColumn), index(m_rows.size() - 1, kCheckColumn));
        emit dataChanged(index(0, kMarkedColumn), index(m_rows.size() - 1, kMarkedColumn));
    }
    emit headerDataChanged(Qt::Horizontal, 0, m_headers.size() - 1);
}
