#include "ComLib/SeededShuffle.h"

#include <random>

namespace comlib
{

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

QVector<int> SeededShuffle(int n, quint32 seed)
{
    QVector<int> order(qMax(n, 0));
    for (int i = 0; i < order.size(); ++i)
        order[i] = i;
    std::mt19937 engine(seed);
    for (int i = order.size() - 1; i > 0; --i)
        std::swap(order[i], order[int(Below(engine, quint32(i) + 1))]);
    return order;
}

} // namespace comlib
