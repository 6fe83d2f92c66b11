#pragma once

#include <QByteArray>
#include <QString>

bool WriteTestFile(const QString& path, const QByteArray& data);
// A version folder as a training leaves it, in root/model, trained a few epochs on generated images
// in root/images (10 images of 160 px, 2 classes, input 64, tile scale 0.5); its thresholds.json
// raises the second class's threshold to 0.3. False with the reason in error.
bool MakeTinyVersion(const QString& root, bool detection, QString& error);
