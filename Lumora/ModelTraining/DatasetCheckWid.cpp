#include "DatasetCheckWid.h"
#include "ui_DatasetCheckWid.h"

#include "DatasetCheckModel.h"
#include "DatasetCheckWork.h"

#include "Nexil/NexilApi.h"

#include <QHeaderView>

#include <algorithm>

namespace
{

// The table shows this many categories before it scrolls, so the warnings below stay in sight.
constexpr int kVisibleRows = 6;

// One warning a line, set apart, since most of them wrap in the narrow column.
QString Line(const QString& text, const QColor& color, bool bold = false)
{
    return QStringLiteral("<div style='color:%1;margin-bottom:6px;%2'>• %3</div>")
        .arg(color.name(), bold ? QStringLiteral("font-weight:bold;") : QString(), text.toHtmlEscaped());
}

QString Plain(const QString& text, const QColor& color)
{
    return QStringLiteral("<div style='color:%1;'>%2</div>").arg(color.name(), text.toHtmlEscaped());
}

QString Categories(const DatasetCheck::Finding& finding)
{
    return QStringLiteral("“") + finding.examples.join(QStringLiteral("”、“")) + QStringLiteral("”");
}

QString Examples(const DatasetCheck::Finding& finding)
{
    const QString names = finding.examples.join(QStringLiteral("、"));
    return finding.count > finding.examples.size() ? DatasetCheckWid::tr("如 %1 等").arg(names)
                                                   : DatasetCheckWid::tr("如 %1").arg(names);
}

} // namespace

DatasetCheckWid::DatasetCheckWid(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::DatasetCheckWidClass>()), m_model(new DatasetCheckModel(this)),
      m_latest(std::make_shared<std::atomic<quint64>>(0))
{
    qRegisterMetaType<DatasetCheck::Input>("DatasetCheck::Input");
    qRegisterMetaType<DatasetCheck::Result>("DatasetCheck::Result");
    ui->setupUi(this);
    setObjectName(QStringLiteral("DatasetCheckWid"));
    ui->tblCheckClasses->setModel(m_model);
    ui->tblCheckClasses->verticalHeader()->hide();
    ui->tblCheckClasses->horizontalHeader()->setSectionResizeMode(DatasetCheckModel::ColName,
                                                                  QHeaderView::Stretch);
    for (int column : {int(DatasetCheckModel::ColImages), int(DatasetCheckModel::ColRois)})
        ui->tblCheckClasses->horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    FitTable();
    // The warnings lie on the panel's white, not on a grey scroll area.
    ui->scrollCheckWarnings->viewport()->setAutoFillBackground(false);
    ui->widCheckWarnings->setAutoFillBackground(false);

    auto* work = m_thread.Adopt(new DatasetCheckWork(m_latest));
    connect(this, &DatasetCheckWid::Signal_Check, work, &DatasetCheckWork::Slot_Check);
    connect(work, &DatasetCheckWork::Signal_CheckRlt, this, &DatasetCheckWid::Slot_CheckRlt,
            Qt::QueuedConnection);
    m_thread.Start();
}

DatasetCheckWid::~DatasetCheckWid()
{
    // A check under way stops at its next look at the number.
    m_latest->store(0);
}

void DatasetCheckWid::Refresh()
{
    const quint64 seq = m_latest->load() + 1;
    m_latest->store(seq);
    const auto spPrj = PrjIns().lock();
    if (!spPrj)
    {
        m_model->SetClasses({});
        FitTable();
        ui->lbCheckSummary->setText(tr("未打开工程。"));
        ui->lbCheckWarnings->clear();
        emit Signal_Checked();
        return;
    }
    ui->lbCheckSummary->setText(tr("正在检查数据集…"));
    emit Signal_Check(seq, DatasetCheck::Snapshot(*spPrj));
}

void DatasetCheckWid::Slot_CheckRlt(quint64 seq, DatasetCheck::Result result)
{
    if (seq != m_latest->load())
        return;
    ShowResult(result);
    emit Signal_Checked();
}

void DatasetCheckWid::ShowResult(const DatasetCheck::Result& result)
{
    m_model->SetClasses(result.classes);
    FitTable();
    ui->lbCheckSummary->setText(tr("共%1张图片：缺陷图片%2张，OK图片%3张，未标注%4张。")
                                    .arg(result.images)
                                    .arg(result.defectImages)
                                    .arg(result.okImages)
                                    .arg(result.unmarked));
    QString html;
    if (result.trainableRois == 0)
        html += Line(tr("没有任何类别的ROI，无法训练。"), DatasetCheckModel::ErrorColor(), true);
    for (const DatasetCheck::Finding& finding : result.findings)
        html += Line(FindingText(finding), DatasetCheckModel::WarningColor());
    if (html.isEmpty())
        html = Plain(tr("未发现问题。"), QColor(QStringLiteral("#196E8B")));
    else if (result.trainableRois > 0)
        html += Plain(tr("这些问题不妨碍开始训练，但会影响训练效果。"), QColor(QStringLiteral("#6B7B8C")));
    ui->lbCheckWarnings->setText(html);
}

void DatasetCheckWid::FitTable()
{
    QTableView* table = ui->tblCheckClasses;
    const int rows = std::clamp(m_model->rowCount(), 1, kVisibleRows);
    table->setFixedHeight(table->horizontalHeader()->sizeHint().height() +
                          rows * table->verticalHeader()->defaultSectionSize() + 2 * table->frameWidth());
}

QString DatasetCheckWid::FindingText(const DatasetCheck::Finding& finding)
{
    using Issue = DatasetCheck::Issue;
    switch (finding.issue)
    {
    case Issue::FewImages:
        return tr("类别%1的图片少于%2张，难以学会。")
            .arg(Categories(finding), QString::number(DatasetCheck::kFewImages));
    case Issue::NoRoi:
        return tr("类别%1没有任何ROI，训练学不到。").arg(Categories(finding));
    case Issue::TinyRoi:
        return tr("%1个ROI小于4×4像素，几乎学不到（%2）。").arg(finding.count).arg(Examples(finding));
    case Issue::SizeDiffers:
        return tr("%1张图片的尺寸与第一张图片（%2）不同，训练时会被缩放（%3）。")
            .arg(finding.count)
            .arg(finding.subject, Examples(finding));
    case Issue::RectInSegment:
        return tr("分割工程中有%1个矩形ROI，训练时整个矩形都算作缺陷，请改用多边形（%2）。")
            .arg(finding.count)
            .arg(Examples(finding));
    case Issue::UnknownCategory:
        return tr("%1个ROI的类别不在类别列表中，训练时被忽略（如 %2）。")
            .arg(finding.count)
            .arg(Categories(finding));
    case Issue::ImageUnreadable:
        return tr("%1张已标注图片无法读取，训练时被跳过（%2）。").arg(finding.count).arg(Examples(finding));
    case Issue::AnnotationMissing:
        return tr("%1张已标注图片缺少标注文件，训练时用不到，请在标注页重新保存（%2）。")
            .arg(finding.count)
            .arg(Examples(finding));
    case Issue::AnnotationUnreadable:
        return tr("%1个标注文件无法解析，训练时跳过这些图片，请在标注页重新保存（%2）。")
            .arg(finding.count)
            .arg(Examples(finding));
    case Issue::AnnotationDiffers:
        return tr("%1个标注文件与数据库记录不一致，训练按文件内容进行，请在标注页重新保存（%2）。")
            .arg(finding.count)
            .arg(Examples(finding));
    }
    return QString();
}
