#pragma once

#include "TrainService/SampleTypes.h"

#include <QString>
#include <QStringList>

#include <optional>

// The two configuration files the program hands to the service: config.json of a training run and
// test.json of a test run.
namespace trainsvc
{

struct TrainConfig
{
    QStringList classes;
    QString datasPath;
    QString trainPath;
    QString version;
    QString aiType;
    QString netType;
    int fineness = 2;
    double trainPercent = 0.9;
    NetLayout net;
    TrainSettings settings;
    // The resolved project folder, once the config is confined to it.
    QString project;
};

struct TestConfig
{
    bool labeled = false;
    QString predictPath;
    QString savePredictPath;
    QString modelPath;
    QString project;
    // The images to test instead of all below predictPath: relative as read, absolute and resolved
    // once confined.
    std::optional<QStringList> images;
};

// Input side and base channel width of the networks for fineness 1 to 5 (clamped).
NetLayout NetForFineness(bool detection, int fineness);

// Reads config.json; false with the reason in error when it cannot be read or lacks a needed key.
// The optional keys "input_size", "batch_size", "seed", "threads" and "tile_scale" override the
// fineness table and the defaults.
bool ReadTrainConfig(const QString& path, TrainConfig& config, QString& error);
// Reads test.json; false with the reason in error.
bool ReadTestConfig(const QString& path, TestConfig& config, QString& error);

} // namespace trainsvc
