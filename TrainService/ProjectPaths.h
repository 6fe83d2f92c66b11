#pragma once

#include "TrainService/JobConfig.h"

#include <QString>

// Where the service may write. A configuration file is hostile: the service writes only inside the
// project that holds it, and deletes only folders it made itself (each holds a marker file).
namespace trainsvc
{

// The marker file in every folder the service makes for a version.
inline constexpr char kMadeMarker[] = ".made-by-trainservice";
// A version's folder while it is written; renamed to "model" when complete.
inline constexpr char kPartDir[] = "model.part";

// path made absolute with links and ".." resolved; a part that does not exist yet is appended as
// written. Empty when that part holds "." or "..", or path is empty.
QString ResolvedPath(const QString& path);
// true when path is folder or lies below it (both resolved).
bool SameOrInside(const QString& path, const QString& folder);

// A training config must be <project>/train/<version>/config.json with "train_path" naming that
// version folder, and a "model" folder already there must be one the service made. On success
// config.trainPath is the resolved version folder and config.project the resolved project folder;
// otherwise false with the reason, naming the path.
bool ConfineTrainConfig(const QString& configPath, TrainConfig& config, QString& error);
// A test config must be <project>/train/<version>/test.json; "save_predict_path" must lie inside
// <project>/test and must neither be nor contain nor lie inside "predict_path" or <project>/datas.
// Listed "predict_images" must be plain relative paths of image files below "predict_path" and inside
// <project>/datas, passing no link. On success config.savePredictPath is resolved, config.project set
// and config.images, when listed, made absolute, sorted and without repeats.
bool ConfineTestConfig(const QString& configPath, TestConfig& config, QString& error);

// Makes dir (its parent must exist) with the marker inside; false with the reason.
bool MakeMarkedDir(const QString& dir, QString& error);
// true when dir is a real folder (not a link) holding the marker.
bool IsMarkedDir(const QString& dir);
// Removes dir when the service made it; a missing dir is fine. false, naming dir, when it is a link,
// a file or a folder without the marker, or cannot be removed.
bool RemoveMarkedDir(const QString& dir, QString& error);
// Removes the marked in-progress folders a killed service left in <project>/train/*.
void ClearStaleParts(const QString& project);

} // namespace trainsvc
