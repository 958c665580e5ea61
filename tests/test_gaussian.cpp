#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>
#include <utility>
#include <vector>

#include "filters/Gaussian.hpp"
#include "support/RandomVolume.hpp"

namespace shapescale {
namespace {

using test::forEachVoxel;
using test::randomVolume;

double rawWeight(float sigma, int k) {
    return std::exp(-double(k) * k / (2.0 * sigma * sigma));
}

TEST(GaussianKernel, SizeSumAndCoefficients) {
    // {raw, sigma, maxSize, size}: maxSize 0 means 33 and 1 or less gives {1}; weights
    // below 0.01 end a kernel (sigma 1: e^-8 at 4; sigma 40: 121^2/3200 < ln 100 <
    // 122^2/3200). The transform asks for sigma w, maxSize trunc(w); 40 and 63.9 pass 32.
    const std::tuple<bool, float, int, int> cases[] = {
        {false, 1, 0, 4},      {true, 1, 0, 4},     {false, 1, 3, 3},   {false, 1, 50, 4},
        {false, 20, 0, 33},    {false, 3, 1, 1},    {true, 3, -1, 1},   {false, 3, -40, 1},
        {true, 2.7f, 2, 2},    {true, 7.5f, 7, 7},  {true, 40, 40, 40}, {true, 63.9f, 63, 63},
        {false, 60, 150, 150}, {true, 40, 200, 122}};
    for (const auto& [raw, sigma, maxSize, size] : cases) {
        SCOPED_TRACE(testing::Message() << raw << " " << sigma << " " << maxSize);
        FILTER f;
        (raw ? compute_maskNN : compute_mask)(&f, sigma, maxSize);
        ASSERT_EQ(f.size, size);
        ASSERT_GE(f.coef.size(), std::size_t(size));
        EXPECT_EQ(f.sigma, sigma);
        double sum = 1.0;
        for (int k = 1; k < size; ++k) sum += 2.0 * rawWeight(sigma, k);
        EXPECT_NEAR(f.sum, sum, 1e-5 * sum);  // up to 150 float additions
        for (int k = 0; k < size; ++k) {
            const double want = rawWeight(sigma, k) / (raw ? 1.0 : f.sum);
            EXPECT_NEAR(f.coef[k], want, 1e-6 * want) << k;
        }
    }
}

TEST(GaussianKernel, HandComputedValues) {
    FILTER f;
    compute_mask(&f, 1.0f, 0);
    ASSERT_EQ(f.size, 4);
    EXPECT_NEAR(f.sum, 2.50595f, 1e-5f);  // 1 + 2 (e^-1/2 + e^-2 + e^-9/2)
    const float want[4] = {0.399050f, 0.242036f, 0.0540056f, 0.00443305f};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(f.coef[k], want[k], 1e-6f) << k;
    // 2 sigma^2 is formed in float: (2.7f + 2.7f) * 2.7f = 14.580001 changes the weight at 3.
    compute_maskNN(&f, 2.7f, 0);
    const float inFloat = float(std::exp(-9.0 / double((2.7f + 2.7f) * 2.7f)));
    ASSERT_NE(inFloat, float(std::exp(-9.0 / (2.0 * double(2.7f) * double(2.7f)))));
    EXPECT_EQ(f.coef[3], inFloat);
}

using Pass = void (*)(const float*, const int*, const FILTER*, float*);
const Pass PASSES[3] = {float_convol0, float_convol1, float_convol2};

using Filter = void (*)(const float*, float*, const int*, float, int);
const Filter FILTERS[2] = {filter3D, filter3DNN};  // normalised, raw

// Only m <= p <= n - m - 1 is written, nothing when n <= 2m. With the value p at
// position p along the axis: maxSize 1 copies it onto 1 ... n - 2; sigma 1 with
// maxSize 3 (m = 3) on n = 7 writes p = 3 alone, 3 c0 + (4 + 2) c1 + (5 + 1) c2.
TEST(GaussianPass, WritesInnerBandOnly) {
    for (int axis = 0; axis < 3; ++axis)
        for (const auto& [maxSize, n] : {std::pair{1, 5}, std::pair{3, 7}, std::pair{3, 6}}) {
            FILTER f;
            compute_mask(&f, 1.0f, maxSize);
            int d[3] = {4, 3, 2};
            d[axis] = n;
            std::vector<float> in(voxelCount(d)), out(in.size(), 99.0f);
            forEachVoxel(d, [&](const int* p, std::size_t i) { in[i] = float(p[axis]); });
            PASSES[axis](in.data(), d, &f, out.data());
            float centre = 3.0f * f.coef[0];
            if (maxSize == 3) centre = (centre + 6.0f * f.coef[1]) + 6.0f * f.coef[2];
            forEachVoxel(d, [&](const int* p, std::size_t i) {
                const int q = p[axis];
                const float want = maxSize == 1 && q >= 1 && q <= n - 2 ? float(q)
                                   : n == 7 && q == 3                   ? centre
                                                                        : 99.0f;
                EXPECT_EQ(out[i], want) << maxSize << " " << n << " " << axis << " " << i;
            });
        }
}

TEST(Filter3D, ImpulseAndConstantVolumes) {
    const int n = 20, c = 10;
    const int d[3] = {n, n, n};
    // {raw, sigma, maxSize, impulse}; sigma 1.5 has size 5: 16/4.5 < ln 100 < 25/4.5
    const std::tuple<bool, float, int, bool> cases[] = {
        {false, 1.0f, 0, true}, {true, 2.5f, 2, true}, {false, 1.5f, 0, false}};
    for (const auto& [raw, sigma, maxSize, impulse] : cases) {
        FILTER f;
        (raw ? compute_maskNN : compute_mask)(&f, sigma, maxSize);
        const int m = f.size;
        std::vector<float> in(voxelCount(d), impulse ? 0.0f : 3.5f), out(in.size(), -5.0f);
        if (impulse) in[voxelIndex(d, c, c, c)] = 1.0f;
        FILTERS[raw](in.data(), out.data(), d, sigma, maxSize);
        auto band = [&](int q) { return q >= m && q <= n - m - 1; };
        forEachVoxel(d, [&](const int* p, std::size_t i) {
            // out keeps its value outside the z pass's band, zero-filled temporaries give 0
            // outside the x or y band; an impulse meets each tap alone
            const int dx = std::abs(p[0] - c), dy = std::abs(p[1] - c), dz = std::abs(p[2] - c);
            const float want = !band(p[2])                  ? -5.0f
                               : !band(p[0]) || !band(p[1]) ? 0.0f
                               : !impulse                   ? 3.5f
                               : std::max({dx, dy, dz}) < m ? f.coef[dx] * f.coef[dy] * f.coef[dz]
                                                            : 0.0f;
            // three passes of 9 rounded terms: a kernel sums to 1 within a few ulps
            EXPECT_NEAR(out[i], want, impulse ? 0.0f : 3.5e-5f) << raw << sigma << " " << i;
        });
    }
}

TEST(Filter3D, InPlaceEqualsSeparateOutput) {
    const int d[3] = {18, 17, 16};
    const std::vector<float> in = randomVolume(d, -1.0f, 1.0f);
    for (Filter filter : FILTERS) {
        std::vector<float> separate = in, inPlace = in;
        filter(in.data(), separate.data(), d, 3.2f, 3);
        filter(inPlace.data(), inPlace.data(), d, 3.2f, 3);
        EXPECT_EQ(inPlace, separate);
        EXPECT_NE(inPlace, in);
    }
}

}  // namespace
}  // namespace shapescale
