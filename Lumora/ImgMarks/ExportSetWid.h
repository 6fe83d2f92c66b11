#pragma once

#include "ComLib/WorkerThread.h"

#include "LumoraExport/ExportData.h"
#include "LumoraExport/ExportOptions.h"

#include <QDialog>

#include <memory>

namespace Ui
{
class ExportSetWidClass;
}

class ExportWork;

// The export dialog of the annotated images: format, output folder, split and how the images are
// taken along. The export runs in a worker thread with a progress bar; closing the dialog meanwhile
// cancels it, which leaves nothing behind.
class ExportSetWid : public QDialog
{
    Q_OBJECT

public:
    ExportSetWid(ExportSet set, QWidget* parent = nullptr);
    ~ExportSetWid() override;

    // The user's texts of an export's end.
    static QString DoneText(const ExportSummary& summary);
    static QString FailureText(const ExportSummary& summary);

signals:
    void Signal_Export(ExportSet set, ExportOptions options);

public slots:
    void Slot_BtnExportClicked();
    void Slot_BtnBrowseClicked();
    void Slot_BtnCancelClicked();
    void Slot_FormatChanged(int index);
    void Slot_Progress(int done, int total);
    void Slot_ExportDone(ExportSummary summary);

    // Esc, the close button and Cancel: while the export runs, cancels it and closes once it has
    // cleaned up.
    void reject() override;

private:
    ExportOptions Options() const;
    void SetRunning(bool running);
    // The folder name proposed for the format, in the folder the output field names.
    QString ProposedOutput(ExportFormat format) const;

    std::unique_ptr<Ui::ExportSetWidClass> ui;
    ExportSet m_set;
    ExportWork* m_work;
    bool m_running = false;
    // Closing was asked for while the export ran: the dialog goes once the worker has cleaned up.
    bool m_closeWhenDone = false;
    comlib::WorkerThread m_thread{QStringLiteral("ExportThread")};
};
