#pragma once
// Seeded random float volumes and a voxel loop for filter tests.

#include <random>
#include <vector>

#include "core/Grid.hpp"

namespace shapescale::test {

/// nx*ny*nz values uniform in [lo, hi), the same for every call (seed 42).
inline std::vector<float> randomVolume(const int* dims, float lo, float hi) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> value(lo, hi);
    std::vector<float> v(voxelCount(dims));
    for (float& x : v) x = value(rng);
    return v;
}

/// Calls fn(p, i) for every voxel p = {x, y, z} at index i, x fastest.
template <class Fn>
void forEachVoxel(const int* dims, Fn fn) {
    int p[3];
    for (p[2] = 0; p[2] < dims[2]; ++p[2])
        for (p[1] = 0; p[1] < dims[1]; ++p[1])
            for (p[0] = 0; p[0] < dims[0]; ++p[0])
                fn(static_cast<const int*>(p), voxelIndex(dims, p[0], p[1], p[2]));
}

}  // namespace shapescale::test
