#include "TrainService/Raster.h"

#include "Nexil/ImageDecode.h"

#include <QByteArray>
#include <QFile>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

namespace trainsvc::raster
{

namespace
{

// Sub-pixel precision of the filled outlines.
constexpr int kShift = 4;
constexpr double kOne = 1 << kShift;
// Overlap tests run on at most this many pixels per side.
constexpr int kOverlapSide = 512;

std::vector<cv::Point> Scaled(const std::vector<cv::Point2f>& points, double sx, double sy)
{
    std::vector<cv::Point> out;
    out.reserve(points.size());
    for (const cv::Point2f& p : points)
        out.emplace_back(cvRound(p.x * sx * kOne), cvRound(p.y * sy * kOne));
    return out;
}

void DrawShape(cv::Mat& target, const Shape& shape, double sx, double sy, int value)
{
    if (shape.points.size() < 2)
        return;
    if (shape.rect)
    {
        const cv::Point2f a = shape.points[0];
        const cv::Point2f b = shape.points[1];
        const cv::Point tl(cvRound(std::min(a.x, b.x) * sx), cvRound(std::min(a.y, b.y) * sy));
        const cv::Point br(cvRound(std::max(a.x, b.x) * sx), cvRound(std::max(a.y, b.y) * sy));
        // A defect thinner than a pixel at this scale still marks one.
        const cv::Rect area(tl, cv::Size(std::max(1, br.x - tl.x), std::max(1, br.y - tl.y)));
        cv::rectangle(target, area, cv::Scalar(value), cv::FILLED);
        return;
    }
    const std::vector<std::vector<cv::Point>> polys{Scaled(shape.points, sx, sy)};
    cv::fillPoly(target, polys, cv::Scalar(value), cv::LINE_8, kShift);
}

cv::Mat ClassMask(const std::vector<Shape>& shapes, int cls, cv::Size imageSize, cv::Size side)
{
    cv::Mat mask = cv::Mat::zeros(side, CV_8U);
    const double sx = double(side.width) / imageSize.width;
    const double sy = double(side.height) / imageSize.height;
    for (const Shape& shape : shapes)
    {
        if (shape.cls == cls)
            DrawShape(mask, shape, sx, sy, 255);
    }
    return mask;
}

// The highest value of values on the pixels of classMask inside contour.
float RegionMax(const cv::Mat& values, const cv::Mat& classMask, const std::vector<cv::Point>& contour)
{
    const cv::Rect box = cv::boundingRect(contour);
    cv::Mat inside = cv::Mat::zeros(box.size(), CV_8U);
    cv::drawContours(inside, std::vector<std::vector<cv::Point>>{contour}, 0, cv::Scalar(255), cv::FILLED,
                     cv::LINE_8, cv::noArray(), INT_MAX, -box.tl());
    inside &= classMask(box);
    double best = 0.0;
    cv::minMaxLoc(values(box), nullptr, &best, nullptr, nullptr, inside);
    return float(std::clamp(best, 0.0, 1.0));
}

} // namespace

cv::Mat ReadImage(const std::string& path, const IntensityWindow& window)
{
    cv::Mat image = ImageDecode::Read(QFile::decodeName(QByteArray::fromStdString(path)),
                                      cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
    if (image.empty())
        return image;
    if (image.depth() != CV_8U)
    {
        // By default the window the program's canvas starts at, 0.5 % to 99.5 % of the samples: the
        // network sees what the operator saw, not the high byte of a 12-bit value.
        cv::Mat samples;
        image.reshape(1, 1).convertTo(samples, CV_32F);
        std::vector<float> values(samples.begin<float>(), samples.end<float>());
        const size_t last = values.size() - 1;
        const double lowQ = std::clamp(window.low, 0.0, 1.0);
        const double highQ = std::clamp(window.high, lowQ, 1.0);
        const auto lowAt = values.begin() + long(std::floor(lowQ * double(last)));
        const auto highAt = values.begin() + long(std::ceil(highQ * double(last)));
        std::nth_element(values.begin(), lowAt, values.end());
        double low = *lowAt;
        std::nth_element(values.begin(), highAt, values.end());
        double high = *highAt;
        // As on the canvas: a flat picture with a few outliers shows the outliers, a constant one
        // keeps its place in the range of its type.
        if (high <= low)
            cv::minMaxLoc(samples, &low, &high);
        if (high > low)
        {
            image.convertTo(image, CV_8U, 255.0 / (high - low), -low * 255.0 / (high - low));
        }
        else
        {
            image.convertTo(image, CV_8U, image.depth() == CV_16U ? 1.0 / 257 : 1.0);
        }
    }
    if (image.channels() == 1)
        cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
    else if (image.channels() == 4)
        cv::cvtColor(image, image, cv::COLOR_BGRA2BGR);
    return image;
}

cv::Mat ResizeInput(const cv::Mat& image, int size)
{
    cv::Mat out;
    cv::resize(image, out, cv::Size(size, size), 0, 0, cv::INTER_AREA);
    return out;
}

cv::Mat RasterMask(const std::vector<Shape>& shapes, cv::Size imageSize, int size)
{
    return RasterMask(shapes, imageSize, cv::Size(size, size));
}

cv::Mat RasterMask(const std::vector<Shape>& shapes, cv::Size imageSize, cv::Size target)
{
    cv::Mat labels = cv::Mat::zeros(target, CV_8U);
    if (imageSize.empty())
        return labels;
    const double sx = double(target.width) / imageSize.width;
    const double sy = double(target.height) / imageSize.height;
    for (const Shape& shape : shapes)
        DrawShape(labels, shape, sx, sy, shape.cls + 1);
    return labels;
}

std::vector<Box> ShapeBoxes(const std::vector<Shape>& shapes, cv::Size imageSize, int size)
{
    return ShapeBoxes(shapes, imageSize, cv::Size(size, size));
}

std::vector<Box> ShapeBoxes(const std::vector<Shape>& shapes, cv::Size imageSize, cv::Size target)
{
    std::vector<Box> boxes;
    if (imageSize.empty())
        return boxes;
    const float sx = float(target.width) / imageSize.width;
    const float sy = float(target.height) / imageSize.height;
    const cv::Rect2f square(0.0f, 0.0f, float(target.width), float(target.height));
    for (const Shape& shape : shapes)
    {
        if (shape.points.size() < 2)
            continue;
        float x0 = shape.points[0].x, x1 = x0, y0 = shape.points[0].y, y1 = y0;
        for (const cv::Point2f& p : shape.points)
        {
            x0 = std::min(x0, p.x);
            x1 = std::max(x1, p.x);
            y0 = std::min(y0, p.y);
            y1 = std::max(y1, p.y);
        }
        const cv::Rect2f rect = cv::Rect2f(x0 * sx, y0 * sy, (x1 - x0) * sx, (y1 - y0) * sy) & square;
        if (rect.width > 0.0f && rect.height > 0.0f)
            boxes.push_back({shape.cls, 1.0f, rect});
    }
    return boxes;
}

std::vector<Shape> MaskToShapes(const cv::Mat& labels, double minArea, const cv::Mat& probability)
{
    std::vector<Shape> shapes;
    double maxLabel = 0.0;
    cv::minMaxLoc(labels, nullptr, &maxLabel);
    for (int value = 1; value <= int(maxLabel); ++value)
    {
        const cv::Mat classMask = labels == value;
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(classMask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        for (const std::vector<cv::Point>& contour : contours)
        {
            if (cv::contourArea(contour) < minArea)
                continue;
            std::vector<cv::Point> poly;
            cv::approxPolyDP(contour, poly, 1.0, true);
            if (poly.size() < 3)
                continue;
            Shape shape;
            shape.cls = value - 1;
            for (const cv::Point& p : poly)
                shape.points.emplace_back(float(p.x), float(p.y));
            if (!probability.empty())
                shape.score = RegionMax(probability, classMask, contour);
            shapes.push_back(std::move(shape));
        }
    }
    return shapes;
}

std::vector<Shape> BoxesToShapes(const std::vector<Box>& boxes)
{
    std::vector<Shape> shapes;
    for (const Box& box : boxes)
        shapes.push_back({box.cls, true, {box.rect.tl(), box.rect.br()}, box.score});
    return shapes;
}

bool ClassOverlaps(const std::vector<Shape>& a, const std::vector<Shape>& b, int cls, cv::Size imageSize)
{
    if (imageSize.empty())
        return false;
    const double scale = std::min(1.0, double(kOverlapSide) / std::max(imageSize.width, imageSize.height));
    const cv::Size side(std::max(1, cvRound(imageSize.width * scale)),
                        std::max(1, cvRound(imageSize.height * scale)));
    const cv::Mat both = ClassMask(a, cls, imageSize, side) & ClassMask(b, cls, imageSize, side);
    return cv::countNonZero(both) > 0;
}

} // namespace trainsvc::raster
