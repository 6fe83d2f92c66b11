#include "TrainService/ModelSettings.h"

#include "TrainService/ModelEngine.h"
#include "TrainService/Tiling.h"

#include <algorithm>

namespace trainsvc::modelsettings
{

namespace
{

const char kTiling[] = "tiling";
const char kScale[] = "scale";
const char kWindow[] = "intensity_window";
const char kLow[] = "low_quantile";
const char kHigh[] = "high_quantile";

} // namespace

QJsonObject ToJson(const NetLayout& layout, const TrainSettings& settings, bool onGpu)
{
    QJsonObject training;
    for (const auto& [name, value] : ModelEngine::Constants())
        training.insert(QString::fromStdString(name), value);
    const QJsonObject tiling{{QLatin1String(kScale), layout.tileScale},
                             {QStringLiteral("factor"), tiling::kTileFactor},
                             {QStringLiteral("overlap_share"), tiling::kOverlapShare},
                             {QStringLiteral("min_region_input_pixels"), tiling::kMinInputArea}};
    // Files of more than 8 bits: the samples between the two quantiles span 0 to 255.
    const QJsonObject window{{QStringLiteral("rule"), QStringLiteral("quantile_window")},
                             {QLatin1String(kLow), settings.window.low},
                             {QLatin1String(kHigh), settings.window.high}};
    return QJsonObject{{QLatin1String(kTiling), tiling},
                       {QLatin1String(kWindow), window},
                       {QStringLiteral("training"), training},
                       {QStringLiteral("device"), onGpu ? QStringLiteral("cuda") : QStringLiteral("cpu")}};
}

void FromJson(const QJsonObject& settings, NetLayout& layout, IntensityWindow& window)
{
    const QJsonObject tiling = settings.value(QLatin1String(kTiling)).toObject();
    const double scale = tiling.value(QLatin1String(kScale)).toDouble(0.0);
    layout.tileScale = scale > 0.0 ? std::min(scale, 2.0) : 0.0;
    const QJsonObject rule = settings.value(QLatin1String(kWindow)).toObject();
    window = IntensityWindow();
    window.low = std::clamp(rule.value(QLatin1String(kLow)).toDouble(window.low), 0.0, 1.0);
    window.high = std::clamp(rule.value(QLatin1String(kHigh)).toDouble(window.high), window.low, 1.0);
}

} // namespace trainsvc::modelsettings
