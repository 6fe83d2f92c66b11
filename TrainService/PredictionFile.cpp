#include "TrainService/PredictionFile.h"

#include "ComLib/AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace trainsvc
{

bool WritePredictionFile(const QString& path, const QString& imageName, cv::Size imageSize,
                         const std::vector<Shape>& shapes, const QStringList& classes, QString& error)
{
    QJsonArray shapeArray;
    for (const Shape& shape : shapes)
    {
        if (shape.cls < 0 || shape.cls >= classes.size())
            continue;
        QJsonArray points;
        for (const cv::Point2f& p : shape.points)
            points.append(QJsonArray{double(p.x), double(p.y)});
        shapeArray.append(
            QJsonObject{{QStringLiteral("label"), classes.at(shape.cls)},
                        {QStringLiteral("points"), points},
                        {QStringLiteral("shape_type"),
                         shape.rect ? QStringLiteral("rectangle") : QStringLiteral("polygon")},
                        {QLatin1String(kScoreKey), double(std::clamp(shape.score, 0.0f, 1.0f))}});
    }
    const QJsonObject root{{QStringLiteral("imageData"), QJsonValue::Null},
                           {QStringLiteral("imageHeight"), imageSize.height},
                           {QStringLiteral("imagePath"), imageName},
                           {QStringLiteral("imageWidth"), imageSize.width},
                           {QStringLiteral("shapes"), shapeArray}};
    if (!QDir().mkpath(QFileInfo(path).path()))
    {
        error = QStringLiteral("cannot create the folder of %1").arg(path);
        return false;
    }
    return comlib::WriteFileAtomically(path, QJsonDocument(root).toJson(QJsonDocument::Compact), error);
}

} // namespace trainsvc
