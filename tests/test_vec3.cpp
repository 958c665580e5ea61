#include <gtest/gtest.h>

#include <cmath>

#include "driver/Vec3.hpp"

namespace shapescale {
namespace {

TEST(Vec3, SdivDividesOnlyByPositiveDivisors) {
    const float src[3] = {3.0f, 0.0f, 4.0f};
    float out[3] = {7.0f, 7.0f, 7.0f};
    sdiv(src, 0.0f, out);
    EXPECT_EQ(out[0], 7.0f);
    sdiv(src, -5.0f, out);
    EXPECT_EQ(out[2], 7.0f);
    sdiv(src, std::nanf(""), out);
    EXPECT_EQ(out[1], 7.0f);
    sdiv(src, 5.0f, out);
    EXPECT_FLOAT_EQ(out[0], 0.6f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_FLOAT_EQ(out[2], 0.8f);
    double dsrc[3] = {3.0, 0.0, 4.0};
    sdiv(dsrc, 5.0, dsrc);  // in place
    EXPECT_DOUBLE_EQ(dsrc[0], 0.6);
    EXPECT_DOUBLE_EQ(dsrc[2], 0.8);
}

TEST(Vec3, DiffAndAddMayWriteIntoAnInput) {
    float a[3] = {1.0f, 2.0f, 3.0f};
    const float b[3] = {0.5f, 0.25f, 4.0f};
    diff(a, b, a);
    EXPECT_EQ(a[0], 0.5f);
    EXPECT_EQ(a[1], 1.75f);
    EXPECT_EQ(a[2], -1.0f);
    add(a, b, a);
    EXPECT_EQ(a[0], 1.0f);
    EXPECT_EQ(a[2], 3.0f);
}

TEST(Vec3, DistIsComputedInTheElementType) {
    const float a[3] = {0, 0, 0}, b[3] = {3, 4, 12};
    EXPECT_EQ(dist(a, b), 13.0f);
    // Squares beyond the float range overflow: no widening to double inside.
    const float p[3] = {0, 0, 0}, q[3] = {3e20f, 4e20f, 0};
    EXPECT_TRUE(std::isinf(dist(p, q)));
    const double dp[3] = {1, 2, 3}, dq[3] = {4, 6, 3};
    EXPECT_EQ(dist(dp, dq), 5.0);
}

TEST(Vec3, SprodAndVprod) {
    const float a[3] = {1, 2, 3}, b[3] = {4, -5, 6};
    EXPECT_EQ(sprod(a, b), 12.0f);
    const double x[3] = {1, 0, 0}, y[3] = {0, 1, 0};
    double z[3];
    vprod(x, y, z);
    EXPECT_EQ(z[0], 0.0);
    EXPECT_EQ(z[1], 0.0);
    EXPECT_EQ(z[2], 1.0);
    vprod(y, x, z);
    EXPECT_EQ(z[2], -1.0);
    const double u[3] = {2, 3, 4}, v[3] = {5, 6, 7};
    vprod(u, v, z);
    EXPECT_EQ(z[0], 3 * 7 - 4 * 6);
    EXPECT_EQ(z[1], 4 * 5 - 2 * 7);
    EXPECT_EQ(z[2], 2 * 6 - 3 * 5);
}

}  // namespace
}  // namespace shapescale
