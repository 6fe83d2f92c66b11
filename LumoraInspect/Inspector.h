#pragma once

#include "TrainService/DeployModel.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// Predicts a list of images with a deployed model on several workers, each with a runner of its own,
// and gives one row per image: the highest score per class and the decisions at the thresholds. With
// an output folder every readable image also gets its prediction file there, in the project's
// annotation format, at its place below the images' root.
class Inspector
{
public:
    struct Row
    {
        QString path;
        bool readable = false;
        // Read, but the network could not predict it: no decision.
        bool failed = false;
        std::vector<float> scores;
        std::vector<bool> ng;
        double milliseconds = 0.0;
    };
    struct Summary
    {
        int inspected = 0;
        int ng = 0;
        int skipped = 0;
        int failed = 0;
        double seconds = 0.0;
        // Set when a prediction file could not be written; the run stops there.
        QString writeError;
    };
    // Called from the calling thread with the number of images done so far.
    using Progress = std::function<void(int done, int total)>;

    Inspector(const DeployModel& model, std::vector<float> thresholds);

    // Threads inside the network per worker; 0 (the default) gives one each to several workers and
    // every core to a single one.
    void SetThreadsPerWorker(int threads) { m_threadsPerWorker = threads; }

    // Runs on jobs workers; rows come back in the order of images. outputDir, when not empty, is the
    // resolved folder for the prediction files and root the folder the images lie below. false with
    // the reason in error when a worker's runner cannot be made.
    bool Run(const QStringList& images, const QString& root, const QString& outputDir, int jobs,
             const Progress& progress, std::vector<Row>& rows, Summary& summary, QString& error);

    // The CSV header and one line per row: path, decision (OK/NG), highest score per class, decision
    // per class, milliseconds; an unreadable image's decision is "unreadable", one the network could not
    // predict "error", their other fields empty.
    static QString CsvHeader(const QStringList& classes);
    static QString CsvLine(const Row& row, int classes);

private:
    // Predicts row.path into row; the reason when its prediction file cannot be written.
    QString Inspect(NetRunner& runner, const QString& root, const QString& outputDir, Row& row) const;

    const DeployModel& m_model;
    std::vector<float> m_thresholds;
    int m_threadsPerWorker = 0;
};
