#include "LumoraExport/VocWriter.h"

#include <QRect>
#include <QXmlStreamWriter>

#include <cmath>

QString VocWriter::ImageDir(DatasetPart) const
{
    return QStringLiteral("JPEGImages");
}

QString VocWriter::AnnotationFile(const QString& stem)
{
    return "Annotations/" + stem + ".xml";
}

QRect VocWriter::PixelBox(const QRectF& box)
{
    const int left = int(std::floor(box.left())) + 1;
    const int top = int(std::floor(box.top())) + 1;
    const int right = qMax(left, int(std::ceil(box.right())));
    const int bottom = qMax(top, int(std::ceil(box.bottom())));
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

bool VocWriter::AddImage(DatasetPart part, const QString& fileName, const QString& stem, const QSize& size,
                         const QVector<ExportShape>& shapes)
{
    m_stems[int(part)].append(stem);
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement("annotation");
    xml.writeTextElement("folder", ImageDir(part));
    xml.writeTextElement("filename", fileName);
    xml.writeStartElement("source");
    xml.writeTextElement("database", m_setup.name);
    xml.writeEndElement();
    xml.writeStartElement("size");
    xml.writeTextElement("width", QString::number(size.width()));
    xml.writeTextElement("height", QString::number(size.height()));
    xml.writeTextElement("depth", "3");
    xml.writeEndElement();
    xml.writeTextElement("segmented", "0");
    for (const ExportShape& shape : shapes)
    {
        const QRect box = PixelBox(shape.Box());
        xml.writeStartElement("object");
        xml.writeTextElement("name", m_setup.categories.value(shape.Category()));
        xml.writeTextElement("pose", "Unspecified");
        xml.writeTextElement("truncated", shape.Clipped() ? "1" : "0");
        xml.writeTextElement("difficult", "0");
        xml.writeStartElement("bndbox");
        xml.writeTextElement("xmin", QString::number(box.left()));
        xml.writeTextElement("ymin", QString::number(box.top()));
        xml.writeTextElement("xmax", QString::number(box.right()));
        xml.writeTextElement("ymax", QString::number(box.bottom()));
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return WriteFile(AnnotationFile(stem), bytes);
}

bool VocWriter::Finish()
{
    const auto lines = [](const QStringList& items)
    { return items.isEmpty() ? QByteArray() : (items.join('\n') + '\n').toUtf8(); };
    const QStringList all = m_stems[0] + m_stems[1];
    return WriteFile("ImageSets/Main/train.txt", lines(m_stems[0])) &&
           (!m_setup.split || WriteFile("ImageSets/Main/val.txt", lines(m_stems[1]))) &&
           WriteFile("ImageSets/Main/trainval.txt", lines(all)) &&
           WriteFile("labels.txt", lines(m_setup.categories));
}
