#include "LumoraExport/ExportOptions.h"

std::optional<ExportFormat> ExportOptions::FormatFromName(const QString& name)
{
    for (ExportFormat format : {ExportFormat::Coco, ExportFormat::Yolo, ExportFormat::Voc})
    {
        if (name.compare(FormatName(format), Qt::CaseInsensitive) == 0)
            return format;
    }
    return std::nullopt;
}

QString ExportOptions::FormatName(ExportFormat format)
{
    switch (format)
    {
    case ExportFormat::Coco:
        return QStringLiteral("coco");
    case ExportFormat::Yolo:
        return QStringLiteral("yolo");
    case ExportFormat::Voc:
        return QStringLiteral("voc");
    }
    return QString();
}
