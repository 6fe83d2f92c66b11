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

QString ImageOrder::SortKeyOf(const pro::ImageInfo& img)
{
    // A key ends with the path it was made for, after the only kPartEnd in it.
    const QString& kept = img.sortKey;
    const int pathAt = kept.size() - img.path.size();
    if (pathAt > 0 && kept.at(pathAt - 1) == kPartEnd && kept.endsWith(img.path))
        return kept;
    return SortKey(img.path);
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
