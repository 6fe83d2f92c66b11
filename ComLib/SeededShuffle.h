#pragma once

#include <QVector>
#include <QtGlobal>

namespace comlib
{

// 0..n-1 in an order fixed by seed on every platform and compiler. The standard library's shuffle and
// distributions are implementation-defined, so the shuffle is written out: a Fisher-Yates shuffle
// driven by std::mt19937 seeded with seed, each index j in [0, i] drawn by rejection sampling of the
// generator's 32-bit outputs.
QVector<int> SeededShuffle(int n, quint32 seed);

} // namespace comlib
