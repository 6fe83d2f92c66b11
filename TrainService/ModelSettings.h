#pragma once

#include "TrainService/SampleTypes.h"

#include <QJsonObject>

// The service's own part of a version's record ("settings" of model/Config.json): what a test needs to
// treat images as the training did (tiling, the intensity window of deep images) and the fixed
// training constants, so that a record names everything a run used.
namespace trainsvc::modelsettings
{

QJsonObject ToJson(const NetLayout& layout, const TrainSettings& settings, bool onGpu);
// Sets the tile scale and the window from settings. A version without them predates tiling: its
// images are stretched whole, and deep images go through the default window.
void FromJson(const QJsonObject& settings, NetLayout& layout, IntensityWindow& window);

} // namespace trainsvc::modelsettings
