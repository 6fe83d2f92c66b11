#pragma once

#include "ThresholdRates.h"

#include <QString>
#include <QVector>
#include <QWidget>

#include <memory>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSlider;

namespace QtCharts
{
class QChartView;
class QLineSeries;
} // namespace QtCharts

// The operating point of each class of a labelled test: how the image-level missed and overkill rates
// of the chosen class move with its threshold, the threshold itself, and the lowest-overkill threshold
// that misses at most a given share. Every change is counted again from the test summary at once.
class OperatingPointWid : public QWidget
{
    Q_OBJECT

public:
    explicit OperatingPointWid(QWidget* parent = nullptr);
    ~OperatingPointWid() override;

    // Shows the rates from the thresholds (one per class, 0 where missing); setText, naming the test set,
    // heads the chart.
    void SetRates(std::shared_ptr<const ThresholdRates> rates, const QVector<double>& thresholds,
                  const QString& setText);
    void Clear();
    bool HasRates() const { return m_rates != nullptr; }
    const QVector<double>& Thresholds() const { return m_thresholds; }
    void SetThreshold(int cls, double threshold);

signals:
    void Signal_ThresholdsChanged();
    void Signal_SaveThresholds();

private:
    void ShowClass(int cls);
    void ChooseLowestOverkill();
    void ShowRates();

    std::shared_ptr<const ThresholdRates> m_rates;
    QVector<double> m_thresholds;
    QComboBox* m_class;
    QSlider* m_slider;
    QDoubleSpinBox* m_threshold;
    QDoubleSpinBox* m_maxMissed;
    QPushButton* m_choose;
    QPushButton* m_save;
    QLabel* m_classRates;
    QtCharts::QChartView* m_chart;
    QtCharts::QLineSeries* m_missedLine;
    QtCharts::QLineSeries* m_overkillLine;
    QtCharts::QLineSeries* m_marker;
};
