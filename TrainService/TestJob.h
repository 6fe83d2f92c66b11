#pragma once

#include "ComLib/Service/ServiceProtocol.h"
#include "TrainService/JobConfig.h"
#include "TrainService/JobQueue.h"
#include "TrainService/SampleTypes.h"

#include <QJsonObject>
#include <QStringList>

#include <vector>

class ModelEngine;

// One test run: loads an exported version, predicts every image below "predict_path" (or the listed
// ones), writes one
// prediction file per image below "save_predict_path" (every shape with its score) and the test
// summary beside them (each image's highest score per class, and for a labelled test the truth), and
// for a labelled test measures the missed and overkill rates per class against the annotation files.
class TestJob
{
public:
    explicit TestJob(trainsvc::TestConfig config);

    // Loads the version in modelDir (Config.json and weights); false with the reason in error. window,
    // when given, gets the version's rule for images of more than 8 bits.
    // The network, classes and deep-image rule a version's Config.json describes; false when it
    // describes none or one of unreasonable size.
    static bool DescribeModel(const QJsonObject& config, QStringList& classes, trainsvc::NetLayout& layout,
                              trainsvc::IntensityWindow& window);
    static bool LoadModel(const QString& modelDir, ModelEngine& engine, QStringList& classes, QString& error,
                          trainsvc::IntensityWindow* window = nullptr);

    // The per-class thresholds saved with the version in modelDir, in the order of classes; 0 for a
    // class without one, and for all when the file is missing or unreadable.
    static std::vector<float> SavedThresholds(const QString& modelDir, const QStringList& classes);
    // The same from the contents of a thresholds file (source names it in the warning when ignored).
    static std::vector<float> ThresholdsOf(const QByteArray& json, const QStringList& classes,
                                           const QString& source);
    // The shapes whose score reaches their class's threshold.
    static std::vector<trainsvc::Shape> AtThresholds(const std::vector<trainsvc::Shape>& shapes,
                                                     const std::vector<float>& thresholds);

    // The summary's row of an image: the highest score per class of every predicted shape, and with
    // truth also the classes present and the scores of the shapes that meet them.
    static comlib::protocol::TestSummary::Image SummaryRow(const QString& path, cv::Size imageSize,
                                                           const std::vector<trainsvc::Shape>& scored,
                                                           const std::vector<trainsvc::Shape>* truth,
                                                           int classes);

    void Run(const std::atomic_bool& cancel, const JobQueue::Report& report);

private:
    trainsvc::TestConfig m_config;
};
