#pragma once
// Float volumes of seeded uniform random values for filter tests.

#include <random>
#include <vector>

#include "driver/VolumeLayout.hpp"

namespace shapescale::test {

/// nx*ny*nz values uniform in [lo, hi), the same for every call (seed 42).
inline std::vector<float> randomVolume(const int* dims, float lo, float hi) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> value(lo, hi);
    std::vector<float> v(voxelCount(dims));
    for (float& x : v) x = value(rng);
    return v;
}

}  // namespace shapescale::test
