#pragma once

#include "ComLib/Service/ServiceProtocol.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Two versions tested on the same labelled set, class by class: the images the later one fixes (wrong
// before, right now) and breaks (right before, wrong now). An image is wrong in a class when the class
// is missed or falsely found there at the version's threshold. Classes are matched by name; a class one
// of the versions does not know is left out.
class VersionComparison
{
public:
    struct ClassChange
    {
        QString name;
        QStringList fixed;
        QStringList broken;

        int Net() const { return int(fixed.size() - broken.size()); }
    };

    // False with the reason when the two were not tested on the same images with the same truth.
    static bool Compare(const comlib::protocol::TestSummary& before, const QVector<double>& beforeThresholds,
                        const comlib::protocol::TestSummary& after, const QVector<double>& afterThresholds,
                        QVector<ClassChange>& changes, QString& error);
};
