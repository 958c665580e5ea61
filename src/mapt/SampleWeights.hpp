#pragma once
// How many samples a triangle gets and where they lie: the one place that
// both voting loops take them from.
//
// By default a triangle gets trunc(50 A / h^2 + 1) samples (A in world units,
// about 50 per square voxel plus one), the first at its centroid, the others
// with w0 uniform and w1 uniform over what w0 leaves: more samples fall near
// the first corner than elsewhere. Both make the votes depend on how a
// surface is cut into triangles. Even sampling gives a triangle
// round(50 A / h^2) samples (at least one), each uniform over its area, so
// that the votes of a surface are, on average, its area wherever it lies,
// however it is triangulated.

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace shapescale {

/// Samples of a triangle of `area` (world units, a float as the voting holds
/// it) on a grid of edge h (world units); 0 when the triangle is skipped.
inline std::int64_t sampleCountOf(float area, double h, bool even) {
    // The product in single precision, the rest in double.
    const double perArea = static_cast<double>(area * 50.0f) / (h * h);
    if (even) return perArea >= 0.0 ? std::max<std::int64_t>(1, std::llround(perArea)) : 0;
    const double samples = perArea + 1.0;
    return samples >= 1.0 ? static_cast<std::int64_t>(samples) : 0;
}

namespace sampling {
// 2^-31: the draws cover 0 .. 2^31 - 1.
inline constexpr float DRAW_SCALE = 0x1p-31f;

// A point uniform over the triangle from two draws, in single precision.
template <class Draw>
void uniformWeights(Draw&& draw, float& w0, float& w1, float& w2) {
    const float root = std::sqrt(static_cast<float>(draw()) * DRAW_SCALE);
    const float u2 = static_cast<float>(draw()) * DRAW_SCALE;
    w0 = 1.0f - root;
    w1 = root * (1.0f - u2);
    w2 = root * u2;
}
}  // namespace sampling

/// Barycentric weights of a triangle's first sample: its centroid (the float
/// 1/3 three times; no draw), or with `even` a uniform point (two draws).
/// @param draw  the generator: each call returns the next integer in 0 .. 2^31 - 1
template <class Draw>
void firstWeights(bool even, Draw&& draw, float& w0, float& w1, float& w2) {
    if (even) return sampling::uniformWeights(draw, w0, w1, w2);
    w0 = w1 = w2 = 1.0f / 3.0f;
}

/// Barycentric weights of the next sample, from two draws in single
/// precision: by default w0 = u1, w1 = u2 (1 - u1), w2 = (1 - u1) - w1, in
/// that order of operations; with `even` a uniform point.
template <class Draw>
void nextWeights(bool even, Draw&& draw, float& w0, float& w1, float& w2) {
    if (even) return sampling::uniformWeights(draw, w0, w1, w2);
    const float u1 = static_cast<float>(draw()) * sampling::DRAW_SCALE;
    w0 = u1;
    const float rest = 1.0f - u1;
    w1 = static_cast<float>(draw()) * rest * sampling::DRAW_SCALE;
    w2 = rest - w1;
}

}  // namespace shapescale
