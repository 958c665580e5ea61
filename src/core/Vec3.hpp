#pragma once
// Small helpers on 3-vectors passed by pointer, output last. Components are
// computed in the order x, y, z, each from the inputs' same component, so
// diff, add and sdiv may write into one of their inputs; vprod may not.

#include <array>

namespace shapescale {

/// A point or direction in single precision, x, y, z.
using Vec3f = std::array<float, 3>;

/// 4 pi, as the base scale and the sphere-area normaliser use it.
inline constexpr double FOUR_PI = 12.566370614359172;

/// out = a - b.
void diff(const float* a, const float* b, float* out);
void diff(const double* a, const double* b, double* out);

/// out = a + b.
void add(const float* a, const float* b, float* out);
void add(const double* a, const double* b, double* out);

/// dst = src / s when s > 0; for s zero, negative or NaN dst is left untouched.
void sdiv(const float* src, float s, float* dst);
void sdiv(const double* src, double s, double* dst);

/// Euclidean distance, computed entirely in the element type.
float dist(const float* a, const float* b);
double dist(const double* a, const double* b);

/// Dot product in single precision, summed x, y, z.
float sprod(const float* a, const float* b);

/// out = a x b; out must be distinct from a and b.
void vprod(const double* a, const double* b, double* out);

}  // namespace shapescale
