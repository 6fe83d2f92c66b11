#include "Nexil/ROI/AnnotationText.h"

#include "Nexil/ROI/PolygonROI.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROI.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
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

// No image is this large; a shape reaching beyond it cannot be drawn, picked or measured in the
// single precision the ROIs report their extent in.
constexpr double kMaxCoord = 1e7;

// The points as x0, y0, x1, y1, …; false when a coordinate is out of any image's reach.
bool flatPoints(const QJsonArray& points, QJsonArray& flat)
{
    for (const QJsonValue& point : points)
    {
        const QJsonArray pair = point.toArray();
        if (!point.isArray() || pair.size() != 2)
            continue;
        for (int i = 0; i < 2; ++i)
        {
            const double value = ROIItem::roundCoord(pair.at(i).toDouble());
            if (std::abs(value) > kMaxCoord)
                return false;
            flat.append(value);
        }
    }
    return true;
}

// A rectangle from its first two points, whichever corners they are.
QJsonArray rectangleCorners(const QJsonArray& flat)
{
    const double x0 = flat.at(0).toDouble();
    const double y0 = flat.at(1).toDouble();
    const double x1 = flat.at(2).toDouble();
    const double y1 = flat.at(3).toDouble();
    return QJsonArray{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)};
}

std::shared_ptr<ROIItem> shapeFromJson(const QJsonObject& shape)
{
    const QString title = shape.value(QLatin1String("label")).toString();
    const QString type = shape.value(QLatin1String("shape_type")).toString().toLower();
    QJsonArray flat;
    if (!flatPoints(shape.value(QLatin1String("points")).toArray(), flat))
        return nullptr;
    std::shared_ptr<ROIItem> roi;
    QJsonObject value;
    // Shapes that cannot be drawn or picked (a rectangle without two corners, a polygon without
    // three vertices) are left out like unknown ones.
    if (type == QLatin1String("polygon") && flat.size() >= 6)
    {
        roi = std::make_shared<PolygonROIItem>(QPolygonF(), 0, title);
        value.insert(QStringLiteral("Points"), flat);
    }
    else if (type == QLatin1String("rectangle") && flat.size() >= 4)
    {
        roi = std::make_shared<RectROIItem>(QRectF(), 0, title);
        value.insert(QStringLiteral("rectangle"), rectangleCorners(flat));
    }
    else
    {
        return nullptr;
    }
    value.insert(QStringLiteral("roiAttr"), 0);
    value.insert(QStringLiteral("title"), title);
    roi->fromJson(value);
    return roi;
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
    // Most images of a project have no ROIs; their text needs no parser.
    if (text.isEmpty() || text == QLatin1String("[]"))
        return rois;
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

bool AnnotationText::parseAnnotationFileText(const QString& text, ROIList& rois)
{
    const QJsonObject document = QJsonDocument::fromJson(text.toUtf8()).object();
    if (!document.contains(QLatin1String("imagePath")) || !document.contains(QLatin1String("shapes")))
        return false;
    const QJsonValue shapes = document.value(QLatin1String("shapes"));
    if (shapes.isNull())
        return true;
    // Anything else than a list of shapes is not an annotation; taking it as "no shapes" would
    // mark a broken file's image as free of defects.
    if (!shapes.isArray())
        return false;
    for (const QJsonValue& element : shapes.toArray())
    {
        const QJsonObject shape = element.toObject();
        if (!shape.contains(QLatin1String("label")) || !shape.contains(QLatin1String("shape_type")) ||
            !shape.contains(QLatin1String("points")))
            continue;
        if (auto roi = shapeFromJson(shape))
            rois.append(roi);
    }
    return true;
}
