#include "ExportWork.h"

#include "LumoraExport/DatasetExporter.h"

#include <QDebug>

ExportWork::ExportWork() = default;

ExportWork::~ExportWork() = default;

void ExportWork::Slot_Export(ExportSet set, ExportOptions options)
{
    qInfo().noquote() << "Exporting" << set.images.size() << "images as"
                      << ExportOptions::FormatName(options.format) << "to" << options.outputDir;
    DatasetExporter exporter(std::move(set), std::move(options));
    exporter.SetCancelFlag(&m_cancel);
    exporter.SetProgress([this](int done, int total) { emit Signal_Progress(done, total); });
    const ExportSummary summary = exporter.Run();
    qInfo().noquote() << "Export ended with status" << int(summary.status) << summary.detail;
    emit Signal_ExportDone(summary);
}
