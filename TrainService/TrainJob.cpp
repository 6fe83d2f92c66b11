#include "TrainService/TrainJob.h"

#include "ComLib/AtomicFile.h"
#include "ComLib/Service/ServiceProtocol.h"
#include "Nexil/NexilConst.h"
#include "TrainService/DataSet.h"
#include "TrainService/ModelEngine.h"
#include "TrainService/ModelSettings.h"
#include "TrainService/ProjectPaths.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtDebug>

#include <chrono>

using namespace trainsvc;

namespace
{

// Status replies after every batch would only cost time; the program polls once a second.
constexpr auto kReportInterval = std::chrono::milliseconds(200);

QJsonObject ProgressStatus(const char* status, const TrainProgress& p, int epochs)
{
    // Between epochs the finished epoch shows all its batches rather than batch 0.
    const bool epochEnd = p.batch == 0 && p.epoch > 0;
    const double part = p.allBatch > 0 && !epochEnd ? double(p.batch) / p.allBatch : 0.0;
    comlib::protocol::StatusReply reply;
    reply.status = QLatin1String(status);
    reply.batch = {epochEnd ? p.allBatch : p.batch, p.allBatch};
    // Before the first validation the loss group would plot a made-up point: it is left out.
    if (p.valLoss >= 0.0)
        reply.loss = {double(p.epoch) + part, epochs, p.trainLoss, p.valLoss};
    reply.remainTime = p.remainSeconds;
    return reply.ToJson();
}

} // namespace

TrainJob::TrainJob(TrainConfig config) : m_config(std::move(config)) {}

void TrainJob::Run(const std::atomic_bool& cancel, const JobQueue::Report& report)
{
    ClearStaleParts(m_config.project);
    DataSet data;
    data.Load(m_config.datasPath, m_config.classes);
    if (data.Samples().empty())
    {
        report(JobQueue::Failed(QStringLiteral("no annotated images under %1").arg(m_config.datasPath)));
        return;
    }
    std::vector<Sample> train, val;
    data.Split(m_config.trainPercent, m_config.settings.seed, train, val);
    qInfo().noquote() << "training" << m_config.version << m_config.aiType << "on" << train.size()
                      << "images," << val.size() << "for validation," << data.Skipped() << "skipped, input"
                      << m_config.net.inputSize << "width" << m_config.net.width;

    ModelEngine engine;
    engine.Create(m_config.net, m_config.settings.seed);
    Describe(data, train, val, engine);
    TrainProgress last;
    auto lastReport = std::chrono::steady_clock::now() - kReportInterval;
    const int epochs = m_config.settings.epochs;
    const auto progress = [&](const TrainProgress& p)
    {
        last = p;
        const auto now = std::chrono::steady_clock::now();
        if (p.batch == 0 || now - lastReport >= kReportInterval)
        {
            lastReport = now;
            report(ProgressStatus("running", p, epochs));
        }
    };
    std::string error;
    if (!engine.Train(train, val, m_config.settings, progress, cancel, m_history, error))
    {
        report(cancel ? JobQueue::Cancelled() : JobQueue::Failed(QString::fromStdString(error)));
        return;
    }
    report(ProgressStatus(comlib::protocol::kStatusExport, last, epochs));
    QString exportError;
    if (!Export(engine, exportError))
    {
        report(JobQueue::Failed(exportError));
        return;
    }
    report(ProgressStatus("done", last, epochs));
}

void TrainJob::Describe(const DataSet& data, const std::vector<Sample>& train, const std::vector<Sample>& val,
                        const ModelEngine& engine)
{
    comlib::protocol::ModelRecord& r = m_record;
    r.classes = m_config.classes;
    r.aiType = m_config.aiType;
    r.netType = m_config.netType;
    r.version = m_config.version;
    r.fineness = m_config.fineness;
    r.inputSize = engine.Layout().inputSize;
    r.width = engine.Layout().width;
    r.epochs = m_config.settings.epochs;
    r.batchSize = m_config.settings.batchSize;
    r.learningRate = m_config.settings.learningRate;
    r.trainPercent = m_config.trainPercent;
    r.seed = int(m_config.settings.seed);
    r.threads = m_config.settings.threads;
    r.libtorch = QString::fromStdString(ModelEngine::LibraryVersion());
    r.settings = modelsettings::ToJson(engine.Layout(), m_config.settings, engine.OnGpu());
    r.dataFingerprint = data.Fingerprint();
    r.trainImages = int(train.size());
    r.valImages = int(val.size());
    // The split is kept so that the version can be tested on images it never trained on.
    const QDir datas(m_config.datasPath);
    r.valPaths.clear();
    for (const Sample& sample : val)
        r.valPaths.append(datas.relativeFilePath(QString::fromStdString(sample.imagePath)));
    r.valPaths.sort();
    r.classCounts.clear();
    for (const QString& name : m_config.classes)
        r.classCounts.append({name, 0, 0});
    const auto count =
        [&r](const std::vector<Sample>& samples, int comlib::protocol::ModelRecord::ClassCount::*split)
    {
        for (const Sample& sample : samples)
        {
            std::vector<bool> seen(size_t(r.classCounts.size()), false);
            for (const Shape& shape : sample.shapes)
            {
                if (shape.cls >= 0 && shape.cls < r.classCounts.size() && !seen[size_t(shape.cls)])
                {
                    seen[size_t(shape.cls)] = true;
                    ++(r.classCounts[shape.cls].*split);
                }
            }
        }
    };
    count(train, &comlib::protocol::ModelRecord::ClassCount::train);
    count(val, &comlib::protocol::ModelRecord::ClassCount::val);
}

bool TrainJob::Export(ModelEngine& engine, QString& error)
{
    const QString finalDir = m_config.trainPath + QLatin1String(nexil::kModelDir);
    const QString partDir = m_config.trainPath + QLatin1Char('/') + QLatin1String(kPartDir);
    if (!RemoveMarkedDir(partDir, error) || !MakeMarkedDir(partDir, error))
        return false;
    const auto fail = [&partDir]
    {
        QString ignored;
        RemoveMarkedDir(partDir, ignored);
        return false;
    };
    std::string saveError;
    if (!engine.Save((partDir + QLatin1Char('/') + QLatin1String(kWeightsFile)).toStdString(), saveError))
    {
        error = QString::fromStdString(saveError);
        return fail();
    }
    m_record.history.clear();
    for (const EpochLoss& row : m_history)
        m_record.history.append({row.epoch, row.trainLoss, row.valLoss});
    QJsonObject config = m_record.ToJson();
    config.insert(QLatin1String(kWeightsKey), QLatin1String(kWeightsFile));
    if (!comlib::WriteFileAtomically(partDir + QLatin1Char('/') + QLatin1String(kConfigFile),
                                     QJsonDocument(config).toJson(QJsonDocument::Indented), error) ||
        !RemoveMarkedDir(finalDir, error))
        return fail();
    if (!QDir().rename(partDir, finalDir))
    {
        error = QStringLiteral("cannot rename %1 to %2").arg(partDir, finalDir);
        return fail();
    }
    return true;
}
