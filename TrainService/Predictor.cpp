#include "TrainService/Predictor.h"

#include "TrainService/Raster.h"
#include "TrainService/Tiling.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace trainsvc::predict
{

namespace
{

// The heatmap's stride: its cells are this many input pixels apart.
constexpr int kHeatStride = 4;

// The sigmoid peaks of item n's heatmaps as boxes, scaled by (sx, sy) and moved by origin, in the
// order class, row, column. A peak is a cell above the threshold that no neighbour exceeds.
std::vector<Box> Decode(const std::vector<cv::Mat>& out, int n, float sx, float sy, cv::Point2f origin)
{
    const cv::Mat& heat = out[0];
    const int classes = heat.size[1], rows = heat.size[2], cols = heat.size[3];
    const int plane = rows * cols;
    std::vector<float> prob(size_t(classes) * plane);
    const float* logits = heat.ptr<float>(n);
    for (size_t i = 0; i < prob.size(); ++i)
        prob[i] = 1.0f / (1.0f + std::exp(-logits[i]));
    const float* size = out[1].ptr<float>(n);
    const float* offset = out[2].ptr<float>(n);
    const float stride = float(kHeatStride);
    std::vector<Box> boxes;
    for (int c = 0; c < classes; ++c)
    {
        const float* p = prob.data() + size_t(c) * plane;
        for (int y = 0; y < rows; ++y)
        {
            for (int x = 0; x < cols; ++x)
            {
                const float v = p[y * cols + x];
                if (v <= kScoreThreshold)
                    continue;
                bool peak = true;
                for (int yy = std::max(0, y - 1); peak && yy <= std::min(rows - 1, y + 1); ++yy)
                {
                    for (int xx = std::max(0, x - 1); xx <= std::min(cols - 1, x + 1); ++xx)
                        peak = peak && p[yy * cols + xx] <= v;
                }
                if (!peak)
                    continue;
                const int cell = y * cols + x;
                const float w = std::exp(std::min(size[cell], 8.0f)) * stride;
                const float h = std::exp(std::min(size[plane + cell], 8.0f)) * stride;
                const float cx = (float(x) + offset[cell]) * stride;
                const float cy = (float(y) + offset[plane + cell]) * stride;
                Box box;
                box.cls = c;
                box.score = v;
                box.rect =
                    cv::Rect2f(origin.x + (cx - w / 2) * sx, origin.y + (cy - h / 2) * sy, w * sx, h * sy);
                boxes.push_back(box);
            }
        }
    }
    // An untrained net can raise a peak in every cell; the strongest are enough.
    if (boxes.size() > size_t(kMaxBoxes))
    {
        std::stable_sort(boxes.begin(), boxes.end(),
                         [](const Box& a, const Box& b) { return a.score > b.score; });
        boxes.resize(size_t(kMaxBoxes));
    }
    return boxes;
}

// Boxes clipped to an area of size, then divided by scale into the image's pixels.
std::vector<Box> InImage(std::vector<Box> boxes, cv::Size size, double scale)
{
    const cv::Rect2f frame(0.0f, 0.0f, float(size.width), float(size.height));
    std::vector<Box> out;
    for (Box& box : boxes)
    {
        const cv::Rect2f r = box.rect & frame;
        if (r.area() <= 0.0f)
            continue;
        const float s = float(scale);
        box.rect = cv::Rect2f(r.x / s, r.y / s, r.width / s, r.height / s);
        out.push_back(box);
    }
    return out;
}

// Whether the runner gave the outputs the layout's network has for a batch of n: a model read from a
// file may give any shapes, and decoding reads the planes by the layout's sizes.
bool Complete(const std::vector<cv::Mat>& out, const NetLayout& layout, int n)
{
    const auto shaped = [n](const cv::Mat& m, int channels)
    {
        return m.dims == 4 && m.type() == CV_32F && m.isContinuous() && m.size[0] == n &&
               m.size[1] == channels && m.size[2] > 0 && m.size[3] > 0;
    };
    if (!layout.detection)
    {
        return out.size() == 1 && shaped(out[0], layout.numClasses + 1) &&
               out[0].size[2] == layout.inputSize && out[0].size[3] == layout.inputSize;
    }
    return out.size() == 3 && shaped(out[0], layout.numClasses) && shaped(out[1], 2) && shaped(out[2], 2) &&
           out[1].size[2] == out[0].size[2] && out[1].size[3] == out[0].size[3] &&
           out[2].size[2] == out[0].size[2] && out[2].size[3] == out[0].size[3];
}

Prediction PredictWhole(NetRunner& runner, const NetLayout& layout, const cv::Mat& image)
{
    const cv::Mat input = raster::ResizeInput(image, layout.inputSize);
    const std::vector<cv::Mat> out = runner.Run({&input});
    Prediction prediction;
    if (!Complete(out, layout, 1))
    {
        prediction.failed = true;
        return prediction;
    }
    if (layout.detection)
    {
        const float sx = float(image.cols) / float(layout.inputSize);
        const float sy = float(image.rows) / float(layout.inputSize);
        const std::vector<Box> boxes = Decode(out, 0, sx, sy, cv::Point2f());
        const cv::Rect all(cv::Point(), image.size());
        prediction.boxes = InImage(tiling::JoinTileBoxes(boxes, std::vector<cv::Rect>(boxes.size(), all),
                                                         image.size(), kNmsIou, size_t(kMaxBoxes)),
                                   image.size(), 1.0);
        return prediction;
    }
    const cv::Size size(layout.inputSize, layout.inputSize);
    tiling::LogitStitcher stitcher(size, layout.numClasses + 1);
    stitcher.Add(cv::Rect(cv::Point(), size), out[0].ptr<float>(0));
    cv::Mat probability;
    const cv::Mat labels = stitcher.Labels(&probability);
    cv::resize(labels, prediction.labels, image.size(), 0, 0, cv::INTER_NEAREST);
    cv::resize(probability, prediction.probability, image.size(), 0, 0, cv::INTER_LINEAR);
    return prediction;
}

Prediction PredictTiles(NetRunner& runner, const NetLayout& layout, const cv::Mat& image)
{
    const double scale = layout.tileScale > 0.0 ? layout.tileScale : 1.0;
    const cv::Size scaled = tiling::ScaledSize(image.size(), scale);
    const cv::Mat area = TileArea(image, scale, layout.inputSize);
    const int tile = layout.inputSize;
    const std::vector<cv::Rect> tiles = tiling::TileRects(area.size(), tile, tiling::Overlap(tile));
    tiling::LogitStitcher stitcher(layout.detection ? cv::Size(1, 1) : area.size(), layout.numClasses + 1);
    std::vector<Box> boxes;
    std::vector<cv::Rect> tileOf;
    for (size_t start = 0; start < tiles.size(); start += kTileBatch)
    {
        const size_t end = std::min(tiles.size(), start + kTileBatch);
        std::vector<cv::Mat> crops;
        for (size_t i = start; i < end; ++i)
            crops.push_back(area(tiles[i]).clone());
        std::vector<const cv::Mat*> inputs;
        for (const cv::Mat& crop : crops)
            inputs.push_back(&crop);
        const std::vector<cv::Mat> out = runner.Run(inputs);
        if (!Complete(out, layout, int(inputs.size())))
        {
            Prediction failed;
            failed.failed = true;
            return failed;
        }
        for (size_t i = start; i < end; ++i)
        {
            const int n = int(i - start);
            if (!layout.detection)
            {
                stitcher.Add(tiles[i], out[0].ptr<float>(n));
                continue;
            }
            for (const Box& box : Decode(out, n, 1.0f, 1.0f, cv::Point2f(tiles[i].tl())))
            {
                boxes.push_back(box);
                tileOf.push_back(tiles[i]);
            }
        }
    }
    Prediction prediction;
    const cv::Rect inside(cv::Point(), scaled);
    if (layout.detection)
    {
        prediction.boxes = InImage(
            tiling::JoinTileBoxes(boxes, tileOf, area.size(), kNmsIou, size_t(kMaxBoxes)), scaled, scale);
        return prediction;
    }
    cv::Mat probability;
    const cv::Mat labels = stitcher.Labels(&probability);
    prediction.labels = labels(inside).clone();
    prediction.probability = probability(inside).clone();
    if (scaled != image.size())
    {
        cv::resize(prediction.labels, prediction.labels, image.size(), 0, 0, cv::INTER_NEAREST);
        cv::resize(prediction.probability, prediction.probability, image.size(), 0, 0, cv::INTER_LINEAR);
    }
    return prediction;
}

} // namespace

cv::Mat TileArea(const cv::Mat& image, double scale, int inputSize)
{
    const cv::Size scaled = tiling::ScaledSize(image.size(), scale);
    cv::Mat out = image;
    if (scaled != image.size())
        cv::resize(image, out, scaled, 0, 0, scaled.width < image.cols ? cv::INTER_AREA : cv::INTER_LINEAR);
    const int right = std::max(0, inputSize - out.cols);
    const int bottom = std::max(0, inputSize - out.rows);
    if (right > 0 || bottom > 0)
        cv::copyMakeBorder(out, out, 0, bottom, 0, right, cv::BORDER_REPLICATE);
    return out;
}

Prediction Predict(NetRunner& runner, const NetLayout& layout, const cv::Mat& image, bool forceTiles)
{
    if (forceTiles || tiling::UsesTiles(image.size(), layout))
        return PredictTiles(runner, layout, image);
    return PredictWhole(runner, layout, image);
}

std::vector<Shape> Shapes(const Prediction& prediction, const NetLayout& layout, cv::Size imageSize)
{
    if (layout.detection)
        return raster::BoxesToShapes(prediction.boxes);
    if (prediction.labels.empty())
        return {};
    return raster::MaskToShapes(prediction.labels, tiling::MinRegionArea(imageSize, layout),
                                prediction.probability);
}

std::vector<float> HighestScores(const std::vector<Shape>& shapes, int classes)
{
    std::vector<float> scores(size_t(std::max(0, classes)), 0.0f);
    for (const Shape& shape : shapes)
    {
        if (shape.cls >= 0 && shape.cls < classes)
            scores[size_t(shape.cls)] = std::max(scores[size_t(shape.cls)], shape.score);
    }
    return scores;
}

std::vector<bool> ClassDecisions(const std::vector<Shape>& shapes, const std::vector<float>& thresholds)
{
    std::vector<bool> ng(thresholds.size(), false);
    for (const Shape& shape : shapes)
    {
        if (shape.cls >= 0 && size_t(shape.cls) < thresholds.size() &&
            shape.score >= thresholds[size_t(shape.cls)])
            ng[size_t(shape.cls)] = true;
    }
    return ng;
}

} // namespace trainsvc::predict
