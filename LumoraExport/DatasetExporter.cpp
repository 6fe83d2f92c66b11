#include "LumoraExport/DatasetExporter.h"

#include "LumoraExport/CocoWriter.h"
#include "LumoraExport/DatasetSplit.h"
#include "LumoraExport/VocWriter.h"
#include "LumoraExport/YoloWriter.h"

#include "Nexil/ImageDecode.h"

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

std::filesystem::path FsPath(const QString& path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

Qt::CaseSensitivity PathCase()
{
#ifdef Q_OS_WIN
    return Qt::CaseInsensitive;
#else
    return Qt::CaseSensitive;
#endif
}

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
    m_outputDir = QDir::cleanPath(QFileInfo(m_options.outputDir).absoluteFilePath());
    summary.outputDir = m_outputDir;
    if (m_options.outputDir.trimmed().isEmpty())
    {
        summary.status = ExportStatus::OutputNotWritable;
        return summary;
    }
    if (PrepareOutput(summary) && ExportImages(summary) && PutInPlace(summary))
        return summary;
    m_writer.reset();
    m_temp.reset();
    RemoveCreatedParents();
    return summary;
}

bool DatasetExporter::PrepareOutput(ExportSummary& summary)
{
    const QFileInfo output(m_outputDir);
    summary.detail = m_outputDir;
    if (output.exists() && !output.isDir())
    {
        summary.status = ExportStatus::OutputNotWritable;
        return false;
    }
    const auto entries = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    if (output.isDir() && !QDir(m_outputDir).isEmpty(entries))
    {
        if (!m_options.replaceOutput)
        {
            summary.status = ExportStatus::OutputNotEmpty;
            return false;
        }
        for (const ExportImage& image : m_set.images)
        {
            if (QDir::cleanPath(QFileInfo(image.path).absoluteFilePath())
                    .startsWith(m_outputDir + "/", PathCase()))
            {
                summary.status = ExportStatus::OutputHoldsImages;
                return false;
            }
        }
    }

    const QString parent = output.absolutePath();
    if (output.fileName().isEmpty() || parent == m_outputDir)
    {
        summary.status = ExportStatus::OutputNotWritable;
        return false;
    }
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
    summary.detail.clear();
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
        std::filesystem::create_hard_link(FsPath(source), FsPath(target), error);
        if (!error)
            return true;
        ++summary.copiedInsteadOfLinked;
    }
    std::filesystem::copy_file(FsPath(source), FsPath(target), error);
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
    if (QFileInfo::exists(m_outputDir))
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
        QDir(aside).removeRecursively();
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
