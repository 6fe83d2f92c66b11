#pragma once

#include "Nexil/ImageInfo.h"
#include "Nexil/ROI/ROIItem.h"

#include "ComLib/Service/ServiceProtocol.h"

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
class OnnxExportRun;
class OperatingPointWid;
class QLabel;
class QNetworkReply;
class QPushButton;
class ThresholdRates;

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
    // there is none. withTruth draws the image's annotation under the prediction, each shape in its
    // class's colour, the predicted ones with their scores.
    void ShowTestImage(std::weak_ptr<pro::ImageInfo> wpImg, bool withTruth = false);
    // The shapes of the prediction file's text and, in the same order, their scores (-1 for none).
    static ROIList ScoredShapes(const QByteArray& predictionText, QVector<double>& scores);
    // The images the next runs test: these paths relative to the test path under the set's name, or,
    // when empty, every image below the test path.
    void SetTestImages(const QStringList& relativePaths, const QString& setName);
    // Starts a run of the chosen version on the test images; nothing when one is running.
    void StartTest();
    // The validation images recorded with the version in versionDir, relative to the project's datas
    // folder; false when the version has no readable record of them.
    static bool ReadValidationPaths(const QString& versionDir, QStringList& paths);
    QString ChosenVersionDir() const;
    // Cuts the panel off the service and its timer before it is deleted: a removed panel sends and
    // shows nothing more.
    void Discard();

    // The prediction file of an image below the result folder; empty when the image has no place there.
    static QString PredictionPath(const QString& resultDir, const QString& prjPath, const QString& testPath,
                                  const pro::ImageInfo& img);

    // The last labelled result: its summary, the rates counted from it and the thresholds chosen on the
    // panel. Empty until a labelled test is done, and again after ClearResult.
    std::shared_ptr<const comlib::protocol::TestSummary> Summary() const { return m_summary; }
    std::shared_ptr<const ThresholdRates> Rates() const { return m_rates; }
    QVector<double> Thresholds() const;
    // The version of the last started run and the set its result was measured on.
    const QString& VersionName() const { return m_versionName; }
    const comlib::protocol::ClassThresholds::TestSet& TestSet() const { return m_testSet; }
    // Forgets the result of the last run, as when the test images changed; the canvas keeps its image.
    void ClearResult();
    // The saved thresholds of the version in versionDir; false when it has none that can be read.
    static bool ReadThresholds(const QString& versionDir, comlib::protocol::ClassThresholds& thresholds);

signals:
    void Signal_DelTest(QString id);
    void Signal_TestRlt(QStringList lossRateFile, QStringList overKillRile);
    // A run started or ended.
    void Signal_RunningChanged(bool running);
    // The labelled result or its thresholds changed.
    void Signal_ResultChanged();
    // The user asks to test the chosen version on its validation images.
    void Signal_TestValidationSet();

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
    void StopTest();
    void ShowReply(const comlib::ServiceReply& reply);
    void ShowStatus(const comlib::ServiceReply& reply);
    void ShowError(const QString& text);
    void LogRequest(const QString& path, const QString& taskId);
    void LoadSummary();
    void SaveThresholds();
    // Fills shown with the image's truth and the predicted shapes with their scores, for the canvas.
    void ShowWithTruth(const pro::ImageInfo& img, const QByteArray& predictionText, pro::ImageInfo& shown);
    void ShowSavedThresholds();
    // Asks where to write the chosen version as an ONNX model and starts the export.
    void ExportOnnx();
    void ShowExported(bool ok, const QString& message);

    std::unique_ptr<Ui::SingleTestWidClass> ui;
    QString m_id;
    ComboListModel* m_models;
    comlib::ServiceRun* m_run;
    QString m_versionName;
    QString m_modelConfigPath;
    std::shared_ptr<pro::ImageInfo> m_shownResult;
    QString m_versionDir;
    QString m_resultDir;
    QString m_testPath;
    QStringList m_testImages;
    QString m_setName;
    // The set's name of the last started run.
    QString m_runSetName;
    std::shared_ptr<const comlib::protocol::TestSummary> m_summary;
    std::shared_ptr<const ThresholdRates> m_rates;
    comlib::protocol::ClassThresholds::TestSet m_testSet;
    OperatingPointWid* m_points;
    QLabel* m_savedThresholds;
    QPushButton* m_btnExportOnnx;
    OnnxExportRun* m_exportOnnx;
};
