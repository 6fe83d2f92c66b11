#pragma once

#include "TrainService/SampleTypes.h"

// How images larger than the network's input are cut into input-sized tiles at a fixed scale, and how
// the tiles' outputs are joined again: a thin defect keeps its width in pixels instead of vanishing
// when a large image is stretched to the input.
namespace trainsvc::tiling
{

// An image is tiled when its longer side at the layout's tile scale exceeds the input by this factor;
// smaller ones are stretched to the input.
inline constexpr double kTileFactor = 1.5;
// Neighbouring tiles overlap by this share of the input at least, so that a defect cut by one tile's
// edge lies whole in its neighbour.
inline constexpr double kOverlapShare = 0.25;
// Predicted regions smaller than this many input pixels are noise, not defects.
inline constexpr double kMinInputArea = 6.0;

bool UsesTiles(cv::Size imageSize, const NetLayout& layout);
// The image's size at scale (at least one pixel per side).
cv::Size ScaledSize(cv::Size imageSize, double scale);
// The overlap of neighbouring tiles for an input side.
int Overlap(int tile);
// Tiles of tile × tile covering an area of at least tile per side, in rows from the top left;
// neighbours overlap by at least overlap and the last tile of a row or column ends at the area's edge.
std::vector<cv::Rect> TileRects(cv::Size area, int tile, int overlap);
// The smallest region, in the image's pixels, that a prediction keeps.
double MinRegionArea(cv::Size imageSize, const NetLayout& layout);

// Sums per-pixel logits of overlapping tiles and gives their mean's label map.
class LogitStitcher
{
public:
    LogitStitcher(cv::Size area, int channels);
    // planes: channels planes of tile.height × tile.width floats, one after another.
    void Add(const cv::Rect& tile, const float* planes);
    // Label of the largest mean logit per pixel (0 background), and, when probability is given, that
    // label's softmax probability.
    cv::Mat Labels(cv::Mat* probability) const;

private:
    std::vector<cv::Mat> m_sums;
    cv::Mat m_count;
};

// Joins boxes found in tiles (in the area's pixels): a box cut by its tile's inner edge gives way to
// a larger box of its class from another tile that covers most of it, or else joins the boxes of its
// class from other tiles it overlaps; the rest are suppressed class by class by IoU, the higher score
// winning. tileOf[i] is the tile of boxes[i].
std::vector<Box> JoinTileBoxes(const std::vector<Box>& boxes, const std::vector<cv::Rect>& tileOf,
                               cv::Size area, float nmsIou, size_t maxBoxes);

} // namespace trainsvc::tiling
