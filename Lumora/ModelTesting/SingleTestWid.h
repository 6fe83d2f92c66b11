#pragma once

#include "Nexil/ImageInfo.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

namespace Ui
{
class SingleTestWidClass;
}

namespace comlib
{
class ServiceRun;
struct ServiceReply;
} // namespace comlib

class ComboListModel;
class QNetworkReply;

// One test panel: runs a model version of the open project on the training service against the test
// images, shows the rates per class and draws this version's prediction for the selected image.
class SingleTestWid : public QWidget
{
    Q_OBJECT

public:
    SingleTestWid(const QString& id, ComboListModel* models, QWidget* parent = nullptr);
    ~SingleTestWid() override;

    const QString& Id() const { return m_id; }
    bool IsRunning() const;
    // The version chosen in the combo box, and choosing one by name (nothing when it is not listed).
    QString ChosenVersion() const;
    void ChooseVersion(const QString& name);
    // Shows the prediction of the last started version for the image; keeps the canvas as it is when
    // there is none.
    void ShowTestImage(std::weak_ptr<pro::ImageInfo> wpImg);
    // Cuts the panel off the service and its timer before it is deleted: a removed panel sends and
    // shows nothing more.
    void Discard();

    // The prediction file of an image below the result folder; empty when the image has no place there.
    static QString PredictionPath(const QString& resultDir, const QString& prjPath, const QString& testPath,
                                  const pro::ImageInfo& img);

signals:
    void Signal_DelTest(QString id);
    void Signal_TestRlt(QStringList lossRateFile, QStringList overKillRile);
    // A run started or ended.
    void Signal_RunningChanged(bool running);

public slots:
    void Slot_BtnDelTestClicked();
    // Starts a run when idle, stops it when running.
    void Slot_BtnRunTestClicked();
    // Every reply of the service, start and stop replies included.
    void Slot_Finished(QNetworkReply* reply);
    void Slot_TimeToGetStatus();
    void Slot_BtnShowRltClicked();

private:
    bool MakeTestReqJson(QString& configPath);
    void ParserTestResult(const comlib::ServiceReply& reply);
    void ResetTestState();
    void StartTest();
    void StopTest();
    void ShowReply(const comlib::ServiceReply& reply);
    void ShowStatus(const comlib::ServiceReply& reply);
    void ShowError(const QString& text);
    void LogRequest(const QString& path, const QString& taskId);

    std::unique_ptr<Ui::SingleTestWidClass> ui;
    QString m_id;
    ComboListModel* m_models;
    comlib::ServiceRun* m_run;
    QString m_versionName;
    QString m_modelConfigPath;
    std::shared_ptr<pro::ImageInfo> m_shownResult;
};
