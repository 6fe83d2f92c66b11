#include "ErrorImgModel.h"

#include <QFileInfo>

namespace
{

// Group rows carry 0 as their internal id, image rows their group's row + 1.
constexpr quintptr kGroupId = 0;

} // namespace

ErrorImgModel::ErrorImgModel(QObject* parent) : QAbstractItemModel(parent) {}

void ErrorImgModel::SetErrors(std::shared_ptr<const ThresholdRates> rates, const QVector<double>& thresholds)
{
    beginResetModel();
    m_rates = std::move(rates);
    m_groups.clear();
    if (m_rates)
    {
        const int classes = m_rates->Classes().size();
        QVector<Group> missed(classes);
        QVector<Group> overkill(classes);
        for (int c = 0; c < classes; ++c)
        {
            missed[c] = {true, c, {}};
            overkill[c] = {false, c, {}};
        }
        for (const ThresholdRates::ImageErrors& wrong : m_rates->Errors(thresholds))
        {
            for (const int c : wrong.missed)
                missed[c].images.append(wrong.image);
            for (const int c : wrong.overkill)
                overkill[c].images.append(wrong.image);
        }
        for (const QVector<Group>* kind : {&missed, &overkill})
        {
            for (const Group& group : *kind)
            {
                if (!group.images.isEmpty())
                    m_groups.append(group);
            }
        }
    }
    endResetModel();
}

void ErrorImgModel::Clear()
{
    SetErrors(nullptr, {});
}

QString ErrorImgModel::PathAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.internalId() == kGroupId)
        return QString();
    const Group& group = m_groups.at(int(index.internalId() - 1));
    return m_rates->Image(group.images.at(index.row())).path;
}

QList<QModelIndex> ErrorImgModel::ImageIndexes() const
{
    QList<QModelIndex> indexes;
    for (int g = 0; g < m_groups.size(); ++g)
    {
        for (int i = 0; i < m_groups.at(g).images.size(); ++i)
            indexes.append(createIndex(i, 0, quintptr(g + 1)));
    }
    return indexes;
}

QModelIndex ErrorImgModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    return parent.isValid() ? createIndex(row, column, quintptr(parent.row() + 1))
                            : createIndex(row, column, kGroupId);
}

QModelIndex ErrorImgModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == kGroupId)
        return QModelIndex();
    return createIndex(int(child.internalId() - 1), 0, kGroupId);
}

int ErrorImgModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return m_groups.size();
    if (parent.column() != 0 || parent.internalId() != kGroupId)
        return 0;
    return m_groups.at(parent.row()).images.size();
}

int ErrorImgModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QString ErrorImgModel::ImageText(const Group& group, int image) const
{
    const auto& row = m_rates->Image(image);
    return QStringLiteral("%1  %2")
        .arg(QFileInfo(row.path).fileName())
        .arg(ThresholdRates::DecidingScore(row, group.cls), 0, 'f', 2);
}

QVariant ErrorImgModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    if (index.internalId() == kGroupId)
    {
        const Group& group = m_groups.at(index.row());
        if (role != Qt::DisplayRole)
            return QVariant();
        const QString kind = group.missed ? tr("漏检") : tr("过杀");
        return QStringLiteral("%1 · %2 (%3)")
            .arg(kind, m_rates->Classes().at(group.cls))
            .arg(group.images.size());
    }
    const Group& group = m_groups.at(int(index.internalId() - 1));
    const int image = group.images.at(index.row());
    if (role == Qt::DisplayRole)
        return ImageText(group, image);
    if (role == Qt::ToolTipRole)
    {
        const auto& row = m_rates->Image(image);
        QStringList lines{row.path};
        for (int c = 0; c < m_rates->Classes().size(); ++c)
        {
            QString line = tr("%1：标注%2，最高分 %3")
                               .arg(m_rates->Classes().at(c), row.truth->at(c) ? tr("有") : tr("无"))
                               .arg(row.scores.at(c), 0, 'f', 3);
            // A strong shape beside the defect does not find it; the score on the defect decides.
            if (row.truth->at(c) && row.hits)
                line += tr("，落在标注上 %1").arg(row.hits->value(c), 0, 'f', 3);
            lines.append(line);
        }
        return lines.join(QLatin1Char('\n'));
    }
    return QVariant();
}
