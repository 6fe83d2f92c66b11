#include "Nexil/ImageFiles.h"

const QStringList& ImageFiles::Suffixes()
{
    static const QStringList suffixes{"jpg", "jpeg", "png", "bmp", "tif", "tiff"};
    return suffixes;
}

const QStringList& ImageFiles::NameFilters()
{
    static const QStringList filters = []
    {
        QStringList list;
        for (const QString& suffix : Suffixes())
            list.append(QStringLiteral("*.") + suffix);
        return list;
    }();
    return filters;
}

QString ImageFiles::DialogFilter()
{
    return QStringLiteral("Image Files (%1);;All Files (*)").arg(NameFilters().join(QLatin1Char(' ')));
}

bool ImageFiles::IsImageName(const QString& fileName)
{
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QStringRef suffix = fileName.midRef(dot + 1);
    for (const QString& wanted : Suffixes())
    {
        if (suffix.compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString ImageFiles::AnnotationPath(const QString& imagePath)
{
    const int slash = imagePath.lastIndexOf(QLatin1Char('/'));
    const int dot = imagePath.lastIndexOf(QLatin1Char('.'));
    return (dot > slash ? imagePath.left(dot) : imagePath) + QStringLiteral(".json");
}
