#pragma once

#include "TrainService/NetRunner.h"
#include "TrainService/SampleTypes.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The service's one door to libtorch: builds, trains, saves, loads and runs the segmentation or
// detection network of a NetLayout. The header stays free of torch so that the Qt side can use it.
class ModelEngine : public NetRunner
{
public:
    using ProgressFn = std::function<void(const trainsvc::TrainProgress&)>;

    ModelEngine();
    ~ModelEngine() override;
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
    // Label map with the probability of each pixel's label, or boxes with scores, in the image's own
    // pixels. Images too large for the input go by tiles at the layout's scale (see Tiling.h);
    // forceTiles sends any image that way.
    trainsvc::Prediction Predict(const cv::Mat& image, bool forceTiles = false);
    // The network's raw outputs for a batch of input-sized images (see NetRunner).
    std::vector<cv::Mat> Run(const std::vector<const cv::Mat*>& inputs) override;
    // The network's parameters and buffers of floats by their module path, as stored in its weights.
    std::vector<trainsvc::NamedTensor> State() const;

    const trainsvc::NetLayout& Layout() const;

    // "major.minor.patch" of the libtorch built against.
    static std::string LibraryVersion();
    // The fixed training and decoding constants, by name, for a version's record.
    static std::vector<std::pair<std::string, double>> Constants();
    // Threads of the computations of this process.
    static int Threads();
    static void SetThreads(int threads);
    // Whether this build runs on a CUDA device, found when the engine was made.
    bool OnGpu() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
