#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "filters/BoxSphere.hpp"
#include "filters/Gaussian.hpp"
#include "support/RandomVolume.hpp"

namespace shapescale {
namespace {

using test::randomVolume;

std::size_t at(const int* d, int x, int y, int z) {
    return voxelIndex(d, x, y, z);
}

bool inside(const int* d, int x, int y, int z) {
    return x >= 0 && y >= 0 && z >= 0 && x < d[0] && y < d[1] && z < d[2];
}

// ---- sphere -----------------------------------------------------------------

TEST(SphereFilter, RadiusBelowOneGivesZero) {
    const int d[3] = {5, 4, 3};
    const std::vector<float> in = randomVolume(d, 1.0f, 2.0f);
    std::vector<float> out(in.size(), 8.0f);
    sphereFlt(in.data(), out.data(), d, 0.5f);
    EXPECT_EQ(out, std::vector<float>(in.size(), 0.0f));
}

TEST(SphereFilter, RadiusOneSumsSelfAndLowerNeighbours) {
    const int d[3] = {4, 3, 5};
    std::vector<float> in(static_cast<std::size_t>(4 * 3 * 5));
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = float(i + 1);  // small integers: exact sums
    std::vector<float> out(in.size(), -1.0f);
    sphereFlt(in.data(), out.data(), d, 1.0f);
    for (int z = 0; z < d[2]; ++z)
        for (int y = 0; y < d[1]; ++y)
            for (int x = 0; x < d[0]; ++x) {
                float expected = in[at(d, x, y, z)];
                if (x > 0) expected += in[at(d, x - 1, y, z)];
                if (y > 0) expected += in[at(d, x, y - 1, z)];
                if (z > 0) expected += in[at(d, x, y, z - 1)];
                EXPECT_EQ(out[at(d, x, y, z)], expected) << x << y << z;
            }
}

TEST(SphereFilter, RadiusTwoIsOneLongerOnNegativeSide) {
    const int d[3] = {6, 6, 6};
    std::vector<float> in(6 * 6 * 6, 0.0f);
    in[at(d, 2, 2, 2)] = 1.0f;
    std::vector<float> out(in.size());
    sphereFlt(in.data(), out.data(), d, 2.0f);
    // out(p) = 1 exactly when the offset (2, 2, 2) - p is in the ball.
    EXPECT_EQ(out[at(d, 4, 2, 2)], 1.0f);  // offset (-2, 0, 0)
    EXPECT_EQ(out[at(d, 0, 2, 2)], 0.0f);  // offset (2, 0, 0)
    EXPECT_EQ(out[at(d, 2, 4, 2)], 1.0f);
    EXPECT_EQ(out[at(d, 2, 2, 0)], 0.0f);
    EXPECT_EQ(out[at(d, 3, 3, 3)], 1.0f);  // (-1, -1, -1): 3 <= 4
    EXPECT_EQ(out[at(d, 4, 3, 2)], 0.0f);  // (-2, -1, 0): 5 > 4
    EXPECT_EQ(out[at(d, 1, 1, 1)], 1.0f);  // (1, 1, 1)

    // Counting by hand over a, b, c in -2 ... 1 with a^2 + b^2 + c^2 <= 4:
    // 27 from {-1, 0, 1}^3 and 3 with a single -2: 30 in the interior.
    const int e[3] = {5, 5, 5};
    const std::vector<float> ones(125, 1.0f);
    std::vector<float> count(125);
    sphereFlt(ones.data(), count.data(), e, 2.0f);
    EXPECT_EQ(count[at(e, 2, 2, 2)], 30.0f);
    EXPECT_EQ(count[at(e, 0, 0, 0)], 8.0f);   // only a, b, c in {0, 1} stay inside
    EXPECT_EQ(count[at(e, 4, 4, 4)], 11.0f);  // {-1, 0}^3 and the three single -2
}

TEST(SphereFilter, MatchesBruteForceOnRandomVolume) {
    const int d[3] = {9, 8, 7};
    const std::vector<float> in = randomVolume(d, -1.0f, 1.0f);
    std::vector<float> out(in.size());
    for (float r : {1.0f, 1.5f, 2.5f, 3.2f, 20.0f}) {
        sphereFlt(in.data(), out.data(), d, r);
        const int lo = static_cast<int>(-r), hi = static_cast<int>(r) - 1;
        for (int x = 0; x < d[0]; ++x)
            for (int y = 0; y < d[1]; ++y)
                for (int z = 0; z < d[2]; ++z) {
                    float expected = 0.0f;
                    for (int a = lo; a <= hi; ++a)
                        for (int b = lo; b <= hi; ++b)
                            for (int c = lo; c <= hi; ++c)
                                if (float(a * a + b * b + c * c) <= r * r &&
                                    inside(d, x + a, y + b, z + c))
                                    expected += in[at(d, x + a, y + b, z + c)];
                    // the same terms in the same order, so the same rounding
                    EXPECT_EQ(out[at(d, x, y, z)], expected) << r << " " << x << y << z;
                }
    }
}

// ---- box --------------------------------------------------------------------

TEST(BoxFilter, WholeRadiusOnConstantVolumeInPlace) {
    const int d[3] = {10, 9, 8};
    const float v = 0.75f;
    std::vector<float> vol(10 * 9 * 8, v);
    boxFlt(vol.data(), vol.data(), d, 2.0f);
    // Interior c = 2, 3, ... while c < n - 2; a window of 2r = 4 positions.
    for (int z = 0; z < d[2]; ++z)
        for (int y = 0; y < d[1]; ++y)
            for (int x = 0; x < d[0]; ++x) {
                const bool interior = x >= 2 && x < 8 && y >= 2 && y < 7 && z >= 2 && z < 6;
                EXPECT_EQ(vol[at(d, x, y, z)], interior ? v + 64.0f * v : v) << x << y << z;
            }
}

// With the input 2^k at position k along one axis and 1 across, the window
// of each position can be read off the bits of the sum.
TEST(BoxFilter, NonWholeRadiusWindows) {
    const float r = 2.5f;
    // Extent 10: c = 2 ... 7 (7 < 7.5); windows 0-3, 0-4, 1-5, 2-6, 3-7, 4-8.
    const std::vector<float> windowSum = {15, 31, 62, 124, 248, 496};
    // Extent 6: c = 2, 3 (3 < 3.5); windows 0-3 and 0-4.
    const std::vector<float> crossCount = {4, 5};
    for (int axis = 0; axis < 3; ++axis) {
        int d[3] = {6, 6, 6};
        d[axis] = 10;
        std::vector<float> in(360);
        for (int z = 0; z < d[2]; ++z)
            for (int y = 0; y < d[1]; ++y)
                for (int x = 0; x < d[0]; ++x) {
                    const int c[3] = {x, y, z};
                    in[at(d, x, y, z)] = std::ldexp(1.0f, c[axis]);
                }
        std::vector<float> out(360, 0.0f);
        boxFlt(in.data(), out.data(), d, r);
        for (int z = 0; z < d[2]; ++z)
            for (int y = 0; y < d[1]; ++y)
                for (int x = 0; x < d[0]; ++x) {
                    const int c[3] = {x, y, z};
                    float expected = 1.0f;
                    for (int a = 0; a < 3; ++a) {
                        const std::vector<float>& table = a == axis ? windowSum : crossCount;
                        const int j = c[a] - 2;
                        expected *= j >= 0 && j < int(table.size()) ? table[j] : 0.0f;
                    }
                    EXPECT_EQ(out[at(d, x, y, z)], expected) << axis << " " << x << y << z;
                }
    }
}

TEST(BoxFilter, NoInteriorOrEmptyWindowLeavesOutputUnchanged) {
    // r = 0: empty windows; r = 2.5 with an x extent of 4: no x position is
    // interior (2 >= 4 - 2.5), so the z pass adds zeros; r = 9: nothing interior.
    const int d[3] = {4, 10, 10};
    const std::vector<float> in = randomVolume(d, -3.0f, 3.0f);
    for (float r : {0.0f, 2.5f, 9.0f}) {
        std::vector<float> vol = in;
        boxFlt(vol.data(), vol.data(), d, r);
        EXPECT_EQ(vol, in) << r;
    }
}

TEST(BoxFilter, MatchesBruteForceOnRandomVolume) {
    const int d[3] = {11, 9, 10};
    const std::vector<float> in = randomVolume(d, -1.0f, 1.0f);
    const std::vector<float> before = randomVolume(d, 5.0f, 6.0f);  // what out held
    for (float r : {1.0f, 1.5f, 2.0f, 3.3f}) {
        std::vector<float> out = before;
        boxFlt(in.data(), out.data(), d, r);
        // Single-precision window rule per axis: {lo, hi} or none.
        auto window = [r](int c, int n, int* lo, int* hi) {
            if (c < int(r) || !(float(c) < float(n) - r)) return false;
            *lo = int(float(c) - r);
            *hi = int(float(c) + r);
            return true;
        };
        for (int z = 0; z < d[2]; ++z)
            for (int y = 0; y < d[1]; ++y)
                for (int x = 0; x < d[0]; ++x) {
                    const float prev = before[at(d, x, y, z)];
                    const float got = out[at(d, x, y, z)];
                    int lx, hx, ly, hy, lz, hz;
                    if (!window(z, d[2], &lz, &hz)) {
                        EXPECT_EQ(got, prev);
                        continue;
                    }
                    if (!window(x, d[0], &lx, &hx) || !window(y, d[1], &ly, &hy)) {
                        EXPECT_EQ(got, prev);  // plus a zero sum
                        continue;
                    }
                    // Per voxel: sums along x, summed along y, added along z onto
                    // the previous value, each in increasing order and in float,
                    // the rounding that the faster filters are measured against.
                    float expected = prev;
                    for (int k = lz; k < hz; ++k) {
                        float plane = 0.0f;
                        for (int j = ly; j < hy; ++j) {
                            float line = 0.0f;
                            for (int i = lx; i < hx; ++i) line += in[at(d, i, j, k)];
                            plane += line;
                        }
                        expected += plane;
                    }
                    EXPECT_EQ(got, expected) << r << " " << x << y << z;
                }
    }
}

// ---- threads ----------------------------------------------------------------

TEST(FilterThreads, OneAndTwoThreadsAgreeBitForBit) {
    const int d[3] = {23, 19, 21};
    const std::vector<float> in = randomVolume(d, -1.0f, 1.0f);
    const std::vector<std::function<void(float*)>> filters = {
        [&](float* out) { sphereFlt(in.data(), out, d, 2.7f); },
        [&](float* out) { boxFlt(in.data(), out, d, 3.5f); },
        [&](float* out) { filter3D(in.data(), out, d, 3.0f, 0); },
        [&](float* out) { filter3DNN(in.data(), out, d, 2.2f, 2); },
    };
    const int saved = omp_get_max_threads();
    for (std::size_t i = 0; i < filters.size(); ++i) {
        std::vector<float> one(in.size(), 0.5f), two(in.size(), 0.5f);
        omp_set_num_threads(1);
        filters[i](one.data());
        omp_set_num_threads(2);
        filters[i](two.data());
        EXPECT_EQ(0, std::memcmp(one.data(), two.data(), one.size() * sizeof(float))) << i;
    }
    omp_set_num_threads(saved);
}

}  // namespace
}  // namespace shapescale
