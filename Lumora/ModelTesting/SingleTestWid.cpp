#include "SingleTestWid.h"
#include "Nexil/ROI/AnnotationText.h"
#include "ui_SingleTestWid.h"

#include "TestRltModel.h"

#include "ImgMarks/LoadImgWork.h"

#include "ComLib/AtomicFile.h"
#include "ComLib/ComFunc.h"
#include "ComLib/Service/ServiceClient.h"
#include "ComLib/Service/ServiceReply.h"
#include "ComLib/Service/ServiceRun.h"
#include "ComUi/CMsgWnd.h"
#include "ComUi/ComboListModel.h"
#include "Nexil/NexilApi.h"
#include "Nexil/NexilConst.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QListView>

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

QStringList Rates(const QString& label, const QVector<double>& values)
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

    connect(m_run, &comlib::ServiceRun::Signal_Sent, this, &SingleTestWid::LogRequest);
    connect(m_run, &comlib::ServiceRun::Signal_Polled, this,
            [this](qint64 seconds) { ui->lbUseTime->setText(comlib::ServicePoll::HmsText(seconds)); });
    connect(m_run, &comlib::ServiceRun::Signal_Reply, this, &SingleTestWid::ShowReply);
    connect(m_run, &comlib::ServiceRun::Signal_NetworkError, this, &SingleTestWid::ShowError);
    connect(ui->btnDelTest, &QPushButton::clicked, this, &SingleTestWid::Slot_BtnDelTestClicked);
    connect(ui->btnRunTest, &QPushButton::clicked, this, &SingleTestWid::Slot_BtnRunTestClicked);
    connect(ui->btnShowRlt, &QPushButton::clicked, this, &SingleTestWid::Slot_BtnShowRltClicked);
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
    const QJsonObject config = request.ToJson();
    const QString path = versionDir + QLatin1Char('/') + QLatin1String(comlib::protocol::kTestConfigFile);
    QString error;
    if (!comlib::WriteFileAtomically(path, QJsonDocument(config).toJson(QJsonDocument::Indented), error))
    {
        qCritical().noquote() << "test.json not written:" << error;
        return false;
    }
    m_versionName = versionName;
    m_modelConfigPath = modelPath + QLatin1String("/Config.json");
    configPath = path;
    return true;
}

void SingleTestWid::Slot_BtnRunTestClicked()
{
    if (m_run->IsRunning())
        StopTest();
    else
        StartTest();
}

void SingleTestWid::StartTest()
{
    QString configPath;
    if (!MakeTestReqJson(configPath))
        return;
    ui->lbStatuVal->clear();
    ui->lbUseTime->clear();
    ui->widLog->ClearLines();

    const QJsonObject body{{QLatin1String(comlib::protocol::kConfigPath), configPath}};
    m_run->Start(body);
    ui->widLog->AppendLine(QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Indented)));

    ui->btnRunTest->setText(tr("停止测试"));
    ui->cbModel->setEnabled(false);
    ui->btnDelTest->setEnabled(false);
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
    model->AppendRow(Rates(tr("漏检率"), reply.lossRate.value_or(QVector<double>())));
    model->AppendRow(Rates(tr("过杀率"), reply.overkillRate.value_or(QVector<double>())));
    QAbstractItemModel* old = ui->tblViewRlt->model();
    ui->tblViewRlt->setModel(model);
    delete old;

    emit Signal_TestRlt(reply.lossImagePaths.value_or(QStringList()),
                        reply.overkillImagePaths.value_or(QStringList()));
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

void SingleTestWid::ShowTestImage(std::weak_ptr<pro::ImageInfo> wpImg)
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
    if (AnnotationText::parseAnnotationFileText(QString::fromUtf8(file.readAll()), spRlt->rois))
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
