#pragma once
// Layout of every volume of a run: one flat array of nx*ny*nz elements, voxel
// (x, y, z) at x + nx*(y + ny*z). Counts and indices are 64-bit: a grid can
// exceed 2^31 voxels.

#include <cstddef>

namespace shapescale {

/// True when some extent is 0 or less: such a grid holds no voxel.
inline bool hasNoVoxel(const int* dims) {
    return dims[0] <= 0 || dims[1] <= 0 || dims[2] <= 0;
}

/// nx * ny * nz.
inline std::size_t voxelCount(const int* dims) {
    return static_cast<std::size_t>(dims[0]) * static_cast<std::size_t>(dims[1]) *
           static_cast<std::size_t>(dims[2]);
}

/// x + nx * (y + ny * z).
inline std::size_t voxelIndex(const int* dims, std::size_t x, std::size_t y, std::size_t z) {
    return x + static_cast<std::size_t>(dims[0]) * (y + static_cast<std::size_t>(dims[1]) * z);
}

}  // namespace shapescale
