#pragma once

#include "ComLib/Service/ServiceProtocol.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QString>
#include <QVector>

// The trained versions of a project, read from what the service left in its run folders: each
// version's model record (settings, images per class, losses per epoch) and how long it took on this
// machine, which gives the time per epoch of each fineness level.
class VersionHistory
{
    Q_DECLARE_TR_FUNCTIONS(VersionHistory)

public:
    struct Version
    {
        // The run folder's name ("V" and the start time) and path.
        QString name;
        QString dir;
        QDateTime started;
        comlib::protocol::ModelRecord record;
        // From the start to the model's record being written; -1 when unknown.
        qint64 seconds = -1;
    };

    // A record is a few kilobytes plus its validation image list, a few megabytes for a large project;
    // a far larger file is no record of ours.
    static constexpr qint64 kMaxRecordBytes = 64 * 1024 * 1024;

    // The model record of the run folder versionDir: a real model folder holding a regular
    // Config.json, links not followed; false when there is none or it does not read as a record.
    static bool ReadRecord(const QString& versionDir, comlib::protocol::ModelRecord& record);

    // The versions below projectDir/train, newest first. Only real folders named like a run, each with a
    // regular model/Config.json that reads as a model record, are taken; links are not followed.
    static QVector<Version> Scan(const QString& projectDir);
    // The epochs the version trained: its losses per epoch, else its setting.
    static int EpochsOf(const Version& version);
    // -1 when the duration or the epochs are unknown.
    static double SecondsPerEpoch(const Version& version);
    // One line for a list: start time, epochs, fineness and the final validation loss when known.
    static QString Title(const Version& version);
    // What the version was trained with and how it ended, on a few lines; absent parts are left out.
    static QString Details(const Version& version);
    // The time per epoch of a fineness level for imageCount images: measured on the newest version of
    // that level, else scaled from the newest measured version by the network's size and the image
    // count; -1 without any measured version. measured tells which.
    static double EstimateSecondsPerEpoch(const QVector<Version>& versions, int fineness, int imageCount,
                                          bool* measured = nullptr);
    // The tool tip of the fineness setting: every level's network and time per epoch.
    static QString FinenessTip(const QVector<Version>& versions, int imageCount);
};
