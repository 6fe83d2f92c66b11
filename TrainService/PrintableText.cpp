#include "TrainService/PrintableText.h"

namespace trainsvc
{

QString Printable(const QString& text, int maxChars)
{
    QString out;
    out.reserve(qMin(int(text.size()), maxChars) + 16);
    int used = 0;
    for (; used < text.size() && out.size() < maxChars; ++used)
    {
        const QChar c = text.at(used);
        const ushort u = c.unicode();
        if (u == '\n')
            out += QLatin1String("\\n");
        else if (u == '\r')
            out += QLatin1String("\\r");
        else if (u == '\t')
            out += QLatin1String("\\t");
        else if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x2028 || u == 0x2029)
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    if (used < text.size())
        out += QStringLiteral("… (%1 more characters)").arg(text.size() - used);
    return out;
}

} // namespace trainsvc
