#include "ModelTestingWid.h"
#include "ui_ModelTestingWid.h"

#include "ComparisonReport.h"
#include "ErrorImgModel.h"
#include "SingleTestWid.h"
#include "TestContainerWid.h"

#include "ImgMarks/LoadImgWork.h"
#include "ImgMarks/MarksImgModel.h"

#include "ComUi/CMsgWnd.h"
#include "ComUi/PathWid.h"
#include "Nexil/ImageFiles.h"
#include "Nexil/NexilApi.h"
#include "Nexil/NexilConst.h"
#include "Nexil/ROI/AnnotationText.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

ModelTestingWid::ModelTestingWid(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::ModelTestingWidClass>()), m_testModel(new MarksImgModel(this)),
      m_lossModel(new MarksImgModel(this)), m_overkillModel(new MarksImgModel(this)),
      m_errorModel(new ErrorImgModel(this))
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("ModelTestingWid"));
    m_container = ui->widTestContainer;
    m_pathBar = ui->widPath;
    m_testModel->includeUnmarked = true;
    ui->tabWidget->setCurrentIndex(0);
    // These two trees describe one panel only, which a user comparing three cannot guess.
    ui->tabWidget->setTabToolTip(ui->tabWidget->indexOf(ui->tabLostExa),
                                 tr("最先创建的测试面板所报漏检的图片，按图片的标注类别分组，直到清空"));
    ui->tabWidget->setTabToolTip(ui->tabWidget->indexOf(ui->tabOverKill),
                                 tr("最先创建的测试面板所报过杀的图片，按图片的标注类别分组，直到清空"));
    const QList<QPair<QTreeView*, MarksImgModel*>> trees{{ui->treeViewTest, m_testModel},
                                                         {ui->treeViewLossRate, m_lossModel},
                                                         {ui->treeViewOverKill, m_overkillModel}};
    for (const auto& tree : trees)
    {
        tree.first->setModel(tree.second);
        tree.first->expandAll();
        // Groups fill while the loader scans, and each shows its images as it comes.
        connect(tree.second, &QAbstractItemModel::rowsInserted, tree.first,
                [view = tree.first](const QModelIndex& parent)
                {
                    if (!parent.isValid())
                        view->expandAll();
                });
    }

    auto* work = m_loaderThread.Adopt(new LoadImgWork);
    connect(this, &ModelTestingWid::Signal_LoadImgPath, work, &LoadImgWork::Slot_LoadImgPath);
    connect(this, &ModelTestingWid::Signal_LoadImg, work, &LoadImgWork::Slot_LoadImg);
    connect(work, &LoadImgWork::Signal_ImgList, this, &ModelTestingWid::Slot_ImgList);
    m_loaderThread.Start();

    connect(ui->btnImportDir, &QPushButton::clicked, this, &ModelTestingWid::Slot_BtnImportDirClicked);
    connect(ui->btnImportImg, &QPushButton::clicked, this, &ModelTestingWid::Slot_BtnImportImgClicked);
    connect(ui->btnImportMark, &QPushButton::clicked, this, &ModelTestingWid::Slot_btnImportMarkClicked);
    connect(ui->btnClearup, &QPushButton::clicked, this, &ModelTestingWid::Slot_BtnClearupClicked);
    connect(ui->btnPreImg, &QPushButton::clicked, this, &ModelTestingWid::Slot_BtnPreImgClicked);
    connect(ui->btnNextImg, &QPushButton::clicked, this, &ModelTestingWid::Slot_BtnNextImgClicked);
    connect(m_container, &TestContainerWid::Signal_TestRlt, this, &ModelTestingWid::Slot_TestRlt);
    connect(m_container, &TestContainerWid::Signal_TestingChanged, this,
            [this](bool testing) { m_testing = testing; });
    connect(ui->treeViewTest, &QTreeView::clicked, this, &ModelTestingWid::Slot_treeViewTestItemClicked);
    connect(ui->treeViewLossRate, &QTreeView::clicked, this,
            &ModelTestingWid::Slot_treeViewLossRateItemClicked);
    connect(ui->treeViewOverKill, &QTreeView::clicked, this,
            &ModelTestingWid::Slot_treeViewOverKillItemClicked);

    ui->treeViewErrors->setModel(m_errorModel);
    connect(m_container, &TestContainerWid::Signal_ResultsChanged, this, &ModelTestingWid::ShowPanels);
    connect(ui->cbErrorPanel, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ModelTestingWid::ShowErrors);
    connect(ui->treeViewErrors, &QTreeView::clicked, this, &ModelTestingWid::ShowErrorItem);
    connect(ui->btnCompare, &QPushButton::clicked, this, &ModelTestingWid::ExportComparison);
    connect(m_container, &TestContainerWid::Signal_TestValidationSet, this,
            &ModelTestingWid::TestValidationSet);
    ShowPanels();
}

ModelTestingWid::~ModelTestingWid() = default;

void ModelTestingWid::ReloadModels()
{
    m_container->ReloadModels();
}

QString ModelTestingWid::StartFolder()
{
    const auto spPrj = PrjIns().lock();
    const QFileInfo last(spPrj ? spPrj->GetLastFilePath() : QString());
    if (!last.filePath().isEmpty() && last.isDir())
        return last.absoluteFilePath();
    if (!last.filePath().isEmpty() && last.isFile())
        return last.absolutePath();
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

void ModelTestingWid::Slot_BtnImportDirClicked()
{
    m_testModel->clearTree();
    ForgetResults();
    const QString dir =
        QFileDialog::getExistingDirectory(this, tr("选择图片目录"), StartFolder(),
                                          QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (dir.isEmpty())
        return;
    emit Signal_LoadImgPath(dir);
    if (const auto spPrj = PrjIns().lock())
    {
        spPrj->SetTestPath(dir);
        spPrj->SetTestLabeled(0);
    }
}

void ModelTestingWid::Slot_BtnImportImgClicked()
{
    const auto spPrj = PrjIns().lock();
    if (!spPrj)
        return;
    m_testModel->clearTree();
    ForgetResults();
    const QString file =
        QFileDialog::getOpenFileName(this, tr("选择图片文件"), StartFolder(), ImageFiles::DialogFilter());
    if (file.isEmpty())
        return;
    emit Signal_LoadImg(file);
    // The service tests a folder, the one the image lies in.
    spPrj->SetTestPath(QFileInfo(file).absolutePath());
    spPrj->SetTestLabeled(0);
}

void ModelTestingWid::Slot_btnImportMarkClicked()
{
    const auto spPrj = PrjIns().lock();
    if (!spPrj)
        return;
    m_testModel->clearTree();
    ForgetResults();
    m_testModel->addImages(spPrj->Images().values());
    spPrj->SetTestPath(spPrj->PrjPath() + QLatin1String(nexil::kDatasDir));
    spPrj->SetTestLabeled(1);
    m_projectImages = true;
    CountTestImages(spPrj->Images().values());
}

void ModelTestingWid::TestValidationSet(const QString& panelId)
{
    SingleTestWid* panel = m_container->Panel(panelId);
    const auto spPrj = PrjIns().lock();
    if (!panel || !spPrj || panel->IsRunning())
        return;
    if (m_testing)
    {
        CMsgWnd::Information(this, tr("提示"), tr("测试中无法更换测试图片。"), NOTIFY_ABOUT);
        return;
    }
    const QString versionDir = panel->ChosenVersionDir();
    if (versionDir.isEmpty())
    {
        CMsgWnd::Information(this, tr("提示"), tr("请选中模型！"), NOTIFY_ABOUT);
        return;
    }
    QStringList recorded;
    if (!SingleTestWid::ReadValidationPaths(versionDir, recorded))
    {
        CMsgWnd::Information(this, tr("提示"), tr("该版本没有记录验证集图片，请用新训练的版本。"),
                             NOTIFY_ABOUT);
        return;
    }
    // The record is a file like any other: only plain paths of the project's own images are taken.
    const QString datas = spPrj->PrjPath() + QLatin1String(nexil::kDatasDir);
    QList<std::shared_ptr<pro::ImageInfo>> images;
    QStringList listed;
    for (const QString& relative : recorded)
    {
        const QString clean = QDir::cleanPath(relative);
        if (clean != relative || QDir::isAbsolutePath(clean) || clean.startsWith(QLatin1String("..")))
            continue;
        if (auto spImg = spPrj->ImageByPath(datas + QLatin1Char('/') + clean))
        {
            images.append(spImg);
            listed.append(clean);
        }
    }
    if (images.isEmpty())
    {
        CMsgWnd::Information(this, tr("提示"), tr("该版本的验证集图片已不在项目中。"), NOTIFY_ABOUT);
        return;
    }
    // Another panel asking for the set already under test compares on it: the results stay.
    if (m_validationOf == panel->ChosenVersion() && m_testImages == images.size())
    {
        panel->StartTest();
        return;
    }
    m_testModel->clearTree();
    ForgetResults();
    m_testModel->addImages(images);
    spPrj->SetTestPath(datas);
    spPrj->SetTestLabeled(1);
    m_validationOf = panel->ChosenVersion();
    m_container->SetTestImages(listed, tr("%1 验证集").arg(m_validationOf));
    CountTestImages(images);
    panel->StartTest();
}

void ModelTestingWid::Slot_ImgList(QList<std::shared_ptr<pro::ImageInfo>> vtImgPtr)
{
    m_testModel->addImages(vtImgPtr);
    CountTestImages(vtImgPtr);
}

void ModelTestingWid::Slot_BtnClearupClicked()
{
    if (m_testing)
    {
        CMsgWnd::Information(this, tr("提示"), tr("测试中无法清空测试图片。"), NOTIFY_ABOUT);
        return;
    }
    m_testModel->clearTree();
    ForgetResults();
    m_container->ShowImage(std::weak_ptr<pro::ImageInfo>());
    if (const auto spPrj = PrjIns().lock())
    {
        spPrj->SetTestPath(QString());
        spPrj->SetTestLabeled(0);
        m_lossModel->clearTree();
        m_overkillModel->clearTree();
    }
}

void ModelTestingWid::ShowItem(MarksImgModel* model, const QModelIndex& index)
{
    const auto spImg = model->imageAt(index).lock();
    if (!spImg)
        return;
    m_container->ShowImage(spImg);
    m_pathBar->SetPath(spImg->path);
}

void ModelTestingWid::Slot_treeViewTestItemClicked(QModelIndex index)
{
    ShowItem(m_testModel, index);
}

void ModelTestingWid::Slot_treeViewOverKillItemClicked(QModelIndex index)
{
    ShowItem(m_overkillModel, index);
}

void ModelTestingWid::Slot_treeViewLossRateItemClicked(QModelIndex index)
{
    ShowItem(m_lossModel, index);
}

void ModelTestingWid::Slot_BtnNextImgClicked()
{
    StepImage(true);
}

void ModelTestingWid::Slot_BtnPreImgClicked()
{
    StepImage(false);
}

void ModelTestingWid::StepImage(bool forward)
{
    QTreeView* view = ui->treeViewTest;
    MarksImgModel* model = m_testModel;
    if (ui->tabWidget->currentIndex() == 1)
    {
        view = ui->treeViewLossRate;
        model = m_lossModel;
    }
    else if (ui->tabWidget->currentIndex() == 2)
    {
        view = ui->treeViewOverKill;
        model = m_overkillModel;
    }
    else if (ui->tabWidget->widget(ui->tabWidget->currentIndex()) == ui->tabErrors)
    {
        view = ui->treeViewErrors;
        model = nullptr;
    }
    const QList<QModelIndex> images = model ? model->imageIndexes() : m_errorModel->ImageIndexes();
    if (images.isEmpty())
        return;
    const int at = images.indexOf(view->currentIndex());
    int next = 0;
    if (at < 0)
        next = forward ? 0 : images.size() - 1;
    else
        next = forward ? (at + 1) % images.size() : (at + images.size() - 1) % images.size();
    const QModelIndex target = images.at(next);
    view->setCurrentIndex(target);
    if (model)
        ShowItem(model, target);
    else
        ShowErrorItem(target);
    view->scrollTo(target);
}

void ModelTestingWid::AddProjectImages(MarksImgModel* model, const QStringList& paths)
{
    const auto spPrj = PrjIns().lock();
    QList<std::shared_ptr<pro::ImageInfo>> found;
    for (const QString& path : paths)
    {
        // The service may report any file; only the project's own images are listed.
        if (auto spImg = spPrj->ImageByPath(path))
            found.append(spImg);
    }
    model->addImages(found);
}

void ModelTestingWid::Slot_TestRlt(QStringList lossRateFile, QStringList overKillRile)
{
    if (!PrjIns().lock())
        return;
    AddProjectImages(m_lossModel, lossRateFile);
    AddProjectImages(m_overkillModel, overKillRile);
    ui->treeViewLossRate->expandAll();
    ui->treeViewOverKill->expandAll();
}

void ModelTestingWid::ForgetResults()
{
    m_container->ClearResults();
    m_errorModel->Clear();
    m_testImages = 0;
    m_truthImages = 0;
    m_projectImages = false;
    m_validationOf.clear();
    m_container->SetTestImages({}, {});
    ShowTestImageCount();
}

void ModelTestingWid::CountTestImages(const QList<std::shared_ptr<pro::ImageInfo>>& images)
{
    const int before = m_truthImages;
    m_testImages += images.size();
    for (const auto& spImg : images)
    {
        if (m_projectImages || !m_validationOf.isEmpty() ||
            QFileInfo(ImageFiles::AnnotationPath(spImg->path)).isFile())
            ++m_truthImages;
    }
    // A folder whose images carry their annotation files is tested against them.
    const auto spPrj = PrjIns().lock();
    if (!m_projectImages && m_validationOf.isEmpty() && before == 0 && m_truthImages > 0 && spPrj &&
        !spPrj->TestPath().isEmpty())
        spPrj->SetTestLabeled(1);
    ShowTestImageCount();
}

void ModelTestingWid::ShowTestImageCount()
{
    if (m_testImages == 0)
        ui->lbTestTruth->clear();
    else if (!m_validationOf.isEmpty())
        ui->lbTestTruth->setText(tr("%1 张 %2 的验证集图片（训练未用过），按项目标注测试。")
                                     .arg(m_testImages)
                                     .arg(m_validationOf));
    else if (m_projectImages)
        ui->lbTestTruth->setText(
            tr("%1 张项目标注图片。注意：训练用过这些图片，漏检率和过杀率会偏低。").arg(m_testImages));
    else if (m_truthImages > 0)
        ui->lbTestTruth->setText(tr("%1 张图片，其中 %2 张带标注（图片旁的标注文件），按带标注测试。")
                                     .arg(m_testImages)
                                     .arg(m_truthImages));
    else
        ui->lbTestTruth->setText(tr("%1 张图片，无标注。").arg(m_testImages));
}

void ModelTestingWid::ShowPanels()
{
    const QString chosen = ui->cbErrorPanel->currentData().toString();
    {
        const QSignalBlocker blocker(ui->cbErrorPanel);
        ui->cbErrorPanel->clear();
        const QList<SingleTestWid*> panels = m_container->PanelsInRow();
        for (int i = 0; i < panels.size(); ++i)
        {
            const QString version = panels.at(i)->VersionName();
            const QString text =
                version.isEmpty() ? tr("面板 %1").arg(i + 1) : tr("面板 %1：%2").arg(i + 1).arg(version);
            ui->cbErrorPanel->addItem(text, panels.at(i)->Id());
        }
        ui->cbErrorPanel->setCurrentIndex(qMax(0, ui->cbErrorPanel->findData(chosen)));
    }
    ShowErrors();
}

void ModelTestingWid::ShowErrors()
{
    SingleTestWid* panel = m_container->Panel(ui->cbErrorPanel->currentData().toString());
    if (!panel || !panel->Rates())
    {
        m_errorModel->Clear();
        ui->lbErrorSet->setText(tr("所选面板还没有带标注的测试结果。"));
        return;
    }
    m_errorModel->SetErrors(panel->Rates(), panel->Thresholds());
    const auto& set = panel->TestSet();
    ui->lbErrorSet->setText(
        tr("测试集：%1，%2 张带标注，指纹 %3").arg(set.name).arg(set.images).arg(set.fingerprint.left(8)));
    ui->treeViewErrors->expandAll();
}

void ModelTestingWid::ShowErrorItem(const QModelIndex& index)
{
    const QString path = m_errorModel->PathAt(index);
    const auto spPrj = PrjIns().lock();
    if (path.isEmpty() || !spPrj)
        return;
    std::shared_ptr<pro::ImageInfo> spImg = spPrj->ImageByPath(path);
    if (!spImg)
    {
        // An image of a held-out folder: its truth lies in the annotation file beside it.
        spImg = std::make_shared<pro::ImageInfo>();
        spImg->path = path;
        spImg->fileName = QFileInfo(path).fileName();
        QFile file(ImageFiles::AnnotationPath(path));
        if (file.size() <= LoadImgWork::kMaxAnnotationBytes && file.open(QIODevice::ReadOnly))
            AnnotationText::parseAnnotationFileText(QString::fromUtf8(file.readAll()), spImg->rois);
    }
    m_errorImage = spImg;
    m_container->ShowImage(spImg, true);
    m_pathBar->SetPath(path);
}

void ModelTestingWid::ExportComparison()
{
    QList<SingleTestWid*> tested;
    for (SingleTestWid* panel : m_container->PanelsInRow())
    {
        if (panel->Summary())
            tested.append(panel);
    }
    if (tested.size() < 2)
    {
        CMsgWnd::Information(this, tr("提示"), tr("请先在至少两个面板中用同一组带标注的图片完成测试。"),
                             NOTIFY_ABOUT);
        return;
    }
    const auto version = [](const SingleTestWid* panel) {
        return ComparisonReport::Version{panel->VersionName(), panel->Summary()->classes,
                                         panel->Thresholds()};
    };
    ComparisonReport report;
    report.testSet = tested.first()->TestSet();
    QStringList lines;
    for (SingleTestWid* later : tested.mid(1))
    {
        ComparisonReport::Pair pair{version(tested.first()), version(later), {}};
        QString error;
        if (later->TestSet().fingerprint != report.testSet.fingerprint ||
            !VersionComparison::Compare(*tested.first()->Summary(), pair.before.thresholds, *later->Summary(),
                                        pair.after.thresholds, pair.changes, error))
        {
            CMsgWnd::Information(this, tr("提示"), tr("各面板不是在同一组带标注的图片上测试的，无法对比。"),
                                 NOTIFY_ABOUT);
            return;
        }
        int fixed = 0;
        int broken = 0;
        for (const auto& change : pair.changes)
        {
            fixed += change.fixed.size();
            broken += change.broken.size();
        }
        lines.append(tr("%1 → %2：修复 %3，破坏 %4，净变化 %5")
                         .arg(pair.before.name, pair.after.name)
                         .arg(fixed)
                         .arg(broken)
                         .arg(fixed - broken));
        report.pairs.append(pair);
    }
    const QString path = QFileDialog::getSaveFileName(this, tr("保存对比报告"),
                                                      StartFolder() + QStringLiteral("/compare.html"),
                                                      tr("网页 (*.html);;表格 (*.csv)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!report.Write(path, error))
    {
        qCritical().noquote() << "Comparison report not written:" << error;
        CMsgWnd::Information(this, tr("错误"), tr("报告保存失败：%1").arg(error), NOTIFY_ERROR);
        return;
    }
    CMsgWnd::Information(this, tr("提示"), lines.join(QLatin1Char('\n')), NOTIFY_COMPLETE);
}
