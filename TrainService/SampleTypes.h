#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>
#include <vector>

// Plain records shared by the Qt side (files, JSON, HTTP) and the torch side (networks, training) of
// the service; this header stays free of both so that each side can include it.
namespace trainsvc
{

// One labelled region in image pixels: a rectangle (two corners) or a polygon (its vertices).
struct Shape
{
    int cls = 0;
    bool rect = false;
    std::vector<cv::Point2f> points;
    // Confidence of a predicted shape, 0 to 1; annotations are certain.
    float score = 1.0f;
};

// One annotated image: an image without shapes is a good (OK) image.
struct Sample
{
    std::string imagePath;
    cv::Size imageSize;
    std::vector<Shape> shapes;
};

// A detection in image pixels.
struct Box
{
    int cls = 0;
    float score = 1.0f;
    cv::Rect2f rect;
};

// What a network is built for; everything the tester needs to rebuild it.
struct NetLayout
{
    bool detection = false;
    int numClasses = 1;
    int inputSize = 256;
    int width = 16;
    // Scale at which images too large for the input are cut into input-sized tiles (1 is native
    // resolution); 0 stretches every image to the input, as versions trained before tiling expect.
    double tileScale = 0.0;
};

// The intensity window through which images of more than 8 bits are mapped to 8 bits: the samples
// between these two quantiles span the range.
struct IntensityWindow
{
    double low = 0.005;
    double high = 0.995;
};

// Training settings that do not shape the network.
struct TrainSettings
{
    int epochs = 50;
    int batchSize = 8;
    double learningRate = 2e-3;
    unsigned seed = 7;
    // Threads of the training; results are bit-identical only for the same count.
    int threads = 2;
    IntensityWindow window;
};

// Progress of a running training, reported after every batch and every validation.
struct TrainProgress
{
    int epoch = 0; // epochs finished
    int batch = 0; // batches finished in the current epoch
    int allBatch = 0;
    double trainLoss = 0.0; // running mean of the current epoch
    double valLoss = -1.0;  // last validation loss, negative before the first
    double remainSeconds = 0.0;
};

// One finished epoch.
struct EpochLoss
{
    int epoch = 0;
    double trainLoss = 0.0;
    double valLoss = 0.0;
};

// One prediction: a label map (0 background, c + 1 class c) for segmentation, boxes for detection,
// both in the image's own pixels.
struct Prediction
{
    cv::Mat labels;
    // CV_32F beside labels: the probability of each pixel's label.
    cv::Mat probability;
    std::vector<Box> boxes;
    // The network could not be run or gave outputs of the wrong shape: nothing was predicted, which
    // is no good image.
    bool failed = false;
};

// One parameter or buffer of a network by its module path ("stem.0.weight"), row-major.
struct NamedTensor
{
    std::string name;
    std::vector<int64_t> shape;
    std::vector<float> values;
};

} // namespace trainsvc
