#pragma once

#include "LumoraExport/ExportShape.h"

#include <QByteArray>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

enum class DatasetPart
{
    Train,
    Val,
};

// Writes the description files of one export format under the root folder; the exporter puts the
// images where ImageDir says. A failed write leaves its path in FailedPath.
class DatasetWriter
{
public:
    struct Setup
    {
        // Where the files are written now, and the folder that will hold them in the end.
        QString root;
        QString finalDir;
        QString name;
        QStringList categories;
        // 1 segmentation, 2 object detection.
        int type = 0;
        // A validation part is written.
        bool split = false;
    };

    explicit DatasetWriter(const Setup& setup);
    virtual ~DatasetWriter();

    // Relative to the root.
    virtual QString ImageDir(DatasetPart part) const = 0;
    // fileName is the image's name in its folder, stem the same without its extension, unique in the
    // whole data set.
    virtual bool AddImage(DatasetPart part, const QString& fileName, const QString& stem, const QSize& size,
                          const QVector<ExportShape>& shapes) = 0;
    virtual bool Finish() = 0;

    const QString& FailedPath() const { return m_failedPath; }
    static QString PartName(DatasetPart part);

protected:
    // Creates the folders on the way.
    bool WriteFile(const QString& relativePath, const QByteArray& bytes);
    bool MakeDir(const QString& relativePath);

    Setup m_setup;
    QString m_failedPath;

private:
    QSet<QString> m_madeDirs;
};
