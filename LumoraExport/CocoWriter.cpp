#include "LumoraExport/CocoWriter.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace
{

double TwoDecimals(double value)
{
    return std::round(value * 100) / 100;
}

} // namespace

QString CocoWriter::ImageDir(DatasetPart part) const
{
    return "images/" + PartName(part);
}

QString CocoWriter::AnnotationFile(DatasetPart part)
{
    return "annotations/instances_" + PartName(part) + ".json";
}

bool CocoWriter::AddImage(DatasetPart part, const QString& fileName, const QString&, const QSize& size,
                          const QVector<ExportShape>& shapes)
{
    Part& target = m_parts[int(part)];
    const int imageId = target.images.size() + 1;
    target.images.append(QJsonObject{
        {"id", imageId}, {"file_name", fileName}, {"width", size.width()}, {"height", size.height()}});
    for (const ExportShape& shape : shapes)
    {
        QJsonArray points;
        for (const QPointF& p : shape.Polygon())
        {
            points.append(TwoDecimals(p.x()));
            points.append(TwoDecimals(p.y()));
        }
        // The extent is rounded again: the difference of two rounded values is not one itself
        // (70.1 - 10.5 is 59.599999999999994).
        const QRectF& box = shape.Box();
        const double left = TwoDecimals(box.left());
        const double top = TwoDecimals(box.top());
        const double width = TwoDecimals(TwoDecimals(box.right()) - left);
        const double height = TwoDecimals(TwoDecimals(box.bottom()) - top);
        target.annotations.append(QJsonObject{{"id", target.annotations.size() + 1},
                                              {"image_id", imageId},
                                              {"category_id", shape.Category() + 1},
                                              {"segmentation", QJsonArray{points}},
                                              {"bbox", QJsonArray{left, top, width, height}},
                                              {"area", TwoDecimals(shape.Area())},
                                              {"iscrowd", 0}});
    }
    return true;
}

bool CocoWriter::Finish()
{
    QJsonArray categories;
    for (int i = 0; i < m_setup.categories.size(); ++i)
        categories.append(QJsonObject{{"id", i + 1}, {"name", m_setup.categories[i]}, {"supercategory", ""}});
    const QJsonObject info{{"description", m_setup.name}, {"version", "1.0"}};
    for (DatasetPart part : {DatasetPart::Train, DatasetPart::Val})
    {
        if (part == DatasetPart::Val && !m_setup.split)
            continue;
        const Part& source = m_parts[int(part)];
        const QJsonObject document{{"info", info},
                                   {"licenses", QJsonArray()},
                                   {"images", source.images},
                                   {"categories", categories},
                                   {"annotations", source.annotations}};
        if (!WriteFile(AnnotationFile(part), QJsonDocument(document).toJson(QJsonDocument::Compact)))
            return false;
    }
    return true;
}
