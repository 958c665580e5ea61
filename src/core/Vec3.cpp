#include "core/Vec3.hpp"

#include <cmath>

namespace shapescale {

void diff(const float* a, const float* b, float* out) {
    out[0] = a[0] - b[0];
    out[1] = a[1] - b[1];
    out[2] = a[2] - b[2];
}

void diff(const double* a, const double* b, double* out) {
    out[0] = a[0] - b[0];
    out[1] = a[1] - b[1];
    out[2] = a[2] - b[2];
}

void add(const float* a, const float* b, float* out) {
    out[0] = a[0] + b[0];
    out[1] = a[1] + b[1];
    out[2] = a[2] + b[2];
}

void add(const double* a, const double* b, double* out) {
    out[0] = a[0] + b[0];
    out[1] = a[1] + b[1];
    out[2] = a[2] + b[2];
}

void sdiv(const float* src, float s, float* dst) {
    if (!(s > 0.0f)) return;
    dst[0] = src[0] / s;
    dst[1] = src[1] / s;
    dst[2] = src[2] / s;
}

void sdiv(const double* src, double s, double* dst) {
    if (!(s > 0.0)) return;
    dst[0] = src[0] / s;
    dst[1] = src[1] / s;
    dst[2] = src[2] / s;
}

float dist(const float* a, const float* b) {
    float d[3];
    diff(a, b, d);
    return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

double dist(const double* a, const double* b) {
    double d[3];
    diff(a, b, d);
    return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

float sprod(const float* a, const float* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

void vprod(const double* a, const double* b, double* out) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

}  // namespace shapescale
