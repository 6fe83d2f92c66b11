#include "SingleTestWid.h"
#include "Nexil/ROI/AnnotationText.h"
#include "ui_SingleTestWid.h"

#include "OnnxExportRun.h"
#include "OperatingPointWid.h"
#include "TestRltModel.h"
#include "ThresholdRates.h"

#include "ImgMarks/LoadImgWork.h"
#include "ModelTraining/VersionHistory.h"

#include "ComLib/AtomicFile.h"
#include "ComLib/ComFunc.h"
#include "ComLib/Service/ServiceClient.h"
#include "ComLib/Service/ServiceReply.h"
#include "ComLib/Service/ServiceRun.h"
#include "ComUi/CMsgWnd.h"
#include "ComUi/CategoryPalette.h"
#include "ComUi/ComboListModel.h"
#include "ComUi/SecBtn.h"
#include "Nexil/NexilApi.h"
#include "Nexil/NexilConst.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QListView>
#include <QStandardPaths>

namespace
{

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// A version name is one folder name; anything that could lead out of the test folder is none.
bool PlainFolderName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

// A summary of 10,000 images is about a megabyte; anything far beyond is no summary of ours.
constexpr qint64 kMaxSummaryBytes = 256 * 1024 * 1024;

QStringList RateRow(const QString& label, const QVector<double>& values)
{
    QStringList row{label};
    for (const double value : values)
        row.append(QString::number(value, 'f', 2));
    return row;
}

} // namespace

SingleTestWid::SingleTestWid(const QString& id, ComboListModel* models, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::SingleTestWidClass>()), m_id(id), m_models(models),
      m_run(new comlib::ServiceRun({QString::fromLatin1(nexil::kTestModel),
                                    QString::fromLatin1(nexil::kGetTestStatus),
                                    QString::fromLatin1(nexil::kTestModel)},
                                   this))
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("SingleTestWid"));
    m_run->setObjectName(QStringLiteral("serviceRun"));
    ui->cbModel->setView(new QListView(ui->cbModel));
    ui->cbModel->setModel(m_models);
    ui->widImgView->setRoiHitTesting(0);
    ui->widLog->Collapse();
    ui->tblViewRlt->setModel(new TestRltModel(ui->tblViewRlt));
    // A few classes fill the panel's width instead of leaving an empty band beside them.
    ui->tblViewRlt->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_points = new OperatingPointWid(ui->widTestRlt);
    ui->layoutTestRlt->insertWidget(ui->layoutTestRlt->indexOf(ui->tblViewRlt) + 1, m_points);
    // In the result header, which has room beside its title, so the image keeps its height.
    m_savedThresholds = new QLabel(ui->widRunInfo);
    m_savedThresholds->setObjectName(QStringLiteral("lbSavedThresholds"));
    m_savedThresholds->setStyleSheet(QStringLiteral("font-size: 13px; color: #145369;"));
    m_savedThresholds->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_savedThresholds->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ui->layoutRunInfo->insertWidget(ui->layoutRunInfo->indexOf(ui->lbTitle) + 1, m_savedThresholds, 1);
    // Both rates stay in sight when the operating points take their room.
    ui->tblViewRlt->setMinimumHeight(ui->tblViewRlt->horizontalHeader()->sizeHint().height() +
                                     2 * ui->tblViewRlt->verticalHeader()->defaultSectionSize() + 4);

    // Beside the test's own buttons, in the validation button's smaller type so that three panels
    // fit the screen: the chosen version for the line.
    m_btnExportOnnx = new SecBtn(tr("导出ONNX"), this);
    m_btnExportOnnx->setObjectName(QStringLiteral("btnExportOnnx"));
    m_btnExportOnnx->setStyleSheet(ui->btnTestValSet->styleSheet());
    // Its text whole, also the wider "导出中…" while it runs.
    m_btnExportOnnx->ensurePolished();
    m_btnExportOnnx->setMinimumSize(m_btnExportOnnx->sizeHint().width() + 8, 42);
    m_btnExportOnnx->setToolTip(tr("把选中的模型连同各类别阈值导出为ONNX文件"));
    ui->layoutModel->addWidget(m_btnExportOnnx, 1, 2);
    m_exportOnnx = new OnnxExportRun(this);
    connect(m_btnExportOnnx, &QPushButton::clicked, this, &SingleTestWid::ExportOnnx);
    connect(m_exportOnnx, &OnnxExportRun::Signal_Finished, this, &SingleTestWid::ShowExported);

    connect(m_run, &comlib::ServiceRun::Signal_Sent, this, &SingleTestWid::LogRequest);
    connect(m_run, &comlib::ServiceRun::Signal_Polled, this,
            [this](qint64 seconds) { ui->lbUseTime->setText(comlib::ServicePoll::HmsText(seconds)); });
    connect(m_run, &comlib::ServiceRun::Signal_Reply, this, &SingleTestWid::ShowReply);
    connect(m_run, &comlib::ServiceRun::Signal_NetworkError, this, &SingleTestWid::ShowError);
    connect(ui->btnDelTest, &QPushButton::clicked, this, &SingleTestWid::Slot_BtnDelTestClicked);
    connect(ui->btnRunTest, &QPushButton::clicked, this, &SingleTestWid::Slot_BtnRunTestClicked);
    connect(ui->btnShowRlt, &QPushButton::clicked, this, &SingleTestWid::Slot_BtnShowRltClicked);
    connect(ui->btnTestValSet, &QPushButton::clicked, this, &SingleTestWid::Signal_TestValidationSet);
    connect(m_points, &OperatingPointWid::Signal_ThresholdsChanged, this,
            &SingleTestWid::Signal_ResultChanged);
    connect(m_points, &OperatingPointWid::Signal_SaveThresholds, this, &SingleTestWid::SaveThresholds);
    connect(ui->cbModel, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &SingleTestWid::ShowSavedThresholds);
    ShowSavedThresholds();
}

SingleTestWid::~SingleTestWid()
{
    // The run goes with the panel's children, after the members its replies would reach.
    m_run->disconnect(this);
}

void SingleTestWid::Discard()
{
    m_run->Finish();
    m_run->disconnect(this);
}

bool SingleTestWid::IsRunning() const
{
    return m_run->IsRunning();
}

QString SingleTestWid::ChosenVersion() const
{
    return ui->cbModel->currentText();
}

void SingleTestWid::ChooseVersion(const QString& name)
{
    const int at = ui->cbModel->findText(name, Qt::MatchExactly);
    if (at >= 0)
        ui->cbModel->setCurrentIndex(at);
}

void SingleTestWid::Slot_BtnDelTestClicked()
{
    emit Signal_DelTest(m_id);
}

void SingleTestWid::Slot_BtnShowRltClicked()
{
    ui->widTestRlt->setVisible(!ui->btnShowRlt->isChecked());
}

bool SingleTestWid::MakeTestReqJson(QString& configPath)
{
    const auto spPrj = PrjIns().lock();
    if (!spPrj)
        return false;
    const bool labeled = spPrj->TestLabeled() != 0;
    const QString testPath = spPrj->TestPath();
    if (testPath.isEmpty())
    {
        CMsgWnd::Information(this, tr("提示"), tr("请导入测试图片！"), NOTIFY_ABOUT);
        return false;
    }
    const QString versionDir = ui->cbModel->currentData(Qt::UserRole).toString();
    const QString versionName = ui->cbModel->currentText();
    if (versionDir.isEmpty())
    {
        CMsgWnd::Information(this, tr("提示"), tr("请选中模型！"), NOTIFY_ABOUT);
        return false;
    }

    // The folder is deleted below, so it must lie inside the project's test folder whatever the name.
    const QString resultDir =
        spPrj->PrjPath() + QLatin1String(nexil::kTestDir) + QLatin1Char('/') + versionName;
    if (!PlainFolderName(versionName))
    {
        qCritical().noquote() << "Test result folder outside the test folder refused:" << resultDir;
        return false;
    }
    try
    {
        if (comlib::PathExists(resultDir.toStdString()))
            comlib::RemovePath(resultDir.toStdString());
    }
    catch (const std::exception& e)
    {
        // Predictions of an earlier run would be taken for this run's.
        qCritical().noquote() << "Test result folder not removed:" << resultDir << e.what();
        CMsgWnd::Information(this, tr("错误"), tr("测试结果目录%1删除失败。").arg(resultDir), NOTIFY_ERROR);
        return false;
    }

    const QString modelPath = versionDir + QLatin1String(nexil::kModelDir);
    comlib::protocol::TestRequest request;
    request.labeled = labeled;
    request.predictPath = testPath;
    request.savePredictPath = resultDir;
    request.modelPath = modelPath;
    if (!m_testImages.isEmpty())
        request.images = m_testImages;
    const QJsonObject config = request.ToJson();
    const QString path = versionDir + QLatin1Char('/') + QLatin1String(comlib::protocol::kTestConfigFile);
    QString error;
    if (!comlib::WriteFileAtomically(path, QJsonDocument(config).toJson(QJsonDocument::Indented), error))
    {
        qCritical().noquote() << "test.json not written:" << error;
        return false;
    }
    m_versionName = versionName;
    m_versionDir = versionDir;
    m_resultDir = resultDir;
    m_testPath = testPath;
    m_runSetName = m_setName;
    m_modelConfigPath = modelPath + QLatin1String("/Config.json");
    configPath = path;
    return true;
}

void SingleTestWid::ExportOnnx()
{
    const QString versionDir = ui->cbModel->currentData(Qt::UserRole).toString();
    const QString versionName = ui->cbModel->currentText();
    if (versionDir.isEmpty())
    {
        CMsgWnd::Information(this, tr("提示"), tr("请选中模型！"), NOTIFY_ABOUT);
        return;
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder = QFileInfo(documents).isDir() ? documents : QDir::homePath();
    QString target = QFileDialog::getSaveFileName(
        this, tr("导出ONNX模型"), folder + QLatin1Char('/') + versionName + ".onnx", tr("ONNX模型 (*.onnx)"));
    if (target.isEmpty())
        return;
    if (!target.endsWith(QLatin1String(".onnx"), Qt::CaseInsensitive))
        target += QLatin1String(".onnx");
    if (!m_exportOnnx->Start(versionDir + QLatin1String(nexil::kModelDir), target))
    {
        CMsgWnd::Information(this, tr("错误"), tr("找不到导出程序%1。").arg(OnnxExportRun::DefaultProgram()),
                             NOTIFY_ERROR);
        return;
    }
    m_btnExportOnnx->setEnabled(false);
    m_btnExportOnnx->setText(tr("导出中…"));
}

void SingleTestWid::ShowExported(bool ok, const QString& message)
{
    m_btnExportOnnx->setEnabled(true);
    m_btnExportOnnx->setText(tr("导出ONNX"));
    if (ok)
        CMsgWnd::Information(this, tr("提示"), tr("模型已导出到%1。").arg(QDir::toNativeSeparators(message)),
                             NOTIFY_COMPLETE);
    else
        CMsgWnd::Information(this, tr("错误"), tr("模型导出失败：\n%1").arg(message), NOTIFY_ERROR);
}

void SingleTestWid::Slot_BtnRunTestClicked()
{
    if (m_run->IsRunning())
        StopTest();
    else
        StartTest();
}

void SingleTestWid::SetTestImages(const QStringList& relativePaths, const QString& setName)
{
    m_testImages = relativePaths;
    m_setName = relativePaths.isEmpty() ? QString() : setName;
}

QString SingleTestWid::ChosenVersionDir() const
{
    return ui->cbModel->currentData(Qt::UserRole).toString();
}

void SingleTestWid::StartTest()
{
    if (m_run->IsRunning())
        return;
    QString configPath;
    if (!MakeTestReqJson(configPath))
        return;
    ui->lbStatuVal->clear();
    ui->lbUseTime->clear();
    ui->widLog->ClearLines();
    // The summary of an earlier run would be taken for this one's while it runs.
    m_summary.reset();
    m_rates.reset();
    m_testSet = {};
    m_points->Clear();
    emit Signal_ResultChanged();

    const QJsonObject body{{QLatin1String(comlib::protocol::kConfigPath), configPath}};
    m_run->Start(body);
    ui->widLog->AppendLine(QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Indented)));

    ui->btnRunTest->setText(tr("停止测试"));
    ui->cbModel->setEnabled(false);
    ui->btnDelTest->setEnabled(false);
    ui->btnTestValSet->setEnabled(false);
    emit Signal_RunningChanged(true);
}

void SingleTestWid::StopTest()
{
    m_run->Stop();
    ui->lbStatuVal->setText(tr("<span style=\"color:Black;\">测试取消</span>"));
    ResetTestState();
}

void SingleTestWid::ResetTestState()
{
    ui->btnRunTest->setText(tr("开始测试"));
    m_run->Finish();
    ui->cbModel->setEnabled(true);
    ui->btnDelTest->setEnabled(true);
    ui->btnTestValSet->setEnabled(true);
    emit Signal_RunningChanged(false);
}

void SingleTestWid::LogRequest(const QString& path, const QString& taskId)
{
    // The status request has always been logged with a full-width colon.
    const QString format =
        path == m_run->RequestPaths().status ? tr("发送请求： %1:%2%3") : tr("发送请求: %1:%2%3");
    const comlib::ServiceClient* client = m_run->Client();
    const QString line =
        format.arg(client->Address()).arg(client->Port()).arg(path + QLatin1Char('/') + taskId);
    qDebug().noquote() << line;
    ui->widLog->AppendLine(line);
}

void SingleTestWid::Slot_TimeToGetStatus()
{
    m_run->Poll();
}

void SingleTestWid::Slot_Finished(QNetworkReply* reply)
{
    m_run->HandleReply(reply);
}

void SingleTestWid::ShowReply(const comlib::ServiceReply& rlt)
{
    const QString body = QString::fromUtf8(rlt.body);
    qInfo().noquote() << U("推送测试返回:") << body;
    if (rlt.status)
        ShowStatus(rlt);
    ui->widLog->AppendLine(tr("收到响应：") + body);
}

void SingleTestWid::ShowError(const QString& text)
{
    qCritical().noquote() << U("通讯异常:") << "http error: " << text;
    ui->widLog->AppendLine(tr("通讯异常：") + text);
    ResetTestState();
    CMsgWnd::Information(this, tr("错误"), tr("通讯异常：") + text + tr("，请联系技术员。"), NOTIFY_ERROR);
}

void SingleTestWid::ShowStatus(const comlib::ServiceReply& reply)
{
    const QString& status = *reply.status;
    if (status == QLatin1String("running"))
        ui->lbStatuVal->setText(tr("<span style=\"color:Blue;\">测试中</span>"));
    else if (status == QLatin1String("cancelled"))
        ui->lbStatuVal->setText(tr("<span style=\"color:Black;\">测试取消</span>"));
    else if (status == QLatin1String("failed"))
        ui->lbStatuVal->setText(tr("测试失败"));
    else if (status == QLatin1String("done"))
        ui->lbStatuVal->setText(tr("完成"));
    else
        ui->lbStatuVal->setText(status.toHtmlEscaped());

    if (status == QLatin1String("failed"))
    {
        ResetTestState();
    }
    else if (status == QLatin1String("done"))
    {
        ResetTestState();
        ParserTestResult(reply);
    }
}

void SingleTestWid::ParserTestResult(const comlib::ServiceReply& reply)
{
    QFile file(m_modelConfigPath);
    if (!file.open(QIODevice::ReadOnly))
    {
        qCritical().noquote() << "ParserTestResult Model Config json open failed." << m_modelConfigPath;
        return;
    }
    const QJsonDocument config = QJsonDocument::fromJson(file.readAll());
    if (!config.isObject())
    {
        qCritical().noquote() << "ParserTestResult Model Config json is no object." << m_modelConfigPath;
        return;
    }
    const QStringList header =
        QStringList{tr("测试项目")} + comlib::protocol::ModelClassesFromJson(config.object());

    auto* model = new TestRltModel(ui->tblViewRlt);
    model->SetHeaderList(header);
    model->AppendRow(RateRow(tr("漏检率"), reply.lossRate.value_or(QVector<double>())));
    model->AppendRow(RateRow(tr("过杀率"), reply.overkillRate.value_or(QVector<double>())));
    QAbstractItemModel* old = ui->tblViewRlt->model();
    ui->tblViewRlt->setModel(model);
    delete old;

    emit Signal_TestRlt(reply.lossImagePaths.value_or(QStringList()),
                        reply.overkillImagePaths.value_or(QStringList()));
    LoadSummary();
}

void SingleTestWid::LoadSummary()
{
    const QString path = m_resultDir + QLatin1Char('/') + QLatin1String(comlib::protocol::kTestSummaryFile);
    QFile file(path);
    // A service without summaries leaves the table as the only result.
    if (!QFileInfo(path).isFile() || QFileInfo(path).isSymLink() || !file.open(QIODevice::ReadOnly))
        return;
    if (file.size() > kMaxSummaryBytes)
    {
        qWarning().noquote() << "Test summary too large, left unread:" << path;
        return;
    }
    auto summary = std::make_shared<comlib::protocol::TestSummary>();
    QString error;
    if (!comlib::protocol::TestSummary::FromJson(QJsonDocument::fromJson(file.readAll()).object(), *summary,
                                                 error))
    {
        qWarning().noquote() << "Test summary unreadable:" << path << error;
        return;
    }
    auto rates = std::make_shared<const ThresholdRates>(*summary);
    if (rates->ImageCount() == 0)
        return;
    m_summary = summary;
    m_rates = rates;
    m_testSet.name =
        m_runSetName.isEmpty() ? QFileInfo(QDir::cleanPath(m_testPath)).fileName() : m_runSetName;
    m_testSet.images = rates->ImageCount();
    m_testSet.fingerprint = summary->Fingerprint();

    comlib::protocol::ClassThresholds saved;
    QVector<double> thresholds;
    const bool hasSaved = ReadThresholds(m_versionDir, saved);
    for (const QString& cls : summary->classes)
        thresholds.append(hasSaved ? saved.ThresholdOf(cls, 0) : 0);
    m_points->SetRates(m_rates, thresholds,
                       // Count and fingerprint first: a long set name is what the width cuts.
                       tr("%1 张带标注，指纹 %2，测试集：%3")
                           .arg(m_testSet.images)
                           .arg(m_testSet.fingerprint.left(8))
                           .arg(m_testSet.name));
    emit Signal_ResultChanged();
}

QVector<double> SingleTestWid::Thresholds() const
{
    return m_points->Thresholds();
}

void SingleTestWid::ClearResult()
{
    auto* model = new TestRltModel(ui->tblViewRlt);
    QAbstractItemModel* old = ui->tblViewRlt->model();
    ui->tblViewRlt->setModel(model);
    delete old;
    ui->lbStatuVal->clear();
    ui->lbUseTime->clear();
    m_summary.reset();
    m_rates.reset();
    m_testSet = {};
    m_points->Clear();
    emit Signal_ResultChanged();
}

bool SingleTestWid::ReadThresholds(const QString& versionDir, comlib::protocol::ClassThresholds& thresholds)
{
    const QString path = versionDir + QLatin1Char('/') + QLatin1String(comlib::protocol::kModelDir) +
                         QLatin1Char('/') + QLatin1String(comlib::protocol::kThresholdsFile);
    QFile file(path);
    if (versionDir.isEmpty() || !QFileInfo(path).isFile() || file.size() > LoadImgWork::kMaxAnnotationBytes ||
        !file.open(QIODevice::ReadOnly))
        return false;
    QString error;
    if (!comlib::protocol::ClassThresholds::FromJson(QJsonDocument::fromJson(file.readAll()).object(),
                                                     thresholds, error))
    {
        qWarning().noquote() << "Thresholds unreadable:" << path << error;
        return false;
    }
    return true;
}

bool SingleTestWid::ReadValidationPaths(const QString& versionDir, QStringList& paths)
{
    comlib::protocol::ModelRecord record;
    if (!VersionHistory::ReadRecord(versionDir, record))
        return false;
    paths = record.valPaths;
    return !paths.isEmpty();
}

void SingleTestWid::SaveThresholds()
{
    const auto spPrj = PrjIns().lock();
    if (!m_summary || !spPrj)
        return;
    // The version folder came from the project's listing; it must still be a real folder there, and its
    // model folder no link, or the file would land elsewhere.
    const QString trainDir = QFileInfo(spPrj->PrjPath() + QStringLiteral("/train")).canonicalFilePath();
    const QFileInfo version(m_versionDir);
    const QFileInfo model(m_versionDir + QLatin1Char('/') + QLatin1String(comlib::protocol::kModelDir));
    if (trainDir.isEmpty() || version.isSymLink() || model.isSymLink() || !model.isDir() ||
        QFileInfo(version.canonicalFilePath()).path() != trainDir)
    {
        qCritical().noquote() << "Thresholds not saved, the version folder is not the project's:"
                              << m_versionDir;
        CMsgWnd::Information(this, tr("错误"), tr("阈值保存失败：模型目录无效。"), NOTIFY_ERROR);
        return;
    }
    comlib::protocol::ClassThresholds thresholds;
    thresholds.classes = m_summary->classes;
    thresholds.thresholds = m_points->Thresholds();
    thresholds.testSet = m_testSet;
    const QString path =
        model.filePath() + QLatin1Char('/') + QLatin1String(comlib::protocol::kThresholdsFile);
    QString error;
    if (!comlib::WriteFileAtomically(path, QJsonDocument(thresholds.ToJson()).toJson(QJsonDocument::Indented),
                                     error))
    {
        qCritical().noquote() << "Thresholds not saved:" << error;
        CMsgWnd::Information(this, tr("错误"), tr("阈值保存失败：%1").arg(error), NOTIFY_ERROR);
        return;
    }
    qInfo().noquote() << "Thresholds saved:" << path;
    ShowSavedThresholds();
}

void SingleTestWid::ShowSavedThresholds()
{
    comlib::protocol::ClassThresholds saved;
    if (!ReadThresholds(ui->cbModel->currentData(Qt::UserRole).toString(), saved))
    {
        m_savedThresholds->setText(tr("阈值：服务默认"));
        m_savedThresholds->setToolTip(QString());
        return;
    }
    QStringList parts;
    for (int i = 0; i < saved.classes.size(); ++i)
        parts.append(QStringLiteral("%1 %2").arg(saved.classes.at(i)).arg(saved.thresholds.at(i), 0, 'f', 2));
    m_savedThresholds->setText(tr("阈值：%1").arg(parts.join(QStringLiteral("，"))));
    m_savedThresholds->setToolTip(m_savedThresholds->text() + QLatin1Char('\n') +
                                  tr("在测试集 %1（%2 张，指纹 %3）上选定")
                                      .arg(saved.testSet.name)
                                      .arg(saved.testSet.images)
                                      .arg(saved.testSet.fingerprint));
}

QString SingleTestWid::PredictionPath(const QString& resultDir, const QString& prjPath,
                                      const QString& testPath, const pro::ImageInfo& img)
{
    QString path = img.path;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString root = testPath;
    if (img.marked)
    {
        // The project's own folder first: a workspace below a folder named like "/datas…" would
        // otherwise cut the path in the wrong place.
        const QString dirName = QLatin1String(nexil::kDatasDir);
        root = prjPath + dirName;
        if (!path.startsWith(root + QLatin1Char('/')))
        {
            const int at = path.indexOf(dirName);
            if (at < 0)
                return QString();
            root = path.left(at + dirName.size());
        }
    }
    return comlib::protocol::PredictionPath(root, resultDir, path);
}

ROIList SingleTestWid::ScoredShapes(const QByteArray& predictionText, QVector<double>& scores)
{
    ROIList shapes;
    scores.clear();
    // One shape at a time, so that a shape the reader passes over cannot shift the scores.
    const QJsonObject document = QJsonDocument::fromJson(predictionText).object();
    for (const QJsonValue& value : document.value(QStringLiteral("shapes")).toArray())
    {
        const QJsonObject shape = value.toObject();
        ROIList one;
        QJsonObject file = document;
        file.insert(QStringLiteral("shapes"), QJsonArray{shape});
        if (!AnnotationText::parseAnnotationFileText(
                QString::fromUtf8(QJsonDocument(file).toJson(QJsonDocument::Compact)), one) ||
            one.size() != 1)
            continue;
        const QJsonValue score = shape.value(QStringLiteral("score"));
        scores.append(score.isDouble() ? score.toDouble() : -1);
        shapes.append(one.first());
    }
    return shapes;
}

void SingleTestWid::ShowTestImage(std::weak_ptr<pro::ImageInfo> wpImg, bool withTruth)
{
    const auto spImg = wpImg.lock();
    const auto spPrj = PrjIns().lock();
    if (!spImg || !spPrj || m_versionName.isEmpty())
        return;
    const QString resultDir =
        spPrj->PrjPath() + QLatin1String(nexil::kTestDir) + QLatin1Char('/') + m_versionName;
    const QString predictPath = PredictionPath(resultDir, spPrj->PrjPath(), spPrj->TestPath(), *spImg);
    QFile file(predictPath);
    if (predictPath.isEmpty() || !QFileInfo(predictPath).isFile() || !file.open(QIODevice::ReadOnly) ||
        file.size() > LoadImgWork::kMaxAnnotationBytes)
        return;

    auto spRlt = std::make_shared<pro::ImageInfo>();
    spRlt->path = spImg->path;
    spRlt->fileName = spImg->fileName;
    const QByteArray text = file.readAll();
    if (withTruth)
    {
        ShowWithTruth(*spImg, text, *spRlt);
        m_shownResult = spRlt;
        ui->widImgView->dataUpdated(m_shownResult);
        ui->widImgView->zoomFit();
        return;
    }
    if (AnnotationText::parseAnnotationFileText(QString::fromUtf8(text), spRlt->rois))
    {
        spRlt->markAsOK = spRlt->rois.isEmpty();
        spRlt->marked = true;
    }
    m_shownResult = spRlt;
    // Predicted shapes in the colours their categories have on the annotation page.
    ui->widImgView->setCategories(spPrj->MarkTypes());
    ui->widImgView->dataUpdated(m_shownResult);
    ui->widImgView->zoomFit();
}

void SingleTestWid::ShowWithTruth(const pro::ImageInfo& img, const QByteArray& predictionText,
                                  pro::ImageInfo& shown)
{
    const auto spPrj = PrjIns().lock();
    const QStringList categories = spPrj ? spPrj->MarkTypes() : QStringList();
    // Copies: the truth shapes belong to the image's record, which the canvas must not recolour.
    for (const auto& roi : img.rois)
    {
        if (!roi)
            continue;
        std::shared_ptr<ROIItem> truth = roi->clone();
        truth->setSelected(false);
        truth->setDisplayColor(CategoryPalette::Of(categories, roi->title()).lighter(150));
        truth->setTitle(tr("标注 %1").arg(roi->title()));
        truth->setTitleShown(false);
        shown.rois.append(truth);
    }
    QVector<double> scores;
    const ROIList predicted = ScoredShapes(predictionText, scores);
    for (int i = 0; i < predicted.size(); ++i)
    {
        const auto& roi = predicted.at(i);
        roi->setDisplayColor(CategoryPalette::Of(categories, roi->title()));
        if (scores.at(i) >= 0)
            roi->setTitle(QStringLiteral("%1 %2").arg(roi->title()).arg(scores.at(i), 0, 'f', 2));
        roi->setTitleShown(false);
        shown.rois.append(roi);
    }
    shown.marked = true;
    ui->widImgView->useShapeColours();
}
