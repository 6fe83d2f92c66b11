#pragma once

#include "TrainService/SampleTypes.h"

#include <QString>
#include <QStringList>

#include <vector>

// Synthetic inspection images: a brushed-metal texture with scratches, spots and dents, about a third
// of the images good, each written with its annotation file in the project's format.
class SyntheticSet
{
public:
    struct Options
    {
        int count = 200;
        int size = 256;
        int numClasses = 3;      // 1 to 3: scratch, spot, dent
        bool rectangles = false; // rectangles (object detection) instead of polygons
        unsigned seed = 1;
        // Defects 3 to 8 pixels wide whatever the image size, as on a large camera image; otherwise
        // they grow with the image.
        bool thin = false;
    };

    // Class names in order.
    static QStringList ClassNames(int numClasses);

    // Writes count images "img_<n>.png" and their ".json" files into folder; false with the reason.
    bool Generate(const QString& folder, const Options& options, QString& error);

    // What was written: image file names and their shapes, in order.
    const QStringList& FileNames() const { return m_fileNames; }
    const std::vector<std::vector<trainsvc::Shape>>& Shapes() const { return m_shapes; }

private:
    QStringList m_fileNames;
    std::vector<std::vector<trainsvc::Shape>> m_shapes;
};
