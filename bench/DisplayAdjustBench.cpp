// Times the canvas's display adjustment on this machine: a new brightness/contrast/gamma for a
// 5,000 x 4,000 image, 8-bit grey, 8-bit colour and 16-bit grey (target 50 ms), both the remap alone
// and the remap with the canvas repainted at fit zoom; and the full-depth decoding with its
// percentile window, once per image shown (no target).
// Usage: DisplayAdjustBench

#include "Canvas/datawidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

constexpr int kWidth = 5000;
constexpr int kHeight = 4000;
constexpr int kRuns = 15;

void QuietHandler(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

double Ms(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

void Report(const char* what, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("%-34s median %6.1f ms  worst %6.1f ms\n", what, times[times.size() / 2], times.back());
}

void Bench(const char* name, const QString& path, const cv::Mat& mat)
{
    cv::imwrite(path.toStdString(), mat);
    QElapsedTimer timer;
    CanvasImage image;
    timer.start();
    image.load(path);
    std::printf("%s: decode + window %.0f ms (window %g..%g)\n", name, Ms(timer), image.windowLow(),
                image.windowHigh());

    std::vector<double> remap;
    for (int i = 0; i < kRuns; ++i)
    {
        timer.restart();
        image.setAdjust(CanvasImage::Adjust{i % 2 ? 40 : -20, i % 3 * 20, 100 + i * 10});
        remap.push_back(Ms(timer));
    }
    Report("  remap", remap);

    DataWidget canvas;
    canvas.resize(1200, 800);
    canvas.show();
    auto record = std::make_shared<pro::ImageInfo>();
    record->path = path;
    canvas.dataUpdated(record);
    canvas.zoomFit();
    canvas.repaint();
    std::vector<double> shown;
    for (int i = 0; i < kRuns; ++i)
    {
        timer.restart();
        canvas.setDisplayAdjust(CanvasImage::Adjust{i % 2 ? 40 : -20, i % 3 * 20, 100 + i * 10});
        canvas.repaint();
        shown.push_back(Ms(timer));
    }
    Report("  remap + repaint 1200 x 800", shown);
}

} // namespace

int main(int argc, char* argv[])
{
    qInstallMessageHandler(QuietHandler);
    QApplication app(argc, argv);
    QTemporaryDir dir;
    cv::RNG rng(3);
    cv::Mat grey(kHeight, kWidth, CV_8UC1);
    rng.fill(grey, cv::RNG::UNIFORM, 10, 80);
    Bench("8-bit grey", dir.filePath("grey.bmp"), grey);
    cv::Mat colour(kHeight, kWidth, CV_8UC3);
    rng.fill(colour, cv::RNG::UNIFORM, 10, 200);
    Bench("8-bit colour", dir.filePath("colour.bmp"), colour);
    cv::Mat deep(kHeight, kWidth, CV_16UC1);
    rng.fill(deep, cv::RNG::UNIFORM, 1000, 4096);
    Bench("16-bit grey", dir.filePath("deep.tif"), deep);
    return 0;
}
