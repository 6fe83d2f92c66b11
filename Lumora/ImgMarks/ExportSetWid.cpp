#include "ExportSetWid.h"
#include "ui_ExportSetWid.h"

#include "ExportWork.h"

#include "LumoraExport/DatasetExporter.h"

#include "ComUi/CMsgWnd.h"
#include "ComUi/FramelessWindow.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

#include <spdlog/spdlog.h>

namespace
{

const ExportFormat kFormats[] = {ExportFormat::Coco, ExportFormat::Yolo, ExportFormat::Voc};

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

ExportSetWid::ExportSetWid(ExportSet set, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::ExportSetWidClass>()), m_set(std::move(set)),
      m_work(new ExportWork())
{
    qRegisterMetaType<ExportSet>("ExportSet");
    qRegisterMetaType<ExportOptions>("ExportOptions");
    qRegisterMetaType<ExportSummary>("ExportSummary");

    ui->setupUi(this);
    SetUpFramelessDialog(this, 60, WindowResize::Fixed, WindowBackground::Translucent);
    AddPanelShadow(ui->widShadow, QColor(QStringLiteral("#808080")), 15);

    ui->cmbFormat->addItem(tr("COCO（实例 JSON，每个划分一个文件）"), int(ExportFormat::Coco));
    ui->cmbFormat->addItem(tr("YOLO（每张图一个 txt 标签，data.yaml）"), int(ExportFormat::Yolo));
    ui->cmbFormat->addItem(tr("Pascal VOC（每张图一个 XML，只含外框）"), int(ExportFormat::Voc));
    int okImages = 0;
    for (const ExportImage& image : m_set.images)
        okImages += image.rois.isEmpty() ? 1 : 0;
    ui->lbInfo->setText(tr("工程“%1”：已标注图片 %2 张（其中 OK 图 %3 张），类别 %4 个。")
                            .arg(m_set.name)
                            .arg(m_set.images.size())
                            .arg(okImages)
                            .arg(m_set.categories.size()));
    ui->spinSeed->setToolTip(tr("同一比例和种子总得到同样的划分"));
    // Shown from the first start on; an idle 0 % bar reads like a stuck export.
    ui->progressBar->hide();
    ui->spinSeed->setEnabled(false);
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = QDir::homePath();
    ui->edtOutput->setText(
        Native(documents + "/" + m_set.name + "_" + ExportOptions::FormatName(kFormats[0])));

    m_thread.Adopt(m_work);
    connect(this, &ExportSetWid::Signal_Export, m_work, &ExportWork::Slot_Export);
    connect(m_work, &ExportWork::Signal_Progress, this, &ExportSetWid::Slot_Progress);
    connect(m_work, &ExportWork::Signal_ExportDone, this, &ExportSetWid::Slot_ExportDone);
    m_thread.Start();

    connect(ui->btnClose, &QPushButton::clicked, this, &ExportSetWid::reject);
    connect(ui->btnCancel, &QPushButton::clicked, this, &ExportSetWid::Slot_BtnCancelClicked);
    connect(ui->btnExport, &QPushButton::clicked, this, &ExportSetWid::Slot_BtnExportClicked);
    connect(ui->btnBrowse, &QPushButton::clicked, this, &ExportSetWid::Slot_BtnBrowseClicked);
    connect(ui->cmbFormat, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ExportSetWid::Slot_FormatChanged);
    // Without a split the seed has nothing to choose.
    connect(ui->spinVal, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            [this](double value) { ui->spinSeed->setEnabled(!m_running && value > 0); });
    // The field shows the end of a long path; the tip shows it whole.
    connect(ui->edtOutput, &QLineEdit::textChanged, this,
            [this](const QString& text) { ui->edtOutput->setToolTip(text); });
    ui->edtOutput->setToolTip(ui->edtOutput->text());
}

ExportSetWid::~ExportSetWid()
{
    m_work->Cancel();
}

QString ExportSetWid::ProposedOutput(ExportFormat format) const
{
    const QString current = QDir::fromNativeSeparators(ui->edtOutput->text().trimmed());
    const QString folder = current.isEmpty() ? QDir::homePath() : QFileInfo(current).absolutePath();
    return Native(folder + "/" + m_set.name + "_" + ExportOptions::FormatName(format));
}

void ExportSetWid::Slot_FormatChanged(int index)
{
    // A name the dialog proposed follows the format; one the user typed stays.
    const QString name = QFileInfo(QDir::fromNativeSeparators(ui->edtOutput->text().trimmed())).fileName();
    for (ExportFormat format : kFormats)
    {
        if (name == m_set.name + "_" + ExportOptions::FormatName(format))
        {
            ui->edtOutput->setText(ProposedOutput(ExportFormat(ui->cmbFormat->itemData(index).toInt())));
            return;
        }
    }
}

void ExportSetWid::Slot_BtnBrowseClicked()
{
    const QString start =
        QFileInfo(QDir::fromNativeSeparators(ui->edtOutput->text().trimmed())).absolutePath();
    const QString folder = QFileDialog::getExistingDirectory(this, tr("选择导出到哪个文件夹下"), start,
                                                             QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    ui->edtOutput->setText(
        Native(folder + "/" + m_set.name + "_" + ExportOptions::FormatName(Options().format)));
}

ExportOptions ExportSetWid::Options() const
{
    ExportOptions options;
    options.format = ExportFormat(ui->cmbFormat->currentData().toInt());
    options.outputDir = QDir::fromNativeSeparators(ui->edtOutput->text().trimmed());
    options.valFraction = ui->spinVal->value();
    options.seed = quint32(ui->spinSeed->value());
    options.transfer = ui->rdoLink->isChecked() ? ImageTransfer::Link : ImageTransfer::Copy;
    return options;
}

void ExportSetWid::Slot_BtnExportClicked()
{
    if (m_running)
        return;
    ExportOptions options = Options();
    if (options.outputDir.isEmpty())
    {
        CMsgWnd::Information(this, tr("提示"), tr("请填写输出目录。"), NOTIFY_WARNING);
        return;
    }
    // The same rule as the export's own: only a folder an earlier export made is offered for replacing.
    options.replaceOutput = true;
    const ExportSummary check = DatasetExporter::CheckOutput(m_set, options);
    if (check.status != ExportStatus::Ok)
    {
        CMsgWnd::Information(this, tr("错误"), FailureText(check), NOTIFY_ERROR);
        return;
    }
    options.replaceOutput = false;
    const auto entries = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    if (QFileInfo(check.outputDir).isDir() && !QDir(check.outputDir).isEmpty(entries))
    {
        if (CMsgWnd::Question(this, tr("提示"),
                              tr("输出目录中是之前导出的数据集：\n%1\n替换它吗？其中原有的文件将被删除。")
                                  .arg(Native(check.outputDir)),
                              NOTIFY_QUERY) != QDialog::Accepted)
            return;
        options.replaceOutput = true;
    }
    if (const auto logger = spdlog::get("Operater"))
        logger->log(
            spdlog::source_loc{"ImgMarks/ExportSetWid.cpp", __LINE__, "ExportSetWid::Slot_BtnExportClicked"},
            spdlog::level::info, "导出数据集({0})到{1}",
            ExportOptions::FormatName(options.format).toStdString(), options.outputDir.toStdString());
    SetRunning(true);
    ui->progressBar->setRange(0, qMax(1, int(m_set.images.size())));
    ui->progressBar->setValue(0);
    ui->progressBar->show();
    ui->lbStatus->setText(tr("正在导出..."));
    emit Signal_Export(m_set, options);
}

void ExportSetWid::Slot_BtnCancelClicked()
{
    reject();
}

void ExportSetWid::reject()
{
    if (!m_running)
    {
        QDialog::reject();
        return;
    }
    m_work->Cancel();
    m_closeWhenDone = true;
    ui->lbStatus->setText(tr("正在取消，清理已写的文件..."));
}

void ExportSetWid::Slot_Progress(int done, int total)
{
    ui->progressBar->setRange(0, qMax(1, total));
    ui->progressBar->setValue(done);
    ui->lbStatus->setText(tr("正在导出：%1 / %2").arg(done).arg(total));
}

void ExportSetWid::Slot_ExportDone(ExportSummary summary)
{
    SetRunning(false);
    // An export that ended before the cancel took effect is kept, and told like any other.
    if (m_closeWhenDone && summary.status != ExportStatus::Ok)
    {
        QDialog::reject();
        return;
    }
    if (summary.status == ExportStatus::Ok)
    {
        ui->progressBar->setValue(ui->progressBar->maximum());
        ui->lbStatus->setText(tr("导出完成。"));
        CMsgWnd::Information(this, tr("提示"), DoneText(summary), NOTIFY_COMPLETE);
        accept();
        return;
    }
    ui->progressBar->setValue(0);
    ui->lbStatus->setText(FailureText(summary));
    CMsgWnd::Information(this, tr("错误"), FailureText(summary), NOTIFY_ERROR);
}

void ExportSetWid::SetRunning(bool running)
{
    m_running = running;
    for (QWidget* w : {static_cast<QWidget*>(ui->cmbFormat), static_cast<QWidget*>(ui->edtOutput),
                       static_cast<QWidget*>(ui->btnBrowse), static_cast<QWidget*>(ui->spinVal),
                       static_cast<QWidget*>(ui->widTransfer), static_cast<QWidget*>(ui->btnExport)})
        w->setEnabled(!running);
    ui->spinSeed->setEnabled(!running && ui->spinVal->value() > 0);
}

QString ExportSetWid::DoneText(const ExportSummary& summary)
{
    // Short lines: the message window elides a line wider than itself.
    QString text = tr("导出完成：%1 张图片，%2 个目标，%3 个类别。")
                       .arg(summary.trainImages + summary.valImages)
                       .arg(summary.objects)
                       .arg(summary.categories);
    text += tr("\n训练集 %1 张，验证集 %2 张，其中 OK 图 %3 张。")
                .arg(summary.trainImages)
                .arg(summary.valImages)
                .arg(summary.okImages);
    if (summary.skippedImages > 0)
        text += tr("\n跳过 %1 张缺失或无法读取的图片。").arg(summary.skippedImages);
    if (summary.droppedShapes > 0)
        text += tr("\n舍弃 %1 个没有类别或完全在图像外的标注。").arg(summary.droppedShapes);
    if (summary.copiedInsteadOfLinked > 0)
        text += tr("\n%1 张图片无法硬链接（不在同一磁盘），已改为复制。").arg(summary.copiedInsteadOfLinked);
    return text + tr("\n输出目录：%1").arg(Native(summary.outputDir));
}

QString ExportSetWid::FailureText(const ExportSummary& summary)
{
    const QString path = Native(summary.detail);
    switch (summary.status)
    {
    case ExportStatus::Ok:
        return QString();
    case ExportStatus::Cancelled:
        return tr("已取消导出，没有留下文件。");
    case ExportStatus::NoImages:
        return tr("没有可导出的图片：%1 张已标注图片都缺失或无法读取。").arg(summary.skippedImages);
    case ExportStatus::OutputNotEmpty:
        return tr("输出目录不为空：%1").arg(path);
    case ExportStatus::OutputNotWritable:
        return tr("无法写入：%1\n请换一个有写权限的位置。").arg(path);
    case ExportStatus::OutputHoldsImages:
        return tr("输出目录中有本工程的图片，不能替换：%1").arg(path);
    case ExportStatus::OutputIsLink:
        return tr("输出目录是一个符号链接，不能使用：%1").arg(path);
    case ExportStatus::OutputInProject:
        return tr("输出目录在工程或工作空间之内，不能使用：%1\n工程或工作空间：%2")
            .arg(Native(summary.outputDir), path);
    case ExportStatus::OutputHoldsProject:
        return tr("输出目录包含工程或工作空间，不能替换：%1\n工程或工作空间：%2")
            .arg(Native(summary.outputDir), path);
    case ExportStatus::OutputNotExport:
        return tr("输出目录不为空，且不是导出的数据集，不能替换：%1").arg(path);
    case ExportStatus::WriteFailed:
        return tr("导出失败，写入出错：%1\n已写的内容都已清除。").arg(path);
    }
    return QString();
}
