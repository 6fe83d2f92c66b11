#pragma once

#include <QVector>
#include <QtGlobal>

// The train/validation split of n images: the same fraction and seed give the same split on every
// platform and compiler. The standard library's shuffle and distributions are implementation-defined,
// so the shuffle is written out: a Fisher-Yates shuffle of 0..n-1 driven by std::mt19937 seeded with
// the seed, each index j in [0, i] drawn by rejection sampling of the generator's 32-bit outputs.
// The first round(n * fraction) indices of the shuffled order go to validation, at least one when the
// fraction is above 0 and there are two images or more, and never all of them.
class DatasetSplit
{
public:
    DatasetSplit() = delete;

    // true for the images that go to validation.
    static QVector<bool> ValidationMask(int n, double fraction, quint32 seed);
    // 0..n-1 in shuffled order.
    static QVector<int> Shuffled(int n, quint32 seed);
};
