#include "TrainService/Tiling.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>

namespace trainsvc::tiling
{

namespace
{

// Positions of tiles along one side: evenly spread, the first at 0 and the last ending at the side.
std::vector<int> Starts(int side, int tile, int overlap)
{
    if (side <= tile)
        return {0};
    const int stride = std::max(1, tile - overlap);
    const int count = 1 + (side - tile + stride - 1) / stride;
    std::vector<int> starts;
    for (int i = 0; i < count; ++i)
        starts.push_back(int(std::lround(double(i) * (side - tile) / (count - 1))));
    return starts;
}

float Iou(const cv::Rect2f& a, const cv::Rect2f& b)
{
    const float inter = (a & b).area();
    const float uni = a.area() + b.area() - inter;
    return uni > 0.0f ? inter / uni : 0.0f;
}

// Whether box touches an edge of its tile that lies inside the area.
bool CutByTile(const cv::Rect2f& box, const cv::Rect& tile, cv::Size area)
{
    const float slack = 1.0f;
    return (tile.x > 0 && box.x <= float(tile.x) + slack) || (tile.y > 0 && box.y <= float(tile.y) + slack) ||
           (tile.br().x < area.width && box.br().x >= float(tile.br().x) - slack) ||
           (tile.br().y < area.height && box.br().y >= float(tile.br().y) - slack);
}

} // namespace

bool UsesTiles(cv::Size imageSize, const NetLayout& layout)
{
    if (layout.tileScale <= 0.0)
        return false;
    const double longer = std::max(imageSize.width, imageSize.height) * layout.tileScale;
    return longer > kTileFactor * layout.inputSize;
}

cv::Size ScaledSize(cv::Size imageSize, double scale)
{
    return cv::Size(std::max(1, int(std::lround(imageSize.width * scale))),
                    std::max(1, int(std::lround(imageSize.height * scale))));
}

int Overlap(int tile)
{
    return int(std::ceil(kOverlapShare * tile));
}

std::vector<cv::Rect> TileRects(cv::Size area, int tile, int overlap)
{
    std::vector<cv::Rect> tiles;
    for (const int y : Starts(area.height, tile, overlap))
    {
        for (const int x : Starts(area.width, tile, overlap))
            tiles.emplace_back(x, y, tile, tile);
    }
    return tiles;
}

double MinRegionArea(cv::Size imageSize, const NetLayout& layout)
{
    if (UsesTiles(imageSize, layout))
        return kMinInputArea / (layout.tileScale * layout.tileScale);
    return kMinInputArea * double(imageSize.area()) / (double(layout.inputSize) * layout.inputSize);
}

LogitStitcher::LogitStitcher(cv::Size area, int channels) : m_count(cv::Mat::zeros(area, CV_32F))
{
    for (int c = 0; c < channels; ++c)
        m_sums.push_back(cv::Mat::zeros(area, CV_32F));
}

void LogitStitcher::Add(const cv::Rect& tile, const float* planes)
{
    const size_t plane = size_t(tile.area());
    for (size_t c = 0; c < m_sums.size(); ++c)
    {
        const cv::Mat logits(tile.size(), CV_32F, const_cast<float*>(planes + c * plane));
        m_sums[c](tile) += logits;
    }
    m_count(tile) += 1.0f;
}

cv::Mat LogitStitcher::Labels(cv::Mat* probability) const
{
    const cv::Size area = m_count.size();
    cv::Mat labels(area, CV_8U);
    if (probability)
        probability->create(area, CV_32F);
    std::vector<const float*> rows(m_sums.size());
    for (int y = 0; y < area.height; ++y)
    {
        for (size_t c = 0; c < m_sums.size(); ++c)
            rows[c] = m_sums[c].ptr<float>(y);
        const float* count = m_count.ptr<float>(y);
        for (int x = 0; x < area.width; ++x)
        {
            // The mean's arg max is the sum's: the count divides every channel alike.
            size_t best = 0;
            for (size_t c = 1; c < rows.size(); ++c)
            {
                if (rows[c][x] > rows[best][x])
                    best = c;
            }
            labels.at<uint8_t>(y, x) = uint8_t(best);
            if (!probability)
                continue;
            const float n = std::max(count[x], 1.0f);
            double sum = 0.0;
            for (size_t c = 0; c < rows.size(); ++c)
                sum += std::exp(double(rows[c][x] - rows[best][x]) / n);
            probability->at<float>(y, x) = float(1.0 / sum);
        }
    }
    return labels;
}

std::vector<Box> JoinTileBoxes(const std::vector<Box>& boxes, const std::vector<cv::Rect>& tileOf,
                               cv::Size area, float nmsIou, size_t maxBoxes)
{
    struct Item
    {
        Box box;
        size_t tile;
        bool cut;
    };
    std::vector<Item> items;
    for (size_t i = 0; i < boxes.size(); ++i)
        items.push_back({boxes[i], i, CutByTile(boxes[i].rect, tileOf[i], area)});
    const auto sameTile = [&tileOf](const Item& a, const Item& b)
    { return tileOf[a.tile] == tileOf[b.tile]; };
    // A cut box that another tile's box of its class mostly covers is that defect's part.
    std::vector<Item> whole;
    for (const Item& item : items)
    {
        const bool covered =
            item.cut &&
            std::any_of(items.begin(), items.end(),
                        [&](const Item& other)
                        {
                            return &other != &item && !sameTile(other, item) &&
                                   other.box.cls == item.box.cls &&
                                   other.box.rect.area() > item.box.rect.area() &&
                                   (other.box.rect & item.box.rect).area() >= 0.6f * item.box.rect.area();
                        });
        if (!covered)
            whole.push_back(item);
    }
    // A cut part of a defect larger than the overlap joins what the neighbouring tiles saw of it; only
    // cut boxes are compared with all, so that a large image's many boxes stay cheap.
    std::vector<size_t> group(whole.size());
    std::iota(group.begin(), group.end(), size_t(0));
    const std::function<size_t(size_t)> root = [&group, &root](size_t i)
    { return group[i] == i ? i : group[i] = root(group[i]); };
    for (size_t i = 0; i < whole.size(); ++i)
    {
        for (size_t j = 0; whole[i].cut && j < whole.size(); ++j)
        {
            const Item& a = whole[i];
            const Item& b = whole[j];
            if (i != j && !sameTile(a, b) && a.box.cls == b.box.cls &&
                (a.box.rect & b.box.rect).area() > 0.0f)
                group[root(j)] = root(i);
        }
    }
    std::vector<Item> joined;
    std::vector<size_t> slot(whole.size(), whole.size());
    for (size_t i = 0; i < whole.size(); ++i)
    {
        const size_t r = root(i);
        if (slot[r] == whole.size())
        {
            slot[r] = joined.size();
            joined.push_back(whole[i]);
            continue;
        }
        Box& box = joined[slot[r]].box;
        box.rect = box.rect | whole[i].box.rect;
        box.score = std::max(box.score, whole[i].box.score);
    }
    whole.swap(joined);
    std::stable_sort(whole.begin(), whole.end(),
                     [](const Item& a, const Item& b) { return a.box.score > b.box.score; });
    // A long scratch can raise two peaks: keep the stronger of boxes that mostly cover each other.
    std::vector<Box> kept;
    for (const Item& item : whole)
    {
        const bool suppressed =
            std::any_of(kept.begin(), kept.end(),
                        [&item, nmsIou](const Box& k)
                        { return k.cls == item.box.cls && Iou(k.rect, item.box.rect) > nmsIou; });
        if (!suppressed && kept.size() < maxBoxes)
            kept.push_back(item.box);
    }
    return kept;
}

} // namespace trainsvc::tiling
