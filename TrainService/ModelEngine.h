#pragma once

#include "TrainService/SampleTypes.h"

#include <atomic>
#include <functional>
#include <memory>

// The service's one door to libtorch: builds, trains, saves, loads and runs the segmentation or
// detection network of a NetLayout. The header stays free of torch so that the Qt side can use it.
class ModelEngine
{
public:
    using ProgressFn = std::function<void(const trainsvc::TrainProgress&)>;

    ModelEngine();
    ~ModelEngine();
    ModelEngine(const ModelEngine&) = delete;
    ModelEngine& operator=(const ModelEngine&) = delete;

    // A fresh network with weights drawn from seed.
    void Create(const trainsvc::NetLayout& layout, unsigned seed);
    // Trains on train, measuring the loss on val after every epoch (history gets one row per epoch).
    // Returns false with the reason in error when cancel is set or training fails.
    bool Train(const std::vector<trainsvc::Sample>& train, const std::vector<trainsvc::Sample>& val,
               const trainsvc::TrainSettings& settings, const ProgressFn& progress,
               const std::atomic_bool& cancel, std::vector<trainsvc::EpochLoss>& history, std::string& error);
    bool Save(const std::string& file, std::string& error);
    bool Load(const trainsvc::NetLayout& layout, const std::string& file, std::string& error);
    // Label map or boxes in the image's own pixels.
    trainsvc::Prediction Predict(const cv::Mat& image);

    const trainsvc::NetLayout& Layout() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
