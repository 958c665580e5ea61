#pragma once
// The straightforward filters: every voxel's sum formed term by term in the
// specified order, on one thread. They are the reference that the tests and
// the benchmarks hold the fast filters of this library's parent against.
// Same arguments, layouts and units as the fast versions.

#include "filters/Gaussian.hpp"

namespace shapescale::reference {

/// Ball sum: for every voxel, x outermost, then y, then z, the offsets a, b, c
/// from -trunc(r) to trunc(r) - 1 (a outermost) whose a^2 + b^2 + c^2, as a
/// float, is at most r*r and that stay inside the grid, summed in single
/// precision. `out` is cleared first and must not alias `in`.
void sphereFlt(const float* in, float* out, const int* dims, float r);

/// The same sum for the output rows (y, z) whose y and z are both multiples
/// of `rowStep` only (the other voxels of `out` are left as they are): a
/// sample that times the sum on grids where the whole of it would take hours.
void sphereFlt(const float* in, float* out, const int* dims, float r, int rowStep);

/// Box sum added to `out` (may be `in`): x, y and z passes into zeroed
/// temporaries, each window summed in increasing position.
void boxFlt(const float* in, float* out, const int* dims, float r);

/// One Gaussian pass along x, y or z: out[p] = in[p] coef[0] + sum over k of
/// (in[p + k] + in[p - k]) coef[k], for m <= p <= n - m - 1 only.
void float_convol0(const float* in, const int* dims, const FILTER* f, float* out);
void float_convol1(const float* in, const int* dims, const FILTER* f, float* out);
void float_convol2(const float* in, const int* dims, const FILTER* f, float* out);

/// The three passes through zeroed temporaries; `out` may be `in`.
void filter3D(const float* in, float* out, const int* dims, float sigma, int maxSize);
void filter3DNN(const float* in, float* out, const int* dims, float sigma, int maxSize);

}  // namespace shapescale::reference
