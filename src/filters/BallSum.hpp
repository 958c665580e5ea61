#pragma once
// Sum of a float volume over a ball around each voxel (a sum, not a mean).
//
// Volumes are flat arrays of nx*ny*nz floats, voxel (x, y, z) at index
// x + nx*(y + ny*z); `dims` = {nx, ny, nz}. Radii are in voxel units.

#include "filters/RowSink.hpp"

namespace shapescale {

struct FilterWorkspace;

/// Sum of `in` over a ball of radius r around each voxel. With R = trunc(r),
/// the offsets run from -R to R - 1 on each axis (one longer on the negative
/// side) and an offset (a, b, c) counts when a^2 + b^2 + c^2 <= r*r; neighbours
/// outside the grid are skipped. r < 1 gives 0 everywhere.
/// @param[in]  in    nx*ny*nz floats; not changed
/// @param[out] out   nx*ny*nz floats, caller-allocated, cleared first; must not alias `in`
/// @param[in]  dims  nx, ny, nz
/// @param[in]  r     radius, voxel units
///
/// The sums are formed in 64-bit fixed point, with a scale chosen from the
/// volume's total absolute sum: they agree with single-precision sums in the
/// order above within 1e-5 of the window's absolute sum (or 1e-9 of the
/// largest absolute input; the fixed-point rounding stays within that as long
/// as the non-zeros of a window times those of the volume stay below about
/// 4e9, as for the transform's votes), are exactly 0 where the window holds only zeros,
/// never negative where it holds no negative value, and do not depend on the
/// thread count. A volume holding an infinity or a NaN is summed directly
/// instead, at (2 trunc(r))^3 terms per voxel.
void sphereFlt(const float* in, float* out, const int* dims, float r);

/// As above, with scratch memory kept by the caller, telling `sink` of each
/// finished row of `out`.
/// @throw Interrupted when a signal arrives (the output is then incomplete)
void sphereFlt(const float* in, float* out, const int* dims, float r, FilterWorkspace& ws,
               const RowSink& sink = {});

}  // namespace shapescale
