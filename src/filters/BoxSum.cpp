#include "filters/BoxSum.hpp"

#include <omp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "core/Grid.hpp"
#include "core/Interrupt.hpp"
#include "filters/FilterWorkspace.hpp"
#include "filters/RowSink.hpp"
#include "filters/VectorClones.hpp"

namespace shapescale {

namespace {

// The interior positions c = first ... end - 1 of an axis of extent n and their
// windows lo(c) ... hi(c) - 1. All in single precision, as the results depend
// on it: c runs from trunc(r) while float(c) < n - r, lo = trunc(c - r),
// hi = trunc(c + r). For a whole r the window is c - r ... c + r - 1, 2r
// positions and not 2r + 1: the specified window, on which the tensor volumes
// depend. Both ends are non-decreasing in c, so the windows slide.
struct AxisWindows {
    int first = 0;
    int end = 0;
    int n = 0;
    float r = 0.0f;

    AxisWindows(int extent, float radius) : n(extent), r(radius) {
        // r <= 0 (or NaN) has only empty windows; r >= n has no interior
        // position. Both leave the output unchanged: no position is listed.
        if (!(r > 0.0f) || !(r < static_cast<float>(n))) return;
        const float limit = static_cast<float>(n) - r;
        first = static_cast<int>(r);
        end = first;
        while (end < n && static_cast<float>(end) < limit) ++end;
    }
    bool empty() const { return end <= first; }
    int lo(int c) const { return static_cast<int>(static_cast<float>(c) - r); }
    // c + r < n exactly, but at extents near 2^24 the rounded sum may reach n.
    int hi(int c) const { return std::min(static_cast<int>(static_cast<float>(c) + r), n); }
};

// A running window sum in double precision with counts of its non-zero and
// negative terms. The counts make a window of zeros exactly 0 (the sum is
// reset whenever the last non-zero term leaves, which also clears the
// rounding left behind by terms that came and went) and a window without
// negative terms never negative; otherwise the sum is off by a few double
// roundings of the line's partial sums, far inside the float rounding of
// the straightforward sum. Adding or removing a zero changes nothing, so
// there is no branch on the data.
struct RunningSum {
    double sum = 0.0;
    std::int32_t nonZero = 0;
    std::int32_t negative = 0;

    void add(float v) {
        sum += v;
        nonZero += v != 0.0f;
        negative += v < 0.0f;
    }
    void remove(float v) {
        sum -= v;
        nonZero -= v != 0.0f;
        negative -= v < 0.0f;
        if (nonZero == 0) sum = 0.0;
    }
};

double windowValue(double sum, std::int32_t nonZero, std::int32_t negative) {
    if (nonZero == 0) return 0.0;
    return negative == 0 ? std::max(sum, 0.0) : sum;
}

// Rows whose windows slide together in the x pass: each running sum is a chain
// of dependent additions, and independent chains keep the adder busy.
constexpr int BOX_X_ROWS = 4;

// x pass into T1: every voxel written, 0 where x is not interior, and a row
// flag that is 0 when the row of T1 holds only zeros.
void boxPassX(const float* in, const int* dims, AxisWindows w, float* t1, unsigned char* live1) {
    const int nx = dims[0];
    const std::int64_t rows = static_cast<std::int64_t>(dims[1]) * dims[2];
    const std::int64_t groups = (rows + BOX_X_ROWS - 1) / BOX_X_ROWS;
#pragma omp parallel for schedule(static) if (threaded(dims))
    for (std::int64_t g = 0; g < groups; ++g) {
        if (interruptRequested()) continue;
        const float* src[BOX_X_ROWS];
        float* dst[BOX_X_ROWS];
        bool anyLive = false;
        for (int j = 0; j < BOX_X_ROWS; ++j) {
            // A short last group repeats its last row: the same values, written twice.
            const std::int64_t row = std::min(g * BOX_X_ROWS + j, rows - 1);
            src[j] = in + static_cast<std::size_t>(row) * static_cast<std::size_t>(nx);
            dst[j] = t1 + static_cast<std::size_t>(row) * static_cast<std::size_t>(nx);
            live1[row] = std::any_of(src[j], src[j] + nx, [](float v) { return v != 0.0f; });
            anyLive = anyLive || live1[row];
            std::fill(dst[j], dst[j] + w.first, 0.0f);
            std::fill(dst[j] + w.end, dst[j] + nx, 0.0f);
        }
        if (!anyLive) {
            for (float* d : dst) std::fill(d + w.first, d + w.end, 0.0f);
            continue;
        }
        RunningSum s[BOX_X_ROWS];
        int lo = w.lo(w.first);
        int hi = lo;
        for (int c = w.first; c < w.end; ++c) {
            for (const int end = w.hi(c); hi < end; ++hi)
                for (int j = 0; j < BOX_X_ROWS; ++j) s[j].add(src[j][hi]);
            for (const int end = w.lo(c); lo < end; ++lo)
                for (int j = 0; j < BOX_X_ROWS; ++j) s[j].remove(src[j][lo]);
            for (int j = 0; j < BOX_X_ROWS; ++j)
                dst[j][c] = static_cast<float>(windowValue(s[j].sum, s[j].nonZero, s[j].negative));
        }
    }
}

// Running sums of whole rows of x: the y pass (rows of one plane) and the z
// pass (rows of one y across planes) slide a window of rows and add or remove
// a row at a time, skipping the rows flagged as all zeros.
struct RowAccumulator {
    double* sum;
    std::int32_t* nonZero;
    std::int32_t* negative;
    int nx;
    int liveRows = 0;

    void clear() {
        std::fill(sum, sum + nx, 0.0);
        std::fill(nonZero, nonZero + nx, 0);
        std::fill(negative, negative + nx, 0);
        liveRows = 0;
    }
    void add(const float* row) {
        ++liveRows;
        for (int x = 0; x < nx; ++x) {
            sum[x] += row[x];
            nonZero[x] += row[x] != 0.0f;
            negative[x] += row[x] < 0.0f;
        }
    }
    void remove(const float* row) {
        // The last live row leaving: every sum is exactly 0 again.
        if (--liveRows == 0) return clear();
        for (int x = 0; x < nx; ++x) {
            sum[x] -= row[x];
            nonZero[x] -= row[x] != 0.0f;
            negative[x] -= row[x] < 0.0f;
            if (nonZero[x] == 0) sum[x] = 0.0;
        }
    }
    double value(int x) const { return windowValue(sum[x], nonZero[x], negative[x]); }
};

// One accumulator line per thread, taken from the workspace.
struct AccumulatorLines {
    double* sum;
    std::int32_t* nonZero;
    std::int32_t* negative;
    int nx;

    AccumulatorLines(FilterWorkspace& ws, int extent, int threads) : nx(extent) {
        const std::size_t n = static_cast<std::size_t>(extent) * static_cast<std::size_t>(threads);
        sum = atLeast(ws.runningSum, n);
        nonZero = atLeast(ws.nonZeroCount, n);
        negative = atLeast(ws.negativeCount, n);
    }
    RowAccumulator forThisThread() const {
        const std::size_t at = static_cast<std::size_t>(nx) * omp_get_thread_num();
        return {sum + at, nonZero + at, negative + at, nx};
    }
};

SHAPESCALE_VECTOR_CLONES
void boxPassY(const float* t1, const unsigned char* live1, const int* dims, AxisWindows w,
              const AccumulatorLines& lines, float* t2, unsigned char* live2) {
    const int nx = dims[0];
    const int ny = dims[1];
    const int nz = dims[2];
    const int threads = omp_get_max_threads();
#pragma omp parallel num_threads(threads) if (threaded(dims))
    {
        RowAccumulator acc = lines.forThisThread();
#pragma omp for schedule(static)
        for (int z = 0; z < nz; ++z) {
            if (interruptRequested()) continue;
            const std::size_t plane = static_cast<std::size_t>(ny) * z;
            auto row = [&](auto* v, int y) {
                return v + (plane + static_cast<std::size_t>(y)) * static_cast<std::size_t>(nx);
            };
            for (int y = 0; y < ny; ++y) {
                if (y >= w.first && y < w.end) continue;
                std::fill(row(t2, y), row(t2, y) + nx, 0.0f);
                live2[plane + y] = 0;
            }
            acc.clear();
            int lo = w.lo(w.first);
            int hi = lo;
            for (int c = w.first; c < w.end; ++c) {
                for (; hi < w.hi(c); ++hi)
                    if (live1[plane + hi]) acc.add(row(t1, hi));
                for (; lo < w.lo(c); ++lo)
                    if (live1[plane + lo]) acc.remove(row(t1, lo));
                float* dst = row(t2, c);
                live2[plane + c] = acc.liveRows > 0;
                if (acc.liveRows == 0) {
                    std::fill(dst, dst + nx, 0.0f);
                    continue;
                }
                for (int x = 0; x < nx; ++x) dst[x] = static_cast<float>(acc.value(x));
            }
        }
    }
}

// The z pass adds the window sum to what the output holds, in double, rounded once.
SHAPESCALE_VECTOR_CLONES
void boxPassZ(const float* t2, const unsigned char* live2, const int* dims, AxisWindows w,
              const AccumulatorLines& lines, float* out) {
    const int nx = dims[0];
    const int ny = dims[1];
    const int threads = omp_get_max_threads();
#pragma omp parallel num_threads(threads) if (threaded(dims))
    {
        RowAccumulator acc = lines.forThisThread();
#pragma omp for schedule(static)
        for (int y = 0; y < ny; ++y) {
            if (interruptRequested()) continue;
            auto rowIndex = [&](int z) {
                return static_cast<std::size_t>(y) + static_cast<std::size_t>(ny) * z;
            };
            auto row = [&](auto* v, int z) {
                return v + rowIndex(z) * static_cast<std::size_t>(nx);
            };
            acc.clear();
            int lo = w.lo(w.first);
            int hi = lo;
            for (int c = w.first; c < w.end; ++c) {
                for (; hi < w.hi(c); ++hi)
                    if (live2[rowIndex(hi)]) acc.add(row(t2, hi));
                for (; lo < w.lo(c); ++lo)
                    if (live2[rowIndex(lo)]) acc.remove(row(t2, lo));
                if (acc.liveRows == 0) continue;  // a zero sum leaves the output as it is
                float* dst = row(out, c);
                for (int x = 0; x < nx; ++x)
                    dst[x] = static_cast<float>(static_cast<double>(dst[x]) + acc.value(x));
            }
        }
    }
}

}  // namespace

void boxFlt(const float* in, float* out, const int* dims, float r, FilterWorkspace& ws) {
    if (hasNoVoxel(dims)) return;
    const AxisWindows xWindows(dims[0], r);
    const AxisWindows yWindows(dims[1], r);
    const AxisWindows zWindows(dims[2], r);
    // Only voxels interior on all three axes receive a sum that can be non-zero.
    if (xWindows.empty() || yWindows.empty() || zWindows.empty()) return;
    const std::size_t rows = static_cast<std::size_t>(dims[1]) * static_cast<std::size_t>(dims[2]);
    float* t1 = atLeast(ws.t1, voxelCount(dims));
    float* t2 = atLeast(ws.t2, voxelCount(dims));
    unsigned char* live1 = atLeast(ws.live1, rows);
    unsigned char* live2 = atLeast(ws.live2, rows);
    const AccumulatorLines lines(ws, dims[0], omp_get_max_threads());
    // `in` is read completely by the x pass before `out` is written, so in place is safe.
    boxPassX(in, dims, xWindows, t1, live1);
    boxPassY(t1, live1, dims, yWindows, lines, t2, live2);
    boxPassZ(t2, live2, dims, zWindows, lines, out);
    checkInterrupt(WHILE_FILTERING);
}

void boxFlt(const float* in, float* out, const int* dims, float r) {
    FilterWorkspace ws;
    boxFlt(in, out, dims, r, ws);
}

}  // namespace shapescale
