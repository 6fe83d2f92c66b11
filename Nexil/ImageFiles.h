#pragma once

#include <QString>
#include <QStringList>

// The rules every program here follows for image files: which files are images, and where an image's
// annotation file lies.
class ImageFiles
{
public:
    // "jpg", "jpeg", "png", "bmp", "tif", "tiff": what the decoder reads of what cameras write.
    static const QStringList& Suffixes();
    // "*.jpg" and so on, for directory listings.
    static const QStringList& NameFilters();
    // The filter of a file dialog that picks images.
    static QString DialogFilter();
    // Whether the name ends in one of the suffixes, in any case.
    static bool IsImageName(const QString& fileName);
    // The same folder, the file name without its last extension, ".json": "a/b.v2.png" -> "a/b.v2.json".
    static QString AnnotationPath(const QString& imagePath);
};
