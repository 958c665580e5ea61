#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "filters/Gaussian.hpp"
#include "support/RandomVolume.hpp"

namespace shapescale {
namespace {

using test::randomVolume;

std::size_t at(const int* d, int x, int y, int z) {
    return voxelIndex(d, x, y, z);
}

using Pass = void (*)(const float*, const int*, const FILTER*, float*);
const Pass PASSES[3] = {float_convol0, float_convol1, float_convol2};

// ---- kernel builders ------------------------------------------------------

TEST(GaussianKernel, SigmaOneDefaultBound) {
    FILTER f;
    compute_mask(&f, 1.0f, 0);
    ASSERT_EQ(f.size, 4);  // e^-8 = 0.000335 at distance 4 fails the 0.01 test
    EXPECT_EQ(f.sigma, 1.0f);
    // 1 + 2 (e^-1/2 + e^-2 + e^-9/2) = 2.5059499 by hand; 6 digits given.
    EXPECT_NEAR(f.sum, 2.50595f, 1e-5f);
    const float expected[4] = {0.399050f, 0.242036f, 0.0540056f, 0.00443305f};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(f.coef[k], expected[k], 1e-6f) << k;  // 6 digits
    double total = f.coef[0];
    for (int k = 1; k < 4; ++k) total += 2.0 * f.coef[k];
    EXPECT_NEAR(total, 1.0, 1e-6);  // seven float quotients, each rounded once
}

TEST(GaussianKernel, RawVariantKeepsUnnormalisedWeights) {
    FILTER f;
    compute_maskNN(&f, 1.0f, 0);
    ASSERT_EQ(f.size, 4);
    // 2 sigma^2 = 2 exactly, so the oracle in double matches before rounding.
    EXPECT_EQ(f.coef[0], 1.0f);
    EXPECT_EQ(f.coef[1], static_cast<float>(std::exp(-0.5)));
    EXPECT_EQ(f.coef[2], static_cast<float>(std::exp(-2.0)));
    EXPECT_EQ(f.coef[3], static_cast<float>(std::exp(-4.5)));
    EXPECT_NEAR(f.sum, 2.50595f, 1e-5f);
}

TEST(GaussianKernel, BoundOfOneOrLessGivesSingleCoefficient) {
    for (int maxSize : {1, -1, -40}) {
        FILTER a, b;
        compute_mask(&a, 3.0f, maxSize);
        compute_maskNN(&b, 3.0f, maxSize);
        for (const FILTER* f : {&a, &b}) {
            EXPECT_EQ(f->size, 1) << maxSize;
            EXPECT_EQ(f->coef[0], 1.0f) << maxSize;
            EXPECT_EQ(f->sum, 1.0f) << maxSize;
        }
    }
}

TEST(GaussianKernel, BoundOrSmallWeightEndsKernel) {
    FILTER f;
    compute_mask(&f, 1.0f, 3);  // cut by the bound: distances 0, 1, 2
    ASSERT_EQ(f.size, 3);
    // 1 + 2 (0.60653066 + 0.13533528) = 2.4837319; 1 / that = 0.4026196
    EXPECT_NEAR(f.sum, 2.4837319f, 1e-6f);
    EXPECT_NEAR(f.coef[0], 0.4026196f, 1e-6f);
    compute_mask(&f, 1.0f, 50);  // the bound allows more, the 0.01 test does not
    EXPECT_EQ(f.size, 4);
    compute_mask(&f, 20.0f, 0);  // 0 means 33; e^(-32^2 / 800) = 0.278 still passes
    EXPECT_EQ(f.size, 33);
}

TEST(GaussianKernel, TransformCallGivesTruncatedRawKernel) {
    // filter3DNN is called with sigma = w, maxSize = trunc(w); 40 and 63.9 pass 32.
    for (float w : {1.0f, 2.7f, 7.5f, 40.0f, 63.9f}) {
        FILTER f;
        compute_maskNN(&f, w, static_cast<int>(w));
        ASSERT_EQ(f.size, static_cast<int>(w)) << w;
        ASSERT_GE(f.coef.size(), static_cast<std::size_t>(f.size));
        for (int i = 0; i < f.size; ++i) {
            const double expected = std::exp(-double(i) * i / (2.0 * double(w) * w));
            // 2 w^2 rounded to float once, the weight once: a few 1e-7 relative
            EXPECT_NEAR(f.coef[i], expected, 1e-6 * expected) << w << " " << i;
        }
    }
}

TEST(GaussianKernel, TwiceSigmaSquaredIsRoundedToFloat) {
    FILTER f;
    compute_maskNN(&f, 2.7f, 0);
    // (2.7f + 2.7f) * 2.7f = 14.580001 in float, 14.5800005 in double; at
    // distance 3 the two give different float weights.
    const float twoSigmaSq = (2.7f + 2.7f) * 2.7f;
    const float expected = static_cast<float>(std::exp(-9.0 / double(twoSigmaSq)));
    const float allDouble =
        static_cast<float>(std::exp(-9.0 / (2.0 * double(2.7f) * double(2.7f))));
    ASSERT_NE(expected, allDouble);
    EXPECT_EQ(f.coef[3], expected);
}

TEST(GaussianKernel, LongKernelsAreNotLimited) {
    FILTER f;
    compute_mask(&f, 60.0f, 150);  // every distance below 150 passes: 149^2/7200 < ln 100
    ASSERT_EQ(f.size, 150);
    ASSERT_GE(f.coef.size(), 150u);
    double total = f.coef[0];
    for (int k = 1; k < f.size; ++k) total += 2.0 * f.coef[k];
    EXPECT_NEAR(total, 1.0, 1e-5);  // 150 single-precision terms in the sum
    // 121^2/3200 = 4.575 < ln 100 = 4.605 < 122^2/3200 = 4.651: the test ends it
    compute_maskNN(&f, 40.0f, 200);
    EXPECT_EQ(f.size, 122);
    EXPECT_NEAR(f.coef[121], std::exp(-14641.0 / 3200.0), 1e-8);
}

// ---- one pass ---------------------------------------------------------------

TEST(GaussianPass, WritesOnlyInnerBandAlongEachAxis) {
    FILTER f;
    compute_mask(&f, 1.0f, 3);
    const int m = f.size;  // 3: positions 3 ... 7 of 11 are written
    for (int axis = 0; axis < 3; ++axis) {
        int d[3] = {4, 5, 3};
        d[axis] = 11;
        const std::vector<float> in = randomVolume(d, -1.0f, 1.0f);
        std::vector<float> out(in.size(), 99.0f);
        PASSES[axis](in.data(), d, &f, out.data());
        for (int z = 0; z < d[2]; ++z)
            for (int y = 0; y < d[1]; ++y)
                for (int x = 0; x < d[0]; ++x) {
                    const int c[3] = {x, y, z};
                    const int p = c[axis];
                    const float got = out[at(d, x, y, z)];
                    if (p < m || p > 11 - m - 1) {
                        EXPECT_EQ(got, 99.0f) << axis << " " << p;
                        continue;
                    }
                    auto tap = [&](int k) {
                        int s[3] = {x, y, z};
                        s[axis] += k;
                        return in[at(d, s[0], s[1], s[2])];
                    };
                    // Centre first, then each mirrored pair added before it is
                    // weighted, in increasing k: the faster filters' reference.
                    float expected = tap(0) * f.coef[0];
                    for (int k = 1; k < m; ++k) expected += (tap(k) + tap(-k)) * f.coef[k];
                    EXPECT_EQ(got, expected) << axis << " " << x << y << z;
                }
    }
}

TEST(GaussianPass, LineOfAtMostTwiceKernelIsUntouched) {
    FILTER f;
    compute_mask(&f, 1.0f, 3);  // m = 3
    for (int axis = 0; axis < 3; ++axis) {
        int d[3] = {2, 3, 2};
        d[axis] = 6;  // n = 2m
        const std::vector<float> in = randomVolume(d, 1.0f, 2.0f);
        std::vector<float> out(in.size(), -3.0f);
        PASSES[axis](in.data(), d, &f, out.data());
        EXPECT_EQ(out, std::vector<float>(in.size(), -3.0f)) << axis;
        d[axis] = 7;  // n = 2m + 1: the middle position alone
        const std::vector<float> in7 = randomVolume(d, 1.0f, 2.0f);
        std::vector<float> out7(in7.size(), -3.0f);
        PASSES[axis](in7.data(), d, &f, out7.data());
        std::size_t written = 0;
        for (float v : out7) written += v != -3.0f;
        EXPECT_EQ(written, in7.size() / 7) << axis;
    }
}

TEST(GaussianPass, SingleCoefficientCopiesAllButEnds) {
    FILTER f;
    compute_mask(&f, 2.0f, 1);
    const int d[3] = {6, 1, 1};
    const std::vector<float> in = randomVolume(d, -5.0f, 5.0f);
    std::vector<float> out(6, 7.0f);
    float_convol0(in.data(), d, &f, out.data());
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_EQ(out[5], 7.0f);
    for (int x = 1; x <= 4; ++x) EXPECT_EQ(out[x], in[x]) << x;  // times 1.0f is exact
}

// ---- 3-D filter -------------------------------------------------------------

// A unit impulse passes through each tap alone, so every output is the
// product of three coefficients, rounded in pass order, with no sum.
TEST(Filter3D, ImpulseGivesProductOfCoefficients) {
    struct Case {
        bool normalised;
        float sigma;
        int maxSize;
    };
    for (const Case& c : {Case{true, 1.0f, 0}, Case{false, 2.5f, 2}}) {
        FILTER f;
        if (c.normalised)
            compute_mask(&f, c.sigma, c.maxSize);
        else
            compute_maskNN(&f, c.sigma, c.maxSize);
        const int m = f.size;
        const int n = 16, centre = 8;
        const int d[3] = {n, n, n};
        std::vector<float> in(static_cast<std::size_t>(n) * n * n, 0.0f);
        in[at(d, centre, centre, centre)] = 1.0f;
        std::vector<float> out(in.size(), -5.0f);
        (c.normalised ? filter3D : filter3DNN)(in.data(), out.data(), d, c.sigma, c.maxSize);
        auto inBand = [&](int p) { return p >= m && p <= n - m - 1; };
        for (int z = 0; z < n; ++z)
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x) {
                    const float got = out[at(d, x, y, z)];
                    const int dx = std::abs(x - centre), dy = std::abs(y - centre),
                              dz = std::abs(z - centre);
                    if (!inBand(z))
                        EXPECT_EQ(got, -5.0f);  // unwritten by the z pass
                    else if (!inBand(x) || !inBand(y) || dx >= m || dy >= m || dz >= m)
                        EXPECT_EQ(got, 0.0f);  // zero temporaries, or out of reach
                    else
                        EXPECT_EQ(got, f.coef[dx] * f.coef[dy] * f.coef[dz]);
                }
    }
}

TEST(Filter3D, ConstantVolumeKeepsValueAwayFromFaces) {
    const int n = 20;
    const int d[3] = {n, n, n};
    FILTER f;
    compute_mask(&f, 1.5f, 0);
    const int m = f.size;
    ASSERT_EQ(m, 5);  // 16/4.5 < ln 100 < 25/4.5
    std::vector<float> v(static_cast<std::size_t>(n) * n * n, 3.5f);
    filter3D(v.data(), v.data(), d, 1.5f, 0);
    for (int z = m; z < n - m; ++z)
        for (int y = m; y < n - m; ++y)
            for (int x = m; x < n - m; ++x)
                // three passes of 9 rounded terms; the kernel sums to 1 within a few ulps
                EXPECT_NEAR(v[at(d, x, y, z)], 3.5f, 3.5f * 1e-5f);
}

TEST(Filter3D, InPlaceEqualsSeparateOutput) {
    const int d[3] = {18, 17, 16};
    const std::vector<float> in = randomVolume(d, -1.0f, 1.0f);
    for (bool normalised : {true, false}) {
        auto filter = normalised ? filter3D : filter3DNN;
        std::vector<float> separate = in;  // same values where nothing is written
        filter(in.data(), separate.data(), d, 3.2f, 3);
        std::vector<float> inPlace = in;
        filter(inPlace.data(), inPlace.data(), d, 3.2f, 3);
        EXPECT_EQ(inPlace, separate) << normalised;
        EXPECT_NE(inPlace, in) << normalised;
    }
}

}  // namespace
}  // namespace shapescale
