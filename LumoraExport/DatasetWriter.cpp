#include "LumoraExport/DatasetWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

DatasetWriter::DatasetWriter(const Setup& setup) : m_setup(setup) {}

DatasetWriter::~DatasetWriter() = default;

QString DatasetWriter::PartName(DatasetPart part)
{
    return part == DatasetPart::Train ? QStringLiteral("train") : QStringLiteral("val");
}

bool DatasetWriter::WriteFile(const QString& relativePath, const QByteArray& bytes)
{
    const QString path = m_setup.root + "/" + relativePath;
    QFile file(path);
    const bool written = MakeDir(QFileInfo(relativePath).path()) && file.open(QIODevice::WriteOnly) &&
                         file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (written && file.error() == QFileDevice::NoError)
        return true;
    m_failedPath = path;
    return false;
}

bool DatasetWriter::MakeDir(const QString& relativePath)
{
    // A file per image goes into a few folders; asking the file system each time costs as much as
    // writing the file.
    if (m_madeDirs.contains(relativePath))
        return true;
    if (QDir().mkpath(m_setup.root + "/" + relativePath))
    {
        m_madeDirs.insert(relativePath);
        return true;
    }
    m_failedPath = m_setup.root + "/" + relativePath;
    return false;
}
