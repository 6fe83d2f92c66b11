#pragma once

#include "TrainService/SampleTypes.h"

#include <QString>
#include <QStringList>

// A prediction written in the project's annotation file format, so that the program shows it on the
// canvas like an annotation: titles are the class names, and an image predicted good gets a file
// without shapes.
namespace trainsvc
{

// Writes the file whole or not at all (creating its folder); false with the reason in error.
bool WritePredictionFile(const QString& path, const QString& imageName, cv::Size imageSize,
                         const std::vector<Shape>& shapes, const QStringList& classes, QString& error);

} // namespace trainsvc
