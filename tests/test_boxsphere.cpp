#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "filters/BallSum.hpp"
#include "filters/BoxSum.hpp"
#include "support/RandomVolume.hpp"

namespace shapescale {
namespace {

using test::forEachVoxel;

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

}  // namespace
}  // namespace shapescale
