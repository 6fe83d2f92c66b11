#include "LumoraExport/DatasetExporter.h"

#include "LumoraExport/CocoWriter.h"
#include "LumoraExport/DatasetSplit.h"
#include "LumoraExport/ExportPaths.h"
#include "LumoraExport/VocWriter.h"
#include "LumoraExport/YoloWriter.h"

#include "Nexil/ImageDecode.h"
#include "Nexil/NexilConst.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>
#include <future>
#include <thread>
#include <vector>

namespace
{

std::unique_ptr<DatasetWriter> MakeWriter(ExportFormat format, const DatasetWriter::Setup& setup)
{
    switch (format)
    {
    case ExportFormat::Coco:
        return std::make_unique<CocoWriter>(setup);
    case ExportFormat::Yolo:
        return std::make_unique<YoloWriter>(setup);
    case ExportFormat::Voc:
        return std::make_unique<VocWriter>(setup);
    }
    return nullptr;
}

struct Readable
{
    const ExportImage* image;
    QSize size;
};

} // namespace

DatasetExporter::DatasetExporter(ExportSet set, ExportOptions options)
    : m_set(std::move(set)), m_options(std::move(options))
{
}

DatasetExporter::~DatasetExporter() = default;

QStringList DatasetExporter::Categories(const ExportSet& set)
{
    QStringList result;
    QSet<QString> seen;
    const auto add = [&](const QString& name)
    {
        if (!name.isEmpty() && !seen.contains(name))
        {
            seen.insert(name);
            result.append(name);
        }
    };
    for (const QString& name : set.categories)
        add(name);
    for (const ExportImage& image : set.images)
    {
        for (const ExportRoi& roi : image.rois)
            add(roi.category);
    }
    return result;
}

QSize DatasetExporter::ImageSize(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return QSize();
    return ImageDecode::Size(path);
}

QVector<QSize> DatasetExporter::ImageSizes(const QVector<const ExportImage*>& images) const
{
    // Reading a header takes a few dozen small reads, as many system calls as copying the whole image:
    // spread over the cores, it stays off the export's critical path.
    QVector<QSize> sizes(images.size());
    const int workers = int(qBound(1u, std::thread::hardware_concurrency(), 4u));
    std::vector<std::future<void>> jobs;
    for (int w = 0; w < workers; ++w)
    {
        jobs.push_back(std::async(std::launch::async,
                                  [&, w]
                                  {
                                      for (int i = w; i < images.size() && !Cancelled(); i += workers)
                                          sizes[i] = ImageSize(images[i]->path);
                                  }));
    }
    for (std::future<void>& job : jobs)
        job.wait();
    return sizes;
}

ExportSummary DatasetExporter::Run()
{
    ExportSummary summary;
    if (CheckOutput(summary) && PrepareOutput(summary) && ExportImages(summary) && PutInPlace(summary))
        return summary;
    m_writer.reset();
    m_temp.reset();
    RemoveCreatedParents();
    return summary;
}

ExportSummary DatasetExporter::CheckOutput(const ExportSet& set, const ExportOptions& options)
{
    ExportSummary summary;
    DatasetExporter(set, options).CheckOutput(summary);
    return summary;
}

bool DatasetExporter::CheckOutput(ExportSummary& summary)
{
    m_outputDir = ExportPaths::ResolvedOutput(m_options.outputDir);
    summary.outputDir = m_outputDir.isEmpty() ? m_options.outputDir : m_outputDir;
    const auto refuse = [&](ExportStatus status, const QString& detail)
    {
        summary.status = status;
        summary.detail = detail;
        return false;
    };
    if (m_options.outputDir.trimmed().isEmpty() || m_outputDir.isEmpty())
        return refuse(ExportStatus::OutputNotWritable, summary.outputDir);
    if (ExportPaths::IsLink(m_outputDir))
        return refuse(ExportStatus::OutputIsLink, m_outputDir);
    const QFileInfo output(m_outputDir);
    if ((output.exists() && !output.isDir()) || output.fileName().isEmpty() ||
        output.absolutePath() == m_outputDir)
        return refuse(ExportStatus::OutputNotWritable, m_outputDir);

    QStringList guarded;
    if (!m_set.projectDir.isEmpty())
    {
        QString project = ExportPaths::Resolved(m_set.projectDir);
        if (project.isEmpty())
            project = QDir::cleanPath(QFileInfo(m_set.projectDir).absoluteFilePath());
        guarded << project;
        const QString workspace = QFileInfo(project).absolutePath();
        if (QFileInfo::exists(workspace + nexil::kCatalogueFile))
            guarded << workspace;
    }
    // The nearest folder is named: the project when inside it, the workspace when around it.
    for (const QString& folder : guarded)
    {
        if (ExportPaths::SameOrInside(m_outputDir, folder, Qt::CaseInsensitive))
            return refuse(ExportStatus::OutputInProject, folder);
    }
    for (auto folder = guarded.crbegin(); folder != guarded.crend(); ++folder)
    {
        if (ExportPaths::SameOrInside(*folder, m_outputDir, Qt::CaseInsensitive))
            return refuse(ExportStatus::OutputHoldsProject, *folder);
    }
    const QString enclosing = ExportPaths::EnclosingProject(m_outputDir);
    if (!enclosing.isEmpty())
        return refuse(ExportStatus::OutputInProject, enclosing);

    const auto entries = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    if (output.isDir() && !QDir(m_outputDir).isEmpty(entries))
    {
        if (!m_options.replaceOutput)
            return refuse(ExportStatus::OutputNotEmpty, m_outputDir);
        if (!ExportPaths::HasMarker(m_outputDir))
            return refuse(ExportStatus::OutputNotExport, m_outputDir);
        // The marker can be copied along with a project.
        const std::optional<QString> project = ExportPaths::ProjectBelow(m_outputDir);
        if (!project)
            return refuse(ExportStatus::OutputNotWritable, m_outputDir);
        if (!project->isEmpty())
            return refuse(ExportStatus::OutputHoldsProject, *project);
        if (HoldsImages(m_outputDir))
            return refuse(ExportStatus::OutputHoldsImages, m_outputDir);
        m_replaceExport = true;
    }
    return true;
}

bool DatasetExporter::HoldsImages(const QString& folder) const
{
    ExportPaths::FileResolver resolver;
    for (const ExportImage& image : m_set.images)
    {
        if (ExportPaths::SameOrInside(resolver.Resolved(image.path), folder, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool DatasetExporter::PrepareOutput(ExportSummary& summary)
{
    const QFileInfo output(m_outputDir);
    const QString parent = output.absolutePath();
    QString missing;
    for (QString folder = parent; !QFileInfo::exists(folder); folder = QFileInfo(folder).absolutePath())
        missing = folder;
    if (!QDir().mkpath(parent))
    {
        summary.status = ExportStatus::OutputNotWritable;
        summary.detail = parent;
        return false;
    }
    m_createdParent = missing;
    m_temp = std::make_unique<QTemporaryDir>(parent + "/." + output.fileName() + ".partial-XXXXXX");
    if (!m_temp->isValid())
    {
        summary.status = ExportStatus::OutputNotWritable;
        summary.detail = parent;
        return false;
    }
    if (!ExportPaths::WriteMarker(m_temp->path(), ExportOptions::FormatName(m_options.format)))
    {
        summary.status = ExportStatus::WriteFailed;
        summary.detail = m_temp->path() + "/" + ExportPaths::kMarkerFile;
        return false;
    }
    return true;
}

bool DatasetExporter::ExportImages(ExportSummary& summary)
{
    QVector<const ExportImage*> ordered;
    for (const ExportImage& image : m_set.images)
    {
        if (image.markAsOK || !image.rois.isEmpty())
            ordered.append(&image);
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const ExportImage* a, const ExportImage* b) { return a->key < b->key; });

    const QVector<QSize> sizes = ImageSizes(ordered);
    if (Cancelled())
    {
        summary.status = ExportStatus::Cancelled;
        return false;
    }
    QVector<Readable> readable;
    summary.skippedImages = m_set.refusedPaths.size();
    for (int i = 0; i < ordered.size(); ++i)
    {
        if (sizes[i].isEmpty())
            ++summary.skippedImages;
        else
            readable.append({ordered[i], sizes[i]});
    }
    if (readable.isEmpty())
    {
        summary.status = ExportStatus::NoImages;
        return false;
    }

    m_categories = Categories(m_set);
    summary.categories = m_categories.size();
    const QVector<bool> val =
        DatasetSplit::ValidationMask(readable.size(), m_options.valFraction, m_options.seed);
    const DatasetWriter::Setup setup{m_temp->path(), m_outputDir, m_set.name,
                                     m_categories,   m_set.type,  val.contains(true)};
    m_writer = MakeWriter(m_options.format, setup);
    QHash<QString, int> categoryIndex;
    for (int i = 0; i < m_categories.size(); ++i)
        categoryIndex.insert(m_categories[i], i);

    QSet<QString> madeDirs;
    for (int i = 0; i < readable.size(); ++i)
    {
        if (Cancelled())
        {
            summary.status = ExportStatus::Cancelled;
            return false;
        }
        const ExportImage& image = *readable[i].image;
        const QSize size = readable[i].size;
        const DatasetPart part = val[i] ? DatasetPart::Val : DatasetPart::Train;
        const QString stem = UniqueStem(image.fileName);
        const QString suffix = QFileInfo(image.fileName).suffix();
        const QString fileName = suffix.isEmpty() ? stem : stem + "." + suffix;

        QVector<ExportShape> shapes;
        for (const ExportRoi& roi : image.rois)
        {
            const auto shape = ExportShape::Make(roi, categoryIndex.value(roi.category, -1), size);
            if (shape && shape->Category() >= 0)
                shapes.append(*shape);
            else
                ++summary.droppedShapes;
        }

        const QString folder = m_temp->path() + "/" + m_writer->ImageDir(part);
        if (!madeDirs.contains(folder))
        {
            if (!QDir().mkpath(folder))
            {
                summary.status = ExportStatus::WriteFailed;
                summary.detail = folder;
                return false;
            }
            madeDirs.insert(folder);
        }
        if (!TransferImage(image.path, folder + "/" + fileName, summary))
            return false;
        if (!m_writer->AddImage(part, fileName, stem, size, shapes))
        {
            summary.status = ExportStatus::WriteFailed;
            summary.detail = m_writer->FailedPath();
            return false;
        }
        ++(part == DatasetPart::Val ? summary.valImages : summary.trainImages);
        summary.objects += shapes.size();
        summary.okImages += image.rois.isEmpty() ? 1 : 0;
        Report(i + 1, readable.size());
    }
    if (!m_writer->Finish())
    {
        summary.status = ExportStatus::WriteFailed;
        summary.detail = m_writer->FailedPath();
        return false;
    }
    return true;
}

bool DatasetExporter::TransferImage(const QString& source, const QString& target, ExportSummary& summary)
{
    std::error_code error;
    if (m_options.transfer == ImageTransfer::Link)
    {
        // A hard link to a link would be a copy of the link, which a relative one leaves pointing
        // nowhere.
        const QString file = ExportPaths::IsLink(source) ? QFileInfo(source).canonicalFilePath() : source;
        std::filesystem::create_hard_link(ExportPaths::FsPath(file), ExportPaths::FsPath(target), error);
        if (!error)
            return true;
        ++summary.copiedInsteadOfLinked;
    }
    std::filesystem::copy_file(ExportPaths::FsPath(source), ExportPaths::FsPath(target), error);
    if (!error)
        return true;
    summary.status = ExportStatus::WriteFailed;
    summary.detail = source;
    return false;
}

QString DatasetExporter::UniqueStem(const QString& fileName)
{
    QString stem = QFileInfo(fileName).completeBaseName();
    if (stem.isEmpty())
        stem = QStringLiteral("image");
    QString candidate = stem;
    for (int n = 2; m_stems.contains(candidate.toLower()); ++n)
        candidate = QStringLiteral("%1_%2").arg(stem).arg(n);
    m_stems.insert(candidate.toLower());
    return candidate;
}

bool DatasetExporter::PutInPlace(ExportSummary& summary)
{
    const QString temp = m_temp->path();
    summary.status = ExportStatus::OutputNotWritable;
    summary.detail = m_outputDir;
    if (QFileInfo::exists(m_outputDir) || ExportPaths::IsLink(m_outputDir))
    {
        // Moved aside first, so that the old output survives a failed rename.
        const QString aside = temp + ".old";
        if (!QDir().rename(m_outputDir, aside))
            return false;
        if (!QDir().rename(temp, m_outputDir))
        {
            QDir().rename(aside, m_outputDir);
            return false;
        }
        // An earlier export goes whole; any other folder was empty and only the entry itself goes,
        // whatever took its place since the check.
        std::error_code error;
        const bool removed = m_replaceExport ? ExportPaths::RemoveTree(aside)
                                             : std::filesystem::remove(ExportPaths::FsPath(aside), error);
        if (!removed)
            qWarning().noquote() << "The replaced output folder stays at" << aside;
    }
    else if (!QDir().rename(temp, m_outputDir))
    {
        return false;
    }
    m_temp->setAutoRemove(false);
    summary.status = ExportStatus::Ok;
    summary.detail.clear();
    return true;
}

void DatasetExporter::RemoveCreatedParents()
{
    if (m_createdParent.isEmpty())
        return;
    // Only empty folders go, from the output's parent up to the first one this export created.
    QString folder = QFileInfo(m_outputDir).absolutePath();
    while (QDir().rmdir(folder) && folder != m_createdParent)
        folder = QFileInfo(folder).absolutePath();
    m_createdParent.clear();
}

void DatasetExporter::Report(int done, int total)
{
    const int percent = total > 0 ? int(qint64(done) * 100 / total) : 100;
    if (percent == m_lastPercent || !m_progress)
        return;
    m_lastPercent = percent;
    m_progress(done, total);
}
