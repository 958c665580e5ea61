#include "filters/Gaussian.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/Grid.hpp"
#include "core/Interrupt.hpp"
#include "filters/FilterWorkspace.hpp"
#include "filters/VectorClones.hpp"

namespace shapescale {

namespace {

// Raw weights at distances 0, 1, 2, ... (centre 1.0) into f->coef; sets
// f->sigma, f->size and f->sum. The weight is evaluated in double precision,
// but 2 sigma^2 is formed in single precision as (sigma + sigma) * sigma and
// only then widened, and the sum is accumulated in single precision from the
// rounded weights: stored kernels depend on exactly this rounding. f->coef
// keeps its capacity, so a reused record does not allocate.
void rawGaussianWeights(FILTER* f, float sigma, int maxSize) {
    // 0 selects the default bound of 33 coefficients.
    const int limit = maxSize == 0 ? 33 : maxSize;
    const double twoSigmaSq = static_cast<double>((sigma + sigma) * sigma);
    f->coef.assign(1, 1.0f);
    float sum = 1.0f;
    for (int i = 1; i < limit; ++i) {
        const double d = i;
        const double w = std::exp(-(d * d) / twoSigmaSq);
        if (w < 0.01) break;  // the failing weight is not kept
        const float wf = static_cast<float>(w);
        f->coef.push_back(wf);
        sum = (wf + wf) + sum;
    }
    f->sigma = sigma;
    f->size = static_cast<int>(f->coef.size());
    f->sum = sum;
}

bool allZero(const float* v, int n) {
    for (int i = 0; i < n; ++i)
        if (v[i] != 0.0f) return false;
    return true;
}

// Where a pass writes. Into the caller's volume only the band m <= p <= n - m - 1
// is written and the rest keeps what it held. Into a temporary of the 3-D filter
// every voxel is written, 0 outside the band (the zero-filled temporaries that
// make the next pass's border voxels 0), and each row (y, z) gets a flag in
// `liveOut`: 0 when the row holds only zeros.
struct PassIo {
    const unsigned char* liveIn = nullptr;  ///< flags of the input rows, or none
    unsigned char* liveOut = nullptr;       ///< set: the output is a temporary
    const RowSink* rowDone = nullptr;       ///< told of each row of the last pass
};

// Every output is in[p] * coef[0] + (in[p + 1] + in[p - 1]) * coef[1] + ... in
// increasing k, all single precision, the mirrored inputs added before the
// multiplication. Skipping a pair of zero rows, or adding a zero row's
// partner alone, gives the same bits (x + 0 = x), so the sparse shortcuts
// below do not change a result.
SHAPESCALE_VECTOR_CLONES
void convolveX(const float* in, const int* dims, const FILTER& f, float* out, const PassIo& io) {
    const int n = dims[0];
    const int m = f.size;
    // Only m <= x <= n - m - 1 is written, one position short of the kernel's
    // reach at each end. Deliberate: the specified pass; the APT values near
    // the grid's faces depend on it.
    const bool hasBand = n - m > m;
    const std::int64_t rows = static_cast<std::int64_t>(dims[1]) * dims[2];
    const float* coef = f.coef.data();
#pragma omp parallel for schedule(static) if (threaded(dims))
    for (std::int64_t row = 0; row < rows; ++row) {
        if (interruptRequested()) continue;
        const std::size_t start = static_cast<std::size_t>(row) * static_cast<std::size_t>(n);
        const float* src = in + start;
        float* dst = out + start;
        if (io.liveOut != nullptr) {
            const bool live = hasBand && !allZero(src, n);
            io.liveOut[row] = live;
            if (!live) {
                std::fill(dst, dst + n, 0.0f);
                continue;
            }
            std::fill(dst, dst + m, 0.0f);
            std::fill(dst + (n - m), dst + n, 0.0f);
        } else if (!hasBand) {
            continue;
        }
        for (int x = m; x < n - m; ++x) dst[x] = src[x] * coef[0];
        for (int k = 1; k < m; ++k) {
            const float c = coef[k];
            for (int x = m; x < n - m; ++x) dst[x] += (src[x + k] + src[x - k]) * c;
        }
    }
    checkInterrupt(WHILE_FILTERING);
}

// The working set that a pass keeps in cache: about one core's L2.
constexpr std::size_t L2_BYTES = std::size_t{1} << 20;

// One pass along y (axis 1) or z (axis 2), a row of x at a time so that the
// taps vectorise; each output still sees its terms in the order above.
SHAPESCALE_VECTOR_CLONES
void convolveYZ(const float* in, const int* dims, const FILTER& f, float* out, int axis,
                const PassIo& io) {
    const int nx = dims[0];
    const int ny = dims[1];
    const int nz = dims[2];
    const int n = dims[axis];
    const int m = f.size;
    const bool hasBand = n - m > m;
    // Neighbours along the axis, in rows (y, z) and in voxels.
    const std::size_t rowStep = axis == 1 ? 1 : static_cast<std::size_t>(ny);
    const std::size_t step = rowStep * static_cast<std::size_t>(nx);
    const float* coef = f.coef.data();
    // Tiles of rows, each written by one thread: whole planes, unless the
    // 2m - 1 planes that a z pass reads for one output plane do not fit in the
    // L2 cache; then a few rows of y through every plane, so that the input
    // rows of an output are still in cache for the next z.
    const std::size_t planeBytes = sizeof(float) * static_cast<std::size_t>(nx) * ny;
    const std::size_t window = 2 * static_cast<std::size_t>(m) - 1;
    const bool planeTiles = axis == 1 || window * planeBytes <= L2_BYTES;
    const int tileRows =
        planeTiles ? ny
                   : static_cast<int>(std::clamp<std::size_t>(
                         L2_BYTES / (window * sizeof(float) * static_cast<std::size_t>(nx)), 1,
                         static_cast<std::size_t>(ny)));
    const int tilesPerPlane = (ny + tileRows - 1) / tileRows;
    const int tilePlanes = planeTiles ? 1 : nz;
    const int tiles = tilesPerPlane * (nz / tilePlanes);
#pragma omp parallel for schedule(static) if (threaded(dims))
    for (int tile = 0; tile < tiles; ++tile) {
        if (interruptRequested()) continue;
        const int yFirst = (tile % tilesPerPlane) * tileRows;
        const int yEnd = std::min(ny, yFirst + tileRows);
        const int zFirst = (tile / tilesPerPlane) * tilePlanes;
        for (int z = zFirst; z < zFirst + tilePlanes; ++z)
            for (int y = yFirst; y < yEnd; ++y) {
                const std::size_t row =
                    static_cast<std::size_t>(y) + static_cast<std::size_t>(ny) * z;
                const std::size_t start = row * static_cast<std::size_t>(nx);
                float* dst = out + start;
                const int p = axis == 1 ? y : z;
                if (!hasBand || p < m || p >= n - m) {
                    if (io.liveOut != nullptr) {
                        std::fill(dst, dst + nx, 0.0f);
                        io.liveOut[row] = 0;
                    }
                    if (io.rowDone != nullptr) (*io.rowDone)(row);
                    continue;
                }
                // Inside the band, so row - k * rowStep stays in the volume.
                auto isLive = [&](int k, int sign) {
                    if (io.liveIn == nullptr) return true;
                    return io.liveIn[sign > 0 ? row + k * rowStep : row - k * rowStep] != 0;
                };
                bool anyLive = isLive(0, 1);
                for (int k = 1; k < m && !anyLive; ++k) anyLive = isLive(k, 1) || isLive(k, -1);
                if (io.liveOut != nullptr) io.liveOut[row] = anyLive;
                if (!anyLive) {
                    std::fill(dst, dst + nx, 0.0f);
                    if (io.rowDone != nullptr) (*io.rowDone)(row);
                    continue;
                }
                const float* centre = in + start;
                for (int x = 0; x < nx; ++x) dst[x] = centre[x] * coef[0];
                for (int k = 1; k < m; ++k) {
                    const bool aheadLive = isLive(k, 1);
                    const bool behindLive = isLive(k, -1);
                    const float* ahead = centre + static_cast<std::size_t>(k) * step;
                    const float* behind = centre - static_cast<std::size_t>(k) * step;
                    const float c = coef[k];
                    if (aheadLive && behindLive) {
                        for (int x = 0; x < nx; ++x) dst[x] += (ahead[x] + behind[x]) * c;
                    } else if (aheadLive || behindLive) {
                        const float* one = aheadLive ? ahead : behind;
                        for (int x = 0; x < nx; ++x) dst[x] += one[x] * c;
                    }
                }
                if (io.rowDone != nullptr) (*io.rowDone)(row);
            }
    }
    checkInterrupt(WHILE_FILTERING);
}

// x pass into T1, y pass into T2, z pass into `out`. Every pass goes between
// different arrays, so `in` is read completely before `out` is written and
// the in-place call is safe.
void filterSeparable(const float* in, float* out, const int* dims, const FILTER& f,
                     FilterWorkspace& ws, const RowSink& sink) {
    // Only the z pass writes `out`, and only inside its band.
    if (hasNoVoxel(dims) || dims[2] - f.size <= f.size) return sinkEveryRow(dims, sink);
    const std::size_t rows = static_cast<std::size_t>(dims[1]) * static_cast<std::size_t>(dims[2]);
    float* t1 = atLeast(ws.t1, voxelCount(dims));
    float* t2 = atLeast(ws.t2, voxelCount(dims));
    unsigned char* live1 = atLeast(ws.live1, rows);
    unsigned char* live2 = atLeast(ws.live2, rows);
    convolveX(in, dims, f, t1, {nullptr, live1});
    convolveYZ(t1, dims, f, t2, 1, {live1, live2});
    convolveYZ(t2, dims, f, out, 2, {live2, nullptr, sink ? &sink : nullptr});
}

}  // namespace

void compute_mask(FILTER* f, float sigma, int maxSize) {
    rawGaussianWeights(f, sigma, maxSize);
    for (float& c : f->coef) c = c / f->sum;
}

void compute_maskNN(FILTER* f, float sigma, int maxSize) {
    rawGaussianWeights(f, sigma, maxSize);
}

void float_convol0(const float* in, const int* dims, const FILTER* f, float* out) {
    if (!hasNoVoxel(dims)) convolveX(in, dims, *f, out, {});
}

void float_convol1(const float* in, const int* dims, const FILTER* f, float* out) {
    if (!hasNoVoxel(dims)) convolveYZ(in, dims, *f, out, 1, {});
}

void float_convol2(const float* in, const int* dims, const FILTER* f, float* out) {
    if (!hasNoVoxel(dims)) convolveYZ(in, dims, *f, out, 2, {});
}

void filter3D(const float* in, float* out, const int* dims, float sigma, int maxSize,
              FilterWorkspace& ws, const RowSink& sink) {
    compute_mask(&ws.kernel, sigma, maxSize);
    filterSeparable(in, out, dims, ws.kernel, ws, sink);
}

void filter3DNN(const float* in, float* out, const int* dims, float sigma, int maxSize,
                FilterWorkspace& ws, const RowSink& sink) {
    compute_maskNN(&ws.kernel, sigma, maxSize);
    filterSeparable(in, out, dims, ws.kernel, ws, sink);
}

void filter3D(const float* in, float* out, const int* dims, float sigma, int maxSize) {
    FilterWorkspace ws;
    filter3D(in, out, dims, sigma, maxSize, ws);
}

void filter3DNN(const float* in, float* out, const int* dims, float sigma, int maxSize) {
    FilterWorkspace ws;
    filter3DNN(in, out, dims, sigma, maxSize, ws);
}

}  // namespace shapescale
