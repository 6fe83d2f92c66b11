#include "OperatingPointWid.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGraphicsLayout>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

using namespace QtCharts;

namespace
{

// The slider moves in thousandths, as the threshold box shows them.
constexpr int kSliderSteps = 1000;
constexpr int kCurveSteps = 100;

QString Share(int count, int of)
{
    if (of == 0)
        return QStringLiteral("—");
    return QStringLiteral("%1/%2 (%3%)").arg(count).arg(of).arg(100.0 * count / of, 0, 'f', 1);
}

} // namespace

OperatingPointWid::OperatingPointWid(QWidget* parent)
    : QWidget(parent), m_class(new QComboBox(this)), m_slider(new QSlider(Qt::Horizontal, this)),
      m_threshold(new QDoubleSpinBox(this)), m_maxMissed(new QDoubleSpinBox(this)),
      m_choose(new QPushButton(tr("最低过杀"), this)), m_save(new QPushButton(tr("保存阈值"), this)),
      m_classRates(new QLabel(this)), m_chart(new QChartView(this)), m_missedLine(new QLineSeries(this)),
      m_overkillLine(new QLineSeries(this)), m_marker(new QLineSeries(this))
{
    setObjectName(QStringLiteral("OperatingPointWid"));
    m_class->setObjectName(QStringLiteral("cbClass"));
    m_slider->setObjectName(QStringLiteral("sliderThreshold"));
    m_threshold->setObjectName(QStringLiteral("spinThreshold"));
    m_maxMissed->setObjectName(QStringLiteral("spinMaxMissed"));
    m_choose->setObjectName(QStringLiteral("btnLowestOverkill"));
    m_save->setObjectName(QStringLiteral("btnSaveThresholds"));
    m_classRates->setObjectName(QStringLiteral("lbClassRates"));
    m_chart->setObjectName(QStringLiteral("chartRates"));

    m_slider->setRange(0, kSliderSteps);
    m_threshold->setRange(0, 1);
    m_threshold->setDecimals(3);
    m_threshold->setSingleStep(0.01);
    m_threshold->setToolTip(tr("该类别最高分达到阈值时判为检出"));
    m_maxMissed->setRange(0, 100);
    m_maxMissed->setDecimals(1);
    m_maxMissed->setSuffix(QStringLiteral(" %"));
    m_maxMissed->setPrefix(QStringLiteral("≤"));
    m_maxMissed->setToolTip(tr("允许的最高漏检率"));
    // Three panels and the annotation view share 1,600 pixels: nothing here may widen a panel.
    m_class->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_class->setMinimumContentsLength(5);
    m_slider->setMinimumWidth(30);
    // No wider than the panel's model row, so that a tested panel does not squeeze the annotation view
    // and the other panels: small buttons, and the slider and the arrow keys step the numbers.
    for (QPushButton* button : {m_choose, m_save})
        button->setStyleSheet(QStringLiteral("font-size: 13px; padding: 2px 6px;"));
    for (QDoubleSpinBox* box : {m_threshold, m_maxMissed})
        box->setButtonSymbols(QAbstractSpinBox::NoButtons);
    m_choose->setToolTip(tr("漏检不超过所设比例时过杀最低的阈值"));

    auto* chart = new QChart;
    // The rates below name the two curves in their colours; a legend would take a row.
    chart->legend()->hide();
    QFont small = chart->titleFont();
    small.setPixelSize(11);
    chart->setTitleFont(small);
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->setBackgroundRoundness(0);
    m_missedLine->setName(tr("漏检率"));
    m_overkillLine->setName(tr("过杀率"));
    m_marker->setName(tr("阈值"));
    m_missedLine->setColor(QColor(0xD9, 0x48, 0x3B));
    m_overkillLine->setColor(QColor(0x1F, 0x6F, 0xB5));
    m_marker->setColor(QColor(0x14, 0x53, 0x69));
    auto* axisX = new QValueAxis;
    axisX->setRange(0, 1);
    axisX->setLabelFormat(QStringLiteral("%.1f"));
    axisX->setTickCount(6);
    auto* axisY = new QValueAxis;
    axisY->setRange(0, 100);
    axisY->setLabelFormat(QStringLiteral("%d%"));
    axisY->setTickCount(3);
    small.setPixelSize(10);
    axisX->setLabelsFont(small);
    axisY->setLabelsFont(small);
    chart->addAxis(axisX, Qt::AlignBottom);
    chart->addAxis(axisY, Qt::AlignLeft);
    for (QLineSeries* series : {m_missedLine, m_overkillLine, m_marker})
    {
        chart->addSeries(series);
        series->attachAxis(axisX);
        series->attachAxis(axisY);
    }
    m_chart->setChart(chart);
    m_chart->setRenderHint(QPainter::Antialiasing);
    m_chart->setMinimumHeight(96);
    m_classRates->setWordWrap(true);
    m_classRates->setStyleSheet(QStringLiteral("font-size: 13px;"));

    // Three rows, so that three panels side by side keep room for their images at 1600 x 900.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->addWidget(m_class, 0, 0);
    grid->addWidget(m_threshold, 0, 1);
    grid->addWidget(m_slider, 0, 2);
    grid->addWidget(m_save, 0, 3);
    grid->addWidget(m_classRates, 1, 0, 1, 2);
    grid->addWidget(m_maxMissed, 1, 2, Qt::AlignRight);
    grid->addWidget(m_choose, 1, 3);
    grid->setColumnStretch(0, 1);
    grid->addWidget(m_chart, 2, 0, 1, 4);
    grid->setColumnStretch(2, 1);

    connect(m_class, qOverload<int>(&QComboBox::currentIndexChanged), this, &OperatingPointWid::ShowClass);
    connect(m_threshold, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            [this](double value) { SetThreshold(m_class->currentIndex(), value); });
    connect(m_slider, &QSlider::valueChanged, this,
            [this](int value) { SetThreshold(m_class->currentIndex(), double(value) / kSliderSteps); });
    connect(m_choose, &QPushButton::clicked, this, &OperatingPointWid::ChooseLowestOverkill);
    connect(m_save, &QPushButton::clicked, this, &OperatingPointWid::Signal_SaveThresholds);
    Clear();
}

OperatingPointWid::~OperatingPointWid() = default;

void OperatingPointWid::SetRates(std::shared_ptr<const ThresholdRates> rates,
                                 const QVector<double>& thresholds, const QString& setText)
{
    m_rates = std::move(rates);
    m_thresholds = thresholds;
    m_thresholds.resize(m_rates->Classes().size());
    m_chart->chart()->setTitle(setText);
    // A long set name is cut at the chart's width; the whole line stays at hand.
    m_chart->setToolTip(setText);
    show();
    {
        const QSignalBlocker blocker(m_class);
        m_class->clear();
        m_class->addItems(m_rates->Classes());
    }
    ShowClass(0);
}

void OperatingPointWid::Clear()
{
    m_rates.reset();
    m_thresholds.clear();
    {
        const QSignalBlocker blocker(m_class);
        m_class->clear();
    }
    m_missedLine->clear();
    m_overkillLine->clear();
    m_marker->clear();
    m_classRates->clear();
    m_chart->chart()->setTitle(QString());
    m_chart->setToolTip(QString());
    // Only a labelled result has operating points; until then the canvas keeps the room.
    hide();
}

void OperatingPointWid::ShowClass(int cls)
{
    if (!m_rates || cls < 0 || cls >= m_thresholds.size())
        return;
    QVector<QPointF> missed;
    QVector<QPointF> overkill;
    for (const ThresholdRates::CurvePoint& point : m_rates->Curve(cls, kCurveSteps))
    {
        missed.append({point.threshold, 100 * point.missedRate});
        overkill.append({point.threshold, 100 * point.overkillRate});
    }
    m_missedLine->replace(missed);
    m_overkillLine->replace(overkill);
    ShowRates();
}

void OperatingPointWid::SetThreshold(int cls, double threshold)
{
    if (!m_rates || cls < 0 || cls >= m_thresholds.size())
        return;
    threshold = qBound(0.0, threshold, 1.0);
    if (m_thresholds.at(cls) == threshold)
        return;
    m_thresholds[cls] = threshold;
    if (cls == m_class->currentIndex())
        ShowRates();
    emit Signal_ThresholdsChanged();
}

void OperatingPointWid::ChooseLowestOverkill()
{
    const int cls = m_class->currentIndex();
    if (!m_rates)
        return;
    const std::optional<double> chosen = m_rates->LowestOverkill(cls, m_maxMissed->value() / 100);
    if (!chosen)
    {
        const bool none = m_rates->Rate(cls, 0).positives == 0;
        m_classRates->setText(none ? tr("测试集中没有该类别的图片，无法选择阈值。")
                                   : tr("任何阈值都达不到所设漏检率。"));
        return;
    }
    SetThreshold(cls, *chosen);
}

void OperatingPointWid::ShowRates()
{
    const int cls = m_class->currentIndex();
    if (!m_rates || cls < 0 || cls >= m_thresholds.size())
        return;
    const double threshold = m_thresholds.at(cls);
    {
        const QSignalBlocker spin(m_threshold);
        const QSignalBlocker slider(m_slider);
        m_threshold->setValue(threshold);
        m_slider->setValue(qRound(threshold * kSliderSteps));
    }
    m_marker->replace(QVector<QPointF>{QPointF(threshold, 0), QPointF(threshold, 100)});
    const ThresholdRates::ClassRate rate = m_rates->Rate(cls, threshold);
    m_classRates->setText(
        tr("<span style=\"color:%1;\">漏检 %2</span><br><span style=\"color:%3;\">过杀 %4</span>")
            .arg(m_missedLine->color().name(), Share(rate.missed, rate.positives),
                 m_overkillLine->color().name(), Share(rate.overkill, rate.negatives)));
}
