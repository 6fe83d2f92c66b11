#pragma once

#include "TrainEvents.h"
#include "VersionHistory.h"

#include "ComLib/WorkerThread.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

namespace Ui
{
class ModelTrainingWidClass;
}

namespace QtCharts
{
class QChart;
class QSplineSeries;
class QValueAxis;
} // namespace QtCharts

namespace comlib
{
class ServiceRun;
class ServiceStarter;
struct ServiceReply;
} // namespace comlib

class QGridLayout;
class QNetworkReply;

// The training page: epochs and precision, a training run of the open project on the local training
// service, its progress, loss curve and request log, and the OpenCL devices of the machine.
class ModelTrainingWid : public QWidget
{
    Q_OBJECT

public:
    explicit ModelTrainingWid(QWidget* parent = nullptr);
    ~ModelTrainingWid() override;

    // Shows the state of the training service that service looks after, above the run's status.
    void ShowServiceState(comlib::ServiceStarter* service);

public slots:
    // Starts a run when idle, stops it when running.
    void Slot_BtnTrainingClicked();
    // Every reply of the service, start and cancel replies included.
    void Slot_Finished(QNetworkReply* reply);
    void Slot_SetGPUInfo(QStringList names);
    void Slot_SliderEpochsValueChanged(int value);
    void Slot_SliderPrecisionValueChanged(int value);
    // Polls the status once a second while running and shows the elapsed time.
    void Slot_TimeToGetStatus();

protected:
    // Every time the page becomes current, the data set check is made anew.
    void showEvent(QShowEvent* event) override;

private:
    // Writes config.json of a new run directory; false, after telling the user, when it cannot.
    bool MakeTrainingReqJson(QString& configPath);
    // Back to idle; what the labels, the chart and the log show stays.
    void ResetTrainingState();
    void StartTraining();
    void StopTraining();
    void ShowReply(const comlib::ServiceReply& reply);
    void ShowStatus(const comlib::ServiceReply& reply);
    void UpdateChart(float epoch, float totalLoss, float valLoss);
    void LogRequest(const QString& path, const QString& taskId);
    void ShowError(const QString& text);
    void CreateChart();
    // Reads the project's trained versions again; select names the version to select (empty: keep the
    // selection, or take the newest when nothing was selected).
    void RefreshVersions(const QString& select = QString());
    void ShowVersion(int row);
    // The version's settings become the next run's.
    void UseVersion();
    // Shows losses per epoch of a finished version instead of the curve of a run.
    void ShowCurve(const QVector<comlib::protocol::ModelRecord::EpochLoss>& history, int epochs);
    void AppendEvent(const QString& line);
    int TrainableImages() const;

    std::unique_ptr<Ui::ModelTrainingWidClass> ui;
    comlib::ServiceRun* m_run;
    QGridLayout* m_devGrid;
    QtCharts::QChart* m_chart = nullptr;
    float m_lastEpoch = -1.0f;
    QtCharts::QSplineSeries* m_totalSeries = nullptr;
    QtCharts::QSplineSeries* m_valSeries = nullptr;
    QtCharts::QValueAxis* m_epochAxis = nullptr;
    QtCharts::QValueAxis* m_lossAxis = nullptr;
    TrainEvents m_events;
    // Newest first, as listed in lstVersions.
    QVector<VersionHistory::Version> m_versions;
    // The first listing restores the newest version's settings.
    bool m_versionsRead = false;
    // The version folder of the run in progress or the last one.
    QString m_runVersion;
    // Last, so that it ends before the page goes.
    comlib::WorkerThread m_thread{QStringLiteral("GetGPUWork")};
};
