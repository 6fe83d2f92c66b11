#pragma once

#include "ComLib/WorkerThread.h"

#include "DatasetCheck.h"

#include <QWidget>

#include <atomic>
#include <memory>

namespace Ui
{
class DatasetCheckWidClass;
}

class DatasetCheckModel;

// The training page's data set check: images and ROIs per category, how many images are OK, defective
// or not annotated, and the warnings a user can act on before a start. The records are copied in the
// GUI thread; the files are read in a worker thread.
class DatasetCheckWid : public QWidget
{
    Q_OBJECT

public:
    explicit DatasetCheckWid(QWidget* parent = nullptr);
    ~DatasetCheckWid() override;

    // Checks the open project anew; what an earlier check still finds is not shown.
    void Refresh();

    // The user's text of one finding.
    static QString FindingText(const DatasetCheck::Finding& finding);

signals:
    void Signal_Check(quint64 seq, DatasetCheck::Input input);
    // After the result of the latest check is shown.
    void Signal_Checked();

public slots:
    void Slot_CheckRlt(quint64 seq, DatasetCheck::Result result);

private:
    void ShowResult(const DatasetCheck::Result& result);
    void FitTable();

    std::unique_ptr<Ui::DatasetCheckWidClass> ui;
    DatasetCheckModel* m_model;
    // The number of the newest check asked for; read by the worker to drop outdated ones.
    std::shared_ptr<std::atomic<quint64>> m_latest;
    comlib::WorkerThread m_thread{QStringLiteral("DatasetCheckWork")};
};
