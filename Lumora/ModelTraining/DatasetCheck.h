#pragma once

#include <QMetaType>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class IPrjCore;

// What a training run would get from the open project: counts per category and the faults a user can
// mend before starting. The records are copied into plain data in the GUI thread (Snapshot); the files
// are read and everything is counted in any thread (Run).
class DatasetCheck
{
public:
    // A category with fewer images than this is too thin to learn.
    static constexpr int kFewImages = 10;
    // A ROI narrower or lower than this many pixels is a slip of the mouse or too small to learn.
    static constexpr double kMinRoiSide = 4.0;
    // Files named in a finding, so the user can look them up.
    static constexpr int kExamples = 3;
    // Stored coordinates keep two decimals; the annotation file has them at full precision.
    static constexpr double kCoordTolerance = 0.011;

    struct Shape
    {
        QString title;
        bool rect = false;
        // Rectangle: top-left and bottom-right; polygon: the vertices.
        QVector<QPointF> points;
    };
    struct Image
    {
        // Absolute path of the image file.
        QString path;
        // Empty until the copy inside the project is confirmed; no annotation file is expected before.
        QString relPath;
        bool markAsOK = false;
        QVector<Shape> shapes;
    };
    struct Input
    {
        // 1 segmentation, 2 object detection.
        int type = 0;
        QStringList classes;
        // In the project's order: the first one gives config.json its image size.
        QVector<Image> images;
    };

    // In the order they are shown: what keeps data out of the training first.
    enum class Issue
    {
        // count: categories; examples: all of them
        NoRoi,
        // count: annotated images without an annotation file
        AnnotationMissing,
        // count: annotation files that are no annotation object
        AnnotationUnreadable,
        // count: annotation files whose shapes differ from the record
        AnnotationDiffers,
        // count: annotated images whose size cannot be read
        ImageUnreadable,
        // count: ROIs whose title is no category; examples: their titles
        UnknownCategory,
        // count: categories; examples: all of them
        FewImages,
        // count: ROIs
        TinyRoi,
        // count: rectangles
        RectInSegment,
        // count: images; subject: the first image's size "W×H"
        SizeDiffers,
    };
    struct Finding
    {
        Issue issue = Issue::NoRoi;
        int count = 0;
        QString subject;
        // The first few images concerned, by file name, or the categories.
        QStringList examples;
    };
    struct ClassCount
    {
        QString name;
        int images = 0;
        int rois = 0;
    };
    struct Result
    {
        int images = 0;
        int okImages = 0;
        int defectImages = 0;
        int unmarked = 0;
        // ROIs of the project's categories: without one, nothing can be trained.
        int trainableRois = 0;
        QVector<ClassCount> classes;
        QVector<Finding> findings;
    };

    DatasetCheck() = delete;

    // The open project's records as plain data. GUI thread only, as every IPrjCore call.
    static Input Snapshot(const IPrjCore& prj);
    // Reads the image headers and annotation files and counts; stops early, with a partial result,
    // when stop answers true.
    static Result Run(const Input& input, const std::function<bool()>& stop = {});
};

Q_DECLARE_METATYPE(DatasetCheck::Input)
Q_DECLARE_METATYPE(DatasetCheck::Result)
