#include "Nexil/ROI/AnnotationText.h"

#include "Nexil/ROI/PolygonROI.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROI.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace
{
// JSON has no infinity or NaN; the training service gets 0 rather than null.
double finiteOrZero(double value)
{
    return std::isfinite(value) ? value : 0.0;
}

QJsonArray pointArray(const QPointF& point)
{
    return QJsonArray{finiteOrZero(point.x()), finiteOrZero(point.y())};
}

// Points of one shape, or an empty value when the ROI's geometry cannot be reached.
QJsonValue shapePoints(const ROIItem& roi, const QString& typeName)
{
    QJsonArray points;
    if (typeName == PolygonROIItem::staticTypeName())
    {
        const auto* polygon = dynamic_cast<const PolygonROI*>(&roi);
        if (!polygon)
            return QJsonValue::Undefined;
        for (const QPointF& vertex : polygon->polygon())
            points.append(pointArray(vertex));
    }
    else if (typeName == RectROIItem::staticTypeName())
    {
        const auto* rect = dynamic_cast<const RectROI*>(&roi);
        if (!rect)
            return QJsonValue::Undefined;
        points.append(pointArray(rect->rect().topLeft()));
        points.append(pointArray(rect->rect().bottomRight()));
    }
    else
    {
        return QJsonValue::Undefined;
    }
    return points;
}
} // namespace

QString AnnotationText::buildAnnotationFileText(const QString& fileName, int width, int height,
                                                const ROIList& rois)
{
    QJsonArray shapes;
    for (const std::shared_ptr<ROIItem>& roi : rois)
    {
        if (!roi)
            continue;
        const QString typeName = roi->typeName();
        const QJsonValue points = shapePoints(*roi, typeName);
        if (points.isUndefined())
            continue;
        QJsonObject shape;
        shape.insert(QStringLiteral("label"), roi->title());
        shape.insert(QStringLiteral("points"), points);
        shape.insert(QStringLiteral("shape_type"), typeName.toLower());
        shapes.append(shape);
    }

    QJsonObject file;
    file.insert(QStringLiteral("imagePath"), fileName);
    file.insert(QStringLiteral("shapes"), shapes);
    file.insert(QStringLiteral("imageData"), QJsonValue::Null);
    file.insert(QStringLiteral("imageHeight"), height);
    file.insert(QStringLiteral("imageWidth"), width);
    return QString::fromUtf8(QJsonDocument(file).toJson(QJsonDocument::Compact));
}

QString AnnotationText::buildRoiListText(const ROIList& rois)
{
    QJsonArray list;
    for (const std::shared_ptr<ROIItem>& roi : rois)
    {
        if (!roi)
            continue;
        QJsonObject value;
        roi->toJson(value);
        QJsonObject element;
        element.insert(QStringLiteral("type"), roi->typeName());
        element.insert(QStringLiteral("value"), value);
        list.append(element);
    }
    return QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact));
}

ROIList AnnotationText::parseRoiListText(const QString& text)
{
    ROIList rois;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    const QJsonArray list = document.array();
    for (const QJsonValue& item : list)
    {
        const QJsonObject element = item.toObject();
        const QString type = element.value(QLatin1String("type")).toString();
        std::shared_ptr<ROIItem> roi;
        if (type == RectROIItem::staticTypeName())
            roi = std::make_shared<RectROIItem>(QRectF(), 0, QString());
        else if (type == PolygonROIItem::staticTypeName())
            roi = std::make_shared<PolygonROIItem>(QPolygonF(), 0, QString());
        else
            continue;
        roi->fromJson(element.value(QLatin1String("value")).toObject());
        rois.append(roi);
    }
    return rois;
}
