#pragma once
// Scratch memory of the volume filters, kept between calls.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Grid.hpp"
#include "filters/Gaussian.hpp"

namespace shapescale {

/// The buffers that the filters need besides their input and output: the two
/// float temporaries of the separable passes, per-row flags, the kernel, and
/// the ball sum's compact rows and difference arrays. A caller that filters
/// many volumes of one grid (the transform, once per radius) keeps one
/// workspace so that only its first calls allocate: buffers only grow, and
/// their sizes depend on the grid, the thread count, the radius and the
/// number of non-zero voxels, never on the call count. The members are the
/// filters' own business; a caller only creates, reserves and passes it.
/// One workspace serves one call at a time.
struct FilterWorkspace {
    /// Sizes, for `dims` = {nx, ny, nz} and the current thread count, every
    /// buffer whose size is bounded by the grid: the per-row tables, the
    /// ball's chord table and difference arrays at their largest, the box
    /// accumulators and, with `temporaries`, the two nx*ny*nz temporaries
    /// (which only the Gaussian and box filters use). Later calls on that grid
    /// allocate only when the ball sum meets more non-zero voxels than before.
    void reserve(const int* dims, bool temporaries = true);

    /// Bytes that reserve(dims, temporaries) allocates in a fresh workspace
    /// at the current thread count; the ball sum's compact rows (12 bytes per
    /// non-zero input voxel) come on top.
    static double reservedBytes(const int* dims, bool temporaries);

    /// Output rows that the ball sum gathers together.
    static constexpr int BALL_ROW_BLOCK = 8;

    std::vector<float> t1, t2;                ///< temporaries, nx*ny*nz each
    std::vector<unsigned char> live1, live2;  ///< per row (y, z) of t1, t2: 0 = all zeros
    FILTER kernel;                            ///< the Gaussian kernel of the current call

    // Ball sum: the input's non-zero entries, row by row, in fixed point.
    std::vector<std::size_t> rowStart;     ///< ny*nz + 1 offsets into xs and values
    std::vector<double> rowAbsSum;         ///< per row, sum of |input|
    std::vector<std::int32_t> xs;          ///< x of each non-zero entry
    std::vector<std::int64_t> values;      ///< fixed-point value of each entry
    std::vector<std::int32_t> liveRows;    ///< per plane, the y of its non-empty rows
    std::vector<std::size_t> nextLive;     ///< per plane, (ny+1) indices into liveRows
    std::vector<std::int32_t> halfWidth;   ///< chord half-widths of the ball, by |c| and |b|
    std::vector<std::int64_t> difference;  ///< one difference array per thread

    // Box running sums: one line of accumulators per thread.
    std::vector<double> runningSum;
    std::vector<std::int32_t> nonZeroCount, negativeCount;
};

/// Whether a filter call on a grid of `dims` runs its loops on several
/// threads: below 2^14 voxels, waking the threads costs more than the work.
/// The results are the same either way.
inline bool threaded(const int* dims) {
    return voxelCount(dims) >= (std::size_t{1} << 14);
}

/// Grows `v` to at least n elements; never shrinks and never reallocates when
/// the capacity suffices. Returns the data.
template <class T>
T* atLeast(std::vector<T>& v, std::size_t n) {
    if (v.size() < n) v.resize(n);
    return v.data();
}

}  // namespace shapescale
