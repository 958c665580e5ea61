#pragma once
// Separable truncated Gaussian on float volumes: a one-sided kernel record and
// three one-dimensional passes along x, y and z.
//
// Volumes are flat arrays of nx*ny*nz floats, voxel (x, y, z) at index
// x + nx*(y + ny*z); `dims` = {nx, ny, nz}. Widths are in voxel units.

#include <vector>

#include "filters/RowSink.hpp"

namespace shapescale {

struct FilterWorkspace;

/// One half of a symmetric kernel: coef[k] is the weight at distance k on
/// either side, so the kernel spans -(size - 1) ... size - 1.
struct FILTER {
    int size = 1;             ///< stored coefficients, the centre included; >= 1
    float sum = 1.0f;         ///< 1 + 2 * (raw weights at distances 1 ... size - 1)
    std::vector<float> coef;  ///< size entries (or more); coef[0] is the centre weight
    float sigma = 0.0f;       ///< standard deviation in voxels, as given to the builder
};

/// Builds the Gaussian kernel normalised to sum 1 over the full symmetric span.
/// @param[out] f        the record to fill; every field is set
/// @param[in]  sigma    standard deviation, voxel units
/// @param[in]  maxSize  upper bound on f->size; 0 means 33; 1 or less gives the
///                      one-coefficient kernel {1}. Distances whose raw weight
///                      falls below 0.01 end the kernel earlier.
void compute_mask(FILTER* f, float sigma, int maxSize);

/// Builds the raw Gaussian kernel: centre weight 1, not normalised. f->sum is
/// filled as for compute_mask. Arguments as compute_mask.
void compute_maskNN(FILTER* f, float sigma, int maxSize);

/// One pass of the kernel along x. With n = nx and m = f->size, writes only the
/// positions m <= x <= n - m - 1 of each line; all other voxels of `out` keep
/// what they held (nothing at all when n <= 2m).
/// @param[in]  in    nx*ny*nz floats; not changed
/// @param[in]  dims  nx, ny, nz
/// @param[in]  f     kernel from compute_mask or compute_maskNN
/// @param[out] out   nx*ny*nz floats, caller-allocated; must not alias `in`
void float_convol0(const float* in, const int* dims, const FILTER* f, float* out);

/// One pass along y; as float_convol0 with n = ny.
void float_convol1(const float* in, const int* dims, const FILTER* f, float* out);

/// One pass along z; as float_convol0 with n = nz.
void float_convol2(const float* in, const int* dims, const FILTER* f, float* out);

/// Smooths a volume with the normalised Gaussian (compute_mask), x then y then z.
/// Voxels within the unwritten band of the z pass (z < m or z > nz - m - 1)
/// keep what `out` held; voxels in the z band but within m of an x or y face
/// come out 0. Each voxel's terms are added in the order of the passes, so
/// the result is that of the passes one by one; lines that see only zeros
/// are written as 0 without arithmetic.
/// @param[in]     in       nx*ny*nz floats; not changed unless it is `out`
/// @param[in,out] out      nx*ny*nz floats, caller-allocated; may be `in`
/// @param[in]     dims     nx, ny, nz
/// @param[in]     sigma    standard deviation, voxel units
/// @param[in]     maxSize  kernel size bound, as for compute_mask
void filter3D(const float* in, float* out, const int* dims, float sigma, int maxSize);

/// As above, with scratch memory kept by the caller: the temporaries and the
/// kernel are taken from `ws` instead of being allocated; `sink` is told of
/// each finished row of `out`.
/// @throw Interrupted when a signal arrives (the output is then incomplete)
void filter3D(const float* in, float* out, const int* dims, float sigma, int maxSize,
              FilterWorkspace& ws, const RowSink& sink = {});

/// As filter3D with the raw kernel of compute_maskNN (centre weight 1).
void filter3DNN(const float* in, float* out, const int* dims, float sigma, int maxSize);

/// As above, with scratch memory kept by the caller, telling `sink` of rows.
void filter3DNN(const float* in, float* out, const int* dims, float sigma, int maxSize,
                FilterWorkspace& ws, const RowSink& sink = {});

}  // namespace shapescale
