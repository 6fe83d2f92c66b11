#include "ComparisonReport.h"

#include "ComLib/AtomicFile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>

namespace
{

// Thumbnails are embedded, so the report is one file; their number bounds its size.
constexpr int kMaxThumbnails = 300;
constexpr int kThumbnailSide = 96;

QString T(const char* text)
{
    return QCoreApplication::translate("ComparisonReport", text);
}

QString CsvField(const QString& text)
{
    // A leading "=", "+", "-" or "@" would be run as a formula by a spreadsheet.
    QString field = text;
    if (!field.isEmpty() && QStringLiteral("=+-@").contains(field.at(0)))
        field.prepend(QLatin1Char('\''));
    if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
        field.contains(QLatin1Char('\n')))
        field = QLatin1Char('"') + field.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return field;
}

QString CsvLine(const QStringList& fields)
{
    QStringList quoted;
    for (const QString& field : fields)
        quoted.append(CsvField(field));
    return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString ThresholdText(const ComparisonReport::Version& version)
{
    QStringList parts;
    for (int i = 0; i < version.classes.size(); ++i)
        parts.append(
            QStringLiteral("%1 %2").arg(version.classes.at(i)).arg(version.thresholds.value(i), 0, 'f', 3));
    return parts.join(QStringLiteral("; "));
}

QString Thumbnail(const QString& path)
{
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid())
        reader.setScaledSize(size.scaled(kThumbnailSide, kThumbnailSide, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (image.isNull())
        return QString();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    return QStringLiteral("data:image/jpeg;base64,") + QString::fromLatin1(bytes.toBase64());
}

} // namespace

bool ComparisonReport::Write(const QString& path, QString& error) const
{
    const bool html = path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive) ||
                      path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive);
    return comlib::WriteFileAtomically(path, html ? Html(kMaxThumbnails) : Csv(), error);
}

QByteArray ComparisonReport::Csv() const
{
    QString text;
    text += CsvLine({T("测试集"), testSet.name, QString::number(testSet.images), testSet.fingerprint});
    for (const Pair& pair : pairs)
    {
        text += CsvLine({T("版本"), pair.before.name, ThresholdText(pair.before)});
        text += CsvLine({T("版本"), pair.after.name, ThresholdText(pair.after)});
    }
    text += CsvLine({T("对比"), T("类别"), T("修复"), T("破坏"), T("净变化")});
    for (const Pair& pair : pairs)
    {
        const QString title = pair.before.name + QStringLiteral(" -> ") + pair.after.name;
        for (const auto& change : pair.changes)
            text += CsvLine({title, change.name, QString::number(change.fixed.size()),
                             QString::number(change.broken.size()), QString::number(change.Net())});
    }
    text += CsvLine({T("对比"), T("类别"), T("结果"), T("图片")});
    for (const Pair& pair : pairs)
    {
        const QString title = pair.before.name + QStringLiteral(" -> ") + pair.after.name;
        for (const auto& change : pair.changes)
        {
            for (const QString& image : change.fixed)
                text += CsvLine({title, change.name, T("修复"), image});
            for (const QString& image : change.broken)
                text += CsvLine({title, change.name, T("破坏"), image});
        }
    }
    // The mark tells spreadsheets the text is UTF-8.
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QByteArray ComparisonReport::Html(int maxThumbnails) const
{
    int thumbnails = 0;
    const auto cell = [&](const QString& image)
    {
        QString html = QStringLiteral("<div class=\"img\">");
        const QString data = thumbnails < maxThumbnails ? Thumbnail(image) : QString();
        if (!data.isEmpty())
        {
            ++thumbnails;
            html += QStringLiteral("<img src=\"%1\" alt=\"\"><br>").arg(data);
        }
        return html + image.toHtmlEscaped() + QStringLiteral("</div>");
    };

    QString html = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title>"
                                  "<style>body{font-family:sans-serif}table{border-collapse:collapse}"
                                  "td,th{border:1px solid #ccc;padding:4px 8px}.img{display:inline-block;"
                                  "width:120px;margin:4px;font-size:11px;word-break:break-all}</style>"
                                  "</head><body>\n")
                       .arg(T("版本对比").toHtmlEscaped());
    html += QStringLiteral("<h1>%1</h1>\n<p>%2</p>\n")
                .arg(T("版本对比").toHtmlEscaped(), T("测试集：%1，%2 张，指纹 %3")
                                                        .arg(testSet.name)
                                                        .arg(testSet.images)
                                                        .arg(testSet.fingerprint)
                                                        .toHtmlEscaped());
    for (const Pair& pair : pairs)
    {
        html +=
            QStringLiteral("<h2>%1 → %2</h2>\n<p>%3<br>%4</p>\n")
                .arg(pair.before.name.toHtmlEscaped(), pair.after.name.toHtmlEscaped(),
                     (pair.before.name + QStringLiteral("：") + ThresholdText(pair.before)).toHtmlEscaped(),
                     (pair.after.name + QStringLiteral("：") + ThresholdText(pair.after)).toHtmlEscaped());
        html += QStringLiteral("<table><tr><th>%1</th><th>%2</th><th>%3</th><th>%4</th></tr>\n")
                    .arg(T("类别"), T("修复"), T("破坏"), T("净变化"));
        for (const auto& change : pair.changes)
            html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\n")
                        .arg(change.name.toHtmlEscaped())
                        .arg(change.fixed.size())
                        .arg(change.broken.size())
                        .arg(change.Net());
        html += QStringLiteral("</table>\n");
        for (const auto& change : pair.changes)
        {
            const QList<QPair<QString, const QStringList*>> kinds{
                {T("修复（之前错，现在对）"), &change.fixed}, {T("破坏（之前对，现在错）"), &change.broken}};
            for (const auto& kind : kinds)
            {
                if (kind.second->isEmpty())
                    continue;
                html += QStringLiteral("<h3>%1 · %2</h3>\n").arg(change.name.toHtmlEscaped(), kind.first);
                for (const QString& image : *kind.second)
                    html += cell(image);
                html += QLatin1Char('\n');
            }
        }
    }
    html += QStringLiteral("</body></html>\n");
    return html.toUtf8();
}
