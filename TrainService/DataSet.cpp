#include "TrainService/DataSet.h"

#include "Nexil/ImageFiles.h"

#include "ComLib/SeededShuffle.h"
#include "TrainService/Raster.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtDebug>

#include <algorithm>
#include <cmath>

using trainsvc::Sample;
using trainsvc::Shape;

QStringList DataSet::ImageFiles(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, ::ImageFiles::NameFilters(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir::cleanPath(it.next()));
    // Directory order differs between file systems; the split must not.
    files.sort();
    return files;
}

bool DataSet::ReadAnnotation(const QString& jsonPath, const QStringList& classes, Sample& sample,
                             int& unknownTitles)
{
    QFile file(jsonPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (!doc.isObject())
        return false;
    sample.shapes.clear();
    for (const QJsonValue& value : doc.object().value(QLatin1String("shapes")).toArray())
    {
        const QJsonObject object = value.toObject();
        const QString label = object.value(QLatin1String("label")).toString();
        const int cls = int(classes.indexOf(label));
        if (cls < 0)
        {
            ++unknownTitles;
            qInfo().noquote() << "ignored title" << label << "in" << jsonPath;
            continue;
        }
        Shape shape;
        shape.cls = cls;
        shape.rect = object.value(QLatin1String("shape_type")).toString() == QLatin1String("rectangle");
        for (const QJsonValue& point : object.value(QLatin1String("points")).toArray())
        {
            const QJsonArray xy = point.toArray();
            if (xy.size() >= 2)
                shape.points.emplace_back(float(xy.at(0).toDouble()), float(xy.at(1).toDouble()));
        }
        if (shape.points.size() >= (shape.rect ? 2u : 3u))
            sample.shapes.push_back(std::move(shape));
    }
    return true;
}

void DataSet::Load(const QString& folder, const QStringList& classes)
{
    m_samples.clear();
    m_skipped = 0;
    m_unknownTitles = 0;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QDir root(folder);
    for (const QString& image : ImageFiles(folder))
    {
        const QString jsonPath = ::ImageFiles::AnnotationPath(image);
        if (!QFileInfo::exists(jsonPath))
            continue;
        Sample sample;
        sample.imagePath = image.toStdString();
        if (!ReadAnnotation(jsonPath, classes, sample, m_unknownTitles))
        {
            ++m_skipped;
            qWarning().noquote() << "skipped image with unreadable annotation file" << jsonPath;
            continue;
        }
        sample.imageSize = trainsvc::raster::ReadImage(sample.imagePath).size();
        if (sample.imageSize.empty())
        {
            ++m_skipped;
            qWarning().noquote() << "skipped unreadable image" << image;
            continue;
        }
        QFile annotation(jsonPath);
        const QByteArray annotationBytes =
            annotation.open(QIODevice::ReadOnly) ? annotation.readAll() : QByteArray();
        // Lengths first, so that no two different lists hash the same bytes.
        const QByteArray relative = root.relativeFilePath(image).toUtf8();
        hash.addData(QByteArray::number(relative.size()) + ':' + relative);
        hash.addData(':' + QByteArray::number(QFileInfo(image).size()));
        hash.addData(':' + QByteArray::number(annotationBytes.size()) + ':' + annotationBytes);
        m_samples.push_back(std::move(sample));
    }
    m_fingerprint = QString::fromLatin1(hash.result().toHex());
}

void DataSet::Split(double trainPercent, unsigned seed, std::vector<Sample>& train,
                    std::vector<Sample>& val) const
{
    const QVector<int> order = comlib::SeededShuffle(int(m_samples.size()), seed);
    size_t trainCount = size_t(std::lround(trainPercent * double(order.size())));
    if (order.size() >= 2)
        trainCount = std::clamp<size_t>(trainCount, 1, order.size() - 1);
    train.clear();
    val.clear();
    for (int i = 0; i < order.size(); ++i)
        (size_t(i) < trainCount ? train : val).push_back(m_samples[size_t(order[i])]);
}
