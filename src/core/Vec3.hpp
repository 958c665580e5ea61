#pragma once
// Small helpers on 3-vectors passed by pointer, output last. Components are
// computed in the order x, y, z, each from the inputs' same component, so
// diff, add and sdiv may write into one of their inputs; vprod may not.
// Inline: the per-triangle loops of the voting and the normals call them
// millions of times per radius.

#include <array>
#include <cmath>

namespace shapescale {

/// A point or direction in single precision, x, y, z.
using Vec3f = std::array<float, 3>;

/// 4 pi, as the base scale and the sphere-area normaliser use it.
inline constexpr double FOUR_PI = 12.566370614359172;

/// out = a - b.
inline void diff(const float* a, const float* b, float* out) {
    out[0] = a[0] - b[0];
    out[1] = a[1] - b[1];
    out[2] = a[2] - b[2];
}

inline void diff(const double* a, const double* b, double* out) {
    out[0] = a[0] - b[0];
    out[1] = a[1] - b[1];
    out[2] = a[2] - b[2];
}

/// out = a + b.
inline void add(const float* a, const float* b, float* out) {
    out[0] = a[0] + b[0];
    out[1] = a[1] + b[1];
    out[2] = a[2] + b[2];
}

inline void add(const double* a, const double* b, double* out) {
    out[0] = a[0] + b[0];
    out[1] = a[1] + b[1];
    out[2] = a[2] + b[2];
}

/// dst = src / s when s > 0; for s zero, negative or NaN dst is left untouched.
inline void sdiv(const float* src, float s, float* dst) {
    if (!(s > 0.0f)) return;
    dst[0] = src[0] / s;
    dst[1] = src[1] / s;
    dst[2] = src[2] / s;
}

inline void sdiv(const double* src, double s, double* dst) {
    if (!(s > 0.0)) return;
    dst[0] = src[0] / s;
    dst[1] = src[1] / s;
    dst[2] = src[2] / s;
}

/// Euclidean distance, computed entirely in the element type.
inline float dist(const float* a, const float* b) {
    float d[3];
    diff(a, b, d);
    return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

inline double dist(const double* a, const double* b) {
    double d[3];
    diff(a, b, d);
    return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

/// Dot product in single precision, summed x, y, z.
inline float sprod(const float* a, const float* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

/// out = a x b; out must be distinct from a and b.
inline void vprod(const double* a, const double* b, double* out) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

}  // namespace shapescale
