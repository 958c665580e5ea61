#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "core/Vec3.hpp"

namespace shapescale {
namespace {

using F3 = std::array<float, 3>;
using D3 = std::array<double, 3>;

TEST(Vec3, SdivDividesOnlyByPositiveDivisors) {
    const F3 src = {3.0f, 0.0f, 4.0f};
    const D3 dsrc = {3.0, 0.0, 4.0};
    F3 out = {7.0f, 7.0f, 7.0f};
    D3 dout = {7.0, 7.0, 7.0};
    for (float s : {0.0f, -5.0f, std::nanf("")}) {
        sdiv(src.data(), s, out.data());
        sdiv(dsrc.data(), double(s), dout.data());
        EXPECT_EQ(out, (F3{7.0f, 7.0f, 7.0f})) << s;
        EXPECT_EQ(dout, (D3{7.0, 7.0, 7.0})) << s;
    }
    sdiv(src.data(), 5.0f, out.data());
    EXPECT_EQ(out, (F3{0.6f, 0.0f, 0.8f}));  // a correctly rounded quotient each
    dout = dsrc;
    sdiv(dout.data(), 5.0, dout.data());  // in place
    EXPECT_EQ(dout, (D3{0.6, 0.0, 0.8}));
}

TEST(Vec3, ArithmeticInTheElementType) {
    F3 a = {1.0f, 2.0f, 3.0f};
    const F3 b = {0.5f, 0.25f, 4.0f}, c = {4, -5, 6}, o = {0, 0, 0}, far = {3e20f, 4e20f, 0};
    diff(a.data(), b.data(), a.data());  // diff and add may write into an input
    EXPECT_EQ(a, (F3{0.5f, 1.75f, -1.0f}));
    add(a.data(), b.data(), a.data());
    EXPECT_EQ(a, (F3{1.0f, 2.0f, 3.0f}));
    EXPECT_EQ(sprod(a.data(), c.data()), 12.0f);
    EXPECT_EQ(dist(o.data(), F3{3, 4, 12}.data()), 13.0f);
    EXPECT_TRUE(std::isinf(dist(o.data(), far.data())));  // squares overflow: no widening
    const D3 p = {1, 2, 3}, q = {4, 6, 3}, x = {1, 0, 0}, y = {0, 1, 0}, u = {2, 3, 4},
             v = {5, 6, 7};
    EXPECT_EQ(dist(p.data(), q.data()), 5.0);
    D3 z;
    vprod(x.data(), y.data(), z.data());
    EXPECT_EQ(z, (D3{0, 0, 1}));
    vprod(y.data(), x.data(), z.data());
    EXPECT_EQ(z, (D3{0, 0, -1}));
    vprod(u.data(), v.data(), z.data());
    EXPECT_EQ(z, (D3{-3, 6, -3}));  // (3*7 - 4*6, 4*5 - 2*7, 2*6 - 3*5)
}

}  // namespace
}  // namespace shapescale
