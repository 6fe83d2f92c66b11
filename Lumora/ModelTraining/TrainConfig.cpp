#include "TrainConfig.h"

#include "ComLib/AtomicFile.h"
#include "ComLib/ComFunc.h"
#include "ComLib/Service/ServiceProtocol.h"
#include "Nexil/IPrjCore.h"
#include "Nexil/ImageDecode.h"
#include "Nexil/NexilConst.h"
#include "Nexil/ROI/ROIItem.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

bool TrainConfig::ClaimVersionDir(const QString& trainRoot, QString& version)
{
    QDir root(trainRoot);
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < kVersionTries; ++i)
    {
        const QString name =
            QLatin1Char('V') + now.addSecs(i).toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
        // The name is kept even on failure, so the message can name the file that was not written.
        version = name;
        if (root.exists(name))
            continue;
        return root.mkdir(name);
    }
    return false;
}

TrainConfig::Result TrainConfig::Write(const IPrjCore& prj, const pro::info& info, int epochs, int fineness)
{
    const auto& images = prj.Images();
    if (std::none_of(images.begin(), images.end(), [](const auto& spImg) { return spImg->marked; }))
        return {Status::NoMarkedImage, QString(), QString()};
    // A configuration without a class is of no use to any trainer.
    const QStringList classes = prj.MarkTypes();
    if (classes.isEmpty())
        return {Status::NoClass, QString(), QString()};
    const auto trainable = [&classes](const auto& spImg)
    {
        return std::any_of(spImg->rois.begin(), spImg->rois.end(),
                           [&classes](const auto& roi) { return roi && classes.contains(roi->title()); });
    };
    if (std::none_of(images.begin(), images.end(), trainable))
        return {Status::NoTrainableRoi, QString(), QString()};

    const QString firstPath = images.first()->path;
    const QSize imageSize = ImageDecode::Size(firstPath);
    if (imageSize.isEmpty())
        return {Status::ImageUnreadable, firstPath, QString()};
    // Checked before the run directory exists, so a refused start leaves nothing behind.
    if (info.type != pro::kSegmentProject && info.type != pro::kObjectProject)
        return {Status::UnsupportedType, QString(), QString()};

    const QString prjPath = prj.PrjPath();
    const QString trainRoot = prjPath + QStringLiteral("/train");
    QString version;
    bool claimed = false;
    try
    {
        comlib::EnsureDir(trainRoot.toStdString());
        claimed = ClaimVersionDir(trainRoot, version);
    }
    catch (const std::exception& e)
    {
        qCritical().noquote() << "cannot create" << trainRoot << e.what();
    }
    const QString trainPath = trainRoot + QLatin1Char('/') + version;
    const QString path = trainPath + QLatin1Char('/') + QLatin1String(comlib::protocol::kTrainConfigFile);
    if (!claimed)
        return {Status::WriteFailed, path, QString()};

    const bool segment = info.type == pro::kSegmentProject;
    comlib::protocol::TrainRequest request;
    request.imageRows = imageSize.height();
    request.imageColumns = imageSize.width();
    request.classes = classes;
    request.datasPath = prjPath + QString::fromLatin1(nexil::kDatasDir);
    request.trainPath = trainPath;
    request.version = version;
    request.projectName = info.name;
    request.fineness = fineness;
    request.epochs = epochs;
    request.aiType = segment ? QStringLiteral("Segment") : QStringLiteral("Object");
    request.netType = segment ? QStringLiteral("DeepLabV3Plus") : QStringLiteral("YOLOV8");
    const QJsonObject config = request.ToJson();

    // Written aside and renamed, so the service never reads half a file.
    QString error;
    if (!comlib::WriteFileAtomically(path, QJsonDocument(config).toJson(QJsonDocument::Indented), error))
    {
        qCritical().noquote() << "cannot write" << error;
        return {Status::WriteFailed, path, QString()};
    }
    return {Status::Ok, QString(), path};
}
