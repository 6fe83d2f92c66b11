#pragma once

#include "ComLib/WorkerThread.h"

#include "Nexil/ImageInfo.h"

#include <QList>
#include <QModelIndex>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

namespace Ui
{
class ModelTestingWidClass;
}

class ErrorImgModel;
class MarksImgModel;
class PathWid;
class QTreeView;
class TestContainerWid;

// The testing page: the test images on the left, with the images behind the missed and overkill rates
// of the last finished test; the test panels on the right and the selected image's path below them.
class ModelTestingWid : public QWidget
{
    Q_OBJECT

public:
    explicit ModelTestingWid(QWidget* parent = nullptr);
    ~ModelTestingWid() override;

    // Lists the trained models of the open project again; the main window calls it each time it makes
    // this page current, so a training run finished meanwhile shows up.
    void ReloadModels();

signals:
    void Signal_LoadImgPath(QString path);
    void Signal_LoadImg(QString fullPath);

public slots:
    void Slot_btnImportMarkClicked();
    void Slot_BtnClearupClicked();
    void Slot_BtnImportImgClicked();
    void Slot_BtnImportDirClicked();
    void Slot_ImgList(QList<std::shared_ptr<pro::ImageInfo>> vtImgPtr);
    void Slot_BtnNextImgClicked();
    void Slot_BtnPreImgClicked();
    void Slot_TestRlt(QStringList lossRateFile, QStringList overKillRile);
    void Slot_treeViewTestItemClicked(QModelIndex index);
    void Slot_treeViewOverKillItemClicked(QModelIndex index);
    void Slot_treeViewLossRateItemClicked(QModelIndex index);

private:
    // The project's last file path when it is there, else the user's pictures or home folder.
    static QString StartFolder();
    void ShowItem(MarksImgModel* model, const QModelIndex& index);
    // Selects the next or previous image of the current tab's tree, wrapping around at either end.
    void StepImage(bool forward);
    static void AddProjectImages(MarksImgModel* model, const QStringList& paths);
    // The test images changed: results counted on the earlier ones no longer hold.
    void ForgetResults();
    // Lists the panels in the error browser and the errors of the chosen one.
    void ShowPanels();
    void ShowErrors();
    void ShowErrorItem(const QModelIndex& index);
    // Counts the test images and those with an annotation file beside them, and says so.
    void CountTestImages(const QList<std::shared_ptr<pro::ImageInfo>>& images);
    void ShowTestImageCount();
    // Makes the validation images of the panel's chosen version the test images and tests them there.
    void TestValidationSet(const QString& panelId);
    // Compares the first tested panel with each later one on the same set and writes the report.
    void ExportComparison();

    std::unique_ptr<Ui::ModelTestingWidClass> ui;
    bool m_testing = false;
    TestContainerWid* m_container;
    PathWid* m_pathBar;
    MarksImgModel* m_testModel;
    MarksImgModel* m_lossModel;
    MarksImgModel* m_overkillModel;
    ErrorImgModel* m_errorModel;
    int m_testImages = 0;
    int m_truthImages = 0;
    // The test images are the project's own annotated ones, which trained the model.
    bool m_projectImages = false;
    // The test images are the validation images of this version.
    QString m_validationOf;
    // The record of the image shown from the error browser, when it is none of the project's.
    std::shared_ptr<pro::ImageInfo> m_errorImage;
    // Last, so that it ends before the page goes.
    comlib::WorkerThread m_loaderThread{QStringLiteral("TestLoadImgWork")};
};
