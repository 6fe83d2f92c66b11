// Times the evaluation of a labelled test of 10,000 images and 10 classes on this machine:
//  rates    every class's missed and overkill counts recomputed when a threshold moves, against a plain
//           loop over the same scores and truth (target: under 50 ms; the ratio says what the sorted
//           scores buy);
//  panel    what the page does on a moved threshold: the rates, the chosen class's curve and the error
//           list of the browser;
//  browser  the error browser listing 10,000 wrong images in a shown tree, the longest stall of the
//           GUI thread (target 100 ms), against filling a plain string list of the same names.
// Usage: TestEvaluationBench

#include "ModelTesting/ErrorImgModel.h"
#include "ModelTesting/ThresholdRates.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

constexpr int kImages = 10000;
constexpr int kClasses = 10;
constexpr int kRounds = 200;

comlib::protocol::TestSummary MakeSummary()
{
    QRandomGenerator random(7);
    comlib::protocol::TestSummary summary;
    for (int c = 0; c < kClasses; ++c)
        summary.classes.append(QStringLiteral("class%1").arg(c));
    for (int i = 0; i < kImages; ++i)
    {
        comlib::protocol::TestSummary::Image row{
            QStringLiteral("/held/part%1/img%2.png").arg(i % 50).arg(i), {}, QVector<bool>()};
        for (int c = 0; c < kClasses; ++c)
        {
            const bool present = random.bounded(10) == 0;
            const double score = random.generateDouble();
            row.truth->append(present);
            row.scores.append(present ? 0.2 + 0.8 * score : (score < 0.7 ? 0 : score));
        }
        summary.images.append(row);
    }
    return summary;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Microseconds per call, the median of kRounds calls with thresholds that move each time.
template <typename F> double Time(F f)
{
    std::vector<double> times;
    QElapsedTimer timer;
    for (int r = 0; r < kRounds; ++r)
    {
        QVector<double> thresholds(kClasses, 0.01 * (r % 100));
        timer.start();
        f(thresholds);
        times.push_back(timer.nsecsElapsed() / 1000.0);
    }
    return Median(times);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const comlib::protocol::TestSummary summary = MakeSummary();
    QElapsedTimer built;
    built.start();
    auto rates = std::make_shared<const ThresholdRates>(summary);
    std::printf("summary of %d images x %d classes counted in %.1f ms\n", kImages, kClasses,
                built.nsecsElapsed() / 1e6);

    long long sink = 0;
    const double plain = Time(
        [&](const QVector<double>& thresholds)
        {
            std::vector<int> missed(kClasses), overkill(kClasses);
            for (const auto& row : summary.images)
            {
                for (int c = 0; c < kClasses; ++c)
                {
                    const bool found = row.scores[c] > 0 && row.scores[c] >= thresholds[c];
                    missed[c] += row.truth->at(c) && !found;
                    overkill[c] += !row.truth->at(c) && found;
                }
            }
            sink += missed[0] + overkill[0];
        });
    const double counted =
        Time([&](const QVector<double>& thresholds) { sink += rates->Rates(thresholds).at(0).missed; });
    std::printf("rates    all classes %.1f us, plain loop %.1f us, ratio %.3f (target under 50 ms)\n",
                counted, plain, counted / plain);
    const double panel = Time(
        [&](const QVector<double>& thresholds)
        {
            sink += rates->Rates(thresholds).size();
            sink += rates->Curve(0, 100).size();
            sink += rates->Errors(thresholds).size();
        });
    std::printf("panel    rates, curve and error list %.1f us, ratio to the plain loop %.2f\n", panel,
                panel / plain);

    // Every image wrong: thresholds above every score miss every class present.
    QTreeView view;
    ErrorImgModel model;
    view.setUniformRowHeights(true);
    view.setModel(&model);
    view.resize(360, 700);
    view.show();
    QApplication::processEvents();
    const QVector<double> high(kClasses, 1.0);
    QElapsedTimer stall;
    stall.start();
    model.SetErrors(rates, high);
    view.expandAll();
    QApplication::processEvents();
    const double listed = stall.nsecsElapsed() / 1e6;
    stall.start();
    QStringList names;
    for (const QModelIndex& index : model.ImageIndexes())
        names.append(QFileInfo(model.PathAt(index)).fileName());
    const double floor = stall.nsecsElapsed() / 1e6;
    std::printf(
        "browser  %d image rows listed and shown in %.1f ms (target 100 ms), plain name list %.1f ms, "
        "ratio %.2f\n",
        int(model.ImageIndexes().size()), listed, floor, listed / floor);
    return sink == 42 ? 1 : 0;
}
