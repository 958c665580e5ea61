#include "filters/Gaussian.hpp"

#include <cmath>
#include <cstddef>

#include "core/Grid.hpp"

namespace shapescale {

namespace {

// Raw weights at distances 0, 1, 2, ... (centre 1.0); sets f->sigma, f->size
// and f->sum. The weight is evaluated in double precision, but 2 sigma^2 is
// formed in single precision as (sigma + sigma) * sigma and only then widened,
// and the sum is accumulated in single precision from the rounded weights:
// stored kernels depend on exactly this rounding.
std::vector<float> rawGaussianWeights(FILTER* f, float sigma, int maxSize) {
    // 0 selects the default bound of 33 coefficients.
    const int limit = maxSize == 0 ? 33 : maxSize;
    const double twoSigmaSq = static_cast<double>((sigma + sigma) * sigma);
    std::vector<float> raw{1.0f};
    float sum = 1.0f;
    for (int i = 1; i < limit; ++i) {
        const double d = i;
        const double w = std::exp(-(d * d) / twoSigmaSq);
        if (w < 0.01) break;  // the failing weight is not kept
        const float wf = static_cast<float>(w);
        raw.push_back(wf);
        sum = (wf + wf) + sum;
    }
    f->sigma = sigma;
    f->size = static_cast<int>(raw.size());
    f->sum = sum;
    return raw;
}

// One pass along `axis` (0 = x, 1 = y, 2 = z). Every output is
// in[p] * coef[0] + (in[p + 1] + in[p - 1]) * coef[1] + ... in increasing k,
// all single precision, the mirrored inputs added before the multiplication.
// Lines are processed a row of x at a time so that the taps vectorise; each
// output still sees its terms in that order, whatever the thread count.
void convolveAlongAxis(const float* in, const int* dims, const FILTER* f, float* out, int axis) {
    if (hasNoVoxel(dims)) return;
    const int n = dims[axis];
    const int m = f->size;
    // Only m <= p <= n - m - 1 is written, one position short of the kernel's
    // reach at each end; the bands outside keep what `out` held. Deliberate:
    // the specified pass; the APT values near the grid's faces depend on it.
    if (n - m <= m) return;
    int lo[3] = {0, 0, 0};
    int hi[3] = {dims[0], dims[1], dims[2]};
    lo[axis] = m;
    hi[axis] = n - m;
    const std::size_t stride =
        axis == 0   ? 1
        : axis == 1 ? static_cast<std::size_t>(dims[0])
                    : static_cast<std::size_t>(dims[0]) * static_cast<std::size_t>(dims[1]);
    const float* coef = f->coef.data();

#pragma omp parallel for schedule(static)
    for (int z = lo[2]; z < hi[2]; ++z) {
        for (int y = lo[1]; y < hi[1]; ++y) {
            const std::size_t row = voxelIndex(dims, 0, y, z);
            const float* centre = in + row;
            float* dst = out + row;
            for (int x = lo[0]; x < hi[0]; ++x) dst[x] = centre[x] * coef[0];
            for (int k = 1; k < m; ++k) {
                // row >= k * stride inside the band, so `behind` stays in the array.
                const std::size_t shift = static_cast<std::size_t>(k) * stride;
                const float* ahead = centre + shift;
                const float* behind = centre - shift;
                const float c = coef[k];
                for (int x = lo[0]; x < hi[0]; ++x) dst[x] += (ahead[x] + behind[x]) * c;
            }
        }
    }
}

// x pass into T1, y pass into T2, z pass into `out`. Every pass goes between
// different arrays, so `in` is read completely before `out` is written and
// the in-place call is safe.
void filterSeparable(const float* in, float* out, const int* dims, const FILTER& f) {
    if (hasNoVoxel(dims)) return;
    // Zero-filled: the y and z passes read the temporaries' unwritten bands,
    // and zeros there make the outputs computed from them 0.
    const std::size_t count = voxelCount(dims);
    std::vector<float> t1(count, 0.0f);
    std::vector<float> t2(count, 0.0f);
    float_convol0(in, dims, &f, t1.data());
    float_convol1(t1.data(), dims, &f, t2.data());
    float_convol2(t2.data(), dims, &f, out);
}

}  // namespace

void compute_mask(FILTER* f, float sigma, int maxSize) {
    const std::vector<float> raw = rawGaussianWeights(f, sigma, maxSize);
    f->coef.resize(raw.size());
    for (std::size_t k = 0; k < raw.size(); ++k) f->coef[k] = raw[k] / f->sum;
}

void compute_maskNN(FILTER* f, float sigma, int maxSize) {
    f->coef = rawGaussianWeights(f, sigma, maxSize);
}

void float_convol0(const float* in, const int* dims, const FILTER* f, float* out) {
    convolveAlongAxis(in, dims, f, out, 0);
}

void float_convol1(const float* in, const int* dims, const FILTER* f, float* out) {
    convolveAlongAxis(in, dims, f, out, 1);
}

void float_convol2(const float* in, const int* dims, const FILTER* f, float* out) {
    convolveAlongAxis(in, dims, f, out, 2);
}

void filter3D(const float* in, float* out, const int* dims, float sigma, int maxSize) {
    FILTER f;
    compute_mask(&f, sigma, maxSize);
    filterSeparable(in, out, dims, f);
}

void filter3DNN(const float* in, float* out, const int* dims, float sigma, int maxSize) {
    FILTER f;
    compute_maskNN(&f, sigma, maxSize);
    filterSeparable(in, out, dims, f);
}

}  // namespace shapescale
