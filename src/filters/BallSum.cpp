#include "filters/BallSum.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/Grid.hpp"
#include "core/Interrupt.hpp"
#include "filters/FilterWorkspace.hpp"

namespace shapescale {

namespace {

void clearVolume(float* out, const int* dims, const RowSink& sink) {
    const std::int64_t count = static_cast<std::int64_t>(voxelCount(dims));
#pragma omp parallel for schedule(static) if (threaded(dims))
    for (std::int64_t i = 0; i < count; ++i) out[i] = 0.0f;
    sinkEveryRow(dims, sink);
}

// Offsets run from trunc(-r) = -R to R - 1: one longer on the negative side.
// Deliberate: the specified ball, which the APT values depend on. r < 1 (or
// NaN) has none. Capping R at the largest extent changes nothing, as longer
// offsets fall outside the grid anyway.
int ballRadius(const int* dims, float r) {
    const int maxExtent = std::max({dims[0], dims[1], dims[2]});
    if (!(r >= 1.0f)) return 0;
    return r < static_cast<float>(maxExtent) ? static_cast<int>(r) : maxExtent;
}

// The ball test: a^2 + b^2 + c^2, exact in 64 bits, rounded to float and
// compared with r*r in single precision.
bool inBall(std::int64_t a, std::int64_t squaredRest, float rr) {
    return static_cast<float>(a * a + squaredRest) <= rr;
}

// For b^2 + c^2 = squaredRest, the largest a in 0 ... R that passes the ball
// test, or -1 when a = 0 fails. The test is monotone in |a|, so the chord of
// the ball along x is a = -A ... min(A, R - 1).
int chordHalfWidth(std::int64_t squaredRest, int R, float rr) {
    if (!inBall(0, squaredRest, rr)) return -1;
    const double guess = std::sqrt(std::max(0.0, static_cast<double>(rr) - squaredRest));
    int a = static_cast<int>(std::min(guess, static_cast<double>(R)));
    while (a > 0 && !inBall(a, squaredRest, rr)) --a;
    while (a < R && inBall(a + 1, squaredRest, rr)) ++a;
    return a;
}

// The direct sum, each voxel's terms in the order a, b, c, for volumes that
// hold an infinity or a NaN: fixed point cannot carry them, and this gives
// the IEEE results of the straightforward sum. (2R)^3 terms per voxel.
void sphereDirect(const float* in, float* out, const int* dims, int R, float rr,
                  const RowSink& sink) {
    const int nx = dims[0];
    const int ny = dims[1];
    const int nz = dims[2];
#pragma omp parallel for schedule(static) if (threaded(dims))
    for (int z = 0; z < nz; ++z) {
        for (int y = 0; y < ny; ++y) {
            if (interruptRequested()) continue;
            float* dst = out + voxelIndex(dims, 0, y, z);
            for (int x = 0; x < nx; ++x) dst[x] = 0.0f;
            for (int a = std::max(-R, 1 - nx); a <= std::min(R - 1, nx - 1); ++a) {
                const int xFirst = std::max(0, -a);
                const int xEnd = std::min(nx, nx - a);
                for (int b = std::max(-R, -y); b <= std::min(R - 1, ny - 1 - y); ++b) {
                    for (int c = std::max(-R, -z); c <= std::min(R - 1, nz - 1 - z); ++c) {
                        if (!inBall(a, std::int64_t{b} * b + std::int64_t{c} * c, rr)) continue;
                        const float* src = in + voxelIndex(dims, 0, y + b, z + c);
                        for (int x = xFirst; x < xEnd; ++x) dst[x] += src[x + a];
                    }
                }
            }
            if (sink) sink(static_cast<std::size_t>(y) + static_cast<std::size_t>(ny) * z);
        }
    }
    checkInterrupt(WHILE_FILTERING);
}

// The input's non-zero voxels, row by row (row = y + ny*z), as x and a 64-bit
// fixed-point value round(v * 2^shift). The shift makes the total absolute
// sum stay below 2^62, so no partial sum of any window can overflow, and
// integer sums are exact: the result does not depend on the order of the
// terms, is exactly 0 for a window of zeros and never negative for
// non-negative terms. The quantum 2^-shift is below total * 2^-61 and each
// term is off by at most half of it, so a window is off by at most (its
// non-zero terms) * total * 2^-62: within 1e-9 of the largest input while
// (non-zeros in a window) * (non-zeros in the volume) stays below about 4e9,
// as for the transform's votes (some 3e5 in all, a few 1e4 in its largest
// balls).
struct FixedPointRows {
    bool finite = true;
    bool empty = true;
    double fromFixed = 0.0;  ///< 2^-shift
};

FixedPointRows buildFixedPointRows(const float* in, const int* dims, FilterWorkspace& ws) {
    const int nx = dims[0];
    const std::int64_t rows = static_cast<std::int64_t>(dims[1]) * dims[2];
    std::size_t* rowStart = atLeast(ws.rowStart, static_cast<std::size_t>(rows) + 1);
    double* rowAbs = atLeast(ws.rowAbsSum, static_cast<std::size_t>(rows));
#pragma omp parallel for schedule(static) if (threaded(dims))
    for (std::int64_t row = 0; row < rows; ++row) {
        const float* src = in + static_cast<std::size_t>(row) * static_cast<std::size_t>(nx);
        std::size_t count = 0;
        double abs = 0.0;
        for (int x = 0; x < nx; ++x) {
            count += src[x] != 0.0f;
            abs += std::fabs(static_cast<double>(src[x]));
        }
        rowStart[row + 1] = count;
        rowAbs[row] = abs;
    }
    // Summed in row order whatever the thread count: the shift, and so every
    // result, must not depend on it.
    FixedPointRows result;
    double total = 0.0;
    rowStart[0] = 0;
    for (std::int64_t row = 0; row < rows; ++row) {
        rowStart[row + 1] += rowStart[row];
        total += rowAbs[row];
    }
    result.finite = std::isfinite(total);
    result.empty = total == 0.0;
    if (!result.finite || result.empty) return result;
    int exponent = 0;
    std::frexp(total, &exponent);  // total < 2^exponent
    const int shift = 62 - exponent;
    const double toFixed = std::ldexp(1.0, shift);
    result.fromFixed = std::ldexp(1.0, -shift);

    std::int32_t* xs = atLeast(ws.xs, rowStart[rows]);
    std::int64_t* values = atLeast(ws.values, rowStart[rows]);
#pragma omp parallel for schedule(static) if (threaded(dims))
    for (std::int64_t row = 0; row < rows; ++row) {
        const float* src = in + static_cast<std::size_t>(row) * static_cast<std::size_t>(nx);
        std::size_t e = rowStart[row];
        for (int x = 0; x < nx; ++x) {
            if (src[x] == 0.0f) continue;
            xs[e] = x;
            // v * 2^shift is exact in double; one rounding to an integer.
            values[e] = std::llround(static_cast<double>(src[x]) * toFixed);
            ++e;
        }
    }
    return result;
}

// Per plane z, the y of its non-empty rows in increasing order, and for every
// y the index of the first of them at or after y, so that the non-empty rows
// of any y range are found without a search.
void indexLiveRows(const int* dims, FilterWorkspace& ws) {
    const int ny = dims[1];
    const int nz = dims[2];
    const std::size_t* rowStart = ws.rowStart.data();
    std::int32_t* liveRows = atLeast(ws.liveRows, static_cast<std::size_t>(ny) * nz);
    std::size_t* nextLive = atLeast(ws.nextLive, static_cast<std::size_t>(ny + 1) * nz);
    std::size_t live = 0;
    for (int z = 0; z < nz; ++z) {
        std::size_t* next = nextLive + static_cast<std::size_t>(ny + 1) * z;
        for (int y = 0; y < ny; ++y) {
            next[y] = live;
            const std::size_t row = static_cast<std::size_t>(y) + static_cast<std::size_t>(ny) * z;
            if (rowStart[row + 1] > rowStart[row]) liveRows[live++] = y;
        }
        next[ny] = live;
    }
}

// Output rows gathered together: each source row is looked up once for all of
// them, and its entries stay in L1 while they are added to each.
constexpr int BALL_ROW_BLOCK = FilterWorkspace::BALL_ROW_BLOCK;

// The ball of one call as the gathering sees it. Offsets beyond an extent
// fall outside the grid, so the chord table and the padding of the difference
// arrays are capped by the extents: their size stays within the grid's own
// whatever the radius.
struct BallShape {
    int R = 0;
    int pad = 0;                         ///< min(R, nx): entries of a difference array before x = 0
    int bMax = 0;                        ///< min(R, ny - 1), the largest |b| inside the grid
    std::size_t width = 0;               ///< entries of a difference array, nx + 2 pad + 1
    const std::int32_t* half = nullptr;  ///< chord half-widths A, by |c| then |b|
};

// Adds the ball's terms of the output rows (y0 + k, z), k = 0 ... count - 1,
// into difference arrays (`width` apart), entry pad + x standing for x: a
// source entry (x0, q) of row (y + b, z + c) reaches x = x0 - min(A, R - 1)
// ... x0 + A, where A is the half-width of the chord (b, c), so it adds +q
// and -q at the two ends (reaches beyond the row are cut at pad). touched[k]
// tells whether row k received a term; only then is its array cleared and filled.
void gatherBallRows(int y0, int count, int z, const int* dims, const BallShape& ball,
                    const FilterWorkspace& ws, std::int64_t* diff, bool* touched) {
    const int ny = dims[1];
    const int nz = dims[2];
    const int R = ball.R;
    const std::size_t width = ball.width;
    const std::size_t* rowStart = ws.rowStart.data();
    const std::int32_t* xs = ws.xs.data();
    const std::int64_t* values = ws.values.data();
    std::fill(touched, touched + count, false);
    // Source rows ys reach the output rows ys - (R - 1) ... ys + R.
    const int yFirst = std::max(0, y0 - R);
    const int yLast = std::min(ny - 1, y0 + count - 1 + R - 1);
    for (int c = std::max(-R, -z); c <= std::min(R - 1, nz - 1 - z); ++c) {
        const int zs = z + c;
        const std::int32_t* half =
            ball.half + static_cast<std::size_t>(std::abs(c)) * (ball.bMax + 1);
        const std::size_t* next = ws.nextLive.data() + static_cast<std::size_t>(ny + 1) * zs;
        for (std::size_t i = next[yFirst]; i < next[yLast + 1]; ++i) {
            const int ys = ws.liveRows[i];
            const std::size_t row =
                static_cast<std::size_t>(ys) + static_cast<std::size_t>(ny) * zs;
            const std::size_t begin = rowStart[row];
            const std::size_t end = rowStart[row + 1];
            const int kLast = std::min(count - 1, ys + R - y0);
            for (int k = std::max(0, ys - R + 1 - y0); k <= kLast; ++k) {
                const int A = half[std::abs(ys - y0 - k)];
                if (A < 0) continue;
                std::int64_t* d = diff + width * static_cast<std::size_t>(k);
                if (!touched[k]) {
                    std::fill(d, d + width, std::int64_t{0});
                    touched[k] = true;
                }
                std::int64_t* up = d + (ball.pad - std::min({A, R - 1, ball.pad}));
                std::int64_t* down = d + (ball.pad + std::min(A, ball.pad) + 1);
                for (std::size_t e = begin; e < end; ++e) {
                    const std::int32_t x = xs[e];
                    const std::int64_t q = values[e];
                    up[x] += q;
                    down[x] -= q;
                }
            }
        }
    }
}

}  // namespace

void sphereFlt(const float* in, float* out, const int* dims, float r, FilterWorkspace& ws,
               const RowSink& sink) {
    if (hasNoVoxel(dims)) return;
    const int R = ballRadius(dims, r);
    const float rr = r * r;
    const FixedPointRows rows =
        R == 0 ? FixedPointRows{true, true, 0.0} : buildFixedPointRows(in, dims, ws);
    if (!rows.finite) return sphereDirect(in, out, dims, R, rr, sink);
    if (rows.empty) return clearVolume(out, dims, sink);
    indexLiveRows(dims, ws);

    const int nx = dims[0];
    const int ny = dims[1];
    BallShape ball;
    ball.R = R;
    ball.pad = std::min(R, nx);
    ball.bMax = std::min(R, ny - 1);
    ball.width = static_cast<std::size_t>(nx) + 2 * static_cast<std::size_t>(ball.pad) + 1;
    // Chord half-widths by |b| and |c|: the ball test sees only their squares.
    const int cMax = std::min(R, dims[2] - 1);
    const std::size_t stride = static_cast<std::size_t>(ball.bMax) + 1;
    std::int32_t* half = atLeast(ws.halfWidth, stride * (static_cast<std::size_t>(cMax) + 1));
    for (int c = 0; c <= cMax; ++c)
        for (int b = 0; b <= ball.bMax; ++b)
            half[static_cast<std::size_t>(c) * stride + b] =
                chordHalfWidth(std::int64_t{b} * b + std::int64_t{c} * c, R, rr);
    ball.half = half;

    const int blocksPerPlane = (ny + BALL_ROW_BLOCK - 1) / BALL_ROW_BLOCK;
    const std::int64_t blocks = static_cast<std::int64_t>(blocksPerPlane) * dims[2];
    const int threads = omp_get_max_threads();
    const std::size_t width = ball.width;
    const std::size_t perThread = width * BALL_ROW_BLOCK;
    std::int64_t* differences =
        atLeast(ws.difference, perThread * static_cast<std::size_t>(threads));
#pragma omp parallel num_threads(threads) if (threaded(dims))
    {
        std::int64_t* diff =
            differences + perThread * static_cast<std::size_t>(omp_get_thread_num());
        bool touched[BALL_ROW_BLOCK];
        // Short static chunks interleave the threads' rows, so that a surface
        // crossing the grid loads both alike; each row is written by one thread.
#pragma omp for schedule(static, 2)
        for (std::int64_t block = 0; block < blocks; ++block) {
            if (interruptRequested()) continue;
            const int y0 = static_cast<int>(block % blocksPerPlane) * BALL_ROW_BLOCK;
            const int z = static_cast<int>(block / blocksPerPlane);
            const int count = std::min(BALL_ROW_BLOCK, ny - y0);
            gatherBallRows(y0, count, z, dims, ball, ws, diff, touched);
            for (int k = 0; k < count; ++k) {
                float* dst = out + voxelIndex(dims, 0, y0 + k, z);
                const std::size_t row =
                    static_cast<std::size_t>(y0 + k) + static_cast<std::size_t>(ny) * z;
                if (!touched[k]) {
                    std::fill(dst, dst + nx, 0.0f);
                    if (sink) sink(row);
                    continue;
                }
                // Entries before pad stand for x < 0: terms that start left of the row.
                const std::int64_t* d = diff + width * static_cast<std::size_t>(k);
                std::int64_t sum = 0;
                for (int i = 0; i < ball.pad; ++i) sum += d[i];
                for (int x = 0; x < nx; ++x) {
                    sum += d[ball.pad + x];
                    dst[x] = static_cast<float>(static_cast<double>(sum) * rows.fromFixed);
                }
                if (sink) sink(row);
            }
        }
    }
    checkInterrupt(WHILE_FILTERING);
}

void sphereFlt(const float* in, float* out, const int* dims, float r) {
    FilterWorkspace ws;
    sphereFlt(in, out, dims, r, ws);
}

}  // namespace shapescale
