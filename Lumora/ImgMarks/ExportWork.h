#pragma once

#include "LumoraExport/ExportData.h"
#include "LumoraExport/ExportOptions.h"

#include <QObject>

#include <atomic>

// Writes a data set in a thread of its own, so that the page answers while thousands of images are
// copied. Progress leaves at most once per percent.
class ExportWork : public QObject
{
    Q_OBJECT

public:
    ExportWork();
    ~ExportWork() override;

    // May be called from any thread: the export under way stops before its next image and leaves
    // nothing behind, and any later one stops at once.
    void Cancel() { m_cancel = true; }

signals:
    void Signal_Progress(int done, int total);
    void Signal_ExportDone(ExportSummary summary);

public slots:
    void Slot_Export(ExportSet set, ExportOptions options);

private:
    std::atomic_bool m_cancel{false};
};
