#include "filters/BoxSphere.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Grid.hpp"

namespace shapescale {

namespace {

// The box window of one interior position: k = lo ... hi - 1.
struct BoxWindow {
    int centre;
    int lo;
    int hi;
};

// Interior positions along an axis of extent n and their windows. All in
// single precision, as the results depend on it: c runs from trunc(r) while
// float(c) < n - r, lo = trunc(c - r), hi = trunc(c + r). For a whole r the
// window is c - r ... c + r - 1, 2r positions and not 2r + 1: the specified
// window, on which the tensor volumes depend.
std::vector<BoxWindow> interiorWindows(int n, float r) {
    std::vector<BoxWindow> windows;
    const float limit = static_cast<float>(n) - r;
    // r <= 0 (or NaN) has only empty windows; r >= n has no interior position.
    // Both leave the output unchanged, so no position is listed.
    if (!(r > 0.0f) || !(r < static_cast<float>(n))) return windows;
    for (int c = static_cast<int>(r); static_cast<float>(c) < limit; ++c) {
        const float fc = static_cast<float>(c);
        // c + r < n exactly, but at extents near 2^24 the rounded sum may reach n.
        const int hi = std::min(static_cast<int>(fc + r), n);
        windows.push_back({c, static_cast<int>(fc - r), hi});
    }
    return windows;
}

// Offsets of the ball along one axis at coordinate p of extent n: -R ... R - 1,
// clipped to the grid; R is at most the extent, which changes nothing, as
// offsets beyond it fall outside the grid anyway.
void ballOffsetRange(int R, int p, int n, int* first, int* last) {
    *first = std::max(-R, -p);
    *last = std::min(R - 1, n - 1 - p);
}

}  // namespace

void sphereFlt(const float* in, float* out, const int* dims, float r) {
    if (hasNoVoxel(dims)) return;
    const int nx = dims[0];
    const int ny = dims[1];
    const int nz = dims[2];
    // Offsets run from trunc(-r) = -R to R - 1: one longer on the negative side.
    // Deliberate: the specified ball, which the APT values depend on. r < 1 has none.
    const int maxExtent = std::max({nx, ny, nz});
    int R = 0;
    if (r >= 1.0f) R = r < static_cast<float>(maxExtent) ? static_cast<int>(r) : maxExtent;
    const float rr = r * r;
    // x varies within a row: keep the offsets a that some x of the row admits.
    const int aFirst = std::max(-R, 1 - nx);
    const int aLast = std::min(R - 1, nx - 1);

    // Each row of x is cleared and then receives, for each voxel, its terms in
    // the order a (along x) outermost, b, c innermost; rows are independent.
#pragma omp parallel for schedule(static)
    for (int z = 0; z < nz; ++z) {
        for (int y = 0; y < ny; ++y) {
            float* dst = out + voxelIndex(dims, 0, y, z);
            for (int x = 0; x < nx; ++x) dst[x] = 0.0f;
            if (R == 0) continue;
            int bFirst = 0, bLast = -1, cFirst = 0, cLast = -1;
            ballOffsetRange(R, y, ny, &bFirst, &bLast);
            ballOffsetRange(R, z, nz, &cFirst, &cLast);
            for (int a = aFirst; a <= aLast; ++a) {
                const int xFirst = std::max(0, -a);
                const int xEnd = std::min(nx, nx - a);
                for (int b = bFirst; b <= bLast; ++b) {
                    for (int c = cFirst; c <= cLast; ++c) {
                        // Squared length as an exact integer, then rounded to
                        // float and compared with r*r in single precision.
                        const std::uint64_t sq = static_cast<std::uint64_t>(std::int64_t{a} * a) +
                                                 static_cast<std::uint64_t>(std::int64_t{b} * b) +
                                                 static_cast<std::uint64_t>(std::int64_t{c} * c);
                        if (static_cast<float>(sq) > rr) continue;
                        const float* src = in + voxelIndex(dims, 0, y + b, z + c);
                        for (int x = xFirst; x < xEnd; ++x) dst[x] += src[x + a];
                    }
                }
            }
        }
    }
}

void boxFlt(const float* in, float* out, const int* dims, float r) {
    if (hasNoVoxel(dims)) return;
    const std::vector<BoxWindow> xWindows = interiorWindows(dims[0], r);
    const std::vector<BoxWindow> yWindows = interiorWindows(dims[1], r);
    const std::vector<BoxWindow> zWindows = interiorWindows(dims[2], r);
    // Only voxels interior on z are ever written; without them nothing changes.
    if (zWindows.empty()) return;
    const int nx = dims[0];
    const int ny = dims[1];
    const int nz = dims[2];
    const int xCount = static_cast<int>(xWindows.size());
    const int yCount = static_cast<int>(yWindows.size());
    const int zCount = static_cast<int>(zWindows.size());

    // Zero-filled: positions that are not interior on x or y pass on a zero
    // sum, which leaves the output's value as it was.
    const std::size_t count = voxelCount(dims);
    std::vector<float> t1(count, 0.0f);
    std::vector<float> t2(count, 0.0f);

    // Every pass adds its window in increasing k, in single precision; `in` is
    // read completely by the x pass before `out` is written, so in place is safe.
#pragma omp parallel for schedule(static)
    for (int z = 0; z < nz; ++z) {
        for (int y = 0; y < ny; ++y) {
            const std::size_t row = voxelIndex(dims, 0, y, z);
            const float* src = in + row;
            float* dst = t1.data() + row;
            for (int j = 0; j < xCount; ++j) {
                const BoxWindow& w = xWindows[j];
                float sum = 0.0f;
                for (int k = w.lo; k < w.hi; ++k) sum += src[k];
                dst[w.centre] = sum;
            }
        }
    }

#pragma omp parallel for schedule(static)
    for (int z = 0; z < nz; ++z) {
        for (int j = 0; j < yCount; ++j) {
            const BoxWindow& w = yWindows[j];
            float* dst = t2.data() + voxelIndex(dims, 0, w.centre, z);
            for (int k = w.lo; k < w.hi; ++k) {
                const float* src = t1.data() + voxelIndex(dims, 0, k, z);
                for (int x = 0; x < nx; ++x) dst[x] += src[x];
            }
        }
    }

    // The z pass starts from what the output holds: the box sum is added to it.
#pragma omp parallel for schedule(static)
    for (int j = 0; j < zCount; ++j) {
        const BoxWindow& w = zWindows[j];
        for (int y = 0; y < ny; ++y) {
            float* dst = out + voxelIndex(dims, 0, y, w.centre);
            for (int k = w.lo; k < w.hi; ++k) {
                const float* src = t2.data() + voxelIndex(dims, 0, y, k);
                for (int x = 0; x < nx; ++x) dst[x] += src[x];
            }
        }
    }
}

}  // namespace shapescale
