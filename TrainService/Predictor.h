#pragma once

#include "TrainService/NetRunner.h"
#include "TrainService/SampleTypes.h"

// From an image to a prediction through any runtime: the input (stretched whole or cut into tiles, see
// Tiling.h), the network's raw outputs from a NetRunner, and their decoding into a label map or boxes.
namespace trainsvc::predict
{

// Centre probability above which a heatmap peak is a detection.
inline constexpr float kScoreThreshold = 0.3f;
inline constexpr int kMaxBoxes = 100;
inline constexpr float kNmsIou = 0.5f;
// Tiles predicted in one batch.
inline constexpr int kTileBatch = 4;
// Inputs are (pixel / 255 - kInputMean) / kInputStd, per channel in the image's BGR order.
inline constexpr double kInputMean = 0.5;
inline constexpr double kInputStd = 0.25;

// The image at the tile scale, padded by repeating its border to at least inputSize per side.
cv::Mat TileArea(const cv::Mat& image, double scale, int inputSize);

// Label map with the probability of each pixel's label, or boxes with scores, in the image's own
// pixels; forceTiles sends an image by tiles even when it fits the input. An empty prediction marked
// failed when the runner fails.
Prediction Predict(NetRunner& runner, const NetLayout& layout, const cv::Mat& image, bool forceTiles = false);

// The prediction's shapes, each with its score, in the image's pixels.
std::vector<Shape> Shapes(const Prediction& prediction, const NetLayout& layout, cv::Size imageSize);

// The highest score of each class's shapes, 0 for a class without one.
std::vector<float> HighestScores(const std::vector<Shape>& shapes, int classes);
// Per class whether a shape of it reaches the class's threshold: the image is not good (NG) for it.
std::vector<bool> ClassDecisions(const std::vector<Shape>& shapes, const std::vector<float>& thresholds);

} // namespace trainsvc::predict
