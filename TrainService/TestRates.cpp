#include "TrainService/TestRates.h"

#include "TrainService/Raster.h"

#include <algorithm>

using trainsvc::Shape;

namespace
{

bool HasClass(const std::vector<Shape>& shapes, int cls)
{
    return std::any_of(shapes.begin(), shapes.end(), [cls](const Shape& s) { return s.cls == cls; });
}

} // namespace

TestRates::TestRates(int numClasses) : m_counts(size_t(std::max(0, numClasses))) {}

void TestRates::Add(const QString& imagePath, cv::Size imageSize, const std::vector<Shape>& truth,
                    const std::vector<Shape>& predicted)
{
    bool missed = false;
    bool overkill = false;
    for (int cls = 0; cls < int(m_counts.size()); ++cls)
    {
        ClassCount& count = m_counts[size_t(cls)];
        if (HasClass(truth, cls))
        {
            ++count.withClass;
            if (!trainsvc::raster::ClassOverlaps(truth, predicted, cls, imageSize))
            {
                ++count.missed;
                missed = true;
            }
        }
        else
        {
            ++count.withoutClass;
            if (HasClass(predicted, cls))
            {
                ++count.overkill;
                overkill = true;
            }
        }
    }
    if (missed)
        m_missedImages.append(imagePath);
    if (overkill)
        m_overkillImages.append(imagePath);
}

std::vector<double> TestRates::HitScores(cv::Size imageSize, const std::vector<Shape>& truth,
                                         const std::vector<Shape>& predicted, int numClasses)
{
    std::vector<double> hits(size_t(std::max(0, numClasses)), 0.0);
    for (const Shape& shape : predicted)
    {
        if (shape.cls < 0 || shape.cls >= numClasses || shape.score <= hits[size_t(shape.cls)])
            continue;
        if (trainsvc::raster::ClassOverlaps(truth, {shape}, shape.cls, imageSize))
            hits[size_t(shape.cls)] = shape.score;
    }
    return hits;
}

std::vector<double> TestRates::MissedRates() const
{
    std::vector<double> rates;
    for (const ClassCount& c : m_counts)
        rates.push_back(c.withClass > 0 ? double(c.missed) / c.withClass : 0.0);
    return rates;
}

std::vector<double> TestRates::OverkillRates() const
{
    std::vector<double> rates;
    for (const ClassCount& c : m_counts)
        rates.push_back(c.withoutClass > 0 ? double(c.overkill) / c.withoutClass : 0.0);
    return rates;
}
