#include "LumoraExport/YoloWriter.h"

#include "Nexil/ProInfo.h"

#include <QDir>

namespace
{

QString Normalised(double value, double extent)
{
    return QString::number(qBound(0.0, value / extent, 1.0), 'f', 6);
}

} // namespace

QString YoloWriter::ImageDir(DatasetPart part) const
{
    return "images/" + PartName(part);
}

QString YoloWriter::LabelFile(DatasetPart part, const QString& stem)
{
    return "labels/" + PartName(part) + "/" + stem + ".txt";
}

QString YoloWriter::Quoted(const QString& text)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : text)
    {
        if (c == '"' || c == '\\')
            quoted += QChar('\\');
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            quoted += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar('0'));
        else
            quoted += c;
    }
    return quoted + "\"";
}

bool YoloWriter::AddImage(DatasetPart part, const QString&, const QString& stem, const QSize& size,
                          const QVector<ExportShape>& shapes)
{
    const double width = size.width();
    const double height = size.height();
    QString text;
    for (const ExportShape& shape : shapes)
    {
        QStringList fields{QString::number(shape.Category())};
        if (m_setup.type == pro::kSegmentProject)
        {
            for (const QPointF& p : shape.Polygon())
                fields << Normalised(p.x(), width) << Normalised(p.y(), height);
        }
        else
        {
            const QRectF& box = shape.Box();
            fields << Normalised(box.center().x(), width) << Normalised(box.center().y(), height)
                   << Normalised(box.width(), width) << Normalised(box.height(), height);
        }
        text += fields.join(' ') + "\n";
    }
    return WriteFile(LabelFile(part, stem), text.toUtf8());
}

bool YoloWriter::Finish()
{
    const QString val = m_setup.split ? ImageDir(DatasetPart::Val) : ImageDir(DatasetPart::Train);
    QString text = "# " + m_setup.name.simplified() + "\n";
    text += "path: " + Quoted(QDir::cleanPath(m_setup.finalDir)) + "\n";
    text += "train: " + ImageDir(DatasetPart::Train) + "\n";
    text += "val: " + val + "\n";
    text += "nc: " + QString::number(m_setup.categories.size()) + "\n";
    text += m_setup.categories.isEmpty() ? "names: {}\n" : "names:\n";
    for (int i = 0; i < m_setup.categories.size(); ++i)
        text += QStringLiteral("  %1: %2\n").arg(i).arg(Quoted(m_setup.categories[i]));
    return MakeDir("labels/" + PartName(DatasetPart::Train)) && WriteFile("data.yaml", text.toUtf8());
}
