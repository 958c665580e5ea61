// The fast filters against the straightforward ones, voxel by voxel.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "filters/BallSum.hpp"
#include "filters/BoxSum.hpp"
#include "filters/FilterWorkspace.hpp"
#include "filters/Gaussian.hpp"
#include "filters/reference/ReferenceFilters.hpp"
#include "support/RandomVolume.hpp"

namespace shapescale {
namespace {

using test::randomVolume;

enum Which { BALL, BOX, GAUSS, GAUSS_NN, PASS_X, PASS_Y, PASS_Z, FILTERS };

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
                for (int which = 0; which < FILTERS; ++which) {
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
    for (int which = 0; which < FILTERS; ++which) {
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
