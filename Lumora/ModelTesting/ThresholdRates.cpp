#include "ThresholdRates.h"

#include <algorithm>

namespace
{

// How many of the ascending scores count as found at the threshold.
int FoundCount(const QVector<double>& scores, double threshold)
{
    // Rounding to float keeps the order, so the scores that reach the threshold are still a tail.
    const auto first = threshold > 0
                           ? std::partition_point(scores.cbegin(), scores.cend(),
                                                  [threshold](double score)
                                                  { return !ThresholdRates::Reaches(score, threshold); })
                           : std::upper_bound(scores.cbegin(), scores.cend(), 0.0);
    return int(scores.cend() - first);
}

} // namespace

ThresholdRates::ThresholdRates(const comlib::protocol::TestSummary& summary) : m_classes(summary.classes)
{
    const int classes = m_classes.size();
    m_positive.resize(classes);
    m_negative.resize(classes);
    for (const auto& image : summary.images)
    {
        if (!image.truth || image.truth->size() != classes || image.scores.size() != classes)
            continue;
        if (image.hits && image.hits->size() != classes)
            continue;
        m_images.append(image);
        for (int c = 0; c < classes; ++c)
            (image.truth->at(c) ? m_positive : m_negative)[c].append(DecidingScore(image, c));
    }
    for (int c = 0; c < classes; ++c)
    {
        std::sort(m_positive[c].begin(), m_positive[c].end());
        std::sort(m_negative[c].begin(), m_negative[c].end());
    }
}

double ThresholdRates::DecidingScore(const comlib::protocol::TestSummary::Image& image, int cls)
{
    const bool present = image.truth && image.truth->value(cls);
    return present && image.hits ? image.hits->value(cls) : image.scores.value(cls);
}

ThresholdRates::ClassRate ThresholdRates::Rate(int cls, double threshold) const
{
    ClassRate rate;
    if (cls < 0 || cls >= m_classes.size())
        return rate;
    rate.positives = m_positive.at(cls).size();
    rate.negatives = m_negative.at(cls).size();
    rate.missed = rate.positives - FoundCount(m_positive.at(cls), threshold);
    rate.overkill = FoundCount(m_negative.at(cls), threshold);
    return rate;
}

QVector<ThresholdRates::ClassRate> ThresholdRates::Rates(const QVector<double>& thresholds) const
{
    QVector<ClassRate> rates;
    rates.reserve(m_classes.size());
    for (int c = 0; c < m_classes.size(); ++c)
        rates.append(Rate(c, thresholds.value(c, 0)));
    return rates;
}

QVector<ThresholdRates::CurvePoint> ThresholdRates::Curve(int cls, int steps) const
{
    QVector<CurvePoint> points;
    for (int i = 0; i <= steps && steps > 0; ++i)
    {
        const double threshold = double(i) / steps;
        const ClassRate rate = Rate(cls, threshold);
        points.append({threshold, rate.MissedRate(), rate.OverkillRate()});
    }
    return points;
}

std::optional<double> ThresholdRates::LowestOverkill(int cls, double maxMissed) const
{
    if (cls < 0 || cls >= m_classes.size() || m_positive.at(cls).isEmpty())
        return std::nullopt;
    const QVector<double>& positive = m_positive.at(cls);
    // Rounding of a rate typed in percent must not turn 1 of 3 missed into too many.
    const double allowed = maxMissed * positive.size() + 1e-9;
    std::optional<double> chosen;
    int chosenOverkill = 0;
    // From the highest score down, each step finds at least one more image of the class: missed falls,
    // overkill rises. The first threshold meeting the limit has the lowest overkill; lower ones of the
    // same overkill miss fewer.
    for (auto it = positive.crbegin(); it != positive.crend(); ++it)
    {
        const double threshold = *it;
        if (threshold <= 0 || (chosen && threshold == *chosen))
            continue;
        const ClassRate rate = Rate(cls, threshold);
        if (!chosen)
        {
            if (rate.missed > allowed)
                continue;
            chosen = threshold;
            chosenOverkill = rate.overkill;
        }
        else if (rate.overkill == chosenOverkill)
        {
            chosen = threshold;
        }
        else
        {
            break;
        }
    }
    return chosen;
}

QVector<ThresholdRates::ImageErrors> ThresholdRates::Errors(const QVector<double>& thresholds) const
{
    QVector<ImageErrors> errors;
    for (int i = 0; i < m_images.size(); ++i)
    {
        const auto& image = m_images.at(i);
        ImageErrors wrong{i, {}, {}};
        for (int c = 0; c < m_classes.size(); ++c)
        {
            const bool found = Found(DecidingScore(image, c), thresholds.value(c, 0));
            if (image.truth->at(c) && !found)
                wrong.missed.append(c);
            else if (!image.truth->at(c) && found)
                wrong.overkill.append(c);
        }
        if (!wrong.missed.isEmpty() || !wrong.overkill.isEmpty())
            errors.append(wrong);
    }
    return errors;
}
