#include "mapt/Defaults.hpp"

#include <cmath>

#include "core/Vec3.hpp"

namespace shapescale {

float baseScaleOf(const MeshMeasures& measures, bool closedMesh) {
    if (closedMesh) {
        // 3 V in single precision, the rest in double.
        const float threeV = 3.0f * measures.volume;
        return static_cast<float>(std::cbrt(threeV / FOUR_PI) / 25.0);
    }
    const float area = static_cast<float>(measures.areaSum * 0.5);
    return static_cast<float>(std::sqrt(area / FOUR_PI) / 40.0);
}

RunSettings deriveRunSettings(const RequestedLengths& requested, const MeshMeasures& measures,
                              bool closedMesh) {
    RunSettings s;
    s.volume = measures.volume;
    s.baseScale = baseScaleOf(measures, closedMesh);
    // Compared with 0 so that an explicit 0 is derived too, and a NaN is not.
    s.gridResolution = requested.gridResolution == 0.0f ? s.baseScale : requested.gridResolution;
    s.startRadius = requested.startRadius == 0.0f ? 2.0f * s.baseScale : requested.startRadius;
    s.radiusStep = requested.radiusStep == 0.0f ? s.baseScale : requested.radiusStep;
    s.sigma = requested.sigma == 0.0f ? s.baseScale : requested.sigma;
    s.radiusCount = requested.radiusCount == 0 ? 8 : requested.radiusCount;
    return s;
}

TransformSettings withLengths(TransformSettings settings, const RunSettings& derived) {
    settings.gridResolution = derived.gridResolution;
    settings.startRadius = derived.startRadius;
    settings.radiusCount = derived.radiusCount;
    settings.radiusStep = derived.radiusStep;
    settings.sigma = derived.sigma;
    return settings;
}

}  // namespace shapescale
