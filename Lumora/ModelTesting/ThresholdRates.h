#pragma once

#include "ComLib/Service/ServiceProtocol.h"

#include <QStringList>
#include <QVector>

#include <optional>

// The image-level rates of a labelled test per class at per-class thresholds, recomputed from the test
// summary without asking the service again, counted as the service counts the rates of its reply. A
// score counts when it is above 0 and reaches the class's threshold. Missed: images holding the class
// where no counted shape of it meets an annotated region of it (the row's hit score), of all images
// holding it. Overkill: images without the class where its highest score counts, of all images without
// it. Rows of the summary without truth are left out.
class ThresholdRates
{
public:
    struct ClassRate
    {
        int positives = 0;
        int negatives = 0;
        int missed = 0;
        int overkill = 0;

        // 0 without images to count.
        double MissedRate() const { return positives > 0 ? double(missed) / positives : 0; }
        double OverkillRate() const { return negatives > 0 ? double(overkill) / negatives : 0; }
    };
    struct CurvePoint
    {
        double threshold = 0;
        double missedRate = 0;
        double overkillRate = 0;
    };
    // The classes an image is wrong in at the thresholds.
    struct ImageErrors
    {
        int image = 0;
        QVector<int> missed;
        QVector<int> overkill;
    };

    ThresholdRates() = default;
    explicit ThresholdRates(const comlib::protocol::TestSummary& summary);

    // Compared in single precision, as the service compares its float scores with the saved thresholds:
    // a threshold typed as 0.7 lets a score of 0.7 through although the nearest float is below 0.7.
    static bool Reaches(double score, double threshold) { return float(score) >= float(threshold); }
    static bool Found(double score, double threshold) { return score > 0 && Reaches(score, threshold); }
    // The score that decides whether the image's row is right in cls: its hit score where the truth
    // holds cls, else its highest score.
    static double DecidingScore(const comlib::protocol::TestSummary::Image& image, int cls);

    const QStringList& Classes() const { return m_classes; }
    // The labelled images.
    int ImageCount() const { return m_images.size(); }
    const comlib::protocol::TestSummary::Image& Image(int i) const { return m_images.at(i); }

    ClassRate Rate(int cls, double threshold) const;
    // One threshold per class; a class without one counts at 0.
    QVector<ClassRate> Rates(const QVector<double>& thresholds) const;
    // The rates at steps + 1 thresholds evenly from 0 to 1.
    QVector<CurvePoint> Curve(int cls, int steps) const;
    // The threshold giving the lowest overkill with at most maxMissed (0 to 1) of the class's images
    // missed, and of equal overkill the fewest missed. Only the scores of images holding the class are
    // tried, so the class is never switched off. None when the class has no images or no threshold
    // meets maxMissed.
    std::optional<double> LowestOverkill(int cls, double maxMissed) const;
    // The images wrong in some class, in summary order.
    QVector<ImageErrors> Errors(const QVector<double>& thresholds) const;

private:
    QStringList m_classes;
    QVector<comlib::protocol::TestSummary::Image> m_images;
    // Per class, ascending: the scores of the images holding it and of the others.
    QVector<QVector<double>> m_positive;
    QVector<QVector<double>> m_negative;
};
