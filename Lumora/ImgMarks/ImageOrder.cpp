#include "ImageOrder.h"

#include <QDir>
#include <QFileInfo>

namespace
{
// Below every character of a file name, so a digit run sorts before letters and punctuation.
constexpr ushort kNumberMark = 1;
constexpr QChar kPartEnd = QChar(0);
} // namespace

QString ImageOrder::SortKey(const QString& fileName, const QString& path)
{
    const QString folded = fileName.toCaseFolded();
    QString key;
    key.reserve(folded.size() + fileName.size() + path.size() + 8);
    for (int i = 0; i < folded.size();)
    {
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
    key.append(fileName);
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
