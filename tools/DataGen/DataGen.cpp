// Makes a project with a synthetic inspection data set through the core library, as if a user had
// imported and annotated the images: the catalogue record, the categories, the image copies under
// "/datas/<stamp>/RawDatas", their annotation files and their rows in PrjData.db.
// Usage: DataGen segment|object <project name> [images 200] [size 256] [workspace]
// The workspace defaults to the one of the program's Config.ini.

#include "SyntheticSet.h"

#include "ComLib/ComFunc.h"
#include "Nexil/NexilApi.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPolygonF>
#include <QTemporaryDir>

#include <cstdio>

namespace
{

struct Progress
{
    int stored = 0;
    int failed = 0;
};

void OnSaved(const QString& id, bool ok, const QString& msg, void* userData)
{
    auto* progress = static_cast<Progress*>(userData);
    if (ok)
        ++progress->stored;
    else
    {
        ++progress->failed;
        std::fprintf(stderr, "image %s: %s\n", qPrintable(id), qPrintable(msg));
    }
}

std::shared_ptr<ROIItem> ToRoi(const trainsvc::Shape& shape, const QStringList& classes)
{
    const QString title = classes.at(shape.cls);
    if (shape.rect)
        return std::make_shared<RectROIItem>(QRectF(QPointF(shape.points[0].x, shape.points[0].y),
                                                    QPointF(shape.points[1].x, shape.points[1].y)),
                                             0, title);
    QPolygonF polygon;
    for (const cv::Point2f& p : shape.points)
        polygon.append(QPointF(p.x, p.y));
    return std::make_shared<PolygonROIItem>(polygon, 0, title);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || (args.at(1) != "segment" && args.at(1) != "object"))
    {
        std::fprintf(stderr,
                     "usage: DataGen segment|object <project name> [images 200] [size 256] [workspace]\n");
        return 2;
    }
    const bool object = args.at(1) == "object";
    const QString name = args.at(2);
    SyntheticSet::Options options;
    options.count = args.value(3, "200").toInt();
    options.size = args.value(4, "256").toInt();
    options.rectangles = object;
    options.seed = uint(QDateTime::currentMSecsSinceEpoch());
    const QString workspace = args.size() > 5 ? args.at(5) : QString::fromStdString(comlib::WorkspaceDir());

    QTemporaryDir source;
    SyntheticSet set;
    QString error;
    if (!set.Generate(source.path(), options, error))
    {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QStringList classes = SyntheticSet::ClassNames(options.numClasses);

    CreateNexil();
    const std::shared_ptr<INexil> nexil = NexilIns().lock();
    if (!nexil || !nexil->Init(workspace))
    {
        std::fprintf(stderr, "cannot open the workspace %s\n", qPrintable(workspace));
        return 1;
    }
    if (!nexil->ProIdByName(name).isEmpty())
    {
        std::fprintf(stderr, "a project named %s exists already\n", qPrintable(name));
        ReleaseNexil();
        return 1;
    }
    auto info = std::make_shared<pro::info>();
    info->id = QString::fromStdString(comlib::MakeUniqueId());
    info->name = name;
    info->type = object ? 2 : 1;
    info->tips = QStringLiteral("synthetic inspection set");
    info->createTime = info->lastUsedTime = QString::fromStdString(comlib::NowString());
    nexil->AddPro(info);
    nexil->OpenPro(info->id);
    const std::shared_ptr<IPrjCore> project = PrjIns().lock();
    if (!project)
    {
        std::fprintf(stderr, "cannot open the new project\n");
        ReleaseNexil();
        return 1;
    }
    for (const QString& cls : classes)
        project->AddMarkType(cls);
    Progress progress;
    project->SetSaveCallback(OnSaved, &progress);
    const QString stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd_hh-mm-ss-zzz");
    for (int i = 0; i < set.FileNames().size(); ++i)
    {
        auto image = std::make_shared<pro::ImageInfo>();
        image->path = source.filePath(set.FileNames().at(i));
        image->fileName = set.FileNames().at(i);
        image->addTime = stamp;
        for (const trainsvc::Shape& shape : set.Shapes()[size_t(i)])
            image->rois.append(ToRoi(shape, classes));
        image->markAsOK = image->rois.isEmpty();
        image->filter = image->markAsOK ? QStringLiteral("OK") : QStringLiteral("NG");
        project->AddImage(image);
    }
    // The copies are made in the project's thread; their results come back through the event loop.
    while (progress.stored + progress.failed < set.FileNames().size())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    std::printf("%s: %d images in %s (%d failed), classes %s\n", qPrintable(name), progress.stored,
                qPrintable(project->PrjPath()), progress.failed, qPrintable(classes.join(", ")));
    ReleaseNexil();
    return progress.failed == 0 ? 0 : 1;
}
