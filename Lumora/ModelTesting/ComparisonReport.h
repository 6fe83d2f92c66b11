#pragma once

#include "VersionComparison.h"

#include "ComLib/Service/ServiceProtocol.h"

#include <QString>
#include <QStringList>
#include <QVector>

// A report of versions compared on one test set: the set's name, image count and fingerprint, each
// version with its thresholds, and per class the images fixed and broken with the net change. Written
// as CSV for a spreadsheet or as HTML with thumbnails for a browser.
class ComparisonReport
{
public:
    struct Version
    {
        QString name;
        QStringList classes;
        QVector<double> thresholds;
    };
    struct Pair
    {
        Version before;
        Version after;
        QVector<VersionComparison::ClassChange> changes;
    };

    comlib::protocol::ClassThresholds::TestSet testSet;
    QVector<Pair> pairs;

    // HTML for a path ending in ".html" or ".htm", CSV otherwise. False with the reason.
    bool Write(const QString& path, QString& error) const;
    QByteArray Csv() const;
    // At most maxThumbnails images get a thumbnail, the rest their path only.
    QByteArray Html(int maxThumbnails) const;
};
