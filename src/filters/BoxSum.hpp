#pragma once
// Sum of a float volume over an axis-aligned box around each voxel (a sum,
// not a mean), the box filter of the tensor volumes.
//
// Volumes are flat arrays of nx*ny*nz floats, voxel (x, y, z) at index
// x + nx*(y + ny*z); `dims` = {nx, ny, nz}. Radii are in voxel units.

namespace shapescale {

struct FilterWorkspace;

/// Adds to each voxel that is interior on all three axes the sum of `in` over
/// a box, computed separably along x, y, z. Along an axis of extent n the
/// interior positions are c = trunc(r), trunc(r) + 1, ... while c < n - r, and
/// the window of c is trunc(c - r) ... trunc(c + r) - 1 (2r positions for a
/// whole r). Voxels not interior on z are not touched; voxels interior on z
/// but not on x or y receive a zero sum. r <= 0, or r above about half an
/// extent, leaves `out` unchanged.
/// @param[in]     in    nx*ny*nz floats; not changed unless it is `out`
/// @param[in,out] out   nx*ny*nz floats, caller-allocated, not cleared; may be `in`
/// @param[in]     dims  nx, ny, nz
/// @param[in]     r     half width of the box, voxel units
///
/// The windows are summed as running sums in double precision, each pass
/// rounded to float: within 1e-5 of the absolute sum of the window (the
/// previous output value included) of single-precision sums in increasing
/// position, exactly the previous value where the window holds only zeros,
/// never negative where neither holds a negative value. Meant for finite
/// input: an infinity or NaN spoils the sums of its whole line.
void boxFlt(const float* in, float* out, const int* dims, float r);

/// As above, with scratch memory kept by the caller.
void boxFlt(const float* in, float* out, const int* dims, float r, FilterWorkspace& ws);

}  // namespace shapescale
