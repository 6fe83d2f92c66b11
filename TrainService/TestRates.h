#pragma once

#include "TrainService/SampleTypes.h"

#include <QString>
#include <QStringList>

#include <vector>

// Image-level rates of a labelled test, per class c:
//   missed rate of c   = images whose truth has c and whose prediction has no region of c overlapping
//                        a truth region of c / images whose truth has c;
//   overkill rate of c = images whose truth has no c but whose prediction has c / images whose truth
//                        has no c.
// A rate whose denominator is zero is 0.
class TestRates
{
public:
    explicit TestRates(int numClasses);

    void Add(const QString& imagePath, cv::Size imageSize, const std::vector<trainsvc::Shape>& truth,
             const std::vector<trainsvc::Shape>& predicted);

    // Per class, the highest score of the predicted shapes of the class that overlap its truth, 0 where
    // none does: the class is found (not missed) at every threshold up to that score.
    static std::vector<double> HitScores(cv::Size imageSize, const std::vector<trainsvc::Shape>& truth,
                                         const std::vector<trainsvc::Shape>& predicted, int numClasses);

    std::vector<double> MissedRates() const;
    std::vector<double> OverkillRates() const;
    // Images missed or overkilled for at least one class, each once, in the order added.
    const QStringList& MissedImages() const { return m_missedImages; }
    const QStringList& OverkillImages() const { return m_overkillImages; }

private:
    struct ClassCount
    {
        int withClass = 0;
        int missed = 0;
        int withoutClass = 0;
        int overkill = 0;
    };
    std::vector<ClassCount> m_counts;
    QStringList m_missedImages;
    QStringList m_overkillImages;
};
