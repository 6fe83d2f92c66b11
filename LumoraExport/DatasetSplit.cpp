#include "LumoraExport/DatasetSplit.h"

#include <cmath>
#include <random>

namespace
{

// Uniform in [0, bound) without the bias of a plain modulo.
quint32 Below(std::mt19937& engine, quint32 bound)
{
    const quint64 range = quint64(1) << 32;
    const quint64 limit = range - range % bound;
    quint64 value;
    do
    {
        value = engine();
    } while (value >= limit);
    return quint32(value % bound);
}

} // namespace

QVector<int> DatasetSplit::Shuffled(int n, quint32 seed)
{
    QVector<int> order(qMax(n, 0));
    for (int i = 0; i < order.size(); ++i)
        order[i] = i;
    std::mt19937 engine(seed);
    for (int i = order.size() - 1; i > 0; --i)
        std::swap(order[i], order[int(Below(engine, quint32(i) + 1))]);
    return order;
}

QVector<bool> DatasetSplit::ValidationMask(int n, double fraction, quint32 seed)
{
    QVector<bool> mask(qMax(n, 0), false);
    if (n < 2 || !(fraction > 0))
        return mask;
    const int count = qBound(1, int(std::lround(n * qMin(fraction, 1.0))), n - 1);
    const QVector<int> order = Shuffled(n, seed);
    for (int i = 0; i < count; ++i)
        mask[order[i]] = true;
    return mask;
}
