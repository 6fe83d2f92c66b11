#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

#include <optional>

enum class ExportFormat
{
    Coco,
    Yolo,
    Voc,
};

enum class ImageTransfer
{
    Copy,
    // A hard link where the file system allows one, else a copy.
    Link,
};

struct ExportOptions
{
    ExportFormat format = ExportFormat::Coco;
    QString outputDir;
    // Share of the images that go to the validation split; 0 leaves every image in the training split.
    double valFraction = 0;
    quint32 seed = 0;
    ImageTransfer transfer = ImageTransfer::Copy;
    // An output folder that holds files is replaced only when this is set, and only when an earlier
    // export made it.
    bool replaceOutput = false;

    // "coco", "yolo", "voc", any case.
    static std::optional<ExportFormat> FormatFromName(const QString& name);
    static QString FormatName(ExportFormat format);
};

enum class ExportStatus
{
    Ok,
    Cancelled,
    // No annotated image could be read.
    NoImages,
    // The output folder holds files and is not to be replaced.
    OutputNotEmpty,
    // Nothing can be written where the output is to go.
    OutputNotWritable,
    // Replacing the output folder would delete images of the data set.
    OutputHoldsImages,
    // The output is a symbolic link, which is never followed.
    OutputIsLink,
    // The output folder is, or lies inside, a project folder or a workspace: detail names it.
    OutputInProject,
    // The output folder contains a project folder or a workspace: detail names it.
    OutputHoldsProject,
    // The output folder holds files but no export marker: an export did not make it.
    OutputNotExport,
    // An image could not be copied or linked, or a description file written.
    WriteFailed,
};

// What an export did. On any status but Ok nothing is left at the output folder that was not
// there before.
struct ExportSummary
{
    ExportStatus status = ExportStatus::Ok;
    // The path concerned by a failure.
    QString detail;
    QString outputDir;
    int trainImages = 0;
    int valImages = 0;
    int okImages = 0;
    int objects = 0;
    int categories = 0;
    // Images whose file is missing or whose size cannot be read, and stored paths that lead out of
    // the project.
    int skippedImages = 0;
    // Shapes without a category, or with nothing left inside their image.
    int droppedShapes = 0;
    // Linking was asked for but the file system made copies.
    int copiedInsteadOfLinked = 0;
};

Q_DECLARE_METATYPE(ExportOptions)
Q_DECLARE_METATYPE(ExportSummary)
