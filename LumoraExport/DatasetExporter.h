#pragma once

#include "LumoraExport/ExportData.h"
#include "LumoraExport/ExportOptions.h"

#include <QSet>
#include <QSize>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class DatasetWriter;
class QTemporaryDir;

// Writes a data set in one of the export formats. Everything goes into a hidden folder beside the
// output folder, which takes the output's place only when all is written: a failure or a cancel
// leaves the output as it was. Images are copied or linked, never moved. Images are taken in the
// order of their keys, so the split is the same wherever the set comes from.
// The output is checked by its resolved path before anything is written: never a link, a project
// folder, a workspace or a folder in or around one, and a folder that holds files only when an
// earlier export made it (the marker file at its root) and replacing is asked for.
class DatasetExporter
{
public:
    // Images done and in all; called at most once per percent.
    using Progress = std::function<void(int done, int total)>;

    DatasetExporter(ExportSet set, ExportOptions options);
    ~DatasetExporter();

    void SetProgress(Progress progress) { m_progress = std::move(progress); }
    // Checked before each image; may be set from another thread.
    void SetCancelFlag(const std::atomic_bool* cancel) { m_cancel = cancel; }

    ExportSummary Run();
    // What Run would refuse the output with, else Ok, with the resolved output; writes nothing.
    static ExportSummary CheckOutput(const ExportSet& set, const ExportOptions& options);

    // The set's categories followed by the ROI titles outside them, in order of first appearance.
    static QStringList Categories(const ExportSet& set);
    // Columns and rows from the file's header, else from decoding it; an empty size when unreadable.
    static QSize ImageSize(const QString& path);

private:
    bool CheckOutput(ExportSummary& summary);
    bool HoldsImages(const QString& folder) const;
    bool PrepareOutput(ExportSummary& summary);
    bool ExportImages(ExportSummary& summary);
    // Of every image, in order; an empty size for a missing or unreadable file.
    QVector<QSize> ImageSizes(const QVector<const ExportImage*>& images) const;
    bool TransferImage(const QString& source, const QString& target, ExportSummary& summary);
    // A stem not yet taken in this data set (compared without case, as Windows does).
    QString UniqueStem(const QString& fileName);
    bool PutInPlace(ExportSummary& summary);
    void RemoveCreatedParents();
    bool Cancelled() const { return m_cancel && m_cancel->load(); }
    void Report(int done, int total);

    ExportSet m_set;
    ExportOptions m_options;
    Progress m_progress;
    const std::atomic_bool* m_cancel = nullptr;
    // Resolved.
    QString m_outputDir;
    // The output holds an earlier export, which goes whole when the new one is in place.
    bool m_replaceExport = false;
    // The first folder on the way to the output that this export created, removed on failure.
    QString m_createdParent;
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<DatasetWriter> m_writer;
    QStringList m_categories;
    QSet<QString> m_stems;
    int m_lastPercent = -1;
};
