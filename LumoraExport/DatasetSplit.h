#pragma once

#include <QVector>
#include <QtGlobal>

// The train/validation split of n images: the same fraction and seed give the same split on every
// platform and compiler (the order comes from comlib::SeededShuffle). The first round(n * fraction)
// indices of the shuffled order go to validation, at least one when the fraction is above 0 and there
// are two images or more, and never all of them.
class DatasetSplit
{
public:
    DatasetSplit() = delete;

    // true for the images that go to validation.
    static QVector<bool> ValidationMask(int n, double fraction, quint32 seed);
};
