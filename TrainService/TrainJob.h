#pragma once

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

    explicit TrainJob(trainsvc::TrainConfig config);

    void Run(const std::atomic_bool& cancel, const JobQueue::Report& report);

private:
    bool Export(class ModelEngine& engine, QString& error) const;

    trainsvc::TrainConfig m_config;
    std::vector<trainsvc::EpochLoss> m_history;
};
