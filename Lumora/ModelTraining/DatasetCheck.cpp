#include "DatasetCheck.h"

#include "Nexil/IPrjCore.h"
#include "Nexil/ImageFiles.h"
#include "Nexil/ImageHeader.h"
#include "Nexil/ProInfo.h"
#include "Nexil/ROI/PolygonROI.h"
#include "Nexil/ROI/ROIItem.h"
#include "Nexil/ROI/RectROI.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <optional>

namespace
{

using Check = DatasetCheck;

// How often a long check asks whether it is still wanted.
constexpr int kStopEvery = 256;

// Images (or ROIs) found with one fault, and the first few file names for the user to look up.
struct Tally
{
    int count = 0;
    QStringList examples;

    void Add(const QString& name)
    {
        ++count;
        if (examples.size() < Check::kExamples && !examples.contains(name))
            examples.append(name);
    }
};

QString FileName(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

bool TooSmall(const Check::Shape& shape)
{
    if (shape.points.isEmpty())
        return true;
    double x0 = shape.points.first().x(), x1 = x0, y0 = shape.points.first().y(), y1 = y0;
    for (const QPointF& p : shape.points)
    {
        x0 = std::min(x0, p.x());
        x1 = std::max(x1, p.x());
        y0 = std::min(y0, p.y());
        y1 = std::max(y1, p.y());
    }
    return x1 - x0 < Check::kMinRoiSide || y1 - y0 < Check::kMinRoiSide;
}

bool Near(double a, double b)
{
    return std::abs(a - b) <= Check::kCoordTolerance;
}

bool SameShape(const Check::Shape& shape, const QJsonObject& object)
{
    const QString type = shape.rect ? QStringLiteral("rectangle") : QStringLiteral("polygon");
    const QJsonArray points = object.value(QLatin1String("points")).toArray();
    if (object.value(QLatin1String("label")).toString() != shape.title ||
        object.value(QLatin1String("shape_type")).toString() != type || points.size() != shape.points.size())
        return false;
    for (int i = 0; i < points.size(); ++i)
    {
        const QJsonArray xy = points.at(i).toArray();
        if (xy.size() != 2 || !Near(xy.at(0).toDouble(), shape.points.at(i).x()) ||
            !Near(xy.at(1).toDouble(), shape.points.at(i).y()))
            return false;
    }
    return true;
}

bool SameShapes(const QVector<Check::Shape>& shapes, const QJsonArray& fileShapes)
{
    if (fileShapes.size() != shapes.size())
        return false;
    for (int i = 0; i < shapes.size(); ++i)
    {
        if (!SameShape(shapes.at(i), fileShapes.at(i).toObject()))
            return false;
    }
    return true;
}

struct FileTallies
{
    Tally missing;
    Tally unreadable;
    Tally differs;
};

// The service trains on the annotation files, not on the database: an annotated image without its
// file is left out, an unreadable file is skipped, and a file of an image the database holds as not
// annotated is trained on all the same.
void CheckFile(const Check::Image& image, bool marked, const QString& name, FileTallies& tallies)
{
    QFile file(ImageFiles::AnnotationPath(image.path));
    if (!file.exists())
    {
        if (marked)
            tallies.missing.Add(name);
        return;
    }
    if (!marked)
    {
        tallies.differs.Add(name);
        return;
    }
    const QJsonDocument doc =
        file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()) : QJsonDocument();
    if (!doc.isObject())
        tallies.unreadable.Add(name);
    else if (!SameShapes(image.shapes, doc.object().value(QLatin1String("shapes")).toArray()))
        tallies.differs.Add(name);
}

void AddFinding(Check::Result& result, Check::Issue issue, const Tally& tally, const QString& subject = {})
{
    if (tally.count > 0)
        result.findings.append({issue, tally.count, subject, tally.examples});
}

} // namespace

DatasetCheck::Input DatasetCheck::Snapshot(const IPrjCore& prj)
{
    Input input;
    const auto info = prj.PrjInfo();
    input.type = info ? info->type : 0;
    input.classes = prj.MarkTypes();
    const auto& images = prj.Images();
    input.images.reserve(images.size());
    for (const auto& spImg : images)
    {
        if (!spImg)
            continue;
        Image image;
        image.path = spImg->path;
        image.relPath = spImg->image;
        image.markAsOK = spImg->markAsOK;
        image.shapes.reserve(spImg->rois.size());
        for (const auto& roi : spImg->rois)
        {
            Shape shape;
            if (const auto* rect = dynamic_cast<const RectROI*>(roi.get()))
            {
                shape.rect = true;
                shape.points = {rect->rect().topLeft(), rect->rect().bottomRight()};
            }
            else if (const auto* polygon = dynamic_cast<const PolygonROI*>(roi.get()))
            {
                // Shared, not copied: the worker only reads it.
                shape.points = polygon->polygon();
            }
            else
            {
                // The annotation file leaves such a ROI out as well.
                continue;
            }
            shape.title = roi->title();
            image.shapes.append(std::move(shape));
        }
        input.images.append(std::move(image));
    }
    return input;
}

DatasetCheck::Result DatasetCheck::Run(const Input& input, const std::function<bool()>& stop)
{
    Result result;
    result.images = input.images.size();
    QHash<QString, int> classIndex;
    for (const QString& name : input.classes)
    {
        classIndex.insert(name, result.classes.size());
        result.classes.append({name, 0, 0});
    }
    // Index of the last image counted for a category, so an image with two ROIs of it counts once.
    QVector<int> countedIn(result.classes.size(), -1);
    Tally tiny, rects, unknown, unreadable, resized;
    FileTallies files;
    std::optional<QSize> firstSize;
    if (!input.images.isEmpty())
        firstSize = ImageHeader::ReadSize(input.images.first().path);

    for (int i = 0; i < input.images.size(); ++i)
    {
        if (stop && i % kStopEvery == 0 && stop())
            return result;
        const Image& image = input.images.at(i);
        const QString name = FileName(image.path);
        const bool marked = image.markAsOK || !image.shapes.isEmpty();
        if (!image.shapes.isEmpty())
            ++result.defectImages;
        else if (image.markAsOK)
            ++result.okImages;
        else
            ++result.unmarked;

        for (const Shape& shape : image.shapes)
        {
            const int cls = classIndex.value(shape.title, -1);
            if (cls < 0)
            {
                // The user mends these by adding the category or renaming the ROIs, so the titles are named.
                unknown.Add(shape.title);
            }
            else
            {
                ++result.trainableRois;
                ++result.classes[cls].rois;
                if (countedIn.at(cls) != i)
                {
                    countedIn[cls] = i;
                    ++result.classes[cls].images;
                }
            }
            if (TooSmall(shape))
                tiny.Add(name);
            if (input.type == pro::kSegmentProject && shape.rect)
                rects.Add(name);
        }

        // Only annotated images reach the training.
        if (marked)
        {
            const std::optional<QSize> size = i == 0 ? firstSize : ImageHeader::ReadSize(image.path);
            if (!size)
                unreadable.Add(name);
            else if (firstSize && *size != *firstSize)
                resized.Add(name);
        }
        if (!image.relPath.isEmpty())
            CheckFile(image, marked, name, files);
    }

    Tally noRoi, fewImages;
    for (const ClassCount& cls : result.classes)
    {
        // Every category is named: the user has to mend each of them.
        Tally& tally = cls.rois == 0 ? noRoi : fewImages;
        if (cls.rois == 0 || cls.images < kFewImages)
        {
            ++tally.count;
            tally.examples.append(cls.name);
        }
    }
    AddFinding(result, Issue::NoRoi, noRoi);
    AddFinding(result, Issue::AnnotationMissing, files.missing);
    AddFinding(result, Issue::AnnotationUnreadable, files.unreadable);
    AddFinding(result, Issue::AnnotationDiffers, files.differs);
    AddFinding(result, Issue::ImageUnreadable, unreadable);
    AddFinding(result, Issue::UnknownCategory, unknown);
    AddFinding(result, Issue::FewImages, fewImages);
    AddFinding(result, Issue::TinyRoi, tiny);
    AddFinding(result, Issue::RectInSegment, rects);
    if (firstSize)
    {
        AddFinding(result, Issue::SizeDiffers, resized,
                   QStringLiteral("%1×%2").arg(firstSize->width()).arg(firstSize->height()));
    }
    return result;
}
