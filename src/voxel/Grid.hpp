#pragma once
// The voxel grid laid around a mesh, shared by both voxelisers.

#include <cstddef>

namespace shapescale {

/// Per axis, in single precision: origin = bboxMin - (h + h) and
/// dims = trunc((bboxMax - origin) / h) + 3, which leaves two empty voxel
/// layers below the mesh and at least two above it.
/// @param[in]  bboxMin, bboxMax  world units
/// @param[in]  h                 voxel edge length, world units, > 0
/// @param[out] dims              nx, ny, nz
/// @param[out] origin            world position of the low corner of voxel (0, 0, 0)
/// @throw Error when an extent does not fit a 32-bit int (h far too small, or not a number)
void setUpGrid(const float* bboxMin, const float* bboxMax, float h, int* dims, float* origin);

/// nx * ny * nz in 64 bits.
inline std::size_t voxelCount(const int* dims) {
    return static_cast<std::size_t>(dims[0]) * static_cast<std::size_t>(dims[1]) *
           static_cast<std::size_t>(dims[2]);
}

/// Linear index x + nx * (y + ny * z) in 64 bits.
inline std::size_t voxelIndex(const int* dims, std::size_t x, std::size_t y, std::size_t z) {
    return x + static_cast<std::size_t>(dims[0]) * (y + static_cast<std::size_t>(dims[1]) * z);
}

}  // namespace shapescale
