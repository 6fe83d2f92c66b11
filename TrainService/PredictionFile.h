#pragma once

#include "TrainService/SampleTypes.h"

#include <QString>
#include <QStringList>

// A prediction written in the project's annotation file format, so that the program shows it on the
// canvas like an annotation: titles are the class names, and an image predicted good gets a file
// without shapes.
namespace trainsvc
{

// The confidence of a predicted shape, 0 to 1, beside its label and points; other annotation tools pass
// over keys they do not know.
inline constexpr char kScoreKey[] = "score";

// Writes the file whole or not at all (creating its folder); false with the reason in error.
bool WritePredictionFile(const QString& path, const QString& imageName, cv::Size imageSize,
                         const std::vector<Shape>& shapes, const QStringList& classes, QString& error);

} // namespace trainsvc
