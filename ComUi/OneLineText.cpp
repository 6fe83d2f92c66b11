#include "OneLineText.h"

QString OneLineText(const QString& text)
{
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    for (const QChar lineBreak :
         {QChar('\n'), QChar('\r'), QChar(QChar::LineSeparator), QChar(QChar::ParagraphSeparator)})
        line.replace(lineBreak, QLatin1Char(' '));
    return line;
}
