#include <gtest/gtest.h>
#include <omp.h>

#include <array>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "filters/BoxSphere.hpp"
#include "filters/Gaussian.hpp"
#include "support/RandomVolume.hpp"

namespace shapescale {
namespace {

using test::forEachVoxel;
using test::randomVolume;

// Over a volume of ones, out(p) counts the offsets (a, b, c) in -R ... R - 1 with
// a^2 + b^2 + c^2 <= r^2 that keep p + (a, b, c) inside the grid.
TEST(SphereFilter, HandCountedBalls) {
    const int d[3] = {5, 5, 5};
    const std::vector<float> ones(125, 1.0f);
    // {r, x, y, z, count}. r = 1: self and the three lower neighbours. r = 2: 27 from
    // {-1, 0, 1}^3 and three with a single -2; {0, 1}^3 at (0, 0, 0); {-1, 0}^3 and the
    // three with a single -2 at (4, 4, 4).
    const float cases[][5] = {{0.5f, 2, 2, 2, 0}, {1, 2, 2, 2, 4}, {1, 0, 0, 0, 1}, {1, 4, 0, 0, 2},
                              {2, 2, 2, 2, 30},   {2, 0, 0, 0, 8}, {2, 4, 4, 4, 11}};
    for (const auto& [r, x, y, z, count] : cases) {
        std::vector<float> out(125, 8.0f);
        sphereFlt(ones.data(), out.data(), d, r);
        EXPECT_EQ(out[voxelIndex(d, int(x), int(y), int(z))], count) << r << " " << x << y << z;
    }
}

TEST(SphereFilter, MatchesBruteForceOnRandomVolume) {
    const int d[3] = {9, 8, 7};
    const std::vector<float> in = randomVolume(d, -1.0f, 1.0f);
    for (float r : {0.5f, 1.0f, 1.5f, 2.5f, 3.2f, 20.0f}) {
        std::vector<float> out(in.size(), 8.0f);
        sphereFlt(in.data(), out.data(), d, r);
        const int lo = static_cast<int>(-r), hi = static_cast<int>(r) - 1;
        forEachVoxel(d, [&](const int* p, std::size_t i) {
            float want = 0.0f;  // the same terms in the same order: the same rounding
            for (int a = lo; a <= hi; ++a)
                for (int b = lo; b <= hi; ++b)
                    for (int c = lo; c <= hi; ++c) {
                        const int q[3] = {p[0] + a, p[1] + b, p[2] + c};
                        if (float(a * a + b * b + c * c) <= r * r && q[0] >= 0 && q[1] >= 0 &&
                            q[2] >= 0 && q[0] < d[0] && q[1] < d[1] && q[2] < d[2])
                            want += in[voxelIndex(d, q[0], q[1], q[2])];
                    }
            EXPECT_EQ(out[i], want) << r << " " << i;
        });
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

// Sums along x, summed along y, added along z onto out's value, each in increasing
// order. r = 0 (empty windows), r = 9 (nothing interior) and r = 2.5 on the 4-wide
// grid (no x interior: 2 >= 4 - 2.5) leave out unchanged.
TEST(BoxFilter, MatchesBruteForceOnRandomVolume) {
    for (const std::array<int, 3> grid : {std::array{11, 9, 10}, std::array{4, 10, 10}})
        for (float r : {0.0f, 0.5f, 1.0f, 1.5f, 2.0f, 2.5f, 3.3f, 9.0f}) {
            const int* d = grid.data();
            const std::vector<float> in = randomVolume(d, -1.0f, 1.0f);
            const std::vector<float> before = randomVolume(d, 5.0f, 6.0f);
            std::vector<float> out = before;
            boxFlt(in.data(), out.data(), d, r);
            auto window = [r](int c, int n) {  // [lo, hi); empty unless c is interior
                const bool interior = c >= int(r) && float(c) < float(n) - r;
                return interior ? std::pair{int(float(c) - r), int(float(c) + r)} : std::pair{0, 0};
            };
            forEachVoxel(d, [&](const int* p, std::size_t i) {
                const auto [lx, hx] = window(p[0], d[0]);
                const auto [ly, hy] = window(p[1], d[1]);
                const auto [lz, hz] = window(p[2], d[2]);
                float want = before[i];
                for (int k = lz; k < hz; ++k) {
                    float plane = 0.0f;
                    for (int j = ly; j < hy; ++j) {
                        float line = 0.0f;
                        for (int x = lx; x < hx; ++x) line += in[voxelIndex(d, x, j, k)];
                        plane += line;
                    }
                    want += plane;
                }
                EXPECT_EQ(out[i], want) << d[0] << " " << r << " " << i;
            });
        }
}

TEST(FilterThreads, OneAndTwoThreadsAgreeBitForBit) {
    const int d[3] = {23, 19, 21};
    const std::vector<float> in = randomVolume(d, -1.0f, 1.0f);
    auto run = [&](int filter, int threads) {
        omp_set_num_threads(threads);
        std::vector<float> out(in.size(), 0.5f);
        if (filter == 0) sphereFlt(in.data(), out.data(), d, 2.7f);
        if (filter == 1) boxFlt(in.data(), out.data(), d, 3.5f);
        if (filter == 2) filter3D(in.data(), out.data(), d, 3.0f, 0);
        if (filter == 3) filter3DNN(in.data(), out.data(), d, 2.2f, 2);
        return out;
    };
    const int saved = omp_get_max_threads();
    for (int filter = 0; filter < 4; ++filter) {
        const std::vector<float> one = run(filter, 1), two = run(filter, 2);
        EXPECT_EQ(0, std::memcmp(one.data(), two.data(), one.size() * sizeof(float))) << filter;
    }
    omp_set_num_threads(saved);
}

}  // namespace
}  // namespace shapescale
