#include "ModelTrainingWid.h"
#include "ui_ModelTrainingWid.h"

#include "DatasetCheckWid.h"
#include "GetGPUWork.h"
#include "ServiceStateLabel.h"
#include "TrainConfig.h"

#include "ComLib/ComFunc.h"
#include "ComLib/Service/ServiceClient.h"
#include "ComLib/Service/ServiceReply.h"
#include "ComLib/Service/ServiceRun.h"
#include "ComUi/CMsgWnd.h"
#include "Nexil/NexilApi.h"
#include "Nexil/NexilConst.h"

#include <QCheckBox>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QtCharts/QChart>
#include <QtCharts/QLegend>
#include <QtCharts/QSplineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>

using namespace QtCharts;

namespace
{

// Losses at or below this are the trainer's "nothing yet".
constexpr float kLossFloor = 0.001f;

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// Whole-numbered ticks from 0, at most about ten of them, since the labels show whole epochs.
void SetEpochRange(QValueAxis* axis, int epochs)
{
    int step = 1;
    for (int nice : {1, 2, 5, 10, 20, 25, 50, 100})
    {
        step = nice;
        if (epochs / nice <= 10)
            break;
    }
    axis->setRange(0, epochs);
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(step);
}

} // namespace

ModelTrainingWid::ModelTrainingWid(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::ModelTrainingWidClass>()),
      m_run(new comlib::ServiceRun({QString::fromLatin1(nexil::kStartTrainTask),
                                    QString::fromLatin1(nexil::kGetTrainStatus),
                                    QString::fromLatin1(nexil::kCancelTrainTask)},
                                   this))
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("ModelTrainingWid"));
    m_run->setObjectName(QStringLiteral("serviceRun"));
    m_devGrid = ui->gridDev;
    ui->lbStatuVal->setTextFormat(Qt::RichText);
    CreateChart();

    // The device query waits on the OpenCL driver, so it never runs in the GUI thread.
    auto* work = m_thread.Adopt(new GetGPUWork);
    connect(&m_thread.Thread(), &QThread::started, work, &GetGPUWork::Slot_GetGPUInfo);
    connect(work, &GetGPUWork::Signal_GPUInfo, this, &ModelTrainingWid::Slot_SetGPUInfo,
            Qt::QueuedConnection);
    m_thread.Start();

    ui->sliderEpochs->setValue(50);
    ui->sliderPrecision->setValue(2);
    Slot_SliderEpochsValueChanged(ui->sliderEpochs->value());
    Slot_SliderPrecisionValueChanged(ui->sliderPrecision->value());
    SetEpochRange(m_epochAxis, ui->sliderEpochs->value());

    connect(ui->btnTraining, &QPushButton::clicked, this, &ModelTrainingWid::Slot_BtnTrainingClicked);
    connect(m_run, &comlib::ServiceRun::Signal_Sent, this, &ModelTrainingWid::LogRequest);
    connect(m_run, &comlib::ServiceRun::Signal_Polled, this,
            [this](qint64 seconds) { ui->lbUseTime->setText(comlib::ServicePoll::HmsText(seconds)); });
    connect(m_run, &comlib::ServiceRun::Signal_Reply, this, &ModelTrainingWid::ShowReply);
    connect(m_run, &comlib::ServiceRun::Signal_NetworkError, this, &ModelTrainingWid::ShowError);
    connect(ui->sliderEpochs, &QSlider::valueChanged, this, &ModelTrainingWid::Slot_SliderEpochsValueChanged);
    connect(ui->sliderPrecision, &QSlider::valueChanged, this,
            &ModelTrainingWid::Slot_SliderPrecisionValueChanged);
    connect(ui->lstVersions, &QListWidget::currentRowChanged, this, &ModelTrainingWid::ShowVersion);
    connect(ui->btnUseVersion, &QPushButton::clicked, this, &ModelTrainingWid::UseVersion);
    // The exchange with the service, as sent and received, is there for a technician.
    ui->widLog->hide();
    connect(ui->chkRawLog, &QCheckBox::toggled, ui->widLog, &QWidget::setVisible);
    ui->btnUseVersion->setEnabled(false);
    ui->btnUseVersion->setToolTip(tr("把所选版本的轮数和精度设为下次训练的设置"));
    RefreshVersions();
}

ModelTrainingWid::~ModelTrainingWid()
{
    // Replies aborted while the children go must not reach the half-destroyed page.
    m_run->disconnect(this);
}

void ModelTrainingWid::ShowServiceState(comlib::ServiceStarter* service)
{
    auto* label = new ServiceStateLabel(service, ui->widStatus);
    // In line with the status rows below it.
    const QMargins rows = ui->gridStatus->contentsMargins();
    label->setContentsMargins(rows.left(), 0, rows.right(), 0);
    ui->verticalLayoutStatus->insertWidget(1, label);
}

void ModelTrainingWid::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Coming back from the annotation page: what is about to be trained may have changed.
    if (!event->spontaneous())
    {
        ui->widDataCheck->Refresh();
        if (!m_run->IsRunning())
            RefreshVersions();
    }
}

int ModelTrainingWid::TrainableImages() const
{
    const auto spPrj = PrjIns().lock();
    if (!spPrj)
        return 0;
    int count = 0;
    for (const auto& spImg : spPrj->Images())
    {
        if (spImg && spImg->marked)
            ++count;
    }
    return count;
}

void ModelTrainingWid::RefreshVersions(const QString& select)
{
    const auto spPrj = PrjIns().lock();
    const QString chosen = select.isEmpty() && ui->lstVersions->currentRow() >= 0
                               ? m_versions.value(ui->lstVersions->currentRow()).name
                               : select;
    m_versions = VersionHistory::Scan(spPrj ? spPrj->PrjPath() : QString());
    const QSignalBlocker blocker(ui->lstVersions);
    ui->lstVersions->clear();
    int row = m_versions.isEmpty() ? -1 : 0;
    for (int i = 0; i < m_versions.size(); ++i)
    {
        ui->lstVersions->addItem(VersionHistory::Title(m_versions.at(i)));
        ui->lstVersions->item(i)->setToolTip(VersionHistory::Details(m_versions.at(i)));
        if (m_versions.at(i).name == chosen)
            row = i;
    }
    ui->lstVersions->setCurrentRow(row);
    ShowVersion(row);
    const QString tip = VersionHistory::FinenessTip(m_versions, TrainableImages());
    ui->sliderPrecision->setToolTip(tip);
    ui->lbPrecision->setToolTip(tip);
    // Reopened, the page goes on from where the last training left off.
    if (!m_versionsRead && row >= 0)
        UseVersion();
    m_versionsRead = true;
}

void ModelTrainingWid::ShowVersion(int row)
{
    const bool valid = row >= 0 && row < m_versions.size();
    ui->btnUseVersion->setEnabled(valid && !m_run->IsRunning());
    ui->lbVersionInfo->setText(valid ? VersionHistory::Details(m_versions.at(row)) : QString());
    ui->lbVersionInfo->setVisible(valid);
    // The curve of a run in progress stays in sight.
    if (!valid || m_run->IsRunning())
        return;
    const VersionHistory::Version& version = m_versions.at(row);
    ShowCurve(version.record.history, VersionHistory::EpochsOf(version));
}

void ModelTrainingWid::UseVersion()
{
    const int row = ui->lstVersions->currentRow();
    if (row < 0 || row >= m_versions.size() || m_run->IsRunning())
        return;
    const VersionHistory::Version& version = m_versions.at(row);
    if (VersionHistory::EpochsOf(version) > 0)
        ui->sliderEpochs->setValue(VersionHistory::EpochsOf(version));
    if (version.record.fineness > 0)
        ui->sliderPrecision->setValue(version.record.fineness);
}

void ModelTrainingWid::ShowCurve(const QVector<comlib::protocol::ModelRecord::EpochLoss>& history, int epochs)
{
    m_totalSeries->clear();
    m_valSeries->clear();
    m_lastEpoch = -1.0f;
    SetEpochRange(m_epochAxis, std::max(1, epochs));
    double highest = 0;
    for (const auto& row : history)
    {
        if (row.totalLoss > kLossFloor)
            m_totalSeries->append(row.epoch, row.totalLoss);
        if (row.valLoss > kLossFloor)
            m_valSeries->append(row.epoch, row.valLoss);
        highest = std::max({highest, row.totalLoss, row.valLoss});
    }
    if (highest > 0)
        m_lossAxis->setRange(0, highest / 3 + highest);
}

void ModelTrainingWid::AppendEvent(const QString& line)
{
    if (!line.isEmpty())
        ui->edtEvents->appendPlainText(line);
}

void ModelTrainingWid::CreateChart()
{
    m_chart = new QChart;
    m_chart->setTitle(tr("损失曲线图"));
    m_chart->setBackgroundVisible(true);
    m_chart->legend()->setAlignment(Qt::AlignTop);
    m_totalSeries = new QSplineSeries(m_chart);
    m_totalSeries->setName(tr("训练损失"));
    m_valSeries = new QSplineSeries(m_chart);
    m_valSeries->setName(tr("验证损失"));
    m_valSeries->setColor(Qt::red);
    for (QSplineSeries* series : {m_totalSeries, m_valSeries})
    {
        series->setPointLabelsFormat(QStringLiteral("(@xPoint,@yPoint)"));
        series->setPointLabelsVisible(false);
        m_chart->addSeries(series);
    }
    m_epochAxis = new QValueAxis(m_chart);
    m_epochAxis->setTitleText(tr("轮数"));
    m_epochAxis->setLabelFormat(QStringLiteral("%d"));
    m_lossAxis = new QValueAxis(m_chart);
    m_lossAxis->setLabelFormat(QStringLiteral("%.3f"));
    m_chart->addAxis(m_epochAxis, Qt::AlignBottom);
    m_chart->addAxis(m_lossAxis, Qt::AlignLeft);
    for (QSplineSeries* series : {m_totalSeries, m_valSeries})
    {
        series->attachAxis(m_epochAxis);
        series->attachAxis(m_lossAxis);
    }
    ui->lostView->setChart(m_chart);
    ui->lostView->setRenderHint(QPainter::Antialiasing);
}

void ModelTrainingWid::Slot_SetGPUInfo(QStringList names)
{
    // Without an OpenCL device the training runs on the processor.
    if (names.isEmpty())
        names << GetGPUWork::CpuDescription();
    for (int i = 0; i < names.size(); ++i)
    {
        auto* line = new QLineEdit(names.at(i), this);
        line->setReadOnly(true);
        line->setFrame(false);
        line->setStyleSheet(QStringLiteral("border:none;background:transparent;font-size:18px;"));
        line->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        // A long name shows its beginning.
        line->setCursorPosition(0);
        m_devGrid->addWidget(line, i, 1);
    }
}

void ModelTrainingWid::Slot_SliderEpochsValueChanged(int value)
{
    ui->lbEpochs->setText(tr("轮数(%1):").arg(value));
}

void ModelTrainingWid::Slot_SliderPrecisionValueChanged(int value)
{
    ui->lbPrecision->setText(tr("精度(%1):").arg(value));
}

bool ModelTrainingWid::MakeTrainingReqJson(QString& configPath)
{
    const auto spCore = NexilIns().lock();
    const auto spPrj = PrjIns().lock();
    const auto spPrjInfo = spPrj ? spPrj->PrjInfo() : nullptr;
    if (!spCore || !spPrj || !spPrjInfo)
    {
        qCritical().noquote() << U("系统异常，spCore，spPrj，spPrjInfo其中一项为空。");
        return false;
    }

    const TrainConfig::Result rlt =
        TrainConfig::Write(*spPrj, *spPrjInfo, ui->sliderEpochs->value(), ui->sliderPrecision->value());
    switch (rlt.status)
    {
    case TrainConfig::Status::Ok:
        configPath = rlt.configPath;
        return true;
    case TrainConfig::Status::NoMarkedImage:
        CMsgWnd::Information(this, tr("提示"), tr("无标注图片。"), NOTIFY_ABOUT);
        break;
    case TrainConfig::Status::NoClass:
        CMsgWnd::Information(this, tr("提示"), tr("无标注类别。"), NOTIFY_ABOUT);
        break;
    case TrainConfig::Status::NoTrainableRoi:
        CMsgWnd::Information(this, tr("错误"), tr("没有任何类别的ROI，无法训练。"), NOTIFY_ERROR);
        break;
    case TrainConfig::Status::ImageUnreadable:
        CMsgWnd::Information(this, tr("错误"), tr("图像异常，未取得%1图像宽高").arg(rlt.detail),
                             NOTIFY_ERROR);
        break;
    case TrainConfig::Status::UnsupportedType:
    {
        const QString text = tr("暂不支持%1类型训练.").arg(spCore->TypeName(spPrjInfo->type));
        qCritical().noquote() << text;
        CMsgWnd::Information(this, tr("错误"), text, NOTIFY_ERROR);
        break;
    }
    case TrainConfig::Status::WriteFailed:
        CMsgWnd::Information(this, tr("错误"), tr("训练配置%1写入失败.").arg(rlt.detail), NOTIFY_ERROR);
        break;
    }
    return false;
}

void ModelTrainingWid::Slot_BtnTrainingClicked()
{
    if (m_run->IsRunning())
        StopTraining();
    else
        StartTraining();
}

void ModelTrainingWid::StartTraining()
{
    QString configPath;
    if (!MakeTrainingReqJson(configPath))
        return;

    // Nothing of an earlier run is shown beside the new one.
    for (QLabel* label :
         {ui->lbEpochVal, ui->lbIterationVal, ui->lbStatuVal, ui->lbLoseVal, ui->lbUseTime, ui->lbElapseTime})
        label->clear();
    m_totalSeries->clear();
    m_valSeries->clear();
    SetEpochRange(m_epochAxis, ui->sliderEpochs->value());
    ui->widLog->ClearLines();
    ui->edtEvents->clear();
    m_lastEpoch = -1.0f;
    m_runVersion = QFileInfo(configPath).dir().dirName();
    AppendEvent(m_events.Started(m_runVersion, ui->sliderEpochs->value(), ui->sliderPrecision->value()));

    const QJsonObject body{{QLatin1String(comlib::protocol::kConfigPath), configPath}};
    m_run->Start(body);
    ui->widLog->AppendLine(QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Indented)));

    ui->btnTraining->setText(tr("停止训练"));
    ui->sliderEpochs->setEnabled(false);
    ui->sliderPrecision->setEnabled(false);
    ui->btnUseVersion->setEnabled(false);
}

void ModelTrainingWid::StopTraining()
{
    m_run->Stop();
    // The cancel reply is not waited for, so the page says itself that the run is over.
    ui->lbStatuVal->setText(tr("<font color='#196E8B'>训练取消</font>"));
    AppendEvent(m_events.Stopped());
    ResetTrainingState();
}

void ModelTrainingWid::ResetTrainingState()
{
    ui->btnTraining->setText(tr("开始训练"));
    ui->sliderEpochs->setEnabled(true);
    ui->sliderPrecision->setEnabled(true);
    m_run->Finish();
    ui->btnUseVersion->setEnabled(ui->lstVersions->currentRow() >= 0);
}

void ModelTrainingWid::LogRequest(const QString& path, const QString& taskId)
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

void ModelTrainingWid::Slot_TimeToGetStatus()
{
    m_run->Poll();
}

void ModelTrainingWid::Slot_Finished(QNetworkReply* reply)
{
    m_run->HandleReply(reply);
}

void ModelTrainingWid::ShowReply(const comlib::ServiceReply& rlt)
{
    const QString body = QString::fromUtf8(rlt.body);
    qDebug().noquote() << U("推送训练返回:") << body;
    AppendEvent(m_events.Reply(rlt));
    if (rlt.status)
        ShowStatus(rlt);
    ui->widLog->AppendLine(tr("收到响应：") + body);
    // The finished version joins the list, with the curve the service saved.
    if (rlt.status && *rlt.status == QLatin1String(comlib::protocol::kStatusDone))
        RefreshVersions(m_runVersion);
}

void ModelTrainingWid::ShowError(const QString& text)
{
    qCritical().noquote() << U("通讯异常:") << "http error: " << text;
    ui->widLog->AppendLine(tr("通讯异常：") + text);
    AppendEvent(m_events.NetworkError(text));
    ResetTrainingState();
    CMsgWnd::Information(this, tr("错误"), tr("通讯异常：") + text + tr("，请联系技术员。"), NOTIFY_ERROR);
}

void ModelTrainingWid::ShowStatus(const comlib::ServiceReply& reply)
{
    const QString& status = *reply.status;
    if (status == QLatin1String(comlib::protocol::kStatusQueued))
        ui->lbStatuVal->setText(tr("<font color='#196E8B'>排队中</font>"));
    else if (status == QLatin1String("running"))
        ui->lbStatuVal->setText(tr("<font color='#196E8B'>训练中</font>"));
    else if (status == QLatin1String("cancelled"))
        ui->lbStatuVal->setText(tr("<font color='#196E8B'>训练取消</font>"));
    else if (status == QLatin1String("failed"))
        ui->lbStatuVal->setText(tr("<font color='red'>训练失败</font>"));
    else if (status == QLatin1String("export"))
        ui->lbStatuVal->setText(tr("<font color='#196E8B'>模型导出中</font>"));
    else if (status == QLatin1String("done"))
        ui->lbStatuVal->setText(tr("<font color='#196E8B'>完成</font>"));
    else
        ui->lbStatuVal->setText(status.toHtmlEscaped());
    if (status == QLatin1String("failed") || status == QLatin1String("done"))
        ResetTrainingState();

    if (reply.batch)
        ui->lbIterationVal->setText(
            QStringLiteral("%1/%2").arg(reply.batch->batch).arg(reply.batch->allBatch));
    if (reply.loss)
    {
        const auto& loss = *reply.loss;
        ui->lbEpochVal->setText(QStringLiteral("%1/%2").arg(loss.epoch, 0, 'f', 2).arg(loss.allEpoch));
        ui->lbLoseVal->setText(QString::number(loss.totalLoss, 'f', 2));
        qInfo() << "epoch:" << loss.epoch;
        if (loss.allEpoch > 0)
            UpdateChart(float(loss.epoch), float(loss.totalLoss), float(loss.valLoss));
    }
    if (reply.remainTime)
        ui->lbElapseTime->setText(comlib::ServicePoll::HmsText(qint64(*reply.remainTime)));
}

void ModelTrainingWid::UpdateChart(float epoch, float totalLoss, float valLoss)
{
    // The loss axis only grows, so an earlier curve's scale stays for comparison.
    if (totalLoss > m_lossAxis->max())
        m_lossAxis->setRange(0, totalLoss / 3 + totalLoss);
    if (epoch - 0.05f <= m_lastEpoch)
        return;
    if (totalLoss <= kLossFloor && valLoss <= kLossFloor)
        return;
    if (totalLoss > kLossFloor)
        m_totalSeries->append(epoch, totalLoss);
    if (valLoss > kLossFloor)
        m_valSeries->append(epoch, valLoss);
    m_lastEpoch = epoch;
}
