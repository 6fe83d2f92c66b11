#include "ImageOrder.h"

#include <QDir>
#include <QFileInfo>

namespace
{
// Below every character of a name: a folder's own path sorts before any longer name beside it, and
// a digit run before letters and punctuation.
constexpr ushort kSeparator = 1;
constexpr ushort kNumberMark = 2;
constexpr QChar kPartEnd = QChar(0);
} // namespace

QString ImageOrder::SortKey(const QString& path)
{
    const QString folded = path.toCaseFolded();
    QString key;
    key.reserve(2 * path.size() + 8);
    for (int i = 0; i < folded.size();)
    {
        if (folded.at(i) == QLatin1Char('/'))
        {
            key.append(QChar(kSeparator));
            ++i;
            continue;
        }
        if (!folded.at(i).isDigit())
        {
            key.append(folded.at(i++));
            continue;
        }
        int end = i;
        while (end < folded.size() && folded.at(end).isDigit())
            ++end;
        int first = i;
        // Leading zeros do not change a number's value; its length then orders by magnitude.
        while (first < end - 1 && folded.at(first) == QLatin1Char('0'))
            ++first;
        key.append(QChar(kNumberMark));
        key.append(QChar(ushort(end - first + 1)));
        key.append(folded.midRef(first, end - first));
        i = end;
    }
    key.append(kPartEnd);
    key.append(path);
    return key;
}

QString ImageOrder::PathKey(const QString& path)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
#ifdef Q_OS_WIN
    return clean.toCaseFolded();
#else
    return clean;
#endif
}
