#pragma once

#include "ComLib/Service/ServiceProtocol.h"
#include "TrainService/JobConfig.h"
#include "TrainService/JobQueue.h"

// One training run: reads the project's annotated images, trains, and exports the version into
// "train_path" + "/model". The folder appears only once complete (written under another name, then
// renamed), so a cancelled or failed run never leaves a version that could be offered for testing.
// Both folders carry the service's marker; a "model" folder without it is never replaced.
class TrainJob
{
public:
    static constexpr char kWeightsFile[] = "weights.pt";
    static constexpr char kConfigFile[] = "Config.json";
    // The key of Config.json naming the weights file, which older versions' readers look for.
    static constexpr char kWeightsKey[] = "weights";

    explicit TrainJob(trainsvc::TrainConfig config);

    void Run(const std::atomic_bool& cancel, const JobQueue::Report& report);

private:
    // The version's record up to its losses: settings, data fingerprint and counts of the split.
    void Describe(const class DataSet& data, const std::vector<trainsvc::Sample>& train,
                  const std::vector<trainsvc::Sample>& val, const class ModelEngine& engine);
    bool Export(class ModelEngine& engine, QString& error);

    trainsvc::TrainConfig m_config;
    std::vector<trainsvc::EpochLoss> m_history;
    comlib::protocol::ModelRecord m_record;
};
