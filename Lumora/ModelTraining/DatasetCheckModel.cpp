#include "DatasetCheckModel.h"

#include <QColor>

DatasetCheckModel::DatasetCheckModel(QObject* parent) : QAbstractTableModel(parent) {}

DatasetCheckModel::~DatasetCheckModel() = default;

const QColor& DatasetCheckModel::WarningColor()
{
    static const QColor color(QStringLiteral("#C77700"));
    return color;
}

const QColor& DatasetCheckModel::ErrorColor()
{
    static const QColor color(QStringLiteral("#D32F2F"));
    return color;
}

void DatasetCheckModel::SetClasses(const QVector<DatasetCheck::ClassCount>& classes)
{
    beginResetModel();
    m_classes = classes;
    endResetModel();
}

int DatasetCheckModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_classes.size();
}

int DatasetCheckModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColCount;
}

QVariant DatasetCheckModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const DatasetCheck::ClassCount& cls = m_classes.at(index.row());
    switch (role)
    {
    case Qt::DisplayRole:
        if (index.column() == ColName)
            return cls.name;
        return index.column() == ColImages ? cls.images : cls.rois;
    case Qt::TextAlignmentRole:
        return index.column() == ColName ? int(Qt::AlignLeft | Qt::AlignVCenter)
                                         : int(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::ForegroundRole:
        if (cls.rois == 0)
            return ErrorColor();
        if (cls.images < DatasetCheck::kFewImages)
            return WarningColor();
        return {};
    default:
        return {};
    }
}

QVariant DatasetCheckModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section)
    {
    case ColName:
        return tr("类别");
    case ColImages:
        return tr("图片数");
    case ColRois:
        return tr("ROI数");
    default:
        return {};
    }
}
