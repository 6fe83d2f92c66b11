#include "LumoraInspect/Inspector.h"

#include "ComLib/Service/ServiceProtocol.h"
#include "LumoraExport/ExportPaths.h"
#include "TrainService/ModelEngine.h"
#include "TrainService/PredictionFile.h"
#include "TrainService/Predictor.h"
#include "TrainService/Raster.h"
#include "TrainService/TestJob.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <opencv2/core/utility.hpp>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

using namespace trainsvc;

namespace
{

QString CsvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1String("\""), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

} // namespace

Inspector::Inspector(const DeployModel& model, std::vector<float> thresholds)
    : m_model(model), m_thresholds(std::move(thresholds))
{
}

bool Inspector::Run(const QStringList& images, const QString& root, const QString& outputDir, int jobs,
                    const Progress& progress, std::vector<Row>& rows, Summary& summary, QString& error)
{
    jobs = std::max(1, std::min(jobs, int(images.size())));
    std::vector<std::unique_ptr<NetRunner>> runners;
    for (int j = 0; j < jobs; ++j)
    {
        runners.push_back(m_model.MakeRunner(error));
        if (!runners.back())
            return false;
    }
    // Several workers run one thread each; a single worker uses every core inside the network.
    const int inner = m_threadsPerWorker > 0 ? m_threadsPerWorker
                      : jobs > 1             ? 1
                                             : std::max(1, int(std::thread::hardware_concurrency()));
    ModelEngine::SetThreads(inner);
    cv::setNumThreads(inner);

    rows.assign(size_t(images.size()), Row());
    summary = Summary();
    std::atomic_int next{0};
    std::atomic_bool stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    int done = 0;
    int finished = 0;
    QString writeError;
    const auto work = [&](NetRunner& runner)
    {
        ModelEngine::SetThreads(inner);
        for (int i = next++; i < images.size() && !stop; i = next++)
        {
            Row& row = rows[size_t(i)];
            row.path = images.at(i);
            QElapsedTimer timer;
            timer.start();
            const QString failed = Inspect(runner, root, outputDir, row);
            row.milliseconds = double(timer.nsecsElapsed()) / 1e6;
            std::lock_guard<std::mutex> lock(mutex);
            if (!failed.isEmpty() && writeError.isEmpty())
            {
                writeError = failed;
                stop = true;
            }
            ++done;
            changed.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex);
        ++finished;
        changed.notify_all();
    };
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> workers;
    for (int j = 0; j < jobs; ++j)
        workers.emplace_back(work, std::ref(*runners[size_t(j)]));
    {
        std::unique_lock<std::mutex> lock(mutex);
        int shown = -1;
        for (bool last = false; !last;)
        {
            changed.wait_for(lock, std::chrono::milliseconds(200));
            last = finished == jobs;
            if (progress && (done != shown || last))
            {
                shown = done;
                lock.unlock();
                progress(shown, int(images.size()));
                lock.lock();
            }
        }
    }
    for (std::thread& worker : workers)
        worker.join();
    summary.seconds = double(clock.nsecsElapsed()) / 1e9;
    summary.writeError = writeError;
    for (const Row& row : rows)
    {
        if (row.path.isEmpty())
            continue;
        if (!row.readable)
            ++summary.skipped;
        else if (row.failed)
            ++summary.failed;
        else
        {
            ++summary.inspected;
            summary.ng += std::find(row.ng.begin(), row.ng.end(), true) != row.ng.end();
        }
    }
    return true;
}

QString Inspector::Inspect(NetRunner& runner, const QString& root, const QString& outputDir, Row& row) const
{
    const cv::Mat image = raster::ReadImage(row.path.toStdString(), m_model.Window());
    if (image.empty())
        return {};
    const NetLayout& layout = m_model.Layout();
    const Prediction prediction = predict::Predict(runner, layout, image);
    row.readable = true;
    row.failed = prediction.failed;
    if (row.failed)
        return {};
    const std::vector<Shape> shapes = predict::Shapes(prediction, layout, image.size());
    row.scores = predict::HighestScores(shapes, int(m_model.Classes().size()));
    row.ng = predict::ClassDecisions(shapes, m_thresholds);
    if (outputDir.isEmpty())
        return {};
    const QString target = comlib::protocol::PredictionPath(root, outputDir, row.path);
    // A link inside the output folder must not lead the file elsewhere.
    const QString folder = target.isEmpty() ? QString() : ExportPaths::Resolved(QFileInfo(target).path());
    if (folder.isEmpty() || !ExportPaths::SameOrInside(folder, outputDir, Qt::CaseSensitive))
        return QStringLiteral("%1 leads outside %2").arg(target.isEmpty() ? row.path : target, outputDir);
    QString error;
    WritePredictionFile(target, QFileInfo(row.path).fileName(), image.size(),
                        TestJob::AtThresholds(shapes, m_thresholds), m_model.Classes(), error);
    return error;
}

QString Inspector::CsvHeader(const QStringList& classes)
{
    QStringList fields{QStringLiteral("path"), QStringLiteral("decision")};
    for (const QString& name : classes)
        fields << CsvField(QStringLiteral("score:") + name);
    for (const QString& name : classes)
        fields << CsvField(QStringLiteral("decision:") + name);
    fields << QStringLiteral("milliseconds");
    return fields.join(QLatin1Char(','));
}

QString Inspector::CsvLine(const Row& row, int classes)
{
    QStringList fields{CsvField(row.path)};
    if (!row.readable || row.failed)
    {
        fields << (row.failed ? QStringLiteral("error") : QStringLiteral("unreadable"));
        for (int i = 0; i < 2 * classes; ++i)
            fields << QString();
    }
    else
    {
        const bool ng = std::find(row.ng.begin(), row.ng.end(), true) != row.ng.end();
        fields << (ng ? QStringLiteral("NG") : QStringLiteral("OK"));
        for (const float score : row.scores)
            fields << QString::number(double(score), 'f', 4);
        for (const bool classNg : row.ng)
            fields << (classNg ? QStringLiteral("NG") : QStringLiteral("OK"));
    }
    fields << QString::number(row.milliseconds, 'f', 1);
    return fields.join(QLatin1Char(','));
}
