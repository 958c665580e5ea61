// The Gaussian, box and ball filters: their definitions on small volumes, and
// the fast filters against the straightforward ones, voxel by voxel.

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include "filters/BallSum.hpp"
#include "filters/BoxSum.hpp"
#include "filters/FilterWorkspace.hpp"
#include "filters/Gaussian.hpp"
#include "filters/reference/ReferenceFilters.hpp"
#include "support/RandomVolume.hpp"

namespace shapescale {
namespace {

using test::forEachVoxel;
using test::randomVolume;

using Pass = void (*)(const float*, const int*, const FILTER*, float*);
using Filter = void (*)(const float*, float*, const int*, float, int);

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

const Pass PASSES[3] = {float_convol0, float_convol1, float_convol2};

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

// Over a volume of ones, out(p) counts the offsets (a, b, c) in -R ... R - 1 with
// a^2 + b^2 + c^2 <= r^2 that keep p + (a, b, c) inside the grid; for a single 1 at
// the centre (2, 2, 2), out(p) is 1 exactly when the offset (2, 2, 2) - p counts.
TEST(SphereFilter, HandCountedBalls) {
    const int d[3] = {5, 5, 5};
    std::vector<float> ones(125, 1.0f), impulse(125, 0.0f);
    impulse[voxelIndex(d, 2, 2, 2)] = 1.0f;
    // {r, x, y, z, count, impulse}. r = 1: self and the three lower neighbours. r = 2:
    // 27 from {-1, 0, 1}^3 and three with a single -2; {0, 1}^3 at (0, 0, 0); {-1, 0}^3
    // and the three with a single -2 at (4, 4, 4). The impulse: (-2, 0, 0) counts,
    // (2, 0, 0) does not, (-1, -1, -1) and (1, 1, 1) do, (-2, -1, 0) is too long.
    const float cases[][6] = {{0.5f, 2, 2, 2, 0, 0}, {1, 2, 2, 2, 4, 0},  {1, 0, 0, 0, 1, 0},
                              {1, 4, 0, 0, 2, 0},    {2, 2, 2, 2, 30, 0}, {2, 0, 0, 0, 8, 0},
                              {2, 4, 4, 4, 11, 0},   {2, 4, 2, 2, 1, 1},  {2, 0, 2, 2, 0, 1},
                              {2, 3, 3, 3, 1, 1},    {2, 1, 1, 1, 1, 1},  {2, 4, 3, 2, 0, 1}};
    for (const auto& [r, x, y, z, count, single] : cases) {
        std::vector<float> out(125, 8.0f);
        sphereFlt((single != 0 ? impulse : ones).data(), out.data(), d, r);
        EXPECT_EQ(out[voxelIndex(d, int(x), int(y), int(z))], count) << r << " " << x << y << z;
    }
}

TEST(BoxFilter, WholeRadiusOnConstantVolumeInPlace) {
    const int d[3] = {10, 9, 8};
    std::vector<float> vol(voxelCount(d), 0.75f);
    boxFlt(vol.data(), vol.data(), d, 2.0f);
    // interior c = 2 ... n - 3, each window 2r = 4 long
    forEachVoxel(d, [&](const int* p, std::size_t i) {
        const bool interior =
            p[0] >= 2 && p[0] < 8 && p[1] >= 2 && p[1] < 7 && p[2] >= 2 && p[2] < 6;
        EXPECT_EQ(vol[i], interior ? 0.75f + 64.0f * 0.75f : 0.75f) << i;
    });
    // Empty windows (r <= 0), or no interior z (4 >= 8 - 4.5): the output is unchanged.
    const std::vector<float> in(vol.size(), 1.0f), before = vol;
    for (float r : {0.0f, -2.0f, 4.5f, 30.0f}) {
        boxFlt(in.data(), vol.data(), d, r);
        EXPECT_EQ(vol, before) << r;
    }
}

// Input 2^k at position k along one axis and 1 across: a sum's bits show its window.
TEST(BoxFilter, NonWholeRadiusWindows) {
    // Extent 6: c = 2, 3 (3 < 3.5), windows 0-3 and 0-4. Extent 10: c = 2 ... 7
    // (7 < 7.5), windows 0-3, 0-4, 1-5, 2-6, 3-7, 4-8.
    const std::vector<float> sums[2] = {{4, 5}, {15, 31, 62, 124, 248, 496}};
    for (int axis = 0; axis < 3; ++axis) {
        int d[3] = {6, 6, 6};
        d[axis] = 10;
        std::vector<float> in(360), out(360, 0.0f);
        forEachVoxel(d, [&](const int* p, std::size_t i) { in[i] = std::ldexp(1.0f, p[axis]); });
        boxFlt(in.data(), out.data(), d, 2.5f);
        forEachVoxel(d, [&](const int* p, std::size_t i) {
            float want = 1.0f;
            for (int a = 0; a < 3; ++a) {
                const std::vector<float>& t = sums[a == axis];
                want *= p[a] >= 2 && p[a] - 2 < int(t.size()) ? t[p[a] - 2] : 0.0f;
            }
            EXPECT_EQ(out[i], want) << axis << " " << i;
        });
    }
}

enum Which { BALL, BOX, GAUSS, GAUSS_NN, PASS_X, PASS_Y, PASS_Z, WHICH_COUNT };

// Applies filter `which` at width r: the fast one with `ws` (or a local
// workspace when null), the straightforward one when `ref`.
void apply(Which which, bool ref, const float* in, float* out, const int* d, float r,
           FilterWorkspace* ws) {
    FILTER f;
    compute_mask(&f, r, 0);
    const int rawSize = static_cast<int>(r);  // the transform's call of filter3DNN
    switch (which) {
        case BALL:
            if (ref) return reference::sphereFlt(in, out, d, r);
            return ws ? sphereFlt(in, out, d, r, *ws) : sphereFlt(in, out, d, r);
        case BOX:
            if (ref) return reference::boxFlt(in, out, d, r);
            return ws ? boxFlt(in, out, d, r, *ws) : boxFlt(in, out, d, r);
        case GAUSS:
            if (ref) return reference::filter3D(in, out, d, r, 0);
            return ws ? filter3D(in, out, d, r, 0, *ws) : filter3D(in, out, d, r, 0);
        case GAUSS_NN:
            if (ref) return reference::filter3DNN(in, out, d, r, rawSize);
            return ws ? filter3DNN(in, out, d, r, rawSize, *ws)
                      : filter3DNN(in, out, d, r, rawSize);
        case PASS_X:
            return (ref ? reference::float_convol0 : float_convol0)(in, d, &f, out);
        case PASS_Y:
            return (ref ? reference::float_convol1 : float_convol1)(in, d, &f, out);
        case PASS_Z:
            return (ref ? reference::float_convol2 : float_convol2)(in, d, &f, out);
        default:
            return;
    }
}

// Positive, mixed sign, sparse (3 % non-zero, mixed sign), and positive only in
// one corner block, so that many windows hold nothing but zeros.
enum Kind { POSITIVE, MIXED, SPARSE, CORNER, KINDS };

std::vector<float> volumeOf(Kind kind, const int* d) {
    std::vector<float> v = randomVolume(d, kind == MIXED || kind == SPARSE ? -1.0f : 0.0f, 1.0f);
    const std::vector<float> pick = randomVolume(d, 0.0f, 1.0f);
    test::forEachVoxel(d, [&](const int* p, std::size_t i) {
        const bool corner = p[0] < d[0] / 3 && p[2] >= d[2] / 2;
        if ((kind == SPARSE && pick[(i * 7919) % pick.size()] > 0.03f) ||
            (kind == CORNER && !corner))
            v[i] = 0.0f;
    });
    return v;
}

// |fast - ref| <= max(1e-5 * (the window's absolute sum), 1e-9 * max|input|): a
// fixed-point or running sum adds in another order, and cannot resolve a window
// that holds only a vanishing vote. The window's absolute sum is the filter run
// on |input| (and on |previous output|, which the box and the passes add to).
// Exactly equal where that sum is 0, never negative where nothing is negative.
TEST(FastFilters, AgreeWithReferenceOnEveryVoxel) {
    const std::array<int, 3> grids[] = {{11, 7, 9}, {13, 8, 10}};
    const float radii[] = {0.5f, 1.0f, 1.5f, 2.0f, 2.5f, 3.3f, 7.0f, 12.0f};
    FilterWorkspace ws;  // shared by every case: stale contents must not leak into a result
    for (const auto& grid : grids)
        for (int kind = 0; kind < KINDS; ++kind) {
            const int* d = grid.data();
            const std::vector<float> in = volumeOf(Kind(kind), d);
            const bool positive = kind == POSITIVE || kind == CORNER;
            const std::vector<float> before = randomVolume(d, positive ? 0.0f : -1.0f, 1.0f);
            std::vector<float> absIn(in.size()), absBefore(in.size());
            std::transform(in.begin(), in.end(), absIn.begin(),
                           [](float v) { return std::fabs(v); });
            std::transform(before.begin(), before.end(), absBefore.begin(),
                           [](float v) { return std::fabs(v); });
            const float floor = 1e-9f * *std::max_element(absIn.begin(), absIn.end());
            for (float r : radii)
                for (int which = 0; which < WHICH_COUNT; ++which) {
                    std::vector<float> fast = before, ref = before, abs = absBefore;
                    apply(Which(which), false, in.data(), fast.data(), d, r, &ws);
                    apply(Which(which), true, in.data(), ref.data(), d, r, nullptr);
                    apply(Which(which), true, absIn.data(), abs.data(), d, r, nullptr);
                    int bad = 0;
                    for (std::size_t i = 0; i < in.size() && bad < 3; ++i) {
                        const bool ok = abs[i] == 0.0f ? fast[i] == ref[i]
                                                       : std::fabs(fast[i] - ref[i]) <=
                                                             std::max(1e-5f * abs[i], floor);
                        bad += !ok || (positive && fast[i] < 0.0f);
                        EXPECT_TRUE(ok && !(positive && fast[i] < 0.0f))
                            << "filter " << which << " kind " << kind << " r " << r << " grid "
                            << d[0] << " voxel " << i << ": " << fast[i] << " vs " << ref[i];
                    }
                }
        }
}

// Every filter, one thread against two, bit for bit, on a volume large enough
// to split; the ball sum also on a volume that holds an infinity and a NaN,
// where it must give the straightforward IEEE results.
TEST(FastFilters, ThreadCountAndSpecialValues) {
    const int d[3] = {37, 29, 31};
    const std::vector<float> in = volumeOf(SPARSE, d);
    const int saved = omp_get_max_threads();
    for (int which = 0; which < WHICH_COUNT; ++which) {
        std::vector<float> one(in.size(), 0.5f), two = one;
        omp_set_num_threads(1);
        apply(Which(which), false, in.data(), one.data(), d, 3.3f, nullptr);
        omp_set_num_threads(2);
        apply(Which(which), false, in.data(), two.data(), d, 3.3f, nullptr);
        EXPECT_EQ(0, std::memcmp(one.data(), two.data(), one.size() * sizeof(float))) << which;
        EXPECT_NE(one, std::vector<float>(in.size(), 0.5f)) << which;
    }
    omp_set_num_threads(saved);

    const int small[3] = {9, 8, 7};
    std::vector<float> special = randomVolume(small, -1.0f, 1.0f);
    special[100] = std::numeric_limits<float>::infinity();
    special[300] = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> fast(special.size()), ref(special.size());
    sphereFlt(special.data(), fast.data(), small, 2.5f);
    reference::sphereFlt(special.data(), ref.data(), small, 2.5f);
    for (std::size_t i = 0; i < fast.size(); ++i)
        EXPECT_TRUE(fast[i] == ref[i] || (std::isnan(fast[i]) && std::isnan(ref[i]))) << i;
}

// Planes too large for 2m - 1 of them to stay in cache: the z pass then runs in
// tiles of rows through every plane (here two per plane, the second one short).
TEST(FastFilters, GaussianOnLargePlanes) {
    const int d[3] = {256, 200, 13};
    const std::vector<float> in = volumeOf(SPARSE, d);
    std::vector<float> fast(in.size(), 0.5f), ref = fast;
    filter3DNN(in.data(), fast.data(), d, 4.5f, 4);
    reference::filter3DNN(in.data(), ref.data(), d, 4.5f, 4);
    EXPECT_EQ(fast, ref);  // the terms of every voxel in the same order
    EXPECT_NE(fast, std::vector<float>(in.size(), 0.5f));
}

}  // namespace
}  // namespace shapescale
