#include "LumoraExport/DatasetSplit.h"

#include "ComLib/SeededShuffle.h"

#include <cmath>

QVector<bool> DatasetSplit::ValidationMask(int n, double fraction, quint32 seed)
{
    QVector<bool> mask(qMax(n, 0), false);
    if (n < 2 || !(fraction > 0))
        return mask;
    const int count = qBound(1, int(std::lround(n * qMin(fraction, 1.0))), n - 1);
    const QVector<int> order = comlib::SeededShuffle(n, seed);
    for (int i = 0; i < count; ++i)
        mask[order[i]] = true;
    return mask;
}
